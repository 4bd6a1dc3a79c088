// Memory behind the sample platform's SystemMemory OperationRegions. The ASL of
// tests/fixtures/acpi names fixed low addresses (AML addresses are 32-bit here, as
// on a board), so the simulator maps those exact addresses in the host process and
// fills them with a known pattern that a test can recognise in captured data.
#ifndef ZEPHRIN_SIM_ACPI_REGIONS_H_
#define ZEPHRIN_SIM_ACPI_REGIONS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// One region of the sample platform, as its ASL declares it.
struct AcpiRegion {
  const char *Path;  // ACPI path of the OperationRegion
  uint64_t Address;
  uint32_t Length;
};

// The window all sample regions live in: 64 KiB at 0x7F000000, below both 4 GiB
// and the sanitizers' shadow memory.
inline constexpr uint64_t kAcpiRegionWindowBase = 0x7F000000;
inline constexpr size_t kAcpiRegionWindowSize = 0x10000;

// Every region of the sample platform, including the two whose address and
// length live in fields of a parent region (\CNVS in \GNVS, \_SB.SCRA.NNVS in
// \_SB.SCRA.PNVS) and the one whose address and length are named constants
// (\SNV1: \SNVA, \SNVL).
const std::vector<AcpiRegion> &SampleAcpiRegions();

// Byte Index of the pattern a region is filled with: different per region, so a
// capture of the wrong region is noticed.
uint8_t AcpiRegionPatternByte(uint64_t Address, size_t Index);

// Maps the window at its fixed address (once per process; later calls only
// refill), fills every sample region with its pattern and writes the parent
// fields that locate \CNVS and \_SB.SCRA.NNVS. False when the address range is
// taken by something else in this process.
bool MapSampleAcpiRegions();

// Pointer to the host memory at a window address (which must be mapped).
uint8_t *AcpiRegionPointer(uint64_t Address);

// Memory for a region a real machine's AML names at a fixed address: maps the
// whole pages that cover [Address, Address + Length) at exactly that address.
// Pages this process already mapped here are reused. False when any page is
// taken by something else (the caller then moves the region, see below).
bool MapRegionAt(uint64_t Address, uint64_t Length);

// Fresh pages below 4 GiB for a region whose own address is taken; the region
// keeps its offset within its first page. 0 when no low memory is left.
uint64_t MapRegionElsewhere(uint64_t Address, uint64_t Length);

// Fills a mapped region with AcpiRegionPatternByte(Address, Index).
void FillRegionPattern(uint64_t Address, uint64_t Length);

}  // namespace sim

#endif  // ZEPHRIN_SIM_ACPI_REGIONS_H_
