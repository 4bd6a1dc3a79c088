// Encoder driver: working memory, the window and its slide, the lazy match
// decision and the code buffer that collects one block.
#include "acpi_dxe/compress/Compress.h"

#include "acpi_dxe/compress/CompressState.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"

COMPRESS_STATE mCompress;

namespace {

COMPRESS_STATE &S = mCompress;

// Stores a header byte while it fits; header bytes are not bit-stream output.
VOID CmpPutHeaderByte(UINTN Offset, UINT8 Byte) {
  if (Offset < S.mDstCapacity) S.mDst[Offset] = Byte;
}

VOID CmpPutHeader(UINT32 CompSize, UINT32 OrigSize) {
  for (UINT32 Index = 0; Index < 4; Index++) {
    CmpPutHeaderByte(Index, static_cast<UINT8>(CompSize >> (8 * Index)));
    CmpPutHeaderByte(4 + Index, static_cast<UINT8>(OrigSize >> (8 * Index)));
  }
}

// Reads up to Count input bytes to Window; returns how many there were.
INT32 CmpReadSource(UINT8 *Window, UINT32 Count) {
  if (Count > S.mSrcLeft) Count = S.mSrcLeft;
  for (UINT32 Index = 0; Index < Count; Index++) Window[Index] = S.mSrc[Index];
  S.mSrc += Count;
  S.mSrcLeft -= Count;
  S.mOrigSize += Count;
  return static_cast<INT32>(Count);
}

VOID CmpFreeMemory() {
  VOID **Buffers[] = {reinterpret_cast<VOID **>(&S.mText),       reinterpret_cast<VOID **>(&S.mLevel),
                      reinterpret_cast<VOID **>(&S.mChildCount), reinterpret_cast<VOID **>(&S.mPosition),
                      reinterpret_cast<VOID **>(&S.mParent),     reinterpret_cast<VOID **>(&S.mPrev),
                      reinterpret_cast<VOID **>(&S.mNext),       reinterpret_cast<VOID **>(&S.mBuf)};
  for (VOID **Buffer : Buffers) {
    if (*Buffer != nullptr) FreePool(*Buffer);
    *Buffer = nullptr;
  }
}

// All working memory, zero-filled. The code buffer alone may shrink: a smaller
// one only makes blocks shorter. On failure everything allocated is released.
bool CmpAllocateMemory() {
  S.mText = static_cast<UINT8 *>(AllocateZeroPool(TEXT_BYTES));
  S.mLevel = static_cast<UINT8 *>(AllocateZeroPool(LEVEL_BYTES));
  S.mChildCount = static_cast<UINT8 *>(AllocateZeroPool(CHILD_COUNT_BYTES));
  S.mPosition = static_cast<NODE *>(AllocateZeroPool(POSITION_BYTES));
  S.mParent = static_cast<NODE *>(AllocateZeroPool(PARENT_BYTES));
  S.mPrev = static_cast<NODE *>(AllocateZeroPool(PREV_BYTES));
  S.mNext = static_cast<NODE *>(AllocateZeroPool(NEXT_BYTES));
  bool Ok = S.mText != nullptr && S.mLevel != nullptr && S.mChildCount != nullptr && S.mPosition != nullptr &&
            S.mParent != nullptr && S.mPrev != nullptr && S.mNext != nullptr;
  S.mBufSiz = BLKSIZ;
  while (Ok && (S.mBuf = static_cast<UINT8 *>(AllocateZeroPool(S.mBufSiz))) == nullptr) {
    S.mBufSiz = S.mBufSiz / 10U * 9U;
    Ok = S.mBufSiz >= MIN_BLKSIZ;
  }
  if (!Ok) CmpFreeMemory();
  return Ok;
}

// Moves the window down by WNDSIZ when the position reaches its end and reads
// the next input behind it. The move goes through a pool buffer of its own.
bool CmpSlideWindow() {
  UINT8 *Temp = static_cast<UINT8 *>(AllocateZeroPool(SLIDE_BYTES));
  if (Temp == nullptr) return false;
  for (UINT32 Index = 0; Index < SLIDE_BYTES; Index++) Temp[Index] = S.mText[WNDSIZ + Index];
  for (UINT32 Index = 0; Index < SLIDE_BYTES; Index++) S.mText[Index] = Temp[Index];
  FreePool(Temp);
  S.mRemainder += CmpReadSource(&S.mText[WNDSIZ + MAXMATCH], WNDSIZ);
  S.mPos = WNDSIZ;
  return true;
}

// Advances one position: the string leaving the window is deleted and the new
// one inserted, which yields its longest match.
bool CmpGetNextMatch() {
  S.mRemainder--;
  if (++S.mPos == static_cast<INT32>(WNDSIZ * 2) && !CmpSlideWindow()) return false;
  LzDeleteNode();
  LzInsertNode();
  return true;
}

inline VOID CmpClipMatch() {
  if (S.mMatchLen > S.mRemainder) S.mMatchLen = S.mRemainder;
}

// Queues one code: a literal byte, or a match as length code Code >= 256 with
// position value Position. Codes go in groups of eight behind a flag byte; a
// group that might not fit (3 bytes per code) sends the pending block first.
VOID CmpOutput(UINT32 Code, UINT32 Position) {
  if ((S.mOutputMask >>= 1) == 0) {
    S.mOutputMask = 1U << (UINT8_BIT - 1);
    if (S.mOutputPos >= S.mBufSiz - 3 * UINT8_BIT) {
      HufSendBlock();
      S.mOutputPos = 0;
    }
    S.mFlagPos = S.mOutputPos++;
    S.mBuf[S.mFlagPos] = 0;
  }
  S.mBuf[S.mOutputPos++] = static_cast<UINT8>(Code);
  S.mCFreq[Code]++;
  if (Code < (1U << UINT8_BIT)) return;
  S.mBuf[S.mFlagPos] = static_cast<UINT8>(S.mBuf[S.mFlagPos] | S.mOutputMask);
  S.mBuf[S.mOutputPos++] = static_cast<UINT8>(Position >> UINT8_BIT);
  S.mBuf[S.mOutputPos++] = static_cast<UINT8>(Position);
  UINT32 Bits = 0;
  for (UINT32 Rest = Position; Rest != 0; Rest >>= 1) Bits++;
  S.mPFreq[Bits]++;
}

VOID CmpStartEncoding() {
  for (UINT32 Symbol = 0; Symbol < NC; Symbol++) S.mCFreq[Symbol] = 0;
  for (UINT32 Symbol = 0; Symbol < NP; Symbol++) S.mPFreq[Symbol] = 0;
  S.mOutputPos = 0;
  S.mOutputMask = 0;
  S.mBitCount = UINT8_BIT;
  S.mSubBitBuf = 0;
}

// The LZ77 pass with a one-step lazy decision: a match found at the previous
// position is taken only if the current position does not find a longer one.
bool CmpEncodeInput() {
  S.mRemainder = CmpReadSource(&S.mText[WNDSIZ], WNDSIZ + MAXMATCH);
  S.mMatchLen = 0;
  S.mPos = WNDSIZ;
  LzInsertNode();
  CmpClipMatch();
  while (S.mRemainder > 0) {
    INT32 LastMatchLen = S.mMatchLen;
    INT32 LastMatchPos = S.mMatchPos;
    if (!CmpGetNextMatch()) return false;
    CmpClipMatch();
    if (S.mMatchLen > LastMatchLen || LastMatchLen < static_cast<INT32>(THRESHOLD)) {
      CmpOutput(S.mText[S.mPos - 1], 0);
      continue;
    }
    CmpOutput(static_cast<UINT32>(LastMatchLen) + (MAX_UINT8 + 1 - THRESHOLD),
              static_cast<UINT32>(S.mPos - LastMatchPos - 2) & (WNDSIZ - 1));
    while (--LastMatchLen > 0) {
      if (!CmpGetNextMatch()) return false;
    }
    CmpClipMatch();
  }
  HufSendBlock();
  HufPutBits(UINT8_BIT - 1, 0);  // flushes the last partial byte
  return true;
}

bool CmpEncode() {
  if (!CmpAllocateMemory()) return false;
  LzInitTree();
  CmpStartEncoding();
  bool Ok = CmpEncodeInput();
  CmpFreeMemory();
  return Ok;
}

}  // namespace

