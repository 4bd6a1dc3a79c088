// The efi-varstore program as a script runs it, on a copy of OVMF's file.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

#include "tests/varstore/VarStoreTestSupport.h"

namespace varstore_test {
namespace {

const char kCache[] = "79660e97-514b-4cfc-873f-02b3ab00c086";

class EfiVarstoreTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const Bytes Original = Fixture("OVMF_VARS_4M.cache.fd");
    ASSERT_FALSE(Original.empty());
    Store = TempPath("vars.fd");
    ASSERT_TRUE(WriteHostFile(Store, Original));
  }
  void TearDown() override {
    for (const std::string &Path : {Store, TempPath("out"), TempPath("in")}) std::remove(Path.c_str());
  }
  std::string Store;
};

TEST_F(EfiVarstoreTool, ListShowsCurrentVariablesAndVerboseTheSkippedCopies) {
  const ToolRun Run = RunTool({"list", Store});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  EXPECT_EQ(
      Run.Stdout.substr(0, Run.Stdout.find('\n')),
      "authenticated store: volume @0x0 (0x84000 bytes), store @0x48 (0x3ffb8 bytes), 29 variables, 0x3ba38 "
      "bytes free");
  EXPECT_NE(
      Run.Stdout.find("\n79660e97-514b-4cfc-873f-02b3ab00c086 AcpiDataCache 0x00000003 (NV+BS) 1087 bytes "
                      "@0x4130\n"),
      std::string::npos);
  EXPECT_EQ(Run.Stdout.find("skipped"), std::string::npos);
  const ToolRun Verbose = RunTool({"--verbose", "list", Store});
  EXPECT_NE(
      Verbose.Stdout.find("skipped 79660e97-514b-4cfc-873f-02b3ab00c086 AcpiDataCache 0x00000003 (NV+BS) 64 "
                          "bytes @0x4098: deleted\n"),
      std::string::npos);
}

TEST_F(EfiVarstoreTool, GetSetAndDeleteGoThroughTheFile) {
  ToolRun Run = RunTool({"get", Store, "AcpiDataCache", kCache, TempPath("out")});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  EXPECT_EQ(Run.Stdout, "0x00000003\n");
  EXPECT_TRUE(ReadHostFileOrEmpty(TempPath("out")) == Fixture("sample_cache.bin"));

  ASSERT_TRUE(WriteHostFile(TempPath("in"), {0xDE, 0xAD}));
  Run = RunTool({"set", Store, "AcpiDataCache", kCache, "0x3", TempPath("in")});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  EXPECT_EQ(ReadHostFileOrEmpty(Store).size(), 0x84000u);
  Run = RunTool({"get", Store, "AcpiDataCache", kCache, TempPath("out")});
  EXPECT_TRUE(ReadHostFileOrEmpty(TempPath("out")) == (Bytes{0xDE, 0xAD}));

  Run = RunTool({"delete", Store, "AcpiDataCache", kCache});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  Run = RunTool({"get", Store, "AcpiDataCache", kCache, TempPath("out")});
  EXPECT_EQ(Run.Exit, 1);
  EXPECT_EQ(Run.Stderr, "efi-varstore: " + Store + ": no variable AcpiDataCache " + kCache + "\n");
}

struct ToolErrorRow {
  const char *Name;
  std::vector<std::string> Arguments;  // "STORE" stands for the store's path
  int Exit;
  const char *Stderr;  // "STORE" stands for the store's path
};

void PrintTo(const ToolErrorRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class EfiVarstoreErrors : public EfiVarstoreTool, public ::testing::WithParamInterface<ToolErrorRow> {};

std::string WithStore(std::string Text, const std::string &Store) {
  const size_t At = Text.find("STORE");
  return At == std::string::npos ? Text : Text.replace(At, 5, Store);
}

TEST_P(EfiVarstoreErrors, ExitStatusAndMessage) {
  std::vector<std::string> Arguments;
  for (const std::string &Argument : GetParam().Arguments) Arguments.push_back(WithStore(Argument, Store));
  if (std::string(GetParam().Name) == "NotAStore") ASSERT_TRUE(WriteHostFile(Store, Bytes(0x100, 0)));
  const ToolRun Run = RunTool(Arguments);
  EXPECT_EQ(Run.Exit, GetParam().Exit);
  EXPECT_EQ(Run.Stderr.substr(0, Run.Stderr.find('\n')), WithStore(GetParam().Stderr, Store));
}

INSTANTIATE_TEST_SUITE_P(
    EfiVarstore, EfiVarstoreErrors,
    ::testing::Values(
        ToolErrorRow{"NoCommand", {}, 2, "efi-varstore: no command given"},
        ToolErrorRow{"UnknownCommand", {"dump", "STORE"}, 2, "efi-varstore: unknown command dump"},
        ToolErrorRow{"WrongArgumentCount", {"get", "STORE", "X"}, 2, "efi-varstore: get takes 4 arguments"},
        ToolErrorRow{"BadGuid",
                     {"delete", "STORE", "X", "79660e97-514b-4cfc-873f"},
                     2,
                     "efi-varstore: not a GUID: 79660e97-514b-4cfc-873f"},
        ToolErrorRow{"NonAsciiName",
                     {"delete", "STORE", "Caf\xc3\xa9", kCache},
                     2,
                     "efi-varstore: NAME must be printable ASCII: Caf\xc3\xa9"},
        ToolErrorRow{"BadAttributes",
                     {"set", "STORE", "X", kCache, "NV", "STORE"},
                     2,
                     "efi-varstore: not an attribute value: NV"},
        ToolErrorRow{"MissingFile",
                     {"list", "/nonexistent/vars.fd"},
                     3,
                     "efi-varstore: /nonexistent/vars.fd: cannot read the file (or larger than 64 MiB)"},
        ToolErrorRow{
            "NotAStore",
            {"list", "STORE"},
            1,
            "efi-varstore: STORE: no variable store in the 0x100 bytes: no firmware volume with the NV data "
            "file system GUID fff12b8d-7696-4c8b-a985-2747075b4f50"},
        ToolErrorRow{
            "DeleteMissing",
            {"delete", "STORE", "Nope", kCache},
            1,
            "efi-varstore: STORE: no variable Nope 79660e97-514b-4cfc-873f-02b3ab00c086 in the store"}),
    [](const ::testing::TestParamInfo<ToolErrorRow> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace varstore_test
