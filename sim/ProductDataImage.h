// Builders of product data as a platform publishes it: containers of items (for
// product-data HOBs and for RAW sections of firmware-volume files) and the data
// of the Product Data Info HOB. Host code for tests, tools and fuzz seeds.
#ifndef ZEPHRIN_SIM_PRODUCT_DATA_IMAGE_H_
#define ZEPHRIN_SIM_PRODUCT_DATA_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "product_data/ProductData.h"

namespace sim {

struct ProductDataItem {
  UINT16 ItemId = 0;
  UINT32 DataId = 0;
  std::vector<UINT8> Data;
  UINT16 HeaderSize = sizeof(DATA_ITEM_HEADER);  // the step to the next item is HeaderSize + data size
};

// Items start at byte 26. ItemsPresent is the header's "holds items" word (0
// makes readers treat the container as empty). Bytes a HeaderSize above 24 adds
// between items are zero.
std::vector<UINT8> BuildProductDataContainer(const std::vector<ProductDataItem> &Items,
                                             UINT32 ItemsPresent = 1);

// UINT32 count, then the DataId values in order of preference.
std::vector<UINT8> BuildProductDataInfo(const std::vector<UINT32> &DataIds);

// Offset of item Index inside a container built from Items (for tests that patch it).
size_t ProductDataItemOffset(const std::vector<ProductDataItem> &Items, size_t Index);

}  // namespace sim

#endif  // ZEPHRIN_SIM_PRODUCT_DATA_IMAGE_H_
