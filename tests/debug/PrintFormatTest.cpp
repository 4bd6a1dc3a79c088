// The format engine: each conversion and flag, the status texts, the line-ending
// rules, conversions cut off by the end of the format, and the guarantee that no
// byte past BufferSize is ever written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"
#include "tests/debug/PrintTestSupport.h"

namespace {

using debug_test::Format;

struct FormatRow {
  const char *Name;
  std::function<std::string()> Run;
  std::string Expected;
};

std::string RowName(const testing::TestParamInfo<FormatRow> &Info) {
  return Info.param.Name;
}
void PrintTo(const FormatRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class FormatTable : public testing::TestWithParam<FormatRow> {};

TEST_P(FormatTable, ProducesExpectedText) {
  EXPECT_EQ(GetParam().Run(), GetParam().Expected);
}

// ---------------------------------------------------------------- numbers

const EFI_GUID kFatalErrorGuid = {
    0x91DEEA05, 0x8C0A, 0x4DCD, {0xB9, 0x1E, 0xF2, 0x1C, 0xA0, 0xC6, 0x84, 0x05}};

INSTANTIATE_TEST_SUITE_P(
    Numbers, FormatTable,
    testing::Values(
        FormatRow{"HexIsUpperCase", [] { return Format("%x", 0xABu); }, "AB"},
        FormatRow{"HexZeroFlagPads", [] { return Format("%08X", 0xABu); }, "000000AB"},
        FormatRow{"BigXPadsWithZerosByItself", [] { return Format("%8X", 0xABu); }, "000000AB"},
        FormatRow{"BigXLeftJustifiedPadsWithBlanks", [] { return Format("%-6X|", 0xABu); }, "AB    |"},
        FormatRow{"SmallXPadsWithBlanks", [] { return Format("%6x", 0xABu); }, "    AB"},
        FormatRow{"HexWithoutLongTakes32Bits", [] { return Format("%x", 0xFFFFFFFFu); }, "FFFFFFFF"},
        FormatRow{"HexLong", [] { return Format("%lx", 0x123456789ABCDEF0ull); }, "123456789ABCDEF0"},
        FormatRow{"HexCapitalL", [] { return Format("%LX", 0xFEDCBA9876543210ull); }, "FEDCBA9876543210"},
        FormatRow{"DecimalNegative", [] { return Format("%d", -42); }, "-42"},
        FormatRow{"DecimalSignExtends32Bits", [] { return Format("%d", (INT32)0x80000000); }, "-2147483648"},
        FormatRow{"DecimalLongMostNegative", [] { return Format("%ld", INT64_MIN); }, "-9223372036854775808"},
        FormatRow{"UnsignedLongMax", [] { return Format("%lu", UINT64_MAX); }, "18446744073709551615"},
        FormatRow{"PlusWinsOverBlank", [] { return Format("%+ d", 5); }, "+5"},
        FormatRow{"BlankBeforePositive", [] { return Format("% d", 5); }, " 5"},
        FormatRow{"SignBeforeZeroPadding", [] { return Format("%+06d", 42); }, "+00042"},
        FormatRow{"PrecisionBeatsZeroFlag", [] { return Format("%08.3d", 7); }, "     007"},
        FormatRow{"ZeroAfterDotIsPrecisionDigit", [] { return Format("%5.03d", 7); }, "  007"},
        FormatRow{"PrecisionZeroOfZeroIsEmpty", [] { return Format("[%.0d]", 0); }, "[]"},
        FormatRow{"MinusBeatsZeroFlag", [] { return Format("%-05d|", 42); }, "42   |"},
        FormatRow{"PlusIgnoredForUnsigned", [] { return Format("%+u", 5u); }, "5"},
        FormatRow{"PointerFullWidthValue", [] { return Format("%p", (VOID *)0xFFFF800012345678ull); },
                  "FFFF800012345678"},
        FormatRow{"PointerUnpaddedWithoutWidth", [] { return Format("%p", (VOID *)0xABull); }, "AB"},
        FormatRow{"PointerZeroPadsToWidth", [] { return Format("%8p", (VOID *)0xABull); }, "000000AB"},
        FormatRow{"PointerIgnoresSignFlags", [] { return Format("%+ 08p", (VOID *)0xABull); }, "000000AB"},
        FormatRow{"PointerLeftJustified", [] { return Format("%-6p|", (VOID *)0xABull); }, "AB    |"},
        FormatRow{"PointerNull", [] { return Format("%p", (VOID *)nullptr); }, "0"}),
    RowName);

// ---------------------------------------------------- grouping, star counts

INSTANTIATE_TEST_SUITE_P(
    GroupingAndStar, FormatTable,
    testing::Values(
        FormatRow{"GroupsThousands", [] { return Format("%,d", 1234567); }, "1,234,567"},
        FormatRow{"GroupsNegative", [] { return Format("%,d", -1234567); }, "-1,234,567"},
        FormatRow{"GroupsNothingBelowThousand", [] { return Format("%,d", 123); }, "123"},
        FormatRow{"GroupsExactThousand", [] { return Format("%,u", 1000u); }, "1,000"},
        FormatRow{"GroupsUnsignedMax", [] { return Format("%,u", 4294967295u); }, "4,294,967,295"},
        FormatRow{"GroupsLongMostNegative", [] { return Format("%,ld", INT64_MIN); },
                  "-9,223,372,036,854,775,808"},
        FormatRow{"GroupsPrecisionZeros", [] { return Format("%,.5d", 12); }, "00,012"},
        FormatRow{"GroupedWidthCountsCommas", [] { return Format("%,10d", 1234); }, "     1,234"},
        FormatRow{"GroupedLeftJustified", [] { return Format("%-,8d|", 1234); }, "1,234   |"},
        FormatRow{"ZeroPaddingIsNotGrouped", [] { return Format("%0,8d", 1234); }, "0001,234"},
        FormatRow{"NoGroupingForHex", [] { return Format("%,x", 0x12345u); }, "12345"},
        FormatRow{"StarWidth", [] { return Format("%*d", (UINTN)5, 42); }, "   42"},
        FormatRow{"StarWidthLeft", [] { return Format("%-*d|", (UINTN)4, 42); }, "42  |"},
        FormatRow{"StarPrecision", [] { return Format("%.*d", (UINTN)4, 7); }, "0007"},
        FormatRow{"StarWidthAndPrecision", [] { return Format("%*.*x", (UINTN)6, (UINTN)3, 0xAu); },
                  "   00A"},
        FormatRow{"StarPrecisionLimitsString", [] { return Format("%.*a", (UINTN)2, "abcdef"); }, "ab"},
        FormatRow{"StarThenLongArgument", [] { return Format("%*lx", (UINTN)10, 0x1234ull); }, "      1234"}),
    RowName);

// ------------------------------------------------ characters and strings

const CHAR16 kWide[] = u"Wide";
const CHAR8 kUnterminated[3] = {'a', 'b', 'c'};

INSTANTIATE_TEST_SUITE_P(
    Text, FormatTable,
    testing::Values(
        FormatRow{"AsciiString", [] { return Format("[%a]", "abc"); }, "[abc]"},
        FormatRow{"AsciiNull", [] { return Format("%a", (const CHAR8 *)nullptr); }, "<null string>"},
        FormatRow{"AsciiWidthRight", [] { return Format("[%5a]", "ab"); }, "[   ab]"},
        FormatRow{"AsciiWidthLeft", [] { return Format("[%-48a]", "ab"); },
                  "[ab" + std::string(46, ' ') + "]"},
        FormatRow{"AsciiZeroFlagStillBlanks", [] { return Format("[%05a]", "ab"); }, "[   ab]"},
        FormatRow{"AsciiPrecisionCuts", [] { return Format("[%.2a]", "abcdef"); }, "[ab]"},
        FormatRow{"AsciiPrecisionStopsReading", [] { return Format("[%.3a]", kUnterminated); }, "[abc]"},
        FormatRow{"AsciiNewlineInArgumentKept", [] { return Format("%a", "x\ny"); }, "x\ny"},
        FormatRow{"Ucs2String", [] { return Format("%s", kWide); }, "Wide"},
        FormatRow{"Ucs2CapitalS", [] { return Format("%S", kWide); }, "Wide"},
        FormatRow{"Ucs2Null", [] { return Format("%s", (const CHAR16 *)nullptr); }, "<null string>"},
        FormatRow{"Ucs2CapitalNull", [] { return Format("%S", (const CHAR16 *)nullptr); }, "<null string>"},
        FormatRow{"Ucs2KeepsLowByte", [] { return Format("%s", u"\x263A"); }, ":"},
        FormatRow{"Ucs2PrecisionAndWidth", [] { return Format("[%6.2s]", kWide); }, "[    Wi]"},
        FormatRow{"Character", [] { return Format("%c", (UINTN)'A'); }, "A"},
        FormatRow{"CharacterUsesLowBits", [] { return Format("%c", (UINTN)0x12341); }, "A"},
        FormatRow{"CharacterWidth", [] { return Format("[%3c]", (UINTN)'A'); }, "[  A]"},
        FormatRow{"SignatureLetters",
                  [] {
                    UINT32 Signature = 0x50434146;  // "FACP", first character in the lowest byte
                    return Format("%c%c%c%c", (UINTN)(Signature & 0xFF), (UINTN)((Signature >> 8) & 0xFF),
                                  (UINTN)((Signature >> 16) & 0xFF), (UINTN)(Signature >> 24));
                  },
                  "FACP"},
        FormatRow{"PercentSign", [] { return Format("100%%"); }, "100%"},
        FormatRow{"UnknownTypePrintsItself", [] { return Format("[%k]"); }, "[k]"},
        FormatRow{"UnknownTypeConsumesNoArgument", [] { return Format("%q%d", 7); }, "q7"}),
    RowName);

// ------------------------------------------------------- GUID and time

INSTANTIATE_TEST_SUITE_P(
    GuidAndTime, FormatTable,
    testing::Values(
        FormatRow{"GuidUpperCase", [] { return Format("%g", &kFatalErrorGuid); },
                  "91DEEA05-8C0A-4DCD-B91E-F21CA0C68405"},
        FormatRow{"GuidLeadingZeros",
                  [] {
                    static const EFI_GUID Guid = {0x1, 0x2, 0x3, {0, 4, 0, 0, 0, 0, 0, 5}};
                    return Format("%g", &Guid);
                  },
                  "00000001-0002-0003-0004-000000000005"},
        FormatRow{"GuidNull", [] { return Format("%g", (const EFI_GUID *)nullptr); }, "<null guid>"},
        FormatRow{"GuidInMessage", [] { return Format("[%g] %d", &kFatalErrorGuid, 3); },
                  "[91DEEA05-8C0A-4DCD-B91E-F21CA0C68405] 3"},
        FormatRow{"Time",
                  [] {
                    EFI_TIME Time = {};
                    Time.Year = 2026;
                    Time.Month = 12;
                    Time.Day = 7;
                    Time.Hour = 9;
                    Time.Minute = 5;
                    Time.Second = 59;
                    return Format("%t", &Time);
                  },
                  "12/07/2026  09:05"},
        FormatRow{"TimeWidestFields",
                  [] {
                    EFI_TIME Time = {};
                    Time.Year = 65535;
                    Time.Month = 255;
                    Time.Day = 255;
                    Time.Hour = 255;
                    Time.Minute = 255;
                    return Format("%t", &Time);
                  },
                  "255/255/65535  255:255"},
        FormatRow{"TimeNull", [] { return Format("%t", (const EFI_TIME *)nullptr); }, "<null time>"}),
    RowName);

// ------------------------------------------------------- line endings

INSTANTIATE_TEST_SUITE_P(
    LineEndings, FormatTable,
    testing::Values(FormatRow{"LineFeedBecomesCrLf", [] { return Format("Line\n"); }, "Line\r\n"},
                    FormatRow{"CarriageReturnAlone", [] { return Format("a\rb"); }, "a\rb"},
                    FormatRow{"CrLfKept", [] { return Format("a\r\nb"); }, "a\r\nb"},
                    FormatRow{"LfCrBecomesCrLf", [] { return Format("a\n\rb"); }, "a\r\nb"},
                    FormatRow{"TwoLineFeeds", [] { return Format("\n\n"); }, "\r\n\r\n"},
                    FormatRow{"TwoCarriageReturns", [] { return Format("\r\r"); }, "\r\r"},
                    FormatRow{"LfCrLf", [] { return Format("\n\r\n"); }, "\r\n\r\n"},
                    FormatRow{"CrLfCr", [] { return Format("\r\n\r"); }, "\r\n\r"}),
    RowName);

// ------------------------------------------------- end of the format

INSTANTIATE_TEST_SUITE_P(CutOffConversions, FormatTable,
                         testing::Values(FormatRow{"PercentAtEnd", [] { return Format("abc%"); }, "abc"},
                                         FormatRow{"FlagsAtEnd", [] { return Format("abc%-0+ ,"); }, "abc"},
                                         FormatRow{"WidthAtEnd", [] { return Format("abc%12"); }, "abc"},
                                         FormatRow{"PrecisionAtEnd", [] { return Format("abc%5.3"); }, "abc"},
                                         FormatRow{"LongAtEnd", [] { return Format("abc%l"); }, "abc"},
                                         FormatRow{"DotAtEnd", [] { return Format("abc%."); }, "abc"},
                                         FormatRow{"EmptyFormat", [] { return Format(""); }, ""},
                                         FormatRow{"NullFormat", [] { return Format(nullptr); }, ""}),
                         RowName);

// ------------------------------------------------------- status texts

struct StatusRow {
  const char *Name;
  EFI_STATUS Status;
  const char *Expected;
};

void PrintTo(const StatusRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class StatusText : public testing::TestWithParam<StatusRow> {};

TEST_P(StatusText, PrintsTextOrNumber) {
  EXPECT_EQ(Format("%r", GetParam().Status), GetParam().Expected);
  // The text is a string field: width and justification apply to it too.
  std::string Text = GetParam().Expected;
  EXPECT_EQ(Format("%-40r|", GetParam().Status), Text + std::string(40 - Text.size(), ' ') + "|");
}

std::string StatusRowName(const testing::TestParamInfo<StatusRow> &Info) {
  return Info.param.Name;
}

INSTANTIATE_TEST_SUITE_P(
    EveryText, StatusText,
    testing::Values(StatusRow{"Success", EFI_SUCCESS, "Success"},
                    StatusRow{"WarnUnknownGlyph", EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph"},
                    StatusRow{"WarnDeleteFailure", EFI_WARN_DELETE_FAILURE, "Warning Delete Failure"},
                    StatusRow{"WarnWriteFailure", EFI_WARN_WRITE_FAILURE, "Warning Write Failure"},
                    StatusRow{"WarnBufferTooSmall", EFI_WARN_BUFFER_TOO_SMALL, "Warning Buffer Too Small"},
                    StatusRow{"WarnStaleData", EFI_WARN_STALE_DATA, "Warning Stale Data"},
                    StatusRow{"LoadError", EFI_LOAD_ERROR, "Load Error"},
                    StatusRow{"InvalidParameter", EFI_INVALID_PARAMETER, "Invalid Parameter"},
                    StatusRow{"Unsupported", EFI_UNSUPPORTED, "Unsupported"},
                    StatusRow{"BadBufferSize", EFI_BAD_BUFFER_SIZE, "Bad Buffer Size"},
                    StatusRow{"BufferTooSmall", EFI_BUFFER_TOO_SMALL, "Buffer Too Small"},
                    StatusRow{"NotReady", EFI_NOT_READY, "Not Ready"},
                    StatusRow{"DeviceError", EFI_DEVICE_ERROR, "Device Error"},
                    StatusRow{"WriteProtected", EFI_WRITE_PROTECTED, "Write Protected"},
                    StatusRow{"OutOfResources", EFI_OUT_OF_RESOURCES, "Out of Resources"},
                    StatusRow{"VolumeCorrupted", EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
                    StatusRow{"VolumeFull", EFI_VOLUME_FULL, "Volume Full"},
                    StatusRow{"NoMedia", EFI_NO_MEDIA, "No Media"},
                    StatusRow{"MediaChanged", EFI_MEDIA_CHANGED, "Media changed"},
                    StatusRow{"NotFound", EFI_NOT_FOUND, "Not Found"},
                    StatusRow{"AccessDenied", EFI_ACCESS_DENIED, "Access Denied"},
                    StatusRow{"NoResponse", EFI_NO_RESPONSE, "No Response"},
                    StatusRow{"NoMapping", EFI_NO_MAPPING, "No mapping"},
                    StatusRow{"Timeout", EFI_TIMEOUT, "Time out"},
                    StatusRow{"NotStarted", EFI_NOT_STARTED, "Not started"},
                    StatusRow{"AlreadyStarted", EFI_ALREADY_STARTED, "Already started"},
                    StatusRow{"Aborted", EFI_ABORTED, "Aborted"},
                    StatusRow{"IcmpError", EFI_ICMP_ERROR, "ICMP Error"},
                    StatusRow{"TftpError", EFI_TFTP_ERROR, "TFTP Error"},
                    StatusRow{"ProtocolError", EFI_PROTOCOL_ERROR, "Protocol Error"},
                    StatusRow{"IncompatibleVersion", EFI_INCOMPATIBLE_VERSION, "Incompatible Version"},
                    StatusRow{"SecurityViolation", EFI_SECURITY_VIOLATION, "Security Violation"},
                    StatusRow{"CrcError", EFI_CRC_ERROR, "CRC Error"},
                    StatusRow{"EndOfMedia", EFI_END_OF_MEDIA, "End of Media"},
                    StatusRow{"Reserved29", ENCODE_ERROR(29), "Reserved (29)"},
                    StatusRow{"Reserved30", ENCODE_ERROR(30), "Reserved (30)"},
                    StatusRow{"EndOfFile", EFI_END_OF_FILE, "End of File"},
                    StatusRow{"InvalidLanguage", EFI_INVALID_LANGUAGE, "Invalid Language"},
                    StatusRow{"CompromisedData", EFI_COMPROMISED_DATA, "Compromised Data"}),
    StatusRowName);

INSTANTIATE_TEST_SUITE_P(
    OutsideTheTables, StatusText,
    testing::Values(StatusRow{"ErrorOnePastTheTable", ENCODE_ERROR(34), "00000022"},
                    StatusRow{"WarningOnePastTheTable", ENCODE_WARNING(6), "00000006"},
                    StatusRow{"ErrorBitAlone", ENCODE_ERROR(0), "00000000"},
                    // Only the low 32 bits print, but the whole value decides the text.
                    StatusRow{"ErrorWithHighCodeBits", ENCODE_ERROR(0x100000002ull), "00000002"},
                    StatusRow{"WarningWithHighCodeBits", (EFI_STATUS)0x100000000ull, "00000000"},
                    StatusRow{"LargeWarning", (EFI_STATUS)0x7FFFFFFFDEADBEEFull, "DEADBEEF"}),
    StatusRowName);

// ------------------------------------------------ buffer bounds and result

constexpr CHAR8 kCanary = (CHAR8)0xA5;

struct Guarded {
  std::vector<CHAR8> Bytes;
  explicit Guarded(size_t Size) : Bytes(Size + 16, kCanary) {}
  CHAR8 *Data() { return Bytes.data(); }
  bool TailIntact(size_t From) const {
    for (size_t Index = From; Index < Bytes.size(); Index++) {
      if (Bytes[Index] != kCanary) return false;
    }
    return true;
  }
};

TEST(PrintBounds, BufferSizeZeroWritesNothing) {
  Guarded Buffer(0);
  EXPECT_EQ(AsciiSPrint(Buffer.Data(), 0, "abc%d", 5), 0u);
  EXPECT_TRUE(Buffer.TailIntact(0));
}

TEST(PrintBounds, BufferSizeOneOnlyTerminates) {
  Guarded Buffer(1);
  EXPECT_EQ(AsciiSPrint(Buffer.Data(), 1, "abc"), 0u);
  EXPECT_EQ(Buffer.Bytes[0], '\0');
  EXPECT_TRUE(Buffer.TailIntact(1));
}

TEST(PrintBounds, NullBufferReturnsZero) {
  EXPECT_EQ(AsciiSPrint(nullptr, 16, "abc"), 0u);
}

TEST(PrintBounds, ResultCountsCharactersWithoutTerminator) {
  CHAR8 Buffer[32];
  EXPECT_EQ(AsciiSPrint(Buffer, sizeof(Buffer), "Line %d\n", 12), 9u);
  EXPECT_STREQ(Buffer, "Line 12\r\n");
}

TEST(PrintBounds, OtherFlagsProduceEmptyTerminatedText) {
  CHAR8 Buffer[16];
  std::memset(Buffer, kCanary, sizeof(Buffer));
  VA_LIST Unused{};
  EXPECT_EQ(AsciiVSPrintMarker(Buffer, sizeof(Buffer), 1, "abc", Unused), 0u);
  EXPECT_EQ(Buffer[0], '\0');
}

// Every buffer size yields a prefix of the full text, terminated in the last
// byte, and leaves the bytes after the buffer alone; conversions that expand
// (GUID, status text, grouping, CR LF) are cut at each of their characters.
TEST(PrintBounds, EverySizeGivesTerminatedPrefix) {
  const char *Fmt = "%a|%g|%r|%,ld|%-6X|%08x\n%s%c%t";
  static const EFI_TIME Time = {2026, 12, 7, 9, 5, 0, 0, 0, 0, 0, 0};
  auto Run = [&](CHAR8 *Out, UINTN Size) {
    return AsciiSPrint(Out, Size, Fmt, "name", &kFatalErrorGuid, EFI_NOT_FOUND, -1234567890123ll, 0xABu,
                       0x1Fu, u"wide", (UINTN)'!', &Time);
  };
  CHAR8 Full[DEBUG_MESSAGE_BUFFER_SIZE];
  UINTN FullLength = Run(Full, sizeof(Full));
  ASSERT_LT(FullLength, sizeof(Full) - 1);
  for (UINTN Size = 1; Size <= FullLength + 2; Size++) {
    Guarded Buffer(Size);
    UINTN Count = Run(Buffer.Data(), Size);
    UINTN Expected = Size - 1 < FullLength ? Size - 1 : FullLength;
    ASSERT_EQ(Count, Expected) << "size " << Size;
    ASSERT_EQ(std::string(Buffer.Data(), Count), std::string(Full, Expected)) << "size " << Size;
    ASSERT_EQ(Buffer.Bytes[Count], '\0') << "size " << Size;
    ASSERT_TRUE(Buffer.TailIntact(Size)) << "size " << Size;
  }
}

struct HugeRow {
  const char *Name;
  std::function<UINTN(CHAR8 *, UINTN)> Run;
  char Fill;  // the character that fills the whole buffer
};

void PrintTo(const HugeRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class HugeCounts : public testing::TestWithParam<HugeRow> {};

// Widths and precisions far beyond the buffer fill it exactly and stop.
TEST_P(HugeCounts, FillBufferAndStop) {
  Guarded Buffer(64);
  UINTN Count = GetParam().Run(Buffer.Data(), 64);
  EXPECT_EQ(Count, 63u);
  EXPECT_EQ(std::string(Buffer.Data(), 63), std::string(63, GetParam().Fill));
  EXPECT_EQ(Buffer.Bytes[63], '\0');
  EXPECT_TRUE(Buffer.TailIntact(64));
}

INSTANTIATE_TEST_SUITE_P(
    BeyondTheBuffer, HugeCounts,
    testing::Values(
        HugeRow{"StarWidthMax", [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%*d", MAX_UINTN, 1); },
                ' '},
        HugeRow{"StarPrecisionMax", [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%.*d", MAX_UINTN, 1); },
                '0'},
        HugeRow{"StarPrecisionMaxGrouped",
                [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%0,*d", MAX_UINTN, 1); }, '0'},
        HugeRow{"WidthDigitsOverflow",
                [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%99999999999999999999999999d", 1); }, ' '},
        HugeRow{"PrecisionDigitsOverflow",
                [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%.99999999999999999999999999u", 1u); },
                '0'},
        HugeRow{"BigXWidth", [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%*X", MAX_UINTN, 0u); }, '0'},
        HugeRow{"StringWidth", [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%*a", MAX_UINTN, "x"); },
                ' '},
        HugeRow{"LeftJustifiedStringWidth",
                [](CHAR8 *B, UINTN S) { return AsciiSPrint(B, S, "%-*a", MAX_UINTN, ""); }, ' '},
        HugeRow{"LongOrdinaryText",
                [](CHAR8 *B, UINTN S) {
                  static const std::string Dots(500, '.');
                  return AsciiSPrint(B, S, Dots.c_str());
                },
                '.'}),
    [](const testing::TestParamInfo<HugeRow> &Info) { return std::string(Info.param.Name); });

}  // namespace
