// Blob streams: open, append, peek, read and close. The read cache holds bytes that
// came from a variable, so every header read from it goes through the checked
// reader and no length inside a header is used before it is bounded by the stream.
#include "acpi_dxe/blob/BlobStream.h"

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "common/SafeInt.h"

BLOB_HANDLE mReadBlobHandle;
BLOB_HANDLE mWriteBlobHandle;
UINT8 *mReadBlobStreamPointer;
UINT32 mReadBlobStreamOffset;
UINT32 mReadBlobStreamMaxOffset;
UINT8 *mWriteBlobStreamPointer;
UINT32 mWriteBlobStreamOffset;
UINT32 mWriteBlobStreamMaxOffset;

namespace {

// The texts that tell PeekBlob and ReadBlob apart in the log.
struct BLOB_COPY_TEXTS {
  const CHAR8 *Name;
  const CHAR8 *Entry;
  const CHAR8 *NoMoreBlobs;
  const CHAR8 *NoMemory;
  const CHAR8 *Done;
};

constexpr BLOB_COPY_TEXTS mPeekTexts = {
    "PeekBlob", "PeekBlob() Entry.\n", "No more blobs available to peek.\n",
    "%a - Unable to allocate %x bytes for peek blob\n", "PeekBlob(): BlobPointer = %x, BlobLength = %x.\n"};
constexpr BLOB_COPY_TEXTS mReadTexts = {
    "ReadBlob", "ReadBlob() Entry.\n", "No more blobs available to read.\n",
    "%a - Unable to allocate %x bytes for read blob\n", "ReadBlob(): BlobPointer = %x, BlobLength = %x.\n"};

// Rejects a header whose fields cannot describe a non-empty blob that ends inside
// the Remaining bytes of the stream (counted from the header's first byte).
EFI_STATUS BlobCheckReadHeader(const BLOB_HEADER *Header, UINT32 Remaining) {
  if (Header->Revision != BLOB_HEADER_REVISION) {
    DebugPrint(DEBUG_ERROR, "Blob revision %d unsupported.\n", Header->Revision);
    return EFI_INVALID_PARAMETER;
  }
  if (Header->Signature != BLOB_HEADER_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "Blob appears corrupt.\n");
    return EFI_INVALID_PARAMETER;
  }
  if (Header->Length <= sizeof(BLOB_HEADER)) {
    DebugPrint(DEBUG_ERROR, "Error, the blob length in the blob header is too short to be valid.\n");
    return EFI_INVALID_PARAMETER;
  }
  if (Header->Length > Remaining) {
    DebugPrint(DEBUG_ERROR, "Error, the blob length in the blob header is too long to be valid.\n");
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Reads the header at Offset of the read stream field by field (the stream is not
// aligned). False when fewer than 16 bytes are left.
bool BlobReadHeaderAt(UINT32 Offset, BLOB_HEADER *Header, ByteReader *Stream) {
  *Stream = ByteReader(mReadBlobStreamPointer, mReadBlobStreamMaxOffset);
  return Stream->Seek(Offset) && Stream->Read32(&Header->Revision) && Stream->Read32(&Header->Length) &&
         Stream->Read64(&Header->Signature);
}

// The shared body of PeekBlob and ReadBlob; Advance selects ReadBlob's moves.
EFI_STATUS BlobCopyNext(const BLOB_COPY_TEXTS *Texts, bool Advance, VOID **BlobPointer, UINT32 *BlobLength) {
  DebugPrint(DEBUG_INFO, Texts->Entry);
  if (BlobPointer == nullptr) {
    DebugPrint(DEBUG_ERROR, "Error, BlobPointer == NULL.\n");
    return EFI_INVALID_PARAMETER;
  }
  if (*BlobPointer != nullptr) {
    DebugPrint(DEBUG_ERROR, "Error, *BlobPointer != NULL.\n");
    return EFI_INVALID_PARAMETER;
  }
  if (BlobLength == nullptr) {
    DebugPrint(DEBUG_ERROR, "Error, BlobLength == NULL.\n");
    return EFI_INVALID_PARAMETER;
  }

  BLOB_HEADER Header;
  ByteReader Stream;
  if (!BlobReadHeaderAt(mReadBlobStreamOffset, &Header, &Stream)) {
    DebugPrint(DEBUG_ERROR, Texts->NoMoreBlobs);
    DebugPrint(DEBUG_INFO, "  mReadBlobStreamOffset    = %x.\n", mReadBlobStreamOffset);
    DebugPrint(DEBUG_INFO, "  mReadBlobStreamMaxOffset = %x.\n", mReadBlobStreamMaxOffset);
    return EFI_NOT_FOUND;
  }
  // The header fitted, so the offset is at most MaxOffset - 16 and cannot wrap.
  UINT32 Remaining = mReadBlobStreamMaxOffset - mReadBlobStreamOffset;
  if (Advance) mReadBlobStreamOffset += sizeof(BLOB_HEADER);

  EFI_STATUS Status = BlobCheckReadHeader(&Header, Remaining);
  if (EFI_ERROR(Status)) return Status;

  UINT32 PayloadLength = Header.Length - sizeof(BLOB_HEADER);
  *BlobLength = PayloadLength;
  VOID *Copy = AllocateZeroPool(PayloadLength);
  if (Copy == nullptr) {
    DebugPrint(DEBUG_ERROR, Texts->NoMemory, Texts->Name, Header.Length);
    return EFI_OUT_OF_RESOURCES;
  }
  // Cannot fail: the length check above kept the payload inside the stream.
  Stream.ReadBytes(Copy, PayloadLength);
  *BlobPointer = Copy;
  if (Advance) mReadBlobStreamOffset += PayloadLength;
  DebugPrint(DEBUG_INFO, Texts->Done, (UINT32)(UINTN)Copy, PayloadLength);
  return EFI_SUCCESS;
}

VOID BlobResetReadStream() {
  mReadBlobStreamPointer = nullptr;
  mReadBlobStreamOffset = 0;
  mReadBlobStreamMaxOffset = 0;
  mReadBlobHandle = BLOB_HANDLE_NONE;
}

VOID BlobResetWriteStream() {
  mWriteBlobStreamPointer = nullptr;
  mWriteBlobStreamOffset = 0;
  mWriteBlobStreamMaxOffset = 0;
  mWriteBlobHandle = BLOB_HANDLE_NONE;
}

EFI_STATUS BlobCloseReadStream() {
  if (mReadBlobStreamPointer == nullptr) {
    DebugPrint(DEBUG_INFO, "Attempt to close read stream more than once\n");
    return EFI_SUCCESS;
  }
  FreePool(mReadBlobStreamPointer);
  BlobResetReadStream();
  DebugPrint(DEBUG_INFO, "Read blob stream was closed\n");
  return EFI_SUCCESS;
}

EFI_STATUS BlobCloseWriteStream(BLOB_HANDLE Handle) {
  if (mWriteBlobStreamPointer == nullptr) {
    DebugPrint(DEBUG_INFO, "Attempt to close write stream more than once\n");
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = FlushCache(Handle);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Write cache can not be flushed\n", "CloseBlobStream");
    return Status;
  }
  FreePool(mWriteBlobStreamPointer);
  BlobResetWriteStream();
  DebugPrint(DEBUG_INFO, "Write blob stream was closed\n");
  return Status;
}

EFI_STATUS BlobOpenWriteStream(BLOB_HANDLE *Handle) {
  DebugPrint(DEBUG_INFO, "[%a] - Open with write AccessType requested\n", "OpenBlobStream");
  if (mWriteBlobHandle != BLOB_HANDLE_NONE) {
    DebugPrint(DEBUG_ERROR, "%a - Write blob stream already open %d", "OpenBlobStream", mWriteBlobHandle);
    return EFI_ACCESS_DENIED;
  }
  EFI_STATUS Status = AllocateCache(BlobAccessWrite);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Fail to allocate cache for writes %r\n", "OpenBlobStream", Status);
    return Status;
  }
  mWriteBlobHandle = BLOB_HANDLE_WRITE;
  *Handle = BLOB_HANDLE_WRITE;
  return EFI_SUCCESS;
}

EFI_STATUS BlobOpenReadStream(BLOB_HANDLE *Handle) {
  DebugPrint(DEBUG_INFO, "[%a] - Open with read AccessType requested\n", "OpenBlobStream");
  if (mReadBlobHandle != BLOB_HANDLE_NONE) {
    DebugPrint(DEBUG_ERROR, "%a - Read blob stream already open %d\n", "OpenBlobStream", mReadBlobHandle);
    return EFI_ACCESS_DENIED;
  }
  EFI_STATUS Status = FillCache();
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Fail to allocate and fill cache for reads %r\n", "OpenBlobStream", Status);
    return Status;
  }
  mReadBlobHandle = BLOB_HANDLE_READ;
  *Handle = BLOB_HANDLE_READ;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS AllocateCache(UINT8 AccessType) {
  UINT8 *Cache = static_cast<UINT8 *>(AllocateZeroPool(MAX_CACHE_SIZE));
  if (Cache == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x cache bytes\n", __func__, MAX_CACHE_SIZE);
    return EFI_OUT_OF_RESOURCES;
  }
  // A read cache left behind by a failed read open is replaced, not leaked.
  if (AccessType == BlobAccessRead) {
    if (mReadBlobStreamPointer != nullptr) FreePool(mReadBlobStreamPointer);
    mReadBlobStreamPointer = Cache;
    mReadBlobStreamOffset = 0;
    mReadBlobStreamMaxOffset = 0;  // empty until FillCache has decompressed into it
    return EFI_SUCCESS;
  }
  if (AccessType == BlobAccessWrite) {
    if (mWriteBlobStreamPointer != nullptr) FreePool(mWriteBlobStreamPointer);
    mWriteBlobStreamPointer = Cache;
    mWriteBlobStreamOffset = 0;
    mWriteBlobStreamMaxOffset = MAX_CACHE_SIZE;
    return EFI_SUCCESS;
  }
  DebugPrint(DEBUG_ERROR, "%a - AccessType of %d is invalid\n", __func__, AccessType);
  FreePool(Cache);
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS OpenBlobStream(BLOB_HANDLE *Handle, UINT8 AccessType) {
  if (Handle == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Error, Handle == NULL.\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  *Handle = BLOB_HANDLE_NONE;
  if (AccessType == BlobAccessWrite) return BlobOpenWriteStream(Handle);
  if (AccessType == BlobAccessRead) return BlobOpenReadStream(Handle);
  DebugPrint(DEBUG_ERROR, "%a - AccessType of %d is invalid\n", __func__, AccessType);
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS PeekBlob(BLOB_HANDLE Handle, VOID **BlobPointer, UINT32 *BlobLength) {
  (void)Handle;
  return BlobCopyNext(&mPeekTexts, false, BlobPointer, BlobLength);
}

EFI_STATUS ReadBlob(BLOB_HANDLE Handle, VOID **BlobPointer, UINT32 *BlobLength) {
  (void)Handle;
  return BlobCopyNext(&mReadTexts, true, BlobPointer, BlobLength);
}

EFI_STATUS SaveBlob(BLOB_HANDLE Handle, const VOID *BlobPointer, UINT32 BlobLength) {
  (void)Handle;
  DebugPrint(DEBUG_INFO, "SaveBlob() Entry.\n");
  if (BlobPointer == nullptr) {
    DebugPrint(DEBUG_ERROR, "Error, BlobPointer == NULL.\n");
    return EFI_INVALID_PARAMETER;
  }
  if (BlobLength == 0) {
    DebugPrint(DEBUG_ERROR, "Error, BlobLength == 0.\n");
    return EFI_INVALID_PARAMETER;
  }
  // Summed in 64 bits: offset and capacity are at most MAX_CACHE_SIZE, so only
  // BlobLength can be large, and the sum cannot wrap.
  UINT64 End = (UINT64)mWriteBlobStreamOffset + sizeof(BLOB_HEADER) + BlobLength;
  if (End > mWriteBlobStreamMaxOffset) {
    DebugPrint(DEBUG_ERROR, "%a - Attempt to write past mWriteBlobStreamMaxOffset\n", __func__);
    DebugPrint(DEBUG_ERROR, "%a -   mWriteBlobStreamMaxOffset = %x\n", __func__, mWriteBlobStreamMaxOffset);
    DebugPrint(DEBUG_ERROR, "%a -   mWriteBlobStreamOffset    = %x\n", __func__, mWriteBlobStreamOffset);
    DebugPrint(DEBUG_ERROR, "%a -   sizeof (BLOB_HEADER)      = %x\n", __func__, (UINT32)sizeof(BLOB_HEADER));
    DebugPrint(DEBUG_ERROR, "%a -   BlobLength                = %x\n", __func__, BlobLength);
    return EFI_OUT_OF_RESOURCES;
  }
  BLOB_HEADER Header = {BLOB_HEADER_REVISION, BlobLength + (UINT32)sizeof(BLOB_HEADER),
                        BLOB_HEADER_SIGNATURE};
  UINT8 *Destination = mWriteBlobStreamPointer + mWriteBlobStreamOffset;
  CopyMem(Destination, &Header, sizeof(Header));
  CopyMem(Destination + sizeof(Header), BlobPointer, BlobLength);
  mWriteBlobStreamOffset = (UINT32)End;
  DebugPrint(DEBUG_INFO, "%a - BlobPointer = %x, BlobLength = %x.\n", __func__, (UINT32)(UINTN)BlobPointer,
             BlobLength);
  return EFI_SUCCESS;
}

EFI_STATUS CloseBlobStream(BLOB_HANDLE Handle) {
  // The read record is compared first: with no read stream open its handle is 0,
  // so closing handle 0 releases a read cache that a failed open left behind.
  if (Handle == mReadBlobHandle) return BlobCloseReadStream();
  if (Handle == mWriteBlobHandle) return BlobCloseWriteStream(Handle);
  DebugPrint(DEBUG_ERROR, "%a - Blob handle of %d is invalid\n", __func__, Handle);
  return EFI_INVALID_PARAMETER;
}

VOID DiscardWriteBlobStream() {
  if (mWriteBlobStreamPointer == nullptr) return;
  FreePool(mWriteBlobStreamPointer);
  BlobResetWriteStream();
  DebugPrint(DEBUG_INFO, "%a - Write blob stream was discarded\n", __func__);
}
