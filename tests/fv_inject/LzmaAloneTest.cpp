// LZMA "alone" streams: what the encoder writes is what the firmware's decoder
// expects (the real size in the header, no end marker), checked with liblzma's
// strict raw decoder; the decoder's rejections, one row each.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/fv_inject/FvInjectTestSupport.h"
#include "tools/fv-inject/LzmaAlone.h"

namespace fv_inject_test {
namespace {

Bytes MixedPayload() {
  Bytes Payload = PseudoRandom(5000, 30);
  for (int Round = 0; Round < 200; Round++) {
    const char *Text = "firmware volume image, repeated text compresses well; ";
    Payload.insert(Payload.end(), Text, Text + std::strlen(Text));
  }
  Payload.insert(Payload.end(), 7000, 0xFF);
  return Payload;
}

TEST(LzmaAloneTest, EncodedStreamHasTheFirmwareHeaderAndNoEndMarker) {
  const Bytes Payload = MixedPayload();
  Bytes Stream;
  std::string Error;
  ASSERT_TRUE(fv_inject::EncodeLzmaAlone(Payload, 0x5D, 1u << 24, &Stream, &Error)) << Error;
  ASSERT_GT(Stream.size(), 13u);
  const Bytes Header(Stream.begin(), Stream.begin() + 13);
  Bytes Expected{0x5D, 0x00, 0x00, 0x00, 0x01};
  for (int Shift = 0; Shift < 64; Shift += 8)
    Expected.push_back(static_cast<uint8_t>(Payload.size() >> Shift));
  EXPECT_EQ(Header, Expected);
  std::optional<Bytes> Strict = StrictLzmaDecode(Stream.data(), Stream.size());
  ASSERT_TRUE(Strict.has_value());
  EXPECT_EQ(*Strict, Payload);
  Bytes Decoded;
  ASSERT_TRUE(fv_inject::DecodeLzmaAlone(Stream.data(), Stream.size(), &Decoded, &Error)) << Error;
  EXPECT_EQ(Decoded, Payload);
}

TEST(LzmaAloneTest, KeepsOtherPropertiesAndTheEmptyPayload) {
  Bytes Stream, Decoded;
  std::string Error;
  // lc 0, lp 2, pb 0: properties (0 * 5 + 2) * 9 + 0 = 18.
  ASSERT_TRUE(fv_inject::EncodeLzmaAlone(MixedPayload(), 18, 1u << 16, &Stream, &Error)) << Error;
  EXPECT_EQ(Stream[0], 18);
  std::optional<Bytes> Strict = StrictLzmaDecode(Stream.data(), Stream.size());
  ASSERT_TRUE(Strict.has_value());
  EXPECT_EQ(*Strict, MixedPayload());
  ASSERT_TRUE(fv_inject::EncodeLzmaAlone({}, 0x5D, 1u << 16, &Stream, &Error)) << Error;
  ASSERT_TRUE(fv_inject::DecodeLzmaAlone(Stream.data(), Stream.size(), &Decoded, &Error)) << Error;
  EXPECT_TRUE(Decoded.empty());
}

struct DecodeCase {
  const char *Name;
  std::function<void(Bytes *Stream)> Mutate;
  std::string Message;
};

void SetSize(Bytes *Stream, uint64_t Size) {
  for (int Index = 0; Index < 8; Index++) (*Stream)[5 + Index] = static_cast<uint8_t>(Size >> (8 * Index));
}

class LzmaDecodeRejectTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(LzmaDecodeRejectTest, RejectsWithItsMessage) {
  Bytes Stream;
  std::string Error;
  ASSERT_TRUE(fv_inject::EncodeLzmaAlone(MixedPayload(), 0x5D, 1u << 20, &Stream, &Error));
  GetParam().Mutate(&Stream);
  Bytes Decoded;
  EXPECT_FALSE(fv_inject::DecodeLzmaAlone(Stream.data(), Stream.size(), &Decoded, &Error));
  EXPECT_EQ(Error.substr(0, GetParam().Message.size()), GetParam().Message) << Error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LzmaDecodeRejectTest,
    testing::Values(
        DecodeCase{"ShorterThanHeader", [](Bytes *S) { S->resize(12); },
                   "LZMA stream shorter than its 13-byte header"},
        DecodeCase{"InvalidProperties", [](Bytes *S) { (*S)[0] = 225; },
                   "LZMA header has invalid properties byte 225"},
        DecodeCase{
            "SizeAboveLimit", [](Bytes *S) { SetSize(S, (256ull << 20) + 1); },
            "LZMA header names an uncompressed size of 268435457 bytes, more than the 268435456 accepted"},
        DecodeCase{"UnknownSize", [](Bytes *S) { SetSize(S, UINT64_MAX); },
                   "LZMA header names an uncompressed size of 18446744073709551615 bytes, more than the "
                   "268435456 accepted"},
        DecodeCase{"Truncated", [](Bytes *S) { S->resize(S->size() / 2); },
                   "LZMA decoding failed: the stream ends early"},
        DecodeCase{"SizeLargerThanTheData", [](Bytes *S) { SetSize(S, 80000); },
                   "LZMA decoding failed: the stream ends early"},
        DecodeCase{"SizeSmallerThanTheData", [](Bytes *S) { SetSize(S, 100); },
                   "LZMA decoding failed: the data is corrupt"},
        DecodeCase{"BytesAfterTheStream", [](Bytes *S) { S->insert(S->end(), 5, 0); },
                   "LZMA stream ends 5 bytes before its section does"}),
    [](const testing::TestParamInfo<DecodeCase> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace fv_inject_test
