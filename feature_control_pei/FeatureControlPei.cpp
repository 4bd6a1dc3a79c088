// Entry point of TglZephrinFeatureControlPei: find the feature-control flags item
// among the platform's product data and publish a copy of its data in the
// feature control HOB. The module does not interpret the flags.
#include "feature_control_pei/FeatureControlPei.h"

#include "feature_control_pei/PeiServicesLib.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataPlatform.h"
#include "uefi/PiHob.h"

namespace {

// The PEI core rounds a HOB's length up to a multiple of 8 and keeps it in 16
// bits, so this is the most data a GUID-extension HOB can carry.
constexpr UINT32 kMaxFeatureControlDataSize = (MAX_UINT16 & ~7u) - sizeof(EFI_HOB_GUID_TYPE);

VOID ReportNoFeatureControlHob() {
  DebugPrint(DEBUG_WARN, "[%a] The feature control HOB will not be produced.\n",
             "TglZephrinFeatureControlPeiEntryPoint");
}

// Creates the feature control HOB with a copy of DataSize bytes at Data. A HOB
// the core cannot create is left out silently: its consumers cope with none.
VOID PublishFeatureControlHob(const VOID *Data, UINT32 DataSize) {
  if (DataSize > kMaxFeatureControlDataSize) {
    // A 16-bit HOB length would wrap and the copy would run past the HOB.
    DebugPrint(DEBUG_ERROR, "[%a] Feature control flags of 0x%x bytes do not fit into a HOB.\n",
               "TglZephrinFeatureControlPeiEntryPoint", DataSize);
    ReportNoFeatureControlHob();
    return;
  }
  VOID *Hob = NULL;
  UINT16 Length = static_cast<UINT16>(sizeof(EFI_HOB_GUID_TYPE) + DataSize);
  if (EFI_ERROR(PeiCreateHob(EFI_HOB_TYPE_GUID_EXTENSION, Length, &Hob)) || Hob == NULL) return;
  EFI_HOB_GUID_TYPE *GuidHob = static_cast<EFI_HOB_GUID_TYPE *>(Hob);
  GuidHob->Name = gFeatureControlHobGuid;
  if (DataSize != 0) PeiCopyBytes(GuidHob + 1, Data, DataSize);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI TglZephrinFeatureControlPeiEntryPoint(EFI_PEI_FILE_HANDLE FileHandle,
                                                                   const EFI_PEI_SERVICES **PeiServices) {
  (VOID) FileHandle;
  SetPeiServicesTablePointerFromEntry(PeiServices);
  VOID *Data = NULL;
  UINT32 DataSize = 0;
  if (EFI_ERROR(GetProductDataItem(FEATURE_CONTROL_ITEM_ID, &Data, &DataSize))) {
    DebugPrint(DEBUG_WARN, "[%a] Platform did not provide feature control flags.\n",
               "TglZephrinFeatureControlPeiEntryPoint");
    ReportNoFeatureControlHob();
    return EFI_SUCCESS;
  }
  PublishFeatureControlHob(Data, DataSize);
  return EFI_SUCCESS;
}
