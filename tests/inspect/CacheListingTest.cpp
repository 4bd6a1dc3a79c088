// The inspector's listing of caches the driver wrote: the sample platform's
// capture (values checked against the ASL sources), and a hand-built stream with
// every entry kind, line by line; the two input forms; the driver's platform
// pointers survive an inspection.
#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/inspect/InspectTestSupport.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"

namespace {

using namespace inspect_test;
using inspect::InspectCache;
using inspect::InspectOptions;
using inspect::InspectReport;

struct Expected {
  uint32_t Length;
  std::string Text;  // the line after "entry N @offset: ", with "%L" for the length
};

// Builds the expected listing: offsets follow from the lengths (each blob is a
// 16-byte header and its payload), written independently of the inspector.
std::vector<std::string> ExpectedLines(const std::string &Summary, const std::vector<Expected> &Entries) {
  std::vector<std::string> Lines = {Summary};
  uint64_t Offset = 0;
  for (size_t Index = 0; Index < Entries.size(); Index++) {
    std::string Text = Entries[Index].Text;
    const size_t Mark = Text.find("%L");
    if (Mark != std::string::npos) Text.replace(Mark, 2, std::to_string(Entries[Index].Length));
    char Prefix[48];
    std::snprintf(Prefix, sizeof(Prefix), "entry %zu @0x%llx: ", Index,
                  static_cast<unsigned long long>(Offset));
    Lines.push_back(Prefix + Text);
    Offset += 16 + Entries[Index].Length;
  }
  return Lines;
}

void ExpectListing(const std::vector<std::string> &Actual, const std::vector<std::string> &Wanted) {
  for (size_t Index = 0; Index < std::max(Actual.size(), Wanted.size()); Index++) {
    EXPECT_EQ(Index < Actual.size() ? Actual[Index] : "(missing)",
              Index < Wanted.size() ? Wanted[Index] : "(extra)")
        << "line " << Index;
  }
}

using SampleListing = SampleCacheTest;

TEST_F(SampleListing, CapturedSamplePlatformIsListedEntryByEntry) {
  const Bytes Variable = CaptureSample(AcpiDataSubTypeFromStorage);
  ASSERT_FALSE(Variable.empty());
  const InspectReport Report = InspectCache(Variable.data(), Variable.size(), InspectOptions());
  ASSERT_TRUE(Report.Clean()) << Report.Error;
  const uint32_t Dsdt = static_cast<uint32_t>(Tables.Dsdt.size()) + 32;
  const uint32_t SsdtNvs = static_cast<uint32_t>(Tables.SsdtNvs.size()) + 32;
  const uint32_t SsdtNonNvs = static_cast<uint32_t>(Tables.SsdtNonNvs.size()) + 32;
  const uint32_t Apic = static_cast<uint32_t>(Tables.Apic.size()) + 32;
  const uint32_t Mcfg = static_cast<uint32_t>(Tables.Mcfg.size()) + 32;
  const std::string DsdtElement = "type DSDT, sub-type ";
  const std::string NoOem = ", OEM table id \"........\", length %L";
  const std::string Integer =
      ", variable \"SampleValue\" 00000000-0000-0000-0000-000000000000 attributes 0x7";
  const std::vector<Expected> Entries = {
      {308, "type FADT, sub-type Table, signature FACP, OEM table id \"ZPFADT  \", length %L"},
      {96, "type FACS, sub-type Table, signature FACS, length %L"},
      {Dsdt, "type DSDT, sub-type Table, signature DSDT, OEM table id \"ZPDSDT  \", length %L"},
      {159 + 0x100,
       DsdtElement + "NVS, signature DSDT" + NoOem + ", NVS type Default, region \\GNVS, NVS length 0x100"},
      {183 + 0x40, DsdtElement + "NVS, signature DSDT" + NoOem +
                       ", NVS type Type2, parent region \\GNVS, address field mode 2 size 3 offset 0x10, "
                       "length field mode 2 size 2 offset 0x14, NVS length 0x40"},
      {159 + 0x20,
       DsdtElement + "NVS, signature DSDT" + NoOem + ", NVS type Default, region \\BNVS, NVS length 0x20"},
      {216, DsdtElement + "Integer, signature DSDT" + NoOem + ", integer \\IBYT = 0x5a (integer type 3)" +
                Integer},
      {216, DsdtElement + "Integer, signature DSDT" + NoOem + ", integer \\IWRD = 0x1234 (integer type 3)" +
                Integer},
      {216, DsdtElement + "Integer, signature DSDT" + NoOem +
                ", integer \\IDWD = 0x12345678 (integer type 3)" + Integer},
      {SsdtNvs, "type SSDT, sub-type Table, signature SSDT, OEM table id \"ZPNVSTBL\", length %L"},
      {159 + 0x80,
       "type SSDT, sub-type NVS, signature SSDT, OEM table id \"ZPNVSTBL\", length %L, NVS type "
       "Default, region \\SNV0, NVS length 0x80"},
      {242 + 0x100,
       "type SSDT, sub-type NVS, signature SSDT, OEM table id \"ZPNVSTBL\", length %L, NVS type "
       "Type1, address \\SNVA, length \\SNVL, NVS length 0x100"},
      {SsdtNonNvs, "type SSDT, sub-type Table, signature SSDT, OEM table id \"ZPNONNVS\", length %L"},
      {183 + 0x30,
       "type SSDT, sub-type NON-NVS, signature SSDT, OEM table id \"ZPNONNVS\", length %L, NVS type "
       "Type2, parent region \\_SB.SCRA.PNVS, address field mode 2 size 3 offset 0x0, length field "
       "mode 2 size 3 offset 0x4, NVS length 0x30"},
      {Apic, "type DataTable, sub-type Table, signature APIC, OEM table id \"ZPAPIC  \", length %L"},
      {Mcfg, "type DataTable, sub-type Table, signature MCFG, OEM table id \"ZPMCFG  \", length %L"},
  };
  uint32_t StreamSize = 0;
  for (const Expected &Entry : Entries) StreamSize += 16 + Entry.Length;
  const std::string Summary = "AcpiDataCache: raw form, " + std::to_string(Variable.size()) +
                              " bytes compressed, " + std::to_string(StreamSize) +
                              " bytes decompressed, 16 entries";
  ExpectListing(inspect::FormatListing(Report), ExpectedLines(Summary, Entries));
}

TEST_F(SampleListing, DsdtFromFirmwareVolumeShowsItsHeaderOnlyEntry) {
  const Bytes Variable = CaptureSample(AcpiDataSubTypeFromFv);
  const InspectReport Report = InspectCache(Variable.data(), Variable.size(), InspectOptions());
  ASSERT_TRUE(Report.Clean()) << Report.Error;
  const std::vector<std::string> Lines = inspect::FormatListing(Report);
  ASSERT_GT(Lines.size(), 3u);
  EXPECT_EQ(Lines[3], "entry 2 @0x1b4: type DSDT, sub-type FromFv, signature DSDT, length 32");
  EXPECT_FALSE(inspect::HoldsStoredTable(Report.Entries[2]));
}

class HandBuiltListing : public CacheTest {
 protected:
  // One entry of every kind, made by the driver's entry builders.
  std::vector<Bytes> EveryKind() {
    std::vector<Bytes> Entries;
    ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
    Bytes Fadt = Table("FACP", 276, "HANDFADT");
    EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeFadt, Fadt.data(), 276, &Entry), EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    Bytes Facs(64, 0);
    std::memcpy(Facs.data(), "FACS", 4);
    Put32(&Facs, 4, 64);
    EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeFacs, Facs.data(), 64, &Entry), EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    Bytes Dsdt = Table("DSDT", 40, "HANDDSDT");
    EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeDsdt, Dsdt.data(), 40, &Entry), EFI_SUCCESS);
    EXPECT_EQ(MarkAcpiTableEntryFromFv(Entry), EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    const Bytes Region(5, 0xA5);
    const Bytes Nvs = capture_test::NvsDefaultRecord(EFI_ACPI_DSDT_SIGNATURE, 0, PathLocator("\\_SB.GNVS"));
    EXPECT_EQ(
        CreateNvsElementEntry(&gDsdtNvsDefaultElement, Nvs.data(), Nvs.size(), Region.data(), 5, &Entry),
        EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    Bytes Integer = capture_test::IntegerRecord(EFI_ACPI_DSDT_SIGNATURE, PathLocator("\\IQWD"),
                                                AcpiDataIntegerTypeVariable);
    std::memset(Integer.data() + OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, VariableName), 0, 32);
    EXPECT_EQ(CreateIntegerElementEntry(Integer.data(), Integer.size(), 0xFEDCBA9876543210ULL, &Entry),
              EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    Bytes Ssdt = Table("SSDT", 48, "HANDSSDT");
    EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeSsdt, Ssdt.data(), 48, &Entry), EFI_SUCCESS);
    EXPECT_EQ(MarkAcpiTableEntryFromFv(Entry), EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    const Bytes Type1 = capture_test::NvsType1Record(capture_test::OemTableIdOf("HANDSSDT"),
                                                     PathLocator("\\ADR0"), PathLocator("\\LEN0"));
    EXPECT_EQ(CreateNvsElementEntry(&gSsdtNvsType1Element, Type1.data(), Type1.size(), nullptr, 0, &Entry),
              EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    Bytes Data = Table("BGRT", 40, "HANDBGRT");
    EXPECT_EQ(CreateAcpiTableEntry(AcpiDataTypeAcpiDataTables, Data.data(), 40, &Entry), EFI_SUCCESS);
    Entries.push_back(TakeEntry(Entry));
    return Entries;
  }

  static Bytes Table(const char *Signature, uint32_t Length, const char *OemTableId) {
    Bytes Table(Length, 0);
    std::memcpy(Table.data(), Signature, 4);
    Put32(&Table, 4, Length);
    std::memcpy(Table.data() + 16, OemTableId, 8);
    return Table;
  }
};

