// Element capture driven by meta data records: what each record kind yields, and
// how every malformed or unsupported record ends a pass. One row per rule.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/CaptureMetaData.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/SamplePlatform.h"
#include "tests/support/RowPrinter.h"

namespace {

using namespace capture_test;
using Records = std::vector<std::vector<UINT8>>;

const UINT32 kDsdt = EFI_ACPI_DSDT_SIGNATURE;
const UINT32 kSsdt = EFI_ACPI_SSDT_SIGNATURE;

class MetaDataCapture : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    mBootPath = BOOT_PATH_CUSTOM;
    if (!Tables.Load()) GTEST_SKIP() << "fixture tables not built (iasl missing at build time)";
    if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "the sample region window is taken in this process";
    ASSERT_EQ(OpenWriteStream(), EFI_SUCCESS);
    ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeDsdt, Tables.Dsdt.data(),
                                   static_cast<UINT32>(Tables.Dsdt.size()), &DsdtEntry),
              EFI_SUCCESS);
    ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeSsdt, Tables.SsdtNvs.data(),
                                   static_cast<UINT32>(Tables.SsdtNvs.size()), &SsdtEntry),
              EFI_SUCCESS);
  }
  void TearDown() override {
    if (DsdtEntry != nullptr) FreePool(DsdtEntry);
    if (SsdtEntry != nullptr) FreePool(SsdtEntry);
    DropWriteStream();
    CloseMetaData();
    PlatformTest::TearDown();
  }
  // Runs the capture for Entry with the meta data Records; the table record is
  // the first record when WithTableRecord is set.
  EFI_STATUS Capture(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry, const Records &MetaRecords,
                     bool WithTableRecord) {
    OpenMetaData(&MetaData, MetaRecords);
    const auto *Record =
        WithTableRecord ? reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(MetaData.data()) : nullptr;
    BOOLEAN DoNotStore = TRUE;
    const EFI_STATUS Status = ProcessAcpiMetaData(Entry, Record, &DoNotStore);
    EXPECT_FALSE(DoNotStore);
    return Status;
  }
  bool LoggedStartingWith(const std::string &Prefix) const {
    for (const sim::DebugRecord &Line : Messages()) {
      if (Line.Text.compare(0, Prefix.size(), Prefix) == 0) return true;
    }
    return false;
  }

  SampleTables Tables;
  std::vector<UINT8> MetaData;
  ACPI_DATA_STORAGE_ENTRY_HEADER *DsdtEntry = nullptr;
  ACPI_DATA_STORAGE_ENTRY_HEADER *SsdtEntry = nullptr;
};

// --- Rows: records in, status, elements and a message out ------------------------

struct PassRow {
  const char *Name;
  bool Ssdt;  // capture for the SSDT ZPNVSTBL instead of the DSDT
  std::function<Records(const SampleTables &)> Build;
  EFI_STATUS Status;
  std::vector<UINT32> ElementLengths;  // the element entries written, in order
  const char *Message;                 // printed line, or a prefix ending in '*'
};
ZEPHRIN_PRINT_ROW_BY_NAME(PassRow)

class MetaDataPasses : public MetaDataCapture, public testing::WithParamInterface<PassRow> {};

TEST_P(MetaDataPasses, YieldTheirElementsOrStopWithTheirMessage) {
  const PassRow &Row = GetParam();
  const Records MetaRecords = Row.Build(Tables);
  EXPECT_EQ(Capture(Row.Ssdt ? SsdtEntry : DsdtEntry, MetaRecords, true), Row.Status) << DebugDump();
  std::vector<UINT32> Lengths;
  for (const std::vector<UINT8> &Entry : WrittenEntries())
    Lengths.push_back(static_cast<UINT32>(Entry.size()));
  EXPECT_EQ(Lengths, Row.ElementLengths);
  const std::string Message = Row.Message;
  if (!Message.empty() && Message.back() == '*') {
    EXPECT_TRUE(LoggedStartingWith(Message.substr(0, Message.size() - 1))) << DebugDump();
  } else if (!Message.empty()) {
    EXPECT_TRUE(Logged(Message)) << DebugDump();
  }
}

AML_OBJECT_LOCATOR Loc(const std::vector<UINT8> &Table, const char *Path) {
  return LocatorFor(Table, Path);
}

std::vector<UINT8> WithNvsType(std::vector<UINT8> Record, UINT32 NvsType) {
  memcpy(Record.data() + 20, &NvsType, 4);
  return Record;
}

std::vector<UINT8> WithLength(std::vector<UINT8> Record, UINT32 Length) {
  SetRecordLength(&Record, Length);
  return Record;
}

std::vector<UINT8> Truncated(std::vector<UINT8> Record, size_t Size) {
  Record.resize(Size);
  return Record;
}

