// Cache persistence: AcpiDataCache holds the blob stream in the EFI 1.1
// compressed format (8-byte size header, then the bit stream). Its contents are
// platform data like any variable's: the size, the attributes and both sizes in
// the compressed header are checked before a byte is decoded, and the decoder
// writes only into the MAX_CACHE_SIZE read cache.
#include "acpi_dxe/blob/BlobCache.h"

#include "acpi_dxe/blob/BlobCompare.h"
#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

namespace {

constexpr const CHAR8 *mFillCacheName = "FillCache";
constexpr const CHAR8 *mFlushCacheName = "FlushCache";

// GetVariable and SetVariable take non-const name and GUID pointers although
// they only read them; these copies keep the constants constant.
struct BLOB_CACHE_VARIABLE_ID {
  CHAR16 Name[sizeof(ACPI_DATA_CACHE_VARIABLE_NAME) / sizeof(CHAR16)];
  EFI_GUID Guid;
};

VOID BlobGetCacheVariableId(BLOB_CACHE_VARIABLE_ID *Id) {
  CopyMem(Id->Name, ACPI_DATA_CACHE_VARIABLE_NAME, sizeof(Id->Name));
  Id->Guid = gAcpiDataCacheVariableGuid;
}

// Asks for the variable's size and attributes without a buffer, and checks both.
EFI_STATUS BlobQueryCacheVariable(BLOB_CACHE_VARIABLE_ID *Id, UINTN *DataSize) {
  UINT32 Attributes = 0;
  *DataSize = 0;
  EFI_STATUS Status = gRT->GetVariable(Id->Name, &Id->Guid, &Attributes, DataSize, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL) {
    DebugPrint(DEBUG_WARN, "%a - could not read %s size from var store: %r\n", mFillCacheName, Id->Name,
               Status);
    // Success for a NULL buffer means the platform reported a size it did not check.
    return Status == EFI_SUCCESS ? EFI_DEVICE_ERROR : Status;
  }
  if (Attributes != ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES) {
    DebugPrint(DEBUG_ERROR, "%a - ACPI cache UEFI variable attributes are invalid!\n", mFillCacheName);
    return EFI_COMPROMISED_DATA;
  }
  if (*DataSize > MAX_CACHE_SIZE) {
    DebugPrint(DEBUG_WARN, "%a - compressed blob size greater than max cache size; cannot decompress.\n",
               mFillCacheName);
    return EFI_BUFFER_TOO_SMALL;
  }
  // Too short to hold the compressed header: the size query below would refuse it,
  // so refuse it here, before a buffer (possibly of zero bytes) is allocated.
  if (*DataSize < COMPRESS_HEADER_SIZE) {
    DebugPrint(DEBUG_ERROR, "%a - failed to determine decompressed size: %r\n", mFillCacheName,
               EFI_INVALID_PARAMETER);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS BlobReadCacheVariable(BLOB_CACHE_VARIABLE_ID *Id, VOID *Buffer, UINTN *DataSize) {
  UINTN BufferSize = *DataSize;
  EFI_STATUS Status = gRT->GetVariable(Id->Name, &Id->Guid, nullptr, DataSize, Buffer);
  // A size above the buffer on success would be a platform fault; trust none.
  if (!EFI_ERROR(Status) && *DataSize > BufferSize) Status = EFI_DEVICE_ERROR;
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to read %s from var store: %r\n", mFillCacheName, Id->Name, Status);
    return Status;
  }
  DebugPrint(DEBUG_INFO, "%a - read 0x%x bytes from %s variable (compressed).\n", mFillCacheName,
             (UINT32)*DataSize, Id->Name);
  return EFI_SUCCESS;
}

// Decodes DataSize bytes of compressed data into the read cache and, on success
// only, makes them the read stream.
EFI_STATUS BlobDecompressIntoReadCache(const VOID *Compressed, UINTN DataSize) {
  UINT32 UncompressedSize = 0;
  UINT32 ScratchSize = 0;
  // DataSize was checked against MAX_CACHE_SIZE, so it fits in 32 bits.
  EFI_STATUS Status = GetInfo(Compressed, (UINT32)DataSize, &UncompressedSize, &ScratchSize);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to determine decompressed size: %r\n", mFillCacheName,
               EFI_INVALID_PARAMETER);
    return EFI_INVALID_PARAMETER;
  }
  if (UncompressedSize > MAX_CACHE_SIZE) {
    DebugPrint(DEBUG_WARN, "%a - decompressed blob size greater than max cache size; cannot decompress.\n",
               mFillCacheName);
    return EFI_BUFFER_TOO_SMALL;
  }
  VOID *Scratch = AllocatePool(DECOMPRESS_SCRATCH_SIZE);
  if (Scratch == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - failed to allocate scratch buffer for decompression.\n", mFillCacheName);
    return EFI_OUT_OF_RESOURCES;
  }
  Status = Decompress(Compressed, mReadBlobStreamPointer, Scratch);
  FreePool(Scratch);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to decompress blob: %r\n", mFillCacheName, Status);
    return Status;
  }
  mReadBlobStreamMaxOffset = UncompressedSize;
  DebugPrint(DEBUG_INFO, "%a - mReadBlobStreamPointer   = %x.\n", mFillCacheName,
             (UINT32)(UINTN)mReadBlobStreamPointer);
  DebugPrint(DEBUG_INFO, "%a - mReadBlobStreamMaxOffset = %x.\n", mFillCacheName, mReadBlobStreamMaxOffset);
  return EFI_SUCCESS;
}

