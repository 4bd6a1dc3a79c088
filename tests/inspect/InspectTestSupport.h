// Cache variables for the inspector tests, made by the driver's own write path
// (entry builders, SaveBlob, FlushCache with the compressor) on a simulated boot,
// and a runner for the acpi-cache-inspect program.
#ifndef ZEPHRIN_TESTS_INSPECT_INSPECT_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_INSPECT_INSPECT_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/SamplePlatform.h"
#include "tests/support/HostFiles.h"

namespace inspect_test {

using Bytes = std::vector<uint8_t>;

// A boot of the test's own platform, on which caches are written.
class CacheTest : public capture_test::PlatformTest {
 protected:
  // Saves each payload as one blob and closes the write stream, which stores the
  // compressed stream in AcpiDataCache; returns the variable's data.
  Bytes StoreEntries(const std::vector<Bytes> &Payloads);
  // The variable's data as the driver's flush wrote it (empty when none).
  Bytes StoredVariable();
  // Compresses any bytes with the driver's encoder (for streams the write path
  // would never produce).
  Bytes Compressed(const Bytes &Stream);
};

// The sample platform captured by the driver from its XSDT and meta data.
class SampleCacheTest : public CacheTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs the capture with the DSDT's record of DsdtSubType and stores it.
  Bytes CaptureSample(UINT32 DsdtSubType);

  capture_test::SampleTables Tables;
  Bytes MetaData;
};

// Payload bytes of a builder's entry; frees the builder's pool buffer.
Bytes TakeEntry(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
// A blob stream from payloads, exactly as SaveBlob lays it out.
Bytes BlobStream(const std::vector<Bytes> &Payloads);
Bytes WithPrefix(uint32_t Attributes, const Bytes &Data);
void Put32(Bytes *Data, size_t Offset, uint32_t Value);
void Put64(Bytes *Data, size_t Offset, uint64_t Value);

// A locator that names Path and nothing else (the listing shows only the path).
AML_OBJECT_LOCATOR PathLocator(const char *Path);

struct ToolRun {
  int Exit = -1;
  std::string Stdout;
  std::string Stderr;
};

// Path of the built program, or empty when the test was built without it.
std::string InspectorPath();
// Runs the program with Arguments (each quoted) in a temporary folder of its own.
ToolRun RunInspector(const std::vector<std::string> &Arguments);
// A fresh temporary folder for this test; removed by the caller.
std::string MakeTempDir();
using test_support::ReadHostFileOrEmpty;
using test_support::WriteHostFile;
std::vector<std::string> SplitLines(const std::string &Text);

}  // namespace inspect_test

#endif  // ZEPHRIN_TESTS_INSPECT_INSPECT_TEST_SUPPORT_H_
