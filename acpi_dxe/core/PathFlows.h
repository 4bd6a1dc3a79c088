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

#endif  // ZEPHRIN_ACPI_DXE_CORE_PATH_FLOWS_H_
