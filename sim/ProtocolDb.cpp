#include "sim/ProtocolDb.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"
#include "uefi/Protocol/DevicePath.h"

namespace sim {

namespace {

ProtocolDatabase &Db() {
  return CurrentPlatform().Protocols();
}

// Protocol services are boot services restricted to TPL_NOTIFY and below.
bool Allowed(const char *Service) {
  return CurrentPlatform().CheckBootService(Service, TPL_NOTIFY);
}

EFI_STATUS EFIAPI SimInstallProtocolInterface(EFI_HANDLE *Handle, EFI_GUID *Protocol,
                                              EFI_INTERFACE_TYPE InterfaceType, VOID *Interface) {
  if (!Allowed("InstallProtocolInterface")) return EFI_UNSUPPORTED;
  if (InterfaceType != EFI_NATIVE_INTERFACE) return EFI_INVALID_PARAMETER;
  return Db().Install(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI SimUninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *Interface) {
  if (!Allowed("UninstallProtocolInterface")) return EFI_UNSUPPORTED;
  return Db().Uninstall(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI SimReinstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *OldInterface,
                                                VOID *NewInterface) {
  if (!Allowed("ReinstallProtocolInterface")) return EFI_UNSUPPORTED;
  return Db().Reinstall(Handle, Protocol, OldInterface, NewInterface);
}

EFI_STATUS EFIAPI SimHandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  if (!Allowed("HandleProtocol")) return EFI_UNSUPPORTED;
  return Db().Handle(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI SimLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  if (!Allowed("LocateProtocol")) return EFI_UNSUPPORTED;
  return Db().Locate(Protocol, Registration, Interface);
}

EFI_STATUS EFIAPI SimLocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                                  UINTN *BufferSize, EFI_HANDLE *Buffer) {
  if (!Allowed("LocateHandle")) return EFI_UNSUPPORTED;
  return Db().LocateHandle(SearchType, Protocol, SearchKey, BufferSize, Buffer);
}

EFI_STATUS EFIAPI SimLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *,
                                        UINTN *NoHandles, EFI_HANDLE **Buffer) {
  if (!Allowed("LocateHandleBuffer")) return EFI_UNSUPPORTED;
  return Db().LocateHandleBuffer(SearchType, Protocol, NoHandles, Buffer);
}

EFI_STATUS EFIAPI SimProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***Buffer, UINTN *Count) {
  if (!Allowed("ProtocolsPerHandle")) return EFI_UNSUPPORTED;
  return Db().ProtocolsPerHandle(Handle, Buffer, Count);
}

// OpenProtocol without the driver-model bookkeeping: the attributes are checked
// as UEFI requires and the interface is handed out; BY_DRIVER/EXCLUSIVE opens
// are not tracked (no driver here binds to controllers).
EFI_STATUS EFIAPI SimOpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface,
                                  EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes) {
  if (!Allowed("OpenProtocol")) return EFI_UNSUPPORTED;
  ProtocolDatabase &Database = Db();
  if (Protocol == nullptr || !Database.IsHandle(Handle)) return EFI_INVALID_PARAMETER;
  VOID *Found = nullptr;
  switch (Attributes) {
    case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
      return Database.Handle(Handle, Protocol, &Found);
    case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
    case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
      break;
    case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!Database.IsHandle(AgentHandle) || !Database.IsHandle(ControllerHandle))
        return EFI_INVALID_PARAMETER;
      break;
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!Database.IsHandle(AgentHandle)) return EFI_INVALID_PARAMETER;
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }
  if (Interface == nullptr) return EFI_INVALID_PARAMETER;
  return Database.Handle(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI SimCloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE AgentHandle,
                                   EFI_HANDLE) {
  if (!Allowed("CloseProtocol")) return EFI_UNSUPPORTED;
  ProtocolDatabase &Database = Db();
  if (Protocol == nullptr || !Database.IsHandle(Handle) || !Database.IsHandle(AgentHandle)) {
    return EFI_INVALID_PARAMETER;
  }
  VOID *Found = nullptr;
  return EFI_ERROR(Database.Handle(Handle, Protocol, &Found)) ? EFI_NOT_FOUND : EFI_SUCCESS;
}

