// DSDT patching on the certified path: the sample platform's captured elements
// put back into a fresh copy of its DSDT (checked with ACPICA too), the integer
// sources row by row, the NVS element kinds and their edges, refusals that must
// leave the DSDT untouched, and failed allocations.
#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/DsdtPatch.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/restore/PatchTestSupport.h"

namespace {

using namespace patch_test;

constexpr UINT32 kDsdt = EFI_ACPI_DSDT_SIGNATURE;
constexpr UINT32 kDefaultFixed = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINT32 kType2Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);
constexpr UINT64 kFourGiB = 0x100000000ULL;

UINT8 *Bytes(std::vector<UINT8> &Table) {
  return Table.data();
}
const ACPI_DATA_STORAGE_ENTRY_HEADER *AsEntry(const std::vector<UINT8> &Entry) {
  return Header(Entry);
}

// Address and length of a DefOpRegion as the (patched) AML now holds them.
void RegionInAml(const std::vector<UINT8> &Table, const AML_OBJECT_LOCATOR &Locator, UINT64 *Address,
                 UINT64 *Length) {
  ASSERT_EQ(ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, Address, Length), EFI_SUCCESS);
}

// --- The sample platform, captured and put back -------------------------------------

class DsdtPatchSample : public PatchTest {
 protected:
  void SetUp() override {
    PatchTest::SetUp();
    if (IsSkipped()) return;
    CaptureSample();
    Dsdt = Tables.Dsdt;  // the firmware-volume copy: values as the platform was built
  }
  std::vector<UINT8> Dsdt;
};

// Zeroes the RegionLen constant of the DefOpRegion the locator names, so that a
// patch writing the length the platform's table already holds is still seen.
void ZeroRegionLength(std::vector<UINT8> *Table, const AML_OBJECT_LOCATOR &Locator) {
  const size_t LengthPrefixAt =
      Locator.ValueOffset + AmlIntegerPrefixWidth((*Table)[Locator.ValueOffset - 1]);
  const UINT8 Width = AmlIntegerPrefixWidth((*Table)[LengthPrefixAt]);
  ASSERT_NE(Width, 0u);
  std::memset(Table->data() + LengthPrefixAt + 1, 0, Width);
  UINT64 Address = 0, Length = 1;
  RegionInAml(*Table, Locator, &Address, &Length);
  ASSERT_EQ(Length, 0u);
}

TEST_F(DsdtPatchSample, DefaultRegionsMoveToFreshNvsPagesBelow4GiB) {
  const std::vector<UINT8> Gnvs = CapturedElement("DSDT", AcpiDataSubTypeNvs, "\\GNVS");
  const std::vector<UINT8> Bnvs = CapturedElement("DSDT", AcpiDataSubTypeNvs, "\\BNVS");
  for (const char *Path : {"\\GNVS", "\\BNVS"})
    ZeroRegionLength(&Dsdt, capture_test::LocatorFor(Tables.Dsdt, Path));
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(Gnvs)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(Bnvs)), EFI_SUCCESS) << DebugDump();

  const std::vector<RegionPages> Pages = NewPages();
  ASSERT_EQ(Pages.size(), 2u);
  for (const auto &[Element, Path, Length] :
       {std::make_tuple(&Gnvs, "\\GNVS", 0x100u), std::make_tuple(&Bnvs, "\\BNVS", 0x20u)}) {
    SCOPED_TRACE(Path);
    UINT64 Address = 0, AmlLength = 0;
    RegionInAml(Dsdt, capture_test::LocatorFor(Tables.Dsdt, Path), &Address, &AmlLength);
    EXPECT_EQ(AmlLength, Length);
    const RegionPages *Region = nullptr;
    for (const RegionPages &Candidate : Pages) Region = Candidate.Address == Address ? &Candidate : Region;
    ASSERT_NE(Region, nullptr) << "the AML does not point at a page the patch allocated";
    EXPECT_EQ(Region->Type, EfiACPIMemoryNVS);
    EXPECT_EQ(Region->Pages, 1u);
    EXPECT_LE(Region->Address + Region->Pages * EFI_PAGE_SIZE, kFourGiB);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const VOID *>(Address), Element->data() + kDefaultFixed, Length),
              0);
  }
  EXPECT_EQ(Logged("PatchDsdtNVS - Patching DSDT NVS OPREGION \\GNVS\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Logged("PatchDsdtNVS - DSDT NVS default processing\n", DEBUG_ERROR), 2u);
  EXPECT_EQ(Logged("PatchDsdtNVS - NVS data:\n", DEBUG_INFO), 2u);
  EXPECT_EQ(Logged("[Patched NVS]"), (0x100u + 0x20u) / 16);
}

TEST_F(DsdtPatchSample, AcpicaSeesThePatchedRegionAndIntegers) {
  REQUIRE_TOOL("acpiexec");
  REQUIRE_TOOL("iasl");
  ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(CapturedElement("DSDT", AcpiDataSubTypeNvs, "\\GNVS"))),
            EFI_SUCCESS);
  const std::vector<UINT8> Ibyt = CapturedElement("DSDT", AcpiDataSubTypeInteger, "\\IBYT");
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtIntegerMetaDataPtr(Dsdt.data(), AsEntry(Ibyt));
  ASSERT_NE(Record, nullptr);
  ASSERT_EQ(PatchDsdtInteger(Bytes(Dsdt), AsEntry(Ibyt), Record), EFI_SUCCESS) << DebugDump();

  const std::string Path = WritePatchedTable(Dsdt, "dsdt");
  uint64_t Address = 0, Length = 0, Ibyte = 0;
  ASSERT_TRUE(capture_test::AcpiexecRegion({Path}, "\\GNVS", &Address, &Length));
  ASSERT_EQ(NewPages().size(), 1u);
  EXPECT_EQ(Address, NewPages().front().Address);
  EXPECT_EQ(Length, 0x100u);
  ASSERT_TRUE(capture_test::AcpiexecEvaluateInteger({Path}, "\\IBYT", &Ibyte));
  EXPECT_EQ(Ibyte, 0x11u);  // the record's default value
  EXPECT_TRUE(capture_test::IaslDisassembles(Path));
}

