// Cost of one custom-path capture-and-store, through the driver's own callback on
// the sample platform: open the meta data and the stored cache, walk the XSDT,
// compare, compress and write when needed, set the lock indicator.
#include <benchmark/benchmark.h>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"
#include "tools/sample-platform/SamplePlatform.h"

namespace {

struct CustomPathBoot {
  sim::Platform Platform{[] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;  // formatted as on a board, delivered nowhere
    return Options;
  }()};
  sample::SamplePlatform Sample;
  std::string Error;
  bool Ready = false;

  CustomPathBoot() {
    sim::BindDriverTo(Platform);
    mBootPath = BOOT_PATH_CUSTOM;
    Ready = Sample.Load(&Error) && Sample.Install(Platform, true, &Error);
  }

  // One run of the callback, as the platform's signal of the group runs it.
  void RunCallback() {
    EFI_EVENT Event = nullptr;
    gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CustomPathReadyToBootNotification, nullptr, &Event);
    CustomPathReadyToBootNotification(Event, nullptr);
  }

  void ForgetStoredCache() {
    EFI_GUID Guid = gAcpiDataCacheVariableGuid;
    gRT->SetVariable(const_cast<CHAR16 *>(ACPI_DATA_CACHE_VARIABLE_NAME), &Guid, 0, 0, nullptr);
  }
};

// A first boot: nothing stored, so the stream is compressed and written.
void BM_CustomPathFirstStore(benchmark::State &State) {
  CustomPathBoot Boot;
  if (!Boot.Ready) return State.SkipWithError(Boot.Error.c_str());
  for (auto _ : State) {
    State.PauseTiming();
    Boot.ForgetStoredCache();
    State.ResumeTiming();
    Boot.RunCallback();
  }
  State.counters["peak_pool_bytes"] = static_cast<double>(Boot.Platform.Pool().PeakBytes());
}
BENCHMARK(BM_CustomPathFirstStore)->Unit(benchmark::kMicrosecond);

// A later boot on unchanged tables: the stored cache is decompressed and
// compared, and the variable is left alone.
void BM_CustomPathUnchanged(benchmark::State &State) {
  CustomPathBoot Boot;
  if (!Boot.Ready) return State.SkipWithError(Boot.Error.c_str());
  Boot.RunCallback();
  for (auto _ : State) Boot.RunCallback();
  State.counters["peak_pool_bytes"] = static_cast<double>(Boot.Platform.Pool().PeakBytes());
}
BENCHMARK(BM_CustomPathUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
