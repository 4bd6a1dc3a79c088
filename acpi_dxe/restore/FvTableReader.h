// Reading an ACPI table that a firmware-volume file carries in one of its RAW
// sections. The driver's own volume is asked first, then every other volume.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_FV_TABLE_READER_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_FV_TABLE_READER_H_

#include "uefi/UefiBaseType.h"

// The first RAW section of file FileName that holds a table with Signature and,
// for an SSDT only, OemTableId (the 8 header bytes at offset 16). A section is a
// table only when it holds the whole description header and the header's Length
// lies between the header size and the section size. On EFI_SUCCESS *Table is
// the section's pool buffer, which the caller owns. EFI_INVALID_PARAMETER for a
// NULL argument; otherwise the status that ended the search (normally
// EFI_NOT_FOUND), with nothing left to the caller.
EFI_STATUS ReadAcpiTableFromFv(const EFI_GUID *FileName, UINT32 Signature, UINT64 OemTableId, VOID **Table);

// The firmware volume the driver was loaded from (the Loaded Image protocol's
// DeviceHandle); NULL when the image handle carries no Loaded Image protocol.
EFI_HANDLE GetImageFvHandle();

// RAW section number Instance of file FileName in the volume on FvHandle, in a
// pool buffer the protocol allocates and the caller frees. EFI_NOT_FOUND when
// FvHandle is NULL or carries no Firmware Volume 2 protocol; otherwise the
// status of ReadSection.
EFI_STATUS ReadRawSectionFromFv(EFI_HANDLE FvHandle, const EFI_GUID *FileName, UINTN Instance, VOID **Buffer,
                                UINTN *Size);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_FV_TABLE_READER_H_
