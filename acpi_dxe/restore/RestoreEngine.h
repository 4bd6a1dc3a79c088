// The restore engine of the certified path: replays the blob stream that a
// custom-path boot stored, entry by entry, and installs each ACPI table from the
// stored entry, from its meta data record or from a firmware-volume file, after
// the DSDT and SSDT patchers have put this boot's values into it.
//
// The engine is called once per install phase, with rising phases. A table whose
// meta data Rank names a later phase waits in one deferred slot, and the replay
// pauses there: every entry behind it waits too, so the stream order is the
// install order. The next call installs the waiting table first, whatever its
// phase, and resumes where the last call stopped.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_ENGINE_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_ENGINE_H_

#include "acpi_dxe/restore/AcpiTableInstall.h"
#include "uefi/UefiBaseType.h"

// Install phases; only bits 15..12 take part in the comparison with a Rank.
#define ACPI_RESTORE_PHASE_DRIVER_ENTRY 0x1000
#define ACPI_RESTORE_PHASE_END_OF_DXE 0x2000
#define ACPI_RESTORE_PHASE_READY_TO_BOOT 0x3000
#define ACPI_RESTORE_PHASE_EXIT_BOOT_SERVICES 0x4000

// The one table whose install waits for the next call; empty when AcpiTable is
// NULL. When FreeBuffer is TRUE the slot owns Buffer.
extern ACPI_TABLE_INSTALL_INFO mDeferredAcpiTable;
// Empties the slot, giving back the buffer it owns: for a table that will never
// be installed.
VOID ReleaseDeferredAcpiTable();
// Entries taken from the stream with ReadBlob over all calls; only the order
// check of the first three entries reads it.
extern UINT32 mAcpiDataStorageEntryCount;

// What a table's Rank asks for in a call of Phase.
enum ACPI_RESTORE_RANK_DECISION : UINT8 {
  AcpiRestoreInstallNow = 0,
  AcpiRestoreDefer = 1,
  AcpiRestoreBadRank = 2,  // a later phase with a count above 1
};
ACPI_RESTORE_RANK_DECISION DecideAcpiTableRank(UINT16 Rank, UINT16 Phase);

// Replays the read stream from its current position. EFI_SUCCESS when the
// stream is used up, when a table has been deferred, or when an entry too short
// for an entry header ends the call; EFI_UNSUPPORTED when no read stream is
// open; otherwise the status of the first failure, after which the stream stays
// past the failing entry and a later call resumes there. Every buffer the call
// took is freed or handed to an install (or to the deferred slot) on every path.
EFI_STATUS ProcessAcpiDataStorageAndAcpiMetaData(UINT16 Phase);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_ENGINE_H_
