// Walking the item chain of one product-data container. Every position is checked
// against the container's size before a byte of it is read.
#include "common/ByteReader.h"
#include "common/SafeInt.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataPlatform.h"

namespace {

// The fields of an item header that decide where the chain goes.
struct PdItemFields {
  UINT16 HeaderSize;
  UINT16 ItemId;
  UINT32 DataSize;
};

// TRUE when a whole item header starts at Offset and carries the item signature;
// a position without one ends every chain, silently.
bool PdItemSignatureAt(const UINT8 *Container, UINTN Size, UINTN Offset) {
  ByteReader In(Container, Size);
  UINT64 Signature = 0;
  return In.PeekAt64(Offset, &Signature) && Signature == DATA_ITEM_HEADER_SIGNATURE &&
         RangeFits(Offset, sizeof(DATA_ITEM_HEADER), Size);
}

// Reads the item at Offset (which carries the signature) and checks that it fits:
// its data, always at byte 24 of the item, must lie inside the container, and its
// step (HeaderSize + DataSize) must move the chain on: a zero step would never
// end. A HeaderSize below the header's own size is only a short step, as
// producers of such containers expect. A misfit is logged for Caller and ends the
// chain.
bool PdReadItem(const CHAR8 *Caller, const UINT8 *Container, UINTN Size, UINTN Offset, PdItemFields *Fields) {
  ByteReader In(Container, Size);
  In.PeekAt16(Offset + OFFSET_OF(DATA_ITEM_HEADER, HeaderSize), &Fields->HeaderSize);
  In.PeekAt16(Offset + OFFSET_OF(DATA_ITEM_HEADER, ItemId), &Fields->ItemId);
  In.PeekAt32(Offset + OFFSET_OF(DATA_ITEM_HEADER, DataSize), &Fields->DataSize);
  if (Fields->HeaderSize == 0 && Fields->DataSize == 0) {
    DebugPrint(DEBUG_ERROR, "  [%a]: Item at offset 0x%x has a step of 0 bytes!\n", Caller, (UINT32)Offset);
    return false;
  }
  if (!RangeFits(Offset + DATA_ITEM_DATA_OFFSET, Fields->DataSize, Size)) {
    DebugPrint(DEBUG_ERROR, "  [%a]: Item at offset 0x%x with 0x%x bytes of data runs past its container!\n",
               Caller, (UINT32)Offset, Fields->DataSize);
    return false;
  }
  return true;
}

// Offset of the item after the one at Offset; FALSE when it would not fit a UINTN.
bool PdNextItemOffset(UINTN Offset, const PdItemFields *Fields, UINTN *Next) {
  UINTN Step = (UINTN)Fields->HeaderSize;
  return SafeUintnAdd(Step, Fields->DataSize, &Step) && SafeUintnAdd(Offset, Step, Next);
}

// A well-formed item at Offset, logged for Caller when it carries the signature
// but does not fit.
bool PdItemAt(const CHAR8 *Caller, const UINT8 *Container, UINTN Size, UINTN Offset, PdItemFields *Fields) {
  return PdItemSignatureAt(Container, Size, Offset) && PdReadItem(Caller, Container, Size, Offset, Fields);
}

VOID PdLogInvalidItemId(const CHAR8 *Caller) {
  DebugPrint(DEBUG_ERROR, "  [%a]: Invalid Item ID %d!\n", Caller, (UINT32)INVALID_DATA_ITEM_ID);
}

// Steps the cursor as GetNextDataItemHeader does, logging for Caller.
EFI_STATUS PdStepToNextItem(const CHAR8 *Caller, DATA_ITEM_CURSOR *Item) {
  PdItemFields Current = {};
  if (!PdItemAt(Caller, Item->Container, Item->Size, Item->Offset, &Current)) return EFI_INVALID_PARAMETER;
  UINTN Next = 0;
  PdItemFields Fields = {};
  if (!PdNextItemOffset(Item->Offset, &Current, &Next) ||
      !PdItemSignatureAt(Item->Container, Item->Size, Next)) {
    return EFI_NOT_FOUND;
  }
  ByteReader In(Item->Container, Item->Size);
  In.PeekAt16(Next + OFFSET_OF(DATA_ITEM_HEADER, ItemId), &Fields.ItemId);
  if (Fields.ItemId == INVALID_DATA_ITEM_ID) {
    PdLogInvalidItemId(Caller);
    return EFI_NOT_FOUND;
  }
  if (!PdReadItem(Caller, Item->Container, Item->Size, Next, &Fields)) return EFI_NOT_FOUND;
  Item->Offset = Next;
  return EFI_SUCCESS;
}

// First item of ItemId at or after the cursor's item, stepping without the
// INVALID_DATA_ITEM_ID test.
EFI_STATUS PdFindItemFrom(DATA_ITEM_CURSOR *Item, UINT16 ItemId) {
  UINTN Offset = Item->Offset;
  PdItemFields Fields = {};
  while (PdItemAt("FindDataItem", Item->Container, Item->Size, Offset, &Fields)) {
    if (Fields.ItemId == ItemId) {
      Item->Offset = Offset;
      return EFI_SUCCESS;
    }
    if (!PdNextItemOffset(Offset, &Fields, &Offset)) break;
  }
  return EFI_NOT_FOUND;
}

}  // namespace