using ProtocolPair = std::pair<EFI_GUID *, VOID *>;

// The (Guid, Interface) pairs of a variadic protocol call, up to a NULL Guid.
// The list is an ms_abi one, started by the caller (the analyzer does not
// follow __builtin_ms_va_start, hence the NOLINTs).
std::vector<ProtocolPair> ReadProtocolPairs(__builtin_ms_va_list &Args) {
  std::vector<ProtocolPair> Pairs;
  for (;;) {
    EFI_GUID *Protocol = __builtin_va_arg(Args, EFI_GUID *);  // NOLINT(clang-analyzer-valist.Uninitialized)
    if (Protocol == nullptr) return Pairs;
    Pairs.emplace_back(Protocol,
                       __builtin_va_arg(Args, VOID *));  // NOLINT(clang-analyzer-valist.Uninitialized)
  }
}

// Installs (Guid, Interface) pairs up to a NULL Guid; all or nothing. A device
// path already present on another handle makes the call EFI_ALREADY_STARTED.
EFI_STATUS EFIAPI SimInstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  if (!Allowed("InstallMultipleProtocolInterfaces")) return EFI_UNSUPPORTED;
  if (Handle == nullptr) return EFI_INVALID_PARAMETER;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  std::vector<ProtocolPair> Pairs = ReadProtocolPairs(Args);
  __builtin_ms_va_end(Args);

  ProtocolDatabase &Database = Db();
  for (auto &Pair : Pairs) {
    if (SameGuid(*Pair.first, gEfiDevicePathProtocolGuid) && Database.DevicePathInUse(Pair.second)) {
      return EFI_ALREADY_STARTED;
    }
  }
  EFI_HANDLE Original = *Handle;
  EFI_STATUS Status = EFI_SUCCESS;
  size_t Installed = 0;
  for (; Installed < Pairs.size(); ++Installed) {
    Status = Database.Install(Handle, Pairs[Installed].first, Pairs[Installed].second);
    if (EFI_ERROR(Status)) break;
  }
  if (EFI_ERROR(Status)) {
    while (Installed-- > 0) Database.Uninstall(*Handle, Pairs[Installed].first, Pairs[Installed].second);
    *Handle = Original;
  }
  return Status;
}

// Removes (Guid, Interface) pairs up to a NULL Guid; all or nothing.
EFI_STATUS EFIAPI SimUninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  if (!Allowed("UninstallMultipleProtocolInterfaces")) return EFI_UNSUPPORTED;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  std::vector<ProtocolPair> Pairs = ReadProtocolPairs(Args);
  __builtin_ms_va_end(Args);

  ProtocolDatabase &Database = Db();
  size_t Removed = 0;
  EFI_STATUS Status = EFI_SUCCESS;
  for (; Removed < Pairs.size(); ++Removed) {
    Status = Database.Uninstall(Handle, Pairs[Removed].first, Pairs[Removed].second);
    if (EFI_ERROR(Status)) break;
  }
  if (EFI_ERROR(Status)) {
    // The handle may have vanished with its last protocol; reinstalling the
    // pairs on a fresh handle is what a real core does as well.
    EFI_HANDLE Target = Handle;
    while (Removed-- > 0) Database.Install(&Target, Pairs[Removed].first, Pairs[Removed].second);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Bytes of a device path up to and including its end node; 0 when the walk
// finds a node shorter than its header before an end node.
UINTN DevicePathSize(const VOID *Path) {
  const auto *Node = static_cast<const UINT8 *>(Path);
  UINTN Size = 0;
  for (;;) {
    UINT16 Length = static_cast<UINT16>(Node[Size + 2] | (Node[Size + 3] << 8));
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) return 0;
    bool End = Node[Size] == END_DEVICE_PATH_TYPE && Node[Size + 1] == END_ENTIRE_DEVICE_PATH_SUBTYPE;
    Size += Length;
    if (End) return Size;
  }
}

