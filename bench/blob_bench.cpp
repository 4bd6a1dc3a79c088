// Blob storage on a stream of realistic size: FADT, FACS, DSDT, then data
// tables until the stream is nearly MAX_CACHE_SIZE. Everything goes through the
// driver's own calls on the simulated platform, as on a board.
#include <benchmark/benchmark.h>

#include <cstring>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/blob/BlobCompare.h"
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"
#include "tests/blob/BlobTestSupport.h"

namespace {

using blobtest::Bytes;

// The typical stream plus 2 KiB tables up to about 250 KiB.
Bytes LargeStream(const Bytes &Fadt, const Bytes &Facs) {
  Bytes Stream = blobtest::MakeTypicalStream(Fadt, Facs);
  for (UINT8 Seed = 0; Stream.size() + 2048 + 48 < 250 * 1024; Seed++) {
    Bytes Table = blobtest::MakeTable("TEST", 2048, Seed);
    blobtest::Append(&Stream, blobtest::MakeBlob(
                                  blobtest::MakeTableEntryBytes(SIGNATURE_32('T', 'E', 'S', 'T'), 4, Table)));
  }
  return Stream;
}

// A boot without a debug sink: the messages are formatted and filtered as on a
// board, but not kept.
struct Board {
  Board() {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    Options.MaxVariableSize = 0x48000;
    Options.NonVolatileStoreSize = 0x100000;
    Platform = std::make_unique<sim::Platform>(Options);
    sim::BindDriverTo(*Platform);
  }
  ~Board() { sim::UnbindDriver(); }
  std::unique_ptr<sim::Platform> Platform;
};

void BM_CompareSimilarStreams(benchmark::State &State) {
  Bytes Fadt = blobtest::MakeFadt();
  const Bytes Old = LargeStream(Fadt, blobtest::MakeFacs());
  blobtest::Put64(&Fadt, 140, 0x12340000);  // a pointer that may change
  const Bytes New = LargeStream(Fadt, blobtest::MakeFacs());
  for (auto _ : State) {
    BOOLEAN Similar = FALSE;
    benchmark::DoNotOptimize(
        CompareBlobs(Old.data(), (UINT32)Old.size(), New.data(), (UINT32)New.size(), &Similar));
  }
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Old.size());
}
BENCHMARK(BM_CompareSimilarStreams);

void BM_ReadWholeStream(benchmark::State &State) {
  Board Board;
  const Bytes Stream = LargeStream(blobtest::MakeFadt(), blobtest::MakeFacs());
  AllocateCache(BlobAccessRead);
  std::memcpy(mReadBlobStreamPointer, Stream.data(), Stream.size());
  mReadBlobStreamMaxOffset = (UINT32)Stream.size();
  mReadBlobHandle = BLOB_HANDLE_READ;
  for (auto _ : State) {
    mReadBlobStreamOffset = 0;
    for (;;) {
      VOID *Blob = nullptr;
      UINT32 Length = 0;
      if (ReadBlob(BLOB_HANDLE_READ, &Blob, &Length) != EFI_SUCCESS) break;
      FreePool(Blob);
    }
  }
  CloseBlobStream(BLOB_HANDLE_READ);
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Stream.size());
}
BENCHMARK(BM_ReadWholeStream);

// Saves the stream's blobs to a fresh write stream.
void SaveStream(const Bytes &Stream) {
  BLOB_HANDLE Write = 0;
  OpenBlobStream(&Write, BlobAccessWrite);
  for (size_t Offset = 0; Offset < Stream.size();) {
    UINT32 Length = blobtest::Get32(Stream, Offset + 4);
    SaveBlob(Write, &Stream[Offset + 16], Length - 16);
    Offset += Length;
  }
}

// Compress and SetVariable of a new stream (the read stream differs).
void BM_StoreStream(benchmark::State &State) {
  Board Board;
  const Bytes Stream = LargeStream(blobtest::MakeFadt(), blobtest::MakeFacs());
  for (auto _ : State) {
    SaveStream(Stream);
    if (CloseBlobStream(BLOB_HANDLE_WRITE) != EFI_SUCCESS) State.SkipWithError("flush failed");
  }
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Stream.size());
}
BENCHMARK(BM_StoreStream)->Unit(benchmark::kMillisecond);

// GetVariable, checks and Decompress into the read cache.
void BM_LoadStream(benchmark::State &State) {
  Board Board;
  const Bytes Stream = LargeStream(blobtest::MakeFadt(), blobtest::MakeFacs());
  SaveStream(Stream);
  CloseBlobStream(BLOB_HANDLE_WRITE);
  for (auto _ : State) {
    BLOB_HANDLE Read = 0;
    if (OpenBlobStream(&Read, BlobAccessRead) != EFI_SUCCESS) State.SkipWithError("load failed");
    CloseBlobStream(Read);
  }
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Stream.size());
}
BENCHMARK(BM_LoadStream)->Unit(benchmark::kMillisecond);

}  // namespace
