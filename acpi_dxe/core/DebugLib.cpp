// Debug output: filter a message by level, format it on the caller's stack and
// hand it to the platform's debug-message protocol, or to the debug port when
// that protocol is absent. Nothing in the driver depends on a message arriving.
#include "acpi_dxe/core/DebugLib.h"

#include "acpi_dxe/core/DxeServices.h"

BOOLEAN mDebugOutputLocated;
DEBUG_MESSAGE_PROTOCOL *mDebugMessageProtocol;
EFI_DEBUGPORT_PROTOCOL *mDebugPort;

// Looks the sinks up once per boot, at the first message that passes the mask.
// The debug port is only wanted when the debug-message protocol is missing.
static VOID DebugLocateSinks() {
  mDebugOutputLocated = TRUE;
  EFI_GUID MessageGuid = gEfiDebugMessageProtocolGuid;
  if (EFI_ERROR(gBS->LocateProtocol(&MessageGuid, nullptr, (VOID **)&mDebugMessageProtocol))) {
    mDebugMessageProtocol = nullptr;
    EFI_GUID PortGuid = gEfiDebugPortProtocolGuid;
    if (EFI_ERROR(gBS->LocateProtocol(&PortGuid, nullptr, (VOID **)&mDebugPort))) {
      mDebugPort = nullptr;
    }
  }
}

VOID DebugOutputWrite(UINTN ErrorLevel, CHAR8 *Buffer, UINTN Length) {
  // Before the entry point binds the tables there is nothing to look in; such a
  // message is dropped without spending the one lookup.
  if (!mDebugOutputLocated && gBS != nullptr) {
    DebugLocateSinks();
  }
  if (mDebugMessageProtocol != nullptr) {
    mDebugMessageProtocol->WriteMessage(mDebugMessageProtocol, ErrorLevel, Buffer, Length);
  } else if (mDebugPort != nullptr) {
    mDebugPort->Write(mDebugPort, DEBUG_PORT_WRITE_TIMEOUT, &Length, Buffer);
  }
}

VOID DebugVPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  if ((ErrorLevel & DEBUG_PRINT_ERROR_LEVEL_MASK) == 0) {
    return;
  }
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  AsciiVSPrintMarker(Buffer, sizeof(Buffer), PRINT_FLAGS_ASCII, Format, Marker);
  // Measured rather than taken from the formatter: a "%c" of zero ends the text.
  UINTN Length = 0;
  while (Length < sizeof(Buffer) - 1 && Buffer[Length] != '\0') {
    Length++;
  }
  DebugOutputWrite(ErrorLevel, Buffer, Length);
}

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  DebugVPrint(ErrorLevel, Format, Marker);
  VA_END(Marker);
}
