// Records of the ACPI meta data item, built from a description and the compiled
// tables it names values in. Locators come from the driver's own AML name finder,
// so the offsets are those the driver will read.
#include "tools/acpi-meta/MetaBuilder.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlNameFinder.h"
#include "uefi/Acpi.h"

namespace acpi_meta {
namespace {

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');

std::string SignatureText(UINT32 Signature) {
  return std::string(reinterpret_cast<const char *>(&Signature), 4);
}
std::string OemText(UINT64 Id) {
  return std::string(reinterpret_cast<const char *>(&Id), 8);
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
        (!Target.HasOemTableId || Table.OemTableId == Target.OemTableId)) {
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
  EFI_STATUS Status = AmlFindNamedObject(Table.Bytes.data(), Path.c_str(), &Found);
  if (Status == EFI_NOT_FOUND)
    return Fail(S, Path + " not found in " + TargetText(S.Target) + " (" + Table.Path + ")");
  if (EFI_ERROR(Status))
    return Fail(S, "cannot search " + Table.Path + " for " + Path + ": its AML could not be walked");
  const char *Wanted = Kind == AmlNamedObjectOpRegion ? "an OperationRegion" : "a Name";
  if (Found.Kind != Kind) return Fail(S, Path + " is not " + std::string(Wanted));
  if (EFI_ERROR(AmlBuildLocator(Path.c_str(), &Found, Locator))) {
    return Fail(
        S, Path + (Kind == AmlNamedObjectOpRegion ? ": its region offset is not an integer constant"
                                                  : ": its value is not an integer constant with a prefix"));
  }
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
    if (Table->Signature != S.Target.Signature || (Ssdt && Table->OemTableId != S.Target.OemTableId)) {
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
