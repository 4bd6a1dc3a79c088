// Throughput of Compress and Decompress, run through the driver's own code on
// the simulated platform's pool, over every reference input above 32 KiB and
// over the blob stream a capture makes of the largest shared ACPI dump. Each
// run also checks its result: the encoder's output against the reference
// stream (byte for byte) where there is one, the decoder's against the input.
//
// The dump's stream is what the custom path would compress on that machine:
// its tables (acpidump text) published as the platform's, and every table
// captured whole into the write stream by ProcessAcpiTablesFromXsdt.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/AcpiDump.h"
#include "sim/Platform.h"

namespace {

using Bytes = std::vector<UINT8>;

// Inputs at or below this size are over before a timer says anything useful.
constexpr uintmax_t kMinInputBytes = 32 * 1024;
const char kDumpName[] = "desktop-amd-x470";

// One benchmarked input: its bytes and, for a reference vector, the stream
// the reference encoder made of it.
struct Sample {
  Bytes Input;
  Bytes Reference;  // empty: no reference stream, the round trip is the check
  std::string Error;
};

std::string VectorDir() {
  return std::string(ZEPHRIN_SHARED_DIR) + "/vectors/uefi-compression/";
}

bool Load(const std::string &Path, Bytes *Data) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Data->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

Sample LoadVector(const std::string &Name) {
  Sample Vector;
  if (!Load(VectorDir() + "inputs/" + Name + ".bin", &Vector.Input) ||
      !Load(VectorDir() + "streams/" + Name + ".efi11", &Vector.Reference)) {
    Vector.Error = "reference vector " + Name + " not found under " + VectorDir();
  }
  return Vector;
}

// The dump's tables as the platform publishes them (sim/AcpiDump.h), its FADT
// presented as the 6.3 one the capture takes, so that it is captured whole.
bool PlatformTablesOf(const std::string &Path, std::vector<Bytes> *Tables, std::string *Error) {
  std::vector<sim::DumpTable> Dumped, Arranged;
  std::vector<std::string> Notes;
  if (!sim::ReadAcpiDumpFile(Path, &Dumped, Error) ||
      !sim::ArrangeDumpTables(Dumped, &Arranged, &Notes, Error))
    return false;
  for (sim::DumpTable &Table : Arranged) {
    if (Table.Signature == "FACP") sim::PresentFadtAs63(&Table.Bytes);
    Tables->push_back(std::move(Table.Bytes));
  }
  return true;
}

// Captures the dump's tables into the write stream on a simulated custom-path
// boot without meta data (every table is stored whole) and returns the stream.
Sample CaptureDump(const std::string &Name) {
  Sample Stream;
  const std::string Path = std::string(ZEPHRIN_SHARED_DIR) + "/acpi-dumps/" + Name + ".acpidump";
  std::vector<Bytes> Tables;
  std::string Error;
  if (!PlatformTablesOf(Path, &Tables, &Error)) {
    Stream.Error = "ACPI dump " + Path + " not usable: " + Error;
    return Stream;
  }
  sim::Platform Platform;  // its recorder keeps the capture's messages for a failure
  gST = Platform.SystemTable();
  gBS = Platform.BootServices();
  mBootPath = BOOT_PATH_CUSTOM;
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
  BLOB_HANDLE Handle = BLOB_HANDLE_NONE;
  if (Platform.Acpi().InstallPlatformTables(Tables) != EFI_SUCCESS) {
    Stream.Error = "the tables of " + Path + " could not be published";
  } else if (OpenBlobStream(&Handle, BlobAccessWrite) != EFI_SUCCESS) {
    Stream.Error = "write stream did not open";
  } else if (ProcessAcpiTablesFromXsdt() != EFI_SUCCESS) {
    Stream.Error = "capture of " + Path + " failed";
    for (const sim::DebugRecord &Record : Platform.Recorder().Records().Debug)
      std::fprintf(stderr, "%s", Record.Text.c_str());
  } else {
    Stream.Input.assign(mWriteBlobStreamPointer, mWriteBlobStreamPointer + mWriteBlobStreamOffset);
  }
  DiscardWriteBlobStream();
  mBootPath = 0;
  gST = nullptr;
  gBS = nullptr;
  return Stream;
}

bool Decodes(const Bytes &Stream, const Bytes &Expected) {
  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  if (GetInfo(Stream.data(), static_cast<UINT32>(Stream.size()), &DstSize, &ScratchSize) != EFI_SUCCESS)
    return false;
  Bytes Output(DstSize);
  Bytes Scratch(ScratchSize);
  return Decompress(Stream.data(), Output.data(), Scratch.data()) == EFI_SUCCESS && Output == Expected;
}

// The encoder's output for an input without a reference stream.
Bytes Encode(const Bytes &Input) {
  sim::Platform Platform;
  gBS = Platform.BootServices();
  Bytes Output(Input.size() + Input.size() / 8 + 64);
  UINTN DstSize = Output.size();
  EFI_STATUS Status = Compress(Input.data(), static_cast<UINT32>(Input.size()), Output.data(), &DstSize);
  gBS = nullptr;
  Output.resize(Status == EFI_SUCCESS ? DstSize : 0);
  return Output;
}

void BM_Compress(benchmark::State &State, const Sample *Data) {
  if (!Data->Error.empty()) return State.SkipWithError(Data->Error.c_str());
  const Bytes &Input = Data->Input;
  sim::Platform Platform;
  gST = Platform.SystemTable();
  gBS = Platform.BootServices();
  // Room for incompressible input, whose stream is a little larger than itself.
  Bytes Output(Input.size() + Input.size() / 8 + 64);
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
  if (!Data->Reference.empty() && Output != Data->Reference)
    State.SkipWithError("output differs from the reference stream");
  if (Data->Reference.empty() && !Decodes(Output, Input))
    State.SkipWithError("output does not decode to the input");
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Input.size()));
  State.counters["compressed_bytes"] = static_cast<double>(DstSize);
  State.counters["ratio"] = static_cast<double>(Input.size()) / static_cast<double>(DstSize);
  State.counters["peak_pool_bytes"] = static_cast<double>(Platform.Pool().PeakBytes());
  gST = nullptr;
  gBS = nullptr;
}

