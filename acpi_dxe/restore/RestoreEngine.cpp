// The certified-path restore engine. See RestoreEngine.h.
//
// Ownership inside one call: RESTORE_CALL holds at most the current entry, the
// table chosen for it (Install) and an SSDT working copy. A buffer leaves the
// call only through an install (which frees it) or the deferred slot, and
// ReleaseRestoreCall frees whatever is still held, so every exit is covered.
#include "acpi_dxe/restore/RestoreEngine.h"

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/DsdtPatch.h"
#include "acpi_dxe/restore/FvTableReader.h"
#include "acpi_dxe/restore/SsdtPatch.h"

ACPI_TABLE_INSTALL_INFO mDeferredAcpiTable;
UINT32 mAcpiDataStorageEntryCount;

namespace {

const CHAR8 kEngine[] = "ProcessAcpiDataStorageAndAcpiMetaData";

constexpr UINT32 kEntryHeaderSize = sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
constexpr UINT32 kFadtEntryLength = kEntryHeaderSize + 276;
constexpr UINT32 kFacsEntryLength = kEntryHeaderSize + 64;
constexpr UINT32 kSsdtMinEntryLength = kEntryHeaderSize + sizeof(EFI_ACPI_DESCRIPTION_HEADER);
constexpr UINT32 kOemTableIdInEntry = kEntryHeaderSize + OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId);

const CHAR8 kNoMoreEntries[] = "%a - No more entries in ACPI data storage\n";
const CHAR8 kReadBlobFailed[] = "%a - ReadBlob failed with status of %r\n";
const CHAR8 kUnableToInstallDataTable[] = "%a - Unable to install ACPI data table %c%c%c%c\n";

// A message that ends an element run; it is logged once the run is over.
struct CLOSING_MESSAGE {
  UINTN Level;
  const CHAR8 *Format;
};

// State of one call; zero at the start of every call.
struct RESTORE_CALL {
  UINT16 Phase;
  UINT8 *Entry;                           // current entry, owned until handed over
  UINT32 EntryLength;                     // its blob length
  ACPI_DATA_STORAGE_ENTRY_HEADER Header;  // aligned copy of the current entry's header
  ACPI_TABLE_INSTALL_INFO Install;        // table chosen for the current entry, not yet installed
  UINT8 *SsdtCopy;                        // SSDT working copy not yet handed to Install
  BOOLEAN Stop;                           // the call ends after the current entry
  CLOSING_MESSAGE Closing;
};

UINT32 EntrySignature(const RESTORE_CALL *Call) {
  return Call->Header.AcpiCommonHeader.Signature;
}

VOID FreeEntry(RESTORE_CALL *Call) {
  if (Call->Entry != nullptr) FreePool(Call->Entry);
  Call->Entry = nullptr;
  Call->EntryLength = 0;
}

VOID FreeSsdtCopy(RESTORE_CALL *Call) {
  if (Call->SsdtCopy != nullptr) FreePool(Call->SsdtCopy);
  Call->SsdtCopy = nullptr;
}

VOID ReleaseRestoreCall(RESTORE_CALL *Call) {
  FreeEntry(Call);
  FreeSsdtCopy(Call);
  if (Call->Install.FreeBuffer && Call->Install.Buffer != nullptr) FreePool(Call->Install.Buffer);
  ZeroMem(&Call->Install, sizeof(Call->Install));
}

// Installs Call->Install; the install frees its buffer whatever the result.
EFI_STATUS InstallChosenTable(RESTORE_CALL *Call) {
  ACPI_TABLE_INSTALL_INFO Info = Call->Install;
  ZeroMem(&Call->Install, sizeof(Call->Install));
  return InstallAcpiTableIntoXsdt(&Info);
}

// The table handed to the install protocol must lie inside the buffer that
// holds it: the protocol copies as many bytes as the table's own Length says.
// Room is the number of bytes from Table to the end of its buffer; MinLength the
// shortest table of its kind.
BOOLEAN TableFitsIn(const UINT8 *Table, UINT64 Room, UINT32 MinLength) {
  EFI_ACPI_COMMON_HEADER Common;
  if (Room < sizeof(Common)) return FALSE;
  CopyMem(&Common, Table, sizeof(Common));
  return Common.Length >= sizeof(Common) && Common.Length >= MinLength && Common.Length <= Room;
}

