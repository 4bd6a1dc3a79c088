// Choosing the table the restore engine installs for an entry: the table stored
// in the entry (or its SSDT working copy), the one its meta data record carries,
// or a raw section of a firmware-volume file. See RestoreSteps.h.
//
// A chosen table always lies inside the buffer that holds it: the install
// protocol copies as many bytes as the table's own Length says.
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/FvTableReader.h"
#include "acpi_dxe/restore/RestoreSteps.h"

namespace {

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

// The stored table of the current entry (or of its working copy) fits there.
BOOLEAN StoredTableFits(const RESTORE_CALL *Call, const UINT8 *Entry, UINT32 MinLength) {
  if (TableFitsIn(Entry + RESTORE_ENTRY_HEADER_SIZE, Call->EntryLength - RESTORE_ENTRY_HEADER_SIZE,
                  MinLength))
    return TRUE;
  DebugPrint(DEBUG_ERROR, "%a - Stored %c%c%c%c table does not fit its 0x%x byte entry\n",
             RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)),
             (UINTN)Call->EntryLength);
  return FALSE;
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

// The file GUID a firmware-volume record keeps at FileOffset; FALSE when the
// record is missing or too short to hold it.
BOOLEAN FvFileOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 FileOffset, EFI_GUID *File) {
  if (Record == nullptr || !MetaDataRecordHolds(Record, FileOffset + sizeof(EFI_GUID))) return FALSE;
  CopyMem(File, reinterpret_cast<const UINT8 *>(Record) + FileOffset, sizeof(EFI_GUID));
  return TRUE;
}

// The table a record of AcpiDataSubTypeTable carries, when the record holds the
// whole table its header announces. It is patched and installed in place.
EFI_STATUS ChooseMetaDataTable(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  UINT8 *Table = reinterpret_cast<UINT8 *>(Record) + ACPI_META_DATA_TABLE_OFFSET;
  if (!MetaDataRecordHolds(Record, ACPI_META_DATA_TABLE_OFFSET) ||
      !TableFitsIn(Table, Record->AcpiCommonHeader.Length - ACPI_META_DATA_TABLE_OFFSET,
                   MinTableLength(Call->Header.AcpiDataType))) {
    DebugPrint(DEBUG_ERROR, "%a - Meta data record for %c%c%c%c does not hold the table it names\n",
               RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(Record->AcpiCommonHeader.Signature));
    return EFI_INVALID_PARAMETER;
  }
  Call->Install.AcpiTable = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Table);
  Call->Install.Buffer = nullptr;
  Call->Install.FreeBuffer = FALSE;
  return EFI_SUCCESS;
}

// A section read from a firmware volume is its own pool buffer.
VOID ChooseFvTable(RESTORE_CALL *Call, VOID *Section) {
  Call->Install.AcpiTable = static_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Section);
  Call->Install.Buffer = Section;
  Call->Install.FreeBuffer = TRUE;
}

EFI_STATUS ChooseSsdtFromFv(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT64 OemTableId) {
  EFI_GUID File;
  BOOLEAN Named = FvFileOf(Record, ACPI_META_DATA_SSDT_FV_FILE_OFFSET, &File);
  VOID *Section = nullptr;
  EFI_STATUS Status =
      ReadAcpiTableFromFv(Named ? &File : nullptr, RestoreEntrySignature(Call), OemTableId, &Section);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to read %c%c%c%c from FV: %r\n", RESTORE_ENGINE_NAME,
               ACPI_SIGNATURE_CHARS(RestoreEntrySignature(Call)), Status);
    DebugPrint(DEBUG_ERROR, "%a - Failed to read ACPI SSDT table %c%c%c%c%c%c%c%c from FV\n",
               RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
    return Status;
  }
  ChooseFvTable(Call, Section);
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS RestoreChooseStoredTable(RESTORE_CALL *Call) {
  if (!StoredTableFits(Call, Call->Entry, MinTableLength(Call->Header.AcpiDataType)))
    return EFI_INVALID_PARAMETER;
  Call->Install.AcpiTable =
      reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Call->Entry + RESTORE_ENTRY_HEADER_SIZE);
  Call->Install.Buffer = Call->Entry;
  Call->Install.FreeBuffer = TRUE;
  Call->Entry = nullptr;
  Call->EntryLength = 0;
  return EFI_SUCCESS;
}

