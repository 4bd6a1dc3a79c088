// Port access to fw_cfg for the test-platform images (x86 I/O ports; never
// called by the host tests).
#include "tests/qemu/FwCfg.h"
#include "tests/qemu/PortIo.h"

BOOLEAN FwCfgPresent() {
  UINT8 Signature[4];
  FwCfgReadItem(FW_CFG_SELECT_SIGNATURE, Signature, sizeof(Signature));
  return Signature[0] == 'Q' && Signature[1] == 'E' && Signature[2] == 'M' && Signature[3] == 'U';
}

VOID FwCfgReadItem(UINT16 Select, VOID *Buffer, UINTN Size) {
  IoWrite16(FW_CFG_IO_SELECTOR, Select);
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Size; Index++) Bytes[Index] = IoRead8(FW_CFG_IO_DATA);
}

namespace {

// Largest directory read: QEMU's default is 32 file slots, its maximum 4096.
constexpr UINT32 kMaxDirectoryEntries = 4096;

EFI_STATUS FindFile(EFI_BOOT_SERVICES *Bs, const CHAR8 *Name, UINT16 *Select, UINT32 *Size) {
  UINT8 CountBytes[4];
  FwCfgReadItem(FW_CFG_SELECT_FILE_DIR, CountBytes, sizeof(CountBytes));
  UINT32 Count = (static_cast<UINT32>(CountBytes[0]) << 24) | (static_cast<UINT32>(CountBytes[1]) << 16) |
                 (static_cast<UINT32>(CountBytes[2]) << 8) | CountBytes[3];
  if (Count > kMaxDirectoryEntries) return EFI_COMPROMISED_DATA;
  UINTN DirectorySize = sizeof(CountBytes) + Count * sizeof(FW_CFG_FILE);
  UINT8 *Directory = NULL;
  EFI_STATUS Status =
      Bs->AllocatePool(EfiBootServicesData, DirectorySize, reinterpret_cast<VOID **>(&Directory));
  if (EFI_ERROR(Status)) return Status;
  FwCfgReadItem(FW_CFG_SELECT_FILE_DIR, Directory, DirectorySize);
  Status = FwCfgFindInDirectory(Directory, DirectorySize, Name, Select, Size);
  Bs->FreePool(Directory);
  return Status;
}

}  // namespace

EFI_STATUS FwCfgReadFile(EFI_BOOT_SERVICES *Bs, const CHAR8 *Name, VOID **Buffer, UINT32 *Size) {
  if (Bs == NULL || Name == NULL || Buffer == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  *Buffer = NULL;
  *Size = 0;
  if (!FwCfgPresent()) return EFI_UNSUPPORTED;
  UINT16 Select = 0;
  UINT32 ItemSize = 0;
  EFI_STATUS Status = FindFile(Bs, Name, &Select, &ItemSize);
  if (EFI_ERROR(Status)) return Status;
  UINT8 *Data = NULL;
  Status = Bs->AllocatePool(EfiBootServicesData, static_cast<UINTN>(ItemSize) + 1,
                            reinterpret_cast<VOID **>(&Data));
  if (EFI_ERROR(Status)) return Status;
  FwCfgReadItem(Select, Data, ItemSize);
  Data[ItemSize] = 0;
  *Buffer = Data;
  *Size = ItemSize;
  return EFI_SUCCESS;
}
