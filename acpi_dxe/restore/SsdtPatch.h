// Patching an SSDT on the certified path, before it is installed. Each NVS or
// NON-NVS element that followed the SSDT's entry in the stream gets fresh pages
// below 4 GiB holding the contents the custom path saved (ACPI NVS memory for
// NVS regions, reserved memory for NON-NVS ones; never freed: the installed
// table names them), and the SSDT's AML, or the fields of a parent region, is
// pointed at them:
//  - NVS, default: the RegionOffset and RegionLen constants of a DefOpRegion;
//  - NVS, Type 1: two named integer constants, one for the address and one for
//    the length;
//  - NON-NVS, Type 2: two fields of a parent region (the SSDT is not changed).
// Other kinds are refused. The patches are made in place in whichever buffer
// holds the SSDT (a copy of the stored table, a firmware-volume section or the
// meta data record's own table), bounded by the SSDT's own Length.
//
// Entries are trusted to be as long as their header's Length says (the blob
// reader matched it to the payload); everything inside them is checked.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_SSDT_PATCH_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_SSDT_PATCH_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "uefi/UefiBaseType.h"

// One SSDT NVS element (AcpiDataSubTypeNvs): default and Type 1 are restored,
// Type 2 and unknown kinds are refused with EFI_INVALID_PARAMETER.
EFI_STATUS PatchSsdtNVS(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// One SSDT NON-NVS element (AcpiDataSubTypeNonNvs): only Type 2 is restored.
EFI_STATUS PatchSsdtNonNVS(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// The element kinds, as PatchSsdtNVS and PatchSsdtNonNVS dispatch them.
EFI_STATUS ProcessSsdtNvsOnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
// An address or length that its constant's width cannot hold is refused
// (EFI_INVALID_PARAMETER) before either constant is written.
EFI_STATUS ProcessSsdtNvsType1OnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessSsdtNonNvsType2OnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_SSDT_PATCH_H_
