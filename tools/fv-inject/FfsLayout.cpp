// FFS sections and files: bounded reading and the fix-ups of rewritten files.
#include "tools/fv-inject/FfsLayout.h"

#include <cstdio>
#include <cstring>

#include "sim/FvImage.h"
#include "sim/VarStoreImage.h"

namespace fv_inject {
namespace {

constexpr size_t kSmallSizeLimit = 0xFFFFFF;  // 24-bit size fields; the value itself means "extended"

}  // namespace

bool WalkSections(const uint8_t *Stream, size_t Size, std::vector<SectionView> *Out, std::string *Error) {
  Out->clear();
  size_t Offset = 0;
  while (Size - Offset >= sizeof(EFI_COMMON_SECTION_HEADER)) {
    SectionView Section;
    Section.Offset = Offset;
    Section.Type = Stream[Offset + 3];
    Section.HeaderSize = sizeof(EFI_COMMON_SECTION_HEADER);
    Section.Size = sim::Get24(Stream + Offset);
    if (Section.Size == kSmallSizeLimit) {
      if (Size - Offset < sizeof(EFI_COMMON_SECTION_HEADER2)) {
        *Error = "section at " + Hex(Offset) + ": extended header past the end of its stream";
        return false;
      }
      Section.HeaderSize = sizeof(EFI_COMMON_SECTION_HEADER2);
      Section.Size = Stream[Offset + 4] | (Stream[Offset + 5] << 8) | (Stream[Offset + 6] << 16) |
                     (static_cast<size_t>(Stream[Offset + 7]) << 24);
    }
    if (Section.Size < Section.HeaderSize || Section.Size > Size - Offset) {
      *Error = "section at " + Hex(Offset) + ": size " + Hex(Section.Size) + " does not fit its stream of " +
               Hex(Size) + " bytes";
      return false;
    }
    Out->push_back(Section);
    Offset += Section.Size;
    size_t Aligned = (Offset + 3) & ~static_cast<size_t>(3);
    if (Aligned >= Size) break;
    Offset = Aligned;
  }
  return true;
}

bool ReadGuidDefinedHeader(const uint8_t *Stream, const SectionView &Section, GuidDefinedSectionHeader *Out,
                           std::string *Error) {
  if (Section.Size - Section.HeaderSize < sizeof(GuidDefinedSectionHeader)) {
    *Error = "GUID-defined section at " + Hex(Section.Offset) + " is shorter than its header";
    return false;
  }
  std::memcpy(Out, Stream + Section.Offset + Section.HeaderSize, sizeof(*Out));
  if (Out->DataOffset < Section.HeaderSize + sizeof(GuidDefinedSectionHeader) ||
      Out->DataOffset > Section.Size) {
    *Error = "GUID-defined section at " + Hex(Section.Offset) + " has data offset " + Hex(Out->DataOffset) +
             " outside the section";
    return false;
  }
  return true;
}

bool SetSectionSize(uint8_t *Header, size_t Size, std::string *Error) {
  if (Size >= kSmallSizeLimit) {
    *Error = "section of " + Hex(Size) + " bytes needs an extended header";
    return false;
  }
  sim::Put24(Header, Size);
  return true;
}

bool FinishFileHeader(Bytes *File, std::string *Error) {
  if (File->size() < sizeof(EFI_FFS_FILE_HEADER) || File->size() >= MAX_FFS_SIZE) {
    *Error = "file of " + Hex(File->size()) + " bytes does not fit a 24-bit file header";
    return false;
  }
  EFI_FFS_FILE_HEADER Header;
  std::memcpy(&Header, File->data(), sizeof(Header));
  if (Header.Attributes & FFS_ATTRIB_LARGE_FILE) {
    *Error = "file " + GuidText(Header.Name) + " has a large-file header, which is not rewritten";
    return false;
  }
  sim::Put24(Header.Size, File->size());
  const uint8_t State = Header.State;
  Header.State = 0;
  Header.HeaderChecksum = 0;
  Header.FileChecksum = 0;
  Header.HeaderChecksum =
      static_cast<uint8_t>(-sim::Sum8(reinterpret_cast<const uint8_t *>(&Header), sizeof(Header)));
  Header.FileChecksum = FFS_FIXED_CHECKSUM;
  if (Header.Attributes & FFS_ATTRIB_CHECKSUM) {
    const uint8_t *Data = File->data() + sizeof(Header);
    Header.FileChecksum = static_cast<uint8_t>(-sim::Sum8(Data, File->size() - sizeof(Header)));
  }
  Header.State = State;
  std::memcpy(File->data(), &Header, sizeof(Header));
  return true;
}

Bytes BuildPadFile(size_t Size, bool ErasePolarityOne) {
  Bytes File(Size, ErasePolarityOne ? 0xFF : 0x00);
  EFI_FFS_FILE_HEADER Header{};
  std::memset(&Header.Name, 0xFF, sizeof(Header.Name));
  Header.Type = EFI_FV_FILETYPE_FFS_PAD;
  const uint8_t Valid = EFI_FILE_HEADER_CONSTRUCTION | EFI_FILE_HEADER_VALID | EFI_FILE_DATA_VALID;
  Header.State = ErasePolarityOne ? static_cast<uint8_t>(~Valid) : Valid;
  std::memcpy(File.data(), &Header, sizeof(Header));
  std::string Ignored;
  FinishFileHeader(&File, &Ignored);  // a pad file is built only for sizes that fit
  return File;
}

Bytes BuildDxeDepex(const std::vector<EFI_GUID> &Guids) {
  Bytes Depex;
  if (Guids.empty()) Depex.push_back(kDepexTrue);
  for (size_t Index = 0; Index < Guids.size(); Index++) {
    Depex.push_back(kDepexPush);
    const uint8_t *Guid = reinterpret_cast<const uint8_t *>(&Guids[Index]);
    Depex.insert(Depex.end(), Guid, Guid + sizeof(EFI_GUID));
    if (Index > 0) Depex.push_back(kDepexAnd);
  }
  Depex.push_back(kDepexEnd);
  return Depex;
}

bool BuildDriverFile(const EFI_GUID &Name, const Bytes &Pe32Image, const std::vector<EFI_GUID> &Depex,
                     const std::string &UiName, bool ErasePolarityOne, Bytes *Out, std::string *Error) {
  Bytes Ui;
  for (char Character : UiName) {
    Ui.push_back(static_cast<uint8_t>(Character));
    Ui.push_back(0);
  }
  Ui.insert(Ui.end(), {0, 0});
  sim::FvFile File{Name, EFI_FV_FILETYPE_DRIVER, {}};
  File.Sections.push_back({EFI_SECTION_PE32, Pe32Image});
  File.Sections.push_back({EFI_SECTION_DXE_DEPEX, BuildDxeDepex(Depex)});
  File.Sections.push_back({EFI_SECTION_USER_INTERFACE, Ui});
  for (const sim::FvSection &Section : File.Sections) {
    if (sizeof(EFI_COMMON_SECTION_HEADER) + Section.Data.size() >= kSmallSizeLimit) {
      *Error = "file " + GuidText(Name) + ": image of " + Hex(Pe32Image.size()) + " bytes is too large";
      return false;
    }
  }
  *Out = sim::BuildFfsFile(File, ErasePolarityOne);
  if (Out->empty()) {
    *Error = "file " + GuidText(Name) + " does not fit a 24-bit file header";
    return false;
  }
  return true;
}

}  // namespace fv_inject
