// The certified-path restore engine: the main loop and the replay of each entry
// kind. See RestoreEngine.h; the steps it is made of are in RestoreSteps.h.
#include "acpi_dxe/restore/RestoreEngine.h"

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoreSteps.h"

namespace {

const CHAR8 kEngine[] = RESTORE_ENGINE_NAME;

constexpr UINT32 kFadtEntryLength = RESTORE_ENTRY_HEADER_SIZE + 276;
constexpr UINT32 kFacsEntryLength = RESTORE_ENTRY_HEADER_SIZE + 64;
constexpr UINT32 kSsdtMinEntryLength = RESTORE_ENTRY_HEADER_SIZE + sizeof(EFI_ACPI_DESCRIPTION_HEADER);
constexpr UINT32 kOemTableIdInEntry =
    RESTORE_ENTRY_HEADER_SIZE + OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId);

const CHAR8 kUnableToInstallDataTable[] = "%a - Unable to install ACPI data table %c%c%c%c\n";

// Installs Call->Install; the install frees its buffer whatever the result.
EFI_STATUS InstallChosenTable(RESTORE_CALL *Call) {
  ACPI_TABLE_INSTALL_INFO Info = Call->Install;
  ZeroMem(&Call->Install, sizeof(Call->Install));
  return InstallAcpiTableIntoXsdt(&Info);
}

// Only logged: a stream in another order is still replayed by entry type.
VOID LogEntryOrder(const RESTORE_CALL *Call) {
  struct ORDER_RULE {
    UINT32 Signature;
    const CHAR8 *Message;
  };
  static const ORDER_RULE kOrder[] = {
      {EFI_ACPI_FADT_SIGNATURE, "%a - First AcpiDataStorage entry not FADT, found %c%c%c%c\n"},
      {EFI_ACPI_FACS_SIGNATURE, "%a - Second AcpiDataStorage entry not FACS, found %c%c%c%c\n"},
      {EFI_ACPI_DSDT_SIGNATURE, "%a - Third AcpiDataStorage entry not DSDT, found %c%c%c%c\n"},
  };
  UINT32 Index = mAcpiDataStorageEntryCount - 1;
  if (Index >= sizeof(kOrder) / sizeof(kOrder[0])) return;
  if (RestoreEntrySignature(Call) != kOrder[Index].Signature) {
    DebugPrint(DEBUG_INFO, kOrder[Index].Message, kEngine, ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)));
  }
}

// ---------------------------------------------------------------------------
// FADT and FACS
// ---------------------------------------------------------------------------

struct FIXED_TABLE_RULES {
  UINT32 Signature;
  UINT32 EntryLength;
  const CHAR8 *WrongSignature;
  const CHAR8 *Found;
  const CHAR8 *WrongSize;
  const CHAR8 *DoNotStore;
  const CHAR8 *NoMetaData;
};

const FIXED_TABLE_RULES kFadtRules = {
    EFI_ACPI_FADT_SIGNATURE,
    kFadtEntryLength,
    "%a - Was expecting FADT but found %c%c%c%c\n",
    "%a() AcpiDataTypeFadt found.\n",
    "%a - FADT table found with wrong size\n",
    "%a - Unexpectedly stored ACPI FADT table\n",
    "%a - No meta data found for ACPI FADT table\n",
};

const FIXED_TABLE_RULES kFacsRules = {
    EFI_ACPI_FACS_SIGNATURE,
    kFacsEntryLength,
    "%a - Was expecting FACS but found %c%c%c%c\n",
    "%a() AcpiDataTypeFacs found.\n",
    "%a - FACS table found with wrong size\n",
    "%a - Unexpectedly stored ACPI FACS table\n",
    "%a - No meta data found for ACPI FACS table\n",
};

// A record for the FADT or FACS means the platform builds that table itself:
// nothing is installed for it.
EFI_STATUS ReplayFixedTable(RESTORE_CALL *Call, const FIXED_TABLE_RULES *Rules) {
  if (RestoreEntrySignature(Call) != Rules->Signature) {
    DebugPrint(DEBUG_ERROR, Rules->WrongSignature, kEngine,
               ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)));
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, Rules->Found, kEngine);
  if (Call->EntryLength != Rules->EntryLength) {
    DebugPrint(DEBUG_ERROR, Rules->WrongSize, kEngine);
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindMetaDataPtr(&Call->Header.AcpiCommonHeader, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_ERROR, Rules->DoNotStore, kEngine);
    return EFI_INVALID_PARAMETER;
  }
  if (Record != nullptr) return EFI_SUCCESS;
  DebugPrint(DEBUG_INFO, Rules->NoMetaData, kEngine);
  EFI_STATUS Status = RestoreChooseStoredTable(Call);
  if (!EFI_ERROR(Status)) Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, kUnableToInstallDataTable, kEngine,
               ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)));
  }
  return Status;
}

