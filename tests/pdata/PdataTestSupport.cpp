#include "tests/pdata/PdataTestSupport.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "uefi/Protocol/DevicePath.h"

namespace pdata_test {
namespace {
std::string WithLfLineEnds(std::string Text) {
  for (size_t At = Text.find("\r\n"); At != std::string::npos; At = Text.find("\r\n", At)) Text.erase(At, 1);
  return Text;
}
}  // namespace

size_t DebugLog::Count(const std::string &Text, UINTN Level) const {
  size_t Found = 0;
  for (const sim::DebugRecord &Line : mOwner.Recorder().Records().Debug) {
    if (WithLfLineEnds(Line.Text) == Text && (Level == 0 || Line.Level == Level)) Found++;
  }
  return Found;
}

std::string DebugLog::Dump() const {
  std::string All;
  for (const sim::DebugRecord &Line : mOwner.Recorder().Records().Debug) All += WithLfLineEnds(Line.Text);
  return All;
}

void PdataTest::SetUp() {
  sim::BindDriverTo(Platform);
}

void PdataTest::TearDown() {
  EXPECT_EQ(Platform.Pool().OutstandingCount(), Kept) << Platform.Pool().LeakReport();
  EXPECT_TRUE(Platform.Faults().empty()) << Platform.LeakCheck();
  sim::UnbindDriver();
}

void PdataTest::PublishHobs(const std::vector<std::pair<EFI_GUID, std::vector<UINT8>>> &Hobs) {
  sim::HobListBuilder Builder;
  for (const auto &Hob : Hobs) Builder.AddGuidHob(Hob.first, Hob.second);
  Platform.PublishHobList(Builder);
}

sim::FirmwareVolume *PdataTest::AddVolume(const std::vector<UINT8> &Image) {
  std::string Error;
  sim::FirmwareVolume *Volume = sim::AddFvImage(Platform, Image, &Error);
  EXPECT_NE(Volume, nullptr) << Error;
  return Volume;
}

sim::FirmwareVolume *PdataTest::AddVolumeNamed(const EFI_GUID &FvName,
                                               const std::vector<sim::FvFile> &Files) {
  sim::FvImageBuilder Builder;
  Builder.SetFvName(FvName);
  for (const sim::FvFile &File : Files) Builder.AddFile(File);
  return AddVolume(Builder.Build());
}

void PdataTest::SetDevicePath(sim::FirmwareVolume *Volume, std::vector<UINT8> Bytes) {
  VOID *Current = nullptr;
  ASSERT_EQ(Platform.Protocols().Handle(Volume->Handle, &gEfiDevicePathProtocolGuid, &Current), EFI_SUCCESS);
  if (Bytes.empty()) {
    ASSERT_EQ(Platform.Protocols().Uninstall(Volume->Handle, &gEfiDevicePathProtocolGuid, Current),
              EFI_SUCCESS);
    return;
  }
  DevicePaths.push_back(std::make_unique<std::vector<UINT8>>(std::move(Bytes)));
  ASSERT_EQ(Platform.Protocols().Reinstall(Volume->Handle, &gEfiDevicePathProtocolGuid, Current,
                                           DevicePaths.back()->data()),
            EFI_SUCCESS);
}

std::vector<UINT8> Bytes(size_t Count, UINT8 Value) {
  return std::vector<UINT8>(Count, Value);
}

}  // namespace pdata_test
