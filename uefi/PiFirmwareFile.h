// FFS file and section layout of the PI specification (volume 3).
#ifndef ZEPHRIN_UEFI_PI_FIRMWARE_FILE_H_
#define ZEPHRIN_UEFI_PI_FIRMWARE_FILE_H_

#include "UefiBaseType.h"

typedef UINT8 EFI_FV_FILETYPE;
typedef UINT8 EFI_FFS_FILE_ATTRIBUTES;
typedef UINT8 EFI_FFS_FILE_STATE;
typedef UINT8 EFI_SECTION_TYPE;

#define EFI_FV_FILETYPE_ALL 0x00
#define EFI_FV_FILETYPE_RAW 0x01
#define EFI_FV_FILETYPE_FREEFORM 0x02
#define EFI_FV_FILETYPE_SECURITY_CORE 0x03
#define EFI_FV_FILETYPE_PEI_CORE 0x04
#define EFI_FV_FILETYPE_DXE_CORE 0x05
#define EFI_FV_FILETYPE_PEIM 0x06
#define EFI_FV_FILETYPE_DRIVER 0x07
#define EFI_FV_FILETYPE_APPLICATION 0x09
#define EFI_FV_FILETYPE_FFS_PAD 0xF0

#define FFS_ATTRIB_LARGE_FILE 0x01
#define FFS_ATTRIB_DATA_ALIGNMENT_2 0x02
#define FFS_ATTRIB_FIXED 0x04
#define FFS_ATTRIB_DATA_ALIGNMENT 0x38
#define FFS_ATTRIB_CHECKSUM 0x40

// State bits as written with erase polarity 0; a volume with erase polarity 1
// stores them inverted.
#define EFI_FILE_HEADER_CONSTRUCTION 0x01
#define EFI_FILE_HEADER_VALID 0x02
#define EFI_FILE_DATA_VALID 0x04
#define EFI_FILE_MARKED_FOR_UPDATE 0x08
#define EFI_FILE_DELETED 0x10
#define EFI_FILE_HEADER_INVALID 0x20

// File checksum value of a file whose FFS_ATTRIB_CHECKSUM bit is clear.
#define FFS_FIXED_CHECKSUM 0xAA

#define MAX_FFS_SIZE 0x1000000  // files at or above this size use EFI_FFS_FILE_HEADER2

typedef struct {
  EFI_GUID Name;
  UINT8 HeaderChecksum;  // IntegrityCheck.Checksum.Header
  UINT8 FileChecksum;    // IntegrityCheck.Checksum.File
  EFI_FV_FILETYPE Type;
  EFI_FFS_FILE_ATTRIBUTES Attributes;
  UINT8 Size[3];
  EFI_FFS_FILE_STATE State;
} EFI_FFS_FILE_HEADER;
static_assert(sizeof(EFI_FFS_FILE_HEADER) == 24, "EFI_FFS_FILE_HEADER layout");
static_assert(OFFSET_OF(EFI_FFS_FILE_HEADER, Type) == 18, "EFI_FFS_FILE_HEADER.Type offset");
static_assert(OFFSET_OF(EFI_FFS_FILE_HEADER, Size) == 20, "EFI_FFS_FILE_HEADER.Size offset");
static_assert(OFFSET_OF(EFI_FFS_FILE_HEADER, State) == 23, "EFI_FFS_FILE_HEADER.State offset");

typedef struct {
  EFI_FFS_FILE_HEADER Header;  // Size is 0 and FFS_ATTRIB_LARGE_FILE is set
  UINT64 ExtendedSize;
} EFI_FFS_FILE_HEADER2;
static_assert(sizeof(EFI_FFS_FILE_HEADER2) == 32, "EFI_FFS_FILE_HEADER2 layout");

#define EFI_SECTION_ALL 0x00
#define EFI_SECTION_COMPRESSION 0x01
#define EFI_SECTION_GUID_DEFINED 0x02
#define EFI_SECTION_PE32 0x10
#define EFI_SECTION_TE 0x12
#define EFI_SECTION_DXE_DEPEX 0x13
#define EFI_SECTION_VERSION 0x14
#define EFI_SECTION_USER_INTERFACE 0x15
#define EFI_SECTION_FIRMWARE_VOLUME_IMAGE 0x17
#define EFI_SECTION_FREEFORM_SUBTYPE_GUID 0x18
#define EFI_SECTION_RAW 0x19

typedef struct {
  UINT8 Size[3];
  EFI_SECTION_TYPE Type;
} EFI_COMMON_SECTION_HEADER;
static_assert(sizeof(EFI_COMMON_SECTION_HEADER) == 4, "EFI_COMMON_SECTION_HEADER layout");

typedef struct {
  UINT8 Size[3];  // 0xFFFFFF: the size is in ExtendedSize
  EFI_SECTION_TYPE Type;
  UINT32 ExtendedSize;
} EFI_COMMON_SECTION_HEADER2;
static_assert(sizeof(EFI_COMMON_SECTION_HEADER2) == 8, "EFI_COMMON_SECTION_HEADER2 layout");

#endif  // ZEPHRIN_UEFI_PI_FIRMWARE_FILE_H_