// ---------------------------------------------------------------------------
// Data tables
// ---------------------------------------------------------------------------

EFI_STATUS ReplayDataTable(RESTORE_CALL *Call) {
  UINT32 Signature = RestoreEntrySignature(Call);
  DebugPrint(DEBUG_INFO, "%a() AcpiDataTypeAcpiDataTables found.\n", kEngine);
  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindMetaDataPtr(&Call->Header.AcpiCommonHeader, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly stored ACPI data table %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(Signature));
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status;
  if (Record == nullptr) {
    DebugPrint(DEBUG_INFO, "%a - No meta data found for ACPI data table %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(Signature));
    Status = RestoreChooseStoredTable(Call);
  } else {
    Status = RestoreChooseDataTable(Call, Record);
    if (!EFI_ERROR(Status)) {
      ACPI_RESTORE_RANK_DECISION Decision = DecideAcpiTableRank(AcpiMetaDataRank(Record), Call->Phase);
      if (Decision == AcpiRestoreBadRank) {
        DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data rank found for ACPI data table %c%c%c%c\n",
                   kEngine, ACPI_SIGNATURE_CHARS(Signature));
        return EFI_INVALID_PARAMETER;
      }
      if (Decision == AcpiRestoreDefer) {
        RestoreDeferChosenTable(Call);
        return EFI_SUCCESS;
      }
    }
  }
  if (EFI_ERROR(Status)) return Status;
  Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, kUnableToInstallDataTable, kEngine, ACPI_SIGNATURE_CHARS(Signature));
  }
  return Status;
}

// ---------------------------------------------------------------------------
// SSDT
// ---------------------------------------------------------------------------

UINT64 EntryOemTableId(const RESTORE_CALL *Call) {
  UINT64 OemTableId = 0;
  CopyMem(&OemTableId, Call->Entry + kOemTableIdInEntry, sizeof(OemTableId));
  return OemTableId;
}

// No record: the stored copy is installed at once; its elements, if any, are
// then met as strays by the main loop.
EFI_STATUS InstallSsdtWithoutRecord(RESTORE_CALL *Call, UINT64 OemTableId) {
  RestoreChooseSsdtCopy(Call);
  EFI_STATUS Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to install ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
  }
  return Status;
}

// A deferred SSDT waits in the slot while its elements patch it: the slot holds
// the same table pointer, so the patches reach the table installed later.
EFI_STATUS ReplaySsdtWithRecord(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                UINT64 OemTableId) {
  EFI_STATUS Status = RestoreChooseSsdt(Call, Record, OemTableId);
  if (EFI_ERROR(Status)) return Status;
  RestoreFreeSsdtCopy(Call);
  ACPI_RESTORE_RANK_DECISION Decision = DecideAcpiTableRank(AcpiMetaDataRank(Record), Call->Phase);
  if (Decision == AcpiRestoreBadRank) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data rank for ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *Ssdt = reinterpret_cast<UINT8 *>(Call->Install.AcpiTable);
  BOOLEAN Deferred = Decision == AcpiRestoreDefer;
  if (Deferred) RestoreDeferChosenTable(Call);
  RestoreFreeEntry(Call);
  Status = RestoreApplySsdtElements(Call, Ssdt);
  if (EFI_ERROR(Status)) {
    if (Deferred) RestoreDropDeferredSsdt(OemTableId);
    return Status;
  }
  DebugPrint(Call->Closing.Level, Call->Closing.Format, kEngine);
  if (Deferred) return EFI_SUCCESS;
  Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to install ACPI SSDT %c%c%c%c%c%c%c%c table from storage: %r\n",
               kEngine, ACPI_OEM_TABLE_ID_CHARS(OemTableId), Status);
  }
  return Status;
}

