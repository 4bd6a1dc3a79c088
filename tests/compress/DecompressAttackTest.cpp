// Hand-built hostile streams, one row per attack this format's decoders have
// suffered: code lengths above 16, symbols past their tables, matches before
// the start of the output, and header sizes that overflow or lie; plus the
// lenient cases the decoding algorithm accepts. Each stream is decoded with the
// output against an inaccessible page on either side, so any access outside
// the buffers faults, and every run must end (no hang).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "acpi_dxe/compress/Decompress.h"
#include "tests/compress/CompressTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace compress_test {
namespace {

struct Built {
  Bytes Stream;
  std::optional<Bytes> Expected;  // decoded bytes when decoding must succeed
};

struct AttackRow {
  const char *Name;
  std::function<Built()> Build;
  EFI_STATUS InfoStatus;  // of GetInfo
  EFI_STATUS Status;      // of Decompress, when GetInfo succeeds
};
ZEPHRIN_PRINT_ROW_BY_NAME(AttackRow)

Bytes Text(const char *Chars) {
  return Bytes(Chars, Chars + std::strlen(Chars));
}

// A block over literals 'A' and 'B' and one position symbol, opened by its header.
const BlockWriter &AbWriter() {
  static const BlockWriter Writer({'A', 'B'}, {0});
  return Writer;
}

// ---- Code lengths above 16 ----------------------------------------------------

Built ExtraLength17() {
  BitWriter Out;
  Out.Put(16, 1);
  PutPTLengths(Out, {1, 17, 1}, 5, 3);
  return {WithHeader(Out.Finish(), 4), std::nullopt};
}

// Unary length prefix of 32 one-bits: the reader must neither shift past its
// buffer nor loop; the length is far above 16.
Built ExtraLengthAllOnes() {
  BitWriter Out;
  Out.Put(16, 1);
  Out.Put(5, 1);
  for (int Word = 0; Word < 4; Word++) Out.Put(32, 0xFFFFFFFF);
  return {WithHeader(Out.Finish(), 4), std::nullopt};
}

Built PositionLength17() {
  BitWriter Out;
  Out.Put(16, 1);
  AbWriter().PutCTable(Out);
  PutPTLengths(Out, {1, 17}, 4, -1);
  return {WithHeader(Out.Finish(), 1), std::nullopt};
}

// A 17 at index 19 of the Extra lengths lies outside the set (19 symbols): it
// is read and then not used, so the stream decodes.
Built ExtraLength17PastSetIgnored() {
  BitWriter Out;
  Out.Put(16, 3);
  std::vector<uint8_t> ExtraLengths(20, 0);
  ExtraLengths[2] = 1;  // zero run of 20 or more
  ExtraLengths[3] = 1;  // length 1
  ExtraLengths[19] = 17;
  PutPTLengths(Out, ExtraLengths, 5, 3);
  Out.Put(9, 'B' + 1);
  Out.Put(1, 0), Out.Put(9, 'A' - 20);  // zeros up to 'A'
  Out.Put(1, 1), Out.Put(1, 1);         // 'A' and 'B' of length 1
  Out.Put(4, 0), Out.Put(4, 0);         // one position symbol
  Out.Put(1, 0), Out.Put(1, 1), Out.Put(1, 0);
  return {WithHeader(Out.Finish(), 3), Text("ABA")};
}

// ---- Symbols past their tables --------------------------------------------------

Built ExtraOneSymbolPastSet(uint32_t Symbol) {
  BitWriter Out;
  Out.Put(16, 1);
  Out.Put(5, 0), Out.Put(5, Symbol);
  Out.Put(9, 0), Out.Put(9, 'A');
  Out.Put(4, 0), Out.Put(4, 0);
  return {WithHeader(Out.Finish(), 1), std::nullopt};
}

Built CharLenOneSymbolPastSet(uint32_t Symbol) {
  BitWriter Out;
  Out.Put(16, 1);
  Out.Put(5, 0), Out.Put(5, 0);
  Out.Put(9, 0), Out.Put(9, Symbol);
  Out.Put(4, 0), Out.Put(4, 0);
  return {WithHeader(Out.Finish(), 4), std::nullopt};
}

// Extra count field 31 (set of 19): lengths are read up to the array bound.
Built ExtraCountAboveSet() {
  BitWriter Out;
  Out.Put(16, 2);
  std::vector<uint8_t> ExtraLengths(31, 0);
  ExtraLengths[2] = 1;
  ExtraLengths[3] = 1;
  PutPTLengths(Out, ExtraLengths, 5, 3);
  Out.Put(9, 'B' + 1);
  Out.Put(1, 0), Out.Put(9, 'A' - 20);
  Out.Put(1, 1), Out.Put(1, 1);
  Out.Put(4, 0), Out.Put(4, 0);
  Out.Put(1, 1), Out.Put(1, 1);
  return {WithHeader(Out.Finish(), 2), Text("BB")};
}

// ---- Matches before the start of the output -----------------------------------

Built MatchAsFirstCode() {
  BitWriter Out;
  BlockWriter Writer({'A', 256}, {0, 1});
  Writer.PutHeader(Out, 1);
  Writer.Match(Out, 3, 1);
  return {WithHeader(Out.Finish(), 3), std::nullopt};
}

// Distance OutputSoFar + Back after four literals: Back 0 copies from offset 0.
Built MatchAfterFourLiterals(uint32_t Back) {
  BitWriter Out;
  BlockWriter Writer({'A', 'B', 'C', 'D', 256}, {2, 3, 12});
  Writer.PutHeader(Out, 5);
  for (char Byte : std::string("ABCD")) Writer.Literal(Out, static_cast<uint8_t>(Byte));
  Writer.Match(Out, 3, 4 + Back);
  return {WithHeader(Out.Finish(), 7), Back == 0 ? std::optional<Bytes>(Text("ABCDABC")) : std::nullopt};
}

// One-symbol Position table with symbol 15: distances near 2^14 + 2^14.
Built PositionOneSymbolFarBack() {
  BitWriter Out;
  BlockWriter Literals({'A', 256}, {15});
  Literals.PutHeader(Out, 2);
  Literals.Literal(Out, 'A');
  Literals.Match(Out, 3, (1u << 14) + 1);
  return {WithHeader(Out.Finish(), 4), std::nullopt};
}

// 9,000 literals from a one-symbol block, then a match 9,000 back: beyond the
// 8 KiB window, but inside the output, so it is accepted.
Built DistanceBeyondWindowInsideOutput() {
  BitWriter Out;
  BlockWriter First({'A'}, {0});
  First.PutHeader(Out, 9000);  // each code is 0 bits long
  BlockWriter Second({'B', 256}, {14});
  Second.PutHeader(Out, 2);
  Second.Literal(Out, 'B');
  Second.Match(Out, 3, 9001);
  Bytes Expected(9000, 'A');
  Expected.push_back('B');
  Expected.insert(Expected.end(), 3, 'A');
  return {WithHeader(Out.Finish(), static_cast<uint32_t>(Expected.size())), Expected};
}

// ---- Incomplete and over-full codes ----------------------------------------------

Built ExtraLengths(const std::vector<uint8_t> &Lengths) {
  BitWriter Out;
  Out.Put(16, 1);
  PutPTLengths(Out, Lengths, 5, 3);
  return {WithHeader(Out.Finish(), 2), std::nullopt};
}

Built PositionLengths(const std::vector<uint8_t> &Lengths) {
  BitWriter Out;
  Out.Put(16, 1);
  AbWriter().PutCTable(Out);
  PutPTLengths(Out, Lengths, 4, -1);
  return {WithHeader(Out.Finish(), 2), std::nullopt};
}

// Codes longer than the 12-bit and 8-bit look-ups: the tree part of the table.
Built LongCodes() {
  std::vector<uint8_t> CLengths(510, 0);
  std::vector<uint32_t> CSymbols = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                                    'i', 'j', 'k', 'l', 'm', 256, 'z'};
  for (uint32_t Index = 0; Index < CSymbols.size(); Index++) {
    CLengths[CSymbols[Index]] = static_cast<uint8_t>(Index + 1 < CSymbols.size() ? Index + 1 : Index);
  }
  std::vector<uint8_t> PLengths = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 0, 0, 0};
  BlockWriter Writer = BlockWriter::WithLengths(CLengths, PLengths);
  BitWriter Out;
  Writer.PutHeader(Out, 4);
  Writer.Literal(Out, 'z');  // 14 bits
  Writer.Literal(Out, 'm');  // 13 bits
  Writer.Literal(Out, 'a');  // 1 bit
  Writer.Match(Out, 3, 3);   // length code of 14 bits, position symbol 1 of 2 bits
  return {WithHeader(Out.Finish(), 6), Text("zmazma")};
}

