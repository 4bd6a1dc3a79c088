// Words for what the inspector found: one summary line for the variable, one line
// per entry (with the element's region or value), and the stored tables written
// out as files that ACPI tools read.
#ifndef ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_ENTRY_FORMAT_H_
#define ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_ENTRY_FORMAT_H_

#include <string>
#include <vector>

#include "tools/acpi-cache-inspect/CacheInspector.h"

namespace inspect {

// "AcpiDataCache: efivarfs form, attributes 0x00000003 (NV+BS), ..." for a loaded
// variable; the form and attributes only when it could not be loaded.
std::string DescribeVariable(const InspectReport &Report);

// One line per entry; a malformed entry gets a second line naming the fault.
std::vector<std::string> DescribeEntry(const CacheEntry &Entry);

// The whole listing: the variable, every entry, and the bytes after the last blob.
std::vector<std::string> FormatListing(const InspectReport &Report);

// Whether the entry holds a complete table (sub-type Table, well formed).
bool HoldsStoredTable(const CacheEntry &Entry);

// "<index>-<signature>.dat", index two digits or more, characters a file name
// cannot take replaced with '_'.
std::string TableFileName(const CacheEntry &Entry);

// Writes each stored table to Directory (created when missing), exactly the
// bytes the entry carries after its header. Written receives one line per file.
// False with a reason in *Error when a file cannot be written.
bool ExtractTables(const InspectReport &Report, const std::string &Directory,
                   std::vector<std::string> *Written, std::string *Error);

}  // namespace inspect

#endif  // ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_ENTRY_FORMAT_H_
