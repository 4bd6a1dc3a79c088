// The six element recorders of the custom path: each reads one value (or one
// region) named by an element record, builds the element entry and saves it.
// Every entry buffer is freed after SaveBlob, whatever it returned.
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/capture/CaptureMetaData.h"
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

namespace {

// The table copy inside a table entry.
const UINT8 *CaptureEntryTable(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  return reinterpret_cast<const UINT8 *>(Entry + 1);
}

const ACPI_DATA_STORAGE_ELEMENT *CaptureElement(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Record);
}

// Logs "<Label> = XXXX" with the NameSeg the locator names; '?' for bytes outside
// the table (the primitive that follows refuses such a locator with its reason).
VOID CaptureLogNameSeg(const CHAR8 *Format, const CHAR8 *Caller, const UINT8 *Table, UINT32 NameOffset) {
  UINTN Chars[AML_NAME_SEG_SIZE] = {'?', '?', '?', '?'};
  UINT64 Seg = 0;
  if (AmlReadTableInteger(Table, NameOffset, AML_NAME_SEG_SIZE, &Seg)) {
    for (UINTN Index = 0; Index < AML_NAME_SEG_SIZE; Index++) Chars[Index] = (Seg >> (8 * Index)) & 0xFF;
  }
  DebugPrint(DEBUG_INFO, Format, Caller, Chars[0], Chars[1], Chars[2], Chars[3]);
}

// The region must be addressable and its element must fit the write stream:
// an entry that SaveBlob would refuse is refused here, before a byte of the
// region is read or a 4 GiB buffer is asked for. This also keeps the 32-bit
// entry Length from wrapping.
EFI_STATUS CaptureCheckRegion(const CHAR8 *Caller, UINT64 Address, UINT64 Length, UINT32 FixedLength) {
  const UINT64 Room = MAX_CACHE_SIZE - sizeof(BLOB_HEADER) - FixedLength;
  if (Length > Room) {
    DebugPrint(DEBUG_ERROR, "%a - NVS length 0x%lx does not fit in the 0x%x byte ACPI data cache\n", Caller,
               Length, MAX_CACHE_SIZE);
    return EFI_OUT_OF_RESOURCES;
  }
  if (Length != 0 && (Address == 0 || Address > MAX_UINTN - Length)) {
    DebugPrint(DEBUG_ERROR, "%a - NVS region at 0x%lx of 0x%lx bytes cannot be read\n", Caller, Address,
               Length);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Builds, (optionally) dumps and saves the element of Kind for the region
// [Address, Address + Length), which CaptureCheckRegion has accepted.
EFI_STATUS CaptureSaveNvsElement(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind,
                                 const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT64 Address, UINT64 Length,
                                 BOOLEAN DumpContents) {
  const UINT32 NvsLength = static_cast<UINT32>(Length);
  const VOID *Region = reinterpret_cast<const VOID *>(static_cast<UINTN>(Address));
  ACPI_DATA_STORAGE_ENTRY_HEADER *Element = nullptr;
  EFI_STATUS Status =
      CreateNvsElementEntry(Kind, Record, Record->AcpiCommonHeader.Length, Region, NvsLength, &Element);
  if (EFI_ERROR(Status)) {
    if (Status == EFI_OUT_OF_RESOURCES) {
      DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x byte buffer\n", Caller,
                 Kind->FixedLength + NvsLength);
    }
    return Status;
  }
  if (DumpContents) {
    DebugPrint(DEBUG_INFO, "%a - NVS data:\n", Caller);
    DumpNvsHex("[Saved NVS]", Region, NvsLength);
  }
  Status = SaveBlob(mWriteBlobHandle, Element, Element->AcpiCommonHeader.Length);
  FreePool(Element);
  return Status;
}

// The default kind: address and length are the DefOpRegion's own terms.
EFI_STATUS CaptureDefaultNvs(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind,
                             const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                             const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry, BOOLEAN DumpContents) {
  const UINT8 *Table = CaptureEntryTable(Entry);
  const AML_OBJECT_LOCATOR *Locator = &CaptureElement(Record)->Locator;
  CaptureLogNameSeg("%a - NvsName      = %c%c%c%c\n", Caller, Table, Locator->NameOffset);
  DebugPrint(DEBUG_INFO, "%a - NvsOffset    = %x\n", Caller, Locator->ValueOffset);
  UINT64 Address = 0, Length = 0;
  EFI_STATUS Status = ExtractOpRegionAddressAndLengthFromAml(Table, Locator, &Address, &Length);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS address and length from opregion\n", Caller);
    return Status;
  }
  DebugPrint(DEBUG_INFO, "%a - NVS address  = %x\n", Caller, static_cast<UINT32>(Address));
  DebugPrint(DEBUG_INFO, "%a - NvsLength    = %x\n", Caller, static_cast<UINT32>(Length));
  DebugPrint(DEBUG_INFO, "%a - BufferSize   = %x\n", Caller, static_cast<UINT32>(Kind->FixedLength + Length));
  Status = CaptureCheckRegion(Caller, Address, Length, Kind->FixedLength);
  if (EFI_ERROR(Status)) return Status;
  return CaptureSaveNvsElement(Caller, Kind, Record, Address, Length, DumpContents);
}