// The shortest table of a kind is the capture's: a data table (and the FACS,
// which has no description header) needs only a signature and a Length, the
// DSDT and SSDTs a whole description header. The FADT, held to its exact entry
// size before, has a description header too.
UINT32 MinTableLength(UINT32 DataType) {
  if (DataType == AcpiDataTypeAcpiDataTables || DataType == AcpiDataTypeFacs)
    return CAPTURE_MIN_DATA_TABLE_LENGTH;
  if (DataType == AcpiDataTypeFadt) return sizeof(EFI_ACPI_DESCRIPTION_HEADER);
  return CAPTURE_MIN_DEFINITION_BLOCK_LENGTH;
}

// A meta data record found by a lookup: its whole Length, at least MinLength,
// lies inside the open meta data.
BOOLEAN MetaDataRecordHolds(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 MinLength) {
  const UINT8 *Start = reinterpret_cast<const UINT8 *>(Record);
  if (mAcpiMetaDataPtr == nullptr || Start < mAcpiMetaDataPtr) return FALSE;
  UINT64 Offset = static_cast<UINT64>(Start - mAcpiMetaDataPtr);
  if (Offset > mAcpiMetaDataLength) return FALSE;
  UINT32 RecordLength = Record->AcpiCommonHeader.Length;
  return RecordLength >= MinLength && RecordLength <= mAcpiMetaDataLength - Offset;
}

// The table a record of AcpiDataSubTypeTable carries, or NULL (logged) when the
// record cannot hold the table its header announces.
UINT8 *MetaDataTableOf(ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 DataType) {
  UINT8 *Table = reinterpret_cast<UINT8 *>(Record) + ACPI_META_DATA_TABLE_OFFSET;
  if (MetaDataRecordHolds(Record, ACPI_META_DATA_TABLE_OFFSET) &&
      TableFitsIn(Table, Record->AcpiCommonHeader.Length - ACPI_META_DATA_TABLE_OFFSET,
                  MinTableLength(DataType))) {
    return Table;
  }
  DebugPrint(DEBUG_ERROR, "%a - Meta data record for %c%c%c%c does not hold the table it names\n", kEngine,
             ACPI_SIGNATURE_CHARS(Record->AcpiCommonHeader.Signature));
  return nullptr;
}

// The file GUID a firmware-volume record keeps at FileOffset; FALSE when the
// record is missing or too short to hold it.
BOOLEAN FvFileOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 FileOffset, EFI_GUID *File) {
  if (Record == nullptr || !MetaDataRecordHolds(Record, FileOffset + sizeof(EFI_GUID))) return FALSE;
  CopyMem(File, reinterpret_cast<const UINT8 *>(Record) + FileOffset, sizeof(EFI_GUID));
  return TRUE;
}

// Hands the stored table of the current entry to Install, after checking that
// the table lies inside the entry.
EFI_STATUS ChooseStoredTable(RESTORE_CALL *Call) {
  if (!TableFitsIn(Call->Entry + kEntryHeaderSize, Call->EntryLength - kEntryHeaderSize,
                   MinTableLength(Call->Header.AcpiDataType))) {
    DebugPrint(DEBUG_ERROR, "%a - Stored %c%c%c%c table does not fit its 0x%x byte entry\n", kEngine,
               ACPI_SIGNATURE_CHARS(EntrySignature(Call)), (UINTN)Call->EntryLength);
    return EFI_INVALID_PARAMETER;
  }
  Call->Install.AcpiTable = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Call->Entry + kEntryHeaderSize);
  Call->Install.Buffer = Call->Entry;
  Call->Install.FreeBuffer = TRUE;
  Call->Entry = nullptr;
  Call->EntryLength = 0;
  return EFI_SUCCESS;
}

EFI_STATUS ChooseMetaDataTable(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  UINT8 *Table = MetaDataTableOf(Record, Call->Header.AcpiDataType);
  if (Table == nullptr) return EFI_INVALID_PARAMETER;
  Call->Install.AcpiTable = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Table);
  Call->Install.Buffer = nullptr;
  Call->Install.FreeBuffer = FALSE;
  return EFI_SUCCESS;
}

VOID ChooseFvTable(RESTORE_CALL *Call, VOID *Section) {
  Call->Install.AcpiTable = static_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Section);
  Call->Install.Buffer = Section;
  Call->Install.FreeBuffer = TRUE;
}

