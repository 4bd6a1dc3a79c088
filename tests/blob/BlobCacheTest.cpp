// AcpiDataCache persistence on the simulated platform's variable store: what a
// read open makes of every kind of stored variable, when a close writes, what a
// failed write leaves behind, and every allocation of both flows failing in turn.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/blob/BlobTestSupport.h"
#include "tests/support/HostFiles.h"
#include "tests/support/RowPrinter.h"

namespace blobtest {
namespace {

const std::u16string kName = u"AcpiDataCache";
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

std::string VectorPath(const std::string &Name) {
  return std::string(ZEPHRIN_SHARED_DIR) + "/vectors/uefi-compression/" + Name;
}

bool ReadFile(const std::string &Path, Bytes *Out) {
  std::optional<Bytes> Data = test_support::ReadHostFile(Path);
  if (Data) *Out = std::move(*Data);
  return Data.has_value();
}

// Our own compressor's output for a stream, as FlushCache stores it.
Bytes CompressStream(const Bytes &Stream) {
  UINTN Size = Stream.size() + 64;
  Bytes Out(Size);
  EXPECT_EQ(Compress(Stream.data(), (UINT32)Stream.size(), Out.data(), &Size), EFI_SUCCESS);
  Out.resize(Size);
  return Out;
}

using StoredVariable = sim::StoredVariable;

class BlobCacheTest : public BlobPlatformTest {
 protected:
  const StoredVariable *Stored() { return Platform().Variables().Find(kName, gAcpiDataCacheVariableGuid); }
  void PutCache(const Bytes &Data, UINT32 Attributes = kNvBs) {
    Platform().Variables().Put(kName, gAcpiDataCacheVariableGuid, Attributes, Data);
  }
  UINTN Writes() { return Platform().Variables().Writes(kName, gAcpiDataCacheVariableGuid); }
  Bytes ReadStream() const {
    return mReadBlobStreamPointer == nullptr
               ? Bytes()
               : Bytes(mReadBlobStreamPointer, mReadBlobStreamPointer + mReadBlobStreamMaxOffset);
  }

  // Saves the blobs of Stream (a well-formed stream) to a freshly opened write stream.
  void WriteStream(const Bytes &Stream) {
    BLOB_HANDLE Write = 0;
    ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
    size_t Offset = 0;
    while (Offset < Stream.size()) {
      UINT32 Length = Get32(Stream, Offset + 4);
      ASSERT_EQ(SaveBlob(Write, &Stream[Offset + 16], Length - 16), EFI_SUCCESS);
      Offset += Length;
    }
  }

  // One custom-path store: open read (may fail), write the stream, close both.
  EFI_STATUS CustomPathStore(const Bytes &Stream) {
    BLOB_HANDLE Read = 0;
    OpenBlobStream(&Read, BlobAccessRead);
    WriteStream(Stream);
    EFI_STATUS Status = CloseBlobStream(BLOB_HANDLE_WRITE);
    CloseBlobStream(Read);
    return Status;
  }
};

TEST_F(BlobCacheTest, FirstBootHasNoStreamAndTheFlowGoesOn) {
  BLOB_HANDLE Read = 9;
  EXPECT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_NOT_FOUND);
  EXPECT_EQ(Read, BLOB_HANDLE_NONE);
  EXPECT_TRUE(
      Logged(DEBUG_WARN, "FillCache - could not read AcpiDataCache size from var store: Not Found\n"));
  EXPECT_TRUE(Logged(DEBUG_ERROR, "OpenBlobStream - Fail to allocate and fill cache for reads Not Found\n"));
  EXPECT_NE(mReadBlobStreamPointer, nullptr);  // allocated, empty, not open
  EXPECT_EQ(mReadBlobStreamMaxOffset, 0u);