const UINT64 kNvsTable = OemTableIdOf("ZPNVSTBL");

INSTANTIATE_TEST_SUITE_P(
    Rules, MetaDataPasses,
    testing::Values(
        PassRow{"DsdtNvsInRecordOrderThenIntegers",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 IntegerRecord(kDsdt, Loc(T.Dsdt, "\\IWRD"), AcpiDataIntegerTypeStored),
                                 NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\BNVS")),
                                 NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS"))};
                },
                EFI_SUCCESS,
                {159 + 0x20, 159 + 0x100, 216},
                "ProcessDsdtNvsOnCustomPath - NvsName      = BNVS\n"},
        PassRow{"Type1DsdtNvsIsRefusedAfterEarlierElements",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1), NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\BNVS")),
                                 WithNvsType(NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS")), 2),
                                 NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS"))};
                },
                EFI_INVALID_PARAMETER,
                {159 + 0x20},
                "ProcessDsdtOnCustomPath - Type 1 DSDT NVS not presently supported\n"},
        PassRow{"InvalidDsdtNvsType",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 WithNvsType(NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS")), 7)};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessDsdtOnCustomPath - Invalid AcpiDataNvsType: 7 for DSDT NVS\n"},
        PassRow{"NotStoredIntegerIsSkipped",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 IntegerRecord(kDsdt, Loc(T.Dsdt, "\\IBYT"), AcpiDataIntegerTypeNotStored),
                                 IntegerRecord(kDsdt, Loc(T.Dsdt, "\\IQWD"), AcpiDataIntegerTypeVariable)};
                },
                EFI_SUCCESS,
                {216},
                "ProcessDsdtOnCustomPath - Not storing the patchable DSDT integer value\n"},
        PassRow{"InvalidIntegerType",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1), IntegerRecord(kDsdt, Loc(T.Dsdt, "\\IBYT"), 9)};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessDsdtOnCustomPath - Invalid AcpiDataIntegerType: 9 for DSDT integer value\n"},
        PassRow{"Type2RecordTooShortForItsKind",
                false,
                [](const SampleTables &T) {
                  return Records{
                      TableRecord(kDsdt, 1),
                      WithLength(WithNvsType(NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS")), 3), 159)};
                },
                EFI_SUCCESS,
                {},
                "ProcessDsdtOnCustomPath - Meta data entry length of 9F is too short for DSDT NVS\n"},
        PassRow{"RecordRunningPastTheMetaData",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 WithLength(NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS")), 160)};
                },
                EFI_SUCCESS,
                {},
                "ProcessDsdtOnCustomPath - Attempt to access past end of meta data *"},
        PassRow{"ZeroLengthRecordEndsThePass",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1), WithLength(TableRecord(kSsdt, 1, kNvsTable), 0),
                                 NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS"))};
                },
                EFI_SUCCESS,
                {},
                "ProcessDsdtOnCustomPath -   MdPtr->AcpiCommonHeader.Length is zero\n"},
        PassRow{"LastRecordTooShortToLookAt",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 Truncated(NvsDefaultRecord(kDsdt, 0, Loc(T.Dsdt, "\\GNVS")), 158)};
                },
                EFI_SUCCESS,
                {},
                ""},
        PassRow{"Type2AddressModeUnsupported",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 Type2Record(kDsdt, AcpiDataSubTypeNvs, 0, Loc(T.Dsdt, "\\GNVS"),
                                             {UNSUPPORTED_TYPE_2_NVS_MODE, 3, {}, 0x10}, {2, 2, {}, 0x14})};
                },
                EFI_UNSUPPORTED,
                {},
                "ProcessDsdtNvsType2OnCustomPath - Failed to get NVS address from parent opregion\n"},
        PassRow{"Type2LiteralRegionOfLengthZero",
                false,
                [](const SampleTables &T) {
                  return Records{TableRecord(kDsdt, 1),
                                 Type2Record(kDsdt, AcpiDataSubTypeNvs, 0, Loc(T.Dsdt, "\\GNVS"),
                                             {LITERAL_TYPE_2_NVS_MODE, 3, {}, 0x7F003000},
                                             {LITERAL_TYPE_2_NVS_MODE, 3, {}, 0})};
                },
                EFI_SUCCESS,
                {183},
                "ProcessDsdtNvsType2OnCustomPath - BufferSize   = B7\n"},
        // A region whose element could never fit the write stream is refused
        // before a byte of it is read; this also keeps 32-bit Lengths from wrapping.
        PassRow{
            "RegionTooLongForTheCache",
            false,
            [](const SampleTables &T) {
              return Records{TableRecord(kDsdt, 1),
                             Type2Record(kDsdt, AcpiDataSubTypeNvs, 0, Loc(T.Dsdt, "\\GNVS"),
                                         {LITERAL_TYPE_2_NVS_MODE, 3, {}, 0x7F003000},
                                         {LITERAL_TYPE_2_NVS_MODE, 3, {}, 0xFFFFFF80})};
            },
            EFI_OUT_OF_RESOURCES,
            {},
            "ProcessDsdtNvsType2OnCustomPath - NVS length 0xFFFFFF80 does not fit in the 0x40000 byte ACPI "
            "data cache\n"},
        PassRow{"RegionAtAddressZero",
                false,
                [](const SampleTables &T) {
                  return Records{
                      TableRecord(kDsdt, 1),
                      Type2Record(kDsdt, AcpiDataSubTypeNvs, 0, Loc(T.Dsdt, "\\GNVS"),
                                  {LITERAL_TYPE_2_NVS_MODE, 3, {}, 0}, {LITERAL_TYPE_2_NVS_MODE, 3, {}, 16})};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessDsdtNvsType2OnCustomPath - NVS region at 0x0 of 0x10 bytes cannot be read\n"},
        PassRow{
            "IntegerLocatorPastTheTable",
            false,
            [](const SampleTables &T) {
              AML_OBJECT_LOCATOR Wrong = Loc(T.Dsdt, "\\IBYT");
              Wrong.ValueOffset = static_cast<UINT32>(T.Dsdt.size());
              return Records{TableRecord(kDsdt, 1), IntegerRecord(kDsdt, Wrong, AcpiDataIntegerTypeStored)};
            },
            EFI_COMPROMISED_DATA,
            {},
            "ProcessDsdtIntValueOnCustomPath - Failed to get integer value and the value's size\n"},
        PassRow{"PathNameWithoutTerminatorIsCutAtItsField",
                false,
                [](const SampleTables &T) {
                  AML_OBJECT_LOCATOR Long = Loc(T.Dsdt, "\\BNVS");
                  memset(Long.PathName, 'P', sizeof(Long.PathName));
                  return Records{TableRecord(kDsdt, 1), NvsDefaultRecord(kDsdt, 0, Long)};
                },
                EFI_SUCCESS,
                {159 + 0x20},
                "ProcessDsdtOnCustomPath - Found meta data for DSDT NVS OPREGION "
                "PPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP\n"},
        PassRow{"SsdtElementsOfAnotherSsdtArePassedOver",
                true,
                [](const SampleTables &T) {
                  return Records{TableRecord(kSsdt, 1, kNvsTable),
                                 NvsDefaultRecord(kSsdt, OemTableIdOf("ZPNONNVS"), Loc(T.SsdtNvs, "\\SNV0")),
                                 NvsDefaultRecord(kSsdt, kNvsTable, Loc(T.SsdtNvs, "\\SNV0"))};
                },
                EFI_SUCCESS,
                {159 + 0x80},
                "ProcessSsdtOnCustomPath - Found meta data for SSDT OemTableId ZPNVSTBL\n"},
        PassRow{"SsdtIntegerRecordFailsTheSsdt",
                true,
                [](const SampleTables &T) {
                  return Records{TableRecord(kSsdt, 1, kNvsTable),
                                 NvsDefaultRecord(kSsdt, kNvsTable, Loc(T.SsdtNvs, "\\SNV0")),
                                 IntegerRecord(kSsdt, Loc(T.SsdtNvs, "\\SNVA"), AcpiDataIntegerTypeStored)};
                },
                EFI_INVALID_PARAMETER,
                {159 + 0x80},
                "ProcessSsdtOnCustomPath - SSDT integer patching is not presently supported\n"},
        PassRow{"Type2SsdtNvsIsRefused",
                true,
                [](const SampleTables &T) {
                  return Records{TableRecord(kSsdt, 1, kNvsTable),
                                 Type2Record(kSsdt, AcpiDataSubTypeNvs, kNvsTable, Loc(T.SsdtNvs, "\\SNV0"),
                                             {2, 3, {}, 0}, {2, 3, {}, 4})};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessSsdtOnCustomPath - Type 2 SSDT NVS not presently supported\n"},
        PassRow{"DefaultSsdtNonNvsIsRefused",
                true,
                [](const SampleTables &T) {
                  std::vector<UINT8> Record = NvsDefaultRecord(kSsdt, kNvsTable, Loc(T.SsdtNvs, "\\SNV0"));
                  const UINT32 NonNvs = AcpiDataSubTypeNonNvs;
                  memcpy(Record.data() + 16, &NonNvs, 4);
                  return Records{TableRecord(kSsdt, 1, kNvsTable), Record};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessSsdtOnCustomPath - Default SSDT NON-NVS not presently supported\n"},
        PassRow{"InvalidSsdtNvsTypeNamesThePath",
                true,
                [](const SampleTables &T) {
                  return Records{
                      TableRecord(kSsdt, 1, kNvsTable),
                      WithNvsType(NvsDefaultRecord(kSsdt, kNvsTable, Loc(T.SsdtNvs, "\\SNV0")), 5)};
                },
                EFI_INVALID_PARAMETER,
                {},
                "ProcessSsdtOnCustomPath -   SSDT NVS path name is \\SNV0\n"},
        PassRow{"SsdtType1WithALengthConstantThatIsNot",
                true,
                [](const SampleTables &T) {
                  AML_OBJECT_LOCATOR Length = Loc(T.SsdtNvs, "\\SNVL");
                  Length.PrefixByte = AML_DWORD_PREFIX;  // the AML holds a WordPrefix there
                  return Records{TableRecord(kSsdt, 1, kNvsTable),
                                 NvsType1Record(kNvsTable, Loc(T.SsdtNvs, "\\SNVA"), Length)};
                },
                EFI_COMPROMISED_DATA,
                {},
                "ProcessSsdtNvsType1OnCustomPath - Failed to get NVS length from AML\n"}),
    [](const testing::TestParamInfo<PassRow> &Info) { return std::string(Info.param.Name); });

// --- The entry point's own rules ---------------------------------------------------

TEST_F(MetaDataCapture, DsdtWithoutATableRecordRecordsNoElements) {
  const Records MetaRecords = {NvsDefaultRecord(kDsdt, 0, LocatorFor(Tables.Dsdt, "\\GNVS"))};
  EXPECT_EQ(Capture(DsdtEntry, MetaRecords, false), EFI_SUCCESS);
  EXPECT_TRUE(WrittenEntries().empty());
}

TEST_F(MetaDataCapture, CertifiedPathDoesNothingAndOtherPathsAreRefused) {
  const Records MetaRecords = {TableRecord(kDsdt, 1),
                               NvsDefaultRecord(kDsdt, 0, LocatorFor(Tables.Dsdt, "\\GNVS"))};
  mBootPath = BOOT_PATH_CERTIFIED;
  EXPECT_EQ(Capture(DsdtEntry, MetaRecords, true), EFI_SUCCESS);
  EXPECT_TRUE(WrittenEntries().empty());
  for (UINT8 Path : {0, 3}) {
    mBootPath = Path;
    EXPECT_EQ(Capture(DsdtEntry, MetaRecords, true), EFI_INVALID_PARAMETER);
    EXPECT_TRUE(
        Logged("ProcessAcpiMetaData - mBootPath of " + std::to_string(Path) + " is invalid\n", DEBUG_ERROR));
  }
  EXPECT_TRUE(WrittenEntries().empty());
}

TEST_F(MetaDataCapture, MissingArgumentsAreReported) {
  EXPECT_EQ(ProcessAcpiMetaData(DsdtEntry, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_TRUE(Logged("ProcessAcpiMetaData - DoNotStore is NULL\n", DEBUG_ERROR));
  BOOLEAN DoNotStore = TRUE;
  EXPECT_EQ(ProcessAcpiMetaData(nullptr, nullptr, &DoNotStore), EFI_INVALID_PARAMETER);
  EXPECT_FALSE(DoNotStore);
  EXPECT_TRUE(Logged("ProcessAcpiMetaData - Error, Header is NULL.\n", DEBUG_ERROR));
}

TEST_F(MetaDataCapture, EveryAllocationOfAnElementMayFail) {
  const Records MetaRecords = {
      TableRecord(kDsdt, 1), NvsDefaultRecord(kDsdt, 0, LocatorFor(Tables.Dsdt, "\\GNVS")),
      IntegerRecord(kDsdt, LocatorFor(Tables.Dsdt, "\\IBYT"), AcpiDataIntegerTypeStored)};
  for (UINT64 Nth : {1, 2}) {
    mWriteBlobStreamOffset = 0;
    const UINTN Outstanding = Platform.Pool().OutstandingCount();
    Platform.Pool().FailAllocation(Nth);
    EXPECT_EQ(Capture(DsdtEntry, MetaRecords, true), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Platform.Pool().OutstandingCount(), Outstanding);
    EXPECT_EQ(WrittenEntries().size(), Nth - 1);
  }
  EXPECT_TRUE(Logged("ProcessDsdtNvsOnCustomPath - Unable to allocate 19F byte buffer\n", DEBUG_ERROR));
  EXPECT_TRUE(Logged("ProcessDsdtIntValueOnCustomPath - Unable to allocate D8 byte buffer\n", DEBUG_ERROR));
}

}  // namespace
