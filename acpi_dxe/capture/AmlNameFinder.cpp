// A walk of a table's AML along the term grammar, reporting the named objects it
// declares. Only the reader touches the table; every PkgLength is checked against
// the table and against the package that holds it before the walk relies on it.
#include "acpi_dxe/capture/AmlNameFinder.h"

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/capture/AmlTermShapes.h"
#include "uefi/Acpi.h"

namespace {

// A NameString as read from the AML: root or parent prefixes, then its segments.
struct AmlName {
  BOOLEAN Root;
  UINT8 Parents;
  UINT8 SegCount;
  BOOLEAN TooDeep;  // more prefixes or segments than the walk follows: never resolved
  UINT32 Segs[AML_WALK_MAX_PATH_DEPTH];
  UINT32 LastSegOffset;  // table offset of the last segment (0 for NullName)
};

BOOLEAN AmlIsLeadNameChar(UINT8 Byte) {
  return (Byte >= 'A' && Byte <= 'Z') || Byte == '_';
}

BOOLEAN AmlIsNameSeg(UINT32 Seg) {
  if (!AmlIsLeadNameChar(static_cast<UINT8>(Seg))) return FALSE;
  for (UINT8 Index = 1; Index < AML_NAME_SEG_SIZE; Index++) {
    const UINT8 Char = static_cast<UINT8>(Seg >> (8 * Index));
    if (!AmlIsLeadNameChar(Char) && !(Char >= '0' && Char <= '9')) return FALSE;
  }
  return TRUE;
}

// Reads a NameString. FALSE for a truncated one or a segment that is no NameSeg.
BOOLEAN AmlReadName(ByteReader *Reader, AmlName *Name) {
  Name->Root = FALSE;
  Name->Parents = 0;
  Name->SegCount = 0;
  Name->TooDeep = FALSE;
  Name->LastSegOffset = 0;
  UINT8 Byte = 0;
  if (!Reader->Read8(&Byte)) return FALSE;
  if (Byte == AML_ROOT_CHAR) {
    Name->Root = TRUE;
    if (!Reader->Read8(&Byte)) return FALSE;
  } else {
    while (Byte == AML_PARENT_PREFIX) {
      if (Name->Parents == AML_WALK_MAX_PATH_DEPTH) Name->TooDeep = TRUE;  // never resolved
      if (!Name->TooDeep) Name->Parents++;
      if (!Reader->Read8(&Byte)) return FALSE;
    }
  }
  UINT8 Count = 1;
  if (Byte == 0x00) return TRUE;  // NullName
  if (Byte == AML_DUAL_NAME_PREFIX) {
    Count = 2;
  } else if (Byte == AML_MULTI_NAME_PREFIX) {
    if (!Reader->Read8(&Count) || Count == 0) return FALSE;
  } else {
    Reader->Seek(Reader->Position() - 1);  // the byte was the first NameSeg character
  }
  if (Count > AML_WALK_MAX_PATH_DEPTH) Name->TooDeep = TRUE;
  for (UINT8 Index = 0; Index < Count; Index++) {
    UINT32 Seg = 0;
    Name->LastSegOffset = static_cast<UINT32>(Reader->Position());
    if (!Reader->Read32(&Seg) || !AmlIsNameSeg(Seg)) return FALSE;
    if (Index < AML_WALK_MAX_PATH_DEPTH) Name->Segs[Index] = Seg;
  }
  Name->SegCount = Name->TooDeep ? 0 : Count;
  return TRUE;
}

// Absolute path of a name declared (or referred to without a search) in Current.
BOOLEAN AmlResolve(const AML_PATH *Current, const AmlName *Name, AML_PATH *Out) {
  if (Name->TooDeep) return FALSE;
  UINT8 Base = 0;
  if (!Name->Root) {
    if (Name->Parents > Current->Depth) return FALSE;
    Base = static_cast<UINT8>(Current->Depth - Name->Parents);
  }
  if (Name->SegCount > AML_WALK_MAX_PATH_DEPTH - Base) return FALSE;
  for (UINT8 Index = 0; Index < Base; Index++) Out->Segs[Index] = Current->Segs[Index];
  for (UINT8 Index = 0; Index < Name->SegCount; Index++) Out->Segs[Base + Index] = Name->Segs[Index];
  Out->Depth = static_cast<UINT8>(Base + Name->SegCount);
  return TRUE;
}

// --- Learnt methods: an open-addressing table keyed by a hash of the path -------

constexpr UINT64 kKeyRoot = 0xCBF29CE484222325ULL;  // FNV-1a offset basis

UINT64 AmlKeyExtend(UINT64 Key, UINT32 Seg) {
  for (UINT8 Index = 0; Index < AML_NAME_SEG_SIZE; Index++) {
    Key ^= static_cast<UINT8>(Seg >> (8 * Index));
    Key *= 0x100000001B3ULL;  // FNV-1a prime
  }
  return Key;
}

UINT64 AmlPathKey(const AML_PATH *Path) {
  UINT64 Key = kKeyRoot;
  for (UINT8 Index = 0; Index < Path->Depth; Index++) Key = AmlKeyExtend(Key, Path->Segs[Index]);
  return Key | 1;  // 0 marks a free slot
}

// The slot holding Key, or the free slot where it belongs; NULL when the table is
// full without it.
AML_METHOD_SLOT *AmlMethodSlot(const AML_WALK *Walk, UINT64 Key) {
  if (Walk->SlotCount == 0) return nullptr;
  UINTN Index = static_cast<UINTN>(Key % Walk->SlotCount);
  for (UINTN Probe = 0; Probe < Walk->SlotCount; Probe++) {
    AML_METHOD_SLOT *Slot = &Walk->Slots[Index];
    if (Slot->Key == Key || Slot->Key == 0) return Slot;
    Index = Index + 1 == Walk->SlotCount ? 0 : Index + 1;
  }
  return nullptr;
}

BOOLEAN AmlLearnMethod(AML_WALK *Walk, const AML_PATH *Path, UINT8 ArgCount) {
  AML_METHOD_SLOT *Slot = AmlMethodSlot(Walk, AmlPathKey(Path));
  if (Slot == nullptr) return FALSE;
  Slot->Key = AmlPathKey(Path);
  Slot->ArgCount = ArgCount;
  return TRUE;
}

BOOLEAN AmlKnownMethod(const AML_WALK *Walk, UINT64 Key, UINT8 *ArgCount) {
  const AML_METHOD_SLOT *Slot = AmlMethodSlot(Walk, Key | 1);
  if (Slot == nullptr || Slot->Key == 0) return FALSE;
  *ArgCount = Slot->ArgCount;
  return TRUE;
}

// Argument count of the method a name in an operand position invokes, found the
// way the interpreter looks it up: a prefixed name exactly, a bare one in the
// current scope and then in each scope above it. FALSE when it names no method
// the walk has learnt (a plain reference, or a method of another table).
BOOLEAN AmlInvokedMethod(const AML_WALK *Walk, const AmlName *Name, UINT8 *ArgCount) {
  if (Name->TooDeep || Name->SegCount == 0) return FALSE;
  if (Name->Root || Name->Parents > 0) {
    AML_PATH Path;
    return AmlResolve(&Walk->Current, Name, &Path) && AmlKnownMethod(Walk, AmlPathKey(&Path), ArgCount);
  }
  UINT64 Prefix[AML_WALK_MAX_PATH_DEPTH + 1];
  Prefix[0] = kKeyRoot;
  for (UINT8 Index = 0; Index < Walk->Current.Depth; Index++) {
    Prefix[Index + 1] = AmlKeyExtend(Prefix[Index], Walk->Current.Segs[Index]);
  }
  for (INTN Base = Walk->Current.Depth; Base >= 0; Base--) {
    if (Name->SegCount > AML_WALK_MAX_PATH_DEPTH - Base) continue;
    UINT64 Key = Prefix[Base];
    for (UINT8 Index = 0; Index < Name->SegCount; Index++) Key = AmlKeyExtend(Key, Name->Segs[Index]);
    if (AmlKnownMethod(Walk, Key, ArgCount)) return TRUE;
  }
  return FALSE;
}

// --- Packages --------------------------------------------------------------------

// Where the innermost package (or the table) ends: no term may run past it.
UINTN AmlLimit(const AML_WALK *Walk) {
  return Walk->PackageCount > 0 ? Walk->Packages[Walk->PackageCount - 1].End : Walk->TableLength;
}

// Reads a PkgLength that starts at the reader's position and returns the table
// offset where the package ends; FALSE when that end is before the bytes read so
// far or past the package that holds it.
BOOLEAN AmlReadPackageEnd(AML_WALK *Walk, UINTN *End) {
  ByteReader *Reader = &Walk->Reader;
  const UINTN Start = Reader->Position();
  UINT32 PkgLength = 0;
  if (!AmlDecodePkgLength(Reader, &PkgLength)) return FALSE;
  if (PkgLength < Reader->Position() - Start || PkgLength > AmlLimit(Walk) - Start) return FALSE;
  *End = Start + PkgLength;
  return TRUE;
}

// Enters a package whose PkgLength has been read and whose header operands lie
// before End. Inner is the scope of its body (NULL: the scope stays).
BOOLEAN AmlEnterPackage(AML_WALK *Walk, UINTN End, const AML_PATH *Inner, BOOLEAN Code) {
  if (Walk->PackageCount == AML_WALK_MAX_PACKAGE_DEPTH || Walk->Reader.Position() > End) return FALSE;
  if (Inner != nullptr && Walk->ScopeCount == AML_WALK_MAX_SCOPE_DEPTH) return FALSE;
  AML_WALK_PACKAGE *Package = &Walk->Packages[Walk->PackageCount++];
  Package->End = static_cast<UINT32>(End);  // End <= TableLength, a UINT32
  Package->Code = Code;
  Package->Scoped = Inner != nullptr;
  if (Inner != nullptr) {
    Walk->Outer[Walk->ScopeCount++] = Walk->Current;
    Walk->Current = *Inner;
  }
  return TRUE;
}

VOID AmlPopPackage(AML_WALK *Walk) {
  if (Walk->Packages[--Walk->PackageCount].Scoped) Walk->Current = Walk->Outer[--Walk->ScopeCount];
}

// Leaves every package whose body ends at the reader's position; a term that ran
// past the end of its package is malformed AML.
BOOLEAN AmlLeaveEndedPackages(AML_WALK *Walk) {
  while (Walk->PackageCount > 0) {
    const AML_WALK_PACKAGE *Inner = &Walk->Packages[Walk->PackageCount - 1];
    if (Walk->Reader.Position() < Inner->End) return TRUE;
    if (Walk->Reader.Position() > Inner->End) return FALSE;
    AmlPopPackage(Walk);
  }
  return TRUE;
}

// After a term that did not parse: leaves the innermost method body or If/Else/
// While block at its end. FALSE when the term is in no such block.
BOOLEAN AmlSkipBrokenBody(AML_WALK *Walk, UINTN TermOffset) {
  UINT16 Index = Walk->PackageCount;
  while (Index > 0 && !Walk->Packages[Index - 1].Code) Index--;
  if (Index == 0) return FALSE;
  const UINT32 End = Walk->Packages[Index - 1].End;
  while (Walk->PackageCount >= Index) AmlPopPackage(Walk);
  if (Walk->SkippedBodies == 0) Walk->FirstSkipOffset = static_cast<UINT32>(TermOffset);
  Walk->SkippedBodies++;
  Walk->Reader = ByteReader(Walk->Table, Walk->TableLength);  // a failed read stays failed
  return Walk->Reader.Seek(End) && AmlLeaveEndedPackages(Walk);
}

// --- Operands --------------------------------------------------------------------

BOOLEAN AmlSkipTermArg(AML_WALK *Walk, UINT8 Depth);

BOOLEAN AmlIsNameStart(UINT8 Byte) {
  return AmlIsLeadNameChar(Byte) || Byte == AML_ROOT_CHAR || Byte == AML_PARENT_PREFIX ||
         Byte == AML_DUAL_NAME_PREFIX || Byte == AML_MULTI_NAME_PREFIX;
}

// A Buffer, Package or VarPackage after its opcode: its PkgLength covers it all.
BOOLEAN AmlSkipDataPackage(AML_WALK *Walk) {
  UINTN End = 0;
  return AmlReadPackageEnd(Walk, &End) && Walk->Reader.Seek(End);
}

// A name in an operand position that may be a method invocation: the name, then
// as many TermArgs as the method takes.
BOOLEAN AmlSkipNameOrCall(AML_WALK *Walk, UINT8 Depth) {
  AmlName Name;
  UINT8 ArgCount = 0;
  if (!AmlReadName(&Walk->Reader, &Name)) return FALSE;
  if (!AmlInvokedMethod(Walk, &Name, &ArgCount)) return TRUE;
  for (UINT8 Index = 0; Index < ArgCount; Index++) {
    if (!AmlSkipTermArg(Walk, Depth)) return FALSE;
  }
  return TRUE;
}

// SuperName or Target: a name there is the object itself, never a call; NullName
// stands for "no target".
BOOLEAN AmlSkipSuperName(AML_WALK *Walk, UINT8 Depth) {
  UINT8 Byte = 0;
  if (!Walk->Reader.PeekAt8(Walk->Reader.Position(), &Byte)) return FALSE;
  if (Byte == 0x00) return Walk->Reader.Skip(1);
  AmlName Ignored;
  if (AmlIsNameStart(Byte)) return AmlReadName(&Walk->Reader, &Ignored);
  return AmlSkipTermArg(Walk, Depth);
}

BOOLEAN AmlSkipString(ByteReader *Reader) {
  UINT8 Char = 1;
  while (Char != 0) {
    if (!Reader->Read8(&Char)) return FALSE;
  }
  return TRUE;
}

// Reads the operands Shape lists (see AmlTermShapes.h).
BOOLEAN AmlSkipOperands(AML_WALK *Walk, const CHAR8 *Shape, UINT8 Depth) {
  AmlName Ignored;
  for (; *Shape != '\0'; Shape++) {
    BOOLEAN Ok = FALSE;
    switch (*Shape) {
      case 'b':
        Ok = Walk->Reader.Skip(1);
        break;
      case 'w':
        Ok = Walk->Reader.Skip(2);
        break;
      case 'd':
        Ok = Walk->Reader.Skip(4);
        break;
      case 'q':
        Ok = Walk->Reader.Skip(8);
        break;
      case 'z':
        Ok = AmlSkipString(&Walk->Reader);
        break;
      case 'n':  // a declared or named object: never NullName
        Ok = AmlReadName(&Walk->Reader, &Ignored) && (Ignored.SegCount > 0 || Ignored.TooDeep);
        break;
      case 't':
        Ok = AmlSkipTermArg(Walk, Depth);
        break;
      case 's':
        Ok = AmlSkipSuperName(Walk, Depth);
        break;
      case 'p':
        Ok = AmlSkipDataPackage(Walk);
        break;
      default:
        break;
    }
    if (!Ok) return FALSE;
  }
  return TRUE;
}

// One TermArg: a data object, ArgN/LocalN, an expression or a method invocation.
// Depth bounds the nesting of operands.
BOOLEAN AmlSkipTermArg(AML_WALK *Walk, UINT8 Depth) {
  if (Depth >= AML_WALK_MAX_TERM_DEPTH) return FALSE;
  UINT8 Opcode = 0;
  if (!Walk->Reader.PeekAt8(Walk->Reader.Position(), &Opcode)) return FALSE;
  if (AmlIsNameStart(Opcode)) return AmlSkipNameOrCall(Walk, static_cast<UINT8>(Depth + 1));
  Walk->Reader.Skip(1);
  const CHAR8 *Shape = nullptr;
  if (Opcode == AML_EXT_OP_PREFIX) {
    UINT8 Second = 0;
    if (!Walk->Reader.Read8(&Second)) return FALSE;
    Shape = AmlExtendedOperandShape(Second);
  } else {
    Shape = AmlOperandShape(Opcode);
  }
  return Shape != nullptr && AmlSkipOperands(Walk, Shape, static_cast<UINT8>(Depth + 1));
}

// --- Declarations ----------------------------------------------------------------

VOID AmlReportObject(AML_NAMED_OBJECT_KIND Kind, const AML_PATH *Path, const AmlName *Name,
                     UINTN OpcodeOffset, AML_NAMED_OBJECT *Object) {
  *Object = AML_NAMED_OBJECT{};
  Object->Kind = Kind;
  Object->Path = *Path;
  Object->OpcodeOffset = static_cast<UINT32>(OpcodeOffset);
  Object->NameOffset = Name->LastSegOffset;
}

VOID AmlReportTerm(const AML_WALK *Walk, UINTN TermOffset, UINT32 *Offset, UINT8 *Prefix) {
  *Offset = static_cast<UINT32>(TermOffset);
  Walk->Reader.PeekAt8(TermOffset, Prefix);
}

// Name: the NameString, then a DataRefObject (a name there is a reference).
EFI_STATUS AmlWalkName(AML_WALK *Walk, UINTN OpcodeOffset, AML_NAMED_OBJECT *Object, BOOLEAN *Reported) {
  AmlName Name;
  AML_PATH Path;
  if (!AmlReadName(&Walk->Reader, &Name) || !AmlResolve(&Walk->Current, &Name, &Path) || Name.SegCount == 0) {
    return EFI_COMPROMISED_DATA;
  }
  const UINTN TermOffset = Walk->Reader.Position();
  if (!AmlSkipSuperName(Walk, 0)) return EFI_COMPROMISED_DATA;
  if (Walk->Learning) return EFI_SUCCESS;
  AmlReportObject(AmlNamedObjectName, &Path, &Name, OpcodeOffset, Object);
  AmlReportTerm(Walk, TermOffset, &Object->TermOffset, &Object->PrefixByte);
  if (AmlIntegerPrefixWidth(Object->PrefixByte) != 0) Object->ValueOffset = Object->TermOffset + 1;
  *Reported = TRUE;
  return EFI_SUCCESS;
}

// OperationRegion: NameString, RegionSpace byte, RegionOffset and RegionLen TermArgs.
EFI_STATUS AmlWalkOpRegion(AML_WALK *Walk, UINTN OpcodeOffset, AML_NAMED_OBJECT *Object, BOOLEAN *Reported) {
  AmlName Name;
  AML_PATH Path;
  UINT8 Space = 0;
  if (!AmlReadName(&Walk->Reader, &Name) || !AmlResolve(&Walk->Current, &Name, &Path) || Name.SegCount == 0 ||
      !Walk->Reader.Read8(&Space)) {
    return EFI_COMPROMISED_DATA;
  }
  const UINTN OffsetTerm = Walk->Reader.Position();
  if (!AmlSkipTermArg(Walk, 0)) return EFI_COMPROMISED_DATA;
  const UINTN LengthTerm = Walk->Reader.Position();
  if (!AmlSkipTermArg(Walk, 0)) return EFI_COMPROMISED_DATA;
  if (Walk->Learning) return EFI_SUCCESS;
  AmlReportObject(AmlNamedObjectOpRegion, &Path, &Name, OpcodeOffset, Object);
  AmlReportTerm(Walk, OffsetTerm, &Object->TermOffset, &Object->PrefixByte);
  AmlReportTerm(Walk, LengthTerm, &Object->LengthTermOffset, &Object->LengthPrefixByte);
  if (AmlIntegerPrefixWidth(Object->PrefixByte) != 0) Object->ValueOffset = Object->TermOffset + 1;
  Object->RegionSpace = Space;
  *Reported = TRUE;
  return EFI_SUCCESS;
}

// Scope, Device, Processor, PowerResource, ThermalZone and Method: PkgLength,
// NameString, FixedBytes of operands, then a TermList in the object's own scope.
EFI_STATUS AmlWalkScopeObject(AML_WALK *Walk, AML_NAMED_OBJECT_KIND Kind, UINTN FixedBytes,
                              UINTN OpcodeOffset, AML_NAMED_OBJECT *Object, BOOLEAN *Reported) {
  UINTN End = 0;
  AmlName Name;
  AML_PATH Path;
  UINT8 MethodFlags = 0;
  if (!AmlReadPackageEnd(Walk, &End) || !AmlReadName(&Walk->Reader, &Name) ||
      !AmlResolve(&Walk->Current, &Name, &Path) || (Kind != AmlNamedObjectScope && Name.SegCount == 0)) {
    return EFI_COMPROMISED_DATA;
  }
  if (Kind == AmlNamedObjectMethod) {
    if (!Walk->Reader.Read8(&MethodFlags)) return EFI_COMPROMISED_DATA;
    if (Walk->Learning && !AmlLearnMethod(Walk, &Path, MethodFlags & 0x07)) return EFI_BUFFER_TOO_SMALL;
  } else if (!Walk->Reader.Skip(FixedBytes)) {
    return EFI_COMPROMISED_DATA;
  }
  if (!AmlEnterPackage(Walk, End, &Path, Kind == AmlNamedObjectMethod)) return EFI_COMPROMISED_DATA;
  if (Walk->Learning) return EFI_SUCCESS;
  AmlReportObject(Kind, &Path, &Name, OpcodeOffset, Object);
  *Reported = TRUE;
  return EFI_SUCCESS;
}

// External: NameString, ObjectType, ArgumentCount. Only a method's is kept.
EFI_STATUS AmlWalkExternal(AML_WALK *Walk) {
  AmlName Name;
  UINT8 Type = 0, ArgCount = 0;
  if (!AmlReadName(&Walk->Reader, &Name) || !Walk->Reader.Read8(&Type) || !Walk->Reader.Read8(&ArgCount)) {
    return EFI_COMPROMISED_DATA;
  }
  AML_PATH Path;
  if (Walk->Learning && Type == AML_METHOD_OBJECT_TYPE && AmlResolve(&Walk->Current, &Name, &Path) &&
      !AmlLearnMethod(Walk, &Path, ArgCount & 0x07)) {
    return EFI_BUFFER_TOO_SMALL;
  }
  return EFI_SUCCESS;
}

// If and While: PkgLength, the predicate, then a TermList; Else: PkgLength, TermList.
EFI_STATUS AmlWalkCodeBlock(AML_WALK *Walk, BOOLEAN HasPredicate) {
  UINTN End = 0;
  if (!AmlReadPackageEnd(Walk, &End)) return EFI_COMPROMISED_DATA;
  if (HasPredicate && !AmlSkipTermArg(Walk, 0)) return EFI_COMPROMISED_DATA;
  return AmlEnterPackage(Walk, End, nullptr, TRUE) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
}

// One FieldElement: a named or reserved field (a PkgLength of bits), an access
// or extended access setting, or a Connection.
BOOLEAN AmlSkipFieldElement(AML_WALK *Walk) {
  ByteReader *Reader = &Walk->Reader;
  UINT8 Lead = 0;
  UINT32 Bits = 0;
  AmlName Ignored;
  if (!Reader->PeekAt8(Reader->Position(), &Lead)) return FALSE;
  switch (Lead) {
    case 0x00:
      return Reader->Skip(1) && AmlDecodePkgLength(Reader, &Bits);
    case 0x01:
      return Reader->Skip(3);  // AccessType, AccessAttrib
    case 0x02:
      if (!Reader->Skip(1) || !Reader->PeekAt8(Reader->Position(), &Lead)) return FALSE;
      return Lead == AML_BUFFER_OP ? Reader->Skip(1) && AmlSkipDataPackage(Walk)
                                   : AmlReadName(Reader, &Ignored);
    case 0x03:
      return Reader->Skip(4);  // AccessType, ExtendedAccessAttrib, AccessLength
    default: {
      UINT32 Seg = 0;
      return Reader->Read32(&Seg) && AmlIsNameSeg(Seg) && AmlDecodePkgLength(Reader, &Bits);
    }
  }
}

// Field, IndexField, BankField: PkgLength, Names operands, the FieldFlags byte
// and field elements up to the end of the package.
EFI_STATUS AmlWalkField(AML_WALK *Walk, const CHAR8 *Operands) {
  UINTN End = 0;
  if (!AmlReadPackageEnd(Walk, &End) || !AmlSkipOperands(Walk, Operands, 0) || !Walk->Reader.Skip(1)) {
    return EFI_COMPROMISED_DATA;
  }
  while (Walk->Reader.Position() < End) {
    if (!AmlSkipFieldElement(Walk)) return EFI_COMPROMISED_DATA;
  }
  return Walk->Reader.Position() == End ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
}

EFI_STATUS AmlWalkExtendedTerm(AML_WALK *Walk, UINTN OpcodeOffset, AML_NAMED_OBJECT *Object,
                               BOOLEAN *Reported) {
  UINT8 Opcode = 0;
  if (!Walk->Reader.Read8(&Opcode)) return EFI_COMPROMISED_DATA;
  switch (Opcode) {
    case AML_OP_REGION_OP:
      return AmlWalkOpRegion(Walk, OpcodeOffset, Object, Reported);
    case AML_FIELD_OP:
      return AmlWalkField(Walk, "n");
    case AML_INDEX_FIELD_OP:
      return AmlWalkField(Walk, "nn");
    case AML_BANK_FIELD_OP:
      return AmlWalkField(Walk, "nnt");
    case AML_DEVICE_OP:
      return AmlWalkScopeObject(Walk, AmlNamedObjectDevice, 0, OpcodeOffset, Object, Reported);
    case AML_PROCESSOR_OP:  // ProcID, PblkAddr (4), PblkLen
      return AmlWalkScopeObject(Walk, AmlNamedObjectProcessor, 6, OpcodeOffset, Object, Reported);
    case AML_POWER_RES_OP:  // SystemLevel, ResourceOrder (2)
      return AmlWalkScopeObject(Walk, AmlNamedObjectPowerResource, 3, OpcodeOffset, Object, Reported);
    case AML_THERMAL_ZONE_OP:
      return AmlWalkScopeObject(Walk, AmlNamedObjectThermalZone, 0, OpcodeOffset, Object, Reported);
    default: {
      const CHAR8 *Shape = AmlExtendedOperandShape(Opcode);
      return Shape != nullptr && AmlSkipOperands(Walk, Shape, 0) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
    }
  }
}

// One term of a TermList. *Reported when it declared an object the walk reports.
EFI_STATUS AmlWalkTerm(AML_WALK *Walk, AML_NAMED_OBJECT *Object, BOOLEAN *Reported) {
  const UINTN OpcodeOffset = Walk->Reader.Position();
  UINT8 Opcode = 0;
  if (!Walk->Reader.PeekAt8(OpcodeOffset, &Opcode)) return EFI_COMPROMISED_DATA;
  if (AmlIsNameStart(Opcode)) return AmlSkipNameOrCall(Walk, 0) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
  Walk->Reader.Skip(1);
  switch (Opcode) {
    case AML_NAME_OP:
      return AmlWalkName(Walk, OpcodeOffset, Object, Reported);
    case AML_SCOPE_OP:
      return AmlWalkScopeObject(Walk, AmlNamedObjectScope, 0, OpcodeOffset, Object, Reported);
    case AML_METHOD_OP:
      return AmlWalkScopeObject(Walk, AmlNamedObjectMethod, 0, OpcodeOffset, Object, Reported);
    case AML_EXTERNAL_OP:
      return AmlWalkExternal(Walk);
    case AML_IF_OP:
    case AML_WHILE_OP:
      return AmlWalkCodeBlock(Walk, TRUE);
    case AML_ELSE_OP:
      return AmlWalkCodeBlock(Walk, FALSE);
    case AML_EXT_OP_PREFIX:
      return AmlWalkExtendedTerm(Walk, OpcodeOffset, Object, Reported);
    default: {
      const CHAR8 *Shape = AmlOperandShape(Opcode);
      return Shape != nullptr && AmlSkipOperands(Walk, Shape, 0) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
    }
  }
}

VOID AmlRewind(AML_WALK *Walk) {
  Walk->Reader = ByteReader(Walk->Table, Walk->TableLength);
  Walk->Reader.Seek(sizeof(EFI_ACPI_DESCRIPTION_HEADER));
  Walk->Current = AML_PATH{};
  Walk->PackageCount = 0;
  Walk->ScopeCount = 0;
  Walk->SkippedBodies = 0;
  Walk->FirstSkipOffset = 0;
  Walk->ErrorOffset = 0;
}

}  // namespace

