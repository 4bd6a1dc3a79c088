// fv-inject: adds DXE drivers to the compressed DXE volume of a firmware image.
//   fv-inject IN.fd OUT.fd --driver IMAGE.efi --guid FFS-GUID --name UI-NAME [--depex GUID[,GUID...]] ...
//   fv-inject --list IN.fd
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/acpi-meta/MetaDescription.h"
#include "tools/fv-inject/FvInject.h"

namespace {

constexpr const char kUsage[] =
    "usage: fv-inject IN.fd OUT.fd FILE_SPEC [FILE_SPEC...]\n"
    "       fv-inject --list IN.fd\n"
    "  FILE_SPEC := --driver IMAGE.efi --guid FFS-GUID --name UI-NAME [--depex GUID[,GUID...]]\n"
    "  Adds each driver as a DXE driver file (PE32, dependency and user-interface sections)\n"
    "  to the LZMA-compressed DXE volume of IN.fd and writes the image to OUT.fd.\n";

bool ReadFile(const std::string &Path, fv_inject::Bytes *Out) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Out->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return !In.bad();
}

bool WriteFile(const std::string &Path, const fv_inject::Bytes &Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char *>(Data.data()), static_cast<std::streamsize>(Data.size()));
  return static_cast<bool>(Out);
}

int Fail(const std::string &Message) {
  fprintf(stderr, "fv-inject: %s\n", Message.c_str());
  return 1;
}

bool ParseGuidList(const std::string &Text, std::vector<EFI_GUID> *Out) {
  std::stringstream In(Text);
  std::string Item;
  while (std::getline(In, Item, ',')) {
    EFI_GUID Guid;
    if (!acpi_meta::ParseGuid(Item, &Guid)) return false;
    Out->push_back(Guid);
  }
  return !Out->empty();
}

// Reads the FILE_SPECs from Args[First...]; each starts with --driver.
bool ParseSpecs(const std::vector<std::string> &Args, size_t First, std::vector<fv_inject::DriverSpec> *Out,
                std::string *Error) {
  bool HasGuid = false, HasName = false;
  for (size_t Index = First; Index < Args.size(); Index += 2) {
    const std::string &Option = Args[Index];
    if (Index + 1 >= Args.size()) {
      *Error = Option + " needs a value";
      return false;
    }
    const std::string &Value = Args[Index + 1];
    if (Option == "--driver") {
      if (!Out->empty() && (!HasGuid || !HasName)) {
        *Error = "each --driver needs --guid FFS-GUID and --name UI-NAME";
        return false;
      }
      Out->push_back({});
      HasGuid = HasName = false;
      if (!ReadFile(Value, &Out->back().Image)) {
        *Error = "cannot read " + Value;
        return false;
      }
      continue;
    }
    if (Out->empty()) {
      *Error = "each file spec starts with --driver, not " + Option;
      return false;
    }
    fv_inject::DriverSpec &Spec = Out->back();
    if (Option == "--guid" && acpi_meta::ParseGuid(Value, &Spec.Name)) {
      HasGuid = true;
    } else if (Option == "--name" && !Value.empty()) {
      Spec.UiName = Value;
      HasName = true;
    } else if (Option == "--depex" && Spec.Depex.empty()) {
      if (!ParseGuidList(Value, &Spec.Depex)) {
        *Error = "--depex needs GUIDs in registry format, separated by commas: " + Value;
        return false;
      }
    } else {
      *Error = "bad option or value: " + Option + " " + Value;
      return false;
    }
  }
  if (Out->empty() || !HasGuid || !HasName) {
    *Error = "each --driver needs --guid FFS-GUID and --name UI-NAME";
    return false;
  }
  return true;
}

int List(const std::string &Path) {
  fv_inject::Bytes Image;
  if (!ReadFile(Path, &Image)) return Fail("cannot read " + Path);
  std::string Text, Error;
  if (!fv_inject::ListImage(Image, &Text, &Error)) return Fail(Path + ": " + Error);
  fputs(Text.c_str(), stdout);
  return 0;
}

}  // namespace

int main(int Argc, char **Argv) {
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  if (Args.size() == 1 && (Args[0] == "--help" || Args[0] == "-h")) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (Args.size() == 2 && Args[0] == "--list") return List(Args[1]);
  if (Args.size() < 4 || Args[0].rfind("--", 0) == 0 || Args[1].rfind("--", 0) == 0) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::vector<fv_inject::DriverSpec> Drivers;
  std::string Error;
  if (!ParseSpecs(Args, 2, &Drivers, &Error)) return Fail(Error);
  fv_inject::Bytes Image, Out;
  if (!ReadFile(Args[0], &Image)) return Fail("cannot read " + Args[0]);
  fv_inject::InjectSummary Summary;
  if (!fv_inject::InjectDrivers(Image, Drivers, &Out, &Summary, &Error)) return Fail(Args[0] + ": " + Error);
  if (!WriteFile(Args[1], Out)) return Fail("cannot write " + Args[1]);
  printf("fv-inject: %zu file(s) added; LZMA stream %zu -> %zu bytes; DXE volume free %zu -> %zu bytes\n",
         Drivers.size(), Summary.CompressedBefore, Summary.CompressedAfter, Summary.DxeFreeBefore,
         Summary.DxeFreeAfter);
  return 0;
}
