// Stream comparison: one row per field the comparison ignores or checks, each
// applied to a copy of a typical stored stream, with the verdict and the message
// that explains it.
#include <functional>

#include "acpi_dxe/blob/BlobCompare.h"
#include "acpi_dxe/core/DebugLib.h"
#include "tests/blob/BlobTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace blobtest {
namespace {

// Layout of MakeTypicalStream: four blobs (16-byte header + 32-byte entry header
// + data): FADT (276), FACS (64), DSDT (300), SSDT (120).
constexpr size_t kFadt = 48;
constexpr size_t kFacsBlob = 324;
constexpr size_t kFacs = kFacsBlob + 48;
constexpr size_t kDsdtBlob = 436;
constexpr size_t kDsdt = kDsdtBlob + 48;
constexpr size_t kSsdtBlob = 784;
constexpr size_t kSsdt = kSsdtBlob + 48;
constexpr size_t kStreamSize = 952;

using Mutation = std::function<void(Bytes *)>;

struct CompareRow {
  const char *Name;
  Mutation Old;  // applied to the stored stream
  Mutation New;  // applied to the new stream
  bool Similar;
  UINTN Level;          // level of Message
  const char *Message;  // nullptr: no particular message
};
ZEPHRIN_PRINT_ROW_BY_NAME(CompareRow)

Mutation None() {
  return [](Bytes *) {};
}
Mutation Set8(size_t Offset, UINT8 Value) {
  return [=](Bytes *S) { (*S)[Offset] = Value; };
}
Mutation Set32(size_t Offset, UINT32 Value) {
  return [=](Bytes *S) { Put32(S, Offset, Value); };
}
Mutation Set64(size_t Offset, UINT64 Value) {
  return [=](Bytes *S) { Put64(S, Offset, Value); };
}
Mutation Both(Mutation First, Mutation Second) {
  return [=](Bytes *S) {
    First(S);
    Second(S);
  };
}
Mutation NewPointers() {
  return [](Bytes *S) {
    Put32(S, kFadt + 36, 0x6F000000);
    Put32(S, kFadt + 40, 0x6E000000);
    Put64(S, kFadt + 132, 0x16F000000ULL);
    Put64(S, kFadt + 140, 0x16E000000ULL);
  };
}
Mutation HwReduced() {
  return Set32(kFadt + 112, 0x000084A5 | (1u << 20));
}
Mutation LegacyOnly() {
  return Both(Set64(kFadt + 132, 0), Set64(kFadt + 140, 0));
}
Mutation AppendHeader() {
  return [](Bytes *S) { Append(S, MakeBlob({})); };
}
Mutation AppendBytes(size_t Count) {
  return [=](Bytes *S) { S->insert(S->end(), Count, 0xAB); };
}

std::vector<CompareRow> CompareRows() {
  return {
      {"Identical", None(), None(), true, 0, nullptr},
      {"FadtChecksumOnly", None(), Set8(kFadt + 9, 0x5A), true, 0, nullptr},
      {"FadtPointersInWideForm", None(), NewPointers(), true, 0, nullptr},
      {"FadtPointersInLegacyForm", LegacyOnly(),
       Both(LegacyOnly(), Both(Set32(kFadt + 36, 1), Set32(kFadt + 40, 2))), true, DEBUG_INFO,
       "CompareAcpiDataTypeFadtEntries - FADT Dsdt used instead of XDsdt.\n"},
      {"FadtLegacyFacsPointerNotice", LegacyOnly(), LegacyOnly(), true, DEBUG_INFO,
       "CompareAcpiDataTypeFadtEntries - FADT FirmwareCtrl used instead of XFirmwareCtrl.\n"},
      {"FadtXDsdtInOneStreamOnly", None(), Set64(kFadt + 140, 0), false, DEBUG_INFO,
       "CompareAcpiDataTypeFadtEntries - FADT XDsdt values are incompatible.\n"},
      {"FadtLegacyDsdtMissing", Set64(kFadt + 140, 0), Both(Set64(kFadt + 140, 0), Set32(kFadt + 40, 0)),
       false, DEBUG_INFO, "CompareAcpiDataTypeFadtEntries - FADT Dsdt values are incompatible.\n"},
      {"FadtXFacsInOneStreamOnly", Set64(kFadt + 132, 0), None(), false, DEBUG_INFO,
       "CompareAcpiDataTypeFadtEntries - FADT XFirmwareCtrl values are incompatible.\n"},
      {"FadtLegacyFacsMissing", Set64(kFadt + 132, 0), Both(Set64(kFadt + 132, 0), Set32(kFadt + 36, 0)),
       false, DEBUG_INFO, "CompareAcpiDataTypeFadtEntries - FADT FirmwareCtrl values are incompatible.\n"},
      {"HwReducedFacsPointerCounts", HwReduced(), Both(HwReduced(), Set64(kFadt + 132, 0x7FF6F000)), false,
       DEBUG_INFO, "CompareAcpiDataTypeFadtEntries - Blob FADT 1 byte 133 is 0xE0.\n"},
      {"HwReducedDsdtPointerIgnored", HwReduced(), Both(HwReduced(), Set64(kFadt + 140, 0x1234000)), true,
       DEBUG_INFO, "CompareAcpiDataTypeFadtEntries - FADT Flags indicate this is a HW reduced platform.\n"},
      {"FadtOtherField", None(), Set8(kFadt + 46, 10), false, DEBUG_INFO,
       "CompareAcpiDataTypeFadtEntries - Blob FADT 1 byte 46 is 0x9.\n"},
      {"FadtMajorVersion", Set8(kFadt + 8, 5), Set8(kFadt + 8, 5), false, DEBUG_ERROR,
       "CompareAcpiDataTypeFadtEntries - FADT major version is not 6\n"},
      {"FadtMinorVersion", None(), Set8(kFadt + 131, 2), false, DEBUG_ERROR,
       "CompareAcpiDataTypeFadtEntries - FADT minor version is not 3\n"},
      {"FadtFlags", None(), HwReduced(), false, DEBUG_ERROR,
       "CompareAcpiDataTypeFadtEntries - FADT Flags not identical 0x84A5 and 0x1084A5\n"},
      {"FadtEntrySignature", Set32(16 + 4, 0x58585858), Set32(16 + 4, 0x58585858), false, DEBUG_ERROR,
       "CompareAcpiDataTypeFadtEntries - Was expecting FADT but found XXXX\n"},
      {"FacsHardwareSignatureOnly", None(), Set32(kFacs + 8, 0xCAFEF00D), true, DEBUG_INFO,
       "CompareAcpiDataTypeFacsEntries - Facs2 Hardware Signature CRC = 0xCAFEF00D\n"},
      {"FacsWakingVector", None(), Set32(kFacs + 12, 0x0009E000), false, DEBUG_INFO,
       "CompareAcpiDataTypeFacsEntries - Blob FACS 1 byte 13 is 0xF0.\n"},
      {"FacsEntrySignature", Set32(kFacsBlob + 16 + 4, 0x53434146 + 1),
       Set32(kFacsBlob + 16 + 4, 0x53434146 + 1), false, DEBUG_ERROR,
       "CompareAcpiDataTypeFacsEntries - Was expecting FACS but found GACS\n"},
      {"DsdtByte", None(), Set8(kDsdt + 100, 0), false, DEBUG_INFO,
       "CompareAcpiDataStorageEntries - Entry 2 byte 100 is 0x0.\n"},
      {"SsdtLastByte", None(), Set8(kSsdt + 119, 0), false, DEBUG_INFO,
       "CompareAcpiDataStorageEntries - Entry 2 byte 119 is 0x0.\n"},
      {"EntrySubType", None(), Set32(kDsdtBlob + 16 + 16, 4), false, DEBUG_INFO,
       "CheckAcpiDataStorageHeaders - ACPI Data Storage Entry header 2 byte 16 is 0x4.\n"},
      {"EntryTypeUnknown", Set32(kDsdtBlob + 16 + 12, 9), Set32(kDsdtBlob + 16 + 12, 9), false, DEBUG_ERROR,
       "CompareBlobs - Invalid ACPI data type for Header->AcpiDataType 0x9\n"},
      {"EntryTypeZero", Set32(kSsdtBlob + 16 + 12, 0), Set32(kSsdtBlob + 16 + 12, 0), false, DEBUG_ERROR,
       "CompareBlobs - Invalid ACPI data type for Header->AcpiDataType 0x0\n"},
      {"BlobHeaderRevision", None(), Set32(kFacsBlob, 2), false, DEBUG_INFO,
       "CheckBlobHeaders - Blob 2 header byte 0 is 0x2.\n"},
      {"BlobRevisionInBoth", Set32(kFacsBlob, 2), Set32(kFacsBlob, 2), false, DEBUG_ERROR,
       "CheckBlobHeaders - Blob revision 2 is not supported.\n"},
      {"BlobSignatureInBoth", Set8(kFacsBlob + 8, 0), Set8(kFacsBlob + 8, 0), false, DEBUG_ERROR,
       "CheckBlobHeaders - Blob appears corrupt.\n"},
      {"BlobLengthBelowHeader", Set32(kFacsBlob + 4, 15), Set32(kFacsBlob + 4, 15), false, DEBUG_ERROR,
       "CheckBlobHeaders - Error, the blob length in the blob header is too short to be valid.\n"},
      {"BlobLengthOfHeaderOnly", Set32(kFacsBlob + 4, 16), Set32(kFacsBlob + 4, 16), false, DEBUG_ERROR,
       "CheckAcpiDataStorageHeaders - Read blob length less than ACPI data storage entry!\n"},
      // Below the stream's length, but past its end when counted from where it starts.
      {"BlobLengthPastEnd", Set32(kSsdtBlob + 4, 500), Set32(kSsdtBlob + 4, 500), false, DEBUG_ERROR,
       "CheckBlobHeaders - Error, the blob length in the blob header is too long to be valid.\n"},
      {"TrailingBytesShorterThanHeader", AppendBytes(10), AppendBytes(10), false, DEBUG_ERROR,
       "CompareBlobs -Error, Blobs are too short to contain a blob header.\n"},
      // A bare blob header at the end: read as a header, it holds no entry.
      {"TrailingBareBlobHeader", AppendHeader(), AppendHeader(), false, DEBUG_ERROR,
       "CheckAcpiDataStorageHeaders - Read blob length less than ACPI data storage entry!\n"},
      {"DifferentLengths", None(), AppendBytes(1), false, DEBUG_ERROR,
       "CompareBlobs - Error, Blobs are of different lengths thus not the same.\n"},
  };
}

class BlobCompareRowTest : public BlobPlatformTest, public ::testing::WithParamInterface<CompareRow> {};

TEST_P(BlobCompareRowTest, VerdictAndReason) {
  const CompareRow &Row = GetParam();
  Bytes Old = MakeTypicalStream(MakeFadt(), MakeFacs());
  ASSERT_EQ(Old.size(), kStreamSize);
  Bytes New = Old;
  Row.Old(&Old);
  Row.New(&New);
  const Bytes OldBefore = Old;
  const Bytes NewBefore = New;
  BOOLEAN Similar = 7;
  EFI_STATUS Status = CompareBlobs(Old.data(), (UINT32)Old.size(), New.data(), (UINT32)New.size(), &Similar);
  EXPECT_EQ(Status, Row.Similar ? EFI_SUCCESS : EFI_INVALID_PARAMETER);
  EXPECT_EQ(Similar, Row.Similar ? TRUE : FALSE);
  if (Row.Message != nullptr) EXPECT_TRUE(Logged(Row.Level, Row.Message)) << Row.Message;
  EXPECT_EQ(Old, OldBefore);  // the comparison works on copies
  EXPECT_EQ(New, NewBefore);
}

INSTANTIATE_TEST_SUITE_P(Rows, BlobCompareRowTest, ::testing::ValuesIn(CompareRows()),
                         [](const ::testing::TestParamInfo<CompareRow> &Info) { return Info.param.Name; });

using BlobCompareTest = BlobPlatformTest;

TEST_F(BlobCompareTest, MissingOrEmptyStreamsAreDifferent) {
  Bytes Stream = MakeTypicalStream(MakeFadt(), MakeFacs());
  const UINT32 Size = (UINT32)Stream.size();
  BOOLEAN Similar = TRUE;
  struct {
    const VOID *P1;
    UINT32 L1;
    const VOID *P2;
    UINT32 L2;
    const char *Message;
  } Cases[] = {
      {nullptr, Size, Stream.data(), Size, "CompareBlobs - Error, Blob1Pointer == NULL.\n"},
      {Stream.data(), 0, Stream.data(), Size, "CompareBlobs - Error, Blob1Length is zero.\n"},
      {Stream.data(), Size, nullptr, Size, "CompareBlobs - Error, Blob2Pointer == NULL.\n"},
      {Stream.data(), Size, Stream.data(), 0, "CompareBlobs - Error, Blob2Length is zero.\n"},
      {Stream.data(), 15, Stream.data(), 15,
       "CompareBlobs -Error, Blobs are too short to contain a blob header.\n"},
  };
  for (const auto &Case : Cases) {
    Similar = TRUE;
    EXPECT_EQ(CompareBlobs(Case.P1, Case.L1, Case.P2, Case.L2, &Similar), EFI_INVALID_PARAMETER)
        << Case.Message;
    EXPECT_EQ(Similar, FALSE);
    EXPECT_TRUE(Logged(DEBUG_ERROR, Case.Message)) << Case.Message;
  }
  EXPECT_EQ(CompareBlobs(Stream.data(), Size, Stream.data(), Size, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(BlobCompareTest, FadtAndFacsOfWrongSizeAreDifferent) {
  // A FADT entry whose data is 275 bytes: headers agree, the size check refuses it.
  Bytes Fadt = MakeFadt();
  Fadt.pop_back();
  Bytes Stream = MakeBlob(MakeTableEntryBytes(SIGNATURE_32('F', 'A', 'C', 'P'), 1, Fadt));
  BOOLEAN Similar = TRUE;
  EXPECT_EQ(
      CompareBlobs(Stream.data(), (UINT32)Stream.size(), Stream.data(), (UINT32)Stream.size(), &Similar),
      EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CompareAcpiDataTypeFadtEntries - FADT table found with wrong size\n"));

  Bytes Facs = MakeFacs();
  Facs.push_back(0);
  Stream = MakeBlob(MakeTableEntryBytes(SIGNATURE_32('F', 'A', 'C', 'S'), 2, Facs));
  EXPECT_EQ(
      CompareBlobs(Stream.data(), (UINT32)Stream.size(), Stream.data(), (UINT32)Stream.size(), &Similar),
      EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_ERROR, "CompareAcpiDataTypeFacsEntries - FACS table found with wrong size\n"));
}

TEST_F(BlobCompareTest, ElementEntriesAreComparedByteForByte) {
  Bytes Entry = MakeTableEntryBytes(SIGNATURE_32('D', 'S', 'D', 'T'), 3, Bytes(127 + 16, 0x33));
  Put32(&Entry, 16, 5);  // NVS element
  Put32(&Entry, 20, 1);
  Bytes Old = MakeBlob(Entry);
  Bytes New = Old;
  New.back() = 0x34;  // last byte of the captured region
  BOOLEAN Similar = TRUE;
  EXPECT_EQ(CompareBlobs(Old.data(), (UINT32)Old.size(), New.data(), (UINT32)New.size(), &Similar),
            EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged(DEBUG_INFO, "CompareAcpiDataStorageEntries - Entry 1 byte 142 is 0x33.\n"));
}

}  // namespace
}  // namespace blobtest
