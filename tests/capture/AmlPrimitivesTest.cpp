// The AML value and OperationRegion primitives, checked against ACPICA: what they
// read from the compiled sample tables must be what acpiexec evaluates, and what
// they write must be what acpiexec then sees, in a table iasl still disassembles.
#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/capture/AcpiChecksum.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"

namespace {

using capture_test::LocatorFor;

class AmlPrimitives : public capture_test::PlatformTest {};

// --- Named integer constants of every width ---------------------------------

struct ConstantRow {
  const char *Name;
  const char *Path;
  UINT8 Prefix;
  UINT8 Size;
  UINT64 NewValue;  // same width, for the rewrite
};

class AmlConstants : public AmlPrimitives, public testing::WithParamInterface<ConstantRow> {};

TEST_P(AmlConstants, ReadValueIsWhatAcpiexecEvaluates) {
  const ConstantRow &Row = GetParam();
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  REQUIRE_TOOL("acpiexec");
  const AML_OBJECT_LOCATOR Locator = LocatorFor(Dsdt, Row.Path);
  ASSERT_EQ(Locator.PrefixByte, Row.Prefix);

  UINT64 Value = 0;
  UINT8 Size = 0;
  ASSERT_EQ(ExtractNumericConstantFromAml(Dsdt.data(), &Locator, &Value, &Size), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(Size, Row.Size);
  uint64_t Expected = 0;
  ASSERT_TRUE(
      capture_test::AcpiexecEvaluateInteger({capture_test::FixturePath("dsdt")}, Row.Path, &Expected));
  EXPECT_EQ(Value, Expected);
}

TEST_P(AmlConstants, RewrittenValueIsWhatAcpiexecEvaluates) {
  const ConstantRow &Row = GetParam();
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  REQUIRE_TOOL("acpiexec");
  REQUIRE_TOOL("iasl");
  const AML_OBJECT_LOCATOR Locator = LocatorFor(Dsdt, Row.Path);
  const std::vector<UINT8> Before = Dsdt;

  ASSERT_EQ(SetNumericConstantInAml(Dsdt.data(), &Locator, Row.NewValue), EFI_SUCCESS) << DebugDump();
  // Only the data bytes of the constant change; prefix and neighbours stay.
  for (size_t Index = 0; Index < Dsdt.size(); Index++) {
    if (Index >= Locator.ValueOffset && Index < Locator.ValueOffset + Row.Size) continue;
    ASSERT_EQ(Dsdt[Index], Before[Index]) << "byte " << Index;
  }
  ASSERT_TRUE(AcpiTableChecksumUpdate(Dsdt.data()));
  const std::string Path = capture_test::WriteTempTable(Dsdt, "dsdt");
  uint64_t Seen = 0;
  ASSERT_TRUE(capture_test::AcpiexecEvaluateInteger({Path}, Row.Path, &Seen));
  EXPECT_EQ(Seen, Row.NewValue);
  EXPECT_TRUE(capture_test::IaslDisassembles(Path));
}

INSTANTIATE_TEST_SUITE_P(
    SampleDsdt, AmlConstants,
    testing::Values(ConstantRow{"BytePrefix", "\\IBYT", AML_BYTE_PREFIX, 1, 0xC3},
                    ConstantRow{"WordPrefix", "\\IWRD", AML_WORD_PREFIX, 2, 0xBEEF},
                    ConstantRow{"DWordPrefix", "\\IDWD", AML_DWORD_PREFIX, 4, 0xCAFEF00D},
                    ConstantRow{"QWordPrefix", "\\IQWD", AML_QWORD_PREFIX, 8, 0x0FEDCBA987654321ULL},
                    ConstantRow{"InsideDevice", "\\_SB.PCI0.PLID", AML_BYTE_PREFIX, 1, 0x3C}),
    [](const testing::TestParamInfo<ConstantRow> &Info) { return std::string(Info.param.Name); });

// ZeroOp, OneOp and OnesOp carry no data bytes: nothing there can be rewritten in
// place, so a locator that names one is refused.
struct OpcodeConstantRow {
  const char *Name;
  const char *Path;
  UINT8 Opcode;
};

class AmlDatalessConstants : public AmlPrimitives, public testing::WithParamInterface<OpcodeConstantRow> {};

TEST_P(AmlDatalessConstants, AreRefusedWithTheOpcodeInTheMessage) {
  const OpcodeConstantRow &Row = GetParam();
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  AML_NAMED_OBJECT Found{};
  ASSERT_EQ(capture_test::FindNamedObject(Dsdt, Row.Path, &Found), EFI_SUCCESS);
  ASSERT_EQ(Found.PrefixByte, Row.Opcode);
  EXPECT_EQ(Found.ValueOffset, 0u);

  AML_OBJECT_LOCATOR Locator{};
  Locator.NameOffset = Found.NameOffset;
  Locator.PrefixByte = Row.Opcode;
  Locator.ValueOffset = Found.TermOffset + 1;
  UINT64 Value = 7;
  UINT8 Size = 7;
  EXPECT_EQ(ExtractNumericConstantFromAml(Dsdt.data(), &Locator, &Value, &Size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Value, 0u);
  EXPECT_EQ(Size, 0u);
  EXPECT_TRUE(Logged(
      "ExtractNumericConstantFromAml - Invalid AML value size indicator " + std::to_string(Row.Opcode) + "\n",
      DEBUG_ERROR))
      << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(SampleDsdt, AmlDatalessConstants,
                         testing::Values(OpcodeConstantRow{"ZeroOp", "\\IZER", AML_ZERO_OP},
                                         OpcodeConstantRow{"OneOp", "\\IONE", AML_ONE_OP},
                                         OpcodeConstantRow{"OnesOp", "\\IONS", AML_ONES_OP}),
                         [](const testing::TestParamInfo<OpcodeConstantRow> &Info) {
                           return std::string(Info.param.Name);
                         });

// --- OperationRegions ----------------------------------------------------------

struct RegionRow {
  const char *Name;
  const char *Table;
  const char *Path;
};

class AmlRegions : public AmlPrimitives, public testing::WithParamInterface<RegionRow> {};

TEST_P(AmlRegions, AddressAndLengthAreWhatAcpiexecReports) {
  const RegionRow &Row = GetParam();
  REQUIRE_FIXTURE(Table, Row.Table);
  REQUIRE_TOOL("acpiexec");
  const AML_OBJECT_LOCATOR Locator = LocatorFor(Table, Row.Path);
  UINT64 Address = 0, Length = 0;
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &Address, &Length), EFI_SUCCESS)
      << DebugDump();

  uint64_t ExpectedAddress = 0, ExpectedLength = 0;
  std::vector<std::string> Tables = {capture_test::FixturePath(Row.Table)};
  if (std::string(Row.Table) != "dsdt") Tables.insert(Tables.begin(), capture_test::FixturePath("dsdt"));
  ASSERT_TRUE(capture_test::AcpiexecRegion(Tables, Row.Path, &ExpectedAddress, &ExpectedLength));
  EXPECT_EQ(Address, ExpectedAddress);
  EXPECT_EQ(Length, ExpectedLength);
}

TEST_P(AmlRegions, RewrittenAddressAndLengthAreWhatAcpiexecReports) {
  const RegionRow &Row = GetParam();
  REQUIRE_FIXTURE(Table, Row.Table);
  REQUIRE_TOOL("acpiexec");
  REQUIRE_TOOL("iasl");
  const AML_OBJECT_LOCATOR Locator = LocatorFor(Table, Row.Path);
  UINT64 Address = 0, Length = 0;
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &Address, &Length), EFI_SUCCESS);

