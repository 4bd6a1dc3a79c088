#include "sim/AcpiDump.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/ByteReader.h"
#include "sim/AcpiTables.h"
#include "uefi/Acpi.h"

namespace sim {

namespace {

constexpr size_t kDescriptionHeaderSize = sizeof(EFI_ACPI_DESCRIPTION_HEADER);
constexpr size_t kFadt63Length = EFI_ACPI_6_3_FADT_LENGTH;
constexpr size_t kFadtLengthOffset = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length);
constexpr size_t kFadtRevisionOffset = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Revision);
constexpr size_t kFadtChecksumOffset = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum);
constexpr size_t kFadtMinorVersionOffset = OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, MinorVersion);
constexpr size_t kRsdpLengthOffset = OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, Length);
constexpr size_t kRsdpXsdtOffset = OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, XsdtAddress);

int HexValue(char Character) {
  if (Character >= '0' && Character <= '9') return Character - '0';
  if (Character >= 'a' && Character <= 'f') return Character - 'a' + 10;
  if (Character >= 'A' && Character <= 'F') return Character - 'A' + 10;
  return -1;
}

bool IsRsdp(const DumpTable &Table) {
  return Table.Signature == "RSD PTR";
}

std::string Describe(const DumpTable &Table) {
  return Table.Signature + " (" + Table.Origin + ")";
}

// "SIG @ 0xADDRESS": the signature and the address, or false for other lines.
bool ParseTableHeader(const std::string &Line, std::string *Signature, UINT64 *Address) {
  size_t At = Line.find(" @ 0x");
  if (At == std::string::npos || At == 0 || Line[0] == ' ') return false;
  UINT64 Value = 0;
  size_t Digits = 0;
  for (size_t Index = At + 5; Index < Line.size() && !isspace(static_cast<unsigned char>(Line[Index]));
       Index++) {
    int Nibble = HexValue(Line[Index]);
    if (Nibble < 0 || ++Digits > 16) return false;
    Value = (Value << 4) | static_cast<UINT64>(Nibble);
  }
  if (Digits == 0) return false;
  *Signature = Line.substr(0, At);
  *Address = Value;
  return true;
}

// "    OFFSET: XX XX ...  ascii": the offset and up to 16 bytes. The ASCII column
// starts after two blanks, so a byte is " XX" followed by a blank or the end.
bool ParseHexLine(const std::string &Line, size_t *Offset, std::vector<UINT8> *Bytes) {
  size_t Index = 0;
  while (Index < Line.size() && Line[Index] == ' ') Index++;
  size_t Value = 0;
  size_t Digits = 0;
  for (; Index < Line.size() && HexValue(Line[Index]) >= 0; Index++, Digits++) {
    if (Digits >= 8) return false;
    Value = (Value << 4) | static_cast<size_t>(HexValue(Line[Index]));
  }
  if (Digits == 0 || Index >= Line.size() || Line[Index] != ':') return false;
  Index++;
  Bytes->clear();
  while (Bytes->size() < 16 && Index + 2 < Line.size() && Line[Index] == ' ' &&
         HexValue(Line[Index + 1]) >= 0 && HexValue(Line[Index + 2]) >= 0 &&
         (Index + 3 == Line.size() || Line[Index + 3] == ' ')) {
    Bytes->push_back(static_cast<UINT8>(HexValue(Line[Index + 1]) * 16 + HexValue(Line[Index + 2])));
    Index += 3;
  }
  *Offset = Value;
  return !Bytes->empty();
}

// The table's own idea of its length: the RSDP keeps it at 20 (revision 2 and
// later; 20 bytes before), every other table at 4.
bool DeclaredLength(const DumpTable &Table, UINT32 *Length) {
  ByteReader Reader(Table.Bytes.data(), Table.Bytes.size());
  if (!IsRsdp(Table)) return Reader.PeekAt32(OFFSET_OF(EFI_ACPI_COMMON_HEADER, Length), Length);
  UINT8 Revision = 0;
  if (!Reader.PeekAt8(OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, Revision), &Revision)) return false;
  if (Revision < 2) {
    *Length = 20;
    return true;
  }
  return Reader.PeekAt32(kRsdpLengthOffset, Length);
}

