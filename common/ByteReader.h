// The one checked reader for bytes this code did not write itself (variables,
// HOBs, firmware-volume files, meta data, ACPI tables, AML). Reads succeed whole
// or fail, and a failure sticks, so a parser can chain reads and test once.
// Header-only and freestanding: used by both firmware images and the host build.
#ifndef ZEPHRIN_COMMON_BYTE_READER_H_
#define ZEPHRIN_COMMON_BYTE_READER_H_

#include "../uefi/UefiBaseType.h"

class ByteReader {
 public:
  ByteReader() : mBase(nullptr), mSize(0), mPos(0), mBad(false) {}
  ByteReader(const VOID *Base, UINTN Size)
      : mBase(static_cast<const UINT8 *>(Base)), mSize(Base == nullptr ? 0 : Size), mPos(0), mBad(false) {}

  UINTN Size() const { return mSize; }
  UINTN Position() const { return mPos; }
  UINTN Remaining() const { return mSize - mPos; }  // mPos <= mSize always holds
  bool Failed() const { return mBad; }
  const UINT8 *Base() const { return mBase; }
  const UINT8 *Current() const { return mBase + mPos; }

  bool Read8(UINT8 *Out) { return ReadLe(Out, 1); }
  bool Read16(UINT16 *Out) { return ReadLe(Out, 2); }
  bool Read32(UINT32 *Out) { return ReadLe(Out, 4); }
  bool Read64(UINT64 *Out) { return ReadLe(Out, 8); }

  bool Skip(UINTN Len) {
    if (!Fits(Len)) return false;
    mPos += Len;
    return true;
  }

  // Moves to an absolute offset inside the buffer (Offset == Size is allowed).
  bool Seek(UINTN Offset) {
    if (mBad || Offset > mSize) {
      mBad = true;
      return false;
    }
    mPos = Offset;
    return true;
  }

  // Copies the next Len bytes out.
  bool ReadBytes(VOID *Out, UINTN Len) {
    if (!Fits(Len)) return false;
    UINT8 *Dst = static_cast<UINT8 *>(Out);
    for (UINTN Index = 0; Index < Len; Index++) Dst[Index] = mBase[mPos + Index];
    mPos += Len;
    return true;
  }

  // A bounded view of the next Len bytes; the parent moves past them.
  bool Take(UINTN Len, ByteReader *Sub) {
    if (!Fits(Len)) return false;
    *Sub = ByteReader(mBase + mPos, Len);
    mPos += Len;
    return true;
  }

  // Reads a little-endian value at an absolute offset without moving.
  bool PeekAt32(UINTN Offset, UINT32 *Out) const { return PeekLe(Offset, Out, 4); }
  bool PeekAt16(UINTN Offset, UINT16 *Out) const { return PeekLe(Offset, Out, 2); }
  bool PeekAt8(UINTN Offset, UINT8 *Out) const { return PeekLe(Offset, Out, 1); }
  bool PeekAt64(UINTN Offset, UINT64 *Out) const { return PeekLe(Offset, Out, 8); }

 private:
  bool Fits(UINTN Len) {
    if (mBad || Len > mSize - mPos) {
      mBad = true;
      return false;
    }
    return true;
  }

  template <typename T>
  bool ReadLe(T *Out, UINTN Len) {
    if (!Fits(Len)) return false;
    *Out = Assemble<T>(mBase + mPos, Len);
    mPos += Len;
    return true;
  }

  template <typename T>
  bool PeekLe(UINTN Offset, T *Out, UINTN Len) const {
    if (mBad || Offset > mSize || Len > mSize - Offset) return false;
    *Out = Assemble<T>(mBase + Offset, Len);
    return true;
  }

  template <typename T>
  static T Assemble(const UINT8 *Bytes, UINTN Len) {
    T Value = 0;
    for (UINTN Index = Len; Index > 0; Index--) Value = static_cast<T>((Value << 8) | Bytes[Index - 1]);
    return Value;
  }

  const UINT8 *mBase;  // first byte of the buffer
  UINTN mSize;         // bytes in the buffer
  UINTN mPos;          // next byte to read; never above mSize
  bool mBad;           // a read failed; every later read fails too
};

#endif  // ZEPHRIN_COMMON_BYTE_READER_H_
