// efi-varstore: a variable store image as scripts need it: list the variables,
// copy one out, write one in, delete one. Every change goes through the one
// store writer (sim/VarStoreImage.h), which keeps the volume and store headers
// valid, so the file stays usable as a firmware's variable flash.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sim/VarStoreImage.h"

namespace {

const char kHelp[] = R"(usage: efi-varstore [--verbose] list FILE
       efi-varstore get FILE NAME GUID OUT
       efi-varstore set FILE NAME GUID ATTRIBUTES IN
       efi-varstore delete FILE NAME GUID

FILE is a variable store image: a firmware's variable file such as OVMF_VARS.fd,
or a whole flash image that holds the variable store volume.

  list     one line per variable: GUID, name, attributes, data size, offset;
           --verbose also lists deleted, superseded and interrupted copies
  get      writes the variable's data to OUT and prints its attributes
  set      writes IN as the variable's data with ATTRIBUTES (e.g. 0x3 for
           NV+BS); an existing copy is replaced (in place when only its data
           bytes change), a full store is compacted
  delete   marks the variable deleted

NAME in printable ASCII; GUID in registry format, e.g.
79660e97-514b-4cfc-873f-02b3ab00c086.
exit status: 0 done; 1 FILE holds no sound store, or no such variable, or it
does not fit; 2 bad usage; 3 a file cannot be read or written.
)";

enum ExitCode { kExitOk = 0, kExitStore = 1, kExitUsage = 2, kExitIo = 3 };
// A flash image of a large board; keeps a wrong FILE (a disk) from being read whole.
constexpr size_t kReadLimit = 64u << 20;

int Usage(const std::string &Message) {
  std::fprintf(stderr, "efi-varstore: %s\nTry 'efi-varstore --help'.\n", Message.c_str());
  return kExitUsage;
}

int Fail(const std::string &Message, int Code) {
  std::fprintf(stderr, "efi-varstore: %s\n", Message.c_str());
  return Code;
}

bool ReadWhole(const std::string &Path, std::vector<UINT8> *Out) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  char Chunk[0x10000];
  while (Out->size() <= kReadLimit && In.read(Chunk, sizeof(Chunk)).gcount() > 0) {
    Out->insert(Out->end(), Chunk, Chunk + In.gcount());
  }
  return !In.bad() && Out->size() <= kReadLimit;
}

// Written beside and renamed, so an interrupted run leaves the old file whole.
bool WriteWhole(const std::string &Path, const std::vector<UINT8> &Data) {
  const std::string Temporary = Path + ".tmp";
  {
    std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Data.data()), static_cast<std::streamsize>(Data.size()));
    if (!Out) return false;
  }
  return std::rename(Temporary.c_str(), Path.c_str()) == 0;
}

std::u16string Ucs2(const std::string &Text) {
  return std::u16string(Text.begin(), Text.end());
}

bool ParseAttributes(const std::string &Text, UINT32 *Out) {
  if (Text.empty()) return false;
  char *End = nullptr;
  const unsigned long long Value = std::strtoull(Text.c_str(), &End, 0);
  if (*End != '\0' || Value > MAX_UINT32 || Text[0] == '-') return false;
  *Out = static_cast<UINT32>(Value);
  return true;
}

std::string Hex32(UINT32 Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08x", Value);
  return Text;
}

std::string Describe(const sim::VarCopy &Copy) {
  char Where[64];
  std::snprintf(Where, sizeof(Where), " %zu bytes @0x%zx", Copy.Variable.Data.size(), Copy.Offset);
  return sim::GuidText(Copy.Variable.Guid) + " " + sim::NameText(Copy.Variable.Name) + " " +
         Hex32(Copy.Variable.Attributes) + " (" + sim::VariableAttributeNames(Copy.Variable.Attributes) +
         ")" + Where;
}

