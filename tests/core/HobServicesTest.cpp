// The HOB walker and the configuration-table lookup, on HOB lists and tables the
// simulated platform publishes in the PI layout.
#include <gtest/gtest.h>

#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"

namespace {

constexpr EFI_GUID kOtherGuid = {0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 11}};

class HobServices : public testing::Test {
 protected:
  // Each test is a new boot: the HOB list found in an earlier test's platform
  // is gone with it.
  void SetUp() override { sim::BindDriverTo(Platform); }
  sim::Platform Platform;
};

TEST_F(HobServices, FindsCustomPathHobWithoutDataBehindOtherGuidHobs) {
  sim::HobListBuilder Builder;
  Builder.AddGuidHob(kOtherGuid, std::vector<UINT8>{1, 2, 3});
  Builder.AddGuidHob(gCustomPathHobGuid, std::vector<UINT8>{});
  Platform.PublishHobList(Builder);
  const EFI_HOB_GUID_TYPE *Hob = static_cast<const EFI_HOB_GUID_TYPE *>(GetFirstGuidHob(&gCustomPathHobGuid));
  ASSERT_NE(Hob, nullptr);
  EXPECT_EQ(Hob->Header.HobType, EFI_HOB_TYPE_GUID_EXTENSION);
  EXPECT_EQ(Hob->Header.HobLength, 24);
  EXPECT_TRUE(CompareGuid(&Hob->Name, &gCustomPathHobGuid));
}

TEST_F(HobServices, NextGuidHobContinuesAfterTheGivenHob) {
  sim::HobListBuilder Builder;
  Builder.AddGuidHob(kOtherGuid, std::vector<UINT8>{1});
  Builder.AddGuidHob(kOtherGuid, std::vector<UINT8>{2});
  Platform.PublishHobList(Builder);
  const UINT8 *First = static_cast<const UINT8 *>(GetFirstGuidHob(&kOtherGuid));
  ASSERT_NE(First, nullptr);
  const UINT16 Length = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(First)->HobLength;
  const UINT8 *Second = static_cast<const UINT8 *>(GetNextGuidHob(&kOtherGuid, First + Length));
  ASSERT_NE(Second, nullptr);
  EXPECT_EQ(Second[24], 2);
  EXPECT_EQ(GetNextGuidHob(&kOtherGuid, Second + Length), nullptr);
}

TEST_F(HobServices, ListWithOnlyTheEndHobHasNoGuidHob) {
  Platform.PublishRawHobList({0xFF, 0xFF, 8, 0, 0, 0, 0, 0});
  EXPECT_EQ(GetFirstGuidHob(&gCustomPathHobGuid), nullptr);
}

// A HOB whose length is below its own header would make the walk stand still;
// the walk treats it as the end of the list instead of spinning forever.
TEST_F(HobServices, ZeroLengthHobEndsTheWalk) {
  std::vector<UINT8> Bytes = {4, 0, 0, 0, 0, 0, 0, 0};  // GUID HOB with HobLength 0
  Bytes.resize(24, 0);
  const UINT8 End[8] = {0xFF, 0xFF, 8, 0, 0, 0, 0, 0};
  Bytes.insert(Bytes.end(), End, End + 8);
  Platform.PublishRawHobList(Bytes);
  EXPECT_EQ(GetFirstGuidHob(&gCustomPathHobGuid), nullptr);
}

TEST_F(HobServices, HobListIsLookedUpAgainUntilFound) {
  Platform.InstallConfigurationTable(gEfiHobListGuid, nullptr);
  ASSERT_EQ(GetHobList(), nullptr);
  VOID *List = Platform.PublishHobList(sim::HobListBuilder());
  EXPECT_EQ(GetHobList(), List);
}

TEST_F(HobServices, ConfigurationTableNeedsAllSixteenGuidBytes) {
  static UINT8 Table[4];
  EFI_GUID Near = kOtherGuid;
  Near.Data4[7] ^= 1;
  Platform.InstallConfigurationTable(kOtherGuid, Table);
  VOID *Found = reinterpret_cast<VOID *>(1);
  EXPECT_EQ(EfiGetSystemConfigurationTable(&Near, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Found, nullptr);
  EXPECT_EQ(EfiGetSystemConfigurationTable(&kOtherGuid, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, Table);
}

// The first data byte of the first GUID HOB of kOtherGuid the driver finds.
UINT8 FirstOtherHobByte() {
  const UINT8 *Hob = static_cast<const UINT8 *>(GetFirstGuidHob(&kOtherGuid));
  return Hob == nullptr ? 0 : Hob[sizeof(EFI_HOB_GUID_TYPE)];
}

// A tool that runs the driver on a platform of its own inside another boot
// (the inspector inside the demo) must not leave the driver's cached HOB list
// pointing into its platform once that is gone.
TEST_F(HobServices, ScopedBindingUsesTheInnerPlatformThenPutsTheOuterBack) {
  sim::HobListBuilder Outer;
  Outer.AddGuidHob(kOtherGuid, std::vector<UINT8>{1});
  Platform.PublishHobList(Outer);
  ASSERT_EQ(FirstOtherHobByte(), 1);
  {
    sim::Platform Inner;
    sim::HobListBuilder InnerHobs;
    InnerHobs.AddGuidHob(kOtherGuid, std::vector<UINT8>{2});
    Inner.PublishHobList(InnerHobs);
    sim::ScopedDriverBinding Binding(Inner);
    EXPECT_EQ(gBS, Inner.BootServices());
    EXPECT_EQ(FirstOtherHobByte(), 2);
  }
  EXPECT_EQ(gBS, Platform.BootServices());
  EXPECT_EQ(FirstOtherHobByte(), 1);
}

}  // namespace
