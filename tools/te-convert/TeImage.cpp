// PE32 to TE: the PE headers are checked by the shared PE parser, the TE policy
// is checked here, then the TE header replaces everything before the section table.
#include "tools/te-convert/TeImage.h"

#include <cstring>

#include "sim/PeFormat.h"
#include "sim/PeRelocations.h"
#include "uefi/PiTeImage.h"

namespace te_convert {

namespace {

using sim::PeFormatMessage;

bool IsEfiSubsystem(uint16_t Subsystem) {
  return Subsystem == sim::kPeSubsystemEfiApplication || Subsystem == sim::kPeSubsystemEfiBootServiceDriver ||
         Subsystem == sim::kPeSubsystemEfiRuntimeDriver;
}

bool CheckTePolicy(const sim::PeHeaders &H, std::string *Error) {
  if (H.Machine != sim::kPeMachineIa32) {
    *Error = PeFormatMessage("machine 0x%04x is not IA-32 (0x014c)", H.Machine);
  } else if (H.Magic != sim::kPe32Magic) {
    *Error = PeFormatMessage("optional header magic 0x%x is not PE32 (0x10b)", H.Magic);
  } else if (!IsEfiSubsystem(H.Subsystem)) {
    *Error = PeFormatMessage("subsystem %u is not an EFI subsystem (10, 11 or 12)", H.Subsystem);
  } else if (H.Sections.size() > 0xFF) {
    *Error = PeFormatMessage("%zu sections do not fit the TE header (at most 255)", H.Sections.size());
  } else if (H.Directory(sim::kPeDirImport).Size != 0) {
    *Error = PeFormatMessage("image imports from other modules (import directory 0x%x+0x%x)",
                             H.Directory(sim::kPeDirImport).Rva, H.Directory(sim::kPeDirImport).Size);
  } else if (H.SectionTableOffset > 0xFFFF) {
    *Error = PeFormatMessage("headers of 0x%x bytes do not fit StrippedSize", H.SectionTableOffset);
  } else {
    return true;
  }
  return false;
}

// Execute-in-place: what the linker put at RVA R must be at file offset R, and
// no section data may lie in the bytes that are stripped.
bool CheckSectionsRunInPlace(const sim::PeHeaders &H, std::string *Error) {
  for (const sim::PeSection &Section : H.Sections) {
    if (Section.RawSize == 0) continue;
    if (Section.RawOffset < H.SectionTableOffset) {
      *Error = PeFormatMessage("section %s: raw data at 0x%x lies in the stripped headers (0x%x bytes)",
                               Section.Name.c_str(), Section.RawOffset, H.SectionTableOffset);
      return false;
    }
    if (Section.RawOffset != Section.VirtualAddress) {
      *Error = PeFormatMessage(
          "section %s: file offset 0x%x differs from its address 0x%x (link with equal /align and "
          "/filealign)",
          Section.Name.c_str(), Section.RawOffset, Section.VirtualAddress);
      return false;
    }
  }
  return true;
}

// A directory the TE header keeps must be present in the TE file, i.e. inside
// the file data of one section.
bool CheckDirectoryInSectionData(const sim::PeHeaders &H, uint32_t Slot, const char *What,
                                 std::string *Error) {
  const sim::PeDataDirectory &Dir = H.Directory(Slot);
  if (Dir.Size == 0) return true;
  for (const sim::PeSection &Section : H.Sections) {
    if (Dir.Rva >= Section.VirtualAddress && Dir.Rva - Section.VirtualAddress <= Section.CopySize() &&
        Dir.Size <= Section.CopySize() - (Dir.Rva - Section.VirtualAddress)) {
      return true;
    }
  }
  *Error = PeFormatMessage("%s directory 0x%x+0x%x is not inside the file data of a section", What, Dir.Rva,
                           Dir.Size);
  return false;
}

// A PEI core that shadows the module to memory rebases it with these blocks, so
// they must be sound. In place, the directory's RVA is also its file offset, and
// the check above put it inside the file.
bool CheckRelocations(const std::vector<uint8_t> &Pe, const sim::PeHeaders &H, std::string *Error) {
  const sim::PeDataDirectory &Dir = H.Directory(sim::kPeDirBaseReloc);
  if (Dir.Size == 0) return true;
  return sim::CheckBaseRelocations(Pe.data() + Dir.Rva, Dir, H.SizeOfImage, sim::kPeRelHighLow, Error);
}

EFI_TE_IMAGE_HEADER BuildTeHeader(const sim::PeHeaders &H) {
  EFI_TE_IMAGE_HEADER Te;
  memset(&Te, 0, sizeof(Te));
  Te.Signature = EFI_TE_IMAGE_HEADER_SIGNATURE;
  Te.Machine = H.Machine;
  Te.NumberOfSections = static_cast<UINT8>(H.Sections.size());
  Te.Subsystem = static_cast<UINT8>(H.Subsystem);
  Te.StrippedSize = static_cast<UINT16>(H.SectionTableOffset);
  Te.AddressOfEntryPoint = H.EntryRva;
  Te.BaseOfCode = H.BaseOfCode;
  Te.ImageBase = H.ImageBase;
  Te.DataDirectory[EFI_TE_IMAGE_DIRECTORY_ENTRY_BASERELOC] = {H.Directory(sim::kPeDirBaseReloc).Rva,
                                                              H.Directory(sim::kPeDirBaseReloc).Size};
  Te.DataDirectory[EFI_TE_IMAGE_DIRECTORY_ENTRY_DEBUG] = {H.Directory(sim::kPeDirDebug).Rva,
                                                          H.Directory(sim::kPeDirDebug).Size};
  return Te;
}

}  // namespace

bool ConvertPe32ToTe(const std::vector<uint8_t> &Pe, std::vector<uint8_t> *Te, std::string *Error) {
  sim::PeHeaders Headers;
  if (!sim::ParsePeHeaders(Pe.data(), Pe.size(), &Headers, Error) || !CheckTePolicy(Headers, Error) ||
      !CheckSectionsRunInPlace(Headers, Error) ||
      !CheckDirectoryInSectionData(Headers, sim::kPeDirBaseReloc, "base relocation", Error) ||
      !CheckDirectoryInSectionData(Headers, sim::kPeDirDebug, "debug", Error) ||
      !CheckRelocations(Pe, Headers, Error)) {
    return false;
  }
  const EFI_TE_IMAGE_HEADER Header = BuildTeHeader(Headers);
  const uint8_t *HeaderBytes = reinterpret_cast<const uint8_t *>(&Header);
  // ParsePeHeaders placed the section table inside SizeOfHeaders <= file size.
  Te->assign(HeaderBytes, HeaderBytes + sizeof(Header));
  Te->insert(Te->end(), Pe.begin() + Headers.SectionTableOffset, Pe.end());
  return true;
}

}  // namespace te_convert
