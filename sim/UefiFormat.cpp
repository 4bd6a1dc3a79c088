// The UEFI print format as the platform's debug-message PPI applies it to the
// PEI module's messages. A host formatter of the platform, written apart from
// the DXE driver's own, so tests of either check one against the other's rules.
#include <cstdint>
#include <string>

#include "sim/PeiServices.h"

namespace sim {
namespace {

const char *const kWarningText[] = {"Success",
                                    "Warning Unknown Glyph",
                                    "Warning Delete Failure",
                                    "Warning Write Failure",
                                    "Warning Buffer Too Small",
                                    "Warning Stale Data"};
const char *const kErrorText[] = {nullptr,
                                  "Load Error",
                                  "Invalid Parameter",
                                  "Unsupported",
                                  "Bad Buffer Size",
                                  "Buffer Too Small",
                                  "Not Ready",
                                  "Device Error",
                                  "Write Protected",
                                  "Out of Resources",
                                  "Volume Corrupt",
                                  "Volume Full",
                                  "No Media",
                                  "Media changed",
                                  "Not Found",
                                  "Access Denied",
                                  "No Response",
                                  "No mapping",
                                  "Time out",
                                  "Not started",
                                  "Already started",
                                  "Aborted",
                                  "ICMP Error",
                                  "TFTP Error",
                                  "Protocol Error",
                                  "Incompatible Version",
                                  "Security Violation",
                                  "CRC Error",
                                  "End of Media",
                                  "Reserved (29)",
                                  "Reserved (30)",
                                  "End of File",
                                  "Invalid Language",
                                  "Compromised Data"};

std::string Hex(uint64_t Value, int Width, bool ZeroPad) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string Digits;
  do {
    Digits.insert(Digits.begin(), kDigits[Value & 0xF]);
    Value >>= 4;
  } while (Value != 0);
  if (static_cast<int>(Digits.size()) < Width) Digits.insert(0, Width - Digits.size(), ZeroPad ? '0' : ' ');
  return Digits;
}

std::string StatusText(uint64_t Status) {
  const uint64_t ErrorBit = 1ULL << 63;
  uint64_t Code = Status & ~ErrorBit;
  if ((Status & ErrorBit) == 0 && Code < sizeof(kWarningText) / sizeof(kWarningText[0]))
    return kWarningText[Code];
  if ((Status & ErrorBit) != 0 && Code >= 1 && Code < sizeof(kErrorText) / sizeof(kErrorText[0])) {
    return kErrorText[Code];
  }
  return Hex(Status & 0xFFFFFFFFu, 8, true);
}

std::string GuidText(const EFI_GUID *Guid) {
  if (Guid == nullptr) return "<null guid>";
  std::string Text =
      Hex(Guid->Data1, 8, true) + "-" + Hex(Guid->Data2, 4, true) + "-" + Hex(Guid->Data3, 4, true) + "-";
  for (int Index = 0; Index < 8; Index++) {
    if (Index == 2) Text += "-";
    Text += Hex(Guid->Data4[Index], 2, true);
  }
  return Text;
}

std::string Pad(std::string Text, int Width, bool Left) {
  if (static_cast<int>(Text.size()) >= Width) return Text;
  return Left ? Text + std::string(Width - Text.size(), ' ') : std::string(Width - Text.size(), ' ') + Text;
}

}  // namespace

std::string FormatUefiMessage(const char *Format, va_list Marker) {
  std::string Out;
  if (Format == nullptr) return Out;
  for (const char *P = Format; *P != '\0'; P++) {
    if (*P != '%') {
      Out += *P;
      continue;
    }
    bool Left = false, ZeroPad = false, Long = false;
    int Width = 0;
    for (P++; *P == '-' || *P == '0' || *P == '+' || *P == ' ' || *P == ','; P++) {
      Left |= *P == '-';
      ZeroPad |= *P == '0';
    }
    for (; *P >= '0' && *P <= '9'; P++) Width = Width * 10 + (*P - '0');
    if (*P == 'l' || *P == 'L') {
      Long = true;
      P++;
    }
    if (*P == '\0') break;
    std::string Field;
    switch (*P) {
      case 'd':
        Field = std::to_string(Long ? va_arg(Marker, int64_t) : va_arg(Marker, int32_t));
        if (ZeroPad && static_cast<int>(Field.size()) < Width)
          Field.insert(Field[0] == '-' ? 1 : 0, Width - Field.size(), '0');
        break;
      case 'u':
        Field = std::to_string(Long ? va_arg(Marker, uint64_t) : va_arg(Marker, uint32_t));
        if (ZeroPad && static_cast<int>(Field.size()) < Width) Field.insert(0, Width - Field.size(), '0');
        break;
      case 'x':
      case 'X':
        Field = Hex(Long ? va_arg(Marker, uint64_t) : va_arg(Marker, uint32_t), Width, ZeroPad || *P == 'X');
        break;
      case 'p':
        Field = Hex(reinterpret_cast<uintptr_t>(va_arg(Marker, void *)), Width, true);
        break;
      case 'c':
        Field = std::string(1, static_cast<char>(va_arg(Marker, UINTN)));
        break;
      case 'a': {
        const char *Text = va_arg(Marker, const char *);
        Field = Text != nullptr ? Text : "<null string>";
        break;
      }
      case 's':
      case 'S': {
        const char16_t *Text = va_arg(Marker, const char16_t *);
        if (Text == nullptr) Field = "<null string>";
        for (; Text != nullptr && *Text != 0; Text++) Field += static_cast<char>(*Text);
        break;
      }
      case 'g':
        Field = GuidText(va_arg(Marker, const EFI_GUID *));
        break;
      case 'r':
        Field = StatusText(va_arg(Marker, UINTN));
        break;
      default:
        Field = std::string(1, *P);
        break;
    }
    Out += Pad(Field, Width, Left);
  }
  return Out;
}

}  // namespace sim
