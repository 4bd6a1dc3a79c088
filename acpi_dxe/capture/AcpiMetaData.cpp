// Walking the ACPI meta data records and the lookups that find the record for a
// table. Records are platform data: every field is read only after the walk has
// checked that the bytes lie inside the meta data.
#include "acpi_dxe/capture/AcpiMetaData.h"

#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "uefi/Acpi.h"

namespace {

// Which records a table-record lookup accepts.
enum AcpiMdMatch {
  AcpiMdMatchAnySubType,   // FindMetaDataPtr
  AcpiMdMatchTableRecord,  // FindDsdtTableMetaDataPtr: no element records
  AcpiMdMatchSsdtRecord,   // FindSsdtTableMetaDataPtr: no element records, same OemTableId
};

bool AcpiMdIsElementSubType(UINT32 SubType) {
  return SubType == AcpiDataSubTypeNvs || SubType == AcpiDataSubTypeNonNvs ||
         SubType == AcpiDataSubTypeInteger;
}

UINT64 AcpiMdRecordOemTableId(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  ByteReader In(Record, ACPI_META_DATA_MIN_SSDT_RECORD_SIZE);
  UINT64 OemTableId = 0;
  In.PeekAt64(ACPI_META_DATA_OEM_TABLE_ID_OFFSET, &OemTableId);
  return OemTableId;
}

bool AcpiMdRecordMatches(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, AcpiMdMatch Match, UINT32 Signature,
                         UINT64 OemTableId) {
  if (Record->AcpiCommonHeader.Signature != Signature) return false;
  if (Match == AcpiMdMatchAnySubType) return true;
  if (AcpiMdIsElementSubType(Record->AcpiDataSubType)) return false;
  return Match != AcpiMdMatchSsdtRecord || AcpiMdRecordOemTableId(Record) == OemTableId;
}

VOID AcpiMdLogMatch(const CHAR8 *Caller, AcpiMdMatch Match, UINT32 Signature, UINT64 OemTableId) {
  if (Match == AcpiMdMatchSsdtRecord) {
    DebugPrint(DEBUG_INFO, "%a - Found meta data for AcpiTable  %c%c%c%c\n", Caller,
               ACPI_SIGNATURE_CHARS(Signature));
    DebugPrint(DEBUG_INFO, "%a - Found meta data for OemTableId %c%c%c%c%c%c%c%c\n", Caller,
               ACPI_OEM_TABLE_ID_CHARS(OemTableId));
  } else {
    DebugPrint(DEBUG_INFO, "%a - Found meta data for AcpiTable %c%c%c%c\n", Caller,
               ACPI_SIGNATURE_CHARS(Signature));
  }
}

VOID AcpiMdLogNotLocated(const CHAR8 *Caller, AcpiMdMatch Match, UINT32 Signature) {
  if (Match == AcpiMdMatchAnySubType) {
    DebugPrint(DEBUG_INFO, "%a - Failed to locate metadata for AcpiTable %c%c%c%c\n", Caller,
               ACPI_SIGNATURE_CHARS(Signature));
  }
}

// The shared body of the three table-record lookups.
ACPI_DATA_STORAGE_ENTRY_HEADER *AcpiMdFindTableRecord(const CHAR8 *Caller, AcpiMdMatch Match,
                                                      const VOID *AcpiTable, BOOLEAN *DoNotStore) {
  if (DoNotStore == NULL) {
    DebugPrint(DEBUG_ERROR, "%a - DoNotStore is NULL\n", Caller);
    return NULL;
  }
  *DoNotStore = FALSE;
  if (AcpiTable == NULL) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable is NULL\n", Caller);
    return NULL;
  }
  const EFI_ACPI_DESCRIPTION_HEADER *Table = static_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(AcpiTable);
  UINT32 Signature = Table->Signature;
  UINT64 OemTableId = Match == AcpiMdMatchSsdtRecord ? Table->OemTableId : 0;
  UINT32 MinSize =
      Match == AcpiMdMatchSsdtRecord ? ACPI_META_DATA_MIN_SSDT_RECORD_SIZE : ACPI_META_DATA_MIN_RECORD_SIZE;
  ACPI_META_DATA_CURSOR Cursor = {};
  if (!AcpiMetaDataFirstRecord(&Cursor)) {
    AcpiMdLogNotLocated(Caller, Match, Signature);
    return NULL;
  }
  if (Cursor.Length < MinSize) {
    DebugPrint(DEBUG_ERROR,
               Match == AcpiMdMatchSsdtRecord
                   ? "%a - Meta data is too short to contain meta data for a SSDT\n"
                   : "%a - Meta data is too short to be valid\n",
               Caller);
    return NULL;
  }
  for (ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, MinSize); Record != NULL;
       Record = AcpiMetaDataRecordAt(&Cursor, MinSize)) {
    if (AcpiMdRecordMatches(Record, Match, Signature, OemTableId)) {
      AcpiMdLogMatch(Caller, Match, Signature, OemTableId);
      *DoNotStore = Record->AcpiDataSubType == AcpiDataSubTypeDoNotStore ? TRUE : FALSE;
      return Record;
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) return NULL;
  }
  AcpiMdLogNotLocated(Caller, Match, Signature);
  return NULL;
}

}  // namespace

BOOLEAN AcpiMetaDataFirstRecord(ACPI_META_DATA_CURSOR *Cursor) {
  *Cursor = {mAcpiMetaDataPtr, mAcpiMetaDataPtr == NULL ? 0 : mAcpiMetaDataLength, 0};
  return mAcpiMetaDataPtr != NULL;
}

