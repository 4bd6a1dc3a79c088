// Checks of a replay: every table a certified-path boot installed must equal the
// table the custom-path boot captured, except the bytes the restore is meant to
// change (the NVS region addresses and lengths and the integer values the meta
// data names, and the checksum the install fixes). Also reads back, from the
// same bytes, where each NVS region moved and which integers were patched.
#ifndef ZEPHRIN_TOOLS_ZEPHRIN_DEMO_REPLAY_CHECK_H_
#define ZEPHRIN_TOOLS_ZEPHRIN_DEMO_REPLAY_CHECK_H_

#include <string>
#include <vector>

#include "tools/sample-platform/MetaRecords.h"

namespace demo {

struct TableImage {
  UINT32 Signature = 0;
  UINT64 OemTableId = 0;  // 0 for the FACS, which has none
  std::vector<UINT8> Bytes;
};
TableImage MakeTableImage(std::vector<UINT8> Bytes);
// "DSDT ALASKA  A M I  25402 bytes"-style label parts.
std::string SignatureText(UINT32 Signature);
std::string OemTableIdText(UINT64 OemTableId);

struct ByteRange {
  UINTN Offset = 0;
  UINTN Length = 0;
};

// What the restore may write into this table: the AML constants of the meta
// data's elements that belong to it, and its checksum (not for the FACS).
std::vector<ByteRange> PatchedRanges(const TableImage &Table, const sample::MetaRecords &Records);

struct TableDifference {
  UINT32 Signature = 0;
  UINT64 OemTableId = 0;
  long long Offset = -1;  // first differing offset; -1 when nothing was captured to compare with
  std::string What;
};

struct VerifyResult {
  size_t Tables = 0;
  size_t Matching = 0;
  std::vector<TableDifference> Differing;
  void Add(const VerifyResult &Other);
};

// Pairs each installed table with the captured table of the same signature,
// OemTableId and occurrence, and compares them outside PatchedRanges.
VerifyResult VerifyReplay(const std::vector<TableImage> &Captured, const std::vector<TableImage> &Installed,
                          const sample::MetaRecords &Records);

// One element's effect as the bytes show it: a region's address (and length)
// before and after, or an integer's value before and after.
struct PatchedValue {
  std::string Table;  // "DSDT", "SSDT:CpuSsdt"
  std::string Path;
  bool IsRegion = false;
  UINT64 Before = 0, After = 0;
  UINT64 LengthBefore = 0, LengthAfter = 0;
};
std::vector<PatchedValue> ReadPatchedValues(const std::vector<TableImage> &Captured,
                                            const std::vector<TableImage> &Installed,
                                            const sample::MetaRecords &Records);

}  // namespace demo

#endif  // ZEPHRIN_TOOLS_ZEPHRIN_DEMO_REPLAY_CHECK_H_