EFI_STATUS RestoreChooseDataTable(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  UINT32 Signature = RestoreEntrySignature(Call);
  switch (Record->AcpiDataSubType) {
    case AcpiDataSubTypeFromStorage:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI data table %c%c%c%c from ACPI data storage\n",
                 RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(Signature));
      return RestoreChooseStoredTable(Call);
    case AcpiDataSubTypeTable:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI table %c%c%c%c from meta data\n", RESTORE_ENGINE_NAME,
                 ACPI_SIGNATURE_CHARS(Signature));
      return ChooseMetaDataTable(Call, Record);
    case AcpiDataSubTypeFromFv:
      // A data table record has no file GUID, so there is no table to read.
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI table %c%c%c%c from FV\n", RESTORE_ENGINE_NAME,
                 ACPI_SIGNATURE_CHARS(Signature));
      DebugPrint(DEBUG_ERROR, "%a - No firmware-volume file is named for ACPI data table %c%c%c%c\n",
                 RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(Signature));
      return EFI_UNSUPPORTED;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Unexpected meta data AcpiDataSubType for ACPI data table %c%c%c%c\n",
                 RESTORE_ENGINE_NAME, ACPI_SIGNATURE_CHARS(Signature));
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS RestoreCopySsdt(RESTORE_CALL *Call, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  Call->SsdtCopy = static_cast<UINT8 *>(AllocatePool(Call->EntryLength));
  if (Call->SsdtCopy == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x byte SSDT buffer\n", RESTORE_ENGINE_NAME,
               (UINTN)Call->EntryLength);
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(Call->SsdtCopy, Call->Entry, Call->EntryLength);
  BOOLEAN FromCopy = Record == nullptr || Record->AcpiDataSubType == AcpiDataSubTypeFromStorage;
  if (FromCopy && !StoredTableFits(Call, Call->SsdtCopy, CAPTURE_MIN_DEFINITION_BLOCK_LENGTH))
    return EFI_INVALID_PARAMETER;
  return EFI_SUCCESS;
}

VOID RestoreChooseSsdtCopy(RESTORE_CALL *Call) {
  Call->Install.AcpiTable =
      reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Call->SsdtCopy + RESTORE_ENTRY_HEADER_SIZE);
  Call->Install.Buffer = Call->SsdtCopy;
  Call->Install.FreeBuffer = TRUE;
  Call->SsdtCopy = nullptr;
}

EFI_STATUS RestoreChooseSsdt(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT64 OemTableId) {
  switch (Record->AcpiDataSubType) {
    case AcpiDataSubTypeFromStorage:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from ACPI data storage\n",
                 RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      RestoreChooseSsdtCopy(Call);
      return EFI_SUCCESS;
    case AcpiDataSubTypeTable:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from meta data\n",
                 RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      return ChooseMetaDataTable(Call, Record);
    case AcpiDataSubTypeFromFv:
      DebugPrint(DEBUG_INFO, "%a - Installing ACPI SSDT table %c%c%c%c%c%c%c%c from FV\n",
                 RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      return ChooseSsdtFromFv(Call, Record, OemTableId);
    default:
      DebugPrint(DEBUG_ERROR,
                 "%a - Unexpected meta data AcpiDataSubType for ACPI SSDT %c%c%c%c%c%c%c%c table\n",
                 RESTORE_ENGINE_NAME, ACPI_OEM_TABLE_ID_CHARS(OemTableId));
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS RestoreChooseDsdt(RESTORE_CALL *Call, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  EFI_GUID File;
  BOOLEAN Named = FvFileOf(Record, ACPI_META_DATA_DSDT_FV_FILE_OFFSET, &File);
  VOID *Section = nullptr;
  EFI_STATUS Status = ReadAcpiTableFromFv(Named ? &File : nullptr, EFI_ACPI_DSDT_SIGNATURE, 0, &Section);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - failed to read %c%c%c%c from FV: %r\n", RESTORE_ENGINE_NAME,
               ACPI_SIGNATURE_CHARS(EFI_ACPI_DSDT_SIGNATURE), Status);
    return Status;
  }
  ChooseFvTable(Call, Section);
  DebugPrint(DEBUG_INFO, "%a - Read %c%c%c%c from FV.\n", RESTORE_ENGINE_NAME,
             ACPI_SIGNATURE_CHARS(Call->Install.AcpiTable->Signature));
  RestoreFreeEntry(Call);
  return EFI_SUCCESS;
}
