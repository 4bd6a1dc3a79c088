#include "tests/qemu/PlatformVolume.h"

#include "common/GuidHobWalk.h"

namespace {

EFI_BOOT_SERVICES *mVolumeBs;
const UINT8 *mSection;
UINTN mSectionSize;

EFI_STATUS EFIAPI GetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, EFI_FV_ATTRIBUTES *Attributes) {
  if (Attributes == NULL) return EFI_INVALID_PARAMETER;
  *Attributes = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, EFI_FV_ATTRIBUTES *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ReadFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, VOID **, UINTN *,
                           EFI_FV_FILETYPE *, EFI_FV_FILE_ATTRIBUTES *, UINT32 *) {
  return EFI_NOT_FOUND;
}

// The one file has one RAW section: instance 0 of EFI_SECTION_RAW.
EFI_STATUS EFIAPI ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *NameGuid,
                              EFI_SECTION_TYPE SectionType, UINTN SectionInstance, VOID **Buffer,
                              UINTN *BufferSize, UINT32 *AuthenticationStatus) {
  if (NameGuid == NULL || Buffer == NULL || BufferSize == NULL || AuthenticationStatus == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (!HobGuidEquals(NameGuid, &gZephrinTestPlatformDsdtFileGuid) || SectionType != EFI_SECTION_RAW ||
      SectionInstance != 0) {
    return EFI_NOT_FOUND;
  }
  *AuthenticationStatus = 0;
  if (*Buffer == NULL) {
    EFI_STATUS Status = mVolumeBs->AllocatePool(EfiBootServicesData, mSectionSize, Buffer);
    if (EFI_ERROR(Status)) return Status;
  } else if (*BufferSize < mSectionSize) {
    *BufferSize = mSectionSize;
    return EFI_WARN_BUFFER_TOO_SMALL;
  }
  UINT8 *Out = static_cast<UINT8 *>(*Buffer);
  for (UINTN Index = 0; Index < mSectionSize; Index++) Out[Index] = mSection[Index];
  *BufferSize = mSectionSize;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI WriteFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, UINT32, EFI_FV_WRITE_POLICY,
                            EFI_FV_WRITE_FILE_DATA *) {
  return EFI_WRITE_PROTECTED;
}

// The dispatcher and the boot manager enumerate files; this volume offers
// none to them.
EFI_STATUS EFIAPI GetNextFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, VOID *, EFI_FV_FILETYPE *, EFI_GUID *,
                              EFI_FV_FILE_ATTRIBUTES *, UINTN *) {
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI GetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN *, VOID *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN, const VOID *) {
  return EFI_UNSUPPORTED;
}

EFI_FIRMWARE_VOLUME2_PROTOCOL mVolume = {
    GetVolumeAttributes, SetVolumeAttributes, ReadFile, ReadSection, WriteFile,
    GetNextFile,         sizeof(UINT64),      NULL,     GetInfo,     SetInfo};

}  // namespace

EFI_STATUS InstallPlatformVolume(EFI_BOOT_SERVICES *Bs, const VOID *Section, UINTN Size) {
  if (Bs == NULL || Section == NULL || Size == 0) return EFI_INVALID_PARAMETER;
  mVolumeBs = Bs;
  mSection = static_cast<const UINT8 *>(Section);
  mSectionSize = Size;
  EFI_HANDLE Handle = NULL;
  return Bs->InstallProtocolInterface(&Handle, const_cast<EFI_GUID *>(&gEfiFirmwareVolume2ProtocolGuid),
                                      EFI_NATIVE_INTERFACE, &mVolume);
}
