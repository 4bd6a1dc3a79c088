// The product-data container walk over arbitrary bytes, as a HOB's data or a
// volume's RAW section hands it over: the first item, every step, the search by
// ItemId with continuation, and the container's extent. The container is copied
// into a buffer of exactly its size, so any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "product_data/ProductData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2 || Size > 0x10000) return 0;
  // The first two bytes choose the ItemId searched for.
  UINT16 ItemId = static_cast<UINT16>(Data[0] | (Data[1] << 8));
  std::vector<UINT8> Container(Data + 2, Data + Size);
  const UINT8 *Bytes = Container.data();
  UINTN Length = Container.size();

  DATA_ITEM_CURSOR Item = {};
  if (GetFirstDataItem(Bytes, Length, &Item) == EFI_SUCCESS) {
    // Each step moves at least one item header, so this ends.
    do {
      const DATA_ITEM_HEADER *Header = DataItemHeaderAt(&Item);
      volatile UINT8 Last = 0;
      if (Header->DataSize != 0) Last = static_cast<UINT8 *>(DataItemDataAt(&Item))[Header->DataSize - 1];
      (void)Last;
    } while (GetNextDataItemHeader(&Item) == EFI_SUCCESS);
  }
  VOID *Found = nullptr;
  for (int Guard = 0; Guard < 0x10000 && FindDataItem(Bytes, Length, ItemId, &Found) == EFI_SUCCESS;
       Guard++) {
    UINT32 DataSize = 0;
    std::memcpy(&DataSize, static_cast<UINT8 *>(Found) - DATA_ITEM_DATA_SIZE_BEFORE_DATA, sizeof(DataSize));
    if (static_cast<UINT8 *>(Found) + DataSize > Bytes + Length) __builtin_trap();
  }
  UINTN Extent = 0;
  if (GetProductDataSize(Bytes, Length, &Extent) == EFI_SUCCESS && Extent > Length) __builtin_trap();
  return 0;
}
