// The dump application's view of where the fixture tables' regions lie: every
// kind of RegionOffset/RegionLen term the fixtures use, against the addresses
// their ASL declares, with the simulator's window behind the parent fields.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/AcpiRegions.h"
#include "tests/qemu/RegionResolver.h"

namespace {

std::vector<UINT8> LoadFixture(const std::string &Name) {
  std::ifstream In(std::string(ZEPHRIN_ACPI_FIXTURE_DIR) + "/" + Name + ".aml", std::ios::binary);
  return std::vector<UINT8>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

class RegionResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "region window at 0x7F000000 not mappable";
    for (const char *Name : {"dsdt", "ssdt_nvs", "ssdt_nonnvs"}) {
      Tables.push_back(LoadFixture(Name));
      if (Tables.back().empty())
        GTEST_SKIP() << "compiled fixture " << Name << " missing (iasl not installed?)";
    }
  }
  std::vector<std::vector<UINT8>> Tables;
};

TEST_F(RegionResolverTest, EveryFixtureRegionAtItsDeclaredPlace) {
  struct {
    size_t Table;
    const char *Path;
    UINT64 Address;
    UINT64 Length;
  } Cases[] = {
      {0, "\\GNVS", 0x7F000000, 0x100},          // DWord and Word constants
      {0, "\\BNVS", 0x7F001000, 0x20},           // Byte length
      {0, "\\CNVS", 0x7F002000, 0x40},           // fields of \GNVS in memory
      {1, "\\SNV0", 0x7F003000, 0x80},           // constants
      {1, "\\SNV1", 0x7F004000, 0x100},          // Name constants \SNVA, \SNVL
      {2, "\\_SB.SCRA.PNVS", 0x7F005000, 0x10},  // inside a device
      {2, "\\_SB.SCRA.NNVS", 0x7F006000, 0x30},  // fields of a region in the same scope
  };
  for (const auto &Case : Cases) {
    UINT64 Address = 0;
    UINT64 Length = 0;
    EXPECT_EQ(EFI_SUCCESS, ResolveOpRegion(Tables[Case.Table].data(), Case.Path, &Address, &Length))
        << Case.Path;
    EXPECT_EQ(Case.Address, Address) << Case.Path;
    EXPECT_EQ(Case.Length, Length) << Case.Path;
  }
}

TEST_F(RegionResolverTest, FieldBasedRegionsFollowTheParentMemory) {
  // What a restore does: the parent fields now name another place.
  UINT8 *Gnvs = sim::AcpiRegionPointer(0x7F000000);
  Gnvs[0x10] = 0x00;
  Gnvs[0x11] = 0x80;  // 0x7F008000
  Gnvs[0x14] = 0x18;
  Gnvs[0x15] = 0x00;
  UINT64 Address = 0;
  UINT64 Length = 0;
  ASSERT_EQ(EFI_SUCCESS, ResolveOpRegion(Tables[0].data(), "\\CNVS", &Address, &Length));
  EXPECT_EQ(0x7F008000u, Address);
  EXPECT_EQ(0x18u, Length);
}

TEST_F(RegionResolverTest, FieldUnitsAndRefusals) {
  CHAR8 Region[4];
  UINT64 Offset = 0;
  UINT64 Width = 0;
  ASSERT_EQ(EFI_SUCCESS, FindFieldUnit(Tables[0].data(), "CNVL", Region, &Offset, &Width));
  EXPECT_EQ(std::string("GNVS"), std::string(Region, 4));
  EXPECT_EQ(0x14u * 8, Offset);
  EXPECT_EQ(16u, Width);
  ASSERT_EQ(EFI_SUCCESS, FindFieldUnit(Tables[2].data(), "NNVL", Region, &Offset, &Width));
  EXPECT_EQ(std::string("PNVS"), std::string(Region, 4));
  EXPECT_EQ(32u, Offset);
  EXPECT_EQ(EFI_NOT_FOUND, FindFieldUnit(Tables[0].data(), "NNVL", Region, &Offset, &Width));

  UINT64 Address = 0;
  UINT64 Length = 0;
  EXPECT_EQ(EFI_NOT_FOUND, ResolveOpRegion(Tables[0].data(), "\\SNV0", &Address, &Length))
      << "other table's region";
  EXPECT_EQ(EFI_NOT_FOUND, ResolveOpRegion(Tables[0].data(), "\\IBYT", &Address, &Length))
      << "a Name, no region";
  // NNVS's fields live in PNVS; without the SSDT's PNVS the field is unknown.
  std::vector<UINT8> Truncated(Tables[2].begin(), Tables[2].begin() + 40);
  Truncated[4] = 40;
  Truncated[5] = Truncated[6] = Truncated[7] = 0;
  EXPECT_NE(EFI_SUCCESS, ResolveOpRegion(Truncated.data(), "\\_SB.SCRA.NNVS", &Address, &Length));
}

}  // namespace