// ---------------------------------------------------------------------------
// Reading entries
// ---------------------------------------------------------------------------

// ReadBlob into the current entry. EFI_NOT_FOUND (the end) is returned silently.
EFI_STATUS ReadEntry(RESTORE_CALL *Call) {
  VOID *Blob = nullptr;
  UINT32 Length = 0;
  EFI_STATUS Status = ReadBlob(mReadBlobHandle, &Blob, &Length);
  if (EFI_ERROR(Status)) {
    if (Status != EFI_NOT_FOUND) DebugPrint(DEBUG_ERROR, kReadBlobFailed, kEngine, Status);
    return Status;
  }
  Call->Entry = static_cast<UINT8 *>(Blob);
  Call->EntryLength = Length;
  return EFI_SUCCESS;
}

// Copies the current entry's header. EFI_BUFFER_TOO_SMALL (logged) for an entry
// shorter than a header. An entry whose Length is not its blob length is refused:
// the patchers trust Length to bound the entry.
EFI_STATUS TakeEntryHeader(RESTORE_CALL *Call) {
  if (Call->EntryLength < kEntryHeaderSize) {
    DebugPrint(DEBUG_ERROR, "%a - Read blob length less than ACPI data storage entry!\n", kEngine);
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!ReadAcpiDataStorageEntryHeader(Call->Entry, Call->EntryLength, &Call->Header)) {
    DebugPrint(DEBUG_ERROR, "%a - Entry length does not match its 0x%x byte blob\n", kEngine,
               (UINTN)Call->EntryLength);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

VOID LogElementHeader(const CHAR8 *Verb, const ACPI_DATA_STORAGE_ENTRY_HEADER *Header) {
  DebugPrint(DEBUG_INFO, Verb, kEngine, ACPI_SIGNATURE_CHARS(Header->AcpiCommonHeader.Signature));
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataType    0x%x\n", kEngine, (UINTN)Header->AcpiDataType);
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataSubType 0x%x\n", kEngine, (UINTN)Header->AcpiDataSubType);
  DebugPrint(DEBUG_INFO, "%a - Header->AcpiDataNvsType 0x%x\n", kEngine, (UINTN)Header->AcpiDataNvsType);
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
  if (EntrySignature(Call) != kOrder[Index].Signature) {
    DebugPrint(DEBUG_INFO, kOrder[Index].Message, kEngine, ACPI_SIGNATURE_CHARS(EntrySignature(Call)));
  }
}

// ---------------------------------------------------------------------------
// Deferral
// ---------------------------------------------------------------------------

VOID DeferChosenTable(RESTORE_CALL *Call) {
  DebugPrint(DEBUG_INFO, "%a - Defering ACPI data table %c%c%c%c installation until new callback\n", kEngine,
             ACPI_SIGNATURE_CHARS(EntrySignature(Call)));
  mDeferredAcpiTable = Call->Install;
  ZeroMem(&Call->Install, sizeof(Call->Install));
  Call->Stop = TRUE;
}

// A deferred SSDT whose element failed would be installed at the next call still
// naming the capture boot's regions: it is dropped, as an SSDT with the same
// failure that was not deferred is.
VOID DropDeferredSsdt(UINT64 OemTableId) {
  DebugPrint(DEBUG_ERROR,
             "%a - Dropping deferred ACPI SSDT %c%c%c%c%c%c%c%c table: an element failed to patch\n", kEngine,
             ACPI_OEM_TABLE_ID_CHARS(OemTableId));
  if (mDeferredAcpiTable.FreeBuffer && mDeferredAcpiTable.Buffer != nullptr)
    FreePool(mDeferredAcpiTable.Buffer);
  ZeroMem(&mDeferredAcpiTable, sizeof(mDeferredAcpiTable));
}

// The slot is emptied before the install: a table that fails is not tried again.
EFI_STATUS InstallDeferredTable() {
  if (mDeferredAcpiTable.AcpiTable == nullptr) return EFI_SUCCESS;
  ACPI_TABLE_INSTALL_INFO Info = mDeferredAcpiTable;
  ZeroMem(&mDeferredAcpiTable, sizeof(mDeferredAcpiTable));
  UINT32 Signature = Info.AcpiTable->Signature;
  DebugPrint(DEBUG_INFO, "%a - Delayed installation of %c%c%c%c table\n", kEngine,
             ACPI_SIGNATURE_CHARS(Signature));
  EFI_STATUS Status = InstallAcpiTableIntoXsdt(&Info);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to install ACPI table %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(Signature));
  }
  return Status;
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
  if (EntrySignature(Call) != Rules->Signature) {
    DebugPrint(DEBUG_ERROR, Rules->WrongSignature, kEngine, ACPI_SIGNATURE_CHARS(EntrySignature(Call)));
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
  EFI_STATUS Status = ChooseStoredTable(Call);
  if (!EFI_ERROR(Status)) Status = InstallChosenTable(Call);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, kUnableToInstallDataTable, kEngine, ACPI_SIGNATURE_CHARS(EntrySignature(Call)));
  }
  return Status;
}