TEST_F(DsdtPatchSample, Type2ElementWritesIntoTheRestoredParentRegionAndLeavesTheDsdt) {
  ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(CapturedElement("DSDT", AcpiDataSubTypeNvs, "\\GNVS"))),
            EFI_SUCCESS);
  const std::vector<UINT8> AfterParent = Dsdt;
  ASSERT_EQ(NewPages().size(), 1u);
  const EFI_PHYSICAL_ADDRESS Parent = NewPages().front().Address;

  const std::vector<UINT8> Cnvs = CapturedElement("DSDT", AcpiDataSubTypeNvs, "\\GNVS");
  // The second GNVS-located element in the stream is CNVS's Type 2 element.
  std::vector<UINT8> Type2;
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Entry.size() >= kType2Fixed && Header(Entry)->AcpiDataNvsType == AcpiDataNvsType2 &&
        Header(Entry)->AcpiDataType == AcpiDataTypeDsdt)
      Type2 = Entry;
  }
  ASSERT_FALSE(Type2.empty());
  ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(Type2)), EFI_SUCCESS) << DebugDump();

  EXPECT_EQ(Dsdt, AfterParent);
  ASSERT_EQ(NewPages().size(), 2u);
  const EFI_PHYSICAL_ADDRESS Child =
      NewPages().front().Address == Parent ? NewPages().back().Address : NewPages().front().Address;
  const UINT64 NvsLength = ReadLe(Type2, kType2Fixed - 8, 8);
  const UINT8 *ParentBytes = reinterpret_cast<const UINT8 *>(Parent);
  EXPECT_EQ(ReadLe(ParentBytes + 0x10, 4), Child);
  EXPECT_EQ(ReadLe(ParentBytes + 0x14, 2), NvsLength);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const VOID *>(Child), Type2.data() + kType2Fixed, NvsLength), 0);
  EXPECT_EQ(Logged("ProcessDsdtNvsType2OnCertifiedPath - Patching DSDT with Type 2 NVS\n", DEBUG_INFO), 1u);
  EXPECT_EQ(
      Logged("ProcessDsdtNvsType2OnCertifiedPath - NVS type 2 store the system memory address and length in "
             "another NVS region's fields\n"),
      1u);
}

TEST_F(DsdtPatchSample, CapturedIntegersFollowTheirRecords) {
  const EFI_GUID Guid = {};
  const UINT32 Value = 0xCAFEF00D;
  ASSERT_EQ(Platform->Variables().Set(u"SampleValue", &Guid, 7, sizeof(Value), &Value), EFI_SUCCESS);
  // Zero the firmware-volume copy's integers so every patched value is visible.
  for (const char *Path : {"\\IBYT", "\\IWRD", "\\IDWD", "\\IQWD"}) {
    const AML_OBJECT_LOCATOR Locator = capture_test::LocatorFor(Tables.Dsdt, Path);
    ASSERT_EQ(SetNumericConstantInAml(Dsdt.data(), &Locator, 0), EFI_SUCCESS);
  }
  for (const char *Path : {"\\IBYT", "\\IWRD", "\\IDWD"}) {
    SCOPED_TRACE(Path);
    const std::vector<UINT8> Element = CapturedElement("DSDT", AcpiDataSubTypeInteger, Path);
    const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtIntegerMetaDataPtr(Dsdt.data(), AsEntry(Element));
    ASSERT_NE(Record, nullptr);
    EXPECT_EQ(PatchDsdtInteger(Bytes(Dsdt), AsEntry(Element), Record), EFI_SUCCESS) << DebugDump();
  }
  UINT64 Got = 0;
  UINT8 Size = 0;
  const auto ValueOf = [&](const char *Path) {
    const AML_OBJECT_LOCATOR Locator = capture_test::LocatorFor(Tables.Dsdt, Path);
    EXPECT_EQ(ExtractNumericConstantFromAml(Dsdt.data(), &Locator, &Got, &Size), EFI_SUCCESS);
    return Got;
  };
  EXPECT_EQ(ValueOf("\\IBYT"), 0x11u);        // default from the record
  EXPECT_EQ(ValueOf("\\IWRD"), 0x1234u);      // the captured value
  EXPECT_EQ(ValueOf("\\IDWD"), 0xCAFEF00Du);  // the variable
  EXPECT_EQ(ValueOf("\\IQWD"), 0u);           // not stored: no element, nothing patched
  EXPECT_EQ(Logged("PatchDsdtInteger - Read 0x4 bytes from SampleValue variable.\n", DEBUG_INFO), 1u);
}

