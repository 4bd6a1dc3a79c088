// Firmware-volume table reader of the certified path. Sections come from the
// platform's Firmware Volume 2 protocol; their contents are file data we did not
// write, so a section counts as a table only after its header and Length have
// been checked against the section's size.
#include "acpi_dxe/restore/FvTableReader.h"

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "uefi/Acpi.h"
#include "uefi/Protocol/FirmwareVolume2.h"
#include "uefi/Protocol/LoadedImage.h"

namespace {

enum FV_SECTION_VERDICT {
  FvSectionIsTable,     // the wanted table, whole inside its section
  FvSectionOtherTable,  // another signature, or an SSDT with another OemTableId
  FvSectionMalformed    // the wanted signature, but a header or Length the section cannot hold
};

// Header fields of a section, read through the checked reader; a field the
// section is too short for stays 0 and its flag says so.
typedef struct {
  UINT32 Signature;
  UINT32 Length;
  UINT64 OemTableId;
  bool HasSignature;
  bool HasOemTableId;
  bool HasHeader;
} FV_SECTION_HEADER;

FV_SECTION_HEADER FvReadSectionHeader(const VOID *Section, UINTN Size) {
  ByteReader In(Section, Size);
  FV_SECTION_HEADER Header = {};
  Header.HasSignature = In.PeekAt32(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Signature), &Header.Signature);
  Header.HasOemTableId = In.PeekAt64(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId), &Header.OemTableId);
  Header.HasHeader = Size >= sizeof(EFI_ACPI_DESCRIPTION_HEADER) &&
                     In.PeekAt32(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length), &Header.Length);
  return Header;
}

// A section with the wanted signature whose header or Length does not fit is
// skipped with a warning: a later section may still hold a sound copy.
FV_SECTION_VERDICT FvJudgeSection(const VOID *Section, UINTN Size, UINT32 Signature, UINT64 OemTableId) {
  FV_SECTION_HEADER Header = FvReadSectionHeader(Section, Size);
  if (!Header.HasSignature || Header.Signature != Signature) return FvSectionOtherTable;
  bool IsSsdt = Signature == EFI_ACPI_SSDT_SIGNATURE;
  if (IsSsdt && Header.HasOemTableId && Header.OemTableId != OemTableId) return FvSectionOtherTable;
  if (!Header.HasHeader) {
    DebugPrint(DEBUG_WARN, "%a - %c%c%c%c section of 0x%lx bytes is shorter than a table header; skipped\n",
               "ReadAcpiTableFromFv", ACPI_SIGNATURE_CHARS(Signature), static_cast<UINT64>(Size));
    return FvSectionMalformed;
  }
  if (Header.Length < sizeof(EFI_ACPI_DESCRIPTION_HEADER) || Header.Length > Size) {
    DebugPrint(DEBUG_WARN, "%a - %c%c%c%c section of 0x%lx bytes holds a table of Length 0x%x; skipped\n",
               "ReadAcpiTableFromFv", ACPI_SIGNATURE_CHARS(Signature), static_cast<UINT64>(Size),
               Header.Length);
    return FvSectionMalformed;
  }
  return FvSectionIsTable;
}

// Section number Instance of the file from any volume other than OwnVolume; the
// first volume that has it wins.
EFI_STATUS FvReadSectionFromOtherVolumes(EFI_HANDLE OwnVolume, const EFI_GUID *FileName, UINTN Instance,
                                         VOID **Buffer, UINTN *Size) {
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = NULL;
  EFI_STATUS Status = gBS->LocateHandleBuffer(
      ByProtocol, const_cast<EFI_GUID *>(&gEfiFirmwareVolume2ProtocolGuid), NULL, &HandleCount, &Handles);
  if (EFI_ERROR(Status)) return Status;
  Status = EFI_NOT_FOUND;
  for (UINTN Index = 0; Handles != NULL && Index < HandleCount; Index++) {
    if (Handles[Index] == OwnVolume) continue;
    if (!EFI_ERROR(ReadRawSectionFromFv(Handles[Index], FileName, Instance, Buffer, Size))) {
      Status = EFI_SUCCESS;
      break;
    }
  }
  if (Handles != NULL) FreePool(Handles);
  return Status;
}

// The driver's own volume first: the table normally ships beside the driver.
EFI_STATUS FvReadSectionFromAnyVolume(const EFI_GUID *FileName, UINTN Instance, VOID **Buffer, UINTN *Size) {
  EFI_HANDLE OwnVolume = GetImageFvHandle();
  if (!EFI_ERROR(ReadRawSectionFromFv(OwnVolume, FileName, Instance, Buffer, Size))) return EFI_SUCCESS;
  return FvReadSectionFromOtherVolumes(OwnVolume, FileName, Instance, Buffer, Size);
}

}  // namespace

EFI_HANDLE GetImageFvHandle() {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = gBS->HandleProtocol(gImageHandle, const_cast<EFI_GUID *>(&gEfiLoadedImageProtocolGuid),
                                          reinterpret_cast<VOID **>(&LoadedImage));
  if (EFI_ERROR(Status) || LoadedImage == NULL) return NULL;
  return LoadedImage->DeviceHandle;
}

EFI_STATUS ReadRawSectionFromFv(EFI_HANDLE FvHandle, const EFI_GUID *FileName, UINTN Instance, VOID **Buffer,
                                UINTN *Size) {
  if (FileName == NULL || Buffer == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  EFI_FIRMWARE_VOLUME2_PROTOCOL *Fv = NULL;
  if (FvHandle == NULL ||
      EFI_ERROR(gBS->HandleProtocol(FvHandle, const_cast<EFI_GUID *>(&gEfiFirmwareVolume2ProtocolGuid),
                                    reinterpret_cast<VOID **>(&Fv))) ||
      Fv == NULL) {
    return EFI_NOT_FOUND;
  }
  *Buffer = NULL;
  *Size = 0;
  UINT32 AuthenticationStatus = 0;
  EFI_STATUS Status =
      Fv->ReadSection(Fv, FileName, EFI_SECTION_RAW, Instance, Buffer, Size, &AuthenticationStatus);
  // A success without a buffer leaves nothing to read or free; never hand it on.
  if (!EFI_ERROR(Status) && *Buffer == NULL) {
    *Size = 0;
    return EFI_NOT_FOUND;
  }
  return Status;
}

EFI_STATUS ReadAcpiTableFromFv(const EFI_GUID *FileName, UINT32 Signature, UINT64 OemTableId, VOID **Table) {
  if (FileName == NULL || Table == NULL) return EFI_INVALID_PARAMETER;
  for (UINTN Instance = 0;; Instance++) {
    VOID *Section = NULL;
    UINTN Size = 0;
    EFI_STATUS Status = FvReadSectionFromAnyVolume(FileName, Instance, &Section, &Size);
    if (EFI_ERROR(Status)) return Status;
    if (FvJudgeSection(Section, Size, Signature, OemTableId) == FvSectionIsTable) {
      *Table = Section;
      return EFI_SUCCESS;
    }
    FreePool(Section);
  }
}
