// The decoder's whole state, laid out in the caller's scratch buffer. The
// layout is fixed: its size is the scratch size every caller allocates.
#ifndef ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_STATE_H_
#define ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_STATE_H_

#include "acpi_dxe/compress/CompressFormat.h"
#include "acpi_dxe/compress/Decompress.h"

// The Position set is decoded with the full length array, so its table has
// this many symbols even though the compressor only ever writes NP of them.
inline constexpr UINT32 MAXNP = 31;
// Entries of the length array shared by the Extra and Position sets.
inline constexpr UINT32 NPT = 31;
// Nodes of the code trees: symbols first, then internal nodes of the longest
// set (a complete code of NC symbols has NC - 1 internal nodes).
inline constexpr UINT32 DECODE_TREE_NODES = 2 * NC - 1;
// Bits resolved by one look-up; longer codes continue in the trees.
inline constexpr UINT32 CTABLE_BITS = 12;
inline constexpr UINT32 PTTABLE_BITS = 8;
inline constexpr UINT32 BITBUFSIZ = 32;

struct DECOMPRESS_SCRATCH {
  // Streams
  const UINT8 *mSrcBase;  // first byte of the bit stream (after the header)
  UINT8 *mDstBase;        // first byte of the output
  UINT32 mOutBuf;         // output bytes written so far
  UINT32 mInBuf;          // bit-stream bytes loaded so far
  // Bit reader, as it stood when decoding ended (it runs in registers meanwhile)
  UINT16 mBitCount;   // loaded bits in mSubBitBuf, from bit 31 down
  UINT32 mBitBuf;     // the next 32 bits of the stream, first bit in bit 31
  UINT32 mSubBitBuf;  // the 32 bits after those
  // Block and sizes
  UINT16 mBlockSize;     // codes left in the current block (0 after a header: 65,536)
  UINT32 mCompSize;      // bit-stream bytes not yet loaded
  UINT32 mOrigSize;      // uncompressed size announced by the header
  UINT16 mBadTableFlag;  // set by any failed check; decoding stops
  // Code trees for codes longer than a table look-up, shared by all sets.
  UINT16 mLeft[DECODE_TREE_NODES];
  UINT16 mRight[DECODE_TREE_NODES];
  // Code lengths and look-up tables
  UINT8 mCLen[NC];                      // Char&Len code lengths
  UINT8 mPTLen[NPT];                    // Extra, then Position code lengths
  UINT16 mCTable[1U << CTABLE_BITS];    // next 12 bits -> Char&Len symbol and its length, or tree node
  UINT16 mPTTable[1U << PTTABLE_BITS];  // next 8 bits -> Extra/Position symbol or tree node
  UINT8 mPBit;                          // width of the Position set's count field
};
static_assert(sizeof(DECOMPRESS_SCRATCH) == DECOMPRESS_SCRATCH_SIZE, "scratch size is part of the interface");
static_assert(OFFSET_OF(DECOMPRESS_SCRATCH, mLeft) == 50, "state layout");
static_assert(OFFSET_OF(DECOMPRESS_SCRATCH, mCTable) == 4668, "state layout");
static_assert(OFFSET_OF(DECOMPRESS_SCRATCH, mPBit) == 13372, "state layout");

// A table entry carries the symbol (or tree node) above its code length (0
// for a node), so that one look-up gives both. The length sits in the low six
// bits: a shift by the entry itself drops the code, and x86 shifts use just
// those bits, so the hot path spends no instruction taking the length out.
// Symbols and nodes stay below 1024 (DECODE_TREE_NODES), lengths below 64.
inline constexpr UINT32 DECODE_ENTRY_SYMBOL_SHIFT = 6;
inline constexpr UINT32 DECODE_ENTRY_LENGTH_MASK = (1U << DECODE_ENTRY_SYMBOL_SHIFT) - 1;
static_assert((DECODE_TREE_NODES << DECODE_ENTRY_SYMBOL_SHIFT) <= MAX_UINT16 + 1U,
              "a node number fits in an entry");
static_assert(MAX_CODE_LENGTH <= DECODE_ENTRY_LENGTH_MASK, "a code length fits below the symbol");
inline constexpr UINT32 DecodePackEntry(UINT32 Symbol, UINT32 Length) {
  return (Symbol << DECODE_ENTRY_SYMBOL_SHIFT) | Length;
}
inline constexpr UINT32 DecodeEntrySymbol(UINT32 Entry) {
  return Entry >> DECODE_ENTRY_SYMBOL_SHIFT;
}
// The code length of an entry. Lengths stay below 32, so five bits are read:
// a mask other than the six bits of the shift that drops the code keeps the two
// apart, and the shift need not wait for the mask (see BitsSkipEntry).
static_assert(MAX_CODE_LENGTH < 32, "a code length fits in the entry's low five bits");
inline constexpr UINT32 DecodeEntryLength(UINT32 Entry) {
  return Entry & 31;
}

// Builds the look-up table (and the tree part for codes longer than TableBits)
// of a canonical code from its NumSymbols code lengths. The lengths must form
// a complete prefix code: every length at most 16 and their Kraft sum exactly
// one. Returns false, and leaves the table and trees untouched, otherwise.
// Entries are packed (DecodePackEntry); a tree root's length is 0.
bool DecodeBuildTable(DECOMPRESS_SCRATCH *Sd, UINT32 NumSymbols, const UINT8 *BitLen, UINT32 TableBits,
                      UINT16 *Table);

// Puts the lengths of BitLen into the entries of a packed table that were
// built from other lengths: a table kept when its new lengths were unusable
// decodes its symbols with the new lengths, as if they were looked up apart.
VOID DecodeRepackTable(UINT16 *Table, UINT32 TableBits, const UINT8 *BitLen, UINT32 NumSymbols);

#endif  // ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_STATE_H_
