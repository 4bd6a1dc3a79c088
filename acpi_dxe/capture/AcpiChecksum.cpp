// Sum-to-zero checksums of ACPI tables and of the RSDP.
#include "acpi_dxe/capture/AcpiChecksum.h"

#include "uefi/Acpi.h"

UINT8 AcpiSum8(const VOID *Buffer, UINTN Size) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Buffer);
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < Size; Index++) Sum = static_cast<UINT8>(Sum + Bytes[Index]);
  return Sum;
}

BOOLEAN AcpiChecksumValid(const VOID *Buffer, UINTN Size) {
  return AcpiSum8(Buffer, Size) == 0 ? TRUE : FALSE;
}

BOOLEAN AcpiChecksumUpdate(VOID *Buffer, UINTN Size, UINTN ChecksumOffset) {
  if (Buffer == nullptr || ChecksumOffset >= Size) return FALSE;
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  Bytes[ChecksumOffset] = 0;
  Bytes[ChecksumOffset] = static_cast<UINT8>(0 - AcpiSum8(Buffer, Size));
  return TRUE;
}

BOOLEAN AcpiTableChecksumValid(const VOID *Table) {
  const EFI_ACPI_DESCRIPTION_HEADER *Header = static_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Table);
  if (Header == nullptr || Header->Length < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) return FALSE;
  return AcpiChecksumValid(Table, Header->Length);
}

BOOLEAN AcpiTableChecksumUpdate(VOID *Table) {
  const EFI_ACPI_DESCRIPTION_HEADER *Header = static_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Table);
  if (Header == nullptr || Header->Length < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) return FALSE;
  return AcpiChecksumUpdate(Table, Header->Length, ACPI_TABLE_CHECKSUM_OFFSET);
}
