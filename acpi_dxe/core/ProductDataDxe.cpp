// Product-data volume search of the DXE driver: containers are RAW sections of
// freeform files in the two product-data volumes, read through the Firmware
// Volume 2 protocol and copied into pool, where the one that holds the item the
// driver uses stays for the life of the driver.
#include "acpi_dxe/core/ProductDataDxe.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "common/SafeInt.h"
#include "product_data/ProductData.h"
#include "uefi/Protocol/DevicePath.h"
#include "uefi/Protocol/FirmwareVolume2.h"

namespace {

// FV name of the first PIWG firmware-volume node of a device path; FALSE when
// there is none. The walk stops at the end node, at a node shorter than a node
// header (which would never advance) and after PRODUCT_DATA_MAX_DEVICE_PATH_SIZE
// bytes. Nodes may sit at any alignment, so the name is copied out byte-wise.
bool PdDevicePathFvName(const EFI_DEVICE_PATH_PROTOCOL *Path, EFI_GUID *FvName) {
  ByteReader In(Path, PRODUCT_DATA_MAX_DEVICE_PATH_SIZE);
  while (In.Remaining() >= sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    UINT8 Type = 0, SubType = 0;
    UINT16 Length = 0;
    In.PeekAt8(In.Position(), &Type);
    In.PeekAt8(In.Position() + 1, &SubType);
    In.PeekAt16(In.Position() + 2, &Length);
    if (Type == END_DEVICE_PATH_TYPE && SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) break;
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) break;
    if (Type == MEDIA_DEVICE_PATH && SubType == MEDIA_PIWG_FW_VOL_DP) {
      ByteReader Node;
      return Length >= sizeof(MEDIA_FW_VOL_DEVICE_PATH) && In.Take(Length, &Node) &&
             Node.Skip(OFFSET_OF(MEDIA_FW_VOL_DEVICE_PATH, FvName)) &&
             Node.ReadBytes(FvName, sizeof(*FvName));
    }
    if (!In.Skip(Length)) break;
  }
  return false;
}

// Stores Handle in every volume entry whose FV name is FvName.
VOID PdAssignVolume(FV_SEARCH_CONTEXT *Context, const EFI_GUID *FvName, EFI_HANDLE Handle) {
  for (UINT32 Index = 0; Index < PRODUCT_DATA_VOLUME_COUNT; Index++) {
    if (CompareGuid(FvName, Context->Volumes[Index].FvName)) Context->Volumes[Index].Handle = Handle;
  }
}

bool PdAllVolumesFound(const FV_SEARCH_CONTEXT *Context) {
  for (UINT32 Index = 0; Index < PRODUCT_DATA_VOLUME_COUNT; Index++) {
    if (Context->Volumes[Index].Handle == NULL) return false;
  }
  return true;
}

// A fresh context with its volume table filled and the first volume selected.
// *Context receives it as soon as it exists, so the caller frees it on every path.
EFI_STATUS PdStartFvSearch(FV_SEARCH_CONTEXT **Context) {
  FV_SEARCH_CONTEXT *Fresh = static_cast<FV_SEARCH_CONTEXT *>(AllocateZeroPool(sizeof(FV_SEARCH_CONTEXT)));
  if (Fresh == NULL) return EFI_OUT_OF_RESOURCES;
  *Context = Fresh;
  InitFvSearchContext(Fresh);
  EFI_STATUS Status = FindProductDataVolumes(Fresh);
  if (EFI_ERROR(Status)) return Status;
  return EFI_ERROR(NextProductDataVolume(Fresh)) ? EFI_NOT_FOUND : EFI_SUCCESS;
}

// A container found in a RAW section of SectionSize bytes, copied into a pool
// buffer that the caller owns. The copy keeps 24 zero bytes behind the section,
// so that a reader that looks one item header past the last item finds no item
// signature there. The section buffer is freed on every path.
EFI_STATUS PdCopyContainer(VOID *Section, UINTN SectionSize, UINTN *ContainerSize, VOID **Container) {
  UINTN CopySize = 0;
  VOID *Copy = NULL;
  if (SafeUintnAdd(SectionSize, sizeof(DATA_ITEM_HEADER), &CopySize)) Copy = AllocateZeroPool(CopySize);
  if (Copy == NULL) {
    FreePool(Section);
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(Copy, Section, SectionSize);
  FreePool(Section);
  EFI_STATUS Status = GetProductDataSize(Copy, SectionSize, ContainerSize);
  if (EFI_ERROR(Status)) {
    FreePool(Copy);
    *ContainerSize = 0;
    return EFI_LOAD_ERROR;
  }
  *Container = Copy;
  return EFI_SUCCESS;
}

bool PdStartsWithContainerSignature(const VOID *Section, UINTN SectionSize) {
  ByteReader In(Section, SectionSize);
  UINT64 Signature = 0;
  return SectionSize >= sizeof(PRODUCT_DATA_HEADER) && In.Read64(&Signature) &&
         Signature == PRODUCT_DATA_HEADER_SIGNATURE;
}

// Next container among the freeform files of the current volume. EFI_NOT_FOUND
// when the volume has no further file; EFI_LOAD_ERROR when a file has no RAW
// section or its container has no items, which ends the whole search.
EFI_STATUS PdNextContainerInVolume(EFI_FIRMWARE_VOLUME2_PROTOCOL *Fv, VOID *FileKey, UINTN *ContainerSize,
                                   VOID **Container, UINTN *SectionBytes) {
  for (;;) {
    EFI_FV_FILETYPE FileType = EFI_FV_FILETYPE_FREEFORM;
    EFI_GUID Name = {};
    EFI_FV_FILE_ATTRIBUTES Attributes = 0;
    UINTN FileSize = 0;
    if (EFI_ERROR(Fv->GetNextFile(Fv, FileKey, &FileType, &Name, &Attributes, &FileSize)))
      return EFI_NOT_FOUND;
    if (IsExcludedProductDataFile(&Name)) continue;
    VOID *Section = NULL;
    UINTN SectionSize = 0;
    UINT32 AuthenticationStatus = 0;
    if (EFI_ERROR(
            Fv->ReadSection(Fv, &Name, EFI_SECTION_RAW, 0, &Section, &SectionSize, &AuthenticationStatus))) {
      return EFI_LOAD_ERROR;
    }
    if (Section == NULL) return EFI_OUT_OF_RESOURCES;
    if (PdStartsWithContainerSignature(Section, SectionSize)) {
      *SectionBytes = SectionSize;
      return PdCopyContainer(Section, SectionSize, ContainerSize, Container);
    }
    FreePool(Section);
  }
}

}  // namespace

