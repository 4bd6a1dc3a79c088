// The efi-compress program: round trip through files, and a clear message with
// a non-zero exit status for every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/compress/CompressTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace compress_test {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int Exit = -1;
  std::string Stderr;
};

class EfiCompressToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef EFI_COMPRESS_TOOL
    GTEST_SKIP() << "efi-compress was not built with this test";
#else
    mTool = EFI_COMPRESS_TOOL;
    if (access(mTool.c_str(), X_OK) != 0) GTEST_SKIP() << "efi-compress not found at " << mTool;
#endif
    char Template[] = "/tmp/zephrin-efi-compress-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    mDir = Template;
  }
  void TearDown() override {
    if (!mDir.empty()) fs::remove_all(mDir);
  }
  std::string PathOf(const std::string &Name) const {
    return (mDir / Name).string();
  }
  ToolRun RunTool(const std::string &Arguments) const {
    std::string Err = PathOf("stderr.txt");
    int Status = std::system(("'" + mTool + "' " + Arguments + " 2> '" + Err + "'").c_str());
    ToolRun Run;
    Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    std::optional<Bytes> Text = ReadHostFile(Err);
    if (Text) Run.Stderr.assign(Text->begin(), Text->end());
    return Run;
  }
  std::string mTool;
  fs::path mDir;
};

TEST_F(EfiCompressToolTest, CompressThenDecompressRestoresTheFile) {
  Bytes Input = RepeatingText(50000);
  Bytes Noise = PseudoRandomBytes(5000, 21);
  Input.insert(Input.end(), Noise.begin(), Noise.end());
  ASSERT_TRUE(WriteHostFile(PathOf("in.bin"), Input));
  ToolRun Packed = RunTool("compress '" + PathOf("in.bin") + "' '" + PathOf("packed.efi") + "'");
  ASSERT_EQ(Packed.Exit, 0) << Packed.Stderr;
  ToolRun Unpacked = RunTool("decompress '" + PathOf("packed.efi") + "' '" + PathOf("out.bin") + "'");
  ASSERT_EQ(Unpacked.Exit, 0) << Unpacked.Stderr;
  std::optional<Bytes> Stream = ReadHostFile(PathOf("packed.efi"));
  std::optional<Bytes> Output = ReadHostFile(PathOf("out.bin"));
  ASSERT_TRUE(Stream && Output);
  EXPECT_LT(Stream->size(), Input.size());
  EXPECT_TRUE(*Output == Input);
}

TEST_F(EfiCompressToolTest, EmptyFileRoundTrips) {
  ASSERT_TRUE(WriteHostFile(PathOf("empty.bin"), Bytes()));
  ASSERT_EQ(RunTool("compress '" + PathOf("empty.bin") + "' '" + PathOf("empty.efi") + "'").Exit, 0);
  EXPECT_EQ(ReadHostFile(PathOf("empty.efi"))->size(), 16u);
  ASSERT_EQ(RunTool("decompress '" + PathOf("empty.efi") + "' '" + PathOf("empty.out") + "'").Exit, 0);
  EXPECT_TRUE(ReadHostFile(PathOf("empty.out"))->empty());
}

struct BadInputRow {
  const char *Name;
  Bytes File;
  const char *Message;
};
ZEPHRIN_PRINT_ROW_BY_NAME(BadInputRow)

// A block whose first code is a match: it would copy from before the output.
Bytes FirstCodeIsMatch() {
  BitWriter Out;
  BlockWriter Writer({'A', 256}, {0, 1});
  Writer.PutHeader(Out, 1);
  Writer.Match(Out, 3, 1);
  return WithHeader(Out.Finish(), 3);
}

class EfiCompressBadInputTest : public EfiCompressToolTest,
                                public ::testing::WithParamInterface<BadInputRow> {};

TEST_P(EfiCompressBadInputTest, DecompressFailsWithMessage) {
  ASSERT_TRUE(WriteHostFile(PathOf("bad.efi"), GetParam().File));
  ToolRun Run = RunTool("decompress '" + PathOf("bad.efi") + "' '" + PathOf("out.bin") + "'");
  EXPECT_EQ(Run.Exit, 1);
  EXPECT_NE(Run.Stderr.find(GetParam().Message), std::string::npos) << Run.Stderr;
}

INSTANTIATE_TEST_SUITE_P(
    Files, EfiCompressBadInputTest,
    ::testing::Values(BadInputRow{"ShorterThanHeader", Bytes(5, 0), "not a compressed stream"},
                      BadInputRow{"CompSizePastEnd", WithHeader(Bytes(4, 0), 4, 100),
                                  "not a compressed stream"},
                      BadInputRow{"MatchBeforeStart", FirstCodeIsMatch(), "corrupt compressed data"}),
    [](const ::testing::TestParamInfo<BadInputRow> &Info) { return Info.param.Name; });

TEST_F(EfiCompressToolTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunTool("").Exit, 2);
  ToolRun Run = RunTool("squeeze a b");
  EXPECT_EQ(Run.Exit, 2);
  EXPECT_NE(Run.Stderr.find("usage: efi-compress compress IN OUT"), std::string::npos);
}

TEST_F(EfiCompressToolTest, MissingInputIsReported) {
  ToolRun Run = RunTool("compress '" + PathOf("absent.bin") + "' '" + PathOf("out.efi") + "'");
  EXPECT_EQ(Run.Exit, 1);
  EXPECT_NE(Run.Stderr.find("cannot read"), std::string::npos);
}

}  // namespace
}  // namespace compress_test
