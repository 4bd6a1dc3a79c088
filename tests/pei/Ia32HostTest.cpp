// The IA-32 PEI host on tiny hand-assembled TE images: how the machine is set
// up (relocations applied, the services pointer below the IDT, trap stubs), and
// every guard that ends a run, each with its exact report. The images are made
// here with a writer of the test's own, linked at the linked base of the real
// module so that a missed relocation reads unmapped memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/Ia32PeiHost.h"
#include "sim/PeiServices.h"
#include "uefi/Ppi/DebugMessage.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLinkedBase = 0x00400000;
constexpr uint16_t kStripped = 0x80;
constexpr uint32_t kCodeRva = 0x100;
constexpr uint32_t kLoadBase = sim::Ia32PeiHost::kImageLoadBase;

void Put16(Bytes *B, size_t At, uint16_t V) {
  std::memcpy(&(*B)[At], &V, 2);
}
void Put32(Bytes *B, size_t At, uint32_t V) {
  std::memcpy(&(*B)[At], &V, 4);
}

void PutSection(Bytes *Te, size_t At, const char *Name, uint32_t Rva, uint32_t Size, uint32_t Flags) {
  std::memcpy(&(*Te)[At], Name, std::strlen(Name));
  Put32(Te, At + 8, Size);   // VirtualSize
  Put32(Te, At + 12, Rva);   // VirtualAddress
  Put32(Te, At + 16, Size);  // SizeOfRawData
  Put32(Te, At + 20, Rva);   // PointerToRawData: runs in place
  Put32(Te, At + 36, Flags);
}

// A TE image with Code at RVA 0x100 (also the entry point) and a relocation
// block with one HIGHLOW entry per offset in Fixups.
Bytes TinyTe(Bytes Code, const std::vector<uint16_t> &Fixups) {
  Code.resize((Code.size() + 31) / 32 * 32, 0xCC);
  Bytes Reloc(8);
  Put32(&Reloc, 0, kCodeRva);
  for (uint16_t Offset : Fixups) {
    Reloc.push_back(static_cast<uint8_t>(Offset));
    Reloc.push_back(static_cast<uint8_t>(0x30 | (Offset >> 8)));
  }
  if (Reloc.size() % 4 != 0) Reloc.insert(Reloc.end(), 2, 0);  // ABSOLUTE padding
  Put32(&Reloc, 4, static_cast<uint32_t>(Reloc.size()));
  const uint32_t RelocRva = kCodeRva + static_cast<uint32_t>(Code.size());
  const size_t Shift = kStripped - 40;  // RVA minus TE file offset
  Bytes Te(kCodeRva - Shift, 0);
  Put16(&Te, 0, 0x5A56);
  Put16(&Te, 2, 0x014C);
  Te[4] = 2;
  Te[5] = 11;
  Put16(&Te, 6, kStripped);
  Put32(&Te, 8, kCodeRva);
  Put32(&Te, 12, kCodeRva);
  Put32(&Te, 16, kLinkedBase);
  Put32(&Te, 24, RelocRva);
  Put32(&Te, 28, static_cast<uint32_t>(Reloc.size()));
  PutSection(&Te, 40, ".text", kCodeRva, static_cast<uint32_t>(Code.size()), 0x60000020);
  PutSection(&Te, 80, ".reloc", RelocRva, static_cast<uint32_t>(Reloc.size()), 0x42000040);
  Te.insert(Te.end(), Code.begin(), Code.end());
  Te.insert(Te.end(), Reloc.begin(), Reloc.end());
  return Te;
}

Bytes Le32(uint32_t V) {
  return {static_cast<uint8_t>(V), static_cast<uint8_t>(V >> 8), static_cast<uint8_t>(V >> 16),
          static_cast<uint8_t>(V >> 24)};
}