ACPI_DATA_STORAGE_ENTRY_HEADER *AcpiMetaDataRecordAt(const ACPI_META_DATA_CURSOR *Cursor, UINT32 MinSize) {
  if (Cursor->Base == NULL || Cursor->Offset > Cursor->Length || MinSize > Cursor->Length - Cursor->Offset) {
    return NULL;
  }
  return reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(
      const_cast<UINT8 *>(Cursor->Base + Cursor->Offset));
}

BOOLEAN AcpiMetaDataNextRecord(const CHAR8 *Caller, ACPI_META_DATA_CURSOR *Cursor) {
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(Cursor, ACPI_META_DATA_MIN_RECORD_SIZE);
  if (Record == NULL) return FALSE;
  UINT32 Length = Record->AcpiCommonHeader.Length;
  if (Length == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Error at byte %x\n", Caller, (UINT32)(UINTN)Record);
    DebugPrint(DEBUG_ERROR, "%a -   MdPtr->AcpiCommonHeader.Length is zero\n", Caller);
    return FALSE;
  }
  // Offset <= Length < 2^64 and Length is 32-bit: the sum cannot wrap.
  Cursor->Offset += Length;
  return TRUE;
}

BOOLEAN AcpiMetaDataRecordFits(const ACPI_META_DATA_CURSOR *Cursor) {
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(Cursor, ACPI_META_DATA_MIN_RECORD_SIZE);
  return Record != NULL && Record->AcpiCommonHeader.Length <= Cursor->Length - Cursor->Offset;
}

UINT16 AcpiMetaDataRank(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  ByteReader In(Record, sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER));
  UINT16 Rank = 0;
  In.PeekAt16(ACPI_META_DATA_RANK_OFFSET, &Rank);
  return Rank;
}

ACPI_DATA_STORAGE_ENTRY_HEADER *FindMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore) {
  return AcpiMdFindTableRecord("FindMetaDataPtr", AcpiMdMatchAnySubType, AcpiTable, DoNotStore);
}

ACPI_DATA_STORAGE_ENTRY_HEADER *FindDsdtTableMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore) {
  return AcpiMdFindTableRecord("FindDsdtTableMetaDataPtr", AcpiMdMatchTableRecord, AcpiTable, DoNotStore);
}

ACPI_DATA_STORAGE_ENTRY_HEADER *FindSsdtTableMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore) {
  return AcpiMdFindTableRecord("FindSsdtTableMetaDataPtr", AcpiMdMatchSsdtRecord, AcpiTable, DoNotStore);
}

ACPI_DATA_STORAGE_ENTRY_HEADER *FindDsdtIntegerMetaDataPtr(const VOID *Dsdt,
                                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const CHAR8 *Caller = "FindDsdtIntegerMetaDataPtr";
  if (Dsdt == NULL) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable is NULL\n", Caller);
    return NULL;
  }
  if (Entry == NULL || Entry->AcpiCommonHeader.Length < sizeof(ACPI_DATA_STORAGE_INTEGER)) {
    DebugPrint(DEBUG_ERROR, "%a - ACPI data storage entry length of %x is too short for DSDT integer value\n",
               Caller, Entry == NULL ? 0 : Entry->AcpiCommonHeader.Length);
    return NULL;
  }
  ACPI_META_DATA_CURSOR Cursor = {};
  if (!AcpiMetaDataFirstRecord(&Cursor)) return NULL;
  if (Cursor.Length < ACPI_META_DATA_MIN_RECORD_SIZE) {
    DebugPrint(DEBUG_ERROR, "%a - Meta data is too short to be valid\n", Caller);
    return NULL;
  }
  UINT32 Signature = static_cast<const EFI_ACPI_COMMON_HEADER *>(Dsdt)->Signature;
  const AML_OBJECT_LOCATOR *Wanted = &reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Entry)->Locator;
  for (ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, ACPI_META_DATA_MIN_RECORD_SIZE);
       Record != NULL; Record = AcpiMetaDataRecordAt(&Cursor, ACPI_META_DATA_MIN_RECORD_SIZE)) {
    if (Record->AcpiCommonHeader.Signature == Signature &&
        Record->AcpiDataSubType == AcpiDataSubTypeInteger) {
      if (Record->AcpiCommonHeader.Length < sizeof(ACPI_DATA_STORAGE_INTEGER)) {
        DebugPrint(DEBUG_ERROR, "%a - Meta data entry length of 0x%x is too short for DSDT integer value\n",
                   Caller, Record->AcpiCommonHeader.Length);
        return NULL;
      }
      // The walk vouches only for the header; the locator is compared only once
      // the record's whole fixed part is known to lie inside the meta data.
      if (AcpiMetaDataRecordAt(&Cursor, sizeof(ACPI_DATA_STORAGE_INTEGER)) == NULL) {
        DebugPrint(DEBUG_ERROR, "%a - Attempt to access past end of meta data %x\n", Caller,
                   (UINT32)(UINTN)Record);
        return NULL;
      }
      const AML_OBJECT_LOCATOR *Locator =
          &reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Record)->Locator;
      if (CompareMem(Locator, Wanted, sizeof(AML_OBJECT_LOCATOR)) == 0) return Record;
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) return NULL;
  }
  return NULL;
}
