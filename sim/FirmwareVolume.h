// A firmware volume of the simulated platform: an FV image in memory behind the
// Firmware Volume 2 protocol (GetNextFile, ReadSection) and a device path whose
// PIWG firmware-volume node names the volume, both installed on one handle of the
// platform's protocol database, as a DXE core publishes every volume it finds.
//
// ReadSection allocates the section buffer from the platform's boot-services pool,
// so the caller frees it with FreePool and pool accounting and failure injection
// see it like any other allocation.
#ifndef ZEPHRIN_SIM_FIRMWARE_VOLUME_H_
#define ZEPHRIN_SIM_FIRMWARE_VOLUME_H_

#include <optional>
#include <vector>

#include "sim/FvImage.h"
#include "uefi/Protocol/FirmwareVolume2.h"

namespace sim {

class Platform;

// A device path of one PIWG firmware-volume node and the end node.
std::vector<UINT8> BuildFvDevicePath(const EFI_GUID &FvName);

class FirmwareVolume {
 public:
  // The image is parsed at once; Valid() tells whether it is a volume.
  explicit FirmwareVolume(std::vector<UINT8> Image);
  FirmwareVolume(const FirmwareVolume &) = delete;
  FirmwareVolume &operator=(const FirmwareVolume &) = delete;

  bool Valid() const { return mValid; }
  const FvImageReader &Reader() const { return mReader; }
  EFI_FIRMWARE_VOLUME2_PROTOCOL *Protocol() { return &mInstance.Protocol; }

  // Installs the protocol and a device path naming the volume by its own FV name
  // (or by Name when given) on a new handle of the platform; returns the handle.
  EFI_HANDLE Install(Platform &Owner, std::optional<EFI_GUID> Name = std::nullopt);
  // The same with the device path given as bytes (empty: no device path at all).
  EFI_HANDLE InstallWithDevicePath(Platform &Owner, std::vector<UINT8> DevicePath);

  // From now on every ReadSection fails with Status (0 switches it off).
  void FailReadSection(EFI_STATUS Status) { mReadSectionFailure = Status; }
  UINTN ReadSectionCalls() const { return mReadSectionCalls; }
  UINTN GetNextFileCalls() const { return mGetNextFileCalls; }

 private:
  // The protocol first, so that This leads back to the volume.
  struct Instance {
    EFI_FIRMWARE_VOLUME2_PROTOCOL Protocol;
    FirmwareVolume *Owner;
  };
  // What GetNextFile keeps in the caller's key buffer.
  struct FileKey {
    UINT64 NextFile;  // index into the reader's file list
  };

  static FirmwareVolume *From(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This);
  static EFI_STATUS EFIAPI GetNextFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, VOID *Key,
                                       EFI_FV_FILETYPE *FileType, EFI_GUID *NameGuid,
                                       EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size);
  static EFI_STATUS EFIAPI ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid,
                                       EFI_SECTION_TYPE SectionType, UINTN SectionInstance, VOID **Buffer,
                                       UINTN *BufferSize, UINT32 *AuthenticationStatus);
  EFI_STATUS CopySection(const FvSectionView &Section, VOID **Buffer, UINTN *BufferSize);

  std::vector<UINT8> mImage;
  FvImageReader mReader;  // reads mImage, declared after it
  bool mValid = false;
  Instance mInstance{};
  std::vector<UINT8> mDevicePath;
  EFI_STATUS mReadSectionFailure = EFI_SUCCESS;
  UINTN mReadSectionCalls = 0;
  UINTN mGetNextFileCalls = 0;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_FIRMWARE_VOLUME_H_
