// zephrin-demo: dispatches ZephrinAcpiDxe.efi on the simulated sample platform
// as a board's DXE core would, raises the platform's signals in a real boot's
// order, and summarises what the driver captured, stored and locked. Each boot
// is a child process; the variable store file carries the cache between boots.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/BootRunner.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"
#include "tools/sample-platform/SamplePlatform.h"

namespace {

#ifndef ZEPHRIN_DXE_IMAGE
#define ZEPHRIN_DXE_IMAGE ""
#endif

struct DemoOptions {
  std::string Image = ZEPHRIN_DXE_IMAGE;
  std::string Store;
  std::string Log = "zephrin-demo.log";
  std::string Description;  // meta data description; empty: the sample's own
  int Boots = 2;
};

const char kUsage[] =
    "usage: zephrin-demo [--image FILE] [--store FILE] [--log FILE] [--boots N] [--description FILE]\n"
    "  Boots the driver image on the simulated sample platform on the custom path\n"
    "  (capture, store in AcpiDataCache, lock) and prints a summary of each boot.\n"
    "  --image  the driver image (default: the one this build produced)\n"
    "  --store  variable store file kept between boots and runs (default: a new\n"
    "           temporary store, so the first boot starts empty)\n"
    "  --log    file that receives the driver's full debug log (default zephrin-demo.log)\n"
    "  --boots  custom-path boots in a row (default 2: the second finds the tables\n"
    "           unchanged and leaves the variable alone)\n"
    "  --description  ACPI meta data description (acpi-meta syntax) instead of\n"
    "           tests/fixtures/acpi/platform.meta\n";

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
    } else if (Arg == "--description") {
      Options->Description = Value;
    } else if (Arg == "--boots") {
      Options->Boots = atoi(Value.c_str());
      if (Options->Boots < 1 || Options->Boots > 100) return false;
    } else {
      return false;
    }
  }
  return true;
}

// Shows a progress line on the terminal while a boot runs longer than a second.
class Progress {
 public:
  explicit Progress(const std::string &What) : mWhat(What), mThread([this] { Run(); }) {}
  ~Progress() {
    mDone = true;
    mThread.join();
    if (mShown) fprintf(stderr, "\r%*s\r", static_cast<int>(mWhat.size()) + 16, "");
  }

 private:
  void Run() {
    auto Start = std::chrono::steady_clock::now();
    while (!mDone) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
      if (Seconds >= 1.0 && isatty(STDERR_FILENO)) {
        fprintf(stderr, "\r%s ... %.0f s", mWhat.c_str(), Seconds);
        mShown = true;
      }
    }
  }
  std::string mWhat;
  std::atomic<bool> mDone{false};
  bool mShown = false;
  std::thread mThread;
};

std::string Printable(const UINT8 *Bytes, size_t Size) {
  std::string Text;
  for (size_t Index = 0; Index < Size; Index++)
    Text += (Bytes[Index] >= 0x20 && Bytes[Index] < 0x7F) ? Bytes[Index] : '.';
  return Text;
}

// The stored table of a table entry: its signature, OEM table id (the FACS
// has none) and its own length, as its header gives them.
void PrintCapturedTable(const inspect::CacheEntry &Entry) {
  const size_t TableStart = sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
  if (Entry.Payload.size() < TableStart + 8) return;
  const UINT8 *Table = Entry.Payload.data() + TableStart;
  std::string Signature = Printable(Table, 4);
  UINT32 Length = 0;
  memcpy(&Length, Table + 4, sizeof(Length));
  std::string OemTableId = "        ";
  if (Signature != "FACS" && Entry.Payload.size() >= TableStart + sizeof(EFI_ACPI_DESCRIPTION_HEADER)) {
    OemTableId = Printable(Table + OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId), 8);
  }
  printf("    %-4s  %-8s  %6u bytes\n", Signature.c_str(), OemTableId.c_str(), Length);
}

// The boot body: install the sample platform, start the driver, then raise the
// platform's signals, timing the custom-path group (the capture and store).
sim::BootResult RunCustomPathBoot(const sample::SamplePlatform &Sample, const DemoOptions &Options) {
  sim::BootOptions Boot;
  Boot.Platform.VariableStorePath = Options.Store;
  sim::DriverSource Driver = sim::DriverSource::ImageFile(Options.Image);
  return sim::RunBoot(Boot, [&Sample, &Driver](sim::BootContext &Context) {
    std::string Error;
    if (!Sample.Install(Context.Platform(), true, &Error)) {
      Context.Note("error: " + Error);
      return;
    }
    Context.StartDriver(Driver);
    Context.RunStep(sim::BootStep::EndOfDxe());
    auto Start = std::chrono::steady_clock::now();
    Context.RunStep(sim::BootStep::EventGroup(gCustomPathEventGroupGuid, "custom-path"));
    double Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
    Context.Note("capture-ms " + std::to_string(Ms));
    Context.RunStep(sim::BootStep::ReadyToBoot());
    Context.RunStep(sim::BootStep::ExitBootServices());
  });
}

