// Page allocation: real low host addresses, as 32-bit ACPI pointers need.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/Platform.h"

namespace {

class PagesTest : public ::testing::Test {
 protected:
  sim::Platform Board;
  EFI_BOOT_SERVICES *Bs = Board.BootServices();
};

TEST_F(PagesTest, MaxAddressBelow4GiBGivesUsableLowMemoryOfTheRecordedType) {
  EFI_PHYSICAL_ADDRESS Address = 0xFFFFFFFF;
  ASSERT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiACPIMemoryNVS, 3, &Address), EFI_SUCCESS);
  EXPECT_LE(Address + 3 * EFI_PAGE_SIZE - 1, 0xFFFFFFFFull);
  EXPECT_EQ(Address % EFI_PAGE_SIZE, 0u);
  auto *Bytes = reinterpret_cast<UINT8 *>(static_cast<UINTN>(Address));
  std::memset(Bytes, 0x5A, 3 * EFI_PAGE_SIZE);  // the whole range is writable host memory
  EXPECT_EQ(Board.Pages().Live().at(Address).Type, EfiACPIMemoryNVS);
  EFI_PHYSICAL_ADDRESS Start = 0;
  ASSERT_NE(Board.Pages().Containing(Address + 5000, &Start), nullptr);
  EXPECT_EQ(Start, Address);
  EXPECT_EQ(Bs->FreePages(Address, 3), EFI_SUCCESS);
  EXPECT_TRUE(Board.Pages().Live().empty());
}

TEST_F(PagesTest, AVeryLowLimitIsHonouredOrRefused) {
  EFI_PHYSICAL_ADDRESS Address = 0x3FFFFFFF;
  EFI_STATUS Status = Bs->AllocatePages(AllocateMaxAddress, EfiReservedMemoryType, 1, &Address);
  ASSERT_TRUE(Status == EFI_SUCCESS || Status == EFI_NOT_FOUND);
  if (Status == EFI_SUCCESS) {
    EXPECT_LE(Address + EFI_PAGE_SIZE - 1, 0x3FFFFFFFull);
    Bs->FreePages(Address, 1);
  }
  Address = 0x100;
  EXPECT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiReservedMemoryType, 1, &Address), EFI_NOT_FOUND);
}

TEST_F(PagesTest, ParameterChecksAndInjectedFailure) {
  EFI_PHYSICAL_ADDRESS Address = 0xFFFFFFFF;
  EXPECT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiConventionalMemory, 1, &Address), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiBootServicesData, 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePages(MaxAllocateType, EfiBootServicesData, 1, &Address), EFI_INVALID_PARAMETER);
  Board.Pages().FailAllocation(1);
  EXPECT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiBootServicesData, 1, &Address), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiBootServicesData, 1, &Address), EFI_SUCCESS);
  EXPECT_EQ(Bs->FreePages(Address, 2), EFI_NOT_FOUND);
  EXPECT_EQ(Board.Faults().size(), 1u);
  Board.ClearFaults();
  EXPECT_EQ(Bs->FreePages(Address, 1), EFI_SUCCESS);
}

TEST_F(PagesTest, AllocateAddressTakesExactlyThatAddressOnce) {
  EFI_PHYSICAL_ADDRESS Probe = 0xFFFFFFFF;
  ASSERT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiBootServicesData, 1, &Probe), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePages(Probe, 1), EFI_SUCCESS);
  EFI_PHYSICAL_ADDRESS Address = Probe;
  ASSERT_EQ(Bs->AllocatePages(AllocateAddress, EfiBootServicesData, 1, &Address), EFI_SUCCESS);
  EXPECT_EQ(Address, Probe);
  EFI_PHYSICAL_ADDRESS Again = Probe;
  EXPECT_EQ(Bs->AllocatePages(AllocateAddress, EfiBootServicesData, 1, &Again), EFI_NOT_FOUND);
  Bs->FreePages(Address, 1);
}

}  // namespace

namespace {

TEST_F(PagesTest, MemoryMapListsPageAllocationsAndItsKeyGatesExitBootServices) {
  EFI_PHYSICAL_ADDRESS Address = 0xFFFFFFFF;
  ASSERT_EQ(Bs->AllocatePages(AllocateMaxAddress, EfiACPIMemoryNVS, 2, &Address), EFI_SUCCESS);
  UINTN MapSize = 0;
  UINTN MapKey = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  ASSERT_EQ(Bs->GetMemoryMap(&MapSize, nullptr, &MapKey, &DescriptorSize, &Version), EFI_BUFFER_TOO_SMALL);
  ASSERT_GT(DescriptorSize, sizeof(EFI_MEMORY_DESCRIPTOR));
  std::vector<UINT8> Map(MapSize);
  ASSERT_EQ(Bs->GetMemoryMap(&MapSize, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Map.data()), &MapKey,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  bool Listed = false;
  for (UINTN Offset = 0; Offset + DescriptorSize <= MapSize; Offset += DescriptorSize) {
    EFI_MEMORY_DESCRIPTOR Descriptor;
    std::memcpy(&Descriptor, Map.data() + Offset, sizeof(Descriptor));
    Listed = Listed || (Descriptor.PhysicalStart == Address && Descriptor.NumberOfPages == 2 &&
                        Descriptor.Type == EfiACPIMemoryNVS);
  }
  EXPECT_TRUE(Listed);
  EXPECT_EQ(Bs->ExitBootServices(nullptr, MapKey + 1), EFI_INVALID_PARAMETER);
  EXPECT_FALSE(Board.AtRuntime());
  EXPECT_EQ(Bs->ExitBootServices(nullptr, MapKey), EFI_SUCCESS);
  EXPECT_TRUE(Board.AtRuntime());
}

}  // namespace
