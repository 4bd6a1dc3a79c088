// The boot-path flows: the entry point, the two work functions and their event
// callbacks, and the blob stream handles they share.
#ifndef ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_
#define ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_

#include "acpi_dxe/blob/BlobStream.h"
#include "uefi/Guid/BootPathSignals.h"
#include "uefi/UefiSpec.h"

extern BLOB_HANDLE mAcpiDataReadHandle;
extern BLOB_HANDLE mAcpiDataWriteHandle;

// The driver's entry point and the work functions of the two boot paths it
// chooses between.
extern "C" EFI_STATUS EFIAPI ZephrinAcpiDxeEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS DoCustomWork();
EFI_STATUS DoCertifiedWork();

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
