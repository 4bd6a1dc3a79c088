// TglZephrinFeatureControlPei: publishes the platform's feature-control flags, a
// product-data item, unchanged in the feature control HOB for other platform
// components. The module runs once, at its entry point, and keeps no state.
#ifndef ZEPHRIN_FEATURE_CONTROL_PEI_FEATURE_CONTROL_PEI_H_
#define ZEPHRIN_FEATURE_CONTROL_PEI_FEATURE_CONTROL_PEI_H_

#include "product_data/ProductDataFv.h"
#include "uefi/PiPeiServices.h"

#define FEATURE_CONTROL_ITEM_ID 0x2000

// Name of the GUID-extension HOB that carries a copy of the flags item's data.
inline constexpr EFI_GUID gFeatureControlHobGuid = {
    0x03F3D4A7, 0xE935, 0x4E05, {0xB5, 0xAA, 0xC4, 0xFC, 0x61, 0x11, 0x8C, 0x7B}};

// Always EFI_SUCCESS: a platform without flags is not an error of this module.
extern "C" EFI_STATUS EFIAPI TglZephrinFeatureControlPeiEntryPoint(EFI_PEI_FILE_HANDLE FileHandle,
                                                                   const EFI_PEI_SERVICES **PeiServices);

// The PEI services table of the running PEI phase (see PeiServicesTablePointer.cpp).
const EFI_PEI_SERVICES **GetPeiServicesTablePointer();
// What the entry point learns of the table; only the host build keeps it.
VOID SetPeiServicesTablePointerFromEntry(const EFI_PEI_SERVICES **PeiServices);

// Fills the volume table of Context from the volumes the PEI core knows, by FV
// name. EFI_INVALID_PARAMETER for a NULL Context.
EFI_STATUS FindProductDataVolumes(FV_SEARCH_CONTEXT *Context);

#endif  // ZEPHRIN_FEATURE_CONTROL_PEI_FEATURE_CONTROL_PEI_H_
