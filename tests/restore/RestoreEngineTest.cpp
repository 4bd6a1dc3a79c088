// The restore engine replaying a read stream: a capture of the sample platform
// replayed whole, hand-made streams for the rows a capture cannot produce, the
// deferral of a table across calls, and every pool allocation failed in turn.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "sim/FirmwareVolumes.h"
#include "tests/restore/PatchTestSupport.h"

namespace restore_test {
namespace {

using capture_test::OemTableIdOf;
using capture_test::TableRecord;

const std::string kEngine = "ProcessAcpiDataStorageAndAcpiMetaData";
const std::string kNoMore = kEngine + " - No more entries in ACPI data storage\n";

constexpr EFI_GUID kDsdtFile = {0x6B3F2C11, 0x7D40, 0x4E2A, {0x8C, 0x19, 0x3E, 0x55, 0xA0, 0x1B, 0x62, 0xD7}};
constexpr EFI_GUID kSsdtFile = {0x1F0C9A52, 0x3B6E, 0x4A71, {0x9D, 0x20, 0x5C, 0x8E, 0x44, 0x07, 0xB3, 0x19}};

// A stored entry: header (Length covers the whole entry) followed by Body.
std::vector<UINT8> MakeEntry(UINT32 Signature, UINT32 DataType, UINT32 SubType,
                             const std::vector<UINT8> &Body) {
  std::vector<UINT8> Entry(32, 0);
  auto *Header = reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data());
  Header->Revision = ACPI_DATA_STORAGE_ENTRY_REVISION;
  Header->AcpiCommonHeader.Signature = Signature;
  Header->AcpiCommonHeader.Length = static_cast<UINT32>(32 + Body.size());
  Header->AcpiDataType = DataType;
  Header->AcpiDataSubType = SubType;
  Header->EntrySignature = ACPI_DATA_STORAGE_ENTRY_SIGNATURE;
  Entry.insert(Entry.end(), Body.begin(), Body.end());
  return Entry;
}

std::vector<UINT8> TableEntry(const char Signature[4], UINT32 DataType, UINT32 Length,
                              const char Oem[8] = "ZpEngine", UINT8 Fill = 0) {
  return MakeEntry(Sig32(Signature), DataType, AcpiDataSubTypeTable, MakeTable(Signature, Length, Oem, Fill));
}

std::vector<UINT8> FacsEntry() {
  std::vector<UINT8> Facs(64, 0);
  std::memcpy(Facs.data(), "FACS", 4);
  Facs[4] = 64;
  return MakeEntry(EFI_ACPI_FACS_SIGNATURE, AcpiDataTypeFacs, AcpiDataSubTypeTable, Facs);
}

std::vector<UINT8> WithRank(std::vector<UINT8> Record, UINT16 Rank) {
  std::memcpy(Record.data() + ACPI_META_DATA_RANK_OFFSET, &Rank, sizeof(Rank));
  return Record;
}

std::vector<UINT8> WithFile(std::vector<UINT8> Record, UINT32 Offset, const EFI_GUID &File) {
  std::memcpy(Record.data() + Offset, &File, sizeof(File));
  return Record;
}

class RestoreEngineTest : public patch_test::PatchTest {
 protected:
  void TearDown() override {
    if (mDeferredAcpiTable.FreeBuffer && mDeferredAcpiTable.Buffer != nullptr)
      gBS->FreePool(mDeferredAcpiTable.Buffer);
    mDeferredAcpiTable = {};
    mAcpiDataStorageEntryCount = 0;
    if (mReadBlobHandle != BLOB_HANDLE_NONE) CloseBlobStream(BLOB_HANDLE_READ);
    patch_test::PatchTest::TearDown();
  }

  // Puts Entries into the read stream as the cache loader would leave them.
  void OpenReadStream(const std::vector<std::vector<UINT8>> &Entries) {
    ASSERT_EQ(AllocateCache(BlobAccessRead), EFI_SUCCESS);
    UINT32 Offset = 0;
    for (const std::vector<UINT8> &Entry : Entries) {
      BLOB_HEADER Blob = {BLOB_HEADER_REVISION, static_cast<UINT32>(Entry.size() + sizeof(BLOB_HEADER)),
                          BLOB_HEADER_SIGNATURE};
      ASSERT_LE(Offset + Blob.Length, static_cast<UINT32>(MAX_CACHE_SIZE));
      std::memcpy(mReadBlobStreamPointer + Offset, &Blob, sizeof(Blob));
      std::memcpy(mReadBlobStreamPointer + Offset + sizeof(Blob), Entry.data(), Entry.size());
      Offset += Blob.Length;
    }
    mReadBlobStreamMaxOffset = Offset;
    mReadBlobHandle = BLOB_HANDLE_READ;
  }