  // Move the region to the top of the sample window and shrink it by one byte,
  // keeping both widths, as the restore does with fresh NVS memory.
  const UINT64 NewAddress = 0x7F00F000;
  const UINT64 NewLength = Length - 1;
  ASSERT_EQ(SetNumericConstantInAml(Table.data(), &Locator, NewAddress), EFI_SUCCESS);
  const UINT8 LengthPrefix = Table[Locator.ValueOffset + AmlIntegerPrefixWidth(Locator.PrefixByte)];
  ASSERT_TRUE(AmlWriteTableInteger(Table.data(),
                                   Locator.ValueOffset + AmlIntegerPrefixWidth(Locator.PrefixByte) + 1,
                                   AmlIntegerPrefixWidth(LengthPrefix), NewLength));
  ASSERT_TRUE(AcpiTableChecksumUpdate(Table.data()));

  UINT64 ReadBackAddress = 0, ReadBackLength = 0;
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &ReadBackAddress, &ReadBackLength),
            EFI_SUCCESS);
  EXPECT_EQ(ReadBackAddress, NewAddress);
  EXPECT_EQ(ReadBackLength, NewLength);

  const std::string Path = capture_test::WriteTempTable(Table, Row.Table);
  std::vector<std::string> Tables = {Path};
  if (std::string(Row.Table) != "dsdt") Tables.insert(Tables.begin(), capture_test::FixturePath("dsdt"));
  uint64_t SeenAddress = 0, SeenLength = 0;
  ASSERT_TRUE(capture_test::AcpiexecRegion(Tables, Row.Path, &SeenAddress, &SeenLength));
  EXPECT_EQ(SeenAddress, NewAddress);
  EXPECT_EQ(SeenLength, NewLength);
  EXPECT_TRUE(capture_test::IaslDisassembles(Path));
}

