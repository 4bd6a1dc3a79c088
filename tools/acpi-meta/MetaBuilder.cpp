// Records of the ACPI meta data item, built from a description and the compiled
// tables it names values in. Locators come from the driver's own AML name finder,
// so the offsets are those the driver will read.
#include "tools/acpi-meta/MetaBuilder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "common/ByteReader.h"
#include "uefi/Acpi.h"

namespace acpi_meta {
namespace {

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');

std::string SignatureText(UINT32 Signature) {
  return std::string(reinterpret_cast<const char *>(&Signature), 4);
}
// The id as a description writes it: without the blanks or NULs that pad it.
std::string OemText(UINT64 Id) {
  std::string Text(reinterpret_cast<const char *>(&Id), 8);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\0')) Text.pop_back();
  return Text;
}

// A description pads a short OemTableId with blanks; real tables pad with
// blanks or NULs. Ids that differ only in that padding name the same table,
// and the records then carry the table's own id, which the driver compares.
UINT64 WithoutPadding(UINT64 OemTableId) {
  for (int Byte = 7; Byte >= 0; Byte--) {
    UINT64 Mask = 0xFFull << (8 * Byte);
    UINT64 Character = (OemTableId & Mask) >> (8 * Byte);
    if (Character != ' ' && Character != 0) break;
    OemTableId &= ~Mask;
  }
  return OemTableId;
}

bool SameOemTableId(UINT64 Left, UINT64 Right) {
  return WithoutPadding(Left) == WithoutPadding(Right);
}

std::string TargetText(const TableTarget &Target) {
  std::string Text = SignatureText(Target.Signature);
  if (Target.HasOemTableId) Text += ":" + OemText(Target.OemTableId);
  return Text;
}

std::string Joined(const std::string &BaseDir, const std::string &Path) {
  if (BaseDir.empty() || (!Path.empty() && Path[0] == '/')) return Path;
  return BaseDir + "/" + Path;
}

// How a term that is not a prefixed integer constant looks, for messages.
std::string TermText(UINT8 Opcode) {
  switch (Opcode) {
    case AML_ZERO_OP:
      return "Zero, which has no data bytes to patch";
    case AML_ONE_OP:
      return "One, which has no data bytes to patch";
    case AML_ONES_OP:
      return "Ones, which has no data bytes to patch";
    case 0x0D:
      return "a String";
    case 0x11:
      return "a Buffer";
    case 0x12:
      return "a Package";
    case 0x13:
      return "a VarPackage";
    default:
      break;
  }
  if ((Opcode >= 'A' && Opcode <= 'Z') || Opcode == '_' || Opcode == '\\' || Opcode == '^' ||
      Opcode == 0x2E || Opcode == 0x2F) {
    return "a reference to another object, read at run time";
  }
  return "an expression computed at run time";
}

class RecordWriter {
 public:
  RecordWriter(const std::vector<LoadedTable> &Tables, const std::string &BaseDir, std::string *Error)
      : mTables(Tables), mBaseDir(BaseDir), mError(Error) {}

  bool Write(const Statement &S, std::vector<UINT8> *Out);

 private:
  bool Fail(const Statement &S, const std::string &Why) {
    *mError = "line " + std::to_string(S.Line) + ": " + Why;
    return false;
  }
  const LoadedTable *Find(const TableTarget &Target) const;
  bool NeedTable(const Statement &S, const LoadedTable **Table);
  bool Locate(const Statement &S, const LoadedTable &Table, const std::string &Path,
              AML_NAMED_OBJECT_KIND Kind, AML_OBJECT_LOCATOR *Locator);
  bool TableRecord(const Statement &S, std::vector<UINT8> *Record);
  bool ElementRecord(const Statement &S, std::vector<UINT8> *Record);

