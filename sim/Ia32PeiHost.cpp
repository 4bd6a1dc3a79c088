// The emulated IA-32 machine of Ia32PeiHost: memory map, protected mode, the
// guards that end a run, and the mirror of the memory the PEI phase hands out.
#include "sim/Ia32PeiHost.h"

#include <cstdio>
#include <cstring>

#include "sim/HobList.h"
#include "sim/Ia32Machine.h"
#include "uefi/PiFirmwareVolume.h"

namespace sim {
namespace {

using namespace ia32;

constexpr uint8_t kStackFill = 0x5A;

uint32_t PageRound(uint64_t Size) {
  return static_cast<uint32_t>((Size + 0xFFF) & ~uint64_t{0xFFF});
}

// A flat 4 GiB segment descriptor: base 0, limit 0xFFFFF pages, 32-bit, DPL 0.
uint64_t FlatDescriptor(uint8_t Access) {
  return 0x000000000000FFFFull | (uint64_t{Access} << 40) | (0xCFull << 48);
}

const char *AccessName(uc_mem_type Type) {
  switch (Type) {
    case UC_MEM_READ_UNMAPPED:
    case UC_MEM_READ_PROT:
      return "read";
    case UC_MEM_WRITE_UNMAPPED:
    case UC_MEM_WRITE_PROT:
      return "write";
    default:
      return "instruction fetch";
  }
}

bool OnMemoryFault(uc_engine *, uc_mem_type Type, uint64_t Address, int Size, int64_t, void *User) {
  auto *M = static_cast<Ia32Machine *>(User);
  bool Unmapped =
      Type == UC_MEM_READ_UNMAPPED || Type == UC_MEM_WRITE_UNMAPPED || Type == UC_MEM_FETCH_UNMAPPED;
  std::string Why = std::string(AccessName(Type)) + " of " + std::to_string(Size) + " bytes at " +
                    Hex32(static_cast<uint32_t>(Address)) +
                    (Unmapped ? ", which is not mapped" : ", which the page does not allow");
  M->Fault(Why, static_cast<uint32_t>(Address));
  return false;
}

void OnInterrupt(uc_engine *, uint32_t Number, void *User) {
  auto *M = static_cast<Ia32Machine *>(User);
  M->Fault("CPU exception or interrupt " + std::to_string(Number) + " (no handler in PEI)", 0);
}

bool OnInvalidInstruction(uc_engine *, void *User) {
  auto *M = static_cast<Ia32Machine *>(User);
  M->Fault("invalid instruction", 0);
  return false;
}

void OnTrapCode(uc_engine *, uint64_t Address, uint32_t, void *User) {
  static_cast<Ia32Machine *>(User)->OnTrap(static_cast<uint32_t>(Address));
}

}  // namespace

std::string Hex32(uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08X", Value);
  return Text;
}

std::string Ia32RunReport::Describe() const {
  if (Returned) return "returned " + Hex32(Status);
  std::string Text = Fault + " (";
  if (Address != 0) Text += "address " + Hex32(Address) + ", ";
  Text += "EIP " + Hex32(Eip) + ", last service " + (LastService.empty() ? "none" : LastService) + ")";
  return Text;
}

Ia32Machine::Ia32Machine(PeiPhase &Phase, const Ia32RunLimits &Limits) : mPhase(Phase), mLimits(Limits) {
  uc_err Err = uc_open(UC_ARCH_X86, UC_MODE_32, &mUc);
  if (Err != UC_ERR_OK) {
    mUc = nullptr;
    mSetupError = std::string("cannot start the IA-32 emulator: ") + uc_strerror(Err);
    return;
  }
  if (!MapAll() || !SetUpCpu() || !InstallHooks()) return;
  FillServiceTables();
}

Ia32Machine::~Ia32Machine() {
  if (mUc != nullptr) uc_close(mUc);
}

bool Ia32Machine::MapAll() {
  struct Region {
    uint32_t Base, Size, Perms;
  };
  const Region Regions[] = {
      {kSystemPage, 0x1000, UC_PROT_READ | UC_PROT_WRITE},
      {kTablePage, 0x1000, UC_PROT_READ | UC_PROT_WRITE},
      {kTrapPage, 0x1000, UC_PROT_READ | UC_PROT_EXEC},
      {kHobWindow, kHobWindowSize, UC_PROT_READ | UC_PROT_WRITE},
      {kStack, kStackSize, UC_PROT_READ | UC_PROT_WRITE},
  };
  for (const Region &R : Regions) {
    uc_err Err = uc_mem_map(mUc, R.Base, R.Size, R.Perms);
    if (Err != UC_ERR_OK) {
      mSetupError = "cannot map emulated memory at " + Hex32(R.Base) + ": " + uc_strerror(Err);
      return false;
    }
  }
  // Each stub is one RET: the hook runs the service and sets EAX first.
  std::vector<uint8_t> Stubs(0x1000, 0xCC);
  for (uint32_t Slot = 0; Slot < kTrapCount; Slot++) Stubs[Slot * kTrapStride] = 0xC3;
  return Write(kTrapPage, Stubs.data(), Stubs.size(), "trap stubs");
}

// Flat protected mode as a PEI core leaves it: a GDT with flat code and data,
// every data segment register loaded, and an IDT whose base minus 4 holds the
// address of the cell that points at the services table.
bool Ia32Machine::SetUpCpu() {
  const uint64_t Gdt[3] = {0, FlatDescriptor(0x9B), FlatDescriptor(0x93)};
  uc_x86_mmr Gdtr = {0, kGdt, sizeof(Gdt) - 1, 0};
  uc_x86_mmr Idtr = {0, kIdt, kIdtLimit, 0};
  if (!Write(kGdt, Gdt, sizeof(Gdt), "GDT") || !Write32(kIdt - 4, kServicesCell, "services pointer") ||
      !Write32(kServicesCell, kServicesTable, "services cell")) {
    return false;
  }
  uc_err Err = uc_reg_write(mUc, UC_X86_REG_GDTR, &Gdtr);
  if (Err == UC_ERR_OK) Err = uc_reg_write(mUc, UC_X86_REG_IDTR, &Idtr);
  const int Segments[] = {UC_X86_REG_CS, UC_X86_REG_DS, UC_X86_REG_ES,
                          UC_X86_REG_SS, UC_X86_REG_FS, UC_X86_REG_GS};
  for (int Segment : Segments) {
    uint32_t Selector = Segment == UC_X86_REG_CS ? 0x08 : 0x10;
    if (Err == UC_ERR_OK) Err = uc_reg_write(mUc, Segment, &Selector);
  }
  if (Err != UC_ERR_OK) {
    mSetupError = std::string("cannot set up protected mode: ") + uc_strerror(Err);
    return false;
  }
  return true;
}

// Without its guards a run could not be told from a good one: a hook that
// cannot be installed leaves the machine unusable.
bool Ia32Machine::InstallHooks() {
  uc_hook Hook;
  uc_err Err = uc_hook_add(mUc, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnTrapCode), this, kTrapPage,
                           kTrapPage + kTrapCount * kTrapStride - 1);
  if (Err == UC_ERR_OK)
    Err = uc_hook_add(mUc, &Hook, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_PROT,
                      reinterpret_cast<void *>(OnMemoryFault), this, 1, 0);
  if (Err == UC_ERR_OK)
    Err = uc_hook_add(mUc, &Hook, UC_HOOK_INTR, reinterpret_cast<void *>(OnInterrupt), this, 1, 0);
  if (Err == UC_ERR_OK)
    Err = uc_hook_add(mUc, &Hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void *>(OnInvalidInstruction), this,
                      1, 0);
  if (Err != UC_ERR_OK) {
    mSetupError = std::string("cannot install the emulator's guards: ") + uc_strerror(Err);
    return false;
  }
  return true;
}