INSTANTIATE_TEST_SUITE_P(SamplePlatform, AmlRegions,
                         testing::Values(RegionRow{"DsdtDWordAddressWordLength", "dsdt", "\\GNVS"},
                                         RegionRow{"DsdtByteLength", "dsdt", "\\BNVS"},
                                         RegionRow{"SsdtRegion", "ssdt_nvs", "\\SNV0"},
                                         RegionRow{"SsdtRegionInDevice", "ssdt_nonnvs", "\\_SB.SCRA.PNVS"}),
                         [](const testing::TestParamInfo<RegionRow> &Info) {
                           return std::string(Info.param.Name);
                         });

// CNVS takes its address from a field: the term after RegionSpace is a name, not
// a constant, and a locator that claims a DWord constant there must not read the
// name's characters as an address.
TEST_F(AmlPrimitives, RegionWhoseAddressIsNotAConstantIsRefused) {
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  AML_NAMED_OBJECT Found{};
  ASSERT_EQ(capture_test::FindNamedObject(Dsdt, "\\CNVS", &Found), EFI_SUCCESS);
  ASSERT_EQ(Found.PrefixByte, 'C');  // the NameSeg CNVA
  AML_OBJECT_LOCATOR Locator{};
  Locator.NameOffset = Found.NameOffset;
  Locator.PrefixByte = AML_DWORD_PREFIX;
  Locator.ValueOffset = Found.TermOffset + 1;
  UINT64 Address = 0x55, Length = 0x66;
  EXPECT_EQ(ExtractOpRegionAddressAndLengthFromAml(Dsdt.data(), &Locator, &Address, &Length),
            EFI_COMPROMISED_DATA);
  EXPECT_EQ(Address, 0x55u);
  EXPECT_EQ(Length, 0x66u);
  char Line[160];
  snprintf(Line, sizeof(Line),
           "ExtractNumericConstantFromAml - AML opcode 0x43 at offset 0x%X is not the integer prefix 0xC\n",
           Found.TermOffset);
  EXPECT_TRUE(Logged(Line, DEBUG_ERROR)) << DebugDump();
  EXPECT_TRUE(Logged(
      "ExtractOpRegionAddressAndLengthFromAml - Failed to get opregion system memory address from AML\n"));
}

// --- Hand-made AML: exact encodings and every bound ---------------------------

// A 36-byte header followed by Body; the header's Length covers both.
std::vector<UINT8> MakeTable(const std::vector<UINT8> &Body) {
  std::vector<UINT8> Table(36, 0);
  memcpy(Table.data(), "DSDT", 4);
  Table.insert(Table.end(), Body.begin(), Body.end());
  const UINT32 Length = static_cast<UINT32>(Table.size());
  memcpy(Table.data() + 4, &Length, 4);
  return Table;
}

AML_OBJECT_LOCATOR MakeLocator(UINT32 NameOffset, UINT8 Prefix, UINT32 ValueOffset) {
  AML_OBJECT_LOCATOR Locator{};
  strcpy(Locator.PathName, "\\TEST");
  Locator.NameOffset = NameOffset;
  Locator.PrefixByte = Prefix;
  Locator.ValueOffset = ValueOffset;
  return Locator;
}

