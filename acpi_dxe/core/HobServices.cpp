// The one HOB walker and configuration-table lookup of the driver. HOBs live in
// the list PEI handed over; they are read in place and never freed.
#include "acpi_dxe/core/DxeServices.h"

static VOID *mHobList;

EFI_STATUS EfiGetSystemConfigurationTable(const EFI_GUID *Guid, VOID **Table) {
  *Table = nullptr;
  if (gST == nullptr) return EFI_NOT_FOUND;
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    if (CompareGuid(&gST->ConfigurationTable[Index].VendorGuid, Guid)) {
      *Table = gST->ConfigurationTable[Index].VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

VOID *GetHobList() {
  if (mHobList == nullptr) EfiGetSystemConfigurationTable(&gEfiHobListGuid, &mHobList);
  return mHobList;
}

// Walks from HobStart to the end-of-list HOB. A HOB shorter than its own header
// would make the walk stand still or step backwards, so it ends the walk as if
// the list ended there.
VOID *GetNextGuidHob(const EFI_GUID *Guid, const VOID *HobStart) {
  const UINT8 *Hob = static_cast<const UINT8 *>(HobStart);
  if (Hob == nullptr) return nullptr;
  for (;;) {
    const EFI_HOB_GENERIC_HEADER *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) return nullptr;
    if (Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) return nullptr;
    if (Header->HobType == EFI_HOB_TYPE_GUID_EXTENSION && Header->HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      const EFI_HOB_GUID_TYPE *GuidHob = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob);
      if (CompareGuid(&GuidHob->Name, Guid)) return const_cast<UINT8 *>(Hob);
    }
    Hob += Header->HobLength;
  }
}

VOID *GetFirstGuidHob(const EFI_GUID *Guid) {
  return GetNextGuidHob(Guid, GetHobList());
}