TEST_F(DsdtPatchSample, WholeElementRunInStreamOrderRestoresEveryRegionAndInteger) {
  size_t Patched = 0;
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Header(Entry)->AcpiDataType != AcpiDataTypeDsdt) continue;
    if (Header(Entry)->AcpiDataSubType == AcpiDataSubTypeNvs) {
      ASSERT_EQ(PatchDsdtNVS(Bytes(Dsdt), AsEntry(Entry)), EFI_SUCCESS) << DebugDump();
      Patched++;
    } else if (Header(Entry)->AcpiDataSubType == AcpiDataSubTypeInteger) {
      const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtIntegerMetaDataPtr(Dsdt.data(), AsEntry(Entry));
      ASSERT_NE(Record, nullptr);
      ASSERT_EQ(PatchDsdtInteger(Bytes(Dsdt), AsEntry(Entry), Record), EFI_SUCCESS) << DebugDump();
      Patched++;
    }
  }
  EXPECT_EQ(Patched, 6u);  // GNVS, CNVS, BNVS; IBYT, IWRD, IDWD (IQWD is not stored)
  ASSERT_EQ(NewPages().size(), 3u);
  for (const RegionPages &Region : NewPages()) EXPECT_EQ(Region.Type, EfiACPIMemoryNVS);
  UINT64 Gnvs = 0, Length = 0;
  RegionInAml(Dsdt, capture_test::LocatorFor(Tables.Dsdt, "\\GNVS"), &Gnvs, &Length);
  // CNVS came after GNVS, so its address landed in the restored GNVS, not the old one.
  const UINT64 Cnvs = ReadLe(reinterpret_cast<const VOID *>(Gnvs + 0x10), 4);
  bool CnvsIsNew = false;
  for (const RegionPages &Region : NewPages())
    CnvsIsNew = CnvsIsNew || (Region.Address == Cnvs && Cnvs != Gnvs);
  EXPECT_TRUE(CnvsIsNew);
  EXPECT_EQ(Logged("PatchDsdtInteger - Switching to default value 0x0 for patching integer SampleValue.\n",
                   DEBUG_WARN),
            1u);
}

// --- Integer sources, row by row ------------------------------------------------------

enum class Var { None, Present };

struct IntegerRow {
  const char *Name;
  UINT8 Prefix;         // in the AML and in the locator
  UINT8 LocatorPrefix;  // 0: same as Prefix
  UINT32 IntegerType;
  UINT64 Captured, Default;
  Var Variable;
  std::vector<UINT8> VarData;
  UINT32 VarAttributes;
  EFI_STATUS Expected;
  UINT64 ExpectedValue;  // in the AML afterwards (the original 0 when refused)
  const char *Message;   // a line that must be logged, or nullptr
};

