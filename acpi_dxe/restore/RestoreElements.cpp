// Applying the element run behind a DSDT or SSDT entry: each element puts one
// value of this boot into the table chosen for its entry, through the DSDT and
// SSDT patchers. See RestoreSteps.h.
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/DsdtPatch.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "acpi_dxe/restore/RestoreSteps.h"
#include "acpi_dxe/restore/SsdtPatch.h"

namespace {

const CHAR8 kNoMoreDsdtElements[] = "%a - no further NVS or integer values to patch in DSDT\n";

// The stream ended inside a run: the table is still installed with the elements
// applied so far, and the call ends.
EFI_STATUS EndRunWithTheStream(RESTORE_CALL *Call) {
  Call->Stop = TRUE;
  Call->Closing = {DEBUG_ERROR, RESTORE_NO_MORE_ENTRIES};
  return EFI_SUCCESS;
}

ACPI_DATA_STORAGE_ENTRY_HEADER *CurrentElement(RESTORE_CALL *Call) {
  return reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Call->Entry);
}

EFI_STATUS ApplyDsdtInteger(RESTORE_CALL *Call, UINT8 *Dsdt) {
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtIntegerMetaDataPtr(Dsdt, CurrentElement(Call));
  if (Record == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly missing meta data for a stored DSDT patchable integer.\n",
               RESTORE_ENGINE_NAME);
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = PatchDsdtInteger(Dsdt, CurrentElement(Call), Record);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Patching DSDT with integer value failed: %r\n", RESTORE_ENGINE_NAME,
               Status);
  }
  return Status;
}

EFI_STATUS ApplyDsdtElement(RESTORE_CALL *Call, UINT8 *Dsdt) {
  if (Call->Header.AcpiDataSubType != AcpiDataSubTypeNvs) return ApplyDsdtInteger(Call, Dsdt);
  EFI_STATUS Status = PatchDsdtNVS(Dsdt, CurrentElement(Call));
  if (EFI_ERROR(Status))
    DebugPrint(DEBUG_ERROR, "%a - Patching DSDT with NVS failed: %r\n", RESTORE_ENGINE_NAME, Status);
  return Status;
}

EFI_STATUS ApplySsdtElement(RESTORE_CALL *Call, UINT8 *Ssdt) {
  EFI_STATUS Status;
  if (Call->Header.AcpiDataSubType == AcpiDataSubTypeNvs) {
    Status = PatchSsdtNVS(Ssdt, CurrentElement(Call));
    if (EFI_ERROR(Status))
      DebugPrint(DEBUG_ERROR, "%a - Patching SSDT with NVS failed: %r\n", RESTORE_ENGINE_NAME, Status);
  } else {
    Status = PatchSsdtNonNVS(Ssdt, CurrentElement(Call));
    if (EFI_ERROR(Status))
      DebugPrint(DEBUG_ERROR, "%a - Patching SSDT with NON-NVS failed: %r\n", RESTORE_ENGINE_NAME, Status);
  }
  return Status;
}

// Peeks the next entry. *IsElement is TRUE when it is an element of the SSDT (an
// SSDT entry of AcpiDataSubTypeNvs or NonNvs); otherwise the closing
// message says what ended the run, and the entry stays in the stream.
EFI_STATUS PeekSsdtElement(RESTORE_CALL *Call, BOOLEAN *IsElement) {
  *IsElement = FALSE;
  VOID *Peeked = nullptr;
  UINT32 PeekedLength = 0;
  EFI_STATUS Status = PeekBlob(mReadBlobHandle, &Peeked, &PeekedLength);
  if (Status == EFI_NOT_FOUND) return EndRunWithTheStream(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - PeekBlob failed with status of %r\n", RESTORE_ENGINE_NAME, Status);
    return Status;
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER Next;
  BOOLEAN HasHeader = PeekedLength >= RESTORE_ENTRY_HEADER_SIZE;
  if (HasHeader) {
    CopyMem(&Next, Peeked, sizeof(Next));
    RestoreLogElementHeader("%a - Peeked a %c%c%c%c table from BlobStorage\n", &Next);
  }
  FreePool(Peeked);
  if (!HasHeader || Next.AcpiDataType != AcpiDataTypeSsdt) {
    Call->Closing = {DEBUG_INFO, "%a - No further SSDT components found\n"};
  } else if (Next.AcpiDataSubType != AcpiDataSubTypeNvs && Next.AcpiDataSubType != AcpiDataSubTypeNonNvs) {
    Call->Closing = {DEBUG_INFO, "%a - SSDT table found while looking for NON-NVS or NVS\n"};
  } else {
    *IsElement = TRUE;
  }
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS RestoreApplyDsdtElements(RESTORE_CALL *Call, UINT8 *Dsdt) {
  for (;;) {
    EFI_STATUS Status = RestoreReadEntry(Call);
    if (Status == EFI_NOT_FOUND) return EndRunWithTheStream(Call);
    if (!EFI_ERROR(Status)) Status = RestoreTakeEntryHeader(Call);
    if (Status == EFI_BUFFER_TOO_SMALL) {
      // As in the main loop, a short entry ends the call; the DSDT is still
      // installed with the elements applied so far.
      RestoreFreeEntry(Call);
      Call->Stop = TRUE;
      Call->Closing = {DEBUG_INFO, kNoMoreDsdtElements};
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) return Status;
    RestoreLogElementHeader("%a - Read %c%c%c%c from BlobStorage\n", &Call->Header);
    ++mAcpiDataStorageEntryCount;
    if (Call->Header.AcpiDataType != AcpiDataTypeDsdt ||
        (Call->Header.AcpiDataSubType != AcpiDataSubTypeNvs &&
         Call->Header.AcpiDataSubType != AcpiDataSubTypeInteger)) {
      Call->Closing = {DEBUG_INFO, kNoMoreDsdtElements};
      return EFI_SUCCESS;
    }
    Status = ApplyDsdtElement(Call, Dsdt);
    if (EFI_ERROR(Status)) return Status;
    RestoreFreeEntry(Call);
  }
}

EFI_STATUS RestoreApplySsdtElements(RESTORE_CALL *Call, UINT8 *Ssdt) {
  for (;;) {
    BOOLEAN IsElement = FALSE;
    EFI_STATUS Status = PeekSsdtElement(Call, &IsElement);
    if (EFI_ERROR(Status) || !IsElement) return Status;
    Status = RestoreReadEntry(Call);
    if (Status == EFI_NOT_FOUND) return EndRunWithTheStream(Call);
    if (!EFI_ERROR(Status)) Status = RestoreTakeEntryHeader(Call);
    if (EFI_ERROR(Status)) return Status;
    ++mAcpiDataStorageEntryCount;
    Status = ApplySsdtElement(Call, Ssdt);
    if (EFI_ERROR(Status)) return Status;
    RestoreFreeEntry(Call);
  }
}
