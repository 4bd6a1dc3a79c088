// The PEI services and the debug-message PPI as emulated IA-32 code sees them:
// a table of trap stubs in emulated memory, and the bodies that run when a stub
// is reached. Each body reads its cdecl arguments from the emulated stack
// (ESP + 4 is the first, as the stub is entered by a CALL), calls the same
// service of the PEI phase through its host table, and writes the results back
// in the IA-32 layout. Pointers are translated both ways by the machine's
// mirrors; a NULL argument stays NULL, so the phase judges it as it would.
#include <cstddef>
#include <cstring>

#include "sim/Ia32Machine.h"
#include "sim/UefiFormat.h"

namespace sim {
namespace {

using namespace ia32;

// The members of EFI_PEI_SERVICES after its header, in table order.
const char *const kServiceNames[kServiceSlots] = {"InstallPpi",
                                                  "ReInstallPpi",
                                                  "LocatePpi",
                                                  "NotifyPpi",
                                                  "GetBootMode",
                                                  "SetBootMode",
                                                  "GetHobList",
                                                  "CreateHob",
                                                  "FfsFindNextVolume",
                                                  "FfsFindNextFile",
                                                  "FfsFindSectionData",
                                                  "InstallPeiMemory",
                                                  "AllocatePages",
                                                  "AllocatePool",
                                                  "CopyMem",
                                                  "SetMem",
                                                  "ReportStatusCode",
                                                  "ResetSystem",
                                                  "CpuIo",
                                                  "PciCfg",
                                                  "FfsFindFileByName",
                                                  "FfsGetFileInfo",
                                                  "FfsGetVolumeInfo",
                                                  "RegisterForShadow",
                                                  "FindSectionData3",
                                                  "FfsGetFileInfo2",
                                                  "ResetSystem2",
                                                  "FreePages"};
static_assert((sizeof(EFI_PEI_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(VOID *) == kServiceSlots,
              "one stub per member of the services table");

const char *const kPpiMemberNames[kDebugPpiSlots] = {
    "DebugMessagePpi.Reserved[0]", "DebugMessagePpi.Reserved[1]", "DebugMessagePpi.Reserved[2]",
    "DebugMessagePpi.PrintMessage"};

constexpr uint32_t kTableHeaderSize = sizeof(EFI_TABLE_HEADER);
constexpr uint32_t kIa32TableSize = kTableHeaderSize + kServiceSlots * 4;
constexpr uint32_t kMaxFormatLength = 4096;
constexpr uint32_t kMaxStringArgument = 4096;

// EFI_FV_FILE_INFO and EFI_FV_INFO with IA-32 pointers.
struct Ia32FileInfo {
  EFI_GUID FileName;
  UINT8 FileType;
  UINT8 Padding[3];
  UINT32 FileAttributes;
  UINT32 Buffer;
  UINT32 BufferSize;
};
static_assert(sizeof(Ia32FileInfo) == 32, "EFI_FV_FILE_INFO IA-32 layout");

struct Ia32FvInfo {
  UINT32 FvAttributes;
  EFI_GUID FvFormat;
  EFI_GUID FvName;
  UINT32 FvStart;
  UINT64 FvSize;
};
static_assert(sizeof(Ia32FvInfo) == 48 && offsetof(Ia32FvInfo, FvSize) == 40, "EFI_FV_INFO IA-32 layout");

Ia32FileInfo ToIa32(Ia32Machine &M, const EFI_FV_FILE_INFO &Info) {
  Ia32FileInfo Ia32{};
  Ia32.FileName = Info.FileName;
  Ia32.FileType = Info.FileType;
  Ia32.FileAttributes = Info.FileAttributes;
  Ia32.Buffer = M.ToGuest(Info.Buffer);
  Ia32.BufferSize = Info.BufferSize;
  return Ia32;
}

Ia32FvInfo ToIa32(Ia32Machine &M, const EFI_FV_INFO &Info) {
  Ia32FvInfo Ia32{};
  Ia32.FvAttributes = Info.FvAttributes;
  Ia32.FvFormat = Info.FvFormat;
  Ia32.FvName = Info.FvName;
  Ia32.FvStart = M.ToGuest(Info.FvStart);
  Ia32.FvSize = Info.FvSize;
  return Ia32;
}

struct Ia32PpiDescriptor {
  UINT32 Flags;
  UINT32 Guid;
  UINT32 Ppi;
};

uint32_t TrapAddress(uint32_t Slot) {
  return kTrapPage + Slot * kTrapStride;
}

// EFI_STATUS of the host (error bit 63) as IA-32 code sees it (error bit 31).
uint32_t Ia32Status(EFI_STATUS Status) {
  uint32_t Code = static_cast<uint32_t>(Status & 0x7FFFFFFF);
  return (Status >> 63) != 0 ? Code | 0x80000000u : Code;
}

// Arguments of PrintMessage as the module's VA_LIST points at them: 4-byte
// slots on the emulated stack, 8 bytes for a 64-bit integer.
class Ia32VaArgs : public UefiFormatArgs {
 public:
  Ia32VaArgs(Ia32Machine &M, uint32_t Marker) : mM(M), mNext(Marker) {}

  int64_t Signed(bool Long) override {
    if (Long) return static_cast<int64_t>(Take64());
    return static_cast<int32_t>(Take32());
  }
  uint64_t Unsigned(bool Long) override { return Long ? Take64() : Take32(); }
  uint64_t Natural() override { return Take32(); }
  uint64_t Status() override {
    uint32_t Status = Take32();
    return (Status & 0x80000000u) != 0 ? (Status & 0x7FFFFFFFu) | (1ull << 63) : Status;
  }
  std::optional<std::string> Ascii() override {
    std::optional<std::u16string> Text = String(1);
    if (!Text) return std::nullopt;
    return std::string(Text->begin(), Text->end());
  }
  std::optional<std::u16string> Wide() override { return String(2); }
  std::optional<EFI_GUID> Guid() override {
    uint32_t Address = Take32();
    EFI_GUID Guid{};
    if (Address == 0) return std::nullopt;
    mM.Read(Address, &Guid, sizeof(Guid), "PrintMessage %g argument");
    return Guid;
  }

 private:
  uint32_t Take32() {
    uint32_t Value = 0;
    mM.Read32(mNext, &Value, "PrintMessage argument");
    mNext += 4;
    return Value;
  }
  uint64_t Take64() {
    uint64_t Value = 0;
    mM.Read(mNext, &Value, 8, "PrintMessage argument");
    mNext += 8;
    return Value;
  }
  std::optional<std::u16string> String(size_t Unit) {
    uint32_t Address = Take32();
    if (Address == 0) return std::nullopt;
    std::u16string Text;
    mM.ReadString(Address, Unit, kMaxStringArgument, &Text, "PrintMessage string argument");
    return Text;
  }

  Ia32Machine &mM;
  uint32_t mNext;
};

}  // namespace

void Ia32Machine::FillServiceTables() {
  std::vector<uint8_t> Table(kIa32TableSize);
  EFI_TABLE_HEADER Header = mPhase.Table()->Hdr;
  Header.HeaderSize = kIa32TableSize;
  std::memcpy(Table.data(), &Header, sizeof(Header));
  for (uint32_t Slot = 0; Slot < kServiceSlots; Slot++) {
    uint32_t Stub = TrapAddress(Slot);
    std::memcpy(&Table[kTableHeaderSize + Slot * 4], &Stub, 4);
  }
  uint32_t Ppi[kDebugPpiSlots];
  for (uint32_t Member = 0; Member < kDebugPpiSlots; Member++)
    Ppi[Member] = TrapAddress(kFirstPpiTrap + Member);
  const Ia32PpiDescriptor Descriptor = {EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST,
                                        kDebugPpiGuid, kDebugPpi};
  Write(kServicesTable, Table.data(), Table.size(), "services table");
  Write(kDebugPpi, Ppi, sizeof(Ppi), "debug-message PPI");
  Write(kDebugPpiDescriptor, &Descriptor, sizeof(Descriptor), "debug-message PPI descriptor");
  Write(kDebugPpiGuid, &gDebugMessagePpiGuid, sizeof(EFI_GUID), "debug-message PPI GUID");
}

uint32_t Ia32Machine::Arg(uint32_t Index) {
  uint32_t Value = 0;
  Read32(Reg(UC_X86_REG_ESP) + 4 + 4 * Index, &Value, "service argument");
  return Value;
}

// A stub is entered by a CALL from the module; its RET must lead back into the
// module's code, or the stack was broken on the way here.
bool Ia32Machine::CheckReturnAddress(const char *Service) {
  uint32_t Return = 0;
  if (!Read32(Reg(UC_X86_REG_ESP), &Return, "return address")) return false;
  if (mImage.IsCode(Return)) return true;
  Fault(std::string(Service) + " would return to " + Hex32(Return) + ", outside the module's code", Return);
  return false;
}

void Ia32Machine::OnTrap(uint32_t Address) {
  uint32_t Offset = Address - kTrapPage;
  uint32_t Slot = Offset / kTrapStride;
  if (Slot == kExitTrap || Faulted()) return;
  if (Offset % kTrapStride != 0 || Slot >= kTrapCount) {
    Fault("jump into the trap page outside a stub", Address);
    return;
  }
  const char *Name = Slot < kServiceSlots ? kServiceNames[Slot] : kPpiMemberNames[Slot - kFirstPpiTrap];
  mReport.LastService = Name;
  mReport.ServiceCalls++;
  if (!CheckReturnAddress(Name)) return;
  if (Slot == kFirstPpiTrap + 3) {
    PrintMessage();
    return;
  }
  uint32_t Status = 0;
  if (!CallService(Slot, &Status)) {
    Fault(std::string(Name) + " is not provided to emulated code", Address);
    return;
  }
  if (!Faulted()) SetReg(UC_X86_REG_EAX, Status);
}

bool Ia32Machine::CallService(uint32_t Slot, uint32_t *Status) {
  using Body = bool (Ia32Machine::*)(uint32_t *);
  static const struct {
    const char *Name;
    Body Call;
  } kBodies[] = {{"LocatePpi", &Ia32Machine::LocatePpi},
                 {"GetHobList", &Ia32Machine::GetHobList},
                 {"CreateHob", &Ia32Machine::CreateHob},
                 {"AllocatePool", &Ia32Machine::AllocatePool},
                 {"FfsFindNextVolume", &Ia32Machine::FfsFindNextVolume},
                 {"FfsFindNextFile", &Ia32Machine::FfsFindNextFile},
                 {"FfsFindSectionData", &Ia32Machine::FfsFindSectionData},
                 {"FfsGetFileInfo", &Ia32Machine::FfsGetFileInfo},
                 {"FfsGetVolumeInfo", &Ia32Machine::FfsGetVolumeInfo}};
  if (Slot >= kServiceSlots) return false;
  for (const auto &Entry : kBodies) {
    if (std::strcmp(Entry.Name, kServiceNames[Slot]) == 0) {
      (this->*Entry.Call)(Status);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------- services

bool Ia32Machine::LocatePpi(uint32_t *Status) {
  uint32_t GuidAt = Arg(1), Instance = Arg(2), DescriptorOut = Arg(3), PpiOut = Arg(4);
  EFI_GUID Guid{};
  if (GuidAt != 0 && !Read(GuidAt, &Guid, sizeof(Guid), "LocatePpi GUID")) return false;
  EFI_PEI_PPI_DESCRIPTOR *Descriptor = nullptr;
  VOID *Ppi = nullptr;
  EFI_STATUS S = mPhase.Table()->LocatePpi(mPhase.Services(), GuidAt != 0 ? &Guid : nullptr, Instance,
                                           &Descriptor, PpiOut != 0 ? &Ppi : nullptr);
  *Status = Ia32Status(S);
  if (EFI_ERROR(S)) return true;
  if (Descriptor == nullptr || std::memcmp(Descriptor->Guid, &gDebugMessagePpiGuid, sizeof(EFI_GUID)) != 0) {
    Fault("LocatePpi found a PPI that has no IA-32 form in emulated memory", GuidAt);
    return false;
  }
  if (DescriptorOut != 0 && !Write32(DescriptorOut, kDebugPpiDescriptor, "LocatePpi descriptor"))
    return false;
  return PpiOut == 0 || Write32(PpiOut, kDebugPpi, "LocatePpi PPI");
}

bool Ia32Machine::GetHobList(uint32_t *Status) {
  uint32_t Out = Arg(1);
  VOID *List = nullptr;
  EFI_STATUS S = mPhase.Table()->GetHobList(mPhase.Services(), Out != 0 ? &List : nullptr);
  *Status = Ia32Status(S);
  return EFI_ERROR(S) || Write32(Out, ToGuest(List), "GetHobList HobList");
}

bool Ia32Machine::CreateHob(uint32_t *Status) {
  uint16_t Type = static_cast<uint16_t>(Arg(1)), Length = static_cast<uint16_t>(Arg(2));
  uint32_t Out = Arg(3);
  VOID *Hob = nullptr;
  EFI_STATUS S = mPhase.Table()->CreateHob(mPhase.Services(), Type, Length, Out != 0 ? &Hob : nullptr);
  *Status = Ia32Status(S);
  if (EFI_ERROR(S) || Hob == nullptr) return true;
  // The new HOB took the place of the end HOB, which now follows it.
  size_t Offset = static_cast<const uint8_t *>(Hob) - mHostHobs;
  const auto *Header = static_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  if (!MirrorHobs(Offset, Offset + Header->HobLength + sizeof(EFI_HOB_GENERIC_HEADER))) return false;
  return Write32(Out, ToGuest(Hob), "CreateHob Hob");
}

bool Ia32Machine::AllocatePool(uint32_t *Status) {
  uint32_t Size = Arg(1), Out = Arg(2);
  uint32_t Address = 0;
  if (!PoolFits(Size)) {
    *Status = Ia32Status(EFI_OUT_OF_RESOURCES);
    return true;
  }
  VOID *Buffer = nullptr;
  EFI_STATUS S = mPhase.Table()->AllocatePool(mPhase.Services(), Size, Out != 0 ? &Buffer : nullptr);
  *Status = Ia32Status(S);
  if (EFI_ERROR(S)) return true;
  if (!AllocateGuestPool(Size, &Address)) {
    Fault("cannot map " + std::to_string(Size) + " bytes of emulated pool", 0);
    return false;
  }
  // Fresh pool holds what the phase's pool holds (a fill pattern, not zeros).
  return Write(Address, Buffer, Size, "pool") && Write32(Out, Address, "AllocatePool Buffer");
}

bool Ia32Machine::FfsFindNextVolume(uint32_t *Status) {
  uint32_t Instance = Arg(1), Out = Arg(2);
  EFI_PEI_FV_HANDLE Volume = nullptr;
  EFI_STATUS S = mPhase.Table()->FfsFindNextVolume(mPhase.Services(), Instance, Out != 0 ? &Volume : nullptr);
  *Status = Ia32Status(S);
  if (EFI_ERROR(S)) return true;
  return MirrorVolume(Volume) && Write32(Out, ToGuest(Volume), "FfsFindNextVolume VolumeHandle");
}

bool Ia32Machine::FfsFindNextFile(uint32_t *Status) {
  EFI_FV_FILETYPE Type = static_cast<EFI_FV_FILETYPE>(Arg(1));
  uint32_t Volume = Arg(2), InOut = Arg(3);
  uint32_t Current = 0;
  if (InOut != 0 && !Read32(InOut, &Current, "FfsFindNextFile FileHandle")) return false;
  EFI_PEI_FILE_HANDLE Before = ToHost(Current), File = Before;
  EFI_STATUS S =
      mPhase.Table()->FfsFindNextFile(mPhase.Services(), Type, ToHost(Volume), InOut != 0 ? &File : nullptr);
  *Status = Ia32Status(S);
  return File == Before || Write32(InOut, ToGuest(File), "FfsFindNextFile FileHandle");
}

bool Ia32Machine::FfsFindSectionData(uint32_t *Status) {
  EFI_SECTION_TYPE Type = static_cast<EFI_SECTION_TYPE>(Arg(1));
  uint32_t File = Arg(2), Out = Arg(3);
  VOID *Data = nullptr;
  EFI_STATUS S =
      mPhase.Table()->FfsFindSectionData(mPhase.Services(), Type, ToHost(File), Out != 0 ? &Data : nullptr);
  *Status = Ia32Status(S);
  return EFI_ERROR(S) || Write32(Out, ToGuest(Data), "FfsFindSectionData SectionData");
}

// FfsGetFileInfo and FfsGetVolumeInfo (Handle, Info): the phase fills the
// host structure, and the module gets its IA-32 form.
template <typename HostInfo, typename Service>
bool Ia32Machine::ForwardInfo(Service Get, const char *What, uint32_t *Status) {
  uint32_t Handle = Arg(0), Out = Arg(1);
  HostInfo Info{};
  EFI_STATUS S = Get(ToHost(Handle), Out != 0 ? &Info : nullptr);
  *Status = Ia32Status(S);
  if (EFI_ERROR(S)) return true;
  auto Ia32 = ToIa32(*this, Info);
  return Write(Out, &Ia32, sizeof(Ia32), What);
}

bool Ia32Machine::FfsGetFileInfo(uint32_t *Status) {
  return ForwardInfo<EFI_FV_FILE_INFO>(mPhase.Table()->FfsGetFileInfo, "FfsGetFileInfo FileInfo", Status);
}

bool Ia32Machine::FfsGetVolumeInfo(uint32_t *Status) {
  return ForwardInfo<EFI_FV_INFO>(mPhase.Table()->FfsGetVolumeInfo, "FfsGetVolumeInfo VolumeInfo", Status);
}

// PrintMessage (UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker): the
// platform's PPI formats the message itself, from the module's stack.
void Ia32Machine::PrintMessage() {
  uint32_t Level = Arg(0), FormatAt = Arg(1), Marker = Arg(2);
  std::u16string Wide;
  if (FormatAt != 0 && !ReadString(FormatAt, 1, kMaxFormatLength, &Wide, "PrintMessage format")) return;
  std::string Format(Wide.begin(), Wide.end());
  Ia32VaArgs Args(*this, Marker);
  std::string Text = FormatUefiMessageFrom(FormatAt != 0 ? Format.c_str() : nullptr, Args);
  if (!Faulted()) mDebug.push_back({Level, Format, Text});
}

}  // namespace sim
