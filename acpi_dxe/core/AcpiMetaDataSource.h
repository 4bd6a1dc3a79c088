// The ACPI meta data while it is open: the data of the platform's product-data
// item ACPI_META_DATA_ITEM_ID, used in place. The bytes belong to the HOB or to
// the container copy read from a firmware volume, which stays allocated for the
// life of the driver; closing only forgets the pointer.
#ifndef ZEPHRIN_ACPI_DXE_CORE_ACPI_META_DATA_SOURCE_H_
#define ZEPHRIN_ACPI_DXE_CORE_ACPI_META_DATA_SOURCE_H_

#include "uefi/UefiBaseType.h"

extern const UINT8 *mAcpiMetaDataPtr;  // NULL while closed
extern UINT64 mAcpiMetaDataLength;     // the item's DataSize; 0 while closed

// EFI_SUCCESS, EFI_ALREADY_STARTED (the open meta data is kept), or the status of
// the product-data lookup when the platform has no meta data.
EFI_STATUS OpenAcpiMetaData();

// EFI_SUCCESS, or EFI_NOT_STARTED when the meta data is not open.
EFI_STATUS CloseAcpiMetaData();

#endif  // ZEPHRIN_ACPI_DXE_CORE_ACPI_META_DATA_SOURCE_H_
