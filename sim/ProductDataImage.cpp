// Product-data containers and the Info HOB's data, byte for byte.
#include "sim/ProductDataImage.h"

#include <cstring>

namespace sim {

std::vector<UINT8> BuildProductDataContainer(const std::vector<ProductDataItem> &Items, UINT32 ItemsPresent) {
  PRODUCT_DATA_HEADER Header{};
  Header.Signature = PRODUCT_DATA_HEADER_SIGNATURE;
  Header.ItemsPresent = ItemsPresent;
  std::vector<UINT8> Bytes(sizeof(Header));
  std::memcpy(Bytes.data(), &Header, sizeof(Header));
  for (const ProductDataItem &Item : Items) {
    DATA_ITEM_HEADER ItemHeader{};
    ItemHeader.Signature = DATA_ITEM_HEADER_SIGNATURE;
    ItemHeader.HeaderSize = Item.HeaderSize;
    ItemHeader.ItemId = Item.ItemId;
    ItemHeader.DataSize = static_cast<UINT32>(Item.Data.size());
    ItemHeader.DataId = Item.DataId;
    size_t Start = Bytes.size();
    Bytes.resize(Start + sizeof(ItemHeader));
    std::memcpy(Bytes.data() + Start, &ItemHeader, sizeof(ItemHeader));
    Bytes.insert(Bytes.end(), Item.Data.begin(), Item.Data.end());
    // A larger HeaderSize moves the next item further; the gap stays zero.
    if (Item.HeaderSize > sizeof(ItemHeader))
      Bytes.resize(Bytes.size() + Item.HeaderSize - sizeof(ItemHeader), 0);
  }
  return Bytes;
}

std::vector<UINT8> BuildProductDataInfo(const std::vector<UINT32> &DataIds) {
  std::vector<UINT8> Bytes(sizeof(UINT32) * (1 + DataIds.size()));
  UINT32 Count = static_cast<UINT32>(DataIds.size());
  std::memcpy(Bytes.data(), &Count, sizeof(Count));
  if (!DataIds.empty())
    std::memcpy(Bytes.data() + sizeof(Count), DataIds.data(), DataIds.size() * sizeof(UINT32));
  return Bytes;
}

size_t ProductDataItemOffset(const std::vector<ProductDataItem> &Items, size_t Index) {
  size_t Offset = sizeof(PRODUCT_DATA_HEADER);
  for (size_t Item = 0; Item < Index && Item < Items.size(); Item++) {
    size_t Header =
        Items[Item].HeaderSize > sizeof(DATA_ITEM_HEADER) ? Items[Item].HeaderSize : sizeof(DATA_ITEM_HEADER);
    Offset += Header + Items[Item].Data.size();
  }
  return Offset;
}

}  // namespace sim
