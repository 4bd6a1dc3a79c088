// Taking entries from the read stream for the restore engine. See RestoreSteps.h.
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "acpi_dxe/restore/RestoreSteps.h"

UINT32 mAcpiDataStorageEntryCount;

VOID RestoreFreeEntry(RESTORE_CALL *Call) {
  if (Call->Entry != nullptr) FreePool(Call->Entry);
  Call->Entry = nullptr;
  Call->EntryLength = 0;
}

VOID RestoreFreeSsdtCopy(RESTORE_CALL *Call) {
  if (Call->SsdtCopy != nullptr) FreePool(Call->SsdtCopy);
  Call->SsdtCopy = nullptr;
}

VOID RestoreReleaseCall(RESTORE_CALL *Call) {
  RestoreFreeEntry(Call);
  RestoreFreeSsdtCopy(Call);
  if (Call->Install.FreeBuffer && Call->Install.Buffer != nullptr) FreePool(Call->Install.Buffer);
  ZeroMem(&Call->Install, sizeof(Call->Install));
}

EFI_STATUS RestoreReadEntry(RESTORE_CALL *Call) {
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  EFI_STATUS Status = ReadBlob(mReadBlobHandle, &Blob, &Length);
  if (EFI_ERROR(Status)) {
    if (Status != EFI_NOT_FOUND) {
      DebugPrint(DEBUG_ERROR, "%a - ReadBlob failed with status of %r\n", RESTORE_ENGINE_NAME, Status);
    }
    return Status;
  }
  Call->Entry = static_cast<UINT8 *>(Blob);
  Call->EntryLength = Length;
  return EFI_SUCCESS;
}

// An entry whose Length is not its blob length is refused: the patchers trust
// Length to bound the entry.
EFI_STATUS RestoreTakeEntryHeader(RESTORE_CALL *Call) {
  if (Call->EntryLength < RESTORE_ENTRY_HEADER_SIZE) {
    DebugPrint(DEBUG_ERROR, "%a - Read blob length less than ACPI data storage entry!\n",
               RESTORE_ENGINE_NAME);
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!ReadAcpiDataStorageEntryHeader(Call->Entry, Call->EntryLength, &Call->Header)) {
    DebugPrint(DEBUG_ERROR, "%a - Entry length does not match its 0x%x byte blob\n", RESTORE_ENGINE_NAME,
               (UINTN)Call->EntryLength);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

VOID RestoreLogElementHeader(const CHAR8 *Verb, const ACPI_DATA_STORAGE_ENTRY_HEADER *Header) {
  DebugPrint(DEBUG_INFO, Verb, RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(Header->AcpiCommonHeader.Signature));
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataType    0x%x\n", RESTORE_ENGINE_NAME,
             (UINTN)Header->AcpiDataType);
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataSubType 0x%x\n", RESTORE_ENGINE_NAME,
             (UINTN)Header->AcpiDataSubType);
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataNvsType 0x%x\n", RESTORE_ENGINE_NAME,
             (UINTN)Header->AcpiDataNvsType);
}
