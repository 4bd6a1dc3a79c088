// The loader of TE (Terse Executable) images for the emulated IA-32 PEI phase.
// A TE image is a PE32 image whose DOS, PE and optional headers were replaced by
// the 40-byte EFI_TE_IMAGE_HEADER; the section table and everything after it are
// the PE file's bytes from offset StrippedSize on. The loader works from the TE
// header alone:
//
//   TE file offset of PE file offset X      = X - StrippedSize + 40
//   section data of a section header        = PointerToRawData - StrippedSize + 40
//   the image's RVA 0 when the TE header is
//   placed at address T (runs in place)     = T + 40 - StrippedSize
//
// It lays the sections out by RVA at a base of the caller's choosing (not the
// linked ImageBase, so the relocations really are applied), puts the TE header
// and section table where the stripped headers ended, zero-fills what a section
// holds beyond its raw data, and applies the HIGHLOW base relocations.
#ifndef ZEPHRIN_SIM_TE_LOADER_H_
#define ZEPHRIN_SIM_TE_LOADER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/PeFormat.h"

namespace sim {

// The images this loader accepts stay well below this; a header that claims
// more is refused rather than allocated.
inline constexpr uint32_t kTeMaxImageSize = 16u << 20;

// What the TE header and section table say, checked against the file.
struct TeHeaders {
  uint16_t Machine = 0;
  uint8_t Subsystem = 0;
  uint16_t StrippedSize = 0;
  uint32_t EntryRva = 0;
  uint32_t BaseOfCode = 0;
  uint64_t ImageBase = 0;           // linked base of the original PE32
  PeDataDirectory Relocations;      // base relocation directory (RVA, bytes)
  PeDataDirectory Debug;            // debug directory (RVA, bytes)
  uint32_t ImageSize = 0;           // from RVA 0 to the end of the last section
  std::vector<PeSection> Sections;  // in file order, ascending and disjoint
};

// Checks the TE file: signature "VZ", IA-32 machine, StrippedSize at least the
// TE header, the section table inside the file, each section's raw data inside
// the file and after the stripped headers, sections ascending and disjoint, the
// entry point inside an executable section, the relocation and debug
// directories inside the file and inside the image. Returns false with a
// message naming the first fault in *Error.
bool ParseTeHeaders(const std::vector<uint8_t> &File, TeHeaders *Out, std::string *Error);

// A TE image laid out for execution at LoadBase (the address of RVA 0).
struct TeLoadedImage {
  TeHeaders Headers;
  uint32_t LoadBase = 0;
  std::vector<uint8_t> Bytes;  // Headers.ImageSize bytes, relocated for LoadBase

  uint32_t EntryPoint() const { return LoadBase + Headers.EntryRva; }
  // Whether [Address, Address + 1) is inside a section that holds code.
  bool IsCode(uint32_t Address) const;
};

// Parses File, lays it out for LoadBase and applies the HIGHLOW relocations
// (an ABSOLUTE entry is padding; any other type refuses the image). false with
// the reason in *Error; nothing is returned half-loaded.
bool LoadTeImage(const std::vector<uint8_t> &File, uint32_t LoadBase, TeLoadedImage *Out, std::string *Error);

}  // namespace sim

#endif  // ZEPHRIN_SIM_TE_LOADER_H_
