// LZMA "alone" streams through liblzma: the alone decoder for reading, the raw
// LZMA1EXT encoder (known size, no end marker) behind a header we write.
#include "tools/fv-inject/LzmaAlone.h"

#include <lzma.h>

namespace fv_inject {
namespace {

constexpr uint8_t kMaxProperties = (4 * 5 + 4) * 9 + 8;  // pb 4, lp 4, lc 8

uint64_t ReadLe(const uint8_t *Bytes, size_t Count) {
  uint64_t Value = 0;
  for (size_t Index = 0; Index < Count; Index++) Value |= static_cast<uint64_t>(Bytes[Index]) << (8 * Index);
  return Value;
}

void AppendLe(std::vector<uint8_t> *Out, uint64_t Value, size_t Count) {
  for (size_t Index = 0; Index < Count; Index++) Out->push_back(static_cast<uint8_t>(Value >> (8 * Index)));
}

std::string LzmaError(const char *What, lzma_ret Result) {
  return std::string(What) + " failed (liblzma error " + std::to_string(static_cast<int>(Result)) + ")";
}

// Runs a prepared stream over the whole input into Out, which must already have
// the room the stream may need; Out is cut to what was produced.
lzma_ret RunToEnd(lzma_stream *Stream, const uint8_t *In, size_t InSize, std::vector<uint8_t> *Out) {
  Stream->next_in = In;
  Stream->avail_in = InSize;
  Stream->next_out = Out->data();
  Stream->avail_out = Out->size();
  lzma_ret Result = lzma_code(Stream, LZMA_FINISH);
  Out->resize(Out->size() - Stream->avail_out);
  return Result;
}

}  // namespace

bool ReadLzmaHeader(const uint8_t *Data, size_t Size, LzmaHeader *Header, std::string *Error) {
  if (Size < kLzmaHeaderSize) {
    *Error = "LZMA stream shorter than its 13-byte header";
    return false;
  }
  Header->Properties = Data[0];
  Header->DictionarySize = static_cast<uint32_t>(ReadLe(Data + 1, 4));
  Header->UncompressedSize = ReadLe(Data + 5, 8);
  if (Header->Properties > kMaxProperties) {
    *Error = "LZMA header has invalid properties byte " + std::to_string(Header->Properties);
    return false;
  }
  if (Header->UncompressedSize > kMaxLzmaPayload) {
    *Error = "LZMA header names an uncompressed size of " + std::to_string(Header->UncompressedSize) +
             " bytes, more than the " + std::to_string(kMaxLzmaPayload) + " accepted";
    return false;
  }
  return true;
}

bool DecodeLzmaAlone(const uint8_t *Data, size_t Size, std::vector<uint8_t> *Out, std::string *Error) {
  LzmaHeader Header;
  if (!ReadLzmaHeader(Data, Size, &Header, Error)) return false;
  lzma_stream Stream = LZMA_STREAM_INIT;
  lzma_ret Result = lzma_alone_decoder(&Stream, UINT64_MAX);
  if (Result != LZMA_OK) {
    *Error = LzmaError("LZMA decoder setup", Result);
    return false;
  }
  // One byte more than announced, so a stream that runs past its size is caught.
  Out->assign(static_cast<size_t>(Header.UncompressedSize) + 1, 0);
  Result = RunToEnd(&Stream, Data, Size, Out);
  lzma_end(&Stream);
  if (Result != LZMA_STREAM_END) {
    *Error = LzmaError("LZMA decoding", Result);
    return false;
  }
  if (Out->size() != Header.UncompressedSize) {
    *Error = "LZMA stream decoded to " + std::to_string(Out->size()) + " bytes, its header says " +
             std::to_string(Header.UncompressedSize);
    return false;
  }
  return true;
}

bool EncodeLzmaAlone(const std::vector<uint8_t> &Payload, uint8_t Properties, uint32_t DictionarySize,
                     std::vector<uint8_t> *Out, std::string *Error) {
  if (Properties > kMaxProperties) {
    *Error = "invalid LZMA properties byte " + std::to_string(Properties);
    return false;
  }
  lzma_options_lzma Options;
  if (lzma_lzma_preset(&Options, 9)) {
    *Error = "LZMA preset 9 is not supported by this liblzma";
    return false;
  }
  Options.dict_size = DictionarySize < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : DictionarySize;
  Options.lc = Properties % 9;
  Options.lp = (Properties / 9) % 5;
  Options.pb = Properties / 45;
  Options.ext_flags = 0;  // the size is known: no end-of-payload marker
  Options.ext_size_low = static_cast<uint32_t>(Payload.size());
  Options.ext_size_high = static_cast<uint32_t>(static_cast<uint64_t>(Payload.size()) >> 32);
  lzma_filter Filters[] = {{LZMA_FILTER_LZMA1EXT, &Options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream Stream = LZMA_STREAM_INIT;
  lzma_ret Result = lzma_raw_encoder(&Stream, Filters);
  if (Result != LZMA_OK) {
    *Error = LzmaError("LZMA encoder setup", Result);
    return false;
  }
  std::vector<uint8_t> Body(Payload.size() + Payload.size() / 2 + 4096);
  Result = RunToEnd(&Stream, Payload.data(), Payload.size(), &Body);
  lzma_end(&Stream);
  if (Result != LZMA_STREAM_END) {
    *Error = LzmaError("LZMA encoding", Result);
    return false;
  }
  Out->clear();
  Out->push_back(Properties);
  AppendLe(Out, Options.dict_size, 4);
  AppendLe(Out, Payload.size(), 8);
  Out->insert(Out->end(), Body.begin(), Body.end());
  return true;
}

}  // namespace fv_inject