TEST_F(HandBuiltListing, EveryEntryKindIsListedWithItsFields) {
  const Bytes Variable = StoreEntries(EveryKind());
  ASSERT_FALSE(Variable.empty());
  const InspectReport Report = InspectCache(Variable.data(), Variable.size(), InspectOptions());
  ASSERT_TRUE(Report.Clean()) << Report.Error;
  const std::vector<Expected> Entries = {
      {308, "type FADT, sub-type Table, signature FACP, OEM table id \"HANDFADT\", length %L"},
      {96, "type FACS, sub-type Table, signature FACS, length %L"},
      {32, "type DSDT, sub-type FromFv, signature DSDT, length %L"},
      {164,
       "type DSDT, sub-type NVS, signature DSDT, OEM table id \"........\", length %L, NVS type Default, "
       "region \\_SB.GNVS, NVS length 0x5"},
      {216,
       "type DSDT, sub-type Integer, signature DSDT, OEM table id \"........\", length %L, integer \\IQWD = "
       "0xfedcba9876543210 (integer type 3)"},
      {68, "type SSDT, sub-type FromFv, signature SSDT, OEM table id \"HANDSSDT\", length %L"},
      {242,
       "type SSDT, sub-type NVS, signature SSDT, OEM table id \"HANDSSDT\", length %L, NVS type Type1, "
       "address \\ADR0, length \\LEN0, NVS length 0x0"},
      {72, "type DataTable, sub-type Table, signature BGRT, OEM table id \"HANDBGRT\", length %L"},
  };
  const std::string Summary = "AcpiDataCache: raw form, " + std::to_string(Variable.size()) +
                              " bytes compressed, 1326 bytes decompressed, 8 entries";
  ExpectListing(inspect::FormatListing(Report), ExpectedLines(Summary, Entries));
}

