#include "sim/HobList.h"

#include <cstring>

namespace sim {

namespace {

constexpr UINT16 kHandoffHobVersion = 0x0009;  // PI EFI_HOB_HANDOFF_TABLE_VERSION

void PutHeader(std::vector<UINT8> &Hob, UINT16 Type) {
  UINT16 Length = static_cast<UINT16>(Hob.size());
  std::memcpy(Hob.data(), &Type, 2);
  std::memcpy(Hob.data() + 2, &Length, 2);
}

std::vector<UINT8> HandoffHob() {
  std::vector<UINT8> Hob(sizeof(HobHandoffInfoTable), 0);
  HobHandoffInfoTable Phit{};
  Phit.Header.HobType = EFI_HOB_TYPE_HANDOFF;
  Phit.Header.HobLength = sizeof(HobHandoffInfoTable);
  Phit.Version = kHandoffHobVersion;
  std::memcpy(Hob.data(), &Phit, sizeof(Phit));
  return Hob;
}

}  // namespace

HobListBuilder &HobListBuilder::AddGuidHob(const EFI_GUID &Name, const VOID *Data, UINTN Size) {
  UINTN Length = (sizeof(EFI_HOB_GUID_TYPE) + Size + 7) & ~UINTN{7};
  std::vector<UINT8> Hob(Length, 0);
  std::memcpy(Hob.data() + 8, &Name, sizeof(Name));
  if (Size != 0) std::memcpy(Hob.data() + sizeof(EFI_HOB_GUID_TYPE), Data, Size);
  PutHeader(Hob, EFI_HOB_TYPE_GUID_EXTENSION);
  mHobs.push_back(std::move(Hob));
  return *this;
}

HobListBuilder &HobListBuilder::AddGuidHob(const EFI_GUID &Name, const std::vector<UINT8> &Data) {
  return AddGuidHob(Name, Data.data(), Data.size());
}

HobListBuilder &HobListBuilder::AddRawHob(const std::vector<UINT8> &Bytes, bool FixHeader, UINT16 HobType) {
  std::vector<UINT8> Hob = Bytes;
  if (FixHeader && Hob.size() >= sizeof(EFI_HOB_GENERIC_HEADER)) PutHeader(Hob, HobType);
  mHobs.push_back(std::move(Hob));
  return *this;
}

std::vector<UINT8> HobListBuilder::Build() const {
  std::vector<UINT8> List = HandoffHob();
  for (auto &Hob : mHobs) List.insert(List.end(), Hob.begin(), Hob.end());
  std::vector<UINT8> End(sizeof(EFI_HOB_GENERIC_HEADER), 0);
  PutHeader(End, EFI_HOB_TYPE_END_OF_HOB_LIST);
  List.insert(List.end(), End.begin(), End.end());
  return List;
}

}  // namespace sim