void PrintTo(const IntegerRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class DsdtIntegerRows : public PatchTest, public testing::WithParamInterface<IntegerRow> {};

// "Name (ITST, <prefix> 00...)" with the data bytes zero.
std::vector<UINT8> IntegerTable(UINT8 Prefix) {
  std::vector<UINT8> Body = {0x08, 'I', 'T', 'S', 'T', Prefix};
  Body.resize(Body.size() + (AmlIntegerPrefixWidth(Prefix) == 0 ? 1 : AmlIntegerPrefixWidth(Prefix)), 0);
  Body.push_back(0xA5);
  return MakeAmlTable("DSDT", Body);
}

TEST_P(DsdtIntegerRows, PatchesOrRefuses) {
  const IntegerRow &Row = GetParam();
  std::vector<UINT8> Dsdt = IntegerTable(Row.Prefix);
  const std::vector<UINT8> Before = Dsdt;
  const AML_OBJECT_LOCATOR Locator =
      MakeLocator("\\ITST", 37, Row.LocatorPrefix != 0 ? Row.LocatorPrefix : Row.Prefix, 42);
  std::vector<UINT8> Record = capture_test::IntegerRecord(kDsdt, Locator, Row.IntegerType, Row.Default);
  std::vector<UINT8> Element = MakeIntegerElement(Record, Row.Captured);
  const EFI_GUID Guid = {};
  if (Row.Variable == Var::Present) {
    ASSERT_EQ(Platform->Variables().Set(u"SampleValue", &Guid, Row.VarAttributes, Row.VarData.size(),
                                        Row.VarData.data()),
              EFI_SUCCESS);
  }
  if (std::string(Row.Name) == "EntryNamesAnotherVariable") {
    const char16_t Other[] = u"OtherValue";
    std::memcpy(Element.data() + 164, Other, sizeof(Other));
  }
  if (std::string(Row.Name) == "NameWithoutTerminator") {
    for (std::vector<UINT8> *Bytes16 : {&Record, &Element}) {
      for (size_t Index = 0; Index < 16; Index++) (*Bytes16)[164 + 2 * Index] = 'A';
    }
  }

  EXPECT_EQ(PatchDsdtInteger(Dsdt.data(), Header(Element), Header(Record)), Row.Expected) << DebugDump();
  const UINT8 Width = AmlIntegerPrefixWidth(Row.Prefix);
  if (Width != 0) EXPECT_EQ(ReadLe(Dsdt, 42, Width), Row.ExpectedValue);
  if (EFI_ERROR(Row.Expected)) EXPECT_EQ(Dsdt, Before);
  EXPECT_EQ(Dsdt.back(), 0xA5) << "a byte behind the constant was written";
  if (Row.Message != nullptr) EXPECT_EQ(Logged(Row.Message), 1u) << DebugDump();
}

const std::vector<UINT8> kTwoBytes = {0x34, 0x12};

INSTANTIATE_TEST_SUITE_P(
    Sources, DsdtIntegerRows,
    testing::Values(
        IntegerRow{"StoredWord",
                   AML_WORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeStored,
                   0x4321,
                   0x9,
                   Var::None,
                   {},
                   0,
                   EFI_SUCCESS,
                   0x4321,
                   "PatchDsdtInteger - Patching DSDT integer value \\ITST\n"},
        IntegerRow{"DefaultByte",
                   AML_BYTE_PREFIX,
                   0,
                   AcpiDataIntegerTypeDefault,
                   0x1,
                   0x77,
                   Var::None,
                   {},
                   0,
                   EFI_SUCCESS,
                   0x77,
                   nullptr},
        IntegerRow{"QWordTakesAnyValue",
                   AML_QWORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeDefault,
                   0,
                   ~0ULL,
                   Var::None,
                   {},
                   0,
                   EFI_SUCCESS,
                   ~0ULL,
                   nullptr},
        IntegerRow{"NotStoredLeavesTheAml",
                   AML_WORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeNotStored,
                   0x4321,
                   0x9,
                   Var::None,
                   {},
                   0,
                   EFI_SUCCESS,
                   0,
                   "PatchDsdtInteger - Not patching DSDT integer value \\ITST\n"},
        IntegerRow{"VariableTwoBytesUnderWord", AML_WORD_PREFIX, 0, AcpiDataIntegerTypeVariable, 0, 0x9,
                   Var::Present, kTwoBytes, 7, EFI_SUCCESS, 0x1234,
                   "PatchDsdtInteger - Read 0x2 bytes from SampleValue variable.\n"},
        IntegerRow{"VariableTwoBytesUnderByte", AML_BYTE_PREFIX, 0, AcpiDataIntegerTypeVariable, 0, 0x9,
                   Var::Present, kTwoBytes, 7, EFI_INVALID_PARAMETER, 0,
                   "PatchDsdtInteger - Value too big for byte integer 0x1234\n"},
        IntegerRow{"MissingVariableTakesTheDefault",
                   AML_WORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeVariable,
                   0,
                   0x42,
                   Var::None,
                   {},
                   0,
                   EFI_SUCCESS,
                   0x42,
                   "PatchDsdtInteger - Switching to default value 0x42 for patching integer SampleValue.\n"},
        IntegerRow{"VariableWithOtherAttributes", AML_WORD_PREFIX, 0, AcpiDataIntegerTypeVariable, 0, 0x42,
                   Var::Present, kTwoBytes, 3, EFI_COMPROMISED_DATA, 0,
                   "PatchDsdtInteger - Actual UEFI variable attributes do not match expected UEFI variable "
                   "attributes!\n"},
        IntegerRow{"VariableOfNineBytes", AML_QWORD_PREFIX, 0, AcpiDataIntegerTypeVariable, 0, 0x42,
                   Var::Present, std::vector<UINT8>(9, 1), 7, EFI_COMPROMISED_DATA, 0,
                   "PatchDsdtInteger - Variable SampleValue is not an integer value: Compromised Data\n"},
        IntegerRow{
            "EntryNamesAnotherVariable", AML_WORD_PREFIX, 0, AcpiDataIntegerTypeVariable, 0, 0x42,
            Var::Present, kTwoBytes, 7, EFI_COMPROMISED_DATA, 0,
            "PatchDsdtInteger - Actual UEFI variable name does not match expected UEFI variable name!\n"},
        IntegerRow{
            "NameWithoutTerminator",
            AML_WORD_PREFIX,
            0,
            AcpiDataIntegerTypeVariable,
            0,
            0x42,
            Var::None,
            {},
            0,
            EFI_COMPROMISED_DATA,
            0,
            "PatchDsdtInteger - Actual UEFI variable name does not end with a terminating zero UINT16!\n"},
        IntegerRow{"DWordRefusesA33BitValue",
                   AML_DWORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeDefault,
                   0,
                   0x100000000ULL,
                   Var::None,
                   {},
                   0,
                   EFI_INVALID_PARAMETER,
                   0,
                   "PatchDsdtInteger - Value too big for 32 bit integer 0x0\n"},
        IntegerRow{"WordRefusesA17BitValue",
                   AML_WORD_PREFIX,
                   0,
                   AcpiDataIntegerTypeStored,
                   0x10000,
                   0,
                   Var::None,
                   {},
                   0,
                   EFI_INVALID_PARAMETER,
                   0,
                   "PatchDsdtInteger - Value too big for 16 bit integer 0x10000\n"},
        IntegerRow{"UnknownIntegerType",
                   AML_WORD_PREFIX,
                   0,
                   9,
                   0,
                   0,
                   Var::None,
                   {},
                   0,
                   EFI_COMPROMISED_DATA,
                   0,
                   "PatchDsdtInteger - Unrecognized AcpiDataIntegerType 0x9\n"},
        IntegerRow{"LocatorPrefixIsNoInteger",
                   AML_WORD_PREFIX,
                   AML_ONE_OP,
                   AcpiDataIntegerTypeDefault,
                   0,
                   1,
                   Var::None,
                   {},
                   0,
                   EFI_COMPROMISED_DATA,
                   0,
                   "PatchDsdtInteger - Unrecognized opcode 0x1 in patching DSDT with integer 0x1\n"},
        IntegerRow{"LocatorPrefixDisagreesWithAml",
                   AML_DWORD_PREFIX,
                   AML_WORD_PREFIX,
                   AcpiDataIntegerTypeDefault,
                   0,
                   1,
                   Var::None,
                   {},
                   0,
                   EFI_COMPROMISED_DATA,
                   0,
                   "PatchDsdtInteger - Failed to set integer value in AML\n"}),
    [](const testing::TestParamInfo<IntegerRow> &Info) { return std::string(Info.param.Name); });

// What the size query of the variable store answers decides the value: a
// variable that cannot be read is patched with the record's default, as a
// missing one is, so one integer never costs the whole DSDT; a query that
// succeeds without a buffer is a store fault.
struct SizeQueryRow {
  const char *Name;
  EFI_STATUS Answer;
  EFI_STATUS Expected;
  UINT64 ExpectedValue;  // in the AML afterwards; 0x21 is the value it held
  const char *Warning;   // DEBUG_WARN line after "PatchDsdtInteger - "
};

void PrintTo(const SizeQueryRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

EFI_STATUS gSizeQueryAnswer = EFI_SUCCESS;

class DsdtIntegerVariableFault : public PatchTest {};
class DsdtIntegerSizeQuery : public PatchTest, public testing::WithParamInterface<SizeQueryRow> {};

TEST_P(DsdtIntegerSizeQuery, UnreadableVariableTakesTheDefault) {
  const SizeQueryRow &Row = GetParam();
  std::vector<UINT8> Dsdt = IntegerTable(AML_WORD_PREFIX);
  Dsdt[42] = 0x21;
  std::vector<UINT8> Record = capture_test::IntegerRecord(
      kDsdt, MakeLocator("\\ITST", 37, AML_WORD_PREFIX, 42), AcpiDataIntegerTypeVariable, 5);
  const std::vector<UINT8> Element = MakeIntegerElement(Record, 0);
  EFI_RUNTIME_SERVICES *Saved = gRT;
  EFI_RUNTIME_SERVICES Broken = *gRT;
  gSizeQueryAnswer = Row.Answer;
  Broken.GetVariable = [](CHAR16 *, EFI_GUID *, UINT32 *, UINTN *, VOID *)
                           EFIAPI -> EFI_STATUS { return gSizeQueryAnswer; };
  gRT = &Broken;
  const EFI_STATUS Status = PatchDsdtInteger(Dsdt.data(), Header(Element), Header(Record));
  gRT = Saved;
  EXPECT_EQ(Status, Row.Expected) << DebugDump();
  EXPECT_EQ(ReadLe(Dsdt, 42, 2), Row.ExpectedValue);
  EXPECT_EQ(Logged(std::string("PatchDsdtInteger - ") + Row.Warning, DEBUG_WARN), 1u) << DebugDump();
  const size_t Switched = Logged(
      "PatchDsdtInteger - Switching to default value 0x5 for patching integer SampleValue.\n", DEBUG_WARN);
  EXPECT_EQ(Switched, EFI_ERROR(Row.Expected) ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DsdtIntegerSizeQuery,
    testing::Values(SizeQueryRow{"NotFound", EFI_NOT_FOUND, EFI_SUCCESS, 5,
                                 "Could not read SampleValue size from var store: Not Found\n"},
                    SizeQueryRow{"DeviceError", EFI_DEVICE_ERROR, EFI_SUCCESS, 5,
                                 "Could not read SampleValue size from var store: Device Error\n"},
                    SizeQueryRow{"SecurityViolation", EFI_SECURITY_VIOLATION, EFI_SUCCESS, 5,
                                 "Could not read SampleValue size from var store: Security Violation\n"},
                    SizeQueryRow{"SuccessWithoutABuffer", EFI_SUCCESS, EFI_DEVICE_ERROR, 0x21,
                                 "Could not read SampleValue size from var store: Success\n"}),
    [](const testing::TestParamInfo<SizeQueryRow> &Info) { return std::string(Info.param.Name); });

TEST_F(DsdtIntegerVariableFault, MissingRuntimeServicesFailWithoutAWrite) {
  std::vector<UINT8> Dsdt = IntegerTable(AML_WORD_PREFIX);
  const std::vector<UINT8> Before = Dsdt;
  std::vector<UINT8> Record = capture_test::IntegerRecord(
      kDsdt, MakeLocator("\\ITST", 37, AML_WORD_PREFIX, 42), AcpiDataIntegerTypeVariable, 5);
  const std::vector<UINT8> Element = MakeIntegerElement(Record, 0);
  EFI_RUNTIME_SERVICES *Saved = gRT;
  gRT = nullptr;
  EXPECT_EQ(PatchDsdtInteger(Dsdt.data(), Header(Element), Header(Record)), EFI_INVALID_PARAMETER);
  gRT = Saved;
  EXPECT_EQ(Logged("PatchDsdtInteger - Error, gRT == NULL.\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(Dsdt, Before);
}

TEST_F(DsdtIntegerVariableFault, EveryPoolFailureOfAVariableReadIsAnErrorWithoutLeak) {
  std::vector<UINT8> Record = capture_test::IntegerRecord(
      kDsdt, MakeLocator("\\ITST", 37, AML_WORD_PREFIX, 42), AcpiDataIntegerTypeVariable, 5);
  const std::vector<UINT8> Element = MakeIntegerElement(Record, 0);
  const EFI_GUID Guid = {};
  ASSERT_EQ(Platform->Variables().Set(u"SampleValue", &Guid, 7, kTwoBytes.size(), kTwoBytes.data()),
            EFI_SUCCESS);
  Platform->Pool().StartCounting();
  std::vector<UINT8> Dsdt = IntegerTable(AML_WORD_PREFIX);
  ASSERT_EQ(PatchDsdtInteger(Dsdt.data(), Header(Element), Header(Record)), EFI_SUCCESS);
  const UINT64 Allocations = Platform->Pool().AllocationsCounted();
  ASSERT_GE(Allocations, 1u);
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    SCOPED_TRACE(Nth);
    Dsdt = IntegerTable(AML_WORD_PREFIX);
    const std::vector<UINT8> Before = Dsdt;
    Platform->Pool().FailAllocation(Nth);
    EXPECT_TRUE(EFI_ERROR(PatchDsdtInteger(Dsdt.data(), Header(Element), Header(Record))));
    EXPECT_EQ(Dsdt, Before);
    EXPECT_EQ(Platform->Pool().OutstandingCount(), PoolAtStart);
  }
  EXPECT_EQ(Logged("PatchDsdtInteger - Unable to allocate 0x2 bytes\n", DEBUG_ERROR), 1u);
}

// --- NVS elements built by hand -------------------------------------------------------------

class DsdtNvsEdges : public PatchTest {
 protected:
  // A DSDT with RGN0 at DWord address 0x7F000000 and a length constant of
  // LengthPrefix, and a default element for it carrying Data.
  void Build(UINT8 LengthPrefix, const std::vector<UINT8> &LengthBytes, const std::vector<UINT8> &Data,
             UINT8 LocatorPrefix = AML_DWORD_PREFIX, UINT8 AddressPrefix = AML_DWORD_PREFIX,
             std::vector<UINT8> AddressBytes = {0x00, 0x00, 0x00, 0x7F}) {
    Dsdt = MakeAmlTable("DSDT", OpRegionBody(AddressPrefix, AddressBytes, LengthPrefix, LengthBytes));
    Before = Dsdt;
    Locator = MakeLocator("\\RGN0", kRegionNameOffset, LocatorPrefix, kRegionAddressOffset);
    Record = capture_test::NvsDefaultRecord(kDsdt, 0, Locator);
    Element = MakeNvsElement(Record, kDefaultFixed, AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault, Data);
  }
  std::vector<UINT8> Dsdt, Before, Record, Element;
  AML_OBJECT_LOCATOR Locator{};
};

TEST_F(DsdtNvsEdges, RegionOfOnePageAndOneByteGetsTwoPagesAndAFullDump) {
  const std::vector<UINT8> Data = Pattern(0x1001, 3);
  Build(AML_WORD_PREFIX, {0x00, 0x01}, Data);
  ASSERT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  const RegionPages Region = NewPages().front();
  EXPECT_EQ(Region.Pages, 2u);
  EXPECT_EQ(Region.Type, EfiACPIMemoryNVS);
  EXPECT_LE(Region.Address + 2 * EFI_PAGE_SIZE, kFourGiB);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const VOID *>(Region.Address), Data.data(), Data.size()), 0);
  EXPECT_EQ(ReadLe(Dsdt, kRegionAddressOffset, 4), Region.Address);
  EXPECT_EQ(ReadLe(Dsdt, kRegionAddressOffset + 5, 2), 0x1001u);
  EXPECT_EQ(Dsdt.back(), 0xA5);
  EXPECT_EQ(Logged("[Patched NVS]"), 257u);
}

TEST_F(DsdtNvsEdges, EmptyRegionStillGetsAnAddress) {
  Build(AML_BYTE_PREFIX, {0x10}, {});
  ASSERT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  EXPECT_EQ(ReadLe(Dsdt, kRegionAddressOffset, 4), NewPages().front().Address);
  EXPECT_EQ(ReadLe(Dsdt, kRegionAddressOffset + 5, 1), 0u);
}

TEST_F(DsdtNvsEdges, LengthThatIsNoPrefixedConstantIsLeftButTheAddressIsPatched) {
  Build(AML_ONE_OP, {}, Pattern(0x10, 1));
  ASSERT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  ASSERT_EQ(NewPages().size(), 1u);
  EXPECT_EQ(ReadLe(Dsdt, kRegionAddressOffset, 4), NewPages().front().Address);
  EXPECT_EQ(Dsdt[kRegionAddressOffset + 4], AML_ONE_OP);
  EXPECT_EQ(Dsdt[kRegionAddressOffset + 5], 0xA5);
  EXPECT_EQ(
      Logged("PatchDsdtNVS - Unrecognized opcode 0x1 in patching DSDT with NVS length 0x10\n", DEBUG_ERROR),
      1u);
}

TEST_F(DsdtNvsEdges, AddressPrefixThatIsNoIntegerWritesNothingButKeepsThePages) {
  Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1), AML_ONE_OP);
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_COMPROMISED_DATA);
  EXPECT_EQ(Dsdt, Before);
  EXPECT_EQ(NewPages().size(), 1u) << "region pages are never freed";
  EXPECT_EQ(LinesStartingWith("PatchDsdtNVS - Unrecognized opcode 0x1 in patching DSDT with NvsAddres 0x"),
            1u);
}

