#include "tests/qemu/RegionResolver.h"

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/capture/AmlTermShapes.h"
#include "common/ByteReader.h"
#include "uefi/Acpi.h"

namespace {

constexpr UINT8 kZeroOp = 0x00;
constexpr UINT8 kOneOp = 0x01;
constexpr UINT8 kOnesOp = 0xFF;
constexpr UINT8 kReservedField = 0x00;
constexpr UINT8 kAccessField = 0x01;
constexpr UINT8 kExtendedAccessField = 0x03;
constexpr UINT8 kSystemMemory = 0x00;
// Nesting of region -> field -> parent region this resolver follows.
constexpr int kMaxDepth = 3;
// Longest path built here: "\" and up to 16 segments of "XXXX.".
constexpr UINTN kMaxPath = 1 + 16 * 5;

// Method slots of the name finder's walk: enough for the test platform's tables
// (a few KiB of AML); a larger table gets EFI_BUFFER_TOO_SMALL.
AML_METHOD_SLOT mMethodSlots[4096];

EFI_STATUS FindNamed(const UINT8 *Table, const CHAR8 *Path, AML_NAMED_OBJECT *Found) {
  return AmlFindNamedObject(Table, Path, mMethodSlots, sizeof(mMethodSlots) / sizeof(mMethodSlots[0]), Found);
}

bool IsLeadNameChar(UINT8 Byte) {
  return (Byte >= 'A' && Byte <= 'Z') || Byte == '_';
}

UINTN TextLength(const CHAR8 *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) Length++;
  return Length;
}

// Length of the parent of the scope Path[0, Len): "\_SB.SCRA" -> "\_SB" -> "\"
// -> 0 (the root has none). Applied to a whole path it gives the object's scope.
UINTN ParentScopeLength(const CHAR8 *Path, UINTN Len) {
  if (Len <= 1) return 0;
  while (Len > 1 && Path[Len - 1] != '.') Len--;
  return Len > 1 ? Len - 1 : 1;
}

// Path = Scope (ScopeLen chars of Scope) + NameSeg, trailing '_' padding kept
// off, as AmlFindNamedObject expects ASL spelling.
bool JoinPath(const CHAR8 *Scope, UINTN ScopeLen, const CHAR8 Seg[4], CHAR8 *Out) {
  UINTN SegLen = 4;
  while (SegLen > 1 && Seg[SegLen - 1] == '_') SegLen--;
  if (ScopeLen + 1 + SegLen + 1 > kMaxPath) return false;
  UINTN Pos = 0;
  for (; Pos < ScopeLen; Pos++) Out[Pos] = Scope[Pos];
  if (ScopeLen > 1) Out[Pos++] = '.';
  for (UINTN Index = 0; Index < SegLen; Index++) Out[Pos++] = Seg[Index];
  Out[Pos] = 0;
  return true;
}

EFI_STATUS ResolveRegionAt(const UINT8 *Table, const CHAR8 *Path, int Depth, UINT64 *Address, UINT64 *Length);

// Value of a field unit of a region in Scope: the field's bytes in the region's memory.
EFI_STATUS ReadFieldUnit(const UINT8 *Table, const CHAR8 *Scope, UINTN ScopeLen, const CHAR8 Seg[4],
                         int Depth, UINT64 *Value) {
  CHAR8 RegionSeg[4];
  UINT64 BitOffset = 0;
  UINT64 BitWidth = 0;
  EFI_STATUS Status = FindFieldUnit(Table, Seg, RegionSeg, &BitOffset, &BitWidth);
  if (EFI_ERROR(Status)) return Status;
  if ((BitOffset % 8) != 0 || (BitWidth % 8) != 0 || BitWidth == 0 || BitWidth > 64) return EFI_UNSUPPORTED;
  // The region is looked up from the scope of the field's user, then upwards.
  CHAR8 RegionPath[kMaxPath];
  UINT64 RegionAddress = 0;
  UINT64 RegionLength = 0;
  Status = EFI_NOT_FOUND;
  for (UINTN Len = ScopeLen; Len != 0 && Status == EFI_NOT_FOUND; Len = ParentScopeLength(Scope, Len)) {
    if (!JoinPath(Scope, Len, RegionSeg, RegionPath)) return EFI_UNSUPPORTED;
    Status = ResolveRegionAt(Table, RegionPath, Depth + 1, &RegionAddress, &RegionLength);
  }
  if (EFI_ERROR(Status)) return Status;
  UINT64 ByteOffset = BitOffset / 8;
  UINT64 Width = BitWidth / 8;
  if (ByteOffset > RegionLength || Width > RegionLength - ByteOffset || RegionAddress == 0) {
    return EFI_COMPROMISED_DATA;
  }
  const volatile UINT8 *Bytes =
      reinterpret_cast<const volatile UINT8 *>(static_cast<UINTN>(RegionAddress + ByteOffset));
  UINT64 Result = 0;
  for (UINT64 Index = Width; Index > 0; Index--) Result = (Result << 8) | Bytes[Index - 1];
  *Value = Result;
  return EFI_SUCCESS;
}

