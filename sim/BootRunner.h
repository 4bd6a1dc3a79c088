// The end-to-end boot runner: one boot is one child process. The child builds a
// fresh Platform, runs the boot's body (which sets the platform up and starts
// the driver, linked into this program or loaded from its PE image) and then
// raises the platform's signals in the order of a boot script. Module globals
// therefore start at zero in every boot, as after a reboot, while the variable
// store file named in the platform options carries data from one boot to the
// next. The parent gets back a BootResult: how the boot ended and what the
// platform recorded on the way.
//
// Checks belong in the parent, on the BootResult: a gtest assertion made inside
// the body runs in the child and is lost. A body hands facts back with Note().
#ifndef ZEPHRIN_SIM_BOOT_RUNNER_H_
#define ZEPHRIN_SIM_BOOT_RUNNER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/ImageHandle.h"
#include "sim/PeImage.h"
#include "sim/Platform.h"

namespace sim {

// How the driver under test enters a boot.
class DriverSource {
 public:
  // The driver linked into this program (the host library): its entry point.
  static DriverSource HostLibrary(EFI_IMAGE_ENTRY_POINT Entry) { return DriverSource(Entry, ""); }
  // The driver's PE32+ image, loaded and relocated by PeImage in every boot.
  static DriverSource ImageFile(std::string Path) { return DriverSource(nullptr, std::move(Path)); }

  bool IsImage() const { return mEntry == nullptr; }
  EFI_IMAGE_ENTRY_POINT Entry() const { return mEntry; }
  const std::string &Path() const { return mPath; }
  // "host library" or "image <path>", for messages and test names.
  std::string Describe() const { return IsImage() ? "image " + mPath : "host library"; }

 private:
  DriverSource(EFI_IMAGE_ENTRY_POINT Entry, std::string Path) : mEntry(Entry), mPath(std::move(Path)) {}
  EFI_IMAGE_ENTRY_POINT mEntry;  // set for a host-library driver
  std::string mPath;             // set for an image driver
};

// One step of a boot script: a platform signal or a platform component's write.
struct BootStep {
  enum class Kind { EndOfDxe, ReadyToBoot, ExitBootServices, EventGroup, SetVariable };
  Kind What = Kind::EndOfDxe;
  std::string Name;             // for the log and for BootResult::Stage
  EFI_GUID Guid = {};           // event group, or variable namespace
  std::u16string VariableName;  // SetVariable only
  UINT32 Attributes = 0;        // SetVariable only
  std::vector<UINT8> Data;      // SetVariable only

  static BootStep EndOfDxe();
  static BootStep ReadyToBoot();
  static BootStep ExitBootServices();
  static BootStep EventGroup(const EFI_GUID &Group, std::string Name);
  // gRT->SetVariable as another platform component would call it (subject to
  // the variable policies in force), e.g. the component that writes "EBS".
  static BootStep SetVariable(std::u16string VariableName, const EFI_GUID &Guid, UINT32 Attributes,
                              std::vector<UINT8> Data);
};
using BootScript = std::vector<BootStep>;

// The order a real firmware raises its signals in: EndOfDxe, the platform's
// custom-path event group, ReadyToBoot, ExitBootServices.
BootScript DefaultBootScript(const EFI_GUID &CustomPathGroup);

struct BootOptions {
  PlatformOptions Platform;  // VariableStorePath keeps variables between boots
  BootScript Script;         // steps raised after the body; empty: none
  int TimeoutSeconds = 60;   // a boot still running then is killed
  bool EchoDebug = false;    // copy debug output to stderr as it happens (demos)
  // Stack the boot runs on: the driver's entry point and callbacks, the body and
  // the platform's services. 128 KiB is what a DXE phase typically gives; 0 runs
  // on the process's own (large) stack.
  size_t StackBytes = 128 * 1024;
};

enum class BootEnd {
  Normal,   // the body and every script step ran
  Reset,    // the driver called ResetSystem
  Crash,    // the child died of a signal, or exited (sanitizer report, exit()) mid-boot
  Timeout,  // the child ran past BootOptions::TimeoutSeconds
  Error,    // the runner could not run the boot (image refused, no result)
};
const char *BootEndName(BootEnd End);

// BootResult::Stage once ResetSystem has returned to the driver (a platform
// with PlatformOptions::ResetSystemReturns).
inline constexpr char kStageAfterReset[] = "after ResetSystem";

struct VariableWrite {
  std::u16string Name;
  EFI_GUID Guid = {};
  UINT32 Attributes = 0;
  UINTN DataSize = 0;               // as passed
  std::vector<UINT8> Data;          // the bytes, when SetVariable took them
  EFI_STATUS Status = EFI_SUCCESS;  // what SetVariable answered
  std::string Stage;                // stage of the boot that wrote it
};

struct BootResult {
  BootEnd End = BootEnd::Error;
  std::string Stage;           // last stage entered: "setup", "entry", then step names
  std::string Error;           // why the runner failed, or how a crashed child exited
  int Signal = 0;              // BootEnd::Crash: the signal, 0 when the child exited
  bool EntryReturned = false;  // the driver's entry point returned
  EFI_STATUS EntryStatus = 0;  // and what it returned
  // What the platform's recorders saw: debug output, status codes, failure
  // notifications, the reset (BootEnd::Reset) and service faults.
  BootRecords Records;
  std::vector<std::string> Notes;  // what the body passed back with Note()
  std::vector<VariableWrite> VariableWrites;
  // Pool at the end of the boot.
  UINT64 PoolAllocations = 0;  // AllocatePool calls
  UINTN PoolOutstanding = 0;   // buffers not freed
  UINTN PoolOutstandingBytes = 0;
  UINTN PoolPeakBytes = 0;
  std::string LeakReport;  // one line per buffer not freed

