// Boot-services pool of the simulated platform: every allocation is tracked with
// its size and pool type, so tests can check for leaks, and the Nth allocation
// from a chosen moment can be made to fail, so tests can walk every failure path.
#ifndef ZEPHRIN_SIM_POOL_H_
#define ZEPHRIN_SIM_POOL_H_

#include <cstddef>
#include <map>
#include <string>

#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

struct PoolAllocation {
  UINTN Size;            // bytes asked for
  EFI_MEMORY_TYPE Type;  // pool type asked for
  UINT64 Sequence;       // 1 for the first allocation of the boot
};

class PoolAllocator {
 public:
  explicit PoolAllocator(Platform &Owner) : mOwner(Owner) {}
  ~PoolAllocator();
  PoolAllocator(const PoolAllocator &) = delete;
  PoolAllocator &operator=(const PoolAllocator &) = delete;

  EFI_STATUS Allocate(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer);
  EFI_STATUS Free(VOID *Buffer);

  // The Nth successful-or-failed AllocatePool call from now (1 = the next one)
  // returns EFI_OUT_OF_RESOURCES. 0 switches injection off. One shot.
  void FailAllocation(UINT64 Nth);
  // Counting window: AllocationsCounted() is the number of AllocatePool calls
  // since the last StartCounting() (or since the boot began).
  void StartCounting() { mCounted = 0; }
  UINT64 AllocationsCounted() const { return mCounted; }

  UINTN OutstandingCount() const { return mLive.size(); }
  UINTN OutstandingBytes() const { return mLiveBytes; }
  UINTN PeakBytes() const { return mPeakBytes; }
  UINT64 TotalAllocations() const { return mSequence; }
  UINT64 InjectedFailures() const { return mInjected; }
  // AllocatePool calls made by ExitBootServices notify functions.
  UINT64 AllocationsDuringExitBootServices() const { return mDuringExitBootServices; }
  bool IsLive(const VOID *Buffer) const { return mLive.count(Buffer) != 0; }
  // Size of a live allocation, 0 for an unknown pointer.
  UINTN SizeOf(const VOID *Buffer) const;
  const std::map<const VOID *, PoolAllocation> &Live() const { return mLive; }
  // Empty when nothing is outstanding; otherwise one line per leaked buffer.
  std::string LeakReport() const;

 private:
  Platform &mOwner;
  std::map<const VOID *, PoolAllocation> mLive;  // outstanding buffers
  UINTN mLiveBytes = 0;                          // sum of their sizes
  UINTN mPeakBytes = 0;                          // highest mLiveBytes seen
  UINT64 mSequence = 0;                          // AllocatePool calls so far
  UINT64 mCounted = 0;                           // calls in the counting window
  UINT64 mFailAt = 0;                            // countdown of the injection, 0 = off
  UINT64 mInjected = 0;                          // failures injected so far
  UINT64 mDuringExitBootServices = 0;            // calls from ExitBootServices notifications
};

// Pool types a caller may ask for (UEFI: EfiMaxMemoryType..0x6FFFFFFF and
// EfiConventionalMemory/EfiPersistentMemory are invalid; 0x70000000 and up are
// OEM/OS types and accepted).
bool IsValidPoolType(UINT32 Type);

}  // namespace sim

#endif  // ZEPHRIN_SIM_POOL_H_
