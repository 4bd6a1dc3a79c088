// Product data: containers of typed data items through which the platform
// describes itself to both firmware images. A container reaches us in a HOB or as
// the RAW section of a firmware-volume file; the Product Data Info HOB lists the
// DataId values that apply to the running platform, in order of preference.
//
// Every walk here is bounded by the container that holds the items (the HOB's
// data, or the section read from the volume): an item is used only when its
// 24-byte header and its data lie inside the container, so a length from the data
// can never carry a read past it. The library reaches its firmware only through
// the binding declared in ProductDataPlatform.h.
#ifndef ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_H_
#define ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_H_

#include "uefi/UefiBaseType.h"

#define PRODUCT_DATA_HEADER_SIGNATURE SIGNATURE_64('_', '_', 'S', 'D', 'S', 'H', '_', '_')
#define DATA_ITEM_HEADER_SIGNATURE SIGNATURE_64('_', 'S', 'D', 'D', 'A', 'T', 'A', '_')

#define ACPI_META_DATA_ITEM_ID 7
#define INVALID_DATA_ITEM_ID 0xFFFF

#pragma pack(push, 1)
typedef struct {
  UINT64 Signature;     // PRODUCT_DATA_HEADER_SIGNATURE
  UINT8 Reserved[14];   // producer's own; not interpreted here
  UINT32 ItemsPresent;  // 0: the container is treated as holding no items
} PRODUCT_DATA_HEADER;

typedef struct {
  UINT64 Signature;   // DATA_ITEM_HEADER_SIGNATURE
  UINT16 HeaderSize;  // the next item starts HeaderSize + DataSize bytes after this one
  UINT16 ItemId;      // what the data is; INVALID_DATA_ITEM_ID ends a chain
  UINT32 DataSize;    // bytes of data, which always start at byte 24 of the item
  UINT32 Reserved;    // producer's own; not interpreted here
  UINT32 DataId;      // matched against the Product Data Info HOB's list
} DATA_ITEM_HEADER;
#pragma pack(pop)
static_assert(sizeof(PRODUCT_DATA_HEADER) == 26, "PRODUCT_DATA_HEADER layout");
static_assert(OFFSET_OF(PRODUCT_DATA_HEADER, ItemsPresent) == 22, "PRODUCT_DATA_HEADER.ItemsPresent offset");
static_assert(sizeof(DATA_ITEM_HEADER) == 24, "DATA_ITEM_HEADER layout");
static_assert(OFFSET_OF(DATA_ITEM_HEADER, HeaderSize) == 8, "DATA_ITEM_HEADER.HeaderSize offset");
static_assert(OFFSET_OF(DATA_ITEM_HEADER, ItemId) == 10, "DATA_ITEM_HEADER.ItemId offset");
static_assert(OFFSET_OF(DATA_ITEM_HEADER, DataSize) == 12, "DATA_ITEM_HEADER.DataSize offset");
static_assert(OFFSET_OF(DATA_ITEM_HEADER, DataId) == 20, "DATA_ITEM_HEADER.DataId offset");

// Data handed out for an item starts right behind its header, so the owning
// item's DataSize and DataId sit at fixed distances before the data pointer.
#define DATA_ITEM_DATA_OFFSET sizeof(DATA_ITEM_HEADER)
#define DATA_ITEM_DATA_SIZE_BEFORE_DATA (sizeof(DATA_ITEM_HEADER) - OFFSET_OF(DATA_ITEM_HEADER, DataSize))
#define DATA_ITEM_DATA_ID_BEFORE_DATA (sizeof(DATA_ITEM_HEADER) - OFFSET_OF(DATA_ITEM_HEADER, DataId))

// GUID-extension HOBs that carry product data.
inline constexpr EFI_GUID gProductDataHobGuid = {
    0xDB700D57, 0x62B5, 0x4D56, {0x96, 0xB7, 0xB3, 0xFE, 0xA4, 0xC1, 0x48, 0x53}};
// UINT32 Count, then Count UINT32 DataId values in order of preference.
inline constexpr EFI_GUID gProductDataInfoHobGuid = {
    0x1BF5B4BB, 0x5E19, 0x4EAF, {0xAB, 0xAF, 0x4D, 0xAC, 0x99, 0x4B, 0x71, 0xB9}};

// A position in one container's item chain, together with the container's bounds.
// Only the functions below move it, and they keep Offset on an item whose header
// and data lie inside the container.
typedef struct {
  const UINT8 *Container;  // the container's PRODUCT_DATA_HEADER
  UINTN Size;              // bytes that belong to the container
  UINTN Offset;            // current item, from Container
} DATA_ITEM_CURSOR;

// The current item's header and data; the cursor must come from a successful call below.
inline const DATA_ITEM_HEADER *DataItemHeaderAt(const DATA_ITEM_CURSOR *Cursor) {
  return reinterpret_cast<const DATA_ITEM_HEADER *>(Cursor->Container + Cursor->Offset);
}
inline VOID *DataItemDataAt(const DATA_ITEM_CURSOR *Cursor) {
  return const_cast<UINT8 *>(Cursor->Container + Cursor->Offset + DATA_ITEM_DATA_OFFSET);
}

// First item of a container of ContainerSize bytes. EFI_INVALID_PARAMETER for a
// NULL argument; EFI_NOT_FOUND for a container that is too short, has the wrong
// signature (logged), says it holds no items, or has no well-formed first item.
EFI_STATUS GetFirstDataItem(const VOID *Container, UINTN ContainerSize, DATA_ITEM_CURSOR *Item);

// Steps to the item after the current one. EFI_INVALID_PARAMETER when the cursor
// is not on an item; EFI_NOT_FOUND at the end of the chain, which is also where
// an item of INVALID_DATA_ITEM_ID or one that does not fit its container stands
// (both logged).
EFI_STATUS GetNextDataItemHeader(DATA_ITEM_CURSOR *Item);

// Data of the first item of ItemId in the container; with *Data not NULL, of the
// first such item after the one that owns *Data (which must be an item of this
// container, else EFI_INVALID_PARAMETER). Unlike GetNextDataItemHeader this walk
// does not stop at INVALID_DATA_ITEM_ID. EFI_NOT_FOUND when there is none.
EFI_STATUS FindDataItem(const VOID *Container, UINTN ContainerSize, UINT16 ItemId, VOID **Data);

// Bytes from the container start to the end of its last item in the chain: the
// extent a copy of the container must keep. Never more than BufferSize.
EFI_STATUS GetProductDataSize(const VOID *Container, UINTN BufferSize, UINTN *Size);

// The Product Data Info HOB's data (UINT32 Count, then the list), checked to hold
// Count entries; NULL when there is none, it is empty or malformed, or when more
// than one such HOB was published (logged).
const UINT32 *GetProductDataInfo();

// First item of ItemId in the product-data HOBs, in HOB list order.
EFI_STATUS FindDataItemInHobs(UINT16 ItemId, DATA_ITEM_CURSOR *Item);

// First item of ItemId in the product-data files of the two searched volumes. The
// container that holds it stays allocated for the life of the image; every other
// container read on the way is released.
EFI_STATUS FindDataItemInFv(UINT16 ItemId, DATA_ITEM_CURSOR *Item);

// The platform's item of ItemId: the first DataId of the Info HOB's list (from the
// start when *Data is NULL, else after the DataId of the item that owns *Data)
// carried by the first container with an ItemId item, searched from that item on.
// *Data receives the item's data and *DataSize (optional) its DataSize.
EFI_STATUS GetProductDataItem(UINT16 ItemId, VOID **Data, UINT32 *DataSize);

#endif  // ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_H_