BOOLEAN AmlPathEqual(const AML_PATH *A, const AML_PATH *B) {
  if (A->Depth != B->Depth) return FALSE;
  for (UINT8 Index = 0; Index < A->Depth; Index++) {
    if (A->Segs[Index] != B->Segs[Index]) return FALSE;
  }
  return TRUE;
}

BOOLEAN AmlDecodePkgLength(ByteReader *Reader, UINT32 *PkgLength) {
  UINT8 Lead = 0;
  if (Reader == nullptr || PkgLength == nullptr || !Reader->Read8(&Lead)) return FALSE;
  const UINT8 FollowBytes = Lead >> 6;
  if (FollowBytes == 0) {
    *PkgLength = Lead & 0x3F;
    return TRUE;
  }
  if ((Lead & 0x30) != 0) return FALSE;  // bits 4 and 5 are reserved in a multi-byte lead
  UINT32 Value = Lead & 0x0F;
  for (UINT8 Index = 0; Index < FollowBytes; Index++) {
    UINT8 Byte = 0;
    if (!Reader->Read8(&Byte)) return FALSE;
    Value |= static_cast<UINT32>(Byte) << (4 + 8 * Index);
  }
  *PkgLength = Value;
  return TRUE;
}

UINT8 AmlPkgLengthEncodedSize(UINT32 Value) {
  if (Value <= 0x3F) return 1;
  if (Value <= 0xFFF) return 2;
  if (Value <= 0xFFFFF) return 3;
  if (Value <= 0xFFFFFFF) return 4;
  return 0;
}

