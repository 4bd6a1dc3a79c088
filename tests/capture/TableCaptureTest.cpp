// Capture of the sample platform from its XSDT: the entry sequence, entry by
// entry, the FADT's pointer rules, every refusal of a bad first table, size
// limits, and a failed allocation at every point of the capture.
#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/SamplePlatform.h"
#include "tests/support/RowPrinter.h"

namespace {

using namespace capture_test;

class TableCapture : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    mBootPath = BOOT_PATH_CUSTOM;
    if (!Tables.Load()) GTEST_SKIP() << "fixture tables not built (iasl missing at build time)";
    if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "the sample region window is taken in this process";
    ASSERT_EQ(OpenWriteStream(), EFI_SUCCESS);
  }
  void TearDown() override {
    DropWriteStream();
    CloseMetaData();
    PlatformTest::TearDown();
  }
  void PublishSample() { ASSERT_EQ(PublishSampleTables(Platform, Tables), EFI_SUCCESS); }
  EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *InstalledFadt() {
    return reinterpret_cast<EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *>(
        InstalledTablePointer(Platform, EFI_ACPI_FADT_SIGNATURE));
  }
  void UseSampleMetaData(UINT32 DsdtSubType) { OpenMetaData(&MetaData, SampleMetaData(Tables, DsdtSubType)); }

  SampleTables Tables;
  RawAcpiRoot RawRoot;
  std::vector<UINT8> MetaData;
};

struct ExpectedEntry {
  const char *Signature;
  UINT32 Type, SubType, NvsType;
  size_t Length;
};

void SetLength(UINT8 *Table, UINT32 Length) {
  memcpy(Table + 4, &Length, 4);
}
void SetLength(std::vector<UINT8> *Table, UINT32 Length) {
  SetLength(Table->data(), Length);
}

void ExpectSequence(const std::vector<std::vector<UINT8>> &Entries,
                    const std::vector<ExpectedEntry> &Expected) {
  ASSERT_EQ(Entries.size(), Expected.size());
  for (size_t Index = 0; Index < Expected.size(); Index++) {
    SCOPED_TRACE("entry " + std::to_string(Index) + " " + Expected[Index].Signature);
    const ACPI_DATA_STORAGE_ENTRY_HEADER *Header = HeaderOf(Entries[Index]);
    EXPECT_EQ(Header->Revision, 1u);
    EXPECT_EQ(memcmp(&Header->AcpiCommonHeader.Signature, Expected[Index].Signature, 4), 0);
    EXPECT_EQ(Header->AcpiCommonHeader.Length, Entries[Index].size());
    EXPECT_EQ(Header->AcpiDataType, Expected[Index].Type);
    EXPECT_EQ(Header->AcpiDataSubType, Expected[Index].SubType);
    EXPECT_EQ(Header->AcpiDataNvsType, Expected[Index].NvsType);
    EXPECT_EQ(Entries[Index].size(), Expected[Index].Length);
    const UINT64 EntrySignature = Header->EntrySignature;
    EXPECT_EQ(EntrySignature, ACPI_DATA_STORAGE_ENTRY_SIGNATURE);
  }
}

const sim::AcpiRegion &Region(const char *Path) {
  for (const sim::AcpiRegion &Candidate : sim::SampleAcpiRegions()) {
    if (std::string(Candidate.Path) == Path) return Candidate;
  }
  ADD_FAILURE() << Path;
  return sim::SampleAcpiRegions().front();
}

// The element's captured bytes are the region's memory, its NvsLength the region
// length, and the description header's Length grew by that much.
void ExpectRegionCaptured(const std::vector<UINT8> &Entry, UINT32 FixedLength, const char *Path) {
  SCOPED_TRACE(Path);
  const sim::AcpiRegion &Expected = Region(Path);
  ASSERT_EQ(Entry.size(), FixedLength + Expected.Length);
  UINT64 NvsLength = 0;
  memcpy(&NvsLength, Entry.data() + FixedLength - 8, 8);
  EXPECT_EQ(NvsLength, Expected.Length);
  UINT32 TableLength = 0;
  memcpy(&TableLength, Entry.data() + 36, 4);
  EXPECT_EQ(TableLength, 0x24 + Expected.Length);
  EXPECT_EQ(memcmp(Entry.data() + FixedLength, sim::AcpiRegionPointer(Expected.Address), Expected.Length), 0);
}

