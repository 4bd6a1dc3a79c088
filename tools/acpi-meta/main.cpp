// acpi-meta: builds the ACPI meta data item, the product-data container that
// carries it and a firmware volume holding that container, from a short text
// description; and lists the records of a meta data item.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "product_data/ProductDataFv.h"
#include "sim/FvImage.h"
#include "sim/ProductDataImage.h"
#include "tools/acpi-meta/MetaBuilder.h"

namespace {

const char kHelp[] = R"(usage: acpi-meta build <description> [options]
       acpi-meta dump <meta-data-file>
       acpi-meta names <table-file>

build compiles a description into the ACPI meta data item (ItemId 7).
  --meta <file>        write the meta data (the item's data) to <file>
  --container <file>   write a product-data container holding the item
  --data-id <n>        DataId of the item (default 1); list it in the
                       Product Data Info HOB to select it
  --info <file>        write the Product Data Info HOB data selecting it
  --fv <file>          write a firmware volume with one freeform file whose
                       RAW section is the container
  --fv-name <name>     primary (default), secondary, or a GUID
  --file <guid>        name of that file (default 3C2A8D1E-6B4F-4E15-9A0D-5E7B1C2F3A41)
dump lists the records of a meta data file.
names lists the objects a compiled DSDT or SSDT declares (Scope, Device,
  Processor, PowerResource, ThermalZone, Method, Name, OperationRegion): the
  table offset of each one's last NameSeg, its kind and its path, and for Names
  and OperationRegions the constants a meta data record can point at.

The description holds one statement per line; '#' starts a comment.
  aml <file>                          load a compiled DSDT or SSDT; element
                                      statements find their names in it
  table <T> stored                    keep T, install it from the stored copy
  table <T> not-stored                do not keep T
  table <T> table [aml=<file>]        install T from the copy in the meta data
  table <T> from-fv file=<guid>       install T from a firmware-volume file
        (any table statement: rank=entry|end-of-dxe|ready-to-boot|
         exit-boot-services|<number>)
  nvs <T> <region>                    capture an OperationRegion's contents
  nvs-type1 <T> <address> <length>    region given by two Name constants
  nvs-type2 <T> <parent-region> address=<mode>,<size>,<offset>
                                length=<mode>,<size>,<offset>
  non-nvs-type2 <T> <parent-region> address=... length=...
  integer <T> <name> stored|not-stored|default|variable [default=<n>]
        [name=<variable> guid=<guid> attributes=<n>]   (variable only)
<T> is a signature (DSDT, FACP, HPET ...) or SSDT:<OemTableId>; objects are
absolute ACPI paths such as \GNVS or \_SB.PCI0.PLID. A name that the loaded
table does not hold is an error naming the line and the table.
See docs/acpi-meta.md.
)";

bool ReadFile(const std::string &Path, std::vector<UINT8> *Bytes) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Bytes->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string &Path, const std::vector<UINT8> &Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(reinterpret_cast<const char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  return static_cast<bool>(Out);
}

std::string Hex(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "%llx", static_cast<unsigned long long>(Value));
  return Text;
}

int Fail(const std::string &Message) {
  std::cerr << "acpi-meta: " << Message << "\n";
  return 1;
}

std::string DirectoryOf(const std::string &Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? std::string() : Path.substr(0, Slash);
}

int Build(const std::string &DescriptionPath, const std::map<std::string, std::string> &Options) {
  std::vector<UINT8> Text;
  if (!ReadFile(DescriptionPath, &Text)) return Fail("cannot read " + DescriptionPath);
  acpi_meta::Description Desc;
  std::string Error;
  if (!acpi_meta::ParseDescription(std::string(Text.begin(), Text.end()), &Desc, &Error)) {
    return Fail(DescriptionPath + ": " + Error);
  }
  std::vector<UINT8> Meta;
  if (!acpi_meta::BuildMetaData(Desc, DirectoryOf(DescriptionPath), &Meta, &Error)) {
    return Fail(DescriptionPath + ": " + Error);
  }
  UINT64 DataId = 1;
  if (Options.count("--data-id") && !acpi_meta::ParseNumber(Options.at("--data-id"), MAX_UINT32, &DataId)) {
    return Fail("--data-id needs a 32-bit number");
  }
  std::vector<UINT8> Container =
      sim::BuildProductDataContainer({{ACPI_META_DATA_ITEM_ID, static_cast<UINT32>(DataId), Meta}});
  EFI_GUID FvName = gProductDataPrimaryFvGuid;
  EFI_GUID File = {0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};
  if (Options.count("--fv-name") && Options.at("--fv-name") == "secondary") {
    FvName = gProductDataSecondaryFvGuid;
  } else if (Options.count("--fv-name") && Options.at("--fv-name") != "primary" &&
             !acpi_meta::ParseGuid(Options.at("--fv-name"), &FvName)) {
    return Fail("--fv-name needs primary, secondary or a GUID");
  }
  if (Options.count("--file") && !acpi_meta::ParseGuid(Options.at("--file"), &File)) {
    return Fail("--file needs a GUID");
  }
  const std::vector<std::pair<std::string, std::vector<UINT8>>> Outputs = {
      {"--meta", Meta},
      {"--container", Container},
      {"--info", sim::BuildProductDataInfo({static_cast<UINT32>(DataId)})},
      {"--fv", sim::FvImageBuilder().SetFvName(FvName).AddRawFile(File, Container).Build()}};
  for (const auto &Output : Outputs) {
    if (Options.count(Output.first) && !WriteFile(Options.at(Output.first), Output.second)) {
      return Fail("cannot write " + Options.at(Output.first));
    }
  }
  std::printf("%zu bytes of meta data in %zu records\n", Meta.size(), Desc.Statements.size());
  return 0;
}