TEST_F(HandBuiltListing, EfivarfsFormNamesItsAttributesAndListsTheSameEntries) {
  const Bytes Variable = StoreEntries(EveryKind());
  const InspectReport Raw = InspectCache(Variable.data(), Variable.size(), InspectOptions());
  const Bytes File = WithPrefix(3, Variable);
  const InspectReport Efivarfs = InspectCache(File.data(), File.size(), InspectOptions());
  ASSERT_TRUE(Efivarfs.Clean()) << Efivarfs.Error;
  std::vector<std::string> RawLines = inspect::FormatListing(Raw);
  std::vector<std::string> EfivarfsLines = inspect::FormatListing(Efivarfs);
  EXPECT_EQ(EfivarfsLines[0], "AcpiDataCache: efivarfs form, attributes 0x00000003 (NV+BS), " +
                                  std::to_string(Variable.size()) +
                                  " bytes compressed, 1326 bytes decompressed, 8 entries");
  EXPECT_EQ(std::vector<std::string>(RawLines.begin() + 1, RawLines.end()),
            std::vector<std::string>(EfivarfsLines.begin() + 1, EfivarfsLines.end()));
}

TEST_F(HandBuiltListing, InspectionLeavesTheCallersPlatformBound) {
  const Bytes Variable = StoreEntries(EveryKind());
  InspectCache(Variable.data(), Variable.size(), InspectOptions());
  EXPECT_EQ(gBS, Platform.BootServices());
  EXPECT_EQ(gRT, Platform.RuntimeServices());
  EXPECT_EQ(mReadBlobHandle, BLOB_HANDLE_NONE);
  EXPECT_EQ(mReadBlobStreamPointer, nullptr);
  // The driver's debug output still reaches this platform's recorder.
  ClearDebug();
  BLOB_HANDLE Handle = BLOB_HANDLE_NONE;
  EXPECT_EQ(OpenBlobStream(&Handle, BlobAccessRead), EFI_SUCCESS);
  EXPECT_TRUE(Logged("[OpenBlobStream] - Open with read AccessType requested\n")) << DebugDump();
  CloseBlobStream(Handle);
}

