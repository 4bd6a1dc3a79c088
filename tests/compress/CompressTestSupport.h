// Helpers of the compression tests: reference vectors, buffers that fault on
// any access past their ends, a small independent stream writer for hand-built
// streams, and a fixture that runs the code on the simulated platform.
#ifndef ZEPHRIN_TESTS_COMPRESS_COMPRESS_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_COMPRESS_COMPRESS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tests/support/HostFiles.h"
#include "uefi/UefiBaseType.h"

namespace compress_test {

using Bytes = std::vector<uint8_t>;

// Directory of the reference vectors; empty when the shared data is absent.
std::string VectorDir();

using test_support::ReadHostFile;
using test_support::WriteHostFile;

// Deterministic test data.
Bytes PseudoRandomBytes(size_t Size, uint32_t Seed);
Bytes RepeatingText(size_t Size);

// Bytes placed against an inaccessible page: with Align::End the byte after the
// last one faults, with Align::Start the byte before the first one does. Catches
// an overrun without a sanitizer.
class GuardedBuffer {
 public:
  enum class Align { Start, End };
  GuardedBuffer(size_t Size, Align Where);
  GuardedBuffer(const Bytes &Contents, Align Where);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer &) = delete;
  GuardedBuffer &operator=(const GuardedBuffer &) = delete;
  uint8_t *Data() { return mData; }
  size_t Size() const { return mSize; }
  Bytes Contents() const { return Bytes(mData, mData + mSize); }

 private:
  uint8_t *mMapping = nullptr;
  size_t mMappingSize = 0;
  uint8_t *mData = nullptr;
  size_t mSize = 0;
};

struct DecodeResult {
  EFI_STATUS InfoStatus = EFI_SUCCESS;  // of GetInfo
  EFI_STATUS Status = EFI_SUCCESS;      // of Decompress (not run when GetInfo fails)
  Bytes Output;
};
// GetInfo, then Decompress with source and output in guarded buffers and the
// scratch exactly DECOMPRESS_SCRATCH_SIZE bytes. OutputAlign places the output
// against the guard on the side a hostile stream would overrun.
DecodeResult DecodeGuarded(const Bytes &Stream, GuardedBuffer::Align OutputAlign = GuardedBuffer::Align::End);

// Little-endian header + body; CompSize defaults to the body's size.
Bytes WithHeader(const Bytes &Body, uint32_t OrigSize, std::optional<uint32_t> CompSize = std::nullopt);
uint32_t HeaderField(const Bytes &Stream, size_t Offset);

// A writer of bit streams, most significant bit first, written for the tests
// apart from the encoder so that hand-made streams do not share its faults.
class BitWriter {
 public:
  void Put(uint32_t NumBits, uint32_t Value);
  Bytes Finish() const;  // pads the last byte with zeros

 private:
  Bytes mBytes;
  uint32_t mAcc = 0;
  uint32_t mCount = 0;
};

// A canonical prefix code given by its lengths.
struct CanonicalCode {
  std::vector<uint8_t> Len;
  std::vector<uint16_t> Code;
  void Put(BitWriter &Out, uint32_t Symbol) const;
};
CanonicalCode MakeCanonicalCode(const std::vector<uint8_t> &Lengths);
// Lengths of a complete code over Symbols in a set of SetSize: every symbol gets
// floor or ceil of log2(count). Needs at least two symbols.
std::vector<uint8_t> BalancedLengths(size_t SetSize, const std::vector<uint32_t> &Symbols);

// Writes an Extra/Position length table (count = Lengths.size()), with the
// 2-bit zero run after index Special as the Extra table has it (Special < 0:
// none). ZeroRun is the value written there.
void PutPTLengths(BitWriter &Out, const std::vector<uint8_t> &Lengths, uint32_t CountBits, int Special,
                  uint32_t ZeroRun = 0);

// One block of a hand-made stream over a chosen set of Char&Len and Position
// symbols, with balanced (complete) codes.
class BlockWriter {
 public:
  // Balanced codes over the given symbols; one symbol gives a one-symbol table.
  BlockWriter(std::vector<uint32_t> CSymbols, std::vector<uint32_t> PSymbols);
  // Codes with the given lengths (NC and NP entries, at least two nonzero each).
  static BlockWriter WithLengths(std::vector<uint8_t> CLengths, std::vector<uint8_t> PLengths);
  void PutHeader(BitWriter &Out, uint16_t CodeCount) const;
  void PutCTable(BitWriter &Out) const;  // Extra table and Char&Len lengths
  void PutPTable(BitWriter &Out) const;
  void Literal(BitWriter &Out, uint8_t Byte) const;
  // A match of Length bytes starting Distance bytes back.
  void Match(BitWriter &Out, uint32_t Length, uint32_t Distance) const;

 private:
  BlockWriter() = default;
  std::vector<uint32_t> mCSymbols;  // used only to tell a one-symbol table
  std::vector<uint32_t> mPSymbols;
  CanonicalCode mC;
  CanonicalCode mP;
};

// Binds the driver's gBS to a fresh simulated platform and checks for leaks
// and faults at the end of each test.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  sim::Platform &Platform() { return *mPlatform; }

 private:
  std::unique_ptr<sim::Platform> mPlatform;
};

// Compress with a capacity; returns status, size and the destination bytes.
struct CompressResult {
  EFI_STATUS Status = EFI_SUCCESS;
  UINTN DstSize = 0;
  Bytes Output;  // the whole destination (Capacity bytes)
};
CompressResult CompressInto(const Bytes &Input, size_t Capacity);
// Compress into a buffer large enough for any input.
Bytes CompressWhole(const Bytes &Input);

}  // namespace compress_test

#endif  // ZEPHRIN_TESTS_COMPRESS_COMPRESS_TEST_SUPPORT_H_
