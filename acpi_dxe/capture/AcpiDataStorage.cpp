// Builders and the checked header reader of ACPI data storage entries. Builders
// allocate a zero-filled buffer of exactly the entry's length and hand it to the
// caller, who saves it with SaveBlob and frees it whatever SaveBlob returned.
#include "acpi_dxe/capture/AcpiDataStorage.h"

#include "acpi_dxe/core/DxeServices.h"
#include "common/ByteReader.h"
#include "common/SafeInt.h"

const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtNvsDefaultElement = {EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt,
                                                               AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault,
                                                               sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT)};
const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtNvsType2Element = {EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt,
                                                             AcpiDataSubTypeNvs, AcpiDataNvsType2,
                                                             sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2)};
const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtIntegerElement = {EFI_ACPI_DSDT_SIGNATURE, AcpiDataTypeDsdt,
                                                            AcpiDataSubTypeInteger, AcpiDataNvsTypeNone,
                                                            sizeof(ACPI_DATA_STORAGE_INTEGER)};
const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNvsDefaultElement = {EFI_ACPI_SSDT_SIGNATURE, AcpiDataTypeSsdt,
                                                               AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault,
                                                               sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT)};
const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNvsType1Element = {EFI_ACPI_SSDT_SIGNATURE, AcpiDataTypeSsdt,
                                                             AcpiDataSubTypeNvs, AcpiDataNvsType1,
                                                             sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1)};
const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNonNvsType2Element = {EFI_ACPI_SSDT_SIGNATURE, AcpiDataTypeSsdt,
                                                                AcpiDataSubTypeNonNvs, AcpiDataNvsType2,
                                                                sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2)};

