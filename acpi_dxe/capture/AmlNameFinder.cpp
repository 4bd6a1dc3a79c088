// Declaration-level walk of AML to find a named integer or OperationRegion by
// path. Only the reader touches the table; every PkgLength is checked against the
// table and against the scope that holds it before the walk relies on it.
#include "acpi_dxe/capture/AmlNameFinder.h"

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DebugLib.h"
#include "uefi/Acpi.h"

namespace {

// Opcodes the walk knows (ACPI 6.3, section 20.3).
constexpr UINT8 kAliasOp = 0x06;
constexpr UINT8 kNameOp = 0x08;
constexpr UINT8 kStringPrefix = 0x0D;
constexpr UINT8 kScopeOp = 0x10;
constexpr UINT8 kBufferOp = 0x11;
constexpr UINT8 kPackageOp = 0x12;
constexpr UINT8 kVarPackageOp = 0x13;
constexpr UINT8 kMethodOp = 0x14;
constexpr UINT8 kExternalOp = 0x15;
constexpr UINT8 kDualNamePrefix = 0x2E;
constexpr UINT8 kMultiNamePrefix = 0x2F;
constexpr UINT8 kExtOpPrefix = 0x5B;
constexpr UINT8 kRootChar = 0x5C;
constexpr UINT8 kParentPrefix = 0x5E;
constexpr UINT8 kIfOp = 0xA0;
constexpr UINT8 kElseOp = 0xA1;
constexpr UINT8 kWhileOp = 0xA2;
// Second bytes after kExtOpPrefix.
constexpr UINT8 kMutexOp = 0x01;
constexpr UINT8 kEventOp = 0x02;
constexpr UINT8 kRevisionOp = 0x30;
constexpr UINT8 kOpRegionOp = 0x80;
constexpr UINT8 kFieldOp = 0x81;
constexpr UINT8 kDeviceOp = 0x82;
constexpr UINT8 kProcessorOp = 0x83;
constexpr UINT8 kPowerResOp = 0x84;
constexpr UINT8 kThermalZoneOp = 0x85;
constexpr UINT8 kIndexFieldOp = 0x86;
constexpr UINT8 kBankFieldOp = 0x87;

// Deepest namespace path and scope nesting the walk follows; platform tables stay
// far below (\_SB.PCI0.LPCB.EC0 is four).
constexpr UINT8 kMaxDepth = 16;

// A parsed NameString: root or parent prefixes, then up to kMaxDepth segments.
struct AmlNameString {
  BOOLEAN Root;
  UINT8 Parents;
  UINT8 SegCount;
  UINT32 Segs[kMaxDepth];
  UINT32 LastSegOffset;  // table offset of the last segment (0 for NullName)
};

// An absolute namespace path as a list of NameSegs.
struct AmlPath {
  UINT8 Depth;
  UINT32 Segs[kMaxDepth];
};

// One entered scope: where its PkgLength ends and the path depth outside it.
struct AmlScope {
  UINTN End;
  UINT8 OuterDepth;
};

// All walk state: the reader over the whole table, the current path and the
// stack of scopes entered, innermost last.
struct AmlWalk {
  ByteReader Reader;
  AmlPath Current;
  AmlScope Scopes[kMaxDepth];
  UINT8 ScopeCount;
};

BOOLEAN AmlIsLeadNameChar(UINT8 Byte) {
  return (Byte >= 'A' && Byte <= 'Z') || Byte == '_';
}

BOOLEAN AmlReadNameString(ByteReader *Reader, AmlNameString *Name) {
  *Name = AmlNameString{};
  UINT8 Byte = 0;
  if (!Reader->PeekAt8(Reader->Position(), &Byte)) return FALSE;
  if (Byte == kRootChar) {
    Name->Root = TRUE;
    Reader->Skip(1);
  } else {
    while (Reader->PeekAt8(Reader->Position(), &Byte) && Byte == kParentPrefix) {
      if (Name->Parents == kMaxDepth) return FALSE;
      Name->Parents++;
      Reader->Skip(1);
    }
  }
  if (!Reader->Read8(&Byte)) return FALSE;
  UINT8 Count = 1;
  if (Byte == 0x00) return TRUE;  // NullName
  if (Byte == kDualNamePrefix) {
    Count = 2;
  } else if (Byte == kMultiNamePrefix) {
    if (!Reader->Read8(&Count)) return FALSE;
  } else {
    Reader->Seek(Reader->Position() - 1);  // the byte was the first NameSeg character
  }
  if (Count == 0 || Count > kMaxDepth) return FALSE;
  for (UINT8 Index = 0; Index < Count; Index++) {
    Name->LastSegOffset = static_cast<UINT32>(Reader->Position());
    if (!Reader->Read32(&Name->Segs[Index]) || !AmlIsLeadNameChar(static_cast<UINT8>(Name->Segs[Index]))) {
      return FALSE;
    }
  }
  Name->SegCount = Count;
  return TRUE;
}

// Absolute path of a name declared in the current scope.
BOOLEAN AmlResolve(const AmlPath *Current, const AmlNameString *Name, AmlPath *Out) {
  UINT8 Base = 0;
  if (!Name->Root) {
    if (Name->Parents > Current->Depth) return FALSE;
    Base = static_cast<UINT8>(Current->Depth - Name->Parents);
  }
  if (Name->SegCount > kMaxDepth - Base) return FALSE;
  for (UINT8 Index = 0; Index < Base; Index++) Out->Segs[Index] = Current->Segs[Index];
  for (UINT8 Index = 0; Index < Name->SegCount; Index++) Out->Segs[Base + Index] = Name->Segs[Index];
  Out->Depth = static_cast<UINT8>(Base + Name->SegCount);
  return TRUE;
}

BOOLEAN AmlPathEqual(const AmlPath *A, const AmlPath *B) {
  if (A->Depth != B->Depth) return FALSE;
  for (UINT8 Index = 0; Index < A->Depth; Index++) {
    if (A->Segs[Index] != B->Segs[Index]) return FALSE;
  }
  return TRUE;
}

// "\\_SB.PCI0.X" -> {"_SB_", "PCI0", "X___"}; FALSE for an empty or overlong segment.
BOOLEAN AmlParseAsciiPath(const CHAR8 *Text, AmlPath *Out) {
  *Out = AmlPath{};
  if (*Text == '\\') Text++;
  while (*Text != '\0') {
    if (Out->Depth == kMaxDepth) return FALSE;
    UINT32 Seg = 0;
    UINT8 Length = 0;
    for (; *Text != '\0' && *Text != '.'; Text++, Length++) {
      if (Length == AML_NAME_SEG_SIZE) return FALSE;
      Seg |= static_cast<UINT32>(static_cast<UINT8>(*Text)) << (8 * Length);
    }
    if (Length == 0) return FALSE;
    for (; Length < AML_NAME_SEG_SIZE; Length++) Seg |= static_cast<UINT32>('_') << (8 * Length);
    Out->Segs[Out->Depth++] = Seg;
    if (*Text == '.') Text++;
  }
  return Out->Depth > 0 ? TRUE : FALSE;
}

// Reads a PkgLength that starts at the reader's position and returns the table
// offset where the package ends; FALSE when that end is before the bytes read so
// far or past the table.
BOOLEAN AmlReadPackageEnd(ByteReader *Reader, UINTN *End) {
  const UINTN Start = Reader->Position();
  UINT32 PkgLength = 0;
  if (!AmlDecodePkgLength(Reader, &PkgLength)) return FALSE;
  if (PkgLength < Reader->Position() - Start || PkgLength > Reader->Size() - Start) return FALSE;
  *End = Start + PkgLength;
  return TRUE;
}

BOOLEAN AmlSkipPackage(ByteReader *Reader) {
  UINTN End = 0;
  return AmlReadPackageEnd(Reader, &End) && Reader->Seek(End);
}

// Skips a data object (integer, string, buffer, package, Revision) or, when
// AllowName is set, a NameString term as an OperationRegion operand may be.
BOOLEAN AmlSkipDataTerm(ByteReader *Reader, BOOLEAN AllowName) {
  UINT8 Opcode = 0;
  if (!Reader->PeekAt8(Reader->Position(), &Opcode)) return FALSE;
  if (Opcode == AML_ZERO_OP || Opcode == AML_ONE_OP || Opcode == AML_ONES_OP) return Reader->Skip(1);
  const UINT8 Width = AmlIntegerPrefixWidth(Opcode);
  if (Width != 0) return Reader->Skip(1u + Width);
  if (Opcode == kStringPrefix) {
    Reader->Skip(1);
    UINT8 Char = 1;
    while (Char != 0) {
      if (!Reader->Read8(&Char)) return FALSE;
    }
    return TRUE;
  }
  if (Opcode == kBufferOp || Opcode == kPackageOp || Opcode == kVarPackageOp) {
    return Reader->Skip(1) && AmlSkipPackage(Reader);
  }
  if (Opcode == kExtOpPrefix) {
    UINT8 Second = 0;
    return Reader->PeekAt8(Reader->Position() + 1, &Second) && Second == kRevisionOp && Reader->Skip(2);
  }
  if (AllowName && (AmlIsLeadNameChar(Opcode) || Opcode == kRootChar || Opcode == kParentPrefix ||
                    Opcode == kDualNamePrefix || Opcode == kMultiNamePrefix)) {
    AmlNameString Ignored;
    return AmlReadNameString(Reader, &Ignored);
  }
  return FALSE;
}

VOID AmlRecordFound(const AmlWalk *Walk, AML_NAMED_OBJECT_KIND Kind, const AmlNameString *Name,
                    UINTN TermOffset, UINT8 RegionSpace, AML_NAMED_OBJECT *Found) {
  UINT8 Prefix = 0;
  Walk->Reader.PeekAt8(TermOffset, &Prefix);
  Found->Kind = Kind;
  Found->NameOffset = Name->LastSegOffset;
  Found->TermOffset = static_cast<UINT32>(TermOffset);
  Found->PrefixByte = Prefix;
  Found->ValueOffset = AmlIntegerPrefixWidth(Prefix) != 0 ? static_cast<UINT32>(TermOffset + 1) : 0;
  Found->RegionSpace = RegionSpace;
}

// Name or OperationRegion: reads the declaration, and reports *Match when its
// path is Target. The reader is left after the declaration.
EFI_STATUS AmlVisitDeclaration(AmlWalk *Walk, BOOLEAN IsRegion, const AmlPath *Target,
                               AML_NAMED_OBJECT *Found, BOOLEAN *Match) {
  AmlNameString Name;
  AmlPath Path;
  if (!AmlReadNameString(&Walk->Reader, &Name) || !AmlResolve(&Walk->Current, &Name, &Path)) {
    return EFI_COMPROMISED_DATA;
  }
  UINT8 RegionSpace = 0;
  if (IsRegion && !Walk->Reader.Read8(&RegionSpace)) return EFI_COMPROMISED_DATA;
  const UINTN TermOffset = Walk->Reader.Position();
  BOOLEAN Skipped = AmlSkipDataTerm(&Walk->Reader, IsRegion);
  if (IsRegion && Skipped) Skipped = AmlSkipDataTerm(&Walk->Reader, TRUE);
  // A term cut off by the end of the table is malformed; one the walk does not
  // know is merely beyond it.
  if (!Skipped) return Walk->Reader.Failed() ? EFI_COMPROMISED_DATA : EFI_UNSUPPORTED;
  *Match = AmlPathEqual(&Path, Target);
  if (*Match) {
    AmlRecordFound(Walk, IsRegion ? AmlNamedObjectOpRegion : AmlNamedObjectName, &Name, TermOffset,
                   RegionSpace, Found);
  }
  return EFI_SUCCESS;
}

// Scope, Device, Processor, PowerResource, ThermalZone: the body is a TermList in
// a new scope; FixedBytes are the operands between the name and the body.
EFI_STATUS AmlEnterScope(AmlWalk *Walk, UINTN FixedBytes) {
  UINTN End = 0;
  AmlNameString Name;
  AmlPath Path;
  if (!AmlReadPackageEnd(&Walk->Reader, &End) || !AmlReadNameString(&Walk->Reader, &Name) ||
      !AmlResolve(&Walk->Current, &Name, &Path) || !Walk->Reader.Skip(FixedBytes) ||
      Walk->Reader.Position() > End) {
    return EFI_COMPROMISED_DATA;
  }
  if (Walk->ScopeCount == kMaxDepth) return EFI_UNSUPPORTED;
  // A body that ends past the scope holding it would make the scopes overlap.
  if (Walk->ScopeCount > 0 && End > Walk->Scopes[Walk->ScopeCount - 1].End) return EFI_COMPROMISED_DATA;
  Walk->Scopes[Walk->ScopeCount++] = AmlScope{End, Walk->Current.Depth};
  Walk->Current = Path;
  return EFI_SUCCESS;
}

EFI_STATUS AmlVisitExtendedOp(AmlWalk *Walk, const AmlPath *Target, AML_NAMED_OBJECT *Found, BOOLEAN *Match) {
  UINT8 Opcode = 0;
  AmlNameString Ignored;
  if (!Walk->Reader.Read8(&Opcode)) return EFI_COMPROMISED_DATA;
  switch (Opcode) {
    case kOpRegionOp:
      return AmlVisitDeclaration(Walk, TRUE, Target, Found, Match);
    case kDeviceOp:
    case kThermalZoneOp:
      return AmlEnterScope(Walk, 0);
    case kProcessorOp:
      return AmlEnterScope(Walk, 6);  // ProcID, PblkAddr (4), PblkLen
    case kPowerResOp:
      return AmlEnterScope(Walk, 3);  // SystemLevel, ResourceOrder (2)
    case kFieldOp:
    case kIndexFieldOp:
    case kBankFieldOp:
      return AmlSkipPackage(&Walk->Reader) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
    case kMutexOp:
      return AmlReadNameString(&Walk->Reader, &Ignored) && Walk->Reader.Skip(1) ? EFI_SUCCESS
                                                                                : EFI_COMPROMISED_DATA;
    case kEventOp:
      return AmlReadNameString(&Walk->Reader, &Ignored) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
    default:
      DebugPrint(DEBUG_ERROR, "AmlFindNamedObject - Cannot walk past opcode 0x5B 0x%x at offset 0x%x\n",
                 Opcode, static_cast<UINT32>(Walk->Reader.Position() - 2));
      return EFI_UNSUPPORTED;
  }
}

EFI_STATUS AmlVisitTerm(AmlWalk *Walk, const AmlPath *Target, AML_NAMED_OBJECT *Found, BOOLEAN *Match) {
  UINT8 Opcode = 0;
  AmlNameString Ignored;
  if (!Walk->Reader.Read8(&Opcode)) return EFI_COMPROMISED_DATA;
  switch (Opcode) {
    case kNameOp:
      return AmlVisitDeclaration(Walk, FALSE, Target, Found, Match);
    case kScopeOp:
      return AmlEnterScope(Walk, 0);
    case kMethodOp:
    case kIfOp:
    case kElseOp:
    case kWhileOp:
      return AmlSkipPackage(&Walk->Reader) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
    case kExternalOp:  // NameString, ObjectType, ArgumentCount
      return AmlReadNameString(&Walk->Reader, &Ignored) && Walk->Reader.Skip(2) ? EFI_SUCCESS
                                                                                : EFI_COMPROMISED_DATA;
    case kAliasOp:
      return AmlReadNameString(&Walk->Reader, &Ignored) && AmlReadNameString(&Walk->Reader, &Ignored)
                 ? EFI_SUCCESS
                 : EFI_COMPROMISED_DATA;
    case kExtOpPrefix:
      return AmlVisitExtendedOp(Walk, Target, Found, Match);
    default:
      DebugPrint(DEBUG_ERROR, "AmlFindNamedObject - Cannot walk past opcode 0x%x at offset 0x%x\n", Opcode,
                 static_cast<UINT32>(Walk->Reader.Position() - 1));
      return EFI_UNSUPPORTED;
  }
}

// Leaves every scope whose body ends at the reader's position; a term that ran
// past the end of its scope is malformed AML.
BOOLEAN AmlLeaveEndedScopes(AmlWalk *Walk) {
  while (Walk->ScopeCount > 0) {
    const AmlScope *Inner = &Walk->Scopes[Walk->ScopeCount - 1];
    if (Walk->Reader.Position() < Inner->End) return TRUE;
    if (Walk->Reader.Position() > Inner->End) return FALSE;
    Walk->Current.Depth = Inner->OuterDepth;
    Walk->ScopeCount--;
  }
  return TRUE;
}

}  // namespace

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

EFI_STATUS AmlFindNamedObject(const UINT8 *Table, const CHAR8 *Path, AML_NAMED_OBJECT *Found) {
  AmlPath Target;
  if (Table == nullptr || Path == nullptr || Found == nullptr || !AmlParseAsciiPath(Path, &Target)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT32 TableLength = AmlTableLength(Table);
  if (TableLength < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) return EFI_COMPROMISED_DATA;
  AmlWalk Walk = {};
  Walk.Reader = ByteReader(Table, TableLength);
  Walk.Reader.Seek(sizeof(EFI_ACPI_DESCRIPTION_HEADER));
  while (Walk.Reader.Remaining() > 0) {
    BOOLEAN Match = FALSE;
    const EFI_STATUS Status = AmlVisitTerm(&Walk, &Target, Found, &Match);
    if (EFI_ERROR(Status)) return Status;
    if (Match) return EFI_SUCCESS;
    if (!AmlLeaveEndedScopes(&Walk)) return EFI_COMPROMISED_DATA;
  }
  return EFI_NOT_FOUND;
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
