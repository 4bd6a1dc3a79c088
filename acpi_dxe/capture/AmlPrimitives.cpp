// Integer constants and OperationRegion terms inside AML, and Type 2 fields inside
// a parent NVS region. See AmlPrimitives.h for the contract.
#include "acpi_dxe/capture/AmlPrimitives.h"

#include "acpi_dxe/core/DebugLib.h"
#include "common/ByteReader.h"
#include "common/SafeInt.h"
#include "uefi/Acpi.h"

namespace {

// The table Length sits at offset 4 of the header; fewer than 8 bytes cannot even
// say how long they are, and such a table holds no AML to point into.
constexpr UINT32 kAmlLengthFieldEnd = 8;

// TRUE when Width bytes at Offset lie inside a table of TableLength bytes.
BOOLEAN AmlRangeInTable(UINT32 TableLength, UINT64 Offset, UINT64 Width) {
  return (Offset <= TableLength &&
          RangeFits(static_cast<UINTN>(Offset), static_cast<UINTN>(Width), TableLength))
             ? TRUE
             : FALSE;
}

// Reads Width (1, 2, 4 or 8) little-endian bytes at Offset of the Size bytes at
// Base through the checked reader; FALSE when they do not all lie inside.
BOOLEAN AmlReadLe(const UINT8 *Base, UINTN Size, UINT64 Offset, UINT8 Width, UINT64 *Value) {
  if (Offset > Size) return FALSE;
  const ByteReader Reader(Base, Size);
  const UINTN At = static_cast<UINTN>(Offset);
  UINT8 Byte = 0;
  UINT16 Word = 0;
  UINT32 DWord = 0;
  BOOLEAN Read = FALSE;
  switch (Width) {
    case 1:
      Read = Reader.PeekAt8(At, &Byte);
      *Value = Byte;
      break;
    case 2:
      Read = Reader.PeekAt16(At, &Word);
      *Value = Word;
      break;
    case 4:
      Read = Reader.PeekAt32(At, &DWord);
      *Value = DWord;
      break;
    case 8:
      Read = Reader.PeekAt64(At, Value);
      break;
    default:
      break;
  }
  return Read;
}

VOID AmlStoreLe(UINT8 *Bytes, UINT8 Width, UINT64 Value) {
  for (UINT8 Index = 0; Index < Width; Index++) {
    Bytes[Index] = static_cast<UINT8>(Value);
    Value >>= 8;
  }
}

// Every name-offset and value-offset failure of the locator gets this line: the
// meta data was written for another build of the table.
EFI_STATUS AmlReportOutsideTable(const CHAR8 *Caller, const CHAR8 *What, UINT64 Offset, UINT32 TableLength) {
  DebugPrint(DEBUG_ERROR, "%a - %a offset 0x%lx lies outside the table of 0x%x bytes\n", Caller, What, Offset,
             TableLength);
  return EFI_COMPROMISED_DATA;
}

// Logs the locator's NameSeg and ValueOffset; fails when the NameSeg is not
// inside the table (it is only logged, but a wrong name offset means a wrong
// locator, and the value offset then cannot be trusted either).
EFI_STATUS AmlLogLocator(const CHAR8 *Caller, const UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator) {
  const UINT32 TableLength = AmlTableLength(Aml);
  if (!AmlRangeInTable(TableLength, Locator->NameOffset, AML_NAME_SEG_SIZE)) {
    return AmlReportOutsideTable(Caller, "Name", Locator->NameOffset, TableLength);
  }
  const UINT8 *Name = Aml + Locator->NameOffset;
  DebugPrint(DEBUG_INFO, "%a - ValueName   = %c%c%c%c\n", Caller, static_cast<UINTN>(Name[0]),
             static_cast<UINTN>(Name[1]), static_cast<UINTN>(Name[2]), static_cast<UINTN>(Name[3]));
  DebugPrint(DEBUG_INFO, "%a - ValueOffset = %x\n", Caller, Locator->ValueOffset);
  return EFI_SUCCESS;
}

EFI_STATUS AmlCheckArguments(const CHAR8 *Caller, const UINT8 *Aml, const VOID *Locator) {
  if (Aml == nullptr || Locator == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - AML or locator is NULL\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  const UINT32 TableLength = AmlTableLength(Aml);
  if (TableLength < kAmlLengthFieldEnd) {
    DebugPrint(DEBUG_ERROR, "%a - Table length 0x%x is too short to hold AML\n", Caller, TableLength);
    return EFI_COMPROMISED_DATA;
  }
  return EFI_SUCCESS;
}

// The parent region of a Type 2 field must be addressable as a whole before a
// byte of it is touched: a zero address or one whose end wraps is refused.
EFI_STATUS Type2CheckField(const CHAR8 *Caller, UINT64 ParentAddress, UINT64 ParentLength, UINT64 Offset,
                           UINT8 Width) {
  if (Offset > ParentLength || Width > ParentLength - Offset) {
    DebugPrint(DEBUG_ERROR, "%a - Offset greater than parent NVS length %x\n", Caller,
               static_cast<UINT32>(Offset));
    return EFI_INVALID_PARAMETER;
  }
  if (ParentAddress == 0 || ParentAddress > MAX_UINTN || ParentLength > MAX_UINTN - ParentAddress) {
    DebugPrint(DEBUG_ERROR, "%a - Parent NVS region at 0x%lx of 0x%lx bytes is not addressable\n", Caller,
               ParentAddress, ParentLength);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Byte count of a SizeIndicator: 1 -> 1, 2 -> 2, 3 -> 4, 4 -> 8; 0 when invalid.
UINT8 Type2FieldWidth(UINT8 SizeIndicator) {
  if (SizeIndicator < TYPE_2_NVS_SIZE_INDICATOR_MIN || SizeIndicator > TYPE_2_NVS_SIZE_INDICATOR_MAX)
    return 0;
  return static_cast<UINT8>(1u << (SizeIndicator - 1));
}

}  // namespace

UINT8 AmlIntegerPrefixWidth(UINT8 PrefixByte) {
  switch (PrefixByte) {
    case AML_BYTE_PREFIX:
      return 1;
    case AML_WORD_PREFIX:
      return 2;
    case AML_DWORD_PREFIX:
      return 4;
    case AML_QWORD_PREFIX:
      return 8;
    default:
      return 0;
  }
}

UINT32 AmlTableLength(const UINT8 *Aml) {
  // The caller guarantees the header's first eight bytes; the rest is bounded by them.
  UINT64 Length = 0;
  AmlReadLe(Aml, kAmlLengthFieldEnd, OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length), 4, &Length);
  return static_cast<UINT32>(Length);
}

BOOLEAN AmlReadTableInteger(const UINT8 *Aml, UINT64 Offset, UINT8 Width, UINT64 *Value) {
  if (Aml == nullptr || Value == nullptr) return FALSE;
  return AmlReadLe(Aml, AmlTableLength(Aml), Offset, Width, Value);
}

BOOLEAN AmlWriteTableInteger(UINT8 *Aml, UINT64 Offset, UINT8 Width, UINT64 Value) {
  if (Aml == nullptr || (Width != 1 && Width != 2 && Width != 4 && Width != 8)) return FALSE;
  if (!AmlRangeInTable(AmlTableLength(Aml), Offset, Width)) return FALSE;
  AmlStoreLe(Aml + Offset, Width, Value);
  return TRUE;
}

EFI_STATUS ExtractNumericConstantFromAml(const UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator, UINT64 *Value,
                                         UINT8 *Size) {
  static const CHAR8 kName[] = "ExtractNumericConstantFromAml";
  DebugPrint(DEBUG_INFO, "ExtractNumericConstantFromAml() Entry.\n");
  if (Value == nullptr || Size == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Value or Size is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  *Value = 0;
  *Size = 0;
  EFI_STATUS Status = AmlCheckArguments(kName, Aml, Locator);
  if (!EFI_ERROR(Status)) Status = AmlLogLocator(kName, Aml, Locator);
  if (EFI_ERROR(Status)) return Status;

  const UINT8 Width = AmlIntegerPrefixWidth(Locator->PrefixByte);
  if (Width == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Invalid AML value size indicator %d\n", kName, Locator->PrefixByte);
    return EFI_INVALID_PARAMETER;
  }
  const UINT32 TableLength = AmlTableLength(Aml);
  if (Locator->ValueOffset == 0 || !AmlRangeInTable(TableLength, Locator->ValueOffset, Width)) {
    return AmlReportOutsideTable(kName, "Value", Locator->ValueOffset, TableLength);
  }
  // A locator whose prefix is not the one in the AML would read the bytes of some
  // other term (a name, a computed value) as if they were this constant.
  const UINT8 Opcode = Aml[Locator->ValueOffset - 1];
  if (Opcode != Locator->PrefixByte) {
    DebugPrint(DEBUG_ERROR, "%a - AML opcode 0x%x at offset 0x%x is not the integer prefix 0x%x\n", kName,
               Opcode, Locator->ValueOffset - 1, Locator->PrefixByte);
    return EFI_COMPROMISED_DATA;
  }
  AmlReadLe(Aml, TableLength, Locator->ValueOffset, Width, Value);  // bounds checked above
  *Size = Width;
  DebugPrint(DEBUG_INFO, "%a - Value found in AML = %x\n", kName, static_cast<UINT32>(*Value));
  DebugPrint(DEBUG_INFO, "%a - Value size in AML  = %x\n", kName, *Size);
  return EFI_SUCCESS;
}

EFI_STATUS SetNumericConstantInAml(UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator, UINT64 Value) {
  static const CHAR8 kName[] = "SetNumericConstantInAml";
  DebugPrint(DEBUG_INFO, "SetNumericConstantInAml() Entry.\n");
  EFI_STATUS Status = AmlCheckArguments(kName, Aml, Locator);
  if (!EFI_ERROR(Status)) Status = AmlLogLocator(kName, Aml, Locator);
  if (EFI_ERROR(Status)) return Status;

  if (Locator->ValueOffset == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Invalid AML byte offset of %x provided\n", kName, Locator->ValueOffset);
    return EFI_COMPROMISED_DATA;
  }
  const UINT32 TableLength = AmlTableLength(Aml);
  if (Locator->ValueOffset > TableLength) {
    return AmlReportOutsideTable(kName, "Value", Locator->ValueOffset, TableLength);
  }
  const UINT8 Opcode = Aml[Locator->ValueOffset - 1];
  if (Opcode != Locator->PrefixByte) {
    DebugPrint(DEBUG_ERROR, "%a - AML opcode 0x%x used when patching AML with PrefixByte of 0x%x\n", kName,
               Locator->PrefixByte, Opcode);
    return EFI_COMPROMISED_DATA;
  }
  const UINT8 Width = AmlIntegerPrefixWidth(Locator->PrefixByte);
  if (Width == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Unrecognized opcode 0x%x in patching AML with value of 0x%p\n", kName,
               Locator->PrefixByte, reinterpret_cast<VOID *>(static_cast<UINTN>(Value)));
    return EFI_COMPROMISED_DATA;
  }
  if (!AmlWriteTableInteger(Aml, Locator->ValueOffset, Width, Value)) {
    return AmlReportOutsideTable(kName, "Value", Locator->ValueOffset, TableLength);
  }
  return EFI_SUCCESS;
}

EFI_STATUS ExtractOpRegionAddressAndLengthFromAml(const UINT8 *Aml, const AML_OBJECT_LOCATOR *Locator,
                                                  UINT64 *Address, UINT64 *Length) {
  static const CHAR8 kName[] = "ExtractOpRegionAddressAndLengthFromAml";
  DebugPrint(DEBUG_INFO, "ExtractOpRegionAddressAndLengthFromAml() Entry.\n");
  if (Address == nullptr || Length == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Address or Length is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  UINT64 RegionAddress = 0;
  UINT8 AddressSize = 0;
  EFI_STATUS Status = ExtractNumericConstantFromAml(Aml, Locator, &RegionAddress, &AddressSize);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get opregion system memory address from AML\n", kName);
    return Status;
  }
  // RegionLen follows the RegionOffset data directly: prefix opcode, then its data.
  const UINT64 LengthPrefixOffset = static_cast<UINT64>(Locator->ValueOffset) + AddressSize;
  UINT64 LengthPrefix = 0;
  if (!AmlReadTableInteger(Aml, LengthPrefixOffset, 1, &LengthPrefix)) {
    return AmlReportOutsideTable(kName, "Region length", LengthPrefixOffset, AmlTableLength(Aml));
  }
  DebugPrint(DEBUG_INFO, "%a - NVS address        = %x\n", kName, static_cast<UINT32>(RegionAddress));
  DebugPrint(DEBUG_INFO, "%a - Length Data Prefix = %x\n", kName, static_cast<UINT32>(LengthPrefix));

  const UINT8 LengthWidth = AmlIntegerPrefixWidth(static_cast<UINT8>(LengthPrefix));
  if (LengthWidth == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Invalid AML length size %d for NVS\n", kName,
               static_cast<UINT32>(LengthPrefix));
    return EFI_INVALID_PARAMETER;
  }
  UINT64 RegionLength = 0;
  if (!AmlReadTableInteger(Aml, LengthPrefixOffset + 1, LengthWidth, &RegionLength)) {
    return AmlReportOutsideTable(kName, "Region length", LengthPrefixOffset + 1, AmlTableLength(Aml));
  }
  *Address = RegionAddress;
  *Length = RegionLength;
  DebugPrint(DEBUG_INFO, "%a - Opregion address found in AML = %x\n", kName,
             static_cast<UINT32>(RegionAddress));
  DebugPrint(DEBUG_INFO, "%a - Opregion length found in AML  = %x\n", kName,
             static_cast<UINT32>(RegionLength));
  return EFI_SUCCESS;
}

EFI_STATUS ExtractType2NvsValue(UINT64 ParentAddress, UINT64 ParentLength, UINT8 Mode, UINT8 SizeIndicator,
                                UINT64 Offset, UINT64 *Value, UINT8 *Size) {
  static const CHAR8 kName[] = "ExtractType2NvsValue";
  if (Value == nullptr || Size == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Value or Size is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  *Value = 0;
  *Size = 0;
  const UINT8 Width = Type2FieldWidth(SizeIndicator);
  if (Width == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Invalid number of byte to read indicator %x\n", kName, SizeIndicator);
    return EFI_INVALID_PARAMETER;
  }
  switch (Mode) {
    case UNSUPPORTED_TYPE_2_NVS_MODE:
      return EFI_UNSUPPORTED;
    case FIELD_TYPE_2_NVS_MODE: {
      const EFI_STATUS Status = Type2CheckField(kName, ParentAddress, ParentLength, Offset, Width);
      if (EFI_ERROR(Status)) return Status;
      AmlReadLe(reinterpret_cast<const UINT8 *>(static_cast<UINTN>(ParentAddress)),
                static_cast<UINTN>(ParentLength), Offset, Width,
                Value);  // Type2CheckField has bounded the field
      break;
    }
    case LITERAL_TYPE_2_NVS_MODE:
      *Value = Offset;
      break;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid NVS mode %x\n", kName, Mode);
      return EFI_INVALID_PARAMETER;
  }
  *Size = Width;
  DebugPrint(DEBUG_INFO, "%a - Value found in AML = %x\n", kName, static_cast<UINT32>(*Value));
  DebugPrint(DEBUG_INFO, "%a - Value size in AML  = %x\n", kName, *Size);
  return EFI_SUCCESS;
}

EFI_STATUS SetType2NvsValue(UINT64 ParentAddress, UINT64 ParentLength, UINT8 Mode, UINT8 SizeIndicator,
                            UINT64 Offset, UINT64 Value) {
  static const CHAR8 kName[] = "SetType2NvsValue";
  DebugPrint(DEBUG_INFO, "SetType2NvsValue() Entry.\n");
  const UINT8 Width = Type2FieldWidth(SizeIndicator);
  if (Width == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Invalid number of byte to write indicator %x\n", kName, SizeIndicator);
    return EFI_INVALID_PARAMETER;
  }
  switch (Mode) {
    case UNSUPPORTED_TYPE_2_NVS_MODE:
      return EFI_UNSUPPORTED;
    case FIELD_TYPE_2_NVS_MODE: {
      const EFI_STATUS Status = Type2CheckField(kName, ParentAddress, ParentLength, Offset, Width);
      if (EFI_ERROR(Status)) return Status;
      AmlStoreLe(reinterpret_cast<UINT8 *>(static_cast<UINTN>(ParentAddress + Offset)), Width, Value);
      return EFI_SUCCESS;
    }
    case LITERAL_TYPE_2_NVS_MODE:
      DebugPrint(DEBUG_INFO, "%a - TODO: Is LITERAL_TYPE_2_NVS_MODE really an NOP?\n", kName);
      return EFI_SUCCESS;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid NVS mode %x\n", kName, Mode);
      return EFI_INVALID_PARAMETER;
  }
}
