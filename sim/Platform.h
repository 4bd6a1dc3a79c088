// The simulated UEFI platform: one Platform object is one boot of a board. It
// owns a real EFI_SYSTEM_TABLE with boot and runtime services implemented as
// ms_abi functions, so firmware code compiled for the host calls it exactly as
// it calls a real firmware: through gST/gBS/gRT and the protocols it locates.
//
// The service functions find their Platform through one process-wide pointer:
// the newest live Platform is current; when it ends, the one before it is
// current again. A process normally runs one boot at a time (the boot runner
// gives each boot a child process).
//
// Every slot of the service tables is filled; services this platform does not
// implement return EFI_UNSUPPORTED. Misuse that a real firmware would punish
// with an ASSERT or memory corruption (freeing an unknown pool buffer, lowering
// the TPL with RaiseTPL, ...) is recorded as a fault; tests check Faults().
#ifndef ZEPHRIN_SIM_PLATFORM_H_
#define ZEPHRIN_SIM_PLATFORM_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/AcpiTables.h"
#include "sim/Events.h"
#include "sim/FirmwareVolumes.h"
#include "sim/HobList.h"
#include "sim/Pages.h"
#include "sim/Pool.h"
#include "sim/ProtocolDb.h"
#include "sim/Recorders.h"
#include "sim/VariablePolicy.h"
#include "sim/VariableStore.h"
#include "uefi/UefiSpec.h"

namespace sim {

// UEFI 2.70, the revision real firmware of this generation reports.
inline constexpr UINT32 kDefaultSystemTableRevision = (2u << 16) | 70u;

struct PlatformOptions {
  UINT32 SystemTableRevision = kDefaultSystemTableRevision;
  // File that keeps the non-volatile variables from one boot to the next; empty
  // means the store lives in memory only. Loaded at construction, written after
  // every change of a non-volatile variable (as a flash store is).
  std::string VariableStorePath;
  // Largest variable: 32-byte variable header + name (with terminator) + data.
  UINTN MaxVariableSize = 0x8400;
  // Room for non-volatile and for volatile variables, headers included.
  UINTN NonVolatileStoreSize = 0x40000;
  UINTN VolatileStoreSize = 0x10000;
  // A board without the EDK II Variable Policy protocol (the driver's fatal path).
  bool InstallVariablePolicy = true;
  // Sinks present on the board from the start (each can also be installed later
  // through Recorder()). The debug port is the driver's fallback sink.
  bool InstallDebugMessage = true;
  bool InstallDebugPort = false;
  bool InstallStatusCode = true;
  bool InstallFailureNotify = true;
  // The ACPI Table protocol (RSDP and XSDT appear with the first table).
  bool InstallAcpiTableProtocol = true;
  // A faulty firmware whose ResetSystem records the reset and then returns to
  // its caller: the driver must stop there rather than run on.
  bool ResetSystemReturns = false;
};

// Thrown by ResetSystem inside Platform::RunBoot to end the boot there. Not a
// std::exception, so that no catch of the code under test takes it.
struct ResetSignal {
  ResetRecord Record;
};

struct BootOutcome {
  bool Reset = false;  // the boot ended in ResetSystem
  ResetRecord Record;  // what ResetSystem was asked for
};

class Platform {
 public:
  explicit Platform(const PlatformOptions &Options = PlatformOptions());
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  // The platform the service functions act on; nullptr when none exists.
  static Platform *Current();

  EFI_SYSTEM_TABLE *SystemTable() { return &mSystemTable; }
  EFI_BOOT_SERVICES *BootServices() { return &mBootServices; }
  EFI_RUNTIME_SERVICES *RuntimeServices() { return &mRuntimeServices; }
  const PlatformOptions &Options() const { return mOptions; }

  PoolAllocator &Pool() { return mPool; }
  ProtocolDatabase &Protocols() { return mProtocols; }
  EventManager &Events() { return mEvents; }
  PageAllocator &Pages() { return mPages; }
  VariableStore &Variables() { return mVariables; }
  VariablePolicyEngine &Policy() { return mPolicy; }
  Recorders &Recorder() { return mRecorders; }
  AcpiTables &Acpi() { return mAcpi; }
  FirmwareVolumes &Volumes() { return mVolumes; }
  // The recorders' records with the faults so far, ready to Serialize().
  BootRecords Snapshot() const;

  // ResetSystem never returns (unless Options().ResetSystemReturns). It
  // records the reset, then ends the boot:
  //  - with a reset handler set (a runner that ends its child process after
  //    sending its results), the handler is called and must not return;
  //    with ResetSystemReturns it is called and returns, and so does Reset;
  //  - inside RunBoot, it throws ResetSignal, which unwinds through the
  //    firmware frames back to RunBoot (firmware built with -fno-exceptions
  //    keeps its unwind tables on x86-64; destructors in those frames do not
  //    run, so pool held by the interrupted flow stays outstanding);
  //  - otherwise it is a fault and the process aborts.
  BootOutcome RunBoot(const std::function<void()> &Body);
  void SetResetHandler(std::function<void(const ResetRecord &)> Handler) {
    mResetHandler = std::move(Handler);
  }
  void Reset(const ResetRecord &Record);

