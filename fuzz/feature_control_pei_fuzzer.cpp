// The feature-control PEI module's entry point on a PEI phase whose product data
// comes from the input: byte 0 chooses where the container goes (bit 0: a
// product-data HOB, bit 1: a file of the primary volume, bit 2: a second Info
// HOB), byte 1 the DataId the Info HOB lists, the rest is the container. The
// sanitizers judge the reads; the module must return success, publish at most
// one HOB and, when it does, copy bytes that lie inside the container.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductData.h"
#include "sim/FvImage.h"
#include "sim/HobList.h"
#include "sim/PeiServices.h"
#include "sim/ProductDataImage.h"

namespace {

constexpr EFI_GUID kFile = {0x5EED5EED, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr size_t kMaxHobData = 0xFFF0 - sizeof(EFI_HOB_GUID_TYPE);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // An empty RAW section is left out: the volume builder does not take one.
  if (Size < 3 || Size > 0x20000) return 0;
  const uint8_t Where = Data[0];
  const std::vector<UINT8> Container(Data + 2, Data + Size);

  sim::HobListBuilder Hobs;
  Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({Data[1]}));
  if ((Where & 4) != 0) Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({Data[1]}));
  if ((Where & 1) != 0 && Container.size() <= kMaxHobData) Hobs.AddGuidHob(gProductDataHobGuid, Container);
  sim::PeiPhaseOptions Options;
  Options.HobListCapacity = 0x40000;
  sim::PeiPhase Phase(Hobs, Options);
  if ((Where & 2) != 0) {
    sim::FvImageBuilder Primary;
    Primary.SetFvName(gProductDataPrimaryFvGuid).AddRawFile(kFile, Container);
    std::string Error;
    if (!Phase.AddVolume(Primary.Build(), &Error)) abort();
  }

  static const UINT8 kOwnFile[24] = {};
  if (TglZephrinFeatureControlPeiEntryPoint(const_cast<UINT8 *>(kOwnFile), Phase.Services()) != EFI_SUCCESS) {
    abort();
  }
  auto Published = Phase.GuidHobs(gFeatureControlHobGuid);
  if (Published.size() > 1) abort();
  if (Published.size() == 1) {
    // The copy is some run of the container's bytes. A HOB or an FFS file pads its
    // data to 8 bytes with zeros, and the module cannot tell padding from data, so
    // the run may reach into that padding.
    std::vector<UINT8> Padded = Container;
    Padded.resize((Container.size() + 7) & ~static_cast<size_t>(7), 0);
    size_t Length = Phase.RequestedHobLengths().at(0) - sizeof(EFI_HOB_GUID_TYPE);
    if (Length > Padded.size()) abort();
    const UINT8 *Copy = reinterpret_cast<const UINT8 *>(Published[0] + 1);
    bool Found = Length == 0;
    for (size_t At = 0; !Found && At + Length <= Padded.size(); At++) {
      Found = std::memcmp(&Padded[At], Copy, Length) == 0;
    }
    if (!Found) abort();
  }
  return 0;
}
