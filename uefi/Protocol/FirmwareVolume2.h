// Firmware Volume 2 protocol of the PI specification (volume 3): file
// enumeration and section reads of one firmware volume.
#ifndef ZEPHRIN_UEFI_PROTOCOL_FIRMWARE_VOLUME2_H_
#define ZEPHRIN_UEFI_PROTOCOL_FIRMWARE_VOLUME2_H_

#include "../PiFirmwareFile.h"
#include "../UefiSpec.h"

typedef UINT64 EFI_FV_ATTRIBUTES;
typedef UINT32 EFI_FV_FILE_ATTRIBUTES;
typedef UINT32 EFI_FV_WRITE_POLICY;

#define EFI_FV_FILE_ATTRIB_ALIGNMENT 0x0000001F
#define EFI_FV_FILE_ATTRIB_FIXED 0x00000100
#define EFI_FV_FILE_ATTRIB_MEMORY_MAPPED 0x00000200

typedef struct {
  EFI_GUID *NameGuid;
  EFI_FV_FILETYPE Type;
  EFI_FV_FILE_ATTRIBUTES FileAttributes;
  VOID *Buffer;
  UINT32 BufferSize;
} EFI_FV_WRITE_FILE_DATA;

typedef struct _EFI_FIRMWARE_VOLUME2_PROTOCOL EFI_FIRMWARE_VOLUME2_PROTOCOL;

struct _EFI_FIRMWARE_VOLUME2_PROTOCOL {
  EFI_STATUS(EFIAPI *GetVolumeAttributes)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, EFI_FV_ATTRIBUTES *FvAttributes);
  EFI_STATUS(EFIAPI *SetVolumeAttributes)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, EFI_FV_ATTRIBUTES *FvAttributes);
  EFI_STATUS(EFIAPI *ReadFile)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, VOID **Buffer, UINTN *BufferSize,
   EFI_FV_FILETYPE *FoundType, EFI_FV_FILE_ATTRIBUTES *FileAttributes, UINT32 *AuthenticationStatus);
  // *Buffer NULL: the protocol allocates the section from pool and the caller frees it.
  EFI_STATUS(EFIAPI *ReadSection)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, EFI_SECTION_TYPE SectionType,
   UINTN SectionInstance, VOID **Buffer, UINTN *BufferSize, UINT32 *AuthenticationStatus);
  EFI_STATUS(EFIAPI *WriteFile)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, UINT32 NumberOfFiles, EFI_FV_WRITE_POLICY WritePolicy,
   EFI_FV_WRITE_FILE_DATA *FileData);
  // Key is KeySize bytes, zero-filled before the first call; *FileType 0 matches every type.
  EFI_STATUS(EFIAPI *GetNextFile)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, VOID *Key, EFI_FV_FILETYPE *FileType, EFI_GUID *NameGuid,
   EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size);
  UINT32 KeySize;
  EFI_HANDLE ParentHandle;
  EFI_STATUS(EFIAPI *GetInfo)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *InformationType, UINTN *BufferSize,
   VOID *Buffer);
  EFI_STATUS(EFIAPI *SetInfo)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *InformationType, UINTN BufferSize,
   const VOID *Buffer);
};

#if defined(__x86_64__)
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME2_PROTOCOL, ReadSection) == 24, "ReadSection slot");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME2_PROTOCOL, GetNextFile) == 40, "GetNextFile slot");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME2_PROTOCOL, KeySize) == 48, "KeySize offset");
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME2_PROTOCOL, ParentHandle) == 56, "ParentHandle offset");
static_assert(sizeof(EFI_FIRMWARE_VOLUME2_PROTOCOL) == 80, "EFI_FIRMWARE_VOLUME2_PROTOCOL layout");
#elif defined(__i386__)
static_assert(OFFSET_OF(EFI_FIRMWARE_VOLUME2_PROTOCOL, KeySize) == 24, "KeySize offset");
static_assert(sizeof(EFI_FIRMWARE_VOLUME2_PROTOCOL) == 40, "EFI_FIRMWARE_VOLUME2_PROTOCOL layout");
#endif

inline constexpr EFI_GUID gEfiFirmwareVolume2ProtocolGuid = {
    0x220E73B6, 0x6BDB, 0x4413, {0x84, 0x05, 0xB9, 0x74, 0xB1, 0x08, 0x61, 0x9A}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_FIRMWARE_VOLUME2_H_
