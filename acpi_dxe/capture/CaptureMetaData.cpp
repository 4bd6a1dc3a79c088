// The passes over the meta data that pick the element records of one DSDT or
// SSDT and hand each to its recorder (CaptureElements.cpp). Every record is read
// only after the walk has shown that its kind's fixed part, and then its whole
// Length, lie inside the meta data.
#include "acpi_dxe/capture/CaptureMetaData.h"

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

namespace {

constexpr UINT32 kNvsDefaultFixed = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINT32 kNvsType1Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1);
constexpr UINT32 kNvsType2Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);
constexpr UINT32 kIntegerFixed = sizeof(ACPI_DATA_STORAGE_INTEGER);

// A locator's PathName as a string that is certainly terminated: the meta data
// promises a NUL inside the 66 bytes, but "%a" must not run on when it lies.
struct CapturePath {
  CHAR8 Text[AML_OBJECT_PATH_NAME_SIZE + 1];
};

CapturePath CapturePathOf(const AML_OBJECT_LOCATOR *Locator) {
  CapturePath Path = {};
  CopyMem(Path.Text, Locator->PathName, AML_OBJECT_PATH_NAME_SIZE);
  return Path;
}

const ACPI_DATA_STORAGE_ELEMENT *CaptureElementOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Record);
}

BOOLEAN CaptureIs(const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 Signature, UINT32 SubType) {
  return (Record->AcpiCommonHeader.Signature == Signature && Record->AcpiDataSubType == SubType) ? TRUE
                                                                                                 : FALSE;
}

// A record shorter than its kind, or running past the meta data, ends the pass
// it is found in; the caller returns the status so far.
BOOLEAN CaptureRecordUsable(const CHAR8 *Caller, const ACPI_META_DATA_CURSOR *Cursor,
                            const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, UINT32 MinLength,
                            const CHAR8 *TooShort) {
  if (Record->AcpiCommonHeader.Length < MinLength) {
    DebugPrint(DEBUG_ERROR, TooShort, Caller, Record->AcpiCommonHeader.Length);
    return FALSE;
  }
  if (!AcpiMetaDataRecordFits(Cursor)) {
    DebugPrint(DEBUG_ERROR, "%a - Attempt to access past end of meta data %x\n", Caller,
               static_cast<UINT32>(reinterpret_cast<UINTN>(Record)));
    return FALSE;
  }
  return TRUE;
}