  const std::vector<LoadedTable> &mTables;
  std::string mBaseDir;
  std::string *mError;
};

const LoadedTable *RecordWriter::Find(const TableTarget &Target) const {
  for (const LoadedTable &Table : mTables) {
    if (Table.Signature == Target.Signature &&
        (!Target.HasOemTableId || SameOemTableId(Table.OemTableId, Target.OemTableId))) {
      return &Table;
    }
  }
  return nullptr;
}

bool RecordWriter::NeedTable(const Statement &S, const LoadedTable **Table) {
  *Table = Find(S.Target);
  if (*Table == nullptr) {
    return Fail(S, "no compiled table " + TargetText(S.Target) + " was loaded with an 'aml' line");
  }
  return true;
}

bool RecordWriter::Locate(const Statement &S, const LoadedTable &Table, const std::string &Path,
                          AML_NAMED_OBJECT_KIND Kind, AML_OBJECT_LOCATOR *Locator) {
  if (Path.size() + 1 > AML_OBJECT_PATH_NAME_SIZE)
    return Fail(S, "path " + Path + " is longer than 65 characters");
  AML_NAMED_OBJECT Found{};
  std::string Why;
  if (!FindObject(Table, Path, &Found, &Why)) return Fail(S, Why);
  const bool Region = Kind == AmlNamedObjectOpRegion;
  if (Found.Kind != Kind) {
    return Fail(S, Path + " is not " + (Region ? "an OperationRegion" : "a Name") + " (it is " +
                       KindText(Found.Kind) + ")");
  }
  if (Found.ValueOffset == 0) {
    return Fail(S, Path +
                       (Region ? ": its region address is not a constant: it is "
                               : ": its value is not an integer constant: it is ") +
                       TermText(Found.PrefixByte));
  }
  if (Region && AmlIntegerPrefixWidth(Found.LengthPrefixByte) == 0) {
    return Fail(S, Path + ": its region length is not a constant: it is " + TermText(Found.LengthPrefixByte));
  }
  AmlBuildLocator(Path.c_str(), &Found, Locator);
  return true;
}

// Header fields of a record; the Rank sits where an entry has its signature.
void PutHeader(std::vector<UINT8> *Record, UINT32 Signature, UINT32 DataType, UINT32 SubType, UINT32 NvsType,
               UINT16 Rank) {
  ACPI_DATA_STORAGE_ENTRY_HEADER Header{};
  Header.Revision = ACPI_DATA_STORAGE_ENTRY_REVISION;
  Header.AcpiCommonHeader.Signature = Signature;
  Header.AcpiCommonHeader.Length = static_cast<UINT32>(Record->size());
  Header.AcpiDataType = DataType;
  Header.AcpiDataSubType = SubType;
  Header.AcpiDataNvsType = NvsType;
  std::memcpy(Record->data(), &Header, sizeof(Header));
  std::memcpy(Record->data() + ACPI_META_DATA_RANK_OFFSET, &Rank, sizeof(Rank));
}

UINT32 DataTypeOf(UINT32 Signature) {
  if (Signature == SIGNATURE_32('F', 'A', 'C', 'P')) return AcpiDataTypeFadt;
  if (Signature == SIGNATURE_32('F', 'A', 'C', 'S')) return AcpiDataTypeFacs;
  if (Signature == kDsdt) return AcpiDataTypeDsdt;
  if (Signature == kSsdt) return AcpiDataTypeSsdt;
  return AcpiDataTypeAcpiDataTables;
}

// The SSDT's description header: the loaded table's, or one that carries only the
// signature and OemTableId when the SSDT itself was not loaded.
void PutSsdtHeader(const TableTarget &Target, const LoadedTable *Table, std::vector<UINT8> *Record) {
  EFI_ACPI_DESCRIPTION_HEADER Header{};
  if (Table != nullptr) {
    std::memcpy(&Header, Table->Bytes.data(), sizeof(Header));
  } else {
    Header.Signature = Target.Signature;
    Header.OemTableId = Target.OemTableId;
  }
  std::memcpy(Record->data() + sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER), &Header, sizeof(Header));
}

bool RecordWriter::TableRecord(const Statement &S, std::vector<UINT8> *Record) {
  bool Ssdt = S.Target.Signature == kSsdt;
  if (S.SubType == AcpiDataSubTypeTable) {
    LoadedTable Carried;
    const LoadedTable *Table = nullptr;
    if (!S.TablePath.empty()) {
      if (!LoadTable(Joined(mBaseDir, S.TablePath), &Carried, mError)) return Fail(S, *mError);
      Table = &Carried;
    } else if (!NeedTable(S, &Table)) {
      return false;
    }
    if (Table->Signature != S.Target.Signature ||
        (Ssdt && !SameOemTableId(Table->OemTableId, S.Target.OemTableId))) {
      return Fail(S, Table->Path + " is not " + TargetText(S.Target));
    }
    Record->assign(ACPI_META_DATA_TABLE_OFFSET + Table->Bytes.size(), 0);
    std::memcpy(Record->data() + ACPI_META_DATA_TABLE_OFFSET, Table->Bytes.data(), Table->Bytes.size());
  } else if (S.SubType == AcpiDataSubTypeFromFv) {
    Record->assign(Ssdt ? ACPI_META_DATA_SSDT_FROM_FV_MIN_LENGTH : ACPI_META_DATA_DSDT_FROM_FV_MIN_LENGTH, 0);
    if (Ssdt) PutSsdtHeader(S.Target, Find(S.Target), Record);
    std::memcpy(
        Record->data() + (Ssdt ? ACPI_META_DATA_SSDT_FV_FILE_OFFSET : ACPI_META_DATA_DSDT_FV_FILE_OFFSET),
        &S.File, sizeof(S.File));
  } else {
    Record->assign(Ssdt ? ACPI_META_DATA_MIN_SSDT_RECORD_SIZE : ACPI_META_DATA_MIN_RECORD_SIZE, 0);
    if (Ssdt) PutSsdtHeader(S.Target, Find(S.Target), Record);
  }
  PutHeader(Record, S.Target.Signature, DataTypeOf(S.Target.Signature), S.SubType, 0, S.Rank);
  return true;
}

bool RecordWriter::ElementRecord(const Statement &S, std::vector<UINT8> *Record) {
  bool Ssdt = S.Target.Signature == kSsdt;
  if (!Ssdt && S.Target.Signature != kDsdt)
    return Fail(S, "values are captured from the DSDT or an SSDT only");
  const LoadedTable *Table = nullptr;
  if (!NeedTable(S, &Table)) return false;
  AML_OBJECT_LOCATOR First{}, Second{};
  UINT32 SubType = AcpiDataSubTypeNvs, NvsType = AcpiDataNvsTypeDefault;
  size_t Size = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
  switch (S.Kind) {
    case StatementKind::Nvs:
      if (!Locate(S, *Table, S.Path, AmlNamedObjectOpRegion, &First)) return false;
      break;
    case StatementKind::NvsType1:
      if (!Locate(S, *Table, S.Path, AmlNamedObjectName, &First) ||
          !Locate(S, *Table, S.LengthPath, AmlNamedObjectName, &Second)) {
        return false;
      }
      NvsType = AcpiDataNvsType1;
      Size = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1);
      break;
    case StatementKind::NvsType2:
    case StatementKind::NonNvsType2:
      if (!Locate(S, *Table, S.Path, AmlNamedObjectOpRegion, &First)) return false;
      SubType = S.Kind == StatementKind::NvsType2 ? AcpiDataSubTypeNvs : AcpiDataSubTypeNonNvs;
      NvsType = AcpiDataNvsType2;
      Size = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);
      break;
    case StatementKind::Integer:
      if (!Locate(S, *Table, S.Path, AmlNamedObjectName, &First)) return false;
      SubType = AcpiDataSubTypeInteger;
      NvsType = AcpiDataNvsTypeNone;
      Size = sizeof(ACPI_DATA_STORAGE_INTEGER);
      break;
    case StatementKind::Table:
      return false;
  }
  Record->assign(Size, 0);
  std::memcpy(Record->data() + sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER), Table->Bytes.data(),
              sizeof(EFI_ACPI_DESCRIPTION_HEADER));
  std::memcpy(Record->data() + OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, Locator), &First, sizeof(First));
  if (S.Kind == StatementKind::NvsType1) {
    std::memcpy(Record->data() + OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_1, LengthLocator), &Second,
                sizeof(Second));
  } else if (NvsType == AcpiDataNvsType2) {
    ACPI_DATA_STORAGE_NVS_TYPE_2 Fields{};
    std::memcpy(&Fields, Record->data(), sizeof(Fields));
    Fields.AddressField.Mode = S.Address.Mode;
    Fields.AddressField.SizeIndicator = S.Address.SizeIndicator;
    Fields.AddressField.Offset = S.Address.Offset;
    Fields.LengthField.Mode = S.Length.Mode;
    Fields.LengthField.SizeIndicator = S.Length.SizeIndicator;
    Fields.LengthField.Offset = static_cast<UINT32>(S.Length.Offset);
    std::memcpy(Record->data(), &Fields, sizeof(Fields));
  } else if (S.Kind == StatementKind::Integer) {
    ACPI_DATA_STORAGE_INTEGER Integer{};
    std::memcpy(&Integer, Record->data(), sizeof(Integer));
    Integer.AcpiDataIntegerType = S.IntegerType;
    Integer.Value = S.Default;
    for (size_t Index = 0; Index < S.VariableName.size(); Index++)
      Integer.VariableName[Index] = S.VariableName[Index];
    Integer.VendorGuid = S.VariableGuid;
    Integer.Attributes = S.VariableAttributes;
    std::memcpy(Record->data(), &Integer, sizeof(Integer));
  }
  PutHeader(Record, S.Target.Signature, Ssdt ? AcpiDataTypeSsdt : AcpiDataTypeDsdt, SubType, NvsType, 0);
  return true;
}

