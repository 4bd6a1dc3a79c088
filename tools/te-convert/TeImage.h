// Conversion of an IA-32 PE32 image into a TE image for a PEI module.
//
// Layout arithmetic. In the PE file, the bytes [0, S) are the DOS header and
// stub, the "PE\0\0" signature, the 20-byte COFF header and the optional header;
// the section table starts at S = e_lfanew + 4 + 20 + SizeOfOptionalHeader. The
// TE file is the 40-byte TE header followed by the PE file from S on:
//
//   TE[0, 40)       EFI_TE_IMAGE_HEADER
//   TE[40, ...)     PE[S, ...)   section table, section data, everything after
//
// StrippedSize is the number of bytes removed from the start of the original
// file, S (the TE header is added, not part of what was removed). A byte at PE
// file offset X >= S is therefore at TE offset X - StrippedSize + 40, and a
// reader of a TE image finds section data at PointerToRawData - StrippedSize +
// sizeof (EFI_TE_IMAGE_HEADER); the section headers keep their PE values.
//
// A PEI module runs in place, so its RVAs must equal its file offsets (link with
// the same /align and /filealign): then RVA R lies at TE offset R - StrippedSize
// + 40, and the image's would-be PE base is the TE base + 40 - StrippedSize.
#ifndef ZEPHRIN_TOOLS_TE_CONVERT_TE_IMAGE_H_
#define ZEPHRIN_TOOLS_TE_CONVERT_TE_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace te_convert {

// Converts the PE32 file Pe into a TE image in *Te. Requires: IA-32 machine,
// PE32 magic, an EFI subsystem (10, 11 or 12), at most 255 sections, no imports,
// StrippedSize below 64 KiB, every section's file offset equal to its RVA and at
// or after the section table, the base relocation and debug directories inside
// section data, and sound HIGHLOW relocation blocks. Returns false with a
// message naming the fault in *Error.
bool ConvertPe32ToTe(const std::vector<uint8_t> &Pe, std::vector<uint8_t> *Te, std::string *Error);

}  // namespace te_convert

#endif  // ZEPHRIN_TOOLS_TE_CONVERT_TE_IMAGE_H_
