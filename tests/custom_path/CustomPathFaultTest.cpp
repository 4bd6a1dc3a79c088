// Faults on a custom-path boot: a full store, a cache above the largest
// variable, a corrupt stored cache, and every pool allocation of the boot
// failing in turn. The boot always ends without a crash or leak, the failure
// is logged and notified, and the store holds the old cache or a valid new one.
#include <unistd.h>

#include <cstring>

#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/AcpiRegions.h"
#include "tests/custom_path/CustomPathBoot.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"

namespace custom_path_test {
namespace {

constexpr UINT32 kCacheAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

bool StoreHoldsValidCache(const std::vector<UINT8> &Data) {
  inspect::InspectReport Report = inspect::InspectCache(
      Data.data(), Data.size(), inspect::InspectOptions{inspect::InputForm::Raw, false});
  return Report.Loaded && !Report.Entries.empty();
}

class CustomPathFaults : public CustomPathBoots {
 protected:
  void ExpectStoreFailureReported(const sim::BootResult &Result) {
    ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
    bool Logged = false;
    for (const std::string &Line : Result.DebugLines()) {
      Logged |= Line.rfind("CustomPathReadyToBootNotification - Unable to store ACPI tables! ", 0) == 0;
    }
    EXPECT_TRUE(Logged) << Result.Describe();
    ASSERT_EQ(Result.Records.Failures.size(), 1u);
    EXPECT_EQ(Result.Records.Failures[0].Code, 8u);
    EXPECT_TRUE(Result.Records.Failures[0].DataWasNull);
    // The cache is locked whatever happened to the store.
    EXPECT_EQ(WritesOf(Result, kAcpiCacheLockIndicatorName).size(), 1u);
    EXPECT_EQ(Result.PoolOutstanding, 0u) << Result.LeakReport;
  }
};

TEST_F(CustomPathFaults, FullStoreIsReportedAndLeavesNoCache) {
  Options.Platform.NonVolatileStoreSize = 0x100;
  ExpectStoreFailureReported(Boot());
  std::vector<UINT8> Stored;
  UINT32 Attributes;
  EXPECT_FALSE(ReadCache(&Stored, &Attributes));
}

TEST_F(CustomPathFaults, CacheAboveTheLargestVariableIsReportedAndLeavesNoCache) {
  Options.Platform.MaxVariableSize = 0x400;
  ExpectStoreFailureReported(Boot());
  std::vector<UINT8> Stored;
  UINT32 Attributes;
  EXPECT_FALSE(ReadCache(&Stored, &Attributes));
}

TEST_F(CustomPathFaults, FailedRewriteKeepsTheOldCache) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  std::vector<UINT8> Before;
  UINT32 Attributes;
  ASSERT_TRUE(ReadCache(&Before, &Attributes));
  sim::BootResult Second = Boot([](sim::BootContext &Context) {
    sim::AcpiRegionPointer(0x7F000000)[0x41] ^= 0xFF;  // something that matters changed
    Context.Platform().Variables().FailSetVariable(1, EFI_DEVICE_ERROR, ACPI_DATA_CACHE_VARIABLE_NAME);
  });
  ExpectStoreFailureReported(Second);
  std::vector<UINT8> After;
  ASSERT_TRUE(ReadCache(&After, &Attributes));
  EXPECT_EQ(After, Before);
}

struct CorruptCache {
  const char *Name;
  UINT32 Attributes;
  std::vector<UINT8> (*Make)(const std::vector<UINT8> &Valid);
};

void PrintTo(const CorruptCache &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class CustomPathCorruptCache : public CustomPathBoots, public testing::WithParamInterface<CorruptCache> {};

// Whatever the stored cache holds, the boot captures afresh and leaves a valid
// cache behind; the broken one is never trusted.
TEST_P(CustomPathCorruptCache, IsReplacedByAValidCache) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  std::vector<UINT8> Valid;
  UINT32 Attributes;
  ASSERT_TRUE(ReadCache(&Valid, &Attributes));
  WriteCache(GetParam().Make(Valid), GetParam().Attributes);

  sim::BootResult Result = Boot();
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.PoolOutstanding, 0u) << Result.LeakReport;
  std::vector<UINT8> After;
  ASSERT_TRUE(ReadCache(&After, &Attributes));
  EXPECT_EQ(Attributes, kCacheAttributes);
  EXPECT_TRUE(StoreHoldsValidCache(After));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CustomPathCorruptCache,
    testing::Values(CorruptCache{"WrongAttributes", kCacheAttributes | EFI_VARIABLE_RUNTIME_ACCESS,
                                 [](const std::vector<UINT8> &Valid) { return Valid; }},
                    CorruptCache{"Truncated", kCacheAttributes,
                                 [](const std::vector<UINT8> &Valid) {
                                   return std::vector<UINT8>(Valid.begin(), Valid.begin() + Valid.size() / 2);
                                 }},
                    CorruptCache{"Garbage", kCacheAttributes,
                                 [](const std::vector<UINT8> &Valid) {
                                   std::vector<UINT8> Noise(Valid.size());
                                   for (size_t Index = 0; Index < Noise.size(); Index++)
                                     Noise[Index] = (Index * 131 + 7) & 0xFF;
                                   return Noise;
                                 }},
                    CorruptCache{"OriginalSizeLies", kCacheAttributes,
                                 [](const std::vector<UINT8> &Valid) {
                                   std::vector<UINT8> Lie = Valid;
                                   Lie[4] ^= 0x40;  // OrigSize in the stream header
                                   return Lie;
                                 }}),
    [](const testing::TestParamInfo<CorruptCache> &Info) { return std::string(Info.param.Name); });

// Every pool allocation of a whole first boot fails in turn. The boot goes on
// (the capture is simply lost for that boot), nothing leaks, and the store
// never holds a half-written cache.
TEST_F(CustomPathFaults, EveryAllocationOfTheBootFailingInTurn) {
  sim::BootResult Clean = Boot();
  ASSERT_EQ(Clean.End, sim::BootEnd::Normal) << Clean.Describe();
  const UINT64 Allocations = Clean.PoolAllocations;
  ASSERT_GT(Allocations, 0u);
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    unlink(StorePath.c_str());
    sim::BootResult Result =
        Boot([Nth](sim::BootContext &Context) { Context.Platform().Pool().FailAllocation(Nth); });
    ASSERT_EQ(Result.End, sim::BootEnd::Normal) << "allocation " << Nth << ": " << Result.Describe();
    EXPECT_EQ(Result.PoolOutstanding, 0u) << "allocation " << Nth << ": " << Result.LeakReport;
    EXPECT_EQ(WritesOf(Result, kAcpiCacheLockIndicatorName).size(), 1u) << "allocation " << Nth;
    std::vector<UINT8> Stored;
    UINT32 Attributes;
    if (ReadCache(&Stored, &Attributes)) EXPECT_TRUE(StoreHoldsValidCache(Stored)) << "allocation " << Nth;
  }
}

}  // namespace
}  // namespace custom_path_test
