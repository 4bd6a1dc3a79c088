// Device paths of UEFI 2.x: the generic node header, the end node and the two
// PIWG media nodes (PI volume 3) that name a firmware volume and a file in it.
// Nodes are byte-packed and may sit at any alignment inside a path.
#ifndef ZEPHRIN_UEFI_PROTOCOL_DEVICE_PATH_H_
#define ZEPHRIN_UEFI_PROTOCOL_DEVICE_PATH_H_

#include "../UefiSpec.h"

struct _EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];  // whole node, header included, little-endian
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "EFI_DEVICE_PATH_PROTOCOL layout");

#define MEDIA_DEVICE_PATH 0x04
#define MEDIA_PIWG_FW_FILE_DP 0x06
#define MEDIA_PIWG_FW_VOL_DP 0x07
#define END_DEVICE_PATH_TYPE 0x7F
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF

// Firmware file node: the FFS file name of the image.
typedef struct {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvFileName;
} MEDIA_FW_VOL_FILEPATH_DEVICE_PATH;
static_assert(sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH) == 20, "MEDIA_FW_VOL_FILEPATH_DEVICE_PATH layout");
static_assert(OFFSET_OF(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH, FvFileName) == 4, "FvFileName offset");

// Firmware volume node: the FV name GUID of the volume.
typedef struct {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvName;
} MEDIA_FW_VOL_DEVICE_PATH;
static_assert(sizeof(MEDIA_FW_VOL_DEVICE_PATH) == 20, "MEDIA_FW_VOL_DEVICE_PATH layout");
static_assert(OFFSET_OF(MEDIA_FW_VOL_DEVICE_PATH, FvName) == 4, "FvName offset");

inline constexpr EFI_GUID gEfiDevicePathProtocolGuid = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_DEVICE_PATH_H_
