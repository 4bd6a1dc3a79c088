// Walk of the XSDT that the ACPI 2.0+ RSDP names, and its debug dump.
#include "acpi_dxe/capture/XsdtWalk.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "uefi/UefiSpec.h"

namespace {

// Follows the RSDP to the XSDT; every refusal is logged here. The XSDT itself is
// trusted to be mapped for its own Length: it is the platform's root table.
EFI_STATUS XsdtLocate(const CHAR8 *Caller, EFI_ACPI_DESCRIPTION_HEADER **Xsdt) {
  VOID *Table = nullptr;
  EFI_STATUS Status = EfiGetSystemConfigurationTable(&gEfiAcpi20TableGuid, &Table);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - gEfiAcpi20TableGuid was not found\n", Caller);
    return EFI_NOT_FOUND;
  }
  const EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *Rsdp =
      static_cast<const EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *>(Table);
  if (Rsdp == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Root System Description Pointer is NULL\n", Caller);
    return EFI_NOT_FOUND;
  }
  // Revision 0 RSDPs end before XsdtAddress; reading it would run past them.
  if (Rsdp->Revision < EFI_ACPI_RSDP_REVISION_XSDT) {
    DebugPrint(DEBUG_ERROR, "%a - RSDP revisions below 2 are not supported\n", Caller);
    return EFI_UNSUPPORTED;
  }
  if (Rsdp->XsdtAddress == 0) {
    DebugPrint(DEBUG_ERROR, "%a - The XSDT address is zero\n", Caller);
    return EFI_NOT_FOUND;
  }
  *Xsdt = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(Rsdp->XsdtAddress));
  return EFI_SUCCESS;
}

// Entry Index of an XSDT whose entry count the caller has checked; the entries
// are unaligned UINT64s, so they are read through the byte reader.
EFI_ACPI_DESCRIPTION_HEADER *XsdtEntry(const EFI_ACPI_DESCRIPTION_HEADER *Xsdt, UINT32 Index) {
  ByteReader Reader(Xsdt, Xsdt->Length);
  UINT64 Address = 0;
  Reader.PeekAt64(EFI_ACPI_XSDT_ENTRY_OFFSET + static_cast<UINTN>(Index) * EFI_ACPI_XSDT_ENTRY_SIZE,
                  &Address);
  return reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(Address));
}

}  // namespace

UINT32 XsdtEntryCount(UINT32 XsdtLength) {
  if (XsdtLength < EFI_ACPI_XSDT_ENTRY_OFFSET) return 0;
  return (XsdtLength - EFI_ACPI_XSDT_ENTRY_OFFSET) / EFI_ACPI_XSDT_ENTRY_SIZE;
}

EFI_STATUS GetFirstAcpiTable(EFI_ACPI_DESCRIPTION_HEADER **AcpiTable,
                             EFI_ACPI_DESCRIPTION_HEADER **XsdtTablePtr, UINT32 *EntryCount) {
  static const CHAR8 kName[] = "GetFirstAcpiTable";
  if (AcpiTable == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  if (*AcpiTable != nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - *AcpiTable != NULL\n", kName);
    return EFI_ALREADY_STARTED;
  }
  if (XsdtTablePtr == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - XsdtTablePtr is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  if (EntryCount == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - EntryCount is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  *XsdtTablePtr = nullptr;
  *EntryCount = 0;

  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  const EFI_STATUS Status = XsdtLocate(kName, &Xsdt);
  if (EFI_ERROR(Status)) return Status;

  *EntryCount = XsdtEntryCount(Xsdt->Length);
  if (*EntryCount == 0) {
    DebugPrint(DEBUG_ERROR, "%a - Empty XSDT tables are not supported\n", kName);
  } else {
    *AcpiTable = XsdtEntry(Xsdt, 0);
    *XsdtTablePtr = Xsdt;
  }
  DebugPrint(DEBUG_INFO, "%a - ACPI Table   - 0x%08x\n", kName,
             static_cast<UINT32>(reinterpret_cast<UINTN>(*AcpiTable)));
  DebugPrint(DEBUG_INFO, "%a - XSDT Entries - 0x%08x\n", kName, *EntryCount);
  return EFI_SUCCESS;
}

EFI_STATUS GetNextAcpiTable(UINT32 *EntryIndex, EFI_ACPI_DESCRIPTION_HEADER *XsdtTablePtr,
                            EFI_ACPI_DESCRIPTION_HEADER **AcpiTable) {
  static const CHAR8 kName[] = "GetNextAcpiTable";
  if (AcpiTable == nullptr || EntryIndex == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable or EntryIndex is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  *AcpiTable = nullptr;
  if (XsdtTablePtr == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - XsdtTablePtr is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, "%a - *EntryIndex - 0x%08x\n", kName, *EntryIndex);
  if (*EntryIndex == 0 || *EntryIndex >= XsdtEntryCount(XsdtTablePtr->Length)) {
    DebugPrint(DEBUG_ERROR, "%a - *EntryIndex is an invalid value of %d\n", kName, *EntryIndex);
    return EFI_INVALID_PARAMETER;
  }
  *AcpiTable = XsdtEntry(XsdtTablePtr, *EntryIndex);
  *EntryIndex += 1;
  DebugPrint(DEBUG_INFO, "%a - ACPI Table  - 0x%08x\n", kName,
             static_cast<UINT32>(reinterpret_cast<UINTN>(*AcpiTable)));
  return EFI_SUCCESS;
}

VOID DebugDumpAllTables() {
  static const CHAR8 kName[] = "DebugDumpAllTables";
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  UINT32 Count = 0;
  EFI_STATUS Status = GetFirstAcpiTable(&Table, &Xsdt, &Count);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Could not get ACPI tables from XSDT %r\n", kName, Status);
    return;
  }
  for (UINT32 Index = 1; Index < Count && !EFI_ERROR(Status);) {
    Status = GetNextAcpiTable(&Index, Xsdt, &Table);
  }
}
