// Opening and closing the ACPI meta data, a product-data item that both boot
// paths read while they capture or restore tables.
#include "acpi_dxe/core/AcpiMetaDataSource.h"

#include "acpi_dxe/core/DebugLib.h"
#include "product_data/ProductData.h"

const UINT8 *mAcpiMetaDataPtr = NULL;
UINT64 mAcpiMetaDataLength = 0;

EFI_STATUS OpenAcpiMetaData() {
  if (mAcpiMetaDataPtr != NULL) {
    DebugPrint(DEBUG_ERROR, "%a - ACPI meta data is already open %x\n", "OpenAcpiMetaData",
               (UINT32)(UINTN)mAcpiMetaDataPtr);
    return EFI_ALREADY_STARTED;
  }
  mAcpiMetaDataPtr = NULL;
  mAcpiMetaDataLength = 0;
  VOID *Data = NULL;
  UINT32 DataSize = 0;
  EFI_STATUS Status = GetProductDataItem(ACPI_META_DATA_ITEM_ID, &Data, &DataSize);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_WARN, "%a - ACPI meta data was not found %r\n", "OpenAcpiMetaData", Status);
    return Status;
  }
  mAcpiMetaDataPtr = static_cast<const UINT8 *>(Data);
  mAcpiMetaDataLength = DataSize;
  DebugPrint(DEBUG_INFO, "%a - AcpiMetaDataPtr = %x, AcpiMetaDataLength = %x\n", "OpenAcpiMetaData",
             (UINT32)(UINTN)mAcpiMetaDataPtr, (UINT32)mAcpiMetaDataLength);
  return EFI_SUCCESS;
}

EFI_STATUS CloseAcpiMetaData() {
  if (mAcpiMetaDataPtr == NULL) {
    DebugPrint(DEBUG_WARN, "%a - Attempt to close ACPI meta data more than once\n", "CloseAcpiMetaData");
    return EFI_NOT_STARTED;
  }
  mAcpiMetaDataPtr = NULL;
  mAcpiMetaDataLength = 0;
  DebugPrint(DEBUG_INFO, "%a - ACPI meta data was closed\n", "CloseAcpiMetaData");
  return EFI_SUCCESS;
}
