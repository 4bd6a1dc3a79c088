// The PEI services the module uses, each reached through the services table of
// the running PEI phase. Without a table (nothing to call) every service fails
// with EFI_NOT_READY, which the callers treat like any other failure.
#ifndef ZEPHRIN_FEATURE_CONTROL_PEI_PEI_SERVICES_LIB_H_
#define ZEPHRIN_FEATURE_CONTROL_PEI_PEI_SERVICES_LIB_H_

#include "uefi/PiPeiServices.h"

VOID *PeiGetHobList();
EFI_STATUS PeiCreateHob(UINT16 Type, UINT16 Length, VOID **Hob);
EFI_STATUS PeiLocatePpi(const EFI_GUID *Guid, UINTN Instance, VOID **Ppi);
// Zero-filled PEI pool, which is never freed; NULL when the core has none left.
VOID *PeiAllocateZeroPool(UINTN Size);
EFI_STATUS PeiFfsFindNextVolume(UINTN Instance, EFI_PEI_FV_HANDLE *VolumeHandle);
EFI_STATUS PeiFfsGetVolumeInfo(EFI_PEI_FV_HANDLE VolumeHandle, EFI_FV_INFO *VolumeInfo);
EFI_STATUS PeiFfsFindNextFile(EFI_FV_FILETYPE SearchType, EFI_PEI_FV_HANDLE VolumeHandle,
                              EFI_PEI_FILE_HANDLE *FileHandle);
EFI_STATUS PeiFfsGetFileInfo(EFI_PEI_FILE_HANDLE FileHandle, EFI_FV_FILE_INFO *FileInfo);
EFI_STATUS PeiFfsFindSectionData(EFI_SECTION_TYPE SectionType, EFI_PEI_FILE_HANDLE FileHandle,
                                 VOID **SectionData);

// Plain byte copy; the module needs no more than this.
VOID PeiCopyBytes(VOID *Destination, const VOID *Source, UINTN Length);

#endif  // ZEPHRIN_FEATURE_CONTROL_PEI_PEI_SERVICES_LIB_H_
