// Blob streams: every check on a header read back from the read stream, appends
// up to the write stream's capacity, round trips, and the open/close state rules.
#include <cstring>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/blob/BlobTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace blobtest {
namespace {

constexpr UINT64 kSig = 0xFFFF00000000FFFFULL;

Bytes Payload(size_t Size, UINT8 Seed) {
  Bytes Data(Size);
  for (size_t Index = 0; Index < Size; Index++) Data[Index] = (UINT8)(Seed + Index);
  return Data;
}

// One rejected (or missing) header. GoodBlobs valid blobs come first and are read
// away before the checked one.
struct HeaderRow {
  const char *Name;
  Bytes Stream;
  int GoodBlobs;
  EFI_STATUS Status;
  const char *Message;  // "%s" stands for "peek"/"read" in the end-of-stream text
};
ZEPHRIN_PRINT_ROW_BY_NAME(HeaderRow)

Bytes Cat(std::initializer_list<Bytes> Parts) {
  Bytes All;
  for (const Bytes &Part : Parts) Append(&All, Part);
  return All;
}

std::vector<HeaderRow> HeaderRows() {
  const Bytes Good = MakeBlob(Payload(5, 1));
  return {
      {"EmptyStream", {}, 0, EFI_NOT_FOUND, "No more blobs available to %s.\n"},
      {"TailShorterThanHeader", Cat({Good, Bytes(15, 0xFF)}), 1, EFI_NOT_FOUND,
       "No more blobs available to %s.\n"},
      {"RevisionZero", MakeBlobWithHeader(0, 21, kSig, Payload(5, 1)), 0, EFI_INVALID_PARAMETER,
       "Blob revision 0 unsupported.\n"},
      {"RevisionTwo", Cat({Good, MakeBlobWithHeader(2, 21, kSig, Payload(5, 1))}), 1, EFI_INVALID_PARAMETER,
       "Blob revision 2 unsupported.\n"},
      {"SignatureBytesSwapped", MakeBlobWithHeader(1, 21, 0x0000FFFFFFFF0000ULL, Payload(5, 1)), 0,
       EFI_INVALID_PARAMETER, "Blob appears corrupt.\n"},
      {"LengthZero", MakeBlobWithHeader(1, 0, kSig, Payload(5, 1)), 0, EFI_INVALID_PARAMETER,
       "Error, the blob length in the blob header is too short to be valid.\n"},
      {"LengthOfHeaderOnly", MakeBlobWithHeader(1, 16, kSig, Payload(5, 1)), 0, EFI_INVALID_PARAMETER,
       "Error, the blob length in the blob header is too short to be valid.\n"},
      {"LengthOneBytePastEnd", MakeBlobWithHeader(1, 22, kSig, Payload(5, 1)), 0, EFI_INVALID_PARAMETER,
       "Error, the blob length in the blob header is too long to be valid.\n"},
      {"LengthMaximal", MakeBlobWithHeader(1, 0xFFFFFFFF, kSig, Payload(5, 1)), 0, EFI_INVALID_PARAMETER,
       "Error, the blob length in the blob header is too long to be valid.\n"},
      // Shorter than the whole stream, but longer than what is left after it.
      {"LaterBlobPastEnd", Cat({Good, Good, MakeBlobWithHeader(1, 40, kSig, Payload(5, 1))}), 2,
       EFI_INVALID_PARAMETER, "Error, the blob length in the blob header is too long to be valid.\n"},
  };
}

std::string WithVerb(const char *Message, const char *Verb) {
  std::string Text = Message;
  size_t At = Text.find("%s");
  if (At != std::string::npos) Text.replace(At, 2, Verb);
  return Text;
}

class BlobHeaderCheckTest : public BlobPlatformTest, public ::testing::WithParamInterface<HeaderRow> {};

TEST_P(BlobHeaderCheckTest, PeekKeepsPositionAndReadSkipsRejectedHeader) {
  const HeaderRow &Row = GetParam();
  LoadReadStream(Row.Stream);
  for (int Index = 0; Index < Row.GoodBlobs; Index++) {
    VOID *Blob = nullptr;
    UINT32 Length = 0;
    ASSERT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_SUCCESS);
    FreePool(Blob);
  }
  const UINT32 Start = mReadBlobStreamOffset;

  VOID *Blob = nullptr;
  UINT32 Length = 0;
  EXPECT_EQ(PeekBlob(mReadBlobHandle, &Blob, &Length), Row.Status);
  EXPECT_EQ(Blob, nullptr);
  EXPECT_EQ(mReadBlobStreamOffset, Start);
  EXPECT_TRUE(Logged(DEBUG_ERROR, WithVerb(Row.Message, "peek")));

  ClearMessages();
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), Row.Status);
  EXPECT_EQ(Blob, nullptr);
  EXPECT_TRUE(Logged(DEBUG_ERROR, WithVerb(Row.Message, "read")));
  // End of stream moves nothing; a rejected header is skipped, and only it.
  EXPECT_EQ(mReadBlobStreamOffset, Row.Status == EFI_NOT_FOUND ? Start : Start + 16);
}