  // A second try replaces the left-over cache instead of leaking it.
  EXPECT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_NOT_FOUND);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 1u);

  WriteStream(MakeTypicalStream(MakeFadt(), MakeFacs()));
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_WRITE), EFI_SUCCESS);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CompareBlobs - Error, Blob1Length is zero.\n"));
  EXPECT_TRUE(
      Logged(DEBUG_ERROR,
             "FlushCache - failed to compare blobs, so flush the blob to the variable: Invalid Parameter\n"));
  ASSERT_NE(Stored(), nullptr);
  EXPECT_EQ(Stored()->Attributes, kNvBs);
  EXPECT_EQ(Stored()->Data, CompressStream(MakeTypicalStream(MakeFadt(), MakeFacs())));
  const std::string Flushed = "FlushCache - successfully flushed 0x" + [&] {
    char Text[16];
    std::snprintf(Text, sizeof(Text), "%zX", Stored()->Data.size());
    return std::string(Text);
  }() + " bytes to AcpiDataCache variable.\n";
  EXPECT_TRUE(Logged(DEBUG_INFO, Flushed)) << Flushed;
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_NONE), EFI_SUCCESS);  // releases the left-over read cache
  EXPECT_EQ(mReadBlobStreamPointer, nullptr);
}

// A stored variable that must leave the read stream empty (or, for the lenient
// rows, bounded) without writing anything out of bounds.
struct StoredRow {
  const char *Name;
  UINT32 Attributes;
  std::function<Bytes()> Data;
  EFI_STATUS Status;
  UINTN Level;
  const char *Message;
  // What storing the new stream then gives. A variable with the wrong
  // attributes is deleted first, so it never blocks the store.
  EFI_STATUS FlushStatus = EFI_SUCCESS;
};
ZEPHRIN_PRINT_ROW_BY_NAME(StoredRow)

// Bytes no compressor can shrink (xorshift), so the compressed form is larger.
Bytes Noise(size_t Size, UINT32 Seed) {
  Bytes Data(Size);
  for (UINT8 &Byte : Data) {
    Seed ^= Seed << 13;
    Seed ^= Seed >> 17;
    Seed ^= Seed << 5;
    Byte = (UINT8)Seed;
  }
  return Data;
}

Bytes ValidCompressed() {
  return CompressStream(MakeTypicalStream(MakeFadt(), MakeFacs()));
}
Bytes WithHeader(UINT32 CompSize, UINT32 OrigSize, Bytes Data) {
  Put32(&Data, 0, CompSize);
  Put32(&Data, 4, OrigSize);
  return Data;
}

std::vector<StoredRow> StoredRows() {
  const char *Undeterminable = "FillCache - failed to determine decompressed size: Invalid Parameter\n";
  return {
      {"AttributesWithRuntimeAccess", kNvBs | EFI_VARIABLE_RUNTIME_ACCESS, ValidCompressed,
       EFI_COMPROMISED_DATA, DEBUG_ERROR, "FillCache - ACPI cache UEFI variable attributes are invalid!\n"},
      {"AttributesVolatile", EFI_VARIABLE_BOOTSERVICE_ACCESS, ValidCompressed, EFI_COMPROMISED_DATA,
       DEBUG_ERROR, "FillCache - ACPI cache UEFI variable attributes are invalid!\n"},
      {"SizeZero", kNvBs, [] { return Bytes(); }, EFI_INVALID_PARAMETER, DEBUG_WARN,
       "FillCache - could not read AcpiDataCache size from var store: Invalid Parameter\n"},
      {"ShorterThanCompressedHeader", kNvBs, [] { return Bytes(7, 0); }, EFI_INVALID_PARAMETER, DEBUG_ERROR,
       Undeterminable},
      {"AboveMaximumSize", kNvBs, [] { return Bytes(MAX_CACHE_SIZE + 1, 0); }, EFI_BUFFER_TOO_SMALL,
       DEBUG_WARN, "FillCache - compressed blob size greater than max cache size; cannot decompress.\n"},
      {"CompressedSizeBeyondVariable", kNvBs,
       [] {
         Bytes Data = ValidCompressed();
         return WithHeader((UINT32)Data.size() - 7, Get32(Data, 4), Data);
       },
       EFI_INVALID_PARAMETER, DEBUG_ERROR, Undeterminable},
      {"CompressedSizeWraps", kNvBs, [] { return WithHeader(0xFFFFFFFC, 100, ValidCompressed()); },
       EFI_INVALID_PARAMETER, DEBUG_ERROR, Undeterminable},
      {"OriginalSizeAboveCache", kNvBs,
       [] {
         Bytes Data = ValidCompressed();
         return WithHeader(Get32(Data, 0), MAX_CACHE_SIZE + 1, Data);
       },
       EFI_BUFFER_TOO_SMALL, DEBUG_WARN,
       "FillCache - decompressed blob size greater than max cache size; cannot decompress.\n"},
      {"GarbageBitStream", kNvBs,
       [] {
         Bytes Data(600);
         for (size_t Index = 0; Index < Data.size(); Index++) Data[Index] = (UINT8)(Index * 131 + 17);
         return WithHeader(592, 4000, Data);
       },
       EFI_INVALID_PARAMETER, DEBUG_ERROR, "FillCache - failed to decompress blob: Invalid Parameter\n"},
  };
}

