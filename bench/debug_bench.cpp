// Debug output costs: a filtered message (one level test), a typical error
// message with a status text, a GUID message, and a message cut at the buffer.
#include <benchmark/benchmark.h>

#include <string>

#include "acpi_dxe/core/DebugLib.h"

namespace {

const EFI_GUID kGuid = {0x91DEEA05, 0x8C0A, 0x4DCD, {0xB9, 0x1E, 0xF2, 0x1C, 0xA0, 0xC6, 0x84, 0x05}};

void BM_FilteredDebugPrint(benchmark::State &State) {
  for (auto _ : State) {
    DebugPrint(0x1, "[%a] - Failed to get stored ACPI data: %r\n", "DoCertifiedWork", EFI_NOT_FOUND);
  }
}
BENCHMARK(BM_FilteredDebugPrint);

void BM_FormatStatusMessage(benchmark::State &State) {
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  for (auto _ : State) {
    UINTN Count = AsciiSPrint(Buffer, sizeof(Buffer), "[%a] - Failed to get stored ACPI data: %r\n",
                              "DoCertifiedWork", EFI_NOT_FOUND);
    benchmark::DoNotOptimize(Count);
  }
}
BENCHMARK(BM_FormatStatusMessage);

void BM_FormatGuidAndNumbers(benchmark::State &State) {
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  for (auto _ : State) {
    UINTN Count = AsciiSPrint(Buffer, sizeof(Buffer), "%a - %g at 0x%p, length 0x%x (%,d bytes)\n", "Dump",
                              &kGuid, (VOID *)0x7FE3A018, 0x1234u, 4660);
    benchmark::DoNotOptimize(Count);
  }
}
BENCHMARK(BM_FormatGuidAndNumbers);

void BM_FormatCutAtBuffer(benchmark::State &State) {
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  const std::string Long(1000, 'x');
  for (auto _ : State) {
    UINTN Count = AsciiSPrint(Buffer, sizeof(Buffer), "%a - %a\n", "Caller", Long.c_str());
    benchmark::DoNotOptimize(Count);
  }
}
BENCHMARK(BM_FormatCutAtBuffer);

}  // namespace