UINTN AmlMethodSlotsFor(UINT32 TableLength) {
  return 2 * (static_cast<UINTN>(TableLength) / 7) + 1;
}

EFI_STATUS AmlWalkNext(AML_WALK *Walk, AML_NAMED_OBJECT *Object) {
  if (Walk == nullptr || Object == nullptr || Walk->Table == nullptr) return EFI_INVALID_PARAMETER;
  while (Walk->Reader.Position() < Walk->TableLength) {
    const UINTN TermOffset = Walk->Reader.Position();
    BOOLEAN Reported = FALSE;
    EFI_STATUS Status = AmlWalkTerm(Walk, Object, &Reported);
    if (Status == EFI_BUFFER_TOO_SMALL) return Status;
    if (!EFI_ERROR(Status) && !AmlLeaveEndedPackages(Walk)) Status = EFI_COMPROMISED_DATA;
    if (EFI_ERROR(Status)) {
      if (!AmlSkipBrokenBody(Walk, TermOffset)) {
        Walk->ErrorOffset = static_cast<UINT32>(TermOffset);
        return EFI_COMPROMISED_DATA;
      }
      continue;
    }
    if (Reported) return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS AmlWalkStart(AML_WALK *Walk, const UINT8 *Table, AML_METHOD_SLOT *Slots, UINTN SlotCount) {
  if (Walk == nullptr || Table == nullptr || (Slots == nullptr && SlotCount != 0))
    return EFI_INVALID_PARAMETER;
  const UINT32 TableLength = AmlTableLength(Table);
  if (TableLength < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) return EFI_COMPROMISED_DATA;
  if (SlotCount < AmlMethodSlotsFor(TableLength)) return EFI_BUFFER_TOO_SMALL;
  for (UINTN Index = 0; Index < SlotCount; Index++) Slots[Index] = AML_METHOD_SLOT{};
  Walk->Table = Table;
  Walk->TableLength = TableLength;
  Walk->Slots = Slots;
  Walk->SlotCount = SlotCount;
  Walk->Learning = TRUE;
  AmlRewind(Walk);
  AML_NAMED_OBJECT Ignored;
  const EFI_STATUS Status = AmlWalkNext(Walk, &Ignored);
  if (Status != EFI_NOT_FOUND) return EFI_ERROR(Status) ? Status : EFI_COMPROMISED_DATA;
  Walk->Learning = FALSE;
  AmlRewind(Walk);
  return EFI_SUCCESS;
}

BOOLEAN AmlPathToText(const AML_PATH *Path, CHAR8 *Text, UINTN Size) {
  if (Path == nullptr || Text == nullptr || Size < 2) return FALSE;
  UINTN Used = 0;
  Text[Used++] = '\\';
  for (UINT8 Index = 0; Index < Path->Depth; Index++) {
    if (Size - Used < (Index > 0 ? 1u : 0u) + AML_NAME_SEG_SIZE + 1) return FALSE;
    if (Index > 0) Text[Used++] = '.';
    for (UINT8 Char = 0; Char < AML_NAME_SEG_SIZE; Char++) {
      Text[Used++] = static_cast<CHAR8>(Path->Segs[Index] >> (8 * Char));
    }
  }
  Text[Used] = '\0';
  return TRUE;
}

BOOLEAN AmlPathFromText(const CHAR8 *Text, AML_PATH *Out) {
  if (Text == nullptr || Out == nullptr) return FALSE;
  *Out = AML_PATH{};
  if (*Text == '\\') Text++;
  while (*Text != '\0') {
    if (Out->Depth == AML_WALK_MAX_PATH_DEPTH) return FALSE;
    UINT32 Seg = 0;
    UINT8 Length = 0;
    for (; *Text != '\0' && *Text != '.'; Text++, Length++) {
      if (Length == AML_NAME_SEG_SIZE) return FALSE;
      Seg |= static_cast<UINT32>(static_cast<UINT8>(*Text)) << (8 * Length);
    }
    if (Length == 0) return FALSE;
    for (; Length < AML_NAME_SEG_SIZE; Length++) Seg |= static_cast<UINT32>('_') << (8 * Length);
    if (!AmlIsNameSeg(Seg)) return FALSE;
    Out->Segs[Out->Depth++] = Seg;
    if (*Text == '.') Text++;
  }
  return Out->Depth > 0 ? TRUE : FALSE;
}

EFI_STATUS AmlFindNamedObject(const UINT8 *Table, const CHAR8 *Path, AML_METHOD_SLOT *Slots, UINTN SlotCount,
                              AML_NAMED_OBJECT *Found) {
  AML_PATH Target;
  if (Table == nullptr || Found == nullptr || !AmlPathFromText(Path, &Target)) return EFI_INVALID_PARAMETER;
  AML_WALK Walk;
  EFI_STATUS Status = AmlWalkStart(&Walk, Table, Slots, SlotCount);
  while (!EFI_ERROR(Status)) {
    Status = AmlWalkNext(&Walk, Found);
    if (!EFI_ERROR(Status) && AmlPathEqual(&Found->Path, &Target)) return EFI_SUCCESS;
  }
  return Status;
}

EFI_STATUS AmlBuildLocator(const CHAR8 *Path, const AML_NAMED_OBJECT *Found, AML_OBJECT_LOCATOR *Locator) {
  if (Path == nullptr || Found == nullptr || Locator == nullptr) return EFI_INVALID_PARAMETER;
  if (Found->ValueOffset == 0) return EFI_UNSUPPORTED;
  *Locator = AML_OBJECT_LOCATOR{};
  for (UINTN Index = 0; Index + 1 < AML_OBJECT_PATH_NAME_SIZE && Path[Index] != '\0'; Index++) {
    Locator->PathName[Index] = Path[Index];
  }
  Locator->NameOffset = Found->NameOffset;
  Locator->PrefixByte = Found->PrefixByte;
  Locator->ValueOffset = Found->ValueOffset;
  return EFI_SUCCESS;
}
