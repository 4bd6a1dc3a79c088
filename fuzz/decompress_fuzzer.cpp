// The decoder on arbitrary bytes. The first three bytes choose the largest
// output the caller accepts (up to 1 MiB, as a caller checks the size query's
// answer against its buffer); the rest is the compressed data. Source, output
// and scratch are heap buffers of exactly their sizes, so the sanitizers catch
// any access outside them. The result is not judged: bounds and termination are.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "acpi_dxe/compress/Decompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 3 || Size - 3 > 4u << 20) return 0;
  const UINT32 Cap = (Data[0] | (Data[1] << 8) | (static_cast<UINT32>(Data[2]) << 16)) % ((1u << 20) + 1);
  const size_t StreamSize = Size - 3;
  // A copy of exactly the stream's size: the byte after it is outside any buffer.
  std::unique_ptr<uint8_t[]> Stream(new uint8_t[StreamSize == 0 ? 1 : StreamSize]);
  for (size_t Index = 0; Index < StreamSize; Index++) Stream[Index] = Data[3 + Index];

  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  if (GetInfo(Stream.get(), static_cast<UINT32>(StreamSize), &DstSize, &ScratchSize) != EFI_SUCCESS) return 0;
  if (DstSize > Cap) return 0;
  std::unique_ptr<uint8_t[]> Output(new uint8_t[DstSize == 0 ? 1 : DstSize]);
  std::unique_ptr<uint8_t[]> Scratch(new uint8_t[ScratchSize]);
  (void)Decompress(Stream.get(), Output.get(), Scratch.get());
  return 0;
}
