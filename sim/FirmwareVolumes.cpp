#include "sim/FirmwareVolumes.h"

#include <cstring>

#include "sim/Platform.h"

namespace sim {

namespace {

// GetNextFile key: the index of the next file, plus a tag so that a key the
// caller did not zero (or scribbled on) is noticed.
struct FileKey {
  UINT64 NextIndex;
  UINT64 Tag;
};
constexpr UINT64 kKeyTag = 0x59454B5649464D53ull;  // "SMFIVKEY"
constexpr UINTN kSectionHeaderSize = 4;            // EFI_COMMON_SECTION_HEADER

FirmwareVolume *VolumeOf(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This) {
  return reinterpret_cast<FirmwareVolume *>(const_cast<EFI_FIRMWARE_VOLUME2_PROTOCOL *>(This));
}

const FvFile *FindFile(const FirmwareVolume &Volume, const EFI_GUID *Name) {
  for (auto &File : Volume.Files) {
    if (SameGuid(File.Name, *Name)) return &File;
  }
  return nullptr;
}

// Bytes of the file's data as an FFS file would hold it: each section with its
// 4-byte header, each starting 4-byte aligned.
UINTN FileDataSize(const FvFile &File) {
  UINTN Size = 0;
  for (auto &Section : File.Sections)
    Size = ((Size + 3) & ~UINTN{3}) + kSectionHeaderSize + Section.Data.size();
  return Size;
}

EFI_STATUS EFIAPI SimGetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *,
                                         EFI_FV_ATTRIBUTES *Attributes) {
  if (Attributes == nullptr) return EFI_INVALID_PARAMETER;
  *Attributes = 0x0000000000000004ull | 0x0000000000000800ull;  // EFI_FV2_READ_STATUS | EFI_FV2_MEMORY_MAPPED
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimSetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, EFI_FV_ATTRIBUTES *) {
  return EFI_ACCESS_DENIED;
}

EFI_STATUS EFIAPI SimGetNextFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, VOID *Key,
                                 EFI_FV_FILETYPE *FileType, EFI_GUID *NameGuid,
                                 EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size) {
  if (This == nullptr || Key == nullptr || FileType == nullptr || NameGuid == nullptr ||
      Attributes == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  FirmwareVolume *Volume = VolumeOf(This);
  FileKey State;
  std::memcpy(&State, Key, sizeof(State));
  if (State.Tag != kKeyTag) {
    if (State.Tag != 0 || State.NextIndex != 0) {
      CurrentPlatform().ReportFault("GetNextFile with a key that is neither zeroed nor from an earlier call");
      return EFI_INVALID_PARAMETER;
    }
    State.Tag = kKeyTag;
  }
  for (UINT64 Index = State.NextIndex; Index < Volume->Files.size(); ++Index) {
    const FvFile &File = Volume->Files[Index];
    if (*FileType != EFI_FV_FILETYPE_ALL && *FileType != File.Type) continue;
    State.NextIndex = Index + 1;
    std::memcpy(Key, &State, sizeof(State));
    *FileType = File.Type;
    *NameGuid = File.Name;
    *Attributes = EFI_FV_FILE_ATTRIB_MEMORY_MAPPED;
    *Size = FileDataSize(File);
    return EFI_SUCCESS;
  }
  State.NextIndex = Volume->Files.size();
  std::memcpy(Key, &State, sizeof(State));
  return EFI_NOT_FOUND;
}

// Hands out Size bytes: into a new pool buffer when *Buffer is NULL (the caller
// frees it), else into the caller's buffer, cut with EFI_WARN_BUFFER_TOO_SMALL.
EFI_STATUS HandOut(const std::vector<UINT8> &Bytes, VOID **Buffer, UINTN *BufferSize) {
  if (*Buffer == nullptr) {
    VOID *Copy = nullptr;
    EFI_STATUS Status = CurrentPlatform().Pool().Allocate(EfiBootServicesData, Bytes.size(), &Copy);
    if (EFI_ERROR(Status)) return EFI_OUT_OF_RESOURCES;
    if (!Bytes.empty()) std::memcpy(Copy, Bytes.data(), Bytes.size());
    *Buffer = Copy;
    *BufferSize = Bytes.size();
    return EFI_SUCCESS;
  }
  UINTN Copied = Bytes.size() < *BufferSize ? Bytes.size() : *BufferSize;
  if (Copied != 0) std::memcpy(*Buffer, Bytes.data(), Copied);
  bool Cut = Copied < Bytes.size();
  *BufferSize = Bytes.size();
  return Cut ? EFI_WARN_BUFFER_TOO_SMALL : EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid,
                                 EFI_SECTION_TYPE SectionType, UINTN SectionInstance, VOID **Buffer,
                                 UINTN *BufferSize, UINT32 *AuthenticationStatus) {
  if (This == nullptr || NameGuid == nullptr || Buffer == nullptr || BufferSize == nullptr ||
      AuthenticationStatus == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  FirmwareVolume *Volume = VolumeOf(This);
  ++Volume->ReadSectionCalls;
  EFI_STATUS Injected = EFI_SUCCESS;
  if (CurrentPlatform().Volumes().InjectedReadFailure(&Injected)) return Injected;
  const FvFile *File = FindFile(*Volume, NameGuid);
  if (File == nullptr) return EFI_NOT_FOUND;
  UINTN Seen = 0;
  for (auto &Section : File->Sections) {
    if (SectionType != EFI_SECTION_ALL && Section.Type != SectionType) continue;
    if (Seen++ != SectionInstance) continue;
    *AuthenticationStatus = 0;
    return HandOut(Section.Data, Buffer, BufferSize);
  }
  return EFI_NOT_FOUND;
}

// ReadFile hands out the file's data as sections with their headers.
EFI_STATUS EFIAPI SimReadFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid,
                              VOID **Buffer, UINTN *BufferSize, EFI_FV_FILETYPE *FoundType,
                              EFI_FV_FILE_ATTRIBUTES *FileAttributes, UINT32 *AuthenticationStatus) {
  if (This == nullptr || NameGuid == nullptr || BufferSize == nullptr || FoundType == nullptr ||
      FileAttributes == nullptr || AuthenticationStatus == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const FvFile *File = FindFile(*VolumeOf(This), NameGuid);
  if (File == nullptr) return EFI_NOT_FOUND;
  *FoundType = File->Type;
  *FileAttributes = EFI_FV_FILE_ATTRIB_MEMORY_MAPPED;
  *AuthenticationStatus = 0;
  if (Buffer == nullptr) {  // size query
    *BufferSize = FileDataSize(*File);
    return EFI_SUCCESS;
  }
  std::vector<UINT8> Data;
  for (auto &Section : File->Sections) {
    Data.resize((Data.size() + 3) & ~size_t{3}, 0);
    UINT32 Size = static_cast<UINT32>(kSectionHeaderSize + Section.Data.size());
    UINT8 Header[4] = {static_cast<UINT8>(Size), static_cast<UINT8>(Size >> 8),
                       static_cast<UINT8>(Size >> 16), Section.Type};
    Data.insert(Data.end(), Header, Header + 4);
    Data.insert(Data.end(), Section.Data.begin(), Section.Data.end());
  }
  return HandOut(Data, Buffer, BufferSize);
}

EFI_STATUS EFIAPI SimWriteFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, UINT32, EFI_FV_WRITE_POLICY,
                               EFI_FV_WRITE_FILE_DATA *) {
  return EFI_WRITE_PROTECTED;
}

EFI_STATUS EFIAPI SimGetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN *, VOID *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimSetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN, const VOID *) {
  return EFI_UNSUPPORTED;
}

}  // namespace

