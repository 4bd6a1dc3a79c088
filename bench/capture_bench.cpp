// Cost of the custom path's capture over the sample platform, through the same
// code the firmware runs: the whole XSDT walk with every element, and the AML
// primitives and name finder on their own.
#include <benchmark/benchmark.h>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/AcpiRegions.h"
#include "sim/DriverBinding.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/SamplePlatform.h"

namespace {

using namespace capture_test;

// One boot with the sample tables published and the write stream open. Debug
// messages are formatted as in the firmware but go to no sink, so the recorder's
// bookkeeping is not what is measured.
struct CaptureBoot {
  sim::Platform Platform{[] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    return Options;
  }()};
  SampleTables Tables;
  std::vector<UINT8> MetaData;
  bool Ready = false;

  CaptureBoot() {
    sim::BindDriverTo(Platform);
    mBootPath = BOOT_PATH_CUSTOM;
    if (!Tables.Load() || !sim::MapSampleAcpiRegions()) return;
    if (PublishSampleTables(Platform, Tables) != EFI_SUCCESS) return;
    OpenMetaData(&MetaData, SampleMetaData(Tables, AcpiDataSubTypeFromStorage));
    Ready = OpenWriteStream() == EFI_SUCCESS;
  }
  ~CaptureBoot() {
    DropWriteStream();
    CloseMetaData();
    sim::UnbindDriver();
  }
};

void BM_CaptureSamplePlatform(benchmark::State &State) {
  CaptureBoot Boot;
  if (!Boot.Ready) {
    State.SkipWithError("sample tables not built or region window taken");
    return;
  }
  for (auto _ : State) {
    mWriteBlobStreamOffset = 0;
    benchmark::DoNotOptimize(ProcessAcpiTablesFromXsdt());
  }
  State.counters["stream_bytes"] = mWriteBlobStreamOffset;
}
BENCHMARK(BM_CaptureSamplePlatform);

void BM_ExtractOpRegion(benchmark::State &State) {
  std::vector<UINT8> Dsdt = LoadFixture("dsdt");
  if (Dsdt.empty()) {
    State.SkipWithError("sample tables not built");
    return;
  }
  AML_NAMED_OBJECT Found{};
  AML_OBJECT_LOCATOR Locator{};
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Dsdt.size())));
  AmlFindNamedObject(Dsdt.data(), "\\GNVS", Slots.data(), Slots.size(), &Found);
  AmlBuildLocator("\\GNVS", &Found, &Locator);
  UINT64 Address = 0, Length = 0;
  for (auto _ : State) {
    benchmark::DoNotOptimize(
        ExtractOpRegionAddressAndLengthFromAml(Dsdt.data(), &Locator, &Address, &Length));
  }
}
BENCHMARK(BM_ExtractOpRegion);

void BM_FindNamedObjectInDevice(benchmark::State &State) {
  std::vector<UINT8> Dsdt = LoadFixture("dsdt");
  if (Dsdt.empty()) {
    State.SkipWithError("sample tables not built");
    return;
  }
  AML_NAMED_OBJECT Found{};
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Dsdt.size())));
  for (auto _ : State) {
    benchmark::DoNotOptimize(
        AmlFindNamedObject(Dsdt.data(), "\\_SB.PCI0.PLID", Slots.data(), Slots.size(), &Found));
  }
}
BENCHMARK(BM_FindNamedObjectInDevice);

}  // namespace
