// The rank check and the one deferred slot of the restore engine. See
// RestoreEngine.h and RestoreSteps.h.
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "acpi_dxe/restore/RestoreSteps.h"

ACPI_TABLE_INSTALL_INFO mDeferredAcpiTable;

ACPI_RESTORE_RANK_DECISION DecideAcpiTableRank(UINT16 Rank, UINT16 Phase) {
  if ((Rank & ACPI_META_DATA_RANK_PHASE_MASK) <= (Phase & ACPI_META_DATA_RANK_PHASE_MASK))
    return AcpiRestoreInstallNow;
  if ((Rank & ACPI_META_DATA_RANK_COUNT_MASK) > 1) return AcpiRestoreBadRank;
  return AcpiRestoreDefer;
}

VOID RestoreDeferChosenTable(RESTORE_CALL *Call) {
  DebugPrint(DEBUG_INFO, "%a - Defering ACPI data table %c%c%c%c installation until new callback\n",
             RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)));
  mDeferredAcpiTable = Call->Install;
  ZeroMem(&Call->Install, sizeof(Call->Install));
  Call->Stop = TRUE;
}

// A deferred SSDT whose element failed would be installed at the next call still
// naming the capture boot's regions: it is dropped, as an SSDT with the same
// failure that was not deferred is.
VOID RestoreDropDeferredSsdt(UINT64 OemTableId) {
  DebugPrint(DEBUG_ERROR,
             "%a - Dropping deferred ACPI SSDT %c%c%c%c%c%c%c%c table: an element failed to patch\n",
             RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
  ReleaseDeferredAcpiTable();
}

VOID ReleaseDeferredAcpiTable() {
  if (mDeferredAcpiTable.FreeBuffer && mDeferredAcpiTable.Buffer != nullptr)
    FreePool(mDeferredAcpiTable.Buffer);
  ZeroMem(&mDeferredAcpiTable, sizeof(mDeferredAcpiTable));
}

// The slot is emptied before the install: a table that fails is not tried again.
EFI_STATUS RestoreInstallDeferredTable() {
  if (mDeferredAcpiTable.AcpiTable == nullptr) return EFI_SUCCESS;
  ACPI_TABLE_INSTALL_INFO Info = mDeferredAcpiTable;
  ZeroMem(&mDeferredAcpiTable, sizeof(mDeferredAcpiTable));
  UINT32 Signature = Info.AcpiTable->Signature;
  DebugPrint(DEBUG_INFO, "%a - Delayed installation of %c%c%c%c table\n", RESTORE_ENGINE_NAME,
             ACPI_SIGNATURE_CHARS(Signature));
  EFI_STATUS Status = InstallAcpiTableIntoXsdt(&Info);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to install ACPI table %c%c%c%c\n", RESTORE_ENGINE_NAME,
               ACPI_SIGNATURE_CHARS(Signature));
  }
  return Status;
}