void ExpectIntegerCaptured(const std::vector<UINT8> &Entry, UINT64 Value) {
  const auto *Integer = reinterpret_cast<const ACPI_DATA_STORAGE_INTEGER *>(Entry.data());
  EXPECT_EQ(Integer->AcpiDataIntegerType, AcpiDataIntegerTypeDefault);
  const UINT64 Captured = Integer->Value;  // packed at offset 156: copy, don't bind a reference
  EXPECT_EQ(Captured, Value);
}

TEST_F(TableCapture, SamplePlatformYieldsTheExpectedEntrySequence) {
  PublishSample();
  UseSampleMetaData(AcpiDataSubTypeFromStorage);
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  const std::vector<std::vector<UINT8>> Entries = WrittenEntries();
  ExpectSequence(Entries, {
                              {"FACP", 1, 3, 0, 308},
                              {"FACS", 2, 3, 0, 96},
                              {"DSDT", 3, 3, 0, 32 + Tables.Dsdt.size()},
                              {"DSDT", 3, 5, 1, 159 + 0x100},  // GNVS
                              {"DSDT", 3, 5, 3, 183 + 0x40},   // CNVS, Type 2 in GNVS
                              {"DSDT", 3, 5, 1, 159 + 0x20},   // BNVS
                              {"DSDT", 3, 7, 0, 216},          // IBYT
                              {"DSDT", 3, 7, 0, 216},          // IWRD
                              {"DSDT", 3, 7, 0, 216},          // IDWD; IQWD is not stored
                              {"SSDT", 5, 3, 0, 32 + Tables.SsdtNvs.size()},
                              {"SSDT", 5, 5, 1, 159 + 0x80},   // SNV0
                              {"SSDT", 5, 5, 2, 242 + 0x100},  // SNV1 from SNVA/SNVL
                              {"SSDT", 5, 3, 0, 32 + Tables.SsdtNonNvs.size()},
                              {"SSDT", 5, 6, 3, 183 + 0x30},  // NNVS, Type 2 in PNVS
                              {"APIC", 4, 3, 0, 32 + Tables.Apic.size()},
                              {"MCFG", 4, 3, 0, 32 + Tables.Mcfg.size()},  // HPET is not stored
                          });
  if (HasFailure()) return;
  // The FADT as the platform linked it; FACS and DSDT as compiled.
  EXPECT_EQ(std::vector<UINT8>(Entries[0].begin() + 32, Entries[0].end()),
            InstalledTable(Platform, EFI_ACPI_FADT_SIGNATURE));
  EXPECT_EQ(std::vector<UINT8>(Entries[1].begin() + 32, Entries[1].end()), Tables.Facs);
  EXPECT_EQ(std::vector<UINT8>(Entries[2].begin() + 32, Entries[2].end()), Tables.Dsdt);
  ExpectRegionCaptured(Entries[3], 159, "\\GNVS");
  ExpectRegionCaptured(Entries[4], 183, "\\CNVS");
  ExpectRegionCaptured(Entries[5], 159, "\\BNVS");
  ExpectIntegerCaptured(Entries[6], 0x5A);
  ExpectIntegerCaptured(Entries[7], 0x1234);
  ExpectIntegerCaptured(Entries[8], 0x12345678);
  EXPECT_EQ(std::vector<UINT8>(Entries[9].begin() + 32, Entries[9].end()), Tables.SsdtNvs);
  ExpectRegionCaptured(Entries[10], 159, "\\SNV0");
  ExpectRegionCaptured(Entries[11], 242, "\\SNV1");
  ExpectRegionCaptured(Entries[13], 183, "\\_SB.SCRA.NNVS");
  EXPECT_TRUE(Logged("ProcessAcpiDataTables - Not storing ACPI table HPET\n", DEBUG_INFO));
  EXPECT_TRUE(Logged("ProcessAcpiMetaData - By default save ACPI data table = MCFG\n", DEBUG_INFO));
  EXPECT_TRUE(Logged("ProcessDsdtOnCustomPath - Not storing the patchable DSDT integer value\n", DEBUG_INFO));
  // Only the DSDT's default NVS regions are dumped: 0x100 and 0x20 bytes.
  size_t Titles = 0;
  for (const sim::DebugRecord &Line : Messages()) Titles += Line.Text == "[Saved NVS]";
  EXPECT_EQ(Titles, 0x100 / 16 + 0x20 / 16);
}

