// ACPI data storage entries: every kind is built, appended with SaveBlob, read
// back with ReadBlob and checked field by field at the offsets of the stored
// format (read with the test's own little-endian helpers, not the structs).
#include <cstring>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/blob/BlobTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace blobtest {
namespace {

constexpr UINT64 kEntrySignature = 0xFF00AA0000AA00FFULL;

class AcpiDataStorageTest : public BlobPlatformTest {
 protected:
  // Saves the entry's Length bytes to a fresh write stream, moves the stream to
  // the read side and returns what ReadBlob gives back.
  Bytes SaveAndReadBack(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
    BLOB_HANDLE Write = 0;
    EXPECT_EQ(OpenBlobStream(&Write, BlobAccessWrite), EFI_SUCCESS);
    EXPECT_EQ(SaveBlob(Write, Entry, Entry->AcpiCommonHeader.Length), EFI_SUCCESS);
    LoadReadStream(WriteStreamBytes());
    VOID *Blob = nullptr;
    UINT32 Length = 0;
    EXPECT_EQ(ReadBlob(mReadBlobHandle, &Blob, &Length), EFI_SUCCESS);
    Bytes Result((UINT8 *)Blob, (UINT8 *)Blob + Length);
    FreePool(Blob);
    return Result;
  }
};

void ExpectHeader(const Bytes &Entry, const char Signature[4], UINT32 Length, UINT32 Type, UINT32 SubType,
                  UINT32 NvsType) {
  ASSERT_GE(Entry.size(), 32u);
  EXPECT_EQ(Entry.size(), Length);
  EXPECT_EQ(Get32(Entry, 0), 1u) << "Revision";
  EXPECT_EQ(std::string((const char *)&Entry[4], 4), std::string(Signature, 4));
  EXPECT_EQ(Get32(Entry, 8), Length);
  EXPECT_EQ(Get32(Entry, 12), Type);
  EXPECT_EQ(Get32(Entry, 16), SubType);
  EXPECT_EQ(Get32(Entry, 20), NvsType);
  EXPECT_EQ(Get64(Entry, 24), kEntrySignature);
}

TEST_F(AcpiDataStorageTest, FadtAndFacsEntriesCarryConstantSignatures) {
  Bytes Fadt = MakeFadt();
  std::memcpy(Fadt.data(), "XXXX", 4);  // the entry's signature does not come from the table
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeFadt, Fadt.data(), (UINT32)Fadt.size(), &Entry), EFI_SUCCESS);
  Bytes Stored = SaveAndReadBack(Entry);
  FreePool(Entry);
  ExpectHeader(Stored, "FACP", 308, 1, 3, 0);
  EXPECT_EQ(Bytes(Stored.begin() + 32, Stored.end()), Fadt);

  Bytes Facs = MakeFacs();
  Entry = nullptr;
  ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeFacs, Facs.data(), (UINT32)Facs.size(), &Entry), EFI_SUCCESS);
  EXPECT_EQ(Entry->AcpiCommonHeader.Length, 96u);
  EXPECT_EQ(Bytes((UINT8 *)Entry, (UINT8 *)Entry + 96),
            MakeTableEntryBytes(SIGNATURE_32('F', 'A', 'C', 'S'), 2, Facs));
  FreePool(Entry);
}

struct TableRow {
  const char *Name;
  const char *Signature;
  UINT32 Type;
  UINT32 TableLength;
  bool FromFv;
  UINT32 ExpectedLength;
};
ZEPHRIN_PRINT_ROW_BY_NAME(TableRow)

class AcpiTableEntryTest : public AcpiDataStorageTest, public ::testing::WithParamInterface<TableRow> {};

