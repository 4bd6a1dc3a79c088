#include "tools/sample-platform/DumpPlatform.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "common/ByteReader.h"
#include "sim/AcpiDump.h"
#include "sim/AcpiRegions.h"
#include "sim/AcpiTables.h"
#include "sim/FirmwareVolumes.h"
#include "sim/VarStoreImage.h"
#include "tools/acpi-meta/MetaBuilder.h"

namespace sample {

const EFI_GUID kDumpDsdtFile = {0x3D0A55E1, 0x92C4, 0x4B7E, {0xA1, 0x6F, 0x0C, 0x58, 0xE2, 0x47, 0x9B, 0x13}};

namespace {

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');
constexpr UINTN kOemTableIdOffset = 16;
// The volume the platform keeps its ACPI table files in.
const EFI_GUID kTableVolume = {0x5A17C0DE, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}};

UINT32 SignatureOf(const std::vector<UINT8> &Table) {
  UINT32 Signature = 0;
  ByteReader(Table.data(), Table.size()).PeekAt32(0, &Signature);
  return Signature;
}

UINT64 OemTableIdOf(const std::vector<UINT8> &Table) {
  UINT64 Id = 0;
  ByteReader(Table.data(), Table.size()).PeekAt64(kOemTableIdOffset, &Id);
  return Id;
}

std::string GuidText(const EFI_GUID &Guid) {
  return sim::GuidText(Guid, sim::GuidCase::Upper);
}

void WriteConstant(std::vector<UINT8> *Table, UINT32 ValueOffset, UINT8 Prefix, UINT64 Value) {
  for (UINTN Index = 0; Index < AmlIntegerPrefixWidth(Prefix); Index++)
    (*Table)[ValueOffset + Index] = static_cast<UINT8>(Value >> (8 * Index));
}

bool ReadRegionLength(const std::vector<UINT8> &Table, const MetaLocator &Region, UINT64 *Length) {
  UINT32 At = 0;
  UINT8 Prefix = 0;
  return RegionLengthConstant(Table, Region, &At, &Prefix) && ReadAmlConstant(Table, At, Prefix, Length);
}

std::string TableFileStem(const std::string &Signature, int Instance) {
  std::string Stem;
  for (char Character : Signature) Stem += static_cast<char>(tolower(static_cast<unsigned char>(Character)));
  return Instance > 0 ? Stem + std::to_string(Instance) : Stem;
}

}  // namespace

std::string DumpPlatform::DefaultDescription() {
  return "# Every table stored; the DSDT, which the certified path reads from a\n"
         "# firmware volume only, in the platform's table volume.\n"
         "table DSDT from-fv file=" +
         GuidText(kDumpDsdtFile) + "\n";
}

bool DumpPlatform::LoadAcpiDump(const std::string &Path, std::string *Error) {
  std::vector<sim::DumpTable> Dumped;
  return sim::ReadAcpiDumpFile(Path, &Dumped, Error) && Arrange(Dumped, Error);
}

bool DumpPlatform::LoadTableFolder(const std::string &Dir, std::string *Error) {
  std::vector<sim::DumpTable> Dumped;
  return sim::ReadAcpiTableFolder(Dir, &Dumped, Error) && Arrange(Dumped, Error);
}

bool DumpPlatform::Arrange(const std::vector<sim::DumpTable> &Dumped, std::string *Error) {
  std::vector<sim::DumpTable> Arranged;
  mNotes.clear();
  if (!sim::ArrangeDumpTables(Dumped, &Arranged, &mNotes, Error)) return false;
  mTables.clear();
  int SsdtCount = 0;
  for (sim::DumpTable &Table : Arranged) {
    int Instance = 0;
    if (Table.Signature == "SSDT") Instance = ++SsdtCount;
    mTables.push_back({TableFileStem(Table.Signature, Instance), Table.Origin, std::move(Table.Bytes)});
  }
  std::vector<UINT8> &Fadt = mTables.front().Bytes;
  UINT8 Revision = Fadt[8];
  UINT8 Minor = Fadt.size() > 131 ? Fadt[131] : 0;
  size_t Length = Fadt.size();
  if (sim::PresentFadtAs63(&Fadt)) {
    mNotes.push_back(
        "FADT revision " + std::to_string(Revision) + "." + std::to_string(Minor) + " (" +
        std::to_string(Length) +
        " bytes) presented as ACPI 6.3 (276 bytes, fields kept): the driver captures only a 6.3 FADT");
  }
  return true;
}

bool DumpPlatform::UseDescription(const std::string &Path, std::string *Error) {
  std::string Text = DefaultDescription();
  if (!Path.empty()) {
    std::ifstream In(Path, std::ios::binary);
    if (!In) {
      *Error = "cannot read " + Path;
      return false;
    }
    std::stringstream Buffer;
    Buffer << In.rdbuf();
    Text = Buffer.str();
  }
  const std::string Name = Path.empty() ? "the default description" : Path;
  acpi_meta::Description Desc;
  if (!acpi_meta::ParseDescription(Text, &Desc, Error)) {
    *Error = Name + ": " + *Error;
    return false;
  }
  // Objects are looked up in this platform's tables, not in aml files.
  std::vector<acpi_meta::LoadedTable> Loaded;
  for (const DumpTableInfo &Table : mTables) {
    UINT32 Signature = SignatureOf(Table.Bytes);
    if (Signature == SIGNATURE_32('F', 'A', 'C', 'S')) continue;
    Loaded.push_back({Table.Name, Table.Bytes, Signature, OemTableIdOf(Table.Bytes)});
  }
  Desc.AmlFiles.clear();
  std::string BaseDir =
      Path.empty() ? "."
                   : Path.substr(0, Path.find_last_of('/') == std::string::npos ? 0 : Path.find_last_of('/'));
  if (!acpi_meta::BuildMetaDataFromTables(Desc, Loaded, BaseDir.empty() ? "." : BaseDir, &mMetaData, Error)) {
    *Error = Name + ": " + *Error;
    return false;
  }
  if (!ReadMetaRecords(mMetaData, &mRecords, Error)) return false;
  const MetaTableRecord *Dsdt = mRecords.ForTable(kDsdt, 0);
  if (Dsdt == nullptr || Dsdt->SubType != AcpiDataSubTypeFromFv) {
    mNotes.push_back(
        "the description gives the DSDT no from-fv record: certified-path boots install no DSDT");
  }
  mDescriptionText = Text;
  return true;
}

