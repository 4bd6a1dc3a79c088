// The one XSDT iterator: finds the ACPI 2.0+ RSDP in the configuration table and
// hands out the XSDT's entries. It keeps no state: the caller holds the XSDT
// pointer, the entry count and the next index.
//
// Calling order: one GetFirstAcpiTable (entry 0), then GetNextAcpiTable with
// *EntryIndex starting at 1 while it is below the entry count. Entries are handed
// out as the XSDT holds them; a zero entry comes back as a NULL table pointer and
// the caller decides what that means.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_XSDT_WALK_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_XSDT_WALK_H_

#include "uefi/Acpi.h"
#include "uefi/UefiBaseType.h"

// Entries in an XSDT of XsdtLength bytes: (XsdtLength - 36) / 8, 0 below 36 bytes.
UINT32 XsdtEntryCount(UINT32 XsdtLength);

// *AcpiTable must be NULL on entry (EFI_ALREADY_STARTED otherwise). On success
// *AcpiTable is entry 0 and *XsdtTablePtr the XSDT, or both NULL with *EntryCount
// 0 for an empty XSDT. EFI_NOT_FOUND when there is no ACPI 2.0 RSDP or it names
// no XSDT, EFI_UNSUPPORTED for an RSDP revision below 2.
EFI_STATUS GetFirstAcpiTable(EFI_ACPI_DESCRIPTION_HEADER **AcpiTable,
                             EFI_ACPI_DESCRIPTION_HEADER **XsdtTablePtr, UINT32 *EntryCount);

// Entry *EntryIndex (1 .. count - 1) of the XSDT; *EntryIndex then moves on by one.
EFI_STATUS GetNextAcpiTable(UINT32 *EntryIndex, EFI_ACPI_DESCRIPTION_HEADER *XsdtTablePtr,
                            EFI_ACPI_DESCRIPTION_HEADER **AcpiTable);

// Logs the walk over every XSDT entry (addresses only, no contents).
VOID DebugDumpAllTables();

// Logs Count bytes as hex lines of 16, each preceded by Title.
VOID DumpNvsHex(const CHAR8 *Title, const VOID *Data, UINTN Count);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_XSDT_WALK_H_
