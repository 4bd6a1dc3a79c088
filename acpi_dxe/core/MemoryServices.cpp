// Memory and pool operations used throughout the driver.
#include "acpi_dxe/core/DxeServices.h"

VOID *CopyMem(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *Dst = static_cast<UINT8 *>(Destination);
  const UINT8 *Src = static_cast<const UINT8 *>(Source);
  if (Dst == Src || Length == 0) return Destination;
  // Copy backwards when the destination overlaps the tail of the source.
  if (Dst > Src && Dst < Src + Length) {
    for (UINTN Index = Length; Index > 0; Index--) Dst[Index - 1] = Src[Index - 1];
  } else {
    for (UINTN Index = 0; Index < Length; Index++) Dst[Index] = Src[Index];
  }
  return Destination;
}

VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value) {
  volatile UINT8 *Dst = static_cast<UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Length; Index++) Dst[Index] = Value;
  return Buffer;
}

VOID *ZeroMem(VOID *Buffer, UINTN Length) {
  return SetMem(Buffer, Length, 0);
}

VOID *SetMem16(VOID *Buffer, UINTN Length, UINT16 Value) {
  UINT8 *Dst = static_cast<UINT8 *>(Buffer);
  for (UINTN Index = 0; Index + 1 < Length; Index += 2) {
    Dst[Index] = static_cast<UINT8>(Value);
    Dst[Index + 1] = static_cast<UINT8>(Value >> 8);
  }
  return Buffer;
}

INTN CompareMem(const VOID *First, const VOID *Second, UINTN Length) {
  const UINT8 *A = static_cast<const UINT8 *>(First);
  const UINT8 *B = static_cast<const UINT8 *>(Second);
  for (UINTN Index = 0; Index < Length; Index++) {
    if (A[Index] != B[Index]) return static_cast<INTN>(A[Index]) - static_cast<INTN>(B[Index]);
  }
  return 0;
}

bool CompareGuid(const EFI_GUID *First, const EFI_GUID *Second) {
  return CompareMem(First, Second, sizeof(EFI_GUID)) == 0;
}

UINTN StrLen(const CHAR16 *String) {
  if (String == nullptr) return 0;
  UINTN Length = 0;
  while (Length < MAX_UINT16 && String[Length] != 0) Length++;
  return Length;
}

VOID *AllocatePool(UINTN Size) {
  VOID *Buffer = nullptr;
  if (gBS == nullptr || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, &Buffer))) return nullptr;
  return Buffer;
}

VOID *AllocateZeroPool(UINTN Size) {
  VOID *Buffer = AllocatePool(Size);
  if (Buffer != nullptr) ZeroMem(Buffer, Size);
  return Buffer;
}

VOID FreePool(VOID *Buffer) {
  if (Buffer != nullptr) gBS->FreePool(Buffer);
}