class BlobCacheStoredTest : public BlobCacheTest, public ::testing::WithParamInterface<StoredRow> {};

TEST_P(BlobCacheStoredTest, ReadStreamStaysEmptyAndTheFlushRewrites) {
  const StoredRow &Row = GetParam();
  PutCache(Row.Data(), Row.Attributes);
  BLOB_HANDLE Read = 9;
  EXPECT_EQ(OpenBlobStream(&Read, BlobAccessRead), Row.Status);
  EXPECT_EQ(Read, BLOB_HANDLE_NONE);
  EXPECT_TRUE(Logged(Row.Level, Row.Message)) << Row.Message;
  EXPECT_EQ(mReadBlobStreamMaxOffset, 0u);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 1u);  // only the read cache
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_NOT_FOUND);

  const Bytes Stream = MakeTypicalStream(MakeFadt(), MakeFacs());
  WriteStream(Stream);
  const Bytes Before = Stored()->Data;
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_WRITE), Row.FlushStatus);
  ASSERT_NE(Stored(), nullptr);
  if (Row.FlushStatus == EFI_SUCCESS) {
    EXPECT_EQ(Stored()->Attributes, kNvBs);
    EXPECT_EQ(Stored()->Data, CompressStream(Stream));
  } else {
    EXPECT_EQ(Stored()->Attributes, Row.Attributes);
    EXPECT_EQ(Stored()->Data, Before);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, BlobCacheStoredTest, ::testing::ValuesIn(StoredRows()),
                         [](const ::testing::TestParamInfo<StoredRow> &Info) { return Info.param.Name; });

// Streams of the reference compressor (not ours) load byte for byte; malformed
// ones leave the read stream empty, and lenient ones stay inside the cache.
struct VectorRow {
  const char *Stream;
  const char *Expected;  // decoded bytes, nullptr when the stream is refused
  EFI_STATUS Status;
};
[[maybe_unused]] void PrintTo(const VectorRow &Row, std::ostream *Out) {
  *Out << Row.Stream;
}

class BlobCacheVectorTest : public BlobCacheTest, public ::testing::WithParamInterface<VectorRow> {};