EFI_STATUS EFIAPI SimRegisterProtocolNotify(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  if (!Allowed("RegisterProtocolNotify")) return EFI_UNSUPPORTED;
  return Db().RegisterNotify(Protocol, Event, Registration);
}

}  // namespace

void BindProtocolServices(EFI_BOOT_SERVICES &Bs) {
  Bs.InstallProtocolInterface = &SimInstallProtocolInterface;
  Bs.UninstallProtocolInterface = &SimUninstallProtocolInterface;
  Bs.ReinstallProtocolInterface = &SimReinstallProtocolInterface;
  Bs.HandleProtocol = &SimHandleProtocol;
  Bs.LocateProtocol = &SimLocateProtocol;
  Bs.RegisterProtocolNotify = &SimRegisterProtocolNotify;
  Bs.LocateHandle = &SimLocateHandle;
  Bs.LocateHandleBuffer = &SimLocateHandleBuffer;
  Bs.ProtocolsPerHandle = &SimProtocolsPerHandle;
  Bs.OpenProtocol = &SimOpenProtocol;
  Bs.CloseProtocol = &SimCloseProtocol;
  Bs.InstallMultipleProtocolInterfaces = &SimInstallMultipleProtocolInterfaces;
  Bs.UninstallMultipleProtocolInterfaces = &SimUninstallMultipleProtocolInterfaces;
}

ProtocolDatabase::HandleRecord *ProtocolDatabase::Find(EFI_HANDLE Handle) const {
  for (auto &Record : mHandles) {
    if (Record.get() == Handle) return Record.get();
  }
  return nullptr;
}

bool ProtocolDatabase::IsHandle(EFI_HANDLE Handle) const {
  return Handle != nullptr && Find(Handle) != nullptr;
}

