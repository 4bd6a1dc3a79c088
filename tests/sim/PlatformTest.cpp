// System table, service tables, configuration table and HOB list of one boot.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "sim/Platform.h"
#include "uefi/PiHob.h"

namespace {

constexpr EFI_GUID kTestGuid = {0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 11}};

TEST(PlatformTest, SystemTableCarriesRevisionSignaturesAndValidCrc) {
  sim::PlatformOptions Options;
  Options.SystemTableRevision = EFI_1_10_SYSTEM_TABLE_REVISION;
  sim::Platform Board(Options);
  EFI_SYSTEM_TABLE *St = Board.SystemTable();
  EXPECT_EQ(St->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(St->Hdr.Revision, EFI_1_10_SYSTEM_TABLE_REVISION);
  EXPECT_EQ(St->BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(St->RuntimeServices->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EFI_SYSTEM_TABLE Copy = *St;
  Copy.Hdr.CRC32 = 0;
  EXPECT_EQ(sim::Crc32(&Copy, sizeof(Copy)), St->Hdr.CRC32);
  EXPECT_EQ(sim::Platform::Current(), &Board);
}

TEST(PlatformTest, PlatformsMayEndInAnyOrder) {
  auto First = std::make_unique<sim::Platform>();
  auto Second = std::make_unique<sim::Platform>();
  First.reset();
  EXPECT_EQ(sim::Platform::Current(), Second.get());
  Second.reset();
  EXPECT_EQ(sim::Platform::Current(), nullptr);
}

TEST(PlatformTest, DefaultRevisionIsTwoSeventy) {
  sim::Platform Board;
  EXPECT_EQ(Board.SystemTable()->Hdr.Revision, 0x00020046u);
}

TEST(PlatformTest, EveryServiceSlotIsFilled) {
  sim::Platform Board;
  auto CheckSlots = [](const VOID *Table, UINTN Size, UINTN SkipOffset) {
    const auto *Slots = reinterpret_cast<VOID *const *>(static_cast<const UINT8 *>(Table) + 24);
    for (UINTN Offset = 24; Offset < Size; Offset += sizeof(VOID *)) {
      if (Offset == SkipOffset) continue;
      EXPECT_NE(Slots[(Offset - 24) / sizeof(VOID *)], nullptr) << "slot at offset " << Offset;
    }
  };
  CheckSlots(Board.BootServices(), sizeof(EFI_BOOT_SERVICES), OFFSET_OF(EFI_BOOT_SERVICES, Reserved));
  CheckSlots(Board.RuntimeServices(), sizeof(EFI_RUNTIME_SERVICES), 0);
  EXPECT_EQ(Board.RuntimeServices()->SetTime(nullptr), EFI_UNSUPPORTED);
  EFI_HANDLE Image = nullptr;
  EXPECT_EQ(Board.BootServices()->LoadImage(FALSE, nullptr, nullptr, nullptr, 0, &Image), EFI_UNSUPPORTED);
}

TEST(PlatformTest, ConfigurationTableAddsReplacesAndDeletes) {
  sim::Platform Board;
  EFI_BOOT_SERVICES *Bs = Board.BootServices();
  EFI_SYSTEM_TABLE *St = Board.SystemTable();
  UINTN Before = St->NumberOfTableEntries;
  int First = 0;
  int Second = 0;
  EFI_GUID Guid = kTestGuid;
  EXPECT_EQ(Bs->InstallConfigurationTable(&Guid, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(Bs->InstallConfigurationTable(&Guid, &First), EFI_SUCCESS);
  EXPECT_EQ(St->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(Bs->InstallConfigurationTable(&Guid, &Second), EFI_SUCCESS);
  EXPECT_EQ(St->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(St->ConfigurationTable[Before].VendorTable, &Second);
  EXPECT_EQ(Bs->InstallConfigurationTable(&Guid, nullptr), EFI_SUCCESS);
  EXPECT_EQ(St->NumberOfTableEntries, Before);
  EXPECT_EQ(Board.FindConfigurationTable(kTestGuid), nullptr);
  EXPECT_EQ(Bs->InstallConfigurationTable(nullptr, &First), EFI_INVALID_PARAMETER);
}

// An independent walk of the published list, in the PI layout.
TEST(PlatformTest, HobListIsPublishedInPiLayout) {
  sim::Platform Board;
  sim::HobListBuilder Hobs;
  const UINT8 Data[5] = {1, 2, 3, 4, 5};
  Hobs.AddGuidHob(kTestGuid, Data, sizeof(Data)).AddGuidHob(kTestGuid, nullptr, 0);
  VOID *List = Board.PublishHobList(Hobs);
  ASSERT_EQ(Board.FindConfigurationTable(gEfiHobListGuid), List);
  ASSERT_EQ(reinterpret_cast<UINTN>(List) % 8, 0u);

  const auto *Hob = static_cast<const UINT8 *>(List);
  const auto *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  EXPECT_EQ(Header->HobType, EFI_HOB_TYPE_HANDOFF);
  Hob += Header->HobLength;
  Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  EXPECT_EQ(Header->HobType, EFI_HOB_TYPE_GUID_EXTENSION);
  EXPECT_EQ(Header->HobLength, 32u);
  EXPECT_EQ(std::memcmp(Hob + 8, &kTestGuid, 16), 0);
  EXPECT_EQ(std::memcmp(Hob + 24, Data, sizeof(Data)), 0);
  Hob += Header->HobLength;
  Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  EXPECT_EQ(Header->HobType, EFI_HOB_TYPE_GUID_EXTENSION);
  EXPECT_EQ(Header->HobLength, 24u);
  Hob += Header->HobLength;
  Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  EXPECT_EQ(Header->HobType, EFI_HOB_TYPE_END_OF_HOB_LIST);
  UINT64 EndOfList = 0;
  std::memcpy(&EndOfList, static_cast<const UINT8 *>(List) + 48, 8);
  EXPECT_EQ(EndOfList, reinterpret_cast<UINTN>(Hob));
}

TEST(PlatformTest, RawHobListIsPublishedByteForByte) {
  sim::Platform Board;
  std::vector<UINT8> Malformed = {0x04, 0x00, 0x05, 0x00, 0,
                                  0,    0,    0,    0xAA};  // HobLength 5: not a multiple of 8
  VOID *List = Board.PublishRawHobList(Malformed);
  EXPECT_EQ(Board.FindConfigurationTable(gEfiHobListGuid), List);
  EXPECT_EQ(std::memcmp(List, Malformed.data(), Malformed.size()), 0);
}

}  // namespace