TEST_F(TableCapture, DsdtFromFirmwareVolumeKeepsOnlyTheHeaderButStillItsElements) {
  PublishSample();
  UseSampleMetaData(AcpiDataSubTypeFromFv);
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  const std::vector<std::vector<UINT8>> Entries = WrittenEntries();
  ASSERT_GE(Entries.size(), 4u);
  ExpectSequence({Entries[2], Entries[3]}, {{"DSDT", 3, 4, 0, 32}, {"DSDT", 3, 5, 1, 159 + 0x100}});
  ExpectRegionCaptured(Entries[3], 159, "\\GNVS");
}

TEST_F(TableCapture, SsdtFromFirmwareVolumeKeepsItsDescriptionHeader) {
  PublishSample();
  std::vector<std::vector<UINT8>> Records = SampleMetaData(Tables, AcpiDataSubTypeFromStorage);
  Records[8] = TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromFv, OemTableIdOf("ZPNVSTBL"));
  OpenMetaData(&MetaData, Records);
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  const std::vector<std::vector<UINT8>> Entries = WrittenEntries();
  ASSERT_GE(Entries.size(), 11u);
  ExpectSequence({Entries[9], Entries[10]}, {{"SSDT", 5, 4, 0, 68}, {"SSDT", 5, 5, 1, 159 + 0x80}});
  EXPECT_EQ(std::vector<UINT8>(Entries[9].begin() + 32, Entries[9].end()),
            std::vector<UINT8>(Tables.SsdtNvs.begin(), Tables.SsdtNvs.begin() + 36));
  EXPECT_EQ(memcmp(Entries[9].data() + 48, "ZPNVSTBL", 8), 0);
}

TEST_F(TableCapture, WithoutMetaDataEveryTableIsStoredWhole) {
  PublishSample();
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  ExpectSequence(WrittenEntries(), {{"FACP", 1, 3, 0, 308},
                                    {"FACS", 2, 3, 0, 96},
                                    {"DSDT", 3, 3, 0, 32 + Tables.Dsdt.size()},
                                    {"SSDT", 5, 3, 0, 32 + Tables.SsdtNvs.size()},
                                    {"SSDT", 5, 3, 0, 32 + Tables.SsdtNonNvs.size()},
                                    {"APIC", 4, 3, 0, 32 + Tables.Apic.size()},
                                    {"MCFG", 4, 3, 0, 32 + Tables.Mcfg.size()},
                                    {"HPET", 4, 3, 0, 32 + Tables.Hpet.size()}});
}

TEST_F(TableCapture, HardwareReducedFadtHasNoFacsEntry) {
  ASSERT_EQ(Platform.Acpi().InstallPlatformTables({Tables.Fadt, Tables.Dsdt}), EFI_SUCCESS);
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  ExpectSequence(WrittenEntries(), {{"FACP", 1, 3, 0, 308}, {"DSDT", 3, 3, 0, 32 + Tables.Dsdt.size()}});
  EXPECT_TRUE(Logged(
      "ProcessFadt - FADT does not have an optional FACS so this must be a hardware reduced platform\n",
      DEBUG_WARN));
}

