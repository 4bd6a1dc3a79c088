// EFI 1.1 decoder: bit reader, code-length readers, symbol decoding and the
// copy loop. All state lives in the caller's scratch (DecompressState.h).
//
// Checks, each of which sets mBadTableFlag and ends decoding:
//  - an Extra or Position code whose lengths are not a complete prefix code of
//    lengths 1..16 (DecodeBuildTable);
//  - a one-symbol table naming a symbol outside its set;
//  - a tree walk longer than a 16-bit code (cannot happen with the tables the
//    builder accepts; the bound keeps every walk finite regardless);
//  - a match reaching before the first output byte.
// Input past the announced compressed size reads as zero bits, and output stops
// at the announced uncompressed size, so neither buffer is ever left.
#include "acpi_dxe/compress/DecompressState.h"
#include "common/ByteReader.h"
#include "common/SafeInt.h"

namespace {

// ---- Bit reader: the only code that reads the source ----------------------

// The reader keeps up to 64 bits of the stream in one word and loads the
// source eight bytes at a time while eight remain. It lives in a local copy
// during decoding (the output stores could alias anything in the scratch) and
// leaves its position in the scratch when decoding ends. The end of the stream
// is a pointer, not a count, so that a refill changes one field less; and the
// fields leave no padding, which a copy of the reader would otherwise carry
// along in registers of the decoding loop.
struct DECODE_BITS {
  UINT64 Buffer;      // stream bits from bit 63 down; below the loaded ones, zero or the stream's next bits
  const UINT8 *Next;  // next bit-stream byte not yet loaded
  const UINT8 *End;   // the byte after the bit stream
  UINTN Count;        // loaded bits at the top of Buffer (input past the end loads as zero bits)
};
static_assert(sizeof(DECODE_BITS) == 4 * sizeof(UINT64), "reader without padding");

// Bit-stream bytes not yet loaded.
inline UINTN BitsLeft(const DECODE_BITS *Bits) {
  return static_cast<UINTN>(Bits->End - Bits->Next);
}

// Loaded bits kept ahead of every look. The longest single take is 33 bits (a
// length 7+ whose unary part fills its 32-bit window), and every look sees a
// full 32-bit window, so 40 is enough; a refill brings at least 56.
constexpr UINT32 BITS_AHEAD = 40;

inline UINT64 DecodeLoadBigEndian64(const UINT8 *Bytes) {
  UINT64 Word;
  __builtin_memcpy(&Word, Bytes, sizeof(Word));
  return __builtin_bswap64(Word);
}

// Tops the buffer up from the stream's last seven bytes or fewer: one byte at a
// time, then zeros, never a byte past the announced compressed size. Reached
// only near the end, so kept out of the loops that refill.
__attribute__((noinline)) void BitsRefillTail(DECODE_BITS *Bits) {
  while (Bits->Count <= 64 - UINT8_BIT) {
    UINT64 Byte = 0;
    if (Bits->Next != Bits->End) Byte = *Bits->Next++;
    Bits->Buffer |= Byte << (64 - UINT8_BIT - Bits->Count);
    Bits->Count += UINT8_BIT;
  }
}

// Tops the buffer up to at least 56 loaded bits from a stream with eight or
// more bytes left: one word is loaded, the whole bytes that fit count as
// loaded, and the part of the next byte that also lands is that byte's own
// bits, which the next load ORs in again unchanged.
inline void BitsRefillWord(DECODE_BITS *Bits) {
  Bits->Buffer |= DecodeLoadBigEndian64(Bits->Next) >> Bits->Count;
  Bits->Next += (63 - Bits->Count) / UINT8_BIT;
  Bits->Count |= 64 - UINT8_BIT;  // Count + 8 per whole byte, for any Count below 64
}

// The tail's refill, through a copy: a reader whose address escapes could
// not stay in registers.
inline void BitsRefillTailCopy(DECODE_BITS *Bits) {
  DECODE_BITS Tail = *Bits;
  BitsRefillTail(&Tail);
  *Bits = Tail;
}

// Tops the buffer up to at least 56 loaded bits.
inline void BitsRefill(DECODE_BITS *Bits) {
  if (BitsLeft(Bits) >= sizeof(UINT64))
    BitsRefillWord(Bits);
  else
    BitsRefillTailCopy(Bits);
}

// The reader may refill a word at a time while Next lies below this bound.
inline const UINT8 *BitsWordLimit(const DECODE_BITS *Bits) {
  return BitsLeft(Bits) >= sizeof(UINT64) ? Bits->End - (sizeof(UINT64) - 1) : Bits->Next;
}

// The next 32 bits, first bit in bit 31.
inline UINT32 BitsWindow(const DECODE_BITS *Bits) {
  return static_cast<UINT32>(Bits->Buffer >> 32);
}

// Drops NumBits (at most the loaded ones) bits and loads no more.
inline void BitsSkip(DECODE_BITS *Bits, UINT32 NumBits) {
  Bits->Buffer <<= NumBits;
  Bits->Count -= NumBits;
}

// Drops NumBits (at most 33) bits.
inline void BitsDrop(DECODE_BITS *Bits, UINT32 NumBits) {
  BitsSkip(Bits, NumBits);
  if (Bits->Count < BITS_AHEAD) BitsRefill(Bits);
}

// Takes NumBits (1..32) bits as a number, first bit most significant.
inline UINT32 BitsTake(DECODE_BITS *Bits, UINT32 NumBits) {
  UINT32 Value = static_cast<UINT32>(Bits->Buffer >> (64 - NumBits));
  BitsDrop(Bits, NumBits);
  return Value;
}

// ---- Symbols ----------------------------------------------------------------

// Returned for a walk that leaves the trees: above every set.
constexpr UINT32 DECODE_BAD_SYMBOL = MAX_UINT32;

// Finishes a look-up whose table entry was Symbol: for a code longer than
// TableBits, one tree step per further bit of Window. A symbol of this set
// ends the walk; a walk past 16 bits means the trees are not those of a
// complete code, and gives DECODE_BAD_SYMBOL.
inline UINT32 DecodeTreeSymbol(const DECOMPRESS_SCRATCH *Sd, UINT32 Window, UINT32 Symbol, UINT32 TableBits,
                               UINT32 NumSymbols) {
  UINT32 Mask = 1U << (32 - 1 - TableBits);
  const UINT32 LastMask = 1U << (32 - MAX_CODE_LENGTH);
  while (Symbol >= NumSymbols) {
    if (Mask < LastMask || Symbol >= DECODE_TREE_NODES) return DECODE_BAD_SYMBOL;
    Symbol = (Window & Mask) != 0 ? Sd->mRight[Symbol] : Sd->mLeft[Symbol];
    Mask >>= 1;
  }
  return Symbol;
}

// Drops the code of a table entry. The shift takes the entry whole (its low
// six bits are all a 64-bit shift uses), while the count takes the length
// apart (DecodeEntryLength): written as one masked value, both would wait for
// the mask, one step longer on the chain from one look-up to the next.
inline void BitsSkipEntry(DECODE_BITS *Bits, UINT32 Entry) {
  Bits->Buffer <<= (Entry & 63);
  Bits->Count -= DecodeEntryLength(Entry);
}

// A code longer than the table: the walk from the entry's tree node, then
// the symbol's length from the length array. Kept out of the hot loop.
__attribute__((noinline)) UINT32 DecodeLongSymbol(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits,
                                                  UINT32 Node, UINT32 TableBits, UINT32 NumSymbols,
                                                  const UINT8 *BitLen) {
  UINT32 Symbol = DecodeTreeSymbol(Sd, BitsWindow(Bits), Node, TableBits, NumSymbols);
  if (Symbol != DECODE_BAD_SYMBOL) BitsDrop(Bits, BitLen[Symbol]);
  return Symbol;
}

// The next symbol of a set with its code dropped: short codes with their
// length from the packed table, longer ones through the trees and the length
// array. DECODE_BAD_SYMBOL, with nothing dropped, for a failed walk.
inline UINT32 DecodeSymbol(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits, const UINT16 *Table,
                           UINT32 TableBits, UINT32 NumSymbols, const UINT8 *BitLen) {
  UINT32 Entry = Table[BitsWindow(Bits) >> (32 - TableBits)];
  UINT32 Symbol = DecodeEntrySymbol(Entry);
  if (Symbol >= NumSymbols) {
    // Through a copy: a reader whose address escapes could not stay in registers.
    DECODE_BITS Slow = *Bits;
    Symbol = DecodeLongSymbol(Sd, &Slow, Symbol, TableBits, NumSymbols, BitLen);
    *Bits = Slow;
    return Symbol;
  }
  BitsSkipEntry(Bits, Entry);
  if (Bits->Count < BITS_AHEAD) BitsRefill(Bits);
  return Symbol;
}

inline UINT32 DecodeExtraSymbol(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits) {
  return DecodeSymbol(Sd, Bits, Sd->mPTTable, PTTABLE_BITS, NT, Sd->mPTLen);
}

// ---- Code-length tables ---------------------------------------------------

// A table whose count field is 0 has one symbol, coded with 0 bits. A symbol
// outside the set would later index past the set's length array.
bool DecodeOneSymbolTable(UINT32 Symbol, UINT32 NumSymbols, UINT8 *BitLen, UINT16 *Table, UINT32 TableSize) {
  if (Symbol >= NumSymbols) return false;
  for (UINT32 Index = 0; Index < TableSize; Index++)
    Table[Index] = static_cast<UINT16>(DecodePackEntry(Symbol, 0));
  for (UINT32 Index = 0; Index < NumSymbols; Index++) BitLen[Index] = 0;
  return true;
}

// One Extra/Position length: 0..6 in three bits, 7 and up as 111 followed by
// one 1 per step above 7 and a closing 0. The ones are counted inside the
// 32-bit window only, so at most 29 of them.
UINT32 ReadPTLength(DECODE_BITS *Bits) {
  UINT32 Window = BitsWindow(Bits);
  UINT32 Length = Window >> (32 - 3);
  if (Length == 7) {
    for (UINT32 Mask = 1U << (32 - 4); (Window & Mask) != 0; Mask >>= 1) Length++;
  }
  BitsDrop(Bits, Length < 7 ? 3 : Length - 3);
  return Length;
}

// Reads the Extra (NumSymbols NT, zero run after index Special) or Position
// (NumSymbols MAXNP, no zero run) lengths and builds their table. A count
// field above the set reads lengths up to the array bound; only the set's own
// entries are used. Returns false when the table is unusable.
bool ReadPTLen(DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits, UINT32 NumSymbols, UINT32 CountBits,
               UINT32 Special) {
  UINT32 Number = BitsTake(Bits, CountBits);
  if (Number == 0) {
    return DecodeOneSymbolTable(BitsTake(Bits, CountBits), NumSymbols, Sd->mPTLen, Sd->mPTTable,
                                1U << PTTABLE_BITS);
  }
  UINT32 Index = 0;
  while (Index < Number && Index < NPT) {
    UINT32 Length = ReadPTLength(Bits);
    // Lengths past 16 are kept as 17 so that the byte cannot wrap back into range.
    Sd->mPTLen[Index++] = static_cast<UINT8>(Length > MAX_CODE_LENGTH ? MAX_CODE_LENGTH + 1 : Length);
    if (Index == Special) {
      for (UINT32 Zeros = BitsTake(Bits, 2); Zeros > 0 && Index < NPT; Zeros--) Sd->mPTLen[Index++] = 0;
    }
  }
  while (Index < NumSymbols) Sd->mPTLen[Index++] = 0;
  return DecodeBuildTable(Sd, NumSymbols, Sd->mPTLen, PTTABLE_BITS, Sd->mPTTable);
}

// Zero lengths coded by Extra symbols 0..2: one zero, 3..18 zeros, 20..531 zeros.
UINT32 ReadZeroRun(DECODE_BITS *Bits, UINT32 ExtraSymbol) {
  if (ExtraSymbol == 0) return 1;
  if (ExtraSymbol == 1) return BitsTake(Bits, 4) + 3;
  return BitsTake(Bits, CBIT) + 20;
}

// Reads the Char&Len lengths as Extra symbols and builds their table. A count
// field above NC, and a zero run past the end, stop at the array bound.
// Returns false for a failed Extra walk and for a one-symbol table outside the set.
bool ReadCLen(DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits) {
  UINT32 Number = BitsTake(Bits, CBIT);
  if (Number == 0) {
    return DecodeOneSymbolTable(BitsTake(Bits, CBIT), NC, Sd->mCLen, Sd->mCTable, 1U << CTABLE_BITS);
  }
  UINT32 Index = 0;
  while (Index < Number && Index < NC) {
    UINT32 ExtraSymbol = DecodeExtraSymbol(Sd, Bits);
    if (ExtraSymbol == DECODE_BAD_SYMBOL) return false;
    if (ExtraSymbol > 2) {
      Sd->mCLen[Index++] = static_cast<UINT8>(ExtraSymbol - 2);
      continue;
    }
    for (UINT32 Zeros = ReadZeroRun(Bits, ExtraSymbol); Zeros > 0 && Index < NC; Zeros--)
      Sd->mCLen[Index++] = 0;
  }
  while (Index < NC) Sd->mCLen[Index++] = 0;
  // Deliberately not examined: with unusable lengths the block keeps decoding
  // with the table as it stands (previous block's, or all zero at first), the
  // way every decoder of this format behaves. The builder leaves the table
  // untouched then, and every code still writes inside the output; each
  // symbol it gives is read with its new length.
  if (!DecodeBuildTable(Sd, NC, Sd->mCLen, CTABLE_BITS, Sd->mCTable))
    DecodeRepackTable(Sd->mCTable, CTABLE_BITS, Sd->mCLen, NC);
  return true;
}

// Opens a block: reads its code count (0 stands for 65,536) and its three code
// tables, and returns the count; 0 when a table is unusable.
UINT32 DecodeBlockHeader(DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits) {
  UINT32 Count = BitsTake(Bits, 16);
  if (!ReadPTLen(Sd, Bits, NT, TBIT, 3) || !ReadCLen(Sd, Bits) ||
      !ReadPTLen(Sd, Bits, MAXNP, Sd->mPBit, MAX_UINT32))
    return 0;
  return Count != 0 ? Count : 1U << 16;
}

// ---- Output -----------------------------------------------------------------

// Copies Length bytes from Distance bytes back, with the result of a
// byte-by-byte copy: an overlapping match repeats its first Distance bytes.
// Speed: the copied bytes repeat with period Distance, so byte i also equals
// byte i - Stride for any Stride that is a whole number of periods, as long as
// that byte lies inside the match's source. With Stride >= 8 each 8-byte chunk
// then reads only bytes written before it and moves as one word.
// Distance is a position value + 1, so never 0; the check says so to the reader.
__attribute__((noinline)) void DecodeCopyExact(UINT8 *Out, UINT32 Length, UINT32 Distance) {
  if (Distance == 0) return;
  const UINT8 *From = Out - Distance;
  const UINT32 Word = sizeof(UINT64);
  UINT32 Stride = Distance < Word ? Distance * ((Word + Distance - 1) / Distance) : Distance;
  UINT32 Head = Stride - Distance;  // bytes i < Head have no source Stride back
  if (Head > Length) Head = Length;
  UINT32 Index = 0;
  for (; Index < Head; Index++) Out[Index] = From[Index];
  for (; Index + Word <= Length; Index += Word) {
    UINT64 Chunk;
    __builtin_memcpy(&Chunk, Out + Index - Stride, Word);
    __builtin_memcpy(Out + Index, &Chunk, Word);
  }
  for (; Index < Length; Index++) Out[Index] = From[Index];
}

// Copies a match whose source lies less than a word back (Distance 1..7),
// with at least a word of room behind it. Its bytes repeat the first Distance
// bytes of the source, so one word of that pattern, stored again every
// multiple of Distance that fits in a word, writes the whole match without
// reading back a byte just written. Up to 7 bytes past the match are written;
// they lie inside the output and the codes that follow overwrite them.
__attribute__((noinline)) void DecodeCopyShort(UINT8 *Out, UINT32 Length, UINT32 Distance) {
  // Largest multiple of the distance that fits in a word, by distance.
  static constexpr UINT8 kWordStride[] = {0, 8, 8, 6, 8, 5, 6, 7};
  const UINT32 Word = sizeof(UINT64);
  if (Distance == 0 || Distance >= Word) return;
  UINT64 Pattern;  // little-endian: the first byte is the lowest
  __builtin_memcpy(&Pattern, Out - Distance, Word);
  Pattern &= MAX_UINT64 >> (64 - UINT8_BIT * Distance);                // the Distance source bytes
  Pattern |= Pattern << (UINT8_BIT * Distance);                        // twice: 2 to 14 bytes
  if (Distance < 4) Pattern |= Pattern << (2 * UINT8_BIT * Distance);  // 4 to 12
  if (Distance < 2) Pattern |= Pattern << (4 * UINT8_BIT);             // 8
  const UINT32 Stride = kWordStride[Distance];
  for (UINT32 Index = 0; Index < Length; Index += Stride) __builtin_memcpy(Out + Index, &Pattern, Word);
}

// Copies a match whose Length the caller has cut to the room left. With 16
// bytes of room behind the match, whole words move and up to 13 bytes past
// the match are written: they lie inside the output and the codes that follow
// overwrite them. A source at least a word back moves word by word, two words
// unconditionally, so that the short matches most streams are made of take no
// loop (whose exit the branch predictor cannot guess); a closer source repeats
// a pattern word. Near the end of the output the copy is exact.
inline void DecodeCopyMatch(UINT8 *Out, UINT32 Length, UINT32 Distance, UINT32 Room) {
  const UINT32 Word = sizeof(UINT64);
  if (Room - Length < 2 * Word) {
    DecodeCopyExact(Out, Length, Distance);
    return;
  }
  if (Distance < Word) {
    DecodeCopyShort(Out, Length, Distance);
    return;
  }
  const UINT8 *From = Out - Distance;
  UINT64 Chunk;
  __builtin_memcpy(&Chunk, From, Word);
  __builtin_memcpy(Out, &Chunk, Word);
  __builtin_memcpy(&Chunk, From + Word, Word);
  __builtin_memcpy(Out + Word, &Chunk, Word);
  for (UINT32 Index = 2 * Word; Index < Length; Index += Word) {
    __builtin_memcpy(&Chunk, From + Index, Word);
    __builtin_memcpy(Out + Index, &Chunk, Word);
  }
}

// ---- The decoding loop ------------------------------------------------------

// Loaded bits every code of the loop starts with: enough for a Char&Len table
// look-up before the buffer is topped up.
constexpr UINT32 CODE_BITS_AHEAD = CTABLE_BITS;

// The symbol of a look-up entry taken before the buffer was topped up: short
// codes drop their bits unchecked (the top-up left at least 56 loaded), longer
// ones walk the trees. DECODE_BAD_SYMBOL for a failed walk.
inline UINT32 DecodeLoopSymbol(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits, UINT32 Entry,
                               UINT32 TableBits, UINT32 NumSymbols, const UINT8 *BitLen) {
  UINT32 Symbol = DecodeEntrySymbol(Entry);
  if (Symbol >= NumSymbols) {
    DECODE_BITS Slow = *Bits;
    Symbol = DecodeLongSymbol(Sd, &Slow, Symbol, TableBits, NumSymbols, BitLen);
    *Bits = Slow;
    return Symbol;
  }
  BitsSkipEntry(Bits, Entry);
  return Symbol;
}

// Raw bits that follow Position symbol Symbol: symbols 0 and 1 are the value
// itself, a larger p is followed by p - 1 raw bits below an implied top bit.
inline UINT32 DecodeRawBits(UINT32 Symbol) {
  return Symbol > 1 ? Symbol - 1 : 0;
}

// The position value of a match whose Char&Len code the loop has just dropped
// (at least 40 loaded bits left). A Position code the table resolves takes at
// most 8 bits and its raw bits at most 14 (the count field admits symbols up
// to 15): one drop takes both, with CODE_BITS_AHEAD and more left for the next
// code, and the value comes from the bits before the drop, off the chain from
// one look-up to the next. A longer code walks the trees (and tops up), then
// takes its raw bits apart.
inline UINT32 DecodeLoopPosition(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits) {
  UINT32 Entry = Sd->mPTTable[BitsWindow(Bits) >> (32 - PTTABLE_BITS)];
  UINT32 Symbol = DecodeEntrySymbol(Entry);
  if (Symbol < MAXNP) {
    const UINT32 RawBits = DecodeRawBits(Symbol);
    const UINT32 Taken = DecodeEntryLength(Entry) + RawBits;
    const UINT64 Before = Bits->Buffer;
    BitsSkip(Bits, Taken);
    if (RawBits == 0) return Symbol;
    return (1U << RawBits) + (static_cast<UINT32>(Before >> (64 - Taken)) & ((1U << RawBits) - 1));
  }
  DECODE_BITS Slow = *Bits;
  Symbol = DecodeLongSymbol(Sd, &Slow, Symbol, PTTABLE_BITS, MAXNP, Sd->mPTLen);
  *Bits = Slow;
  const UINT32 RawBits = DecodeRawBits(Symbol);
  if (RawBits == 0 || Symbol == DECODE_BAD_SYMBOL) return Symbol;
  UINT32 Raw = static_cast<UINT32>(Bits->Buffer >> (64 - RawBits));
  BitsSkip(Bits, RawBits);
  return (1U << RawBits) + Raw;
}

// Where the decoding loop stands: the output, the bytes written and the
// uncompressed size, and the codes left in the current block.
struct DECODE_OUTPUT {
  UINT8 *Start;
  UINTN Pos;
  UINTN Size;
  UINTN Codes;
};

// Decodes codes of the current block until none is left, the output is full
// or a check fails (false). A function of its own, with its state in locals
// and calls only on its rare paths: the block header's readers, inlined into
// the same loop, left too few registers for that state.
//
// Each code tops the reader up once, with no test on how much is loaded: the
// look-up into the Char&Len table reads the buffer before the top-up (its 12
// bits are loaded already), and the top-up leaves at least 56 bits, enough for
// a Char&Len and a Position code. A test per dropped code, taken or not as the
// code lengths fall, is what the branch predictor cannot learn.
//
// A literal takes one code and writes one byte, so the position at which the
// block's codes would run out if all were literals (CodesEnd) moves only with
// a match: one bound (Stop) then ends the loop for both limits.
__attribute__((noinline)) bool DecodeBlockCodes(const DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Reader,
                                                DECODE_OUTPUT *Output) {
  DECODE_BITS Bits = *Reader;
  const UINT8 *const WordLimit = BitsWordLimit(&Bits);
  UINT8 *const Start = Output->Start;
  UINT8 *const End = Start + Output->Size;
  UINT8 *Out = Start + Output->Pos;
  UINTN CodesEnd = Output->Pos + Output->Codes;  // an offset: it may lie past the output
  UINT8 *Stop = CodesEnd < Output->Size ? Start + CodesEnd : End;
  bool Ok = true;
  while (Out < Stop) {
    UINT32 Entry = Sd->mCTable[BitsWindow(&Bits) >> (32 - CTABLE_BITS)];
    if (Bits.Next < WordLimit)
      BitsRefillWord(&Bits);
    else
      BitsRefillTailCopy(&Bits);
    UINT32 Symbol = DecodeLoopSymbol(Sd, &Bits, Entry, CTABLE_BITS, NC, Sd->mCLen);
    if (Symbol < 256) {
      *Out++ = static_cast<UINT8>(Symbol);
      // A literal leaves at least 40 bits loaded: enough for two more literals
      // whose codes the table resolves (12 bits each at most) before the next
      // top-up, with CODE_BITS_AHEAD left after them. A table kept from an
      // earlier block may give its symbols longer lengths (up to 16): such a
      // literal waits for the top-up when it would leave fewer.
      for (UINT32 More = 0; More < 2 && Out < Stop; More++) {
        Entry = Sd->mCTable[BitsWindow(&Bits) >> (32 - CTABLE_BITS)];
        if (DecodeEntrySymbol(Entry) >= 256 || DecodeEntryLength(Entry) + CODE_BITS_AHEAD > Bits.Count) break;
        BitsSkipEntry(&Bits, Entry);
        *Out++ = static_cast<UINT8>(DecodeEntrySymbol(Entry));
      }
      continue;
    }
    if (Symbol == DECODE_BAD_SYMBOL) {
      Ok = false;
      break;
    }
    UINT32 Position = DecodeLoopPosition(Sd, &Bits);
    UINTN Pos = static_cast<UINTN>(Out - Start);
    if (Position == DECODE_BAD_SYMBOL || Position >= Pos) {
      Ok = false;  // or the match would read before the first output byte
      break;
    }
    UINTN Length = Symbol - (256 - THRESHOLD);
    UINTN Room = static_cast<UINTN>(End - Out);
    if (Length > Room) Length = Room;
    DecodeCopyMatch(Out, static_cast<UINT32>(Length), Position + 1, static_cast<UINT32>(Room));
    Out += Length;
    CodesEnd += Length - 1;
    Stop = CodesEnd < Output->Size ? Start + CodesEnd : End;
  }
  *Reader = Bits;
  Output->Pos = static_cast<UINTN>(Out - Start);
  Output->Codes = CodesEnd - Output->Pos;
  return Ok;
}

// Decodes until the output is full or a check fails. Each code writes at least
// one byte or stops decoding, so decoding ends after at most mOrigSize codes.
void DecodeStream(DECOMPRESS_SCRATCH *Sd, DECODE_BITS *Bits) {
  DECODE_OUTPUT Output = {Sd->mDstBase, 0, Sd->mOrigSize, 0};
  bool Ok = true;
  while (Ok && Output.Pos < Output.Size) {
    if (Output.Codes == 0) {
      BitsRefill(Bits);  // the header's readers keep BITS_AHEAD loaded
      Output.Codes = DecodeBlockHeader(Sd, Bits);
      if (Output.Codes == 0) {
        Ok = false;
        break;
      }
    }
    Ok = DecodeBlockCodes(Sd, Bits, &Output);
  }
  Sd->mOutBuf = static_cast<UINT32>(Output.Pos);
  Sd->mBlockSize = static_cast<UINT16>(Output.Codes);
  if (!Ok) Sd->mBadTableFlag = 1;
}

// Leaves the reader's position in the scratch: the bytes it has loaded and
// left, and the next 32 bits and the loaded ones after them.
void DecodeSaveReader(DECOMPRESS_SCRATCH *Sd, const DECODE_BITS *Bits) {
  Sd->mInBuf = static_cast<UINT32>(Bits->Next - Sd->mSrcBase);
  Sd->mCompSize = static_cast<UINT32>(BitsLeft(Bits));
  Sd->mBitBuf = BitsWindow(Bits);
  Sd->mSubBitBuf = static_cast<UINT32>(Bits->Buffer);
  Sd->mBitCount = static_cast<UINT16>(Bits->Count > 32 ? Bits->Count - 32 : 0);
}

bool ReadHeader(const VOID *Source, UINTN Size, UINT32 *CompSize, UINT32 *OrigSize) {
  ByteReader Header(Source, Size);
  return Header.Read32(CompSize) && Header.Read32(OrigSize);
}

}  // namespace

