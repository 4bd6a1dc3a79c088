// A copy of the PI HOB list with GUID-extension HOBs appended, which the test
// platform publishes as the HOB list configuration table. OVMF's PEI phase
// knows nothing of the custom-path HOB or of product data, and DXE cannot add
// HOBs to the list it was handed, so the platform hands later drivers a longer
// copy instead: every original HOB, byte for byte, then the new ones, then the
// end-of-list HOB.
#ifndef ZEPHRIN_TESTS_QEMU_HOB_LIST_COPY_H_
#define ZEPHRIN_TESTS_QEMU_HOB_LIST_COPY_H_

#include "uefi/PiHob.h"

typedef struct {
  const EFI_GUID *Name;
  const VOID *Data;  // may be NULL when DataSize is 0
  UINTN DataSize;
} HOB_TO_APPEND;

// Bytes of the list at HobList up to and including its end-of-list HOB, at most
// Limit. EFI_COMPROMISED_DATA for a HOB shorter than its header, one that is
// not a multiple of 8 bytes, or a list without an end within Limit.
EFI_STATUS HobListMeasure(const VOID *HobList, UINTN Limit, UINTN *Size);

// Bytes the copy needs: ListSize (from HobListMeasure) plus each appended HOB
// (24-byte header, data padded to 8 bytes). EFI_BAD_BUFFER_SIZE when one HOB
// would exceed the 16-bit HobLength.
EFI_STATUS HobListCopySize(UINTN ListSize, const HOB_TO_APPEND *Hobs, UINTN HobCount, UINTN *CopySize);

// Writes the copy into Copy (CopySize bytes, 8-byte aligned) and points the
// handoff HOB's end-of-list field at the copy's own end HOB. ListSize must be
// the list's size as HobListMeasure gives it: EFI_COMPROMISED_DATA otherwise.
EFI_STATUS HobListCopyWithAppended(const VOID *HobList, UINTN ListSize, const HOB_TO_APPEND *Hobs,
                                   UINTN HobCount, VOID *Copy, UINTN CopySize);

#endif  // ZEPHRIN_TESTS_QEMU_HOB_LIST_COPY_H_