bool RecordWriter::Write(const Statement &S, std::vector<UINT8> *Out) {
  std::vector<UINT8> Record;
  if (!(S.Kind == StatementKind::Table ? TableRecord(S, &Record) : ElementRecord(S, &Record))) return false;
  if (Record.size() > MAX_UINT32) return Fail(S, "record too long");
  Out->insert(Out->end(), Record.begin(), Record.end());
  return true;
}

}  // namespace

const char *KindText(AML_NAMED_OBJECT_KIND Kind) {
  switch (Kind) {
    case AmlNamedObjectName:
      return "a Name";
    case AmlNamedObjectOpRegion:
      return "an OperationRegion";
    case AmlNamedObjectScope:
      return "a Scope";
    case AmlNamedObjectDevice:
      return "a Device";
    case AmlNamedObjectProcessor:
      return "a Processor";
    case AmlNamedObjectPowerResource:
      return "a PowerResource";
    case AmlNamedObjectThermalZone:
      return "a ThermalZone";
    case AmlNamedObjectMethod:
      return "a Method";
  }
  return "an object";
}

std::string WalkProblems(const LoadedTable &Table, const AML_WALK &Walk) {
  if (Walk.SkippedBodies == 0) return std::string();
  char Offset[16];
  std::snprintf(Offset, sizeof(Offset), "0x%x", Walk.FirstSkipOffset);
  return "; " + std::to_string(Walk.SkippedBodies) + " method bodies or If/Else/While blocks of " +
         Table.Path + " could not be followed (the first at offset " + Offset +
         "), and names declared in them are missed";
}

