// Cost of one certified-path restore, the driver's own code in this process:
// read and decompress AcpiDataCache, then the restore engine's four phases
// (walk the stream, read the DSDT from its volume file, move the NVS regions,
// patch the integers, install every table). The cache is the one a custom-path
// boot of the driver image stored, on the sample platform and on the largest
// shared dump (the desktop, skipped when ../shared is absent).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"
#include "tools/zephrin-demo/DemoBoots.h"

namespace {

#ifndef ZEPHRIN_DXE_IMAGE
#define ZEPHRIN_DXE_IMAGE ""
#endif

constexpr UINT16 kPhases[] = {0x1000, 0x2000, 0x3000, 0x4000};

// A platform on a certified-path boot, with the cache a custom-path boot of
// the image stored for it.
struct CertifiedBoard {
  sample::SamplePlatform Sample;
  sample::DumpPlatform Dump;
  demo::Board Board;
  std::vector<UINT8> Cache;
  std::unique_ptr<sim::Platform> Platform;
  std::string Error;

  bool Prepare(const std::string &AcpiDump, const std::string &Meta) {
    if (std::string(ZEPHRIN_DXE_IMAGE).empty()) return Fail("no driver image in this build");
    bool Prepared = AcpiDump.empty() ? demo::PrepareSampleBoard(&Sample, "", &Board, &Error)
                                     : demo::PrepareDumpBoard(AcpiDump, "", Meta, &Dump, &Board, &Error);
    if (!Prepared) return false;
    demo::BootSettings Settings;
    Settings.Image = ZEPHRIN_DXE_IMAGE;
    Settings.Store = "/tmp/zephrin-bench-store-" + std::to_string(getpid());
    unlink(Settings.Store.c_str());
    demo::BootSeen Custom = demo::RunCustomBoot(Board, Settings);
    bool Stored = demo::ReadStoredCache(Settings.Store, &Cache);
    unlink(Settings.Store.c_str());
    if (!Stored) return Fail("the custom-path boot stored no cache: " + Custom.Result.Describe());

    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;  // formatted as on a board, delivered nowhere
    Platform = std::make_unique<sim::Platform>(Options);
    sim::BindDriverTo(*Platform);
    mBootPath = BOOT_PATH_CERTIFIED;
    if (!Board.Install(*Platform, false, &Error)) return false;
    Platform->Variables().Put(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid,
                              ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES, Cache);
    // The meta data is read in place, as from its product-data HOB.
    mAcpiMetaDataPtr = Board.MetaData.data();
    mAcpiMetaDataLength = static_cast<UINT32>(Board.MetaData.size());
    return true;
  }

  bool Fail(const std::string &Why) {
    Error = Why;
    return false;
  }

  // The timed part: what DoCertifiedWork and the three callbacks do with the
  // store, less the events.
  EFI_STATUS Restore() {
    EFI_STATUS Status = OpenBlobStream(&mAcpiDataReadHandle, BlobAccessRead);
    if (EFI_ERROR(Status)) return Status;
    for (UINT16 Phase : kPhases) {
      Status = ProcessAcpiDataStorageAndAcpiMetaData(Phase);
      if (EFI_ERROR(Status)) break;
    }
    CloseBlobStream(mAcpiDataReadHandle);
    return Status;
  }

  // Back to a platform without the driver's tables and regions.
  void Reset(const std::map<EFI_PHYSICAL_ADDRESS, sim::PageAllocation> &PagesBefore) {
    sim::AcpiTables &Acpi = Platform->Acpi();
    while (!Acpi.Tables().empty()) Acpi.Uninstall(Acpi.Tables().back().Key);
    std::vector<std::pair<EFI_PHYSICAL_ADDRESS, UINTN>> Fresh;
    // The restored regions; the platform's own XSDT and RSDP stay.
    for (const auto &Live : Platform->Pages().Live()) {
      bool Region = Live.second.Type == EfiACPIMemoryNVS || Live.second.Type == EfiReservedMemoryType;
      if (Region && PagesBefore.count(Live.first) == 0) Fresh.push_back({Live.first, Live.second.Pages});
    }
    for (const auto &Pages : Fresh) Platform->Pages().Free(Pages.first, Pages.second);
    ReleaseDeferredAcpiTable();
    mAcpiDataStorageEntryCount = 0;
  }
};

void RunRestore(benchmark::State &State, const std::string &AcpiDump, const std::string &Meta) {
  CertifiedBoard Board;
  if (!Board.Prepare(AcpiDump, Meta)) return State.SkipWithError(Board.Error.c_str());
  const auto PagesBefore = Board.Platform->Pages().Live();
  size_t Installed = 0;
  for (auto _ : State) {
    EFI_STATUS Status = Board.Restore();
    State.PauseTiming();
    Installed = Board.Platform->Acpi().Tables().size();
    if (EFI_ERROR(Status) || Installed == 0) {
      State.SkipWithError("the restore failed");
      break;
    }
    Board.Reset(PagesBefore);
    State.ResumeTiming();
  }
  State.counters["tables"] = static_cast<double>(Installed);
  State.counters["cache_bytes"] = static_cast<double>(Board.Cache.size());
  State.counters["peak_pool_bytes"] = static_cast<double>(Board.Platform->Pool().PeakBytes());
}

void BM_CertifiedPathSample(benchmark::State &State) {
  RunRestore(State, "", "");
}
BENCHMARK(BM_CertifiedPathSample)->Unit(benchmark::kMicrosecond);

// A shared dump with its meta data from tests/fixtures/dumps.
void RunDumpRestore(benchmark::State &State, const std::string &Name) {
  const std::string Dump = std::string(ZEPHRIN_SHARED_DIR) + "/acpi-dumps/" + Name + ".acpidump";
  struct stat Info;
  if (stat(Dump.c_str(), &Info) != 0) return State.SkipWithError(("shared dumps not found: " + Dump).c_str());
  RunRestore(State, Dump, std::string(ZEPHRIN_DUMP_META_DIR) + "/" + Name + ".meta");
}

// The largest of the shared dumps.
void BM_CertifiedPathDesktopDump(benchmark::State &State) {
  RunDumpRestore(State, "desktop-amd-x470");
}
BENCHMARK(BM_CertifiedPathDesktopDump)->Unit(benchmark::kMicrosecond);

void BM_CertifiedPathLaptopDump(benchmark::State &State) {
  RunDumpRestore(State, "laptop-intel-2015");
}
BENCHMARK(BM_CertifiedPathLaptopDump)->Unit(benchmark::kMicrosecond);

void BM_CertifiedPathServerDump(benchmark::State &State) {
  RunDumpRestore(State, "server-2008");
}
BENCHMARK(BM_CertifiedPathServerDump)->Unit(benchmark::kMicrosecond);

}  // namespace
