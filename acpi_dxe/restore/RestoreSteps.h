// The steps one call of the restore engine is made of, and the state they
// share. Each step has its own file:
//   RestoreEntries.cpp   take the next entry from the read stream;
//   RestoreChoose.cpp    choose the table an entry asks for (stored, carried in
//                        its meta data record, or read from a firmware volume);
//   RestoreDefer.cpp     the rank check and the one deferred slot;
//   RestoreElements.cpp  apply the element run behind a DSDT or SSDT;
//   RestoreEngine.cpp    replay each entry kind with them and install.
//
// Ownership inside one call: RESTORE_CALL holds at most the current entry, the
// table chosen for it (Install) and an SSDT working copy. A buffer leaves the
// call only through an install (which frees it) or the deferred slot, and
// RestoreReleaseCall frees whatever is still held, so every exit is covered.
#ifndef ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_STEPS_H_
#define ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_STEPS_H_

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/restore/AcpiTableInstall.h"
#include "uefi/UefiBaseType.h"

// The name every engine message carries.
#define RESTORE_ENGINE_NAME "ProcessAcpiDataStorageAndAcpiMetaData"
#define RESTORE_ENTRY_HEADER_SIZE static_cast<UINT32>(sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER))
#define RESTORE_NO_MORE_ENTRIES "%a - No more entries in ACPI data storage\n"

// A message that ends an element run; it is logged once the run is over.
typedef struct {
  UINTN Level;
  const CHAR8 *Format;
} RESTORE_CLOSING_MESSAGE;

// State of one call; zero at the start of every call.
typedef struct {
  UINT16 Phase;
  UINT8 *Entry;                           // current entry, owned until handed over
  UINT32 EntryLength;                     // its blob length
  ACPI_DATA_STORAGE_ENTRY_HEADER Header;  // aligned copy of the current entry's header
  ACPI_TABLE_INSTALL_INFO Install;        // table chosen for the current entry, not yet installed
  UINT8 *SsdtCopy;                        // SSDT working copy not yet handed to Install
  BOOLEAN Stop;                           // the call ends after the current entry
  RESTORE_CLOSING_MESSAGE Closing;
} RESTORE_CALL;

inline UINT32 RestoreEntrySignature(const RESTORE_CALL *Call) {
  return Call->Header.AcpiCommonHeader.Signature;
}

// --- Entries (RestoreEntries.cpp) ---------------------------------------------

VOID RestoreFreeEntry(RESTORE_CALL *Call);
VOID RestoreFreeSsdtCopy(RESTORE_CALL *Call);
// Frees everything the call still owns.
VOID RestoreReleaseCall(RESTORE_CALL *Call);
// ReadBlob into the current entry. EFI_NOT_FOUND (the end) is returned silently.
EFI_STATUS RestoreReadEntry(RESTORE_CALL *Call);
// Copies the current entry's header. EFI_BUFFER_TOO_SMALL (logged) for an entry
// shorter than a header; EFI_INVALID_PARAMETER (logged) for an entry whose
// Length is not its blob length.
EFI_STATUS RestoreTakeEntryHeader(RESTORE_CALL *Call);
// Verb is the first line ("%a - Read %c%c%c%c ...\n"); three header lines follow.
VOID RestoreLogElementHeader(const CHAR8 *Verb, const ACPI_DATA_STORAGE_ENTRY_HEADER *Header);

// --- Choosing the table (RestoreChoose.cpp) -------------------------------------
// Each hands the chosen table to Call->Install, or fails (logged) and leaves
// Install empty.

// The table stored in the current entry, which passes to Install.
EFI_STATUS RestoreChooseStoredTable(RESTORE_CALL *Call);
// A data table by its record's AcpiDataSubType.
EFI_STATUS RestoreChooseDataTable(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record);
// Copies the current SSDT entry into Call->SsdtCopy. A table that will be
// installed from the copy (no Record, or one of AcpiDataSubTypeFromStorage)
// must fit in it.
EFI_STATUS RestoreCopySsdt(RESTORE_CALL *Call, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record);
// The working copy, which passes to Install.
VOID RestoreChooseSsdtCopy(RESTORE_CALL *Call);
// An SSDT by its record's AcpiDataSubType.
EFI_STATUS RestoreChooseSsdt(RESTORE_CALL *Call, ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT64 OemTableId);
// The DSDT, always read from the firmware-volume file its Record names (none
// without a record: EFI_INVALID_PARAMETER); the DSDT entry is freed once the
// table is read.
EFI_STATUS RestoreChooseDsdt(RESTORE_CALL *Call, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record);

// --- The deferred slot (RestoreDefer.cpp) ---------------------------------------

// Moves Call->Install into the deferred slot and ends the call.
VOID RestoreDeferChosenTable(RESTORE_CALL *Call);
// Empties the slot of an SSDT whose element failed, freeing what it owns.
VOID RestoreDropDeferredSsdt(UINT64 OemTableId);
// Installs the table the last call deferred, if any; the slot is emptied first.
EFI_STATUS RestoreInstallDeferredTable();

// --- Element runs (RestoreElements.cpp) -----------------------------------------
// Both set Call->Closing to the message that ended the run, and Call->Stop when
// the stream ended.

// Reads the entries behind the DSDT entry and applies its NVS and integer
// elements to Dsdt. The first other entry ends the run and stays the current
// entry, to be handled next in this call.
EFI_STATUS RestoreApplyDsdtElements(RESTORE_CALL *Call, UINT8 *Dsdt);
// Applies the NVS and NON-NVS elements that follow an SSDT to Ssdt. Elements are
// peeked first so that the first foreign entry stays in the stream.
EFI_STATUS RestoreApplySsdtElements(RESTORE_CALL *Call, UINT8 *Ssdt);

#endif  // ZEPHRIN_ACPI_DXE_RESTORE_RESTORE_STEPS_H_
