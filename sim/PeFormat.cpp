// Header parsing and validation of PE32/PE32+ files. Every read goes through the
// checked ByteReader, and every offset or size taken from the file is compared
// with the file size or SizeOfImage before anything is derived from it.
#include "sim/PeFormat.h"

#include <cstdarg>
#include <cstdio>

#include "common/ByteReader.h"

namespace sim {

std::string PeFormatMessage(const char *Format, ...) {
  char Buffer[256];
  va_list Args;
  va_start(Args, Format);
  vsnprintf(Buffer, sizeof(Buffer), Format, Args);
  va_end(Args);
  return Buffer;
}

bool ReadPeSectionHeader(ByteReader &In, PeSection *Out) {
  char Name[9] = {};
  UINT32 Ignored = 0;
  In.ReadBytes(Name, 8);
  Out->Name = Name;
  In.Read32(&Out->VirtualSize);
  In.Read32(&Out->VirtualAddress);
  In.Read32(&Out->RawSize);
  In.Read32(&Out->RawOffset);
  In.Read32(&Ignored);  // PointerToRelocations
  In.Read32(&Ignored);  // PointerToLinenumbers
  In.Read32(&Ignored);  // NumberOfRelocations, NumberOfLinenumbers
  In.Read32(&Out->Characteristics);
  return !In.Failed();
}

namespace {

bool IsPowerOfTwo(uint32_t Value) {
  return Value != 0 && (Value & (Value - 1)) == 0;
}

// Keeps the file reader and the error sink together so each check is one line.
class PeParser {
 public:
  PeParser(const uint8_t *File, size_t Size, PeHeaders *Out, std::string *Error)
      : mFile(File, Size), mOut(Out), mError(Error) {}

  bool Parse() {
    return ReadDosHeader() && ReadCoffHeader() && ReadOptionalHeader() && CheckImageGeometry() &&
           ReadSectionTable() && CheckDirectories();
  }

 private:
  size_t FileSize() const { return static_cast<size_t>(mFile.Size()); }

  bool Fail(const std::string &Message) {
    *mError = Message;
    return false;
  }

  bool ReadDosHeader() {
    UINT16 Magic = 0;
    UINT32 PeOffset = 0;
    if (FileSize() < kPeDosHeaderSize) {
      return Fail(PeFormatMessage("file of %zu bytes is too small for a DOS header", FileSize()));
    }
    mFile.PeekAt16(0, &Magic);
    mFile.PeekAt32(kPeDosLfanewOffset, &PeOffset);
    if (Magic != 0x5A4D) return Fail(PeFormatMessage("bad DOS signature 0x%04x (expected \"MZ\")", Magic));
    mOut->PeOffset = PeOffset;
    return true;
  }

  bool ReadCoffHeader() {
    UINT32 Signature = 0;
    UINT16 Sections = 0;
    if (!mFile.Seek(mOut->PeOffset) || !mFile.Read32(&Signature) || mFile.Remaining() < kPeCoffHeaderSize) {
      return Fail(PeFormatMessage("PE header at 0x%x runs past the end of the file", mOut->PeOffset));
    }
    if (Signature != 0x00004550) return Fail(PeFormatMessage("bad PE signature 0x%08x", Signature));
    UINT32 Ignored32 = 0;
    mFile.Read16(&mOut->Machine);
    mFile.Read16(&Sections);
    mFile.Read32(&Ignored32);  // TimeDateStamp
    mFile.Read32(&Ignored32);  // PointerToSymbolTable
    mFile.Read32(&Ignored32);  // NumberOfSymbols
    mFile.Read16(&mOptionalSize);
    mFile.Read16(&mOut->Characteristics);
    if (Sections == 0) return Fail("image has no sections");
    mSectionCount = Sections;
    return true;
  }