  void OpenRecords(const std::vector<std::vector<UINT8>> &Records) {
    capture_test::OpenMetaData(&MetaData, Records);
  }

  void DropInstalledTables() {
    while (!Platform->Acpi().Tables().empty()) {
      ASSERT_EQ(Platform->Acpi().Uninstall(Platform->Acpi().Tables().back().Key), EFI_SUCCESS);
    }
  }

  // After a capture: the platform's own tables leave, as on a certified boot
  // where the driver is the one to install them.
  void CaptureSampleOntoEmptyTables() {
    CaptureSample();
    ASSERT_FALSE(HasFatalFailure());
    DropInstalledTables();
    // The DSDT record is the first sample record; name its firmware-volume file.
    ASSERT_GE(MetaData.size(), 48u);
    std::memcpy(MetaData.data() + ACPI_META_DATA_DSDT_FV_FILE_OFFSET, &kDsdtFile, sizeof(kDsdtFile));
    AddTableVolume(kDsdtFile, {Tables.Dsdt});
  }

  void AddTableVolume(const EFI_GUID &File, std::vector<std::vector<UINT8>> Tables) {
    std::vector<sim::FvFile> Files = {sim::RawFile(File, EFI_FV_FILETYPE_FREEFORM, std::move(Tables))};
    sim::FirmwareVolume *Volume =
        Platform->Volumes().Add({0x5A17C0DE, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}}, std::move(Files));
    ASSERT_NE(Volume, nullptr);
    LoadDriverFrom(Volume);
  }

  std::vector<std::string> InstalledSignatures() const {
    std::vector<std::string> Names;
    for (const sim::AcpiInstallRecord &Install : Platform->Acpi().Installs())
      Names.emplace_back(reinterpret_cast<const char *>(&Install.Signature), 4);
    return Names;
  }

  size_t Says(const std::string &Tail, UINTN Level = 0) const { return Logged(kEngine + Tail, Level); }
};

// --- The sample platform, captured and replayed -----------------------------------

TEST_F(RestoreEngineTest, CapturedSampleIsReplayedInStreamOrderWithPatchedTables) {
  CaptureSampleOntoEmptyTables();
  ASSERT_FALSE(HasFatalFailure());
  OpenReadStream(Entries);

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS)
      << DebugDump();
  EXPECT_EQ(InstalledSignatures(),
            (std::vector<std::string>{"FACP", "FACS", "DSDT", "SSDT", "SSDT", "APIC", "MCFG"}))
      << DebugDump();
  EXPECT_EQ(mAcpiDataStorageEntryCount, Entries.size());
  EXPECT_EQ(Logged(kNoMore, DEBUG_ERROR), 1u);
  EXPECT_EQ(Says(" - Read DSDT from FV.\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Says(" - no further NVS or integer values to patch in DSDT\n", DEBUG_INFO), 1u);

  const auto &Installs = Platform->Acpi().Installs();
  ASSERT_EQ(Installs.size(), 7u);
  EXPECT_EQ(Installs[5].Bytes, Tables.Apic);
  EXPECT_EQ(Installs[6].Bytes, Tables.Mcfg);
  // The NON-NVS SSDT's region is reached through parent fields: the table itself
  // is installed unchanged.
  EXPECT_EQ(Installs[4].Bytes, Tables.SsdtNonNvs);
  // The DSDT and the NVS SSDT keep their size but point at fresh regions.
  EXPECT_EQ(Installs[2].Bytes.size(), Tables.Dsdt.size());
  EXPECT_NE(Installs[2].Bytes, Tables.Dsdt);
  EXPECT_EQ(Installs[3].Bytes.size(), Tables.SsdtNvs.size());
  EXPECT_NE(Installs[3].Bytes, Tables.SsdtNvs);
  EXPECT_FALSE(NewPages().empty());

  // The stream is used up: every later call says so and installs nothing.
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS);
  EXPECT_EQ(Logged(kNoMore, DEBUG_ERROR), 2u);
  EXPECT_EQ(Installs.size(), 7u);
}

