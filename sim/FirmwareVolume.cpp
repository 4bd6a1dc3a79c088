// The Firmware Volume 2 protocol over an in-memory volume image.
#include "sim/FirmwareVolume.h"

#include <cstring>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"
#include "uefi/Protocol/DevicePath.h"

namespace sim {

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

FirmwareVolume::FirmwareVolume(std::vector<UINT8> Image) : mImage(std::move(Image)), mReader(mImage) {
  mValid = mReader.Parse();
  FillUnsupported(mInstance.Protocol.GetVolumeAttributes);
  FillUnsupported(mInstance.Protocol.SetVolumeAttributes);
  FillUnsupported(mInstance.Protocol.ReadFile);
  FillUnsupported(mInstance.Protocol.WriteFile);
  FillUnsupported(mInstance.Protocol.GetInfo);
  FillUnsupported(mInstance.Protocol.SetInfo);
  mInstance.Protocol.GetNextFile = &GetNextFile;
  mInstance.Protocol.ReadSection = &ReadSection;
  mInstance.Protocol.KeySize = sizeof(FileKey);
  mInstance.Owner = this;
}

EFI_HANDLE FirmwareVolume::Install(Platform &Owner, std::optional<EFI_GUID> Name) {
  std::optional<EFI_GUID> FvName = Name ? Name : mReader.FvName();
  return InstallWithDevicePath(Owner, FvName ? BuildFvDevicePath(*FvName) : std::vector<UINT8>{});
}

EFI_HANDLE FirmwareVolume::InstallWithDevicePath(Platform &Owner, std::vector<UINT8> DevicePath) {
  mDevicePath = std::move(DevicePath);
  EFI_HANDLE Handle =
      Owner.Protocols().InstallOnNewHandle(gEfiFirmwareVolume2ProtocolGuid, &mInstance.Protocol);
  if (Handle != nullptr && !mDevicePath.empty()) {
    Owner.Protocols().Install(&Handle, &gEfiDevicePathProtocolGuid, mDevicePath.data());
  }
  return Handle;
}

FirmwareVolume *FirmwareVolume::From(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This) {
  return reinterpret_cast<const Instance *>(This)->Owner;
}

EFI_STATUS EFIAPI FirmwareVolume::GetNextFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, VOID *Key,
                                              EFI_FV_FILETYPE *FileType, EFI_GUID *NameGuid,
                                              EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size) {
  if (This == nullptr || Key == nullptr || FileType == nullptr || NameGuid == nullptr ||
      Attributes == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  FirmwareVolume *Volume = From(This);
  Volume->mGetNextFileCalls++;
  FileKey Position{};
  std::memcpy(&Position, Key, sizeof(Position));
  const std::vector<FvFileView> &Files = Volume->mReader.Files();
  for (UINT64 Index = Position.NextFile; Index < Files.size(); Index++) {
    const FvFileView &File = Files[Index];
    if (*FileType != EFI_FV_FILETYPE_ALL && File.Type != *FileType) continue;
    *FileType = File.Type;
    *NameGuid = File.Name;
    *Attributes = EFI_FV_FILE_ATTRIB_MEMORY_MAPPED;
    *Size = File.Size - File.HeaderSize;
    Position.NextFile = Index + 1;
    std::memcpy(Key, &Position, sizeof(Position));
    return EFI_SUCCESS;
  }
  Position.NextFile = Files.size();
  std::memcpy(Key, &Position, sizeof(Position));
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI FirmwareVolume::ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This,
                                              const EFI_GUID *NameGuid, EFI_SECTION_TYPE SectionType,
                                              UINTN SectionInstance, VOID **Buffer, UINTN *BufferSize,
                                              UINT32 *AuthenticationStatus) {
  if (This == nullptr || NameGuid == nullptr || Buffer == nullptr || BufferSize == nullptr ||
      AuthenticationStatus == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  FirmwareVolume *Volume = From(This);
  Volume->mReadSectionCalls++;
  if (Volume->mReadSectionFailure != EFI_SUCCESS) return Volume->mReadSectionFailure;
  *AuthenticationStatus = 0;
  for (const FvFileView &File : Volume->mReader.Files()) {
    if (!SameGuid(File.Name, *NameGuid)) continue;
    UINTN Seen = 0;
    for (const FvSectionView &Section : Volume->mReader.Sections(File)) {
      if (Section.Type != SectionType) continue;
      if (Seen++ == SectionInstance) return Volume->CopySection(Section, Buffer, BufferSize);
    }
    return EFI_NOT_FOUND;
  }
  return EFI_NOT_FOUND;
}

// With *Buffer NULL the section goes into a new pool buffer; otherwise into the
// caller's *BufferSize bytes, truncated with a warning when it does not fit.
EFI_STATUS FirmwareVolume::CopySection(const FvSectionView &Section, VOID **Buffer, UINTN *BufferSize) {
  const UINT8 *Data = mImage.data() + Section.DataOffset;
  if (*Buffer == nullptr) {
    EFI_STATUS Status =
        CurrentPlatform().BootServices()->AllocatePool(EfiBootServicesData, Section.DataSize, Buffer);
    if (EFI_ERROR(Status)) return EFI_OUT_OF_RESOURCES;
    std::memcpy(*Buffer, Data, Section.DataSize);
    *BufferSize = Section.DataSize;
    return EFI_SUCCESS;
  }
  UINTN Copied = Section.DataSize < *BufferSize ? Section.DataSize : *BufferSize;
  std::memcpy(*Buffer, Data, Copied);
  EFI_STATUS Status = Copied < Section.DataSize ? EFI_WARN_BUFFER_TOO_SMALL : EFI_SUCCESS;
  *BufferSize = Section.DataSize;
  return Status;
}

}  // namespace sim