DumpTableInfo *DumpPlatform::TableOf(const MetaElement &Element) {
  for (DumpTableInfo &Table : mTables) {
    if (SignatureOf(Table.Bytes) != Element.Signature) continue;
    if (Element.Signature == kSsdt && OemTableIdOf(Table.Bytes) != Element.OemTableId) continue;
    return &Table;
  }
  return nullptr;
}

bool DumpPlatform::BackRegion(const MetaElement &Element, std::string *Error) {
  const std::string TableName = MetaTableName(Element.Signature, Element.OemTableId);
  DumpTableInfo *Table = TableOf(Element);
  if (Table == nullptr) {
    *Error = TableName + " " + Element.First.Path + ": the platform has no such table";
    return false;
  }
  if (Element.NvsType == 3) {
    *Error =
        TableName + " " + Element.First.Path +
        ": Type 2 regions (address and length in a parent region's fields) are not backed on a dump platform";
    return false;
  }
  UINT64 Address = 0, Length = 0;
  bool Read = ReadAmlConstant(Table->Bytes, Element.First.ValueOffset, Element.First.Prefix, &Address);
  if (Element.NvsType == 2) {
    Read = Read && ReadAmlConstant(Table->Bytes, Element.Second.ValueOffset, Element.Second.Prefix, &Length);
  } else {
    Read = Read && ReadRegionLength(Table->Bytes, Element.First, &Length);
  }
  if (!Read) {
    *Error = TableName + " " + Element.First.Path + ": its address or length is not an integer constant";
    return false;
  }
  if (Length == 0 || Length > 0x1000000) {
    *Error = TableName + " " + Element.First.Path + ": region length " + sim::HexTextUpper(Length) +
             " cannot be backed";
    return false;
  }
  RegionBacking Backing{TableName, Element.First.Path, Address, Address, static_cast<UINT32>(Length)};
  if (!sim::MapRegionAt(Address, Length)) {
    UINT64 Moved = sim::MapRegionElsewhere(Address, Length);
    UINTN Width = AmlIntegerPrefixWidth(Element.First.Prefix);
    if (Moved == 0 || (Width < 8 && (Moved >> (8 * Width)) != 0)) {
      *Error = TableName + " " + Element.First.Path + ": " + sim::HexTextUpper(Address) +
               " is taken in this process and no memory the constant can name is free";
      return false;
    }
    WriteConstant(&Table->Bytes, Element.First.ValueOffset, Element.First.Prefix, Moved);
    Table->Bytes[9] = sim::AcpiChecksumFor(Table->Bytes.data(), Table->Bytes.size(), 9);
    Backing.Address = Moved;
  }
  sim::FillRegionPattern(Backing.Address, Length);
  mRegions.push_back(Backing);
  return true;
}

bool DumpPlatform::BackRegions(std::string *Error) {
  mRegions.clear();
  for (const MetaElement &Element : mRecords.Elements) {
    if (Element.SubType == AcpiDataSubTypeInteger) continue;
    if (!BackRegion(Element, Error)) return false;
  }
  return true;
}

const DumpTableInfo *DumpPlatform::Find(UINT32 Signature, UINT64 OemTableId) const {
  for (const DumpTableInfo &Table : mTables) {
    if (SignatureOf(Table.Bytes) == Signature && (OemTableId == 0 || OemTableIdOf(Table.Bytes) == OemTableId))
      return &Table;
  }
  return nullptr;
}

bool DumpPlatform::Install(sim::Platform &Platform, bool CustomPath, std::string *Error) const {
  PublishMetaData(Platform, mMetaData, CustomPath);
  // Each from-fv record's file holds its table as a raw section.
  std::vector<sim::FvFile> Files;
  for (const MetaTableRecord &Record : mRecords.Tables) {
    if (Record.SubType != AcpiDataSubTypeFromFv || !Record.HasFile) continue;
    const DumpTableInfo *Table = Find(Record.Signature, Record.Signature == kSsdt ? Record.OemTableId : 0);
    if (Table == nullptr) continue;
    Files.push_back(sim::RawFile(Record.File, EFI_FV_FILETYPE_FREEFORM, {Table->Bytes}));
  }
  if (!Files.empty() && Platform.Volumes().Add(kTableVolume, std::move(Files)) == nullptr) {
    *Error = "the platform could not create its table volume";
    return false;
  }
  if (!CustomPath) return true;
  std::vector<std::vector<UINT8>> Tables;
  for (const DumpTableInfo &Table : mTables) Tables.push_back(Table.Bytes);
  return PublishAcpiTables(Platform, Tables, Error);
}

}  // namespace sample
