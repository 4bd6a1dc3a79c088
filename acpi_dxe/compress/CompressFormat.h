// Parameters of the EFI 1.1 compressed data format, shared by the encoder and
// the decoder. The names are the format's own.
#ifndef ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_FORMAT_H_
#define ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_FORMAT_H_

#include "uefi/UefiBaseType.h"

inline constexpr UINT32 WNDBIT = 13;
inline constexpr UINT32 WNDSIZ = 1U << WNDBIT;  // matches reach at most this far back
inline constexpr UINT32 MAXMATCH = 256;         // longest match
inline constexpr UINT32 THRESHOLD = 3;          // shortest match worth a pointer
inline constexpr UINT32 UINT8_BIT = 8;

// Char&Len set: 256 literals, then match lengths THRESHOLD..MAXMATCH as
// length + (256 - THRESHOLD).
inline constexpr UINT32 NC = 0xFF + MAXMATCH + 2 - THRESHOLD;
// Position set as written: bit length (0..WNDBIT) of a match's position value.
inline constexpr UINT32 NP = WNDBIT + 1;
// Extra set: the symbols that code the Char&Len code lengths.
inline constexpr UINT32 NT = 19;

// Widths of the count fields that open each code-length table.
inline constexpr UINT32 CBIT = 9;  // Char&Len
inline constexpr UINT32 TBIT = 5;  // Extra
inline constexpr UINT32 PBIT = 4;  // Position

// Code lengths above this are not part of the format.
inline constexpr UINT32 MAX_CODE_LENGTH = 16;

static_assert(NC == 510, "Char&Len set size");
static_assert(NP == 14, "Position set size");

#endif  // ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_FORMAT_H_
