// Loading a PE32+ driver image into the host process: driver policy on top of
// the format checks of PeFormat, the mapping, the copy and the relocations.
#include "sim/PeImage.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "sim/PeRelocations.h"

namespace sim {

namespace {

// What this loader accepts beyond a well-formed file: an x64 boot-service driver
// that needs nothing from other modules.
bool CheckDriverPolicy(const PeHeaders &H, std::string *Error) {
  if (H.Machine != kPeMachineX64) {
    *Error = PeFormatMessage("machine 0x%04x is not x64 (0x8664)", H.Machine);
  } else if (H.Magic != kPe32PlusMagic) {
    *Error = PeFormatMessage("optional header magic 0x%x is not PE32+ (0x20b)", H.Magic);
  } else if (H.Subsystem != kPeSubsystemEfiBootServiceDriver) {
    *Error = PeFormatMessage("subsystem %u is not an EFI boot service driver (11)", H.Subsystem);
  } else if (H.Directory(kPeDirImport).Size != 0) {
    *Error = PeFormatMessage("image imports from other modules (import directory 0x%x+0x%x)",
                             H.Directory(kPeDirImport).Rva, H.Directory(kPeDirImport).Size);
  } else if (H.SectionAlignment > EFI_PAGE_SIZE) {
    *Error = PeFormatMessage("section alignment 0x%x is larger than a page", H.SectionAlignment);
  } else {
    return true;
  }
  return false;
}

// The entry point must be code of the image, not a byte of its headers.
bool CheckEntryInSection(const PeHeaders &H, std::string *Error) {
  for (const PeSection &Section : H.Sections) {
    if (H.EntryRva >= Section.VirtualAddress && H.EntryRva - Section.VirtualAddress < Section.LoadedSize()) {
      return true;
    }
  }
  *Error = PeFormatMessage("entry point 0x%x is not inside a section", H.EntryRva);
  return false;
}

// Anonymous RWX pages, first tried in the low 2 GiB (MAP_32BIT) so that pointers
// into the image fit the 32-bit fields of ACPI tables, as on a board.
uint8_t *MapImagePages(size_t Bytes) {
  const int Protection = PROT_READ | PROT_WRITE | PROT_EXEC;
  void *Map = mmap(nullptr, Bytes, Protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (Map == MAP_FAILED) Map = mmap(nullptr, Bytes, Protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return Map == MAP_FAILED ? nullptr : static_cast<uint8_t *>(Map);
}

// Headers and section data into the zero-filled mapping; the bounds were checked
// by ParsePeHeaders (raw data inside the file, loaded extent inside the image).
void CopyImageContents(uint8_t *Image, const uint8_t *File, const PeHeaders &H) {
  memcpy(Image, File, H.SizeOfHeaders);
  for (const PeSection &Section : H.Sections) {
    memcpy(Image + Section.VirtualAddress, File + Section.RawOffset, Section.CopySize());
  }
}

}  // namespace

std::unique_ptr<PeImage> PeImage::Load(const uint8_t *File, size_t Size, std::string *Error) {
  PeHeaders Headers;
  if (!ParsePeHeaders(File, Size, &Headers, Error) || !CheckDriverPolicy(Headers, Error) ||
      !CheckEntryInSection(Headers, Error)) {
    return nullptr;
  }
  const size_t HostPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t MapSize = (size_t{Headers.SizeOfImage} + HostPage - 1) / HostPage * HostPage;
  uint8_t *Base = MapImagePages(MapSize);
  if (Base == nullptr) {
    *Error = PeFormatMessage("cannot map 0x%x bytes for the image", Headers.SizeOfImage);
    return nullptr;
  }
  // Owned from here on, so every failure below unmaps.
  std::unique_ptr<PeImage> Image(new PeImage(Base, MapSize, Headers));
  CopyImageContents(Base, File, Headers);
  const uint64_t Delta = reinterpret_cast<uintptr_t>(Base) - Headers.ImageBase;
  const PeDataDirectory &Relocs = Headers.Directory(kPeDirBaseReloc);
  if (Delta != 0 && Relocs.Size == 0) {
    *Error = PeFormatMessage("image has no base relocations and cannot move from 0x%llx",
                             static_cast<unsigned long long>(Headers.ImageBase));
    return nullptr;
  }
  if (!ApplyBaseRelocations(Base, Headers.SizeOfImage, Relocs, kPeRelDir64, Delta, Error)) return nullptr;
  return Image;
}

std::unique_ptr<PeImage> PeImage::LoadFile(const std::string &Path, std::string *Error) {
  std::ifstream In(Path, std::ios::binary);
  struct stat Info;
  if (!In || stat(Path.c_str(), &Info) != 0) {
    *Error = "cannot open image file " + Path;
    return nullptr;
  }
  // Only a regular file has a size to trust (a directory "seeks" to anywhere).
  const bool Regular = S_ISREG(Info.st_mode);
  std::vector<uint8_t> Bytes(Regular ? static_cast<size_t>(Info.st_size) : 0);
  if (!Regular ||
      !In.read(reinterpret_cast<char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()))) {
    *Error = "cannot read image file " + Path;
    return nullptr;
  }
  return Load(Bytes.data(), Bytes.size(), Error);
}

PeImage::~PeImage() {
  munmap(mBase, mMapSize);
}

EFI_IMAGE_ENTRY_POINT PeImage::EntryPoint() const {
  return reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(mBase + mHeaders.EntryRva);
}

}  // namespace sim
