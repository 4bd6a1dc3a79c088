#include "sim/Pool.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"

namespace sim {

namespace {

// Fresh pool is not zeroed on a board; a fill pattern makes code that relies on
// zeroed pool fail here too (the value edk2's debug builds use).
constexpr UINT8 kFreshPoolFill = 0xAF;

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("AllocatePool", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Board.Pool().Allocate(PoolType, Size, Buffer);
}

EFI_STATUS EFIAPI SimFreePool(VOID *Buffer) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("FreePool", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Board.Pool().Free(Buffer);
}

}  // namespace

bool IsValidPoolType(UINT32 Type) {
  if (Type >= 0x70000000u) return true;
  if (Type >= EfiMaxMemoryType) return false;
  return Type != EfiConventionalMemory && Type != EfiPersistentMemory;
}

void BindPoolServices(EFI_BOOT_SERVICES &Bs) {
  Bs.AllocatePool = &SimAllocatePool;
  Bs.FreePool = &SimFreePool;
}

PoolAllocator::~PoolAllocator() {
  for (auto &Entry : mLive) std::free(const_cast<VOID *>(Entry.first));
}

EFI_STATUS PoolAllocator::Allocate(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  ++mSequence;
  ++mCounted;
  if (mOwner.InExitBootServices()) ++mDuringExitBootServices;
  if (Buffer == nullptr || !IsValidPoolType(Type)) return EFI_INVALID_PARAMETER;
  if (mFailAt != 0 && --mFailAt == 0) {
    ++mInjected;
    return EFI_OUT_OF_RESOURCES;
  }
  // Requests no real board could satisfy fail like on a board, not in malloc.
  if (Size > (UINTN{1} << 40)) return EFI_OUT_OF_RESOURCES;
  VOID *Memory = std::malloc(Size == 0 ? 1 : Size);
  if (Memory == nullptr) return EFI_OUT_OF_RESOURCES;
  std::memset(Memory, kFreshPoolFill, Size);
  mLive[Memory] = PoolAllocation{Size, Type, mSequence};
  mLiveBytes += Size;
  if (mLiveBytes > mPeakBytes) mPeakBytes = mLiveBytes;
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS PoolAllocator::Free(VOID *Buffer) {
  auto Found = mLive.find(Buffer);
  if (Found == mLive.end()) {
    std::ostringstream Message;
    Message << "FreePool of a pointer that is not a live pool buffer: " << Buffer;
    mOwner.ReportFault(Message.str());
    return EFI_INVALID_PARAMETER;
  }
  mLiveBytes -= Found->second.Size;
  std::free(Buffer);
  mLive.erase(Found);
  return EFI_SUCCESS;
}

void PoolAllocator::FailAllocation(UINT64 Nth) {
  mFailAt = Nth;
}

UINTN PoolAllocator::SizeOf(const VOID *Buffer) const {
  auto Found = mLive.find(Buffer);
  return Found == mLive.end() ? 0 : Found->second.Size;
}

std::string PoolAllocator::LeakReport() const {
  std::ostringstream Report;
  for (auto &Entry : mLive) {
    Report << "leaked pool buffer " << Entry.first << ": " << Entry.second.Size << " bytes, type "
           << Entry.second.Type << ", allocation #" << Entry.second.Sequence << "\n";
  }
  return Report.str();
}

}  // namespace sim
