// acpi-cache-inspect on the files an engineer really has: the variable file
// OVMF wrote in QEMU, a flash image holding the store a simulated custom-path
// boot of the driver wrote, and the UEFI shell's dmpstore file; and bad stores,
// each refused with the offset it names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ostream>

#include "acpi_dxe/blob/BlobCache.h"
#include "sim/DmpStore.h"
#include "sim/FvImage.h"
#include "sim/VarStoreImage.h"
#include "tests/inspect/InspectTestSupport.h"
#include "tests/inspect/InspectorBoots.h"

namespace {

using namespace inspect_test;

std::string FixturePath(const std::string &Name) {
  return std::string(ZEPHRIN_VARSTORE_FIXTURE_DIR) + "/" + Name;
}

class StoreInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (InspectorPath().empty()) GTEST_SKIP() << "acpi-cache-inspect was not built with this test";
    Dir = MakeTempDir();
    ASSERT_FALSE(Dir.empty());
  }
  void TearDown() override {
    if (!Dir.empty()) std::filesystem::remove_all(Dir);
  }
  std::string Write(const std::string &Name, const Bytes &Data) {
    const std::string Path = Dir + "/" + Name;
    EXPECT_TRUE(WriteHostFile(Path, Data));
    return Path;
  }
  std::string Dir;
};

TEST_F(StoreInput, VariableFileOvmfWroteGivesTheCurrentCacheAndVerboseTheDeletedCopy) {
  const ToolRun Run = RunInspector({"--varstore", "--verbose", FixturePath("OVMF_VARS_4M.cache.fd")});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  ASSERT_EQ(Lines.size(), 4u + 16u);
  EXPECT_EQ(Lines[0],
            "variable store: volume @0x0, authenticated store @0x48 (0x3ffb8 bytes, 0x3ba38 free), 29 "
            "variables");
  EXPECT_EQ(Lines[1], "skipped AcpiDataCache @0x4098 (64 bytes): deleted");
  EXPECT_EQ(Lines[2],
            "AcpiCacheLockIndicator: not in the store (volatile: set at the end of a custom-path boot, "
            "gone at the next)");
  EXPECT_EQ(Lines[3],
            "AcpiDataCache: variable store record @0x4130, attributes 0x00000003 (NV+BS), 1087 bytes "
            "compressed, 3721 bytes decompressed, 16 entries");
  EXPECT_EQ(Lines[4].rfind("entry 0 @0x0: type FADT, sub-type Table, signature FACP", 0), 0u) << Lines[4];

  const ToolRun Quiet = RunInspector({"--varstore", FixturePath("OVMF_VARS_4M.cache.fd")});
  EXPECT_EQ(Quiet.Stdout.find("skipped"), std::string::npos);
}

// The variable file of a custom-path boot of the shipped driver on OVMF (the
// QEMU end-to-end run's first boot): OVMF's variable driver wrote the record the
// driver handed to SetVariable.
TEST_F(StoreInput, VariableFileOfADriverBootOnOvmfGivesTheCapturedTables) {
  const ToolRun Run = RunInspector({"--varstore", FixturePath("OVMF_VARS_4M.driver.fd")});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  ASSERT_EQ(Lines.size(), 3u + 16u);
  EXPECT_EQ(Lines[0],
            "variable store: volume @0x0, authenticated store @0x48 (0x3ffb8 bytes, 0x3bd04 free), 28 "
            "variables");
  EXPECT_EQ(Lines[2],
            "AcpiDataCache: variable store record @0x3db4, attributes 0x00000003 (NV+BS), 1111 bytes "
            "compressed, 3721 bytes decompressed, 16 entries");
  EXPECT_EQ(Lines[5], "entry 2 @0x1b4: type DSDT, sub-type FromFv, signature DSDT, length 32");
  EXPECT_EQ(Lines[18].rfind("entry 15 @0xe1d: type DataTable, sub-type Table, signature MCFG", 0), 0u)
      << Lines[18];
}

TEST_F(StoreInput, ShellDumpGivesTheCacheAndTheLockIndicator) {
  const ToolRun Run = RunInspector({"--dmpstore", FixturePath("ovmf-shell.dmp")});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  ASSERT_EQ(Lines.size(), 3u + 16u);
  EXPECT_EQ(Lines[0], "dmpstore file: 64 variables");
  EXPECT_EQ(Lines[1].rfind("AcpiCacheLockIndicator: data 01, attributes BS+RT, record @0x", 0), 0u)
      << Lines[1];
  EXPECT_EQ(Lines[2],
            "AcpiDataCache: dmpstore record @0x0, attributes 0x00000003 (NV+BS), 1087 bytes "
            "compressed, 3721 bytes decompressed, 16 entries");
}

// A board's flash image: a code volume, then the variable store a simulated
// custom-path boot of the driver wrote (the simulator's store file is such a
// store), then more flash.
class FlashImageInput : public InspectorBoots {};