TEST_F(DsdtNvsEdges, UnsupportedAndUnknownNvsKindsAreRefusedBeforeAnyAllocation) {
  Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1));
  reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data())->AcpiDataNvsType = AcpiDataNvsType1;
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Logged("PatchDsdtNVS - Type 1 DSDT NVS not presently supported\n", DEBUG_ERROR), 1u);
  reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data())->AcpiDataNvsType = 7;
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Logged("PatchDsdtNVS - Invalid AcpiDataNvsType: 7 for DSDT NVS\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(Logged("PatchDsdtNVS -   DSDT NVS path name is \\RGN0\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Dsdt, Before);
  EXPECT_TRUE(NewPages().empty());
}

TEST_F(DsdtNvsEdges, FailedPageAllocationIsReportedAndWritesNothing) {
  Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1));
  Platform->Pages().FailAllocation(1);
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Logged("PatchDsdtNVS - Unable to allocate 0x10 byte buffer\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(Dsdt, Before);
  EXPECT_TRUE(NewPages().empty());
}

// Elements and tables that disagree: each is refused and the DSDT stays as it was.
struct NvsFaultRow {
  const char *Name;
  EFI_STATUS Expected;
  bool Allocates;  // the refusal comes after the region pages exist
};

void PrintTo(const NvsFaultRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class DsdtNvsFaults : public DsdtNvsEdges, public testing::WithParamInterface<NvsFaultRow> {
 protected:
  void Prepare(const std::string &Name) {
    if (Name == "NvsLengthRunsPastTheElement") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1));
      const UINT64 TooLong = 0x11;
      std::memcpy(Element.data() + kDefaultFixed - 8, &TooLong, 8);
    } else if (Name == "ElementShorterThanItsLocator") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1));
      Element.resize(100);
      reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data())->AcpiCommonHeader.Length = 100;
    } else if (Name == "ElementShorterThanItsFixedPart") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, {});
      Element.resize(155);
      reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data())->AcpiCommonHeader.Length = 155;
    } else if (Name == "LengthConstantPastTheTable") {
      Build(AML_DWORD_PREFIX, {0x10, 0x00, 0x00, 0x00}, Pattern(0x10, 1));
      const UINT32 Cut = kRegionAddressOffset + 4 + 1 + 2;  // the length's data is cut in half
      std::memcpy(Dsdt.data() + 4, &Cut, 4);
      Before = Dsdt;
    } else if (Name == "AddressConstantPastTheTable") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1));
      Locator.ValueOffset = 0x1000;
      std::memcpy(Element.data() + 68, &Locator, sizeof(Locator));
    } else if (Name == "LengthTooBigForItsByteConstant") {
      Build(AML_BYTE_PREFIX, {0x10}, Pattern(0x101, 1));
    } else if (Name == "AddressTooBigForItsWordConstant") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1), AML_WORD_PREFIX, AML_WORD_PREFIX, {0x00, 0x10});
    } else if (Name == "LocatorPrefixDisagreesWithTheAml") {
      Build(AML_WORD_PREFIX, {0x10, 0x00}, Pattern(0x10, 1), AML_DWORD_PREFIX, AML_QWORD_PREFIX,
            {0, 0, 0, 0x7F, 0, 0, 0, 0});
    }
  }
};