// Block 2 brings over-full Char&Len lengths: the block goes on with block 1's
// table, as the decoding algorithm does.
Built InvalidCharLenKeepsPreviousTable() {
  BitWriter Out;
  AbWriter().PutHeader(Out, 2);
  AbWriter().Literal(Out, 'A');
  AbWriter().Literal(Out, 'B');
  Out.Put(16, 2);
  PutPTLengths(Out, {0, 0, 1, 1}, 5, 3);
  Out.Put(9, 'C' + 1);
  Out.Put(1, 0), Out.Put(9, 'A' - 20);
  Out.Put(1, 1), Out.Put(1, 1), Out.Put(1, 1);  // 'A', 'B', 'C' all 1 bit long
  Out.Put(4, 0), Out.Put(4, 0);
  Out.Put(1, 1), Out.Put(1, 0);  // old table: 'B', 'A'
  return {WithHeader(Out.Finish(), 4), Text("ABBA")};
}

// ---- Header sizes that overflow or lie ---------------------------------------------

Built CompSizeWraps(uint32_t CompSize) {
  return {WithHeader(Bytes(16, 0), 16, CompSize), std::nullopt};
}

Built CompSizeOnePastBuffer() {
  BitWriter Out;
  AbWriter().PutHeader(Out, 1);
  AbWriter().Literal(Out, 'A');
  Bytes Body = Out.Finish();
  return {WithHeader(Body, 1, static_cast<uint32_t>(Body.size() + 1)), std::nullopt};
}

