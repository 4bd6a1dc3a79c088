// The one checksum routine for ACPI structures. An ACPI table is valid when all
// its bytes, checksum included, sum to zero modulo 256. The FACS has no checksum
// (its byte 9 belongs to the Hardware Signature), so callers never pass one here.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_CHECKSUM_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_CHECKSUM_H_

#include "uefi/UefiBaseType.h"

// Offset of the checksum byte in a description header and in the RSDP's first 20 bytes.
#define ACPI_TABLE_CHECKSUM_OFFSET 9
#define ACPI_RSDP_CHECKSUM_OFFSET 8
#define ACPI_RSDP_V1_LENGTH 20
#define ACPI_RSDP_EXTENDED_CHECKSUM_OFFSET 32

// Sum of Size bytes at Buffer, modulo 256.
UINT8 AcpiSum8(const VOID *Buffer, UINTN Size);

// TRUE when the Size bytes at Buffer sum to zero.
BOOLEAN AcpiChecksumValid(const VOID *Buffer, UINTN Size);

// Rewrites the byte at ChecksumOffset so that the Size bytes at Buffer sum to zero.
// The caller guarantees ChecksumOffset < Size (ASSERT-level contract: returns
// FALSE and writes nothing when it does not hold).
BOOLEAN AcpiChecksumUpdate(VOID *Buffer, UINTN Size, UINTN ChecksumOffset);

// A description-header table: bounds by the table's own Length, which the caller
// has checked to be at least 36 and inside its buffer.
BOOLEAN AcpiTableChecksumValid(const VOID *Table);
BOOLEAN AcpiTableChecksumUpdate(VOID *Table);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_CHECKSUM_H_
