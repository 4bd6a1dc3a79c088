// State shared by the two boot-path flows: the blob stream handles they open.
#ifndef ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_
#define ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_

#include "acpi_dxe/blob/BlobStream.h"
#include "uefi/UefiSpec.h"

extern BLOB_HANDLE mAcpiDataReadHandle;
extern BLOB_HANDLE mAcpiDataWriteHandle;

inline constexpr EFI_GUID gCustomPathEventGroupGuid = {
    0xA5B489B4, 0x18FD, 0x4425, {0x91, 0xA4, 0x61, 0x3A, 0xDD, 0xD2, 0x74, 0x05}};

VOID EFIAPI CustomPathReadyToBootNotification(EFI_EVENT Event, VOID *Context);

// Certified path: one restore phase per callback; the ExitBootServices one also
// closes the meta data and the read stream.
VOID EFIAPI AcpiCertifiedPathEndOfDxeNotification(EFI_EVENT Event, VOID *Context);
VOID EFIAPI AcpiCertifiedPathReadyToBootNotification(EFI_EVENT Event, VOID *Context);
VOID EFIAPI AcpiCertifiedPathExitBootServicesNotification(EFI_EVENT Event, VOID *Context);

// A ReadyToBoot group event; EFI_UNSUPPORTED (logged) before UEFI 2.0, which
// has no event groups.
EFI_STATUS EfiCreateEventReadyToBootEx(EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                       VOID *NotifyContext, EFI_EVENT *Event);

#endif  // ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_