INSTANTIATE_TEST_SUITE_P(Rows, BlobHeaderCheckTest, ::testing::ValuesIn(HeaderRows()),
                         [](const ::testing::TestParamInfo<HeaderRow> &Info) { return Info.param.Name; });

using BlobStreamTest = BlobPlatformTest;

TEST_F(BlobStreamTest, EndOfStreamReportsBothOffsets) {
  LoadReadStream(MakeBlob(Payload(3, 0)));
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  ASSERT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_SUCCESS);
  FreePool(Blob);
  Blob = nullptr;
  ClearMessages();
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_NOT_FOUND);
  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_EQ(Messages()[0].Text, "ReadBlob() Entry.\n");
  EXPECT_EQ(Messages()[1].Text, "No more blobs available to read.\n");
  EXPECT_EQ(Messages()[2].Text, "  mReadBlobStreamOffset    = 13.\n");
  EXPECT_EQ(Messages()[3].Text, "  mReadBlobStreamMaxOffset = 13.\n");
}

TEST_F(BlobStreamTest, SavedBlobsReadBackExactlyAndPeekDoesNotMove) {
  BLOB_HANDLE Write = 0;
  ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
  EXPECT_EQ(Write, BLOB_HANDLE_WRITE);
  const std::vector<Bytes> Payloads = {Payload(1, 7), Payload(300, 3), Payload(33, 200)};
  for (const Bytes &Data : Payloads)
    ASSERT_EQ(SaveBlob(Write, Data.data(), (UINT32)Data.size()), EFI_SUCCESS);
  EXPECT_EQ(mWriteBlobStreamOffset, 1u + 300u + 33u + 3u * 16u);
  Bytes Expected = Cat({MakeBlob(Payloads[0]), MakeBlob(Payloads[1]), MakeBlob(Payloads[2])});
  EXPECT_EQ(WriteStreamBytes(), Expected);

  LoadReadStream(WriteStreamBytes());
  for (const Bytes &Data : Payloads) {
    VOID *Peeked = nullptr;
    VOID *Peeked2 = nullptr;
    VOID *Read = nullptr;
    UINT32 PeekLength = 0;
    UINT32 ReadLength = 0;
    ASSERT_EQ(PeekBlob(mReadBlobHandle, &Peeked, &PeekLength), EFI_SUCCESS);
    ASSERT_EQ(PeekBlob(mReadBlobHandle, &Peeked2, &PeekLength), EFI_SUCCESS);
    ASSERT_EQ(ReadBlob(mReadBlobHandle, &Read, &ReadLength), EFI_SUCCESS);
    EXPECT_EQ(ReadLength, Data.size());
    EXPECT_EQ(PeekLength, Data.size());
    EXPECT_EQ(Bytes((UINT8 *)Read, (UINT8 *)Read + ReadLength), Data);
    EXPECT_EQ(std::memcmp(Peeked, Read, ReadLength), 0);
    EXPECT_EQ(std::memcmp(Peeked2, Read, ReadLength), 0);
    EXPECT_NE(Peeked, Read);  // fresh copies the caller owns
    FreePool(Peeked);
    FreePool(Peeked2);
    FreePool(Read);
  }
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_NOT_FOUND);
}

TEST_F(BlobStreamTest, SaveBlobFillsCapacityExactlyAndRefusesOneByteMore) {
  BLOB_HANDLE Write = 0;
  ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
  Bytes First = Payload(0x1000, 1);
  ASSERT_EQ(SaveBlob(Write, First.data(), (UINT32)First.size()), EFI_SUCCESS);
  const UINT32 Left = MAX_CACHE_SIZE - mWriteBlobStreamOffset - 16;
  Bytes Big = Payload(Left + 1, 2);
  const Bytes Before = WriteStreamBytes();

  ClearMessages();
  EXPECT_EQ(SaveBlob(Write, Big.data(), Left + 1), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(WriteStreamBytes(), Before);
  const std::vector<std::string> Expected = {
      "SaveBlob - Attempt to write past mWriteBlobStreamMaxOffset\n",
      "SaveBlob -   mWriteBlobStreamMaxOffset = 40000\n",
      "SaveBlob -   mWriteBlobStreamOffset    = 1010\n",
      "SaveBlob -   sizeof (BLOB_HEADER)      = 10\n",
      "SaveBlob -   BlobLength                = 3EFE1\n",
  };
  for (const std::string &Text : Expected) EXPECT_TRUE(Logged(DEBUG_ERROR, Text)) << Text;

  EXPECT_EQ(SaveBlob(Write, Big.data(), 0xFFFFFFFF), EFI_OUT_OF_RESOURCES);  // no wrap-around
  EXPECT_EQ(SaveBlob(Write, Big.data(), Left), EFI_SUCCESS);
  EXPECT_EQ(mWriteBlobStreamOffset, (UINT32)MAX_CACHE_SIZE);
}

TEST_F(BlobStreamTest, SaveBlobRefusesBadArgumentsAndClosedStream) {
  UINT8 Byte = 1;
  EXPECT_EQ(SaveBlob(BLOB_HANDLE_WRITE, &Byte, 1), EFI_OUT_OF_RESOURCES);  // not open: capacity 0
  BLOB_HANDLE Write = 0;
  ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
  EXPECT_EQ(SaveBlob(Write, nullptr, 1), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "Error, BlobPointer == NULL.\n"));
  EXPECT_EQ(SaveBlob(Write, &Byte, 0), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "Error, BlobLength == 0.\n"));
  EXPECT_EQ(mWriteBlobStreamOffset, 0u);
}

