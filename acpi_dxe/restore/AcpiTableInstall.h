// Installing one finished ACPI table through the platform's ACPI Table protocol.
// The protocol copies the table, so the caller's buffer is released here once the
// attempt is over (when the caller asks for that), on success and failure alike.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_ACPI_TABLE_INSTALL_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_ACPI_TABLE_INSTALL_H_

#include "uefi/Acpi.h"
#include "uefi/UefiBaseType.h"

// One table to install. Copied by value: the restore engine keeps one copy while
// a table waits for a later install phase.
typedef struct {
  // The table itself, description header first; its Length field gives the size
  // handed to the protocol.
  EFI_ACPI_DESCRIPTION_HEADER *AcpiTable;
  // The pool allocation that holds the table, or NULL. It need not start at the
  // table: a table kept in a data storage entry sits behind the entry header.
  VOID *Buffer;
  // TRUE: Buffer is freed after the install attempt, whatever its result.
  BOOLEAN FreeBuffer;
  UINT16 Reserved;  // always 0
} ACPI_TABLE_INSTALL_INFO;

#if defined(__x86_64__)
static_assert(OFFSET_OF(ACPI_TABLE_INSTALL_INFO, Buffer) == 8, "ACPI_TABLE_INSTALL_INFO Buffer");
static_assert(OFFSET_OF(ACPI_TABLE_INSTALL_INFO, FreeBuffer) == 16, "ACPI_TABLE_INSTALL_INFO FreeBuffer");
static_assert(OFFSET_OF(ACPI_TABLE_INSTALL_INFO, Reserved) == 18, "ACPI_TABLE_INSTALL_INFO Reserved");
static_assert(sizeof(ACPI_TABLE_INSTALL_INFO) == 24, "ACPI_TABLE_INSTALL_INFO size");
#endif

// Installs Info->AcpiTable through the ACPI Table protocol; the table key is not
// kept. Returns the status of LocateProtocol or InstallAcpiTable, or
// EFI_INVALID_PARAMETER when there is no table. Frees Info->Buffer on every path
// when Info->FreeBuffer is TRUE, so the caller never frees it again.
EFI_STATUS InstallAcpiTableIntoXsdt(const ACPI_TABLE_INSTALL_INFO *Info);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_ACPI_TABLE_INSTALL_H_
