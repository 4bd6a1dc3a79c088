// Cost of finding the platform's product data and the meta data record of a
// table, through the code the firmware runs. One boot for the whole program: the
// driver looks its HOB list up once per boot.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DxeServices.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "sim/DriverBinding.h"
#include "sim/FvImage.h"
#include "sim/Platform.h"
#include "sim/ProductDataImage.h"
#include "uefi/Acpi.h"

namespace {

constexpr UINT16 kVolumeItemId = 0x2000;  // only the volume has an item of this id
constexpr EFI_GUID kFile = {0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};

// Items of every DataId from 1 to Count, the wanted one (DataId 1) last.
std::vector<sim::ProductDataItem> Items(UINT16 ItemId, UINT32 Count) {
  std::vector<sim::ProductDataItem> All;
  for (UINT32 DataId = Count; DataId >= 1; DataId--)
    All.push_back({ItemId, DataId, std::vector<UINT8>(256, 0x5A)});
  return All;
}

struct Boot {
  sim::Platform Platform{[] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    return Options;
  }()};
  Boot() {
    sim::BindDriverTo(Platform);
    sim::HobListBuilder Hobs;
    Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({1}));
    Hobs.AddGuidHob(gProductDataHobGuid, sim::BuildProductDataContainer(Items(ACPI_META_DATA_ITEM_ID, 16)));
    Platform.PublishHobList(Hobs);
    std::string Error;
    sim::AddFvImage(Platform,
                    sim::FvImageBuilder()
                        .SetFvName(gProductDataPrimaryFvGuid)
                        .AddRawFile(kFile, sim::BuildProductDataContainer(Items(kVolumeItemId, 16)))
                        .Build(),
                    &Error);
  }
};

Boot &TheBoot() {
  static Boot *B = new Boot();
  return *B;
}

void BM_OpenMetaDataFromHob(benchmark::State &State) {
  TheBoot();
  for (auto _ : State) {
    if (OpenAcpiMetaData() != EFI_SUCCESS) State.SkipWithError("open failed");
    CloseAcpiMetaData();
  }
}
BENCHMARK(BM_OpenMetaDataFromHob);

// Each lookup from a volume reads and copies the container; the copy is freed
// here as a driver that is done with it would.
void BM_ItemFromVolume(benchmark::State &State) {
  TheBoot();
  for (auto _ : State) {
    VOID *Data = nullptr;
    if (GetProductDataItem(kVolumeItemId, &Data, nullptr) != EFI_SUCCESS) {
      State.SkipWithError("lookup failed");
      break;
    }
    // The wanted item is the 16th of 256-byte items: its container starts here.
    FreePool(static_cast<UINT8 *>(Data) - sizeof(PRODUCT_DATA_HEADER) - 16 * DATA_ITEM_DATA_OFFSET -
             15 * 256);
  }
}
BENCHMARK(BM_ItemFromVolume);

// The SSDT lookup walks every record before the last, whose OemTableId it wants.
void BM_FindSsdtRecord(benchmark::State &State) {
  TheBoot();
  std::vector<UINT8> Meta;
  for (int64_t Index = 0; Index < State.range(0); Index++) {
    std::vector<UINT8> Record(ACPI_META_DATA_MIN_SSDT_RECORD_SIZE, 0);
    UINT32 Signature = SIGNATURE_32('S', 'S', 'D', 'T'), Length = static_cast<UINT32>(Record.size());
    UINT64 OemTableId = 0x3030303030303030ULL + static_cast<UINT64>(Index);
    std::memcpy(&Record[4], &Signature, 4);
    std::memcpy(&Record[8], &Length, 4);
    Record[16] = AcpiDataSubTypeFromStorage;
    std::memcpy(&Record[ACPI_META_DATA_OEM_TABLE_ID_OFFSET], &OemTableId, 8);
    Meta.insert(Meta.end(), Record.begin(), Record.end());
  }
  EFI_ACPI_DESCRIPTION_HEADER Ssdt = {};
  Ssdt.Signature = SIGNATURE_32('S', 'S', 'D', 'T');
  Ssdt.OemTableId = 0x3030303030303030ULL + static_cast<UINT64>(State.range(0) - 1);
  mAcpiMetaDataPtr = Meta.data();
  mAcpiMetaDataLength = Meta.size();
  for (auto _ : State) {
    BOOLEAN DoNotStore = FALSE;
    benchmark::DoNotOptimize(FindSsdtTableMetaDataPtr(&Ssdt, &DoNotStore));
  }
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
  State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_FindSsdtRecord)->RangeMultiplier(8)->Range(8, 512);

}  // namespace
