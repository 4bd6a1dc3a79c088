// ACPI meta data records: platform data, laid end to end inside the open meta data
// (mAcpiMetaDataPtr, mAcpiMetaDataLength), that say which ACPI tables are kept,
// where each comes from at restore time, in which install phase it is installed,
// and which values inside the DSDT and SSDTs are captured and put back. Every
// record opens with the 32-byte ACPI_DATA_STORAGE_ENTRY_HEADER, whose
// AcpiCommonHeader.Length is the step to the next record; there is no count and
// no terminator.
//
// The walk below is the one way through the records. It yields a record only when
// the first bytes its reader needs lie inside the meta data; a reader that needs
// more than that checks the record's whole Length with AcpiMetaDataRecordFits.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_META_DATA_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_META_DATA_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "uefi/UefiBaseType.h"

// Smallest record any lookup examines, and the smallest an SSDT lookup examines
// (header plus the SSDT's description header, whose OemTableId selects the SSDT).
#define ACPI_META_DATA_MIN_RECORD_SIZE 32
#define ACPI_META_DATA_MIN_SSDT_RECORD_SIZE 68
#define ACPI_META_DATA_OEM_TABLE_ID_OFFSET 48
// Firmware-volume file of a sub-type 4 record: after the header (DSDT) or after
// the SSDT's description header (SSDT).
#define ACPI_META_DATA_DSDT_FV_FILE_OFFSET 32
#define ACPI_META_DATA_SSDT_FV_FILE_OFFSET 68
#define ACPI_META_DATA_DSDT_FROM_FV_MIN_LENGTH 48
#define ACPI_META_DATA_SSDT_FROM_FV_MIN_LENGTH 84
// The table a sub-type 3 record carries starts behind the record header.
#define ACPI_META_DATA_TABLE_OFFSET 32

// Rank (UINT16 at record offset 24): bits 15..12 the install phase, in the
// encoding of the restore phases (0x1000 driver entry ... 0x4000 ExitBootServices);
// bits 11..0 a count that must be 0 or 1.
#define ACPI_META_DATA_RANK_OFFSET 24
#define ACPI_META_DATA_RANK_PHASE_MASK 0xF000
#define ACPI_META_DATA_RANK_COUNT_MASK 0x0FFF

// Arguments for "%c%c%c%c" and "%c%c%c%c%c%c%c%c": the characters of an ACPI
// signature and of an OemTableId, lowest byte first.
#define ACPI_SIGNATURE_CHARS(Signature)                                                               \
  (UINTN)((Signature)&0xFF), (UINTN)(((Signature) >> 8) & 0xFF), (UINTN)(((Signature) >> 16) & 0xFF), \
      (UINTN)(((Signature) >> 24) & 0xFF)
#define ACPI_OEM_TABLE_ID_CHARS(Id) \
  ACPI_SIGNATURE_CHARS((UINT32)(Id)), ACPI_SIGNATURE_CHARS((UINT32)((UINT64)(Id) >> 32))

// A position in the records of the open meta data.
typedef struct {
  const UINT8 *Base;  // mAcpiMetaDataPtr when the walk began
  UINT64 Length;      // mAcpiMetaDataLength when the walk began
  UINT64 Offset;      // current record, from Base
} ACPI_META_DATA_CURSOR;

// Starts a walk at the first record of the open meta data. FALSE when no meta
// data is open.
BOOLEAN AcpiMetaDataFirstRecord(ACPI_META_DATA_CURSOR *Cursor);

// The current record when its first MinSize bytes lie inside the meta data, else
// NULL (the walk is over). Records are returned writable: a table carried in a
// record is patched and installed in place on the certified path.
ACPI_DATA_STORAGE_ENTRY_HEADER *AcpiMetaDataRecordAt(const ACPI_META_DATA_CURSOR *Cursor, UINT32 MinSize);

// Steps past the current record by its Length. A Length of 0 would never end
// the walk: it is logged for Caller ("%a - Error at byte %x\n" with the record's
// address, then "%a -   MdPtr->AcpiCommonHeader.Length is zero\n") and FALSE is
// returned.
BOOLEAN AcpiMetaDataNextRecord(const CHAR8 *Caller, ACPI_META_DATA_CURSOR *Cursor);

// TRUE when the current record's whole Length lies inside the meta data.
BOOLEAN AcpiMetaDataRecordFits(const ACPI_META_DATA_CURSOR *Cursor);

// The Rank of a record (which the walk has returned).
UINT16 AcpiMetaDataRank(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record);

// Table-record lookups. AcpiTable points to the table (its Signature; for an SSDT
// also its OemTableId at offset 16, so the caller has checked it holds a
// description header). Each returns the first matching record or NULL, and sets
// *DoNotStore to TRUE exactly when it returns a record of AcpiDataSubTypeDoNotStore.
//   FindMetaDataPtr: the first record with the table's Signature, of any sub-type.
//   FindDsdtTableMetaDataPtr: the same, skipping element records (sub-types 5 to 7).
//   FindSsdtTableMetaDataPtr: as the DSDT lookup, and the record's OemTableId
//     (offset 48) must be the table's.
ACPI_DATA_STORAGE_ENTRY_HEADER *FindMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore);
ACPI_DATA_STORAGE_ENTRY_HEADER *FindDsdtTableMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore);
ACPI_DATA_STORAGE_ENTRY_HEADER *FindSsdtTableMetaDataPtr(const VOID *AcpiTable, BOOLEAN *DoNotStore);

// The integer record that asked for a stored DSDT integer element Entry: the
// first record with the DSDT's Signature, AcpiDataSubTypeInteger, and a locator
// equal to the entry's in all 83 bytes. Entry's Length is trusted to bound the
// entry (the blob reader checked it). NULL when there is none, or when the
// record's fixed part would run past the end of the meta data.
ACPI_DATA_STORAGE_ENTRY_HEADER *FindDsdtIntegerMetaDataPtr(const VOID *Dsdt,
                                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_META_DATA_H_
