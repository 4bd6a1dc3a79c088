// The stream comparison over two arbitrary streams. The first byte chooses how
// the rest becomes two streams: even, the rest is the old stream and the new one
// is a copy with one byte changed (at an offset taken from the next bytes), so
// the walk goes deep into equal-length streams; odd, the rest is cut in two.
// The comparison allocates nothing and must read only inside both streams.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "acpi_dxe/blob/BlobCompare.h"
#include "acpi_dxe/core/DxeServices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 4 || Size > MAX_CACHE_SIZE) return 0;
  std::vector<UINT8> Old;
  std::vector<UINT8> New;
  if ((Data[0] & 1) == 0) {
    size_t Where = (size_t)Data[1] | ((size_t)Data[2] << 8) | ((size_t)(Data[3] & 3) << 16);
    Old.assign(Data + 4, Data + Size);
    New = Old;
    if (!New.empty()) New[Where % New.size()] ^= (UINT8)(Data[0] | 1);
  } else {
    size_t Half = (Size - 1) / 2;
    Old.assign(Data + 1, Data + 1 + Half);
    New.assign(Data + 1 + Half, Data + Size);
  }
  // Exact-size heap copies, so a read past either stream is caught.
  UINT8 *OldCopy = Old.empty() ? nullptr : new UINT8[Old.size()];
  UINT8 *NewCopy = New.empty() ? nullptr : new UINT8[New.size()];
  for (size_t Index = 0; Index < Old.size(); Index++) OldCopy[Index] = Old[Index];
  for (size_t Index = 0; Index < New.size(); Index++) NewCopy[Index] = New[Index];
  BOOLEAN Similar = FALSE;
  EFI_STATUS Status = CompareBlobs(OldCopy, (UINT32)Old.size(), NewCopy, (UINT32)New.size(), &Similar);
  if ((Status == EFI_SUCCESS) != (Similar == TRUE)) __builtin_trap();
  delete[] OldCopy;
  delete[] NewCopy;
  return 0;
}