TEST_F(RestoreEngineTest, EveryFailedAllocationEndsTheCallWithoutLeaking) {
  CaptureSampleOntoEmptyTables();
  ASSERT_FALSE(HasFatalFailure());
  bool Succeeded = false;
  for (UINT64 Nth = 1; Nth < 200; Nth++) {
    DropInstalledTables();
    OpenReadStream(Entries);
    UINTN PoolBefore = Platform->Pool().OutstandingCount();
    mAcpiDataStorageEntryCount = 0;
    Platform->Pool().FailAllocation(Nth);
    EFI_STATUS Status = ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY);
    Platform->Pool().FailAllocation(0);
    EXPECT_EQ(Platform->Pool().OutstandingCount(), PoolBefore) << "allocation " << Nth;
    CloseBlobStream(BLOB_HANDLE_READ);
    if (Status == EFI_SUCCESS) {
      Succeeded = true;
      break;
    }
    // A failed read inside the volume search ends as "not found".
    EXPECT_TRUE(Status == EFI_OUT_OF_RESOURCES || Status == EFI_NOT_FOUND)
        << "allocation " << Nth << ": " << Status;
  }
  EXPECT_TRUE(Succeeded);
}

// --- Hand-made streams: one row per rule ------------------------------------------

struct StreamRow {
  const char *Name;
  std::vector<std::vector<UINT8>> Entries;
  std::vector<std::vector<UINT8>> Records;
  EFI_STATUS Expected;
  std::vector<std::string> Installed;  // signatures, in order
  std::string Message;                 // after "<engine>"; empty: none checked
  UINTN Level;
};

