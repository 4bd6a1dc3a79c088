// Building and installing the protocols of an image handle.
#include "sim/ImageHandle.h"

namespace sim {

namespace {

void SetNodeHeader(EFI_DEVICE_PATH_PROTOCOL *Node, UINT8 Type, UINT8 SubType, UINT16 Length) {
  Node->Type = Type;
  Node->SubType = SubType;
  Node->Length[0] = static_cast<UINT8>(Length & 0xFF);
  Node->Length[1] = static_cast<UINT8>(Length >> 8);
}

void SetEndNode(EFI_DEVICE_PATH_PROTOCOL *Node) {
  SetNodeHeader(Node, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, sizeof(EFI_DEVICE_PATH_PROTOCOL));
}

void SetFileNode(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH *Node, const EFI_GUID &FileName) {
  SetNodeHeader(&Node->Header, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE_DP, sizeof(*Node));
  Node->FvFileName = FileName;
}

}  // namespace

std::unique_ptr<ImageHandle> ImageHandle::Install(EFI_SYSTEM_TABLE *SystemTable, const ImageOrigin &Origin,
                                                  VOID *ImageBase, uint64_t ImageSize, EFI_STATUS *Status) {
  std::unique_ptr<ImageHandle> Image(new ImageHandle());
  SetFileNode(&Image->mFilePath.File, Origin.FileName);
  SetEndNode(&Image->mFilePath.End);
  SetNodeHeader(&Image->mFullPath.Volume.Header, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP,
                sizeof(Image->mFullPath.Volume));
  Image->mFullPath.Volume.FvName = Origin.FvName;
  SetFileNode(&Image->mFullPath.File, Origin.FileName);
  SetEndNode(&Image->mFullPath.End);

  EFI_LOADED_IMAGE_PROTOCOL &Loaded = Image->mLoadedImage;
  Loaded.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  Loaded.SystemTable = SystemTable;
  Loaded.DeviceHandle = Origin.DeviceHandle;
  Loaded.FilePath = &Image->mFilePath.File.Header;
  Loaded.ImageBase = ImageBase;
  Loaded.ImageSize = ImageSize;
  Loaded.ImageCodeType = EfiBootServicesCode;
  Loaded.ImageDataType = EfiBootServicesData;

  EFI_BOOT_SERVICES *Bs = SystemTable->BootServices;
  EFI_GUID LoadedImageGuid = gEfiLoadedImageProtocolGuid;
  EFI_GUID DevicePathGuid = gEfiLoadedImageDevicePathProtocolGuid;
  *Status = Bs->InstallProtocolInterface(&Image->mHandle, &LoadedImageGuid, EFI_NATIVE_INTERFACE, &Loaded);
  if (EFI_ERROR(*Status)) return nullptr;
  *Status = Bs->InstallProtocolInterface(&Image->mHandle, &DevicePathGuid, EFI_NATIVE_INTERFACE,
                                         &Image->mFullPath.Volume.Header);
  if (EFI_ERROR(*Status)) {
    // The database must not keep a pointer into the object about to be freed.
    Bs->UninstallProtocolInterface(Image->mHandle, &LoadedImageGuid, &Loaded);
    return nullptr;
  }
  return Image;
}

}  // namespace sim
