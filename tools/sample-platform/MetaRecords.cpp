#include "tools/sample-platform/MetaRecords.h"

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "common/ByteReader.h"

namespace sample {

namespace {

constexpr UINTN kHeaderSize = ACPI_META_DATA_MIN_RECORD_SIZE;
constexpr UINTN kSsdtTableRecordSize = ACPI_META_DATA_MIN_SSDT_RECORD_SIZE;
constexpr UINTN kElementMinimum = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINTN kType1Minimum = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1);
constexpr UINTN kIntegerMinimum = sizeof(ACPI_DATA_STORAGE_INTEGER);
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');
constexpr UINTN kOemTableIdAt =
    OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, TableHeader) + OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId);
constexpr UINTN kLocatorAt = OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, Locator);
constexpr UINTN kLengthLocatorAt = OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_1, LengthLocator);
constexpr UINTN kIntegerTypeAt = OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, AcpiDataIntegerType);

bool ReadLocator(const ByteReader &Record, UINTN At, MetaLocator *Locator) {
  char Path[67] = {};
  ByteReader Reader = Record;
  if (!Reader.Seek(At) || !Reader.ReadBytes(Path, 66)) return false;
  Locator->Path = Path;
  return Reader.Read32(&Locator->NameOffset) && Reader.Read8(&Locator->Prefix) &&
         Reader.Read32(&Locator->ValueOffset);
}

bool ReadElement(const ByteReader &Record, UINT32 Signature, UINT32 SubType, UINT32 NvsType,
                 MetaElement *Element) {
  const bool Type1 = SubType == AcpiDataSubTypeNvs && NvsType == AcpiDataNvsType1;
  UINTN Minimum =
      SubType == AcpiDataSubTypeInteger ? kIntegerMinimum : (Type1 ? kType1Minimum : kElementMinimum);
  if (Record.Size() < Minimum) return false;
  Element->Signature = Signature;
  Element->SubType = SubType;
  Element->NvsType = NvsType;
  if (!Record.PeekAt64(kOemTableIdAt, &Element->OemTableId) ||
      !ReadLocator(Record, kLocatorAt, &Element->First))
    return false;
  if (Type1 && !ReadLocator(Record, kLengthLocatorAt, &Element->Second)) return false;
  if (SubType == AcpiDataSubTypeInteger && !Record.PeekAt32(kIntegerTypeAt, &Element->IntegerType))
    return false;
  return true;
}

}  // namespace

bool ReadAmlConstant(const std::vector<UINT8> &Table, UINT32 ValueOffset, UINT8 Prefix, UINT64 *Value) {
  UINTN Width = AmlIntegerPrefixWidth(Prefix);
  ByteReader Reader(Table.data(), Table.size());
  UINT8 Opcode = 0;
  if (Width == 0 || ValueOffset == 0 || !Reader.PeekAt8(ValueOffset - 1, &Opcode) || Opcode != Prefix)
    return false;
  *Value = 0;
  for (UINTN Index = 0; Index < Width; Index++) {
    UINT8 Byte = 0;
    if (!Reader.PeekAt8(ValueOffset + Index, &Byte)) return false;
    *Value |= static_cast<UINT64>(Byte) << (8 * Index);
  }
  return true;
}

bool RegionLengthConstant(const std::vector<UINT8> &Table, const MetaLocator &Region, UINT32 *ValueOffset,
                          UINT8 *Prefix) {
  UINTN Width = AmlIntegerPrefixWidth(Region.Prefix);
  UINT64 At = static_cast<UINT64>(Region.ValueOffset) + Width;
  if (Width == 0 || At + 1 >= Table.size() || !ByteReader(Table.data(), Table.size()).PeekAt8(At, Prefix))
    return false;
  *ValueOffset = static_cast<UINT32>(At + 1);
  return AmlIntegerPrefixWidth(*Prefix) != 0;
}

std::string MetaTableName(UINT32 Signature, UINT64 OemTableId) {
  std::string Name(reinterpret_cast<const char *>(&Signature), 4);
  if (Signature != kSsdt) return Name;
  std::string Id(reinterpret_cast<const char *>(&OemTableId), 8);
  while (!Id.empty() && (Id.back() == ' ' || Id.back() == '\0')) Id.pop_back();
  return Name + ":" + Id;
}

const MetaTableRecord *MetaRecords::ForTable(UINT32 Signature, UINT64 OemTableId) const {
  for (const MetaTableRecord &Record : Tables) {
    if (Record.Signature == Signature && (Signature != kSsdt || Record.OemTableId == OemTableId))
      return &Record;
  }
  return nullptr;
}

bool ReadMetaRecords(const std::vector<UINT8> &MetaData, MetaRecords *Records, std::string *Error) {
  *Records = MetaRecords();
  ByteReader Reader(MetaData.data(), MetaData.size());
  while (Reader.Remaining() > 0) {
    UINTN At = Reader.Position();
    UINT32 Signature = 0, Length = 0, SubType = 0, NvsType = 0;
    UINT16 Rank = 0;
    if (!Reader.PeekAt32(At + 4, &Signature) || !Reader.PeekAt32(At + 8, &Length) ||
        !Reader.PeekAt32(At + 16, &SubType) || !Reader.PeekAt32(At + 20, &NvsType) ||
        !Reader.PeekAt16(At + 24, &Rank) || Length < kHeaderSize) {
      *Error = "meta data record at offset " + std::to_string(At) + " is cut short or has a Length below 32";
      return false;
    }
    ByteReader Record;
    if (!Reader.Take(Length, &Record)) {
      *Error = "meta data record at offset " + std::to_string(At) + " runs past the end";
      return false;
    }
    if (SubType >= AcpiDataSubTypeNvs && SubType <= AcpiDataSubTypeInteger) {
      MetaElement Element;
      if (!ReadElement(Record, Signature, SubType, NvsType, &Element)) {
        *Error = "meta data element record at offset " + std::to_string(At) + " is too short for its kind";
        return false;
      }
      Records->Elements.push_back(Element);
      continue;
    }
    MetaTableRecord Table;
    Table.Signature = Signature;
    Table.SubType = SubType;
    Table.Rank = Rank;
    if (Signature == kSsdt && Length >= kSsdtTableRecordSize)
      Record.PeekAt64(kOemTableIdAt, &Table.OemTableId);
    UINTN FileAt = Signature == kSsdt ? kSsdtTableRecordSize : kHeaderSize;
    if (SubType == AcpiDataSubTypeFromFv) {
      ByteReader File = Record;
      Table.HasFile = File.Seek(FileAt) && File.ReadBytes(&Table.File, sizeof(Table.File));
    }
    Records->Tables.push_back(Table);
  }
  return true;
}

}  // namespace sample
