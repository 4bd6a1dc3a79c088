// Blob streams: the storage layer under the ACPI cache.
//
// A blob is a 16-byte BLOB_HEADER followed by an opaque payload; a stream is blobs
// laid back to back from offset 0 of a cache, with no stream header, count or
// terminator. The driver holds at most two streams, both module-wide:
//   - the read stream, the stream stored at an earlier boot, loaded from the
//     AcpiDataCache variable and decompressed into the read cache (FillCache);
//   - the write stream, an empty cache the capture appends to (SaveBlob); closing it
//     stores it (FlushCache) unless it is similar enough to the read stream.
// Both caches are MAX_CACHE_SIZE bytes of boot-services pool, allocated on open and
// released on close.
#ifndef ZEPHRIN_ACPI_DXE_BLOB_BLOB_STREAM_H_
#define ZEPHRIN_ACPI_DXE_BLOB_BLOB_STREAM_H_

#include "uefi/UefiBaseType.h"

// Size of each cache, capacity of the write stream, and the limit of both the
// compressed and the decompressed contents of AcpiDataCache.
#define MAX_CACHE_SIZE 0x40000

#define BLOB_HEADER_REVISION 1
#define BLOB_HEADER_SIGNATURE 0xFFFF00000000FFFFULL  // bytes FF FF 00 00 00 00 FF FF

#pragma pack(push, 1)
typedef struct {
  UINT32 Revision;   // BLOB_HEADER_REVISION; anything else is rejected
  UINT32 Length;     // whole blob, header included: payload length + 16
  UINT64 Signature;  // BLOB_HEADER_SIGNATURE, compared as one 64-bit value
} BLOB_HEADER;
#pragma pack(pop)
static_assert(sizeof(BLOB_HEADER) == 16, "BLOB_HEADER size");
static_assert(OFFSET_OF(BLOB_HEADER, Length) == 4, "BLOB_HEADER Length");
static_assert(OFFSET_OF(BLOB_HEADER, Signature) == 8, "BLOB_HEADER Signature");

// 0 means no stream; an open stream is named by its fixed handle.
typedef UINT8 BLOB_HANDLE;
#define BLOB_HANDLE_NONE 0
#define BLOB_HANDLE_READ 1
#define BLOB_HANDLE_WRITE 2

enum : UINT8 {
  BlobAccessRead = 0,
  BlobAccessWrite = 1,
};

// Stream state: one instance, zero at load, back to zero when a stream closes.
extern BLOB_HANDLE mReadBlobHandle;       // BLOB_HANDLE_READ while the read stream is open
extern BLOB_HANDLE mWriteBlobHandle;      // BLOB_HANDLE_WRITE while the write stream is open
extern UINT8 *mReadBlobStreamPointer;     // read cache, MAX_CACHE_SIZE bytes, or NULL
extern UINT32 mReadBlobStreamOffset;      // next blob header to read
extern UINT32 mReadBlobStreamMaxOffset;   // valid bytes in the read cache
extern UINT8 *mWriteBlobStreamPointer;    // write cache, MAX_CACHE_SIZE bytes, or NULL
extern UINT32 mWriteBlobStreamOffset;     // bytes written so far
extern UINT32 mWriteBlobStreamMaxOffset;  // capacity: MAX_CACHE_SIZE while open, else 0

// Allocates the zero-filled cache of one stream and resets that stream's offsets.
// A cache the stream still holds (left by a failed read open) is released first.
EFI_STATUS AllocateCache(UINT8 AccessType);

// Opens the read stream (loading AcpiDataCache through FillCache) or the write
// stream. *Handle receives BLOB_HANDLE_READ/WRITE, or BLOB_HANDLE_NONE on failure.
// A failed read open can leave the read cache allocated but empty; CloseBlobStream
// with BLOB_HANDLE_NONE releases it.
EFI_STATUS OpenBlobStream(BLOB_HANDLE *Handle, UINT8 AccessType);

// Copy of the next read-stream blob's payload in fresh zero-filled pool, owned by
// the caller (*BlobPointer must be NULL on entry). PeekBlob leaves the position;
// ReadBlob moves past the blob, and past a header it rejects. EFI_NOT_FOUND is the
// normal end of the stream. Handle is not consulted: there is one read stream.
EFI_STATUS PeekBlob(BLOB_HANDLE Handle, VOID **BlobPointer, UINT32 *BlobLength);
EFI_STATUS ReadBlob(BLOB_HANDLE Handle, VOID **BlobPointer, UINT32 *BlobLength);

// Appends one blob with a copy of the payload to the write stream; the caller keeps
// its buffer. Refuses an empty payload and one that would pass the capacity.
EFI_STATUS SaveBlob(BLOB_HANDLE Handle, const VOID *BlobPointer, UINT32 BlobLength);

// Closes the stream the handle names; closing the write stream flushes it first,
// and a failed flush leaves it open and unchanged so the close can be retried.
EFI_STATUS CloseBlobStream(BLOB_HANDLE Handle);

// Releases the write stream without storing it, for a caller that gives up after
// a failed close (nobody retries the flush in that boot). Nothing to do when the
// write stream is closed.
VOID DiscardWriteBlobStream();

#endif  // ZEPHRIN_ACPI_DXE_BLOB_BLOB_STREAM_H_
