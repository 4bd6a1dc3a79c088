// The simulated PEI phase: a real EFI_PEI_SERVICES table whose services are
// EFIAPI functions of the host build, so a PEI module compiled for the host calls
// it exactly as it calls a PEI core on a board. It owns a HOB list that grows
// with CreateHob, installed PPIs (among them a debug-message PPI that records
// what the module prints), PEI pool, and firmware volumes built as PI images
// (sim/FvImage.h) that the FFS services walk.
//
// The services find their PeiPhase through one process-wide pointer: the newest
// live PeiPhase is current. Every slot of the table is filled; services this
// phase does not model return EFI_UNSUPPORTED.
#ifndef ZEPHRIN_SIM_PEI_SERVICES_H_
#define ZEPHRIN_SIM_PEI_SERVICES_H_

#include <cstdarg>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/FvImage.h"
#include "sim/HobList.h"
#include "uefi/PiPeiServices.h"
#include "uefi/Ppi/DebugMessage.h"

namespace sim {

// The services a test can make fail.
enum class PeiService {
  LocatePpi,
  GetHobList,
  CreateHob,
  AllocatePool,
  FfsFindNextVolume,
  FfsGetVolumeInfo,
  FfsFindNextFile,
  FfsGetFileInfo,
  FfsFindSectionData,
};

// One message handed to the debug-message PPI, with the text the PPI printed.
struct PeiDebugRecord {
  UINTN ErrorLevel = 0;
  std::string Format;
  std::string Text;
};

struct PeiPhaseOptions {
  // Room of the HOB list, the handed-over list included; CreateHob fails with
  // EFI_OUT_OF_RESOURCES when a HOB and the end-of-list HOB no longer fit.
  size_t HobListCapacity = 0x10000;
  // The platform's debug-message PPI is installed from the start.
  bool InstallDebugMessagePpi = true;
};

class PeiPhase {
 public:
  explicit PeiPhase(const HobListBuilder &Hobs = HobListBuilder(), const PeiPhaseOptions &Options = {});
  ~PeiPhase();
  PeiPhase(const PeiPhase &) = delete;
  PeiPhase &operator=(const PeiPhase &) = delete;

  static PeiPhase *Current();

  // What a PEI module's entry point receives.
  const EFI_PEI_SERVICES **Services() { return &mTablePointer; }
  EFI_PEI_SERVICES *Table() { return &mTable; }

  // PPIs, found by LocatePpi in install order per GUID.
  void InstallPpi(const EFI_GUID &Guid, VOID *Ppi);

  // A volume the core knows, in FfsFindNextVolume order. false, with *Error
  // saying why, when the image is not a sound PI volume.
  bool AddVolume(const std::vector<UINT8> &Image, std::string *Error);

  // The Nth AllocatePool call from now (1 = the next) fails; 0 switches it off.
  void FailAllocation(UINT64 Nth) { mFailAllocationAt = Nth; }
  // Every call of Service after the next Successes calls returns Status.
  void FailService(PeiService Service, EFI_STATUS Status, UINT64 Successes = 0);
  UINT64 Calls(PeiService Service) const;
  // FfsFindSectionData hands out Pointer instead of the section's data (a core
  // that gets it wrong), to show the module bounds what it reads by the file.
  void OverrideSectionData(VOID *Pointer) { mSectionOverride = Pointer; }

  UINTN PoolBytes() const { return mPoolBytes; }

  const UINT8 *HobList() const { return reinterpret_cast<const UINT8 *>(mHobs.get()); }
  // HOBs made by CreateHob, in creation order.
  const std::vector<const EFI_HOB_GENERIC_HEADER *> &CreatedHobs() const { return mCreated; }
  // Lengths requested from CreateHob, before rounding.
  const std::vector<UINT16> &RequestedHobLengths() const { return mRequestedLengths; }
  // Every GUID-extension HOB named Name in the list, in list order.
  std::vector<const EFI_HOB_GUID_TYPE *> GuidHobs(const EFI_GUID &Name) const;

