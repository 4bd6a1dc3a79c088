// The reference vectors: streams the reference encoder produced (reproduced
// byte for byte and decoded), valid hand-made streams, malformed streams the
// published decoding algorithm accepts (decoded to the expected bytes), and
// malformed streams that must be rejected. Every decode runs with the source,
// output and scratch against inaccessible pages.
#include <gtest/gtest.h>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "tests/compress/CompressTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace compress_test {
namespace {

class VectorTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    mDir = VectorDir();
    if (mDir.empty()) GTEST_SKIP() << "reference vectors not found under " << ZEPHRIN_SHARED_DIR;
  }
  Bytes Load(const std::string &Relative) {
    std::optional<Bytes> Data = ReadHostFile(mDir + "/" + Relative);
    EXPECT_TRUE(Data.has_value()) << "missing vector " << Relative;
    return Data.value_or(Bytes());
  }
  std::string mDir;
};

// ---- Reference streams ----------------------------------------------------

class ReferenceStreamTest : public VectorTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ReferenceStreamTest, CompressorReproducesStreamByteForByte) {
  Bytes Input = Load(std::string("inputs/") + GetParam() + ".bin");
  Bytes Expected = Load(std::string("streams/") + GetParam() + ".efi11");
  // Exactly the needed capacity: the stream must fit with not one byte to spare.
  CompressResult Result = CompressInto(Input, Expected.size());
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Result.DstSize, Expected.size());
  EXPECT_TRUE(Result.Output == Expected) << "compressed bytes differ from the reference stream";
}

TEST_P(ReferenceStreamTest, DecoderRestoresInput) {
  Bytes Input = Load(std::string("inputs/") + GetParam() + ".bin");
  DecodeResult Result = DecodeGuarded(Load(std::string("streams/") + GetParam() + ".efi11"));
  EXPECT_EQ(Result.InfoStatus, EFI_SUCCESS);
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_TRUE(Result.Output == Input) << "decoded bytes differ from the input";
}

TEST_P(ReferenceStreamTest, OneByteShortCapacityReportsNeededSizeAndKeepsPrefix) {
  Bytes Input = Load(std::string("inputs/") + GetParam() + ".bin");
  Bytes Expected = Load(std::string("streams/") + GetParam() + ".efi11");
  CompressResult Result = CompressInto(Input, Expected.size() - 1);
  EXPECT_EQ(Result.Status, EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Result.DstSize, Expected.size());
  // The header is complete and the bit stream is the reference's, cut short.
  EXPECT_TRUE(Result.Output == Bytes(Expected.begin(), Expected.end() - 1));
}

INSTANTIATE_TEST_SUITE_P(Streams, ReferenceStreamTest,
                         ::testing::Values("abc", "acpi_like_40k", "empty", "ff_64k", "many_matches_128k",
                                           "mixed_1m", "mixed_256k", "one_byte", "random_4k_seed1",
                                           "random_64k_seed2", "runs_matches_200k", "text_100k", "zero_256",
                                           "zero_256k"),
                         [](const ::testing::TestParamInfo<const char *> &Info) {
                           return std::string(Info.param);
                         });

// ---- Streams that decode: hand-made valid ones and lenient malformed ones ----

class ExpectedOutputTest : public VectorTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ExpectedOutputTest, DecodesToExpectedBytesInsideBuffers) {
  Bytes Expected = Load(std::string(GetParam()) + ".out");
  Bytes Stream = Load(std::string(GetParam()) + ".efi11");
  for (GuardedBuffer::Align Where : {GuardedBuffer::Align::Start, GuardedBuffer::Align::End}) {
    DecodeResult Result = DecodeGuarded(Stream, Where);
    EXPECT_EQ(Result.InfoStatus, EFI_SUCCESS);
    EXPECT_EQ(Result.Status, EFI_SUCCESS);
    EXPECT_TRUE(Result.Output == Expected) << "decoded bytes differ from " << GetParam() << ".out";
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, ExpectedOutputTest,
                         ::testing::Values("decode_only/hand_ok_pos3", "decode_only/hand_ok_clen510",
                                           "lenient/clen_count_511", "lenient/clen_oversubscribed",
                                           "lenient/clen_zero_run_overflow", "lenient/origsize_too_large"),
                         [](const ::testing::TestParamInfo<const char *> &Info) {
                           std::string Name = Info.param;
                           return Name.substr(Name.find('/') + 1);
                         });

// ---- Streams that must be rejected ------------------------------------------

struct BadVector {
  const char *Name;
  bool RejectedBySizeQuery;  // the header contradicts the buffer: GetInfo refuses it
};
ZEPHRIN_PRINT_ROW_BY_NAME(BadVector)

class BadStreamTest : public VectorTest, public ::testing::WithParamInterface<BadVector> {};

TEST_P(BadStreamTest, RejectedWithoutLeavingBuffers) {
  Bytes Stream = Load(std::string("bad/") + GetParam().Name + ".efi11");
  for (GuardedBuffer::Align Where : {GuardedBuffer::Align::Start, GuardedBuffer::Align::End}) {
    DecodeResult Result = DecodeGuarded(Stream, Where);
    if (GetParam().RejectedBySizeQuery) {
      EXPECT_EQ(Result.InfoStatus, EFI_INVALID_PARAMETER);
    } else {
      EXPECT_EQ(Result.InfoStatus, EFI_SUCCESS);
      EXPECT_EQ(Result.Status, EFI_INVALID_PARAMETER);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, BadStreamTest,
    ::testing::Values(BadVector{"bitlen_gt16", false}, BadVector{"compsize_too_large", true},
                      BadVector{"compsize_wraps", true}, BadVector{"pos_before_start", false},
                      BadVector{"truncated_half", true}, BadVector{"truncated_half_sizefixed", false}),
    [](const ::testing::TestParamInfo<BadVector> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace compress_test
