// Whether a platform's capture fits: the blob stream against the write cache
// (MAX_CACHE_SIZE) and the compressed stream against the room a variable of the
// platform's maximum size leaves for AcpiDataCache's data. When it does not fit,
// the report proposes the fewest tables to leave out of the cache, as acpi-meta
// lines, checked by compressing the stream without them.
#ifndef ZEPHRIN_TOOLS_ZEPHRIN_DEMO_FIT_REPORT_H_
#define ZEPHRIN_TOOLS_ZEPHRIN_DEMO_FIT_REPORT_H_

#include <functional>
#include <string>
#include <vector>

#include "uefi/UefiBaseType.h"

namespace demo {

// One entry of the stream the capture writes (or would write, for tables the
// write cache had no room for), with the table it belongs to.
struct FitEntry {
  std::string Table;           // "HPET", "SSDT:CpuSsdt", "SSDT:CpuSsdt#2" for a second one
  std::string MetaName;        // how acpi-meta names it ("SSDT:CpuSsdt")
  bool Removable = true;       // false for the FADT, FACS and DSDT
  bool Captured = true;        // false: estimated, the capture never wrote it
  std::vector<UINT8> Payload;  // the entry, header included
};

// Bytes a blob takes in the stream: its 16-byte header and its payload.
UINT32 BlobBytes(const FitEntry &Entry);
// The blob stream of these entries, as the capture lays it out.
std::vector<UINT8> BuildStream(const std::vector<FitEntry> &Entries);

using Compressor = std::function<UINT32(const std::vector<UINT8> &Stream)>;

struct FitReport {
  UINT32 StreamBytes = 0;
  UINT32 MaxCacheSize = 0;
  UINT32 CompressedBytes = 0;
  UINT32 VariableRoom = 0;  // data bytes a variable of the maximum size can hold
  UINT32 MaxVariableSize = 0;
  bool StreamComplete = true;  // the capture wrote every entry
  struct Share {
    std::string Table;
    UINT32 Bytes = 0;
  };
  std::vector<Share> Shares;          // per table, its entry and its elements, in stream order
  std::vector<std::string> LeaveOut;  // acpi-meta table names, empty when it fits
  UINT32 StreamAfter = 0, CompressedAfter = 0;
  bool Solvable = true;  // false when even leaving out every removable table does not fit

  bool Fits() const { return StreamBytes <= MaxCacheSize && CompressedBytes <= VariableRoom; }
  std::vector<std::string> Lines() const;
};

// VariableNameBytes: the UCS-2 name with its NUL, as the variable store counts it.
FitReport BuildFitReport(const std::vector<FitEntry> &Entries, UINT32 MaxVariableSize,
                         UINT32 VariableOverhead, const Compressor &Compress);

}  // namespace demo

#endif  // ZEPHRIN_TOOLS_ZEPHRIN_DEMO_FIT_REPORT_H_