const char *SubTypeName(UINT32 SubType) {
  static const char *const kNames[] = {"?",       "stored", "not-stored", "table",
                                       "from-fv", "nvs",    "non-nvs",    "integer"};
  return SubType < 8 ? kNames[SubType] : "?";
}

// Lists the records with the driver's own record walk, so the listing shows
// exactly the records the driver will see. Every record is first checked against
// the file: a file that is not meta data stops at its first bad record, with the
// record's offset, and the command fails.
int Dump(const std::string &Path) {
  std::vector<UINT8> Meta;
  if (!ReadFile(Path, &Meta)) return Fail("cannot read " + Path);
  if (Meta.empty()) return Fail(Path + ": the file is empty: no records");
  mAcpiMetaDataPtr = Meta.data();
  mAcpiMetaDataLength = Meta.size();
  ACPI_META_DATA_CURSOR Cursor = {};
  AcpiMetaDataFirstRecord(&Cursor);
  size_t Count = 0;
  std::string Bad;
  while (Cursor.Offset < Meta.size()) {
    UINT32 Length = 0;
    std::string Why;
    if (!acpi_meta::CheckMetaDataRecord(Meta, Cursor.Offset, &Length, &Why)) {
      Bad = Path + ": record at offset 0x" + Hex(Cursor.Offset) + ": " + Why;
      break;
    }
    const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, Length);
    UINT32 Signature = Record->AcpiCommonHeader.Signature;
    std::printf("0x%06llx %.4s %-10s nvs-type %u rank 0x%04x length %u",
                static_cast<unsigned long long>(Cursor.Offset), reinterpret_cast<const char *>(&Signature),
                SubTypeName(Record->AcpiDataSubType), Record->AcpiDataNvsType, AcpiMetaDataRank(Record),
                Length);
    if (Record->AcpiDataSubType >= AcpiDataSubTypeNvs) {
      const ACPI_DATA_STORAGE_ELEMENT *Element = reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Record);
      std::printf(" %.8s %.65s", reinterpret_cast<const char *>(&Element->TableHeader.OemTableId),
                  Element->Locator.PathName);
    }
    std::printf("\n");
    Count++;
    AcpiMetaDataNextRecord("acpi-meta", &Cursor);
  }
  std::printf("%zu records\n", Count);
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
  return Bad.empty() ? 0 : Fail(Bad);
}

std::string ConstantText(const std::vector<UINT8> &Table, UINT32 TermOffset, UINT8 Prefix) {
  const UINT8 Width = AmlIntegerPrefixWidth(Prefix);
  UINT64 Value = 0;
  if (Width == 0 || !AmlReadTableInteger(Table.data(), TermOffset + 1, Width, &Value)) return "-";
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%llx", static_cast<unsigned long long>(Value));
  return Text;
}

// Lists every object the name finder's walk reports, in table order.
int Names(const std::string &Path) {
  acpi_meta::LoadedTable Table;
  std::string Error;
  if (!acpi_meta::LoadTable(Path, &Table, &Error)) return Fail(Error);
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Table.Bytes.size())));
  AML_WALK Walk;
  AML_NAMED_OBJECT Object;
  EFI_STATUS Status = AmlWalkStart(&Walk, Table.Bytes.data(), Slots.data(), Slots.size());
  size_t Count = 0;
  while (!EFI_ERROR(Status) && !EFI_ERROR(Status = AmlWalkNext(&Walk, &Object))) {
    CHAR8 Text[AML_WALK_MAX_PATH_DEPTH * 5 + 2];
    AmlPathToText(&Object.Path, Text, sizeof(Text));
    std::printf("0x%06x %-18s %s", Object.NameOffset, acpi_meta::KindText(Object.Kind), Text);
    if (Object.Kind == AmlNamedObjectName) {
      std::printf(" value %s", ConstantText(Table.Bytes, Object.TermOffset, Object.PrefixByte).c_str());
    } else if (Object.Kind == AmlNamedObjectOpRegion) {
      std::printf(" space %u address %s length %s", Object.RegionSpace,
                  ConstantText(Table.Bytes, Object.TermOffset, Object.PrefixByte).c_str(),
                  ConstantText(Table.Bytes, Object.LengthTermOffset, Object.LengthPrefixByte).c_str());
    }
    std::printf("\n");
    Count++;
  }
  if (Status != EFI_NOT_FOUND) {
    return Fail(Path + ": the AML does not parse at offset 0x" + Hex(Walk.ErrorOffset) + " (" +
                std::to_string(Count) + " objects listed before it)");
  }
  std::printf("%zu objects\n", Count);
  const std::string Problems = acpi_meta::WalkProblems(Table, Walk);
  if (!Problems.empty()) std::fprintf(stderr, "acpi-meta: warning%s\n", Problems.c_str());
  return 0;
}

}  // namespace

int main(int Argc, char **Argv) {
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  if (Args.empty() || Args[0] == "--help" || Args[0] == "-h") {
    std::fputs(kHelp, Args.empty() ? stderr : stdout);
    return Args.empty() ? 2 : 0;
  }
  if (Args[0] == "dump" && Args.size() == 2) return Dump(Args[1]);
  if (Args[0] == "names" && Args.size() == 2) return Names(Args[1]);
  if (Args[0] != "build" || Args.size() < 2) return Fail("unknown command; see acpi-meta --help");
  std::map<std::string, std::string> Options;
  for (size_t Index = 2; Index < Args.size(); Index += 2) {
    if (Args[Index].rfind("--", 0) != 0 || Index + 1 >= Args.size()) {
      return Fail("option " + Args[Index] + " needs a value; see acpi-meta --help");
    }
    Options[Args[Index]] = Args[Index + 1];
  }
  return Build(Args[1], Options);
}