Built ShortSource(size_t Size) {
  return {Bytes(Size, 0), std::nullopt};
}

// The header asks for fewer bytes than the codes describe: decoding stops there.
Built OrigSizeSmallerThanCodes() {
  BitWriter Out;
  AbWriter().PutHeader(Out, 4);
  for (char Byte : std::string("ABBA")) AbWriter().Literal(Out, static_cast<uint8_t>(Byte));
  return {WithHeader(Out.Finish(), 3), Text("ABB")};
}

// The header asks for 4 MiB from a 4-code stream: the rest decodes from zero
// bits (input past the stream reads as zeros), bounded by the output size.
Built OrigSizeFarBeyondCodes() {
  BitWriter Out;
  AbWriter().PutHeader(Out, 2);
  AbWriter().Literal(Out, 'B');
  AbWriter().Literal(Out, 'B');
  const uint32_t Size = 4u << 20;
  // After the block, zero bits make blocks of 65,536 codes of one-symbol tables
  // of symbol 0: literal zero bytes.
  Bytes Expected(Size, 0);
  Expected[0] = 'B';
  Expected[1] = 'B';
  return {WithHeader(Out.Finish(), Size), Expected};
}

// Random bytes under a header asking for 1 MiB: whatever the status, the run
// ends and stays inside the buffers.
Built RandomBody(uint32_t Seed) {
  return {WithHeader(PseudoRandomBytes(512, Seed), 1u << 20), std::nullopt};
}

constexpr EFI_STATUS kOk = EFI_SUCCESS;
constexpr EFI_STATUS kBad = EFI_INVALID_PARAMETER;
// Random input may decode or fail; only the bounds matter.
constexpr EFI_STATUS kAny = MAX_UINTN;

