// The acpi-meta tool: the description parser's diagnostics, records built from
// the compiled sample tables (checked against the constants the ASL sources
// state and read back with the driver's own lookups), and the whole path from a
// description to meta data opened from a firmware volume.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "tests/pdata/PdataTestSupport.h"
#include "tests/support/RowPrinter.h"
#include "tools/acpi-meta/MetaBuilder.h"
#include "uefi/Acpi.h"

namespace pdata_test {
namespace {

// ---- Diagnostics of the parser: one row per rejection ---------------------------

struct ParseRow {
  const char *Name;
  const char *Text;
  const char *Error;
};
ZEPHRIN_PRINT_ROW_BY_NAME(ParseRow)

class DescriptionErrors : public testing::TestWithParam<ParseRow> {};

TEST_P(DescriptionErrors, NameTheLineAndTheProblem) {
  acpi_meta::Description Desc;
  std::string Error;
  EXPECT_FALSE(acpi_meta::ParseDescription(GetParam().Text, &Desc, &Error));
  EXPECT_EQ(Error, GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DescriptionErrors,
    testing::Values(
        ParseRow{"UnknownStatement", "# header\n\ntabel DSDT stored\n",
                 "line 3: unknown statement 'tabel' (aml, table, nvs, nvs-type1, nvs-type2, non-nvs-type2, "
                 "integer)"},
        ParseRow{"SsdtWithoutOemTableId", "table SSDT stored\n",
                 "line 1: an SSDT is named by its OemTableId: write SSDT:<OemTableId>"},
        ParseRow{"OemTableIdTooLong", "nvs SSDT:ABCDEFGHI \\X\n",
                 "line 1: 'ABCDEFGHI' is not an OemTableId of 1 to 8 characters"},
        ParseRow{"BadSignature", "table DSDTX stored\n",
                 "line 1: 'DSDTX' is not a table (a 4-character signature, SSDT:<OemTableId> for an SSDT)"},
        ParseRow{"UnknownHow", "table DSDT keep\n",
                 "line 1: 'keep' is not one of stored, not-stored, table, from-fv"},
        ParseRow{"FromFvWithoutFile", "table DSDT from-fv\n",
                 "line 1: from-fv needs file=<GUID> of the firmware-volume file"},
        ParseRow{"FileOnStored", "table DSDT stored file=B8264440-0649-40F3-8ECA-153335BDB46F\n",
                 "line 1: file= belongs to from-fv only"},
        ParseRow{"BadGuid", "table DSDT from-fv file=B8264440-0649-40F3-8ECA-153335BDB46\n",
                 "line 1: file= needs a GUID in registry format"},
        ParseRow{
            "BadRank", "table HPET stored rank=later\n",
            "line 1: rank 'later' is neither a phase (entry, end-of-dxe, ready-to-boot, exit-boot-services) "
            "nor a 16-bit number"},
        ParseRow{"RankTooWide", "table HPET stored rank=0x10000\n",
                 "line 1: rank '0x10000' is neither a phase (entry, end-of-dxe, ready-to-boot, "
                 "exit-boot-services) "
                 "nor a 16-bit number"},
        ParseRow{"WordCount", "nvs DSDT\n", "line 1: 'nvs' takes 2 words, found 1"},
        ParseRow{"UnknownOption", "nvs DSDT \\GNVS rank=entry\n", "line 1: 'nvs' has no option 'rank'"},
        ParseRow{"Type2FieldMissing", "nvs-type2 DSDT \\GNVS address=2,3,0x10\n",
                 "line 1: missing length=<mode>,<size>,<offset>"},
        ParseRow{"Type2ModeOutOfRange", "nvs-type2 DSDT \\GNVS address=4,3,0x10 length=2,2,0x14\n",
                 "line 1: address= needs <mode 1..3>,<size indicator 1..4>,<offset>"},
        ParseRow{"Type2LengthOffsetIs32Bit",
                 "nvs-type2 DSDT \\GNVS address=2,3,0x10 length=2,2,0x100000000\n",
                 "line 1: length= needs <mode 1..3>,<size indicator 1..4>,<offset>"},
        ParseRow{"VariableWithoutName",
                 "integer DSDT \\IWRD variable guid=B8264440-0649-40F3-8ECA-153335BDB46F\n",
                 "line 1: variable needs name=<1 to 15 characters>"},
        ParseRow{"VariableOptionsOnDefault", "integer DSDT \\IWRD default name=X\n",
                 "line 1: name=, guid= and attributes= belong to 'variable' only"},
        ParseRow{"NegativeDefault", "integer DSDT \\IWRD default default=-1\n",
                 "line 1: default= needs a number"}),
    [](const testing::TestParamInfo<ParseRow> &Info) { return std::string(Info.param.Name); });

// ---- Records from the compiled sample tables --------------------------------------

std::string Fixture(const std::string &Name) {
  return std::string(ZEPHRIN_ACPI_FIXTURE_DIR) + "/" + Name + ".aml";
}

bool FixturesBuilt() {
  return access(Fixture("dsdt").c_str(), R_OK) == 0;
}

#define REQUIRE_FIXTURES() \
  if (!FixturesBuilt()) GTEST_SKIP() << "compiled ACPI fixtures missing (iasl not installed at build time)"

const char kSample[] = R"(# sample platform
aml dsdt.aml
aml ssdt_nvs.aml
aml ssdt_nonnvs.aml
table DSDT from-fv file=7E374E25-8E01-4FEE-87F2-390C23C606CD
table SSDT:ZPNVSTBL stored rank=ready-to-boot
table SSDT:ZPNONNVS from-fv file=11111111-2222-3333-4444-555555555555
table HPET not-stored
table MCFG table aml=mcfg.aml rank=0x2001
nvs DSDT \GNVS
nvs-type2 DSDT \GNVS address=2,3,0x10 length=2,2,0x14
integer DSDT \IWRD default default=0x4321
integer DSDT \_SB.PCI0.PLID variable name=PlidOverride guid=B8264440-0649-40F3-8ECA-153335BDB46F attributes=7
nvs SSDT:ZPNVSTBL \SNV0
nvs-type1 SSDT:ZPNVSTBL \SNVA \SNVL
non-nvs-type2 SSDT:ZPNONNVS \_SB.SCRA.PNVS address=2,3,0 length=2,3,4
)";

class MetaBuild : public PdataTest {
 protected:
  bool Build(const std::string &Text, std::string *Error) {
    acpi_meta::Description Desc;
    if (!acpi_meta::ParseDescription(Text, &Desc, Error)) return false;
    if (!acpi_meta::BuildMetaData(Desc, ZEPHRIN_ACPI_FIXTURE_DIR, &Meta, Error)) return false;
    mAcpiMetaDataPtr = Meta.data();
    mAcpiMetaDataLength = Meta.size();
    return true;
  }
  std::vector<UINT8> Table(const std::string &Name) {
    std::ifstream In(Fixture(Name), std::ios::binary);
    return std::vector<UINT8>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  // Every record of the meta data, by the driver's own walk.
  std::vector<ACPI_DATA_STORAGE_ENTRY_HEADER *> Records() {
    std::vector<ACPI_DATA_STORAGE_ENTRY_HEADER *> All;
    ACPI_META_DATA_CURSOR Cursor = {};
    AcpiMetaDataFirstRecord(&Cursor);
    while (ACPI_DATA_STORAGE_ENTRY_HEADER *Record =
               AcpiMetaDataRecordAt(&Cursor, ACPI_META_DATA_MIN_RECORD_SIZE)) {
      EXPECT_TRUE(AcpiMetaDataRecordFits(&Cursor));
      All.push_back(Record);
      if (!AcpiMetaDataNextRecord("Test", &Cursor)) break;
    }
    EXPECT_EQ(Cursor.Offset, Meta.size()) << "records are laid end to end";
    return All;
  }
  void TearDown() override {
    mAcpiMetaDataPtr = nullptr;
    mAcpiMetaDataLength = 0;
    PdataTest::TearDown();
  }
  std::vector<UINT8> Meta;
};

TEST_F(MetaBuild, TableRecordsAreFoundByTheDriversLookups) {
  REQUIRE_FIXTURES();
  std::string Error;
  ASSERT_TRUE(Build(kSample, &Error)) << Error;
  std::vector<UINT8> Dsdt = Table("dsdt"), Ssdt = Table("ssdt_nvs"), Hpet = Table("hpet");
  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtTableMetaDataPtr(Dsdt.data(), &DoNotStore);
  ASSERT_NE(Record, nullptr);
  EXPECT_EQ(+Record->AcpiDataSubType, AcpiDataSubTypeFromFv);
  EXPECT_EQ(+Record->AcpiCommonHeader.Length, 48u);
  EFI_GUID File{};
  std::memcpy(&File, reinterpret_cast<UINT8 *>(Record) + ACPI_META_DATA_DSDT_FV_FILE_OFFSET, sizeof(File));
  EXPECT_EQ(File.Data1, 0x7E374E25u);

  Record = FindSsdtTableMetaDataPtr(Ssdt.data(), &DoNotStore);
  ASSERT_NE(Record, nullptr);
  EXPECT_EQ(+Record->AcpiDataSubType, AcpiDataSubTypeFromStorage);
  EXPECT_EQ(AcpiMetaDataRank(Record), 0x3000);
  EXPECT_EQ(std::memcmp(reinterpret_cast<UINT8 *>(Record) + 32, Ssdt.data(), 36), 0)
      << "the SSDT's own header";

  EXPECT_NE(FindMetaDataPtr(Hpet.data(), &DoNotStore), nullptr);
  EXPECT_TRUE(DoNotStore);

  std::vector<UINT8> Mcfg = Table("mcfg");
  Record = FindMetaDataPtr(Mcfg.data(), &DoNotStore);
  ASSERT_NE(Record, nullptr);
  EXPECT_EQ(+Record->AcpiDataSubType, AcpiDataSubTypeTable);
  EXPECT_EQ(AcpiMetaDataRank(Record), 0x2001);
  EXPECT_EQ(std::vector<UINT8>(reinterpret_cast<UINT8 *>(Record) + 32,
                               reinterpret_cast<UINT8 *>(Record) + 32 + Mcfg.size()),
            Mcfg);
}

// The locators are checked against the values the ASL sources state, read with
// the driver's own primitives from the tables the tool was given.
TEST_F(MetaBuild, ElementLocatorsNameTheObjectsOfTheSources) {
  REQUIRE_FIXTURES();
  std::string Error;
  ASSERT_TRUE(Build(kSample, &Error)) << Error;
  std::vector<UINT8> Dsdt = Table("dsdt"), Ssdt = Table("ssdt_nvs"), NonNvs = Table("ssdt_nonnvs");
  std::vector<ACPI_DATA_STORAGE_ENTRY_HEADER *> All = Records();
  ASSERT_EQ(All.size(), 12u);
  auto Element = [&](size_t Index) { return reinterpret_cast<ACPI_DATA_STORAGE_ELEMENT *>(All[Index]); };
  UINT64 Address = 0, Length = 0, Value = 0;
  UINT8 Size = 0;

  ASSERT_EQ(All[5]->AcpiDataSubType, AcpiDataSubTypeNvs);
  EXPECT_EQ(+All[5]->AcpiCommonHeader.Length, 159u);
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Dsdt.data(), &Element(5)->Locator, &Address, &Length),
            EFI_SUCCESS);
  EXPECT_EQ(Address, 0x7F000000u);
  EXPECT_EQ(Length, 0x100u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&Dsdt[Element(5)->Locator.NameOffset]), 4), "GNVS");

  const auto *Type2 = reinterpret_cast<ACPI_DATA_STORAGE_NVS_TYPE_2 *>(All[6]);
  EXPECT_EQ(+All[6]->AcpiDataNvsType, AcpiDataNvsType2);
  EXPECT_EQ(+All[6]->AcpiCommonHeader.Length, 183u);
  EXPECT_EQ(+Type2->AddressField.Offset, 0x10u);
  EXPECT_EQ(+Type2->LengthField.SizeIndicator, 2);
  EXPECT_EQ(+Type2->LengthField.Offset, 0x14u);

  const auto *Integer = reinterpret_cast<ACPI_DATA_STORAGE_INTEGER *>(All[7]);
  EXPECT_EQ(+All[7]->AcpiCommonHeader.Length, 216u);
  EXPECT_EQ(+Integer->AcpiDataIntegerType, AcpiDataIntegerTypeDefault);
  EXPECT_EQ(+Integer->Value, 0x4321u);
  ASSERT_EQ(ExtractNumericConstantFromAml(Dsdt.data(), &Element(7)->Locator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x1234u);
  EXPECT_EQ(Size, 2);
  EXPECT_STREQ(Element(7)->Locator.PathName, "\\IWRD");

  const auto *Variable = reinterpret_cast<ACPI_DATA_STORAGE_INTEGER *>(All[8]);
  EXPECT_EQ(+Variable->AcpiDataIntegerType, AcpiDataIntegerTypeVariable);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(Variable->VariableName)), u"PlidOverride");
  EXPECT_EQ(+Variable->Attributes, 7u);
  ASSERT_EQ(ExtractNumericConstantFromAml(Dsdt.data(), &Element(8)->Locator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0xA5u);
  // The record's integer matches the entry a capture would build from it.
  std::vector<UINT8> Entry(reinterpret_cast<UINT8 *>(All[8]), reinterpret_cast<UINT8 *>(All[8]) + 216);
  EXPECT_EQ(FindDsdtIntegerMetaDataPtr(Dsdt.data(),
                                       reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data())),
            All[8]);

  EXPECT_EQ(+Element(9)->TableHeader.OemTableId,
            reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Ssdt.data())->OemTableId);
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Ssdt.data(), &Element(9)->Locator, &Address, &Length),
            EFI_SUCCESS);
  EXPECT_EQ(Address, 0x7F003000u);
  EXPECT_EQ(Length, 0x80u);

  const auto *NvsType1 = reinterpret_cast<ACPI_DATA_STORAGE_NVS_TYPE_1 *>(All[10]);
  EXPECT_EQ(+All[10]->AcpiCommonHeader.Length, 242u);
  ASSERT_EQ(ExtractNumericConstantFromAml(Ssdt.data(), &NvsType1->Common.Locator, &Value, &Size),
            EFI_SUCCESS);
  EXPECT_EQ(Value, 0x7F004000u);
  ASSERT_EQ(ExtractNumericConstantFromAml(Ssdt.data(), &NvsType1->LengthLocator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x100u);

  EXPECT_EQ(+All[11]->AcpiDataSubType, AcpiDataSubTypeNonNvs);
  EXPECT_EQ(+All[11]->AcpiDataNvsType, AcpiDataNvsType2);
  EXPECT_EQ(+Element(11)->TableHeader.OemTableId,
            +reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(NonNvs.data())->OemTableId);
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(NonNvs.data(), &Element(11)->Locator, &Address, &Length),
            EFI_SUCCESS);
  EXPECT_EQ(Address, 0x7F005000u);
  EXPECT_EQ(Length, 0x10u);
}

