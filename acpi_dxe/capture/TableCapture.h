// Capture of the platform's ACPI tables on the custom path: walk the XSDT and
// write one entry per table into the open write stream, FADT first, then the FACS
// and DSDT it names, then every further table in XSDT order; the DSDT and SSDTs
// are followed by their element entries. The meta data decides which tables are
// stored and whether only a header is kept.
//
// Each operation allocates its entry, saves it and frees it on every path. The
// first failing table ends the capture; entries already saved stay in the stream.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_TABLE_CAPTURE_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_TABLE_CAPTURE_H_

#include "uefi/Acpi.h"
#include "uefi/UefiBaseType.h"

// Largest entry (table plus its 32-byte header): the write stream's capacity.
#define CAPTURE_MAX_ENTRY_SIZE 0x40000

// Shortest tables the capture stores. A data table needs only the signature and
// Length every table has; the DSDT and SSDTs (definition blocks) carry AML
// behind a whole description header. The restore holds stored tables to the
// same bounds, so every table a capture keeps can be put back.
#define CAPTURE_MIN_DATA_TABLE_LENGTH sizeof(EFI_ACPI_COMMON_HEADER)
#define CAPTURE_MIN_DEFINITION_BLOCK_LENGTH sizeof(EFI_ACPI_DESCRIPTION_HEADER)

EFI_STATUS ProcessAcpiTablesFromXsdt();
EFI_STATUS ProcessFadt(const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt);
EFI_STATUS ProcessFacs(const EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE *Facs);
EFI_STATUS ProcessDsdt(const EFI_ACPI_DESCRIPTION_HEADER *Dsdt);
EFI_STATUS ProcessAcpiDataTables(const EFI_ACPI_DESCRIPTION_HEADER *AcpiTable);
EFI_STATUS ProcessSsdt(const EFI_ACPI_DESCRIPTION_HEADER *AcpiTable);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_TABLE_CAPTURE_H_