// Value of a Name object holding an integer constant.
EFI_STATUS ReadNameConstant(const UINT8 *Table, const CHAR8 *Path, UINT64 *Value) {
  AML_NAMED_OBJECT Found;
  EFI_STATUS Status = FindNamed(Table, Path, &Found);
  if (EFI_ERROR(Status)) return Status;
  if (Found.Kind != AmlNamedObjectName) return EFI_UNSUPPORTED;
  if (Found.PrefixByte == kZeroOp || Found.PrefixByte == kOneOp || Found.PrefixByte == kOnesOp) {
    *Value = Found.PrefixByte == kZeroOp ? 0 : (Found.PrefixByte == kOneOp ? 1 : MAX_UINT64);
    return EFI_SUCCESS;
  }
  UINT8 Width = AmlIntegerPrefixWidth(Found.PrefixByte);
  if (Width == 0 || !AmlReadTableInteger(Table, Found.ValueOffset, Width, Value)) return EFI_UNSUPPORTED;
  return EFI_SUCCESS;
}

// One RegionOffset or RegionLen term at the reader's position, which it passes.
EFI_STATUS EvaluateTerm(const UINT8 *Table, ByteReader *Reader, const CHAR8 *RegionPath, int Depth,
                        UINT64 *Value) {
  UINT8 Opcode = 0;
  if (!Reader->Read8(&Opcode)) return EFI_COMPROMISED_DATA;
  if (Opcode == kZeroOp || Opcode == kOneOp || Opcode == kOnesOp) {
    *Value = Opcode == kZeroOp ? 0 : (Opcode == kOneOp ? 1 : MAX_UINT64);
    return EFI_SUCCESS;
  }
  UINT8 Width = AmlIntegerPrefixWidth(Opcode);
  if (Width != 0) {
    UINT64 Result = 0;
    if (!AmlReadTableInteger(Table, Reader->Position(), Width, &Result) || !Reader->Skip(Width)) {
      return EFI_COMPROMISED_DATA;
    }
    *Value = Result;
    return EFI_SUCCESS;
  }
  // A name: only a single NameSeg, relative or from the root, is evaluated.
  bool Absolute = Opcode == AML_ROOT_CHAR;
  CHAR8 Seg[4];
  if (Absolute && !Reader->Read8(&Opcode)) return EFI_COMPROMISED_DATA;
  if (!IsLeadNameChar(Opcode) || Opcode == AML_PARENT_PREFIX) return EFI_UNSUPPORTED;
  Seg[0] = static_cast<CHAR8>(Opcode);
  if (!Reader->ReadBytes(Seg + 1, 3)) return EFI_COMPROMISED_DATA;
  const CHAR8 *Scope = Absolute ? "\\" : RegionPath;
  UINTN ScopeLen = Absolute ? 1 : ParentScopeLength(RegionPath, TextLength(RegionPath));
  for (UINTN Len = ScopeLen; Len != 0; Len = ParentScopeLength(Scope, Len)) {
    CHAR8 Path[kMaxPath];
    if (!JoinPath(Scope, Len, Seg, Path)) return EFI_UNSUPPORTED;
    EFI_STATUS Status = ReadNameConstant(Table, Path, Value);
    if (Status == EFI_NOT_FOUND) Status = ReadFieldUnit(Table, Scope, Len, Seg, Depth, Value);
    if (Status != EFI_NOT_FOUND) return Status;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS ResolveRegionAt(const UINT8 *Table, const CHAR8 *Path, int Depth, UINT64 *Address,
                           UINT64 *Length) {
  if (Depth > kMaxDepth) return EFI_UNSUPPORTED;
  AML_NAMED_OBJECT Found;
  EFI_STATUS Status = FindNamed(Table, Path, &Found);
  if (EFI_ERROR(Status)) return Status;
  if (Found.Kind != AmlNamedObjectOpRegion) return EFI_NOT_FOUND;
  if (Found.RegionSpace != kSystemMemory) return EFI_UNSUPPORTED;
  ByteReader Reader(Table, AmlTableLength(Table));
  if (!Reader.Seek(Found.TermOffset)) return EFI_COMPROMISED_DATA;
  UINT64 RegionAddress = 0;
  UINT64 RegionLength = 0;
  Status = EvaluateTerm(Table, &Reader, Path, Depth, &RegionAddress);
  if (!EFI_ERROR(Status)) Status = EvaluateTerm(Table, &Reader, Path, Depth, &RegionLength);
  if (EFI_ERROR(Status)) return Status;
  *Address = RegionAddress;
  *Length = RegionLength;
  return EFI_SUCCESS;
}

// Walks one FieldList (the reader covers exactly its bytes) for Seg.
EFI_STATUS FindInFieldList(ByteReader *List, const CHAR8 Seg[4], UINT64 *BitOffset, UINT64 *BitWidth) {
  UINT64 Bits = 0;
  while (List->Remaining() > 0) {
    UINT8 Lead = 0;
    UINT32 Width = 0;
    List->PeekAt8(List->Position(), &Lead);
    if (Lead == kReservedField) {
      if (!List->Skip(1) || !AmlDecodePkgLength(List, &Width)) return EFI_COMPROMISED_DATA;
      Bits += Width;
    } else if (Lead == kAccessField || Lead == kExtendedAccessField) {
      if (!List->Skip(Lead == kAccessField ? 3 : 4)) return EFI_COMPROMISED_DATA;
    } else if (IsLeadNameChar(Lead)) {
      CHAR8 Name[4];
      if (!List->ReadBytes(Name, 4) || !AmlDecodePkgLength(List, &Width)) return EFI_COMPROMISED_DATA;
      if (Name[0] == Seg[0] && Name[1] == Seg[1] && Name[2] == Seg[2] && Name[3] == Seg[3]) {
        *BitOffset = Bits;
        *BitWidth = Width;
        return EFI_SUCCESS;
      }
      Bits += Width;
    } else {
      return EFI_UNSUPPORTED;  // ConnectField and anything newer
    }
  }
  return EFI_NOT_FOUND;
}

}  // namespace

EFI_STATUS FindFieldUnit(const UINT8 *Table, const CHAR8 NameSeg[4], CHAR8 RegionSeg[4], UINT64 *BitOffset,
                         UINT64 *BitWidth) {
  if (Table == NULL || NameSeg == NULL || RegionSeg == NULL || BitOffset == NULL || BitWidth == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 TableLength = AmlTableLength(Table);
  if (TableLength < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) return EFI_COMPROMISED_DATA;
  // Field() is a term the name finder skips, so its declarations are found by
  // their opcode; a match inside other data fails to parse and is passed over.
  for (UINT32 Offset = sizeof(EFI_ACPI_DESCRIPTION_HEADER); Offset + 2 < TableLength; Offset++) {
    if (Table[Offset] != AML_EXT_OP_PREFIX || Table[Offset + 1] != AML_FIELD_OP) continue;
    ByteReader Reader(Table, TableLength);
    UINT32 PkgLength = 0;
    if (!Reader.Seek(Offset + 2)) continue;
    UINTN PkgStart = Reader.Position();
    if (!AmlDecodePkgLength(&Reader, &PkgLength) || PkgLength > TableLength - PkgStart) continue;
    ByteReader Body(Table + PkgStart, PkgLength);
    Body.Seek(Reader.Position() - PkgStart);
    // Region NameString: optional root/parent prefixes, then one NameSeg.
    UINT8 Byte = 0;
    while (Body.PeekAt8(Body.Position(), &Byte) && (Byte == AML_ROOT_CHAR || Byte == AML_PARENT_PREFIX))
      Body.Skip(1);
    CHAR8 Region[4];
    UINT8 Flags = 0;
    if (!IsLeadNameChar(Byte) || !Body.ReadBytes(Region, 4) || !Body.Read8(&Flags)) continue;
    ByteReader List(Table + PkgStart + Body.Position(), Body.Remaining());
    EFI_STATUS Status = FindInFieldList(&List, NameSeg, BitOffset, BitWidth);
    if (Status == EFI_SUCCESS) {
      for (UINTN Index = 0; Index < 4; Index++) RegionSeg[Index] = Region[Index];
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS ResolveOpRegion(const UINT8 *Table, const CHAR8 *Path, UINT64 *Address, UINT64 *Length) {
  if (Table == NULL || Path == NULL || Address == NULL || Length == NULL) return EFI_INVALID_PARAMETER;
  return ResolveRegionAt(Table, Path, 0, Address, Length);
}
