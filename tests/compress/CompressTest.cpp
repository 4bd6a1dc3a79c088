// The encoder on the simulated platform: round trips at the window edges,
// destinations too small, and its pool use (exact working-set size, leaks,
// every allocation failing in turn, the code buffer shrinking when pool is short).
#include <gtest/gtest.h>

#include <functional>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/compress/CompressTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace compress_test {
namespace {

// Window (8,192) twice plus the longest match: the first slide happens here.
constexpr size_t kSlideEdge = 2 * 8192 + 256;

// ---- Round trips ----------------------------------------------------------------

struct RoundTripRow {
  const char *Name;
  std::function<Bytes()> Make;
};
ZEPHRIN_PRINT_ROW_BY_NAME(RoundTripRow)

Bytes Run(size_t Size, uint8_t Byte) {
  return Bytes(Size, Byte);
}

Bytes AllByteValues(size_t Repeats) {
  Bytes Out;
  for (size_t Round = 0; Round < Repeats; Round++) {
    for (size_t Byte = 0; Byte < 256; Byte++) Out.push_back(static_cast<uint8_t>(Byte * 7 + Round));
  }
  return Out;
}

// Random blocks repeated at distances up to and past the window.
Bytes FarRepeats(size_t Size) {
  Bytes Seed = PseudoRandomBytes(Size, 99);
  for (size_t Offset = 9000; Offset + 300 < Size; Offset += 4000) {
    size_t Back = (Offset / 4000) % 2 == 0 ? 8191 : 8193;
    std::copy(Seed.begin() + static_cast<long>(Offset - Back),
              Seed.begin() + static_cast<long>(Offset - Back + 300),
              Seed.begin() + static_cast<long>(Offset));
  }
  return Seed;
}

const RoundTripRow kRoundTrips[] = {
    {"OneByte", [] { return Run(1, 0x5A); }},
    {"TwoBytes",
     [] {
       return Bytes{1, 2};
     }},
    {"ThreeEqualBytes", [] { return Run(3, 7); }},
    {"RunJustBelowMaxMatch", [] { return Run(256, 0xEE); }},
    {"RunPastMaxMatch", [] { return Run(258, 0xEE); }},
    {"SlideEdgeMinusOne", [] { return PseudoRandomBytes(kSlideEdge - 1, 1); }},
    {"SlideEdge", [] { return PseudoRandomBytes(kSlideEdge, 2); }},
    {"SlideEdgePlusOne", [] { return PseudoRandomBytes(kSlideEdge + 1, 3); }},
    {"SlideEdgeText", [] { return RepeatingText(kSlideEdge + 1); }},
    {"LongRunAcrossSlides", [] { return Run(70000, 0); }},
    {"AllByteValues", [] { return AllByteValues(300); }},
    {"FarRepeats", [] { return FarRepeats(60000); }},
    {"TextMaxCacheSize", [] { return RepeatingText(0x40000); }},
    {"RandomMaxCacheSize", [] { return PseudoRandomBytes(0x40000, 4); }},
};

class CompressRoundTripTest : public PlatformTest, public ::testing::WithParamInterface<RoundTripRow> {};

TEST_P(CompressRoundTripTest, DecodesToInputWithConsistentHeader) {
  Bytes Input = GetParam().Make();
  Bytes Stream = CompressWhole(Input);
  ASSERT_GE(Stream.size(), 16u);
  // Compressed size counts the bit stream plus the trailing zero byte.
  EXPECT_EQ(HeaderField(Stream, 0), Stream.size() - 8);
  EXPECT_EQ(HeaderField(Stream, 4), Input.size());
  EXPECT_EQ(Stream.back(), 0);
  DecodeResult Decoded = DecodeGuarded(Stream);
  EXPECT_EQ(Decoded.Status, EFI_SUCCESS);
  EXPECT_TRUE(Decoded.Output == Input) << "round trip changed the data";
}

INSTANTIATE_TEST_SUITE_P(Inputs, CompressRoundTripTest, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTripRow> &Info) { return Info.param.Name; });