bool Ia32Machine::Load(const std::vector<uint8_t> &TeFile, std::string *Error) {
  if (mUc == nullptr || !mSetupError.empty()) {
    *Error = mSetupError;
    return false;
  }
  if (mLoaded) {
    *Error = "an image is loaded already";
    return false;
  }
  TeLoadedImage Image;
  if (!LoadTeImage(TeFile, Ia32PeiHost::kImageLoadBase, &Image, Error)) return false;
  if (Image.LoadBase == Image.Headers.ImageBase) {
    *Error = "the image is linked for the load address, so its relocations would go untested";
    return false;
  }
  uc_err Err = uc_mem_map(mUc, Image.LoadBase, PageRound(Image.Bytes.size()), UC_PROT_READ | UC_PROT_EXEC);
  if (Err == UC_ERR_OK) Err = uc_mem_write(mUc, Image.LoadBase, Image.Bytes.data(), Image.Bytes.size());
  if (Err != UC_ERR_OK) {
    *Error = std::string("cannot map the image: ") + uc_strerror(Err);
    return false;
  }
  mImage = std::move(Image);
  mLoaded = true;
  return true;
}

Ia32RunReport Ia32Machine::Run() {
  mReport = Ia32RunReport();
  if (!mLoaded) {
    mReport.Fault = mSetupError.empty() ? "no image is loaded" : mSetupError;
    return mReport;
  }
  if (!StartHobMirror()) return mReport;
  // cdecl call of the entry point: arguments right to left, then the return address.
  const uint32_t Exit = kTrapPage + kExitTrap * kTrapStride;
  mEntryEsp = kStack + kStackSize - 16 - 12;
  // A pattern in the stack shows afterwards how deep the module went: PEI runs
  // on a small temporary RAM, so the depth is worth knowing.
  const std::vector<uint8_t> Pattern(kStackSize, kStackFill);
  if (!Write(kStack, Pattern.data(), Pattern.size(), "stack")) return mReport;
  const uint32_t Frame[3] = {Exit, kOwnFileHandle, kServicesCell};
  if (!Write(mEntryEsp, Frame, sizeof(Frame), "entry frame")) return mReport;
  SetReg(UC_X86_REG_ESP, mEntryEsp);
  SetReg(UC_X86_REG_EBP, 0);
  uc_err Err = uc_emu_start(mUc, mImage.EntryPoint(), Exit, mLimits.MaxMicroseconds, mLimits.MaxInstructions);
  uint32_t Eip = Reg(UC_X86_REG_EIP);
  if (!Faulted()) {
    size_t TimedOut = 0;
    uc_query(mUc, UC_QUERY_TIMEOUT, &TimedOut);
    if (Eip == Exit && Reg(UC_X86_REG_ESP) == mEntryEsp + 4) {
      mReport.Returned = true;
      mReport.Status = Reg(UC_X86_REG_EAX);
    } else if (Eip == Exit) {
      Fault("entry point returned with ESP " + Hex32(Reg(UC_X86_REG_ESP)) + " instead of " +
                Hex32(mEntryEsp + 4),
            0);
    } else if (TimedOut != 0) {
      Fault("wall-clock limit of " + std::to_string(mLimits.MaxMicroseconds) + " us reached", 0);
    } else if (Err != UC_ERR_OK) {
      Fault(std::string("emulation stopped: ") + uc_strerror(Err), 0);
    } else {
      Fault("instruction limit of " + std::to_string(mLimits.MaxInstructions) + " reached", 0);
    }
  }
  mReport.Eip = Faulted() && mReport.Eip != 0 ? mReport.Eip : Eip;
  mReport.StackBytesUsed = StackDepth();
  CopyHobsBack();
  return mReport;
}

