// EFI_SIMPLE_FILE_SYSTEM_PROTOCOL and EFI_FILE_PROTOCOL of UEFI 2.x (chapter
// "File Protocols"): a volume opened on a device handle, and files opened
// relative to its root directory.
#ifndef ZEPHRIN_UEFI_PROTOCOL_SIMPLE_FILE_SYSTEM_H_
#define ZEPHRIN_UEFI_PROTOCOL_SIMPLE_FILE_SYSTEM_H_

#include "../UefiBaseType.h"

#define EFI_FILE_PROTOCOL_REVISION 0x00010000
#define EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_REVISION 0x00010000

// Open modes (only these three combinations are valid).
#define EFI_FILE_MODE_READ 0x0000000000000001ULL
#define EFI_FILE_MODE_WRITE 0x0000000000000002ULL
#define EFI_FILE_MODE_CREATE 0x8000000000000000ULL

// File attributes.
#define EFI_FILE_READ_ONLY 0x01ULL
#define EFI_FILE_DIRECTORY 0x10ULL

typedef struct _EFI_FILE_PROTOCOL EFI_FILE_PROTOCOL;

struct _EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *Open)
  (EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, CHAR16 *FileName, UINT64 OpenMode,
   UINT64 Attributes);
  EFI_STATUS(EFIAPI *Close)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Delete)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Read)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *Write)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *GetPosition)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
  EFI_STATUS(EFIAPI *SetPosition)(EFI_FILE_PROTOCOL *This, UINT64 Position);
  EFI_STATUS(EFIAPI *GetInfo)
  (EFI_FILE_PROTOCOL *This, EFI_GUID *InformationType, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *SetInfo)
  (EFI_FILE_PROTOCOL *This, EFI_GUID *InformationType, UINTN BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *Flush)(EFI_FILE_PROTOCOL *This);
  // Revision 2 adds OpenEx, ReadEx, WriteEx and FlushEx; they are not used.
};

typedef struct _EFI_SIMPLE_FILE_SYSTEM_PROTOCOL EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;

struct _EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);
};

#if defined(__x86_64__)
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Open) == 8, "EFI_FILE_PROTOCOL.Open slot");
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Write) == 40, "EFI_FILE_PROTOCOL.Write slot");
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Flush) == 80, "EFI_FILE_PROTOCOL.Flush slot");
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16, "EFI_SIMPLE_FILE_SYSTEM_PROTOCOL layout");
#endif

inline constexpr EFI_GUID gEfiSimpleFileSystemProtocolGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_SIMPLE_FILE_SYSTEM_H_
