// The one debug-print entry of the driver: filter by level, format on the stack
// into 256 bytes, deliver to the debug-message protocol or the debug port.
#ifndef ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_
#define ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_

#include "common/DebugLevels.h"
#include "uefi/Protocol/DebugMessage.h"
#include "uefi/Protocol/DebugPort.h"
#include "uefi/UefiBaseType.h"

// A message is formatted and delivered only when its level shares a bit with this.
#define DEBUG_PRINT_ERROR_LEVEL_MASK 0x80080246
// Holds at most 255 characters and the terminator; longer output is cut.
#define DEBUG_MESSAGE_BUFFER_SIZE 256
// How long the fallback sink may wait for the debug port, in microseconds.
#define DEBUG_PORT_WRITE_TIMEOUT 500

// Flags of AsciiVSPrintMarker: 0 is ASCII format and ASCII output, the only
// combination built; any other value produces an empty (terminated) string.
#define PRINT_FLAGS_ASCII 0

// Delivery state, written once by the first message that passes the level mask.
// The sinks are looked up only once per boot, so a sink installed later is not used.
extern BOOLEAN mDebugOutputLocated;
extern DEBUG_MESSAGE_PROTOCOL *mDebugMessageProtocol;
extern EFI_DEBUGPORT_PROTOCOL *mDebugPort;

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);
VOID DebugVPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);
VOID DebugOutputWrite(UINTN ErrorLevel, CHAR8 *Buffer, UINTN Length);

// Formats into Buffer, never writing more than BufferSize bytes, and terminates
// the result whenever BufferSize is at least 1. Returns the characters written
// without the terminator. Conversions: %[-+ 0,][width|*][.precision|*][l|L]
// d u x X p c a s S g t r %; a line feed in Format becomes CR LF.
UINTN AsciiVSPrintMarker(CHAR8 *Buffer, UINTN BufferSize, UINTN Flags, const CHAR8 *Format, VA_LIST Marker);
UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...);

#endif  // ZEPHRIN_ACPI_DXE_CORE_DEBUG_LIB_H_