void PrintTo(const StreamRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

std::vector<UINT8> Fadt() {
  return TableEntry("FACP", AcpiDataTypeFadt, 276);
}

std::vector<UINT8> Mutated(std::vector<UINT8> Entry, size_t Offset, UINT32 Value) {
  std::memcpy(Entry.data() + Offset, &Value, sizeof(Value));
  return Entry;
}

std::vector<UINT8> NvsElementOf(const char *Oem) {
  std::vector<UINT8> Body = MakeTable("SSDT", 36, Oem);
  return MakeEntry(EFI_ACPI_SSDT_SIGNATURE, AcpiDataTypeSsdt, AcpiDataSubTypeNvs, Body);
}

const UINT32 kApic = SIGNATURE_32('A', 'P', 'I', 'C');

// A data table of Length bytes with no more than the signature and Length that
// every table has (a table under 8 bytes cannot even hold its Length).
std::vector<UINT8> BareTable(const char Signature[4], UINT32 Length) {
  std::vector<UINT8> Table(Length, 0x5C);
  std::memcpy(Table.data(), Signature, Length < 4 ? Length : 4);
  if (Length >= 8) std::memcpy(Table.data() + 4, &Length, 4);
  return Table;
}

std::vector<UINT8> BareTableEntry(UINT32 Length) {
  return MakeEntry(SIGNATURE_32('X', 'T', 'B', 'L'), AcpiDataTypeAcpiDataTables, AcpiDataSubTypeTable,
                   BareTable("XTBL", Length));
}

std::vector<StreamRow> StreamRows() {
  return {
      {"EmptyStream", {}, {}, EFI_SUCCESS, {}, " - No more entries in ACPI data storage\n", DEBUG_ERROR},
      {"FadtAndFacsWithoutRecordsAreInstalledFromStorage",
       {Fadt(), FacsEntry()},
       {},
       EFI_SUCCESS,
       {"FACP", "FACS"},
       " - No meta data found for ACPI FACS table\n",
       DEBUG_INFO},
      {"FadtWithRecordIsLeftToThePlatform",
       {Fadt()},
       {TableRecord(EFI_ACPI_FADT_SIGNATURE, AcpiDataSubTypeFromStorage)},
       EFI_SUCCESS,
       {},
       "",
       0},
      {"FadtOfWrongSize",
       {TableEntry("FACP", AcpiDataTypeFadt, 244)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - FADT table found with wrong size\n",
       DEBUG_ERROR},
      {"FadtTypeWithOtherSignature",
       {TableEntry("APIC", AcpiDataTypeFadt, 276)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - Was expecting FADT but found APIC\n",
       DEBUG_ERROR},
      {"FacsMarkedNotStored",
       {FacsEntry()},
       {TableRecord(EFI_ACPI_FACS_SIGNATURE, AcpiDataSubTypeDoNotStore)},
       EFI_INVALID_PARAMETER,
       {},
       " - Unexpectedly stored ACPI FACS table\n",
       DEBUG_ERROR},
      {"FirstEntryNotFadtIsOnlyLogged",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {},
       EFI_SUCCESS,
       {"APIC"},
       " - First AcpiDataStorage entry not FADT, found APIC\n",
       DEBUG_INFO},
      {"DataTableFromMetaDataRecord",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {[] {
         std::vector<UINT8> Record = TableRecord(kApic, AcpiDataSubTypeTable);
         std::vector<UINT8> Table = MakeTable("APIC", 40, "FromMeta", 9);
         Record.insert(Record.end(), Table.begin(), Table.end());
         capture_test::SetRecordLength(&Record, static_cast<UINT32>(Record.size()));
         return Record;
       }()},
       EFI_SUCCESS,
       {"APIC"},
       " - Installing ACPI table APIC from meta data\n",
       DEBUG_INFO},
      {"DataTableOfEightBytesIsInstalledAndTheReplayGoesOn",
       {BareTableEntry(8), TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)},
       {},
       EFI_SUCCESS,
       {"XTBL", "MCFG"},
       " - No meta data found for ACPI data table XTBL\n",
       DEBUG_INFO},
      {"DataTableOf35BytesIsInstalled",
       {BareTableEntry(35)},
       {},
       EFI_SUCCESS,
       {"XTBL"},
       " - No meta data found for ACPI data table XTBL\n",
       DEBUG_INFO},
      {"DataTableOfSevenBytesIsRefused",
       {BareTableEntry(7)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - Stored XTBL table does not fit its 0x27 byte entry\n",
       DEBUG_ERROR},
      {"EightByteDataTableFromItsMetaDataRecord",
       {BareTableEntry(8)},
       {[] {
         std::vector<UINT8> Record = TableRecord(SIGNATURE_32('X', 'T', 'B', 'L'), AcpiDataSubTypeTable);
         std::vector<UINT8> Table = BareTable("XTBL", 8);
         Record.insert(Record.end(), Table.begin(), Table.end());
         capture_test::SetRecordLength(&Record, static_cast<UINT32>(Record.size()));
         return Record;
       }()},
       EFI_SUCCESS,
       {"XTBL"},
       " - Installing ACPI table XTBL from meta data\n",
       DEBUG_INFO},
      {"StoredSsdtShorterThanItsHeaderIsRefused",
       {Mutated(TableEntry("SSDT", AcpiDataTypeSsdt, 36, "Short035"), 32 + 4, 35)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - Stored SSDT table does not fit its 0x44 byte entry\n",
       DEBUG_ERROR},
      {"DataTableRecordTooShortForItsTable",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {TableRecord(kApic, AcpiDataSubTypeTable)},
       EFI_INVALID_PARAMETER,
       {},
       " - Meta data record for APIC does not hold the table it names\n",
       DEBUG_ERROR},
      {"DataTableFromFvHasNoFileToRead",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44),
        TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)},
       {TableRecord(kApic, AcpiDataSubTypeFromFv)},
       EFI_UNSUPPORTED,
       {},
       " - No firmware-volume file is named for ACPI data table APIC\n",
       DEBUG_ERROR},
      {"DataTableWithUnknownRecordSubType",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {TableRecord(kApic, AcpiDataSubTypeNonNvs)},
       EFI_INVALID_PARAMETER,
       {},
       " - Unexpected meta data AcpiDataSubType for ACPI data table APIC\n",
       DEBUG_ERROR},
      {"StoredTableLongerThanItsEntry",
       {Mutated(TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44), 32 + 4, 0x1000)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - Stored APIC table does not fit its 0x4C byte entry\n",
       DEBUG_ERROR},
      {"EntryLengthNotItsBlobLength",
       {Mutated(TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44), 8, 0x4000)},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - Entry length does not match its 0x4C byte blob\n",
       DEBUG_ERROR},
      {"ShortEntryEndsTheCallQuietly",
       {std::vector<UINT8>(20, 0xAB), TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {},
       EFI_SUCCESS,
       {},
       " - Read blob length less than ACPI data storage entry!\n",
       DEBUG_ERROR},
      {"UnknownEntryTypeIsSkipped",
       {TableEntry("APIC", 9, 44), TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)},
       {},
       EFI_SUCCESS,
       {"MCFG"},
       "",
       0},
      {"DsdtFromStorageIsRefused",
       {TableEntry("DSDT", AcpiDataTypeDsdt, 40)},
       {},
       EFI_UNSUPPORTED,
       {},
       " - Unsupported AcpiDataSubType for DSDT found\n",
       DEBUG_ERROR},
      {"DsdtWithoutRecordHasNoFile",
       {MakeEntry(EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt, AcpiDataSubTypeFromFv, {})},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - failed to read DSDT from FV: Invalid Parameter\n",
       DEBUG_ERROR},
      {"SsdtEntryShorterThanTableHeader",
       {MakeEntry(EFI_ACPI_SSDT_SIGNATURE, AcpiDataTypeSsdt, AcpiDataSubTypeTable,
                  std::vector<UINT8>(20, 0))},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - SSDT entry length less than ACPI table header length!\n",
       DEBUG_ERROR},
      {"SsdtElementBeforeItsSsdt",
       {NvsElementOf("Orphaned")},
       {},
       EFI_INVALID_PARAMETER,
       {},
       " - SSDT Orphaned table NON-NVS or NVS occurred before SSDT entry found\n",
       DEBUG_ERROR},
      {"SsdtWithoutRecordIsInstalledAndItsElementIsAStray",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "NoRecord"), NvsElementOf("NoRecord")},
       {},
       EFI_INVALID_PARAMETER,
       {"SSDT"},
       " - SSDT NoRecord table NON-NVS or NVS occurred before SSDT entry found\n",
       DEBUG_ERROR},
      {"SsdtMarkedNotStored",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "NotStord")},
       {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeDoNotStore, OemTableIdOf("NotStord"))},
       EFI_INVALID_PARAMETER,
       {},
       " - Unexpectedly stored ACPI SSDT NotStord table\n",
       DEBUG_ERROR},
      {"SsdtFromStorageStopsAtTheNextTable",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "Stored01"),
        TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromStorage, OemTableIdOf("Stored01"))},
       EFI_SUCCESS,
       {"SSDT", "APIC"},
       " - No further SSDT components found\n",
       DEBUG_INFO},
      {"SsdtFromStorageFollowedByAnotherSsdt",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "Stored01"),
        TableEntry("SSDT", AcpiDataTypeSsdt, 52, "Stored02")},
       {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromStorage, OemTableIdOf("Stored01"))},
       EFI_SUCCESS,
       {"SSDT", "SSDT"},
       " - SSDT table found while looking for NON-NVS or NVS\n",
       DEBUG_INFO},
      {"SsdtFromFvMissingFile",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "InVolume")},
       {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromFv, OemTableIdOf("InVolume"))},
       EFI_NOT_FOUND,
       {},
       " - Failed to read ACPI SSDT table InVolume from FV\n",
       DEBUG_ERROR},
      {"SsdtElementRefusedByPatcher",
       {TableEntry("SSDT", AcpiDataTypeSsdt, 48, "Stored01"), NvsElementOf("Stored01")},
       {TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromStorage, OemTableIdOf("Stored01"))},
       EFI_COMPROMISED_DATA,
       {},
       " - Patching SSDT with NVS failed: Compromised Data\n",
       DEBUG_ERROR},
      {"DataTableRankTooHighForADeferral",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {WithRank(TableRecord(kApic, AcpiDataSubTypeFromStorage), 0x2002)},
       EFI_INVALID_PARAMETER,
       {},
       " - Unexpected meta data rank found for ACPI data table APIC\n",
       DEBUG_ERROR},
      {"DataTableRankOfThisPhaseIsInstalledAtOnce",
       {TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)},
       {WithRank(TableRecord(kApic, AcpiDataSubTypeFromStorage), 0x1002)},
       EFI_SUCCESS,
       {"APIC"},
       " - Installing ACPI data table APIC from ACPI data storage\n",
       DEBUG_INFO},
  };
}