bool CheckTableBytes(const DumpTable &Table, std::string *Error) {
  UINT32 Length = 0;
  if (!DeclaredLength(Table, &Length)) {
    *Error =
        Describe(Table) + ": only " + std::to_string(Table.Bytes.size()) + " bytes, too few for a header";
    return false;
  }
  if (Length > Table.Bytes.size()) {
    *Error = Describe(Table) + ": truncated, " + std::to_string(Table.Bytes.size()) + " of its " +
             std::to_string(Length) + " bytes";
    return false;
  }
  if (Length < Table.Bytes.size()) {
    *Error = Describe(Table) + ": its Length " + std::to_string(Length) + " disagrees with its " +
             std::to_string(Table.Bytes.size()) + " bytes";
    return false;
  }
  if (!IsRsdp(Table) && Table.Signature.size() == 4 &&
      memcmp(Table.Bytes.data(), Table.Signature.data(), 4) != 0) {
    *Error = Describe(Table) + ": its bytes begin with another signature";
    return false;
  }
  return true;
}

bool FinishTable(DumpTable *Table, std::vector<DumpTable> *Tables, std::string *Error) {
  if (!CheckTableBytes(*Table, Error)) return false;
  Tables->push_back(std::move(*Table));
  return true;
}

// Natural order: the digits in a name compare as numbers (ssdt2 < ssdt10).
bool NaturalLess(const std::string &Left, const std::string &Right) {
  size_t L = 0, R = 0;
  while (L < Left.size() && R < Right.size()) {
    if (isdigit(static_cast<unsigned char>(Left[L])) && isdigit(static_cast<unsigned char>(Right[R]))) {
      size_t LEnd = L, REnd = R;
      while (LEnd < Left.size() && isdigit(static_cast<unsigned char>(Left[LEnd]))) LEnd++;
      while (REnd < Right.size() && isdigit(static_cast<unsigned char>(Right[REnd]))) REnd++;
      std::string LNum = Left.substr(L, LEnd - L), RNum = Right.substr(R, REnd - R);
      LNum.erase(0, std::min(LNum.find_first_not_of('0'), LNum.size()));
      RNum.erase(0, std::min(RNum.find_first_not_of('0'), RNum.size()));
      if (LNum.size() != RNum.size()) return LNum.size() < RNum.size();
      if (LNum != RNum) return LNum < RNum;
      L = LEnd;
      R = REnd;
      continue;
    }
    int A = tolower(static_cast<unsigned char>(Left[L])), B = tolower(static_cast<unsigned char>(Right[R]));
    if (A != B) return A < B;
    L++;
    R++;
  }
  return Left.size() - L < Right.size() - R;
}

// A file of a table folder: "*.dat", or a name that is a signature with an
// optional instance number (sysfs: DSDT, SSDT1, ...).
bool IsTableFileName(const std::string &Name) {
  if (Name.size() > 4 && Name.compare(Name.size() - 4, 4, ".dat") == 0) return true;
  if (Name.size() < 4) return false;
  for (size_t Index = 4; Index < Name.size(); Index++)
    if (!isdigit(static_cast<unsigned char>(Name[Index]))) return false;
  return true;
}

bool IsRootTable(const DumpTable &Table) {
  return IsRsdp(Table) || Table.Signature == "XSDT" || Table.Signature == "RSDT";
}

// The XSDT the dump's RSDP names (or the only XSDT), when its entries name
// tables of the dump by their "@" addresses. Otherwise nullptr.
const DumpTable *FindUsableXsdt(const std::vector<DumpTable> &Dumped) {
  const DumpTable *Xsdt = nullptr;
  UINT64 Named = 0;
  for (const DumpTable &Table : Dumped) {
    ByteReader Reader(Table.Bytes.data(), Table.Bytes.size());
    if (IsRsdp(Table)) Reader.PeekAt64(kRsdpXsdtOffset, &Named);
  }
  for (const DumpTable &Table : Dumped) {
    if (Table.Signature != "XSDT") continue;
    if (Xsdt == nullptr || (Named != 0 && Table.Address == Named)) Xsdt = &Table;
  }
  return Xsdt;
}