const AttackRow kRows[] = {
    {"ExtraLength17", ExtraLength17, kOk, kBad},
    {"ExtraLengthUnaryAllOnes", ExtraLengthAllOnes, kOk, kBad},
    {"PositionLength17", PositionLength17, kOk, kBad},
    {"ExtraLength17PastSetIgnored", ExtraLength17PastSetIgnored, kOk, kOk},
    {"ExtraOneSymbol19", [] { return ExtraOneSymbolPastSet(19); }, kOk, kBad},
    {"ExtraOneSymbol31", [] { return ExtraOneSymbolPastSet(31); }, kOk, kBad},
    {"CharLenOneSymbol510", [] { return CharLenOneSymbolPastSet(510); }, kOk, kBad},
    {"CharLenOneSymbol511", [] { return CharLenOneSymbolPastSet(511); }, kOk, kBad},
    {"ExtraCountAboveSet", ExtraCountAboveSet, kOk, kOk},
    {"MatchAsFirstCode", MatchAsFirstCode, kOk, kBad},
    {"MatchFromOffsetZero", [] { return MatchAfterFourLiterals(0); }, kOk, kOk},
    {"MatchOneBeforeStart", [] { return MatchAfterFourLiterals(1); }, kOk, kBad},
    {"MatchFarBeforeStart", [] { return MatchAfterFourLiterals(3000); }, kOk, kBad},
    {"PositionOneSymbolFarBack", PositionOneSymbolFarBack, kOk, kBad},
    {"DistanceBeyondWindowInsideOutput", DistanceBeyondWindowInsideOutput, kOk, kOk},
    {"ExtraOverfullByWholeCodeSpace",
     [] {
       return ExtraLengths({1, 1, 1, 1});
     },
     kOk, kBad},
    {"ExtraOverfull",
     [] {
       return ExtraLengths({1, 1, 1});
     },
     kOk, kBad},
    {"ExtraIncomplete",
     [] {
       return ExtraLengths({1, 2});
     },
     kOk, kBad},
    {"ExtraAllZero",
     [] {
       return ExtraLengths({0, 0, 0});
     },
     kOk, kBad},
    {"PositionOverfull",
     [] {
       return PositionLengths({1, 1, 1});
     },
     kOk, kBad},
    {"PositionIncomplete",
     [] {
       return PositionLengths({2, 2, 2});
     },
     kOk, kBad},
    {"LongCodesThroughTrees", LongCodes, kOk, kOk},
    {"InvalidCharLenKeepsPreviousTable", InvalidCharLenKeepsPreviousTable, kOk, kOk},
    {"CompSizePlus8Wraps", [] { return CompSizeWraps(0xFFFFFFF8u); }, kBad, kOk},
    {"CompSizeMaximum", [] { return CompSizeWraps(0xFFFFFFFFu); }, kBad, kOk},
    {"CompSizeOnePastBuffer", CompSizeOnePastBuffer, kBad, kOk},
    {"SourceEmpty", [] { return ShortSource(0); }, kBad, kOk},
    {"SourceSevenBytes", [] { return ShortSource(7); }, kBad, kOk},
    {"OrigSizeSmallerThanCodes", OrigSizeSmallerThanCodes, kOk, kOk},
    {"OrigSizeFarBeyondCodes", OrigSizeFarBeyondCodes, kOk, kOk},
    {"RandomBody1", [] { return RandomBody(1); }, kOk, kAny},
    {"RandomBody2", [] { return RandomBody(2); }, kOk, kAny},
    {"RandomBody3", [] { return RandomBody(3); }, kOk, kAny},
};

class DecompressAttackTest : public ::testing::TestWithParam<AttackRow> {};

