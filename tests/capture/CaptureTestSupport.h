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
#include "uefi/Protocol/DebugMessage.h"

namespace capture_test {

struct Message {
  UINTN Level;
  std::string Text;
};

// The platform's debug-message protocol, recording every line the driver prints.
class DebugRecorder {
 public:
  DebugRecorder() : mProtocol{nullptr, &Write} { sRecorder = this; }
  ~DebugRecorder() { sRecorder = nullptr; }
  DEBUG_MESSAGE_PROTOCOL *Protocol() { return &mProtocol; }
  const std::vector<Message> &Messages() const { return mMessages; }
  void Clear() { mMessages.clear(); }
  // TRUE when a line equal to Text was printed (at Level, when given).
  bool Has(const std::string &Text, UINTN Level = 0) const;
  // Every line, one per row, for failure output.
  std::string Dump() const;

 private:
  static EFI_STATUS EFIAPI Write(DEBUG_MESSAGE_PROTOCOL *, UINTN Level, CHAR8 *Buffer, UINTN Length);
  static DebugRecorder *sRecorder;
  DEBUG_MESSAGE_PROTOCOL mProtocol;
  std::vector<Message> mMessages;
};

// One boot: the platform, the driver's table pointers bound to it, and the
// recorder installed as the debug sink.
class PlatformTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  bool Logged(const std::string &Text, UINTN Level = 0) const { return Debug.Has(Text, Level); }

  sim::Platform Platform;
  DebugRecorder Debug;
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

}  // namespace capture_test

#endif  // ZEPHRIN_TESTS_CAPTURE_CAPTURE_TEST_SUPPORT_H_
