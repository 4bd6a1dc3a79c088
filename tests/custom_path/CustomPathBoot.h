// Custom-path boots of the driver on the sample platform, one child process per
// boot, with a variable store file that lives for the whole test.
#ifndef ZEPHRIN_TESTS_CUSTOM_PATH_CUSTOM_PATH_BOOT_H_
#define ZEPHRIN_TESTS_CUSTOM_PATH_CUSTOM_PATH_BOOT_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/BootRunner.h"
#include "tools/sample-platform/SamplePlatform.h"

namespace custom_path_test {

// The driver under test: the firmware image when this build made one,
// otherwise the host library.
sim::DriverSource Driver();

class CustomPathBoots : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One custom-path boot with the default script (EndOfDxe, custom-path group,
  // ReadyToBoot, ExitBootServices) plus Extra steps after the group. Tweak runs
  // in the child after the platform is installed, before the driver starts.
  sim::BootResult Boot(const std::function<void(sim::BootContext &)> &Tweak = nullptr,
                       const sim::BootScript &Extra = {});

  // The stored variable as the parent sees it in the store file.
  bool ReadCache(std::vector<UINT8> *Data, UINT32 *Attributes) const;
  void WriteCache(const std::vector<UINT8> &Data, UINT32 Attributes);

  sample::SamplePlatform Sample;
  sim::BootOptions Options;
  std::string StorePath;
};

// Writes of one variable in a boot, in order.
std::vector<sim::VariableWrite> WritesOf(const sim::BootResult &Result, const std::u16string &Name);

bool HasLine(const sim::BootResult &Result, const std::string &Line);

}  // namespace custom_path_test

#endif  // ZEPHRIN_TESTS_CUSTOM_PATH_CUSTOM_PATH_BOOT_H_
