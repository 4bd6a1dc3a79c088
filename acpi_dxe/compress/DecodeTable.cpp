// The one table builder of the decoder, used for the Extra, Char&Len and
// Position sets alike.
#include "acpi_dxe/compress/DecompressState.h"

namespace {

// Code-space weight of one code of Len bits, in units of 2^-16.
constexpr UINT32 CodeWeight(UINT32 Len) {
  return 1U << (MAX_CODE_LENGTH - Len);
}
constexpr UINT32 FULL_CODE_SPACE = 1U << MAX_CODE_LENGTH;

// Counts the lengths and works out the first code of each length. False for a
// length above 16 or for lengths that over- or under-fill the code space: only
// a complete code lets every table entry and tree path be assigned exactly
// once, which is what keeps the fill below inside its arrays.
bool DecodeFirstCodes(UINT32 NumSymbols, const UINT8 *BitLen, UINT32 *Count, UINT32 *Start) {
  for (UINT32 Symbol = 0; Symbol < NumSymbols; Symbol++) {
    if (BitLen[Symbol] > MAX_CODE_LENGTH) return false;
    Count[BitLen[Symbol]]++;
  }
  Start[1] = 0;
  for (UINT32 Len = 1; Len <= MAX_CODE_LENGTH; Len++)
    Start[Len + 1] = Start[Len] + Count[Len] * CodeWeight(Len);
  return Start[MAX_CODE_LENGTH + 1] == FULL_CODE_SPACE;
}

// Hangs Symbol below the table entry of a code longer than TableBits, creating
// the internal nodes its remaining bits pass through.
bool DecodeAddLongCode(DECOMPRESS_SCRATCH *Sd, UINT16 *Entry, UINT32 Code, UINT32 ExtraBits, UINT32 TableBits,
                       UINT16 Symbol, UINT32 *Avail) {
  UINT16 *Pointer = Entry;
  UINT32 Bit = 1U << (MAX_CODE_LENGTH - 1 - TableBits);
  for (UINT32 Step = 0; Step < ExtraBits; Step++, Bit >>= 1) {
    if (*Pointer == 0) {
      if (*Avail >= DECODE_TREE_NODES) return false;
      Sd->mLeft[*Avail] = 0;
      Sd->mRight[*Avail] = 0;
      *Pointer = static_cast<UINT16>((*Avail)++);
    }
    Pointer = (Code & Bit) != 0 ? &Sd->mRight[*Pointer] : &Sd->mLeft[*Pointer];
  }
  *Pointer = Symbol;
  return true;
}

// Fills a run of Count (a power of two) equal entries. A run of four or more
// starts at a multiple of its length (a canonical code's table positions do),
// and goes four entries to a store.
void DecodeFillRun(UINT16 *Run, UINT32 Count, UINT16 Entry) {
  if (Count >= 4) {
    const UINT64 Four = Entry * 0x0001000100010001ULL;
    for (UINT32 Index = 0; Index < Count; Index += 4) __builtin_memcpy(Run + Index, &Four, sizeof(Four));
    return;
  }
  Run[0] = Entry;
  Run[Count - 1] = Entry;  // a run of two
}

}  // namespace

VOID DecodeRepackTable(UINT16 *Table, UINT32 TableBits, const UINT8 *BitLen, UINT32 NumSymbols) {
  for (UINT32 Index = 0; Index < (1U << TableBits); Index++) {
    UINT32 Symbol = DecodeEntrySymbol(Table[Index]);
    if (Symbol < NumSymbols) Table[Index] = static_cast<UINT16>(DecodePackEntry(Symbol, BitLen[Symbol]));
  }
}

bool DecodeBuildTable(DECOMPRESS_SCRATCH *Sd, UINT32 NumSymbols, const UINT8 *BitLen, UINT32 TableBits,
                      UINT16 *Table) {
  UINT32 Count[MAX_CODE_LENGTH + 1] = {};
  UINT32 Start[MAX_CODE_LENGTH + 2];
  if (NumSymbols > NC || !DecodeFirstCodes(NumSymbols, BitLen, Count, Start)) return false;

  // The symbols in code order, by length and by symbol within a length (a
  // counting sort; the symbols of length 0 gather first and are skipped).
  // Taken in that order, the codes of one length fill runs of one size, one
  // after the other from the table's start: no test per symbol on its length,
  // and fill loops of a trip count that changes only with the length.
  UINT16 Order[NC];
  UINT32 Next[MAX_CODE_LENGTH + 1];
  Next[0] = 0;
  for (UINT32 Len = 1; Len <= MAX_CODE_LENGTH; Len++) Next[Len] = Next[Len - 1] + Count[Len - 1];
  for (UINT32 Symbol = 0; Symbol < NumSymbols; Symbol++)
    Order[Next[BitLen[Symbol]]++] = static_cast<UINT16>(Symbol);

  UINT32 Index = Count[0];
  UINT16 *Run = Table;
  for (UINT32 Len = 1; Len <= TableBits; Len++) {
    const UINT32 RunLength = 1U << (TableBits - Len);
    for (UINT32 Left = Count[Len]; Left > 0; Left--, Index++, Run += RunLength)
      DecodeFillRun(Run, RunLength, static_cast<UINT16>(DecodePackEntry(Order[Index], Len)));
  }

  // The rest of the table holds the prefixes of the long codes: tree roots,
  // marked empty so that the first code through each creates its node.
  const UINT32 JuBits = MAX_CODE_LENGTH - TableBits;
  const UINT32 TableSize = 1U << TableBits;
  const UINT32 FirstRoot = Start[TableBits + 1] >> JuBits;
  for (UINT32 Root = FirstRoot; Root < TableSize; Root++) Table[Root] = 0;
  UINT32 Avail = NumSymbols;
  bool Ok = true;
  for (UINT32 Len = TableBits + 1; Ok && Len <= MAX_CODE_LENGTH; Len++) {
    for (UINT32 Left = Count[Len]; Ok && Left > 0; Left--, Index++) {
      UINT32 Code = Start[Len];
      Start[Len] += CodeWeight(Len);
      Ok = DecodeAddLongCode(Sd, &Table[Code >> JuBits], Code, Len - TableBits, TableBits, Order[Index],
                             &Avail);
    }
  }
  // The tree builder hangs plain node numbers in the table; pack them as
  // entries of length 0, whether or not the build went through.
  for (UINT32 Root = FirstRoot; Root < TableSize; Root++)
    Table[Root] = static_cast<UINT16>(DecodePackEntry(Table[Root], 0));
  return Ok;
}
