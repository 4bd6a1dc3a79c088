// A platform built from a folder of tables (the sample's compiled fixtures as a
// real machine's tables): the FADT presented as 6.3, the default description,
// and region memory at the AML's address or, when that is taken, elsewhere with
// the table naming the new place.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sim/AcpiRegions.h"
#include "sim/AcpiTables.h"
#include "tools/sample-platform/DumpPlatform.h"

namespace {

constexpr UINT64 kGnvs = 0x7F000000;  // OperationRegion (GNVS, SystemMemory, 0x7F000000, 0x100)
constexpr UINT64 kBnvs = 0x7F001000;  // OperationRegion (BNVS, SystemMemory, 0x7F001000, 0x20)

class DumpPlatformFolder : public testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/zephrin-dump-platform-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
    for (const char *Name : {"facp", "facs", "dsdt", "apic"}) {
      std::vector<UINT8> Bytes =
          sim::ReadBinaryFile(std::string(ZEPHRIN_FIXTURE_AML_DIR) + "/" + Name + ".aml");
      ASSERT_FALSE(Bytes.empty()) << Name;
      Write(std::string(Name) + ".dat", Bytes);
    }
  }
  void TearDown() override { (void)system(("rm -rf " + Dir).c_str()); }
  void Write(const std::string &Name, const std::vector<UINT8> &Bytes) {
    std::ofstream(Dir + "/" + Name, std::ios::binary)
        .write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  }
  std::string Describe(const std::string &Text) {
    std::string Path = Dir + "/board.meta";
    std::ofstream(Path) << Text;
    return Path;
  }
  const sample::DumpTableInfo &Dsdt(const sample::DumpPlatform &Platform) {
    const sample::DumpTableInfo *Table = Platform.Find(SIGNATURE_32('D', 'S', 'D', 'T'));
    EXPECT_NE(Table, nullptr);
    return *Table;
  }
  std::string Dir;
};

TEST_F(DumpPlatformFolder, DefaultDescriptionStoresEverythingAndReadsTheDsdtFromAVolume) {
  sample::DumpPlatform Platform;
  std::string Error;
  ASSERT_TRUE(Platform.LoadTableFolder(Dir, &Error)) << Error;
  ASSERT_TRUE(Platform.UseDescription("", &Error)) << Error;
  std::vector<std::string> Names;
  for (const sample::DumpTableInfo &Table : Platform.Tables()) Names.push_back(Table.Name);
  EXPECT_EQ(Names, (std::vector<std::string>{"facp", "facs", "dsdt", "apic"}));
  ASSERT_EQ(Platform.Records().Tables.size(), 1u);
  const sample::MetaTableRecord &Record = Platform.Records().Tables[0];
  EXPECT_EQ(Record.Signature, SIGNATURE_32('D', 'S', 'D', 'T'));
  EXPECT_EQ(Record.SubType, 4u);
  ASSERT_TRUE(Record.HasFile);
  EXPECT_EQ(memcmp(&Record.File, &sample::kDumpDsdtFile, sizeof(EFI_GUID)), 0);
  EXPECT_TRUE(Platform.Records().Elements.empty());
}

TEST_F(DumpPlatformFolder, ADescriptionWithoutAVolumeDsdtIsToldToBeUnrestorable) {
  sample::DumpPlatform Platform;
  std::string Error;
  ASSERT_TRUE(Platform.LoadTableFolder(Dir, &Error)) << Error;
  ASSERT_TRUE(Platform.UseDescription(Describe("table DSDT stored\n"), &Error)) << Error;
  ASSERT_FALSE(Platform.Notes().empty());
  EXPECT_EQ(Platform.Notes().back(),
            "the description gives the DSDT no from-fv record: certified-path boots install no DSDT");
}

TEST_F(DumpPlatformFolder, RegionsGetTheirOwnAddressOrMoveWhenItIsTaken) {
  // Something else in this process holds GNVS's page; BNVS's page is free.
  void *Taken = mmap(reinterpret_cast<void *>(kGnvs), 0x1000, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(Taken, reinterpret_cast<void *>(kGnvs)) << "the test needs 0x7F000000 free at its start";
  sample::DumpPlatform Platform;
  std::string Error;
  ASSERT_TRUE(Platform.LoadTableFolder(Dir, &Error)) << Error;
  ASSERT_TRUE(Platform.UseDescription(
      Describe(
          "table DSDT from-fv file=3D0A55E1-92C4-4B7E-A16F-0C58E2479B13\nnvs DSDT \\GNVS\nnvs DSDT \\BNVS\n"),
      &Error))
      << Error;
  std::vector<UINT8> Before = Dsdt(Platform).Bytes;
  ASSERT_TRUE(Platform.BackRegions(&Error)) << Error;
  ASSERT_EQ(Platform.Regions().size(), 2u);

  const sample::RegionBacking &Gnvs = Platform.Regions()[0];
  EXPECT_EQ(Gnvs.Path, "\\GNVS");
  EXPECT_EQ(Gnvs.AmlAddress, kGnvs);
  EXPECT_TRUE(Gnvs.Moved());
  EXPECT_LT(Gnvs.Address, 0x100000000ull);
  EXPECT_EQ(Gnvs.Length, 0x100u);
  const sample::RegionBacking &Bnvs = Platform.Regions()[1];
  EXPECT_FALSE(Bnvs.Moved());
  EXPECT_EQ(Bnvs.Address, kBnvs);

  // The DSDT now names the moved region, with a valid checksum; nothing else changed.
  const sample::MetaElement &Element = Platform.Records().Elements[0];
  const std::vector<UINT8> &After = Dsdt(Platform).Bytes;
  UINT64 Named = 0;
  ASSERT_TRUE(sample::ReadAmlConstant(After, Element.First.ValueOffset, Element.First.Prefix, &Named));
  EXPECT_EQ(Named, Gnvs.Address);
  EXPECT_EQ(After[9], sim::AcpiChecksumFor(After.data(), After.size(), 9));
  for (size_t Offset = 0; Offset < After.size(); Offset++) {
    bool Patched =
        Offset == 9 || (Offset >= Element.First.ValueOffset && Offset < Element.First.ValueOffset + 4);
    if (!Patched) EXPECT_EQ(After[Offset], Before[Offset]) << "offset " << Offset;
  }
  // Both regions hold the pattern of their own address.
  for (const sample::RegionBacking &Region : Platform.Regions()) {
    const UINT8 *Memory = sim::AcpiRegionPointer(Region.Address);
    for (UINT32 Index = 0; Index < Region.Length; Index++)
      ASSERT_EQ(Memory[Index], sim::AcpiRegionPatternByte(Region.Address, Index))
          << Region.Path << " " << Index;
  }
  munmap(Taken, 0x1000);
}

TEST_F(DumpPlatformFolder, ARegionOfAMissingTableOrAnUnbackableKindIsNamed) {
  sample::DumpPlatform Platform;
  std::string Error;
  ASSERT_TRUE(Platform.LoadTableFolder(Dir, &Error)) << Error;
  ASSERT_TRUE(
      Platform.UseDescription(Describe("nvs-type2 DSDT \\GNVS address=2,3,0x10 length=2,2,0x14\n"), &Error))
      << Error;
  EXPECT_FALSE(Platform.BackRegions(&Error));
  EXPECT_EQ(
      Error,
      "DSDT \\GNVS: Type 2 regions (address and length in a parent region's fields) are not backed on a dump "
      "platform");
}

}  // namespace