// The platform links the FACS through the 32-bit FIRMWARE_CTRL only; with X_DSDT
// cleared as well, both tables come from their 32-bit pointers.
TEST_F(TableCapture, ThirtyTwoBitPointersAreUsedWhenTheWideOnesAreZero) {
  PublishSample();
  EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt = InstalledFadt();
  ASSERT_NE(Fadt, nullptr);
  ASSERT_EQ(static_cast<UINT64>(Fadt->XFirmwareCtrl), 0u);  // packed fields: compare copies
  ASSERT_NE(static_cast<UINT32>(Fadt->FirmwareCtrl), 0u);
  Fadt->XDsdt = 0;
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  const std::vector<std::vector<UINT8>> Entries = WrittenEntries();
  ASSERT_GE(Entries.size(), 3u);
  ExpectSequence({Entries[0], Entries[1], Entries[2]},
                 {{"FACP", 1, 3, 0, 308}, {"FACS", 2, 3, 0, 96}, {"DSDT", 3, 3, 0, 32 + Tables.Dsdt.size()}});
  EXPECT_EQ(std::vector<UINT8>(Entries[2].begin() + 32, Entries[2].end()), Tables.Dsdt);
}

// --- Refusals of the first table: nothing is written ----------------------------

struct FirstTableRow {
  const char *Name;
  void (*Break)(UINT8 *Fadt);
  const char *Message;
};
ZEPHRIN_PRINT_ROW_BY_NAME(FirstTableRow)

class FirstTableRefusals : public TableCapture, public testing::WithParamInterface<FirstTableRow> {};

TEST_P(FirstTableRefusals, EndTheCaptureBeforeAnyEntry) {
  PublishSample();
  GetParam().Break(InstalledTablePointer(Platform, EFI_ACPI_FADT_SIGNATURE));
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(WrittenEntries().empty());
  EXPECT_TRUE(Logged(GetParam().Message, DEBUG_ERROR)) << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(
    Fadt, FirstTableRefusals,
    testing::Values(
        FirstTableRow{"NotAFadt", [](UINT8 *T) { memcpy(T, "APIC", 4); },
                      "ProcessAcpiTablesFromXsdt - The first ACPI table in the XSDT is not the FADT\n"},
        FirstTableRow{"ShorterThanAHeader", [](UINT8 *T) { SetLength(T, 35); },
                      "ProcessAcpiTablesFromXsdt - The FADT found in the XSDT has an invalid length\n"},
        FirstTableRow{"Revision5", [](UINT8 *T) { T[8] = 5; },
                      "ProcessAcpiTablesFromXsdt - FADT major version is not 6\n"},
        FirstTableRow{"MinorVersion2", [](UINT8 *T) { T[131] = 2; },
                      "ProcessAcpiTablesFromXsdt - FADT minor version is not 3\n"},
        // Too short to hold the minor version at offset 131: refused before it is read.
        FirstTableRow{"TooShortForTheMinorVersion", [](UINT8 *T) { SetLength(T, 131); },
                      "ProcessAcpiTablesFromXsdt - The FADT found in the XSDT has an invalid length\n"},
        FirstTableRow{"Length244", [](UINT8 *T) { SetLength(T, 244); },
                      "ProcessFadt - FadtPtr->Header.Length != FADT table length\n"}),
    [](const testing::TestParamInfo<FirstTableRow> &Info) { return std::string(Info.param.Name); });

TEST_F(TableCapture, ZeroXsdtEntriesAreRefusedWithoutBeingRead) {
  RawRoot.Publish(Platform, {0});
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("ProcessAcpiTablesFromXsdt - AcpiTable pointer is NULL\n", DEBUG_ERROR));

  ClearDebug();
  PublishSample();
  auto Address = [this](const char *Signature) {
    UINT32 Value = 0;
    memcpy(&Value, Signature, 4);
    return static_cast<UINT64>(reinterpret_cast<UINTN>(InstalledTablePointer(Platform, Value)));
  };
  RawRoot.Publish(Platform, {Address("FACP"), Address("APIC"), 0, Address("MCFG")});
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("ProcessAcpiTablesFromXsdt - XSDT entry 2 is zero\n", DEBUG_ERROR)) << DebugDump();
  // Entries before the zero one stay in the stream; nothing after it is read.
  EXPECT_EQ(WrittenEntries().size(), 4u);
}