// ---------------------------------------------------------------------------
// Data tables
// ---------------------------------------------------------------------------

EFI_STATUS ChooseDataTable(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  UINT32 Signature = EntrySignature(Call);
  switch (Record->AcpiDataSubType) {
    case AcpiDataSubTypeFromStorage:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI data table %c%c%c%c from ACPI data storage\n", kEngine,
                 ACPI_SIGNATURE_CHARS(Signature));
      return ChooseStoredTable(Call);
    case AcpiDataSubTypeTable:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI table %c%c%c%c from meta data\n", kEngine,
                 ACPI_SIGNATURE_CHARS(Signature));
      return ChooseMetaDataTable(Call, Record);
    case AcpiDataSubTypeFromFv:
      // A data table record has no file GUID, so there is no table to read.
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI table %c%c%c%c from FV\n", kEngine,
                 ACPI_SIGNATURE_CHARS(Signature));
      DebugPrint(DEBUG_ERROR, "%a - No firmware-volume file is named for ACPI data table %c%c%c%c\n", kEngine,
                 ACPI_SIGNATURE_CHARS(Signature));
      return EFI_UNSUPPORTED;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data AcpiDataSubType for ACPI data table %c%c%c%c\n",
                 kEngine, ACPI_SIGNATURE_CHARS(Signature));
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS ReplayDataTable(RESTORE_CALL *Call) {
  UINT32 Signature = EntrySignature(Call);
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
    Status = ChooseStoredTable(Call);
  } else {
    Status = ChooseDataTable(Call, Record);
    if (!EFI_ERROR(Status)) {
      ACPI_RESTORE_RANK_DECISION Decision = DecideAcpiTableRank(AcpiMetaDataRank(Record), Call->Phase);
      if (Decision == AcpiRestoreBadRank) {
        DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data rank found for ACPI data table %c%c%c%c\n",
                   kEngine, ACPI_SIGNATURE_CHARS(Signature));
        return EFI_INVALID_PARAMETER;
      }
      if (Decision == AcpiRestoreDefer) {
        DeferChosenTable(Call);
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
// SSDT and its elements
// ---------------------------------------------------------------------------

UINT64 EntryOemTableId(const RESTORE_CALL *Call) {
  UINT64 OemTableId = 0;
  CopyMem(&OemTableId, Call->Entry + kOemTableIdInEntry, sizeof(OemTableId));
  return OemTableId;
}

EFI_STATUS ChooseSsdt(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT64 OemTableId) {
  switch (Record->AcpiDataSubType) {
    case AcpiDataSubTypeFromStorage:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from ACPI data storage\n",
                 kEngine, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      Call->Install.AcpiTable =
          reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Call->SsdtCopy + kEntryHeaderSize);
      Call->Install.Buffer = Call->SsdtCopy;
      Call->Install.FreeBuffer = TRUE;
      Call->SsdtCopy = nullptr;
      return EFI_SUCCESS;
    case AcpiDataSubTypeTable:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from meta data\n", kEngine,
                 ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      return ChooseMetaDataTable(Call, Record);
    case AcpiDataSubTypeFromFv: {
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from FV\n", kEngine,
                 ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      EFI_GUID File;
      BOOLEAN Named = FvFileOf(Record, ACPI_META_DATA_SSDT_FV_FILE_OFFSET, &File);
      VOID *Section = nullptr;
      EFI_STATUS Status =
          ReadAcpiTableFromFv(Named ? &File : nullptr, EntrySignature(Call), OemTableId, &Section);
      if (EFI_ERROR(Status)) {
        DebugPrint(DEBUG_ERROR, "%a - Failed to read %c%c%c%c from FV: %r\n", kEngine,
                   ACPI_SIGNATURE_CHARS(EntrySignature(Call)), Status);
        DebugPrint(DEBUG_ERROR, "%a - Failed to read ACPI SSDT table %c%c%c%c%c%c%c%c from FV\n", kEngine,
                   ACPI_OEM_TABLE_ID_CHARS(OemTableId));
        return Status;
      }
      ChooseFvTable(Call, Section);
      return EFI_SUCCESS;
    }
    default:
      DebugPrint(DEBUG_ERROR,
                 "%a - Unexpected meta data AcpiDataSubType for ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
                 ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      return EFI_INVALID_PARAMETER;
  }
}

// Applies the NVS and NON-NVS elements that follow an SSDT to Ssdt. Elements are
// peeked first so that the first foreign entry stays in the stream.
EFI_STATUS ApplySsdtElements(RESTORE_CALL *Call, UINT8 *Ssdt) {
  for (;;) {
    VOID *Peeked = nullptr;
    UINT32 PeekedLength = 0;
    EFI_STATUS Status = PeekBlob(mReadBlobHandle, &Peeked, &PeekedLength);
    if (Status == EFI_NOT_FOUND) {
      Call->Stop = TRUE;
      Call->Closing = {DEBUG_ERROR, kNoMoreEntries};
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "%a - PeekBlob failed with status of %r\n", kEngine, Status);
      return Status;
    }
    ACPI_DATA_STORAGE_ENTRY_HEADER Next;
    BOOLEAN HasHeader = PeekedLength >= kEntryHeaderSize;
    if (HasHeader) {
      CopyMem(&Next, Peeked, sizeof(Next));
      LogElementHeader("%a - Peeked a %c%c%c%c table from BlobStorage\n", &Next);
    }
    FreePool(Peeked);
    if (!HasHeader || Next.AcpiDataType != AcpiDataTypeSsdt) {
      Call->Closing = {DEBUG_INFO, "%a - No further SSDT components found\n"};
      return EFI_SUCCESS;
    }
    if (Next.AcpiDataSubType != AcpiDataSubTypeNvs && Next.AcpiDataSubType != AcpiDataSubTypeNonNvs) {
      Call->Closing = {DEBUG_INFO, "%a - SSDT table found while looking for NON-NVS or NVS\n"};
      return EFI_SUCCESS;
    }
    Status = ReadEntry(Call);
    if (Status == EFI_NOT_FOUND) {
      Call->Stop = TRUE;
      Call->Closing = {DEBUG_ERROR, kNoMoreEntries};
      return EFI_SUCCESS;
    }
    if (!EFI_ERROR(Status)) Status = TakeEntryHeader(Call);
    if (EFI_ERROR(Status)) return Status;
    ++mAcpiDataStorageEntryCount;
    ACPI_DATA_STORAGE_ENTRY_HEADER *Element = reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Call->Entry);
    if (Call->Header.AcpiDataSubType == AcpiDataSubTypeNvs) {
      Status = PatchSsdtNVS(Ssdt, Element);
      if (EFI_ERROR(Status))
        DebugPrint(DEBUG_ERROR, "%a - Patching SSDT with NVS failed: %r\n", kEngine, Status);
    } else {
      Status = PatchSsdtNonNVS(Ssdt, Element);
      if (EFI_ERROR(Status))
        DebugPrint(DEBUG_ERROR, "%a - Patching SSDT with NON-NVS failed: %r\n", kEngine, Status);
    }
    if (EFI_ERROR(Status)) return Status;
    FreeEntry(Call);
  }
}

