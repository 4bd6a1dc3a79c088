// Finding the platform's product-data item: the Product Data Info HOB says which
// DataId values apply, the product-data HOBs and then the firmware volumes supply
// the containers.
#include "common/ByteReader.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataPlatform.h"
#include "uefi/PiHob.h"

namespace {

// Data of a GUID-extension HOB and its size; FALSE for a HOB too short to be one,
// which also ends any walk that would step by its length.
bool PdGuidHobData(const VOID *Hob, const UINT8 **Data, UINTN *Size) {
  UINT16 HobLength = static_cast<const EFI_HOB_GENERIC_HEADER *>(Hob)->HobLength;
  if (HobLength < sizeof(EFI_HOB_GUID_TYPE)) {
    DebugPrint(DEBUG_ERROR, "[%a] - GUID HOB length %d is shorter than its header\n", "ProductData",
               (UINT32)HobLength);
    return false;
  }
  *Data = static_cast<const UINT8 *>(Hob) + sizeof(EFI_HOB_GUID_TYPE);
  *Size = HobLength - sizeof(EFI_HOB_GUID_TYPE);
  return true;
}

const VOID *PdHobAfter(const VOID *Hob) {
  return static_cast<const UINT8 *>(Hob) + static_cast<const EFI_HOB_GENERIC_HEADER *>(Hob)->HobLength;
}

// DataId of the item owning Data, a data pointer this library handed out.
UINT32 PdOwnerDataId(const VOID *Data) {
  ByteReader Owner(static_cast<const UINT8 *>(Data) - DATA_ITEM_DATA_ID_BEFORE_DATA, sizeof(UINT32));
  UINT32 DataId = 0;
  Owner.Read32(&DataId);
  return DataId;
}

// List index to start from: 0 for a first call, otherwise the one after the
// entry that selected the previous result. FALSE when no entry is left.
bool PdStartIndex(const UINT32 *Info, const VOID *Previous, UINT32 *Start) {
  *Start = 0;
  if (Previous == NULL) return true;
  UINT32 PreviousId = PdOwnerDataId(Previous);
  for (UINT32 Index = 0; Index < Info[0]; Index++) {
    if (Info[1 + Index] == PreviousId) {
      *Start = Index + 1;
      return *Start < Info[0];
    }
  }
  return false;
}

// The first item from Base on (Base included) whose DataId is DataId.
bool PdFindDataIdFrom(const DATA_ITEM_CURSOR *Base, UINT32 DataId, DATA_ITEM_CURSOR *Found) {
  DATA_ITEM_CURSOR Item = *Base;
  do {
    if (DataItemHeaderAt(&Item)->DataId == DataId) {
      *Found = Item;
      return true;
    }
  } while (!EFI_ERROR(GetNextDataItemHeader(&Item)));
  return false;
}

}  // namespace

const UINT32 *GetProductDataInfo() {
  const VOID *Hob = GetFirstGuidHob(&gProductDataInfoHobGuid);
  const UINT8 *Data = NULL;
  UINTN Size = 0;
  if (Hob == NULL || !PdGuidHobData(Hob, &Data, &Size)) return NULL;
  if (GetNextGuidHob(&gProductDataInfoHobGuid, PdHobAfter(Hob)) != NULL) {
    DebugPrint(DEBUG_ERROR, "[%a] - Only a single Product Data Info HOB should be published!\n",
               "GetProductDataInfo");
    return NULL;
  }
  ByteReader In(Data, Size);
  UINT32 Count = 0;
  if (!In.Read32(&Count) || Count == 0) return NULL;
  if (Count > In.Remaining() / sizeof(UINT32)) {
    DebugPrint(DEBUG_ERROR, "[%a] - Product Data Info HOB lists %d DataIds but holds only %d\n",
               "GetProductDataInfo", Count, (UINT32)(In.Remaining() / sizeof(UINT32)));
    return NULL;
  }
  // HOB data starts 8-byte aligned, so the list can be read as UINT32 values.
  return reinterpret_cast<const UINT32 *>(Data);
}

EFI_STATUS FindDataItemInHobs(UINT16 ItemId, DATA_ITEM_CURSOR *Item) {
  for (const VOID *Hob = GetFirstGuidHob(&gProductDataHobGuid); Hob != NULL;
       Hob = GetNextGuidHob(&gProductDataHobGuid, PdHobAfter(Hob))) {
    const UINT8 *Container = NULL;
    UINTN Size = 0;
    if (!PdGuidHobData(Hob, &Container, &Size)) break;
    VOID *Data = NULL;
    if (!EFI_ERROR(FindDataItem(Container, Size, ItemId, &Data))) {
      *Item = {Container, Size,
               (UINTN)(static_cast<const UINT8 *>(Data) - Container) - DATA_ITEM_DATA_OFFSET};
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS FindDataItemInFv(UINT16 ItemId, DATA_ITEM_CURSOR *Item) {
  FV_SEARCH_CONTEXT *Context = NULL;
  UINTN Size = 0;
  VOID *Container = NULL;
  EFI_STATUS Status = EFI_NOT_FOUND;
  while (!EFI_ERROR(GetNextProductDataFromFv(&Context, &Size, &Container))) {
    VOID *Data = NULL;
    UINTN Bound = Context->SectionSize;
    if (!EFI_ERROR(FindDataItem(Container, Bound, ItemId, &Data))) {
      const UINT8 *Bytes = static_cast<const UINT8 *>(Container);
      *Item = {Bytes, Bound, (UINTN)(static_cast<const UINT8 *>(Data) - Bytes) - DATA_ITEM_DATA_OFFSET};
      Status = EFI_SUCCESS;
      break;
    }
    ReleaseProductDataContainer(Container);
  }
  ReleaseFvSearchContext(Context);
  return Status;
}

EFI_STATUS GetProductDataItem(UINT16 ItemId, VOID **Data, UINT32 *DataSize) {
  if (Data == NULL) return EFI_INVALID_PARAMETER;
  const UINT32 *Info = GetProductDataInfo();
  UINT32 Start = 0;
  if (Info == NULL || !PdStartIndex(Info, *Data, &Start)) return EFI_NOT_FOUND;

  DATA_ITEM_CURSOR Base = {};
  bool FromFv = false;
  if (EFI_ERROR(FindDataItemInHobs(ItemId, &Base))) {
    if (EFI_ERROR(FindDataItemInFv(ItemId, &Base))) return EFI_NOT_FOUND;
    FromFv = true;
  }
  for (UINT32 Index = Start; Index < Info[0]; Index++) {
    DATA_ITEM_CURSOR Found = {};
    if (PdFindDataIdFrom(&Base, Info[1 + Index], &Found)) {
      *Data = DataItemDataAt(&Found);
      if (DataSize != NULL) *DataSize = DataItemHeaderAt(&Found)->DataSize;
      return EFI_SUCCESS;
    }
  }
  // Nothing of the container read from a volume is handed out: let it go.
  if (FromFv) ReleaseProductDataContainer(const_cast<UINT8 *>(Base.Container));
  return EFI_NOT_FOUND;
}
