#include "sim/Pages.h"

#include <sys/mman.h>

#include <cstring>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"

namespace sim {

namespace {

// Fresh pages are not zeroed on a board either.
constexpr UINT8 kFreshPageFill = 0xAF;
// Where the search for low memory starts when MAP_32BIT gives an address above
// the caller's limit: above the first megabytes a Linux process keeps unmapped.
constexpr UINT64 kLowSearchStart = 0x01000000;

EFI_STATUS EFIAPI SimAllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                   EFI_PHYSICAL_ADDRESS *Memory) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("AllocatePages", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Board.Pages().Allocate(Type, MemoryType, Pages, Memory);
}

// The map lists the page allocations (pool lives in host memory and is not
// part of it). Descriptors are 8 bytes longer than the structure, as on many
// boards, so that a caller stepping by sizeof() instead of DescriptorSize fails.
EFI_STATUS EFIAPI SimGetMemoryMap(UINTN *MapSize, EFI_MEMORY_DESCRIPTOR *Map, UINTN *MapKey,
                                  UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("GetMemoryMap", TPL_HIGH_LEVEL)) return EFI_UNSUPPORTED;
  return Board.Pages().GetMemoryMap(MapSize, Map, MapKey, DescriptorSize, DescriptorVersion);
}

EFI_STATUS EFIAPI SimExitBootServices(EFI_HANDLE, UINTN MapKey) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("ExitBootServices", TPL_APPLICATION)) return EFI_UNSUPPORTED;
  if (MapKey != Board.Pages().MapKey()) return EFI_INVALID_PARAMETER;
  Board.SignalExitBootServices();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  Platform &Board = CurrentPlatform();
  if (!Board.CheckBootService("FreePages", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Board.Pages().Free(Memory, Pages);
}

VOID *MapAt(UINT64 Address, UINTN Bytes) {
  VOID *Result = mmap(reinterpret_cast<VOID *>(Address), Bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (Result == MAP_FAILED) return nullptr;
  if (reinterpret_cast<UINT64>(Result) != Address) {  // kernels without NOREPLACE treat it as a hint
    munmap(Result, Bytes);
    return nullptr;
  }
  return Result;
}

}  // namespace

void BindPageServices(EFI_BOOT_SERVICES &Bs) {
  Bs.AllocatePages = &SimAllocatePages;
  Bs.FreePages = &SimFreePages;
  Bs.GetMemoryMap = &SimGetMemoryMap;
  Bs.ExitBootServices = &SimExitBootServices;
}

PageAllocator::~PageAllocator() {
  for (auto &Entry : mLive)
    munmap(reinterpret_cast<VOID *>(Entry.first), EFI_PAGES_TO_SIZE(Entry.second.Pages));
}

// Memory whose last byte is at or below MaxAddress: MAP_32BIT first (the
// kernel's low 2 GiB), then a walk of fixed low addresses.
VOID *PageAllocator::MapBelow(UINT64 MaxAddress, UINTN Bytes) {
  VOID *Low = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (Low != MAP_FAILED) {
    if (reinterpret_cast<UINT64>(Low) + Bytes - 1 <= MaxAddress) return Low;
    munmap(Low, Bytes);
  }
  for (UINT64 Candidate = kLowSearchStart; Candidate + Bytes - 1 <= MaxAddress; Candidate += 0x100000) {
    VOID *Found = MapAt(Candidate, Bytes);
    if (Found != nullptr) return Found;
  }
  return nullptr;
}

EFI_STATUS PageAllocator::Allocate(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                   EFI_PHYSICAL_ADDRESS *Memory) {
  ++mCalls;
  if (Memory == nullptr || Type >= MaxAllocateType || !IsValidPoolType(MemoryType))
    return EFI_INVALID_PARAMETER;
  if (mFailAt != 0 && --mFailAt == 0) return EFI_OUT_OF_RESOURCES;
  // No board has this much memory; refusing here keeps the size arithmetic exact.
  if (Pages == 0 || Pages > (UINTN{1} << 28))
    return Pages == 0 ? EFI_INVALID_PARAMETER : EFI_OUT_OF_RESOURCES;
  UINTN Bytes = EFI_PAGES_TO_SIZE(Pages);
  VOID *Mapped = nullptr;
  switch (Type) {
    case AllocateAnyPages:
      Mapped = MapBelow(0xFFFFFFFFull, Bytes);
      if (Mapped == nullptr) {
        Mapped = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (Mapped == MAP_FAILED) Mapped = nullptr;
      }
      break;
    case AllocateMaxAddress:
      if (*Memory < EFI_PAGE_SIZE - 1) return EFI_NOT_FOUND;
      Mapped = MapBelow(*Memory, Bytes);
      break;
    case AllocateAddress:
      if ((*Memory & (EFI_PAGE_SIZE - 1)) != 0) return EFI_NOT_FOUND;
      Mapped = MapAt(*Memory, Bytes);
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }
  if (Mapped == nullptr) return Type == AllocateAnyPages ? EFI_OUT_OF_RESOURCES : EFI_NOT_FOUND;
  std::memset(Mapped, kFreshPageFill, Bytes);
  *Memory = reinterpret_cast<UINT64>(Mapped);
  mLive[*Memory] = PageAllocation{Pages, MemoryType, Type};
  ++mMapKey;
  return EFI_SUCCESS;
}

EFI_PHYSICAL_ADDRESS PageAllocator::AllocateForPlatform(EFI_MEMORY_TYPE MemoryType, UINTN Pages) {
  VOID *Mapped = MapBelow(0xFFFFFFFFull, EFI_PAGES_TO_SIZE(Pages));
  if (Mapped == nullptr) return 0;
  std::memset(Mapped, 0, EFI_PAGES_TO_SIZE(Pages));
  auto Address = reinterpret_cast<EFI_PHYSICAL_ADDRESS>(Mapped);
  mLive[Address] = PageAllocation{Pages, MemoryType, AllocateMaxAddress};
  ++mMapKey;
  return Address;
}

// Only whole allocations are freed here (a real core also splits ranges; no
// code of this project frees part of an allocation).
EFI_STATUS PageAllocator::Free(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  if ((Memory & (EFI_PAGE_SIZE - 1)) != 0) return EFI_INVALID_PARAMETER;
  auto Found = mLive.find(Memory);
  if (Found == mLive.end() || Found->second.Pages != Pages) {
    mOwner.ReportFault("FreePages of a range that is not one page allocation");
    return EFI_NOT_FOUND;
  }
  munmap(reinterpret_cast<VOID *>(Memory), EFI_PAGES_TO_SIZE(Pages));
  mLive.erase(Found);
  ++mMapKey;
  return EFI_SUCCESS;
}

EFI_STATUS PageAllocator::GetMemoryMap(UINTN *MapSize, EFI_MEMORY_DESCRIPTOR *Map, UINTN *MapKey,
                                       UINTN *DescriptorSize, UINT32 *DescriptorVersion) const {
  constexpr UINTN kDescriptorSize = sizeof(EFI_MEMORY_DESCRIPTOR) + 8;
  constexpr UINT64 kWriteBack = 0x8;  // EFI_MEMORY_WB
  if (MapSize == nullptr) return EFI_INVALID_PARAMETER;
  UINTN Needed = mLive.size() * kDescriptorSize;
  if (DescriptorSize != nullptr) *DescriptorSize = kDescriptorSize;
  if (DescriptorVersion != nullptr) *DescriptorVersion = 1;
  if (*MapSize < Needed) {
    *MapSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Map == nullptr || MapKey == nullptr || DescriptorSize == nullptr || DescriptorVersion == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *Out = reinterpret_cast<UINT8 *>(Map);
  for (auto &Entry : mLive) {
    EFI_MEMORY_DESCRIPTOR Descriptor{};
    Descriptor.Type = Entry.second.Type;
    Descriptor.PhysicalStart = Entry.first;
    Descriptor.NumberOfPages = Entry.second.Pages;
    Descriptor.Attribute = kWriteBack;
    std::memset(Out, 0, kDescriptorSize);
    std::memcpy(Out, &Descriptor, sizeof(Descriptor));
    Out += kDescriptorSize;
  }
  *MapSize = Needed;
  *MapKey = mMapKey;
  return EFI_SUCCESS;
}

const PageAllocation *PageAllocator::Containing(EFI_PHYSICAL_ADDRESS Address,
                                                EFI_PHYSICAL_ADDRESS *Start) const {
  auto Next = mLive.upper_bound(Address);
  if (Next == mLive.begin()) return nullptr;
  --Next;
  if (Address - Next->first >= EFI_PAGES_TO_SIZE(Next->second.Pages)) return nullptr;
  if (Start != nullptr) *Start = Next->first;
  return &Next->second;
}

}  // namespace sim
