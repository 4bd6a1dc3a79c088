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
                'N'}),
    [](const testing::TestParamInfo<FindRow> &Info) { return std::string(Info.param.Name); });

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
