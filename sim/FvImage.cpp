// PI firmware-volume images: building and bounded reading.
#include "sim/FvImage.h"

#include <cstring>

#include "sim/Platform.h"
#include "uefi/Protocol/DevicePath.h"

namespace sim {
namespace {

constexpr size_t kBlockSize = 0x1000;
constexpr size_t kFvHeaderLength = sizeof(EFI_FIRMWARE_VOLUME_HEADER) + sizeof(EFI_FV_BLOCK_MAP_ENTRY);
// Capabilities and status a memory-mapped, readable, writable volume reports,
// with 16-byte alignment; the erase-polarity bit is added as configured.
constexpr UINT32 kFvAttributes = 0x0004F6FF;
constexpr EFI_GUID kPadFileName = {
    0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
constexpr UINT8 kFileStateValid = EFI_FILE_HEADER_CONSTRUCTION | EFI_FILE_HEADER_VALID | EFI_FILE_DATA_VALID;

size_t AlignUp(size_t Value, size_t Alignment) {
  return (Value + Alignment - 1) & ~(Alignment - 1);
}

// A file whose body is given as bytes (the pad file that carries the extended header).
std::vector<UINT8> BuildFileFromBody(const EFI_GUID &Name, EFI_FV_FILETYPE Type,
                                     const std::vector<UINT8> &Body, bool ErasePolarityOne) {
  std::vector<UINT8> File(sizeof(EFI_FFS_FILE_HEADER) + Body.size());
  if (File.size() >= MAX_FFS_SIZE) return {};
  EFI_FFS_FILE_HEADER Header{};
  Header.Name = Name;
  Header.Type = Type;
  Put24(Header.Size, File.size());
  // The header checksum covers the header with State and the file checksum at 0.
  Header.HeaderChecksum = static_cast<UINT8>(-Sum8(reinterpret_cast<const UINT8 *>(&Header), sizeof(Header)));
  Header.FileChecksum = FFS_FIXED_CHECKSUM;
  Header.State = ErasePolarityOne ? static_cast<UINT8>(~kFileStateValid) : kFileStateValid;
  std::memcpy(File.data(), &Header, sizeof(Header));
  if (!Body.empty()) std::memcpy(File.data() + sizeof(Header), Body.data(), Body.size());
  return File;
}

}  // namespace

void Put24(UINT8 *Out, size_t Value) {
  Out[0] = static_cast<UINT8>(Value);
  Out[1] = static_cast<UINT8>(Value >> 8);
  Out[2] = static_cast<UINT8>(Value >> 16);
}

size_t Get24(const UINT8 *In) {
  return In[0] | (In[1] << 8) | (static_cast<size_t>(In[2]) << 16);
}

UINT8 Sum8(const UINT8 *Bytes, size_t Size) {
  UINT8 Sum = 0;
  for (size_t Index = 0; Index < Size; Index++) Sum = static_cast<UINT8>(Sum + Bytes[Index]);
  return Sum;
}

UINT16 Sum16(const UINT8 *Bytes, size_t Size) {
  UINT16 Sum = 0;
  for (size_t Index = 0; Index + 1 < Size; Index += 2)
    Sum = static_cast<UINT16>(Sum + (Bytes[Index] | (Bytes[Index + 1] << 8)));
  return Sum;
}

std::vector<UINT8> BuildFfsSection(const FvSection &Section) {
  std::vector<UINT8> Bytes(sizeof(EFI_COMMON_SECTION_HEADER) + Section.Data.size());
  Put24(Bytes.data(), Bytes.size());
  Bytes[3] = Section.Type;
  if (!Section.Data.empty()) {  // memcpy from an empty vector's NULL data is undefined
    std::memcpy(Bytes.data() + sizeof(EFI_COMMON_SECTION_HEADER), Section.Data.data(), Section.Data.size());
  }
  return Bytes;
}

std::vector<UINT8> BuildFfsFile(const FvFile &File, bool ErasePolarityOne) {
  std::vector<UINT8> Body;
  for (const FvSection &Section : File.Sections) {
    // Sections start 4-byte aligned from the file header, which itself is 8-aligned.
    Body.resize(AlignUp(sizeof(EFI_FFS_FILE_HEADER) + Body.size(), 4) - sizeof(EFI_FFS_FILE_HEADER), 0);
    std::vector<UINT8> Bytes = BuildFfsSection(Section);
    Body.insert(Body.end(), Bytes.begin(), Bytes.end());
  }
  return BuildFileFromBody(File.Name, File.Type, Body, ErasePolarityOne);
}

FvImageBuilder &FvImageBuilder::SetFvName(const EFI_GUID &Name) {
  mFvName = Name;
  return *this;
}

FvImageBuilder &FvImageBuilder::SetErasePolarityOne(bool One) {
  mErasePolarityOne = One;
  return *this;
}

FvImageBuilder &FvImageBuilder::AddFile(const FvFile &File) {
  mFiles.push_back(File);
  return *this;
}

FvImageBuilder &FvImageBuilder::AddRawFile(const EFI_GUID &Name, const std::vector<UINT8> &Data,
                                           EFI_FV_FILETYPE Type) {
  FvFile File{};
  File.Name = Name;
  File.Type = Type;
  File.Sections.push_back({EFI_SECTION_RAW, Data});
  return AddFile(File);
}

std::vector<UINT8> FvImageBuilder::Build() const {
  const UINT8 Erased = mErasePolarityOne ? 0xFF : 0x00;
  std::vector<UINT8> Image(kFvHeaderLength, 0);
  UINT16 ExtHeaderOffset = 0;
  auto Append = [&](const std::vector<UINT8> &File) {
    Image.resize(AlignUp(Image.size(), 8), Erased);
    Image.insert(Image.end(), File.begin(), File.end());
  };
  if (mFvName) {
    EFI_FIRMWARE_VOLUME_EXT_HEADER Ext{*mFvName, sizeof(EFI_FIRMWARE_VOLUME_EXT_HEADER)};
    std::vector<UINT8> Body(sizeof(Ext));
    std::memcpy(Body.data(), &Ext, sizeof(Ext));
    ExtHeaderOffset = static_cast<UINT16>(AlignUp(Image.size(), 8) + sizeof(EFI_FFS_FILE_HEADER));
    Append(BuildFileFromBody(kPadFileName, EFI_FV_FILETYPE_FFS_PAD, Body, mErasePolarityOne));
  }
  for (const FvFile &File : mFiles) Append(BuildFfsFile(File, mErasePolarityOne));
  Image.resize(AlignUp(Image.size(), kBlockSize), Erased);

  EFI_FIRMWARE_VOLUME_HEADER Header{};
  Header.FileSystemGuid = gEfiFirmwareFileSystem2Guid;
  Header.FvLength = Image.size();
  Header.Signature = EFI_FVH_SIGNATURE;
  Header.Attributes = kFvAttributes | (mErasePolarityOne ? EFI_FVB2_ERASE_POLARITY : 0);
  Header.HeaderLength = kFvHeaderLength;
  Header.ExtHeaderOffset = ExtHeaderOffset;
  Header.Revision = EFI_FVH_REVISION;
  Header.BlockMap[0] = {static_cast<UINT32>(Image.size() / kBlockSize), static_cast<UINT32>(kBlockSize)};
  std::memcpy(Image.data(), &Header, sizeof(Header));
  std::memset(Image.data() + sizeof(Header), 0, sizeof(EFI_FV_BLOCK_MAP_ENTRY));  // block map terminator
  UINT16 Checksum = static_cast<UINT16>(-Sum16(Image.data(), kFvHeaderLength));
  std::memcpy(Image.data() + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Checksum), &Checksum, sizeof(Checksum));
  return Image;
}

bool FvImageReader::Fail(const std::string &Why) {
  mError = Why;
  return false;
}

bool FvImageReader::Parse() {
  size_t FirstFile = 0;
  return ParseHeader(&FirstFile) && ParseFiles(FirstFile);
}

bool FvImageReader::ParseHeader(size_t *FirstFile) {
  EFI_FIRMWARE_VOLUME_HEADER Header{};
  if (mImage.size() < sizeof(Header)) return Fail("image shorter than a volume header");
  std::memcpy(&Header, mImage.data(), sizeof(Header));
  if (Header.Signature != EFI_FVH_SIGNATURE) return Fail("no _FVH signature");
  if (Header.FvLength > mImage.size() || Header.FvLength < Header.HeaderLength) return Fail("bad FvLength");
  if (Header.HeaderLength < sizeof(Header) || Sum16(mImage.data(), Header.HeaderLength) != 0) {
    return Fail("bad header length or checksum");
  }
  mErasePolarityOne = (Header.Attributes & EFI_FVB2_ERASE_POLARITY) != 0;
  if (Header.ExtHeaderOffset != 0) {
    EFI_FIRMWARE_VOLUME_EXT_HEADER Ext{};
    if (Header.ExtHeaderOffset + sizeof(Ext) > Header.FvLength)
      return Fail("extended header past the volume");
    std::memcpy(&Ext, mImage.data() + Header.ExtHeaderOffset, sizeof(Ext));
    mFvName = Ext.FvName;
  }
  mFvLength = static_cast<size_t>(Header.FvLength);
  *FirstFile = AlignUp(Header.HeaderLength, 8);
  return true;
}

bool FvImageReader::ParseFiles(size_t Offset) {
  const UINT8 Erased = mErasePolarityOne ? 0xFF : 0x00;
  while (Offset + sizeof(EFI_FFS_FILE_HEADER) <= mFvLength) {
    const UINT8 *Bytes = mImage.data() + Offset;
    bool Free = true;
    for (size_t Index = 0; Index < sizeof(EFI_FFS_FILE_HEADER); Index++)
      Free = Free && Bytes[Index] == Erased;
    if (Free) break;  // the rest of the volume is free space
    EFI_FFS_FILE_HEADER Header{};
    std::memcpy(&Header, Bytes, sizeof(Header));
    FvFileView File;
    File.Name = Header.Name;
    File.Type = Header.Type;
    File.Attributes = Header.Attributes;
    File.Offset = Offset;
    File.HeaderSize = sizeof(EFI_FFS_FILE_HEADER);
    File.Size = Get24(Header.Size);
    if (Header.Attributes & FFS_ATTRIB_LARGE_FILE) {
      UINT64 Extended = 0;
      if (Offset + sizeof(EFI_FFS_FILE_HEADER2) > mFvLength) return Fail("large file header past the volume");
      std::memcpy(&Extended, Bytes + sizeof(EFI_FFS_FILE_HEADER), sizeof(Extended));
      File.HeaderSize = sizeof(EFI_FFS_FILE_HEADER2);
      File.Size = Extended > mFvLength ? mFvLength + 1 : static_cast<size_t>(Extended);
    }
    if (File.Size < File.HeaderSize || File.Size > mFvLength - Offset)
      return Fail("file size out of the volume");
    // The checksum covers the whole header, the large form's extended size included.
    UINT8 Checked = static_cast<UINT8>(Sum8(Bytes, File.HeaderSize) - Header.State - Header.FileChecksum);
    if (Checked != 0) return Fail("bad file header checksum");
    if (File.Type != EFI_FV_FILETYPE_FFS_PAD) mFiles.push_back(File);
    Offset = AlignUp(Offset + File.Size, 8);
  }
  mFreeOffset = Offset < mFvLength ? Offset : mFvLength;
  return true;
}

std::vector<FvSectionView> FvImageReader::Sections(const FvFileView &File) const {
  std::vector<FvSectionView> Found;
  size_t End = File.Offset + File.Size;
  size_t Offset = File.Offset + File.HeaderSize;
  while (true) {
    Offset = AlignUp(Offset, 4);
    if (Offset + sizeof(EFI_COMMON_SECTION_HEADER) > End) break;
    const UINT8 *Bytes = mImage.data() + Offset;
    size_t Size = Get24(Bytes);
    size_t HeaderSize = sizeof(EFI_COMMON_SECTION_HEADER);
    if (Size == 0xFFFFFF) {
      if (Offset + sizeof(EFI_COMMON_SECTION_HEADER2) > End) break;
      UINT32 Extended = 0;
      std::memcpy(&Extended, Bytes + 4, sizeof(Extended));
      Size = Extended;
      HeaderSize = sizeof(EFI_COMMON_SECTION_HEADER2);
    }
    if (Size < HeaderSize || Size > End - Offset) break;
    Found.push_back({Bytes[3], Offset + HeaderSize, Size - HeaderSize});
    Offset += Size;
  }
  return Found;
}

FirmwareVolume *AddFvImage(Platform &Owner, const std::vector<UINT8> &Image, std::string *Error) {
  FvImageReader Reader(Image);
  if (!Reader.Parse()) {
    *Error = Reader.Error();
    return nullptr;
  }
  if (!Reader.FvName()) {
    *Error = "the volume has no FV name";
    return nullptr;
  }
  std::vector<FvFile> Files;
  for (const FvFileView &View : Reader.Files()) {
    FvFile File{View.Name, View.Type, {}};
    for (const FvSectionView &Section : Reader.Sections(View)) {
      const UINT8 *Data = Image.data() + Section.DataOffset;
      File.Sections.push_back(FvSection{Section.Type, std::vector<UINT8>(Data, Data + Section.DataSize)});
    }
    Files.push_back(std::move(File));
  }
  FirmwareVolume *Volume = Owner.Volumes().Add(*Reader.FvName(), std::move(Files));
  if (Volume == nullptr) *Error = "the platform refused the volume";
  return Volume;
}

std::vector<UINT8> BuildFvDevicePath(const EFI_GUID &FvName) {
  MEDIA_FW_VOL_DEVICE_PATH Node{};
  Node.Header.Type = MEDIA_DEVICE_PATH;
  Node.Header.SubType = MEDIA_PIWG_FW_VOL_DP;
  Node.Header.Length[0] = sizeof(Node);
  Node.FvName = FvName;
  std::vector<UINT8> Path(sizeof(Node) + sizeof(EFI_DEVICE_PATH_PROTOCOL));
  std::memcpy(Path.data(), &Node, sizeof(Node));
  const UINT8 End[4] = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0};
  std::memcpy(Path.data() + sizeof(Node), End, sizeof(End));
  return Path;
}

}  // namespace sim