bool ReadStoredCache(const std::string &StorePath, std::vector<UINT8> *Data) {
  std::vector<sim::StoredVariable> Variables;
  std::string Error;
  if (!sim::ReadVariableStoreFile(StorePath, &Variables, &Error)) return false;
  for (const sim::StoredVariable &Variable : Variables) {
    if (Variable.Name == ACPI_DATA_CACHE_VARIABLE_NAME &&
        sim::SameGuid(Variable.Guid, gAcpiDataCacheVariableGuid)) {
      *Data = Variable.Data;
      return true;
    }
  }
  return false;
}

void PrintSummary(int Boot, const sim::BootResult &Result, const std::string &StorePath) {
  printf("Boot %d (custom path): %s\n", Boot, sim::BootEndName(Result.End));
  for (const std::string &Note : Result.Notes) {
    if (Note.rfind("capture-ms ", 0) == 0)
      printf("  capture and store took %.1f ms\n", atof(Note.c_str() + 11));
    if (Note.rfind("error: ", 0) == 0) printf("  %s\n", Note.c_str());
  }
  bool Written = false;
  for (const sim::VariableWrite &Write : Result.VariableWrites) {
    if (Write.Name == ACPI_DATA_CACHE_VARIABLE_NAME) Written |= Write.Status == EFI_SUCCESS;
  }
  std::vector<UINT8> Stored;
  if (!ReadStoredCache(StorePath, &Stored)) {
    printf("  AcpiDataCache: not stored\n");
    return;
  }
  inspect::InspectReport Report = inspect::InspectCache(
      Stored.data(), Stored.size(), inspect::InspectOptions{inspect::InputForm::Raw, false});
  if (!Report.Loaded) {
    printf("  AcpiDataCache: unreadable (%s)\n", Report.Error.c_str());
    return;
  }
  size_t Elements = 0;
  printf("  tables captured:\n");
  for (const inspect::CacheEntry &Entry : Report.Entries) {
    if (inspect::HoldsStoredTable(Entry)) {
      PrintCapturedTable(Entry);
    } else {
      Elements++;
    }
  }
  printf("  elements recorded: %zu (NVS contents and integer values)\n", Elements);
  printf("  stream %u bytes, compressed %u bytes (%.1f%% of the stream)\n", Report.DecompressedSize,
         Report.VariableSize,
         Report.DecompressedSize ? 100.0 * Report.VariableSize / Report.DecompressedSize : 0.0);
  printf("  peak pool use during the boot: %zu bytes\n", static_cast<size_t>(Result.PoolPeakBytes));
  printf("  AcpiDataCache %s\n",
         Written ? "written" : "unchanged (the new capture is similar to the stored one)");
  for (const sim::VariableWrite &Write : Result.VariableWrites) {
    if (Write.Name == kAcpiCacheLockIndicatorName && Write.Status == EFI_SUCCESS) {
      printf("  AcpiCacheLockIndicator set: AcpiDataCache is read-only for the rest of the boot\n");
    }
  }
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
  std::string Error;
  if (!Sample.Load(&Error, "", Options.Description)) {
    fprintf(stderr, "zephrin-demo: %s\n", Error.c_str());
    return 1;
  }
  bool TemporaryStore = Options.Store.empty();
  if (TemporaryStore) Options.Store = "/tmp/zephrin-demo-store-" + std::to_string(getpid());

  std::ofstream Log(Options.Log);
  printf("Driver image: %s\n", Options.Image.c_str());
  int Status = 0;
  for (int Boot = 1; Boot <= Options.Boots; Boot++) {
    sim::BootResult Result;
    {
      Progress Busy("boot " + std::to_string(Boot));
      Result = RunCustomPathBoot(Sample, Options);
    }
    Log << "==== boot " << Boot << " ====\n";
    for (const std::string &Line : Result.DebugLines()) Log << Line << "\n";
    PrintSummary(Boot, Result, Options.Store);
    if (Result.End != sim::BootEnd::Normal) {
      fprintf(stderr, "%s\n", Result.Describe().c_str());
      Status = 1;
      break;
    }
  }
  printf("Full debug log: %s\n", Options.Log.c_str());
  if (TemporaryStore) unlink(Options.Store.c_str());
  return Status;
}