class StreamRuleTest : public RestoreEngineTest, public testing::WithParamInterface<StreamRow> {};

TEST_P(StreamRuleTest, StatusInstallsAndMessage) {
  const StreamRow &Row = GetParam();
  OpenRecords(Row.Records);
  OpenReadStream(Row.Entries);
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), Row.Expected)
      << DebugDump();
  EXPECT_EQ(InstalledSignatures(), Row.Installed) << DebugDump();
  if (!Row.Message.empty()) EXPECT_EQ(Says(Row.Message, Row.Level), 1u) << DebugDump();
  EXPECT_EQ(mDeferredAcpiTable.AcpiTable, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rules, StreamRuleTest, testing::ValuesIn(StreamRows()),
                         [](const testing::TestParamInfo<StreamRow> &Info) {
                           return std::string(Info.param.Name);
                         });

// --- Calls, the deferred slot and the stream position ------------------------------

TEST_F(RestoreEngineTest, NoReadStreamLeavesEverythingUntouched) {
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_UNSUPPORTED);
  EXPECT_EQ(Logged("WriteAcpiMetaDataToXsdt - This feature is not presently supported\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(mAcpiDataStorageEntryCount, 0u);
}

TEST_F(RestoreEngineTest, DeferredTableWaitsForTheNextCallAndHoldsBackTheRest) {
  OpenRecords({WithRank(TableRecord(kApic, AcpiDataSubTypeFromStorage), 0x4000)});
  OpenReadStream({Fadt(), TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44, "Deferred", 3),
                  TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)});

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"FACP"}));
  EXPECT_EQ(Says(" - Defering ACPI data table APIC installation until new callback\n", DEBUG_INFO), 1u);
  EXPECT_EQ(mAcpiDataStorageEntryCount, 2u);
  ASSERT_NE(mDeferredAcpiTable.AcpiTable, nullptr);

  // A rank of ExitBootServices still waits only for the next call.
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS);
  EXPECT_EQ(Says(" - Delayed installation of APIC table\n", DEBUG_INFO), 1u);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"FACP", "APIC", "MCFG"}));
  EXPECT_EQ(Platform->Acpi().Installs()[1].Bytes, MakeTable("APIC", 44, "Deferred", 3));
  EXPECT_EQ(mDeferredAcpiTable.AcpiTable, nullptr);
}