// Name (TWRD, 0x1234) at offset 36: 08 'TWRD' 0B 34 12
const std::vector<UINT8> kWordName = {0x08, 'T', 'W', 'R', 'D', 0x0B, 0x34, 0x12};

TEST_F(AmlPrimitives, WordConstantReadsLittleEndianAndRewritesOnlyItsData) {
  std::vector<UINT8> Table = MakeTable(kWordName);
  const AML_OBJECT_LOCATOR Locator = MakeLocator(37, AML_WORD_PREFIX, 42);
  UINT64 Value = 0;
  UINT8 Size = 0;
  ASSERT_EQ(ExtractNumericConstantFromAml(Table.data(), &Locator, &Value, &Size), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x1234u);
  EXPECT_EQ(Size, 2);
  EXPECT_TRUE(Logged("ExtractNumericConstantFromAml - ValueName   = TWRD\n")) << DebugDump();
  EXPECT_TRUE(Logged("ExtractNumericConstantFromAml - ValueOffset = 2A\n"));
  EXPECT_TRUE(Logged("ExtractNumericConstantFromAml - Value found in AML = 1234\n"));
  EXPECT_TRUE(Logged("ExtractNumericConstantFromAml - Value size in AML  = 2\n"));

  ASSERT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 0xABCD), EFI_SUCCESS);
  EXPECT_EQ(std::vector<UINT8>(Table.begin() + 41, Table.end()), (std::vector<UINT8>{0x0B, 0xCD, 0xAB}));
}

TEST_F(AmlPrimitives, SetKeepsOnlyTheLowBytesTheWidthHolds) {
  std::vector<UINT8> Table = MakeTable({0x08, 'T', 'B', 'Y', 'T', 0x0A, 0x11, 0x77});
  const AML_OBJECT_LOCATOR Locator = MakeLocator(37, AML_BYTE_PREFIX, 42);
  ASSERT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 0x1FF), EFI_SUCCESS);
  EXPECT_EQ(Table[42], 0xFF);
  EXPECT_EQ(Table[43], 0x77);
}

TEST_F(AmlPrimitives, SetRefusesAPrefixThatDisagreesWithTheAml) {
  std::vector<UINT8> Table = MakeTable({0x08, 'T', 'D', 'W', 'D', 0x0C, 1, 2, 3, 4});
  const std::vector<UINT8> Before = Table;
  const AML_OBJECT_LOCATOR Locator = MakeLocator(37, AML_WORD_PREFIX, 42);
  EXPECT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 0), EFI_COMPROMISED_DATA);
  EXPECT_EQ(Table, Before);
  EXPECT_TRUE(
      Logged("SetNumericConstantInAml - AML opcode 0xB used when patching AML with PrefixByte of 0xC\n",
             DEBUG_ERROR))
      << DebugDump();
}

// DefOpRegion: 5B 80 'TREG' 00 0C <4 bytes> 0B <2 bytes>
const std::vector<UINT8> kRegion = {0x5B, 0x80, 'T',  'R',  'E',  'G',  0x00, 0x0C,
                                    0x00, 0x10, 0x00, 0x7F, 0x0B, 0x34, 0x12};

TEST_F(AmlPrimitives, RegionWithDWordAddressAndWordLength) {
  std::vector<UINT8> Table = MakeTable(kRegion);
  const AML_OBJECT_LOCATOR Locator = MakeLocator(38, AML_DWORD_PREFIX, 44);
  UINT64 Address = 0, Length = 0;
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &Address, &Length), EFI_SUCCESS);
  EXPECT_EQ(Address, 0x7F001000u);
  EXPECT_EQ(Length, 0x1234u);
  EXPECT_TRUE(Logged("ExtractOpRegionAddressAndLengthFromAml - Length Data Prefix = B\n")) << DebugDump();
  EXPECT_TRUE(Logged("ExtractOpRegionAddressAndLengthFromAml - Opregion length found in AML  = 1234\n"));
}