EFI_STATUS Compress(const UINT8 *SrcBuffer, UINT32 SrcSize, UINT8 *DstBuffer, UINTN *DstSize) {
  if (DstSize == nullptr || (SrcBuffer == nullptr && SrcSize != 0) ||
      (DstBuffer == nullptr && *DstSize != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  S.mSrc = SrcBuffer;
  S.mSrcLeft = SrcSize;
  S.mDst = DstBuffer;
  S.mDstCapacity = *DstSize;
  S.mDstPos = 0;
  S.mOrigSize = 0;
  S.mCompSize = 0;
  for (UINT32 Index = 0; Index < COMPRESS_HEADER_SIZE; Index++) CmpPutHeaderByte(S.mDstPos++, 0);
  if (!CmpEncode()) return EFI_OUT_OF_RESOURCES;

  // A zero byte after the bit stream, counted in the header's compressed size.
  if (S.mDstPos < S.mDstCapacity) S.mDst[S.mDstPos++] = 0;
  CmpPutHeader(S.mCompSize + 1, S.mOrigSize);
  UINTN Needed = static_cast<UINTN>(S.mCompSize) + 1 + COMPRESS_HEADER_SIZE;
  UINTN Capacity = *DstSize;
  *DstSize = Needed;
  return Needed > Capacity ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
}