TEST_F(RestoreEngineTest, FailedDeferredInstallIsNotTriedAgain) {
  OpenRecords({WithRank(TableRecord(kApic, AcpiDataSubTypeFromStorage), 0x2000)});
  OpenReadStream({TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44),
                  TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)});
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS);
  Platform->Acpi().FailInstall(1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Says(" - Unable to install ACPI table APIC\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(mDeferredAcpiTable.AcpiTable, nullptr);
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_READY_TO_BOOT), EFI_SUCCESS);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"APIC", "MCFG"}));
  EXPECT_EQ(Platform->Acpi().Installs()[0].Status, EFI_OUT_OF_RESOURCES);
}

TEST_F(RestoreEngineTest, FailureLeavesTheStreamPastTheFailingEntry) {
  OpenReadStream(
      {TableEntry("FACP", AcpiDataTypeFadt, 100), TableEntry("MCFG", AcpiDataTypeAcpiDataTables, 60)});
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"MCFG"}));
  EXPECT_EQ(Says(" - Second AcpiDataStorage entry not FACS, found MCFG\n", DEBUG_INFO), 1u);
}

TEST_F(RestoreEngineTest, DeferredSsdtFromFvIsInstalledNextCall) {
  const UINT64 Oem = OemTableIdOf("FvSsdt01");
  std::vector<UINT8> Record =
      WithRank(TableRecord(EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeFromFv, Oem), 0x3001);
  OpenRecords({WithFile(Record, ACPI_META_DATA_SSDT_FV_FILE_OFFSET, kSsdtFile)});
  std::vector<UINT8> InVolume = MakeTable("SSDT", 72, "FvSsdt01", 5);
  AddTableVolume(kSsdtFile, {MakeTable("SSDT", 64, "OtherOne", 1), InVolume});
  OpenReadStream({TableEntry("SSDT", AcpiDataTypeSsdt, 48, "FvSsdt01")});

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(Says(" - Installing ACPI SSDT table FvSsdt01 from FV\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Says(" - Defering ACPI data table SSDT installation until new callback\n", DEBUG_INFO), 1u);
  EXPECT_TRUE(Platform->Acpi().Installs().empty());
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_READY_TO_BOOT), EFI_SUCCESS);
  ASSERT_EQ(Platform->Acpi().Installs().size(), 1u);
  EXPECT_EQ(Platform->Acpi().Installs()[0].Bytes, InVolume);
}

// --- DSDT runs on hand-made streams --------------------------------------------------

class DsdtRunTest : public RestoreEngineTest {
 protected:
  void SetUp() override {
    RestoreEngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    OpenRecords({WithFile(TableRecord(EFI_ACPI_DSDT_SIGNATURE, AcpiDataSubTypeFromFv),
                          ACPI_META_DATA_DSDT_FV_FILE_OFFSET, kDsdtFile)});
    AddTableVolume(kDsdtFile, {Dsdt});
  }
  std::vector<UINT8> DsdtEntry() const {
    return MakeEntry(EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt, AcpiDataSubTypeFromFv, {});
  }
  std::vector<UINT8> Dsdt = MakeTable("DSDT", 64, "ZpDsdt01", 4);
};

TEST_F(DsdtRunTest, EndOfStreamAfterTheDsdtStillInstallsIt) {
  OpenReadStream({DsdtEntry()});
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS)
      << DebugDump();
  ASSERT_EQ(InstalledSignatures(), (std::vector<std::string>{"DSDT"}));
  EXPECT_EQ(Platform->Acpi().Installs()[0].Bytes, Dsdt);
  // The end of the stream closes the run: its message, not the one of a run
  // ended by another entry; the order check still sees the DSDT come first.
  EXPECT_EQ(Logged(kNoMore, DEBUG_ERROR), 1u);
  EXPECT_EQ(Says(" - no further NVS or integer values to patch in DSDT\n"), 0u);
  EXPECT_EQ(Says(" - First AcpiDataStorage entry not FADT, found DSDT\n", DEBUG_INFO), 1u);
  EXPECT_EQ(mAcpiDataStorageEntryCount, 1u);
}