EFI_STATUS FindProductDataVolumes(FV_SEARCH_CONTEXT *Context) {
  if (Context == NULL) return EFI_INVALID_PARAMETER;
  for (UINT32 Index = 0; Index < PRODUCT_DATA_VOLUME_COUNT; Index++) Context->Volumes[Index].Handle = NULL;
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, const_cast<EFI_GUID *>(&gEfiFirmwareVolume2ProtocolGuid),
                                        NULL, &HandleCount, &Handles))) {
    return EFI_NOT_FOUND;
  }
  for (UINTN Index = 0; Index < HandleCount && !PdAllVolumesFound(Context); Index++) {
    EFI_DEVICE_PATH_PROTOCOL *Path = NULL;
    if (EFI_ERROR(gBS->HandleProtocol(Handles[Index], const_cast<EFI_GUID *>(&gEfiDevicePathProtocolGuid),
                                      reinterpret_cast<VOID **>(&Path))) ||
        Path == NULL) {
      continue;
    }
    EFI_GUID FvName = {};
    if (PdDevicePathFvName(Path, &FvName)) PdAssignVolume(Context, &FvName, Handles[Index]);
  }
  if (Handles != NULL) FreePool(Handles);
  return EFI_SUCCESS;
}

EFI_STATUS GetNextProductDataFromFv(FV_SEARCH_CONTEXT **Context, UINTN *ContainerSize, VOID **Container) {
  if (Context == NULL || ContainerSize == NULL || Container == NULL) return EFI_INVALID_PARAMETER;
  *ContainerSize = 0;
  *Container = NULL;
  if (*Context == NULL || (*Context)->Signature != FV_SEARCH_CONTEXT_SIGNATURE) {
    EFI_STATUS Status = PdStartFvSearch(Context);
    if (EFI_ERROR(Status)) return Status;
  }
  FV_SEARCH_CONTEXT *Search = *Context;
  for (;;) {
    if (Search->VolumeIndex >= PRODUCT_DATA_VOLUME_COUNT) return EFI_NOT_FOUND;
    EFI_FIRMWARE_VOLUME2_PROTOCOL *Fv = NULL;
    if (EFI_ERROR(gBS->HandleProtocol(Search->Volumes[Search->VolumeIndex].Handle,
                                      const_cast<EFI_GUID *>(&gEfiFirmwareVolume2ProtocolGuid),
                                      reinterpret_cast<VOID **>(&Fv))) ||
        Fv == NULL) {
      return EFI_NOT_FOUND;
    }
    if (Search->FileKey == NULL) {
      Search->FileKey = AllocateZeroPool(Fv->KeySize);
      if (Search->FileKey == NULL) return EFI_OUT_OF_RESOURCES;
    }
    EFI_STATUS Status =
        PdNextContainerInVolume(Fv, Search->FileKey, ContainerSize, Container, &Search->SectionSize);
    if (Status != EFI_NOT_FOUND) return Status;
    EFI_STATUS Next = NextProductDataVolume(Search);
    FreePool(Search->FileKey);
    Search->FileKey = NULL;
    if (EFI_ERROR(Next)) {
      // Mark the search as over, so that a further call does not start the last
      // volume again from its first file.
      Search->VolumeIndex = PRODUCT_DATA_VOLUME_COUNT;
      return EFI_NOT_FOUND;
    }
  }
}

VOID ReleaseProductDataContainer(VOID *Container) {
  if (Container != NULL) FreePool(Container);
}

VOID ReleaseFvSearchContext(FV_SEARCH_CONTEXT *Context) {
  if (Context == NULL) return;
  if (Context->FileKey != NULL) FreePool(Context->FileKey);
  FreePool(Context);
}