// The dump's tables in the order of the XSDT's entries; false when an entry
// names no table or an address is ambiguous.
bool OrderByXsdt(const DumpTable &Xsdt, const std::vector<DumpTable> &Dumped,
                 std::vector<const DumpTable *> *Order) {
  ByteReader Reader(Xsdt.Bytes.data(), Xsdt.Bytes.size());
  if (!Reader.Seek(kDescriptionHeaderSize)) return false;
  UINT64 Address = 0;
  while (Reader.Remaining() >= sizeof(UINT64) && Reader.Read64(&Address)) {
    const DumpTable *Found = nullptr;
    for (const DumpTable &Table : Dumped) {
      if (Table.Address != Address || IsRootTable(Table)) continue;
      if (Found != nullptr) return false;
      Found = &Table;
    }
    if (Found == nullptr || Address == 0) return false;
    Order->push_back(Found);
  }
  return !Order->empty();
}

}  // namespace

bool ParseAcpiDumpText(const std::string &Text, std::vector<DumpTable> *Tables, std::string *Error) {
  Tables->clear();
  std::istringstream In(Text);
  std::string Line;
  size_t LineNumber = 0;
  bool Open = false;
  DumpTable Current;
  std::vector<UINT8> Row;
  while (std::getline(In, Line)) {
    LineNumber++;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    std::string Signature;
    UINT64 Address = 0;
    if (ParseTableHeader(Line, &Signature, &Address)) {
      if (Open && !FinishTable(&Current, Tables, Error)) return false;
      Current = DumpTable{Signature, Address, "line " + std::to_string(LineNumber), {}};
      Open = true;
      continue;
    }
    if (Line.find_first_not_of(" \t") == std::string::npos) continue;
    size_t Offset = 0;
    if (!ParseHexLine(Line, &Offset, &Row)) {
      if (!Open) continue;  // text before the first table (tool banners)
      *Error = Describe(Current) + ": line " + std::to_string(LineNumber) + " is not a hex dump line";
      return false;
    }
    if (!Open) {
      *Error = "line " + std::to_string(LineNumber) + ": hex dump before any \"SIG @ 0xADDRESS\" header";
      return false;
    }
    if (Offset != Current.Bytes.size()) {
      *Error = Describe(Current) + ": line " + std::to_string(LineNumber) + " is at offset " +
               std::to_string(Offset) + " where " + std::to_string(Current.Bytes.size()) + " was due";
      return false;
    }
    Current.Bytes.insert(Current.Bytes.end(), Row.begin(), Row.end());
  }
  if (Open && !FinishTable(&Current, Tables, Error)) return false;
  if (Tables->empty()) {
    *Error = "no \"SIG @ 0xADDRESS\" table in the dump";
    return false;
  }
  return true;
}

bool ReadAcpiDumpFile(const std::string &Path, std::vector<DumpTable> *Tables, std::string *Error) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    *Error = "cannot read " + Path;
    return false;
  }
  std::stringstream Buffer;
  Buffer << In.rdbuf();
  if (!ParseAcpiDumpText(Buffer.str(), Tables, Error)) {
    *Error = Path + ": " + *Error;
    return false;
  }
  return true;
}

