// The acpi-cache-inspect program as a user runs it: the listing on stdout, the
// tables it extracts (checked against the tables the platform published, and
// by iasl -d), the options, and the exit status of each kind of failure.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/inspect/InspectTestSupport.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"

namespace {

using namespace inspect_test;
namespace fs = std::filesystem;

class InspectTool : public SampleCacheTest {
 protected:
  void SetUp() override {
    SampleCacheTest::SetUp();
    if (IsSkipped()) return;
    if (InspectorPath().empty()) GTEST_SKIP() << "acpi-cache-inspect was not built with this test";
    Dir = MakeTempDir();
    ASSERT_FALSE(Dir.empty());
  }
  void TearDown() override {
    if (!Dir.empty()) fs::remove_all(Dir);
    SampleCacheTest::TearDown();
  }
  std::string SampleFile(const Bytes &Data) {
    const std::string Path = Dir + "/AcpiDataCache-79660e97-514b-4cfc-873f-02b3ab00c086";
    EXPECT_TRUE(WriteHostFile(Path, Data));
    return Path;
  }

  std::string Dir;
};

// Everything a table file must be for ACPI tools: the table the platform
// published, byte for byte, with its own signature and Length.
void ExpectTableFile(const std::string &Path, const Bytes &Published) {
  SCOPED_TRACE(Path);
  const Bytes File = ReadHostFileOrEmpty(Path);
  ASSERT_GE(File.size(), 8u);
  uint32_t Length = 0;
  std::memcpy(&Length, File.data() + 4, 4);
  EXPECT_EQ(Length, File.size());
  EXPECT_EQ(std::memcmp(File.data(), Published.data(), 4), 0);
  EXPECT_TRUE(File == Published);
}

TEST_F(InspectTool, ExtractsEveryStoredTableForIasl) {
  const std::string Cache = SampleFile(WithPrefix(3, CaptureSample(AcpiDataSubTypeFromStorage)));
  const std::string Out = Dir + "/tables";
  const ToolRun Run = RunInspector({"--extract", Out, Cache});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  EXPECT_EQ(Run.Stderr, "");
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  ASSERT_EQ(Lines.size(), 17u + 7u);
  EXPECT_EQ(Lines[1].rfind("entry 0 @0x0: type FADT, sub-type Table, signature FACP", 0), 0u);
  // The platform installed its own copies (checksums fixed, FADT linked).
  using capture_test::InstalledTable;
  const struct {
    const char *File;
    Bytes Published;
  } Expected[] = {{"00-FACP.dat", InstalledTable(Platform, EFI_ACPI_FADT_SIGNATURE)},
                  {"01-FACS.dat", InstalledTable(Platform, EFI_ACPI_FACS_SIGNATURE)},
                  {"02-DSDT.dat", InstalledTable(Platform, EFI_ACPI_DSDT_SIGNATURE)},
                  {"09-SSDT.dat",
                   InstalledTable(Platform, EFI_ACPI_SSDT_SIGNATURE, capture_test::OemTableIdOf("ZPNVSTBL"))},
                  {"12-SSDT.dat",
                   InstalledTable(Platform, EFI_ACPI_SSDT_SIGNATURE, capture_test::OemTableIdOf("ZPNONNVS"))},
                  {"14-APIC.dat", InstalledTable(Platform, SIGNATURE_32('A', 'P', 'I', 'C'))},
                  {"15-MCFG.dat", InstalledTable(Platform, SIGNATURE_32('M', 'C', 'F', 'G'))}};
  for (size_t Index = 0; Index < 7; Index++) {
    const std::string Path = Out + "/" + Expected[Index].File;
    EXPECT_EQ(Lines[17 + Index],
              "wrote " + Path + " (" + std::to_string(Expected[Index].Published.size()) + " bytes)");
    ExpectTableFile(Path, Expected[Index].Published);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 7);
  if (!capture_test::ToolAvailable("iasl")) GTEST_SKIP() << "iasl not installed";
  for (const auto &Each : Expected) {
    EXPECT_TRUE(capture_test::IaslDisassembles(Out + "/" + Each.File)) << Each.File;
  }
}

TEST_F(InspectTool, ListsOnStdoutAndExitsZeroForASoundCache) {
  const Bytes Variable = CaptureSample(AcpiDataSubTypeFromStorage);
  const ToolRun Run = RunInspector({SampleFile(Variable)});
  EXPECT_EQ(Run.Exit, 0) << Run.Stderr;
  const inspect::InspectReport Report = inspect::InspectCache(Variable.data(), Variable.size(), {});
  std::string Listing;
  for (const std::string &Line : inspect::FormatListing(Report)) Listing += Line + "\n";
  EXPECT_EQ(Run.Stdout, Listing);
}

TEST_F(InspectTool, AnyAttributesInspectsARuntimeVariable) {
  const std::string Cache = SampleFile(WithPrefix(7, CaptureSample(AcpiDataSubTypeFromStorage)));
  EXPECT_EQ(RunInspector({Cache}).Exit, 1);
  const ToolRun Run = RunInspector({"--any-attributes", Cache});
  EXPECT_EQ(Run.Exit, 0) << Run.Stderr;
  EXPECT_EQ(SplitLines(Run.Stdout).size(), 17u);
  EXPECT_NE(Run.Stdout.find("attributes 0x00000007 (NV+BS+RT)"), std::string::npos);
}

TEST_F(InspectTool, RawOptionReadsAPrefixedFileAsData) {
  // Forced raw, the attribute prefix 3 is read as the compressed-size field: the
  // header fits the file, the decoder produces bytes, and they are no blob stream.
  const std::string Cache = SampleFile(WithPrefix(3, CaptureSample(AcpiDataSubTypeFromStorage)));
  const ToolRun Run = RunInspector({"--raw", Cache});
  EXPECT_EQ(Run.Exit, 1);
  EXPECT_EQ(Run.Stdout.rfind("AcpiDataCache: raw form, ", 0), 0u) << Run.Stdout;
  EXPECT_EQ(Run.Stderr, "acpi-cache-inspect: " + Cache +
                            ": stream corrupt at offset 0x0 (blob 0): Blob revision 0 unsupported.\n");
}

TEST_F(InspectTool, VerboseShowsTheDriversOwnLog) {
  const ToolRun Run = RunInspector({"--verbose", SampleFile(CaptureSample(AcpiDataSubTypeFromStorage))});
  EXPECT_EQ(Run.Exit, 0);
  EXPECT_NE(Run.Stderr.find("driver: [OpenBlobStream] - Open with read AccessType requested\n"),
            std::string::npos)
      << Run.Stderr;
  EXPECT_NE(Run.Stderr.find("driver: No more blobs available to read.\n"), std::string::npos);
}

struct UsageRow {
  const char *Name;
  std::vector<std::string> Arguments;
  int Exit;
  std::string Stderr;
};

void PrintTo(const UsageRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class InspectUsage : public testing::TestWithParam<UsageRow> {};

TEST_P(InspectUsage, ExitsWithItsStatusAndMessage) {
  if (InspectorPath().empty()) GTEST_SKIP() << "acpi-cache-inspect was not built with this test";
  const ToolRun Run = RunInspector(GetParam().Arguments);
  EXPECT_EQ(Run.Exit, GetParam().Exit);
  EXPECT_EQ(Run.Stderr, GetParam().Stderr);
}

const char kTry[] = "Try 'acpi-cache-inspect --help'.\n";

INSTANTIATE_TEST_SUITE_P(
    Inspect, InspectUsage,
    testing::Values(
        UsageRow{"NoFile", {}, 2, std::string("acpi-cache-inspect: no FILE given\n") + kTry},
        UsageRow{"TwoFiles", {"a", "b"}, 2, std::string("acpi-cache-inspect: one FILE only\n") + kTry},
        UsageRow{"UnknownOption",
                 {"--list", "a"},
                 2,
                 std::string("acpi-cache-inspect: unknown option --list\n") + kTry},
        UsageRow{
            "BothForms",
            {"--raw", "--efivarfs", "a"},
            2,
            std::string(
                "acpi-cache-inspect: --raw, --efivarfs, --varstore and --dmpstore exclude each other\n") +
                kTry},
        UsageRow{"ExtractWithoutDirectory",
                 {"a", "--extract"},
                 2,
                 std::string("acpi-cache-inspect: --extract needs a directory\n") + kTry},
        UsageRow{"MissingFile",
                 {"/nonexistent/AcpiDataCache"},
                 3,
                 "acpi-cache-inspect: /nonexistent/AcpiDataCache: cannot read the file\n"},
        UsageRow{"DirectoryAsFile", {"/"}, 3, "acpi-cache-inspect: /: cannot read the file\n"},
        UsageRow{"Help", {"--help"}, 0, ""}),
    [](const testing::TestParamInfo<UsageRow> &Info) { return Info.param.Name; });

TEST_F(InspectTool, HelpDocumentsTheFormRule) {
  const ToolRun Run = RunInspector({"-h"});
  EXPECT_EQ(Run.Exit, 0);
  EXPECT_NE(Run.Stdout.find("first 4 bytes are 0x00000003 or 0x00000007"), std::string::npos);
  EXPECT_NE(Run.Stdout.find("--extract DIR"), std::string::npos);
}

TEST_F(InspectTool, UnwritableExtractDirectoryExitsThree) {
  const std::string Cache = SampleFile(CaptureSample(AcpiDataSubTypeFromStorage));
  const std::string Blocker = Dir + "/file";
  ASSERT_TRUE(WriteHostFile(Blocker, Bytes{1}));
  const ToolRun Run = RunInspector({"--extract", Blocker + "/tables", Cache});
  EXPECT_EQ(Run.Exit, 3);
  EXPECT_EQ(Run.Stderr.rfind("acpi-cache-inspect: " + Cache + ": cannot create " + Blocker + "/tables: ", 0),
            0u)
      << Run.Stderr;
}

}  // namespace