TEST_P(DsdtNvsFaults, RefusedWithTheDsdtUntouched) {
  Prepare(GetParam().Name);
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), GetParam().Expected) << DebugDump();
  EXPECT_EQ(Dsdt, Before);
  EXPECT_EQ(NewPages().size(), GetParam().Allocates ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DsdtNvsFaults,
    testing::Values(NvsFaultRow{"NvsLengthRunsPastTheElement", EFI_COMPROMISED_DATA, false},
                    NvsFaultRow{"ElementShorterThanItsLocator", EFI_COMPROMISED_DATA, false},
                    NvsFaultRow{"ElementShorterThanItsFixedPart", EFI_COMPROMISED_DATA, false},
                    NvsFaultRow{"LengthConstantPastTheTable", EFI_COMPROMISED_DATA, true},
                    NvsFaultRow{"AddressConstantPastTheTable", EFI_COMPROMISED_DATA, true},
                    NvsFaultRow{"LengthTooBigForItsByteConstant", EFI_INVALID_PARAMETER, true},
                    NvsFaultRow{"AddressTooBigForItsWordConstant", EFI_INVALID_PARAMETER, true},
                    NvsFaultRow{"LocatorPrefixDisagreesWithTheAml", EFI_COMPROMISED_DATA, true}),
    [](const testing::TestParamInfo<NvsFaultRow> &Info) { return std::string(Info.param.Name); });