// Each row breaks one bound or one encoding rule; every one must be refused with
// its own message and must leave the outputs as they were.
struct BoundRow {
  const char *Name;
  std::vector<UINT8> Body;
  UINT32 NameOffset;
  UINT8 Prefix;
  UINT32 ValueOffset;
  INT32 LengthAdjust;  // added to the header Length after building
  EFI_STATUS Status;
  const char *Message;
};

class AmlRegionBounds : public AmlPrimitives, public testing::WithParamInterface<BoundRow> {};

TEST_P(AmlRegionBounds, AreRefusedWithoutTouchingTheOutputs) {
  const BoundRow &Row = GetParam();
  std::vector<UINT8> Table = MakeTable(Row.Body);
  UINT32 Length = static_cast<UINT32>(Table.size() + Row.LengthAdjust);
  memcpy(Table.data() + 4, &Length, 4);
  const AML_OBJECT_LOCATOR Locator = MakeLocator(Row.NameOffset, Row.Prefix, Row.ValueOffset);
  UINT64 Address = 0xAA, RegionLength = 0xBB;
  EXPECT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &Address, &RegionLength),
            Row.Status);
  EXPECT_EQ(Address, 0xAAu);
  EXPECT_EQ(RegionLength, 0xBBu);
  EXPECT_TRUE(Logged(Row.Message, DEBUG_ERROR)) << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(
    Rejections, AmlRegionBounds,
    testing::Values(
        BoundRow{"LengthIsOneOp",
                 {0x5B, 0x80, 'T', 'R', 'E', 'G', 0x00, 0x0C, 0x00, 0x10, 0x00, 0x7F, 0x01},
                 38,
                 AML_DWORD_PREFIX,
                 44,
                 0,
                 EFI_INVALID_PARAMETER,
                 "ExtractOpRegionAddressAndLengthFromAml - Invalid AML length size 1 for NVS\n"},
        BoundRow{"NameSegPastTheEnd", kRegion, 49, AML_DWORD_PREFIX, 44, 0, EFI_COMPROMISED_DATA,
                 "ExtractNumericConstantFromAml - Name offset 0x31 lies outside the table of 0x33 bytes\n"},
        BoundRow{"ValueAtTheEnd", kRegion, 38, AML_BYTE_PREFIX, 51, 0, EFI_COMPROMISED_DATA,
                 "ExtractNumericConstantFromAml - Value offset 0x33 lies outside the table of 0x33 bytes\n"},
        BoundRow{"ValueCrossesTheEnd", kRegion, 38, AML_DWORD_PREFIX, 49, 0, EFI_COMPROMISED_DATA,
                 "ExtractNumericConstantFromAml - Value offset 0x31 lies outside the table of 0x33 bytes\n"},
        BoundRow{"ValueOffsetZero", kRegion, 38, AML_DWORD_PREFIX, 0, 0, EFI_COMPROMISED_DATA,
                 "ExtractNumericConstantFromAml - Value offset 0x0 lies outside the table of 0x33 bytes\n"},
        BoundRow{"LengthPrefixPastTheEnd", kRegion, 38, AML_DWORD_PREFIX, 44, -3, EFI_COMPROMISED_DATA,
                 "ExtractOpRegionAddressAndLengthFromAml - Region length offset 0x30 lies outside the table "
                 "of 0x30 bytes\n"},
        BoundRow{"LengthDataCrossesTheEnd", kRegion, 38, AML_DWORD_PREFIX, 44, -1, EFI_COMPROMISED_DATA,
                 "ExtractOpRegionAddressAndLengthFromAml - Region length offset 0x31 lies outside the table "
                 "of 0x32 bytes\n"},
        BoundRow{"TableShorterThanItsLengthField", kRegion, 38, AML_DWORD_PREFIX, 44, -45,
                 EFI_COMPROMISED_DATA,
                 "ExtractNumericConstantFromAml - Table length 0x6 is too short to hold AML\n"}),
    [](const testing::TestParamInfo<BoundRow> &Info) { return std::string(Info.param.Name); });

