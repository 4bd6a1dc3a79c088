// TE header parsing and loading. Every offset and size comes from the file, so
// each is checked with a subtraction on the side that cannot wrap before use;
// the file is read only through ByteReader.
#include "sim/TeLoader.h"

#include <cstring>

#include "common/ByteReader.h"
#include "sim/PeRelocations.h"
#include "uefi/PiTeImage.h"

namespace sim {
namespace {

constexpr uint32_t kTeHeaderSize = sizeof(EFI_TE_IMAGE_HEADER);
constexpr uint32_t kScnCntCode = 0x00000020;
constexpr uint32_t kScnMemExecute = 0x20000000;

bool HoldsCode(const PeSection &Section) {
  return (Section.Characteristics & (kScnCntCode | kScnMemExecute)) != 0;
}

bool InCodeSection(const std::vector<PeSection> &Sections, uint32_t Rva) {
  for (const PeSection &Section : Sections) {
    if (HoldsCode(Section) && Rva >= Section.VirtualAddress &&
        Rva - Section.VirtualAddress < Section.LoadedSize())
      return true;
  }
  return false;
}

class TeParser {
 public:
  TeParser(const std::vector<uint8_t> &File, TeHeaders *Out, std::string *Error)
      : mFile(File.data(), File.size()), mOut(Out), mError(Error) {}

  bool Parse() {
    uint8_t Sections = 0;
    if (!ReadHeader(&Sections)) return false;
    uint32_t PreviousEnd = HeaderEndRva(Sections);
    for (uint8_t Index = 0; Index < Sections; Index++) {
      PeSection Section;
      if (!ReadPeSectionHeader(mFile, &Section)) return Fail("section table runs past the end of the file");
      if (!CheckSection(Section, PreviousEnd)) return false;
      PreviousEnd = Section.VirtualAddress + Section.LoadedSize();
      mOut->Sections.push_back(Section);
    }
    mOut->ImageSize = PreviousEnd;
    return CheckEntryPoint() && CheckDirectory("base relocation", mOut->Relocations) &&
           CheckDirectory("debug", mOut->Debug);
  }

 private:
  bool Fail(const std::string &Why) {
    *mError = Why;
    return false;
  }

  // TE file offset of a PE file offset or of an RVA of this run-in-place image.
  uint64_t FileOffsetOf(uint32_t PeOffset) const {
    return uint64_t{PeOffset} - mOut->StrippedSize + kTeHeaderSize;
  }

  // The stripped headers plus the TE header and section table end here in RVA terms.
  uint32_t HeaderEndRva(uint8_t Sections) const {
    return mOut->StrippedSize + uint32_t{Sections} * kPeSectionHeaderSize;
  }

  bool ReadHeader(uint8_t *Sections) {
    UINT16 Signature = 0;
    UINT32 RelocRva = 0, RelocSize = 0, DebugRva = 0, DebugSize = 0;
    UINT64 ImageBase = 0;
    if (mFile.Size() < kTeHeaderSize) {
      return Fail(PeFormatMessage("file of %zu bytes is shorter than the 40-byte TE header",
                                  static_cast<size_t>(mFile.Size())));
    }
    mFile.Read16(&Signature);
    if (Signature != EFI_TE_IMAGE_HEADER_SIGNATURE) {
      return Fail(PeFormatMessage("TE signature 0x%04x is not \"VZ\"", Signature));
    }
    mFile.Read16(&mOut->Machine);
    mFile.Read8(Sections);
    mFile.Read8(&mOut->Subsystem);
    mFile.Read16(&mOut->StrippedSize);
    mFile.Read32(&mOut->EntryRva);
    mFile.Read32(&mOut->BaseOfCode);
    mFile.Read64(&ImageBase);
    mOut->ImageBase = ImageBase;
    mFile.Read32(&RelocRva);
    mFile.Read32(&RelocSize);
    mFile.Read32(&DebugRva);
    mFile.Read32(&DebugSize);
    mOut->Relocations = {RelocRva, RelocSize};
    mOut->Debug = {DebugRva, DebugSize};
    if (mOut->Machine != kPeMachineIa32) {
      return Fail(PeFormatMessage("TE image is for machine 0x%04x, not IA-32 (0x014c)", mOut->Machine));
    }
    if (mOut->StrippedSize < kTeHeaderSize) {
      return Fail(PeFormatMessage("StrippedSize %u is smaller than the TE header it was replaced by",
                                  mOut->StrippedSize));
    }
    if (*Sections == 0) return Fail("TE image has no sections");
    if (!PeRangeInside(kTeHeaderSize, uint64_t{*Sections} * kPeSectionHeaderSize, mFile.Size())) {
      return Fail(PeFormatMessage("section table of %u entries runs past the end of the file (%zu bytes)",
                                  *Sections, static_cast<size_t>(mFile.Size())));
    }
    return true;
  }