// Type 2: the region's address and length are two fields of a parent region,
// which a DefOpRegion of the table locates.
EFI_STATUS CaptureType2(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind,
                        const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                        const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const ACPI_DATA_STORAGE_NVS_TYPE_2 *Type2 = reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_2 *>(Record);
  const AML_OBJECT_LOCATOR Locator = Type2->Common.Locator;
  UINT64 ParentAddress = 0, ParentLength = 0;
  EFI_STATUS Status = ExtractOpRegionAddressAndLengthFromAml(CaptureEntryTable(Entry), &Locator,
                                                             &ParentAddress, &ParentLength);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS address and length from parent opregion\n", Caller);
    return Status;
  }
  const TYPE_2_NVS_FIELD AddressField = Type2->AddressField;
  const TYPE_2_NVS_LENGTH_FIELD LengthField = Type2->LengthField;
  UINT64 Address = 0, Length = 0;
  UINT8 Size = 0;
  Status = ExtractType2NvsValue(ParentAddress, ParentLength, AddressField.Mode, AddressField.SizeIndicator,
                                AddressField.Offset, &Address, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS address from parent opregion\n", Caller);
    return Status;
  }
  Status = ExtractType2NvsValue(ParentAddress, ParentLength, LengthField.Mode, LengthField.SizeIndicator,
                                LengthField.Offset, &Length, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS length from parent opregion\n", Caller);
    return Status;
  }
  DebugPrint(DEBUG_INFO, "%a - BufferSize   = %x\n", Caller, static_cast<UINT32>(Kind->FixedLength + Length));
  Status = CaptureCheckRegion(Caller, Address, Length, Kind->FixedLength);
  if (EFI_ERROR(Status)) return Status;
  return CaptureSaveNvsElement(Caller, Kind, Record, Address, Length, FALSE);
}

}  // namespace

EFI_STATUS ProcessDsdtNvsOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                      const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  DebugPrint(DEBUG_INFO, "ProcessDsdtNvsOnCustomPath() Entry.\n");
  return CaptureDefaultNvs("ProcessDsdtNvsOnCustomPath", &gDsdtNvsDefaultElement, Record, Entry, TRUE);
}

EFI_STATUS ProcessSsdtNvsOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                      const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  DebugPrint(DEBUG_INFO, "ProcessSsdtNvsOnCustomPath() Entry.\n");
  return CaptureDefaultNvs("ProcessSsdtNvsOnCustomPath", &gSsdtNvsDefaultElement, Record, Entry, FALSE);
}

EFI_STATUS ProcessSsdtNvsType1OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessSsdtNvsType1OnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessSsdtNvsType1OnCustomPath() Entry.\n");
  const ACPI_DATA_STORAGE_NVS_TYPE_1 *Type1 = reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_1 *>(Record);
  const AML_OBJECT_LOCATOR AddressLocator = Type1->Common.Locator;
  const AML_OBJECT_LOCATOR LengthLocator = Type1->LengthLocator;
  UINT64 Address = 0, Length = 0;
  UINT8 Size = 0;
  EFI_STATUS Status =
      ExtractNumericConstantFromAml(CaptureEntryTable(Entry), &AddressLocator, &Address, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS address from AML\n", kName);
    return Status;
  }
  Status = ExtractNumericConstantFromAml(CaptureEntryTable(Entry), &LengthLocator, &Length, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS length from AML\n", kName);
    return Status;
  }
  DebugPrint(DEBUG_INFO, "%a - BufferSize   = %x\n", kName,
             static_cast<UINT32>(gSsdtNvsType1Element.FixedLength + Length));
  Status = CaptureCheckRegion(kName, Address, Length, gSsdtNvsType1Element.FixedLength);
  if (EFI_ERROR(Status)) return Status;
  return CaptureSaveNvsElement(kName, &gSsdtNvsType1Element, Record, Address, Length, FALSE);
}

EFI_STATUS ProcessDsdtNvsType2OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessDsdtNvsType2OnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessDsdtNvsType2OnCustomPath() Entry.\n");
  DebugPrint(DEBUG_INFO,
             "%a - NVS type 2 store the system memory address and length in another NVS region's fields\n",
             kName);
  return CaptureType2(kName, &gDsdtNvsType2Element, Record, Entry);
}

EFI_STATUS ProcessSsdtNonNvsType2OnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                              const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessSsdtNonNvsType2OnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessSsdtNonNvsType2OnCustomPath() Entry.\n");
  DebugPrint(
      DEBUG_INFO,
      "%a - NON-NVS type 2 store the system memory address and length in another NVS region's fields\n",
      kName);
  return CaptureType2(kName, &gSsdtNonNvsType2Element, Record, Entry);
}

EFI_STATUS ProcessDsdtIntValueOnCustomPath(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                           const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessDsdtIntValueOnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessDsdtIntValueOnCustomPath() Entry.\n");
  const AML_OBJECT_LOCATOR Locator = CaptureElement(Record)->Locator;
  CaptureLogNameSeg("%a - IntName      = %c%c%c%c\n", kName, CaptureEntryTable(Entry), Locator.NameOffset);
  DebugPrint(DEBUG_INFO, "%a - IntOffset    = %x\n", kName, Locator.ValueOffset);
  UINT64 Value = 0;
  UINT8 Size = 0;
  EFI_STATUS Status = ExtractNumericConstantFromAml(CaptureEntryTable(Entry), &Locator, &Value, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get integer value and the value's size\n", kName);
    return Status;
  }
  DebugPrint(DEBUG_INFO, "%a - Integer value = %x\n", kName, static_cast<UINT32>(Value));
  DebugPrint(DEBUG_INFO, "%a - Size of value = %x\n", kName, Size);
  ACPI_DATA_STORAGE_ENTRY_HEADER *Element = nullptr;
  Status = CreateIntegerElementEntry(Record, Record->AcpiCommonHeader.Length, Value, &Element);
  if (EFI_ERROR(Status)) {
    if (Status == EFI_OUT_OF_RESOURCES) {
      DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x byte buffer\n", kName,
                 gDsdtIntegerElement.FixedLength);
    }
    return Status;
  }
  Status = SaveBlob(mWriteBlobHandle, Element, Element->AcpiCommonHeader.Length);
  FreePool(Element);
  return Status;
}