TEST_F(FlashImageInput, StoreASimulatedBootWroteIsFoundInsideTheFlashImage) {
  const sim::BootResult Result = Boot();
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  const Bytes Store = ReadHostFileOrEmpty(StorePath);
  ASSERT_EQ(Store.size(), 0x84000u);
  Bytes Flash(0x400000, 0xFF);
  const Bytes Code =
      sim::FvImageBuilder().AddRawFile(gAcpiDataCacheVariableGuid, Bytes(0x8000, 0xC3)).Build();
  std::memcpy(Flash.data() + 0x10000, Code.data(), Code.size());
  std::memcpy(Flash.data() + 0x200000, Store.data(), Store.size());
  const std::string Path = Dir + "/flash.bin";
  ASSERT_TRUE(WriteHostFile(Path, Flash));

  const ToolRun Run = RunInspector({"--varstore", Path});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  ASSERT_GE(Lines.size(), 3u);
  EXPECT_EQ(
      Lines[0].rfind("variable store: volume @0x200000, authenticated store @0x200048 (0x3ffb8 bytes, ", 0),
      0u)
      << Lines[0];
  EXPECT_EQ(
      Lines[2].rfind("AcpiDataCache: variable store record @0x200064, attributes 0x00000003 (NV+BS), ", 0),
      0u)
      << Lines[2];
  EXPECT_NE(Lines[2].find(", 16 entries"), std::string::npos) << Lines[2];
  EXPECT_EQ(Lines.size(), 3u + 16u);
}

struct BadStoreRow {
  const char *Name;
  const char *Option;
  std::function<Bytes()> Make;
  const char *Reason;  // after "acpi-cache-inspect: FILE: "
};

void PrintTo(const BadStoreRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class BadStoreInput : public StoreInput, public ::testing::WithParamInterface<BadStoreRow> {};

TEST_P(BadStoreInput, ExitsOneNamingTheOffset) {
  const std::string Path = Write("store", GetParam().Make());
  const ToolRun Run = RunInspector({GetParam().Option, Path});
  EXPECT_EQ(Run.Exit, 1);
  EXPECT_EQ(Run.Stderr, "acpi-cache-inspect: " + Path + ": " + GetParam().Reason + "\n");
}

Bytes OvmfStore() {
  return ReadHostFileOrEmpty(FixturePath("OVMF_VARS_4M.cache.fd"));
}

Bytes ShellDump() {
  return ReadHostFileOrEmpty(FixturePath("ovmf-shell.dmp"));
}

INSTANTIATE_TEST_SUITE_P(
    StoreInput, BadStoreInput,
    ::testing::Values(
        BadStoreRow{
            "NotAStore", "--varstore", [] { return Bytes(0x1000, 0x5A); },
            "no variable store in the 0x1000 bytes: no firmware volume with the NV data file system GUID "
            "fff12b8d-7696-4c8b-a985-2747075b4f50"},
        BadStoreRow{
            "TruncatedVolume", "--varstore",
            [] {
              Bytes Store = OvmfStore();
              Store.resize(0x5000);
              return Store;
            },
            "variable store volume at offset 0x0: volume length 0x84000 does not fit the 0x5000 bytes left "
            "in the file"},
        BadStoreRow{
            "CacheRunsPastTheStore", "--varstore",
            [] {
              Bytes Store = OvmfStore();
              Put32(&Store, 0x4130 + 40, 0x40000);  // DataSize of the current AcpiDataCache
              return Store;
            },
            "variable at offset 0x4130: its name (0x1c bytes) and data (0x40000 bytes) run past the end of "
            "the store at 0x40000"},
        BadStoreRow{"CacheNameWithoutTerminator", "--varstore",
                    [] {
                      Bytes Store = OvmfStore();
                      Store[0x4130 + 60 + 26] = 'x';
                      return Store;
                    },
                    "variable at offset 0x4130: name of 0x1c bytes has no terminator"},
        BadStoreRow{
            "NoCacheInTheStore", "--varstore", [] { return sim::NewVarStoreImage(); },
            "no AcpiDataCache variable (vendor GUID 79660e97-514b-4cfc-873f-02b3ab00c086) in the store"},
        BadStoreRow{"DumpCrc", "--dmpstore",
                    [] {
                      Bytes Dump = ShellDump();
                      Dump[0x100] ^= 1;  // inside the cache's data
                      return Dump;
                    },
                    "variable at offset 0x0 (AcpiDataCache): CRC32 0xbb11955b stored, 0x1ff1ebda computed"},
        BadStoreRow{
            "DumpTruncated", "--dmpstore",
            [] {
              Bytes Dump = ShellDump();
              Dump.resize(0x100);
              return Dump;
            },
            "variable at offset 0x0: its name (0x1c bytes) and data (0x43f bytes) run past the end of the "
            "file at 0x100"}),
    [](const ::testing::TestParamInfo<BadStoreRow> &Info) { return std::string(Info.param.Name); });

}  // namespace
