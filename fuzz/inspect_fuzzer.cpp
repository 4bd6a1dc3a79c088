// The cache inspector's whole road over arbitrary bytes: form detection, the
// driver's FillCache (attribute and size checks, size query, decoder), the blob
// reader, the entry checks and the listing. The first byte chooses the options
// (bits 0-1: auto, raw, efivarfs, auto; bit 2: any attributes); the rest is the
// file. A pool buffer left outstanding is a failure; the sanitizers judge the rest.
#include <cstddef>
#include <cstdint>

#include "acpi_dxe/blob/BlobStream.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // Past the cache's size plus a prefix the driver refuses on size alone.
  if (Size == 0 || Size > MAX_CACHE_SIZE + 1 + inspect::kEfivarfsPrefixSize + 1) return 0;
  static const inspect::InputForm kForms[] = {inspect::InputForm::Auto, inspect::InputForm::Raw,
                                              inspect::InputForm::Efivarfs, inspect::InputForm::Auto};
  inspect::InspectOptions Options;
  Options.Form = kForms[Data[0] & 3];
  Options.AnyAttributes = (Data[0] & 4) != 0;
  const inspect::InspectReport Report = inspect::InspectCache(Data + 1, Size - 1, Options);
  if (!Report.PoolLeak.empty()) __builtin_trap();
  inspect::FormatListing(Report);
  return 0;
}
