// Block output of the encoder: the bit writer, the three code-length tables
// and the replay of a block's pending codes.
#include "acpi_dxe/compress/CompressState.h"

namespace {

COMPRESS_STATE &S = mCompress;

// Stores a finished byte while it fits; the count always grows, so the size
// the data needs is known even when the destination is too small.
inline VOID HufEmitByte(UINT32 Byte) {
  if (S.mDstPos < S.mDstCapacity) S.mDst[S.mDstPos++] = static_cast<UINT8>(Byte);
  S.mCompSize++;
}

// Extra set frequencies of the Char&Len lengths, counted the way WriteCLen
// will write them.
VOID HufCountTFreq(UINT32 Count) {
  for (UINT32 Symbol = 0; Symbol < NT; Symbol++) S.mTFreq[Symbol] = 0;
  UINT32 Index = 0;
  while (Index < Count) {
    UINT32 Len = S.mCLen[Index++];
    if (Len != 0) {
      S.mTFreq[Len + 2]++;
      continue;
    }
    UINT32 Run = 1;
    while (Index < Count && S.mCLen[Index] == 0) {
      Index++;
      Run++;
    }
    if (Run <= 2) {
      S.mTFreq[0] = static_cast<UINT16>(S.mTFreq[0] + Run);
    } else if (Run <= 18) {
      S.mTFreq[1]++;
    } else if (Run == 19) {
      S.mTFreq[0]++;
      S.mTFreq[1]++;
    } else {
      S.mTFreq[2]++;
    }
  }
}

// Number of lengths up to and including the last nonzero one.
UINT32 HufUsedLengths(const UINT8 *Len, UINT32 Count) {
  while (Count > 0 && Len[Count - 1] == 0) Count--;
  return Count;
}

// Extra or Position lengths: 0..6 in three bits, k >= 7 as k - 4 ones and a
// zero. After index Special, two bits give the zero lengths that follow (up to
// index 6), which are then skipped.
VOID HufWritePTLen(UINT32 NumSymbols, UINT32 CountBits, UINT32 Special) {
  UINT32 Count = HufUsedLengths(S.mPTLen, NumSymbols);
  HufPutBits(CountBits, Count);
  UINT32 Index = 0;
  while (Index < Count) {
    UINT32 Len = S.mPTLen[Index++];
    if (Len <= 6) {
      HufPutBits(3, Len);
    } else {
      HufPutBits(Len - 3, (1U << (Len - 3)) - 2);
    }
    if (Index == Special) {
      while (Index < 6 && S.mPTLen[Index] == 0) Index++;
      HufPutBits(2, (Index - 3) & 3);
    }
  }
}

inline VOID HufPutExtra(UINT32 Symbol) {
  HufPutBits(S.mPTLen[Symbol], S.mPTCode[Symbol]);
}

// A run of zero Char&Len lengths as Extra symbols (see HufCountTFreq).
VOID HufWriteZeroRun(UINT32 Run) {
  if (Run <= 2) {
    for (UINT32 Index = 0; Index < Run; Index++) HufPutExtra(0);
  } else if (Run <= 18) {
    HufPutExtra(1);
    HufPutBits(4, Run - 3);
  } else if (Run == 19) {
    HufPutExtra(0);
    HufPutExtra(1);
    HufPutBits(4, 15);
  } else {
    HufPutExtra(2);
    HufPutBits(CBIT, Run - 20);
  }
}

VOID HufWriteCLen(UINT32 Count) {
  HufPutBits(CBIT, Count);
  UINT32 Index = 0;
  while (Index < Count) {
    UINT32 Len = S.mCLen[Index++];
    if (Len != 0) {
      HufPutExtra(Len + 2);
      continue;
    }
    UINT32 Run = 1;
    while (Index < Count && S.mCLen[Index] == 0) {
      Index++;
      Run++;
    }
    HufWriteZeroRun(Run);
  }
}

inline VOID HufEncodeC(UINT32 Symbol) {
  HufPutBits(S.mCLen[Symbol], S.mCCode[Symbol]);
}

// A position value as the code of its bit length, then the bits below its top bit.
inline VOID HufEncodeP(UINT32 Value) {
  UINT32 Bits = 0;
  for (UINT32 Rest = Value; Rest != 0; Rest >>= 1) Bits++;
  HufPutBits(S.mPTLen[Bits], S.mPTCode[Bits]);
  if (Bits > 1) HufPutBits(Bits - 1, Value & (0xFFFFU >> (17 - Bits)));
}

// The block's code tables: Char&Len (through the Extra set), then Position.
VOID HufWriteTables(UINT32 CRoot) {
  if (CRoot >= NC) {
    HufCountTFreq(HufUsedLengths(S.mCLen, NC));
    UINT32 TRoot = HufMakeTree(NT, S.mTFreq, S.mPTLen, S.mPTCode);
    if (TRoot >= NT) {
      HufWritePTLen(NT, TBIT, 3);
    } else {
      HufPutBits(TBIT, 0);
      HufPutBits(TBIT, TRoot);
    }
    HufWriteCLen(HufUsedLengths(S.mCLen, NC));
  } else {
    HufPutBits(TBIT, 0);
    HufPutBits(TBIT, 0);
    HufPutBits(CBIT, 0);
    HufPutBits(CBIT, CRoot);
  }
  UINT32 PRoot = HufMakeTree(NP, S.mPFreq, S.mPTLen, S.mPTCode);
  if (PRoot >= NP) {
    HufWritePTLen(NP, PBIT, MAX_UINT32);
  } else {
    HufPutBits(PBIT, 0);
    HufPutBits(PBIT, PRoot);
  }
}

// Replays Count pending codes: per flag byte eight codes; a set flag bit marks
// a match (length code - 256, then the 13-bit position value high byte first).
VOID HufReplayCodes(UINT32 Count) {
  UINT32 Pos = 0;
  UINT32 Flags = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    if (Index % UINT8_BIT == 0) {
      Flags = S.mBuf[Pos++];
    } else {
      Flags <<= 1;
    }
    if ((Flags & (1U << (UINT8_BIT - 1))) == 0) {
      HufEncodeC(S.mBuf[Pos++]);
      continue;
    }
    HufEncodeC(S.mBuf[Pos++] + (1U << UINT8_BIT));
    UINT32 Value = static_cast<UINT32>(S.mBuf[Pos] << UINT8_BIT) | S.mBuf[Pos + 1];
    Pos += 2;
    HufEncodeP(Value);
  }
}

}  // namespace

