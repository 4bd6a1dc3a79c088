// Cost of one run of the shipped TE image of the feature-control PEI module on
// the emulated IA-32 PEI phase: a fresh PEI phase, the machine set up, the image
// loaded and relocated, and the entry point run to its return, as every
// TE-image scenario test does it. The target is under 50 ms per run.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "sim/FvImage.h"
#include "sim/HobList.h"
#include "sim/Ia32PeiHost.h"
#include "sim/PeiServices.h"
#include "sim/ProductDataImage.h"

namespace {

constexpr EFI_GUID kFile = {0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};

const std::vector<uint8_t> &TeImage() {
  static const std::vector<uint8_t> *Image = [] {
    std::ifstream In(ZEPHRIN_PEI_TE_IMAGE, std::ios::binary);
    return new std::vector<uint8_t>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }();
  return *Image;
}

std::vector<UINT8> FlagsContainer() {
  return sim::BuildProductDataContainer({{FEATURE_CONTROL_ITEM_ID, 5, std::vector<UINT8>(64, 0x5A)}});
}

// Runs the image once on Phase; the run must return and publish one HOB.
void RunOnce(benchmark::State &State, sim::PeiPhase &Phase) {
  sim::Ia32PeiHost Host(Phase);
  std::string Error;
  if (!Host.Load(TeImage(), &Error)) {
    State.SkipWithError(Error.c_str());
    return;
  }
  sim::Ia32RunReport Report = Host.Run();
  if (!Report.Returned || Phase.CreatedHobs().size() != 1) State.SkipWithError(Report.Describe().c_str());
}

// The flags in a product-data HOB: the shortest road through the module.
void BM_TeImageRunItemInHob(benchmark::State &State) {
  sim::HobListBuilder Hobs;
  Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({5}));
  Hobs.AddGuidHob(gProductDataHobGuid, FlagsContainer());
  for (auto _ : State) {
    sim::PeiPhase Phase(Hobs);
    RunOnce(State, Phase);
  }
}
BENCHMARK(BM_TeImageRunItemInHob)->Unit(benchmark::kMillisecond);

// The flags in the secondary volume behind excluded and foreign files: the
// longest road (volume search, file walk, every FFS service).
void BM_TeImageRunItemInVolume(benchmark::State &State) {
  sim::HobListBuilder Hobs;
  Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({5}));
  sim::FvImageBuilder Primary, Secondary;
  Primary.SetFvName(gProductDataPrimaryFvGuid)
      .AddRawFile(gProductDataExcludedFile1Guid, FlagsContainer())
      .AddRawFile(kFile, std::vector<UINT8>(64, 0x11));
  Secondary.SetFvName(gProductDataSecondaryFvGuid).AddRawFile(kFile, FlagsContainer());
  const std::vector<UINT8> PrimaryImage = Primary.Build(), SecondaryImage = Secondary.Build();
  for (auto _ : State) {
    sim::PeiPhase Phase(Hobs);
    std::string Error;
    if (!Phase.AddVolume(PrimaryImage, &Error) || !Phase.AddVolume(SecondaryImage, &Error)) {
      State.SkipWithError(Error.c_str());
      break;
    }
    RunOnce(State, Phase);
  }
}
BENCHMARK(BM_TeImageRunItemInVolume)->Unit(benchmark::kMillisecond);

}  // namespace
