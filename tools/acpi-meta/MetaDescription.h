// The readable description of an ACPI meta data item that acpi-meta compiles: one
// statement per line, naming the tables to keep and how, and the NVS regions and
// integers inside the DSDT and SSDTs to capture, by their ACPI path. The full
// format is in docs/acpi-meta.md and in the tool's --help.
#ifndef ZEPHRIN_TOOLS_ACPI_META_META_DESCRIPTION_H_
#define ZEPHRIN_TOOLS_ACPI_META_META_DESCRIPTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "uefi/UefiBaseType.h"

namespace acpi_meta {

// Which table a statement is about: a signature, and for an SSDT its OemTableId.
struct TableTarget {
  UINT32 Signature = 0;
  bool HasOemTableId = false;
  UINT64 OemTableId = 0;
};

// Where a Type 2 value lives in its parent region.
struct Type2Field {
  UINT8 Mode = 0;
  UINT8 SizeIndicator = 0;
  UINT64 Offset = 0;
};

enum class StatementKind { Table, Nvs, NvsType1, NvsType2, NonNvsType2, Integer };

struct Statement {
  int Line = 0;
  StatementKind Kind = StatementKind::Table;
  TableTarget Target;
  // table statements
  UINT32 SubType = 0;  // 1 stored, 2 not-stored, 3 table, 4 from-fv
  bool HasFile = false;
  EFI_GUID File{};
  UINT16 Rank = 0;
  std::string TablePath;  // sub-type 3: the compiled table to carry
  // element statements: the object paths ("\\GNVS", "\\_SB.PCI0.NVSR")
  std::string Path;
  std::string LengthPath;  // Type 1: the constant holding the length
  Type2Field Address, Length;
  UINT32 IntegerType = 0;  // 1 stored, 2 not-stored, 3 default, 4 variable
  UINT64 Default = 0;
  std::u16string VariableName;
  EFI_GUID VariableGuid{};
  UINT32 VariableAttributes = 0;
};

struct AmlReference {
  int Line = 0;
  std::string Path;
};

struct Description {
  std::vector<AmlReference> AmlFiles;
  std::vector<Statement> Statements;
};

// Parses the whole text. On failure *Error is "line N: what was wrong".
bool ParseDescription(const std::string &Text, Description *Out, std::string *Error);

// Registry-format GUID ("B8264440-0649-40F3-8ECA-153335BDB46F"), read by the
// host side's one GUID parser (sim::ParseGuidText).
bool ParseGuid(const std::string &Text, EFI_GUID *Guid);
// Decimal or 0x-prefixed number that fits in Max.
bool ParseNumber(const std::string &Text, UINT64 Max, UINT64 *Value);

}  // namespace acpi_meta

#endif  // ZEPHRIN_TOOLS_ACPI_META_META_DESCRIPTION_H_