TEST_F(DsdtRunTest, EntryEndingTheRunIsHandledInTheSameCall) {
  OpenReadStream({DsdtEntry(), TableEntry("SSDT", AcpiDataTypeSsdt, 48, "AfterRun")});
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS)
      << DebugDump();
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"DSDT", "SSDT"}));
  EXPECT_EQ(Says(" - no further NVS or integer values to patch in DSDT\n", DEBUG_INFO), 1u);
  EXPECT_EQ(mAcpiDataStorageEntryCount, 2u);
}

TEST_F(DsdtRunTest, IntegerWithoutRecordFailsAndTheDsdtIsReleased) {
  std::vector<UINT8> Integer = MakeEntry(EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt, AcpiDataSubTypeInteger,
                                         std::vector<UINT8>(sizeof(ACPI_DATA_STORAGE_INTEGER) - 32, 0));
  OpenReadStream({DsdtEntry(), Integer, TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)});
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Says(" - Unexpectedly missing meta data for a stored DSDT patchable integer.\n", DEBUG_ERROR),
            1u);
  EXPECT_TRUE(Platform->Acpi().Installs().empty());
  // The failing element is consumed; the next call goes on behind it.
  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"APIC"}));
}

// A variable store that cannot be read costs one integer its value, never the
// DSDT: the record's default is patched and the replay goes on.
TEST_F(RestoreEngineTest, UnreadableIntegerVariableStillInstallsTheDsdt) {
  const AML_OBJECT_LOCATOR Locator = patch_test::MakeLocator("\\ITST", 37, AML_WORD_PREFIX, 42);
  const std::vector<UINT8> Record =
      capture_test::IntegerRecord(EFI_ACPI_DSDT_SIGNATURE, Locator, AcpiDataIntegerTypeVariable, 0x5A5);
  OpenRecords({WithFile(TableRecord(EFI_ACPI_DSDT_SIGNATURE, AcpiDataSubTypeFromFv),
                        ACPI_META_DATA_DSDT_FV_FILE_OFFSET, kDsdtFile),
               Record});
  const std::vector<UINT8> Dsdt =
      patch_test::MakeAmlTable("DSDT", {0x08, 'I', 'T', 'S', 'T', AML_WORD_PREFIX, 0x21, 0x00, 0xA5});
  AddTableVolume(kDsdtFile, {Dsdt});
  OpenReadStream({MakeEntry(EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt, AcpiDataSubTypeFromFv, {}),
                  patch_test::MakeIntegerElement(Record, 0),
                  TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)});
  EFI_RUNTIME_SERVICES *Saved = gRT;
  EFI_RUNTIME_SERVICES Broken = *gRT;
  Broken.GetVariable = [](CHAR16 *, EFI_GUID *, UINT32 *, UINTN *, VOID *)
                           EFIAPI -> EFI_STATUS { return EFI_DEVICE_ERROR; };
  gRT = &Broken;
  const EFI_STATUS Status = ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY);
  gRT = Saved;
  EXPECT_EQ(Status, EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(InstalledSignatures(), (std::vector<std::string>{"DSDT", "APIC"})) << DebugDump();
  std::vector<UINT8> Patched = Dsdt;
  Patched[42] = 0xA5;
  Patched[43] = 0x05;
  EXPECT_EQ(Platform->Acpi().Installs()[0].Bytes, Patched);
  EXPECT_EQ(
      Logged("PatchDsdtInteger - Could not read SampleValue size from var store: Device Error\n", DEBUG_WARN),
      1u);
}

// A deferred SSDT whose element cannot be applied would be installed at the next
// call still pointing at the capture boot's regions: it is dropped, as an SSDT
// with the same failure that was not deferred is.
struct DroppedSsdtRow {
  const char *Name;
  UINT32 SubType;  // where the table comes from
};