// A cache stored with other attributes (left by older firmware, or written by
// someone else before the policy was enforced) is never loaded, and UEFI refuses
// to rewrite a variable with different attributes: without this the stale
// variable would block every later store. Deleting it first lets the new cache in.
VOID BlobDeleteCacheWithOtherAttributes(BLOB_CACHE_VARIABLE_ID *Id) {
  UINT32 Attributes = 0;
  UINTN DataSize = 0;
  EFI_STATUS Status = gRT->GetVariable(Id->Name, &Id->Guid, &Attributes, &DataSize, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL || Attributes == ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES) return;
  Status = gRT->SetVariable(Id->Name, &Id->Guid, 0, 0, nullptr);
  DebugPrint(DEBUG_WARN, "%a - deleted %s stored with attributes 0x%x: %r\n", mFlushCacheName, Id->Name,
             Attributes, Status);
}

// Compresses the write stream and writes it to the variable. A stream that does
// not compress below its own size is not stored; an empty one never is.
EFI_STATUS BlobStoreWriteStream() {
  UINTN DstSize = mWriteBlobStreamOffset;
  if (DstSize == 0) {
    // Even the 8-byte compressed header does not fit a zero-byte output.
    DebugPrint(DEBUG_ERROR, "%a - failed to compress blob: %r\n", mFlushCacheName, EFI_BUFFER_TOO_SMALL);
    return EFI_BUFFER_TOO_SMALL;
  }
  UINT8 *Compressed = static_cast<UINT8 *>(AllocatePool(DstSize));
  if (Compressed == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - failed to allocate space to compress the blob stream.\n", mFlushCacheName);
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS Status = Compress(mWriteBlobStreamPointer, mWriteBlobStreamOffset, Compressed, &DstSize);
  if (!EFI_ERROR(Status) && DstSize > mWriteBlobStreamOffset) Status = EFI_BUFFER_TOO_SMALL;
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to compress blob: %r\n", mFlushCacheName, Status);
    FreePool(Compressed);
    return Status;
  }
  BLOB_CACHE_VARIABLE_ID Id;
  BlobGetCacheVariableId(&Id);
  BlobDeleteCacheWithOtherAttributes(&Id);
  Status = gRT->SetVariable(Id.Name, &Id.Guid, ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES, DstSize, Compressed);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to write compressed blob to variable: %r\n", mFlushCacheName,
               Status);
  } else {
    DebugPrint(DEBUG_INFO, "%a - successfully flushed 0x%x bytes to %s variable.\n", mFlushCacheName,
               (UINT32)DstSize, Id.Name);
  }
  FreePool(Compressed);
  return Status;
}

}  // namespace

EFI_STATUS FillCache() {
  EFI_STATUS Status = AllocateCache(BlobAccessRead);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate cache with status of %r\n", __func__, Status);
    return Status;
  }
  if (gRT == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Error, gRT == NULL.\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  BLOB_CACHE_VARIABLE_ID Id;
  BlobGetCacheVariableId(&Id);
  UINTN DataSize = 0;
  Status = BlobQueryCacheVariable(&Id, &DataSize);
  if (EFI_ERROR(Status)) return Status;

  VOID *Compressed = AllocatePool(DataSize);
  if (Compressed == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - failed to allocate memory for compressed blob.\n", __func__);
    return EFI_OUT_OF_RESOURCES;
  }
  Status = BlobReadCacheVariable(&Id, Compressed, &DataSize);
  if (!EFI_ERROR(Status)) Status = BlobDecompressIntoReadCache(Compressed, DataSize);
  FreePool(Compressed);
  return Status;
}

EFI_STATUS FlushCache(BLOB_HANDLE Handle) {
  (void)Handle;
  if (gRT == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Error, gRT == NULL.\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, "%a - mWriteBlobStreamPointer = %x.\n", __func__,
             (UINT32)(UINTN)mWriteBlobStreamPointer);
  DebugPrint(DEBUG_INFO, "%a - mWriteBlobStreamOffset  = %x.\n", __func__, mWriteBlobStreamOffset);
  BOOLEAN Similar = FALSE;
  EFI_STATUS Status = CompareBlobs(mReadBlobStreamPointer, mReadBlobStreamMaxOffset, mWriteBlobStreamPointer,
                                   mWriteBlobStreamOffset, &Similar);
  if (!EFI_ERROR(Status) && Similar) {
    DebugPrint(
        DEBUG_INFO,
        "%a - Present blob is similar enough to previous blob so it does not need to be saved to NVRAM.\n",
        __func__);
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to compare blobs, so flush the blob to the variable: %r\n", __func__,
               Status);
  }
  return BlobStoreWriteStream();
}
