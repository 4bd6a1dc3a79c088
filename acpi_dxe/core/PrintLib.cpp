// The format engine behind DebugPrint: a printf-like formatter that writes ASCII
// into a caller's buffer and never past it. Every character goes through
// PrintChar, the one place that checks room, so widths and precisions far beyond
// the buffer only cost the buffer's length.
#include "acpi_dxe/core/DebugLib.h"
#include "common/SafeInt.h"

namespace {

// The output side of one formatting run.
struct PRINT_OUTPUT {
  CHAR8 *Buffer;   // caller's buffer
  UINTN Capacity;  // characters that fit before the terminator (BufferSize - 1)
  UINTN Count;     // characters written so far; Count <= Capacity always holds
};

// One parsed conversion: %[flags][width][.precision][l|L]type.
struct PRINT_CONVERSION {
  bool LeftJustify;   // "-": pad on the right
  bool ForceSign;     // "+": signed decimal shows "+" for non-negative values
  bool BlankSign;     // " ": signed decimal shows a blank for non-negative values
  bool ZeroPad;       // "0": numbers are padded with zeros up to the width
  bool Group;         // ",": decimal digits are grouped by thousands
  bool Long;          // "l" or "L": the integer argument is 64 bits wide
  bool HasPrecision;  // a "." was given (precision 0 when no digits follow)
  UINTN Width;        // minimum field width, saturated at MAX_UINTN
  UINTN Precision;    // numbers: minimum digits; strings: maximum characters
  CHAR8 Type;         // conversion character
};

// Room for the text of a GUID (36), a time (at most 22) or an unnamed status (8).
#define PRINT_TEXT_BUFFER_SIZE 40
// Digits of the largest UINT64 in the smallest base used (10).
#define PRINT_MAX_DIGITS 20

const CHAR8 kNullString[] = "<null string>";
const CHAR8 kNullGuid[] = "<null guid>";
const CHAR8 kNullTime[] = "<null time>";
const CHAR8 kHexDigits[] = "0123456789ABCDEF";

// Texts of the non-error status values 0 to 5, indexed by value.
const CHAR8 *const kWarningText[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
};

// Texts of the error status values, indexed by the bits below the error bit.
const CHAR8 *const kErrorText[] = {
    nullptr,
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
    "Compromised Data",
};

#define ARRAY_COUNT(Array) (sizeof(Array) / sizeof((Array)[0]))

bool PrintIsFull(const PRINT_OUTPUT *Out) {
  return Out->Count >= Out->Capacity;
}

VOID PrintChar(PRINT_OUTPUT *Out, CHAR8 Char) {
  if (!PrintIsFull(Out)) {
    Out->Buffer[Out->Count++] = Char;
  }
}

VOID PrintRepeat(PRINT_OUTPUT *Out, CHAR8 Char, UINTN Count) {
  for (; Count > 0 && !PrintIsFull(Out); Count--) {
    PrintChar(Out, Char);
  }
}

// Blanks before a right-justified field of Length characters.
VOID PrintFieldStart(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, UINTN Length) {
  if (!Conv->LeftJustify && Conv->Width > Length) {
    PrintRepeat(Out, ' ', Conv->Width - Length);
  }
}

// Blanks after a left-justified field of Length characters.
VOID PrintFieldEnd(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, UINTN Length) {
  if (Conv->LeftJustify && Conv->Width > Length) {
    PrintRepeat(Out, ' ', Conv->Width - Length);
  }
}

// Characters of String before its terminator, but at most Limit: a precision
// bounds how far an unterminated string is read.
UINTN PrintAsciiLength(const CHAR8 *String, UINTN Limit) {
  UINTN Length = 0;
  while (Length < Limit && String[Length] != '\0') {
    Length++;
  }
  return Length;
}

UINTN PrintUcs2Length(const CHAR16 *String, UINTN Limit) {
  UINTN Length = 0;
  while (Length < Limit && String[Length] != 0) {
    Length++;
  }
  return Length;
}

UINTN PrintStringLimit(const PRINT_CONVERSION *Conv) {
  return Conv->HasPrecision ? Conv->Precision : MAX_UINTN;
}

VOID PrintAsciiString(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, const CHAR8 *String) {
  UINTN Length = PrintAsciiLength(String, PrintStringLimit(Conv));
  PrintFieldStart(Out, Conv, Length);
  for (UINTN Index = 0; Index < Length && !PrintIsFull(Out); Index++) {
    PrintChar(Out, String[Index]);
  }
  PrintFieldEnd(Out, Conv, Length);
}

// Each UCS-2 character becomes one byte: its low eight bits.
VOID PrintUcs2String(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, const CHAR16 *String) {
  UINTN Length = PrintUcs2Length(String, PrintStringLimit(Conv));
  PrintFieldStart(Out, Conv, Length);
  for (UINTN Index = 0; Index < Length && !PrintIsFull(Out); Index++) {
    PrintChar(Out, (CHAR8)(String[Index] & 0xFF));
  }
  PrintFieldEnd(Out, Conv, Length);
}

// Writes the digits of Value in Base into Digits, least significant first, and
// returns how many (none for zero).
UINTN PrintDigitsReversed(UINT64 Value, UINT32 Base, CHAR8 Digits[PRINT_MAX_DIGITS]) {
  UINTN Count = 0;
  for (; Value != 0; Value /= Base) {
    Digits[Count++] = kHexDigits[Value % Base];
  }
  return Count;
}

// The digit string of a number: Total digits, of which the first Total - Count
// are precision zeros, with a comma before every group of three from the right
// when grouping. Works digit by digit, so a huge precision needs no buffer.
VOID PrintDigits(PRINT_OUTPUT *Out, const CHAR8 *Reversed, UINTN Count, UINTN Total, bool Group) {
  for (UINTN Index = 0; Index < Total && !PrintIsFull(Out); Index++) {
    UINTN FromRight = Total - Index;
    if (Group && Index > 0 && FromRight % 3 == 0) {
      PrintChar(Out, ',');
    }
    PrintChar(Out, FromRight > Count ? '0' : Reversed[FromRight - 1]);
  }
}

// Formats a number given as magnitude and sign character ('\0' for none). Zero
// padding goes between the sign and the digits; left justification wins over it.
VOID PrintNumber(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, UINT64 Magnitude, CHAR8 Sign, UINT32 Base,
                 bool ZeroPad) {
  CHAR8 Reversed[PRINT_MAX_DIGITS];
  UINTN Count = PrintDigitsReversed(Magnitude, Base, Reversed);
  bool NoDigitForZero = Conv->HasPrecision && Conv->Precision == 0;
  if (Count == 0 && !NoDigitForZero) {
    Reversed[Count++] = '0';
  }
  UINTN Total = (Conv->HasPrecision && Conv->Precision > Count) ? Conv->Precision : Count;
  bool Group = Conv->Group && Base == 10;
  UINTN Length;
  SafeUintnAdd(Total, (Group && Total > 0) ? (Total - 1) / 3 : 0, &Length);
  SafeUintnAdd(Length, Sign != '\0' ? 1 : 0, &Length);

  bool PadWithZeros = ZeroPad && !Conv->LeftJustify;
  if (!PadWithZeros) {
    PrintFieldStart(Out, Conv, Length);
  }
  if (Sign != '\0') {
    PrintChar(Out, Sign);
  }
  if (PadWithZeros && Conv->Width > Length) {
    PrintRepeat(Out, '0', Conv->Width - Length);
  }
  PrintDigits(Out, Reversed, Count, Total, Group);
  PrintFieldEnd(Out, Conv, Length);
}

VOID PrintSigned(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  INT64 Value = Conv->Long ? VA_ARG(*Args, INT64) : (INT64)VA_ARG(*Args, INT32);
  // Negating in unsigned arithmetic keeps the most negative value exact.
  UINT64 Magnitude = Value < 0 ? 0 - (UINT64)Value : (UINT64)Value;
  CHAR8 Sign = '\0';
  if (Value < 0) {
    Sign = '-';
  } else if (Conv->ForceSign) {
    Sign = '+';
  } else if (Conv->BlankSign) {
    Sign = ' ';
  }
  // As in C, a precision replaces zero padding.
  PrintNumber(Out, Conv, Magnitude, Sign, 10, Conv->ZeroPad && !Conv->HasPrecision);
}

VOID PrintUnsigned(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  UINT64 Value = Conv->Long ? VA_ARG(*Args, UINT64) : VA_ARG(*Args, UINT32);
  UINT32 Base = Conv->Type == 'u' ? 10 : 16;
  // "X" zero-pads by itself, even with a precision.
  bool ZeroPad = Conv->Type == 'X' || (Conv->ZeroPad && !Conv->HasPrecision);
  PrintNumber(Out, Conv, Value, '\0', Base, ZeroPad);
}

// A pointer prints as the hexadecimal of its full value, zero-padded to the width.
VOID PrintPointer(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  UINT64 Value = (UINT64)(UINTN)VA_ARG(*Args, VOID *);
  PrintNumber(Out, Conv, Value, '\0', 16, true);
}

VOID PrintCharacter(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  CHAR8 Char = (CHAR8)(VA_ARG(*Args, UINTN) & 0xFF);
  PrintFieldStart(Out, Conv, 1);
  PrintChar(Out, Char);
  PrintFieldEnd(Out, Conv, 1);
}

// The status text, or NULL when the value has none.
const CHAR8 *PrintStatusText(EFI_STATUS Status) {
  if (!EFI_ERROR(Status)) {
    return Status < ARRAY_COUNT(kWarningText) ? kWarningText[Status] : nullptr;
  }
  EFI_STATUS Code = Status & ~MAX_BIT;
  return Code < ARRAY_COUNT(kErrorText) ? kErrorText[Code] : nullptr;
}

// The texts of "g", "t" and "r" are made by a nested AsciiSPrint with a fixed
// format of plain numeric conversions, so the nesting is never deeper than one.
VOID PrintGuid(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  const EFI_GUID *Guid = VA_ARG(*Args, const EFI_GUID *);
  if (Guid == nullptr) {
    PrintAsciiString(Out, Conv, kNullGuid);
    return;
  }
  CHAR8 Text[PRINT_TEXT_BUFFER_SIZE];
  const UINT8 *D = Guid->Data4;
  AsciiSPrint(Text, sizeof(Text), "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", Guid->Data1,
              Guid->Data2, Guid->Data3, D[0], D[1], D[2], D[3], D[4], D[5], D[6], D[7]);
  PrintAsciiString(Out, Conv, Text);
}

VOID PrintTime(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  const EFI_TIME *Time = VA_ARG(*Args, const EFI_TIME *);
  if (Time == nullptr) {
    PrintAsciiString(Out, Conv, kNullTime);
    return;
  }
  CHAR8 Text[PRINT_TEXT_BUFFER_SIZE];
  AsciiSPrint(Text, sizeof(Text), "%02d/%02d/%04d  %02d:%02d", Time->Month, Time->Day, Time->Year, Time->Hour,
              Time->Minute);
  PrintAsciiString(Out, Conv, Text);
}

VOID PrintStatus(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  EFI_STATUS Status = VA_ARG(*Args, EFI_STATUS);
  const CHAR8 *Text = PrintStatusText(Status);
  if (Text != nullptr) {
    PrintAsciiString(Out, Conv, Text);
    return;
  }
  CHAR8 Number[PRINT_TEXT_BUFFER_SIZE];
  AsciiSPrint(Number, sizeof(Number), "%08X", (UINT32)(Status & MAX_UINT32));
  PrintAsciiString(Out, Conv, Number);
}

VOID PrintConvertedValue(PRINT_OUTPUT *Out, const PRINT_CONVERSION *Conv, VA_LIST *Args) {
  switch (Conv->Type) {
    case 'd':
      PrintSigned(Out, Conv, Args);
      break;
    case 'u':
    case 'x':
    case 'X':
      PrintUnsigned(Out, Conv, Args);
      break;
    case 'p':
      PrintPointer(Out, Conv, Args);
      break;
    case 'c':
      PrintCharacter(Out, Conv, Args);
      break;
    case 'a': {
      const CHAR8 *String = VA_ARG(*Args, const CHAR8 *);
      PrintAsciiString(Out, Conv, String != nullptr ? String : kNullString);
      break;
    }
    case 's':
    case 'S': {
      const CHAR16 *String = VA_ARG(*Args, const CHAR16 *);
      if (String != nullptr) {
        PrintUcs2String(Out, Conv, String);
      } else {
        PrintAsciiString(Out, Conv, kNullString);
      }
      break;
    }
    case 'g':
      PrintGuid(Out, Conv, Args);
      break;
    case 't':
      PrintTime(Out, Conv, Args);
      break;
    case 'r':
      PrintStatus(Out, Conv, Args);
      break;
    default:
      // "%%" and any unknown type print the type character itself.
      PrintChar(Out, Conv->Type);
      break;
  }
}

bool PrintIsDigit(CHAR8 Char) {
  return Char >= '0' && Char <= '9';
}

// Reads decimal digits, saturating at MAX_UINTN so a long digit run cannot wrap.
const CHAR8 *PrintParseDecimal(const CHAR8 *Format, UINTN *Value) {
  *Value = 0;
  for (; PrintIsDigit(*Format); Format++) {
    if (!SafeUintnMult(*Value, 10, Value) || !SafeUintnAdd(*Value, (UINTN)(*Format - '0'), Value)) {
      *Value = MAX_UINTN;
    }
  }
  return Format;
}

// Width or precision: "*" takes a UINTN argument, otherwise decimal digits.
const CHAR8 *PrintParseCount(const CHAR8 *Format, VA_LIST *Args, UINTN *Value) {
  if (*Format == '*') {
    *Value = VA_ARG(*Args, UINTN);
    return Format + 1;
  }
  return PrintParseDecimal(Format, Value);
}

const CHAR8 *PrintParseFlags(const CHAR8 *Format, PRINT_CONVERSION *Conv) {
  for (;; Format++) {
    switch (*Format) {
      case '-':
        Conv->LeftJustify = true;
        break;
      case '+':
        Conv->ForceSign = true;
        break;
      case ' ':
        Conv->BlankSign = true;
        break;
      case '0':
        Conv->ZeroPad = true;
        break;
      case ',':
        Conv->Group = true;
        break;
      default:
        return Format;
    }
  }
}

// Parses the conversion that starts just after a "%". Returns the position after
// its type character, or NULL when the format ends before the type.
const CHAR8 *PrintParseConversion(const CHAR8 *Format, VA_LIST *Args, PRINT_CONVERSION *Conv) {
  *Conv = PRINT_CONVERSION{};
  Format = PrintParseFlags(Format, Conv);
  Format = PrintParseCount(Format, Args, &Conv->Width);
  if (*Format == '.') {
    Conv->HasPrecision = true;
    Format = PrintParseCount(Format + 1, Args, &Conv->Precision);
  }
  for (; *Format == 'l' || *Format == 'L'; Format++) {
    Conv->Long = true;
  }
  if (*Format == '\0') {
    return nullptr;
  }
  Conv->Type = *Format;
  return Format + 1;
}

// Copies one ordinary character; a line feed becomes CR LF, and the pairs CR LF
// and LF CR each become one CR LF. Returns the position after what it consumed.
const CHAR8 *PrintLineCharacter(PRINT_OUTPUT *Out, const CHAR8 *Format) {
  if (*Format == '\n') {
    PrintChar(Out, '\r');
    PrintChar(Out, '\n');
    return Format[1] == '\r' ? Format + 2 : Format + 1;
  }
  PrintChar(Out, *Format);
  if (*Format == '\r' && Format[1] == '\n') {
    PrintChar(Out, '\n');
    return Format + 2;
  }
  return Format + 1;
}

VOID PrintFormat(PRINT_OUTPUT *Out, const CHAR8 *Format, VA_LIST *Args) {
  while (Format != nullptr && *Format != '\0' && !PrintIsFull(Out)) {
    if (*Format != '%') {
      Format = PrintLineCharacter(Out, Format);
      continue;
    }
    PRINT_CONVERSION Conv;
    Format = PrintParseConversion(Format + 1, Args, &Conv);
    if (Format != nullptr) {
      PrintConvertedValue(Out, &Conv, Args);
    }
  }
}

}  // namespace

UINTN AsciiVSPrintMarker(CHAR8 *Buffer, UINTN BufferSize, UINTN Flags, const CHAR8 *Format, VA_LIST Marker) {
  if (Buffer == nullptr || BufferSize == 0) {
    return 0;
  }
  PRINT_OUTPUT Out = {Buffer, BufferSize - 1, 0};
  if (Flags == PRINT_FLAGS_ASCII) {
    // The helpers take the list by address: where VA_LIST is a plain pointer,
    // passing it by value would lose the arguments a helper consumed.
    VA_LIST Args;
    VA_COPY(Args, Marker);
    PrintFormat(&Out, Format, &Args);
    VA_END(Args);
  }
  Buffer[Out.Count] = '\0';
  return Out.Count;
}

UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Count = AsciiVSPrintMarker(Buffer, BufferSize, PRINT_FLAGS_ASCII, Format, Marker);
  VA_END(Marker);
  return Count;
}