  bool CheckSection(const PeSection &Section, uint32_t PreviousEnd) {
    const char *Name = Section.Name.c_str();
    if (Section.RawSize != 0 && Section.RawOffset < mOut->StrippedSize) {
      return Fail(PeFormatMessage("section %s: raw data at 0x%x lies inside the 0x%x stripped header bytes",
                                  Name, Section.RawOffset, mOut->StrippedSize));
    }
    if (Section.RawSize != 0 &&
        !PeRangeInside(FileOffsetOf(Section.RawOffset), Section.RawSize, mFile.Size())) {
      return Fail(PeFormatMessage("section %s: raw data 0x%x+0x%x runs past the end of the file", Name,
                                  Section.RawOffset, Section.RawSize));
    }
    if (Section.VirtualAddress < PreviousEnd) {
      return Fail(PeFormatMessage("section %s at 0x%x overlaps the headers or the section before it", Name,
                                  Section.VirtualAddress));
    }
    if (!PeRangeInside(Section.VirtualAddress, Section.LoadedSize(), kTeMaxImageSize)) {
      return Fail(PeFormatMessage("section %s: 0x%x+0x%x ends beyond the 0x%x bytes an image may span", Name,
                                  Section.VirtualAddress, Section.LoadedSize(), kTeMaxImageSize));
    }
    return true;
  }

  bool CheckEntryPoint() {
    if (InCodeSection(mOut->Sections, mOut->EntryRva)) return true;
    return Fail(PeFormatMessage("entry point 0x%x lies in no code section", mOut->EntryRva));
  }

  // A directory must lie inside the image and be backed by the file's bytes.
  bool CheckDirectory(const char *What, const PeDataDirectory &Dir) {
    if (Dir.Size == 0) return true;
    if (!PeRangeInside(Dir.Rva, Dir.Size, mOut->ImageSize)) {
      return Fail(PeFormatMessage("%s directory 0x%x+0x%x lies outside the image (0x%x bytes)", What, Dir.Rva,
                                  Dir.Size, mOut->ImageSize));
    }
    if (Dir.Rva < mOut->StrippedSize || !PeRangeInside(FileOffsetOf(Dir.Rva), Dir.Size, mFile.Size())) {
      return Fail(PeFormatMessage("%s directory 0x%x+0x%x lies outside the file", What, Dir.Rva, Dir.Size));
    }
    return true;
  }

  ByteReader mFile;
  TeHeaders *mOut;
  std::string *mError;
};

}  // namespace

bool ParseTeHeaders(const std::vector<uint8_t> &File, TeHeaders *Out, std::string *Error) {
  *Out = TeHeaders();
  return TeParser(File, Out, Error).Parse();
}

bool TeLoadedImage::IsCode(uint32_t Address) const {
  return Address >= LoadBase && InCodeSection(Headers.Sections, Address - LoadBase);
}

bool LoadTeImage(const std::vector<uint8_t> &File, uint32_t LoadBase, TeLoadedImage *Out,
                 std::string *Error) {
  TeLoadedImage Image;
  if (!ParseTeHeaders(File, &Image.Headers, Error)) return false;
  const TeHeaders &H = Image.Headers;
  if (uint64_t{LoadBase} + H.ImageSize > 0x100000000ull) {
    *Error = PeFormatMessage("image of 0x%x bytes does not fit below 4 GiB at 0x%x", H.ImageSize, LoadBase);
    return false;
  }
  Image.LoadBase = LoadBase;
  Image.Bytes.assign(H.ImageSize, 0);
  // The TE header and section table take the place of the stripped headers'
  // tail, where a PEI core running the image in place finds them.
  size_t HeaderBytes = kTeHeaderSize + H.Sections.size() * kPeSectionHeaderSize;
  std::memcpy(&Image.Bytes[H.StrippedSize - kTeHeaderSize], File.data(), HeaderBytes);
  for (const PeSection &Section : H.Sections) {
    if (Section.CopySize() == 0) continue;
    size_t From = Section.RawOffset - H.StrippedSize + kTeHeaderSize;
    std::memcpy(&Image.Bytes[Section.VirtualAddress], &File[From], Section.CopySize());
  }
  uint64_t Delta = uint64_t{LoadBase} - H.ImageBase;
  if (Delta != 0 && H.Relocations.Size == 0) {
    *Error = PeFormatMessage("image linked for 0x%llx has no base relocations and cannot run at 0x%x",
                             static_cast<unsigned long long>(H.ImageBase), LoadBase);
    return false;
  }
  if (!ApplyBaseRelocations(Image.Bytes.data(), H.ImageSize, H.Relocations, kPeRelHighLow, Delta, Error)) {
    return false;
  }
  *Out = std::move(Image);
  return true;
}

}  // namespace sim
