// Formatting of the inspector's findings. Every field read here lies inside a
// payload whose length the inspector has checked against the entry kind's
// fixed part (CheckEntry), so the packed entry structures are copied out whole.
#include "tools/acpi-cache-inspect/EntryFormat.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/VarStoreImage.h"

namespace inspect {

namespace {

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llx", static_cast<unsigned long long>(Value));
  return Text;
}

// Bytes of a signature or id as text; a byte that is not printable ASCII shows
// as '.', so that a corrupt value cannot garble the terminal.
std::string Printable(const void *Bytes, size_t Size) {
  std::string Text;
  const uint8_t *Each = static_cast<const uint8_t *>(Bytes);
  for (size_t Index = 0; Index < Size; Index++) {
    Text += (Each[Index] >= 0x20 && Each[Index] < 0x7F) ? static_cast<char>(Each[Index]) : '.';
  }
  return Text;
}

std::string PathOf(const AML_OBJECT_LOCATOR &Locator) {
  size_t Length = 0;
  while (Length < AML_OBJECT_PATH_NAME_SIZE && Locator.PathName[Length] != '\0') Length++;
  return Length == 0 ? "(no path)" : Printable(Locator.PathName, Length);
}

std::string NameOf(const char *const *Names, size_t Count, uint32_t Value) {
  if (Value < Count && Names[Value] != nullptr) return Names[Value];
  return std::to_string(Value) + " (unknown)";
}

std::string TypeName(uint32_t Value) {
  static const char *const kNames[] = {nullptr, "FADT", "FACS", "DSDT", "DataTable", "SSDT"};
  return NameOf(kNames, sizeof(kNames) / sizeof(kNames[0]), Value);
}

std::string SubTypeName(uint32_t Value) {
  static const char *const kNames[] = {nullptr,  "FromStorage", "DoNotStore", "Table",
                                       "FromFv", "NVS",         "NON-NVS",    "Integer"};
  return NameOf(kNames, sizeof(kNames) / sizeof(kNames[0]), Value);
}

std::string NvsTypeName(uint32_t Value) {
  static const char *const kNames[] = {"None", "Default", "Type1", "Type2"};
  return NameOf(kNames, sizeof(kNames) / sizeof(kNames[0]), Value);
}

std::string GuidText(const EFI_GUID &Guid) {
  return sim::GuidText(Guid, sim::GuidCase::Upper);
}

// UCS-2 name of at most 16 characters; non-ASCII characters show as '?'.
std::string VariableNameOf(const CHAR16 *Name, size_t Capacity) {
  std::string Text;
  for (size_t Index = 0; Index < Capacity && Name[Index] != 0; Index++) {
    Text += (Name[Index] >= 0x20 && Name[Index] < 0x7F) ? static_cast<char>(Name[Index]) : '?';
  }
  return Text;
}

template <typename T>
T CopyOut(const CacheEntry &Entry) {
  T Value;
  std::memcpy(&Value, Entry.Payload.data(), sizeof(T));
  return Value;
}

std::string FieldText(const char *Name, uint8_t Mode, uint8_t SizeIndicator, uint64_t Offset) {
  return std::string(Name) + " field mode " + std::to_string(Mode) + " size " +
         std::to_string(SizeIndicator) + " offset " + Hex(Offset);
}

// What an element carries besides its header: the region it names, or the value.
std::string ElementDetails(const CacheEntry &Entry) {
  const ACPI_DATA_STORAGE_ENTRY_HEADER &Header = Entry.Header;
  if (Header.AcpiDataSubType == AcpiDataSubTypeInteger) {
    const auto Integer = CopyOut<ACPI_DATA_STORAGE_INTEGER>(Entry);
    std::string Text = ", integer " + PathOf(Integer.Common.Locator) + " = " + Hex(Integer.Value) +
                       " (integer type " + std::to_string(Integer.AcpiDataIntegerType) + ")";
    const std::string Variable = VariableNameOf(Integer.VariableName, 16);
    if (!Variable.empty()) {
      Text += ", variable \"" + Variable + "\" " + GuidText(Integer.VendorGuid) + " attributes " +
              Hex(Integer.Attributes);
    }
    return Text;
  }
  std::string Text = ", NVS type " + NvsTypeName(Header.AcpiDataNvsType);
  uint64_t NvsLength = 0;
  if (Header.AcpiDataNvsType == AcpiDataNvsTypeDefault) {
    const auto Nvs = CopyOut<ACPI_DATA_STORAGE_NVS_DEFAULT>(Entry);
    Text += ", region " + PathOf(Nvs.Common.Locator);
    NvsLength = Nvs.NvsLength;
  } else if (Header.AcpiDataNvsType == AcpiDataNvsType1) {
    const auto Nvs = CopyOut<ACPI_DATA_STORAGE_NVS_TYPE_1>(Entry);
    Text += ", address " + PathOf(Nvs.Common.Locator) + ", length " + PathOf(Nvs.LengthLocator);
    NvsLength = Nvs.NvsLength;
  } else {
    const auto Nvs = CopyOut<ACPI_DATA_STORAGE_NVS_TYPE_2>(Entry);
    Text +=
        ", parent region " + PathOf(Nvs.Common.Locator) + ", " +
        FieldText("address", Nvs.AddressField.Mode, Nvs.AddressField.SizeIndicator, Nvs.AddressField.Offset) +
        ", " +
        FieldText("length", Nvs.LengthField.Mode, Nvs.LengthField.SizeIndicator, Nvs.LengthField.Offset);
    NvsLength = Nvs.NvsLength;
  }
  return Text + ", NVS length " + Hex(NvsLength);
}

// The FACS has no OEM table id; other entries carry one at offset 48 when they
// hold a whole description header (tables, SSDT headers and every element).
bool CarriesOemTableId(const CacheEntry &Entry) {
  return Entry.Header.AcpiDataType != AcpiDataTypeFacs &&
         Entry.Payload.size() >= sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) + sizeof(EFI_ACPI_DESCRIPTION_HEADER);
}

}  // namespace

