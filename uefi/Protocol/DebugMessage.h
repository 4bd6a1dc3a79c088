// The platform's debug-message protocol, the preferred sink of the driver's debug
// messages. Only its second member is fixed: a function handed the message level
// and the formatted ASCII text with its length (no terminator counted). The first
// member belongs to the platform and is never touched.
#ifndef ZEPHRIN_UEFI_PROTOCOL_DEBUG_MESSAGE_H_
#define ZEPHRIN_UEFI_PROTOCOL_DEBUG_MESSAGE_H_

#include "../UefiBaseType.h"

typedef struct _DEBUG_MESSAGE_PROTOCOL DEBUG_MESSAGE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *DEBUG_MESSAGE_WRITE)(DEBUG_MESSAGE_PROTOCOL *This, UINTN ErrorLevel, CHAR8 *Buffer,
                                                UINTN Length);

struct _DEBUG_MESSAGE_PROTOCOL {
  VOID *Reserved;
  DEBUG_MESSAGE_WRITE WriteMessage;
};
static_assert(OFFSET_OF(DEBUG_MESSAGE_PROTOCOL, WriteMessage) == sizeof(VOID *),
              "DEBUG_MESSAGE_PROTOCOL.WriteMessage is the second pointer-sized member");

inline constexpr EFI_GUID gEfiDebugMessageProtocolGuid = {
    0x434F695C, 0xEF26, 0x4A12, {0x9E, 0xBA, 0xDD, 0xEF, 0x00, 0x97, 0x49, 0x7C}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_DEBUG_MESSAGE_H_