TEST_F(AmlPrimitives, SetRefusesOffsetsOutsideTheTableAndWritesNothing) {
  std::vector<UINT8> Table = MakeTable(kWordName);
  const std::vector<UINT8> Before = Table;
  AML_OBJECT_LOCATOR Locator = MakeLocator(37, AML_WORD_PREFIX, 0);
  EXPECT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 1), EFI_COMPROMISED_DATA);
  EXPECT_TRUE(Logged("SetNumericConstantInAml - Invalid AML byte offset of 0 provided\n", DEBUG_ERROR));

  Locator.ValueOffset = 44;  // the prefix is the table's last byte, the data beyond it
  Table[43] = AML_WORD_PREFIX;
  const std::vector<UINT8> WithPrefix = Table;
  EXPECT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 1), EFI_COMPROMISED_DATA);
  EXPECT_EQ(Table, WithPrefix);
  EXPECT_TRUE(Logged("SetNumericConstantInAml - Value offset 0x2C lies outside the table of 0x2C bytes\n"))
      << DebugDump();

  Locator.ValueOffset = 0x10000;
  EXPECT_EQ(SetNumericConstantInAml(Table.data(), &Locator, 1), EFI_COMPROMISED_DATA);
  EXPECT_EQ(Table, WithPrefix);
  EXPECT_TRUE(
      Logged("SetNumericConstantInAml - Value offset 0x10000 lies outside the table of 0x2C bytes\n"));
  EXPECT_EQ(std::vector<UINT8>(Before.begin(), Before.end() - 1),
            std::vector<UINT8>(Table.begin(), Table.end() - 1));
}

// --- Type 2 fields inside a parent region ------------------------------------

struct Type2Row {
  const char *Name;
  UINT8 Mode;
  UINT8 SizeIndicator;
  UINT64 Offset;
  EFI_STATUS Status;
  UINT64 Value;
  UINT8 Size;
  const char *Message;  // an error line, or nullptr
};

class AmlType2Read : public AmlPrimitives, public testing::WithParamInterface<Type2Row> {};

// A 16-byte parent region 00 11 22 ... FF.
TEST_P(AmlType2Read, FromA16ByteParent) {
  const Type2Row &Row = GetParam();
  UINT8 Parent[16];
  for (int Index = 0; Index < 16; Index++) Parent[Index] = static_cast<UINT8>(Index * 0x11);
  UINT64 Value = 99;
  UINT8 Size = 99;
  EXPECT_EQ(ExtractType2NvsValue(reinterpret_cast<UINTN>(Parent), sizeof(Parent), Row.Mode, Row.SizeIndicator,
                                 Row.Offset, &Value, &Size),
            Row.Status);
  EXPECT_EQ(Value, Row.Value);
  EXPECT_EQ(Size, Row.Size);
  if (Row.Message != nullptr) EXPECT_TRUE(Logged(Row.Message, DEBUG_ERROR)) << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AmlType2Read,
    testing::Values(Type2Row{"FieldEndingAtTheParentEnd", 2, 3, 12, EFI_SUCCESS, 0xFFEEDDCC, 4, nullptr},
                    Type2Row{"FieldOneBytePastTheEnd", 2, 3, 13, EFI_INVALID_PARAMETER, 0, 0,
                             "ExtractType2NvsValue - Offset greater than parent NVS length D\n"},
                    Type2Row{"FieldOffsetThatWouldWrap", 2, 4, 0xFFFFFFFFFFFFFFFCULL, EFI_INVALID_PARAMETER,
                             0, 0, "ExtractType2NvsValue - Offset greater than parent NVS length FFFFFFFC\n"},
                    Type2Row{"QWordField", 2, 4, 1, EFI_SUCCESS, 0x8877665544332211ULL, 8, nullptr},
                    Type2Row{"Literal", 3, 3, 0x1234, EFI_SUCCESS, 0x1234, 4, nullptr},
                    Type2Row{"Unsupported", 1, 1, 0, EFI_UNSUPPORTED, 0, 0, nullptr},
                    Type2Row{"SizeIndicatorCheckedBeforeMode", 9, 5, 0, EFI_INVALID_PARAMETER, 0, 0,
                             "ExtractType2NvsValue - Invalid number of byte to read indicator 5\n"},
                    Type2Row{"UnknownMode", 4, 1, 0, EFI_INVALID_PARAMETER, 0, 0,
                             "ExtractType2NvsValue - Invalid NVS mode 4\n"}),
    [](const testing::TestParamInfo<Type2Row> &Info) { return std::string(Info.param.Name); });

