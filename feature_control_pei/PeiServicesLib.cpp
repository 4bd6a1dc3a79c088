// Thin adapters from the module to the PEI services table, and the HOB and GUID
// helpers the product-data library expects of its image.
#include "feature_control_pei/PeiServicesLib.h"

#include "common/GuidHobWalk.h"
#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductDataPlatform.h"

namespace {

const EFI_PEI_SERVICES **PeiTable() {
  const EFI_PEI_SERVICES **Services = GetPeiServicesTablePointer();
  return (Services != NULL && *Services != NULL) ? Services : NULL;
}

}  // namespace

VOID *PeiGetHobList() {
  const EFI_PEI_SERVICES **Services = PeiTable();
  VOID *HobList = NULL;
  if (Services == NULL || EFI_ERROR((*Services)->GetHobList(Services, &HobList))) return NULL;
  return HobList;
}

EFI_STATUS PeiCreateHob(UINT16 Type, UINT16 Length, VOID **Hob) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->CreateHob(Services, Type, Length, Hob);
}

EFI_STATUS PeiLocatePpi(const EFI_GUID *Guid, UINTN Instance, VOID **Ppi) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  EFI_PEI_PPI_DESCRIPTOR *Descriptor = NULL;
  return (*Services)->LocatePpi(Services, Guid, Instance, &Descriptor, Ppi);
}

VOID *PeiAllocateZeroPool(UINTN Size) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  VOID *Buffer = NULL;
  if (Services == NULL || EFI_ERROR((*Services)->AllocatePool(Services, Size, &Buffer)) || Buffer == NULL) {
    return NULL;
  }
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Size; Index++) Bytes[Index] = 0;
  return Buffer;
}

EFI_STATUS PeiFfsFindNextVolume(UINTN Instance, EFI_PEI_FV_HANDLE *VolumeHandle) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->FfsFindNextVolume(Services, Instance, VolumeHandle);
}

EFI_STATUS PeiFfsGetVolumeInfo(EFI_PEI_FV_HANDLE VolumeHandle, EFI_FV_INFO *VolumeInfo) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->FfsGetVolumeInfo(VolumeHandle, VolumeInfo);
}

EFI_STATUS PeiFfsFindNextFile(EFI_FV_FILETYPE SearchType, EFI_PEI_FV_HANDLE VolumeHandle,
                              EFI_PEI_FILE_HANDLE *FileHandle) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->FfsFindNextFile(Services, SearchType, VolumeHandle, FileHandle);
}

EFI_STATUS PeiFfsGetFileInfo(EFI_PEI_FILE_HANDLE FileHandle, EFI_FV_FILE_INFO *FileInfo) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->FfsGetFileInfo(FileHandle, FileInfo);
}

EFI_STATUS PeiFfsFindSectionData(EFI_SECTION_TYPE SectionType, EFI_PEI_FILE_HANDLE FileHandle,
                                 VOID **SectionData) {
  const EFI_PEI_SERVICES **Services = PeiTable();
  if (Services == NULL) return EFI_NOT_READY;
  return (*Services)->FfsFindSectionData(Services, SectionType, FileHandle, SectionData);
}

VOID PeiCopyBytes(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *Dst = static_cast<UINT8 *>(Destination);
  const UINT8 *Src = static_cast<const UINT8 *>(Source);
  for (UINTN Index = 0; Index < Length; Index++) Dst[Index] = Src[Index];
}

VOID *GetNextGuidHob(const EFI_GUID *Guid, const VOID *HobStart) {
  return HobFindGuidFrom(Guid, HobStart);
}

VOID *GetFirstGuidHob(const EFI_GUID *Guid) {
  return HobFindGuidFrom(Guid, PeiGetHobList());
}

bool CompareGuid(const EFI_GUID *First, const EFI_GUID *Second) {
  return HobGuidEquals(First, Second);
}
