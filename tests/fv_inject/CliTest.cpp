// The fv-inject command line, run as a program: what the QEMU scripts rely on
// (exit status, messages on stderr, the image written only on success).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/fv_inject/FvInjectTestSupport.h"

namespace fv_inject_test {
namespace {

namespace fs = std::filesystem;

class FvInjectCliTest : public testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/fv_inject_cli.XXXXXX";
    mDir = mkdtemp(Template);
    ASSERT_TRUE(WriteHostFile(Path("in.fd"), BuildSyntheticImage(SyntheticLayout{}).Image));
    ASSERT_TRUE(WriteHostFile(Path("driver.efi"), PseudoRandom(500, 50)));
    ASSERT_TRUE(WriteHostFile(Path("not-firmware.fd"), Bytes(0x10000, 0)));
  }
  void TearDown() override {
    std::error_code Ignored;
    fs::remove_all(mDir, Ignored);
  }
  std::string Path(const std::string &Name) const { return mDir + "/" + Name; }
  int Run(const std::string &Arguments, std::string *Output) {
    return RunCommand(std::string(ZEPHRIN_FV_INJECT_TOOL) + " " + Arguments, Output);
  }

  std::string mDir;
};

TEST_F(FvInjectCliTest, InjectsAndListsTheResult) {
  std::string Output;
  const std::string Spec = " --driver " + Path("driver.efi") + " --guid " + GuidString(kNewDriverA) +
                           " --name CliDriver --depex " + GuidString(kDepexOne) + "," + GuidString(kDepexTwo);
  ASSERT_EQ(Run(Path("in.fd") + " " + Path("out.fd") + Spec, &Output), 0) << Output;
  EXPECT_EQ(Output.rfind("fv-inject: 1 file(s) added; LZMA stream ", 0), 0u) << Output;
  ASSERT_EQ(Run("--list " + Path("out.fd"), &Output), 0) << Output;
  EXPECT_NE(Output.find("file " + GuidString(kNewDriverA) + " driver size 0x250 \"CliDriver\""),
            std::string::npos)
      << Output;
}

struct CliCase {
  const char *Name;
  std::string Arguments;  // {in}, {out}, {drv}, {bad} stand for the fixture's paths
  int Status;
  std::string Message;
};

// Replaces {in}, {out}, {drv} and {bad} by the fixture's paths.
std::string Expand(std::string Text, const std::function<std::string(const std::string &)> &Path) {
  const std::pair<const char *, const char *> Names[] = {
      {"{in}", "in.fd"}, {"{out}", "out.fd"}, {"{drv}", "driver.efi"}, {"{bad}", "not-firmware.fd"}};
  for (const auto &[Key, File] : Names) {
    for (size_t At = Text.find(Key); At != std::string::npos; At = Text.find(Key))
      Text.replace(At, std::strlen(Key), Path(File));
  }
  return Text;
}

class FvInjectCliRejectTest : public FvInjectCliTest, public testing::WithParamInterface<CliCase> {};

TEST_P(FvInjectCliRejectTest, ExitsWithItsMessage) {
  const CliCase &Case = GetParam();
  auto PathOf = [this](const std::string &Name) { return Path(Name); };
  std::string Output;
  EXPECT_EQ(Run(Expand(Case.Arguments, PathOf), &Output), Case.Status);
  EXPECT_EQ(Output, Expand(Case.Message, PathOf));
  EXPECT_FALSE(fs::exists(Path("out.fd")));
}

const std::string kGuid = "99999999-8888-4777-8666-55554444330A";

INSTANTIATE_TEST_SUITE_P(
    Rows, FvInjectCliRejectTest,
    testing::Values(
        CliCase{"NoFileSpec", "{in} {out}", 2,
                "usage: fv-inject IN.fd OUT.fd FILE_SPEC [FILE_SPEC...]\n"
                "       fv-inject --list IN.fd\n"
                "  FILE_SPEC := --driver IMAGE.efi --guid FFS-GUID --name UI-NAME [--depex GUID[,GUID...]]\n"
                "  Adds each driver as a DXE driver file (PE32, dependency and user-interface sections)\n"
                "  to the LZMA-compressed DXE volume of IN.fd and writes the image to OUT.fd.\n"},
        CliCase{"MissingName", "{in} {out} --driver {drv} --guid " + kGuid, 1,
                "fv-inject: each --driver needs --guid FFS-GUID and --name UI-NAME\n"},
        CliCase{"SecondSpecMissingGuid",
                "{in} {out} --driver {drv} --guid " + kGuid + " --name A --driver {drv} --name B", 1,
                "fv-inject: each --driver needs --guid FFS-GUID and --name UI-NAME\n"},
        CliCase{"EmptyName", "{in} {out} --driver {drv} --guid " + kGuid + " --name ''", 1,
                "fv-inject: bad option or value: --name \n"},
        CliCase{"OptionBeforeDriver", "{in} {out} --guid " + kGuid + " --driver {drv}", 1,
                "fv-inject: each file spec starts with --driver, not --guid\n"},
        CliCase{"BadGuid", "{in} {out} --driver {drv} --guid 1234 --name A", 1,
                "fv-inject: bad option or value: --guid 1234\n"},
        CliCase{"BadDepex", "{in} {out} --driver {drv} --guid " + kGuid + " --name A --depex " + kGuid + ",x",
                1,
                "fv-inject: --depex needs GUIDs in registry format, separated by commas: " + kGuid + ",x\n"},
        CliCase{"MissingDriverFile", "{in} {out} --driver {drv}.none --guid " + kGuid + " --name A", 1,
                "fv-inject: cannot read {drv}.none\n"},
        CliCase{"NotAFirmwareImage", "{bad} {out} --driver {drv} --guid " + kGuid + " --name A", 1,
                "fv-inject: {bad}: not a firmware image: no firmware volume header at offset 0\n"},
        CliCase{"ListNotAFirmwareImage", "--list {bad}", 1,
                "fv-inject: {bad}: not a firmware image: no firmware volume header at offset 0\n"}),
    [](const testing::TestParamInfo<CliCase> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace fv_inject_test
