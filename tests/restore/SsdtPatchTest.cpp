// SSDT patching on the certified path: the sample platform's captured NVS and
// NON-NVS elements put back into fresh copies of its two SSDTs (checked with
// ACPICA too), the element kinds that are refused, the Type 1 constants, and
// failed allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/restore/SsdtPatch.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/restore/PatchTestSupport.h"

namespace {

using namespace patch_test;

constexpr UINT32 kSsdt = EFI_ACPI_SSDT_SIGNATURE;
constexpr UINT32 kDefaultFixed = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINT32 kType1Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1);
constexpr UINT32 kType2Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);
constexpr UINT64 kFourGiB = 0x100000000ULL;

UINT64 ConstantIn(const std::vector<UINT8> &Table, const std::vector<UINT8> &Source, const char *Path) {
  const AML_OBJECT_LOCATOR Locator = capture_test::LocatorFor(Source, Path);
  UINT64 Value = 0;
  UINT8 Size = 0;
  EXPECT_EQ(ExtractNumericConstantFromAml(Table.data(), &Locator, &Value, &Size), EFI_SUCCESS);
  return Value;
}

void ExpectRegionPages(const RegionPages &Region, EFI_MEMORY_TYPE Type, const UINT8 *Saved, size_t Length) {
  EXPECT_EQ(Region.Type, Type);
  EXPECT_EQ(Region.Pages, EFI_SIZE_TO_PAGES(Length == 0 ? 1 : Length));
  EXPECT_LE(Region.Address + Region.Pages * EFI_PAGE_SIZE, kFourGiB);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const VOID *>(Region.Address), Saved, Length), 0);
}

// --- The sample platform, captured and put back -------------------------------------

class SsdtPatchSample : public PatchTest {
 protected:
  void SetUp() override {
    PatchTest::SetUp();
    if (IsSkipped()) return;
    CaptureSample();
    NvsTable = Tables.SsdtNvs;
    NonNvsTable = Tables.SsdtNonNvs;
  }
  std::vector<UINT8> NvsTable, NonNvsTable;
};