namespace {

const ACPI_DATA_STORAGE_ELEMENT_KIND *const mElementKinds[] = {
    &gDsdtNvsDefaultElement, &gDsdtNvsType2Element, &gDsdtIntegerElement,
    &gSsdtNvsDefaultElement, &gSsdtNvsType1Element, &gSsdtNonNvsType2Element,
};

// Copies the record's fixed part into a fresh entry of FixedLength + DataLength
// bytes and rewrites its header for Kind.
EFI_STATUS AcpiDsCreateElement(const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind, const VOID *Record,
                               UINTN RecordLength, UINT32 DataLength,
                               ACPI_DATA_STORAGE_ENTRY_HEADER **Entry) {
  if (Kind == nullptr || Record == nullptr || Entry == nullptr || RecordLength < Kind->FixedLength) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 EntryLength;
  if (!SafeUint32Add(Kind->FixedLength, DataLength, &EntryLength)) return EFI_BAD_BUFFER_SIZE;
  auto *Buffer = static_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(AllocateZeroPool(EntryLength));
  if (Buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  CopyMem(Buffer, Record, Kind->FixedLength);
  InitAcpiDataStorageEntryHeader(Buffer, Kind->Signature, EntryLength, Kind->AcpiDataType,
                                 Kind->AcpiDataSubType, Kind->AcpiDataNvsType);
  *Entry = Buffer;
  return EFI_SUCCESS;
}

}  // namespace

VOID InitAcpiDataStorageEntryHeader(ACPI_DATA_STORAGE_ENTRY_HEADER *Header, UINT32 Signature, UINT32 Length,
                                    UINT32 DataType, UINT32 SubType, UINT32 NvsType) {
  Header->Revision = ACPI_DATA_STORAGE_ENTRY_REVISION;
  Header->AcpiCommonHeader.Signature = Signature;
  Header->AcpiCommonHeader.Length = Length;
  Header->AcpiDataType = DataType;
  Header->AcpiDataSubType = SubType;
  Header->AcpiDataNvsType = NvsType;
  Header->EntrySignature = ACPI_DATA_STORAGE_ENTRY_SIGNATURE;
}

EFI_STATUS CreateAcpiTableEntry(UINT32 DataType, const VOID *Table, UINT32 TableLength,
                                ACPI_DATA_STORAGE_ENTRY_HEADER **Entry) {
  if (Table == nullptr || Entry == nullptr || TableLength < sizeof(UINT32)) return EFI_INVALID_PARAMETER;
  UINT32 EntryLength;
  if (!SafeUint32Add(sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER), TableLength, &EntryLength)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 Signature;
  if (DataType == AcpiDataTypeFadt) {
    Signature = EFI_ACPI_FADT_SIGNATURE;
  } else if (DataType == AcpiDataTypeFacs) {
    Signature = EFI_ACPI_FACS_SIGNATURE;
  } else {
    CopyMem(&Signature, Table, sizeof(Signature));
  }
  auto *Buffer = static_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(AllocateZeroPool(EntryLength));
  if (Buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  InitAcpiDataStorageEntryHeader(Buffer, Signature, EntryLength, DataType, AcpiDataSubTypeTable,
                                 AcpiDataNvsTypeNone);
  CopyMem(Buffer + 1, Table, TableLength);
  *Entry = Buffer;
  return EFI_SUCCESS;
}

EFI_STATUS MarkAcpiTableEntryFromFv(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  if (Entry == nullptr) return EFI_INVALID_PARAMETER;
  UINT32 Length;
  if (Entry->AcpiDataType == AcpiDataTypeDsdt) {
    Length = ACPI_DATA_STORAGE_DSDT_FROM_FV_LENGTH;
  } else if (Entry->AcpiDataType == AcpiDataTypeSsdt) {
    Length = ACPI_DATA_STORAGE_SSDT_FROM_FV_LENGTH;
  } else {
    return EFI_INVALID_PARAMETER;
  }
  // Shortening only: the buffer must already hold what the short form keeps.
  if (Entry->AcpiCommonHeader.Length < Length) return EFI_INVALID_PARAMETER;
  Entry->AcpiDataSubType = AcpiDataSubTypeFromFv;
  Entry->AcpiCommonHeader.Length = Length;
  return EFI_SUCCESS;
}

EFI_STATUS CreateNvsElementEntry(const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind, const VOID *Record,
                                 UINTN RecordLength, const VOID *NvsData, UINT32 NvsLength,
                                 ACPI_DATA_STORAGE_ENTRY_HEADER **Entry) {
  if (Kind == nullptr || Kind->AcpiDataSubType == AcpiDataSubTypeInteger ||
      (NvsData == nullptr && NvsLength != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER *Buffer = nullptr;
  EFI_STATUS Status = AcpiDsCreateElement(Kind, Record, RecordLength, NvsLength, &Buffer);
  if (EFI_ERROR(Status)) return Status;
  auto *Element = reinterpret_cast<ACPI_DATA_STORAGE_ELEMENT *>(Buffer);
  // The description header's Length counts the region too; it is carried as a
  // 32-bit quantity, so it wraps as the format defines it.
  Element->TableHeader.Length += NvsLength;
  UINT64 Length64 = NvsLength;
  UINT8 *Bytes = reinterpret_cast<UINT8 *>(Buffer);
  CopyMem(Bytes + Kind->FixedLength - sizeof(UINT64), &Length64, sizeof(Length64));
  if (NvsLength != 0) CopyMem(Bytes + Kind->FixedLength, NvsData, NvsLength);
  *Entry = Buffer;
  return EFI_SUCCESS;
}

EFI_STATUS CreateIntegerElementEntry(const VOID *Record, UINTN RecordLength, UINT64 Value,
                                     ACPI_DATA_STORAGE_ENTRY_HEADER **Entry) {
  ACPI_DATA_STORAGE_ENTRY_HEADER *Buffer = nullptr;
  EFI_STATUS Status = AcpiDsCreateElement(&gDsdtIntegerElement, Record, RecordLength, 0, &Buffer);
  if (EFI_ERROR(Status)) return Status;
  auto *Integer = reinterpret_cast<ACPI_DATA_STORAGE_INTEGER *>(Buffer);
  Integer->AcpiDataIntegerType = AcpiDataIntegerTypeDefault;
  Integer->Value = Value;
  *Entry = Buffer;
  return EFI_SUCCESS;
}

bool ReadAcpiDataStorageEntryHeader(const VOID *Payload, UINT32 PayloadLength,
                                    ACPI_DATA_STORAGE_ENTRY_HEADER *Header) {
  // Read into locals: the header is packed, and the caller's copy need not be
  // aligned, so its fields must not be written through UINT32/UINT64 pointers.
  UINT32 Revision = 0, Signature = 0, Length = 0, DataType = 0, SubType = 0, NvsType = 0;
  UINT64 EntrySignature = 0;
  ByteReader Reader(Payload, PayloadLength);
  bool Ok = Reader.Read32(&Revision) && Reader.Read32(&Signature) && Reader.Read32(&Length) &&
            Reader.Read32(&DataType) && Reader.Read32(&SubType) && Reader.Read32(&NvsType) &&
            Reader.Read64(&EntrySignature);
  Header->Revision = Revision;
  Header->AcpiCommonHeader.Signature = Signature;
  Header->AcpiCommonHeader.Length = Length;
  Header->AcpiDataType = DataType;
  Header->AcpiDataSubType = SubType;
  Header->AcpiDataNvsType = NvsType;
  Header->EntrySignature = EntrySignature;
  return Ok && Length == PayloadLength;
}

UINT32 GetAcpiDataStorageElementFixedLength(const ACPI_DATA_STORAGE_ENTRY_HEADER *Header) {
  for (const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind : mElementKinds) {
    if (Header->AcpiDataType == Kind->AcpiDataType && Header->AcpiDataSubType == Kind->AcpiDataSubType &&
        Header->AcpiDataNvsType == Kind->AcpiDataNvsType) {
      return Kind->FixedLength;
    }
  }
  return 0;
}