FvFile RawFile(const EFI_GUID &Name, EFI_FV_FILETYPE Type, std::vector<std::vector<UINT8>> RawSections) {
  FvFile File{Name, Type, {}};
  for (auto &Raw : RawSections) File.Sections.push_back(FvSection{EFI_SECTION_RAW, std::move(Raw)});
  return File;
}

bool FirmwareVolumes::InjectedReadFailure(EFI_STATUS *Status) {
  if (mFailAt == 0 || --mFailAt != 0) return false;
  *Status = mFailStatus;
  return true;
}

FirmwareVolume *FirmwareVolumes::Add(const EFI_GUID &FvName, std::vector<FvFile> Files) {
  auto Volume = std::make_unique<FirmwareVolume>();
  EFI_FIRMWARE_VOLUME2_PROTOCOL &Fv = Volume->Protocol;
  Fv.GetVolumeAttributes = &SimGetVolumeAttributes;
  Fv.SetVolumeAttributes = &SimSetVolumeAttributes;
  Fv.ReadFile = &SimReadFile;
  Fv.ReadSection = &SimReadSection;
  Fv.WriteFile = &SimWriteFile;
  Fv.GetNextFile = &SimGetNextFile;
  Fv.KeySize = sizeof(FileKey);
  Fv.GetInfo = &SimGetInfo;
  Fv.SetInfo = &SimSetInfo;
  Volume->FvName = FvName;
  Volume->Files = std::move(Files);
  Volume->DevicePath.Volume.Header = {
      MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP, {sizeof(MEDIA_FW_VOL_DEVICE_PATH), 0}};
  Volume->DevicePath.Volume.FvName = FvName;
  Volume->DevicePath.End = {
      END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}};
  EFI_HANDLE Handle = nullptr;
  EFI_GUID Fv2Guid = gEfiFirmwareVolume2ProtocolGuid;
  EFI_GUID PathGuid = gEfiDevicePathProtocolGuid;
  EFI_STATUS Status = mOwner.BootServices()->InstallMultipleProtocolInterfaces(
      &Handle, &Fv2Guid, &Volume->Protocol, &PathGuid, &Volume->DevicePath, nullptr);
  if (EFI_ERROR(Status)) return nullptr;
  Volume->Handle = Handle;
  Volume->Protocol.ParentHandle = nullptr;
  mVolumes.push_back(std::move(Volume));
  return mVolumes.back().get();
}

}  // namespace sim