// No record: the stored copy is installed at once; its elements, if any, are
// then met as strays by the main loop.
EFI_STATUS InstallSsdtWithoutRecord(RESTORE_CALL *Call, UINT64 OemTableId) {
  Call->Install.AcpiTable =
      reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Call->SsdtCopy + kEntryHeaderSize);
  Call->Install.Buffer = Call->SsdtCopy;
  Call->Install.FreeBuffer = TRUE;
  Call->SsdtCopy = nullptr;
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
  EFI_STATUS Status = ChooseSsdt(Call, Record, OemTableId);
  if (EFI_ERROR(Status)) return Status;
  FreeSsdtCopy(Call);
  ACPI_RESTORE_RANK_DECISION Decision = DecideAcpiTableRank(AcpiMetaDataRank(Record), Call->Phase);
  if (Decision == AcpiRestoreBadRank) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data rank for ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *Ssdt = reinterpret_cast<UINT8 *>(Call->Install.AcpiTable);
  BOOLEAN Deferred = Decision == AcpiRestoreDefer;
  if (Deferred) DeferChosenTable(Call);
  FreeEntry(Call);
  Status = ApplySsdtElements(Call, Ssdt);
  if (EFI_ERROR(Status)) {
    if (Deferred) DropDeferredSsdt(OemTableId);
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
      FindSsdtTableMetaDataPtr(Call->Entry + kEntryHeaderSize, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly stored ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return EFI_INVALID_PARAMETER;
  }
  Call->SsdtCopy = static_cast<UINT8 *>(AllocatePool(Call->EntryLength));
  if (Call->SsdtCopy == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x byte SSDT buffer\n", kEngine,
               (UINTN)Call->EntryLength);
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(Call->SsdtCopy, Call->Entry, Call->EntryLength);
  // A table kept from storage is installed from the copy; it must fit there.
  BOOLEAN FromCopy = Record == nullptr || Record->AcpiDataSubType == AcpiDataSubTypeFromStorage;
  if (FromCopy && !TableFitsIn(Call->SsdtCopy + kEntryHeaderSize, Call->EntryLength - kEntryHeaderSize,
                               CAPTURE_MIN_DEFINITION_BLOCK_LENGTH)) {
    DebugPrint(DEBUG_ERROR, "%a - Stored %c%c%c%c table does not fit its 0x%x byte entry\n", kEngine,
               ACPI_SIGNATURE_CHARS(EntrySignature(Call)), (UINTN)Call->EntryLength);
    return EFI_INVALID_PARAMETER;
  }
  if (Record == nullptr) {
    DebugPrint(DEBUG_INFO, "%a - No meta data found for ACPI SSDT %c%c%c%c%c%c%c%c table\n", kEngine,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return InstallSsdtWithoutRecord(Call, OemTableId);
  }
  return ReplaySsdtWithRecord(Call, Record, OemTableId);
}

// ---------------------------------------------------------------------------
// DSDT and its elements
// ---------------------------------------------------------------------------

EFI_STATUS ApplyDsdtInteger(RESTORE_CALL *Call, UINT8 *Dsdt) {
  ACPI_DATA_STORAGE_ENTRY_HEADER *Element = reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Call->Entry);
  ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtIntegerMetaDataPtr(Dsdt, Element);
  if (Record == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unexpectedly missing meta data for a stored DSDT patchable integer.\n",
               kEngine);
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = PatchDsdtInteger(Dsdt, Element, Record);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Patching DSDT with integer value failed: %r\n", kEngine, Status);
  }
  return Status;
}