TEST_F(TableCapture, EmptyXsdtIsAFailureOfTheCapture) {
  RawRoot.Publish(Platform, {});
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("ProcessAcpiTablesFromXsdt - XSDT has no entries\n", DEBUG_ERROR));
}

TEST_F(TableCapture, BadFacsStopsBeforeTheDsdt) {
  PublishSample();
  SetLength(InstalledTablePointer(Platform, EFI_ACPI_FACS_SIGNATURE), 0x48);
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("ProcessFacs - FacsPtr->Length != FACS table length\n", DEBUG_ERROR));
  EXPECT_TRUE(Logged("ProcessFadt - Unable to process a FACS\n", DEBUG_ERROR));
  ExpectSequence(WrittenEntries(), {{"FACP", 1, 3, 0, 308}});
}

// --- Size limits: an entry may fill the write stream, never exceed it ----------

TEST_F(TableCapture, DsdtOneByteTooLargeForAnEntryIsRefusedByTheCapture) {
  Tables.Dsdt.resize(0x3FFE1, 0);
  SetLength(&Tables.Dsdt, 0x3FFE1);
  PublishSample();
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Logged("ProcessDsdt - Buffer of 40001 bytes > 40000 \n", DEBUG_ERROR)) << DebugDump();
}

TEST_F(TableCapture, DsdtFillingAWholeEntryIsLeftToTheStreamToRefuse) {
  Tables.Dsdt.resize(0x3FFE0, 0);
  SetLength(&Tables.Dsdt, 0x3FFE0);
  PublishSample();
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_OUT_OF_RESOURCES);
  EXPECT_FALSE(Logged("ProcessDsdt - Buffer of 40000 bytes > 40000 \n"));
  EXPECT_TRUE(Logged("SaveBlob - Attempt to write past mWriteBlobStreamMaxOffset\n", DEBUG_ERROR))
      << DebugDump();
}

TEST_F(TableCapture, TableLengthNearFourGigabytesDoesNotWrapIntoASmallEntry) {
  PublishSample();
  SetLength(InstalledTablePointer(Platform, SIGNATURE_32('M', 'C', 'F', 'G')), 0xFFFFFFF0);
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Logged("ProcessAcpiDataTables - Buffer of FFFFFFFF bytes > 40000 \n", DEBUG_ERROR))
      << DebugDump();
}

TEST_F(TableCapture, SecondSsdtMarkedNotStoredIsSkipped) {
  PublishSample();
  OpenMetaData(&MetaData,
               {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeDoNotStore, OemTableIdOf("ZPNONNVS"))});
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS);
  const std::vector<std::vector<UINT8>> Entries = WrittenEntries();
  ASSERT_EQ(Entries.size(), 7u);
  EXPECT_EQ(memcmp(Entries[3].data() + 48, "ZPNVSTBL", 8), 0);
  EXPECT_EQ(memcmp(&HeaderOf(Entries[4])->AcpiCommonHeader.Signature, "APIC", 4), 0);
  EXPECT_TRUE(Logged("ProcessSsdt - Not storing ACPI SSDT table with OemTableId ZPNONNVS\n", DEBUG_INFO));
}

// --- A failed allocation anywhere: an error, no crash, nothing leaked -----------

TEST_F(TableCapture, EveryAllocationOfTheCaptureMayFail) {
  PublishSample();
  UseSampleMetaData(AcpiDataSubTypeFromStorage);
  Platform.Pool().StartCounting();
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS);
  const UINT64 Allocations = Platform.Pool().AllocationsCounted();
  ASSERT_GT(Allocations, 10u);
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    SCOPED_TRACE("allocation " + std::to_string(Nth));
    mWriteBlobStreamOffset = 0;
    const UINTN Outstanding = Platform.Pool().OutstandingCount();
    Platform.Pool().FailAllocation(Nth);
    EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Platform.Pool().OutstandingCount(), Outstanding);
    EXPECT_EQ(WrittenEntries().size(), Nth - 1);  // one allocation per entry, saved in order
  }
}

}  // namespace
