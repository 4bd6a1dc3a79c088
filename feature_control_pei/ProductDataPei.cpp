// Product-data volume search of the PEI module: containers are RAW sections of
// freeform files in the two product-data volumes, found with the PEI core's FFS
// services and read in place, inside the volume. PEI pool is never freed, so
// neither the search context nor a container is ever released.
#include "common/ByteReader.h"
#include "feature_control_pei/FeatureControlPei.h"
#include "feature_control_pei/PeiServicesLib.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataPlatform.h"

namespace {

// Stores VolumeHandle in every volume entry whose FV name is FvName.
VOID PdAssignVolume(FV_SEARCH_CONTEXT *Context, const EFI_GUID *FvName, EFI_PEI_FV_HANDLE VolumeHandle) {
  for (UINT32 Index = 0; Index < PRODUCT_DATA_VOLUME_COUNT; Index++) {
    if (CompareGuid(FvName, Context->Volumes[Index].FvName)) Context->Volumes[Index].Handle = VolumeHandle;
  }
}

// A fresh context in *Context with its volume table filled and the first volume
// selected.
EFI_STATUS PdStartFvSearch(FV_SEARCH_CONTEXT **Context) {
  FV_SEARCH_CONTEXT *Fresh = static_cast<FV_SEARCH_CONTEXT *>(PeiAllocateZeroPool(sizeof(FV_SEARCH_CONTEXT)));
  if (Fresh == NULL) return EFI_OUT_OF_RESOURCES;
  *Context = Fresh;
  InitFvSearchContext(Fresh);
  Fresh->FileHandle = NULL;
  EFI_STATUS Status = FindProductDataVolumes(Fresh);
  if (EFI_ERROR(Status)) return Status;
  return EFI_ERROR(NextProductDataVolume(Fresh)) ? EFI_NOT_FOUND : EFI_SUCCESS;
}

// Next freeform file of the search: within the current volume, then in the
// volumes after it. EFI_NOT_FOUND when no volume has one left; any other failure
// of the core ends the search (logged).
EFI_STATUS PdNextFreeformFile(FV_SEARCH_CONTEXT *Context) {
  for (;;) {
    if (Context->VolumeIndex >= PRODUCT_DATA_VOLUME_COUNT) return EFI_NOT_FOUND;
    EFI_PEI_FILE_HANDLE FileHandle = Context->FileHandle;
    EFI_STATUS Status = PeiFfsFindNextFile(EFI_FV_FILETYPE_FREEFORM,
                                           Context->Volumes[Context->VolumeIndex].Handle, &FileHandle);
    if (!EFI_ERROR(Status)) {
      Context->FileHandle = FileHandle;
      return EFI_SUCCESS;
    }
    if (Status != EFI_NOT_FOUND) {
      DebugPrint(DEBUG_ERROR,
                 "[%a]: An unexpected error occurred finding the next product data FFS file - %r.\n",
                 "GetNextProductDataFromFv", Status);
      return Status;
    }
    Context->FileHandle = NULL;
    if (EFI_ERROR(NextProductDataVolume(Context))) {
      // Mark the search as over: a further call must neither start the last
      // volume again from its first file nor select past the volume table.
      Context->VolumeIndex = PRODUCT_DATA_VOLUME_COUNT;
      return EFI_NOT_FOUND;
    }
  }
}

// Bytes of the file that lie from SectionData on. The core promises a section
// inside the file; one it places elsewhere gives 0, so nothing outside the file
// is ever read.
UINTN PdBytesFromSection(const EFI_FV_FILE_INFO *FileInfo, const VOID *SectionData) {
  const UINT8 *Start = static_cast<const UINT8 *>(FileInfo->Buffer);
  const UINT8 *Section = static_cast<const UINT8 *>(SectionData);
  if (Start == NULL || Section < Start) return 0;
  UINTN Distance = static_cast<UINTN>(Section - Start);
  return Distance <= FileInfo->BufferSize ? FileInfo->BufferSize - Distance : 0;
}

bool PdStartsWithContainerSignature(const VOID *Section, UINTN Available) {
  ByteReader In(Section, Available);
  UINT64 Signature = 0;
  return Available >= sizeof(PRODUCT_DATA_HEADER) && In.Read64(&Signature) &&
         Signature == PRODUCT_DATA_HEADER_SIGNATURE;
}

}  // namespace

EFI_STATUS FindProductDataVolumes(FV_SEARCH_CONTEXT *Context) {
  if (Context == NULL) return EFI_INVALID_PARAMETER;
  EFI_PEI_FV_HANDLE VolumeHandle = NULL;
  for (UINTN Instance = 0; !EFI_ERROR(PeiFfsFindNextVolume(Instance, &VolumeHandle)); Instance++) {
    EFI_FV_INFO VolumeInfo = {};
    if (!EFI_ERROR(PeiFfsGetVolumeInfo(VolumeHandle, &VolumeInfo))) {
      PdAssignVolume(Context, &VolumeInfo.FvName, VolumeHandle);
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS GetNextProductDataFromFv(FV_SEARCH_CONTEXT **Context, UINTN *ContainerSize, VOID **Container) {
  if (Context == NULL || ContainerSize == NULL || Container == NULL) return EFI_INVALID_PARAMETER;
  *ContainerSize = 0;
  *Container = NULL;
  if (*Context == NULL || (*Context)->Signature != FV_SEARCH_CONTEXT_SIGNATURE) {
    EFI_STATUS Status = PdStartFvSearch(Context);
    if (EFI_ERROR(Status)) return Status;
  }
  FV_SEARCH_CONTEXT *Search = *Context;
  for (;;) {
    EFI_STATUS Status = PdNextFreeformFile(Search);
    if (EFI_ERROR(Status)) return Status;
    EFI_FV_FILE_INFO FileInfo = {};
    Status = PeiFfsGetFileInfo(Search->FileHandle, &FileInfo);
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "[%a]: Failed to get FFS file info!\n", "GetNextProductDataFromFv");
      return Status;
    }
    if (IsExcludedProductDataFile(&FileInfo.FileName)) continue;
    VOID *SectionData = NULL;
    Status = PeiFfsFindSectionData(EFI_SECTION_RAW, Search->FileHandle, &SectionData);
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "[%a]: Failed to find the data section in FFS {%g}.\n",
                 "GetNextProductDataFromFv", &FileInfo.FileName);
      return Status;
    }
    UINTN Available = PdBytesFromSection(&FileInfo, SectionData);
    if (!PdStartsWithContainerSignature(SectionData, Available)) continue;
    Status = GetProductDataSize(SectionData, Available, ContainerSize);
    if (EFI_ERROR(Status)) return Status;
    Search->SectionSize = Available;
    *Container = SectionData;
    return EFI_SUCCESS;
  }
}

VOID ReleaseProductDataContainer(VOID *) {}

VOID ReleaseFvSearchContext(FV_SEARCH_CONTEXT *) {}