// --- Type 2 elements built by hand ------------------------------------------------------------

class DsdtType2Edges : public PatchTest {
 protected:
  // Parent RGN0: the sample window's first region, 0x100 bytes at 0x7F000000.
  void Build(TYPE_2_NVS_FIELD Address, TYPE_2_NVS_LENGTH_FIELD Length, const std::vector<UINT8> &Data) {
    Dsdt = MakeAmlTable(
        "DSDT", OpRegionBody(AML_DWORD_PREFIX, {0x00, 0x00, 0x00, 0x7F}, AML_WORD_PREFIX, {0x00, 0x01}));
    Before = Dsdt;
    const AML_OBJECT_LOCATOR Locator =
        MakeLocator("\\RGN0", kRegionNameOffset, AML_DWORD_PREFIX, kRegionAddressOffset);
    const std::vector<UINT8> Record =
        capture_test::Type2Record(kDsdt, AcpiDataSubTypeNvs, 0, Locator, Address, Length);
    Element = MakeNvsElement(Record, kType2Fixed, AcpiDataSubTypeNvs, AcpiDataNvsType2, Data);
    Parent = sim::AcpiRegionPointer(sim::kAcpiRegionWindowBase);
    std::memset(Parent + 0x20, 0xEE, 0x10);
  }
  std::vector<UINT8> Dsdt, Before, Element;
  UINT8 *Parent = nullptr;
};