TEST_F(SsdtPatchSample, DefaultRegionGetsFourAddressBytesAndOneLengthByte) {
  const std::vector<UINT8> Snv0 = CapturedElement("SSDT", AcpiDataSubTypeNvs, "\\SNV0");
  const AML_OBJECT_LOCATOR Locator = capture_test::LocatorFor(Tables.SsdtNvs, "\\SNV0");
  ASSERT_EQ(Locator.PrefixByte, AML_DWORD_PREFIX);
  const size_t LengthData = Locator.ValueOffset + 4 + 1;
  ASSERT_EQ(NvsTable[LengthData - 1], AML_BYTE_PREFIX);
  // The platform's table already says 0x80: another byte makes the write visible.
  NvsTable[LengthData] = 0x11;
  const std::vector<UINT8> Before = NvsTable;

  ASSERT_EQ(PatchSsdtNVS(NvsTable.data(), Header(Snv0)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  const RegionPages Region = NewPages().front();
  ExpectRegionPages(Region, EfiACPIMemoryNVS, Snv0.data() + kDefaultFixed, 0x80);
  EXPECT_EQ(ReadLe(NvsTable, Locator.ValueOffset, 4), Region.Address);
  EXPECT_EQ(NvsTable[LengthData], 0x80);
  // Only the five data bytes changed.
  for (size_t Index = 0; Index < NvsTable.size(); Index++) {
    if (Index >= Locator.ValueOffset && Index < Locator.ValueOffset + 4) continue;
    if (Index == LengthData) continue;
    EXPECT_EQ(NvsTable[Index], Before[Index]) << "byte " << Index;
  }
  EXPECT_EQ(Logged("PatchSsdtNVS - Patching SSDT with NVS\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("PatchSsdtNVS - Found meta data for SSDT NVS OPREGION \\SNV0\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("ProcessSsdtNvsOnCertifiedPath - Patching SSDT with NVS\n", DEBUG_INFO), 1u);
  EXPECT_EQ(LinesStartingWith("ProcessSsdtNvsOnCertifiedPath - address of NVS region (0x"), 1u);
  EXPECT_EQ(Logged("[Patched NVS]"), 0x80u / 16);
}

TEST_F(SsdtPatchSample, Type1ElementSetsTheAddressAndLengthConstants) {
  std::vector<UINT8> Snv1;
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Header(Entry)->AcpiDataType == AcpiDataTypeSsdt && Header(Entry)->AcpiDataNvsType == AcpiDataNvsType1)
      Snv1 = Entry;
  }
  ASSERT_GE(Snv1.size(), kType1Fixed);
  ASSERT_EQ(PatchSsdtNVS(NvsTable.data(), Header(Snv1)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  const RegionPages Region = NewPages().front();
  ExpectRegionPages(Region, EfiACPIMemoryNVS, Snv1.data() + kType1Fixed, 0x100);
  EXPECT_EQ(ConstantIn(NvsTable, Tables.SsdtNvs, "\\SNVA"), Region.Address);
  EXPECT_EQ(ConstantIn(NvsTable, Tables.SsdtNvs, "\\SNVL"), 0x100u);
  EXPECT_EQ(Logged("PatchSsdtNVS - Found meta data for SSDT NVS OPREGION address \\SNVA\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("PatchSsdtNVS - Found meta data for SSDT NVS OPREGION length  \\SNVL\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("ProcessSsdtNvsType1OnCertifiedPath - Patching SSDT with Type 1 NVS\n", DEBUG_INFO), 1u);
}

TEST_F(SsdtPatchSample, AcpicaSeesBothRestoredRegions) {
  REQUIRE_TOOL("acpiexec");
  REQUIRE_TOOL("iasl");
  ASSERT_EQ(PatchSsdtNVS(NvsTable.data(), Header(CapturedElement("SSDT", AcpiDataSubTypeNvs, "\\SNV0"))),
            EFI_SUCCESS);
  const EFI_PHYSICAL_ADDRESS Snv0 = NewPages().front().Address;
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Header(Entry)->AcpiDataType == AcpiDataTypeSsdt && Header(Entry)->AcpiDataNvsType == AcpiDataNvsType1)
      ASSERT_EQ(PatchSsdtNVS(NvsTable.data(), Header(Entry)), EFI_SUCCESS);
  }
  ASSERT_EQ(NewPages().size(), 2u);
  const EFI_PHYSICAL_ADDRESS Snv1 =
      NewPages().front().Address == Snv0 ? NewPages().back().Address : NewPages().front().Address;
  const std::string Dsdt = WritePatchedTable(Tables.Dsdt, "dsdt");
  const std::string Path = WritePatchedTable(NvsTable, "ssdt");
  uint64_t Address = 0, Length = 0, Value = 0;
  ASSERT_TRUE(capture_test::AcpiexecRegion({Dsdt, Path}, "\\SNV0", &Address, &Length));
  EXPECT_EQ(Address, Snv0);
  EXPECT_EQ(Length, 0x80u);
  ASSERT_TRUE(capture_test::AcpiexecEvaluateInteger({Dsdt, Path}, "\\SNVA", &Value));
  EXPECT_EQ(Value, Snv1);
  ASSERT_TRUE(capture_test::AcpiexecEvaluateInteger({Dsdt, Path}, "\\SNVL", &Value));
  EXPECT_EQ(Value, 0x100u);
  EXPECT_TRUE(capture_test::IaslDisassembles(Path));
}

TEST_F(SsdtPatchSample, NonNvsType2LandsInReservedPagesAndTheParentFields) {
  std::vector<UINT8> Nnvs;
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Header(Entry)->AcpiDataSubType == AcpiDataSubTypeNonNvs) Nnvs = Entry;
  }
  ASSERT_GE(Nnvs.size(), kType2Fixed);
  const UINT64 NvsLength = ReadLe(Nnvs, kType2Fixed - 8, 8);
  ASSERT_EQ(PatchSsdtNonNVS(NonNvsTable.data(), Header(Nnvs)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  const RegionPages Region = NewPages().front();
  ExpectRegionPages(Region, EfiReservedMemoryType, Nnvs.data() + kType2Fixed, NvsLength);
  const UINT8 *Parent = sim::AcpiRegionPointer(0x7F005000);  // \_SB.SCRA.PNVS
  EXPECT_EQ(ReadLe(Parent, 4), Region.Address);
  EXPECT_EQ(ReadLe(Parent + 4, 4), NvsLength);
  EXPECT_EQ(NonNvsTable, Tables.SsdtNonNvs);
  EXPECT_EQ(Logged("PatchSsdtNonNVS - Patching SSDT with NON-NVS\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("ProcessSsdtNonNvsType2OnCertifiedPath - Patching SSDT with Type 2 NON-NVS\n", DEBUG_INFO),
            1u);
  EXPECT_EQ(
      Logged("ProcessSsdtNonNvsType2OnCertifiedPath - NON-NVS type 2 store the system memory address and "
             "length in another NVS region's fields\n",
             DEBUG_INFO),
      1u);
}

TEST_F(SsdtPatchSample, TableCarriedInAMetaDataRecordIsPatchedInPlace) {
  std::vector<UINT8> Record = capture_test::TableRecord(kSsdt, AcpiDataSubTypeTable);
  Record.resize(32);
  Record.insert(Record.end(), Tables.SsdtNvs.begin(), Tables.SsdtNvs.end());
  const std::vector<UINT8> Snv0 = CapturedElement("SSDT", AcpiDataSubTypeNvs, "\\SNV0");
  ASSERT_EQ(PatchSsdtNVS(Record.data() + 32, Header(Snv0)), EFI_SUCCESS);
  const AML_OBJECT_LOCATOR Locator = capture_test::LocatorFor(Tables.SsdtNvs, "\\SNV0");
  EXPECT_EQ(ReadLe(Record, 32 + Locator.ValueOffset, 4), NewPages().front().Address);
}

// --- Element kinds and faults built by hand ----------------------------------------------------

class SsdtPatchEdges : public PatchTest {
 protected:
  // An SSDT with "Name (SNVA, 0x7F004000) Name (SNVL, <LengthPrefix> ...)" and a
  // Type 1 element for them carrying Data.
  void BuildType1(UINT8 AddressLocatorPrefix, UINT8 LengthPrefix, const std::vector<UINT8> &Data) {
    std::vector<UINT8> Body = {0x08, 'S', 'N', 'V', 'A', AML_DWORD_PREFIX, 0x00, 0x40, 0x00, 0x7F,
                               0x08, 'S', 'N', 'V', 'L', LengthPrefix};
    Body.resize(Body.size() + AmlIntegerPrefixWidth(LengthPrefix), 0);
    Body.push_back(0xA5);
    Ssdt = MakeAmlTable("SSDT", Body);
    Before = Ssdt;
    const std::vector<UINT8> Record = capture_test::NvsType1Record(
        0, MakeLocator("\\SNVA", 37, AddressLocatorPrefix, 42), MakeLocator("\\SNVL", 47, LengthPrefix, 52));
    Element = MakeNvsElement(Record, kType1Fixed, AcpiDataSubTypeNvs, AcpiDataNvsType1, Data);
  }
  void BuildDefault(UINT8 LengthPrefix, const std::vector<UINT8> &LengthBytes, UINT32 SubType,
                    UINT32 NvsType) {
    Ssdt = MakeAmlTable("SSDT", OpRegionBody(AML_DWORD_PREFIX, {0, 0, 0, 0x7F}, LengthPrefix, LengthBytes));
    Before = Ssdt;
    const std::vector<UINT8> Record = capture_test::NvsDefaultRecord(
        kSsdt, 0, MakeLocator("\\RGN0", kRegionNameOffset, AML_DWORD_PREFIX, kRegionAddressOffset));
    Element = MakeNvsElement(Record, kDefaultFixed, SubType, NvsType, Pattern(0x40, 5));
  }
  void BuildNonNvsType2() {
    Ssdt = MakeAmlTable("SSDT", OpRegionBody(AML_DWORD_PREFIX, {0, 0, 0, 0x7F}, AML_WORD_PREFIX, {0, 1}));
    Before = Ssdt;
    const std::vector<UINT8> Record = capture_test::Type2Record(
        kSsdt, AcpiDataSubTypeNonNvs, 0,
        MakeLocator("\\RGN0", kRegionNameOffset, AML_DWORD_PREFIX, kRegionAddressOffset),
        {FIELD_TYPE_2_NVS_MODE, 3, {}, 0x40}, {FIELD_TYPE_2_NVS_MODE, 3, {}, 0x44});
    Element = MakeNvsElement(Record, kType2Fixed, AcpiDataSubTypeNonNvs, AcpiDataNvsType2, Pattern(0x20, 1));
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER *Mutable() {
    return reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data());
  }
  std::vector<UINT8> Ssdt, Before, Element;
};

// A locator whose PrefixByte is not the opcode in the AML names no constant of
// that width: the write refuses it before the value's width is judged, and a
// refused length leaves the address unwritten too.
struct Type1LocatorRow {
  const char *Name;
  UINT8 AddressLocatorPrefix;  // the AML holds a DWord address
  UINT8 LengthPrefix;          // in the AML and the locator, unless LengthOpcodeInAml says otherwise
  UINT8 LengthOpcodeInAml;     // 0: LengthPrefix
  UINT32 NvsLength;
  const char *Line;  // after "ProcessSsdtNvsType1OnCertifiedPath - "
};

void PrintTo(const Type1LocatorRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class SsdtType1Locators : public SsdtPatchEdges, public testing::WithParamInterface<Type1LocatorRow> {};

TEST_P(SsdtType1Locators, DisagreementWithTheAmlFailsTheWriteWithBothLines) {
  const Type1LocatorRow &Row = GetParam();
  BuildType1(Row.AddressLocatorPrefix, Row.LengthPrefix, Pattern(Row.NvsLength, 2));
  if (Row.LengthOpcodeInAml != 0) Ssdt[51] = Row.LengthOpcodeInAml;
  Before = Ssdt;
  EXPECT_EQ(PatchSsdtNVS(Ssdt.data(), Header(Element)), EFI_COMPROMISED_DATA) << DebugDump();
  EXPECT_EQ(Logged(std::string("ProcessSsdtNvsType1OnCertifiedPath - ") + Row.Line, DEBUG_ERROR), 1u)
      << DebugDump();
  EXPECT_EQ(Logged("PatchSsdtNVS - Unable to patch a SSDT NVS Type 1\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(Ssdt, Before);
  EXPECT_EQ(NewPages().size(), 1u) << "region pages are never freed";
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, SsdtType1Locators,
    testing::Values(Type1LocatorRow{"AddressLocatorWiderThanTheAml", AML_QWORD_PREFIX, AML_WORD_PREFIX, 0,
                                    0x10, "Failed to set NVS address from AML\n"},
                    Type1LocatorRow{"AddressLocatorTooNarrowForTheAddress", AML_BYTE_PREFIX, AML_WORD_PREFIX,
                                    0, 0x10, "Failed to set NVS address from AML\n"},
                    Type1LocatorRow{"LengthLocatorNarrowerThanTheAml", AML_DWORD_PREFIX, AML_WORD_PREFIX,
                                    AML_DWORD_PREFIX, 0x10, "Failed to set NVS length from AML\n"},
                    Type1LocatorRow{"LengthLocatorTooNarrowForTheLength", AML_DWORD_PREFIX, AML_BYTE_PREFIX,
                                    AML_WORD_PREFIX, 0x100, "Failed to set NVS length from AML\n"}),
    [](const testing::TestParamInfo<Type1LocatorRow> &Info) { return std::string(Info.param.Name); });

TEST_F(SsdtPatchEdges, Type1LengthTooBigForItsByteConstantIsRefusedBeforeEitherWrite) {
  BuildType1(AML_DWORD_PREFIX, AML_BYTE_PREFIX, Pattern(0x100, 2));
  EXPECT_EQ(PatchSsdtNVS(Ssdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Ssdt, Before);
  EXPECT_EQ(Logged("PatchSsdtNVS - Unable to patch a SSDT NVS Type 1\n", DEBUG_ERROR), 1u);
}

TEST_F(SsdtPatchEdges, Type1ByteLengthThatFitsIsWritten) {
  BuildType1(AML_DWORD_PREFIX, AML_BYTE_PREFIX, Pattern(0xFF, 2));
  ASSERT_EQ(PatchSsdtNVS(Ssdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(ReadLe(Ssdt, 42, 4), NewPages().front().Address);
  EXPECT_EQ(Ssdt[52], 0xFF);
  EXPECT_EQ(Ssdt[53], 0xA5);
}

TEST_F(SsdtPatchEdges, Type1ElementTooShortForItsSecondLocatorIsRefused) {
  BuildType1(AML_DWORD_PREFIX, AML_WORD_PREFIX, {});
  Element.resize(200);
  Mutable()->AcpiCommonHeader.Length = 200;
  EXPECT_EQ(PatchSsdtNVS(Ssdt.data(), Header(Element)), EFI_COMPROMISED_DATA);
  EXPECT_EQ(Ssdt, Before);
  EXPECT_TRUE(NewPages().empty());
}

TEST_F(SsdtPatchEdges, DefaultRegionWithALengthThatIsNoConstantPatchesTheAddressOnly) {
  BuildDefault(AML_ONE_OP, {}, AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault);
  ASSERT_EQ(PatchSsdtNVS(Ssdt.data(), Header(Element)), EFI_SUCCESS);
  EXPECT_EQ(ReadLe(Ssdt, kRegionAddressOffset, 4), NewPages().front().Address);
  EXPECT_EQ(Ssdt[kRegionAddressOffset + 4], AML_ONE_OP);
  EXPECT_EQ(Logged("ProcessSsdtNvsOnCertifiedPath - Unrecognized opcode 0x1 in patching SSDT with NVS length "
                   "0x40\n",
                   DEBUG_ERROR),
            1u);
}

struct RefusedKindRow {
  const char *Name;
  UINT32 SubType, NvsType;
  std::vector<const char *> Lines;
};

void PrintTo(const RefusedKindRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class SsdtRefusedKinds : public SsdtPatchEdges, public testing::WithParamInterface<RefusedKindRow> {};

TEST_P(SsdtRefusedKinds, RefusedWithTheirLinesAndNoAllocation) {
  BuildDefault(AML_BYTE_PREFIX, {0x40}, GetParam().SubType, GetParam().NvsType);
  const EFI_STATUS Status = GetParam().SubType == AcpiDataSubTypeNvs
                                ? PatchSsdtNVS(Ssdt.data(), Header(Element))
                                : PatchSsdtNonNVS(Ssdt.data(), Header(Element));
  EXPECT_EQ(Status, EFI_INVALID_PARAMETER);
  for (const char *Line : GetParam().Lines) EXPECT_EQ(Logged(Line), 1u) << Line << DebugDump();
  EXPECT_EQ(Ssdt, Before);
  EXPECT_TRUE(NewPages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SsdtRefusedKinds,
    testing::Values(RefusedKindRow{"NvsType2",
                                   AcpiDataSubTypeNvs,
                                   AcpiDataNvsType2,
                                   {"PatchSsdtNVS - Type 2 SSDT NVS not presently supported\n"}},
                    RefusedKindRow{"NvsUnknown",
                                   AcpiDataSubTypeNvs,
                                   0,
                                   {"PatchSsdtNVS - Invalid AcpiDataNvsType: 0 for SSDT NVS\n",
                                    "PatchSsdtNVS -   SSDT NVS path name is \\RGN0\n"}},
                    RefusedKindRow{"NonNvsDefault",
                                   AcpiDataSubTypeNonNvs,
                                   AcpiDataNvsTypeDefault,
                                   {"PatchSsdtNonNVS - Default SSDT NON-NVS not presently supported\n"}},
                    RefusedKindRow{"NonNvsType1",
                                   AcpiDataSubTypeNonNvs,
                                   AcpiDataNvsType1,
                                   {"PatchSsdtNonNVS - Type 1 SSDT NON-NVS not presently supported\n"}},
                    RefusedKindRow{"NonNvsUnknown",
                                   AcpiDataSubTypeNonNvs,
                                   9,
                                   {"PatchSsdtNonNVS - Invalid AcpiDataNvsType: 9 for SSDT NON-NVS\n",
                                    "PatchSsdtNonNVS -   SSDT NVS path name is \\RGN0\n"}}),
    [](const testing::TestParamInfo<RefusedKindRow> &Info) { return std::string(Info.param.Name); });

TEST_F(SsdtPatchEdges, NonNvsType2WritesTheParentFieldsOfTheSampleWindow) {
  BuildNonNvsType2();
  UINT8 *Parent = sim::AcpiRegionPointer(sim::kAcpiRegionWindowBase);
  ASSERT_EQ(PatchSsdtNonNVS(Ssdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  EXPECT_EQ(NewPages().front().Type, EfiReservedMemoryType);
  EXPECT_EQ(ReadLe(Parent + 0x40, 4), NewPages().front().Address);
  EXPECT_EQ(ReadLe(Parent + 0x44, 4), 0x20u);
  EXPECT_EQ(Ssdt, Before);
}

TEST_F(SsdtPatchEdges, FailedPageAllocationOfEveryKindIsReportedAndWritesNothing) {
  struct Case {
    const char *Line;
    std::function<void()> Build;
    bool NonNvs;
  };
  const Case Cases[] = {
      {"ProcessSsdtNvsOnCertifiedPath - Unable to allocate 40 byte buffer\n",
       [&] { BuildDefault(AML_BYTE_PREFIX, {0x40}, AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault); }, false},
      {"ProcessSsdtNvsType1OnCertifiedPath - Unable to allocate 10 byte buffer\n",
       [&] { BuildType1(AML_DWORD_PREFIX, AML_WORD_PREFIX, Pattern(0x10, 2)); }, false},
      {"ProcessSsdtNonNvsType2OnCertifiedPath - Unable to allocate 20 byte buffer\n",
       [&] { BuildNonNvsType2(); }, true},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Line);
    Each.Build();
    UINT8 *Parent = sim::AcpiRegionPointer(sim::kAcpiRegionWindowBase);
    std::memset(Parent + 0x40, 0xEE, 8);
    Platform->Pages().FailAllocation(1);
    const EFI_STATUS Status = Each.NonNvs ? PatchSsdtNonNVS(Ssdt.data(), Header(Element))
                                          : PatchSsdtNVS(Ssdt.data(), Header(Element));
    EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Logged(Each.Line, DEBUG_ERROR), 1u) << DebugDump();
    EXPECT_EQ(Ssdt, Before);
    EXPECT_EQ(ReadLe(Parent + 0x40, 8), 0xEEEEEEEEEEEEEEEEull);
    EXPECT_TRUE(NewPages().empty());
  }
}

}  // namespace
