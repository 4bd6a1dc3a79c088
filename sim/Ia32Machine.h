// Inside of Ia32PeiHost (sim/Ia32PeiHost.h): the emulated machine, its memory
// map, the guards that end a run, and the translation between the phase's host
// pointers and emulated addresses. Ia32PeiHost.cpp sets the machine up and runs
// it; Ia32PeiServices.cpp holds the service stubs.
#ifndef ZEPHRIN_SIM_IA32_MACHINE_H_
#define ZEPHRIN_SIM_IA32_MACHINE_H_

#include <unicorn/unicorn.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/Ia32PeiHost.h"

namespace sim {

// The emulated memory map; see the header comment of sim/Ia32PeiHost.h.
namespace ia32 {
inline constexpr uint32_t kSystemPage = 0x00010000;
inline constexpr uint32_t kGdt = kSystemPage;
inline constexpr uint32_t kServicesCell = kSystemPage + 0x40;  // holds the table's address
inline constexpr uint32_t kIdt = kSystemPage + 0x100;          // [kIdt - 4] = kServicesCell
inline constexpr uint32_t kIdtLimit = 256 * 8 - 1;
inline constexpr uint32_t kTablePage = 0x00011000;
inline constexpr uint32_t kServicesTable = kTablePage;
inline constexpr uint32_t kDebugPpi = kTablePage + 0x100;
inline constexpr uint32_t kDebugPpiDescriptor = kTablePage + 0x120;
inline constexpr uint32_t kDebugPpiGuid = kTablePage + 0x130;
inline constexpr uint32_t kOwnFileHandle = kTablePage + 0x200;  // the module's FFS file; not read
inline constexpr uint32_t kTrapPage = 0x00012000;
inline constexpr uint32_t kTrapStride = 16;
inline constexpr uint32_t kHobWindow = 0x00100000;
inline constexpr uint32_t kHobWindowSize = 0x00040000;
inline constexpr uint32_t kPool = 0x00200000;
inline constexpr uint32_t kPoolSize = 0x00100000;
inline constexpr uint32_t kStack = 0x00800000;
inline constexpr uint32_t kStackSize = 0x00010000;
inline constexpr uint32_t kVolumes = 0x02000000;
inline constexpr uint32_t kVolumesEnd = 0x40000000;
// Where a host pointer that lies in nothing the module can see is handed over:
// unmapped, so a module that uses it ends the run.
inline constexpr uint32_t kForeign = 0xDEAD0000;

inline constexpr uint32_t kServiceSlots = 28;  // members after the table header
inline constexpr uint32_t kDebugPpiSlots = 4;  // DEBUG_MESSAGE_PPI members
inline constexpr uint32_t kFirstPpiTrap = kServiceSlots;
inline constexpr uint32_t kExitTrap = kServiceSlots + kDebugPpiSlots;
inline constexpr uint32_t kTrapCount = kExitTrap + 1;
}  // namespace ia32

// "0x" and eight upper-case hex digits, as the run's messages show addresses.
std::string Hex32(uint32_t Value);

class Ia32Machine {
 public:
  Ia32Machine(PeiPhase &Phase, const Ia32RunLimits &Limits);
  ~Ia32Machine();

  bool Load(const std::vector<uint8_t> &TeFile, std::string *Error);
  Ia32RunReport Run();

  PeiPhase &mPhase;
  Ia32RunLimits mLimits;
  uc_engine *mUc = nullptr;
  std::string mSetupError;  // why the machine could not be built, if it could not
  TeLoadedImage mImage;
  bool mLoaded = false;
  std::vector<PeiDebugRecord> mDebug;

  // ---- guards (Ia32PeiHost.cpp)
  // Records the first fault of the run and stops the emulation.
  void Fault(const std::string &Why, uint32_t Address);
  bool Faulted() const { return !mReport.Fault.empty(); }
  uint32_t Reg(int Id);
  void SetReg(int Id, uint32_t Value);

  // ---- emulated memory (Ia32PeiHost.cpp); false after recording a fault
  bool Read(uint32_t Address, void *Out, size_t Size, const char *What);
  bool Write(uint32_t Address, const void *Data, size_t Size, const char *What);
  bool Read32(uint32_t Address, uint32_t *Out, const char *What) { return Read(Address, Out, 4, What); }
  bool Write32(uint32_t Address, uint32_t Value, const char *What) { return Write(Address, &Value, 4, What); }
  // A NUL-terminated string of Unit-byte characters, at most Max of them.
  bool ReadString(uint32_t Address, size_t Unit, size_t Max, std::u16string *Out, const char *What);

  // ---- pointers the phase hands out, and their emulated addresses
  uint32_t ToGuest(const void *Host);
  // nullptr for 0; an address the phase never handed out becomes a host
  // pointer that matches nothing the phase owns.
  void *ToHost(uint32_t Guest);
  // Mirrors the volume that starts at Host, if it is not mirrored yet.
  bool MirrorVolume(const void *Host);
  bool MirrorHobs(size_t From, size_t To);
  void CopyHobsBack();
  bool PoolFits(size_t Size) const;
  bool AllocateGuestPool(size_t Size, uint32_t *Address);

  // ---- service stubs (Ia32PeiServices.cpp)
  void OnTrap(uint32_t Address);
  void FillServiceTables();

 private:
  struct VolumeMirror {
    const uint8_t *Host;
    size_t Size;
    uint32_t Guest;
  };
  bool MapAll();
  bool SetUpCpu();
  bool InstallHooks();
  bool StartHobMirror();
  uint32_t StackDepth();
  bool CallService(uint32_t Slot, uint32_t *Status);
  uint32_t Arg(uint32_t Index);
  bool CheckReturnAddress(const char *Service);

  // Service bodies: read the cdecl arguments, call the phase, write results.
  bool LocatePpi(uint32_t *Status);
  bool GetHobList(uint32_t *Status);
  bool CreateHob(uint32_t *Status);
  bool AllocatePool(uint32_t *Status);
  bool FfsFindNextVolume(uint32_t *Status);
  bool FfsFindNextFile(uint32_t *Status);
  bool FfsFindSectionData(uint32_t *Status);
  bool FfsGetFileInfo(uint32_t *Status);
  bool FfsGetVolumeInfo(uint32_t *Status);
  template <typename HostInfo, typename Service>
  bool ForwardInfo(Service Get, const char *What, uint32_t *Status);
  void PrintMessage();

  Ia32RunReport mReport;
  const uint8_t *mHostHobs = nullptr;
  size_t mHobUsed = 0;  // bytes of the list up to and including the end HOB
  uint32_t mPoolNext = ia32::kPool;
  std::vector<VolumeMirror> mVolumes;
  uint32_t mVolumeNext = ia32::kVolumes;
  uint32_t mEntryEsp = 0;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_IA32_MACHINE_H_