TEST_P(AcpiTableEntryTest, RoundTrip) {
  const TableRow &Row = GetParam();
  Bytes Table = MakeTable(Row.Signature, Row.TableLength, 0x40);
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  ASSERT_EQ(CreateAcpiTableEntry(Row.Type, Table.data(), Row.TableLength, &Entry), EFI_SUCCESS);
  if (Row.FromFv) {
    ASSERT_EQ(MarkAcpiTableEntryFromFv(Entry), EFI_SUCCESS);
    // The buffer still holds the whole table for the element capture.
    EXPECT_EQ(std::memcmp(Entry + 1, Table.data(), Table.size()), 0);
  }
  Bytes Stored = SaveAndReadBack(Entry);
  FreePool(Entry);
  ExpectHeader(Stored, Row.Signature, Row.ExpectedLength, Row.Type, Row.FromFv ? 4 : 3, 0);
  Bytes Expected(Table.begin(), Table.begin() + (Row.ExpectedLength - 32));
  EXPECT_EQ(Bytes(Stored.begin() + 32, Stored.end()), Expected);
  if (Row.Type == AcpiDataTypeSsdt) {
    EXPECT_EQ(std::string((const char *)&Stored[48], 8),
              "BLOBTEST");  // OemTableId where elements keep theirs
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, AcpiTableEntryTest,
                         ::testing::Values(TableRow{"Dsdt", "DSDT", 3, 500, false, 532},
                                           TableRow{"DsdtFromFv", "DSDT", 3, 500, true, 32},
                                           TableRow{"DataTable", "APIC", 4, 120, false, 152},
                                           TableRow{"TinyDataTable", "BOOT", 4, 8, false, 40},
                                           TableRow{"Ssdt", "SSDT", 5, 77, false, 109},
                                           TableRow{"SsdtFromFv", "SSDT", 5, 77, true, 68}),
                         [](const ::testing::TestParamInfo<TableRow> &Info) { return Info.param.Name; });

TEST_F(AcpiDataStorageTest, TableBuilderRefusesWhatCannotFormAnEntry) {
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  UINT8 Byte = 0;
  EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeDsdt, nullptr, 40, &Entry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeDsdt, &Byte, 3, &Entry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeDsdt, &Byte, 0xFFFFFFF0, &Entry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Entry, nullptr);
  Bytes Table = MakeTable("APIC", 40, 0);
  ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeAcpiDataTables, Table.data(), 40, &Entry), EFI_SUCCESS);
  EXPECT_EQ(MarkAcpiTableEntryFromFv(Entry), EFI_INVALID_PARAMETER);  // only DSDT and SSDT come from a volume
  EXPECT_EQ(Entry->AcpiDataSubType, (UINT32)AcpiDataSubTypeTable);
  FreePool(Entry);
  Platform().Pool().FailAllocation(1);
  Entry = nullptr;
  EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeAcpiDataTables, Table.data(), 40, &Entry), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Entry, nullptr);
}

// A meta data record of Size bytes: a header as the meta data carries it (Rank
// and other bytes where the entry keeps its signature), then recognisable bytes.
Bytes MakeRecord(UINT32 Size, UINT32 SubType, UINT32 NvsType) {
  Bytes Record(Size);
  for (UINT32 Index = 0; Index < Size; Index++) Record[Index] = (UINT8)(0x11 + Index * 3);
  Put32(&Record, 0, 9);  // Revision, not examined in a record
  std::memcpy(&Record[4], "ZZZZ", 4);
  Put32(&Record, 8, Size);
  Put32(&Record, 12, 0);
  Put32(&Record, 16, SubType);
  Put32(&Record, 20, NvsType);
  Put64(&Record, 24, 0x0000000000002001ULL);  // Rank and the unexamined bytes
  Put32(&Record, 36, 0x100);                  // description-header Length
  return Record;
}

struct ElementRow {
  const char *Name;
  const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind;
  const char *Signature;
  UINT32 Type;
  UINT32 SubType;
  UINT32 NvsType;
  UINT32 Fixed;
  UINT32 NvsLength;
};
ZEPHRIN_PRINT_ROW_BY_NAME(ElementRow)

class AcpiNvsElementTest : public AcpiDataStorageTest, public ::testing::WithParamInterface<ElementRow> {};

TEST_P(AcpiNvsElementTest, RoundTrip) {
  const ElementRow &Row = GetParam();
  Bytes Record = MakeRecord(Row.Fixed + 5, Row.SubType, Row.NvsType);  // records may be longer
  Bytes Region(Row.NvsLength);
  for (size_t Index = 0; Index < Region.size(); Index++) Region[Index] = (UINT8)(0xC0 ^ Index);
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  ASSERT_EQ(
      CreateNvsElementEntry(Row.Kind, Record.data(), Record.size(), Region.data(), Row.NvsLength, &Entry),
      EFI_SUCCESS);
  Bytes Stored = SaveAndReadBack(Entry);
  FreePool(Entry);

  ExpectHeader(Stored, Row.Signature, Row.Fixed + Row.NvsLength, Row.Type, Row.SubType, Row.NvsType);
  EXPECT_EQ(Get32(Stored, 36), 0x100u + Row.NvsLength);
  Bytes CopiedRecord = Record;
  Put32(&CopiedRecord, 36, 0x100u + Row.NvsLength);
  EXPECT_EQ(Bytes(Stored.begin() + 32, Stored.begin() + Row.Fixed - 8),
            Bytes(CopiedRecord.begin() + 32, CopiedRecord.begin() + Row.Fixed - 8));
  EXPECT_EQ(Get64(Stored, Row.Fixed - 8), Row.NvsLength);
  EXPECT_EQ(Bytes(Stored.begin() + Row.Fixed, Stored.end()), Region);

  ACPI_DATA_STORAGE_ENTRY_HEADER Header;
  ASSERT_TRUE(ReadAcpiDataStorageEntryHeader(Stored.data(), (UINT32)Stored.size(), &Header));
  EXPECT_EQ(GetAcpiDataStorageElementFixedLength(&Header), Row.Fixed);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AcpiNvsElementTest,
    ::testing::Values(
        ElementRow{"DsdtNvsDefault", &gDsdtNvsDefaultElement, "DSDT", 3, 5, 1, 159, 40},
        ElementRow{"DsdtNvsDefaultEmptyRegion", &gDsdtNvsDefaultElement, "DSDT", 3, 5, 1, 159, 0},
        ElementRow{"DsdtNvsType2", &gDsdtNvsType2Element, "DSDT", 3, 5, 3, 183, 17},
        ElementRow{"SsdtNvsDefault", &gSsdtNvsDefaultElement, "SSDT", 5, 5, 1, 159, 256},
        ElementRow{"SsdtNvsType1", &gSsdtNvsType1Element, "SSDT", 5, 5, 2, 242, 3},
        ElementRow{"SsdtNvsType1EmptyRegion", &gSsdtNvsType1Element, "SSDT", 5, 5, 2, 242, 0},
        ElementRow{"SsdtNonNvsType2", &gSsdtNonNvsType2Element, "SSDT", 5, 6, 3, 183, 9},
        ElementRow{"SsdtNonNvsType2EmptyRegion", &gSsdtNonNvsType2Element, "SSDT", 5, 6, 3, 183, 0}),
    [](const ::testing::TestParamInfo<ElementRow> &Info) { return Info.param.Name; });

