// Fixed-address memory for the sample platform's OperationRegions.
#include "sim/AcpiRegions.h"

#include <sys/mman.h>

#include <cstring>

namespace sim {

namespace {

// Where the parent regions keep the address and length of their child regions
// (offsets as the Field declarations of the sample ASL place them).
constexpr uint64_t kGnvsAddress = 0x7F000000;
constexpr uint64_t kCnvsAddressField = 0x10;  // CNVA, 32 bits
constexpr uint64_t kCnvsLengthField = 0x14;   // CNVL, 16 bits
constexpr uint64_t kCnvsAddress = 0x7F002000;
constexpr uint16_t kCnvsLength = 0x40;
constexpr uint64_t kPnvsAddress = 0x7F005000;
constexpr uint64_t kNnvsAddressField = 0x00;  // NNVA, 32 bits
constexpr uint64_t kNnvsLengthField = 0x04;   // NNVL, 32 bits
constexpr uint64_t kNnvsAddress = 0x7F006000;
constexpr uint32_t kNnvsLength = 0x30;

bool gWindowMapped = false;

constexpr uint64_t kPageSize = 0x1000;
constexpr uint64_t kBelow4GiB = 0x100000000ull;

// Pages mapped by MapRegionAt in this process (a boot's child inherits them).
std::vector<uint64_t> &OwnPages() {
  static std::vector<uint64_t> Pages;
  return Pages;
}

bool IsOwnPage(uint64_t Page) {
  for (uint64_t Own : OwnPages())
    if (Own == Page) return true;
  return false;
}

void StoreLe(uint64_t Address, uint64_t Value, size_t Width) {
  uint8_t *Target = AcpiRegionPointer(Address);
  for (size_t Index = 0; Index < Width; Index++) Target[Index] = static_cast<uint8_t>(Value >> (8 * Index));
}

}  // namespace

const std::vector<AcpiRegion> &SampleAcpiRegions() {
  static const std::vector<AcpiRegion> kRegions = {
      {"\\GNVS", kGnvsAddress, 0x100},
      {"\\BNVS", 0x7F001000, 0x20},
      {"\\CNVS", kCnvsAddress, kCnvsLength},
      {"\\SNV0", 0x7F003000, 0x80},
      {"\\SNV1", 0x7F004000, 0x100},
      {"\\_SB.SCRA.PNVS", kPnvsAddress, 0x10},
      {"\\_SB.SCRA.NNVS", kNnvsAddress, kNnvsLength},
  };
  return kRegions;
}

uint8_t AcpiRegionPatternByte(uint64_t Address, size_t Index) {
  return static_cast<uint8_t>((Address >> 12) * 0x1D + Index * 7 + 1);
}

uint8_t *AcpiRegionPointer(uint64_t Address) {
  return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Address));
}

bool MapSampleAcpiRegions() {
  if (!gWindowMapped) {
    // MAP_FIXED_NOREPLACE: never clobber a mapping the process already has.
    void *Window = mmap(AcpiRegionPointer(kAcpiRegionWindowBase), kAcpiRegionWindowSize,
                        PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (Window != AcpiRegionPointer(kAcpiRegionWindowBase)) {
      if (Window != MAP_FAILED) munmap(Window, kAcpiRegionWindowSize);
      return false;
    }
    gWindowMapped = true;
  }
  std::memset(AcpiRegionPointer(kAcpiRegionWindowBase), 0, kAcpiRegionWindowSize);
  for (const AcpiRegion &Region : SampleAcpiRegions()) {
    uint8_t *Bytes = AcpiRegionPointer(Region.Address);
    for (size_t Index = 0; Index < Region.Length; Index++)
      Bytes[Index] = AcpiRegionPatternByte(Region.Address, Index);
  }
  StoreLe(kGnvsAddress + kCnvsAddressField, kCnvsAddress, 4);
  StoreLe(kGnvsAddress + kCnvsLengthField, kCnvsLength, 2);
  StoreLe(kPnvsAddress + kNnvsAddressField, kNnvsAddress, 4);
  StoreLe(kPnvsAddress + kNnvsLengthField, kNnvsLength, 4);
  return true;
}

bool MapRegionAt(uint64_t Address, uint64_t Length) {
  if (Length == 0 || Address >= kBelow4GiB || Length > kBelow4GiB - Address) return false;
  uint64_t First = Address & ~(kPageSize - 1);
  uint64_t End = (Address + Length + kPageSize - 1) & ~(kPageSize - 1);
  std::vector<uint64_t> Mapped;
  for (uint64_t Page = First; Page < End; Page += kPageSize) {
    if (IsOwnPage(Page)) continue;
    void *At = mmap(AcpiRegionPointer(Page), kPageSize, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (At != AcpiRegionPointer(Page)) {
      if (At != MAP_FAILED) munmap(At, kPageSize);
      for (uint64_t Undo : Mapped) munmap(AcpiRegionPointer(Undo), kPageSize);
      return false;
    }
    Mapped.push_back(Page);
  }
  OwnPages().insert(OwnPages().end(), Mapped.begin(), Mapped.end());
  return true;
}

uint64_t MapRegionElsewhere(uint64_t Address, uint64_t Length) {
  uint64_t InPage = Address & (kPageSize - 1);
  uint64_t Bytes = (InPage + Length + kPageSize - 1) & ~(kPageSize - 1);
  void *Low = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (Low == MAP_FAILED) return 0;
  auto Base = reinterpret_cast<uint64_t>(Low);
  if (Base + Bytes > kBelow4GiB) {
    munmap(Low, Bytes);
    return 0;
  }
  for (uint64_t Page = Base; Page < Base + Bytes; Page += kPageSize) OwnPages().push_back(Page);
  return Base + InPage;
}

void FillRegionPattern(uint64_t Address, uint64_t Length) {
  uint8_t *Bytes = AcpiRegionPointer(Address);
  for (uint64_t Index = 0; Index < Length; Index++) Bytes[Index] = AcpiRegionPatternByte(Address, Index);
}

}  // namespace sim
