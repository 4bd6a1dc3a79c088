// Firmware volume layout of the PI specification (volume 3): the volume header,
// its block map and the extended header that carries the volume's name GUID.
#ifndef ZEPHRIN_UEFI_PI_FIRMWARE_VOLUME_H_
#define ZEPHRIN_UEFI_PI_FIRMWARE_VOLUME_H_

#include "UefiBaseType.h"

typedef UINT32 EFI_FVB_ATTRIBUTES_2;

#define EFI_FVH_SIGNATURE SIGNATURE_32('_', 'F', 'V', 'H')
#define EFI_FVH_REVISION 0x02

// Attribute bits used by volumes we build or read.
#define EFI_FVB2_READ_DISABLED_CAP 0x00000001
#define EFI_FVB2_READ_ENABLED_CAP 0x00000002
#define EFI_FVB2_READ_STATUS 0x00000004
#define EFI_FVB2_WRITE_DISABLED_CAP 0x00000008
#define EFI_FVB2_WRITE_ENABLED_CAP 0x00000010
#define EFI_FVB2_WRITE_STATUS 0x00000020
#define EFI_FVB2_LOCK_CAP 0x00000040
#define EFI_FVB2_LOCK_STATUS 0x00000080
#define EFI_FVB2_STICKY_WRITE 0x00000200
#define EFI_FVB2_MEMORY_MAPPED 0x00000400
#define EFI_FVB2_ERASE_POLARITY 0x00000800
#define EFI_FVB2_READ_LOCK_CAP 0x00001000
#define EFI_FVB2_READ_LOCK_STATUS 0x00002000
#define EFI_FVB2_WRITE_LOCK_CAP 0x00004000
#define EFI_FVB2_WRITE_LOCK_STATUS 0x00008000
#define EFI_FVB2_ALIGNMENT_8 0x00030000

typedef struct {
  UINT32 NumBlocks;
  UINT32 Length;
} EFI_FV_BLOCK_MAP_ENTRY;
static_assert(sizeof(EFI_FV_BLOCK_MAP_ENTRY) == 8, "EFI_FV_BLOCK_MAP_ENTRY layout");

typedef struct {
  UINT8 ZeroVector[16];
  EFI_GUID FileSystemGuid;
  UINT64 FvLength;
  UINT32 Signature;
  EFI_FVB_ATTRIBUTES_2 Attributes;
  UINT16 HeaderLength;
  UINT16 Checksum;
  UINT16 ExtHeaderOffset;
  UINT8 Reserved[1];
  UINT8 Revision;
  EFI_FV_BLOCK_MAP_ENTRY BlockMap[1];  // terminated by a {0, 0} entry
} EFI_FIRMWARE_VOLUME_HEADER;
static_assert(sizeof(EFI_FIRMWARE_VOLUME_HEADER) == 64, "EFI_FIRMWARE_VOLUME_HEADER layout");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, FvLength) == 32, "FvLength offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Signature) == 40, "Signature offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, HeaderLength) == 48, "HeaderLength offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, ExtHeaderOffset) == 52, "ExtHeaderOffset offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Revision) == 55, "Revision offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, BlockMap) == 56, "BlockMap offset");

typedef struct {
  EFI_GUID FvName;
  UINT32 ExtHeaderSize;
} EFI_FIRMWARE_VOLUME_EXT_HEADER;
static_assert(sizeof(EFI_FIRMWARE_VOLUME_EXT_HEADER) == 20, "EFI_FIRMWARE_VOLUME_EXT_HEADER layout");

// File system of volumes that hold FFS files (FFS version 2 and 3).
inline constexpr EFI_GUID gEfiFirmwareFileSystem2Guid = {
    0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3}};
inline constexpr EFI_GUID gEfiFirmwareFileSystem3Guid = {
    0x5473C07A, 0x3DCB, 0x4DCA, {0xBD, 0x6F, 0x1E, 0x96, 0x89, 0xE7, 0x34, 0x9A}};

#endif  // ZEPHRIN_UEFI_PI_FIRMWARE_VOLUME_H_
