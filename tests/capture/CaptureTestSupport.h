// Shared pieces of the capture tests: one simulated boot with a debug-message
// recorder, the compiled sample tables, and ACPICA's own tools as the oracle.
#ifndef ZEPHRIN_TESTS_CAPTURE_CAPTURE_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_CAPTURE_CAPTURE_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace capture_test {

// One boot: the platform, with its debug-message recorder, and the driver's
// table pointers bound to it.
class PlatformTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // TRUE when a message equal to Text was printed (at Level, when not 0). Line
  // ends compare as the format string wrote them ("\n", not "\r\n").
  bool Logged(const std::string &Text, UINTN Level = 0) const;
  const std::vector<sim::DebugRecord> &Messages() const {
    return const_cast<sim::Platform &>(Platform).Recorder().Records().Debug;
  }
  void ClearDebug() { Platform.Recorder().Records().Debug.clear(); }
  // Every message with its level, for failure output.
  std::string DebugDump() const;

  sim::Platform Platform;
};

// A compiled sample table (tests/fixtures/acpi/<Name>.asl or .dsl); empty when the
// fixtures were not built.
std::vector<UINT8> LoadFixture(const std::string &Name);
std::string FixturePath(const std::string &Name);

// Skips the current test when the fixture tables or a tool are missing.
#define REQUIRE_FIXTURE(Var, Name)                            \
  std::vector<UINT8> Var = ::capture_test::LoadFixture(Name); \
  if (Var.empty()) GTEST_SKIP() << "fixture " << Name << " not built (iasl missing at build time)"
#define REQUIRE_TOOL(Tool) \
  if (!::capture_test::ToolAvailable(Tool)) GTEST_SKIP() << Tool << " not installed"

bool ToolAvailable(const std::string &Tool);
// Runs a shell command; its stdout and stderr together.
std::string RunCommand(const std::string &Command);
std::string WriteTempTable(const std::vector<UINT8> &Table, const std::string &Name);

// ACPICA's answers for a loaded set of tables: the integer an object evaluates
// to, and the Address/Length of an OperationRegion as "dump" shows them.
bool AcpiexecEvaluateInteger(const std::vector<std::string> &Tables, const std::string &Path,
                             uint64_t *Value);
bool AcpiexecRegion(const std::vector<std::string> &Tables, const std::string &Path, uint64_t *Address,
                    uint64_t *Length);
// TRUE when iasl disassembles the table without an error.
bool IaslDisassembles(const std::string &TablePath);

// Locator of a named constant or OperationRegion of Table, via the name finder.
AML_OBJECT_LOCATOR LocatorFor(const std::vector<UINT8> &Table, const std::string &Path);

// The name finder with method slots sized for the table.
EFI_STATUS FindNamedObject(const std::vector<UINT8> &Table, const std::string &Path, AML_NAMED_OBJECT *Found);

}  // namespace capture_test

#endif  // ZEPHRIN_TESTS_CAPTURE_CAPTURE_TEST_SUPPORT_H_
