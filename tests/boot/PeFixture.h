// Test-side view of a PE file: reads and patches header fields at the offsets
// the PE/COFF format fixes, written apart from the loader's parser on purpose so
// that a wrong offset in one is not mirrored by the other.
#ifndef ZEPHRIN_TESTS_BOOT_PE_FIXTURE_H_
#define ZEPHRIN_TESTS_BOOT_PE_FIXTURE_H_

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/HostFiles.h"

namespace pe_fixture {

using test_support::ReadHostFileOrEmpty;

inline uint32_t Get32(const std::vector<uint8_t> &File, size_t Offset) {
  uint32_t Value = 0;
  memcpy(&Value, File.data() + Offset, 4);
  return Value;
}
inline uint16_t Get16(const std::vector<uint8_t> &File, size_t Offset) {
  uint16_t Value = 0;
  memcpy(&Value, File.data() + Offset, 2);
  return Value;
}
inline void Set32(std::vector<uint8_t> *File, size_t Offset, uint32_t Value) {
  memcpy(File->data() + Offset, &Value, 4);
}
inline void Set16(std::vector<uint8_t> *File, size_t Offset, uint16_t Value) {
  memcpy(File->data() + Offset, &Value, 2);
}

// Offsets of the headers inside the file.
inline size_t PeOffset(const std::vector<uint8_t> &File) {
  return Get32(File, 0x3C);
}
inline size_t CoffOffset(const std::vector<uint8_t> &File) {
  return PeOffset(File) + 4;
}
inline size_t OptionalOffset(const std::vector<uint8_t> &File) {
  return PeOffset(File) + 24;
}
inline uint16_t SectionCount(const std::vector<uint8_t> &File) {
  return Get16(File, CoffOffset(File) + 2);
}
inline size_t SectionTableOffset(const std::vector<uint8_t> &File) {
  return OptionalOffset(File) + Get16(File, CoffOffset(File) + 16);
}
inline size_t SectionHeaderOffset(const std::vector<uint8_t> &File, unsigned Index) {
  return SectionTableOffset(File) + Index * 40u;
}
inline std::string SectionName(const std::vector<uint8_t> &File, unsigned Index) {
  const char *Name = reinterpret_cast<const char *>(File.data() + SectionHeaderOffset(File, Index));
  return std::string(Name, strnlen(Name, 8));
}
// Optional-header fields at the same offset in PE32 and PE32+.
inline size_t EntryPointOffset(const std::vector<uint8_t> &File) {
  return OptionalOffset(File) + 16;
}
inline size_t SizeOfImageOffset(const std::vector<uint8_t> &File) {
  return OptionalOffset(File) + 56;
}
inline size_t SubsystemOffset(const std::vector<uint8_t> &File) {
  return OptionalOffset(File) + 68;
}
inline uint32_t SizeOfImage(const std::vector<uint8_t> &File) {
  return Get32(File, SizeOfImageOffset(File));
}
// Data directory Slot of a PE32+ (Plus) or PE32 optional header.
inline size_t DirectoryOffset(const std::vector<uint8_t> &File, unsigned Slot, bool Plus = true) {
  return OptionalOffset(File) + (Plus ? 112 : 96) + Slot * 8u;
}

// File offset of an RVA, found through the section that holds it.
inline size_t RvaToFileOffset(const std::vector<uint8_t> &File, uint32_t Rva) {
  for (unsigned Index = 0; Index < SectionCount(File); Index++) {
    size_t Header = SectionHeaderOffset(File, Index);
    uint32_t Va = Get32(File, Header + 12);
    uint32_t RawSize = Get32(File, Header + 16);
    if (Rva >= Va && Rva - Va < RawSize) return Get32(File, Header + 20) + (Rva - Va);
  }
  return SIZE_MAX;
}

inline std::string Hex(uint64_t Value) {
  char Buffer[32];
  snprintf(Buffer, sizeof(Buffer), "0x%llx", static_cast<unsigned long long>(Value));
  return Buffer;
}

}  // namespace pe_fixture

#endif  // ZEPHRIN_TESTS_BOOT_PE_FIXTURE_H_