// Objects inside a method body, behind a Scope (\_GPE) in a Device and at the
// very end of a table whose AML uses every kind of term: each record's locator
// reads the constant the ASL source states.
TEST_F(MetaBuild, ObjectsBehindEveryKindOfTermAreLocated) {
  REQUIRE_FIXTURES();
  std::string Error;
  ASSERT_TRUE(
      Build("aml aml_grammar.aml\n"
            "nvs SSDT:ZPGRAMMR \\MAIN.LOCR\n"
            "nvs-type1 SSDT:ZPGRAMMR \\_SB.DEV0.AFTR \\LAST\n",
            &Error))
      << Error;
  std::vector<UINT8> Ssdt = Table("aml_grammar");
  std::vector<ACPI_DATA_STORAGE_ENTRY_HEADER *> All = Records();
  ASSERT_EQ(All.size(), 2u);
  UINT64 Address = 0, Length = 0, Value = 0;
  UINT8 Size = 0;
  ASSERT_EQ(
      ExtractOpRegionAddressAndLengthFromAml(
          Ssdt.data(), &reinterpret_cast<ACPI_DATA_STORAGE_ELEMENT *>(All[0])->Locator, &Address, &Length),
      EFI_SUCCESS);
  EXPECT_EQ(Address, 0x7F00D000u);
  EXPECT_EQ(Length, 0x10u);
  const auto *Type1 = reinterpret_cast<ACPI_DATA_STORAGE_NVS_TYPE_1 *>(All[1]);
  ASSERT_EQ(ExtractNumericConstantFromAml(Ssdt.data(), &Type1->Common.Locator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x00C0FFEEu);
  ASSERT_EQ(ExtractNumericConstantFromAml(Ssdt.data(), &Type1->LengthLocator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0xDEADBEEFu);
}

// Real firmware pads a short OemTableId with NULs, a description with blanks:
// the statements still name the table, and the records carry the table's own
// id, the one the driver compares at capture time.
TEST_F(MetaBuild, ShortOemTableIdPaddedWithNulsNamesTheTable) {
  REQUIRE_FIXTURES();
  acpi_meta::LoadedTable Ssdt;
  std::string Error;
  ASSERT_TRUE(acpi_meta::LoadTable(Fixture("ssdt_nvs"), &Ssdt, &Error)) << Error;
  const char kNulPadded[8] = {'Z', 'P', 'N', 'V', 0, 0, 0, 0};
  std::memcpy(Ssdt.Bytes.data() + OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId), kNulPadded, 8);
  std::memcpy(&Ssdt.OemTableId, kNulPadded, 8);
  acpi_meta::Description Desc;
  ASSERT_TRUE(acpi_meta::ParseDescription("table SSDT:ZPNV stored\nnvs SSDT:ZPNV \\SNV0\n", &Desc, &Error))
      << Error;
  ASSERT_TRUE(acpi_meta::BuildMetaDataFromTables(Desc, {Ssdt}, ".", &Meta, &Error)) << Error;
  mAcpiMetaDataPtr = Meta.data();
  mAcpiMetaDataLength = Meta.size();
  std::vector<ACPI_DATA_STORAGE_ENTRY_HEADER *> All = Records();
  ASSERT_EQ(All.size(), 2u);
  BOOLEAN DoNotStore = FALSE;
  EXPECT_EQ(FindSsdtTableMetaDataPtr(Ssdt.Bytes.data(), &DoNotStore), All[0]);
  const UINT64 ElementOemTableId =
      reinterpret_cast<ACPI_DATA_STORAGE_ELEMENT *>(All[1])->TableHeader.OemTableId;
  EXPECT_EQ(ElementOemTableId, Ssdt.OemTableId) << "the element record names the SSDT by its own id";

  // Messages name the table as the description does, without its padding.
  ASSERT_TRUE(acpi_meta::ParseDescription("nvs SSDT:ZPNV \\NONE\n", &Desc, &Error)) << Error;
  EXPECT_FALSE(acpi_meta::BuildMetaDataFromTables(Desc, {Ssdt}, ".", &Meta, &Error));
  EXPECT_EQ(Error, "line 1: \\NONE not found in SSDT:ZPNV (" + Fixture("ssdt_nvs") + ")");
}

struct BuildErrorRow {
  const char *Name;
  const char *Text;
  const char *Error;  // after "line N: "
};
ZEPHRIN_PRINT_ROW_BY_NAME(BuildErrorRow)

class BuildErrors : public MetaBuild, public testing::WithParamInterface<BuildErrorRow> {};

TEST_P(BuildErrors, NameWhatIsMissing) {
  REQUIRE_FIXTURES();
  std::string Error;
  EXPECT_FALSE(Build(GetParam().Text, &Error));
  std::string Expected = GetParam().Error;
  size_t At = Expected.find("$DIR");
  if (At != std::string::npos) Expected.replace(At, 4, ZEPHRIN_ACPI_FIXTURE_DIR);
  EXPECT_EQ(Error, Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BuildErrors,
    testing::Values(
        BuildErrorRow{"NameNotInTheTable", "aml dsdt.aml\nnvs DSDT \\NOPE\n",
                      "line 2: \\NOPE not found in DSDT ($DIR/dsdt.aml)"},
        BuildErrorRow{"NameInAnotherScope", "aml dsdt.aml\ninteger DSDT \\PLID stored\n",
                      "line 2: \\PLID not found in DSDT ($DIR/dsdt.aml)"},
        BuildErrorRow{"NameIsNoRegion", "aml dsdt.aml\nnvs DSDT \\IWRD\n",
                      "line 2: \\IWRD is not an OperationRegion (it is a Name)"},
        BuildErrorRow{"RegionIsNoName", "aml dsdt.aml\ninteger DSDT \\GNVS stored\n",
                      "line 2: \\GNVS is not a Name (it is an OperationRegion)"},
        BuildErrorRow{"RegionOffsetIsNoConstant", "aml dsdt.aml\nnvs DSDT \\CNVS\n",
                      "line 2: \\CNVS: its region address is not a constant: it is a reference to another "
                      "object, read at run time"},
        BuildErrorRow{"ValueWithoutPrefix", "aml dsdt.aml\ninteger DSDT \\IONE stored\n",
                      "line 2: \\IONE: its value is not an integer constant: it is One, which has no data "
                      "bytes to patch"},
        // aml_grammar.aml: objects behind every kind of term, and values no
        // record can point at.
        BuildErrorRow{"RegionLengthIsAName", "aml aml_grammar.aml\nnvs SSDT:ZPGRAMMR \\RLNM\n",
                      "line 2: \\RLNM: its region length is not a constant: it is a reference to "
                      "another object, read at run time"},
        BuildErrorRow{"RegionAddressIsAnExpression", "aml aml_grammar.aml\nnvs SSDT:ZPGRAMMR \\REXP\n",
                      "line 2: \\REXP: its region address is not a constant: it is an expression "
                      "computed at run time"},
        BuildErrorRow{"NameHoldsABuffer", "aml aml_grammar.aml\nnvs-type1 SSDT:ZPGRAMMR \\BUFV \\FRST\n",
                      "line 2: \\BUFV: its value is not an integer constant: it is a Buffer"},
        BuildErrorRow{"NameHoldsAPackage", "aml aml_grammar.aml\nnvs-type1 SSDT:ZPGRAMMR \\FRST \\PKGV\n",
                      "line 2: \\PKGV: its value is not an integer constant: it is a Package"},
        BuildErrorRow{"PathIsADevice", "aml aml_grammar.aml\nnvs SSDT:ZPGRAMMR \\_SB.DEV0\n",
                      "line 2: \\_SB.DEV0 is not an OperationRegion (it is a Device)"},
        BuildErrorRow{"PathNotInTheSsdt", "aml aml_grammar.aml\nnvs SSDT:ZPGRAMMR \\_SB.DEV0.NONE\n",
                      "line 2: \\_SB.DEV0.NONE not found in SSDT:ZPGRAMMR ($DIR/aml_grammar.aml)"},
        BuildErrorRow{"PathWithAnEmptySegment", "aml aml_grammar.aml\nnvs SSDT:ZPGRAMMR \\A..B\n",
                      "line 2: \\A..B is not an ACPI path (\\NAME.NAME..., segments of 1 to 4 "
                      "characters A-Z, 0-9, _)"},
        BuildErrorRow{"TableNotLoaded", "aml dsdt.aml\nnvs SSDT:ZPNVSTBL \\SNV0\n",
                      "line 2: no compiled table SSDT:ZPNVSTBL was loaded with an 'aml' line"},
        BuildErrorRow{"ShortIdNotLoaded", "aml dsdt.aml\nnvs SSDT:ZPNV \\SNV0\n",
                      "line 2: no compiled table SSDT:ZPNV was loaded with an 'aml' line"},
        BuildErrorRow{"MissingAmlFile", "aml nothing.aml\n", "line 1: cannot read $DIR/nothing.aml"},
        BuildErrorRow{"CarriedTableOfAnotherSignature", "table HPET table aml=mcfg.aml\n",
                      "line 1: $DIR/mcfg.aml is not HPET"}),
    [](const testing::TestParamInfo<BuildErrorRow> &Info) { return std::string(Info.param.Name); });

// ---- The program, end to end ------------------------------------------------------

std::string ToolPath() {
  return ZEPHRIN_ACPI_META_TOOL;
}

std::vector<UINT8> ReadFileBytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<UINT8>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

TEST_F(MetaBuild, VolumeWrittenByTheToolOpensAsMetaData) {
  REQUIRE_FIXTURES();
  if (ToolPath().empty() || access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "acpi-meta not built";
  char Dir[] = "/tmp/pdata_tool_XXXXXX";
  ASSERT_NE(mkdtemp(Dir), nullptr);
  std::string Base = Dir;
  std::ofstream(Base + "/platform.txt") << "aml " << Fixture("dsdt") << "\n"
                                        << "table DSDT from-fv file=7E374E25-8E01-4FEE-87F2-390C23C606CD\n"
                                        << "nvs DSDT \\GNVS\n";
  std::string Command = ToolPath() + " build " + Base + "/platform.txt --meta " + Base + "/meta.bin --fv " +
                        Base + "/pd.fv --fv-name secondary --info " + Base + "/info.bin --data-id 0x44 >" +
                        Base + "/out.txt 2>&1";
  ASSERT_EQ(std::system(Command.c_str()), 0) << Command;
  PublishHobs({{gProductDataInfoHobGuid, ReadFileBytes(Base + "/info.bin")}});
  ASSERT_NE(AddVolume(ReadFileBytes(Base + "/pd.fv")), nullptr);
  mAcpiMetaDataPtr = nullptr;
  ASSERT_EQ(OpenAcpiMetaData(), EFI_SUCCESS);
  Kept = 1;  // the container copy read from the volume
  std::vector<UINT8> Expected = ReadFileBytes(Base + "/meta.bin");
  ASSERT_EQ(mAcpiMetaDataLength, Expected.size());
  EXPECT_EQ(std::vector<UINT8>(mAcpiMetaDataPtr, mAcpiMetaDataPtr + mAcpiMetaDataLength), Expected);
  EXPECT_EQ(Expected.size(), 48u + 159u);
  // dump lists what the driver's walk sees.
  ASSERT_EQ(std::system((ToolPath() + " dump " + Base + "/meta.bin >" + Base + "/dump.txt").c_str()), 0);
  std::vector<UINT8> Dump = ReadFileBytes(Base + "/dump.txt");
  std::string Text(Dump.begin(), Dump.end());
  EXPECT_NE(Text.find("DSDT from-fv"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\\GNVS"), std::string::npos) << Text;
  EXPECT_NE(Text.find("2 records"), std::string::npos) << Text;
  std::system(("rm -rf " + Base).c_str());
}

// ---- Records checked against the file -------------------------------------------

// Offsets of the records kSample builds, in order.
constexpr size_t kSampleRecords[] = {0, 48, 116, 200, 232, 324, 483, 666, 882, 1098, 1257, 1499};

void PutLe32(std::vector<UINT8> *Meta, size_t Offset, UINT32 Value) {
  std::memcpy(Meta->data() + Offset, &Value, sizeof(Value));
}

struct RecordCheckRow {
  const char *Name;
  void (*Mutate)(std::vector<UINT8> *Meta);
  size_t BadOffset;  // of the first record the check refuses
  const char *Why;
};

class RecordChecks : public MetaBuild, public testing::WithParamInterface<RecordCheckRow> {};

// The first record the check refuses is the mutated one, and for the reason the
// row names; every record before it passes.
TEST_P(RecordChecks, FindTheFirstBadRecord) {
  REQUIRE_FIXTURES();
  std::string Error;
  ASSERT_TRUE(Build(kSample, &Error)) << Error;
  ASSERT_EQ(Meta.size(), 1682u);
  if (GetParam().Mutate != nullptr) GetParam().Mutate(&Meta);
  size_t Offset = 0, Good = 0;
  std::string Why;
  UINT32 Length = 0;
  while (Offset < Meta.size() && acpi_meta::CheckMetaDataRecord(Meta, Offset, &Length, &Why)) {
    EXPECT_EQ(Offset, kSampleRecords[Good++]);
    Offset += Length;
  }
  EXPECT_EQ(Offset, GetParam().BadOffset);
  EXPECT_EQ(Why, GetParam().Why);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordChecks,
    testing::Values(
        RecordCheckRow{"Untouched", nullptr, 1682, ""},
        RecordCheckRow{"ZeroLength", [](std::vector<UINT8> *M) { PutLe32(M, 116 + 8, 0); }, 116,
                       "Length 0 is shorter than a record header (32)"},
        RecordCheckRow{"LengthOfThreeGigabytes",
                       [](std::vector<UINT8> *M) { PutLe32(M, 882 + 8, 3000000000u); }, 882,
                       "Length 3000000000 runs past the end of the file (800 bytes left)"},
        RecordCheckRow{"LengthOneBeyondTheFile", [](std::vector<UINT8> *M) { PutLe32(M, 1499 + 8, 184); },
                       1499, "Length 184 runs past the end of the file (183 bytes left)"},
        RecordCheckRow{"UnknownSubType", [](std::vector<UINT8> *M) { PutLe32(M, 200 + 16, 9); }, 200,
                       "sub-type 9 is none of 1 (stored) to 7 (integer)"},
        RecordCheckRow{"Type1ElementOfTheDsdt", [](std::vector<UINT8> *M) { PutLe32(M, 324 + 20, 2); }, 324,
                       "element record of sub-type 5 and NVS type 2 for DSDT is no kind the driver knows"},
        RecordCheckRow{"IntegerRecordShorterThanItsKind",
                       [](std::vector<UINT8> *M) {
                         PutLe32(M, 666 + 8, 200);
                         M->erase(M->begin() + 666 + 200, M->begin() + 666 + 216);
                       },
                       666, "Length 200 is shorter than the 216 bytes of its kind (DSDT sub-type 7)"},
        RecordCheckRow{
            "CarriedTableLongerThanItsRecord", [](std::vector<UINT8> *M) { PutLe32(M, 232 + 32 + 4, 61); },
            232,
            "the table it carries has Length 61, which does not fit the 60 bytes behind the record "
            "header"},
        RecordCheckRow{"TrailingBytes", [](std::vector<UINT8> *M) { M->resize(M->size() + 10); }, 1682,
                       "10 bytes are left, too few for a record header (32)"}),
    [](const testing::TestParamInfo<RecordCheckRow> &Info) { return std::string(Info.param.Name); });

// A compiled DSDT is no meta data: dump names the first bad record and fails.
TEST(AcpiMetaTool, DumpOfAFileThatIsNoMetaDataFails) {
  if (!FixturesBuilt()) GTEST_SKIP() << "compiled ACPI fixtures missing";
  if (ToolPath().empty() || access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "acpi-meta not built";
  char Dir[] = "/tmp/pdata_tool_XXXXXX";
  ASSERT_NE(mkdtemp(Dir), nullptr);
  const std::string Base = Dir;
  const std::string Command =
      ToolPath() + " dump " + Fixture("dsdt") + " >" + Base + "/out.txt 2>" + Base + "/err.txt";
  const int Status = std::system(Command.c_str());
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 1);
  std::vector<UINT8> Out = ReadFileBytes(Base + "/out.txt"), Err = ReadFileBytes(Base + "/err.txt");
  EXPECT_EQ(std::string(Out.begin(), Out.end()), "0 records\n");
  const size_t Size = ReadFileBytes(Fixture("dsdt")).size();
  UINT32 Length = 0;
  std::memcpy(&Length, ReadFileBytes(Fixture("dsdt")).data() + 8, sizeof(Length));
  EXPECT_EQ(std::string(Err.begin(), Err.end()),
            "acpi-meta: " + Fixture("dsdt") + ": record at offset 0x0: Length " + std::to_string(Length) +
                " runs past the end of the file (" + std::to_string(Size) + " bytes left)\n");
  std::system(("rm -rf " + Base).c_str());
}

// names lists every object with the constants a record could point at; the
// objects of the grammar fixture are 32, from its ASL source.
TEST(AcpiMetaTool, NamesListsObjectsWithTheirConstants) {
  if (!FixturesBuilt()) GTEST_SKIP() << "compiled ACPI fixtures missing";
  if (ToolPath().empty() || access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "acpi-meta not built";
  char Dir[] = "/tmp/pdata_tool_XXXXXX";
  ASSERT_NE(mkdtemp(Dir), nullptr);
  const std::string Base = Dir;
  ASSERT_EQ(std::system((ToolPath() + " names " + Fixture("aml_grammar") + " >" + Base + "/out.txt").c_str()),
            0);
  std::vector<UINT8> Out = ReadFileBytes(Base + "/out.txt");
  const std::string Text(Out.begin(), Out.end());
  for (const char *Line :
       {"an OperationRegion \\REXP space 0 address - length -\n",
        "an OperationRegion \\RLNM space 0 address 0x7f00c000 length -\n",
        "an OperationRegion \\MAIN.LOCR space 0 address 0x7f00d000 length 0x10\n",
        "a Name             \\_SB_.DEV0.AFTR value 0xc0ffee\n", "a Name             \\BUFV value -\n",
        "a PowerResource    \\_SB_.DEV0.PWR0\n", "\n32 objects\n"}) {
    EXPECT_NE(Text.find(Line), std::string::npos) << Line << "\n" << Text;
  }
  std::system(("rm -rf " + Base).c_str());
}

TEST(AcpiMetaTool, MissingNameFailsWithTheLineAndTheTable) {
  if (!FixturesBuilt()) GTEST_SKIP() << "compiled ACPI fixtures missing";
  if (ToolPath().empty() || access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "acpi-meta not built";
  char Dir[] = "/tmp/pdata_tool_XXXXXX";
  ASSERT_NE(mkdtemp(Dir), nullptr);
  std::string Base = Dir;
  std::ofstream(Base + "/bad.txt") << "aml " << Fixture("dsdt") << "\ninteger DSDT \\_SB.PCI0.NONE stored\n";
  std::string Command =
      ToolPath() + " build " + Base + "/bad.txt --meta " + Base + "/m.bin 2>" + Base + "/err.txt";
  EXPECT_NE(std::system(Command.c_str()), 0);
  std::vector<UINT8> Err = ReadFileBytes(Base + "/err.txt");
  EXPECT_EQ(std::string(Err.begin(), Err.end()), "acpi-meta: " + Base +
                                                     "/bad.txt: line 2: \\_SB.PCI0.NONE not found in DSDT (" +
                                                     Fixture("dsdt") + ")\n");
  EXPECT_NE(access((Base + "/m.bin").c_str(), F_OK), 0) << "nothing is written on failure";
  std::system(("rm -rf " + Base).c_str());
}

}  // namespace
}  // namespace pdata_test
