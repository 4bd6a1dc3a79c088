// The whole product-data lookup on the simulated platform, with arbitrary bytes
// as the platform's product data: a Product Data Info HOB, a product-data HOB and
// a RAW section in the primary product-data volume. OpenAcpiMetaData and a few
// record lookups run over whatever they select; every pool buffer an input
// leaves behind is the one container copy the driver keeps, and is released
// before the next input.
//
// Input: byte 0 = number of DataIds (0..7), then that many UINT32 DataIds, byte
// n = share of the rest that goes to the HOB (0..255 of 255), then the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DxeServices.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "sim/DriverBinding.h"
#include "sim/FvImage.h"
#include "sim/Platform.h"
#include "uefi/Acpi.h"

namespace {

constexpr size_t kHobArea = 0x20000;
constexpr EFI_GUID kFile = {0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};

struct Board {
  sim::Platform *Platform;
  UINT8 *HobList;           // fixed place of the HOB list: the driver caches its address
  sim::FirmwareVolume *Fv;  // its one file's RAW section is replaced per input
};

Board &TheBoard() {
  static Board B = [] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    Board New{new sim::Platform(Options), nullptr, nullptr};
    std::vector<UINT8> Room(kHobArea, 0);
    Room[0] = 0xFF;  // an end-of-list HOB until the first input
    Room[1] = 0xFF;
    Room[2] = 8;
    New.HobList = static_cast<UINT8 *>(New.Platform->PublishRawHobList(Room));
    New.Fv = New.Platform->Volumes().Add(
        gProductDataPrimaryFvGuid, {sim::FvFile{kFile, EFI_FV_FILETYPE_FREEFORM, {{EFI_SECTION_RAW, {}}}}});
    return New;
  }();
  return B;
}

void PutHobs(const std::vector<UINT8> &Info, const std::vector<UINT8> &Container) {
  sim::HobListBuilder Builder;
  Builder.AddGuidHob(gProductDataInfoHobGuid, Info);
  Builder.AddGuidHob(gProductDataHobGuid, Container);
  std::vector<UINT8> List = Builder.Build();
  if (List.size() > kHobArea) return;
  std::memcpy(TheBoard().HobList, List.data(), List.size());
}

void LookUpRecords() {
  EFI_ACPI_DESCRIPTION_HEADER Tables[3] = {};
  Tables[0].Signature = SIGNATURE_32('D', 'S', 'D', 'T');
  Tables[1].Signature = SIGNATURE_32('S', 'S', 'D', 'T');
  Tables[1].OemTableId = SIGNATURE_64('Z', 'P', 'N', 'V', 'S', 'T', 'B', 'L');
  Tables[2].Signature = SIGNATURE_32('F', 'A', 'C', 'P');
  BOOLEAN DoNotStore = FALSE;
  FindMetaDataPtr(&Tables[2], &DoNotStore);
  FindDsdtTableMetaDataPtr(&Tables[0], &DoNotStore);
  FindSsdtTableMetaDataPtr(&Tables[1], &DoNotStore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2 || Size > 0x8000) return 0;
  Board &B = TheBoard();
  sim::BindDriverTo(*B.Platform);
  size_t Count = Data[0] & 7;
  size_t At = 1;
  if (Size < At + 4 * Count + 1) return 0;
  std::vector<UINT8> Info(4 + 4 * Count);
  UINT32 Count32 = static_cast<UINT32>(Count);
  std::memcpy(Info.data(), &Count32, 4);
  std::memcpy(Info.data() + 4, Data + At, 4 * Count);
  At += 4 * Count;
  size_t Rest = Size - At - 1;
  size_t HobShare = Rest * Data[At] / 255;
  At++;
  PutHobs(Info, std::vector<UINT8>(Data + At, Data + At + HobShare));
  B.Fv->Files[0].Sections[0].Data.assign(Data + At + HobShare, Data + Size);

  std::map<const VOID *, sim::PoolAllocation> Before = B.Platform->Pool().Live();
  if (OpenAcpiMetaData() == EFI_SUCCESS) {
    // The item's data lies inside what the platform handed over.
    if (mAcpiMetaDataLength != 0) {
      volatile UINT8 Last = mAcpiMetaDataPtr[mAcpiMetaDataLength - 1];
      (void)Last;
    }
    LookUpRecords();
    CloseAcpiMetaData();
  }
  // At most the container copy stays; release it so inputs stay independent.
  std::vector<const VOID *> Kept;
  for (const auto &Live : B.Platform->Pool().Live()) {
    if (Before.count(Live.first) == 0) Kept.push_back(Live.first);
  }
  if (Kept.size() > 1) __builtin_trap();
  for (const VOID *Buffer : Kept) FreePool(const_cast<VOID *>(Buffer));
  return 0;
}
