#include "tests/capture/CaptureTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "tests/support/HostFiles.h"

namespace capture_test {

namespace {

// The formatter turns "\n" into "\r\n" as a console wants; tests compare the
// text as the format string wrote it.
std::string WithoutCarriageReturns(const std::string &Text) {
  std::string Plain;
  for (char C : Text) {
    if (C != '\r') Plain += C;
  }
  return Plain;
}

}  // namespace

bool PlatformTest::Logged(const std::string &Text, UINTN Level) const {
  const std::string Wanted = WithoutCarriageReturns(Text);
  for (const sim::DebugRecord &Line : Messages()) {
    if (WithoutCarriageReturns(Line.Text) == Wanted && (Level == 0 || Line.Level == Level)) return true;
  }
  return false;
}

std::string PlatformTest::DebugDump() const {
  std::string All;
  char Level[24];
  for (const sim::DebugRecord &Line : Messages()) {
    snprintf(Level, sizeof(Level), "[%08llX] ", static_cast<unsigned long long>(Line.Level));
    All += Level + Line.Text;
  }
  return All;
}

void PlatformTest::SetUp() {
  sim::BindDriverTo(Platform);
}

void PlatformTest::TearDown() {
  EXPECT_EQ(Platform.LeakCheck(), "");
  sim::UnbindDriver();
}

std::string FixturePath(const std::string &Name) {
  return std::string(ZEPHRIN_ACPI_FIXTURE_DIR) + "/" + Name + ".aml";
}

std::vector<UINT8> LoadFixture(const std::string &Name) {
  std::ifstream In(FixturePath(Name), std::ios::binary);
  return std::vector<UINT8>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

bool ToolAvailable(const std::string &Tool) {
  return std::system(("command -v " + Tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string &Command) {
  std::string Output;
  test_support::RunHostCommand(Command + " 2>&1", &Output);
  return Output;
}

std::string WriteTempTable(const std::vector<UINT8> &Table, const std::string &Name) {
  const testing::TestInfo *Info = testing::UnitTest::GetInstance()->current_test_info();
  std::string Dir = testing::TempDir() + "zephrin_aml_" + std::to_string(getpid());
  RunCommand("mkdir -p '" + Dir + "'");
  std::string Safe = std::string(Info->test_suite_name()) + "_" + Info->name();
  for (char &C : Safe) {
    if (C == '/') C = '_';
  }
  std::string Path = Dir + "/" + Safe + "_" + Name + ".aml";
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(Table.data()), Table.size());
  return Path;
}

namespace {

std::string AcpiexecRun(const std::vector<std::string> &Tables, const std::string &Commands) {
  std::string Line = "acpiexec -b \"" + Commands + "\"";
  for (const std::string &Table : Tables) Line += " '" + Table + "'";
  return RunCommand(Line);
}

}  // namespace

bool AcpiexecEvaluateInteger(const std::vector<std::string> &Tables, const std::string &Path,
                             uint64_t *Value) {
  const std::string Output = AcpiexecRun(Tables, "evaluate " + Path);
  std::smatch Match;
  if (!std::regex_search(Output, Match, std::regex("\\[Integer\\] = ([0-9A-Fa-f]+)"))) return false;
  *Value = std::stoull(Match[1].str(), nullptr, 16);
  return true;
}

bool AcpiexecRegion(const std::vector<std::string> &Tables, const std::string &Path, uint64_t *Address,
                    uint64_t *Length) {
  const std::string Output = AcpiexecRun(Tables, "dump " + Path);
  std::smatch AddressMatch, LengthMatch;
  if (!std::regex_search(Output, AddressMatch, std::regex("\\n\\s*Address : 0x([0-9A-Fa-f]+)")) ||
      !std::regex_search(Output, LengthMatch, std::regex("\\n\\s*Length : ([0-9A-Fa-f]+)"))) {
    return false;
  }
  *Address = std::stoull(AddressMatch[1].str(), nullptr, 16);
  *Length = std::stoull(LengthMatch[1].str(), nullptr, 16);
  return true;
}

bool IaslDisassembles(const std::string &TablePath) {
  // iasl writes the .dsl beside the table, in the test's own temporary folder.
  const std::string Line =
      "cd \"$(dirname '" + TablePath + "')\" && iasl -d '" + TablePath + "' >/dev/null 2>&1";
  return std::system(Line.c_str()) == 0;
}

EFI_STATUS FindNamedObject(const std::vector<UINT8> &Table, const std::string &Path,
                           AML_NAMED_OBJECT *Found) {
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(AmlTableLength(Table.data())));
  return AmlFindNamedObject(Table.data(), Path.c_str(), Slots.data(), Slots.size(), Found);
}

AML_OBJECT_LOCATOR LocatorFor(const std::vector<UINT8> &Table, const std::string &Path) {
  AML_NAMED_OBJECT Found{};
  AML_OBJECT_LOCATOR Locator{};
  EXPECT_EQ(FindNamedObject(Table, Path, &Found), EFI_SUCCESS) << Path;
  EXPECT_EQ(AmlBuildLocator(Path.c_str(), &Found, &Locator), EFI_SUCCESS) << Path;
  return Locator;
}

}  // namespace capture_test