// Reads the entries behind the DSDT entry and applies its NVS and integer
// elements to Dsdt. The first other entry ends the run and stays the current
// entry, to be handled next in this call.
EFI_STATUS ApplyDsdtElements(RESTORE_CALL *Call, UINT8 *Dsdt) {
  for (;;) {
    EFI_STATUS Status = ReadEntry(Call);
    if (Status == EFI_NOT_FOUND) {
      Call->Stop = TRUE;
      Call->Closing = {DEBUG_ERROR, kNoMoreEntries};
      return EFI_SUCCESS;
    }
    if (!EFI_ERROR(Status)) Status = TakeEntryHeader(Call);
    if (Status == EFI_BUFFER_TOO_SMALL) {
      // As in the main loop, a short entry ends the call; the DSDT is still
      // installed with the elements applied so far.
      FreeEntry(Call);
      Call->Stop = TRUE;
      Call->Closing = {DEBUG_INFO, "%a - no further NVS or integer values to patch in DSDT\n"};
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) return Status;
    LogElementHeader("%a - Read %c%c%c%c from BlobStorage\n", &Call->Header);
    ++mAcpiDataStorageEntryCount;
    if (Call->Header.AcpiDataType != AcpiDataTypeDsdt ||
        (Call->Header.AcpiDataSubType != AcpiDataSubTypeNvs &&
         Call->Header.AcpiDataSubType != AcpiDataSubTypeInteger)) {
      Call->Closing = {DEBUG_INFO, "%a - no further NVS or integer values to patch in DSDT\n"};
      return EFI_SUCCESS;
    }
    if (Call->Header.AcpiDataSubType == AcpiDataSubTypeNvs) {
      Status = PatchDsdtNVS(Dsdt, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Call->Entry));
      if (EFI_ERROR(Status))
        DebugPrint(DEBUG_ERROR, "%a - Patching DSDT with NVS failed: %r\n", kEngine, Status);
    } else {
      Status = ApplyDsdtInteger(Call, Dsdt);
    }
    if (EFI_ERROR(Status)) return Status;
    FreeEntry(Call);
  }
}

