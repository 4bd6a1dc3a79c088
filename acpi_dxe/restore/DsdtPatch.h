// Patching the DSDT on the certified path, before it is installed. The DSDT comes
// from a firmware-volume file and so holds the values the platform was built
// with; each element entry that followed the DSDT entry in the stream puts one
// boot-time value back:
//  - an NVS element: the saved contents of an NVS OperationRegion go into fresh
//    ACPI NVS pages below 4 GiB (never freed: the installed table names them) and
//    the AML, or for a Type 2 element the fields of a parent region, is pointed
//    at them;
//  - an integer element: a named integer constant is set from the captured
//    value, the meta data's default or a UEFI variable, as its meta data record
//    says (the record is found with FindDsdtIntegerMetaDataPtr).
// Every write lands in place inside the DSDT buffer, bounded by the DSDT's own
// Length; no checksum is computed here (the install fixes it).
//
// Entries are trusted to be as long as their header's Length says (the blob
// reader matched it to the payload); everything inside them is checked.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_DSDT_PATCH_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_DSDT_PATCH_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "uefi/UefiBaseType.h"

// One DSDT NVS element (AcpiDataSubTypeNvs): default and Type 2 are restored,
// Type 1 and unknown kinds are refused with EFI_INVALID_PARAMETER.
EFI_STATUS PatchDsdtNVS(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// A Type 2 DSDT NVS element: the region's address and length go into two fields
// of the parent region that the element's locator names.
EFI_STATUS ProcessDsdtNvsType2OnCertifiedPath(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// One DSDT integer element with the meta data Record that asked for it. The
// record, not the entry, says where the value comes from; a variable that is
// missing or cannot be read gives the record's default. A value wider than the
// AML constant is refused (EFI_INVALID_PARAMETER), never truncated.
EFI_STATUS PatchDsdtInteger(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                            const ACPI_DATA_STORAGE_ENTRY_HEADER *Record);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_DSDT_PATCH_H_
