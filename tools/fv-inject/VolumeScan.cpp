// Volumes, their free space, and the recursive walk behind --list.
#include "tools/fv-inject/VolumeScan.h"

#include <cstring>

#include "tools/fv-inject/FvInject.h"
#include "tools/fv-inject/LzmaAlone.h"

namespace fv_inject {
namespace {

// Volumes inside sections inside volumes: OVMF nests two levels; more than this
// is taken as a malformed (or hostile) image.
constexpr size_t kMaxDepth = 8;

bool AllErased(const uint8_t *Bytes, size_t Size, uint8_t Erased) {
  for (size_t Index = 0; Index < Size; Index++) {
    if (Bytes[Index] != Erased) return false;
  }
  return true;
}

std::string UiNameOf(const uint8_t *Body, const std::vector<SectionView> &Sections) {
  for (const SectionView &Section : Sections) {
    if (Section.Type != EFI_SECTION_USER_INTERFACE) continue;
    std::string Name;
    for (size_t At = Section.Offset + Section.HeaderSize; At + 1 < Section.Offset + Section.Size; At += 2) {
      uint16_t Unit = Body[At] | (Body[At + 1] << 8);
      if (Unit == 0) break;
      Name.push_back(Unit < 0x80 ? static_cast<char>(Unit) : '?');
    }
    return Name;
  }
  return "";
}

// Visits every volume, file and opened section below an image. Text, when set,
// receives the listing; Names, when set, every file name.
class ImageWalk {
 public:
  ImageWalk(std::string *Text, std::vector<EFI_GUID> *Names) : mText(Text), mNames(Names) {}

  bool Volume(const Bytes &Volume, size_t Depth, const std::string &Where, std::string *Error);

 private:
  bool Sections(const uint8_t *Stream, size_t Size, size_t Depth, std::string *Error);
  bool Section(const uint8_t *Stream, const SectionView &Section, size_t Depth, std::string *Error);
  void Line(size_t Depth, const std::string &Text) {
    if (mText != nullptr) *mText += std::string(2 * Depth, ' ') + Text + "\n";
  }