std::string DescribeVariable(const InspectReport &Report) {
  std::string Text = "AcpiDataCache: ";
  if (Report.FormIsEfivarfs || !Report.StoreRecord.empty()) {
    char Attributes[16];
    std::snprintf(Attributes, sizeof(Attributes), "0x%08x", Report.Attributes);
    Text += (Report.FormIsEfivarfs ? std::string("efivarfs form") : Report.StoreRecord) + ", attributes " +
            std::string(Attributes) + " (" + AttributeNames(Report.Attributes) + ")";
  } else {
    Text += "raw form";
  }
  Text += ", " + std::to_string(Report.VariableSize) + " bytes compressed";
  if (!Report.Loaded) return Text;
  return Text + ", " + std::to_string(Report.DecompressedSize) + " bytes decompressed, " +
         std::to_string(Report.Entries.size()) + (Report.Entries.size() == 1 ? " entry" : " entries");
}

std::vector<std::string> DescribeEntry(const CacheEntry &Entry) {
  std::string Line = "entry " + std::to_string(Entry.Index) + " @" + Hex(Entry.StreamOffset) + ": ";
  if (!Entry.HeaderValid) {
    return {Line + "payload of " + std::to_string(Entry.Payload.size()) + " bytes",
            "  malformed: " + Entry.Problem};
  }
  const ACPI_DATA_STORAGE_ENTRY_HEADER &Header = Entry.Header;
  Line += "type " + TypeName(Header.AcpiDataType) + ", sub-type " + SubTypeName(Header.AcpiDataSubType) +
          ", signature " + Printable(&Header.AcpiCommonHeader.Signature, 4);
  if (CarriesOemTableId(Entry)) {
    Line += ", OEM table id \"" +
            Printable(Entry.Payload.data() + OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, TableHeader) +
                          OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId),
                      8) +
            "\"";
  }
  Line += ", length " + std::to_string(Header.AcpiCommonHeader.Length);
  if (!Entry.Problem.empty()) return {Line, "  malformed: " + Entry.Problem};
  if (GetAcpiDataStorageElementFixedLength(&Header) != 0) Line += ElementDetails(Entry);
  return {Line};
}

std::vector<std::string> FormatListing(const InspectReport &Report) {
  std::vector<std::string> Lines = {DescribeVariable(Report)};
  for (const CacheEntry &Entry : Report.Entries) {
    for (std::string &Line : DescribeEntry(Entry)) Lines.push_back(std::move(Line));
  }
  if (Report.TrailingBytes != 0) {
    Lines.push_back(std::to_string(Report.TrailingBytes) +
                    " bytes after the last blob are too few for a blob header; the driver ignores them");
  }
  return Lines;
}

bool HoldsStoredTable(const CacheEntry &Entry) {
  return Entry.HeaderValid && Entry.Problem.empty() && Entry.Header.AcpiDataSubType == AcpiDataSubTypeTable;
}

std::string TableFileName(const CacheEntry &Entry) {
  char Index[16];
  std::snprintf(Index, sizeof(Index), "%02u", Entry.Index);
  std::string Signature = Printable(&Entry.Header.AcpiCommonHeader.Signature, 4);
  for (char &Each : Signature) {
    const bool Plain =
        (Each >= 'A' && Each <= 'Z') || (Each >= 'a' && Each <= 'z') || (Each >= '0' && Each <= '9');
    if (!Plain) Each = '_';
  }
  return std::string(Index) + "-" + Signature + ".dat";
}

bool ExtractTables(const InspectReport &Report, const std::string &Directory,
                   std::vector<std::string> *Written, std::string *Error) {
  std::error_code Failure;
  std::filesystem::create_directories(Directory, Failure);
  if (Failure) {
    *Error = "cannot create " + Directory + ": " + Failure.message();
    return false;
  }
  for (const CacheEntry &Entry : Report.Entries) {
    if (!HoldsStoredTable(Entry)) continue;
    const std::string Path = (std::filesystem::path(Directory) / TableFileName(Entry)).string();
    const size_t Skip = sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Entry.Payload.data() + Skip),
              static_cast<std::streamsize>(Entry.Payload.size() - Skip));
    Out.close();
    if (!Out) {
      *Error = "cannot write " + Path;
      return false;
    }
    Written->push_back("wrote " + Path + " (" + std::to_string(Entry.Payload.size() - Skip) + " bytes)");
  }
  return true;
}

}  // namespace inspect
