// The DSDT and SSDT patchers over an arbitrary table and element on the
// simulated platform. Table and element sit in buffers of exactly their own
// Length (the engine's guarantee for both), so ASan sees any read or write past
// either; no pool buffer may outlive an input, and region pages are released
// after each input so the fuzzer's memory stays flat.
//
// Type 2 elements write into whatever parent region the table's AML names (that
// is their purpose: the parent is platform memory), so they are left out here;
// their bounds are the parent region's and are checked by the Type 2 primitives'
// own tests.
//
// Input: byte 0 = operation (0 DSDT NVS, 1 DSDT integer, 2 SSDT NVS, 3 SSDT
// NON-NVS); bytes 1..2 = table length T (little-endian, cut to what is there,
// at least 8); then T table bytes, then the element (its own record, for the
// integer patch).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/DsdtPatch.h"
#include "acpi_dxe/restore/SsdtPatch.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"

namespace {

constexpr size_t kMinTable = 8;  // the table's Length field must be there

sim::Platform &ThePlatform() {
  static sim::Platform *Platform = [] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    return new sim::Platform(Options);
  }();
  return *Platform;
}

void Check(bool Holds, const char *What) {
  if (Holds) return;
  std::fprintf(stderr, "patch_fuzzer: %s\n", What);
  std::abort();
}

void ReleaseNewPages(sim::Platform &Platform, const std::vector<EFI_PHYSICAL_ADDRESS> &Before) {
  std::vector<std::pair<EFI_PHYSICAL_ADDRESS, UINTN>> New;
  for (const auto &Live : Platform.Pages().Live()) {
    bool Old = false;
    for (EFI_PHYSICAL_ADDRESS Address : Before) Old = Old || Address == Live.first;
    if (!Old) New.emplace_back(Live.first, Live.second.Pages);
  }
  for (const auto &Region : New) Platform.Pages().Free(Region.first, Region.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 3 || Size > 0x10000) return 0;
  sim::Platform &Platform = ThePlatform();
  sim::BindDriverTo(Platform);
  const uint8_t Operation = Data[0] & 3;
  size_t TableLength = Data[1] | (static_cast<size_t>(Data[2]) << 8);
  Data += 3;
  Size -= 3;
  if (TableLength > Size) TableLength = Size;
  if (TableLength < kMinTable) return 0;
  const size_t ElementLength = Size - TableLength;
  if (ElementLength < sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)) return 0;

  std::vector<UINT8> Table(Data, Data + TableLength);
  const UINT32 Length32 = static_cast<UINT32>(TableLength);
  std::memcpy(Table.data() + 4, &Length32, 4);
  std::vector<UINT8> Element(Data + TableLength, Data + Size);
  const UINT32 ElementLength32 = static_cast<UINT32>(ElementLength);
  std::memcpy(Element.data() + 8, &ElementLength32, 4);
  auto *Entry = reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Element.data());
  if (Entry->AcpiDataNvsType == AcpiDataNvsType2) return 0;

  std::vector<EFI_PHYSICAL_ADDRESS> PagesBefore;
  for (const auto &Live : Platform.Pages().Live()) PagesBefore.push_back(Live.first);
  const UINTN PoolBefore = Platform.Pool().OutstandingCount();
  switch (Operation) {
    case 0:
      PatchDsdtNVS(Table.data(), Entry);
      break;
    case 1:
      PatchDsdtInteger(Table.data(), Entry, Entry);
      break;
    case 2:
      PatchSsdtNVS(Table.data(), Entry);
      break;
    default:
      PatchSsdtNonNVS(Table.data(), Entry);
      break;
  }
  Check(Platform.Pool().OutstandingCount() == PoolBefore, "pool buffer left behind");
  Check(Platform.Faults().empty(), "platform fault");
  ReleaseNewPages(Platform, PagesBefore);
  return 0;
}
