#include "tests/qemu/HobListCopy.h"

namespace {

// PI handoff information table HOB: EfiEndOfHobList is its last field.
constexpr UINTN kHandoffEndOfHobListOffset = 48;
constexpr UINTN kHandoffMinimumLength = kHandoffEndOfHobListOffset + 8;

UINTN PaddedHobLength(UINTN DataSize) {
  return (sizeof(EFI_HOB_GUID_TYPE) + DataSize + 7) & ~static_cast<UINTN>(7);
}

VOID CopyBytes(UINT8 *Destination, const UINT8 *Source, UINTN Length) {
  for (UINTN Index = 0; Index < Length; Index++) Destination[Index] = Source[Index];
}

}  // namespace

EFI_STATUS HobListMeasure(const VOID *HobList, UINTN Limit, UINTN *Size) {
  if (HobList == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  const UINT8 *Start = static_cast<const UINT8 *>(HobList);
  UINTN Offset = 0;
  while (Limit - Offset >= sizeof(EFI_HOB_GENERIC_HEADER)) {
    const EFI_HOB_GENERIC_HEADER *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Start + Offset);
    if (Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER) || (Header->HobLength & 7) != 0 ||
        Header->HobLength > Limit - Offset) {
      return EFI_COMPROMISED_DATA;
    }
    Offset += Header->HobLength;
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      *Size = Offset;
      return EFI_SUCCESS;
    }
  }
  return EFI_COMPROMISED_DATA;
}

EFI_STATUS HobListCopySize(UINTN ListSize, const HOB_TO_APPEND *Hobs, UINTN HobCount, UINTN *CopySize) {
  if (CopySize == NULL || (HobCount != 0 && Hobs == NULL)) return EFI_INVALID_PARAMETER;
  UINTN Total = ListSize;
  for (UINTN Index = 0; Index < HobCount; Index++) {
    if (Hobs[Index].DataSize > MAX_UINT16 - sizeof(EFI_HOB_GUID_TYPE) - 7) return EFI_BAD_BUFFER_SIZE;
    Total += PaddedHobLength(Hobs[Index].DataSize);
  }
  *CopySize = Total;
  return EFI_SUCCESS;
}

EFI_STATUS HobListCopyWithAppended(const VOID *HobList, UINTN ListSize, const HOB_TO_APPEND *Hobs,
                                   UINTN HobCount, VOID *Copy, UINTN CopySize) {
  UINTN Needed = 0;
  EFI_STATUS Status = HobListCopySize(ListSize, Hobs, HobCount, &Needed);
  if (EFI_ERROR(Status)) return Status;
  if (HobList == NULL || Copy == NULL || CopySize < Needed) return EFI_INVALID_PARAMETER;
  // The old end HOB is moved by its place at ListSize: a size that is not the
  // list's own would copy a piece of some other HOB as the end.
  UINTN Measured = 0;
  Status = HobListMeasure(HobList, ListSize, &Measured);
  if (EFI_ERROR(Status)) return Status;
  if (Measured != ListSize) return EFI_COMPROMISED_DATA;
  UINT8 *Out = static_cast<UINT8 *>(Copy);
  const UINTN EndHobSize = sizeof(EFI_HOB_GENERIC_HEADER);
  // Everything but the old end HOB, which moves behind the appended ones.
  UINTN Offset = ListSize - EndHobSize;
  CopyBytes(Out, static_cast<const UINT8 *>(HobList), Offset);
  for (UINTN Index = 0; Index < HobCount; Index++) {
    UINTN Length = PaddedHobLength(Hobs[Index].DataSize);
    for (UINTN Byte = 0; Byte < Length; Byte++) Out[Offset + Byte] = 0;
    EFI_HOB_GUID_TYPE *Hob = reinterpret_cast<EFI_HOB_GUID_TYPE *>(Out + Offset);
    Hob->Header.HobType = EFI_HOB_TYPE_GUID_EXTENSION;
    Hob->Header.HobLength = static_cast<UINT16>(Length);
    Hob->Name = *Hobs[Index].Name;
    if (Hobs[Index].DataSize != 0) {
      CopyBytes(Out + Offset + sizeof(EFI_HOB_GUID_TYPE), static_cast<const UINT8 *>(Hobs[Index].Data),
                Hobs[Index].DataSize);
    }
    Offset += Length;
  }
  CopyBytes(Out + Offset, static_cast<const UINT8 *>(HobList) + ListSize - EndHobSize, EndHobSize);
  const EFI_HOB_GENERIC_HEADER *First = static_cast<const EFI_HOB_GENERIC_HEADER *>(HobList);
  if (First->HobType == EFI_HOB_TYPE_HANDOFF && First->HobLength >= kHandoffMinimumLength) {
    UINT64 EndAddress = reinterpret_cast<UINTN>(Out + Offset);
    CopyBytes(Out + kHandoffEndOfHobListOffset, reinterpret_cast<const UINT8 *>(&EndAddress),
              sizeof(EndAddress));
  }
  return EFI_SUCCESS;
}