bool FindObject(const LoadedTable &Table, const std::string &Path, AML_NAMED_OBJECT *Found,
                std::string *Why) {
  std::string Where = SignatureText(Table.Signature);
  if (Table.Signature == kSsdt)
    Where += ":" + OemText(Table.OemTableId);
  Where += " (" + Table.Path + ")";
  AML_PATH Target;
  if (!AmlPathFromText(Path.c_str(), &Target)) {
    *Why = Path + " is not an ACPI path (\\NAME.NAME..., segments of 1 to 4 characters A-Z, 0-9, _)";
    return false;
  }
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Table.Bytes.size())));
  AML_WALK Walk;
  EFI_STATUS Status = AmlWalkStart(&Walk, Table.Bytes.data(), Slots.data(), Slots.size());
  while (!EFI_ERROR(Status)) {
    Status = AmlWalkNext(&Walk, Found);
    if (Status == EFI_SUCCESS && AmlPathEqual(&Found->Path, &Target)) return true;
  }
  if (Status == EFI_NOT_FOUND) {
    *Why = Path + " not found in " + Where + WalkProblems(Table, Walk);
  } else {
    char Offset[16];
    std::snprintf(Offset, sizeof(Offset), "0x%x", Walk.ErrorOffset);
    *Why = "cannot search " + Table.Path + " for " + Path + ": its AML does not parse at offset " + Offset;
  }
  return false;
}

namespace {

// Smallest Length a record of this header's kind may have; 0 for a kind the
// driver does not know, with *Why saying so.
UINT32 MinimumRecordLength(UINT32 Signature, UINT32 SubType, UINT32 NvsType, std::string *Why) {
  const bool Ssdt = Signature == kSsdt;
  switch (SubType) {
    case AcpiDataSubTypeFromStorage:
    case AcpiDataSubTypeDoNotStore:
      return Ssdt ? ACPI_META_DATA_MIN_SSDT_RECORD_SIZE : ACPI_META_DATA_MIN_RECORD_SIZE;
    case AcpiDataSubTypeTable:
      return ACPI_META_DATA_TABLE_OFFSET + sizeof(EFI_ACPI_DESCRIPTION_HEADER);
    case AcpiDataSubTypeFromFv:
      return Ssdt ? ACPI_META_DATA_SSDT_FROM_FV_MIN_LENGTH : ACPI_META_DATA_DSDT_FROM_FV_MIN_LENGTH;
    default:
      break;
  }
  for (const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind :
       {&gDsdtNvsDefaultElement, &gDsdtNvsType2Element, &gDsdtIntegerElement, &gSsdtNvsDefaultElement,
        &gSsdtNvsType1Element, &gSsdtNonNvsType2Element}) {
    if (Kind->Signature == Signature && Kind->AcpiDataSubType == SubType &&
        (SubType == AcpiDataSubTypeInteger || Kind->AcpiDataNvsType == NvsType)) {
      return Kind->FixedLength;
    }
  }
  if (SubType >= AcpiDataSubTypeNvs && SubType <= AcpiDataSubTypeInteger) {
    *Why = "element record of sub-type " + std::to_string(SubType) + " and NVS type " +
           std::to_string(NvsType) + " for " + SignatureText(Signature) + " is no kind the driver knows";
  } else {
    *Why = "sub-type " + std::to_string(SubType) + " is none of 1 (stored) to 7 (integer)";
  }
  return 0;
}

}  // namespace

