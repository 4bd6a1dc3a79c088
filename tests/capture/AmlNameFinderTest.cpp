// The PkgLength decoder against an encoder written here, apart from the code under
// test, and the name finder over the compiled sample tables and over AML that
// lies about its own lengths.
#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "tests/capture/CaptureTestSupport.h"

namespace {

// PkgLength encoding as the ACPI specification gives it: one byte up to 63, else
// the low nibble in the lead byte and the rest in 1 to 3 following bytes.
std::vector<UINT8> EncodePkgLength(UINT32 Value) {
  if (Value <= 0x3F) return {static_cast<UINT8>(Value)};
  std::vector<UINT8> Bytes = {static_cast<UINT8>(Value & 0x0F)};
  for (UINT32 Rest = Value >> 4; Rest != 0; Rest >>= 8) Bytes.push_back(static_cast<UINT8>(Rest));
  Bytes[0] |= static_cast<UINT8>((Bytes.size() - 1) << 6);
  return Bytes;
}

TEST(AmlPkgLength, DecodesWhatTheIndependentEncoderWrites) {
  const UINT32 Values[] = {0, 1, 0x3F, 0x40, 0xFFF, 0x1000, 0xFFFFF, 0x100000, 0x0FFFFFFF, 0x123456};
  for (UINT32 Value : Values) {
    const std::vector<UINT8> Bytes = EncodePkgLength(Value);
    EXPECT_EQ(AmlPkgLengthEncodedSize(Value), Bytes.size()) << Value;
    ByteReader Reader(Bytes.data(), Bytes.size());
    UINT32 Decoded = 0;
    ASSERT_TRUE(AmlDecodePkgLength(&Reader, &Decoded)) << Value;
    EXPECT_EQ(Decoded, Value);
    EXPECT_EQ(Reader.Remaining(), 0u);
  }
  EXPECT_EQ(AmlPkgLengthEncodedSize(0x10000000), 0);
}

struct PkgRow {
  const char *Name;
  std::vector<UINT8> Bytes;
};

class AmlPkgLengthRejects : public testing::TestWithParam<PkgRow> {};

TEST_P(AmlPkgLengthRejects, MalformedEncodings) {
  ByteReader Reader(GetParam().Bytes.data(), GetParam().Bytes.size());
  UINT32 Value = 0;
  EXPECT_FALSE(AmlDecodePkgLength(&Reader, &Value));
}

INSTANTIATE_TEST_SUITE_P(Encodings, AmlPkgLengthRejects,
                         testing::Values(PkgRow{"Empty", {}}, PkgRow{"TruncatedTwoByte", {0x41}},
                                         PkgRow{"TruncatedFourByte", {0xC1, 0x00, 0x00}},
                                         PkgRow{"ReservedBit4Set", {0x51, 0x00}},
                                         PkgRow{"ReservedBit5Set", {0x61, 0x00}}),
                         [](const testing::TestParamInfo<PkgRow> &Info) {
                           return std::string(Info.param.Name);
                         });

// --- The finder over the sample tables ----------------------------------------

struct FindRow {
  const char *Name;
  const char *Table;
  const char *Path;
  AML_NAMED_OBJECT_KIND Kind;
  const char *Seg;  // the NameSeg the finder must point at
  UINT8 Prefix;
};

class AmlFinderSample : public testing::TestWithParam<FindRow> {};

TEST_P(AmlFinderSample, PointsAtTheNameSegAndTheValueTerm) {
  const FindRow &Row = GetParam();
  REQUIRE_FIXTURE(Table, Row.Table);
  AML_NAMED_OBJECT Found{};
  ASSERT_EQ(capture_test::FindNamedObject(Table, Row.Path, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found.Kind, Row.Kind);
  ASSERT_LT(Found.NameOffset + 4, Table.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(Table.data()) + Found.NameOffset, 4), Row.Seg);
  if (Row.Kind != AmlNamedObjectName && Row.Kind != AmlNamedObjectOpRegion) return;
  EXPECT_EQ(Found.PrefixByte, Row.Prefix);
  EXPECT_EQ(Table[Found.TermOffset], Row.Prefix);
  if (AmlIntegerPrefixWidth(Row.Prefix) != 0) EXPECT_EQ(Found.ValueOffset, Found.TermOffset + 1);
  if (Row.Kind == AmlNamedObjectOpRegion) EXPECT_EQ(Found.RegionSpace, 0);  // SystemMemory
}

INSTANTIATE_TEST_SUITE_P(
    SamplePlatform, AmlFinderSample,
    testing::Values(
        FindRow{"RootRegion", "dsdt", "\\GNVS", AmlNamedObjectOpRegion, "GNVS", AML_DWORD_PREFIX},
        FindRow{"RegionAfterAField", "dsdt", "\\BNVS", AmlNamedObjectOpRegion, "BNVS", AML_DWORD_PREFIX},
        FindRow{"RegionWithNamedOffset", "dsdt", "\\CNVS", AmlNamedObjectOpRegion, "CNVS", 'C'},
        FindRow{"QWordName", "dsdt", "\\IQWD", AmlNamedObjectName, "IQWD", AML_QWORD_PREFIX},
        FindRow{"OnesName", "dsdt", "\\IONS", AmlNamedObjectName, "IONS", AML_ONES_OP},
        FindRow{"NameInDevicePaddedPath", "dsdt", "\\_SB.PCI0.PLID", AmlNamedObjectName, "PLID",
                AML_BYTE_PREFIX},
        FindRow{"NameInDeviceFullPath", "dsdt", "\\_SB_.PCI0.PLID", AmlNamedObjectName, "PLID",
                AML_BYTE_PREFIX},
        FindRow{"SsdtNamedAddress", "ssdt_nvs", "\\SNVA", AmlNamedObjectName, "SNVA", AML_DWORD_PREFIX},
        FindRow{"SsdtNamedLength", "ssdt_nvs", "\\SNVL", AmlNamedObjectName, "SNVL", AML_WORD_PREFIX},
        FindRow{"SsdtRegionInExternalScope", "ssdt_nonnvs", "\\_SB.SCRA.NNVS", AmlNamedObjectOpRegion, "NNVS",
                'N'},
        // aml_grammar.asl: objects behind terms the walk must measure exactly.
        FindRow{"NameInsideIf", "aml_grammar", "\\INIF", AmlNamedObjectName, "INIF", AML_WORD_PREFIX},
        FindRow{"NameInsideElse", "aml_grammar", "\\INEL", AmlNamedObjectName, "INEL", AML_WORD_PREFIX},
        FindRow{"RegionInsideAMethod", "aml_grammar", "\\MAIN.LOCR", AmlNamedObjectOpRegion, "LOCR",
                AML_DWORD_PREFIX},
        FindRow{"NameAtTheEndOfAnElseIfChain", "aml_grammar", "\\LATE.DEEP", AmlNamedObjectName, "DEEP",
                AML_BYTE_PREFIX},
        FindRow{"NameAfterAnAbsoluteScopeInADevice", "aml_grammar", "\\_SB.DEV0.AFTR", AmlNamedObjectName,
                "AFTR", AML_DWORD_PREFIX},
        FindRow{"LastNameOfTheTable", "aml_grammar", "\\LAST", AmlNamedObjectName, "LAST", AML_DWORD_PREFIX},
        FindRow{"DeviceByItsPath", "aml_grammar", "\\_SB.DEV0", AmlNamedObjectDevice, "DEV0", 0},
        FindRow{"RegionWithAnExpressionAddress", "aml_grammar", "\\REXP", AmlNamedObjectOpRegion, "REXP",
                0x72}),
    [](const testing::TestParamInfo<FindRow> &Info) { return std::string(Info.param.Name); });

// The Scope (\_GPE) inside \_SB.DEV0 names its own scope; the objects declared
// after it belong to DEV0 again, not to \_GPE or \_SB.
TEST(AmlFinder, AScopeInsideADeviceLeavesTheDevicesScopeIntact) {
  REQUIRE_FIXTURE(Table, "aml_grammar");
  AML_NAMED_OBJECT Found{};
  EXPECT_EQ(capture_test::FindNamedObject(Table, "\\_GPE.AFTR", &Found), EFI_NOT_FOUND);
  EXPECT_EQ(capture_test::FindNamedObject(Table, "\\_SB.AFTR", &Found), EFI_NOT_FOUND);
  ASSERT_EQ(capture_test::FindNamedObject(Table, "\\_SB.DEV0.PWR0._STA", &Found), EFI_SUCCESS);
  EXPECT_EQ(Found.Kind, AmlNamedObjectMethod);
  ASSERT_EQ(capture_test::FindNamedObject(Table, "\\_GPE._L01", &Found), EFI_SUCCESS);
  EXPECT_EQ(Found.Kind, AmlNamedObjectMethod);
}

TEST(AmlFinder, NamesThatAreNotDeclaredAreNotFound) {
  REQUIRE_FIXTURE(Dsdt, "dsdt");
  AML_NAMED_OBJECT Found{};
  // PLID lives in \_SB.PCI0, not at the root; OSYS is a field, not a Name.
  EXPECT_EQ(capture_test::FindNamedObject(Dsdt, "\\PLID", &Found), EFI_NOT_FOUND);
  EXPECT_EQ(capture_test::FindNamedObject(Dsdt, "\\OSYS", &Found), EFI_NOT_FOUND);
  EXPECT_EQ(capture_test::FindNamedObject(Dsdt, "\\TOOLONG", &Found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(capture_test::FindNamedObject(Dsdt, "\\A..B", &Found), EFI_INVALID_PARAMETER);
}

// --- Hand-made AML that lies ----------------------------------------------------

std::vector<UINT8> MakeTable(const std::vector<UINT8> &Body) {
  std::vector<UINT8> Table(36, 0);
  memcpy(Table.data(), "SSDT", 4);
  Table.insert(Table.end(), Body.begin(), Body.end());
  const UINT32 Length = static_cast<UINT32>(Table.size());
  memcpy(Table.data() + 4, &Length, 4);
  return Table;
}

struct LieRow {
  const char *Name;
  std::vector<UINT8> Body;
  EFI_STATUS Status;
};

class AmlFinderMalformed : public capture_test::PlatformTest, public testing::WithParamInterface<LieRow> {};

TEST_P(AmlFinderMalformed, StopsWithAStatusInsteadOfReadingOn) {
  const std::vector<UINT8> Table = MakeTable(GetParam().Body);
  AML_NAMED_OBJECT Found{};
  EXPECT_EQ(capture_test::FindNamedObject(Table, "\\XXXX", &Found), GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(
    Lies, AmlFinderMalformed,
    testing::Values(
        // Scope (\ABC_) whose PkgLength says 0x30 bytes in a table that has 7.
        LieRow{"ScopePastTheTable", {0x10, 0x30, 0x5C, 'A', 'B', 'C', '_'}, EFI_COMPROMISED_DATA},
        // Scope whose PkgLength does not even cover its own name.
        LieRow{"ScopeShorterThanItsName", {0x10, 0x02, 0x5C, 'A', 'B', 'C', '_'}, EFI_COMPROMISED_DATA},
        // Device inside a Scope, the Device claiming more than the Scope holds.
        LieRow{"InnerScopeLongerThanOuter",
               {0x10, 0x0C, 'O', 'U', 'T', '_', 0x5B, 0x82, 0x0A, 'I', 'N', 'N', '_', 0x00, 0x00, 0x00, 0x00,
                0x00},
               EFI_COMPROMISED_DATA},
        // Name (XXXY, 0x0C ...) with the DWord cut off by the end of the table.
        LieRow{"NameValueCutOff", {0x08, 'X', 'X', 'X', 'Y', 0x0C, 0x01}, EFI_COMPROMISED_DATA},
        // 0x02 is no opcode: outside a method body nothing can be skipped.
        LieRow{"NoOpcodeAtTermLevel", {0x02, 0x08, 'X', 'X', 'X', 'X', 0x00}, EFI_COMPROMISED_DATA},
        // A name segment that does not start with a letter or '_'.
        LieRow{"BadNameSeg", {0x08, '1', 'X', 'X', 'X', 0x00}, EFI_COMPROMISED_DATA},
        // A multi-name path claiming more segments than the walk follows.
        LieRow{"TooManySegments", {0x08, 0x2F, 0x40, 'A', 'A', 'A', 'A'}, EFI_COMPROMISED_DATA}),
    [](const testing::TestParamInfo<LieRow> &Info) { return std::string(Info.param.Name); });

// --- Method bodies that do not parse ---------------------------------------------

struct WalkRow {
  const char *Name;
  std::vector<UINT8> Body;
  const char *Path;      // an object the walk must find, or not
  EFI_STATUS Status;     // of finding it
  UINT32 SkippedBodies;  // counted by the walk
  UINT32 ProblemOffset;  // FirstSkipOffset, or ErrorOffset when the walk fails
};

class AmlWalkRecovery : public testing::TestWithParam<WalkRow> {};

// Walks the whole table and then looks for \XXXX.
TEST_P(AmlWalkRecovery, SkipsWhatItCanAndSaysWhere) {
  const WalkRow &Row = GetParam();
  const std::vector<UINT8> Table = MakeTable(Row.Body);
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Table.size())));
  AML_WALK Walk;
  AML_NAMED_OBJECT Object{};
  EFI_STATUS Status = AmlWalkStart(&Walk, Table.data(), Slots.data(), Slots.size());
  while (Status == EFI_SUCCESS) Status = AmlWalkNext(&Walk, &Object);
  EXPECT_EQ(Walk.SkippedBodies, Row.SkippedBodies);
  if (Row.SkippedBodies > 0) EXPECT_EQ(Walk.FirstSkipOffset, Row.ProblemOffset);
  if (Status == EFI_COMPROMISED_DATA) EXPECT_EQ(Walk.ErrorOffset, Row.ProblemOffset);
  EXPECT_EQ(capture_test::FindNamedObject(Table, Row.Path, &Object), Row.Status);
}

// Bytes of a table body; the first body byte is at table offset 36.
std::vector<UINT8> Concat(std::initializer_list<std::vector<UINT8>> Parts) {
  std::vector<UINT8> Out;
  for (const std::vector<UINT8> &Part : Parts) Out.insert(Out.end(), Part.begin(), Part.end());
  return Out;
}

const std::vector<UINT8> kNameXxxx = {0x08, 'X', 'X', 'X', 'X', 0x0A, 0x07};

// Method (CALR) { CreateDWordField (MTHD (Arg0), Zero, FLD0)  Name (XXXX, 7) }
const std::vector<UINT8> kCaller = {0x14, 0x18, 'C', 'A', 'L', 'R',  0x00, 0x8A, 'M', 'T', 'H',  'D', 0x68,
                                    0x00, 'F',  'L', 'D', '0', 0x08, 'X',  'X',  'X', 'X', 0x0A, 0x07};

// Method (MTHD) { <Count> times LNot, then Zero }: operands nested Count deep.
std::vector<UINT8> DeepExpressionMethod(size_t Count) {
  std::vector<UINT8> Body = {'M', 'T', 'H', 'D', 0x00};
  Body.insert(Body.end(), Count, 0x92);
  Body.push_back(0x00);
  const UINT32 Length = static_cast<UINT32>(Body.size() + 2);
  std::vector<UINT8> Method = {0x14, static_cast<UINT8>(0x40 | (Length & 0x0F)),
                               static_cast<UINT8>(Length >> 4)};
  Method.insert(Method.end(), Body.begin(), Body.end());
  return Method;
}

// Method (MTHD) { If (One) { If (One) { ... } } } with Count Ifs, each If's
// PkgLength in two bytes.
std::vector<UINT8> DeepIfMethod(size_t Count) {
  std::vector<UINT8> Inner;
  for (size_t Index = 0; Index < Count; Index++) {
    const UINT32 Length = static_cast<UINT32>(Inner.size() + 3);  // PkgLength (2) + predicate
    std::vector<UINT8> If = {0xA0, static_cast<UINT8>(0x40 | (Length & 0x0F)),
                             static_cast<UINT8>(Length >> 4), 0x01};
    If.insert(If.end(), Inner.begin(), Inner.end());
    Inner = If;
  }
  std::vector<UINT8> Body = {'M', 'T', 'H', 'D', 0x00};
  Body.insert(Body.end(), Inner.begin(), Inner.end());
  const UINT32 Length = static_cast<UINT32>(Body.size() + 3);
  std::vector<UINT8> Method = {0x14, static_cast<UINT8>(0x80 | (Length & 0x0F)),
                               static_cast<UINT8>(Length >> 4), static_cast<UINT8>(Length >> 12)};
  Method.insert(Method.end(), Body.begin(), Body.end());
  return Method;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AmlWalkRecovery,
    testing::Values(
        // Method (MTHD) { 0x02 }: no opcode; the body is left, \XXXX behind it found.
        WalkRow{"NoOpcodeInAMethodBody", Concat({{0x14, 0x07, 'M', 'T', 'H', 'D', 0x00, 0x02}, kNameXxxx}),
                "\\XXXX", EFI_SUCCESS, 1, 43},
        // Method (MTHD, 1) declared first, then Method (CALR) { MTHD (Name (YYYY, 0)) }:
        // the call takes one TermArg and a Name is none, so CALR's body is
        // skipped from the call on; \XXXX behind CALR is still found.
        WalkRow{"CallWithADeclarationAsArgument",
                Concat({{0x14, 0x06, 'M', 'T', 'H', 'D', 0x01, 0x14, 0x10, 'C', 'A', 'L', 'R', 0x00, 'M', 'T',
                         'H', 'D'},
                        {0x08, 'Y', 'Y', 'Y', 'Y', 0x00},
                        kNameXxxx}),
                "\\XXXX", EFI_SUCCESS, 1, 50},
        // CALR's CreateDWordField (MTHD (Arg0), Zero, FLD0) parses only when the
        // walk knows that MTHD takes one argument: declared later in the table,
        // declared by an External, or not at all (then CALR's body is skipped
        // and \XXXX in it is missed).
        WalkRow{"CallOfAMethodDeclaredLater", Concat({kCaller, {0x14, 0x06, 'M', 'T', 'H', 'D', 0x01}}),
                "\\CALR.XXXX", EFI_SUCCESS, 0, 0},
        WalkRow{"CallOfAnExternalMethod", Concat({{0x15, 'M', 'T', 'H', 'D', 0x08, 0x01}, kCaller}),
                "\\CALR.XXXX", EFI_SUCCESS, 0, 0},
        WalkRow{"CallOfAnExternalThatIsNoMethod", Concat({{0x15, 'M', 'T', 'H', 'D', 0x01, 0x01}, kCaller}),
                "\\CALR.XXXX", EFI_NOT_FOUND, 1, 50},
        WalkRow{"CallOfAMethodNotDeclared", kCaller, "\\CALR.XXXX", EFI_NOT_FOUND, 1, 43},
        // Operands nested deeper than the walk follows, inside a method: skipped.
        WalkRow{"ExpressionDeeperThanTheLimitInAMethod",
                Concat({DeepExpressionMethod(AML_WALK_MAX_TERM_DEPTH + 1), kNameXxxx}), "\\XXXX", EFI_SUCCESS,
                1, 44},
        WalkRow{"ExpressionAtTheLimitInAMethod",
                Concat({DeepExpressionMethod(AML_WALK_MAX_TERM_DEPTH - 1), kNameXxxx}), "\\XXXX", EFI_SUCCESS,
                0, 0},
        // If blocks nested deeper than the walk follows: the method is skipped.
        WalkRow{"IfsDeeperThanTheLimit", Concat({DeepIfMethod(AML_WALK_MAX_PACKAGE_DEPTH), kNameXxxx}),
                "\\XXXX", EFI_SUCCESS, 1, 45 + 4 * (AML_WALK_MAX_PACKAGE_DEPTH - 1)},
        // The same operands outside any method body: nothing to skip to.
        WalkRow{"ExpressionDeeperThanTheLimitAtTheRoot",
                Concat({{0xA0, 0x4F, 0x04},
                        std::vector<UINT8>(AML_WALK_MAX_TERM_DEPTH + 1, 0x92),
                        {0x00},
                        kNameXxxx}),
                "\\XXXX", EFI_COMPROMISED_DATA, 0, 36}),
    [](const testing::TestParamInfo<WalkRow> &Info) { return std::string(Info.param.Name); });

TEST(AmlWalk, RefusesMethodStorageSmallerThanTheTableNeeds) {
  const std::vector<UINT8> Table = MakeTable(kNameXxxx);
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Table.size())));
  AML_WALK Walk;
  EXPECT_EQ(AmlWalkStart(&Walk, Table.data(), Slots.data(), Slots.size() - 1), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(AmlWalkStart(&Walk, Table.data(), Slots.data(), Slots.size()), EFI_SUCCESS);
}

TEST(AmlFinder, LocatorOfAConstantMatchesTheAml) {
  const std::vector<UINT8> Table =
      MakeTable({0x10, 0x0D, 0x5C, 'S', 'C', 'P', '_', 0x08, 'X', 'X', 'X', 'X', 0x0A, 0x42});
  AML_NAMED_OBJECT Found{};
  ASSERT_EQ(capture_test::FindNamedObject(Table, "\\SCP.XXXX", &Found), EFI_SUCCESS);
  AML_OBJECT_LOCATOR Locator{};
  ASSERT_EQ(AmlBuildLocator("\\SCP_.XXXX", &Found, &Locator), EFI_SUCCESS);
  EXPECT_STREQ(Locator.PathName, "\\SCP_.XXXX");
  EXPECT_EQ(static_cast<UINT32>(Locator.NameOffset), 44u);  // packed field: compare a copy
  EXPECT_EQ(Locator.PrefixByte, AML_BYTE_PREFIX);
  EXPECT_EQ(static_cast<UINT32>(Locator.ValueOffset), 49u);
}

}  // namespace
