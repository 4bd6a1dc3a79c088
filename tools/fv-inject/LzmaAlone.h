// LZMA streams in the "alone" layout that firmware GUID-defined sections carry:
// a 13-byte header (properties byte lc/lp/pb, 32-bit dictionary size, 64-bit
// uncompressed size) and the raw LZMA1 data. The firmware's decoder takes the
// uncompressed size from the header and stops there, so the encoder writes the
// real size and no end-of-payload marker.
#ifndef ZEPHRIN_TOOLS_FV_INJECT_LZMA_ALONE_H_
#define ZEPHRIN_TOOLS_FV_INJECT_LZMA_ALONE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fv_inject {

inline constexpr size_t kLzmaHeaderSize = 13;
// Larger payloads are refused before anything is allocated for them: a firmware
// volume image decompresses to a few MiB, never to this.
inline constexpr uint64_t kMaxLzmaPayload = 256ull << 20;

struct LzmaHeader {
  uint8_t Properties = 0;  // (pb * 5 + lp) * 9 + lc
  uint32_t DictionarySize = 0;
  uint64_t UncompressedSize = 0;
};

// Reads and checks the header (valid properties, a known size within kMaxLzmaPayload).
bool ReadLzmaHeader(const uint8_t *Data, size_t Size, LzmaHeader *Header, std::string *Error);

// Decodes a whole stream; the output has exactly the size the header names.
bool DecodeLzmaAlone(const uint8_t *Data, size_t Size, std::vector<uint8_t> *Out, std::string *Error);

// Encodes Payload with the given properties byte and dictionary size (taken from
// the stream being replaced, so the firmware's decoder needs no more memory than
// before), the real size in the header and no end marker.
bool EncodeLzmaAlone(const std::vector<uint8_t> &Payload, uint8_t Properties, uint32_t DictionarySize,
                     std::vector<uint8_t> *Out, std::string *Error);

}  // namespace fv_inject

#endif  // ZEPHRIN_TOOLS_FV_INJECT_LZMA_ALONE_H_
