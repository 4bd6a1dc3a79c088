// UEFI debug port protocol: a byte channel to a host debugger. The driver uses
// only Write, as the fallback sink for its debug messages.
#ifndef ZEPHRIN_UEFI_PROTOCOL_DEBUG_PORT_H_
#define ZEPHRIN_UEFI_PROTOCOL_DEBUG_PORT_H_

#include "../UefiBaseType.h"

typedef struct _EFI_DEBUGPORT_PROTOCOL EFI_DEBUGPORT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_DEBUGPORT_RESET)(EFI_DEBUGPORT_PROTOCOL *This);
// Timeout is in microseconds; BufferSize carries the byte count in and the count
// actually written out.
typedef EFI_STATUS(EFIAPI *EFI_DEBUGPORT_WRITE)(EFI_DEBUGPORT_PROTOCOL *This, UINT32 Timeout,
                                                UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_DEBUGPORT_READ)(EFI_DEBUGPORT_PROTOCOL *This, UINT32 Timeout,
                                               UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_DEBUGPORT_POLL)(EFI_DEBUGPORT_PROTOCOL *This);

struct _EFI_DEBUGPORT_PROTOCOL {
  EFI_DEBUGPORT_RESET Reset;
  EFI_DEBUGPORT_WRITE Write;
  EFI_DEBUGPORT_READ Read;
  EFI_DEBUGPORT_POLL Poll;
};
static_assert(OFFSET_OF(EFI_DEBUGPORT_PROTOCOL, Write) == sizeof(VOID *),
              "EFI_DEBUGPORT_PROTOCOL.Write slot");
static_assert(sizeof(EFI_DEBUGPORT_PROTOCOL) == 4 * sizeof(VOID *), "EFI_DEBUGPORT_PROTOCOL layout");

inline constexpr EFI_GUID gEfiDebugPortProtocolGuid = {
    0xEBA4E8D2, 0x3858, 0x41EC, {0xA2, 0x81, 0x26, 0x47, 0xBA, 0x96, 0x60, 0xD0}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_DEBUG_PORT_H_
