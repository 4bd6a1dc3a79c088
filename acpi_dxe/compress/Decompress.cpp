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

// The next byte of the bit stream; zero once the announced bytes are used up.
inline UINT32 DecodeNextByte(DECOMPRESS_SCRATCH *Sd) {
  if (Sd->mCompSize == 0) return 0;
  Sd->mCompSize--;
  return Sd->mSrcBase[Sd->mInBuf++];
}

// Drops NumBits (at most 36, the longest unary length prefix) from mBitBuf and
// shifts as many new bits in. The bits of mSubBitBuf already in mBitBuf are
// ORed in again at the place they already occupy, which changes nothing.
inline void FillBuf(DECOMPRESS_SCRATCH *Sd, UINT32 NumBits) {
  UINT64 Buffer = static_cast<UINT64>(Sd->mBitBuf) << NumBits;
  while (NumBits > Sd->mBitCount) {
    NumBits -= Sd->mBitCount;
    Buffer |= static_cast<UINT64>(Sd->mSubBitBuf) << NumBits;
    Sd->mSubBitBuf = DecodeNextByte(Sd);
    Sd->mBitCount = UINT8_BIT;
  }
  Sd->mBitCount = static_cast<UINT16>(Sd->mBitCount - NumBits);
  Buffer |= Sd->mSubBitBuf >> Sd->mBitCount;
  Sd->mBitBuf = static_cast<UINT32>(Buffer);
}

// Takes NumBits (1..32) bits as a number, first bit most significant.
inline UINT32 GetBits(DECOMPRESS_SCRATCH *Sd, UINT32 NumBits) {
  UINT32 Value = static_cast<UINT32>(static_cast<UINT64>(Sd->mBitBuf) >> (BITBUFSIZ - NumBits));
  FillBuf(Sd, NumBits);
  return Value;
}

// ---- Symbols ----------------------------------------------------------------

// Looks up the next symbol of a set: one table access, then for a code longer
// than TableBits one tree step per further bit. A symbol of this set ends the
// walk; a walk past 16 bits means the trees are not those of a complete code.
inline UINT32 DecodeSymbol(DECOMPRESS_SCRATCH *Sd, const UINT16 *Table, UINT32 TableBits, UINT32 NumSymbols) {
  UINT32 Symbol = Table[Sd->mBitBuf >> (BITBUFSIZ - TableBits)];
  UINT32 Mask = 1U << (BITBUFSIZ - 1 - TableBits);
  const UINT32 LastMask = 1U << (BITBUFSIZ - MAX_CODE_LENGTH);
  while (Symbol >= NumSymbols) {
    if (Mask < LastMask || Symbol >= DECODE_TREE_NODES) {
      Sd->mBadTableFlag = 1;
      return 0;
    }
    Symbol = (Sd->mBitBuf & Mask) != 0 ? Sd->mRight[Symbol] : Sd->mLeft[Symbol];
    Mask >>= 1;
  }
  return Symbol;
}

inline UINT32 DecodeExtraSymbol(DECOMPRESS_SCRATCH *Sd) {
  UINT32 Symbol = DecodeSymbol(Sd, Sd->mPTTable, PTTABLE_BITS, NT);
  FillBuf(Sd, Sd->mPTLen[Symbol]);
  return Symbol;
}

inline UINT32 DecodeC(DECOMPRESS_SCRATCH *Sd) {
  UINT32 Symbol = DecodeSymbol(Sd, Sd->mCTable, CTABLE_BITS, NC);
  FillBuf(Sd, Sd->mCLen[Symbol]);
  return Symbol;
}

// The position value of a match: symbol p < 2 is the value itself, a larger p
// is followed by p - 1 raw bits below an implied top bit.
inline UINT32 DecodeP(DECOMPRESS_SCRATCH *Sd) {
  UINT32 Symbol = DecodeSymbol(Sd, Sd->mPTTable, PTTABLE_BITS, MAXNP);
  FillBuf(Sd, Sd->mPTLen[Symbol]);
  if (Symbol <= 1) return Symbol;
  return (1U << (Symbol - 1)) + GetBits(Sd, Symbol - 1);
}

// ---- Code-length tables ---------------------------------------------------

// A table whose count field is 0 has one symbol, coded with 0 bits. A symbol
// outside the set would later index past the set's length array.
bool DecodeOneSymbolTable(UINT32 Symbol, UINT32 NumSymbols, UINT8 *BitLen, UINT16 *Table, UINT32 TableSize) {
  if (Symbol >= NumSymbols) return false;
  for (UINT32 Index = 0; Index < TableSize; Index++) Table[Index] = static_cast<UINT16>(Symbol);
  for (UINT32 Index = 0; Index < NumSymbols; Index++) BitLen[Index] = 0;
  return true;
}

// One Extra/Position length: 0..6 in three bits, 7 and up as 111 followed by
// one 1 per step above 7 and a closing 0.
UINT32 ReadPTLength(DECOMPRESS_SCRATCH *Sd) {
  UINT32 Length = Sd->mBitBuf >> (BITBUFSIZ - 3);
  if (Length == 7) {
    for (UINT32 Mask = 1U << (BITBUFSIZ - 4); (Sd->mBitBuf & Mask) != 0; Mask >>= 1) Length++;
  }
  FillBuf(Sd, Length < 7 ? 3 : Length - 3);
  return Length;
}

