// Reading and rewriting numbers inside a table's AML at the places a locator names,
// and inside another NVS region ("Type 2" fields). Nothing here parses AML: the
// meta data says where each number is. Every offset is still checked against the
// table's own Length (offset 4 of the table), because the meta data is platform
// data and may not match the table it is applied to.
//
// None of these allocate, change a length or fix a checksum; values are rewritten
// in place with the width the AML already has. Range checks of a new value against
// that width are the caller's.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_AML_PRIMITIVES_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_AML_PRIMITIVES_H_

#include "acpi_dxe/capture/AmlObjectLocator.h"
#include "uefi/UefiBaseType.h"

// Data bytes behind an integer prefix opcode: 1, 2, 4 or 8; 0 for any other opcode
// (ZeroOp, OneOp, OnesOp and names carry no data bytes we could rewrite).
UINT8 AmlIntegerPrefixWidth(UINT8 PrefixByte);

// Length of the table that starts at Aml (its header's Length field).
UINT32 AmlTableLength(const UINT8 *Aml);

// Bounded little-endian access to Width (1, 2, 4 or 8) bytes at Offset of the table at Aml.
// FALSE, and nothing read or written, when the bytes do not lie inside the table.
BOOLEAN AmlReadTableInteger(const UINT8 *Aml, UINT64 Offset, UINT8 Width, UINT64 *Value);
BOOLEAN AmlWriteTableInteger(UINT8 *Aml, UINT64 Offset, UINT8 Width, UINT64 Value);

// Value of the prefixed integer constant the locator names; Size is its byte count.
// EFI_INVALID_PARAMETER for a PrefixByte that is not an integer prefix,
// EFI_COMPROMISED_DATA when the locator points outside the table or the AML holds
// another opcode in front of the value (a name or a computed term, not a constant).
EFI_STATUS ExtractNumericConstantFromAml(const UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator, UINT64 *Value,
                                         UINT8 *Size);

// Writes the low bytes of Value over the constant the locator names, keeping its
// width. Refuses (EFI_COMPROMISED_DATA, nothing written) a locator whose prefix
// disagrees with the AML or that points outside the table.
EFI_STATUS SetNumericConstantInAml(UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator, UINT64 Value);

// Address and length of a DefOpRegion whose RegionOffset term the locator names;
// the RegionLen term follows the RegionOffset data bytes directly. Outputs are
// written only on success.
EFI_STATUS ExtractOpRegionAddressAndLengthFromAml(const UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator,
                                                  UINT64 *Address, UINT64 *Length);

// A Type 2 value inside the parent region [ParentAddress, ParentAddress +
// ParentLength): Mode and SizeIndicator as in AmlObjectLocator.h. Mode 1 gives
// EFI_UNSUPPORTED; a field outside the parent region EFI_INVALID_PARAMETER.
EFI_STATUS ExtractType2NvsValue(UINT64 ParentAddress, UINT64 ParentLength, UINT8 Mode, UINT8 SizeIndicator,
                                UINT64 Offset, UINT64 *Value, UINT8 *Size);
EFI_STATUS SetType2NvsValue(UINT64 ParentAddress, UINT64 ParentLength, UINT8 Mode, UINT8 SizeIndicator,
                            UINT64 Offset, UINT64 Value);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_AML_PRIMITIVES_H_
