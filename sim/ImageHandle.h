// The image handle a firmware core gives every image it starts: a new handle
// carrying the Loaded Image protocol (which names the firmware volume the image
// came from in DeviceHandle, and its file in FilePath) and the Loaded Image
// Device Path protocol (volume node, file node, end). Used alike for a driver
// loaded from its PE image and for the same driver linked into a host program,
// so both find their volume the same way.
#ifndef ZEPHRIN_SIM_IMAGE_HANDLE_H_
#define ZEPHRIN_SIM_IMAGE_HANDLE_H_

#include <cstdint>
#include <memory>

#include "uefi/Protocol/LoadedImage.h"

namespace sim {

// Where an image was loaded from.
struct ImageOrigin {
  EFI_HANDLE DeviceHandle = nullptr;  // handle of the firmware volume; NULL when none
  EFI_GUID FvName = {};               // name GUID of that volume
  EFI_GUID FileName = {};             // FFS file name of the image
};

class ImageHandle {
 public:
  // Installs both protocols on a new handle through SystemTable's boot services.
  // ImageBase/ImageSize describe the image in memory (NULL/0 for a host build).
  // nullptr when an install fails; *Status tells why.
  static std::unique_ptr<ImageHandle> Install(EFI_SYSTEM_TABLE *SystemTable, const ImageOrigin &Origin,
                                              VOID *ImageBase, uint64_t ImageSize, EFI_STATUS *Status);

  EFI_HANDLE Handle() const { return mHandle; }
  const EFI_LOADED_IMAGE_PROTOCOL &LoadedImage() const { return mLoadedImage; }

  // The interfaces stay installed for the rest of the boot; the platform that
  // holds the handle is torn down with the boot, so nothing is uninstalled here.
  ImageHandle(const ImageHandle &) = delete;
  ImageHandle &operator=(const ImageHandle &) = delete;

 private:
  ImageHandle() = default;

  // Device paths are byte-packed node sequences.
  struct __attribute__((packed)) FilePathNodes {
    MEDIA_FW_VOL_FILEPATH_DEVICE_PATH File;
    EFI_DEVICE_PATH_PROTOCOL End;
  };
  struct __attribute__((packed)) FullPathNodes {
    MEDIA_FW_VOL_DEVICE_PATH Volume;
    MEDIA_FW_VOL_FILEPATH_DEVICE_PATH File;
    EFI_DEVICE_PATH_PROTOCOL End;
  };
  static_assert(sizeof(FilePathNodes) == 24, "file node + end node");
  static_assert(sizeof(FullPathNodes) == 44, "volume node + file node + end node");

  EFI_HANDLE mHandle = nullptr;              // the new image handle
  EFI_LOADED_IMAGE_PROTOCOL mLoadedImage{};  // installed interface
  FilePathNodes mFilePath{};                 // LoadedImage.FilePath
  FullPathNodes mFullPath{};                 // Loaded Image Device Path interface
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_IMAGE_HANDLE_H_
