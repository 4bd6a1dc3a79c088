// The blob reader over arbitrary bytes, on the simulated platform. The first byte
// chooses the road: even, the bytes are the decoded read stream itself; odd, they
// are the contents of the AcpiDataCache variable, so the size and attribute checks,
// the size query and the decoder run before the reader. Either way every blob is
// peeked and read until the end of the stream; the sanitizers judge.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"

namespace {

void WalkReadStream() {
  // ReadBlob moves at least 16 bytes per call that does not end the stream.
  for (;;) {
    VOID *Peeked = nullptr;
    UINT32 Length = 0;
    if (PeekBlob(BLOB_HANDLE_READ, &Peeked, &Length) == EFI_SUCCESS) FreePool(Peeked);
    VOID *Blob = nullptr;
    EFI_STATUS Status = ReadBlob(BLOB_HANDLE_READ, &Blob, &Length);
    if (Blob != nullptr) FreePool(Blob);
    if (Status == EFI_NOT_FOUND) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0 || Size > MAX_CACHE_SIZE + 2) return 0;
  // One platform for the whole run (building one per input is slow); every input
  // must give back all its pool. No debug sink: records would pile up, and the
  // messages are formatted all the same.
  static sim::Platform *Platform = [] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    return new sim::Platform(Options);
  }();
  sim::BindDriverTo(*Platform);
  std::vector<UINT8> Bytes(Data + 1, Data + Size);
  if ((Data[0] & 1) == 0) {
    if (Bytes.size() > MAX_CACHE_SIZE) return 0;
    if (AllocateCache(BlobAccessRead) != EFI_SUCCESS) return 0;
    if (!Bytes.empty()) std::memcpy(mReadBlobStreamPointer, Bytes.data(), Bytes.size());
    mReadBlobStreamMaxOffset = (UINT32)Bytes.size();
    mReadBlobHandle = BLOB_HANDLE_READ;
  } else {
    Platform->Variables().Put(u"AcpiDataCache", gAcpiDataCacheVariableGuid,
                              ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES, Bytes);
    BLOB_HANDLE Handle = BLOB_HANDLE_NONE;
    OpenBlobStream(&Handle, BlobAccessRead);
  }
  WalkReadStream();
  CloseBlobStream(mReadBlobHandle);  // also releases the cache of a failed open
  if (Platform->Pool().OutstandingCount() != 0) __builtin_trap();
  return 0;
}
