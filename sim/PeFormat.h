// The PE/COFF file format as far as a firmware image loader and the TE converter
// need it: the DOS stub header, the COFF file header, the PE32 and PE32+ optional
// headers, the data directories and the section table. ParsePeHeaders checks
// every field a consumer relies on against the file and the image size, so the
// loader and the converter start from the same verified description and only add
// their own policy (machine, magic, subsystem).
#ifndef ZEPHRIN_SIM_PE_FORMAT_H_
#define ZEPHRIN_SIM_PE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ByteReader;

namespace sim {

inline constexpr uint16_t kPeMachineIa32 = 0x014C;
inline constexpr uint16_t kPeMachineX64 = 0x8664;
inline constexpr uint16_t kPe32Magic = 0x010B;
inline constexpr uint16_t kPe32PlusMagic = 0x020B;
inline constexpr uint16_t kPeSubsystemEfiApplication = 10;
inline constexpr uint16_t kPeSubsystemEfiBootServiceDriver = 11;
inline constexpr uint16_t kPeSubsystemEfiRuntimeDriver = 12;
inline constexpr uint16_t kPeFileRelocsStripped = 0x0001;  // COFF Characteristics

// Data directory slots (PE/COFF optional header).
inline constexpr uint32_t kPeDirImport = 1;
inline constexpr uint32_t kPeDirSecurity = 4;  // a file offset, not an RVA
inline constexpr uint32_t kPeDirBaseReloc = 5;
inline constexpr uint32_t kPeDirDebug = 6;
inline constexpr uint32_t kPeDirCount = 16;

// Base relocation types.
inline constexpr uint16_t kPeRelAbsolute = 0;
inline constexpr uint16_t kPeRelHighLow = 3;
inline constexpr uint16_t kPeRelDir64 = 10;

inline constexpr size_t kPeDosHeaderSize = 64;
inline constexpr size_t kPeDosLfanewOffset = 0x3C;
inline constexpr size_t kPeCoffHeaderSize = 20;
inline constexpr size_t kPeSectionHeaderSize = 40;
inline constexpr size_t kPe32OptionalFixedSize = 96;       // up to the data directories
inline constexpr size_t kPe32PlusOptionalFixedSize = 112;  // up to the data directories

struct PeDataDirectory {
  uint32_t Rva = 0;   // image-relative address (file offset for the security slot)
  uint32_t Size = 0;  // bytes; 0 means absent
};

struct PeSection {
  std::string Name;              // up to 8 characters, for messages
  uint32_t VirtualAddress = 0;   // RVA of the section in the image
  uint32_t VirtualSize = 0;      // bytes in memory as recorded (0: use RawSize)
  uint32_t RawSize = 0;          // bytes of initialised data in the file
  uint32_t RawOffset = 0;        // file offset of those bytes
  uint32_t Characteristics = 0;  // IMAGE_SCN_* flags

  // Bytes the section occupies in the image. Linkers may record a VirtualSize of
  // 0 for a section that is exactly its raw data, so that case falls back.
  uint32_t LoadedSize() const { return VirtualSize != 0 ? VirtualSize : RawSize; }
  // Bytes to copy from the file: the raw data may be padded past the loaded size.
  uint32_t CopySize() const { return RawSize < LoadedSize() ? RawSize : LoadedSize(); }
};

struct PeHeaders {
  uint32_t PeOffset = 0;                     // file offset of the "PE\0\0" signature
  uint16_t Machine = 0;                      // COFF machine
  uint16_t Characteristics = 0;              // COFF characteristics
  uint16_t Magic = 0;                        // kPe32Magic or kPe32PlusMagic
  uint16_t Subsystem = 0;                    // optional header subsystem
  uint32_t EntryRva = 0;                     // AddressOfEntryPoint
  uint32_t BaseOfCode = 0;                   // BaseOfCode
  uint64_t ImageBase = 0;                    // preferred load address
  uint32_t SectionAlignment = 0;             // power of two
  uint32_t FileAlignment = 0;                // power of two, not above SectionAlignment
  uint32_t SizeOfImage = 0;                  // bytes of the mapped image
  uint32_t SizeOfHeaders = 0;                // bytes of headers copied to the image start
  uint32_t SectionTableOffset = 0;           // file offset of the first section header
  uint32_t DirectoryCount = 0;               // NumberOfRvaAndSizes, at most kPeDirCount
  PeDataDirectory Directories[kPeDirCount];  // slots past DirectoryCount are empty
  std::vector<PeSection> Sections;           // in file order, ascending and disjoint

  const PeDataDirectory &Directory(uint32_t Slot) const { return Directories[Slot]; }
};

// Parses and validates the headers of the PE32 or PE32+ file in [File, File +
// Size). Checks: DOS and PE signatures, the headers and the section table inside
// the file and inside SizeOfHeaders, the optional header magic and size, the
// alignments, SizeOfHeaders and SizeOfImage, the entry point, each section's raw
// data inside the file and its loaded extent inside the image (ascending, disjoint,
// above the headers), and each data directory inside the image. Nothing outside
// the buffer is read. Returns false with a message naming the fault in *Error.
bool ParsePeHeaders(const uint8_t *File, size_t Size, PeHeaders *Out, std::string *Error);

// Reads the section header at In's position into *Out and moves past it; false
// when the header runs past the end of In. Shared by the PE and TE parsers, whose
// section tables are the same 40-byte entries.
bool ReadPeSectionHeader(ByteReader &In, PeSection *Out);

// True when [Offset, Offset + Length) lies inside [0, Limit); cannot wrap.
inline bool PeRangeInside(uint64_t Offset, uint64_t Length, uint64_t Limit) {
  return Offset <= Limit && Length <= Limit - Offset;
}

// printf-style message building shared by the loader and the converter.
std::string PeFormatMessage(const char *Format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim

#endif  // ZEPHRIN_SIM_PE_FORMAT_H_
