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
#include "sim/DriverBinding.h"
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
  std::string AcpiDump, Tables, Meta, Json, RestoreSeed;
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
    "  --meta      the meta data description (acpi-meta language); default for a\n"
    "              dump: every table stored, the DSDT read from a volume file; for\n"
    "              the sample: tests/fixtures/acpi/platform.meta\n"
    "  --boots     custom-path boots in a row (default 1)\n"
    "  --certified certified-path boots after them (default 1)\n"
    "  --max-variable-size  the platform's maximum variable size (default 0x8400)\n"
    "  --json      write a summary of every boot and of the verification as JSON\n"
    "  --restore-seed  write the last capture (meta data, DSDT, stream) as an input\n"
    "              of the restore fuzz target\n"
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
    } else if (Arg == "--restore-seed") {
      Options->RestoreSeed = Value;
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

// The driver's own compressor, run on a platform of its own in this process.
UINT32 CompressedSize(const std::vector<UINT8> &Stream) {
  sim::Platform Board;
  sim::ScopedDriverBinding Binding(Board);
  std::vector<UINT8> Out(Stream.size() + 4096);
  UINTN Size = Out.size();
  EFI_STATUS Status = Compress(Stream.data(), static_cast<UINT32>(Stream.size()), Out.data(), &Size);
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
  bool Prepared =
      FromDump ? demo::PrepareDumpBoard(Options.AcpiDump, Options.Tables, Options.Meta, &Dump, &Board, &Error)
               : demo::PrepareSampleBoard(&Sample, Options.Meta, &Board, &Error);
  if (!Prepared) {
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
  if (!Options.RestoreSeed.empty() && !Session.WriteRestoreSeed(Options.RestoreSeed, &Error)) {
    fprintf(stderr, "zephrin-demo: %s\n", Error.c_str());
    AllNormal = false;
  }
  if (TemporaryStore) unlink(Options.Store.c_str());
  return AllNormal && Verified ? 0 : 1;
}
