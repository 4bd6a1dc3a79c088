#include "sim/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim/ServiceTable.h"

namespace sim {

namespace {

Platform *gCurrentPlatform = nullptr;

const CHAR16 kFirmwareVendor[] = u"Zephrin Simulated Platform";
constexpr UINT32 kFirmwareRevision = 0x00010000;

EFI_STATUS EFIAPI SimInstallConfigurationTable(EFI_GUID *Guid, VOID *Table) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("InstallConfigurationTable", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  if (Guid == nullptr) return EFI_INVALID_PARAMETER;
  return Board.InstallConfigurationTable(*Guid, Table);
}

EFI_STATUS EFIAPI SimCalculateCrc32(VOID *Data, UINTN DataSize, UINT32 *Crc) {
  if (Data == nullptr || DataSize == 0 || Crc == nullptr) return EFI_INVALID_PARAMETER;
  *Crc = Crc32(Data, DataSize);
  return EFI_SUCCESS;
}

VOID EFIAPI SimCopyMem(VOID *Destination, VOID *Source, UINTN Length) {
  std::memmove(Destination, Source, Length);
}

VOID EFIAPI SimSetMem(VOID *Buffer, UINTN Size, UINT8 Value) {
  std::memset(Buffer, Value, Size);
}

EFI_STATUS EFIAPI SimStall(UINTN) {
  return EFI_SUCCESS;
}

// No watchdog fires in a simulated boot; arming and disarming it succeed.
EFI_STATUS EFIAPI SimSetWatchdogTimer(UINTN, UINT64, UINTN DataSize, CHAR16 *Data) {
  return DataSize != 0 && Data == nullptr ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

// A fixed wall-clock time, so boots are reproducible: 2026-12-07 12:00:00 UTC.
EFI_STATUS EFIAPI SimGetTime(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities) {
  if (Time == nullptr) return EFI_INVALID_PARAMETER;
  *Time = EFI_TIME{2026, 12, 7, 12, 0, 0, 0, 0, 0, 0, 0};
  if (Capabilities != nullptr) *Capabilities = EFI_TIME_CAPABILITIES{1, 50000000, FALSE};
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimGetNextMonotonicCount(UINT64 *Count) {
  if (Count == nullptr) return EFI_INVALID_PARAMETER;
  *Count = CurrentPlatform().NextMonotonicCount();
  return EFI_SUCCESS;
}

VOID EFIAPI SimResetSystem(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize,
                           VOID *ResetData) {
  ResetRecord Record;
  Record.Type = ResetType;
  Record.Status = ResetStatus;
  if (ResetData != nullptr) {
    const auto *Bytes = static_cast<const UINT8 *>(ResetData);
    Record.Data.assign(Bytes, Bytes + DataSize);
  }
  CurrentPlatform().Reset(Record);
}

}  // namespace

void BindMiscBootServices(EFI_BOOT_SERVICES &Bs) {
  Bs.InstallConfigurationTable = &SimInstallConfigurationTable;
  Bs.CalculateCrc32 = &SimCalculateCrc32;
  Bs.CopyMem = &SimCopyMem;
  Bs.SetMem = &SimSetMem;
  Bs.Stall = &SimStall;
  Bs.SetWatchdogTimer = &SimSetWatchdogTimer;
  Bs.GetNextMonotonicCount = &SimGetNextMonotonicCount;
}

Platform &CurrentPlatform() {
  if (gCurrentPlatform == nullptr) {
    std::fprintf(stderr, "sim: a firmware service was called with no Platform in existence\n");
    std::abort();
  }
  return *gCurrentPlatform;
}

Platform *Platform::Current() {
  return gCurrentPlatform;
}

Platform::Platform(const PlatformOptions &Options)
    : mOptions(Options),
      mPrevious(gCurrentPlatform),
      mPool(*this),
      mProtocols(*this),
      mEvents(*this),
      mPages(*this),
      mPolicy(*this),
      mVariables(*this),
      mRecorders(*this),
      mAcpi(*this),
      mVolumes(*this) {
  gCurrentPlatform = this;
  BuildTables();
  PublishHobList(HobListBuilder());
  if (!mVariables.LoadError().empty()) ReportFault(mVariables.LoadError());
  if (mOptions.InstallVariablePolicy) mPolicy.Install();
  if (mOptions.InstallDebugMessage) mRecorders.InstallDebugMessage();
  if (mOptions.InstallDebugPort) mRecorders.InstallDebugPort();
  if (mOptions.InstallStatusCode) mRecorders.InstallStatusCode();
  if (mOptions.InstallFailureNotify) mRecorders.InstallFailureNotify();
  if (mOptions.InstallAcpiTableProtocol) mAcpi.InstallProtocol();
}

// Live platforms form a chain through mPrevious, newest first. One destroyed
// out of order (an older platform first) is unlinked and the current one stays.
Platform::~Platform() {
  if (gCurrentPlatform == this) {
    gCurrentPlatform = mPrevious;
    return;
  }
  for (Platform *Later = gCurrentPlatform; Later != nullptr; Later = Later->mPrevious) {
    if (Later->mPrevious == this) {
      Later->mPrevious = mPrevious;
      return;
    }
  }
}

void Platform::BuildTables() {
  mBootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  mBootServices.Hdr.Revision = mOptions.SystemTableRevision;
  mBootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  FillBootServicesUnsupported(mBootServices);
  BindPoolServices(mBootServices);
  BindMiscBootServices(mBootServices);
  BindProtocolServices(mBootServices);
  BindEventServices(mBootServices);
  BindPageServices(mBootServices);

  mRuntimeServices.Hdr.Signature = EFI_RUNTIME_SERVICES_SIGNATURE;
  mRuntimeServices.Hdr.Revision = mOptions.SystemTableRevision;
  mRuntimeServices.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  FillRuntimeServicesUnsupported(mRuntimeServices);
  BindVariableServices(mRuntimeServices);
  mRuntimeServices.ResetSystem = &SimResetSystem;
  mRuntimeServices.GetTime = &SimGetTime;

  mSystemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  mSystemTable.Hdr.Revision = mOptions.SystemTableRevision;
  mSystemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  mSystemTable.FirmwareVendor = const_cast<CHAR16 *>(kFirmwareVendor);
  mSystemTable.FirmwareRevision = kFirmwareRevision;
  mSystemTable.BootServices = &mBootServices;
  mSystemTable.RuntimeServices = &mRuntimeServices;
  UpdateTableCrcs();
}

void Platform::UpdateTableCrcs() {
  mSystemTable.NumberOfTableEntries = mConfigTables.size();
  mSystemTable.ConfigurationTable = mConfigTables.empty() ? nullptr : mConfigTables.data();
  mBootServices.Hdr.CRC32 = 0;
  mBootServices.Hdr.CRC32 = Crc32(&mBootServices, sizeof(mBootServices));
  mRuntimeServices.Hdr.CRC32 = 0;
  mRuntimeServices.Hdr.CRC32 = Crc32(&mRuntimeServices, sizeof(mRuntimeServices));
  mSystemTable.Hdr.CRC32 = 0;
  mSystemTable.Hdr.CRC32 = Crc32(&mSystemTable, sizeof(mSystemTable));
}

void Platform::ReportFault(const std::string &Message) {
  mFaults.push_back(Message);
  if (mFaultHandler) mFaultHandler(Message);
}

std::string Platform::LeakCheck() const {
  std::string Report = mPool.LeakReport();
  for (auto &Fault : mFaults) Report += "fault: " + Fault + "\n";
  return Report;
}

// UEFI InstallConfigurationTable: a new GUID is added, a known GUID has its
// table replaced, or removed when Table is NULL; removing an unknown GUID is
// EFI_NOT_FOUND.
EFI_STATUS Platform::InstallConfigurationTable(const EFI_GUID &Guid, VOID *Table) {
  auto Found = mConfigTables.begin();
  while (Found != mConfigTables.end() && !SameGuid(Found->VendorGuid, Guid)) ++Found;
  if (Found == mConfigTables.end()) {
    if (Table == nullptr) return EFI_NOT_FOUND;
    mConfigTables.push_back(EFI_CONFIGURATION_TABLE{Guid, Table});
  } else if (Table == nullptr) {
    mConfigTables.erase(Found);
  } else {
    Found->VendorTable = Table;
  }
  UpdateTableCrcs();
  // UEFI: installing a configuration table signals the event group of its GUID.
  mEvents.SignalGroup(Guid);
  return EFI_SUCCESS;
}

void Platform::SignalEndOfDxe() {
  mEndOfDxe = true;
  if (!mPolicy.Locked()) mPolicy.Lock();
  mEvents.SignalGroup(gEfiEndOfDxeEventGroupGuid);
}

void Platform::SignalReadyToBoot() {
  mEvents.SignalGroup(gEfiEventReadyToBootGuid);
}

// The before-ExitBootServices group came with UEFI 2.8: a firmware that
// reports an older revision (OVMF of this generation reports 2.70) never
// signals it, so a driver cannot count on it there.
void Platform::SignalExitBootServices() {
  if (mOptions.SystemTableRevision >= kBeforeExitBootServicesRevision) {
    mEvents.SignalGroup(kBeforeExitBootServicesGroupGuid);
  }
  mInExitBootServices = true;
  mEvents.SignalGroup(gEfiEventExitBootServicesGuid);
  mInExitBootServices = false;
  mAtRuntime = true;
}

VOID *Platform::FindConfigurationTable(const EFI_GUID &Guid) const {
  for (auto &Entry : mConfigTables) {
    if (SameGuid(Entry.VendorGuid, Guid)) return Entry.VendorTable;
  }
  return nullptr;
}

VOID *Platform::PublishRawHobList(const std::vector<UINT8> &Bytes) {
  // Old lists stay allocated: the driver may have cached a pointer into one.
  mHobLists.emplace_back((Bytes.size() + 7) / 8 + 1, 0);
  VOID *List = mHobLists.back().data();
  if (!Bytes.empty()) std::memcpy(List, Bytes.data(), Bytes.size());
  InstallConfigurationTable(gEfiHobListGuid, List);
  return List;
}

VOID *Platform::PublishHobList(const HobListBuilder &Builder) {
  std::vector<UINT8> Bytes = Builder.Build();
  auto *List = static_cast<UINT8 *>(PublishRawHobList(Bytes));
  // PHIT.EfiEndOfHobList holds the address of the end-of-list HOB.
  UINT64 End = reinterpret_cast<UINTN>(List) + Bytes.size() - sizeof(EFI_HOB_GENERIC_HEADER);
  std::memcpy(List + OFFSET_OF(HobHandoffInfoTable, EfiEndOfHobList), &End, sizeof(End));
  return List;
}

bool Platform::CheckBootService(const char *Service, EFI_TPL MaxTpl) {
  if (mAtRuntime) {
    ReportFault(std::string(Service) + " called after ExitBootServices");
    return false;
  }
  CheckTpl(Service, MaxTpl);
  return true;
}

void Platform::CheckTpl(const char *Service, EFI_TPL MaxTpl) {
  EFI_TPL Current = mEvents.CurrentTpl();
  if (!mAtRuntime && Current > MaxTpl) {
    ReportFault(std::string(Service) + " called at TPL " + std::to_string(Current) + ", above its limit " +
                std::to_string(MaxTpl));
  }
}

BootRecords Platform::Snapshot() const {
  BootRecords Records = mRecorders.Records();
  Records.Faults = mFaults;
  return Records;
}

void Platform::Reset(const ResetRecord &Record) {
  mRecorders.Records().ResetHappened = true;
  mRecorders.Records().Reset = Record;
  if (mResetHandler) mResetHandler(Record);
  if (mOptions.ResetSystemReturns) return;
  if (mResetHandler) ReportFault("the reset handler returned");
  if (mRunBootDepth > 0) throw ResetSignal{Record};
  std::fprintf(stderr, "sim: ResetSystem outside Platform::RunBoot and without a reset handler\n");
  std::abort();
}

BootOutcome Platform::RunBoot(const std::function<void()> &Body) {
  BootOutcome Outcome;
  ++mRunBootDepth;
  try {
    Body();
  } catch (const ResetSignal &Signal) {
    Outcome.Reset = true;
    Outcome.Record = Signal.Record;
  }
  --mRunBootDepth;
  return Outcome;
}

bool SameGuid(const EFI_GUID &First, const EFI_GUID &Second) {
  return std::memcmp(&First, &Second, sizeof(EFI_GUID)) == 0;
}

UINT32 Crc32(const VOID *Data, UINTN Size) {
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (UINTN Index = 0; Index < Size; ++Index) {
    Crc ^= Bytes[Index];
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
  }
  return ~Crc;
}

}  // namespace sim
