// Base relocations of PE/COFF images: the blocks of the relocation directory,
// checked against the directory and the image before any target is touched.
// One walker for both image kinds this project builds: DIR64 for the x64 driver
// (loaded and rebased by PeImage), HIGHLOW for the IA-32 PEI module (checked by
// the TE converter, rebased by a PEI core on the board).
#ifndef ZEPHRIN_SIM_PE_RELOCATIONS_H_
#define ZEPHRIN_SIM_PE_RELOCATIONS_H_

#include <cstdint>
#include <string>

#include "sim/PeFormat.h"

namespace sim {

// The one relocation type an image of Machine carries besides ABSOLUTE padding:
// DIR64 for x64, HIGHLOW for IA-32; 0 for a machine this project does not build.
uint16_t PeRelocationTypeFor(uint16_t Machine);

// Checks the relocation blocks in Directory (the Dir.Size bytes of the
// directory, found at RVA Dir.Rva) for an image of ImageSize bytes: every block
// at least its 8-byte header, of even size and inside the directory, its page
// inside the image, every entry ABSOLUTE or Type with its whole target inside
// the image. Returns false with a message naming the first fault.
bool CheckBaseRelocations(const uint8_t *Directory, const PeDataDirectory &Dir, uint32_t ImageSize,
                          uint16_t Type, std::string *Error);

// Checks, then adds Delta to every target of the image of ImageSize bytes at
// Image (a 64-bit add for DIR64, a 32-bit one for HIGHLOW). Nothing is changed
// when the check fails, so a rejected image is left as it was.
bool ApplyBaseRelocations(uint8_t *Image, uint32_t ImageSize, const PeDataDirectory &Dir, uint16_t Type,
                          uint64_t Delta, std::string *Error);

}  // namespace sim

#endif  // ZEPHRIN_SIM_PE_RELOCATIONS_H_
