// The numeric conversions against the host's snprintf, over a deterministic grid
// of flags, widths, precisions, argument sizes and values. Cases where the two
// formatters differ by design are left out (see DefinedAlike).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"

namespace {

struct NumericCase {
  std::string Flags;  // subset of "-+ 0"
  int Width;          // -1: none
  int Precision;      // -1: none
  bool Long;
  char Type;  // d u x X
  UINT64 Value;
};

// Ours takes "l" for 64 bits and prints hexadecimal in upper case for "x" too;
// the host takes "ll" and upper case only for "X".
std::string BuildFormat(const NumericCase &Case, bool ForHost) {
  std::string Format = "%" + Case.Flags;
  if (Case.Width >= 0) Format += std::to_string(Case.Width);
  if (Case.Precision >= 0) Format += "." + std::to_string(Case.Precision);
  if (Case.Long) Format += ForHost ? "ll" : "l";
  Format += (ForHost && Case.Type == 'x') ? 'X' : Case.Type;
  return "[" + Format + "]";
}

// "X" zero-pads to the width by itself; the host pads with blanks unless told
// "0" without a precision. Left justification means blanks in both.
bool DefinedAlike(const NumericCase &Case) {
  if (Case.Type != 'X' || Case.Width < 0 || Case.Flags.find('-') != std::string::npos) return true;
  return Case.Flags.find('0') != std::string::npos && Case.Precision < 0;
}

std::string Ours(const NumericCase &Case, UINTN *Count) {
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  std::string Format = BuildFormat(Case, false);
  if (Case.Long) {
    *Count = AsciiSPrint(Buffer, sizeof(Buffer), Format.c_str(), Case.Value);
  } else {
    *Count = AsciiSPrint(Buffer, sizeof(Buffer), Format.c_str(), (UINT32)Case.Value);
  }
  return Buffer;
}

std::string Host(const NumericCase &Case) {
  char Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  std::string Format = BuildFormat(Case, true);
  if (Case.Long) {
    std::snprintf(Buffer, sizeof(Buffer), Format.c_str(), (unsigned long long)Case.Value);
  } else {
    std::snprintf(Buffer, sizeof(Buffer), Format.c_str(), (unsigned)Case.Value);
  }
  return Buffer;
}

// Fixed edges of both widths plus pseudo-random values from a fixed seed.
std::vector<UINT64> SampleValues() {
  std::vector<UINT64> Values = {0,
                                1,
                                9,
                                10,
                                0xAB,
                                999,
                                1000,
                                1234567,
                                0x7FFFFFFF,
                                0x80000000,
                                0xFFFFFFFF,
                                0x100000000ull,
                                0x7FFFFFFFFFFFFFFFull,
                                0x8000000000000000ull,
                                0xFFFFFFFFFFFFFFFFull,
                                (UINT64)-42};
  UINT64 State = 0x2545F4914F6CDD1Dull;
  for (int Index = 0; Index < 8; Index++) {
    State ^= State << 13;
    State ^= State >> 7;
    State ^= State << 17;
    Values.push_back(State >> (Index * 7));  // spread over many magnitudes
  }
  return Values;
}

std::vector<std::string> FlagSets() {
  const char Flags[] = {'-', '+', ' ', '0'};
  std::vector<std::string> Sets;
  for (int Mask = 0; Mask < 16; Mask++) {
    std::string Set;
    for (int Bit = 0; Bit < 4; Bit++) {
      if (Mask & (1 << Bit)) Set += Flags[Bit];
    }
    Sets.push_back(Set);
  }
  return Sets;
}

class Differential : public testing::TestWithParam<char> {};

TEST_P(Differential, MatchesHostSnprintf) {
  const int Widths[] = {-1, 0, 1, 5, 12, 25};
  const int Precisions[] = {-1, 0, 1, 3, 10, 22};
  size_t Compared = 0;
  size_t Mismatches = 0;
  for (const std::string &Flags : FlagSets()) {
    for (int Width : Widths) {
      for (int Precision : Precisions) {
        for (bool Long : {false, true}) {
          for (UINT64 Value : SampleValues()) {
            NumericCase Case{Flags, Width, Precision, Long, GetParam(), Value};
            if (!DefinedAlike(Case)) continue;
            UINTN Count = 0;
            std::string Got = Ours(Case, &Count);
            std::string Want = Host(Case);
            Compared++;
            if (Got != Want || Count != Want.size()) {
              if (++Mismatches <= 20) {
                ADD_FAILURE() << BuildFormat(Case, false) << " of 0x" << std::hex << Value << ": got \""
                              << Got << "\" (" << std::dec << Count << "), host \"" << Want << "\"";
              }
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(Mismatches, 0u) << "of " << Compared << " cases";
  EXPECT_GT(Compared, 5000u);
}

INSTANTIATE_TEST_SUITE_P(NumericTypes, Differential, testing::Values('d', 'u', 'x', 'X'),
                         [](const testing::TestParamInfo<char> &Info) {
                           switch (Info.param) {
                             case 'd':
                               return std::string("SignedDecimal");
                             case 'u':
                               return std::string("UnsignedDecimal");
                             case 'x':
                               return std::string("Hex");
                             default:
                               return std::string("HexZeroPadded");
                           }
                         });

}  // namespace