Bytes Cat(std::initializer_list<Bytes> Parts) {
  Bytes All;
  for (const Bytes &Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

// The services table from the entry point's second argument, into EAX.
const Bytes kLoadTable = {0x8B, 0x44, 0x24, 0x08, 0x8B, 0x00};  // mov eax,[esp+8]; mov eax,[eax]

std::string Hex(uint32_t V) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08X", V);
  return Text;
}

struct GuardCase {
  const char *Name;
  Bytes Code;
  std::vector<uint16_t> Fixups;
  sim::Ia32RunLimits Limits;
  std::string Report;  // Describe() of the run
};

void PrintTo(const GuardCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class Ia32Guard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Ia32Guard, EndsTheRunWithItsReport) {
  const GuardCase &Case = GetParam();
  sim::PeiPhase Phase;
  sim::Ia32PeiHost Host(Phase, Case.Limits);
  std::string Error;
  ASSERT_TRUE(Host.Load(TinyTe(Case.Code, Case.Fixups), &Error)) << Error;
  EXPECT_EQ(Host.Run().Describe(), Case.Report);
}

sim::Ia32RunLimits Limits(uint64_t Instructions, uint64_t Microseconds) {
  sim::Ia32RunLimits L;
  L.MaxInstructions = Instructions;
  L.MaxMicroseconds = Microseconds;
  return L;
}

const uint32_t kEntry = kLoadBase + kCodeRva;

const GuardCase kGuardCases[] = {
    // mov eax,[data]; ret; the address is linked for 0x400000 and relocated.
    {"RelocatedAbsoluteRead",
     Cat({{0xA1}, Le32(kLinkedBase + kCodeRva + 8), {0xC3, 0xCC, 0xCC}, Le32(0x5EC7E7A5)}),
     {1},
     {},
     "returned 0x5EC7E7A5"},
    // The same without its relocation entry reads where the image was linked.
    {"MissedRelocationReadsUnmappedMemory",
     Cat({{0xA1}, Le32(kLinkedBase + kCodeRva + 8), {0xC3, 0xCC, 0xCC}, Le32(0x5EC7E7A5)}),
     {},
     {},
     "read of 4 bytes at " + Hex(kLinkedBase + kCodeRva + 8) + ", which is not mapped (address " +
         Hex(kLinkedBase + kCodeRva + 8) + ", EIP " + Hex(kEntry) + ", last service none)"},
    // SIDT, the pointer below the IDT, GetHobList through the table, first HOB's header.
    {"ServicesPointerBelowIdtReachesGetHobList",
     {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x10,        // push ebp; mov ebp,esp; sub esp,16
      0x0F, 0x01, 0x0C, 0x24,                    // sidt [esp]
      0x8B, 0x44, 0x24, 0x02, 0x8B, 0x40, 0xFC,  // mov eax,[esp+2]; mov eax,[eax-4]
      0x8D, 0x4C, 0x24, 0x08, 0x51, 0x50,        // lea ecx,[esp+8]; push ecx; push eax
      0x8B, 0x00, 0xFF, 0x50, 0x30,              // mov eax,[eax]; call [eax+0x30] (GetHobList)
      0x83, 0xC4, 0x08, 0x85, 0xC0, 0x75, 0x06,  // add esp,8; test eax,eax; jnz done
      0x8B, 0x44, 0x24, 0x08, 0x8B, 0x00,        // mov eax,[esp+8]; mov eax,[eax]
      0xC9, 0xC3},                               // done: leave; ret
     {},
     {},
     "returned 0x00380001"},  // PHIT: type 1, length 56
    // The image runs in place, as from flash: its own pages take no writes.
    {"WriteIntoTheImage",
     Cat({{0xC7, 0x05}, Le32(kLinkedBase + kCodeRva + 12), Le32(1), {0xC3, 0xCC}, Le32(0)}),
     {2},
     {},
     "write of 4 bytes at " + Hex(kEntry + 12) + ", which the page does not allow (address " +
         Hex(kEntry + 12) + ", EIP " + Hex(kEntry) + ", last service none)"},
    // AllocatePool (32 bytes) through the table, then a read just past the buffer.
    {"PoolOverrunHitsTheGuardPage",
     {0x8B, 0x4C, 0x24, 0x08, 0x8B, 0x01,  // mov ecx,[esp+8] (PeiServices); mov eax,[ecx]
      0x83, 0xEC, 0x04, 0x54, 0x6A, 0x20,  // sub esp,4; push esp (&Buffer); push 32
      0x51, 0xFF, 0x50, 0x4C,              // push ecx; call [eax+0x4C] (AllocatePool)
      0x83, 0xC4, 0x0C, 0x58,              // add esp,12; pop eax (Buffer)
      0x8B, 0x40, 0x20, 0xC3},             // mov eax,[eax+32]; ret
     {},
     {},
     "read of 4 bytes at 0x00201000, which is not mapped (address 0x00201000, EIP " + Hex(kEntry + 20) +
         ", last service AllocatePool)"},
    {"EndlessLoopHitsInstructionLimit",
     {0xEB, 0xFE},
     {},
     Limits(100000, 5000000),
     "instruction limit of 100000 reached (EIP " + Hex(kEntry) + ", last service none)"},
    {"EndlessLoopHitsWallClockLimit",
     {0xEB, 0xFE},
     {},
     Limits(0, 20000),
     "wall-clock limit of 20000 us reached (EIP " + Hex(kEntry) + ", last service none)"},
    {"UnmappedWrite",
     {0xC7, 0x05, 0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},  // mov dword [0x1000], 1
     {},
     {},
     "write of 4 bytes at 0x00001000, which is not mapped (address 0x00001000, EIP " + Hex(kEntry) +
         ", last service none)"},
    {"UnknownServiceTraps",
     Cat({kLoadTable, {0xFF, 0x50, 0x18, 0xC3}}),  // call [eax+0x18] (InstallPpi)
     {},
     {},
     "InstallPpi is not provided to emulated code (address 0x00012000, EIP 0x00012000, last service "
     "InstallPpi)"},
    {"ServiceReturningOutsideTheModule",
     Cat({kLoadTable, {0x68}, Le32(0x12345678), {0xFF, 0x60, 0x30}}),  // push ret; jmp [eax+0x30]
     {},
     {},
     "GetHobList would return to 0x12345678, outside the module's code (address 0x12345678, EIP "
     "0x00012060, last service GetHobList)"},
    {"ReturnWithUnbalancedStack",
     {0x59, 0x6A, 0x01, 0x6A, 0x02, 0xFF, 0xE1},  // pop ecx; push 1; push 2; jmp ecx
     {},
     {},
     "entry point returned with ESP 0x0080FFE0 instead of 0x0080FFE8 (EIP 0x00012200, last service none)"},
    {"ExecutingTheStack",
     {0xFF, 0xE4},  // jmp esp
     {},
     {},
     "instruction fetch of 1 bytes at 0x0080FFE4, which the page does not allow (address 0x0080FFE4, EIP "
     "0x0080FFE4, last service none)"},
    {"UndefinedInstruction",
     {0x0F, 0x0B},  // ud2
     {},
     {},
     "invalid instruction (EIP " + Hex(kEntry) + ", last service none)"},
};

INSTANTIATE_TEST_SUITE_P(Runs, Ia32Guard, ::testing::ValuesIn(kGuardCases),
                         [](const ::testing::TestParamInfo<GuardCase> &Info) { return Info.param.Name; });

// Emulated code assembled here with absolute references into its own data,
// each of which gets a HIGHLOW relocation.
class CodeWriter {
 public:
  static constexpr uint32_t kDataAt = 0xA0;  // code stays below, data from here

  CodeWriter &Emit(const Bytes &Part) {
    Code.insert(Code.end(), Part.begin(), Part.end());
    return *this;
  }
  // push imm32 of the linked address of data at DataOffset.
  CodeWriter &PushData(uint32_t DataOffset) {
    Code.push_back(0x68);
    Fixups.push_back(static_cast<uint16_t>(Code.size()));
    return Emit(Le32(kLinkedBase + kCodeRva + kDataAt + DataOffset));
  }
  // The code followed by Data at kDataAt.
  Bytes Image(const Bytes &Data) const {
    Bytes All = Code;
    All.resize(kDataAt, 0xCC);
    All.insert(All.end(), Data.begin(), Data.end());
    return TinyTe(All, Fixups);
  }

  Bytes Code;
  std::vector<uint16_t> Fixups;
};

// LocatePpi of the debug-message PPI, then PrintMessage with a VA_LIST into the
// IA-32 stack: 4-byte slots, 8 for "%lx", 32-bit status, pointers into the image.
TEST(Ia32DebugMessagePpi, FormatsFromTheEmulatedStack) {
  const std::string Format = "%a %d %lx %r %s %g|\n";
  Bytes Data(Format.begin(), Format.end());
  Data.resize(0x20, 0);
  const uint32_t Text = 0x20, Wide = 0x28, Guid = 0x30;
  Data.resize(0x40, 0);
  std::memcpy(&Data[Text], "abc", 4);
  std::memcpy(&Data[Wide], u"wd", 6);
  std::memcpy(&Data[Guid], &gDebugMessagePpiGuid, 16);

  CodeWriter W;
  W.Emit({0x8B, 0x4C, 0x24, 0x08, 0x8B, 0x01})  // mov ecx,[esp+8]; mov eax,[ecx]
      .Emit({0x83, 0xEC, 0x04, 0x54})           // sub esp,4; push esp (&Ppi)
      .Emit({0x6A, 0x00, 0x6A, 0x00})           // push 0 (Descriptor); push 0 (Instance)
      .PushData(Guid)
      .Emit({0x51, 0xFF, 0x50, 0x20})               // push ecx; call [eax+0x20] (LocatePpi)
      .Emit({0x83, 0xC4, 0x14, 0x5A})               // add esp,20; pop edx (Ppi)
      .PushData(Guid)                               // %g
      .PushData(Wide)                               // %s
      .Emit(Cat({{0x68}, Le32(0x8000000E)}))        // %r EFI_NOT_FOUND
      .Emit(Cat({{0x68}, Le32(0x12345678)}))        // %lx, high half
      .Emit(Cat({{0x68}, Le32(0x9ABCDEF0)}))        // %lx, low half
      .Emit({0x6A, 0xFB})                           // %d -5
      .PushData(Text)                               // %a
      .Emit({0x89, 0xE0, 0x50})                     // mov eax,esp (Marker); push eax
      .PushData(0)                                  // Format
      .Emit(Cat({{0x68}, Le32(0x80000000)}))        // DEBUG_ERROR
      .Emit({0xFF, 0x52, 0x0C})                     // call [edx+12] (PrintMessage)
      .Emit({0x83, 0xC4, 0x28, 0x31, 0xC0, 0xC3});  // add esp,40; xor eax,eax; ret
  ASSERT_LT(W.Code.size(), CodeWriter::kDataAt);

  sim::PeiPhase Phase;
  sim::Ia32PeiHost Host(Phase);
  std::string Error;
  ASSERT_TRUE(Host.Load(W.Image(Data), &Error)) << Error;
  EXPECT_EQ(Host.Run().Describe(), "returned 0x00000000");
  ASSERT_EQ(Host.DebugRecords().size(), 1u);
  EXPECT_EQ(Host.DebugRecords()[0].ErrorLevel, 0x80000000u);
  EXPECT_EQ(Host.DebugRecords()[0].Format, Format);
  EXPECT_EQ(Host.DebugRecords()[0].Text,
            "abc -5 123456789ABCDEF0 Not Found wd 47F1B6DF-CF35-46A7-B284-7D4DBA5FF434|\n");
  EXPECT_EQ(Phase.Calls(sim::PeiService::LocatePpi), 1u);
}

}  // namespace