EFI_STATUS GetInfo(const VOID *Source, UINT32 SrcSize, UINT32 *DstSize, UINT32 *ScratchSize) {
  if (Source == nullptr || DstSize == nullptr || ScratchSize == nullptr) return EFI_INVALID_PARAMETER;
  *ScratchSize = DECOMPRESS_SCRATCH_SIZE;
  UINT32 CompSize;
  UINT32 OrigSize;
  if (!ReadHeader(Source, SrcSize, &CompSize, &OrigSize)) return EFI_INVALID_PARAMETER;
  UINT32 Total;
  if (!SafeUint32Add(CompSize, COMPRESS_HEADER_SIZE, &Total) || Total > SrcSize) return EFI_INVALID_PARAMETER;
  *DstSize = OrigSize;
  return EFI_SUCCESS;
}

EFI_STATUS Decompress(const VOID *Source, VOID *Destination, VOID *Scratch) {
  if (Source == nullptr) return EFI_INVALID_PARAMETER;
  UINT32 CompSize;
  UINT32 OrigSize;
  // The caller vouches for the header through GetInfo; only its 8 bytes are read here.
  (void)ReadHeader(Source, COMPRESS_HEADER_SIZE, &CompSize, &OrigSize);
  if (OrigSize == 0) return EFI_SUCCESS;
  if (Destination == nullptr || Scratch == nullptr) return EFI_INVALID_PARAMETER;

  DECOMPRESS_SCRATCH *Sd = static_cast<DECOMPRESS_SCRATCH *>(Scratch);
  UINT8 *Bytes = static_cast<UINT8 *>(Scratch);
  for (UINTN Index = 0; Index < sizeof(*Sd); Index++) Bytes[Index] = 0;
  Sd->mPBit = PBIT;
  Sd->mSrcBase = static_cast<const UINT8 *>(Source) + COMPRESS_HEADER_SIZE;
  Sd->mDstBase = static_cast<UINT8 *>(Destination);
  Sd->mCompSize = CompSize;
  Sd->mOrigSize = OrigSize;

  DECODE_BITS Bits = {0, Sd->mSrcBase, Sd->mSrcBase + CompSize, 0};
  BitsRefill(&Bits);
  DecodeStream(Sd, &Bits);
  DecodeSaveReader(Sd, &Bits);
  return Sd->mBadTableFlag != 0 ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}