int List(const sim::VarStoreContents &Contents, bool Verbose) {
  const sim::VarStoreLocation &Location = Contents.Location;
  const std::vector<const sim::VarCopy *> Current = Contents.CurrentCopies();
  std::printf(
      "%s store: volume @0x%zx (0x%zx bytes), store @0x%zx (0x%zx bytes), %zu variables, 0x%zx bytes free\n",
      Location.Authenticated ? "authenticated" : "plain", Location.FvOffset, Location.FvLength,
      Location.StoreOffset, Location.StoreSize, Current.size(), Contents.FreeBytes());
  for (const sim::VarCopy *Copy : Current) std::printf("%s\n", Describe(*Copy).c_str());
  if (!Verbose) return kExitOk;
  for (const sim::VarCopy &Copy : Contents.Copies) {
    if (!Copy.Current) std::printf("skipped %s: %s\n", Describe(Copy).c_str(), Copy.SkipReason.c_str());
  }
  return kExitOk;
}

struct Command {
  std::string Verb;
  std::vector<std::string> Args;  // FILE first
  bool Verbose = false;
};

int Run(const Command &Cmd) {
  const std::string &File = Cmd.Args[0];
  std::vector<UINT8> Image;
  if (!ReadWhole(File, &Image)) return Fail(File + ": cannot read the file (or larger than 64 MiB)", kExitIo);
  sim::VarStoreContents Contents;
  std::string Error;
  if (!sim::ReadVarStore(Image.data(), Image.size(), &Contents, &Error))
    return Fail(File + ": " + Error, kExitStore);
  if (Cmd.Verb == "list") return List(Contents, Cmd.Verbose);
  EFI_GUID Guid{};
  if (!sim::ParseGuidText(Cmd.Args[2], &Guid)) return Usage("not a GUID: " + Cmd.Args[2]);
  for (const char Char : Cmd.Args[1]) {
    if (static_cast<unsigned char>(Char) < 0x20 || static_cast<unsigned char>(Char) >= 0x7F) {
      return Usage("NAME must be printable ASCII: " + Cmd.Args[1]);
    }
  }
  const std::u16string Name = Ucs2(Cmd.Args[1]);
  if (Cmd.Verb == "get") {
    const sim::VarCopy *Copy = Contents.Find(Name, Guid);
    if (Copy == nullptr) return Fail(File + ": no variable " + Cmd.Args[1] + " " + Cmd.Args[2], kExitStore);
    if (!WriteWhole(Cmd.Args[3], Copy->Variable.Data)) return Fail(Cmd.Args[3] + ": cannot write", kExitIo);
    std::printf("%s\n", Hex32(Copy->Variable.Attributes).c_str());
    return kExitOk;
  }
  bool Done = false;
  if (Cmd.Verb == "set") {
    sim::StoredVariable Variable{Guid, Name, 0, {}};
    if (!ParseAttributes(Cmd.Args[3], &Variable.Attributes))
      return Usage("not an attribute value: " + Cmd.Args[3]);
    if (!ReadWhole(Cmd.Args[4], &Variable.Data)) return Fail(Cmd.Args[4] + ": cannot read the file", kExitIo);
    Done = sim::SetVarStoreVariable(&Image, Variable, &Error);
  } else {
    Done = sim::DeleteVarStoreVariable(&Image, Name, Guid, &Error);
  }
  if (!Done) return Fail(File + ": " + Error, kExitStore);
  if (!WriteWhole(File, Image)) return Fail(File + ": cannot write the file", kExitIo);
  return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
  Command Cmd;
  std::vector<std::string> Words;
  for (int Index = 1; Index < argc; Index++) {
    const std::string Arg = argv[Index];
    if (Arg == "-h" || Arg == "--help") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (Arg == "--verbose") {
      Cmd.Verbose = true;
    } else if (Arg.size() > 1 && Arg[0] == '-') {
      return Usage("unknown option " + Arg);
    } else {
      Words.push_back(Arg);
    }
  }
  if (Words.empty()) return Usage("no command given");
  Cmd.Verb = Words[0];
  Cmd.Args.assign(Words.begin() + 1, Words.end());
  static const struct {
    const char *Verb;
    size_t Args;
  } kVerbs[] = {{"list", 1}, {"get", 4}, {"set", 5}, {"delete", 3}};
  for (const auto &Verb : kVerbs) {
    if (Cmd.Verb != Verb.Verb) continue;
    if (Cmd.Args.size() != Verb.Args) {
      return Usage(Cmd.Verb + " takes " + std::to_string(Verb.Args) + " argument" +
                   (Verb.Args == 1 ? "" : "s"));
    }
    return Run(Cmd);
  }
  return Usage("unknown command " + Cmd.Verb);
}
