// Format engine under arbitrary format strings. The first byte picks the buffer
// size (0 to 255), the rest is the format. Every argument is the address of a
// zero-filled block, which is a valid argument for every conversion: an empty
// string of either width, a GUID, a time, a number or a huge "*" count. The
// buffer is allocated at exactly its size so ASan catches any write past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"

namespace {

// A conversion takes at most three arguments ("*" width, "*" precision, value).
constexpr size_t kArgumentCount = 36;
constexpr size_t kMaxConversions = kArgumentCount / 3;

alignas(16) const UINT8 kZeros[64] = {};

bool TooManyConversions(const std::vector<char> &Format) {
  size_t Percents = 0;
  for (char Char : Format) Percents += Char == '%';
  return Percents > kMaxConversions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1 || Size > 4096) return 0;
  size_t BufferSize = Data[0];
  std::vector<char> Format(Data + 1, Data + Size);
  Format.push_back('\0');
  if (TooManyConversions(Format)) return 0;

  CHAR8 *Buffer = BufferSize > 0 ? static_cast<CHAR8 *>(std::malloc(BufferSize)) : nullptr;
  const VOID *A = kZeros;
  UINTN Count = AsciiSPrint(Buffer, BufferSize, Format.data(), A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A,
                            A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A);
  if (BufferSize == 0) {
    if (Count != 0) std::abort();
  } else if (Count >= BufferSize || Buffer[Count] != '\0') {
    std::abort();
  }
  std::free(Buffer);
  return 0;
}