  bool ReadOptionalHeader() {
    ByteReader Optional;
    if (!mFile.Take(mOptionalSize, &Optional)) {
      return Fail(
          PeFormatMessage("optional header of %u bytes runs past the end of the file", mOptionalSize));
    }
    mOut->SectionTableOffset = static_cast<uint32_t>(mFile.Position());
    if (!Optional.PeekAt16(0, &mOut->Magic)) return Fail("optional header too small for its magic");
    if (mOut->Magic != kPe32Magic && mOut->Magic != kPe32PlusMagic) {
      return Fail(PeFormatMessage("optional header magic 0x%x is neither PE32 (0x10b) nor PE32+ (0x20b)",
                                  mOut->Magic));
    }
    bool Plus = mOut->Magic == kPe32PlusMagic;
    size_t Fixed = Plus ? kPe32PlusOptionalFixedSize : kPe32OptionalFixedSize;
    if (Optional.Size() < Fixed) {
      return Fail(PeFormatMessage("optional header of %u bytes is too small for %s", mOptionalSize,
                                  Plus ? "PE32+" : "PE32"));
    }
    ReadOptionalFields(Optional, Plus);
    return ReadDirectories(Optional, Fixed);
  }

  // Offsets differ between PE32 and PE32+ only from ImageBase on and in the
  // width of the stack and heap fields; the size check above covers them all.
  void ReadOptionalFields(const ByteReader &Optional, bool Plus) {
    UINT32 ImageBase32 = 0;
    UINT64 ImageBase64 = 0;
    Optional.PeekAt32(16, &mOut->EntryRva);
    Optional.PeekAt32(20, &mOut->BaseOfCode);
    if (Plus) {
      Optional.PeekAt64(24, &ImageBase64);
      mOut->ImageBase = ImageBase64;
    } else {
      Optional.PeekAt32(28, &ImageBase32);
      mOut->ImageBase = ImageBase32;
    }
    Optional.PeekAt32(32, &mOut->SectionAlignment);
    Optional.PeekAt32(36, &mOut->FileAlignment);
    Optional.PeekAt32(56, &mOut->SizeOfImage);
    Optional.PeekAt32(60, &mOut->SizeOfHeaders);
    Optional.PeekAt16(68, &mOut->Subsystem);
    Optional.PeekAt32(Plus ? 108 : 92, &mOut->DirectoryCount);
  }

  bool ReadDirectories(const ByteReader &Optional, size_t Fixed) {
    if (mOut->DirectoryCount > kPeDirCount) {
      return Fail(
          PeFormatMessage("%u data directories, at most %u are defined", mOut->DirectoryCount, kPeDirCount));
    }
    if ((Optional.Size() - Fixed) / 8 < mOut->DirectoryCount) {
      return Fail(PeFormatMessage("optional header of %zu bytes cannot hold %u data directories",
                                  size_t{mOptionalSize}, mOut->DirectoryCount));
    }
    for (uint32_t Slot = 0; Slot < mOut->DirectoryCount; Slot++) {
      size_t Entry = Fixed + size_t{Slot} * 8;
      Optional.PeekAt32(Entry, &mOut->Directories[Slot].Rva);
      Optional.PeekAt32(Entry + 4, &mOut->Directories[Slot].Size);
    }
    return true;
  }

  bool CheckImageGeometry() {
    const PeHeaders &H = *mOut;
    if (!IsPowerOfTwo(H.SectionAlignment)) {
      return Fail(PeFormatMessage("section alignment 0x%x is not a power of two", H.SectionAlignment));
    }
    if (!IsPowerOfTwo(H.FileAlignment) || H.FileAlignment > H.SectionAlignment) {
      return Fail(
          PeFormatMessage("file alignment 0x%x is not a power of two up to the section alignment 0x%x",
                          H.FileAlignment, H.SectionAlignment));
    }
    if (H.SizeOfImage % H.SectionAlignment != 0) {
      return Fail(PeFormatMessage("SizeOfImage 0x%x is not a multiple of the section alignment 0x%x",
                                  H.SizeOfImage, H.SectionAlignment));
    }
    // 64-bit arithmetic: the section count is at most 0xFFFF, so this cannot wrap.
    uint64_t TableEnd = uint64_t{H.SectionTableOffset} + uint64_t{mSectionCount} * kPeSectionHeaderSize;
    if (TableEnd > H.SizeOfHeaders) {
      return Fail(PeFormatMessage("section table ends at 0x%llx, past SizeOfHeaders 0x%x",
                                  static_cast<unsigned long long>(TableEnd), H.SizeOfHeaders));
    }
    if (H.SizeOfHeaders > mFile.Size() || H.SizeOfHeaders > H.SizeOfImage) {
      return Fail(PeFormatMessage("SizeOfHeaders 0x%x exceeds the file (0x%zx bytes) or SizeOfImage 0x%x",
                                  H.SizeOfHeaders, FileSize(), H.SizeOfImage));
    }
    if (H.EntryRva >= H.SizeOfImage) {
      return Fail(PeFormatMessage("entry point 0x%x lies outside the image (SizeOfImage 0x%x)", H.EntryRva,
                                  H.SizeOfImage));
    }
    return true;
  }