bool CheckMetaDataRecord(const std::vector<UINT8> &Meta, size_t Offset, UINT32 *Length, std::string *Why) {
  ByteReader Reader(Meta.data(), Meta.size());
  UINT32 Signature = 0, SubType = 0, NvsType = 0;
  if (!Reader.Seek(Offset) || Reader.Remaining() < sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)) {
    *Why = std::to_string(Meta.size() - Offset) + " bytes are left, too few for a record header (32)";
    return false;
  }
  const size_t Left = Reader.Remaining();
  Reader.PeekAt32(Offset + OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiCommonHeader.Signature), &Signature);
  Reader.PeekAt32(Offset + OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiCommonHeader.Length), Length);
  Reader.PeekAt32(Offset + OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataSubType), &SubType);
  Reader.PeekAt32(Offset + OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataNvsType), &NvsType);
  const std::string Said = "Length " + std::to_string(*Length);
  if (*Length < sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)) {
    *Why = Said + " is shorter than a record header (32)";
    return false;
  }
  if (*Length > Left) {
    *Why = Said + " runs past the end of the file (" + std::to_string(Left) + " bytes left)";
    return false;
  }
  const UINT32 Minimum = MinimumRecordLength(Signature, SubType, NvsType, Why);
  if (Minimum == 0) return false;
  if (*Length < Minimum) {
    *Why = Said + " is shorter than the " + std::to_string(Minimum) + " bytes of its kind (" +
           SignatureText(Signature) + " sub-type " + std::to_string(SubType) + ")";
    return false;
  }
  UINT32 TableLength = 0;
  if (SubType == AcpiDataSubTypeTable &&
      Reader.PeekAt32(Offset + ACPI_META_DATA_TABLE_OFFSET + 4, &TableLength) &&
      (TableLength < sizeof(EFI_ACPI_DESCRIPTION_HEADER) ||
       TableLength > *Length - ACPI_META_DATA_TABLE_OFFSET)) {
    *Why = "the table it carries has Length " + std::to_string(TableLength) + ", which does not fit the " +
           std::to_string(*Length - ACPI_META_DATA_TABLE_OFFSET) + " bytes behind the record header";
    return false;
  }
  return true;
}

bool LoadTable(const std::string &Path, LoadedTable *Table, std::string *Error) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    *Error = "cannot read " + Path;
    return false;
  }
  Table->Path = Path;
  Table->Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  EFI_ACPI_DESCRIPTION_HEADER Header{};
  if (Table->Bytes.size() < sizeof(Header)) {
    *Error = Path + " is not an ACPI table (shorter than a table header)";
    return false;
  }
  std::memcpy(&Header, Table->Bytes.data(), sizeof(Header));
  if (Header.Length != Table->Bytes.size()) {
    *Error = Path + " is not a whole ACPI table (header Length " + std::to_string(Header.Length) + ", file " +
             std::to_string(Table->Bytes.size()) + " bytes)";
    return false;
  }
  Table->Signature = Header.Signature;
  Table->OemTableId = Header.OemTableId;
  return true;
}

bool BuildMetaDataFromTables(const Description &Desc, const std::vector<LoadedTable> &Tables,
                             const std::string &BaseDir, std::vector<UINT8> *MetaData, std::string *Error) {
  RecordWriter Writer(Tables, BaseDir, Error);
  MetaData->clear();
  for (const Statement &S : Desc.Statements) {
    if (!Writer.Write(S, MetaData)) return false;
  }
  return true;
}

bool BuildMetaData(const Description &Desc, const std::string &BaseDir, std::vector<UINT8> *MetaData,
                   std::string *Error) {
  std::vector<LoadedTable> Tables;
  for (const AmlReference &Aml : Desc.AmlFiles) {
    LoadedTable Table;
    if (!LoadTable(Joined(BaseDir, Aml.Path), &Table, Error)) {
      *Error = "line " + std::to_string(Aml.Line) + ": " + *Error;
      return false;
    }
    Tables.push_back(std::move(Table));
  }
  return BuildMetaDataFromTables(Desc, Tables, BaseDir, MetaData, Error);
}

}  // namespace acpi_meta
