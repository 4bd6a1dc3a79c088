// A custom-path boot of the driver on the sample platform, end to end: the
// capture lands in AcpiDataCache, the lock indicator makes it read-only, and a
// later boot rewrites it only when something that matters changed.
#include <cstring>

#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/AcpiRegions.h"
#include "tests/custom_path/CustomPathBoot.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"

namespace custom_path_test {
namespace {

constexpr UINT32 kCacheAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// Finds Name (an AML NameSeg) followed by a WordPrefix constant and sets it.
void SetWordConstant(std::vector<UINT8> *Aml, const char *Name, UINT16 Value) {
  for (size_t Index = 0; Index + 7 <= Aml->size(); Index++) {
    if (memcmp(Aml->data() + Index, Name, 4) == 0 && (*Aml)[Index + 4] == 0x0B) {
      (*Aml)[Index + 5] = static_cast<UINT8>(Value);
      (*Aml)[Index + 6] = static_cast<UINT8>(Value >> 8);
      return;
    }
  }
  FAIL() << "no word constant " << Name;
}

inspect::InspectReport Inspect(const std::vector<UINT8> &Data) {
  return inspect::InspectCache(Data.data(), Data.size(),
                               inspect::InspectOptions{inspect::InputForm::Raw, false});
}

class CustomPathBoot : public CustomPathBoots {};

TEST_F(CustomPathBoot, FirstBootStoresTheCacheThenLocksIt) {
  sim::BootStep Intruder = sim::BootStep::SetVariable(
      ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid, kCacheAttributes, {1, 2, 3});
  sim::BootResult Result = Boot(nullptr, {Intruder});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_TRUE(Result.Notes.empty()) << Result.Notes[0];

  std::vector<sim::VariableWrite> CacheWrites = WritesOf(Result, ACPI_DATA_CACHE_VARIABLE_NAME);
  ASSERT_EQ(CacheWrites.size(), 2u) << Result.Describe();
  EXPECT_EQ(CacheWrites[0].Status, EFI_SUCCESS);
  EXPECT_EQ(CacheWrites[0].Attributes, kCacheAttributes);
  // Once the lock indicator is set, nobody may write the cache this boot.
  EXPECT_EQ(CacheWrites[1].Status, EFI_WRITE_PROTECTED);

  std::vector<sim::VariableWrite> LockWrites = WritesOf(Result, kAcpiCacheLockIndicatorName);
  ASSERT_EQ(LockWrites.size(), 1u);
  EXPECT_EQ(LockWrites[0].Status, EFI_SUCCESS);
  EXPECT_EQ(LockWrites[0].Attributes, EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS);
  EXPECT_EQ(LockWrites[0].Data, std::vector<UINT8>{1});

  std::vector<UINT8> Stored;
  UINT32 Attributes = 0;
  ASSERT_TRUE(ReadCache(&Stored, &Attributes));
  EXPECT_EQ(Attributes, kCacheAttributes);
  EXPECT_EQ(Stored, CacheWrites[0].Data);
  EXPECT_TRUE(Result.Records.Failures.empty());
  EXPECT_EQ(Result.PoolOutstanding, 0u) << Result.LeakReport;
}

TEST_F(CustomPathBoot, StoredCacheHoldsTheSamplePlatformsEntriesInCaptureOrder) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  std::vector<UINT8> Stored;
  UINT32 Attributes = 0;
  ASSERT_TRUE(ReadCache(&Stored, &Attributes));
  inspect::InspectReport Report = Inspect(Stored);
  ASSERT_TRUE(Report.Loaded) << Report.Error;

  struct Expected {
    UINT32 Type;
    const char *Signature;
  };
  // FADT, FACS, the DSDT and its seven elements, the data tables the meta data
  // keeps (HPET is marked not stored), then each SSDT with its elements.
  const Expected Sequence[] = {
      {1, "FACP"}, {2, "FACS"}, {3, "DSDT"}, {3, "DSDT"}, {3, "DSDT"}, {3, "DSDT"}, {3, "DSDT"}, {3, "DSDT"},
      {3, "DSDT"}, {4, "APIC"}, {4, "MCFG"}, {5, "SSDT"}, {5, "SSDT"}, {5, "SSDT"}, {5, "SSDT"}, {5, "SSDT"},
  };
  ASSERT_EQ(Report.Entries.size(), std::size(Sequence));
  for (size_t Index = 0; Index < std::size(Sequence); Index++) {
    const inspect::CacheEntry &Entry = Report.Entries[Index];
    ASSERT_TRUE(Entry.HeaderValid) << Index << ": " << Entry.Problem;
    EXPECT_EQ(Entry.Header.AcpiDataType, Sequence[Index].Type) << "entry " << Index;
    EXPECT_EQ(0, memcmp(&Entry.Header.AcpiCommonHeader.Signature, Sequence[Index].Signature, 4))
        << "entry " << Index;
  }
}

TEST_F(CustomPathBoot, UnchangedTablesAreNotWrittenAgain) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  sim::BootResult Second = Boot();
  ASSERT_EQ(Second.End, sim::BootEnd::Normal) << Second.Describe();
  EXPECT_TRUE(WritesOf(Second, ACPI_DATA_CACHE_VARIABLE_NAME).empty());
  EXPECT_EQ(WritesOf(Second, kAcpiCacheLockIndicatorName).size(), 1u);
}

TEST_F(CustomPathBoot, ChangedIntegerConstantRewritesTheCache) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  SetWordConstant(Sample.MutableTable("dsdt"), "IWRD", 0x4321);
  sim::BootResult Second = Boot();
  ASSERT_EQ(Second.End, sim::BootEnd::Normal) << Second.Describe();
  ASSERT_EQ(WritesOf(Second, ACPI_DATA_CACHE_VARIABLE_NAME).size(), 1u);
  EXPECT_EQ(WritesOf(Second, ACPI_DATA_CACHE_VARIABLE_NAME)[0].Status, EFI_SUCCESS);
}

TEST_F(CustomPathBoot, ChangedNvsByteRewritesTheCache) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  sim::BootResult Second = Boot([](sim::BootContext &) { sim::AcpiRegionPointer(0x7F000000)[0x40] ^= 0xFF; });
  ASSERT_EQ(Second.End, sim::BootEnd::Normal) << Second.Describe();
  EXPECT_EQ(WritesOf(Second, ACPI_DATA_CACHE_VARIABLE_NAME).size(), 1u);
}

TEST_F(CustomPathBoot, FacsHardwareSignatureChangeIsIgnored) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  std::vector<UINT8> *Facs = Sample.MutableTable("facs");
  ASSERT_NE(Facs, nullptr);
  (*Facs)[8] ^= 0x5A;  // HardwareSignature changes with the hardware configuration
  sim::BootResult Second = Boot();
  ASSERT_EQ(Second.End, sim::BootEnd::Normal) << Second.Describe();
  EXPECT_TRUE(WritesOf(Second, ACPI_DATA_CACHE_VARIABLE_NAME).empty());
}

TEST_F(CustomPathBoot, SecondSignalOfTheGroupFindsTheEventClosed) {
  sim::BootResult Result =
      Boot(nullptr, {sim::BootStep::EventGroup(gCustomPathEventGroupGuid, "custom-path-again")});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(WritesOf(Result, kAcpiCacheLockIndicatorName).size(), 1u);
  int Entered = 0;
  for (const std::string &Line : Result.DebugLines())
    Entered += Line == "CustomPathReadyToBootNotification() - Enter";
  EXPECT_EQ(Entered, 1);
}

}  // namespace
}  // namespace custom_path_test