// One DSDT NVS element record, dispatched on its NvsType.
EFI_STATUS CaptureDsdtNvsRecord(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const CapturePath Path = CapturePathOf(&CaptureElementOf(Record)->Locator);
  DebugPrint(DEBUG_INFO, "%a - Found meta data for DSDT NVS OPREGION %a\n", Caller, Path.Text);
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Record->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      Status = ProcessDsdtNvsOnCustomPath(Record, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to process a DSDT NVS\n", Caller);
      return Status;
    case AcpiDataNvsType1:
      DebugPrint(DEBUG_ERROR, "%a - Type 1 DSDT NVS not presently supported\n", Caller);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType2:
      Status = ProcessDsdtNvsType2OnCustomPath(Record, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to process a DSDT NVS Type 2\n", Caller);
      return Status;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for DSDT NVS\n", Caller,
                 Record->AcpiDataNvsType);
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS CaptureDsdtNvsPass(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  ACPI_META_DATA_CURSOR Cursor;
  if (!AcpiMetaDataFirstRecord(&Cursor)) return EFI_SUCCESS;
  for (const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, kNvsDefaultFixed);
       Record != nullptr; Record = AcpiMetaDataRecordAt(&Cursor, kNvsDefaultFixed)) {
    if (CaptureIs(Record, EFI_ACPI_DSDT_SIGNATURE, AcpiDataSubTypeNvs)) {
      const UINT32 MinLength =
          Record->AcpiDataNvsType == AcpiDataNvsType2 ? kNvsType2Fixed : kNvsDefaultFixed;
      if (!CaptureRecordUsable(Caller, &Cursor, Record, MinLength,
                               "%a - Meta data entry length of %x is too short for DSDT NVS\n")) {
        return EFI_SUCCESS;
      }
      const EFI_STATUS Status = CaptureDsdtNvsRecord(Caller, Record, Entry);
      if (EFI_ERROR(Status)) return Status;
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) break;
  }
  return EFI_SUCCESS;
}

EFI_STATUS CaptureDsdtIntegerRecord(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                    const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const ACPI_DATA_STORAGE_INTEGER *Integer = reinterpret_cast<const ACPI_DATA_STORAGE_INTEGER *>(Record);
  const CapturePath Path = CapturePathOf(&Integer->Common.Locator);
  DebugPrint(DEBUG_INFO, "%a - Found meta data for DSDT integer value %a\n", Caller, Path.Text);
  switch (Integer->AcpiDataIntegerType) {
    case AcpiDataIntegerTypeStored:
    case AcpiDataIntegerTypeDefault:
    case AcpiDataIntegerTypeVariable: {
      const EFI_STATUS Status = ProcessDsdtIntValueOnCustomPath(Record, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to process a DSDT integer value\n", Caller);
      return Status;
    }
    case AcpiDataIntegerTypeNotStored:
      DebugPrint(DEBUG_INFO, "%a - Not storing the patchable DSDT integer value\n", Caller);
      return EFI_SUCCESS;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataIntegerType: %x for DSDT integer value\n", Caller,
                 Integer->AcpiDataIntegerType);
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS CaptureDsdtIntegerPass(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  ACPI_META_DATA_CURSOR Cursor;
  if (!AcpiMetaDataFirstRecord(&Cursor)) return EFI_SUCCESS;
  for (const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, kIntegerFixed);
       Record != nullptr; Record = AcpiMetaDataRecordAt(&Cursor, kIntegerFixed)) {
    if (CaptureIs(Record, EFI_ACPI_DSDT_SIGNATURE, AcpiDataSubTypeInteger)) {
      if (!CaptureRecordUsable(Caller, &Cursor, Record, kIntegerFixed,
                               "%a - Meta data entry length of %x is too short for DSDT integer value\n")) {
        return EFI_SUCCESS;
      }
      const EFI_STATUS Status = CaptureDsdtIntegerRecord(Caller, Record, Entry);
      if (EFI_ERROR(Status)) return Status;
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) break;
  }
  return EFI_SUCCESS;
}

VOID CaptureLogOemTableId(const CHAR8 *Caller, UINT64 OemTableId) {
  DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT OemTableId %c%c%c%c%c%c%c%c\n", Caller,
             ACPI_OEM_TABLE_ID_CHARS(OemTableId));
}

EFI_STATUS CaptureSsdtNvsRecord(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const ACPI_DATA_STORAGE_ELEMENT *Element = CaptureElementOf(Record);
  const CapturePath Path = CapturePathOf(&Element->Locator);
  CaptureLogOemTableId(Caller, Element->TableHeader.OemTableId);
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Record->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION %a\n", Caller, Path.Text);
      Status = ProcessSsdtNvsOnCustomPath(Record, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to process a SSDT NVS\n", Caller);
      return Status;
    case AcpiDataNvsType1: {
      const CapturePath LengthPath =
          CapturePathOf(&reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_1 *>(Record)->LengthLocator);
      DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION address %a\n", Caller, Path.Text);
      DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION length  %a\n", Caller,
                 LengthPath.Text);
      Status = ProcessSsdtNvsType1OnCustomPath(Record, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to process a SSDT NVS Type 1\n", Caller);
      return Status;
    }
    case AcpiDataNvsType2:
      DebugPrint(DEBUG_ERROR, "%a - Type 2 SSDT NVS not presently supported\n", Caller);
      return EFI_INVALID_PARAMETER;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for SSDT NVS\n", Caller,
                 Record->AcpiDataNvsType);
      DebugPrint(DEBUG_INFO, "%a -   SSDT NVS path name is %a\n", Caller, Path.Text);
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS CaptureSsdtNonNvsRecord(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Record,
                                   const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const ACPI_DATA_STORAGE_ELEMENT *Element = CaptureElementOf(Record);
  const CapturePath Path = CapturePathOf(&Element->Locator);
  CaptureLogOemTableId(Caller, Element->TableHeader.OemTableId);
  DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NON-NVS OPREGION type 2 %a\n", Caller, Path.Text);
  switch (Record->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      DebugPrint(DEBUG_ERROR, "%a - Default SSDT NON-NVS not presently supported\n", Caller);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType1:
      DebugPrint(DEBUG_ERROR, "%a - Type 1 SSDT NON-NVS not presently supported\n", Caller);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType2: {
      const EFI_STATUS Status = ProcessSsdtNonNvsType2OnCustomPath(Record, Entry);
      if (EFI_ERROR(Status))
        DebugPrint(DEBUG_ERROR, "%a - Unable to process a SSDT NON-NVS Type 2\n", Caller);
      return Status;
    }
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for SSDT NON-NVS\n", Caller,
                 Record->AcpiDataNvsType);
      return EFI_INVALID_PARAMETER;
  }
}

// NVS and NON-NVS records of this SSDT (by OemTableId), in meta data order.
EFI_STATUS CaptureSsdtNvsPass(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  const UINT64 OemTableId = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Entry + 1)->OemTableId;
  ACPI_META_DATA_CURSOR Cursor;
  if (!AcpiMetaDataFirstRecord(&Cursor)) return EFI_SUCCESS;
  for (const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, kNvsDefaultFixed);
       Record != nullptr; Record = AcpiMetaDataRecordAt(&Cursor, kNvsDefaultFixed)) {
    const BOOLEAN IsNvs = CaptureIs(Record, EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeNvs);
    const BOOLEAN IsNonNvs = CaptureIs(Record, EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeNonNvs);
    if (IsNvs || IsNonNvs) {
      UINT32 MinLength = kNvsDefaultFixed;
      if (IsNvs && Record->AcpiDataNvsType == AcpiDataNvsType1) MinLength = kNvsType1Fixed;
      if (IsNonNvs && Record->AcpiDataNvsType == AcpiDataNvsType2) MinLength = kNvsType2Fixed;
      if (!CaptureRecordUsable(Caller, &Cursor, Record, MinLength,
                               IsNvs ? "%a - Meta data entry length of %x is too short for SSDT NVS\n"
                                     : "%a - Meta data entry length of %x is too short for SSDT NON-NVS\n")) {
        return EFI_SUCCESS;
      }
      if (CaptureElementOf(Record)->TableHeader.OemTableId == OemTableId) {
        const EFI_STATUS Status = IsNvs ? CaptureSsdtNvsRecord(Caller, Record, Entry)
                                        : CaptureSsdtNonNvsRecord(Caller, Record, Entry);
        if (EFI_ERROR(Status)) return Status;
      }
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) break;
  }
  return EFI_SUCCESS;
}