// Reads the Extra (NumSymbols NT, zero run after index Special) or Position
// (NumSymbols MAXNP, no zero run) lengths and builds their table. A count
// field above the set reads lengths up to the array bound; only the set's own
// entries are used. Returns false when the table is unusable.
bool ReadPTLen(DECOMPRESS_SCRATCH *Sd, UINT32 NumSymbols, UINT32 CountBits, UINT32 Special) {
  UINT32 Number = GetBits(Sd, CountBits);
  if (Number == 0) {
    return DecodeOneSymbolTable(GetBits(Sd, CountBits), NumSymbols, Sd->mPTLen, Sd->mPTTable,
                                1U << PTTABLE_BITS);
  }
  UINT32 Index = 0;
  while (Index < Number && Index < NPT) {
    UINT32 Length = ReadPTLength(Sd);
    // Lengths past 16 are kept as 17 so that the byte cannot wrap back into range.
    Sd->mPTLen[Index++] = static_cast<UINT8>(Length > MAX_CODE_LENGTH ? MAX_CODE_LENGTH + 1 : Length);
    if (Index == Special) {
      for (UINT32 Zeros = GetBits(Sd, 2); Zeros > 0 && Index < NPT; Zeros--) Sd->mPTLen[Index++] = 0;
    }
  }
  while (Index < NumSymbols) Sd->mPTLen[Index++] = 0;
  return DecodeBuildTable(Sd, NumSymbols, Sd->mPTLen, PTTABLE_BITS, Sd->mPTTable);
}

// Zero lengths coded by Extra symbols 0..2: one zero, 3..18 zeros, 20..531 zeros.
UINT32 ReadZeroRun(DECOMPRESS_SCRATCH *Sd, UINT32 ExtraSymbol) {
  if (ExtraSymbol == 0) return 1;
  if (ExtraSymbol == 1) return GetBits(Sd, 4) + 3;
  return GetBits(Sd, CBIT) + 20;
}

// Reads the Char&Len lengths as Extra symbols and builds their table. A count
// field above NC, and a zero run past the end, stop at the array bound.
// Returns false only for a one-symbol table outside the set.
bool ReadCLen(DECOMPRESS_SCRATCH *Sd) {
  UINT32 Number = GetBits(Sd, CBIT);
  if (Number == 0) {
    return DecodeOneSymbolTable(GetBits(Sd, CBIT), NC, Sd->mCLen, Sd->mCTable, 1U << CTABLE_BITS);
  }
  UINT32 Index = 0;
  while (Index < Number && Index < NC) {
    UINT32 ExtraSymbol = DecodeExtraSymbol(Sd);
    if (Sd->mBadTableFlag != 0) return false;
    if (ExtraSymbol > 2) {
      Sd->mCLen[Index++] = static_cast<UINT8>(ExtraSymbol - 2);
      continue;
    }
    for (UINT32 Zeros = ReadZeroRun(Sd, ExtraSymbol); Zeros > 0 && Index < NC; Zeros--)
      Sd->mCLen[Index++] = 0;
  }
  while (Index < NC) Sd->mCLen[Index++] = 0;
  // Deliberately not examined: with unusable lengths the block keeps decoding
  // with the table as it stands (previous block's, or all zero at first), the
  // way every decoder of this format behaves. The builder leaves the table
  // untouched then, and every code still writes inside the output.
  (void)DecodeBuildTable(Sd, NC, Sd->mCLen, CTABLE_BITS, Sd->mCTable);
  return true;
}

// Opens a block: its code count and its three code tables.
bool DecodeBlockHeader(DECOMPRESS_SCRATCH *Sd) {
  Sd->mBlockSize = static_cast<UINT16>(GetBits(Sd, 16));
  if (!ReadPTLen(Sd, NT, TBIT, 3)) return false;
  if (!ReadCLen(Sd)) return false;
  return ReadPTLen(Sd, MAXNP, Sd->mPBit, MAX_UINT32);
}

// ---- Output -----------------------------------------------------------------

// Copies a match of Length bytes starting Distance bytes back, with the result
// of a byte-by-byte copy: an overlapping match repeats its first Distance
// bytes. Output stops at mOrigSize.
// Speed: the copied bytes repeat with period Distance, so byte i also equals
// byte i - Stride for any Stride that is a whole number of periods, as long as
// that byte lies inside the match's source. With Stride >= 8 each 8-byte chunk
// then reads only bytes written before it and moves as one word.
bool DecodeCopyMatch(DECOMPRESS_SCRATCH *Sd, UINT32 Length, UINT32 Distance) {
  if (Distance > Sd->mOutBuf) return false;  // would read before the first output byte
  UINT32 Room = Sd->mOrigSize - Sd->mOutBuf;
  if (Length > Room) Length = Room;
  UINT8 *Out = Sd->mDstBase + Sd->mOutBuf;
  const UINT8 *From = Out - Distance;
  Sd->mOutBuf += Length;

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
  return true;
}

// Decodes until the output is full or a check fails. Each pass writes at least
// one byte or stops, so the loop ends after at most mOrigSize passes.
void DecodeStream(DECOMPRESS_SCRATCH *Sd) {
  while (Sd->mOutBuf < Sd->mOrigSize) {
    if (Sd->mBlockSize == 0 && !DecodeBlockHeader(Sd)) {
      Sd->mBadTableFlag = 1;
      return;
    }
    Sd->mBlockSize--;  // a count of 0 thus stands for 65,536 codes
    UINT32 Symbol = DecodeC(Sd);
    if (Sd->mBadTableFlag != 0) return;
    if (Symbol < 256) {
      Sd->mDstBase[Sd->mOutBuf++] = static_cast<UINT8>(Symbol);
      continue;
    }
    UINT32 Length = Symbol - (256 - THRESHOLD);
    UINT32 Distance = DecodeP(Sd) + 1;
    if (Sd->mBadTableFlag != 0 || !DecodeCopyMatch(Sd, Length, Distance)) {
      Sd->mBadTableFlag = 1;
      return;
    }
  }
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

  FillBuf(Sd, BITBUFSIZ);
  DecodeStream(Sd);
  return Sd->mBadTableFlag != 0 ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}