// Appends the low NumBits (at most 16) of Value, most significant first.
VOID HufPutBits(UINT32 NumBits, UINT32 Value) {
  if (NumBits < S.mBitCount) {
    S.mBitCount -= NumBits;
    S.mSubBitBuf |= Value << S.mBitCount;
    return;
  }
  NumBits -= S.mBitCount;
  HufEmitByte(S.mSubBitBuf | (Value >> NumBits));
  if (NumBits < UINT8_BIT) {
    S.mBitCount = UINT8_BIT - NumBits;
  } else {
    NumBits -= UINT8_BIT;
    HufEmitByte(Value >> NumBits);
    S.mBitCount = UINT8_BIT - NumBits;
  }
  S.mSubBitBuf = (Value << S.mBitCount) & 0xFF;
}

// Sends the pending codes as one block: its code count (the Char&Len root's
// frequency), its tables and its codes. Even an empty block is sent whole.
VOID HufSendBlock() {
  UINT32 CRoot = HufMakeTree(NC, S.mCFreq, S.mCLen, S.mCCode);
  UINT32 Count = S.mCFreq[CRoot];
  HufPutBits(16, Count);
  HufWriteTables(CRoot);
  HufReplayCodes(Count);
  for (UINT32 Symbol = 0; Symbol < NC; Symbol++) S.mCFreq[Symbol] = 0;
  for (UINT32 Symbol = 0; Symbol < NP; Symbol++) S.mPFreq[Symbol] = 0;
}