void BM_Decompress(benchmark::State &State, const Sample *Data) {
  if (!Data->Error.empty()) return State.SkipWithError(Data->Error.c_str());
  const Bytes Stream = Data->Reference.empty() ? Encode(Data->Input) : Data->Reference;
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
  if (Output != Data->Input) State.SkipWithError("decoded bytes differ from the input");
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Output.size()));
  State.counters["compressed_bytes"] = static_cast<double>(Stream.size());
  State.counters["ratio"] = static_cast<double>(Output.size()) / static_cast<double>(Stream.size());
  State.counters["scratch_bytes"] = static_cast<double>(ScratchSize);
}

// The reference inputs above kMinInputBytes, by name; none when the vectors are absent.
std::vector<std::string> LargeVectorNames() {
  std::vector<std::string> Names;
  std::error_code Error;
  for (const auto &Entry : std::filesystem::directory_iterator(VectorDir() + "inputs", Error)) {
    if (Entry.path().extension() == ".bin" && Entry.file_size() > kMinInputBytes)
      Names.push_back(Entry.path().stem().string());
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

void Register(const std::string &Name, const Sample *Data) {
  benchmark::RegisterBenchmark(("BM_Compress/" + Name).c_str(), BM_Compress, Data)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("BM_Decompress/" + Name).c_str(), BM_Decompress, Data)
      ->Unit(benchmark::kMicrosecond);
}

// Loads every input once; the samples live for the whole program.
void RegisterAll() {
  static std::vector<std::pair<std::string, Sample>> Samples;
  std::vector<std::string> Names = LargeVectorNames();
  if (Names.empty()) {
    std::fprintf(stderr, "reference vectors not found under %s: only the dump is measured\n",
                 VectorDir().c_str());
  }
  Samples.reserve(Names.size() + 1);
  for (const std::string &Name : Names) Samples.emplace_back(Name, LoadVector(Name));
  Samples.emplace_back(std::string("acpidump_") + kDumpName, CaptureDump(kDumpName));
  for (const auto &[Name, Data] : Samples) Register(Name, &Data);
}

}  // namespace

// The inputs are loaded and the dump captured before the benchmarks run, not
// in a static initializer: the simulated platform needs a running program.
int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