TEST_P(DecompressAttackTest, StatusAndBounds) {
  Built Case = GetParam().Build();
  for (GuardedBuffer::Align Where : {GuardedBuffer::Align::Start, GuardedBuffer::Align::End}) {
    DecodeResult Result = DecodeGuarded(Case.Stream, Where);
    ASSERT_EQ(Result.InfoStatus, GetParam().InfoStatus);
    if (EFI_ERROR(Result.InfoStatus)) continue;
    if (GetParam().Status != kAny) EXPECT_EQ(Result.Status, GetParam().Status);
    if (Case.Expected.has_value()) {
      EXPECT_TRUE(Result.Output == *Case.Expected) << "decoded bytes differ";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, DecompressAttackTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<AttackRow> &Info) { return Info.param.Name; });

// ---- Interface edges ------------------------------------------------------------------

TEST(DecompressInterfaceTest, ZeroOrigSizeSucceedsWithoutTouchingScratchOrOutput) {
  Bytes Stream = WithHeader(Bytes{0xFF, 0xFF}, 0);
  UINT32 DstSize = 1;
  UINT32 ScratchSize = 0;
  ASSERT_EQ(GetInfo(Stream.data(), static_cast<UINT32>(Stream.size()), &DstSize, &ScratchSize), EFI_SUCCESS);
  EXPECT_EQ(DstSize, 0u);
  EXPECT_EQ(ScratchSize, 13376u);
  Bytes Scratch(ScratchSize, 0xA5);
  EXPECT_EQ(Decompress(Stream.data(), nullptr, Scratch.data()), EFI_SUCCESS);
  EXPECT_EQ(Scratch, Bytes(ScratchSize, 0xA5));
}

TEST(DecompressInterfaceTest, NullArgumentsAreRejected) {
  Bytes Stream = WithHeader(Bytes(4, 0), 4);
  Bytes Output(4);
  Bytes Scratch(DECOMPRESS_SCRATCH_SIZE);
  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  EXPECT_EQ(GetInfo(nullptr, 12, &DstSize, &ScratchSize), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetInfo(Stream.data(), 12, nullptr, &ScratchSize), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetInfo(Stream.data(), 12, &DstSize, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Decompress(nullptr, Output.data(), Scratch.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Decompress(Stream.data(), nullptr, Scratch.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Decompress(Stream.data(), Output.data(), nullptr), EFI_INVALID_PARAMETER);
}

TEST(DecompressInterfaceTest, ScratchIsExactlyTheStatedSize) {
  // Decoding a stream that uses every table must fit in the scratch exactly:
  // the guarded scratch faults on the first byte past 13,376.
  DecodeResult Result = DecodeGuarded(LongCodes().Stream);
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(DECOMPRESS_SCRATCH_SIZE, 13376);
}

// Matches at every short distance and at lengths around the 8-byte word: the
// output must be what a byte-by-byte copy gives (an overlapping match repeats
// its source). The oracle is that byte-by-byte copy, done here. The tail of
// literals after the match is 1 byte (the copy must stop at the output's
// end), 9 bytes (room for one word past the match) or 17 bytes (room for the
// two words the fast copy always moves, up to 13 bytes past a short match);
// what runs past the match the tail must then overwrite.
TEST(DecompressMatchCopyTest, EveryShortDistanceAndLengthCopiesBytewise) {
  const std::string Prefix = "abcdefghijklmnopqrst";
  for (const std::string Tail : {"z", "zyxwvuZYX", "zyxwvuZYXWVUTSRQP"}) {
    for (uint32_t Distance = 1; Distance <= Prefix.size(); Distance++) {
      for (uint32_t Length : {3u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 24u, 25u, 100u, 256u}) {
        SCOPED_TRACE("distance " + std::to_string(Distance) + " length " + std::to_string(Length) + " tail " +
                     std::to_string(Tail.size()));
        std::vector<uint32_t> CSymbols(Prefix.begin(), Prefix.end());
        CSymbols.insert(CSymbols.end(), Tail.begin(), Tail.end());
        CSymbols.push_back(Length + 253);
        uint32_t PositionBits = 0;
        while (((Distance - 1) >> PositionBits) != 0) PositionBits++;
        BlockWriter Writer(CSymbols, {PositionBits});
        BitWriter Out;
        Writer.PutHeader(Out, static_cast<uint16_t>(Prefix.size() + 1 + Tail.size()));
        for (char Byte : Prefix) Writer.Literal(Out, static_cast<uint8_t>(Byte));
        Writer.Match(Out, Length, Distance);
        for (char Byte : Tail) Writer.Literal(Out, static_cast<uint8_t>(Byte));
        Bytes Expected(Prefix.begin(), Prefix.end());
        for (uint32_t Index = 0; Index < Length; Index++)
          Expected.push_back(Expected[Expected.size() - Distance]);
        Expected.insert(Expected.end(), Tail.begin(), Tail.end());
        DecodeResult Result = DecodeGuarded(WithHeader(Out.Finish(), static_cast<uint32_t>(Expected.size())));
        ASSERT_EQ(Result.Status, EFI_SUCCESS);
        ASSERT_TRUE(Result.Output == Expected);
      }
    }
  }
}

// A match cut short by the end of the output: the word copy must not run past
// the announced size, even with the source far enough back for it. The guard
// page behind the output faults on the first byte beyond it.
TEST(DecompressMatchCopyTest, MatchAtTheOutputsEndStopsThere) {
  const std::string Prefix = "abcdefghijklmnopqrst";
  for (uint32_t Cut = 1; Cut <= 12; Cut++) {
    SCOPED_TRACE("bytes of the match kept " + std::to_string(Cut));
    std::vector<uint32_t> CSymbols(Prefix.begin(), Prefix.end());
    CSymbols.push_back(16 + 253);
    BlockWriter Writer(CSymbols, {4});
    BitWriter Out;
    Writer.PutHeader(Out, static_cast<uint16_t>(Prefix.size() + 1));
    for (char Byte : Prefix) Writer.Literal(Out, static_cast<uint8_t>(Byte));
    Writer.Match(Out, 16, 16);
    Bytes Expected(Prefix.begin(), Prefix.end());
    for (uint32_t Index = 0; Index < Cut; Index++) Expected.push_back(Expected[Expected.size() - 16]);
    DecodeResult Result = DecodeGuarded(WithHeader(Out.Finish(), static_cast<uint32_t>(Expected.size())));
    ASSERT_EQ(Result.Status, EFI_SUCCESS);
    ASSERT_TRUE(Result.Output == Expected);
  }
}

// Unusable Char&Len lengths keep the previous block's table, and each symbol
// it gives is read with its new length. Block 1: 'A' and 'B' with 1-bit codes
// (0, 1). Block 2: A=2, B=2, C=1, D=1 bits, an over-full code; the kept table
// still maps a first bit 0 to 'A' and 1 to 'B', now two bits each, so the bits
// 00 10 01 11 give ABAB (read with the old one-bit lengths they would give AABA).
TEST(DecompressKeptTableTest, KeptCharLenTableReadsSymbolsWithTheirNewLengths) {
  std::vector<uint8_t> Complete(510, 0), OverFull(510, 0);
  Complete['A'] = Complete['B'] = 1;
  OverFull['A'] = OverFull['B'] = 2;
  OverFull['C'] = OverFull['D'] = 1;
  const std::vector<uint8_t> Positions = {1, 1};
  BitWriter Out;
  BlockWriter First = BlockWriter::WithLengths(Complete, Positions);
  First.PutHeader(Out, 2);
  First.Literal(Out, 'A');
  First.Literal(Out, 'B');
  BlockWriter::WithLengths(OverFull, Positions).PutHeader(Out, 4);
  Out.Put(8, 0x27);  // 00 10 01 11
  DecodeResult Result = DecodeGuarded(WithHeader(Out.Finish(), 6));
  ASSERT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(std::string(Result.Output.begin(), Result.Output.end()), "ABABAB");
}

// A kept Char&Len table whose literals had 12-bit codes and now have 16-bit
// lengths: each literal is looked up by its old 12 bits and drops 16. The
// decoder takes several literals per top-up of its bit buffer; a run of
// 16-bit literals must not leave it with fewer loaded bits than a look-up
// reads, whatever the alignment (set by 0..7 one-bit matches first). Block 1:
// match symbols 256..259 with 1..4-bit codes, every literal with 12 bits
// (1111 and the byte). Block 2: the same symbols, literals now 16 bits long
// (under-full: the table is kept). A literal is written as its old 12-bit
// code and 4 filler bits.
TEST(DecompressKeptTableTest, RunOfKeptLiteralsLongerThanTheLookUpDecodesAtEveryAlignment) {
  std::vector<uint8_t> Old(510, 0), New(510, 0);
  for (uint32_t Byte = 0; Byte < 256; Byte++) Old[Byte] = 12, New[Byte] = 16;
  for (uint32_t Symbol = 256; Symbol < 260; Symbol++) Old[Symbol] = New[Symbol] = Symbol - 255;
  const Bytes Run = {0x41, 0x5F, 0x37, 0x2C, 0x99, 0xE3, 0x0F, 0x71, 0x26, 0xBD, 0x58, 0xA4, 0x13};
  for (uint32_t Matches = 0; Matches < 8; Matches++) {
    SCOPED_TRACE("one-bit matches before the run: " + std::to_string(Matches));
    BitWriter Out;
    BlockWriter First = BlockWriter::WithLengths(Old, {1, 1});
    First.PutHeader(Out, 1);
    First.Literal(Out, 'L');
    Out.Put(16, static_cast<uint16_t>(Matches + Run.size()));
    BlockWriter::WithLengths(New, {1, 1}).PutCTable(Out);
    Out.Put(4, 0), Out.Put(4, 0);  // one position symbol, 0: distance 1
    Bytes Expected = {'L'};
    for (uint32_t Match = 0; Match < Matches; Match++) {
      Out.Put(1, 0);  // symbol 256: length 3
      Expected.insert(Expected.end(), 3, 'L');
    }
    for (uint8_t Byte : Run) {
      Out.Put(12, 0xF00u | Byte);
      Out.Put(4, 0xA);
      Expected.push_back(Byte);
    }
    DecodeResult Result = DecodeGuarded(WithHeader(Out.Finish(), static_cast<uint32_t>(Expected.size())));
    ASSERT_EQ(Result.Status, EFI_SUCCESS);
    ASSERT_TRUE(Result.Output == Expected);
  }
}

// The decoder takes up to three literals per top-up of its bit buffer; a
// block's code count must still end the block at its last code, wherever that
// falls in such a group: the next block's header follows at once. Block 1 has
// 1..7 literals, block 2 (another table) 1..4.
TEST(DecompressBlockTest, BlockEndsAtItsCodeCountInsideARunOfLiterals) {
  const std::string FirstBytes = "abcdefg", SecondBytes = "WXYZ";
  const BlockWriter First({'a', 'b', 'c', 'd', 'e', 'f', 'g'}, {0});
  const BlockWriter Second({'W', 'X', 'Y', 'Z', 'q'}, {0});
  for (size_t FirstCount = 1; FirstCount <= FirstBytes.size(); FirstCount++) {
    for (size_t SecondCount = 1; SecondCount <= SecondBytes.size(); SecondCount++) {
      SCOPED_TRACE("codes " + std::to_string(FirstCount) + " then " + std::to_string(SecondCount));
      BitWriter Out;
      First.PutHeader(Out, static_cast<uint16_t>(FirstCount));
      for (size_t Index = 0; Index < FirstCount; Index++) First.Literal(Out, FirstBytes[Index]);
      Second.PutHeader(Out, static_cast<uint16_t>(SecondCount));
      for (size_t Index = 0; Index < SecondCount; Index++) Second.Literal(Out, SecondBytes[Index]);
      const std::string Expected = FirstBytes.substr(0, FirstCount) + SecondBytes.substr(0, SecondCount);
      DecodeResult Result = DecodeGuarded(WithHeader(Out.Finish(), static_cast<uint32_t>(Expected.size())));
      ASSERT_EQ(Result.Status, EFI_SUCCESS);
      ASSERT_EQ(std::string(Result.Output.begin(), Result.Output.end()), Expected);
    }
  }
}

}  // namespace
}  // namespace compress_test
