// A PEI phase for the feature-control module's tests: the HOBs and volumes a
// platform hands over, built from product-data items, and a run of the module's
// entry point on it.
#ifndef ZEPHRIN_TESTS_PEI_PEI_TEST_BOARD_H_
#define ZEPHRIN_TESTS_PEI_PEI_TEST_BOARD_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductData.h"
#include "sim/FvImage.h"
#include "sim/HobList.h"
#include "sim/PeiServices.h"
#include "sim/ProductDataImage.h"

namespace pei_test {

inline const std::string kNoFlags =
    "[TglZephrinFeatureControlPeiEntryPoint] Platform did not provide feature control flags.\n";
inline const std::string kNoHob =
    "[TglZephrinFeatureControlPeiEntryPoint] The feature control HOB will not be produced.\n";

inline constexpr EFI_GUID kFileA = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
inline constexpr EFI_GUID kFileB = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
inline constexpr EFI_GUID kOtherFv = {
    0x0BADF00D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x02, 0x03, 0x04}};

inline sim::ProductDataItem FlagsItem(UINT32 DataId, std::vector<UINT8> Data) {
  return {FEATURE_CONTROL_ITEM_ID, DataId, std::move(Data)};
}

// What the platform hands over before the module runs.
struct PeiBoard {
  sim::HobListBuilder Hobs;
  sim::FvImageBuilder Primary, Secondary, Other;
  bool HasPrimary = false, HasSecondary = false, HasOther = false;
  sim::PeiPhaseOptions Options;
  std::function<void(sim::PeiPhase &)> BeforeEntry;  // fault injection after the phase is up

  PeiBoard() {
    Primary.SetFvName(gProductDataPrimaryFvGuid);
    Secondary.SetFvName(gProductDataSecondaryFvGuid);
    Other.SetFvName(kOtherFv);
  }
  PeiBoard &Info(const std::vector<UINT32> &DataIds) {
    Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo(DataIds));
    return *this;
  }
  PeiBoard &HobContainer(const std::vector<UINT8> &Container) {
    Hobs.AddGuidHob(gProductDataHobGuid, Container);
    return *this;
  }
  PeiBoard &PrimaryFile(const EFI_GUID &Name, const std::vector<UINT8> &Raw) {
    Primary.AddRawFile(Name, Raw);
    HasPrimary = true;
    return *this;
  }
  PeiBoard &SecondaryFile(const EFI_GUID &Name, const std::vector<UINT8> &Raw) {
    Secondary.AddRawFile(Name, Raw);
    HasSecondary = true;
    return *this;
  }
};

// The phase with the board's HOBs and volumes (the other volume first, as a
// board lists unrelated volumes too).
inline std::unique_ptr<sim::PeiPhase> StartPhase(const PeiBoard &Board, std::string *Error) {
  auto Phase = std::make_unique<sim::PeiPhase>(Board.Hobs, Board.Options);
  if (Board.HasOther && !Phase->AddVolume(Board.Other.Build(), Error)) return nullptr;
  if (Board.HasPrimary && !Phase->AddVolume(Board.Primary.Build(), Error)) return nullptr;
  if (Board.HasSecondary && !Phase->AddVolume(Board.Secondary.Build(), Error)) return nullptr;
  if (Board.BeforeEntry) Board.BeforeEntry(*Phase);
  return Phase;
}

inline EFI_STATUS RunModule(sim::PeiPhase &Phase) {
  static const UINT8 kOwnFile[24] = {};  // the module's own FFS file; not read
  return TglZephrinFeatureControlPeiEntryPoint(const_cast<UINT8 *>(kOwnFile), Phase.Services());
}

// Data of the feature control HOB as the list holds it (HOB length minus the
// GUID HOB header), or nothing.
inline std::vector<std::vector<UINT8>> FeatureControlHobs(const sim::PeiPhase &Phase) {
  std::vector<std::vector<UINT8>> Found;
  for (const EFI_HOB_GUID_TYPE *Hob : Phase.GuidHobs(gFeatureControlHobGuid)) {
    const UINT8 *Data = reinterpret_cast<const UINT8 *>(Hob + 1);
    Found.emplace_back(Data, Data + Hob->Header.HobLength - sizeof(EFI_HOB_GUID_TYPE));
  }
  return Found;
}

}  // namespace pei_test

#endif  // ZEPHRIN_TESTS_PEI_PEI_TEST_BOARD_H_