// ---- Destination too small -----------------------------------------------------------

class CompressCapacityTest : public PlatformTest, public ::testing::WithParamInterface<int> {};

// Capacity given as an offset from the needed size (negative) or absolute (>= 0).
TEST_P(CompressCapacityTest, TooSmallReportsNeededSizeAndWritesOnlyAPrefix) {
  Bytes Input = RepeatingText(5000);
  Bytes Full = CompressWhole(Input);
  size_t Capacity = GetParam() < 0 ? Full.size() + GetParam() : static_cast<size_t>(GetParam());
  CompressResult Result = CompressInto(Input, Capacity);  // the byte after Capacity faults
  EXPECT_EQ(Result.Status, EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Result.DstSize, Full.size());
  EXPECT_TRUE(Result.Output == Bytes(Full.begin(), Full.begin() + static_cast<long>(Capacity)));
}

INSTANTIATE_TEST_SUITE_P(Capacities, CompressCapacityTest, ::testing::Values(0, 1, 7, 8, 9, 100, -2, -1),
                         [](const ::testing::TestParamInfo<int> &Info) {
                           return Info.param < 0 ? "NeededMinus" + std::to_string(-Info.param)
                                                 : "Absolute" + std::to_string(Info.param);
                         });

class CompressTest : public PlatformTest {};

TEST_F(CompressTest, EmptyInputIsOneEmptyBlock) {
  UINTN DstSize = 0;
  EXPECT_EQ(Compress(nullptr, 0, nullptr, &DstSize), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(DstSize, 16u);
  Bytes Stream = CompressWhole(Bytes());
  ASSERT_EQ(Stream.size(), 16u);
  EXPECT_EQ(HeaderField(Stream, 0), 8u);
  EXPECT_EQ(HeaderField(Stream, 4), 0u);
  DecodeResult Decoded = DecodeGuarded(Stream);
  EXPECT_EQ(Decoded.Status, EFI_SUCCESS);
  EXPECT_TRUE(Decoded.Output.empty());
}

TEST_F(CompressTest, IncompressibleInputDoesNotFitInItsOwnSize) {
  // The system stores a stream only when it compresses below its own size.
  Bytes Input = PseudoRandomBytes(4096, 8);
  CompressResult Result = CompressInto(Input, Input.size());
  EXPECT_EQ(Result.Status, EFI_BUFFER_TOO_SMALL);
  EXPECT_GT(Result.DstSize, Input.size());
}

TEST_F(CompressTest, RejectsMissingSizeOrBuffers) {
  Bytes Input(10, 1);
  Bytes Output(64);
  UINTN DstSize = Output.size();
  EXPECT_EQ(Compress(Input.data(), 10, Output.data(), nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Compress(nullptr, 10, Output.data(), &DstSize), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Compress(Input.data(), 10, nullptr, &DstSize), EFI_INVALID_PARAMETER);
}

// ---- Pool use ---------------------------------------------------------------------------

// text 16,640 + level 8,448 + child count 8,448 + position 16,896 + parent
// 32,768 + prev 32,768 + next 57,824 + code buffer 16,384.
constexpr UINTN kWorkingSet = 190176;
constexpr UINTN kSlideBuffer = 8448;

TEST_F(CompressTest, PeakPoolIsTheWorkingSetAndAllIsReleased) {
  Platform().Pool().StartCounting();
  CompressWhole(RepeatingText(1000));
  EXPECT_EQ(Platform().Pool().PeakBytes(), kWorkingSet);
  EXPECT_EQ(Platform().Pool().AllocationsCounted(), 8u);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u);
}

TEST_F(CompressTest, WindowSlideAddsItsMoveBufferToThePeak) {
  Platform().Pool().StartCounting();
  CompressWhole(RepeatingText(0x40000));
  EXPECT_EQ(Platform().Pool().PeakBytes(), kWorkingSet + kSlideBuffer);
  // One move each time the position has advanced 8,192 bytes: 256 KiB / 8 KiB.
  EXPECT_EQ(Platform().Pool().AllocationsCounted(), 8u + 32u);
  EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u);
}