// The DSDT is never installed from storage: it is read from its firmware-volume
// file, which holds the platform's build-time values, and patched.
EFI_STATUS ReadDsdtFromFv(RESTORE_CALL *Call) {
  if (EntrySignature(Call) != EFI_ACPI_DSDT_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "%a - Was expecting DSDT but found %c%c%c%c\n", kEngine,
               ACPI_SIGNATURE_CHARS(EntrySignature(Call)));
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
  EFI_GUID File;
  BOOLEAN Named = FvFileOf(Record, ACPI_META_DATA_DSDT_FV_FILE_OFFSET, &File);
  VOID *Section = nullptr;
  EFI_STATUS Status = ReadAcpiTableFromFv(Named ? &File : nullptr, EFI_ACPI_DSDT_SIGNATURE, 0, &Section);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to read %c%c%c%c from FV: %r\n", kEngine,
               ACPI_SIGNATURE_CHARS(EFI_ACPI_DSDT_SIGNATURE), Status);
    return Status;
  }
  ChooseFvTable(Call, Section);
  DebugPrint(DEBUG_INFO, "%a - Read %c%c%c%c from FV.\n", kEngine,
             ACPI_SIGNATURE_CHARS(Call->Install.AcpiTable->Signature));
  FreeEntry(Call);
  return EFI_SUCCESS;
}

EFI_STATUS ReplayDsdt(RESTORE_CALL *Call) {
  EFI_STATUS Status = ReadDsdtFromFv(Call);
  if (!EFI_ERROR(Status))
    Status = ApplyDsdtElements(Call, reinterpret_cast<UINT8 *>(Call->Install.AcpiTable));
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
  EFI_STATUS Status = ReadEntry(Call);
  if (Status == EFI_NOT_FOUND) {
    DebugPrint(DEBUG_ERROR, kNoMoreEntries, kEngine);
    Call->Stop = TRUE;
    return EFI_SUCCESS;
  }
  if (!EFI_ERROR(Status)) Status = TakeEntryHeader(Call);
  if (Status == EFI_BUFFER_TOO_SMALL) {
    Call->Stop = TRUE;
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(Status)) return Status;
  ++mAcpiDataStorageEntryCount;
  LogEntryOrder(Call);
  Status = DispatchEntry(Call);
  FreeEntry(Call);
  return Status;
}

}  // namespace

ACPI_RESTORE_RANK_DECISION DecideAcpiTableRank(UINT16 Rank, UINT16 Phase) {
  if ((Rank & ACPI_META_DATA_RANK_PHASE_MASK) <= (Phase & ACPI_META_DATA_RANK_PHASE_MASK))
    return AcpiRestoreInstallNow;
  if ((Rank & ACPI_META_DATA_RANK_COUNT_MASK) > 1) return AcpiRestoreBadRank;
  return AcpiRestoreDefer;
}

EFI_STATUS ProcessAcpiDataStorageAndAcpiMetaData(UINT16 Phase) {
  DebugPrint(DEBUG_INFO, "%a() Entry.\n", kEngine);
  if (mReadBlobHandle == BLOB_HANDLE_NONE) {
    DebugPrint(DEBUG_ERROR, "%a - This feature is not presently supported\n", "WriteAcpiMetaDataToXsdt");
    return EFI_UNSUPPORTED;
  }
  RESTORE_CALL Call;
  ZeroMem(&Call, sizeof(Call));
  Call.Phase = Phase;
  EFI_STATUS Status = InstallDeferredTable();
  while (!EFI_ERROR(Status) && !Call.Stop) Status = ReplayNextEntry(&Call);
  ReleaseRestoreCall(&Call);
  return Status;
}
