// The injection itself: find the LZMA section and the DXE volume inside it, add
// the driver files to the DXE volume's free space, recompress, and rebuild the
// file that holds the section in place inside its own volume.
#include "tools/fv-inject/FvInject.h"

#include <cstring>

#include "tools/fv-inject/LzmaAlone.h"
#include "tools/fv-inject/VolumeScan.h"

namespace fv_inject {
namespace {

// Where the compressed volumes live: the file in a top-level volume and the
// LZMA section inside it.
struct CompressedSite {
  TopVolume Top;
  VolumeScan Scan;       // of the top-level volume
  sim::FvFileView File;  // offsets from the top-level volume's start
  SectionView Section;   // offsets from the file's body
  GuidDefinedSectionHeader Guided{};
  size_t RoomEnd = 0;  // the next real file, or the volume's end
  bool HasNextFile = false;
};

// The DXE volume inside the decompressed payload.
struct DxeSite {
  size_t Offset = 0;  // of the volume, in the payload
  size_t Length = 0;
  VolumeScan Scan;
};

// *Found tells whether the file holds an LZMA section; false only for a malformed file.
bool FindLzmaSectionInFile(const Bytes &Volume, const sim::FvFileView &File, CompressedSite *Site,
                           bool *Found, std::string *Error) {
  *Found = false;
  const uint8_t *Body = Volume.data() + File.Offset + File.HeaderSize;
  std::vector<SectionView> Sections;
  if (!WalkSections(Body, File.Size - File.HeaderSize, &Sections, Error)) {
    *Error = "file " + GuidText(File.Name) + ": " + *Error;
    return false;
  }
  for (const SectionView &Section : Sections) {
    if (Section.Type != EFI_SECTION_GUID_DEFINED) continue;
    GuidDefinedSectionHeader Guided;
    if (!ReadGuidDefinedHeader(Body, Section, &Guided, Error)) {
      *Error = "file " + GuidText(File.Name) + ": " + *Error;
      return false;
    }
    if (!SameGuid(Guided.SectionDefinitionGuid, kLzmaCustomDecompressGuid)) continue;
    Site->File = File;
    Site->Section = Section;
    Site->Guided = Guided;
    *Found = true;
    return true;
  }
  return true;
}

bool FindCompressedSite(const Bytes &Image, CompressedSite *Site, std::string *Error) {
  std::vector<TopVolume> Volumes;
  if (!FindTopVolumes(Image, &Volumes, Error)) return false;
  for (const TopVolume &Top : Volumes) {
    Bytes Volume(Image.begin() + Top.Offset, Image.begin() + Top.Offset + Top.Length);
    VolumeScan Scan;
    if (!ScanVolume(Volume, &Scan, Error)) {
      *Error = "volume at " + Hex(Top.Offset) + ": " + *Error;
      return false;
    }
    for (size_t Index = 0; Index < Scan.Files.size(); Index++) {
      const sim::FvFileView &File = Scan.Files[Index];
      if (File.Type == EFI_FV_FILETYPE_RAW) continue;
      bool Found = false;
      if (!FindLzmaSectionInFile(Volume, File, Site, &Found, Error)) return false;
      if (!Found) continue;
      Site->Top = Top;
      Site->HasNextFile = Index + 1 < Scan.Files.size();
      Site->RoomEnd = Site->HasNextFile ? Scan.Files[Index + 1].Offset : Scan.Length;
      Site->Scan = std::move(Scan);
      return true;
    }
  }
  *Error = "no LZMA-compressed section (GUID " + GuidText(kLzmaCustomDecompressGuid) + ") in the image";
  return false;
}

bool HoldsDxeCore(const VolumeScan &Scan) {
  for (const sim::FvFileView &File : Scan.Files) {
    if (File.Type == EFI_FV_FILETYPE_DXE_CORE) return true;
  }
  return false;
}

bool FindDxeVolume(const Bytes &Payload, DxeSite *Dxe, std::string *Error) {
  std::vector<SectionView> Sections;
  if (!WalkSections(Payload.data(), Payload.size(), &Sections, Error)) {
    *Error = "decompressed section: " + *Error;
    return false;
  }
  for (const SectionView &Section : Sections) {
    if (Section.Type != EFI_SECTION_FIRMWARE_VOLUME_IMAGE) continue;
    size_t Offset = Section.Offset + Section.HeaderSize;
    Bytes Volume(Payload.begin() + Offset, Payload.begin() + Section.Offset + Section.Size);
    if (VolumeLengthAt(Volume, 0) == 0) continue;
    VolumeScan Scan;
    if (!ScanVolume(Volume, &Scan, Error)) {
      *Error = "volume in the decompressed section at " + Hex(Offset) + ": " + *Error;
      return false;
    }
    if (!HoldsDxeCore(Scan)) continue;
    Dxe->Offset = Offset;
    Dxe->Length = Scan.Length;
    Dxe->Scan = std::move(Scan);
    return true;
  }
  *Error = "no DXE volume (a volume holding the DXE core) in the LZMA-compressed section";
  return false;
}

bool CheckNamesAreNew(const Bytes &Image, const std::vector<DriverSpec> &Drivers, std::string *Error) {
  std::vector<EFI_GUID> Names;
  if (!CollectFileNames(Image, &Names, Error)) return false;
  for (size_t Index = 0; Index < Drivers.size(); Index++) {
    for (const EFI_GUID &Name : Names) {
      if (SameGuid(Name, Drivers[Index].Name)) {
        *Error = "a file named " + GuidText(Name) + " is already in the image";
        return false;
      }
    }
    for (size_t Before = 0; Before < Index; Before++) {
      if (SameGuid(Drivers[Before].Name, Drivers[Index].Name)) {
        *Error = "file " + GuidText(Drivers[Index].Name) + " is given twice";
        return false;
      }
    }
  }
  return true;
}

// Appends the driver files to the free space of the DXE volume, in place in Payload.
bool AddDriverFiles(const std::vector<DriverSpec> &Drivers, const DxeSite &Dxe, Bytes *Payload,
                    std::string *Error) {
  Bytes Files;
  for (const DriverSpec &Driver : Drivers) {
    Bytes File;
    if (!BuildDriverFile(Driver.Name, Driver.Image, Driver.Depex, Driver.UiName, Dxe.Scan.ErasePolarityOne,
                         &File, Error)) {
      return false;
    }
    Files.resize(AlignUp(Files.size(), 8), Dxe.Scan.ErasePolarityOne ? 0xFF : 0x00);
    Files.insert(Files.end(), File.begin(), File.end());
  }
  const size_t Start = AlignUp(Dxe.Scan.FreeOffset, 8);
  const size_t Free = Dxe.Length - Dxe.Scan.FreeOffset;
  if (Start > Dxe.Length || Files.size() > Dxe.Length - Start) {
    *Error = "no room in the DXE volume: the new files need " + Hex(Files.size()) + " bytes, " + Hex(Free) +
             " are free";
    return false;
  }
  std::memcpy(Payload->data() + Dxe.Offset + Start, Files.data(), Files.size());
  return true;
}

// The file that held the LZMA section, with a new stream in that section.
bool RebuildCompressedFile(const Bytes &Volume, const CompressedSite &Site, const Bytes &Stream, Bytes *Out,
                           std::string *Error) {
  const sim::FvFileView &File = Site.File;
  if (File.HeaderSize != sizeof(EFI_FFS_FILE_HEADER)) {
    *Error = "file " + GuidText(File.Name) + " has a large-file header, which is not rewritten";
    return false;
  }
  const uint8_t *FileStart = Volume.data() + File.Offset;
  const size_t SectionStart = File.HeaderSize + Site.Section.Offset;
  Out->assign(FileStart, FileStart + SectionStart + Site.Guided.DataOffset);
  Out->insert(Out->end(), Stream.begin(), Stream.end());
  const size_t NewSectionSize = Out->size() - SectionStart;
  uint8_t *SectionHeader = Out->data() + SectionStart;
  if (Site.Section.HeaderSize == sizeof(EFI_COMMON_SECTION_HEADER2)) {
    for (size_t Index = 0; Index < 4; Index++)
      SectionHeader[4 + Index] = static_cast<uint8_t>(NewSectionSize >> (8 * Index));
  } else if (!SetSectionSize(SectionHeader, NewSectionSize, Error)) {
    return false;
  }
  // Sections after the LZMA one keep their order, each 4-byte aligned again.
  const size_t Rest = AlignUp(SectionStart + Site.Section.Size, 4);
  if (Rest < File.Size) {
    Out->resize(AlignUp(Out->size(), 4), 0);
    Out->insert(Out->end(), FileStart + Rest, FileStart + File.Size);
  }
  return FinishFileHeader(Out, Error);
}

// Puts the rebuilt file where the old one was: the room reaches to the next real
// file (a pad file fills the gap) or to the end of the volume (free space).
bool PlaceFile(const CompressedSite &Site, const Bytes &File, Bytes *Volume, std::string *Error) {
  const uint8_t Erased = Site.Scan.ErasePolarityOne ? 0xFF : 0x00;
  const size_t Start = Site.File.Offset;
  const size_t Room = Site.RoomEnd - Start;
  const size_t End = AlignUp(Start + File.size(), 8);
  if (File.size() > Room || End > Site.RoomEnd) {
    *Error = "no room for the recompressed file " + GuidText(Site.File.Name) + ": it needs " +
             Hex(File.size()) + " bytes, " + Hex(Room) + " are available";
    return false;
  }
  const size_t Gap = Site.RoomEnd - End;
  if (Site.HasNextFile && Gap != 0 && Gap < sizeof(EFI_FFS_FILE_HEADER)) {
    *Error = "a gap of " + Hex(Gap) + " bytes before the next file is too small for a pad file";
    return false;
  }
  std::memset(Volume->data() + Start, Erased, Site.RoomEnd - Start);
  std::memcpy(Volume->data() + Start, File.data(), File.size());
  if (Site.HasNextFile && Gap != 0) {
    Bytes Pad = BuildPadFile(Gap, Site.Scan.ErasePolarityOne);
    std::memcpy(Volume->data() + End, Pad.data(), Pad.size());
  }
  return true;
}

}  // namespace

bool InjectDrivers(const Bytes &Image, const std::vector<DriverSpec> &Drivers, Bytes *Out,
                   InjectSummary *Summary, std::string *Error) {
  CompressedSite Site;
  if (!FindCompressedSite(Image, &Site, Error)) return false;
  Bytes Volume(Image.begin() + Site.Top.Offset, Image.begin() + Site.Top.Offset + Site.Top.Length);
  const uint8_t *Body = Volume.data() + Site.File.Offset + Site.File.HeaderSize;
  const uint8_t *Stream = Body + Site.Section.Offset + Site.Guided.DataOffset;
  const size_t StreamSize = Site.Section.Size - Site.Guided.DataOffset;
  LzmaHeader Header;
  Bytes Payload;
  if (!ReadLzmaHeader(Stream, StreamSize, &Header, Error) ||
      !DecodeLzmaAlone(Stream, StreamSize, &Payload, Error)) {
    *Error = "LZMA section of file " + GuidText(Site.File.Name) + ": " + *Error;
    return false;
  }
  DxeSite Dxe;
  if (!FindDxeVolume(Payload, &Dxe, Error) || !CheckNamesAreNew(Image, Drivers, Error) ||
      !AddDriverFiles(Drivers, Dxe, &Payload, Error)) {
    return false;
  }
  Bytes NewStream, NewFile;
  if (!EncodeLzmaAlone(Payload, Header.Properties, Header.DictionarySize, &NewStream, Error) ||
      !RebuildCompressedFile(Volume, Site, NewStream, &NewFile, Error) ||
      !PlaceFile(Site, NewFile, &Volume, Error)) {
    return false;
  }
  *Out = Image;
  std::memcpy(Out->data() + Site.Top.Offset, Volume.data(), Volume.size());
  Summary->CompressedBefore = StreamSize;
  Summary->CompressedAfter = NewStream.size();
  Summary->DxeFreeBefore = Dxe.Length - Dxe.Scan.FreeOffset;
  Bytes NewDxe(Payload.begin() + Dxe.Offset, Payload.begin() + Dxe.Offset + Dxe.Length);
  VolumeScan After;
  if (!ScanVolume(NewDxe, &After, Error)) {
    *Error = "the rebuilt DXE volume does not read back: " + *Error;
    return false;
  }
  Summary->DxeFreeAfter = After.Length - After.FreeOffset;
  Summary->MainFreeAfter = Site.RoomEnd - AlignUp(Site.File.Offset + NewFile.size(), 8);
  return true;
}

}  // namespace fv_inject
