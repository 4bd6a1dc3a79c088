// EFI_LOADED_IMAGE_PROTOCOL of UEFI 2.x: installed by the image loader on every
// image handle. DeviceHandle names the device (here: the firmware volume) the
// image was loaded from; FilePath is the path of the image on that device.
#ifndef ZEPHRIN_UEFI_PROTOCOL_LOADED_IMAGE_H_
#define ZEPHRIN_UEFI_PROTOCOL_LOADED_IMAGE_H_

#include "../UefiSpec.h"
#include "DevicePath.h"

#define EFI_LOADED_IMAGE_PROTOCOL_REVISION 0x1000

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_UNLOAD)(EFI_HANDLE ImageHandle);

typedef struct {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_IMAGE_UNLOAD Unload;
} EFI_LOADED_IMAGE_PROTOCOL;

#if defined(__x86_64__)
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "EFI_LOADED_IMAGE_PROTOCOL layout");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "DeviceHandle offset");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32, "FilePath offset");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48, "LoadOptionsSize offset");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64, "ImageBase offset");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80, "ImageCodeType offset");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88, "Unload offset");
#endif

inline constexpr EFI_GUID gEfiLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
// The full device path of the image (volume node, file node, end), installed
// beside the Loaded Image protocol on the image handle.
inline constexpr EFI_GUID gEfiLoadedImageDevicePathProtocolGuid = {
    0xBC62157E, 0x3E33, 0x4FEC, {0x99, 0x20, 0x2D, 0x3B, 0x36, 0xD7, 0x50, 0xDF}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_LOADED_IMAGE_H_
