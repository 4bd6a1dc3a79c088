// The three real machines of ../shared/acpi-dumps end to end on the shipped
// driver image: a custom-path boot captures and stores their tables with the
// meta data of tests/fixtures/dumps, two certified-path boots replay the store,
// every installed table equals the captured one outside the patched fields,
// and acpiexec reads, in the restored DSDT and SSDTs, the region addresses the
// certified boot allocated.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "acpi_dxe/blob/BlobCache.h"
#include "sim/AcpiTables.h"
#include "tests/support/HostFiles.h"
#include "tools/sample-platform/DumpPlatform.h"
#include "tools/zephrin-demo/DemoBoots.h"
#include "tools/zephrin-demo/ReplayCheck.h"

namespace {

#ifndef ZEPHRIN_DXE_IMAGE
#define ZEPHRIN_DXE_IMAGE ""
#endif

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');

struct DumpCase {
  const char *Name;
  size_t TablesInstalled;  // the dump's tables less the ones its meta data does not store
  size_t Regions;
  size_t Integers;
};

bool Exists(const std::string &Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0;
}

std::string RunCommand(const std::string &Command) {
  std::string Output;
  test_support::RunHostCommand(Command, &Output);
  return Output;
}

void WriteTable(const std::string &Path, std::vector<UINT8> Bytes) {
  Bytes[9] = sim::AcpiChecksumFor(Bytes.data(), Bytes.size(), 9);
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
}

// The address acpiexec gives the region at Path once the tables are loaded.
UINT64 RegionAddressByAcpiexec(const std::vector<std::string> &Files, const std::string &Path) {
  // -l: load the tables and build the namespace, run no method.
  std::string Command = "acpiexec -l -b \"dump " + Path + "\"";
  for (const std::string &File : Files) Command += " " + File;
  std::string Output = RunCommand(Command + " 2>&1");
  size_t At = Output.find("Address : 0x");
  if (At == std::string::npos) {
    ADD_FAILURE() << "acpiexec shows no address for " << Path << ":\n" << Output;
    return 0;
  }
  return strtoull(Output.c_str() + At + 10, nullptr, 16);
}

class SharedDumps : public testing::TestWithParam<DumpCase> {
 protected:
  void SetUp() override {
    DumpPath = std::string(ZEPHRIN_SHARED_DIR) + "/acpi-dumps/" + GetParam().Name + ".acpidump";
    if (!Exists(DumpPath)) GTEST_SKIP() << "shared ACPI dumps not found (" << DumpPath << "): skipped";
    if (std::string(ZEPHRIN_DXE_IMAGE).empty()) GTEST_SKIP() << "no driver image in this build: skipped";
    std::string Error;
    std::string Meta = std::string(ZEPHRIN_DUMP_META_DIR) + "/" + GetParam().Name + ".meta";
    ASSERT_TRUE(Platform.LoadAcpiDump(DumpPath, &Error)) << Error;
    ASSERT_TRUE(Platform.UseDescription(Meta, &Error)) << Error;
    ASSERT_TRUE(Platform.BackRegions(&Error)) << Error;
    Board.Title = GetParam().Name;
    Board.MetaData = Platform.MetaData();
    Board.Records = Platform.Records();
    const sample::DumpPlatform *Source = &Platform;
    Board.Install = [Source](sim::Platform &Target, bool CustomPath, std::string *Failure) {
      return Source->Install(Target, CustomPath, Failure);
    };
    Settings.Image = ZEPHRIN_DXE_IMAGE;
    Settings.Store = "/tmp/zephrin-dumps-store-" + std::to_string(getpid());
    unlink(Settings.Store.c_str());
  }
  void TearDown() override {
    if (!Settings.Store.empty()) unlink(Settings.Store.c_str());
  }

  // Checks with acpiexec that the restored tables name the region pages the
  // certified boot allocated.
  void CheckRegionsWithAcpiexec(const std::vector<demo::TableImage> &Installed,
                                const std::vector<demo::PatchedValue> &Regions) {
    if (RunCommand("command -v acpiexec").empty()) {
      GTEST_LOG_(INFO) << "acpiexec not installed: region addresses not checked with it";
      return;
    }
    std::string Dir = Settings.Store + ".tables";
    ASSERT_EQ(system(("mkdir -p " + Dir).c_str()), 0);
    std::vector<std::string> Files;
    for (const demo::TableImage &Table : Installed) {
      if (Table.Signature != kDsdt && Table.Signature != kSsdt) continue;
      Files.push_back(Dir + "/" + std::to_string(Files.size()) + ".dat");
      WriteTable(Files.back(), Table.Bytes);
    }
    for (const demo::PatchedValue &Region : Regions)
      EXPECT_EQ(RegionAddressByAcpiexec(Files, Region.Path), Region.After) << Region.Path;
    (void)system(("rm -rf " + Dir).c_str());
  }