// The SSDT's entry is released before its elements are read, so the table to
// install is taken from a working copy, the meta data or a firmware volume.
EFI_STATUS ReplaySsdt(RESTORE_CALL *Call) {
  DebugPrint(DEBUG_INFO, "%a() AcpiDataTypeSsdt found.\n", kEngine);
  if (Call->EntryLength < kSsdtMinEntryLength) {
    DebugPrint(DEBUG_ERROR, "%a - SSDT entry length less than ACPI table header length!\n", kEngine);
    return EFI_INVALID_PARAMETER;
  }
  UINT64 OemTableId = EntryOemTableId(Call);
  UINT32 SubType = Call->Header.AcpiDataSubType;
  if (SubType == AcpiDataSubTypeNvs || SubType == AcpiDataSubTypeNonNvs) {
    DebugPrint(DEBUG_ERROR,
               "%a - SSDT %c%c%c%c%c%c%c%c table NON-NVS or NVS occurred before SSDT entry found\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record =
      FindSsdtTableMetaDataPtr(Call->Entry + RESTORE_ENTRY_HEADER_SIZE, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly stored ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = RestoreCopySsdt(Call, Record);
  if (EFI_ERROR(Status)) return Status;
  if (Record == nullptr) {
    DebugPrint(DEBUG_INFO, "%a - No meta data found for ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return InstallSsdtWithoutRecord(Call, OemTableId);
  }
  return ReplaySsdtWithRecord(Call, Record, OemTableId);
}

// ---------------------------------------------------------------------------
// DSDT
// ---------------------------------------------------------------------------

// The DSDT is never installed from storage: it is read from its firmware-volume
// file, which holds the platform's build-time values, and patched.
EFI_STATUS ReplayDsdt(RESTORE_CALL *Call) {
  if (RestoreEntrySignature(Call) != EFI_ACPI_DSDT_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "%a - Was expecting DSDT but found %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)));
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record =
      FindDsdtTableMetaDataPtr(&Call->Header.AcpiCommonHeader, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly stored ACPI data table %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(EFI_ACPI_DSDT_SIGNATURE));
    return EFI_INVALID_PARAMETER;
  }
  if (Call->Header.AcpiDataSubType != AcpiDataSubTypeFromFv) {
    DebugPrint(DEBUG_ERROR, "%a - Unsupported AcpiDataSubType for DSDT found\n", kEngine);
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = RestoreChooseDsdt(Call, Record);
  if (!EFI_ERROR(Status))
    Status = RestoreApplyDsdtElements(Call, reinterpret_cast<UINT8 *>(Call->Install.AcpiTable));
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(Call->Closing.Level, Call->Closing.Format, kEngine);
  Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, kUnableToInstallDataTable, kEngine,
               ACPI_SIGNATURE_CHARS(EFI_ACPI_DSDT_SIGNATURE));
    return Status;
  }
  if (Call->Stop || Call->Entry == nullptr) return EFI_SUCCESS;
  // The entry that ended the run is handled now; a second DSDT is dropped.
  if (Call->Header.AcpiDataType == AcpiDataTypeAcpiDataTables) return ReplayDataTable(Call);
  if (Call->Header.AcpiDataType == AcpiDataTypeSsdt) return ReplaySsdt(Call);
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Main loop
// ---------------------------------------------------------------------------

EFI_STATUS DispatchEntry(RESTORE_CALL *Call) {
  switch (Call->Header.AcpiDataType) {
    case AcpiDataTypeFadt:
      return ReplayFixedTable(Call, &kFadtRules);
    case AcpiDataTypeFacs:
      return ReplayFixedTable(Call, &kFacsRules);
    case AcpiDataTypeDsdt:
      return ReplayDsdt(Call);
    case AcpiDataTypeAcpiDataTables:
      return ReplayDataTable(Call);
    case AcpiDataTypeSsdt:
      return ReplaySsdt(Call);
    default:
      return EFI_SUCCESS;  // a kind this engine does not know is skipped
  }
}

// One main entry: read, check, dispatch, release.
EFI_STATUS ReplayNextEntry(RESTORE_CALL *Call) {
  EFI_STATUS Status = RestoreReadEntry(Call);
  if (Status == EFI_NOT_FOUND) {
    DebugPrint(DEBUG_ERROR, RESTORE_NO_MORE_ENTRIES, kEngine);
    Call->Stop = TRUE;
    return EFI_SUCCESS;
  }
  if (!EFI_ERROR(Status)) Status = RestoreTakeEntryHeader(Call);
  if (Status == EFI_BUFFER_TOO_SMALL) {
    Call->Stop = TRUE;
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(Status)) return Status;
  ++mAcpiDataStorageEntryCount;
  LogEntryOrder(Call);
  Status = DispatchEntry(Call);
  RestoreFreeEntry(Call);
  return Status;
}

}  // namespace

EFI_STATUS ProcessAcpiDataStorageAndAcpiMetaData(UINT16 Phase) {
  DebugPrint(DEBUG_INFO, "%a() Entry.\n", kEngine);
  if (mReadBlobHandle == BLOB_HANDLE_NONE) {
    DebugPrint(DEBUG_ERROR, "%a - This feature is not presently supported\n", "WriteAcpiMetaDataToXsdt");
    return EFI_UNSUPPORTED;
  }
  RESTORE_CALL Call;
  ZeroMem(&Call, sizeof(Call));
  Call.Phase = Phase;
  EFI_STATUS Status = RestoreInstallDeferredTable();
  while (!EFI_ERROR(Status) && !Call.Stop) Status = ReplayNextEntry(&Call);
  RestoreReleaseCall(&Call);
  return Status;
}
