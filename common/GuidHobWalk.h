// The walk over a PI HOB list for GUID-extension HOBs, for an image that has the
// list's start in hand (the PEI module gets it from the GetHobList service).
#ifndef ZEPHRIN_COMMON_GUID_HOB_WALK_H_
#define ZEPHRIN_COMMON_GUID_HOB_WALK_H_

#include "uefi/PiHob.h"

inline bool HobGuidEquals(const EFI_GUID *First, const EFI_GUID *Second) {
  const UINT8 *A = reinterpret_cast<const UINT8 *>(First);
  const UINT8 *B = reinterpret_cast<const UINT8 *>(Second);
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
    if (A[Index] != B[Index]) return false;
  }
  return true;
}

// The first GUID-extension HOB named Guid at or after HobStart, or NULL at the
// end-of-list HOB. A HOB shorter than its own header would make the walk stand
// still or step backwards, so it ends the walk as if the list ended there.
inline VOID *HobFindGuidFrom(const EFI_GUID *Guid, const VOID *HobStart) {
  const UINT8 *Hob = static_cast<const UINT8 *>(HobStart);
  if (Hob == NULL) return NULL;
  for (;;) {
    const EFI_HOB_GENERIC_HEADER *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) return NULL;
    if (Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) return NULL;
    if (Header->HobType == EFI_HOB_TYPE_GUID_EXTENSION && Header->HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        HobGuidEquals(&reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob)->Name, Guid)) {
      return const_cast<UINT8 *>(Hob);
    }
    Hob += Header->HobLength;
  }
}

#endif  // ZEPHRIN_COMMON_GUID_HOB_WALK_H_
