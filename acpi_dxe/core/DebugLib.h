// The one debug-print entry of the driver: filter by level, format on the stack
// into 256 bytes, deliver to the debug-message protocol or the debug port.
#ifndef ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_
#define ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_

#include "uefi/UefiBaseType.h"

#define DEBUG_WARN 0x00000002
#define DEBUG_INFO 0x00000040
#define DEBUG_ERROR 0x80000000
#define DEBUG_PRINT_ERROR_LEVEL_MASK 0x80080246
#define DEBUG_MESSAGE_BUFFER_SIZE 256

inline constexpr EFI_GUID gEfiDebugMessageProtocolGuid = {0x434F695C, 0xEF26, 0x4A12, {0x9E, 0xBA, 0xDD, 0xEF, 0x00, 0x97, 0x49, 0x7C}};

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);
VOID DebugVPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);
VOID DebugOutputWrite(UINTN ErrorLevel, CHAR8 *Buffer, UINTN Length);
UINTN AsciiVSPrintMarker(CHAR8 *Buffer, UINTN BufferSize, UINTN Flags, const CHAR8 *Format, VA_LIST Marker);
UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...);

#endif  // ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_