TEST_F(DsdtType2Edges, LiteralAddressFieldIsSkippedAndTheLengthStillLands) {
  Build({LITERAL_TYPE_2_NVS_MODE, 3, {}, 0x1234}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0x24}, Pattern(0x30, 9));
  ASSERT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_SUCCESS) << DebugDump();
  EXPECT_EQ(ReadLe(Parent + 0x24, 2), 0x30u);
  EXPECT_EQ(ReadLe(Parent + 0x20, 4), 0xEEEEEEEEu);
  EXPECT_EQ(Logged("SetType2NvsValue - TODO: Is LITERAL_TYPE_2_NVS_MODE really an NOP?\n", DEBUG_INFO), 1u);
  EXPECT_EQ(Dsdt, Before);
}

TEST_F(DsdtType2Edges, AddressTooWideForItsFieldIsRefusedBeforeEitherWrite) {
  Build({FIELD_TYPE_2_NVS_MODE, 2, {}, 0x20}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0x24}, Pattern(0x30, 9));
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadLe(Parent + 0x20, 8), 0xEEEEEEEEEEEEEEEEull);
  EXPECT_EQ(Logged("PatchDsdtNVS - Unable to patch a DSDT NVS Type 2\n", DEBUG_ERROR), 1u);
  EXPECT_EQ(NewPages().size(), 1u);
}

TEST_F(DsdtType2Edges, FieldOutsideTheParentFailsWithItsOwnLines) {
  Build({FIELD_TYPE_2_NVS_MODE, 3, {}, 0x20}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0xFF}, Pattern(0x30, 9));
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Logged("ProcessDsdtNvsType2OnCertifiedPath - Failed to set NVS length in parent opregion\n",
                   DEBUG_ERROR),
            1u);
  EXPECT_EQ(Logged("PatchDsdtNVS - Unable to patch a DSDT NVS Type 2\n", DEBUG_ERROR), 1u);
}

TEST_F(DsdtType2Edges, ParentThatIsNoDefOpRegionFails) {
  Build({FIELD_TYPE_2_NVS_MODE, 3, {}, 0x20}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0x24}, Pattern(0x30, 9));
  Dsdt[kRegionAddressOffset + 4] = AML_ONE_OP;
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Logged("ProcessDsdtNvsType2OnCertifiedPath - Failed to get NVS address and length from parent "
                   "opregion\n",
                   DEBUG_ERROR),
            1u);
  EXPECT_EQ(ReadLe(Parent + 0x20, 8), 0xEEEEEEEEEEEEEEEEull);
}

TEST_F(DsdtType2Edges, FailedPageAllocationIsReported) {
  Build({FIELD_TYPE_2_NVS_MODE, 3, {}, 0x20}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0x24}, Pattern(0x30, 9));
  Platform->Pages().FailAllocation(1);
  EXPECT_EQ(PatchDsdtNVS(Dsdt.data(), Header(Element)), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Logged("ProcessDsdtNvsType2OnCertifiedPath - Unable to allocate 30 byte buffer\n", DEBUG_ERROR),
            1u);
  EXPECT_EQ(ReadLe(Parent + 0x20, 8), 0xEEEEEEEEEEEEEEEEull);
}

}  // namespace
