// Shared pieces of the product-data and meta data tests: one simulated boot with
// a debug-message recorder, HOB and firmware-volume setup, and the byte helpers
// the negative cases use to break a well-formed container or record.
#ifndef ZEPHRIN_TESTS_PDATA_PDATA_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_PDATA_PDATA_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/FvImage.h"
#include "sim/Platform.h"
#include "sim/ProductDataImage.h"

namespace pdata_test {

// The debug lines the platform recorded in this boot, compared with line ends
// as the driver wrote them ("\n").
class DebugLog {
 public:
  explicit DebugLog(sim::Platform &Owner) : mOwner(Owner) {}
  // How many lines equal Text (at Level, when Level is not 0).
  size_t Count(const std::string &Text, UINTN Level = 0) const;
  size_t Size() const { return mOwner.Recorder().Records().Debug.size(); }
  std::string Dump() const;

 private:
  sim::Platform &mOwner;
};

// One boot with the driver's table pointers bound to it and the platform's
// debug-message recorder as the debug sink. TearDown checks the pool: nothing outstanding beyond what the
// test declared it keeps (Kept), and no fault.
class PdataTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool Logged(const std::string &Text, UINTN Level = 0) const { return Debug.Count(Text, Level) != 0; }
  // Publishes a HOB list of these GUID HOBs (in order) after the PHIT.
  void PublishHobs(const std::vector<std::pair<EFI_GUID, std::vector<UINT8>>> &Hobs);
  // Loads a PI volume image into the platform (the image names the volume).
  sim::FirmwareVolume *AddVolume(const std::vector<UINT8> &Image);
  // The same for a volume image built from Files under FvName.
  sim::FirmwareVolume *AddVolumeNamed(const EFI_GUID &FvName, const std::vector<sim::FvFile> &Files);
  // Replaces a volume's device path with Bytes (kept alive by the fixture);
  // empty Bytes removes the device path.
  void SetDevicePath(sim::FirmwareVolume *Volume, std::vector<UINT8> Bytes);

  size_t Kept = 0;  // pool buffers the code under test keeps on purpose
  sim::Platform Platform;
  DebugLog Debug{Platform};
  std::vector<std::unique_ptr<std::vector<UINT8>>> DevicePaths;
};

// Byte helpers for negative cases.
inline void Put16(std::vector<UINT8> &Bytes, size_t Offset, UINT16 Value) {
  std::memcpy(&Bytes[Offset], &Value, 2);
}
inline void Put32(std::vector<UINT8> &Bytes, size_t Offset, UINT32 Value) {
  std::memcpy(&Bytes[Offset], &Value, 4);
}
inline void Put64(std::vector<UINT8> &Bytes, size_t Offset, UINT64 Value) {
  std::memcpy(&Bytes[Offset], &Value, 8);
}

std::vector<UINT8> Bytes(size_t Count, UINT8 Value);

}  // namespace pdata_test

#endif  // ZEPHRIN_TESTS_PDATA_PDATA_TEST_SUPPORT_H_
