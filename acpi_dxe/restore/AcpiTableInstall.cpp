// Table install of the certified path: one table per call, handed to the
// platform's ACPI Table protocol, which copies it, fixes its checksum and links
// it into the XSDT (or, for the FACS and DSDT, into the FADT).
#include "acpi_dxe/restore/AcpiTableInstall.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "uefi/Protocol/AcpiTable.h"

namespace {

EFI_STATUS AcpiInstallOneTable(EFI_ACPI_TABLE_PROTOCOL *AcpiTableProtocol,
                               EFI_ACPI_DESCRIPTION_HEADER *Table) {
  if (Table == NULL) {
    DebugPrint(DEBUG_ERROR, "%a - Pointer to the ACPI table is NULL\n", "InstallAcpiTableIntoXsdt");
    return EFI_INVALID_PARAMETER;
  }
  UINTN TableKey = 0;
  UINT32 Length = Table->Length;
  return AcpiTableProtocol->InstallAcpiTable(AcpiTableProtocol, Table, Length, &TableKey);
}

}  // namespace

EFI_STATUS InstallAcpiTableIntoXsdt(const ACPI_TABLE_INSTALL_INFO *Info) {
  DebugPrint(DEBUG_INFO, "%a() Entry.\n", "InstallAcpiTableIntoXsdt");
  EFI_ACPI_TABLE_PROTOCOL *AcpiTableProtocol = NULL;
  EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gEfiAcpiTableProtocolGuid), NULL,
                                          reinterpret_cast<VOID **>(&AcpiTableProtocol));
  if (!EFI_ERROR(Status) && AcpiTableProtocol == NULL) Status = EFI_NOT_FOUND;
  if (!EFI_ERROR(Status))
    Status = AcpiInstallOneTable(AcpiTableProtocol, Info == NULL ? NULL : Info->AcpiTable);
  // The protocol keeps its own copy, so the caller's buffer is done with either way.
  if (Info != NULL && Info->FreeBuffer && Info->Buffer != NULL) FreePool(Info->Buffer);
  return Status;
}
