// FFS files and section streams as the injector reads and writes them: a
// bounded section walk with a message for each malformed section, the header
// fix-ups a rewritten file needs (size, header and data checksums), pad files,
// and the DXE driver file with its PE32, dependency and user-interface sections.
#ifndef ZEPHRIN_TOOLS_FV_INJECT_FFS_LAYOUT_H_
#define ZEPHRIN_TOOLS_FV_INJECT_FFS_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "sim/VarStoreImage.h"
#include "uefi/PiFirmwareFile.h"

namespace fv_inject {

using Bytes = std::vector<uint8_t>;

// Section carrying data that needs processing by the tool named by its GUID.
struct GuidDefinedSectionHeader {
  EFI_GUID SectionDefinitionGuid;
  UINT16 DataOffset;  // from the start of the section to its data
  UINT16 Attributes;
};
static_assert(sizeof(GuidDefinedSectionHeader) == 20, "GUID-defined section header layout");

// Sections whose GUID is this hold an LZMA "alone" stream.
inline constexpr EFI_GUID kLzmaCustomDecompressGuid = {
    0xEE4E5898, 0x3914, 0x4259, {0x9D, 0x6E, 0xDC, 0x7B, 0xD7, 0x94, 0x03, 0xCF}};

// Dependency expression opcodes of DXE drivers.
inline constexpr uint8_t kDepexPush = 0x02;
inline constexpr uint8_t kDepexAnd = 0x03;
inline constexpr uint8_t kDepexTrue = 0x06;
inline constexpr uint8_t kDepexEnd = 0x08;

struct SectionView {
  uint8_t Type = 0;
  size_t Offset = 0;      // of the section header, from the start of the stream
  size_t HeaderSize = 0;  // 4, or 8 with the extended size
  size_t Size = 0;        // whole section, header included
};

// Walks a section stream (the body of a file, or the data of an encapsulating
// section): sections 4-byte aligned from the stream start, each inside the stream.
bool WalkSections(const uint8_t *Stream, size_t Size, std::vector<SectionView> *Out, std::string *Error);

// The GUID-defined header of a section of type EFI_SECTION_GUID_DEFINED, checked
// against the section's size.
bool ReadGuidDefinedHeader(const uint8_t *Stream, const SectionView &Section, GuidDefinedSectionHeader *Out,
                           std::string *Error);

// Writes Size into a section header of the 4-byte form.
bool SetSectionSize(uint8_t *Header, size_t Size, std::string *Error);

// Sets the size of a file (24-byte header form) and recomputes its header
// checksum and, when FFS_ATTRIB_CHECKSUM asks for it, the data checksum. State
// is kept as it was.
bool FinishFileHeader(Bytes *File, std::string *Error);

// A pad file of Size bytes (at least a header) whose body is the erased byte.
Bytes BuildPadFile(size_t Size, bool ErasePolarityOne);

// PUSH g1 PUSH g2 AND PUSH g3 AND ... END; no GUIDs: TRUE END.
Bytes BuildDxeDepex(const std::vector<EFI_GUID> &Guids);

// An EFI_FV_FILETYPE_DRIVER file: PE32, DXE dependency and user-interface sections.
bool BuildDriverFile(const EFI_GUID &Name, const Bytes &Pe32Image, const std::vector<EFI_GUID> &Depex,
                     const std::string &UiName, bool ErasePolarityOne, Bytes *Out, std::string *Error);

inline size_t AlignUp(size_t Value, size_t Alignment) {
  return (Value + Alignment - 1) & ~(Alignment - 1);
}

// "0x1f": offsets and sizes in messages.
inline std::string Hex(size_t Value) {
  return sim::HexText(Value);
}

// Registry-format text of a GUID ("EE4E5898-3914-4259-9D6E-DC7BD79403CF").
inline std::string GuidText(const EFI_GUID &Guid) {
  return sim::GuidText(Guid, sim::GuidCase::Upper);
}
using sim::SameGuid;

}  // namespace fv_inject

#endif  // ZEPHRIN_TOOLS_FV_INJECT_FFS_LAYOUT_H_