TEST_P(BlobCacheVectorTest, LoadsExactlyWhatTheReferenceDecodesTo) {
  const VectorRow &Row = GetParam();
  Bytes Compressed;
  if (!ReadFile(VectorPath(Row.Stream), &Compressed))
    GTEST_SKIP() << "reference vectors not found at " << VectorPath("");
  PutCache(Compressed);
  BLOB_HANDLE Read = 0;
  EXPECT_EQ(OpenBlobStream(&Read, BlobAccessRead), Row.Status);
  if (Row.Expected == nullptr) {
    EXPECT_EQ(mReadBlobStreamMaxOffset, 0u);
    return;
  }
  Bytes Expected;
  ASSERT_TRUE(ReadFile(VectorPath(Row.Expected), &Expected));
  EXPECT_EQ(Read, BLOB_HANDLE_READ);
  EXPECT_EQ(ReadStream(), Expected);
  // Whatever a decoded stream holds, walking it stays bounded.
  for (int Blobs = 0; Blobs < 100000; Blobs++) {
    VOID *Blob = nullptr;
    UINT32 Length = 0;
    if (ReadBlob(Read, &Blob, &Length) == EFI_NOT_FOUND) break;
    if (Blob != nullptr) FreePool(Blob);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, BlobCacheVectorTest,
    ::testing::Values(VectorRow{"streams/acpi_like_40k.efi11", "inputs/acpi_like_40k.bin", EFI_SUCCESS},
                      VectorRow{"streams/zero_256k.efi11", "inputs/zero_256k.bin", EFI_SUCCESS},
                      VectorRow{"streams/empty.efi11", "inputs/empty.bin", EFI_SUCCESS},
                      VectorRow{"lenient/origsize_too_large.efi11", "lenient/origsize_too_large.out",
                                EFI_SUCCESS},
                      VectorRow{"bad/pos_before_start.efi11", nullptr, EFI_INVALID_PARAMETER},
                      VectorRow{"bad/truncated_half_sizefixed.efi11", nullptr, EFI_INVALID_PARAMETER},
                      VectorRow{"bad/compsize_too_large.efi11", nullptr, EFI_INVALID_PARAMETER},
                      VectorRow{"bad/bitlen_gt16.efi11", nullptr, EFI_INVALID_PARAMETER}),
    [](const ::testing::TestParamInfo<VectorRow> &Info) {
      std::string Name = Info.param.Stream;
      for (char &Char : Name) {
        if (!isalnum((unsigned char)Char)) Char = '_';
      }
      return Name;
    });

TEST_F(BlobCacheTest, StreamsPersistAcrossBootsAndSimilarOnesAreNotRewritten) {
  char Path[] = "/tmp/blob_store_XXXXXX";
  int Fd = mkstemp(Path);
  ASSERT_GE(Fd, 0);
  close(Fd);
  std::remove(Path);
  sim::PlatformOptions Options;
  Options.VariableStorePath = Path;

  const Bytes First = MakeTypicalStream(MakeFadt(), MakeFacs());
  Boot(Options);
  EXPECT_EQ(CustomPathStore(First), EFI_SUCCESS);
  EXPECT_EQ(Writes(), 1u);
  const Bytes StoredFirst = Stored()->Data;

  // Next boot: only the FADT pointers and checksum and the FACS hardware
  // signature changed. Nothing is written, and the old bytes stay.
  Bytes Fadt = MakeFadt();
  Put64(&Fadt, 140, 0x6A000000);
  Put32(&Fadt, 40, 0x6A000000);
  Fadt[9] ^= 0x55;
  Bytes Facs = MakeFacs();
  Put32(&Facs, 8, 0xFEEDBEEF);
  Boot(Options);
  EXPECT_EQ(CustomPathStore(MakeTypicalStream(Fadt, Facs)), EFI_SUCCESS);
  EXPECT_TRUE(
      Logged(DEBUG_INFO,
             "FlushCache - Present blob is similar enough to previous blob so it does not need to be saved "
             "to NVRAM.\n"));
  EXPECT_EQ(Platform().Variables().SetCalls(kName, gAcpiDataCacheVariableGuid), 0u);
  EXPECT_EQ(Stored()->Data, StoredFirst);

  // A real change is written.
  Fadt[46] = 11;
  const Bytes Changed = MakeTypicalStream(Fadt, Facs);
  Boot(Options);
  EXPECT_EQ(CustomPathStore(Changed), EFI_SUCCESS);
  EXPECT_EQ(Writes(), 1u);

  // A later boot reads back exactly the stream that was stored.
  Boot(Options);
  BLOB_HANDLE Read = 0;
  ASSERT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_SUCCESS);
  EXPECT_EQ(ReadStream(), Changed);
  EXPECT_TRUE(Logged(
      DEBUG_INFO, "FillCache - mReadBlobStreamMaxOffset = " + [&] {
        char Text[16];
        std::snprintf(Text, sizeof(Text), "%zX", Changed.size());
        return std::string(Text);
      }() + ".\n"));
  BLOB_HANDLE Again = 9;
  EXPECT_EQ(OpenBlobStream(&Again, BlobAccessRead), EFI_ACCESS_DENIED);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "OpenBlobStream - Read blob stream already open 1\n"));
  EXPECT_EQ(CloseBlobStream(Read), EFI_SUCCESS);
  std::remove(Path);
}

