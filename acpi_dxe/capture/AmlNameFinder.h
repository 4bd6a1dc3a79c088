// The one AML name finder and PkgLength decoder. The driver itself never searches
// AML (the meta data carries byte offsets); this finder produces those offsets
// from a compiled table, for the tools that write meta data and for checking that
// a locator still names what it claims to.
//
// It walks the declarations a platform's data tables use: Scope, Device,
// Processor, PowerResource, ThermalZone (entered), Name and OperationRegion
// (recorded), Method, Field, IndexField, BankField, If, Else, While (skipped by
// their PkgLength), External, Mutex, Event, Alias. Any other opcode at the term
// level stops the walk with EFI_UNSUPPORTED rather than guess at its length.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_

#include "acpi_dxe/capture/AmlObjectLocator.h"
#include "common/ByteReader.h"
#include "uefi/UefiBaseType.h"

// Decodes the PkgLength at the reader's position and moves past it. *PkgLength is
// the encoded value, which counts the PkgLength bytes themselves. FALSE for a
// truncated encoding or a multi-byte lead whose reserved bits 4 and 5 are set.
BOOLEAN AmlDecodePkgLength(ByteReader *Reader, UINT32 *PkgLength);

// Bytes a PkgLength of Value needs (1..4), 0 when Value exceeds 2^28 - 1.
UINT8 AmlPkgLengthEncodedSize(UINT32 Value);

typedef enum {
  AmlNamedObjectName = 1,      // DefName: Name (XXXX, <data>)
  AmlNamedObjectOpRegion = 2,  // DefOpRegion: OperationRegion (XXXX, space, offset, length)
} AML_NAMED_OBJECT_KIND;

typedef struct {
  AML_NAMED_OBJECT_KIND Kind;
  UINT32 NameOffset;   // table offset of the object's last NameSeg
  UINT32 TermOffset;   // table offset of the value term (Name) or RegionOffset term (OpRegion)
  UINT8 PrefixByte;    // first opcode of that term
  UINT32 ValueOffset;  // TermOffset + 1 when PrefixByte is an integer prefix, else 0
  UINT8 RegionSpace;   // OpRegion only
} AML_NAMED_OBJECT;

// Finds the Name or OperationRegion whose absolute path is Path, written as ASL
// does ("\\GNVS", "\\_SB.PCI0.NVSR"; segments shorter than four characters are
// padded with '_'). Table is the whole table, header included; its Length bounds
// the walk. EFI_NOT_FOUND when the walk ends without it, EFI_UNSUPPORTED on an
// opcode the walk does not know, EFI_COMPROMISED_DATA on malformed AML.
EFI_STATUS AmlFindNamedObject(const UINT8 *Table, const CHAR8 *Path, AML_NAMED_OBJECT *Found);

// Fills a locator (PathName, NameOffset, PrefixByte, ValueOffset) for the found
// object; EFI_UNSUPPORTED when its term is not a prefixed integer constant.
EFI_STATUS AmlBuildLocator(const CHAR8 *Path, const AML_NAMED_OBJECT *Found, AML_OBJECT_LOCATOR *Locator);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_
