// A platform built from a real machine's ACPI dump (acpidump text or a folder of
// binary tables): its tables published in an XSDT, the memory behind the
// SystemMemory regions its meta data names, product data carrying that meta
// data, and firmware volumes holding the tables the meta data reads from a
// volume (the DSDT always: the certified path installs no other DSDT).
//
// Region memory is set up by BackRegions in the process that runs the boots,
// before the first one: every boot is a child of that process and inherits it.
// A region gets pages at the address its AML names when those pages are free in
// this process; when they are not, it gets pages elsewhere below 4 GiB and the
// platform's copy of the table names the new address (the address constant is
// rewritten, as the board's firmware would have placed the region there). Both
// cases are listed in Regions().
#ifndef ZEPHRIN_TOOLS_SAMPLE_PLATFORM_DUMP_PLATFORM_H_
#define ZEPHRIN_TOOLS_SAMPLE_PLATFORM_DUMP_PLATFORM_H_

#include <string>
#include <vector>

#include "sim/AcpiDump.h"
#include "sim/Platform.h"
#include "tools/sample-platform/MetaRecords.h"
#include "tools/sample-platform/SamplePlatform.h"

namespace sample {

// The firmware-volume file that carries the DSDT when no description is given.
extern const EFI_GUID kDumpDsdtFile;

struct RegionBacking {
  std::string Table;      // "DSDT", "SSDT:<OemTableId>"
  std::string Path;       // the region (or its address constant for Type 1)
  UINT64 AmlAddress = 0;  // the address the dump's AML names
  UINT64 Address = 0;     // where the platform put it
  UINT32 Length = 0;
  bool Moved() const { return Address != AmlAddress; }
};

struct DumpTableInfo {
  std::string Name;          // "facp", "ssdt3": acpixtract's file names
  std::string Origin;        // where in the dump it came from
  std::vector<UINT8> Bytes;  // as the platform publishes it
};

class DumpPlatform {
 public:
  // Reads acpidump text or a table folder and arranges the tables.
  bool LoadAcpiDump(const std::string &Path, std::string *Error);
  bool LoadTableFolder(const std::string &Dir, std::string *Error);

  // Compiles the meta data from an acpi-meta description (its objects are
  // looked up in this platform's tables; aml lines are not needed). An empty
  // path takes the default: every table stored, the DSDT from kDumpDsdtFile.
  bool UseDescription(const std::string &Path, std::string *Error);
  static std::string DefaultDescription();

  // Maps the memory of every region the meta data names (see file comment).
  bool BackRegions(std::string *Error);

  // Publishes the platform on a boot. A custom-path boot gets the tables in
  // its XSDT; a certified-path boot gets none (the driver installs them).
  // Both get the HOBs and the volumes.
  bool Install(sim::Platform &Platform, bool CustomPath, std::string *Error) const;

  const std::vector<DumpTableInfo> &Tables() const { return mTables; }
  const std::vector<UINT8> &MetaData() const { return mMetaData; }
  const MetaRecords &Records() const { return mRecords; }
  const std::string &DescriptionText() const { return mDescriptionText; }
  const std::vector<std::string> &Notes() const { return mNotes; }
  const std::vector<RegionBacking> &Regions() const { return mRegions; }
  // The published table with this signature and OemTableId (0: any), or nullptr.
  const DumpTableInfo *Find(UINT32 Signature, UINT64 OemTableId = 0) const;

 private:
  bool Arrange(const std::vector<sim::DumpTable> &Dumped, std::string *Error);
  bool BackRegion(const MetaElement &Element, std::string *Error);
  DumpTableInfo *TableOf(const MetaElement &Element);

  std::vector<DumpTableInfo> mTables;
  std::vector<UINT8> mMetaData;
  MetaRecords mRecords;
  std::string mDescriptionText;
  std::vector<std::string> mNotes;
  std::vector<RegionBacking> mRegions;
};

}  // namespace sample

#endif  // ZEPHRIN_TOOLS_SAMPLE_PLATFORM_DUMP_PLATFORM_H_
