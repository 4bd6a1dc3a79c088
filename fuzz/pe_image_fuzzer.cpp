// The image loader and the TE converter over arbitrary files: header parsing,
// mapping, relocation and conversion must refuse or succeed, never read or
// write outside the file or the image. Seeds: fuzz/corpus/pe_image/ (the PE32+
// probe driver and the PE32 probe module of the tests).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/PeImage.h"
#include "tools/te-convert/TeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::string Error;
  sim::PeHeaders Headers;
  // Mapping is lazy, but a huge SizeOfImage still costs time to unmap; the
  // checks that matter do not depend on the image being large.
  if (sim::ParsePeHeaders(Data, Size, &Headers, &Error) && Headers.SizeOfImage <= (16u << 20)) {
    std::unique_ptr<sim::PeImage> Image = sim::PeImage::Load(Data, Size, &Error);
  }
  std::vector<uint8_t> Pe(Data, Data + Size);
  std::vector<uint8_t> Te;
  te_convert::ConvertPe32ToTe(Pe, &Te, &Error);
  return 0;
}