EFI_STATUS GetFirstDataItem(const VOID *Container, UINTN ContainerSize, DATA_ITEM_CURSOR *Item) {
  if (Container == NULL || Item == NULL) return EFI_INVALID_PARAMETER;
  ByteReader In(Container, ContainerSize);
  UINT64 Signature = 0;
  UINT32 ItemsPresent = 0;
  if (In.PeekAt64(0, &Signature) && Signature != PRODUCT_DATA_HEADER_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "  [%a]: Invalid data structure signature!\n", "GetFirstDataItem");
    return EFI_NOT_FOUND;
  }
  if (!In.PeekAt32(OFFSET_OF(PRODUCT_DATA_HEADER, ItemsPresent), &ItemsPresent)) {
    DebugPrint(DEBUG_ERROR, "  [%a]: Container of %d bytes is shorter than its header!\n", "GetFirstDataItem",
               (UINT32)ContainerSize);
    return EFI_NOT_FOUND;
  }
  const UINT8 *Bytes = static_cast<const UINT8 *>(Container);
  PdItemFields Fields = {};
  if (ItemsPresent == 0 ||
      !PdItemAt("GetFirstDataItem", Bytes, ContainerSize, sizeof(PRODUCT_DATA_HEADER), &Fields)) {
    return EFI_NOT_FOUND;
  }
  *Item = {Bytes, ContainerSize, sizeof(PRODUCT_DATA_HEADER)};
  return EFI_SUCCESS;
}

EFI_STATUS GetNextDataItemHeader(DATA_ITEM_CURSOR *Item) {
  if (Item == NULL || Item->Container == NULL) return EFI_INVALID_PARAMETER;
  return PdStepToNextItem("GetNextDataItemHeader", Item);
}

EFI_STATUS FindDataItem(const VOID *Container, UINTN ContainerSize, UINT16 ItemId, VOID **Data) {
  if (Container == NULL || Data == NULL) return EFI_INVALID_PARAMETER;
  DATA_ITEM_CURSOR Item = {};
  EFI_STATUS Status = GetFirstDataItem(Container, ContainerSize, &Item);
  if (EFI_ERROR(Status)) return Status;
  if (*Data == NULL) {
    if (DataItemHeaderAt(&Item)->ItemId == ItemId) {
      *Data = DataItemDataAt(&Item);
      return EFI_SUCCESS;
    }
  } else {
    // The owner of *Data must be an item of this container, found by its address.
    const UINT8 *Owner = static_cast<const UINT8 *>(*Data) - DATA_ITEM_DATA_OFFSET;
    PdItemFields Fields = {};
    if (Owner < Item.Container ||
        !PdItemAt("FindDataItem", Item.Container, Item.Size, (UINTN)(Owner - Item.Container), &Fields)) {
      return EFI_INVALID_PARAMETER;
    }
    Item.Offset = (UINTN)(Owner - Item.Container);
  }
  PdItemFields Current = {};
  PdReadItem("FindDataItem", Item.Container, Item.Size, Item.Offset, &Current);
  if (!PdNextItemOffset(Item.Offset, &Current, &Item.Offset)) return EFI_NOT_FOUND;
  Status = PdFindItemFrom(&Item, ItemId);
  if (!EFI_ERROR(Status)) *Data = DataItemDataAt(&Item);
  return Status;
}

EFI_STATUS GetProductDataSize(const VOID *Container, UINTN BufferSize, UINTN *Size) {
  if (Container == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  DATA_ITEM_CURSOR Item = {};
  EFI_STATUS Status = GetFirstDataItem(Container, BufferSize, &Item);
  if (EFI_ERROR(Status)) return Status;
  while (!EFI_ERROR(PdStepToNextItem("GetNextDataItemHeader", &Item))) {
  }
  // The last item's data fits the buffer; a header that claims padding past the
  // end of the buffer does not make the container any longer than its bytes.
  PdItemFields Last = {};
  PdReadItem("GetProductDataSize", Item.Container, Item.Size, Item.Offset, &Last);
  UINTN End = 0;
  *Size = PdNextItemOffset(Item.Offset, &Last, &End) && End <= BufferSize ? End : BufferSize;
  return EFI_SUCCESS;
}
