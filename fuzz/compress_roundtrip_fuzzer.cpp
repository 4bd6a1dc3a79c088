// Encoder round trip: compress arbitrary bytes (up to the cache size) on the
// simulated platform, decompress the result and require the same bytes, a
// consistent header, the exact size reported, and no pool left allocated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace {

constexpr size_t kMaxInput = 0x40000;

void Require(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size > kMaxInput) return 0;
  sim::Platform Platform;
  gST = Platform.SystemTable();
  gBS = Platform.BootServices();

  // Input copied so the encoder never sees libFuzzer's buffer; output sized
  // for the worst case of this format (no stored blocks: data grows a little).
  std::vector<uint8_t> Input(Data, Data + Size);
  std::vector<uint8_t> Stream(Size + Size / 8 + 64);
  UINTN DstSize = Stream.size();
  Require(Compress(Input.data(), static_cast<UINT32>(Size), Stream.data(), &DstSize) == EFI_SUCCESS);
  // The header, then the bit stream and its closing zero byte; the header's
  // compressed size counts exactly those. A tiny input codes in fewer than 8
  // stream bytes (3 bytes take 15 in all), so nothing more is required.
  Require(DstSize > COMPRESS_HEADER_SIZE && DstSize <= Stream.size());
  Require(Stream[0] + (Stream[1] << 8) + (Stream[2] << 16) + (static_cast<UINT32>(Stream[3]) << 24) ==
          DstSize - COMPRESS_HEADER_SIZE);
  Require(Platform.Pool().OutstandingCount() == 0);
  Stream.resize(DstSize);

  UINT32 OrigSize = 0;
  UINT32 ScratchSize = 0;
  Require(GetInfo(Stream.data(), static_cast<UINT32>(DstSize), &OrigSize, &ScratchSize) == EFI_SUCCESS);
  Require(OrigSize == Size);
  std::vector<uint8_t> Output(Size);
  std::vector<uint8_t> Scratch(ScratchSize);
  Require(Decompress(Stream.data(), Output.data(), Scratch.data()) == EFI_SUCCESS);
  Require(Output == Input);

  gBS = nullptr;
  gST = nullptr;
  return 0;
}