TEST_F(AmlPrimitives, Type2WriteChangesOnlyTheFieldAndLiteralWritesNothing) {
  UINT8 Parent[8] = {};
  const UINT64 Base = reinterpret_cast<UINTN>(Parent);
  ASSERT_EQ(SetType2NvsValue(Base, sizeof(Parent), FIELD_TYPE_2_NVS_MODE, 2, 3, 0xAABBCCDD), EFI_SUCCESS);
  EXPECT_EQ(std::vector<UINT8>(Parent, Parent + 8), (std::vector<UINT8>{0, 0, 0, 0xDD, 0xCC, 0, 0, 0}));

  ASSERT_EQ(SetType2NvsValue(Base, sizeof(Parent), LITERAL_TYPE_2_NVS_MODE, 4, 0, ~0ULL), EFI_SUCCESS);
  EXPECT_EQ(std::vector<UINT8>(Parent, Parent + 8), (std::vector<UINT8>{0, 0, 0, 0xDD, 0xCC, 0, 0, 0}));
  EXPECT_TRUE(Logged("SetType2NvsValue - TODO: Is LITERAL_TYPE_2_NVS_MODE really an NOP?\n", DEBUG_INFO));

  EXPECT_EQ(SetType2NvsValue(Base, sizeof(Parent), FIELD_TYPE_2_NVS_MODE, 4, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetType2NvsValue(Base, sizeof(Parent), UNSUPPORTED_TYPE_2_NVS_MODE, 4, 0, 0), EFI_UNSUPPORTED);
  EXPECT_EQ(SetType2NvsValue(Base, sizeof(Parent), FIELD_TYPE_2_NVS_MODE, 0, 0, 0), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("SetType2NvsValue - Invalid number of byte to write indicator 0\n", DEBUG_ERROR));
  EXPECT_EQ(std::vector<UINT8>(Parent, Parent + 8), (std::vector<UINT8>{0, 0, 0, 0xDD, 0xCC, 0, 0, 0}));
}

TEST_F(AmlPrimitives, Type2FieldOfAParentAtAddressZeroIsRefused) {
  UINT64 Value = 0;
  UINT8 Size = 0;
  EXPECT_EQ(ExtractType2NvsValue(0, 0x100, FIELD_TYPE_2_NVS_MODE, 3, 0x10, &Value, &Size),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetType2NvsValue(0, 0x100, FIELD_TYPE_2_NVS_MODE, 3, 0x10, 1), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("ExtractType2NvsValue - Parent NVS region at 0x0 of 0x100 bytes is not addressable\n"))
      << DebugDump();
}

// The sample DSDT keeps CNVS's address and length in GNVS fields 0x10 (32 bits)
// and 0x14 (16 bits); the platform has put them into the mapped GNVS memory.
TEST_F(AmlPrimitives, Type2FieldsOfTheSampleParentRegionLocateTheChild) {
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "the sample region window is taken in this process";
  const AML_OBJECT_LOCATOR Parent = LocatorFor(Dsdt, "\\GNVS");
  UINT64 ParentAddress = 0, ParentLength = 0;
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Dsdt.data(), &Parent, &ParentAddress, &ParentLength),
            EFI_SUCCESS);
  UINT64 ChildAddress = 0, ChildLength = 0;
  UINT8 Size = 0;
  ASSERT_EQ(
      ExtractType2NvsValue(ParentAddress, ParentLength, FIELD_TYPE_2_NVS_MODE, 3, 0x10, &ChildAddress, &Size),
      EFI_SUCCESS);
  ASSERT_EQ(
      ExtractType2NvsValue(ParentAddress, ParentLength, FIELD_TYPE_2_NVS_MODE, 2, 0x14, &ChildLength, &Size),
      EFI_SUCCESS);
  bool Listed = false;
  for (const sim::AcpiRegion &Region : sim::SampleAcpiRegions()) {
    if (std::string(Region.Path) != "\\CNVS") continue;
    Listed = true;
    EXPECT_EQ(ChildAddress, Region.Address);
    EXPECT_EQ(ChildLength, Region.Length);
  }
  EXPECT_TRUE(Listed);
}

}  // namespace