TEST_F(AcpiDataStorageTest, IntegerElementAlwaysCarriesTheDefaultType) {
  Bytes Record = MakeRecord(216, 7, 0);
  Put32(&Record, 152, 4);                      // the record asks for a variable
  Put64(&Record, 156, 0x1122334455667788ULL);  // default value, replaced by the captured one
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  ASSERT_EQ(CreateIntegerElementEntry(Record.data(), Record.size(), 0xFF, &Entry), EFI_SUCCESS);
  Bytes Stored = SaveAndReadBack(Entry);
  FreePool(Entry);
  ExpectHeader(Stored, "DSDT", 216, 3, 7, 0);
  EXPECT_EQ(Get32(Stored, 36), 0x100u);  // no data appended, Length unchanged
  EXPECT_EQ(Stored[151], Record[151]);
  EXPECT_EQ(Get32(Stored, 152), 3u);
  EXPECT_EQ(Get64(Stored, 156), 0xFFull);
  EXPECT_EQ(Bytes(Stored.begin() + 164, Stored.end()), Bytes(Record.begin() + 164, Record.end()));
  EXPECT_EQ(Bytes(Stored.begin() + 32, Stored.begin() + 151),
            Bytes(Record.begin() + 32, Record.begin() + 151));
}

TEST_F(AcpiDataStorageTest, ElementBuildersRefuseShortRecordsAndUnrepresentableRegions) {
  Bytes Record = MakeRecord(242, 5, 2);
  UINT8 Region = 0;
  Platform().Pool().StartCounting();
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EXPECT_EQ(CreateNvsElementEntry(&gSsdtNvsType1Element, Record.data(), 241, &Region, 1, &Entry),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateIntegerElementEntry(Record.data(), 215, 0, &Entry), EFI_INVALID_PARAMETER);
  // 242 + n must fit the 32-bit Length: a truncated entry is never built.
  EXPECT_EQ(CreateNvsElementEntry(&gSsdtNvsType1Element, Record.data(), 242, &Region, 0xFFFFFF0E, &Entry),
            EFI_BAD_BUFFER_SIZE);
  EXPECT_EQ(CreateNvsElementEntry(&gSsdtNvsType1Element, Record.data(), 242, nullptr, 4, &Entry),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateNvsElementEntry(&gDsdtIntegerElement, Record.data(), 242, &Region, 1, &Entry),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Entry, nullptr);
  EXPECT_EQ(Platform().Pool().AllocationsCounted(), 0u);
}

TEST_F(AcpiDataStorageTest, HeaderReaderChecksLengthAgainstPayload) {
  Bytes Entry = MakeTableEntryBytes(SIGNATURE_32('A', 'P', 'I', 'C'), 4, MakeTable("APIC", 12, 0));
  ACPI_DATA_STORAGE_ENTRY_HEADER Header;
  EXPECT_TRUE(ReadAcpiDataStorageEntryHeader(Entry.data(), (UINT32)Entry.size(), &Header));
  EXPECT_EQ(Header.AcpiDataType, 4u);
  EXPECT_EQ(GetAcpiDataStorageElementFixedLength(&Header), 0u);  // a table, not an element
  EXPECT_FALSE(ReadAcpiDataStorageEntryHeader(Entry.data(), 31, &Header));
  EXPECT_FALSE(ReadAcpiDataStorageEntryHeader(Entry.data(), (UINT32)Entry.size() - 1, &Header));
  EXPECT_FALSE(ReadAcpiDataStorageEntryHeader(nullptr, 44, &Header));
}

}  // namespace
}  // namespace blobtest
