// Throughput of Compress and Decompress on the 256 KiB reference inputs, run
// through the driver's own code on the simulated platform's pool. Each run also
// checks its result: the encoder's output against the reference stream (byte
// for byte), the decoder's against the input.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace {

using Bytes = std::vector<UINT8>;

bool Load(const std::string &Path, Bytes *Data) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Data->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

// The input and the reference stream of one vector, or an error text.
bool LoadVector(const std::string &Name, Bytes *Input, Bytes *Stream, std::string *Error) {
  const std::string Dir = std::string(ZEPHRIN_SHARED_DIR) + "/vectors/uefi-compression/";
  if (Load(Dir + "inputs/" + Name + ".bin", Input) && Load(Dir + "streams/" + Name + ".efi11", Stream))
    return true;
  *Error = "reference vector " + Name + " not found under " + Dir;
  return false;
}

void BindPlatform(sim::Platform &Platform) {
  gST = Platform.SystemTable();
  gBS = Platform.BootServices();
}

void BM_Compress(benchmark::State &State, const char *Name) {
  Bytes Input, Reference;
  std::string Error;
  if (!LoadVector(Name, &Input, &Reference, &Error)) {
    State.SkipWithError(Error.c_str());
    return;
  }
  sim::Platform Platform;
  BindPlatform(Platform);
  Bytes Output(Input.size());
  UINTN DstSize = 0;
  for (auto _ : State) {
    DstSize = Output.size();
    EFI_STATUS Status = Compress(Input.data(), static_cast<UINT32>(Input.size()), Output.data(), &DstSize);
    if (Status != EFI_SUCCESS) {
      State.SkipWithError("Compress failed");
      break;
    }
    benchmark::DoNotOptimize(Output.data());
  }
  Output.resize(DstSize);
  if (Output != Reference) State.SkipWithError("output differs from the reference stream");
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Input.size()));
  State.counters["compressed_bytes"] = static_cast<double>(DstSize);
  State.counters["ratio"] = static_cast<double>(Input.size()) / static_cast<double>(DstSize);
  State.counters["peak_pool_bytes"] = static_cast<double>(Platform.Pool().PeakBytes());
  gBS = nullptr;
}

void BM_Decompress(benchmark::State &State, const char *Name) {
  Bytes Input, Stream;
  std::string Error;
  if (!LoadVector(Name, &Input, &Stream, &Error)) {
    State.SkipWithError(Error.c_str());
    return;
  }
  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  if (GetInfo(Stream.data(), static_cast<UINT32>(Stream.size()), &DstSize, &ScratchSize) != EFI_SUCCESS) {
    State.SkipWithError("GetInfo failed");
    return;
  }
  Bytes Output(DstSize);
  Bytes Scratch(ScratchSize);  // the fixed 13,376 bytes: nothing else is used
  for (auto _ : State) {
    if (Decompress(Stream.data(), Output.data(), Scratch.data()) != EFI_SUCCESS) {
      State.SkipWithError("Decompress failed");
      break;
    }
    benchmark::DoNotOptimize(Output.data());
  }
  if (Output != Input) State.SkipWithError("decoded bytes differ from the input");
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Output.size()));
  State.counters["compressed_bytes"] = static_cast<double>(Stream.size());
  State.counters["ratio"] = static_cast<double>(Output.size()) / static_cast<double>(Stream.size());
  State.counters["scratch_bytes"] = static_cast<double>(ScratchSize);
}

BENCHMARK_CAPTURE(BM_Compress, mixed_256k, "mixed_256k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, zero_256k, "zero_256k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, mixed_256k, "mixed_256k")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Decompress, zero_256k, "zero_256k")->Unit(benchmark::kMicrosecond);

}  // namespace