// A failed write leaves the stored variable and the write stream as they were.
struct SetFailureRow {
  const char *Name;
  UINTN MaxVariableSize;
  UINTN StoreSize;
  EFI_STATUS Injected;  // 0: no injection, the store's own rule fails
  EFI_STATUS Status;
};
ZEPHRIN_PRINT_ROW_BY_NAME(SetFailureRow)

class BlobCacheSetFailureTest : public BlobCacheTest, public ::testing::WithParamInterface<SetFailureRow> {};

TEST_P(BlobCacheSetFailureTest, StoredVariableUntouchedAndCloseCanBeRetried) {
  const SetFailureRow &Row = GetParam();
  sim::PlatformOptions Options;
  Options.MaxVariableSize = Row.MaxVariableSize;
  Options.NonVolatileStoreSize = Row.StoreSize;
  Boot(Options);
  const Bytes Old = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // not even a valid stream
  PutCache(Old);
  if (Row.Injected != 0) Platform().Variables().FailSetVariable(1, Row.Injected, kName);

  // Incompressible contents make the compressed stream as large as possible.
  Bytes Table = MakeTable("APIC", 3000, 0);
  const Bytes Random = Noise(Table.size() - 36, 7);
  std::copy(Random.begin(), Random.end(), Table.begin() + 36);
  Bytes Stream = MakeBlob(MakeTableEntryBytes(SIGNATURE_32('A', 'P', 'I', 'C'), 4, Table));
  Append(&Stream, MakeTypicalStream(MakeFadt(), MakeFacs()));
  WriteStream(Stream);
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_WRITE), Row.Status);
  EXPECT_TRUE(Logged(DEBUG_ERROR, std::string("FlushCache - failed to write compressed blob to variable: ") +
                                      (Row.Status == EFI_OUT_OF_RESOURCES ? "Out of Resources" : "") +
                                      (Row.Status == EFI_INVALID_PARAMETER ? "Invalid Parameter" : "") +
                                      (Row.Status == EFI_DEVICE_ERROR ? "Device Error" : "") + "\n"));
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CloseBlobStream - Write cache can not be flushed\n"));
  ASSERT_NE(Stored(), nullptr);
  EXPECT_EQ(Stored()->Data, Old);
  EXPECT_EQ(mWriteBlobHandle, BLOB_HANDLE_WRITE);
  EXPECT_EQ(WriteStreamBytes(), Stream);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 1u);  // the write cache, no compression buffer

  // A caller that gives up releases the stream without storing it.
  DiscardWriteBlobStream();
  EXPECT_EQ(mWriteBlobHandle, BLOB_HANDLE_NONE);
  EXPECT_EQ(mWriteBlobStreamMaxOffset, 0u);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u);
  EXPECT_EQ(Stored()->Data, Old);
  DiscardWriteBlobStream();  // closed: nothing to do
  BLOB_HANDLE Write = 0;
  EXPECT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BlobCacheSetFailureTest,
    ::testing::Values(SetFailureRow{"LargerThanMaximumVariable", 0x400, 0x40000, 0, EFI_INVALID_PARAMETER},
                      SetFailureRow{"StoreFull", 0x8400, 0x800, 0, EFI_OUT_OF_RESOURCES},
                      SetFailureRow{"DeviceError", 0x8400, 0x40000, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR}),
    [](const ::testing::TestParamInfo<SetFailureRow> &Info) { return Info.param.Name; });

TEST_F(BlobCacheTest, StreamsThatCannotBeStoredAreRefused) {
  PutCache(ValidCompressed());
  BLOB_HANDLE Read = 0;
  ASSERT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_SUCCESS);

  // An empty write stream: the comparison fails on its length, the compression
  // on its size, and nothing is written.
  BLOB_HANDLE Write = 0;
  ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
  EXPECT_EQ(CloseBlobStream(Write), EFI_BUFFER_TOO_SMALL);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CompareBlobs - Error, Blob2Length is zero.\n"));
  EXPECT_TRUE(Logged(DEBUG_ERROR, "FlushCache - failed to compress blob: Buffer Too Small\n"));

  // A stream that does not compress below its own size is not stored.
  const Bytes Random = Noise(200, 3);
  ASSERT_EQ(SaveBlob(Write, Random.data(), (UINT32)Random.size()), EFI_SUCCESS);
  EXPECT_EQ(CloseBlobStream(Write), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Platform().Variables().SetCalls(kName, gAcpiDataCacheVariableGuid), 0u);
  EXPECT_EQ(mWriteBlobHandle, BLOB_HANDLE_WRITE);
  EXPECT_EQ(CloseBlobStream(Read), EFI_SUCCESS);
}

