// Turning a parsed description into the bytes of an ACPI meta data item: the
// records laid end to end, each element record's locators found by name in the
// compiled table it belongs to.
#ifndef ZEPHRIN_TOOLS_ACPI_META_META_BUILDER_H_
#define ZEPHRIN_TOOLS_ACPI_META_META_BUILDER_H_

#include <string>
#include <vector>

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "tools/acpi-meta/MetaDescription.h"

namespace acpi_meta {

// A compiled table the description names values in.
struct LoadedTable {
  std::string Path;
  std::vector<UINT8> Bytes;
  UINT32 Signature = 0;
  UINT64 OemTableId = 0;
};

// Reads a compiled table and checks that it is a whole ACPI table.
bool LoadTable(const std::string &Path, LoadedTable *Table, std::string *Error);

// Finds the object declared with the absolute path Path in the table. On failure
// *Why says whether the path is not in the table or the AML could not be walked.
bool FindObject(const LoadedTable &Table, const std::string &Path, AML_NAMED_OBJECT *Found, std::string *Why);

// "a Name", "an OperationRegion", "a Device", ... for messages.
const char *KindText(AML_NAMED_OBJECT_KIND Kind);

// "; N method bodies ... could not be followed ..." when the walk skipped any, else "".
std::string WalkProblems(const LoadedTable &Table, const AML_WALK &Walk);

// Checks the record at Offset of a meta data file against the file and against
// its kind: a whole header, a Length that covers it and stays inside the file, a
// known sub-type, the fixed part of its kind (and, for a record carrying a table,
// the whole table). On success *Length is the record's; else *Why says what is
// wrong with it.
bool CheckMetaDataRecord(const std::vector<UINT8> &Meta, size_t Offset, UINT32 *Length, std::string *Why);

// Builds the records. Relative paths of aml and aml= are taken from BaseDir. On
// failure *Error says which line and what was missing.
bool BuildMetaData(const Description &Desc, const std::string &BaseDir, std::vector<UINT8> *MetaData,
                   std::string *Error);

// The same from tables already in memory (aml lines are then not read).
bool BuildMetaDataFromTables(const Description &Desc, const std::vector<LoadedTable> &Tables,
                             const std::string &BaseDir, std::vector<UINT8> *MetaData, std::string *Error);

}  // namespace acpi_meta

#endif  // ZEPHRIN_TOOLS_ACPI_META_META_BUILDER_H_