bool ReadAcpiTableFolder(const std::string &Dir, std::vector<DumpTable> *Tables, std::string *Error) {
  Tables->clear();
  DIR *Folder = opendir(Dir.c_str());
  if (Folder == nullptr) {
    *Error = "cannot open the folder " + Dir;
    return false;
  }
  std::vector<std::string> Names;
  while (const dirent *Entry = readdir(Folder)) {
    std::string Name = Entry->d_name;
    if (Entry->d_type != DT_DIR && IsTableFileName(Name)) Names.push_back(Name);
  }
  closedir(Folder);
  std::sort(Names.begin(), Names.end(), NaturalLess);
  for (const std::string &Name : Names) {
    DumpTable Table;
    Table.Origin = Name;
    Table.Bytes = ReadBinaryFile(Dir + "/" + Name);
    if (Table.Bytes.size() >= 8 && memcmp(Table.Bytes.data(), "RSD PTR ", 8) == 0) {
      Table.Signature = "RSD PTR";
    } else {
      Table.Signature = std::string(reinterpret_cast<const char *>(Table.Bytes.data()),
                                    std::min<size_t>(4, Table.Bytes.size()));
    }
    if (!CheckTableBytes(Table, Error)) {
      *Error = Dir + ": " + *Error;
      return false;
    }
    Tables->push_back(std::move(Table));
  }
  if (Tables->empty()) {
    *Error = Dir + ": no table files (*.dat, or signature-named files)";
    return false;
  }
  return true;
}

bool ArrangeDumpTables(const std::vector<DumpTable> &Dumped, std::vector<DumpTable> *Arranged,
                       std::vector<std::string> *Notes, std::string *Error) {
  Arranged->clear();
  const DumpTable *Singletons[3] = {nullptr, nullptr, nullptr};
  const char *const kSingletonNames[3] = {"FACP", "FACS", "DSDT"};
  std::vector<const DumpTable *> Others;
  for (const DumpTable &Table : Dumped) {
    if (IsRootTable(Table)) continue;
    if (Table.Signature != "FACS" && Table.Bytes.size() < kDescriptionHeaderSize) {
      *Error =
          Describe(Table) + ": " + std::to_string(Table.Bytes.size()) + " bytes, shorter than a table header";
      return false;
    }
    bool Singleton = false;
    for (int Index = 0; Index < 3; Index++) {
      if (Table.Signature != kSingletonNames[Index]) continue;
      Singleton = true;
      if (Singletons[Index] != nullptr) {
        *Error = "two " + Table.Signature + " tables (" + Singletons[Index]->Origin + " and " + Table.Origin +
                 "): a platform has one";
        return false;
      }
      Singletons[Index] = &Table;
    }
    if (!Singleton) Others.push_back(&Table);
  }
  if (Singletons[0] == nullptr) {
    *Error = "the dump has no FACP (FADT)";
    return false;
  }
  if (Singletons[2] == nullptr) {
    *Error = "the dump has no DSDT";
    return false;
  }
  std::vector<const DumpTable *> Order;
  const DumpTable *Xsdt = FindUsableXsdt(Dumped);
  if (Xsdt != nullptr && OrderByXsdt(*Xsdt, Dumped, &Order)) {
    Notes->push_back("XSDT order: the dump's XSDT (" + Xsdt->Origin + ")");
    Order.erase(std::remove(Order.begin(), Order.end(), Singletons[0]), Order.end());
  } else {
    Notes->push_back(
        "XSDT order: the dump's order (it has no XSDT whose entries name its tables), FADT first");
    Order = Others;
  }
  Arranged->push_back(*Singletons[0]);
  if (Singletons[1] != nullptr) Arranged->push_back(*Singletons[1]);
  Arranged->push_back(*Singletons[2]);
  for (const DumpTable *Table : Order) {
    if (Table->Signature == "FACS" || Table->Signature == "DSDT") continue;
    Arranged->push_back(*Table);
  }
  return true;
}

bool PresentFadtAs63(std::vector<UINT8> *Fadt) {
  if (Fadt->size() == kFadt63Length && (*Fadt)[kFadtRevisionOffset] == 6 &&
      (*Fadt)[kFadtMinorVersionOffset] == 3)
    return false;
  Fadt->resize(kFadt63Length, 0);
  UINT32 Length = kFadt63Length;
  memcpy(Fadt->data() + kFadtLengthOffset, &Length, sizeof(Length));
  (*Fadt)[kFadtRevisionOffset] = 6;
  (*Fadt)[kFadtMinorVersionOffset] = 3;
  (*Fadt)[kFadtChecksumOffset] = AcpiChecksumFor(Fadt->data(), Fadt->size(), kFadtChecksumOffset);
  return true;
}

}  // namespace sim