TEST_F(BlobCacheTest, VariableOfExactlyTheMaximumSizeIsAccepted) {
  const Bytes Stream = MakeTypicalStream(MakeFadt(), MakeFacs());
  Bytes Padded = CompressStream(Stream);
  Padded.resize(MAX_CACHE_SIZE, 0);  // bytes after the bit stream are ignored
  PutCache(Padded);
  BLOB_HANDLE Read = 0;
  ASSERT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_SUCCESS);
  EXPECT_EQ(ReadStream(), Stream);
  EXPECT_TRUE(
      Logged(DEBUG_INFO, "FillCache - read 0x40000 bytes from AcpiDataCache variable (compressed).\n"));
}

TEST_F(BlobCacheTest, MissingRuntimeServicesAreReported) {
  gRT = nullptr;
  EXPECT_EQ(FillCache(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "FillCache - Error, gRT == NULL.\n"));
  EXPECT_EQ(FlushCache(BLOB_HANDLE_WRITE), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "FlushCache - Error, gRT == NULL.\n"));
}

TEST_F(BlobCacheTest, EveryFillCacheAllocationFailingInTurn) {
  PutCache(ValidCompressed());
  Platform().Pool().StartCounting();
  BLOB_HANDLE Read = 0;
  ASSERT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_SUCCESS);
  const UINT64 Count = Platform().Pool().AllocationsCounted();
  ASSERT_EQ(CloseBlobStream(Read), EFI_SUCCESS);
  EXPECT_EQ(Count, 3u);  // read cache, compressed copy, decoder scratch

  for (UINT64 Nth = 1; Nth <= Count; Nth++) {
    Platform().Pool().FailAllocation(Nth);
    EXPECT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_OUT_OF_RESOURCES) << Nth;
    EXPECT_EQ(Read, BLOB_HANDLE_NONE);
    EXPECT_EQ(mReadBlobStreamMaxOffset, 0u);
    EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_NONE), EFI_SUCCESS);
    EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u) << "leak when allocation " << Nth << " fails";
  }
}

TEST_F(BlobCacheTest, EveryFlushCacheAllocationFailingInTurn) {
  const Bytes Stream = MakeTypicalStream(MakeFadt(), MakeFacs());
  WriteStream(Stream);
  Platform().Pool().StartCounting();
  ASSERT_EQ(FlushCache(BLOB_HANDLE_WRITE), EFI_SUCCESS);
  const UINT64 Count = Platform().Pool().AllocationsCounted();
  ASSERT_GE(Count, 2u);  // output buffer and the compressor's working memory

  for (UINT64 Nth = 1; Nth <= Count; Nth++) {
    Platform().Variables().Put(kName, gAcpiDataCacheVariableGuid, kNvBs, {0xEE});
    Platform().Pool().FailAllocation(Nth);
    EFI_STATUS Status = CloseBlobStream(BLOB_HANDLE_WRITE);
    if (Status == EFI_SUCCESS) {
      // The compressor may do with a smaller buffer of its own; what it stored
      // must still be the stream.
      EXPECT_EQ(mWriteBlobHandle, BLOB_HANDLE_NONE);
      BLOB_HANDLE Read = 0;
      ASSERT_EQ(OpenBlobStream(&Read, BlobAccessRead), EFI_SUCCESS);
      EXPECT_EQ(ReadStream(), Stream) << Nth;
      EXPECT_EQ(CloseBlobStream(Read), EFI_SUCCESS);
      WriteStream(Stream);
      continue;
    }
    EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES) << Nth;
    EXPECT_EQ(Stored()->Data, Bytes{0xEE});
    EXPECT_EQ(WriteStreamBytes(), Stream);
    EXPECT_EQ(Platform().Pool().OutstandingCount(), 1u) << "leak when allocation " << Nth << " fails";
  }
}

}  // namespace
}  // namespace blobtest
