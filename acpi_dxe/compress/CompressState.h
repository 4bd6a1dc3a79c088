// The encoder's module state and the functions its files share: the match
// finder (CompressTree.cpp), the Huffman code builder (CompressHuffman.cpp),
// block output and the bit writer (CompressBlock.cpp), driven by Compress.cpp.
#ifndef ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_STATE_H_
#define ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_STATE_H_

#include "acpi_dxe/compress/CompressFormat.h"

// Node numbers of the suffix tree: 1..WNDSIZ-1 internal nodes, WNDSIZ + c the
// root of strings starting with byte c, WNDSIZ..2*WNDSIZ-1 also the leaves (text
// positions; a leaf and a root never share a use of the same array slot).
typedef UINT16 NODE;
inline constexpr NODE NIL = 0;
// Set in a node's recorded position while that position is not yet confirmed
// as the node's most recent occurrence.
inline constexpr UINT16 PERC_FLAG = 0x8000;
// Child lookup: the children of node p for byte c hang in bucket HASH(p, c).
inline constexpr UINT32 MAX_HASH_VAL = 3 * WNDSIZ + (WNDSIZ / 512 + 1) * MAX_UINT8;
inline constexpr UINT32 HashOf(UINT32 Node, UINT32 Byte) {
  return Node + (Byte << (WNDBIT - 9)) + WNDSIZ * 2;
}

// Buffer sizes of the working memory (bytes).
inline constexpr UINTN TEXT_BYTES = WNDSIZ * 2 + MAXMATCH;
inline constexpr UINTN LEVEL_BYTES = (WNDSIZ + MAX_UINT8 + 1) * sizeof(UINT8);
inline constexpr UINTN CHILD_COUNT_BYTES = (WNDSIZ + MAX_UINT8 + 1) * sizeof(UINT8);
inline constexpr UINTN POSITION_BYTES = (WNDSIZ + MAX_UINT8 + 1) * sizeof(NODE);
inline constexpr UINTN PARENT_BYTES = WNDSIZ * 2 * sizeof(NODE);
inline constexpr UINTN PREV_BYTES = WNDSIZ * 2 * sizeof(NODE);
inline constexpr UINTN NEXT_BYTES = (MAX_HASH_VAL + 1) * sizeof(NODE);
inline constexpr UINTN SLIDE_BYTES = WNDSIZ + MAXMATCH;
// The code buffer holds one block's pending codes. When pool is short it is
// retried 10 % smaller, down to this floor.
inline constexpr UINT32 BLKSIZ = 1U << 14;
inline constexpr UINT32 MIN_BLKSIZ = 4 * 1024;
static_assert(NEXT_BYTES == 57824, "hash buckets follow from the window size");

// Entries of the length and code arrays shared by the Extra and Position sets.
inline constexpr UINT32 COMPRESS_NPT = NT > NP ? NT : NP;

struct COMPRESS_STATE {
  // Source and destination
  const UINT8 *mSrc;   // next input byte
  UINT32 mSrcLeft;     // input bytes not yet read into the window
  UINT8 *mDst;         // destination buffer
  UINTN mDstCapacity;  // its size; nothing is stored at or beyond it
  UINTN mDstPos;       // next destination byte
  UINT32 mOrigSize;    // input bytes read so far
  UINT32 mCompSize;    // bit-stream bytes produced, stored or not
  // Bit writer
  UINT32 mSubBitBuf;  // bits of the byte being assembled, at its top
  UINT32 mBitCount;   // free bits left in that byte (8 when empty)
  // Working memory (pool, one compression)
  UINT8 *mText;        // window: WNDSIZ..2*WNDSIZ-1 current, below it the previous window
  UINT8 *mLevel;       // per internal node or root: match length where it branches
  UINT8 *mChildCount;  // per internal node or root: number of children
  NODE *mPosition;     // per internal node or root: most recent text position through it
  NODE *mParent;       // per node or leaf: its parent, NIL if none
  NODE *mPrev;         // backward links of the bucket chains
  NODE *mNext;         // forward links, bucket heads, free list of internal nodes
  UINT8 *mBuf;         // pending codes of the current block
  UINT32 mBufSiz;      // its size
  // Match search
  INT32 mPos;        // current text position
  INT32 mMatchPos;   // start of the longest match found for mPos
  INT32 mMatchLen;   // its length
  INT32 mRemainder;  // input bytes from mPos on still to process
  NODE mAvail;       // head of the free list of internal nodes
  // Code buffer
  UINT32 mOutputPos;   // next free byte of mBuf
  UINT32 mOutputMask;  // flag bit of the next code in its group, 0 = start a group
  UINT32 mFlagPos;     // position of the current group's flag byte
  // Huffman tables (frequencies have room for the internal nodes of the tree)
  UINT16 mCFreq[2 * NC - 1];
  UINT16 mPFreq[2 * NP - 1];
  UINT16 mTFreq[2 * NT - 1];
  UINT8 mCLen[NC];
  UINT8 mPTLen[COMPRESS_NPT];
  UINT16 mCCode[NC];
  UINT16 mPTCode[COMPRESS_NPT];
  // Huffman tree construction
  UINT16 mLeft[2 * NC - 1];
  UINT16 mRight[2 * NC - 1];
  UINT16 mDepth[2 * NC - 1];            // depth of each tree node, root 0
  UINT16 mLenCnt[MAX_CODE_LENGTH + 1];  // leaves per code length
  INT16 mHeap[NC + 1];                  // 1-based min-heap of node numbers
  UINT32 mHeapSize;
};

// The one encoder state: the encoder runs once at a time, on the boot CPU.
extern COMPRESS_STATE mCompress;

// Match finder
VOID LzInitTree();
VOID LzInsertNode();
VOID LzDeleteNode();

// Huffman codes: builds lengths and canonical codes from Freq for NumSymbols
// symbols; returns the root (a symbol number when fewer than two occur).
UINT32 HufMakeTree(UINT32 NumSymbols, UINT16 *Freq, UINT8 *Len, UINT16 *Code);

// Blocks and bits
VOID HufPutBits(UINT32 NumBits, UINT32 Value);
VOID HufSendBlock();

#endif  // ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_STATE_H_
