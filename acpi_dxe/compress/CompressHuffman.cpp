// Huffman code construction of the encoder: a min-heap merge of the symbol
// frequencies, code lengths capped at 16 bits, canonical codes.
#include "acpi_dxe/compress/CompressState.h"

namespace {

COMPRESS_STATE &S = mCompress;

// Sinks heap entry Index. A parent moves below its left child unless the right
// child is strictly less frequent, and stops once it is not more frequent than
// that child: the tie rules decide which of equal codes gets which length.
VOID HufDownHeap(UINT32 Index, const UINT16 *Freq) {
  INT16 Node = S.mHeap[Index];
  UINT32 Child;
  while ((Child = 2 * Index) <= S.mHeapSize) {
    if (Child < S.mHeapSize && Freq[S.mHeap[Child]] > Freq[S.mHeap[Child + 1]]) Child++;
    if (Freq[Node] <= Freq[S.mHeap[Child]]) break;
    S.mHeap[Index] = S.mHeap[Child];
    Index = Child;
  }
  S.mHeap[Index] = Node;
}

// Counts leaves per depth, depths past 16 counted at 16. Internal nodes are
// numbered upward as they are made, so a parent's number is above its
// children's and one pass from the root down sees every parent first.
VOID HufCountLengths(UINT32 NumSymbols, UINT32 Root) {
  for (UINT32 Len = 0; Len <= MAX_CODE_LENGTH; Len++) S.mLenCnt[Len] = 0;
  S.mDepth[Root] = 0;
  for (UINT32 Node = Root + 1; Node-- > NumSymbols;) {
    UINT16 ChildDepth = static_cast<UINT16>(S.mDepth[Node] + 1);
    UINT16 Children[2] = {S.mLeft[Node], S.mRight[Node]};
    for (UINT16 Child : Children) {
      if (Child < NumSymbols) {
        S.mLenCnt[ChildDepth < MAX_CODE_LENGTH ? ChildDepth : MAX_CODE_LENGTH]++;
      } else {
        S.mDepth[Child] = ChildDepth;
      }
    }
  }
}

// Makes the counted lengths fit 16 bits, then hands them out, longest first,
// to the leaves in the order they left the heap (listed in SortOrder).
VOID HufMakeLengths(UINT32 NumSymbols, UINT32 Root, const UINT16 *SortOrder, UINT8 *Len) {
  HufCountLengths(NumSymbols, Root);
  UINT32 Cum = 0;
  for (UINT32 Depth = MAX_CODE_LENGTH; Depth > 0; Depth--)
    Cum += S.mLenCnt[Depth] << (MAX_CODE_LENGTH - Depth);
  // Capping made the code over-full: move leaves down from the deepest depth
  // below 16 until the Kraft sum is exactly one again.
  while (Cum != (1U << MAX_CODE_LENGTH)) {
    S.mLenCnt[MAX_CODE_LENGTH]--;
    for (UINT32 Depth = MAX_CODE_LENGTH - 1; Depth > 0; Depth--) {
      if (S.mLenCnt[Depth] != 0) {
        S.mLenCnt[Depth]--;
        S.mLenCnt[Depth + 1] += 2;
        break;
      }
    }
    Cum--;
  }
  for (UINT32 Depth = MAX_CODE_LENGTH; Depth > 0; Depth--) {
    for (UINT32 Count = S.mLenCnt[Depth]; Count > 0; Count--) Len[*SortOrder++] = static_cast<UINT8>(Depth);
  }
}

// Canonical codes: shorter codes first, and within one length in symbol order.
VOID HufMakeCodes(UINT32 NumSymbols, const UINT8 *Len, UINT16 *Code) {
  UINT16 Start[MAX_CODE_LENGTH + 2];
  Start[1] = 0;
  for (UINT32 Length = 1; Length <= MAX_CODE_LENGTH; Length++) {
    Start[Length + 1] = static_cast<UINT16>((Start[Length] + S.mLenCnt[Length]) << 1);
  }
  for (UINT32 Symbol = 0; Symbol < NumSymbols; Symbol++)
    Code[Symbol] = Len[Symbol] == 0 ? 0 : Start[Len[Symbol]]++;
}

}  // namespace

// Freq must have room for 2 * NumSymbols - 1 entries: the merged nodes store
// their frequencies behind the symbols'. Code first serves as the list of
// leaves in extraction order, then receives the codes.
UINT32 HufMakeTree(UINT32 NumSymbols, UINT16 *Freq, UINT8 *Len, UINT16 *Code) {
  UINT32 Avail = NumSymbols;
  S.mHeapSize = 0;
  S.mHeap[1] = 0;
  for (UINT32 Symbol = 0; Symbol < NumSymbols; Symbol++) {
    Len[Symbol] = 0;
    if (Freq[Symbol] != 0) S.mHeap[++S.mHeapSize] = static_cast<INT16>(Symbol);
  }
  if (S.mHeapSize < 2) {
    Code[S.mHeap[1]] = 0;
    return static_cast<UINT32>(S.mHeap[1]);
  }
  for (UINT32 Index = S.mHeapSize / 2; Index >= 1; Index--) HufDownHeap(Index, Freq);

  UINT16 *SortPtr = Code;
  UINT32 Node;
  do {
    UINT32 First = static_cast<UINT32>(S.mHeap[1]);
    if (First < NumSymbols) *SortPtr++ = static_cast<UINT16>(First);
    S.mHeap[1] = S.mHeap[S.mHeapSize--];
    HufDownHeap(1, Freq);
    UINT32 Second = static_cast<UINT32>(S.mHeap[1]);
    if (Second < NumSymbols) *SortPtr++ = static_cast<UINT16>(Second);
    Node = Avail++;
    Freq[Node] = static_cast<UINT16>(Freq[First] + Freq[Second]);
    S.mHeap[1] = static_cast<INT16>(Node);
    HufDownHeap(1, Freq);
    S.mLeft[Node] = static_cast<UINT16>(First);
    S.mRight[Node] = static_cast<UINT16>(Second);
  } while (S.mHeapSize > 1);

  HufMakeLengths(NumSymbols, Node, Code, Len);
  HufMakeCodes(NumSymbols, Len, Code);
  return Node;
}
