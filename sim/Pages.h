// Page allocation of the simulated platform. Pages are real host memory at the
// address the caller gets back, so an allocation below 4 GiB is a 32-bit
// pointer the firmware can store in an ACPI table or in AML and use again.
#ifndef ZEPHRIN_SIM_PAGES_H_
#define ZEPHRIN_SIM_PAGES_H_

#include <map>

#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

struct PageAllocation {
  UINTN Pages;
  EFI_MEMORY_TYPE Type;
  EFI_ALLOCATE_TYPE How;  // the allocate type that produced it
};

class PageAllocator {
 public:
  explicit PageAllocator(Platform &Owner) : mOwner(Owner) {}
  ~PageAllocator();
  PageAllocator(const PageAllocator &) = delete;
  PageAllocator &operator=(const PageAllocator &) = delete;

  EFI_STATUS Allocate(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                      EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS Free(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  // Pages below 4 GiB for the platform's own structures (ACPI tables, ...):
  // not counted and never hit by injected failures. 0 when none are left.
  EFI_PHYSICAL_ADDRESS AllocateForPlatform(EFI_MEMORY_TYPE MemoryType, UINTN Pages);

  // The Nth AllocatePages call from now fails with EFI_OUT_OF_RESOURCES (0: off).
  void FailAllocation(UINT64 Nth) { mFailAt = Nth; }
  UINT64 TotalAllocations() const { return mCalls; }
  // GetMemoryMap over the page allocations; the key changes with every change.
  EFI_STATUS GetMemoryMap(UINTN *MapSize, EFI_MEMORY_DESCRIPTOR *Map, UINTN *MapKey, UINTN *DescriptorSize,
                          UINT32 *DescriptorVersion) const;
  UINTN MapKey() const { return mMapKey; }
  const std::map<EFI_PHYSICAL_ADDRESS, PageAllocation> &Live() const { return mLive; }
  // The allocation that contains Address, or nullptr.
  const PageAllocation *Containing(EFI_PHYSICAL_ADDRESS Address, EFI_PHYSICAL_ADDRESS *Start = nullptr) const;

 private:
  VOID *MapBelow(UINT64 MaxAddress, UINTN Bytes);
  Platform &mOwner;
  std::map<EFI_PHYSICAL_ADDRESS, PageAllocation> mLive;
  UINT64 mCalls = 0;
  UINT64 mFailAt = 0;
  UINTN mMapKey = 1;  // changes with every allocation and free
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_PAGES_H_
