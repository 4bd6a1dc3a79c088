// Stream comparison. One forward pass over both streams with one offset; every
// length comes from a header that has first been bounded by the bytes left in the
// stream, and nothing is allocated (the FADT and FACS copies are small locals).
#include "acpi_dxe/blob/BlobCompare.h"

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"

namespace {

// The messages of one pointer rule of the FADT (FACS or DSDT address).
struct BLOB_POINTER_TEXTS {
  const CHAR8 *LegacyIncompatible;  // both 64-bit forms zero, a 32-bit form zero
  const CHAR8 *LegacyUsed;          // both FADTs give the 32-bit form
  const CHAR8 *WideIncompatible;    // one FADT gives the 64-bit form, the other not
};

constexpr BLOB_POINTER_TEXTS mFacsPointerTexts = {
    "%a - FADT FirmwareCtrl values are incompatible.\n",
    "%a - FADT FirmwareCtrl used instead of XFirmwareCtrl.\n",
    "%a - FADT XFirmwareCtrl values are incompatible.\n",
};
constexpr BLOB_POINTER_TEXTS mDsdtPointerTexts = {
    "%a - FADT Dsdt values are incompatible.\n",
    "%a - FADT Dsdt used instead of XDsdt.\n",
    "%a - FADT XDsdt values are incompatible.\n",
};

// EFI_SUCCESS when Length bytes are equal; otherwise logs the first differing byte
// of each side with Text1/Text2 ("... byte %d is 0x%x.") under Name.
EFI_STATUS BlobCompareBytes(const CHAR8 *Name, const CHAR8 *Text1, const CHAR8 *Text2, const VOID *First,
                            const VOID *Second, UINTN Length) {
  const UINT8 *Bytes1 = static_cast<const UINT8 *>(First);
  const UINT8 *Bytes2 = static_cast<const UINT8 *>(Second);
  for (UINTN Index = 0; Index < Length; Index++) {
    if (Bytes1[Index] != Bytes2[Index]) {
      DebugPrint(DEBUG_INFO, Text1, Name, (UINT32)Index, (UINT32)Bytes1[Index]);
      DebugPrint(DEBUG_INFO, Text2, Name, (UINT32)Index, (UINT32)Bytes2[Index]);
      return EFI_INVALID_PARAMETER;
    }
  }
  return EFI_SUCCESS;
}

// Both FADTs must give an address in the same form: the 64-bit one in both, or
// the 32-bit one (non-zero) in both. When they do, the address fields may differ
// from boot to boot and the caller clears them before the byte comparison.
EFI_STATUS BlobCheckPointerForms(UINT64 Wide1, UINT64 Wide2, UINT32 Legacy1, UINT32 Legacy2,
                                 const BLOB_POINTER_TEXTS *Texts) {
  const CHAR8 *Name = "CompareAcpiDataTypeFadtEntries";
  if (Wide1 != 0 && Wide2 != 0) return EFI_SUCCESS;
  if (Wide1 == 0 && Wide2 == 0) {
    if (Legacy1 == 0 || Legacy2 == 0) {
      DebugPrint(DEBUG_INFO, Texts->LegacyIncompatible, Name);
      return EFI_INVALID_PARAMETER;
    }
    DebugPrint(DEBUG_INFO, Texts->LegacyUsed, Name);
    return EFI_SUCCESS;
  }
  DebugPrint(DEBUG_INFO, Texts->WideIncompatible, Name);
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS BlobCheckFadtVersions(const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt1,
                                 const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt2) {
  const CHAR8 *Name = "CompareAcpiDataTypeFadtEntries";
  if (Fadt1->Header.Revision != EFI_ACPI_6_3_FADT_REVISION ||
      Fadt2->Header.Revision != EFI_ACPI_6_3_FADT_REVISION) {
    DebugPrint(DEBUG_ERROR, "%a - FADT major version is not 6\n", Name);
    return EFI_INVALID_PARAMETER;
  }
  if (Fadt1->MinorVersion != EFI_ACPI_6_3_FADT_MINOR_REVISION ||
      Fadt2->MinorVersion != EFI_ACPI_6_3_FADT_MINOR_REVISION) {
    DebugPrint(DEBUG_ERROR, "%a - FADT minor version is not 3\n", Name);
    return EFI_INVALID_PARAMETER;
  }
  if (Fadt1->Flags != Fadt2->Flags) {
    DebugPrint(DEBUG_ERROR, "%a - FADT Flags not identical 0x%x and 0x%x\n", Name, Fadt1->Flags,
               Fadt2->Flags);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Clears, in both copies, the FADT fields that may change from boot to boot when
// both FADTs agree on their form. A hardware-reduced FADT has no FACS, so its FACS
// fields are left to the byte comparison.
EFI_STATUS BlobClearFadtPointers(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt1,
                                 EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt2) {
  if ((Fadt1->Flags & EFI_ACPI_FADT_HW_REDUCED_ACPI) == 0) {
    EFI_STATUS Status = BlobCheckPointerForms(Fadt1->XFirmwareCtrl, Fadt2->XFirmwareCtrl, Fadt1->FirmwareCtrl,
                                              Fadt2->FirmwareCtrl, &mFacsPointerTexts);
    if (EFI_ERROR(Status)) return Status;
    Fadt1->FirmwareCtrl = Fadt2->FirmwareCtrl = 0;
    Fadt1->XFirmwareCtrl = Fadt2->XFirmwareCtrl = 0;
  } else {
    DebugPrint(DEBUG_INFO, "%a - FADT Flags indicate this is a HW reduced platform.\n",
               "CompareAcpiDataTypeFadtEntries");
  }
  EFI_STATUS Status =
      BlobCheckPointerForms(Fadt1->XDsdt, Fadt2->XDsdt, Fadt1->Dsdt, Fadt2->Dsdt, &mDsdtPointerTexts);
  if (EFI_ERROR(Status)) return Status;
  Fadt1->Dsdt = Fadt2->Dsdt = 0;
  Fadt1->XDsdt = Fadt2->XDsdt = 0;
  return EFI_SUCCESS;
}

// Byte comparison of the data of a DSDT, data table or SSDT entry (and their
// elements); the index in a message is counted within the entry's data.
EFI_STATUS CompareAcpiDataStorageEntries(const VOID *Data1, UINT32 DataLength, const VOID *Data2) {
  return BlobCompareBytes(__func__, "%a - Entry 1 byte %d is 0x%x.\n", "%a - Entry 2 byte %d is 0x%x.\n",
                          Data1, Data2, DataLength);
}

// Reads the blob header at the reader's position field by field (the stream has
// no alignment). False when fewer than 16 bytes are left.
bool BlobReadHeader(ByteReader *Stream, BLOB_HEADER *Header) {
  return Stream->Read32(&Header->Revision) && Stream->Read32(&Header->Length) &&
         Stream->Read64(&Header->Signature);
}

// Compares the entry data after two identical entry headers. Any type outside
// the five this system writes makes the streams different: its layout is unknown,
// so nothing can be said about which of its bytes may differ.
EFI_STATUS BlobCompareEntryData(const UINT8 *Data1, UINT32 DataLength, const UINT8 *Data2,
                                const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2) {
  switch (Entry2->AcpiDataType) {
    case AcpiDataTypeFadt:
      return CompareAcpiDataTypeFadtEntries(Data1, DataLength, Data2, Entry2);
    case AcpiDataTypeFacs:
      return CompareAcpiDataTypeFacsEntries(Data1, DataLength, Data2, Entry2);
    case AcpiDataTypeDsdt:
    case AcpiDataTypeAcpiDataTables:
    case AcpiDataTypeSsdt:
      return CompareAcpiDataStorageEntries(Data1, DataLength, Data2);
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid ACPI data type for Header->AcpiDataType 0x%x\n", "CompareBlobs",
                 Entry2->AcpiDataType);
      return EFI_INVALID_PARAMETER;
  }
}

// Compares the blob at the position of both readers (same offset, same remaining
// bytes) and moves both past it.
EFI_STATUS BlobCompareNext(ByteReader *Stream1, ByteReader *Stream2) {
  BLOB_HEADER Header1 = {};
  BLOB_HEADER Header2 = {};
  UINT32 Remaining = (UINT32)Stream1->Remaining();
  const UINT8 *Blob1 = Stream1->Current();
  const UINT8 *Blob2 = Stream2->Current();
  // Bytes too few for a header are not skipped: whatever they hold would then go
  // uncompared, so such a tail makes the streams different.
  if (!BlobReadHeader(Stream1, &Header1) || !BlobReadHeader(Stream2, &Header2)) {
    DebugPrint(DEBUG_ERROR, "%a -Error, Blobs are too short to contain a blob header.\n", "CompareBlobs");
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = CheckBlobHeaders(&Header1, Remaining, &Header2);
  if (EFI_ERROR(Status)) return Status;

  // Length is now bounded by Remaining and at least the header size.
  UINT32 PayloadLength = Header1.Length - sizeof(BLOB_HEADER);
  const auto *Entry1 = reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(Blob1 + sizeof(BLOB_HEADER));
  const auto *Entry2 = reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(Blob2 + sizeof(BLOB_HEADER));
  Status = CheckAcpiDataStorageHeaders(Entry1, PayloadLength, Entry2);
  if (EFI_ERROR(Status)) return Status;

  UINT32 DataLength = PayloadLength - sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
  Status = BlobCompareEntryData(reinterpret_cast<const UINT8 *>(Entry1 + 1), DataLength,
                                reinterpret_cast<const UINT8 *>(Entry2 + 1), Entry2);
  if (EFI_ERROR(Status)) return Status;
  Stream1->Skip(PayloadLength);
  Stream2->Skip(PayloadLength);
  return EFI_SUCCESS;
}

EFI_STATUS BlobCheckStreams(const VOID *Blob1Pointer, UINT32 Blob1Length, const VOID *Blob2Pointer,
                            UINT32 Blob2Length) {
  const CHAR8 *Name = "CompareBlobs";
  const CHAR8 *Problem = nullptr;
  if (Blob1Pointer == nullptr) {
    Problem = "%a - Error, Blob1Pointer == NULL.\n";
  } else if (Blob1Length == 0) {
    Problem = "%a - Error, Blob1Length is zero.\n";
  } else if (Blob2Pointer == nullptr) {
    Problem = "%a - Error, Blob2Pointer == NULL.\n";
  } else if (Blob2Length == 0) {
    Problem = "%a - Error, Blob2Length is zero.\n";
  } else if (Blob1Length != Blob2Length) {
    Problem = "%a - Error, Blobs are of different lengths thus not the same.\n";
  } else if (Blob1Length < sizeof(BLOB_HEADER)) {
    Problem = "%a -Error, Blobs are too short to contain a blob header.\n";
  }
  if (Problem == nullptr) return EFI_SUCCESS;
  DebugPrint(DEBUG_ERROR, Problem, Name);
  return EFI_INVALID_PARAMETER;
}

}  // namespace

EFI_STATUS CheckBlobHeaders(const BLOB_HEADER *Header1, UINT32 Remaining, const BLOB_HEADER *Header2) {
  EFI_STATUS Status =
      BlobCompareBytes(__func__, "%a - Blob 1 header byte %d is 0x%x.\n",
                       "%a - Blob 2 header byte %d is 0x%x.\n", Header1, Header2, sizeof(BLOB_HEADER));
  if (EFI_ERROR(Status)) return Status;
  const CHAR8 *Problem = nullptr;
  if (Header1->Revision != BLOB_HEADER_REVISION) {
    DebugPrint(DEBUG_ERROR, "%a - Blob revision %d is not supported.\n", __func__, Header1->Revision);
    return EFI_INVALID_PARAMETER;
  }
  if (Header1->Signature != BLOB_HEADER_SIGNATURE) {
    Problem = "%a - Blob appears corrupt.\n";
  } else if (Header1->Length < sizeof(BLOB_HEADER)) {
    Problem = "%a - Error, the blob length in the blob header is too short to be valid.\n";
  } else if (Header1->Length > Remaining) {
    // Bounded by the bytes from this header to the end of the stream, not by the
    // whole stream: a blob that starts late must still end inside it.
    Problem = "%a - Error, the blob length in the blob header is too long to be valid.\n";
  }
  if (Problem == nullptr) return EFI_SUCCESS;
  DebugPrint(DEBUG_ERROR, Problem, __func__);
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS CheckAcpiDataStorageHeaders(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry1, UINT32 PayloadLength,
                                       const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2) {
  if (PayloadLength < sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)) {
    DebugPrint(DEBUG_ERROR, "%a - Read blob length less than ACPI data storage entry!\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  return BlobCompareBytes(__func__, "%a - ACPI Data Storage Entry header 1 byte %d is 0x%x.\n",
                          "%a - ACPI Data Storage Entry header 2 byte %d is 0x%x.\n", Entry1, Entry2,
                          sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER));
}

EFI_STATUS CompareAcpiDataTypeFadtEntries(const VOID *Fadt1, UINT32 DataLength, const VOID *Fadt2,
                                          const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2) {
  UINT32 Signature = Entry2->AcpiCommonHeader.Signature;
  if (Signature != EFI_ACPI_FADT_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "%a - Was expecting FADT but found %c%c%c%c\n", __func__,
               ACPI_SIGNATURE_CHARS(Signature));
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, "%a - AcpiDataTypeFadt found.\n", __func__);
  if (DataLength != EFI_ACPI_6_3_FADT_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - FADT table found with wrong size\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE Copy1;
  EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE Copy2;
  CopyMem(&Copy1, Fadt1, sizeof(Copy1));
  CopyMem(&Copy2, Fadt2, sizeof(Copy2));
  EFI_STATUS Status = BlobCheckFadtVersions(&Copy1, &Copy2);
  if (!EFI_ERROR(Status)) Status = BlobClearFadtPointers(&Copy1, &Copy2);
  if (EFI_ERROR(Status)) return Status;
  Copy1.Header.Checksum = Copy2.Header.Checksum = 0;
  return BlobCompareBytes(__func__, "%a - Blob FADT 1 byte %d is 0x%x.\n",
                          "%a - Blob FADT 2 byte %d is 0x%x.\n", &Copy1, &Copy2, sizeof(Copy1));
}

EFI_STATUS CompareAcpiDataTypeFacsEntries(const VOID *Facs1, UINT32 DataLength, const VOID *Facs2,
                                          const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry2) {
  UINT32 Signature = Entry2->AcpiCommonHeader.Signature;
  if (Signature != EFI_ACPI_FACS_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "%a - Was expecting FACS but found %c%c%c%c\n", __func__,
               ACPI_SIGNATURE_CHARS(Signature));
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, "%a - AcpiDataTypeFacs found.\n", __func__);
  if (DataLength != EFI_ACPI_FACS_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - FACS table found with wrong size\n", __func__);
    return EFI_INVALID_PARAMETER;
  }
  EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE Copy1;
  EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE Copy2;
  CopyMem(&Copy1, Facs1, sizeof(Copy1));
  CopyMem(&Copy2, Facs2, sizeof(Copy2));
  DebugPrint(DEBUG_INFO, "%a - Facs1 Hardware Signature CRC = 0x%x\n", __func__, Copy1.HardwareSignature);
  DebugPrint(DEBUG_INFO, "%a - Facs2 Hardware Signature CRC = 0x%x\n", __func__, Copy2.HardwareSignature);
  Copy1.HardwareSignature = Copy2.HardwareSignature = 0;
  return BlobCompareBytes(__func__, "%a - Blob FACS 1 byte %d is 0x%x.\n",
                          "%a - Blob FACS 2 byte %d is 0x%x.\n", &Copy1, &Copy2, sizeof(Copy1));
}

EFI_STATUS CompareBlobs(const VOID *Blob1Pointer, UINT32 Blob1Length, const VOID *Blob2Pointer,
                        UINT32 Blob2Length, BOOLEAN *Similar) {
  if (Similar == nullptr) return EFI_INVALID_PARAMETER;
  *Similar = FALSE;
  DebugPrint(DEBUG_INFO, "CompareBlobs () Entry.\n");
  EFI_STATUS Status = BlobCheckStreams(Blob1Pointer, Blob1Length, Blob2Pointer, Blob2Length);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Blob 1 pointer %p.\n", __func__, Blob1Pointer);
  DebugPrint(DEBUG_INFO, "%a - Blob 2 pointer %p.\n", __func__, Blob2Pointer);

  ByteReader Stream1(Blob1Pointer, Blob1Length);
  ByteReader Stream2(Blob2Pointer, Blob2Length);
  while (Stream1.Remaining() > 0) {
    Status = BlobCompareNext(&Stream1, &Stream2);
    if (EFI_ERROR(Status)) return Status;
  }
  *Similar = TRUE;
  return EFI_SUCCESS;
}