// SSDT integers cannot be captured: the first such record, for any SSDT, fails
// the capture of every SSDT that has a table record.
EFI_STATUS CaptureSsdtIntegerPass(const CHAR8 *Caller) {
  ACPI_META_DATA_CURSOR Cursor;
  if (!AcpiMetaDataFirstRecord(&Cursor)) return EFI_SUCCESS;
  for (const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = AcpiMetaDataRecordAt(&Cursor, kIntegerFixed);
       Record != nullptr; Record = AcpiMetaDataRecordAt(&Cursor, kIntegerFixed)) {
    if (CaptureIs(Record, EFI_ACPI_SSDT_SIGNATURE, AcpiDataSubTypeInteger)) {
      if (!CaptureRecordUsable(Caller, &Cursor, Record, kIntegerFixed,
                               "%a - Meta data entry length of %x is too short for SSDT integer value\n")) {
        return EFI_SUCCESS;
      }
      const CapturePath Path = CapturePathOf(&CaptureElementOf(Record)->Locator);
      DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT integer value %a\n", Caller, Path.Text);
      DebugPrint(DEBUG_ERROR, "%a - SSDT integer patching is not presently supported\n", Caller);
      return EFI_INVALID_PARAMETER;
    }
    if (!AcpiMetaDataNextRecord(Caller, &Cursor)) break;
  }
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS ProcessDsdtOnCustomPath(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                   const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore) {
  static const CHAR8 kName[] = "ProcessDsdtOnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessDsdtOnCustomPath() Entry.\n");
  if (DoNotStore != nullptr) *DoNotStore = FALSE;
  // Without a table record the DSDT's elements are not recorded at all.
  if (Record == nullptr) return EFI_SUCCESS;
  EFI_STATUS Status = CaptureDsdtNvsPass(kName, Entry);
  if (!EFI_ERROR(Status)) Status = CaptureDsdtIntegerPass(kName, Entry);
  return Status;
}

EFI_STATUS ProcessSsdtOnCustomPath(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                   const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore) {
  static const CHAR8 kName[] = "ProcessSsdtOnCustomPath";
  DebugPrint(DEBUG_INFO, "ProcessSsdtOnCustomPath() Entry.\n");
  if (DoNotStore != nullptr) *DoNotStore = FALSE;
  if (Record == nullptr) return EFI_SUCCESS;
  EFI_STATUS Status = CaptureSsdtNvsPass(kName, Entry);
  if (!EFI_ERROR(Status)) Status = CaptureSsdtIntegerPass(kName);
  return Status;
}

EFI_STATUS ProcessAcpiMetaData(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                               const ACPI_DATA_STORAGE_ENTRY_HEADER *Record, BOOLEAN *DoNotStore) {
  static const CHAR8 kName[] = "ProcessAcpiMetaData";
  if (DoNotStore == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - DoNotStore is NULL\n", kName);
    return EFI_SUCCESS;
  }
  *DoNotStore = FALSE;
  if (Entry == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Error, Header is NULL.\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  if (mBootPath == BOOT_PATH_CERTIFIED) return EFI_SUCCESS;
  if (mBootPath != BOOT_PATH_CUSTOM) {
    DebugPrint(DEBUG_ERROR, "%a - mBootPath of %d is invalid\n", kName, mBootPath);
    return EFI_INVALID_PARAMETER;
  }
  switch (Entry->AcpiDataType) {
    case AcpiDataTypeDsdt:
      return ProcessDsdtOnCustomPath(Entry, Record, DoNotStore);
    case AcpiDataTypeSsdt:
      return ProcessSsdtOnCustomPath(Entry, Record, DoNotStore);
    case AcpiDataTypeAcpiDataTables:
      if (Record == nullptr) {
        DebugPrint(DEBUG_INFO, "%a - By default save ACPI data table = %c%c%c%c\n", kName,
                   ACPI_SIGNATURE_CHARS(Entry->AcpiCommonHeader.Signature));
      }
      return EFI_SUCCESS;
    default:
      return EFI_SUCCESS;
  }
}
