// zephrin-demo: dispatches ZephrinAcpiDxe.efi on a simulated platform (the sample,
// or one built from a real machine's ACPI dump) as a board's DXE core would,
// raises the platform's signals in a real boot's order, and summarises each
// boot: what a custom-path boot captured and whether the cache fits, what a
// certified-path boot installed, from where and in which phase, where the NVS
// regions moved, which integers were patched, and whether the replay equals
// the capture. Each boot is a child process; the variable store file carries
// the cache between boots.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/AcpiTables.h"
#include "sim/FirmwareVolumes.h"
#include "sim/VariableStore.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/sample-platform/DumpPlatform.h"
#include "tools/sample-platform/SamplePlatform.h"
#include "tools/zephrin-demo/DemoBoots.h"
#include "tools/zephrin-demo/DemoReport.h"
#include "tools/zephrin-demo/FitReport.h"

namespace {

#ifndef ZEPHRIN_DXE_IMAGE
#define ZEPHRIN_DXE_IMAGE ""
#endif

struct DemoOptions {
  std::string Image = ZEPHRIN_DXE_IMAGE;
  std::string Store;
  std::string Log = "zephrin-demo.log";
  std::string AcpiDump, Tables, Meta, Json;
  int Boots = 1;
  int Certified = 1;
  UINTN MaxVariableSize = 0x8400;
};

const char kUsage[] =
    "usage: zephrin-demo [--acpidump FILE | --tables DIR] [--meta FILE] [--boots N]\n"
    "                    [--certified N] [--max-variable-size BYTES] [--json FILE]\n"
    "                    [--image FILE] [--store FILE] [--log FILE]\n"
    "  Boots the driver image on a simulated platform: custom-path boots (capture,\n"
    "  store in AcpiDataCache, lock), then certified-path boots that replay the\n"
    "  store, and checks that the replay installs the captured tables.\n"
    "  --acpidump  a real machine's tables, as the text `acpidump` prints\n"
    "  --tables    a folder of binary tables (*.dat from `acpixtract -a`, or a copy\n"
    "              of /sys/firmware/acpi/tables); default: the sample platform\n"
    "  --meta      the meta data description (acpi-meta language) for a dump;\n"
    "              default: every table stored, the DSDT read from a volume file\n"
    "  --boots     custom-path boots in a row (default 1)\n"
    "  --certified certified-path boots after them (default 1)\n"
    "  --max-variable-size  the platform's maximum variable size (default 0x8400)\n"
    "  --json      write a summary of every boot and of the verification as JSON\n"
    "  --image     the driver image (default: the one this build produced)\n"
    "  --store     variable store file kept between boots and runs (default: a new\n"
    "              temporary store, so the first boot starts empty)\n"
    "  --log       file that receives the driver's full debug log (default zephrin-demo.log)\n";

bool ParseCount(const std::string &Text, int Min, int *Count) {
  char *End = nullptr;
  long Value = strtol(Text.c_str(), &End, 10);
  if (End == Text.c_str() || *End != '\0' || Value < Min || Value > 100) return false;
  *Count = static_cast<int>(Value);
  return true;
}

bool ParseArguments(int Argc, char **Argv, DemoOptions *Options) {
  for (int Index = 1; Index < Argc; Index++) {
    std::string Arg = Argv[Index];
    if (Index + 1 >= Argc) return false;
    std::string Value = Argv[++Index];
    if (Arg == "--image") {
      Options->Image = Value;
    } else if (Arg == "--store") {
      Options->Store = Value;
    } else if (Arg == "--log") {
      Options->Log = Value;
    } else if (Arg == "--acpidump") {
      Options->AcpiDump = Value;
    } else if (Arg == "--tables") {
      Options->Tables = Value;
    } else if (Arg == "--meta") {
      Options->Meta = Value;
    } else if (Arg == "--json") {
      Options->Json = Value;
    } else if (Arg == "--boots") {
      if (!ParseCount(Value, 1, &Options->Boots)) return false;
    } else if (Arg == "--certified") {
      if (!ParseCount(Value, 0, &Options->Certified)) return false;
    } else if (Arg == "--max-variable-size") {
      char *End = nullptr;
      unsigned long long Size = strtoull(Value.c_str(), &End, 0);
      if (End == Value.c_str() || *End != '\0' || Size < 64 || Size > 0x1000000) return false;
      Options->MaxVariableSize = static_cast<UINTN>(Size);
    } else {
      return false;
    }
  }
  return Options->AcpiDump.empty() || Options->Tables.empty();
}

std::string ReadText(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Buffer;
  Buffer << In.rdbuf();
  return Buffer.str();
}

// The sample's description keeps its DSDT as "stored", which a custom path
// captures but a certified path cannot install: the demo's copy names the
// volume file the sample platform then carries it in.
bool PrepareSample(sample::SamplePlatform *Sample, demo::Board *Board, std::string *Error) {
  std::string Text = ReadText(sample::SampleDescriptionPath());
  const std::string Stored = "table DSDT stored";
  size_t At = Text.find(Stored);
  if (At != std::string::npos) {
    char Guid[40];
    const EFI_GUID &File = sample::kDumpDsdtFile;
    snprintf(Guid, sizeof(Guid), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", File.Data1, File.Data2,
             File.Data3, File.Data4[0], File.Data4[1], File.Data4[2], File.Data4[3], File.Data4[4], File.Data4[5],
             File.Data4[6], File.Data4[7]);
    Text.replace(At, Stored.size(), std::string("table DSDT from-fv file=") + Guid);
  }
  std::string Path = "/tmp/zephrin-demo-sample-" + std::to_string(getpid()) + ".meta";
  std::ofstream(Path) << Text;
  bool Loaded = Sample->Load(Error, "", Path);
  unlink(Path.c_str());
  if (!Loaded) return false;
  Board->Title = "the sample platform (tests/fixtures/acpi)";
  Board->MetaData = Sample->MetaData();
  if (!sample::ReadMetaRecords(Board->MetaData, &Board->Records, Error)) return false;
  const sample::SamplePlatform *Platform = Sample;
  std::vector<UINT8> Dsdt;
  for (const sample::SampleTable &Table : Sample->Tables())
    if (Table.Name == "dsdt") Dsdt = Table.Bytes;
  Board->Install = [Platform, Dsdt](sim::Platform &Target, bool CustomPath, std::string *Failure) {
    if (!Platform->Install(Target, CustomPath, Failure)) return false;
    std::vector<sim::FvFile> Files = {sim::RawFile(sample::kDumpDsdtFile, EFI_FV_FILETYPE_FREEFORM, {Dsdt})};
    Target.Volumes().Add({0x5A17C0DE, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}}, std::move(Files));
    if (CustomPath) return true;
    // A certified-path boot: the driver installs the tables, not the platform.
    sim::AcpiTables &Acpi = Target.Acpi();
    while (!Acpi.Tables().empty()) Acpi.Uninstall(Acpi.Tables().back().Key);
    return true;
  };
  return true;
}