uint32_t Ia32Machine::StackDepth() {
  std::vector<uint8_t> Stack(kStackSize);
  if (uc_mem_read(mUc, kStack, Stack.data(), Stack.size()) != UC_ERR_OK) return 0;
  size_t Lowest = 0;
  while (Lowest < Stack.size() && Stack[Lowest] == kStackFill) Lowest++;
  uint32_t Touched = kStack + static_cast<uint32_t>(Lowest);
  return Touched < mEntryEsp ? mEntryEsp - Touched : 0;
}

void Ia32Machine::Fault(const std::string &Why, uint32_t Address) {
  if (!Faulted()) {
    mReport.Fault = Why;
    mReport.Address = Address;
    mReport.Eip = Reg(UC_X86_REG_EIP);
  }
  uc_emu_stop(mUc);
}

uint32_t Ia32Machine::Reg(int Id) {
  uint32_t Value = 0;
  uc_reg_read(mUc, Id, &Value);
  return Value;
}

void Ia32Machine::SetReg(int Id, uint32_t Value) {
  uc_reg_write(mUc, Id, &Value);
}

bool Ia32Machine::Read(uint32_t Address, void *Out, size_t Size, const char *What) {
  if (uc_mem_read(mUc, Address, Out, Size) == UC_ERR_OK) return true;
  Fault(std::string(What) + ": " + std::to_string(Size) + " bytes at " + Hex32(Address) + " are not readable",
        Address);
  return false;
}

