// The records of compiled ACPI meta data as host tools need them: which table
// each table record governs and where it comes from on restore, and for each
// element record the table it lives in and the AML constants it names. Every
// record is checked against the meta data before its fields are read.
#ifndef ZEPHRIN_TOOLS_SAMPLE_PLATFORM_META_RECORDS_H_
#define ZEPHRIN_TOOLS_SAMPLE_PLATFORM_META_RECORDS_H_

#include <string>
#include <vector>

#include "uefi/UefiBaseType.h"

namespace sample {

struct MetaLocator {
  std::string Path;
  UINT32 NameOffset = 0;
  UINT8 Prefix = 0;  // 0x0A, 0x0B, 0x0C, 0x0E
  UINT32 ValueOffset = 0;
};

struct MetaTableRecord {
  UINT32 Signature = 0;
  UINT64 OemTableId = 0;  // SSDT records only
  UINT32 SubType = 0;     // 1 stored, 2 not-stored, 3 table, 4 from-fv
  UINT16 Rank = 0;
  bool HasFile = false;
  EFI_GUID File{};
};

struct MetaElement {
  UINT32 Signature = 0;
  UINT64 OemTableId = 0;  // SSDT elements
  UINT32 SubType = 0;     // 5 NVS, 6 NON-NVS, 7 integer
  UINT32 NvsType = 0;     // 1 default, 2 Type 1, 3 Type 2
  MetaLocator First;      // region, address constant or integer
  MetaLocator Second;     // Type 1: the length constant
  UINT32 IntegerType = 0;
};

struct MetaRecords {
  std::vector<MetaTableRecord> Tables;
  std::vector<MetaElement> Elements;
  // The first table record the driver's lookups would find for a table.
  const MetaTableRecord *ForTable(UINT32 Signature, UINT64 OemTableId) const;
};

bool ReadMetaRecords(const std::vector<UINT8> &MetaData, MetaRecords *Records, std::string *Error);

// The AML integer constant whose data bytes start at ValueOffset, checked
// against the prefix opcode before it. False when it is not there whole.
bool ReadAmlConstant(const std::vector<UINT8> &Table, UINT32 ValueOffset, UINT8 Prefix, UINT64 *Value);

// A DefOpRegion's RegionLen follows its RegionOffset (the region locator's
// constant) directly: where its data bytes are and its prefix opcode.
bool RegionLengthConstant(const std::vector<UINT8> &Table, const MetaLocator &Region, UINT32 *ValueOffset,
                          UINT8 *Prefix);

// "DSDT", "SSDT:AmdTable": how acpi-meta names a table.
std::string MetaTableName(UINT32 Signature, UINT64 OemTableId);

}  // namespace sample

#endif  // ZEPHRIN_TOOLS_SAMPLE_PLATFORM_META_RECORDS_H_