  std::string *mText;
  std::vector<EFI_GUID> *mNames;
};

bool ImageWalk::Volume(const Bytes &Volume, size_t Depth, const std::string &Where, std::string *Error) {
  if (Depth > kMaxDepth) {
    *Error = "volumes nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return false;
  }
  VolumeScan Scan;
  if (!ScanVolume(Volume, &Scan, Error)) return false;
  Line(Depth, "volume " + (Scan.Name ? GuidText(*Scan.Name) : std::string("(no name)")) + Where + " size " +
                  Hex(Scan.Length) + " free " + Hex(Scan.Length - Scan.FreeOffset));
  for (const sim::FvFileView &File : Scan.Files) {
    if (mNames != nullptr) mNames->push_back(File.Name);
    const uint8_t *Body = Volume.data() + File.Offset + File.HeaderSize;
    std::vector<SectionView> Found;
    bool Walkable = File.Type != EFI_FV_FILETYPE_RAW && File.Type != EFI_FV_FILETYPE_ALL;
    if (Walkable && !WalkSections(Body, File.Size - File.HeaderSize, &Found, Error)) {
      *Error = "file " + GuidText(File.Name) + ": " + *Error;
      return false;
    }
    std::string Ui = UiNameOf(Body, Found);
    Line(Depth + 1, "file " + GuidText(File.Name) + " " + FileTypeName(File.Type) + " size " +
                        Hex(File.Size) + (Ui.empty() ? "" : " \"" + Ui + "\""));
    for (const SectionView &Each : Found) {
      if (!Section(Body, Each, Depth + 2, Error)) return false;
    }
  }
  return true;
}

bool ImageWalk::Sections(const uint8_t *Stream, size_t Size, size_t Depth, std::string *Error) {
  std::vector<SectionView> Found;
  if (!WalkSections(Stream, Size, &Found, Error)) return false;
  for (const SectionView &Each : Found) {
    if (!Section(Stream, Each, Depth, Error)) return false;
  }
  return true;
}

bool ImageWalk::Section(const uint8_t *Stream, const SectionView &Found, size_t Depth, std::string *Error) {
  const uint8_t *Data = Stream + Found.Offset + Found.HeaderSize;
  const size_t DataSize = Found.Size - Found.HeaderSize;
  if (Found.Type == EFI_SECTION_FIRMWARE_VOLUME_IMAGE) {
    return Volume(Bytes(Data, Data + DataSize), Depth, "", Error);
  }
  if (Found.Type != EFI_SECTION_GUID_DEFINED) return true;
  GuidDefinedSectionHeader Guided;
  if (!ReadGuidDefinedHeader(Stream, Found, &Guided, Error)) return false;
  if (!SameGuid(Guided.SectionDefinitionGuid, kLzmaCustomDecompressGuid)) {
    Line(Depth, "section " + GuidText(Guided.SectionDefinitionGuid) + " (not opened)");
    return true;
  }
  Bytes Payload;
  const uint8_t *Compressed = Stream + Found.Offset + Guided.DataOffset;
  if (!DecodeLzmaAlone(Compressed, Found.Size - Guided.DataOffset, &Payload, Error)) return false;
  Line(Depth,
       "LZMA section " + Hex(Found.Size - Guided.DataOffset) + " bytes -> " + Hex(Payload.size()) + " bytes");
  return Sections(Payload.data(), Payload.size(), Depth + 1, Error);
}

}  // namespace

bool ScanVolume(const Bytes &Volume, VolumeScan *Out, std::string *Error) {
  sim::FvImageReader Reader(Volume);
  if (!Reader.Parse()) {
    *Error = Reader.Error();
    return false;
  }
  EFI_FIRMWARE_VOLUME_HEADER Header;
  std::memcpy(&Header, Volume.data(), sizeof(Header));
  Out->Length = static_cast<size_t>(Header.FvLength);
  Out->ErasePolarityOne = Reader.ErasePolarityOne();
  Out->Name = Reader.FvName();
  Out->Files = Reader.Files();
  Out->FreeOffset = Reader.FreeOffset();
  const uint8_t Erased = Out->ErasePolarityOne ? 0xFF : 0x00;
  if (!AllErased(Volume.data() + Out->FreeOffset, Out->Length - Out->FreeOffset, Erased)) {
    *Error = "the free space from " + Hex(Out->FreeOffset) + " holds data that is not a file";
    return false;
  }
  return true;
}

size_t VolumeLengthAt(const Bytes &Image, size_t Offset) {
  EFI_FIRMWARE_VOLUME_HEADER Header;
  if (Offset > Image.size() || Image.size() - Offset < sizeof(Header)) return 0;
  std::memcpy(&Header, Image.data() + Offset, sizeof(Header));
  if (Header.Signature != EFI_FVH_SIGNATURE || Header.FvLength < sizeof(Header) ||
      Header.FvLength > Image.size() - Offset) {
    return 0;
  }
  return static_cast<size_t>(Header.FvLength);
}

bool FindTopVolumes(const Bytes &Image, std::vector<TopVolume> *Out, std::string *Error) {
  Out->clear();
  size_t Offset = 0;
  while (size_t Length = VolumeLengthAt(Image, Offset)) {
    Out->push_back({Offset, Length});
    Offset += Length;
  }
  if (Out->empty()) {
    *Error = "not a firmware image: no firmware volume header at offset 0";
    return false;
  }
  return true;
}

const char *FileTypeName(EFI_FV_FILETYPE Type) {
  static const char *const kNames[] = {
      "all",    "raw",     "freeform",      "sec-core",          "pei-core", "dxe-core",
      "peim",   "driver",  "peim-driver",   "application",       "mm",       "firmware-volume-image",
      "mm-dxe", "mm-core", "mm-standalone", "mm-core-standalone"};
  if (Type < sizeof(kNames) / sizeof(kNames[0])) return kNames[Type];
  return Type == EFI_FV_FILETYPE_FFS_PAD ? "pad" : "other";
}

bool ListImage(const Bytes &Image, std::string *Text, std::string *Error) {
  std::vector<TopVolume> Volumes;
  if (!FindTopVolumes(Image, &Volumes, Error)) return false;
  ImageWalk Walk(Text, nullptr);
  for (const TopVolume &Top : Volumes) {
    Bytes Volume(Image.begin() + Top.Offset, Image.begin() + Top.Offset + Top.Length);
    if (!Walk.Volume(Volume, 0, " at " + Hex(Top.Offset), Error)) return false;
  }
  size_t End = Volumes.back().Offset + Volumes.back().Length;
  if (End < Image.size()) *Text += Hex(Image.size() - End) + " bytes after the last volume, not read\n";
  return true;
}

bool CollectFileNames(const Bytes &Image, std::vector<EFI_GUID> *Names, std::string *Error) {
  std::vector<TopVolume> Volumes;
  if (!FindTopVolumes(Image, &Volumes, Error)) return false;
  ImageWalk Walk(nullptr, Names);
  for (const TopVolume &Top : Volumes) {
    Bytes Volume(Image.begin() + Top.Offset, Image.begin() + Top.Offset + Top.Length);
    if (!Walk.Volume(Volume, 0, "", Error)) return false;
  }
  return true;
}

}  // namespace fv_inject
