// The one HOB walker and configuration-table lookup of the driver. HOBs live in
// the list PEI handed over; they are read in place and never freed.
#include "acpi_dxe/core/DxeServices.h"
#include "common/GuidHobWalk.h"

VOID *mHobList;

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

// The walk itself is shared with the PEI module (common/GuidHobWalk.h).
VOID *GetNextGuidHob(const EFI_GUID *Guid, const VOID *HobStart) {
  return HobFindGuidFrom(Guid, HobStart);
}

VOID *GetFirstGuidHob(const EFI_GUID *Guid) {
  return GetNextGuidHob(Guid, GetHobList());
}
