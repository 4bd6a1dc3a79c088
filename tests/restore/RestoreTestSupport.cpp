#include "tests/restore/RestoreTestSupport.h"

#include <cstring>

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "uefi/Acpi.h"

namespace restore_test {
namespace {
std::string WithLfLineEnds(std::string Text) {
  for (size_t At = Text.find("\r\n"); At != std::string::npos; At = Text.find("\r\n", At)) Text.erase(At, 1);
  return Text;
}
}  // namespace

UINT64 OemId64(const char OemTableId[8]) {
  UINT64 Value = 0;
  std::memcpy(&Value, OemTableId, 8);
  return Value;
}

UINT32 Sig32(const char Signature[4]) {
  UINT32 Value = 0;
  std::memcpy(&Value, Signature, 4);
  return Value;
}

std::vector<UINT8> MakeTable(const char Signature[4], UINT32 Length, const char OemTableId[8], UINT8 Fill) {
  std::vector<UINT8> Table(Length < sizeof(EFI_ACPI_DESCRIPTION_HEADER) ? sizeof(EFI_ACPI_DESCRIPTION_HEADER)
                                                                        : Length);
  for (size_t Index = 0; Index < Table.size(); Index++) Table[Index] = static_cast<UINT8>(Fill + Index);
  EFI_ACPI_DESCRIPTION_HEADER Header = {};
  Header.Signature = Sig32(Signature);
  Header.Length = Length;
  Header.Revision = 2;
  std::memcpy(Header.OemId, "ZEPHRN", 6);
  Header.OemTableId = OemId64(OemTableId);
  Header.OemRevision = 1;
  std::memcpy(Table.data(), &Header, sizeof(Header));
  return Table;
}

void RestoreTest::SetUp() {
  Platform = std::make_unique<sim::Platform>(Options());
  sim::BindDriverTo(*Platform);
  gImageHandle = nullptr;
  PoolAtStart = Platform->Pool().OutstandingCount();
}

void RestoreTest::TearDown() {
  EXPECT_EQ(Platform->Pool().OutstandingCount(), PoolAtStart) << Platform->Pool().LeakReport();
  EXPECT_TRUE(Platform->Faults().empty()) << Platform->LeakCheck();
  sim::UnbindDriver();
  gImageHandle = nullptr;
  Image.reset();
  Platform.reset();
}

void RestoreTest::LoadDriverFrom(sim::FirmwareVolume *Volume) {
  sim::ImageOrigin Origin;
  if (Volume != nullptr) {
    Origin.DeviceHandle = Volume->Handle;
    Origin.FvName = Volume->FvName;
  }
  Origin.FileName = gEfiCallerIdGuid;
  EFI_STATUS Status = EFI_SUCCESS;
  Image = sim::ImageHandle::Install(Platform->SystemTable(), Origin, nullptr, 0, &Status);
  ASSERT_NE(Image, nullptr) << "image handle install failed: 0x" << std::hex << Status;
  gImageHandle = Image->Handle();
  PoolAtStart = Platform->Pool().OutstandingCount();
}

size_t RestoreTest::Logged(const std::string &Text, UINTN Level) const {
  size_t Found = 0;
  for (const sim::DebugRecord &Line : Platform->Recorder().Records().Debug) {
    if (WithLfLineEnds(Line.Text) == Text && (Level == 0 || Line.Level == Level)) Found++;
  }
  return Found;
}

std::string RestoreTest::DebugDump() const {
  std::string All;
  for (const sim::DebugRecord &Line : Platform->Recorder().Records().Debug) All += WithLfLineEnds(Line.Text);
  return All;
}

VOID *RestoreTest::PoolCopy(const std::vector<UINT8> &Bytes) {
  VOID *Buffer = nullptr;
  EXPECT_EQ(gBS->AllocatePool(EfiBootServicesData, Bytes.size(), &Buffer), EFI_SUCCESS);
  if (Buffer != nullptr) std::memcpy(Buffer, Bytes.data(), Bytes.size());
  return Buffer;
}

}  // namespace restore_test