  std::vector<std::string> DebugLines() const { return Records.DebugLines(); }
  // A readable summary for test failure messages.
  std::string Describe() const;
};

// The child's view of its boot, handed to the body.
class BootContext {
 public:
  sim::Platform &Platform() { return *mPlatform; }
  // The firmware volume and file the driver is said to come from; its Loaded
  // Image protocol names them. Set it in the setup, before StartDriver.
  void SetImageOrigin(const ImageOrigin &Origin) { mOrigin = Origin; }
  // Creates the image handle, loads the image for an image driver, and calls
  // the entry point. An image that cannot be loaded ends the boot with
  // BootEnd::Error and the loader's message.
  EFI_STATUS StartDriver(const DriverSource &Driver);
  // Runs BootOptions::Script now, so the body can look at the platform after
  // the last signal; the runner then does not run it again. A body that does
  // not call it gets the script run after it returns.
  void RunScript();
  // Runs one step now, outside the script.
  void RunStep(const BootStep &Step);
  // Text carried back in BootResult::Notes.
  void Note(const std::string &Text) { mResult.Notes.push_back(Text); }

  // Used by the runner and the service wrappers; not for bodies.
  struct Internal;

 private:
  friend struct Internal;
  BootContext() = default;

  sim::Platform *mPlatform = nullptr;
  const BootScript *mScript = nullptr;  // BootOptions::Script
  bool mScriptRan = false;              // RunScript has run it
  int mResultFd = -1;                   // pipe to the parent
  BootResult mResult;                   // filled as the boot goes on
  std::unique_ptr<PeImage> mImage;      // the driver's mapping, for the rest of the boot
  std::unique_ptr<ImageHandle> mImageHandle;
  ImageOrigin mOrigin;  // where the driver is said to come from
  decltype(EFI_RUNTIME_SERVICES::SetVariable) mPlatformSetVariable = nullptr;  // wrapped service
};

using BootBody = std::function<void(BootContext &)>;

// Runs one boot in a child process and returns what happened.
BootResult RunBoot(const BootOptions &Options, const BootBody &Body);

// The usual body: Setup (may be empty) prepares the platform, the driver
// starts, the script runs, then Inspect (may be empty) looks at the platform
// and Note()s what the parent should see. RunDriverBoot(Options, Driver, ...)
// is the one-liner that runs the same scenario on the host library and on the
// loaded image.
BootResult RunDriverBoot(const BootOptions &Options, const DriverSource &Driver,
                         const BootBody &Setup = nullptr, const BootBody &Inspect = nullptr);

}  // namespace sim

#endif  // ZEPHRIN_SIM_BOOT_RUNNER_H_
