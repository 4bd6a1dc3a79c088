// The search for product-data files in the two firmware volumes that may hold
// them. The iterator state and the volume order are shared by both images; how a
// volume is found and a file read is the image's own (ProductDataPlatform.h).
#ifndef ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_FV_H_
#define ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_FV_H_

#include "uefi/UefiBaseType.h"

#define FV_SEARCH_CONTEXT_SIGNATURE SIGNATURE_32('F', 'V', 'C', 'D')
#define PRODUCT_DATA_VOLUME_COUNT 2

// Searched in this order, identified by the FV name GUID of the volume.
inline constexpr EFI_GUID gProductDataPrimaryFvGuid = {
    0xB8264440, 0x0649, 0x40F3, {0x8E, 0xCA, 0x15, 0x33, 0x35, 0xBD, 0xB4, 0x6F}};
inline constexpr EFI_GUID gProductDataSecondaryFvGuid = {
    0x9FD6C921, 0x200A, 0x4644, {0x89, 0x94, 0x7C, 0x0F, 0xEF, 0xA6, 0x2B, 0x0D}};

// Files in those volumes that are never read as product data.
inline constexpr EFI_GUID gProductDataExcludedFile1Guid = {
    0x5C1B6E9F, 0x6737, 0x4D50, {0x95, 0x5E, 0x32, 0xB5, 0x60, 0x5B, 0xE8, 0x27}};
inline constexpr EFI_GUID gProductDataExcludedFile2Guid = {
    0x08C131FA, 0x6183, 0x4659, {0xBA, 0x10, 0x8E, 0x37, 0xE3, 0xD7, 0x1C, 0xF3}};

typedef struct {
  const EFI_GUID *FvName;  // FV name GUID of the volume
  VOID *Handle;            // the image's handle of that volume; NULL when not found
} PRODUCT_DATA_VOLUME;

typedef struct {
  UINT32 Signature;  // FV_SEARCH_CONTEXT_SIGNATURE; a context without it is set up anew
  BOOLEAN Started;   // FALSE until the first volume has been selected
  union {
    VOID *FileKey;     // DXE: the FV2 GetNextFile key (KeySize bytes); NULL between volumes
    VOID *FileHandle;  // PEI: the last file returned; NULL between volumes
  };
  UINT32 VolumeIndex;  // current entry of Volumes
  PRODUCT_DATA_VOLUME Volumes[PRODUCT_DATA_VOLUME_COUNT];
  // Bytes of the file section that holds the container last returned: the bound
  // of a walk over its items. The container's own size ends its chain at an item
  // of INVALID_DATA_ITEM_ID, but the search by ItemId goes on past such an item,
  // in a volume file as in a HOB.
  UINTN SectionSize;
} FV_SEARCH_CONTEXT;

// Sets the signature and the volume table of a zero-filled context.
VOID InitFvSearchContext(FV_SEARCH_CONTEXT *Context);

// Selects the first volume (first call) or the one after the current, skipping
// volumes that were not found. EFI_NOT_FOUND when no volume is left.
EFI_STATUS NextProductDataVolume(FV_SEARCH_CONTEXT *Context);

// TRUE for the file names that are never product data.
BOOLEAN IsExcludedProductDataFile(const EFI_GUID *FileName);

#endif  // ZEPHRIN_PRODUCT_DATA_PRODUCT_DATA_FV_H_
