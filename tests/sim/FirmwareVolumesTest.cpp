// Firmware Volume 2 volumes: what a reader of raw sections relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/Platform.h"

namespace {

EFI_GUID kFvName = {0xB8264440, 0x0649, 0x40F3, {0x8E, 0xCA, 0x15, 0x33, 0x35, 0xBD, 0xB4, 0x6F}};
EFI_GUID kTableFile = {0x7E374E25, 0x8E01, 0x4FEE, {0x87, 0xF2, 0x39, 0x0C, 0x23, 0xC6, 0x06, 0xCD}};
EFI_GUID kDataFile = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

class FirmwareVolumesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Volume =
        Board.Volumes().Add(kFvName, {sim::RawFile(kTableFile, EFI_FV_FILETYPE_FREEFORM, {{1, 2, 3}, {4, 5}}),
                                      sim::RawFile(kDataFile, EFI_FV_FILETYPE_RAW, {{9}})});
    ASSERT_NE(Volume, nullptr);
    Fv = &Volume->Protocol;
  }
  void TearDown() override { EXPECT_EQ(Board.LeakCheck(), ""); }
  EFI_STATUS Read(const EFI_GUID &File, UINTN Instance, std::vector<UINT8> *Out) {
    VOID *Buffer = nullptr;
    UINTN Size = 0;
    UINT32 Authentication = 0xFFFFFFFF;
    EFI_STATUS Status =
        Fv->ReadSection(Fv, &File, EFI_SECTION_RAW, Instance, &Buffer, &Size, &Authentication);
    if (!EFI_ERROR(Status)) {
      EXPECT_TRUE(Board.Pool().IsLive(Buffer));  // the caller's pool buffer
      Out->assign(static_cast<UINT8 *>(Buffer), static_cast<UINT8 *>(Buffer) + Size);
      EXPECT_EQ(Board.BootServices()->FreePool(Buffer), EFI_SUCCESS);
    }
    return Status;
  }
  sim::Platform Board;
  sim::FirmwareVolume *Volume = nullptr;
  EFI_FIRMWARE_VOLUME2_PROTOCOL *Fv = nullptr;
};

TEST_F(FirmwareVolumesTest, ReadSectionReturnsRawSectionNAndNotFoundPastTheLast) {
  std::vector<UINT8> Data;
  ASSERT_EQ(Read(kTableFile, 0, &Data), EFI_SUCCESS);
  EXPECT_EQ(Data, (std::vector<UINT8>{1, 2, 3}));
  ASSERT_EQ(Read(kTableFile, 1, &Data), EFI_SUCCESS);
  EXPECT_EQ(Data, (std::vector<UINT8>{4, 5}));
  EXPECT_EQ(Read(kTableFile, 2, &Data), EFI_NOT_FOUND);
  EFI_GUID Missing = kTableFile;
  Missing.Data1 ^= 1;
  EXPECT_EQ(Read(Missing, 0, &Data), EFI_NOT_FOUND);
  EXPECT_EQ(Volume->ReadSectionCalls, 4u);
}

TEST_F(FirmwareVolumesTest, CallerBufferIsFilledOrCutWithAWarning) {
  UINT8 Small[2] = {0, 0};
  VOID *Buffer = Small;
  UINTN Size = sizeof(Small);
  UINT32 Authentication = 0;
  EXPECT_EQ(Fv->ReadSection(Fv, &kTableFile, EFI_SECTION_RAW, 0, &Buffer, &Size, &Authentication),
            EFI_WARN_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 3u);
  EXPECT_EQ(Small[1], 2);
}

TEST_F(FirmwareVolumesTest, PoolFailureAndInjectedFailureAreReported) {
  std::vector<UINT8> Data;
  Board.Pool().FailAllocation(1);
  EXPECT_EQ(Read(kTableFile, 0, &Data), EFI_OUT_OF_RESOURCES);
  Board.Volumes().FailReadSection(1, EFI_DEVICE_ERROR);
  EXPECT_EQ(Read(kTableFile, 0, &Data), EFI_DEVICE_ERROR);
  EXPECT_EQ(Read(kTableFile, 0, &Data), EFI_SUCCESS);
}

TEST_F(FirmwareVolumesTest, GetNextFileWalksWithATypeFilter) {
  std::vector<UINT8> Key(Fv->KeySize, 0);
  EFI_FV_FILETYPE Type = EFI_FV_FILETYPE_FREEFORM;
  EFI_GUID Name{};
  EFI_FV_FILE_ATTRIBUTES Attributes = 0;
  UINTN Size = 0;
  ASSERT_EQ(Fv->GetNextFile(Fv, Key.data(), &Type, &Name, &Attributes, &Size), EFI_SUCCESS);
  EXPECT_TRUE(sim::SameGuid(Name, kTableFile));
  EXPECT_EQ(Size, 4u + 3u + 1u + 4u + 2u);  // two sections with headers, the second 4-byte aligned
  Type = EFI_FV_FILETYPE_FREEFORM;
  EXPECT_EQ(Fv->GetNextFile(Fv, Key.data(), &Type, &Name, &Attributes, &Size), EFI_NOT_FOUND);

  std::fill(Key.begin(), Key.end(), 0);
  std::vector<EFI_FV_FILETYPE> Types;
  for (;;) {
    Type = EFI_FV_FILETYPE_ALL;
    if (EFI_ERROR(Fv->GetNextFile(Fv, Key.data(), &Type, &Name, &Attributes, &Size))) break;
    Types.push_back(Type);
  }
  EXPECT_EQ(Types, (std::vector<EFI_FV_FILETYPE>{EFI_FV_FILETYPE_FREEFORM, EFI_FV_FILETYPE_RAW}));
}

TEST_F(FirmwareVolumesTest, VolumeHandleCarriesAPiwgVolumeNode) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_GUID Fv2 = gEfiFirmwareVolume2ProtocolGuid;
  ASSERT_EQ(Board.BootServices()->LocateHandleBuffer(ByProtocol, &Fv2, nullptr, &Count, &Handles),
            EFI_SUCCESS);
  ASSERT_EQ(Count, 1u);
  VOID *Path = nullptr;
  EFI_GUID PathGuid = gEfiDevicePathProtocolGuid;
  ASSERT_EQ(Board.BootServices()->HandleProtocol(Handles[0], &PathGuid, &Path), EFI_SUCCESS);
  Board.BootServices()->FreePool(Handles);
  const auto *Node = static_cast<const UINT8 *>(Path);
  EXPECT_EQ(Node[0], MEDIA_DEVICE_PATH);
  EXPECT_EQ(Node[1], MEDIA_PIWG_FW_VOL_DP);
  EXPECT_EQ(Node[2], 20);
  EXPECT_EQ(std::memcmp(Node + 4, &kFvName, 16), 0);
  EXPECT_EQ(Node[20], END_DEVICE_PATH_TYPE);
  EXPECT_EQ(Node[21], END_ENTIRE_DEVICE_PATH_SUBTYPE);
  // A second volume with the same name has the same device path: refused.
  EXPECT_EQ(Board.Volumes().Add(kFvName, {}), nullptr);
}

}  // namespace