  const std::vector<PeiDebugRecord> &DebugRecords() const { return mDebug; }
  std::vector<std::string> DebugLines() const;

  // Service bodies (called by the EFIAPI table functions).
  EFI_STATUS DoLocatePpi(const EFI_GUID *Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR **Descriptor,
                         VOID **Ppi);
  EFI_STATUS DoCreateHob(UINT16 Type, UINT16 Length, VOID **Hob);
  EFI_STATUS DoAllocatePool(UINTN Size, VOID **Buffer);
  EFI_STATUS DoFfsFindNextVolume(UINTN Instance, EFI_PEI_FV_HANDLE *VolumeHandle);
  EFI_STATUS DoFfsGetVolumeInfo(EFI_PEI_FV_HANDLE VolumeHandle, EFI_FV_INFO *VolumeInfo);
  EFI_STATUS DoFfsFindNextFile(EFI_FV_FILETYPE SearchType, EFI_PEI_FV_HANDLE VolumeHandle,
                               EFI_PEI_FILE_HANDLE *FileHandle);
  EFI_STATUS DoFfsGetFileInfo(EFI_PEI_FILE_HANDLE FileHandle, EFI_FV_FILE_INFO *FileInfo);
  EFI_STATUS DoFfsFindSectionData(EFI_SECTION_TYPE SectionType, EFI_PEI_FILE_HANDLE FileHandle,
                                  VOID **SectionData);
  void RecordDebug(UINTN ErrorLevel, const CHAR8 *Format, va_list Marker);
  // The forced status of Service for this call, or EFI_SUCCESS; counts the call.
  EFI_STATUS Enter(PeiService Service);

 private:
  struct Volume {
    std::vector<UINT8> Image;
    std::optional<EFI_GUID> FvName;
    std::vector<FvFileView> Files;
    std::vector<std::vector<FvSectionView>> Sections;  // per file
  };
  struct Forced {
    EFI_STATUS Status;
    UINT64 Successes;
  };
  struct InstalledPpi {
    EFI_GUID Guid;
    EFI_PEI_PPI_DESCRIPTOR Descriptor;
  };

  Volume *VolumeOf(EFI_PEI_FV_HANDLE Handle);
  // The volume and index of the file whose header is at Handle.
  bool FindFile(EFI_PEI_FILE_HANDLE Handle, Volume **Owner, size_t *Index);
  size_t EndOfListOffset() const;

  PeiPhase *mPrevious = nullptr;
  PeiPhaseOptions mOptions;
  EFI_PEI_SERVICES mTable{};
  const EFI_PEI_SERVICES *mTablePointer = &mTable;
  DEBUG_MESSAGE_PPI mDebugPpi{};
  std::unique_ptr<UINT64[]> mHobs;  // 8-byte aligned, as HOBs are
  std::vector<const EFI_HOB_GENERIC_HEADER *> mCreated;
  std::vector<UINT16> mRequestedLengths;
  std::vector<std::unique_ptr<InstalledPpi>> mPpis;
  std::vector<std::unique_ptr<Volume>> mVolumes;
  std::vector<std::unique_ptr<UINT64[]>> mPool;
  UINTN mPoolBytes = 0;
  UINT64 mFailAllocationAt = 0;
  std::map<PeiService, Forced> mForced;
  std::map<PeiService, UINT64> mCalls;
  VOID *mSectionOverride = nullptr;
  std::vector<PeiDebugRecord> mDebug;
};

// Formats a message the way the debug-message PPI prints it: the UEFI format
// conventions ("%a" ASCII, "%s" UCS-2, "%g" GUID, "%r" status, "l" for 64-bit
// integers, upper-case hexadecimal).
std::string FormatUefiMessage(const char *Format, va_list Marker);

}  // namespace sim

#endif  // ZEPHRIN_SIM_PEI_SERVICES_H_
