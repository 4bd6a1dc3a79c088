// Where an installed table's SystemMemory OperationRegion lies, worked out from
// the AML as an OS would see it: the RegionOffset and RegionLen terms may be
// integer constants, Name objects holding constants, or fields of another
// region (whose memory is then read). The dump application uses it to find
// the regions the restored tables point at, independently of the meta data.
//
// Relative names are looked up in the region's own scope and then its parents
// (the ACPI search rule for a single NameSeg); a field's parent region is
// looked up the same way from the scope of the region that uses the field.
#ifndef ZEPHRIN_TESTS_QEMU_REGION_RESOLVER_H_
#define ZEPHRIN_TESTS_QEMU_REGION_RESOLVER_H_

#include "uefi/UefiBaseType.h"

// Path is absolute, as ASL writes it ("\\GNVS", "\\_SB.SCRA.NNVS"). Table is the
// whole table; its Length bounds every read of the AML. EFI_NOT_FOUND when the
// table declares no such region, EFI_UNSUPPORTED for a term or a field layout
// this resolver does not evaluate, EFI_COMPROMISED_DATA for malformed AML.
EFI_STATUS ResolveOpRegion(const UINT8 *Table, const CHAR8 *Path, UINT64 *Address, UINT64 *Length);

// Bit offset and width of the named field NameSeg declared by a Field()
// anywhere in Table, and the NameSeg of its region. EFI_NOT_FOUND when no
// Field declares it.
EFI_STATUS FindFieldUnit(const UINT8 *Table, const CHAR8 NameSeg[4], CHAR8 RegionSeg[4], UINT64 *BitOffset,
                         UINT64 *BitWidth);

#endif  // ZEPHRIN_TESTS_QEMU_REGION_RESOLVER_H_