  bool ReadSectionTable() {
    uint32_t PreviousEnd = mOut->SizeOfHeaders;
    mFile.Seek(mOut->SectionTableOffset);
    for (uint32_t Index = 0; Index < mSectionCount; Index++) {
      PeSection Section;
      if (!ReadPeSectionHeader(mFile, &Section)) return Fail("section table runs past the end of the file");
      if (!CheckSection(Section, PreviousEnd)) return false;
      PreviousEnd = Section.VirtualAddress + Section.LoadedSize();
      mOut->Sections.push_back(Section);
    }
    return true;
  }

  bool CheckSection(const PeSection &Section, uint32_t PreviousEnd) {
    const char *Name = Section.Name.c_str();
    if (Section.RawSize != 0 && !PeRangeInside(Section.RawOffset, Section.RawSize, mFile.Size())) {
      return Fail(
          PeFormatMessage("section %s: raw data 0x%x+0x%x runs past the end of the file (0x%zx bytes)", Name,
                          Section.RawOffset, Section.RawSize, FileSize()));
    }
    if (Section.VirtualAddress % mOut->SectionAlignment != 0) {
      return Fail(PeFormatMessage("section %s: address 0x%x is not aligned to 0x%x", Name,
                                  Section.VirtualAddress, mOut->SectionAlignment));
    }
    if (!PeRangeInside(Section.VirtualAddress, Section.LoadedSize(), mOut->SizeOfImage)) {
      return Fail(PeFormatMessage("section %s: 0x%x+0x%x runs past SizeOfImage 0x%x", Name,
                                  Section.VirtualAddress, Section.LoadedSize(), mOut->SizeOfImage));
    }
    if (Section.VirtualAddress < PreviousEnd) {
      return Fail(PeFormatMessage("section %s at 0x%x overlaps the headers or the section before it", Name,
                                  Section.VirtualAddress));
    }
    return true;
  }

  bool CheckDirectories() {
    for (uint32_t Slot = 0; Slot < mOut->DirectoryCount; Slot++) {
      const PeDataDirectory &Dir = mOut->Directories[Slot];
      if (Slot == kPeDirSecurity || Dir.Size == 0) continue;
      if (!PeRangeInside(Dir.Rva, Dir.Size, mOut->SizeOfImage)) {
        return Fail(
            PeFormatMessage("data directory %u at 0x%x+0x%x lies outside the image (SizeOfImage 0x%x)", Slot,
                            Dir.Rva, Dir.Size, mOut->SizeOfImage));
      }
    }
    return true;
  }

  ByteReader mFile;            // the whole file; every read is bounded by it
  PeHeaders *mOut;             // filled as the parse goes on
  std::string *mError;         // message of the first failed check
  UINT16 mOptionalSize = 0;    // SizeOfOptionalHeader from the COFF header
  uint32_t mSectionCount = 0;  // NumberOfSections from the COFF header
};

}  // namespace

bool ParsePeHeaders(const uint8_t *File, size_t Size, PeHeaders *Out, std::string *Error) {
  *Out = PeHeaders();
  if (File == nullptr) {
    *Error = "no file data";
    return false;
  }
  return PeParser(File, Size, Out, Error).Parse();
}

}  // namespace sim
