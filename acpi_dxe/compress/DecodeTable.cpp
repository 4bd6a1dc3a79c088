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
bool DecodeFirstCodes(UINT32 NumSymbols, const UINT8 *BitLen, UINT32 *Start) {
  UINT32 Count[MAX_CODE_LENGTH + 1] = {};
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

}  // namespace

VOID DecodeRepackTable(UINT16 *Table, UINT32 TableBits, const UINT8 *BitLen, UINT32 NumSymbols) {
  for (UINT32 Index = 0; Index < (1U << TableBits); Index++) {
    UINT32 Symbol = DecodeEntrySymbol(Table[Index]);
    if (Symbol < NumSymbols) Table[Index] = static_cast<UINT16>(DecodePackEntry(Symbol, BitLen[Symbol]));
  }
}

bool DecodeBuildTable(DECOMPRESS_SCRATCH *Sd, UINT32 NumSymbols, const UINT8 *BitLen, UINT32 TableBits,
                      UINT16 *Table) {
  UINT32 Start[MAX_CODE_LENGTH + 2];
  if (!DecodeFirstCodes(NumSymbols, BitLen, Start)) return false;

  // Entries at and after the first long code's prefix are tree roots; mark
  // them empty so the first code through each creates its node. Canonical
  // codes put every long code after all codes of TableBits bits or fewer.
  const UINT32 JuBits = MAX_CODE_LENGTH - TableBits;
  const UINT32 TableSize = 1U << TableBits;
  const UINT32 FirstRoot = Start[TableBits + 1] >> JuBits;
  for (UINT32 Index = FirstRoot; Index < TableSize; Index++) Table[Index] = 0;

  UINT32 Avail = NumSymbols;
  bool Ok = true;
  for (UINT32 Symbol = 0; Ok && Symbol < NumSymbols; Symbol++) {
    UINT32 Len = BitLen[Symbol];
    if (Len == 0) continue;
    UINT32 Code = Start[Len];
    Start[Len] += CodeWeight(Len);
    if (Len <= TableBits) {
      // Complete code: Code + weight <= 2^16, so the run ends inside the table.
      UINT32 First = Code >> JuBits;
      UINT32 Last = First + (1U << (TableBits - Len));
      UINT16 Entry = static_cast<UINT16>(DecodePackEntry(Symbol, Len));
      for (UINT32 Index = First; Index < Last; Index++) Table[Index] = Entry;
    } else {
      Ok = DecodeAddLongCode(Sd, &Table[Code >> JuBits], Code, Len - TableBits, TableBits,
                             static_cast<UINT16>(Symbol), &Avail);
    }
  }
  // The tree builder hangs plain node numbers in the table; pack them as
  // entries of length 0, whether or not the build went through.
  for (UINT32 Index = FirstRoot; Index < TableSize; Index++)
    Table[Index] = static_cast<UINT16>(DecodePackEntry(Table[Index], 0));
  return Ok;
}
