// Hex dump of NVS region contents for the debug log, 16 bytes a line.
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/DebugLib.h"

namespace {

constexpr UINTN kBytesPerLine = 16;
constexpr UINTN kHexTextSize = kBytesPerLine * 3 + 1;  // "XX " per byte, '-' after the eighth
constexpr UINT8 kFirstPrintable = 0x20;
constexpr UINT8 kLastPrintable = 0x7E;

// Fills the hex and character columns of one line of Count (1..16) bytes.
VOID HexDumpFormatLine(const UINT8 *Bytes, UINTN Count, CHAR8 *HexText, CHAR8 *CharText) {
  static const CHAR8 kDigits[] = "0123456789ABCDEF";
  UINTN Pos = 0;
  for (UINTN Index = 0; Index < Count; Index++) {
    HexText[Pos++] = kDigits[Bytes[Index] >> 4];
    HexText[Pos++] = kDigits[Bytes[Index] & 0xF];
    HexText[Pos++] = (Index == 7) ? '-' : ' ';
    const UINT8 Byte = Bytes[Index];
    CharText[Index] = (Byte >= kFirstPrintable && Byte <= kLastPrintable) ? static_cast<CHAR8>(Byte) : '.';
  }
  HexText[Pos] = '\0';
  CharText[Count] = '\0';
}

}  // namespace

VOID DumpNvsHex(const CHAR8 *Title, const VOID *Data, UINTN Count) {
  if (Title == nullptr || Data == nullptr) return;
  const UINT8 *Bytes = static_cast<const UINT8 *>(Data);
  CHAR8 HexText[kHexTextSize];
  CHAR8 CharText[kBytesPerLine + 1];
  for (UINTN Offset = 0; Offset < Count; Offset += kBytesPerLine) {
    const UINTN LineCount = (Count - Offset < kBytesPerLine) ? Count - Offset : kBytesPerLine;
    HexDumpFormatLine(Bytes + Offset, LineCount, HexText, CharText);
    DebugPrint(DEBUG_INFO, "%a", Title);
    DebugPrint(DEBUG_INFO, "%08X: %-48a *%a*\r\n", static_cast<UINT32>(Offset), HexText, CharText);
  }
}
