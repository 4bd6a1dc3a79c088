// Persistence of blob streams in the UEFI variable AcpiDataCache: the read cache is
// filled from it when the read stream opens, and the write cache is stored into it,
// compressed, when the write stream closes and differs from what is stored.
#ifndef ZEPHRIN_ACPI_DXE_BLOB_BLOB_CACHE_H_
#define ZEPHRIN_ACPI_DXE_BLOB_BLOB_CACHE_H_

#include "acpi_dxe/blob/BlobStream.h"
#include "uefi/UefiSpec.h"

inline constexpr EFI_GUID gAcpiDataCacheVariableGuid = {
    0x79660E97, 0x514B, 0x4CFC, {0x87, 0x3F, 0x02, 0xB3, 0xAB, 0x00, 0xC0, 0x86}};
inline constexpr CHAR16 ACPI_DATA_CACHE_VARIABLE_NAME[] = u"AcpiDataCache";

// The only attributes the cache is written with and accepted with on read.
#define ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES (EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS)

// Allocates the read cache and decompresses AcpiDataCache into it. On success the
// read stream holds the stored stream from offset 0. On any failure after the
// allocation the read cache stays allocated and empty (mReadBlobStreamMaxOffset 0);
// EFI_NOT_FOUND means there is no stored stream yet.
EFI_STATUS FillCache();

// Stores the write stream into AcpiDataCache unless CompareBlobs judges it similar
// to the read stream. The write cache is left as it is, so a failed flush can be
// retried; the stored variable is untouched on every failure.
EFI_STATUS FlushCache(BLOB_HANDLE Handle);

#endif  // ZEPHRIN_ACPI_DXE_BLOB_BLOB_CACHE_H_
