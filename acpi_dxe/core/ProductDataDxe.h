// The DXE driver's binding of the product-data library: the volume search on the
// Firmware Volume 2 protocol. The rest of the binding (DebugPrint, the HOB
// lookups, CompareGuid) is the driver's ordinary platform glue.
#ifndef ZEPHRIN_ACPI_DXE_CORE_PRODUCT_DATA_DXE_H_
#define ZEPHRIN_ACPI_DXE_CORE_PRODUCT_DATA_DXE_H_

#include "product_data/ProductDataPlatform.h"

// Fills the context's volume handles from the handles that carry the Firmware
// Volume 2 protocol, by the FV name in each handle's device path. EFI_NOT_FOUND
// when no handle carries the protocol; EFI_SUCCESS otherwise, also when neither
// volume is among them.
EFI_STATUS FindProductDataVolumes(FV_SEARCH_CONTEXT *Context);

// Longest device path walked while looking for a volume's FV name node. Device
// paths carry no total size, so the walk needs a bound of its own.
#define PRODUCT_DATA_MAX_DEVICE_PATH_SIZE 0x1000

#endif  // ZEPHRIN_ACPI_DXE_CORE_PRODUCT_DATA_DXE_H_
