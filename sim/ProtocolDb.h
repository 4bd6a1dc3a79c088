// Handle and protocol database of the simulated platform, with the semantics of
// the UEFI boot services: handles are created by the first install and vanish
// with their last protocol; lookups go in handle-creation order.
#ifndef ZEPHRIN_SIM_PROTOCOL_DB_H_
#define ZEPHRIN_SIM_PROTOCOL_DB_H_

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

class ProtocolDatabase {
 public:
  explicit ProtocolDatabase(Platform &Owner) : mOwner(Owner) {}
  ProtocolDatabase(const ProtocolDatabase &) = delete;
  ProtocolDatabase &operator=(const ProtocolDatabase &) = delete;

  // Boot-service semantics (the ms_abi wrappers forward here).
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS Reinstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *OldInterface, VOID *NewInterface);
  EFI_STATUS Handle(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface);
  EFI_STATUS Locate(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
  EFI_STATUS LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey,
                          UINTN *BufferSize, EFI_HANDLE *Buffer);
  // RegisterProtocolNotify: every later install (or reinstall) of Protocol
  // queues the handle for the registration and signals Event; LocateProtocol
  // and LocateHandle(ByRegisterNotify) with the registration hand out the
  // queued entries one at a time.
  EFI_STATUS RegisterNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration);
  EFI_STATUS LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, UINTN *NoHandles,
                                EFI_HANDLE **Buffer);
  EFI_STATUS ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***Buffer, UINTN *Count);
  // Does a handle in the database already carry exactly this device path?
  bool DevicePathInUse(const VOID *DevicePath) const;

  bool IsHandle(EFI_HANDLE Handle) const;
  // How often LocateProtocol was asked for a protocol (found or not).
  UINTN LocateCount(const EFI_GUID &Protocol) const;
  // From now on LocateProtocol of Protocol answers Status with a NULL interface,
  // installed or not: the driver's failure paths must carry the status they got,
  // whatever it is. EFI_SUCCESS ends the injection.
  void FailLocate(const EFI_GUID &Protocol, EFI_STATUS Status);
  // Test convenience: installs on a new handle and returns it (NULL on failure).
  EFI_HANDLE InstallOnNewHandle(const EFI_GUID &Protocol, VOID *Interface);

 private:
  struct ProtocolEntry {
    EFI_GUID Guid;
    VOID *Interface;
  };
  struct HandleRecord {
    std::vector<ProtocolEntry> Protocols;  // in install order
  };
  HandleRecord *Find(EFI_HANDLE Handle) const;
  std::vector<EFI_HANDLE> Matching(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol) const;

  struct NotifyRegistration {
    EFI_GUID Guid;
    EFI_EVENT Event;
    std::deque<std::pair<EFI_HANDLE, VOID *>> Pending;  // installs not yet handed out
  };
  void NotifyInstall(EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID *Interface);
  NotifyRegistration *FindRegistration(VOID *Key);

  Platform &mOwner;
  std::vector<std::unique_ptr<NotifyRegistration>> mRegistrations;
  std::vector<std::unique_ptr<HandleRecord>> mHandles;  // live handles, creation order
  std::vector<std::pair<EFI_GUID, UINTN>> mLocateCounts;
  std::vector<std::pair<EFI_GUID, EFI_STATUS>> mLocateFailures;  // FailLocate
};

// OpenProtocol attribute bits of UEFI 2.x.
#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x00000001
#define EFI_OPEN_PROTOCOL_GET_PROTOCOL 0x00000002
#define EFI_OPEN_PROTOCOL_TEST_PROTOCOL 0x00000004
#define EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER 0x00000008
#define EFI_OPEN_PROTOCOL_BY_DRIVER 0x00000010
#define EFI_OPEN_PROTOCOL_EXCLUSIVE 0x00000020

}  // namespace sim

#endif  // ZEPHRIN_SIM_PROTOCOL_DB_H_