TEST_F(BlobStreamTest, PeekAndReadRefuseBadPointers) {
  LoadReadStream(MakeBlob(Payload(4, 0)));
  UINT32 Length = 0;
  EXPECT_EQ(PeekBlob(mReadBlobHandle, nullptr, &Length), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "Error, BlobPointer == NULL.\n"));
  VOID *Busy = &Length;
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Busy, &Length), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "Error, *BlobPointer != NULL.\n"));
  VOID *Blob = nullptr;
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(mReadBlobStreamOffset, 0u);
}

TEST_F(BlobStreamTest, PayloadAllocationFailureLeavesPointerNull) {
  LoadReadStream(Cat({MakeBlob(Payload(5, 0)), MakeBlob(Payload(6, 0))}));
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  Platform().Pool().FailAllocation(1);
  EXPECT_EQ(PeekBlob(mReadBlobHandle, &Blob, &Length), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Blob, nullptr);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "PeekBlob - Unable to allocate 15 bytes for peek blob\n"));
  Platform().Pool().FailAllocation(1);
  EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "ReadBlob - Unable to allocate 15 bytes for read blob\n"));
  EXPECT_EQ(mReadBlobStreamOffset, 16u);  // past the header, as for a rejected one
}

TEST_F(BlobStreamTest, SecondWriteOpenIsDeniedAndLeavesStreamIntact) {
  BLOB_HANDLE First = 0;
  ASSERT_EQ(OpenBlobStream(&First, BlobAccessWrite), EFI_SUCCESS);
  UINT8 Byte = 0x5A;
  ASSERT_EQ(SaveBlob(First, &Byte, 1), EFI_SUCCESS);
  UINT8 *Cache = mWriteBlobStreamPointer;
  BLOB_HANDLE Second = 9;
  EXPECT_EQ(OpenBlobStream(&Second, BlobAccessWrite), EFI_ACCESS_DENIED);
  EXPECT_EQ(Second, BLOB_HANDLE_NONE);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "OpenBlobStream - Write blob stream already open 2"));
  EXPECT_EQ(mWriteBlobStreamPointer, Cache);
  EXPECT_EQ(WriteStreamBytes(), MakeBlob({0x5A}));
}

TEST_F(BlobStreamTest, InvalidAccessTypesAreRefusedWithoutLeak) {
  BLOB_HANDLE Handle = 7;
  EXPECT_EQ(OpenBlobStream(&Handle, 2), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Handle, BLOB_HANDLE_NONE);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "OpenBlobStream - AccessType of 2 is invalid\n"));
  EXPECT_EQ(AllocateCache(5), EFI_INVALID_PARAMETER);  // allocates, then frees
  EXPECT_TRUE(Logged(DEBUG_ERROR, "AllocateCache - AccessType of 5 is invalid\n"));
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u);
}

TEST_F(BlobStreamTest, WriteCacheAllocationFailureIsReported) {
  BLOB_HANDLE Handle = 7;
  Platform().Pool().FailAllocation(1);
  EXPECT_EQ(OpenBlobStream(&Handle, BlobAccessWrite), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Handle, BLOB_HANDLE_NONE);
  EXPECT_EQ(mWriteBlobHandle, BLOB_HANDLE_NONE);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "AllocateCache - Unable to allocate 40000 cache bytes\n"));
  EXPECT_TRUE(Logged(DEBUG_ERROR, "OpenBlobStream - Fail to allocate cache for writes Out of Resources\n"));
}

TEST_F(BlobStreamTest, CloseRules) {
  // Nothing open: handle 0 names the (absent) read stream.
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_NONE), EFI_SUCCESS);
  EXPECT_TRUE(Logged(DEBUG_INFO, "Attempt to close read stream more than once\n"));
  EXPECT_EQ(CloseBlobStream(3), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CloseBlobStream - Blob handle of 3 is invalid\n"));

  LoadReadStream(MakeBlob(Payload(4, 0)));
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_READ), EFI_SUCCESS);
  EXPECT_TRUE(Logged(DEBUG_INFO, "Read blob stream was closed\n"));
  EXPECT_EQ(mReadBlobStreamPointer, nullptr);
  EXPECT_EQ(mReadBlobStreamMaxOffset, 0u);

  BLOB_HANDLE Write = 0;
  ASSERT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
  // The read stream is closed and the write stream open: handle 1 names neither.
  EXPECT_EQ(CloseBlobStream(BLOB_HANDLE_READ), EFI_INVALID_PARAMETER);
}

}  // namespace
}  // namespace blobtest
