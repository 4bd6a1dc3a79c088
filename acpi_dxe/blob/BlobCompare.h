// Comparison of the stored blob stream with a new one, to decide whether the new one
// has to be written. Two streams are similar when they carry the same bytes except
// the fields that change from boot to boot without changing the ACPI data: the
// FADT's checksum and its pointers to the FACS and the DSDT (when both FADTs give
// them in the same form), and the FACS's Hardware Signature.
//
// Every difference and every malformed stream is a failure (EFI_INVALID_PARAMETER);
// the caller answers it by storing the new stream. Neither stream is modified, and
// every read stays inside the stream that holds it.
#ifndef ZEPHRIN_ACPI_DXE_BLOB_BLOB_COMPARE_H_
#define ZEPHRIN_ACPI_DXE_BLOB_BLOB_COMPARE_H_

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"

// Blob 1 is the old (stored) stream, blob 2 the new one. *Similar is TRUE only
// when EFI_SUCCESS is returned.
EFI_STATUS CompareBlobs(const VOID *Blob1Pointer, UINT32 Blob1Length, const VOID *Blob2Pointer,
                        UINT32 Blob2Length, BOOLEAN *Similar);

// The two blob headers must be byte-identical and valid, and the blob must fit in
// the Remaining bytes of the stream from its header on.
EFI_STATUS CheckBlobHeaders(const BLOB_HEADER *Header1, UINT32 Remaining, const BLOB_HEADER *Header2);

// The payload must hold an entry header, and the two entry headers must be
// byte-identical.
EFI_STATUS CheckAcpiDataStorageHeaders(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry1, UINT32 PayloadLength,
                                       const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2);

// Compare the data of two FADT or FACS entries (DataLength bytes each, the bytes
// after the entry headers) on local copies with the ignored fields cleared.
EFI_STATUS CompareAcpiDataTypeFadtEntries(const VOID *Fadt1, UINT32 DataLength, const VOID *Fadt2,
                                          const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2);
EFI_STATUS CompareAcpiDataTypeFacsEntries(const VOID *Facs1, UINT32 DataLength, const VOID *Facs2,
                                          const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2);

#endif  // ZEPHRIN_ACPI_DXE_BLOB_BLOB_COMPARE_H_
