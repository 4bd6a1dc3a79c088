// Memory operations the whole driver relies on: overlap-safe copies, the UCS-2
// length cap and pool helpers bound to the platform's boot services.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace {

struct OverlapCase {
  const char *Name;
  size_t Src;
  size_t Dst;
  size_t Length;
};

void PrintTo(const OverlapCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class CopyMemOverlap : public testing::TestWithParam<OverlapCase> {};

// memmove is the independent oracle for every overlap direction.
TEST_P(CopyMemOverlap, MatchesMemmove) {
  const OverlapCase &Case = GetParam();
  std::vector<UINT8> Ours(64), Oracle(64);
  std::iota(Ours.begin(), Ours.end(), 1);
  Oracle = Ours;
  CopyMem(Ours.data() + Case.Dst, Ours.data() + Case.Src, Case.Length);
  memmove(Oracle.data() + Case.Dst, Oracle.data() + Case.Src, Case.Length);
  EXPECT_EQ(Ours, Oracle);
}

INSTANTIATE_TEST_SUITE_P(
    Directions, CopyMemOverlap,
    testing::Values(OverlapCase{"Disjoint", 0, 32, 16}, OverlapCase{"DestAfterSrc", 4, 10, 30},
                    OverlapCase{"DestBeforeSrc", 10, 4, 30}, OverlapCase{"Same", 8, 8, 20},
                    OverlapCase{"AdjacentAfter", 0, 16, 16}, OverlapCase{"Empty", 3, 9, 0}),
    [](const testing::TestParamInfo<OverlapCase> &Info) { return std::string(Info.param.Name); });

TEST(MemoryServices, CompareMemReturnsDifferenceOfFirstDifferingBytes) {
  const UINT8 A[] = {1, 2, 0x80, 4};
  const UINT8 B[] = {1, 2, 0x10, 9};
  EXPECT_EQ(CompareMem(A, B, 2), 0);
  EXPECT_EQ(CompareMem(A, B, 4), 0x80 - 0x10);
  EXPECT_EQ(CompareMem(B, A, 4), 0x10 - 0x80);
}

TEST(MemoryServices, SetMem16FillsWholeUnitsOnly) {
  UINT8 Buffer[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  SetMem16(Buffer, 5, 0x1234);
  const UINT8 Expected[5] = {0x34, 0x12, 0x34, 0x12, 0xEE};
  EXPECT_EQ(0, memcmp(Buffer, Expected, 5));
}

TEST(MemoryServices, StrLenCountsUpTo65535) {
  EXPECT_EQ(StrLen(nullptr), 0u);
  EXPECT_EQ(StrLen(u""), 0u);
  EXPECT_EQ(StrLen(u"AcpiCacheLockIndicator"), 22u);
  std::vector<CHAR16> Long(70000, u'A');
  Long.push_back(0);
  EXPECT_EQ(StrLen(Long.data()), 65535u);
}

TEST(MemoryServices, PoolComesFromBootServicesDataAndIsAccounted) {
  sim::Platform Platform;
  gBS = Platform.BootServices();
  UINT8 *Buffer = static_cast<UINT8 *>(AllocateZeroPool(100));
  ASSERT_NE(Buffer, nullptr);
  EXPECT_EQ(std::vector<UINT8>(Buffer, Buffer + 100), std::vector<UINT8>(100, 0));
  ASSERT_EQ(Platform.Pool().Live().size(), 1u);
  EXPECT_EQ(Platform.Pool().Live().begin()->second.Type, EfiBootServicesData);
  FreePool(Buffer);
  EXPECT_EQ(Platform.LeakCheck(), "");
}

TEST(MemoryServices, AllocatePoolReturnsNullWhenThePlatformRefuses) {
  sim::Platform Platform;
  gBS = Platform.BootServices();
  Platform.Pool().FailAllocation(1);
  EXPECT_EQ(AllocateZeroPool(16), nullptr);
  EXPECT_EQ(Platform.LeakCheck(), "");
}

}  // namespace