void PrintTo(const DroppedSsdtRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class DeferredSsdtDrop : public RestoreEngineTest, public testing::WithParamInterface<DroppedSsdtRow> {};

TEST_P(DeferredSsdtDrop, FailedElementEmptiesTheSlot) {
  std::vector<UINT8> Record =
      WithRank(TableRecord(EFI_ACPI_SSDT_SIGNATURE, GetParam().SubType, OemTableIdOf("Deferred")), 0x2000);
  if (GetParam().SubType == AcpiDataSubTypeTable) {
    // The record carries the table itself behind its 32-byte header.
    const std::vector<UINT8> Table = MakeTable("SSDT", 40, "Deferred", 7);
    Record.resize(ACPI_META_DATA_TABLE_OFFSET);
    Record.insert(Record.end(), Table.begin(), Table.end());
    capture_test::SetRecordLength(&Record, static_cast<UINT32>(Record.size()));
  }
  OpenRecords({Record});
  OpenReadStream({TableEntry("SSDT", AcpiDataTypeSsdt, 48, "Deferred"), NvsElementOf("Deferred"),
                  TableEntry("APIC", AcpiDataTypeAcpiDataTables, 44)});

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_COMPROMISED_DATA)
      << DebugDump();
  EXPECT_EQ(Says(" - Defering ACPI data table SSDT installation until new callback\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Says(" - Patching SSDT with NVS failed: Compromised Data\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(Says(" - Dropping deferred ACPI SSDT Deferred table: an element failed to patch\n", DEBUG_ERROR),
            1u);
  EXPECT_EQ(mDeferredAcpiTable.AcpiTable, nullptr);
  EXPECT_EQ(mDeferredAcpiTable.Buffer, nullptr);

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(Says(" - Delayed installation of SSDT table\n"), 0u);
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"APIC"}));
}

INSTANTIATE_TEST_SUITE_P(Sources, DeferredSsdtDrop,
                         testing::Values(DroppedSsdtRow{"FromStorage", AcpiDataSubTypeFromStorage},
                                         DroppedSsdtRow{"FromMetaData", AcpiDataSubTypeTable}),
                         [](const testing::TestParamInfo<DroppedSsdtRow> &Info) {
                           return std::string(Info.param.Name);
                         });

TEST_F(RestoreEngineTest, DeferredSsdtReceivesItsPatchesBeforeTheCallReturns) {
  CaptureSampleOntoEmptyTables();
  ASSERT_FALSE(HasFatalFailure());
  // Give the NVS SSDT's table record the EndOfDxe phase.
  bool Found = false;
  for (size_t Offset = 0; Offset + 68 <= MetaData.size();) {
    const auto *Record = reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(MetaData.data() + Offset);
    UINT64 Oem = 0;
    std::memcpy(&Oem, MetaData.data() + Offset + 48, sizeof(Oem));
    if (Record->AcpiCommonHeader.Signature == EFI_ACPI_SSDT_SIGNATURE &&
        Record->AcpiDataSubType == AcpiDataSubTypeFromStorage && Oem == OemTableIdOf("ZPNVSTBL")) {
      const UINT16 Rank = ACPI_RESTORE_PHASE_END_OF_DXE;
      std::memcpy(MetaData.data() + Offset + ACPI_META_DATA_RANK_OFFSET, &Rank, sizeof(Rank));
      Found = true;
    }
    Offset += Record->AcpiCommonHeader.Length;
  }
  ASSERT_TRUE(Found);
  OpenReadStream(Entries);

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY), EFI_SUCCESS)
      << DebugDump();
  EXPECT_EQ(InstalledSignatures(), (std::vector<std::string>{"FACP", "FACS", "DSDT"}));
  ASSERT_NE(mDeferredAcpiTable.AcpiTable, nullptr);
  std::vector<UINT8> Waiting(
      reinterpret_cast<const UINT8 *>(mDeferredAcpiTable.AcpiTable),
      reinterpret_cast<const UINT8 *>(mDeferredAcpiTable.AcpiTable) + Tables.SsdtNvs.size());
  EXPECT_NE(Waiting, Tables.SsdtNvs);  // already patched while waiting

  EXPECT_EQ(ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_END_OF_DXE), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(InstalledSignatures(),
            (std::vector<std::string>{"FACP", "FACS", "DSDT", "SSDT", "SSDT", "APIC", "MCFG"}));
  EXPECT_EQ(Platform->Acpi().Installs()[3].Bytes, Waiting);
}

TEST(RestoreRankTest, PhaseBitsDecideAndTheCountMattersOnlyWhenDeferring) {
  EXPECT_EQ(DecideAcpiTableRank(0x0000, 0x1000), AcpiRestoreInstallNow);
  EXPECT_EQ(DecideAcpiTableRank(0x1FFF, 0x1000), AcpiRestoreInstallNow);
  EXPECT_EQ(DecideAcpiTableRank(0x2001, 0x1000), AcpiRestoreDefer);
  EXPECT_EQ(DecideAcpiTableRank(0x2002, 0x1000), AcpiRestoreBadRank);
  EXPECT_EQ(DecideAcpiTableRank(0x2002, 0x2000), AcpiRestoreInstallNow);
  EXPECT_EQ(DecideAcpiTableRank(0xF000, 0x4FFF), AcpiRestoreDefer);
}

}  // namespace
}  // namespace restore_test
