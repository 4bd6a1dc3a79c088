// Boot-services pool of the simulated platform: accounting, failure injection,
// and the misuse a real firmware would not survive.
#include <gtest/gtest.h>

#include "sim/Platform.h"

namespace {

class PoolTest : public ::testing::Test {
 protected:
  sim::Platform Board;
  EFI_BOOT_SERVICES *Bs = Board.BootServices();
};

TEST_F(PoolTest, AccountsOutstandingAndPeakBytesByType) {
  VOID *First = nullptr;
  VOID *Second = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 100, &First), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiRuntimeServicesData, 28, &Second), EFI_SUCCESS);
  EXPECT_EQ(Board.Pool().OutstandingCount(), 2u);
  EXPECT_EQ(Board.Pool().OutstandingBytes(), 128u);
  EXPECT_EQ(Board.Pool().Live().at(Second).Type, EfiRuntimeServicesData);
  EXPECT_EQ(Bs->FreePool(First), EFI_SUCCESS);
  EXPECT_EQ(Board.Pool().OutstandingBytes(), 28u);
  EXPECT_EQ(Board.Pool().PeakBytes(), 128u);
  EXPECT_NE(Board.LeakCheck(), "");
  EXPECT_EQ(Bs->FreePool(Second), EFI_SUCCESS);
  EXPECT_EQ(Board.LeakCheck(), "");
}

TEST_F(PoolTest, FreshPoolIsNotZeroed) {
  UINT8 *Buffer = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 16, reinterpret_cast<VOID **>(&Buffer)), EFI_SUCCESS);
  EXPECT_NE(Buffer[0], 0);
  Bs->FreePool(Buffer);
}

TEST_F(PoolTest, FreeingAnUnknownOrFreedPointerIsAFault) {
  int NotPool = 0;
  EXPECT_EQ(Bs->FreePool(&NotPool), EFI_INVALID_PARAMETER);
  VOID *Buffer = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, &Buffer), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePool(Buffer), EFI_SUCCESS);
  EXPECT_EQ(Bs->FreePool(Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Board.Faults().size(), 2u);
  EXPECT_NE(Board.LeakCheck().find("FreePool of a pointer"), std::string::npos);
  Board.ClearFaults();
}

TEST_F(PoolTest, RejectsInvalidPoolTypesAndNullBuffer) {
  VOID *Buffer = nullptr;
  EXPECT_EQ(Bs->AllocatePool(EfiConventionalMemory, 8, &Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(EfiMaxMemoryType, 8, &Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Board.Pool().OutstandingCount(), 0u);
}

TEST_F(PoolTest, InjectedFailureHitsExactlyTheNthAllocation) {
  Board.Pool().FailAllocation(2);
  VOID *First = nullptr;
  VOID *Second = nullptr;
  VOID *Third = nullptr;
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, &First), EFI_SUCCESS);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, &Second), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, &Third), EFI_SUCCESS);
  EXPECT_EQ(Board.Pool().InjectedFailures(), 1u);
  Bs->FreePool(First);
  Bs->FreePool(Third);
}

// The walk a test of a flow uses: count the flow's allocations once, then
// fail each of them in turn and check that nothing leaks.
TEST_F(PoolTest, CountingWindowLetsATestWalkEveryAllocation) {
  auto Flow = [this]() -> EFI_STATUS {
    VOID *A = nullptr;
    VOID *B = nullptr;
    EFI_STATUS Status = Bs->AllocatePool(EfiBootServicesData, 4, &A);
    if (EFI_ERROR(Status)) return Status;
    Status = Bs->AllocatePool(EfiBootServicesData, 4, &B);
    if (!EFI_ERROR(Status)) Bs->FreePool(B);
    Bs->FreePool(A);
    return Status;
  };
  Board.Pool().StartCounting();
  ASSERT_EQ(Flow(), EFI_SUCCESS);
  UINT64 Count = Board.Pool().AllocationsCounted();
  ASSERT_EQ(Count, 2u);
  for (UINT64 Nth = 1; Nth <= Count; ++Nth) {
    Board.Pool().FailAllocation(Nth);
    EXPECT_EQ(Flow(), EFI_OUT_OF_RESOURCES) << "allocation " << Nth;
    EXPECT_EQ(Board.LeakCheck(), "") << "allocation " << Nth;
  }
}

}  // namespace
