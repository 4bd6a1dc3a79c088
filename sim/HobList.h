// Builder of a PI HOB list: a handoff-information (PHIT) HOB first, then the
// HOBs a test adds, then the end-of-list HOB. Lengths are multiples of 8 as the
// PI specification requires; raw HOBs let a test publish a malformed list.
#ifndef ZEPHRIN_SIM_HOB_LIST_H_
#define ZEPHRIN_SIM_HOB_LIST_H_

#include <cstdint>
#include <vector>

#include "uefi/PiHob.h"

namespace sim {

// PI 1.x EFI_HOB_HANDOFF_INFO_TABLE, the first HOB of every list.
struct HobHandoffInfoTable {
  EFI_HOB_GENERIC_HEADER Header;
  UINT32 Version;
  UINT32 BootMode;
  UINT64 EfiMemoryTop;
  UINT64 EfiMemoryBottom;
  UINT64 EfiFreeMemoryTop;
  UINT64 EfiFreeMemoryBottom;
  UINT64 EfiEndOfHobList;
};
static_assert(sizeof(HobHandoffInfoTable) == 56, "EFI_HOB_HANDOFF_INFO_TABLE layout");

class HobListBuilder {
 public:
  HobListBuilder() = default;

  // GUID-extension HOB with the data behind its 24-byte header, padded to 8.
  HobListBuilder &AddGuidHob(const EFI_GUID &Name, const std::vector<UINT8> &Data);
  HobListBuilder &AddGuidHob(const EFI_GUID &Name, const VOID *Data, UINTN Size);
  // Any HOB, bytes taken as given: HobType and HobLength are written into the
  // first four bytes only when FixHeader is true (for malformed-list tests).
  HobListBuilder &AddRawHob(const std::vector<UINT8> &Bytes, bool FixHeader = false, UINT16 HobType = 0);

  // The finished list: PHIT, the added HOBs, end-of-list. The PHIT's
  // EfiEndOfHobList is relative until the list is placed (see Platform).
  std::vector<UINT8> Build() const;

 private:
  std::vector<std::vector<UINT8>> mHobs;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_HOB_LIST_H_