EFI_STATUS ProtocolDatabase::Install(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface) {
  if (Handle == nullptr || Protocol == nullptr) return EFI_INVALID_PARAMETER;
  HandleRecord *Record = nullptr;
  if (*Handle != nullptr) {
    Record = Find(*Handle);
    if (Record == nullptr) return EFI_INVALID_PARAMETER;
    for (auto &Entry : Record->Protocols) {
      if (SameGuid(Entry.Guid, *Protocol)) return EFI_INVALID_PARAMETER;
    }
  } else {
    mHandles.push_back(std::make_unique<HandleRecord>());
    Record = mHandles.back().get();
    *Handle = Record;
  }
  Record->Protocols.push_back(ProtocolEntry{*Protocol, Interface});
  NotifyInstall(Record, *Protocol, Interface);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Uninstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface) {
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  HandleRecord *Record = Find(Handle);
  if (Record == nullptr) return EFI_INVALID_PARAMETER;
  auto &List = Record->Protocols;
  auto Found = std::find_if(List.begin(), List.end(), [&](const ProtocolEntry &Entry) {
    return SameGuid(Entry.Guid, *Protocol) && Entry.Interface == Interface;
  });
  if (Found == List.end()) return EFI_NOT_FOUND;
  List.erase(Found);
  if (List.empty()) {
    mHandles.erase(
        std::find_if(mHandles.begin(), mHandles.end(),
                     [Record](const std::unique_ptr<HandleRecord> &Ptr) { return Ptr.get() == Record; }));
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Reinstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *OldInterface,
                                       VOID *NewInterface) {
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  HandleRecord *Record = Find(Handle);
  if (Record == nullptr) return EFI_INVALID_PARAMETER;
  for (auto &Entry : Record->Protocols) {
    if (SameGuid(Entry.Guid, *Protocol) && Entry.Interface == OldInterface) {
      Entry.Interface = NewInterface;
      NotifyInstall(Record, *Protocol, NewInterface);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS ProtocolDatabase::Handle(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface) {
  if (Protocol == nullptr || Interface == nullptr) return EFI_INVALID_PARAMETER;
  *Interface = nullptr;
  HandleRecord *Record = Find(Handle);
  if (Record == nullptr) return EFI_INVALID_PARAMETER;
  for (auto &Entry : Record->Protocols) {
    if (SameGuid(Entry.Guid, *Protocol)) {
      *Interface = Entry.Interface;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS ProtocolDatabase::Locate(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  if (Protocol == nullptr || Interface == nullptr) return EFI_INVALID_PARAMETER;
  if (Registration != nullptr) {
    *Interface = nullptr;
    NotifyRegistration *Notify = FindRegistration(Registration);
    if (Notify == nullptr || Notify->Pending.empty()) return EFI_NOT_FOUND;
    *Interface = Notify->Pending.front().second;
    Notify->Pending.pop_front();
    return EFI_SUCCESS;
  }
  auto Counter =
      std::find_if(mLocateCounts.begin(), mLocateCounts.end(),
                   [&](const std::pair<EFI_GUID, UINTN> &Entry) { return SameGuid(Entry.first, *Protocol); });
  if (Counter == mLocateCounts.end()) {
    mLocateCounts.emplace_back(*Protocol, 1);
  } else {
    ++Counter->second;
  }
  *Interface = nullptr;
  for (auto &Failure : mLocateFailures) {
    if (SameGuid(Failure.first, *Protocol)) return Failure.second;
  }
  for (auto &Record : mHandles) {
    for (auto &Entry : Record->Protocols) {
      if (SameGuid(Entry.Guid, *Protocol)) {
        *Interface = Entry.Interface;
        return EFI_SUCCESS;
      }
    }
  }
  return EFI_NOT_FOUND;
}

UINTN ProtocolDatabase::LocateCount(const EFI_GUID &Protocol) const {
  for (auto &Entry : mLocateCounts) {
    if (SameGuid(Entry.first, Protocol)) return Entry.second;
  }
  return 0;
}

void ProtocolDatabase::FailLocate(const EFI_GUID &Protocol, EFI_STATUS Status) {
  mLocateFailures.erase(std::remove_if(mLocateFailures.begin(), mLocateFailures.end(),
                                       [&](const std::pair<EFI_GUID, EFI_STATUS> &Entry) {
                                         return SameGuid(Entry.first, Protocol);
                                       }),
                        mLocateFailures.end());
  if (Status != EFI_SUCCESS) mLocateFailures.emplace_back(Protocol, Status);
}

std::vector<EFI_HANDLE> ProtocolDatabase::Matching(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                   const EFI_GUID *Protocol) const {
  std::vector<EFI_HANDLE> Result;
  for (auto &Record : mHandles) {
    bool Match = SearchType == AllHandles;
    for (auto &Entry : Record->Protocols) Match = Match || SameGuid(Entry.Guid, *Protocol);
    if (Match) Result.push_back(Record.get());
  }
  return Result;
}

EFI_STATUS ProtocolDatabase::LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                          VOID *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer) {
  if (BufferSize == nullptr) return EFI_INVALID_PARAMETER;
  if (SearchType == ByRegisterNotify) {
    NotifyRegistration *Notify = FindRegistration(SearchKey);
    if (Notify == nullptr) return EFI_INVALID_PARAMETER;
    if (Notify->Pending.empty()) return EFI_NOT_FOUND;
    if (*BufferSize < sizeof(EFI_HANDLE)) {
      *BufferSize = sizeof(EFI_HANDLE);
      return EFI_BUFFER_TOO_SMALL;
    }
    if (Buffer == nullptr) return EFI_INVALID_PARAMETER;
    *Buffer = Notify->Pending.front().first;
    *BufferSize = sizeof(EFI_HANDLE);
    Notify->Pending.pop_front();
    return EFI_SUCCESS;
  }
  if (SearchType != AllHandles && (SearchType != ByProtocol || Protocol == nullptr))
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found = Matching(SearchType, Protocol);
  if (Found.empty()) return EFI_NOT_FOUND;
  UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Buffer == nullptr) return EFI_INVALID_PARAMETER;
  *BufferSize = Needed;
  std::memcpy(Buffer, Found.data(), Needed);
  return EFI_SUCCESS;
}

// The array comes from boot-services pool (so injection can fail it) and
// belongs to the caller, who frees it with FreePool.
EFI_STATUS ProtocolDatabase::LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                                UINTN *NoHandles, EFI_HANDLE **Buffer) {
  if (NoHandles == nullptr || Buffer == nullptr) return EFI_INVALID_PARAMETER;
  *NoHandles = 0;
  *Buffer = nullptr;
  if (SearchType == ByRegisterNotify) return EFI_UNSUPPORTED;
  if (SearchType != AllHandles && (SearchType != ByProtocol || Protocol == nullptr))
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found = Matching(SearchType, Protocol);
  if (Found.empty()) return EFI_NOT_FOUND;
  VOID *Array = nullptr;
  EFI_STATUS Status = mOwner.Pool().Allocate(EfiBootServicesData, Found.size() * sizeof(EFI_HANDLE), &Array);
  if (EFI_ERROR(Status)) return Status;
  std::memcpy(Array, Found.data(), Found.size() * sizeof(EFI_HANDLE));
  *Buffer = static_cast<EFI_HANDLE *>(Array);
  *NoHandles = Found.size();
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***Buffer, UINTN *Count) {
  HandleRecord *Record = Find(Handle);
  if (Record == nullptr || Buffer == nullptr || Count == nullptr) return EFI_INVALID_PARAMETER;
  VOID *Array = nullptr;
  EFI_STATUS Status =
      mOwner.Pool().Allocate(EfiBootServicesData, Record->Protocols.size() * sizeof(EFI_GUID *), &Array);
  if (EFI_ERROR(Status)) return Status;
  auto **Guids = static_cast<EFI_GUID **>(Array);
  for (size_t Index = 0; Index < Record->Protocols.size(); ++Index)
    Guids[Index] = &Record->Protocols[Index].Guid;
  *Buffer = Guids;
  *Count = Record->Protocols.size();
  return EFI_SUCCESS;
}

bool ProtocolDatabase::DevicePathInUse(const VOID *DevicePath) const {
  UINTN Size = DevicePath == nullptr ? 0 : DevicePathSize(DevicePath);
  if (Size == 0) return false;
  for (auto &Record : mHandles) {
    for (auto &Entry : Record->Protocols) {
      if (!SameGuid(Entry.Guid, gEfiDevicePathProtocolGuid) || Entry.Interface == nullptr) continue;
      if (DevicePathSize(Entry.Interface) == Size && std::memcmp(Entry.Interface, DevicePath, Size) == 0) {
        return true;
      }
    }
  }
  return false;
}

EFI_STATUS ProtocolDatabase::RegisterNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  if (Protocol == nullptr || Registration == nullptr || !mOwner.Events().IsOpen(Event))
    return EFI_INVALID_PARAMETER;
  mRegistrations.push_back(std::make_unique<NotifyRegistration>(NotifyRegistration{*Protocol, Event, {}}));
  *Registration = mRegistrations.back().get();
  return EFI_SUCCESS;
}

ProtocolDatabase::NotifyRegistration *ProtocolDatabase::FindRegistration(VOID *Key) {
  for (auto &Registration : mRegistrations) {
    if (Registration.get() == Key) return Registration.get();
  }
  return nullptr;
}

// Registrations whose event was closed are dropped, as a core does on CloseEvent.
void ProtocolDatabase::NotifyInstall(EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID *Interface) {
  std::vector<EFI_EVENT> ToSignal;
  for (auto &Registration : mRegistrations) {
    if (!SameGuid(Registration->Guid, Protocol) || !mOwner.Events().IsOpen(Registration->Event)) continue;
    Registration->Pending.emplace_back(Handle, Interface);
    ToSignal.push_back(Registration->Event);
  }
  // Signalled after the queues are filled: a notify function may locate at once.
  for (EFI_EVENT Event : ToSignal) {
    if (mOwner.Events().IsOpen(Event)) mOwner.Events().Signal(Event);
  }
}

EFI_HANDLE ProtocolDatabase::InstallOnNewHandle(const EFI_GUID &Protocol, VOID *Interface) {
  EFI_HANDLE Handle = nullptr;
  return EFI_ERROR(Install(&Handle, &Protocol, Interface)) ? nullptr : Handle;
}

}  // namespace sim
