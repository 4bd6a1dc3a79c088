// What a firmware image provides to the product-data library. The library is one
// piece of source for both images; each image binds it to its own firmware
// services by defining these functions (the DXE driver in acpi_dxe/core on boot
// services and the Firmware Volume 2 protocol, the PEI module on PEI services).
// Nothing else in product_data/ reaches the platform.
#ifndef ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_PLATFORM_H_
#define ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_PLATFORM_H_

#include "common/DebugLevels.h"
#include "product_data/ProductDataFv.h"
#include "uefi/UefiBaseType.h"

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);

// GUID-extension HOB lookup: the first HOB named Guid at or after HobStart (the
// start of the list for GetFirstGuidHob), or NULL.
VOID *GetFirstGuidHob(const EFI_GUID *Guid);
VOID *GetNextGuidHob(const EFI_GUID *Guid, const VOID *HobStart);

bool CompareGuid(const EFI_GUID *First, const EFI_GUID *Second);

// Next product-data container of the volume search, as (*Container,
// *ContainerSize) with *ContainerSize from GetProductDataSize. *Context is NULL
// before the first call; the search sets it up and keeps its place in it.
EFI_STATUS GetNextProductDataFromFv(FV_SEARCH_CONTEXT **Context, UINTN *ContainerSize, VOID **Container);

// A container from GetNextProductDataFromFv that is no longer needed (the DXE
// driver frees its copy; the PEI module reads containers in place).
VOID ReleaseProductDataContainer(VOID *Container);

// The search context once the search is over (NULL allowed).
VOID ReleaseFvSearchContext(FV_SEARCH_CONTEXT *Context);

#endif  // ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_PLATFORM_H_