bool Ia32Machine::Write(uint32_t Address, const void *Data, size_t Size, const char *What) {
  if (uc_mem_write(mUc, Address, Data, Size) == UC_ERR_OK) return true;
  Fault(std::string(What) + ": " + std::to_string(Size) + " bytes at " + Hex32(Address) + " are not writable",
        Address);
  return false;
}

bool Ia32Machine::ReadString(uint32_t Address, size_t Unit, size_t Max, std::u16string *Out,
                             const char *What) {
  Out->clear();
  for (size_t Index = 0; Index < Max; Index++) {
    uint16_t Char = 0;
    if (!Read(Address + static_cast<uint32_t>(Index * Unit), &Char, Unit, What)) return false;
    if (Char == 0) return true;
    Out->push_back(static_cast<char16_t>(Char));
  }
  Fault(std::string(What) + ": no end within " + std::to_string(Max) + " characters at " + Hex32(Address),
        Address);
  return false;
}

// ---------------------------------------------------------------- mirrors

uint32_t Ia32Machine::ToGuest(const void *Host) {
  if (Host == nullptr) return 0;
  const uint8_t *P = static_cast<const uint8_t *>(Host);
  for (const VolumeMirror &V : mVolumes) {
    if (P >= V.Host && P < V.Host + V.Size) return V.Guest + static_cast<uint32_t>(P - V.Host);
  }
  if (P >= mHostHobs && P < mHostHobs + mHobUsed) return kHobWindow + static_cast<uint32_t>(P - mHostHobs);
  return kForeign;
}

void *Ia32Machine::ToHost(uint32_t Guest) {
  static uint8_t NothingOfThePhase;
  if (Guest == 0) return nullptr;
  if (Guest >= kHobWindow && Guest - kHobWindow < mHobUsed) {
    return const_cast<uint8_t *>(mHostHobs) + (Guest - kHobWindow);
  }
  for (const VolumeMirror &V : mVolumes) {
    if (Guest >= V.Guest && Guest - V.Guest < V.Size)
      return const_cast<uint8_t *>(V.Host) + (Guest - V.Guest);
  }
  return &NothingOfThePhase;
}

// The phase hands out a volume as the start of its image; the image was
// checked when it was added, so its header's FvLength is its extent.
bool Ia32Machine::MirrorVolume(const void *Host) {
  const uint8_t *Start = static_cast<const uint8_t *>(Host);
  for (const VolumeMirror &V : mVolumes) {
    if (V.Host == Start) return true;
  }
  EFI_FIRMWARE_VOLUME_HEADER Header;
  std::memcpy(&Header, Start, sizeof(Header));
  uint32_t Size = PageRound(Header.FvLength);
  if (Header.FvLength == 0 || Header.FvLength > kVolumesEnd - mVolumeNext ||
      Size > kVolumesEnd - mVolumeNext) {
    Fault("a firmware volume of " + std::to_string(Header.FvLength) + " bytes does not fit the volume window",
          0);
    return false;
  }
  uc_err Err = uc_mem_map(mUc, mVolumeNext, Size, UC_PROT_READ | UC_PROT_WRITE);
  if (Err != UC_ERR_OK || !Write(mVolumeNext, Start, Header.FvLength, "volume mirror")) {
    Fault("cannot map a firmware volume at " + Hex32(mVolumeNext), mVolumeNext);
    return false;
  }
  mVolumes.push_back({Start, static_cast<size_t>(Header.FvLength), mVolumeNext});
  mVolumeNext += Size;
  return true;
}