// Fails the Nth allocation of a compression that slides the window four
// times. Only the code buffer has a fallback (a smaller buffer); every other
// failure ends the call with EFI_OUT_OF_RESOURCES and no leak.
TEST_F(CompressTest, EveryAllocationFailureIsCleanedUp) {
  Bytes Input = RepeatingText(40000);
  Bytes Expected = CompressWhole(Input);
  Platform().Pool().StartCounting();
  CompressWhole(Input);
  const UINT64 Allocations = Platform().Pool().AllocationsCounted();
  ASSERT_EQ(Allocations, 8u + 4u);
  const UINT64 CodeBufferAllocation = 8;
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    SCOPED_TRACE("failing allocation " + std::to_string(Nth));
    Platform().Pool().FailAllocation(Nth);
    CompressResult Result = CompressInto(Input, Expected.size() + 1024);
    EXPECT_EQ(Platform().Pool().OutstandingCount(), 0u) << Platform().Pool().LeakReport();
    if (Nth == CodeBufferAllocation) {
      ASSERT_EQ(Result.Status, EFI_SUCCESS);
      Result.Output.resize(Result.DstSize);
      EXPECT_TRUE(DecodeGuarded(Result.Output).Output == Input);
    } else {
      EXPECT_EQ(Result.Status, EFI_OUT_OF_RESOURCES);
    }
  }
}

// ---- Code buffer fallback, with a pool that refuses chosen sizes ------------------------

std::function<bool(UINTN)> gRefuseSize;
std::vector<UINTN> gRefusedSizes;
decltype(EFI_BOOT_SERVICES::AllocatePool) gRealAllocatePool;

EFI_STATUS EFIAPI RefusingAllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  if (gRefuseSize(Size)) {
    gRefusedSizes.push_back(Size);
    return EFI_OUT_OF_RESOURCES;
  }
  return gRealAllocatePool(Type, Size, Buffer);
}

class CodeBufferFallbackTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    mServices = *gBS;
    gRealAllocatePool = mServices.AllocatePool;
    mServices.AllocatePool = RefusingAllocatePool;
    gBS = &mServices;
    gRefusedSizes.clear();
  }
  // The code buffer sizes tried: 16,384, then 10 % less each time.
  static bool IsCodeBufferSize(UINTN Size) { return Size <= 16384 && Size != kSlideBuffer; }
  EFI_BOOT_SERVICES mServices;
};

TEST_F(CodeBufferFallbackTest, SmallerCodeBufferStillRoundTrips) {
  gRefuseSize = [](UINTN Size) { return IsCodeBufferSize(Size) && Size > 5000; };
  Bytes Input = RepeatingText(100000);
  Bytes Stream = CompressWhole(Input);
  // 16,384 -> 14,742 -> ... -> 5,103 refused; 4,590 taken.
  ASSERT_EQ(gRefusedSizes.size(), 12u);
  EXPECT_EQ(gRefusedSizes.front(), 16384u);
  EXPECT_EQ(gRefusedSizes.back(), 5103u);
  DecodeResult Decoded = DecodeGuarded(Stream);
  EXPECT_EQ(Decoded.Status, EFI_SUCCESS);
  EXPECT_TRUE(Decoded.Output == Input);
}

TEST_F(CodeBufferFallbackTest, GivesUpBelowFourKiB) {
  gRefuseSize = [](UINTN Size) { return IsCodeBufferSize(Size); };
  Bytes Input = RepeatingText(1000);
  CompressResult Result = CompressInto(Input, 2000);
  EXPECT_EQ(Result.Status, EFI_OUT_OF_RESOURCES);
  // 13 retries down to 4,131; the next size, 3,717, is not tried.
  ASSERT_EQ(gRefusedSizes.size(), 14u);
  EXPECT_EQ(gRefusedSizes.back(), 4131u);
}

}  // namespace
}  // namespace compress_test
