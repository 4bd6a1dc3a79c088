// Volume order and iterator steps of the product-data volume search, shared by
// both images.
#include "product_data/ProductDataFv.h"

#include "product_data/ProductDataPlatform.h"

VOID InitFvSearchContext(FV_SEARCH_CONTEXT *Context) {
  Context->Signature = FV_SEARCH_CONTEXT_SIGNATURE;
  Context->FileKey = NULL;
  Context->Volumes[0].FvName = &gProductDataPrimaryFvGuid;
  Context->Volumes[1].FvName = &gProductDataSecondaryFvGuid;
}

EFI_STATUS NextProductDataVolume(FV_SEARCH_CONTEXT *Context) {
  // At or past the last entry there is nothing left; testing ">=" rather than the
  // last index alone keeps a context that ran off the table from selecting beyond it.
  if (Context->VolumeIndex >= PRODUCT_DATA_VOLUME_COUNT - 1) return EFI_NOT_FOUND;
  if (Context->Started) {
    Context->VolumeIndex++;
  } else {
    Context->Started = TRUE;
  }
  while (Context->VolumeIndex < PRODUCT_DATA_VOLUME_COUNT &&
         Context->Volumes[Context->VolumeIndex].Handle == NULL) {
    Context->VolumeIndex++;
  }
  return Context->VolumeIndex < PRODUCT_DATA_VOLUME_COUNT ? EFI_SUCCESS : EFI_NOT_FOUND;
}

BOOLEAN IsExcludedProductDataFile(const EFI_GUID *FileName) {
  return CompareGuid(FileName, &gProductDataExcludedFile1Guid) ||
         CompareGuid(FileName, &gProductDataExcludedFile2Guid);
}
