// Overflow-checked arithmetic: a sum or product that does not fit reports false
// and stores the maximum, so a wrapped value can never slip through unnoticed.
#ifndef ZEPHRIN_COMMON_SAFE_INT_H_
#define ZEPHRIN_COMMON_SAFE_INT_H_

#include "../uefi/UefiBaseType.h"

inline bool SafeUintnAdd(UINTN A, UINTN B, UINTN *Result) {
  if (B > MAX_UINTN - A) {
    *Result = MAX_UINTN;
    return false;
  }
  *Result = A + B;
  return true;
}

inline bool SafeUint32Add(UINT32 A, UINT32 B, UINT32 *Result) {
  if (B > MAX_UINT32 - A) {
    *Result = MAX_UINT32;
    return false;
  }
  *Result = A + B;
  return true;
}

inline bool SafeUintnMult(UINTN A, UINTN B, UINTN *Result) {
  if (A != 0 && B > MAX_UINTN / A) {
    *Result = MAX_UINTN;
    return false;
  }
  *Result = A * B;
  return true;
}

// True when [Offset, Offset + Length) lies inside a buffer of Size bytes.
inline bool RangeFits(UINTN Offset, UINTN Length, UINTN Size) {
  return Offset <= Size && Length <= Size - Offset;
}

#endif  // ZEPHRIN_COMMON_SAFE_INT_H_
