// The meta data record walk and the lookups that find the record for a table:
// which record each lookup returns, DoNotStore, and where every walk must stop.
#include <cstdio>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "tests/pdata/PdataTestSupport.h"
#include "uefi/Acpi.h"
#include "tests/support/RowPrinter.h"

namespace pdata_test {
namespace {

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');
constexpr UINT32 kHpet = SIGNATURE_32('H', 'P', 'E', 'T');
constexpr UINT64 kOemA = SIGNATURE_64('Z', 'P', 'S', 'S', 'D', 'T', '_', 'A');
constexpr UINT64 kOemB = SIGNATURE_64('Z', 'P', 'S', 'S', 'D', 'T', '_', 'B');
constexpr UINT64 kOemC = SIGNATURE_64('Z', 'P', 'S', 'S', 'D', 'T', '_', 'C');

// One record: Size bytes (at least the header), Length as given (defaults to Size).
struct Rec {
  UINT32 Signature;
  UINT32 SubType;
  size_t Size = 32;
  UINT64 OemTableId = 0;
  int64_t Length = -1;
  UINT32 NvsType = 0;
};

std::vector<UINT8> Build(const std::vector<Rec> &Records, std::vector<size_t> *Offsets = nullptr) {
  std::vector<UINT8> Meta;
  for (const Rec &R : Records) {
    if (Offsets) Offsets->push_back(Meta.size());
    size_t Start = Meta.size();
    Meta.resize(Start + R.Size, 0);
    Put32(Meta, Start + 0, 1);
    Put32(Meta, Start + 4, R.Signature);
    Put32(Meta, Start + 8, R.Length < 0 ? static_cast<UINT32>(R.Size) : static_cast<UINT32>(R.Length));
    Put32(Meta, Start + 16, R.SubType);
    Put32(Meta, Start + 20, R.NvsType);
    if (R.OemTableId != 0 && R.Size >= 56) Put64(Meta, Start + 48, R.OemTableId);
  }
  return Meta;
}

EFI_ACPI_DESCRIPTION_HEADER Table(UINT32 Signature, UINT64 OemTableId = 0) {
  EFI_ACPI_DESCRIPTION_HEADER Header{};
  Header.Signature = Signature;
  Header.Length = sizeof(Header);
  Header.OemTableId = OemTableId;
  return Header;
}

enum class Lookup { Any, Dsdt, Ssdt };

ACPI_DATA_STORAGE_ENTRY_HEADER *Find(Lookup Which, const VOID *AcpiTable, BOOLEAN *DoNotStore) {
  switch (Which) {
    case Lookup::Any:
      return FindMetaDataPtr(AcpiTable, DoNotStore);
    case Lookup::Dsdt:
      return FindDsdtTableMetaDataPtr(AcpiTable, DoNotStore);
    case Lookup::Ssdt:
      return FindSsdtTableMetaDataPtr(AcpiTable, DoNotStore);
  }
  return nullptr;
}

class MetaDataTest : public PdataTest {
 protected:
  void Open(std::vector<UINT8> Bytes, size_t Length) {
    mMeta = std::move(Bytes);
    mAcpiMetaDataPtr = mMeta.data();
    mAcpiMetaDataLength = Length;
  }
  void Open(std::vector<UINT8> Bytes) {
    size_t Length = Bytes.size();
    Open(std::move(Bytes), Length);
  }
  // Index of the record a lookup returned among Offsets, -1 for NULL.
  int IndexOf(const VOID *Record, const std::vector<size_t> &Offsets) const {
    if (Record == nullptr) return -1;
    for (size_t Index = 0; Index < Offsets.size(); Index++) {
      if (static_cast<const UINT8 *>(Record) == mMeta.data() + Offsets[Index]) return static_cast<int>(Index);
    }
    return -2;
  }
  std::string Address(size_t Offset) const {
    char Text[32];
    snprintf(Text, sizeof(Text), "%X",
             static_cast<UINT32>(reinterpret_cast<uintptr_t>(mMeta.data() + Offset)));
    return Text;
  }
  void TearDown() override {
    mAcpiMetaDataPtr = nullptr;
    mAcpiMetaDataLength = 0;
    PdataTest::TearDown();
  }
  std::vector<UINT8> mMeta;
};

// ---- Which record each lookup returns --------------------------------------------

struct LookupRow {
  const char *Name;
  std::vector<Rec> Records;
  Lookup Which;
  UINT32 Signature;
  UINT64 OemTableId;
  int Expected;  // index of the record returned, -1 for NULL
  BOOLEAN DoNotStore;
};
ZEPHRIN_PRINT_ROW_BY_NAME(LookupRow)

class LookupRows : public MetaDataTest, public testing::WithParamInterface<LookupRow> {};

TEST_P(LookupRows, ReturnTheFirstMatchingRecord) {
  std::vector<size_t> Offsets;
  Open(Build(GetParam().Records, &Offsets));
  EFI_ACPI_DESCRIPTION_HEADER Header = Table(GetParam().Signature, GetParam().OemTableId);
  BOOLEAN DoNotStore = 7;
  EXPECT_EQ(IndexOf(Find(GetParam().Which, &Header, &DoNotStore), Offsets), GetParam().Expected)
      << Debug.Dump();
  EXPECT_EQ(DoNotStore, GetParam().DoNotStore);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LookupRows,
    testing::Values(
        LookupRow{"AnySubTypeTakesTheElementRecordFirst",
                  {{kDsdt, 5, 159}, {kDsdt, 4, 48}},
                  Lookup::Any,
                  kDsdt,
                  0,
                  0,
                  FALSE},
        LookupRow{"DsdtLookupSkipsElementRecords",
                  {{kDsdt, 5, 159}, {kDsdt, 7, 216}, {kDsdt, 6, 183}, {kDsdt, 4, 48}},
                  Lookup::Dsdt,
                  kDsdt,
                  0,
                  3,
                  FALSE},
        LookupRow{"FirstOfTwoTableRecordsWins", {{kHpet, 1}, {kHpet, 2}}, Lookup::Any, kHpet, 0, 0, FALSE},
        LookupRow{"NotStoredSetsDoNotStore", {{kDsdt, 1}, {kHpet, 2}}, Lookup::Any, kHpet, 0, 1, TRUE},
        LookupRow{"NotStoredDsdt", {{kDsdt, 2}}, Lookup::Dsdt, kDsdt, 0, 0, TRUE},
        LookupRow{"TableRecordLeavesDoNotStoreFalse", {{kHpet, 3, 40}}, Lookup::Any, kHpet, 0, 0, FALSE},
        LookupRow{"NoRecordForTheSignature", {{kDsdt, 1}, {kHpet, 1}}, Lookup::Any, kSsdt, 0, -1, FALSE},
        LookupRow{"SsdtSelectedByOemTableId",
                  {{kSsdt, 1, 68, kOemA}, {kSsdt, 2, 68, kOemB}},
                  Lookup::Ssdt,
                  kSsdt,
                  kOemB,
                  1,
                  TRUE},
        LookupRow{"SsdtOfAnUnknownOemTableId",
                  {{kSsdt, 1, 68, kOemA}, {kSsdt, 2, 68, kOemB}},
                  Lookup::Ssdt,
                  kSsdt,
                  kOemC,
                  -1,
                  FALSE},
        LookupRow{"SsdtLookupSkipsElementsOfTheSameSsdt",
                  {{kSsdt, 5, 159, kOemA}, {kSsdt, 6, 183, kOemA}, {kSsdt, 4, 84, kOemA}},
                  Lookup::Ssdt,
                  kSsdt,
                  kOemA,
                  2,
                  FALSE},
        // A record whose first 68 bytes end exactly at the end is examined.
        LookupRow{"SsdtRecordEndingExactlyAtTheEnd",
                  {{kDsdt, 1}, {kSsdt, 1, 68, kOemA}},
                  Lookup::Ssdt,
                  kSsdt,
                  kOemA,
                  1,
                  FALSE},
        // A record that matches is returned before its Length is looked at.
        LookupRow{"MatchingRecordOfLengthZero", {{kHpet, 1, 32, 0, 0}}, Lookup::Any, kHpet, 0, 0, FALSE}),
    [](const testing::TestParamInfo<LookupRow> &Info) { return std::string(Info.param.Name); });

// ---- Meta data too short, and the bounds of the walk -----------------------------

TEST_F(MetaDataTest, ThirtyOneBytesAreTooShortForEveryLookup) {
  Open(Build({{kDsdt, 1}}), 31);
  EFI_ACPI_DESCRIPTION_HEADER Dsdt = Table(kDsdt), Ssdt = Table(kSsdt, kOemA);
  BOOLEAN DoNotStore = TRUE;
  EXPECT_EQ(FindMetaDataPtr(&Dsdt, &DoNotStore), nullptr);
  EXPECT_EQ(FindDsdtTableMetaDataPtr(&Dsdt, &DoNotStore), nullptr);
  EXPECT_EQ(FindSsdtTableMetaDataPtr(&Ssdt, &DoNotStore), nullptr);
  EXPECT_FALSE(DoNotStore);
  EXPECT_TRUE(Logged("FindMetaDataPtr - Meta data is too short to be valid\n", DEBUG_ERROR));
  EXPECT_TRUE(Logged("FindDsdtTableMetaDataPtr - Meta data is too short to be valid\n", DEBUG_ERROR));
  EXPECT_TRUE(Logged("FindSsdtTableMetaDataPtr - Meta data is too short to contain meta data for a SSDT\n",
                     DEBUG_ERROR));
}

TEST_F(MetaDataTest, FortyBytesServeTableLookupsButNotTheSsdtLookup) {
  std::vector<UINT8> Meta = Build({{kDsdt, 4, 40}});
  Open(Meta);
  EFI_ACPI_DESCRIPTION_HEADER Dsdt = Table(kDsdt), Ssdt = Table(kSsdt, kOemA);
  BOOLEAN DoNotStore = FALSE;
  EXPECT_EQ(static_cast<VOID *>(FindMetaDataPtr(&Dsdt, &DoNotStore)), mMeta.data());
  EXPECT_EQ(static_cast<VOID *>(FindDsdtTableMetaDataPtr(&Dsdt, &DoNotStore)), mMeta.data());
  EXPECT_TRUE(Logged("FindMetaDataPtr - Found meta data for AcpiTable DSDT\n", DEBUG_INFO)) << Debug.Dump();
  EXPECT_EQ(FindSsdtTableMetaDataPtr(&Ssdt, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindSsdtTableMetaDataPtr - Meta data is too short to contain meta data for a SSDT\n"));
}

// The last record is examined when its first minimum-size bytes end exactly at
// the end of the meta data, and not when they would end one byte beyond.
TEST_F(MetaDataTest, LastRecordMustFitItsMinimumSize) {
  std::vector<UINT8> Meta = Build({{kDsdt, 1, 40}, {kHpet, 1, 32}});
  EFI_ACPI_DESCRIPTION_HEADER Hpet = Table(kHpet);
  BOOLEAN DoNotStore = FALSE;
  Open(Meta, 72);
  EXPECT_NE(FindMetaDataPtr(&Hpet, &DoNotStore), nullptr);
  Open(Meta, 71);
  EXPECT_EQ(FindMetaDataPtr(&Hpet, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindMetaDataPtr - Failed to locate metadata for AcpiTable HPET\n", DEBUG_INFO));
}

TEST_F(MetaDataTest, ZeroLengthRecordThatDoesNotMatchStopsTheWalk) {
  std::vector<size_t> Offsets;
  Open(Build({{kDsdt, 1}, {kHpet, 1, 32, 0, 0}, {kSsdt, 1, 68, kOemA}}, &Offsets));
  EFI_ACPI_DESCRIPTION_HEADER Ssdt = Table(kSsdt, kOemA);
  BOOLEAN DoNotStore = FALSE;
  EXPECT_EQ(FindMetaDataPtr(&Ssdt, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindMetaDataPtr - Error at byte " + Address(Offsets[1]) + "\n", DEBUG_ERROR))
      << Debug.Dump();
  EXPECT_TRUE(Logged("FindMetaDataPtr -   MdPtr->AcpiCommonHeader.Length is zero\n", DEBUG_ERROR));
  EXPECT_FALSE(Logged("FindMetaDataPtr - Failed to locate metadata for AcpiTable SSDT\n"));
}

// A Length that steps beyond the end ends the walk like the end of the data: no
// read happens past the meta data (a record near the 4 GiB mark cannot wrap).
TEST_F(MetaDataTest, LengthBeyondTheEndEndsTheWalk) {
  Open(Build({{kDsdt, 1, 32, 0, 0xFFFFFFFF}, {kHpet, 1}}));
  EFI_ACPI_DESCRIPTION_HEADER Hpet = Table(kHpet);
  BOOLEAN DoNotStore = FALSE;
  EXPECT_EQ(FindMetaDataPtr(&Hpet, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindMetaDataPtr - Failed to locate metadata for AcpiTable HPET\n"));
}

TEST_F(MetaDataTest, MatchesAreLoggedWithTheTableName) {
  Open(Build({{kSsdt, 1, 68, kOemA}}));
  EFI_ACPI_DESCRIPTION_HEADER Ssdt = Table(kSsdt, kOemA);
  BOOLEAN DoNotStore = FALSE;
  ASSERT_NE(FindSsdtTableMetaDataPtr(&Ssdt, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindSsdtTableMetaDataPtr - Found meta data for AcpiTable  SSDT\n", DEBUG_INFO));
  EXPECT_TRUE(Logged("FindSsdtTableMetaDataPtr - Found meta data for OemTableId ZPSSDT_A\n", DEBUG_INFO));
}

TEST_F(MetaDataTest, MissingArgumentsAndClosedMetaData) {
  EFI_ACPI_DESCRIPTION_HEADER Dsdt = Table(kDsdt);
  BOOLEAN DoNotStore = TRUE;
  EXPECT_EQ(FindMetaDataPtr(&Dsdt, nullptr), nullptr);
  EXPECT_TRUE(Logged("FindMetaDataPtr - DoNotStore is NULL\n", DEBUG_ERROR));
  EXPECT_EQ(FindDsdtTableMetaDataPtr(nullptr, &DoNotStore), nullptr);
  EXPECT_FALSE(DoNotStore);
  EXPECT_TRUE(Logged("FindDsdtTableMetaDataPtr - AcpiTable is NULL\n", DEBUG_ERROR));
  // Closed meta data: only FindMetaDataPtr says so.
  size_t Before = Debug.Size();
  EXPECT_EQ(FindDsdtTableMetaDataPtr(&Dsdt, &DoNotStore), nullptr);
  EXPECT_EQ(FindSsdtTableMetaDataPtr(&Dsdt, &DoNotStore), nullptr);
  EXPECT_EQ(Debug.Size(), Before);
  EXPECT_EQ(FindMetaDataPtr(&Dsdt, &DoNotStore), nullptr);
  EXPECT_TRUE(Logged("FindMetaDataPtr - Failed to locate metadata for AcpiTable DSDT\n", DEBUG_INFO));
}

TEST_F(MetaDataTest, RankAndRecordFitAreReadFromTheRecord) {
  std::vector<UINT8> Meta = Build({{kHpet, 1, 40}, {kDsdt, 4, 48, 0, 100}});
  Put16(Meta, 24, 0x3001);
  Open(Meta);
  ACPI_META_DATA_CURSOR Cursor = {};
  ASSERT_TRUE(AcpiMetaDataFirstRecord(&Cursor));
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, ACPI_META_DATA_MIN_RECORD_SIZE);
  ASSERT_NE(Record, nullptr);
  EXPECT_EQ(AcpiMetaDataRank(Record) & ACPI_META_DATA_RANK_PHASE_MASK, 0x3000);
  EXPECT_EQ(AcpiMetaDataRank(Record) & ACPI_META_DATA_RANK_COUNT_MASK, 1);
  EXPECT_TRUE(AcpiMetaDataRecordFits(&Cursor));
  EXPECT_NE(AcpiMetaDataRecordAt(&Cursor, 88), nullptr);
  EXPECT_EQ(AcpiMetaDataRecordAt(&Cursor, 89), nullptr) << "89 bytes run past the 88 bytes of meta data";
  ASSERT_TRUE(AcpiMetaDataNextRecord("Test", &Cursor));
  EXPECT_FALSE(AcpiMetaDataRecordFits(&Cursor)) << "Length 100 runs past the 88 bytes of meta data";
}

// ---- FindDsdtIntegerMetaDataPtr ----------------------------------------------

class IntegerRecordLookup : public MetaDataTest {
 protected:
  // An integer record or entry of 216 bytes whose locator names Path.
  static std::vector<UINT8> Integer(const char *Path, UINT32 Length = 216) {
    std::vector<UINT8> Bytes = Build({{kDsdt, 7, 216, 0, Length}});
    std::memcpy(&Bytes[68], Path, std::strlen(Path));
    Put32(Bytes, 68 + 66, 0x40);  // NameOffset
    return Bytes;
  }
  static std::vector<UINT8> Cat(std::vector<std::vector<UINT8>> Parts) {
    std::vector<UINT8> All;
    for (const auto &Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
    return All;
  }
  EFI_ACPI_DESCRIPTION_HEADER Dsdt = Table(kDsdt);
};

TEST_F(IntegerRecordLookup, MatchesTheWholeLocator) {
  Open(Cat({Build({{kDsdt, 4, 48}}), Integer("\\IBYT"), Integer("\\IWRD")}));
  std::vector<UINT8> Entry = Integer("\\IWRD");
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record =
      FindDsdtIntegerMetaDataPtr(&Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data()));
  EXPECT_EQ(reinterpret_cast<UINT8 *>(Record), mMeta.data() + 48 + 216);
  Entry[68 + 75] = 1;  // Reserved is part of the 83 bytes compared
  EXPECT_EQ(
      FindDsdtIntegerMetaDataPtr(&Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
      nullptr);
}

TEST_F(IntegerRecordLookup, ShortRecordOfTheKindStopsTheSearch) {
  Open(Cat({Integer("\\IBYT", 200), Integer("\\IWRD")}));
  std::vector<UINT8> Entry = Integer("\\IWRD");
  EXPECT_EQ(
      FindDsdtIntegerMetaDataPtr(&Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
      nullptr);
  EXPECT_TRUE(Logged(
      "FindDsdtIntegerMetaDataPtr - Meta data entry length of 0xC8 is too short for DSDT integer value\n",
      DEBUG_ERROR));
}

// The walk vouches for a record's first 32 bytes only; the locator at 68..150 of
// a truncated last record lies past the meta data and must not be compared.
TEST_F(IntegerRecordLookup, TruncatedLastRecordIsNotRead) {
  std::vector<UINT8> Meta = Integer("\\IWRD");
  Open(Meta, 100);
  std::vector<UINT8> Entry = Integer("\\IWRD");
  EXPECT_EQ(
      FindDsdtIntegerMetaDataPtr(&Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
      nullptr);
  EXPECT_TRUE(
      Logged("FindDsdtIntegerMetaDataPtr - Attempt to access past end of meta data " + Address(0) + "\n",
             DEBUG_ERROR))
      << Debug.Dump();
}

TEST_F(IntegerRecordLookup, ShortEntryAndMissingTableAreRefused) {
  Open(Integer("\\IWRD"));
  std::vector<UINT8> Entry = Integer("\\IWRD", 100);
  EXPECT_EQ(
      FindDsdtIntegerMetaDataPtr(&Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
      nullptr);
  EXPECT_TRUE(
      Logged("FindDsdtIntegerMetaDataPtr - ACPI data storage entry length of 64 is too short for DSDT "
             "integer value\n"));
  EXPECT_EQ(
      FindDsdtIntegerMetaDataPtr(nullptr, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
      nullptr);
  EXPECT_TRUE(Logged("FindDsdtIntegerMetaDataPtr - AcpiTable is NULL\n"));
}

}  // namespace
}  // namespace pdata_test
