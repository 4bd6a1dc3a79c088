// An IA-32 PEI phase for the shipped TE image of a PEI module, on the Unicorn
// CPU emulator. The image's own bytes run in flat 32-bit protected mode with the
// real calling convention (cdecl, arguments on the stack), 32-bit pointers and
// structure layouts, and the PEI services pointer where an IA-32 PEI core keeps
// it: in the four bytes below the IDT base, as a pointer to the cell that holds
// the address of the EFI_PEI_SERVICES table.
//
// The table's slots point at trap stubs (one RET each); a hook on the stubs reads
// the cdecl arguments from the emulated stack, calls the same service of a
// sim::PeiPhase through its host table (HOB list, PPIs, pool, FFS walk, failure
// injection all stay the phase's), copies the results into emulated memory in
// the IA-32 layout and sets EAX; the stub's RET then returns to the module.
// Memory the phase hands out is mirrored into emulated memory:
//
//   0x00010000  GDT (flat code 0x08, flat data 0x10), services cell, IDT
//   0x00011000  EFI_PEI_SERVICES table, debug-message PPI and its descriptor
//   0x00012000  trap stubs (read and execute only)
//   0x00100000  HOB list window (the phase's list, same offsets)
//   0x00200000  PEI pool: each buffer ends where its pages end, an unmapped
//               page after it, so an overrun ends the run
//   0x00800000  stack (grows down from 0x00810000)
//   0x01000000  the module, relocated for this address (linked elsewhere)
//   0x02000000  firmware volumes, mirrored when the phase first hands one out
//
// Everything else is unmapped, the linked base of the image included, so a
// missed relocation or a stray pointer ends the run with a report instead of
// reading something plausible. Data pages are not executable.
#ifndef ZEPHRIN_SIM_IA32_PEI_HOST_H_
#define ZEPHRIN_SIM_IA32_PEI_HOST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/PeiServices.h"
#include "sim/TeLoader.h"

namespace sim {

class Ia32Machine;  // the emulated machine (sim/Ia32Machine.h)

struct Ia32RunLimits {
  uint64_t MaxInstructions = 20'000'000;
  uint64_t MaxMicroseconds = 5'000'000;  // wall clock, host services included
};

// How one run of the entry point ended.
struct Ia32RunReport {
  bool Returned = false;    // returned to its caller with the stack balanced
  UINT32 Status = 0;        // EAX on return (the module's EFI_STATUS)
  std::string Fault;        // why the run ended otherwise; empty when Returned
  UINT32 Address = 0;       // the address the fault concerns, 0 when none
  UINT32 Eip = 0;           // EIP where the run ended
  std::string LastService;  // last service or PPI member the module called
  uint64_t ServiceCalls = 0;
  uint32_t StackBytesUsed = 0;  // deepest stack use below the entry frame

  // "returned 0x0" or "<fault> (address 0x..., EIP 0x..., last service X)".
  std::string Describe() const;
};

class Ia32PeiHost {
 public:
  static constexpr uint32_t kImageLoadBase = 0x01000000;

  // Runs on Phase, which must outlive this host. The phase's HOB list, PPIs,
  // volumes and failure injection are used as they are set up.
  explicit Ia32PeiHost(PeiPhase &Phase, const Ia32RunLimits &Limits = {});
  ~Ia32PeiHost();
  Ia32PeiHost(const Ia32PeiHost &) = delete;
  Ia32PeiHost &operator=(const Ia32PeiHost &) = delete;

  // Loads the TE image at kImageLoadBase. false with the reason in *Error.
  bool Load(const std::vector<uint8_t> &TeFile, std::string *Error);
  const TeLoadedImage &Image() const;

  // Calls the entry point once (FileHandle, PeiServices) and runs it to its
  // return or to the first fault. Afterwards the phase's HOB list holds what the
  // module wrote into its emulated copy.
  Ia32RunReport Run();

  // Messages the module printed through the debug-message PPI, formatted from
  // its emulated stack.
  const std::vector<PeiDebugRecord> &DebugRecords() const;
  std::vector<std::string> DebugLines() const;

 private:
  std::unique_ptr<Ia32Machine> mMachine;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_IA32_PEI_HOST_H_