bool PrepareDump(const DemoOptions &Options, sample::DumpPlatform *Dump, demo::Board *Board, std::string *Error) {
  bool Loaded = Options.AcpiDump.empty() ? Dump->LoadTableFolder(Options.Tables, Error)
                                         : Dump->LoadAcpiDump(Options.AcpiDump, Error);
  if (!Loaded || !Dump->UseDescription(Options.Meta, Error) || !Dump->BackRegions(Error)) return false;
  Board->Title = Options.AcpiDump.empty() ? Options.Tables : Options.AcpiDump;
  Board->MetaData = Dump->MetaData();
  Board->Records = Dump->Records();
  Board->Notes = Dump->Notes();
  Board->Regions = Dump->Regions();
  const sample::DumpPlatform *Platform = Dump;
  Board->Install = [Platform](sim::Platform &Target, bool CustomPath, std::string *Failure) {
    return Platform->Install(Target, CustomPath, Failure);
  };
  return true;
}

// The driver's own compressor, run on a platform of its own in this process.
UINT32 CompressedSize(const std::vector<UINT8> &Stream) {
  sim::Platform Board;
  EFI_SYSTEM_TABLE *SavedSt = gST;
  EFI_BOOT_SERVICES *SavedBs = gBS;
  EFI_RUNTIME_SERVICES *SavedRt = gRT;
  gST = Board.SystemTable();
  gBS = Board.BootServices();
  gRT = Board.RuntimeServices();
  std::vector<UINT8> Out(Stream.size() + 4096);
  UINTN Size = Out.size();
  EFI_STATUS Status = Compress(Stream.data(), static_cast<UINT32>(Stream.size()), Out.data(), &Size);
  gST = SavedSt;
  gBS = SavedBs;
  gRT = SavedRt;
  return EFI_ERROR(Status) && Status != EFI_BUFFER_TOO_SMALL ? 0 : static_cast<UINT32>(Size);
}

void WriteLog(std::ofstream &Log, int Boot, const sim::BootResult &Result) {
  Log << "==== boot " << Boot << " ====\n";
  for (const std::string &Line : Result.DebugLines()) Log << Line << "\n";
}

}  // namespace

int main(int Argc, char **Argv) {
  DemoOptions Options;
  if (!ParseArguments(Argc, Argv, &Options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  if (Options.Image.empty()) {
    fprintf(stderr, "zephrin-demo: no driver image; pass --image FILE\n");
    return 2;
  }
  sample::SamplePlatform Sample;
  sample::DumpPlatform Dump;
  demo::Board Board;
  std::string Error;
  bool FromDump = !Options.AcpiDump.empty() || !Options.Tables.empty();
  if (!(FromDump ? PrepareDump(Options, &Dump, &Board, &Error) : PrepareSample(&Sample, &Board, &Error))) {
    fprintf(stderr, "zephrin-demo: %s\n", Error.c_str());
    return 1;
  }
  bool TemporaryStore = Options.Store.empty();
  if (TemporaryStore) Options.Store = "/tmp/zephrin-demo-store-" + std::to_string(getpid());

  demo::Session Session(Board, Options.MaxVariableSize, &CompressedSize);
  Session.PrintPlatform(Options.Image);
  std::ofstream Log(Options.Log);
  demo::BootSettings Settings{Options.Image, Options.Store, Options.MaxVariableSize};
  int BootNumber = 0;
  bool AllNormal = true;
  for (int Boot = 0; Boot < Options.Boots && AllNormal; Boot++) {
    demo::BootSeen Seen = demo::RunCustomBoot(Board, Settings);
    WriteLog(Log, ++BootNumber, Seen.Result);
    AllNormal &= Session.CustomBoot(BootNumber, Seen, Settings);
  }
  for (int Boot = 0; Boot < Options.Certified && AllNormal; Boot++) {
    demo::BootSeen Seen = demo::RunCertifiedBoot(Board, Settings);
    WriteLog(Log, ++BootNumber, Seen.Result);
    AllNormal &= Session.CertifiedBoot(BootNumber, Seen, Settings);
  }
  bool Verified = Session.PrintVerification();
  printf("Full debug log: %s\n", Options.Log.c_str());
  if (!Options.Json.empty() && !Session.WriteJson(Options.Json, &Error)) {
    fprintf(stderr, "zephrin-demo: %s\n", Error.c_str());
    AllNormal = false;
  }
  if (TemporaryStore) unlink(Options.Store.c_str());
  return AllNormal && Verified ? 0 : 1;
}