  std::string DumpPath;
  sample::DumpPlatform Platform;
  demo::Board Board;
  demo::BootSettings Settings;
};

TEST_P(SharedDumps, CapturedByTheShippedImageAndReplayedOnTwoCertifiedBoots) {
  demo::BootSeen Custom = demo::RunCustomBoot(Board, Settings);
  ASSERT_EQ(Custom.Result.End, sim::BootEnd::Normal) << Custom.Result.Describe();
  ASSERT_TRUE(Custom.Result.Records.Failures.empty()) << Custom.Result.Describe();
  bool Stored = false;
  for (const sim::VariableWrite &Write : Custom.Result.VariableWrites)
    Stored |= Write.Name == ACPI_DATA_CACHE_VARIABLE_NAME && Write.Status == EFI_SUCCESS;
  ASSERT_TRUE(Stored) << "AcpiDataCache was not written";

  for (int Boot = 1; Boot <= 2; Boot++) {
    SCOPED_TRACE("certified boot " + std::to_string(Boot));
    demo::BootSeen Certified = demo::RunCertifiedBoot(Board, Settings);
    ASSERT_EQ(Certified.Result.End, sim::BootEnd::Normal) << Certified.Result.Describe();
    EXPECT_TRUE(Certified.Result.Records.Failures.empty()) << Certified.Result.Describe();
    EXPECT_EQ(Certified.Result.LeakReport, "");
    std::vector<demo::TableImage> Installed;
    for (const demo::InstallSeen &Install : Certified.Installs) {
      EXPECT_EQ(Install.Status, EFI_SUCCESS) << demo::SignatureText(Install.Table.Signature);
      Installed.push_back(Install.Table);
    }
    EXPECT_EQ(Installed.size(), GetParam().TablesInstalled);

    demo::VerifyResult Verify = demo::VerifyReplay(Custom.Published, Installed, Board.Records);
    EXPECT_EQ(Verify.Matching, Verify.Tables);
    for (const demo::TableDifference &Difference : Verify.Differing)
      ADD_FAILURE() << demo::SignatureText(Difference.Signature) << " "
                    << demo::OemTableIdText(Difference.OemTableId) << ": " << Difference.What << " at offset "
                    << Difference.Offset;

    std::vector<demo::PatchedValue> Regions, Integers;
    for (const demo::PatchedValue &Value :
         demo::ReadPatchedValues(Custom.Published, Installed, Board.Records))
      (Value.IsRegion ? Regions : Integers).push_back(Value);
    EXPECT_EQ(Regions.size(), GetParam().Regions);
    EXPECT_EQ(Integers.size(), GetParam().Integers);
    for (const demo::PatchedValue &Region : Regions) {
      bool Allocated = false;
      for (const demo::RegionPages &Pages : Certified.RegionAllocations)
        Allocated |= Pages.Address == Region.After && Pages.Type == EfiACPIMemoryNVS;
      EXPECT_TRUE(Allocated) << Region.Path << " now at 0x" << std::hex << Region.After;
      EXPECT_NE(Region.After, Region.Before) << Region.Path;
      EXPECT_EQ(Region.LengthAfter, Region.LengthBefore) << Region.Path;
    }
    CheckRegionsWithAcpiexec(Installed, Regions);
  }
}

INSTANTIATE_TEST_SUITE_P(Dumps, SharedDumps,
                         testing::Values(DumpCase{"server-2008", 21, 2, 2},
                                         DumpCase{"laptop-intel-2015", 19, 2, 3},
                                         DumpCase{"desktop-amd-x470", 22, 2, 3}),
                         [](const testing::TestParamInfo<DumpCase> &Info) {
                           std::string Name = Info.param.Name;
                           for (char &Character : Name)
                             if (Character == '-') Character = '_';
                           return Name;
                         });

}  // namespace