  // Signals a platform owns, raised by a test or boot script in the order a
  // real firmware raises them. SignalEndOfDxe also locks the variable-policy
  // interface, which switches enforcement on (as an edk2 platform does at
  // EndOfDxe); SignalExitBootServices also ends boot-services time for
  // the variable services (only runtime-access variables remain visible).
  void SignalEventGroup(const EFI_GUID &Group) { mEvents.SignalGroup(Group); }
  void SignalEndOfDxe();
  void SignalReadyToBoot();
  void SignalExitBootServices();
  bool EndOfDxeSignaled() const { return mEndOfDxe; }
  bool AtRuntime() const { return mAtRuntime; }
  // True while the ExitBootServices notifications run (UEFI forbids memory
  // allocation there; the pool counts such calls instead of refusing them).
  bool InExitBootServices() const { return mInExitBootServices; }

  // Entry check of a boot service: after ExitBootServices the call is a fault
  // and the service must fail (returns false); above MaxTpl (the UEFI TPL
  // restriction of the service) the call is a fault but goes on.
  bool CheckBootService(const char *Service, EFI_TPL MaxTpl);
  // TPL restriction of a runtime service during boot-services time.
  void CheckTpl(const char *Service, EFI_TPL MaxTpl);

  // Faults: misuse of a service that real firmware would not survive.
  void ReportFault(const std::string &Message);
  const std::vector<std::string> &Faults() const { return mFaults; }
  void ClearFaults() { mFaults.clear(); }
  // Called for every fault as it happens (e.g. a test's ADD_FAILURE).
  void SetFaultHandler(std::function<void(const std::string &)> Handler) {
    mFaultHandler = std::move(Handler);
  }
  // Empty when no pool buffer is outstanding and no fault happened; otherwise
  // a description of each leak and fault, for a test's EXPECT_EQ(..., "").
  std::string LeakCheck() const;

  // Configuration table with InstallConfigurationTable semantics (add, replace,
  // delete with NULL); keeps gST->ConfigurationTable and the CRC up to date.
  EFI_STATUS InstallConfigurationTable(const EFI_GUID &Guid, VOID *Table);
  VOID *FindConfigurationTable(const EFI_GUID &Guid) const;

  // Places the built HOB list in platform memory and publishes it as the
  // gEfiHobListGuid configuration table. A default list (PHIT + end) exists
  // from construction. Returns the list's address.
  VOID *PublishHobList(const HobListBuilder &Builder);
  // Publishes bytes exactly as given (malformed lists for negative tests).
  VOID *PublishRawHobList(const std::vector<UINT8> &Bytes);

  UINT64 NextMonotonicCount() { return ++mMonotonicCount; }

  // Recomputes the CRC32 of the three table headers, as firmware does after
  // changing a table.
  void UpdateTableCrcs();

 private:
  void BuildTables();

  PlatformOptions mOptions;
  Platform *mPrevious;  // the platform that was current before this one
  EFI_SYSTEM_TABLE mSystemTable{};
  EFI_BOOT_SERVICES mBootServices{};
  EFI_RUNTIME_SERVICES mRuntimeServices{};
  std::vector<EFI_CONFIGURATION_TABLE> mConfigTables;
  std::vector<std::vector<UINT64>> mHobLists;  // every list published; UINT64 keeps them 8-aligned
  std::vector<std::string> mFaults;
  std::function<void(const std::string &)> mFaultHandler;
  PoolAllocator mPool;
  ProtocolDatabase mProtocols;
  EventManager mEvents;
  PageAllocator mPages;
  VariablePolicyEngine mPolicy;
  VariableStore mVariables;  // after mPolicy: the store consults it
  Recorders mRecorders;
  AcpiTables mAcpi;
  FirmwareVolumes mVolumes;
  std::function<void(const ResetRecord &)> mResetHandler;
  int mRunBootDepth = 0;    // RunBoot calls in progress
  bool mEndOfDxe = false;   // EndOfDxe has been signalled
  bool mAtRuntime = false;  // ExitBootServices has been signalled
  bool mInExitBootServices = false;
  UINT64 mMonotonicCount = 0;  // GetNextMonotonicCount
};

// The current platform, or a fault on stderr and abort() when there is none:
// a service called with no boot in progress is a broken test.
Platform &CurrentPlatform();

// Standard CRC32 (as CalculateCrc32 of the boot services).
UINT32 Crc32(const VOID *Data, UINTN Size);

bool SameGuid(const EFI_GUID &First, const EFI_GUID &Second);

}  // namespace sim

#endif  // ZEPHRIN_SIM_PLATFORM_H_
