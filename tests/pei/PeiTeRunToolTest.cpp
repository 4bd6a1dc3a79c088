// pei-te-run, the user command that runs the TE image: on a container written by
// acpi-meta (which holds ACPI meta data, not the flags), on a container with the
// flags in a product-data volume, and on an image it must refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/pei/TeImageRun.h"

namespace pei_test {
namespace {

#if defined(ZEPHRIN_PEI_TE_RUN_TOOL) && defined(ZEPHRIN_ACPI_META_TOOL)
const std::string kRunTool = ZEPHRIN_PEI_TE_RUN_TOOL;
const std::string kMetaTool = ZEPHRIN_ACPI_META_TOOL;
#else
const std::string kRunTool, kMetaTool;
#endif

struct Result {
  int Status = -1;
  std::string Output;  // stdout and stderr together
};

Result Shell(const std::string &Command) {
  Result R;
  FILE *Pipe = popen((Command + " 2>&1").c_str(), "r");
  if (Pipe == nullptr) return R;
  char Buffer[512];
  while (fgets(Buffer, sizeof(Buffer), Pipe) != nullptr) R.Output += Buffer;
  int Raw = pclose(Pipe);
  R.Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  return R;
}

// The output without the run line, whose stack and call counts follow the
// module's code generation.
std::string WithoutRunLine(const std::string &Output) {
  std::string Kept;
  size_t At = 0;
  while (At < Output.size()) {
    size_t End = Output.find('\n', At);
    std::string Line = Output.substr(At, End == std::string::npos ? std::string::npos : End - At + 1);
    if (Line.rfind("image: ", 0) != 0 && Line.rfind("run: ", 0) != 0) Kept += Line;
    At = End == std::string::npos ? Output.size() : End + 1;
  }
  return Kept;
}

class PeiTeRunTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kRunTool.empty() || kMetaTool.empty() || ShippedTeImage().empty()) {
      GTEST_SKIP() << "pei-te-run, acpi-meta and the TE image (ZEPHRIN_FIRMWARE=ON) are needed";
    }
    char Template[] = "/tmp/pei-te-run-test-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
  }
  void TearDown() override {
    if (!Dir.empty()) std::system(("rm -rf " + Dir).c_str());
  }
  std::string Dir;
};

TEST_F(PeiTeRunTool, AcpiMetaContainerHasNoFlags) {
  std::ofstream(Dir + "/meta.txt") << "table FACP stored\n";
  Result Meta = Shell(kMetaTool + " build " + Dir + "/meta.txt --data-id 3 --container " + Dir + "/c.bin");
  ASSERT_EQ(Meta.Status, 0) << Meta.Output;

  Result R = Shell(kRunTool + " --te " + TeImagePath() + " " + Dir + "/c.bin --data-id 3 --in primary");
  EXPECT_EQ(R.Status, 0) << R.Output;
  EXPECT_NE(R.Output.find("run: returned 0x00000000;"), std::string::npos) << R.Output;
  EXPECT_EQ(
      WithoutRunLine(R.Output),
      "messages: 2\n"
      "  WARN  [TglZephrinFeatureControlPeiEntryPoint] Platform did not provide feature control flags.\n"
      "  WARN  [TglZephrinFeatureControlPeiEntryPoint] The feature control HOB will not be produced.\n"
      "HOBs published: 0\n");
}

TEST_F(PeiTeRunTool, FlagsInSecondaryVolumeArePublished) {
  Result R =
      Shell(kRunTool + " --te " + TeImagePath() + " --flags 0180FF10207E5A --in secondary --data-id 9");
  EXPECT_EQ(R.Status, 0) << R.Output;
  EXPECT_EQ(WithoutRunLine(R.Output),
            "messages: 0\n"
            "HOBs published: 1\n"
            "  type 4, 32 bytes (31 asked for), GUID 03F3D4A7-E935-4E05-B5AA-C4FC61118C7B\n"
            "    01 80 FF 10 20 7E 5A\n");
}

TEST_F(PeiTeRunTool, RefusedImageAndBadArguments) {
  std::vector<uint8_t> Te = ShippedTeImage();
  Te[2] = 0x64;
  Te[3] = 0x86;
  std::ofstream(Dir + "/x64.te", std::ios::binary)
      .write(reinterpret_cast<const char *>(Te.data()), Te.size());
  Result Refused = Shell(kRunTool + " --te " + Dir + "/x64.te --flags 01");
  EXPECT_EQ(Refused.Status, 2);
  EXPECT_EQ(Refused.Output,
            "pei-te-run: " + Dir + "/x64.te: TE image is for machine 0x8664, not IA-32 (0x014c)\n");

  Result Both = Shell(kRunTool + " " + Dir + "/x64.te --flags 01");
  EXPECT_EQ(Both.Status, 1);
  EXPECT_EQ(Both.Output, "pei-te-run: give a container file or --flags (not both)\n");
  Result Where = Shell(kRunTool + " --te " + TeImagePath() + " --flags 01 --in flash");
  EXPECT_EQ(Where.Status, 1);
  EXPECT_EQ(Where.Output, "pei-te-run: --in takes hob, primary or secondary\n");
}

}  // namespace
}  // namespace pei_test
