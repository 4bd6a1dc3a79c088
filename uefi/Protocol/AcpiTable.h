// EFI_ACPI_TABLE_PROTOCOL of UEFI 2.x: the platform's owner of the RSDP and
// XSDT. InstallAcpiTable copies the table, fixes its checksum and links it (a
// FADT to the FACS and DSDT); UninstallAcpiTable removes it by its key.
#ifndef ZEPHRIN_UEFI_PROTOCOL_ACPI_TABLE_H_
#define ZEPHRIN_UEFI_PROTOCOL_ACPI_TABLE_H_

#include "../UefiBaseType.h"

typedef struct _EFI_ACPI_TABLE_PROTOCOL EFI_ACPI_TABLE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_ACPI_TABLE_INSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL *This,
                                                              VOID *AcpiTableBuffer, UINTN AcpiTableBufferSize,
                                                              UINTN *TableKey);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL *This, UINTN TableKey);

struct _EFI_ACPI_TABLE_PROTOCOL {
  EFI_ACPI_TABLE_INSTALL_ACPI_TABLE InstallAcpiTable;
  EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE UninstallAcpiTable;
};
static_assert(OFFSET_OF(EFI_ACPI_TABLE_PROTOCOL, UninstallAcpiTable) == sizeof(VOID *),
              "EFI_ACPI_TABLE_PROTOCOL layout");
static_assert(sizeof(EFI_ACPI_TABLE_PROTOCOL) == 2 * sizeof(VOID *), "EFI_ACPI_TABLE_PROTOCOL size");

inline constexpr EFI_GUID gEfiAcpiTableProtocolGuid = {
    0xFFE06BDD, 0x6107, 0x46A6, {0x7B, 0xB2, 0x5A, 0x9C, 0x7E, 0xC5, 0x27, 0x5C}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_ACPI_TABLE_H_
