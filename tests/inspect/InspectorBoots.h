// Custom-path boots of the driver whose stored variable the inspector program
// then reads from files in a temporary directory.
#ifndef ZEPHRIN_TESTS_INSPECT_INSPECTOR_BOOTS_H_
#define ZEPHRIN_TESTS_INSPECT_INSPECTOR_BOOTS_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/custom_path/CustomPathBoot.h"
#include "tests/inspect/InspectTestSupport.h"

namespace inspect_test {

class InspectorBoots : public custom_path_test::CustomPathBoots {
 protected:
  void SetUp() override {
    CustomPathBoots::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (InspectorPath().empty()) GTEST_SKIP() << "acpi-cache-inspect was not built with this test";
    Dir = MakeTempDir();
  }
  void TearDown() override {
    if (!Dir.empty()) std::filesystem::remove_all(Dir);
    CustomPathBoots::TearDown();
  }

  std::string Dir;
};

}  // namespace inspect_test

#endif  // ZEPHRIN_TESTS_INSPECT_INSPECTOR_BOOTS_H_
