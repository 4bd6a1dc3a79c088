// Firmware volumes of the simulated platform: each is a handle carrying the PI
// Firmware Volume 2 protocol and a device path whose PIWG firmware-volume node
// names the volume. Files are kept as lists of leaf sections (no encapsulation
// sections: nothing here is compressed or GUID-defined).
#ifndef ZEPHRIN_SIM_FIRMWARE_VOLUMES_H_
#define ZEPHRIN_SIM_FIRMWARE_VOLUMES_H_

#include <memory>
#include <vector>

#include "uefi/Protocol/DevicePath.h"
#include "uefi/Protocol/FirmwareVolume2.h"

namespace sim {

class Platform;

struct FvSection {
  EFI_SECTION_TYPE Type;
  std::vector<UINT8> Data;  // the section's contents, without its header
};

struct FvFile {
  EFI_GUID Name;
  EFI_FV_FILETYPE Type;
  std::vector<FvSection> Sections;
};

// One volume. The protocol is the first member, so a This pointer leads back to
// its volume.
struct FirmwareVolume {
  EFI_FIRMWARE_VOLUME2_PROTOCOL Protocol;
  EFI_GUID FvName;
  std::vector<FvFile> Files;  // GetNextFile order
  EFI_HANDLE Handle = nullptr;
  // Device path: PIWG firmware-volume node, then the end node.
  struct __attribute__((packed)) Path {
    MEDIA_FW_VOL_DEVICE_PATH Volume;
    EFI_DEVICE_PATH_PROTOCOL End;
  } DevicePath;
  UINTN ReadSectionCalls = 0;  // for tests: how often this volume was read
};

class FirmwareVolumes {
 public:
  explicit FirmwareVolumes(Platform &Owner) : mOwner(Owner) {}
  FirmwareVolumes(const FirmwareVolumes &) = delete;
  FirmwareVolumes &operator=(const FirmwareVolumes &) = delete;

  // Creates a volume and installs its protocols on a new handle; nullptr when
  // the handle could not be created (e.g. the same FV name twice).
  FirmwareVolume *Add(const EFI_GUID &FvName, std::vector<FvFile> Files);
  const std::vector<std::unique_ptr<FirmwareVolume>> &All() const { return mVolumes; }
  // The Nth ReadSection call from now (any volume) returns Status.
  void FailReadSection(UINT64 Nth, EFI_STATUS Status) {
    mFailAt = Nth;
    mFailStatus = Status;
  }
  bool InjectedReadFailure(EFI_STATUS *Status);

 private:
  Platform &mOwner;
  std::vector<std::unique_ptr<FirmwareVolume>> mVolumes;
  UINT64 mFailAt = 0;
  EFI_STATUS mFailStatus = EFI_DEVICE_ERROR;
};

// A file with one raw section per buffer, the common shape of data files.
FvFile RawFile(const EFI_GUID &Name, EFI_FV_FILETYPE Type, std::vector<std::vector<UINT8>> RawSections);

}  // namespace sim

#endif  // ZEPHRIN_SIM_FIRMWARE_VOLUMES_H_