TEST_F(HandBuiltListing, TrailingBytesAfterTheLastBlobAreReported) {
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  const Bytes Apic = Table("APIC", 40, "SHORTTBL");
  ASSERT_EQ(CreateAcpiTableEntry(AcpiDataTypeAcpiDataTables, Apic.data(), 40, &Entry), EFI_SUCCESS);
  Bytes Stream = BlobStream({TakeEntry(Entry)});
  Stream.insert(Stream.end(), 7, 0xEE);
  const Bytes Variable = Compressed(Stream);
  const InspectReport Report = InspectCache(Variable.data(), Variable.size(), InspectOptions());
  EXPECT_TRUE(Report.Clean());
  const std::vector<std::string> Lines = inspect::FormatListing(Report);
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Lines[2], "7 bytes after the last blob are too few for a blob header; the driver ignores them");
}

struct FormRow {
  const char *Name;
  Bytes File;
  inspect::InputForm Form;
  bool Efivarfs;
};

void PrintTo(const FormRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class FormDetection : public testing::TestWithParam<FormRow> {};

TEST_P(FormDetection, ChoosesTheDocumentedForm) {
  const FormRow &Row = GetParam();
  EXPECT_EQ(inspect::UsesEfivarfsForm(Row.File.data(), Row.File.size(), Row.Form), Row.Efivarfs);
}

Bytes Prefixed(uint32_t First, size_t Size) {
  Bytes File(Size, 0x11);
  std::memcpy(File.data(), &First, 4);
  return File;
}

INSTANTIATE_TEST_SUITE_P(
    Inspect, FormDetection,
    testing::Values(
        FormRow{"AttributesNvBs", Prefixed(3, 100), inspect::InputForm::Auto, true},
        FormRow{"AttributesNvBsRt", Prefixed(7, 100), inspect::InputForm::Auto, true},
        FormRow{"RawCompressedSize", Prefixed(92, 100), inspect::InputForm::Auto, false},
        FormRow{"RawStreamOfThreeCompressedBytes", Prefixed(3, 11), inspect::InputForm::Auto, false},
        FormRow{"RawStreamOfSevenCompressedBytes", Prefixed(7, 15), inspect::InputForm::Auto, false},
        FormRow{"ShorterThanAPrefix", Bytes{3, 0}, inspect::InputForm::Auto, false},
        FormRow{"AttributeOneNeedsTheOption", Prefixed(1, 100), inspect::InputForm::Auto, false},
        FormRow{"ForcedRaw", Prefixed(3, 100), inspect::InputForm::Raw, false},
        FormRow{"ForcedEfivarfs", Prefixed(92, 100), inspect::InputForm::Efivarfs, true}),
    [](const testing::TestParamInfo<FormRow> &Info) { return Info.param.Name; });

}  // namespace