// The phase keeps the end of its list in the PHIT; the emulated copy gets the
// emulated address there.
bool Ia32Machine::StartHobMirror() {
  mHostHobs = mPhase.HobList();
  HobHandoffInfoTable Phit;
  std::memcpy(&Phit, mHostHobs, sizeof(Phit));
  uint64_t End = Phit.EfiEndOfHobList - reinterpret_cast<uintptr_t>(mHostHobs);
  if (Phit.EfiEndOfHobList < reinterpret_cast<uintptr_t>(mHostHobs) || End > kHobWindowSize - 8) {
    Fault("the phase's HOB list does not fit the emulated HOB window", 0);
    return false;
  }
  return MirrorHobs(0, End + sizeof(EFI_HOB_GENERIC_HEADER));
}

bool Ia32Machine::MirrorHobs(size_t From, size_t To) {
  if (To > kHobWindowSize || From > To) {
    Fault("the HOB list outgrew the emulated HOB window of " + std::to_string(kHobWindowSize) + " bytes", 0);
    return false;
  }
  if (!Write(kHobWindow + static_cast<uint32_t>(From), mHostHobs + From, To - From, "HOB mirror"))
    return false;
  mHobUsed = To;
  HobHandoffInfoTable Phit;
  std::memcpy(&Phit, mHostHobs, sizeof(Phit));
  uint64_t End = Phit.EfiEndOfHobList - reinterpret_cast<uintptr_t>(mHostHobs) + kHobWindow;
  return Write(kHobWindow + OFFSET_OF(HobHandoffInfoTable, EfiEndOfHobList), &End, sizeof(End), "HOB mirror");
}

// What the module wrote into its HOBs goes back into the phase's list, whose
// own PHIT keeps the host address of the list's end.
void Ia32Machine::CopyHobsBack() {
  if (mHostHobs == nullptr || mHobUsed == 0) return;
  std::vector<uint8_t> Copy(mHobUsed);
  if (uc_mem_read(mUc, kHobWindow, Copy.data(), Copy.size()) != UC_ERR_OK) return;
  HobHandoffInfoTable Phit;
  std::memcpy(&Phit, mHostHobs, sizeof(Phit));
  std::memcpy(&Copy[OFFSET_OF(HobHandoffInfoTable, EfiEndOfHobList)], &Phit.EfiEndOfHobList, 8);
  std::memcpy(const_cast<uint8_t *>(mHostHobs), Copy.data(), Copy.size());
}

// Each allocation ends where its pages end, 8-byte aligned as PEI pool is, and
// an unmapped page follows it: a read or write past the end of a buffer ends
// the run instead of touching a neighbour.
bool Ia32Machine::PoolFits(size_t Size) const {
  uint64_t Pages = (Size + 7) / 8 * 8 / 0x1000 + 1;
  return Size <= kPoolSize && (Pages + 1) * 0x1000 <= kPool + kPoolSize - mPoolNext;
}

bool Ia32Machine::AllocateGuestPool(size_t Size, uint32_t *Address) {
  if (!PoolFits(Size)) return false;
  uint32_t Rounded = static_cast<uint32_t>((Size + 7) / 8 * 8);
  uint32_t Mapped = PageRound(Rounded == 0 ? 1 : Rounded);
  if (uc_mem_map(mUc, mPoolNext, Mapped, UC_PROT_READ | UC_PROT_WRITE) != UC_ERR_OK) return false;
  *Address = mPoolNext + Mapped - Rounded;
  mPoolNext += Mapped + 0x1000;
  return true;
}

// ---------------------------------------------------------------- host

Ia32PeiHost::Ia32PeiHost(PeiPhase &Phase, const Ia32RunLimits &Limits)
    : mMachine(std::make_unique<Ia32Machine>(Phase, Limits)) {}

Ia32PeiHost::~Ia32PeiHost() = default;

bool Ia32PeiHost::Load(const std::vector<uint8_t> &TeFile, std::string *Error) {
  return mMachine->Load(TeFile, Error);
}

const TeLoadedImage &Ia32PeiHost::Image() const {
  return mMachine->mImage;
}

Ia32RunReport Ia32PeiHost::Run() {
  return mMachine->Run();
}

const std::vector<PeiDebugRecord> &Ia32PeiHost::DebugRecords() const {
  return mMachine->mDebug;
}

std::vector<std::string> Ia32PeiHost::DebugLines() const {
  std::vector<std::string> Lines;
  for (const PeiDebugRecord &Record : mMachine->mDebug) Lines.push_back(Record.Text);
  return Lines;
}

}  // namespace sim
