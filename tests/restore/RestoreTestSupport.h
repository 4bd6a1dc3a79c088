// Shared pieces of the restore tests: one simulated boot with the driver's table
// pointers and image handle bound to it, the platform's debug-message recorder as
// the debug sink, and builders for the ACPI tables the tests install or read.
#ifndef ZEPHRIN_TESTS_RESTORE_RESTORE_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_RESTORE_RESTORE_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/ImageHandle.h"
#include "sim/Platform.h"

namespace restore_test {

// A table of Length bytes (at least the 36-byte header) with the given
// signature and OemTableId; the body bytes count up from Fill, so two tables
// built with different Fill values differ.
std::vector<UINT8> MakeTable(const char Signature[4], UINT32 Length, const char OemTableId[8],
                             UINT8 Fill = 0);
UINT64 OemId64(const char OemTableId[8]);
UINT32 Sig32(const char Signature[4]);

// TearDown checks that the pool holds nothing beyond what it held after SetUp
// and that the platform recorded no fault.
class RestoreTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Options of the boot; a test fixture overrides this for another board.
  virtual sim::PlatformOptions Options() const { return sim::PlatformOptions(); }

  // Installs the driver's image handle as loaded from Volume (NULL: no volume).
  void LoadDriverFrom(sim::FirmwareVolume *Volume);
  // Number of debug lines equal to Text (at Level, when Level is not 0).
  size_t Logged(const std::string &Text, UINTN Level = 0) const;
  std::string DebugDump() const;
  // A pool buffer holding Bytes, owned by the test until handed over.
  VOID *PoolCopy(const std::vector<UINT8> &Bytes);

  std::unique_ptr<sim::Platform> Platform;
  std::unique_ptr<sim::ImageHandle> Image;
  UINTN PoolAtStart = 0;
};

}  // namespace restore_test

#endif  // ZEPHRIN_TESTS_RESTORE_RESTORE_TEST_SUPPORT_H_
