// The pieces the DSDT and SSDT patchers share when they put a saved NVS (or
// NON-NVS) region back on the certified path: fresh pages below 4 GiB holding
// the saved contents, and the two ways the AML learns where they are (the
// RegionOffset and RegionLen constants of a DefOpRegion, or two fields inside a
// parent region). The patchers differ only in their messages and memory types,
// which they hand in.
//
// Region pages are never freed, on failure paths too: once allocated they may
// already be named by a table or a parent region, and the operating system
// receives them through the installed tables.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_RESTORED_REGION_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_RESTORED_REGION_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "uefi/UefiSpec.h"

// A locator's PathName, certainly terminated: the data promises a NUL inside
// the 66 bytes, but "%a" must not run on when it lies.
typedef struct {
  CHAR8 Text[AML_OBJECT_PATH_NAME_SIZE + 1];
} RESTORED_REGION_PATH;

RESTORED_REGION_PATH RestoredRegionPathOf(const AML_OBJECT_LOCATOR *Locator);

// TRUE when the element holds its common part (header, description header,
// first locator); otherwise logs for Caller and gives FALSE.
BOOLEAN RestoredElementHoldsLocator(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// The saved contents of an NVS element whose fixed part is FixedLength bytes
// and whose NvsLength sits in the 8 bytes before them. The entry's own Length
// bounds it (the blob reader has matched it to the payload). A Length shorter
// than the fixed part, or an NvsLength that runs past the entry, is refused with
// EFI_COMPROMISED_DATA and a line naming Caller.
EFI_STATUS GetRestoredRegionData(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                 UINT32 FixedLength, UINT32 *NvsLength, const UINT8 **Data);

// Allocates whole pages of MemoryType below 4 GiB for NvsLength bytes (at least
// one page, so even an empty region has an address), copies the saved Data to
// their start and dumps them as "[Patched NVS]". AllocFailFormat is the caller's
// "%a - Unable to allocate ... byte buffer\n" line; on failure it is logged with
// NvsLength and the status of AllocatePages is returned.
EFI_STATUS CreateRestoredRegion(const CHAR8 *Caller, const CHAR8 *AllocFailFormat, EFI_MEMORY_TYPE MemoryType,
                                const UINT8 *Data, UINT32 NvsLength, EFI_PHYSICAL_ADDRESS *Address);

// Lines that name the table being patched.
typedef struct {
  const CHAR8 *UnknownAddressPrefix;  // "%a - Unrecognized opcode 0x%x in patching ... NvsAddres 0x%p\n"
  const CHAR8 *UnknownLengthPrefix;   // "%a - Unrecognized opcode 0x%x in patching ... NVS length 0x%x\n"
  const CHAR8 *Patched;               // "%a - ... of NVS region (0x%p, length 0x%x) patched into ... table\n"
} OPREGION_PATCH_MESSAGES;

// Points the DefOpRegion whose RegionOffset term Locator names at the region:
// the address goes into the RegionOffset constant, NvsLength into the RegionLen
// constant directly behind it, each in the width its prefix opcode names.
// Everything is checked before the first byte is written, so a refused patch
// leaves the table as it was:
//  - a locator PrefixByte that is no integer prefix: EFI_COMPROMISED_DATA;
//  - an address or length that the constant's width cannot hold (it would point
//    the AML at other memory): EFI_INVALID_PARAMETER;
//  - a constant that reaches past the table's Length, or an AML opcode that is
//    not the locator's PrefixByte: EFI_COMPROMISED_DATA.
// A RegionLen that is no prefixed constant is logged and left alone; the
// address is still written and the result is EFI_SUCCESS.
EFI_STATUS PatchOpRegionAddressAndLength(const CHAR8 *Caller, const OPREGION_PATCH_MESSAGES *Messages,
                                         UINT8 *Table, const AML_OBJECT_LOCATOR *Locator,
                                         EFI_PHYSICAL_ADDRESS Address, UINT32 NvsLength);

// Lines of the parent-field writer that name the kind of region.
typedef struct {
  const CHAR8 *AddressFailed;  // "%a - Failed to set ... address in parent opregion\n"
  const CHAR8 *LengthFailed;   // "%a - Failed to set ... length in parent opregion\n"
} TYPE_2_PATCH_MESSAGES;

// Writes the region's address and NvsLength into the two fields of the parent
// region that the Type 2 element names; the parent is the DefOpRegion the
// element's locator names, read from the table as patched so far. A value that
// its field's width cannot hold is refused (EFI_INVALID_PARAMETER) before either
// field is written. The table itself is not changed.
EFI_STATUS PatchType2ParentFields(const CHAR8 *Caller, const TYPE_2_PATCH_MESSAGES *Messages,
                                  const UINT8 *Table, const ACPI_DATA_STORAGE_NVS_TYPE_2 *Element,
                                  EFI_PHYSICAL_ADDRESS Address, UINT32 NvsLength);

// TRUE when Value fits in Width (1, 2, 4 or 8) bytes.
BOOLEAN RestoredValueFits(UINT64 Value, UINT8 Width);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_RESTORED_REGION_H_
