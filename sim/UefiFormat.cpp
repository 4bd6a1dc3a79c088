// The UEFI print format as the platform's debug-message PPI applies it to the
// PEI module's messages. A host formatter of the platform, written apart from
// the DXE driver's own, so tests of either check one against the other's rules.
#include "sim/UefiFormat.h"

#include <cstdarg>
#include <cstdint>
#include <optional>
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

std::string GuidText(const std::optional<EFI_GUID> &Guid) {
  if (!Guid) return "<null guid>";
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

// The arguments of a host call, taken from the caller's va_list.
class VaListArgs : public UefiFormatArgs {
 public:
  explicit VaListArgs(va_list *Marker) : mMarker(Marker) {}

  int64_t Signed(bool Long) override { return Long ? va_arg(*mMarker, int64_t) : va_arg(*mMarker, int32_t); }
  uint64_t Unsigned(bool Long) override {
    return Long ? va_arg(*mMarker, uint64_t) : va_arg(*mMarker, uint32_t);
  }
  uint64_t Natural() override { return va_arg(*mMarker, UINTN); }
  uint64_t Status() override { return va_arg(*mMarker, UINTN); }
  std::optional<std::string> Ascii() override {
    const char *Text = va_arg(*mMarker, const char *);
    if (Text == nullptr) return std::nullopt;
    return std::string(Text);
  }
  std::optional<std::u16string> Wide() override {
    const char16_t *Text = va_arg(*mMarker, const char16_t *);
    if (Text == nullptr) return std::nullopt;
    return std::u16string(Text);
  }
  std::optional<EFI_GUID> Guid() override {
    const EFI_GUID *Guid = va_arg(*mMarker, const EFI_GUID *);
    if (Guid == nullptr) return std::nullopt;
    return *Guid;
  }

 private:
  va_list *mMarker;
};

}  // namespace

std::string FormatUefiMessage(const char *Format, va_list Marker) {
  va_list Copy;
  va_copy(Copy, Marker);
  VaListArgs Args(&Copy);
  std::string Text = FormatUefiMessageFrom(Format, Args);
  va_end(Copy);
  return Text;
}

std::string FormatUefiMessageFrom(const char *Format, UefiFormatArgs &Args) {
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
        Field = std::to_string(Args.Signed(Long));
        if (ZeroPad && static_cast<int>(Field.size()) < Width)
          Field.insert(Field[0] == '-' ? 1 : 0, Width - Field.size(), '0');
        break;
      case 'u':
        Field = std::to_string(Args.Unsigned(Long));
        if (ZeroPad && static_cast<int>(Field.size()) < Width) Field.insert(0, Width - Field.size(), '0');
        break;
      case 'x':
      case 'X':
        Field = Hex(Args.Unsigned(Long), Width, ZeroPad || *P == 'X');
        break;
      case 'p':
        Field = Hex(Args.Natural(), Width, true);
        break;
      case 'c':
        Field = std::string(1, static_cast<char>(Args.Natural()));
        break;
      case 'a': {
        std::optional<std::string> Text = Args.Ascii();
        Field = Text ? *Text : "<null string>";
        break;
      }
      case 's':
      case 'S': {
        std::optional<std::u16string> Text = Args.Wide();
        if (!Text) Field = "<null string>";
        for (char16_t Char : Text.value_or(u"")) Field += static_cast<char>(Char);
        break;
      }
      case 'g':
        Field = GuidText(Args.Guid());
        break;
      case 'r':
        Field = StatusText(Args.Status());
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
