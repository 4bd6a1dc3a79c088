// Element capture on the custom path: for the DSDT or an SSDT just stored, walk
// the meta data's element records for that table and append one element entry
// per record to the write stream, directly behind the table's own entry: the
// contents of NVS (and NON-NVS) OperationRegions with their lengths, and the
// values of patchable integer constants. On the certified path it does nothing.
//
// The table the AML offsets apply to is the copy inside the table entry (entry
// offset 32), which holds the whole table even when only its header is saved.
// NVS contents are read from the live memory the AML names.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_CAPTURE_META_DATA_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_CAPTURE_META_DATA_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "uefi/UefiBaseType.h"

// Entry: the table entry just built (header plus the whole table). Record: the
// table's meta data record, or NULL. *DoNotStore is always left FALSE. Returns the
// status of the element capture; format problems in the meta data end a pass with
// the status so far (normally EFI_SUCCESS), unsupported element kinds give
// EFI_INVALID_PARAMETER.
EFI_STATUS ProcessAcpiMetaData(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                               const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore);

EFI_STATUS ProcessDsdtOnCustomPath(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                   const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore);
EFI_STATUS ProcessSsdtOnCustomPath(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                   const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore);

// Element recorders: Record is an element record whose whole Length lies inside
// the meta data and is at least its kind's fixed part; Entry is the table entry.
EFI_STATUS ProcessDsdtNvsOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                      const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessSsdtNvsOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                      const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessSsdtNvsType1OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessDsdtNvsType2OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessSsdtNonNvsType2OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                              const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);
EFI_STATUS ProcessDsdtIntValueOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_CAPTURE_META_DATA_H_
