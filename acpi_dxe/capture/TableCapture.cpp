// Table capture from the XSDT; see TableCapture.h.
#include "acpi_dxe/capture/TableCapture.h"

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/capture/CaptureMetaData.h"
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

namespace {

constexpr UINT32 kEntryHeaderSize = sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
constexpr UINT32 kDescriptionHeaderSize = sizeof(EFI_ACPI_DESCRIPTION_HEADER);

static_assert(CAPTURE_MAX_ENTRY_SIZE == MAX_CACHE_SIZE, "an entry may fill the write stream, no more");

// Builds the table entry; logs the allocation failure with the entry size.
EFI_STATUS CaptureBuildEntry(const CHAR8 *Caller, UINT32 DataType, const VOID *Table, UINT32 TableLength,
                             ACPI_DATA_STORAGE_ENTRY_HEADER **Entry) {
  const EFI_STATUS Status = CreateAcpiTableEntry(DataType, Table, TableLength, Entry);
  if (Status == EFI_OUT_OF_RESOURCES) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate %x byte buffer\n", Caller,
               TableLength + kEntryHeaderSize);
  }
  return Status;
}

// Entries larger than the write stream can never be saved. Summed in 64 bits: a
// table Length near 4 GiB must not wrap into a small entry.
BOOLEAN CaptureEntryTooLarge(const CHAR8 *Caller, UINT32 TableLength, const CHAR8 *Format) {
  const UINT64 EntrySize = static_cast<UINT64>(TableLength) + kEntryHeaderSize;
  if (EntrySize <= CAPTURE_MAX_ENTRY_SIZE) return FALSE;
  DebugPrint(DEBUG_ERROR, Format, Caller,
             static_cast<UINT32>(EntrySize > MAX_UINT32 ? MAX_UINT32 : EntrySize), CAPTURE_MAX_ENTRY_SIZE);
  return TRUE;
}

// FACS then DSDT, from the FADT's 64-bit pointers or, when those are zero, the
// 32-bit ones.
EFI_STATUS CaptureFadtChildren(const CHAR8 *Caller, const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt) {
  const UINT64 Facs = Fadt->XFirmwareCtrl != 0 ? Fadt->XFirmwareCtrl : Fadt->FirmwareCtrl;
  EFI_STATUS Status = EFI_SUCCESS;
  if (Facs != 0) {
    Status = ProcessFacs(
        reinterpret_cast<const EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE *>(static_cast<UINTN>(Facs)));
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "%a - Unable to process a FACS\n", Caller);
      DebugPrint(DEBUG_ERROR, "%a - ProcessFacs() failed with status of %r\n", Caller, Status);
      return Status;
    }
  } else {
    DebugPrint(DEBUG_WARN,
               "%a - FADT does not have an optional FACS so this must be a hardware reduced platform\n",
               Caller);
  }
  const UINT64 Dsdt = Fadt->XDsdt != 0 ? Fadt->XDsdt : Fadt->Dsdt;
  if (Dsdt == 0) {
    DebugPrint(DEBUG_ERROR, "%a - FADT does not have the required DSDT pointer!\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  Status = ProcessDsdt(reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(Dsdt)));
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to process a DSDT\n", Caller);
    DebugPrint(DEBUG_ERROR, "%a - ProcessDsdt() failed with status of %r\n", Caller, Status);
  }
  return Status;
}

// The first XSDT entry must be an ACPI 6.3 FADT. Its minor version sits at
// offset 131, so a table shorter than 132 bytes is refused for its length before
// that byte is read.
EFI_STATUS CaptureCheckFirstTable(const CHAR8 *Caller, const EFI_ACPI_DESCRIPTION_HEADER *Table) {
  if (Table == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable pointer is NULL\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  if (Table->Signature != EFI_ACPI_FADT_SIGNATURE) {
    DebugPrint(DEBUG_ERROR, "%a - The first ACPI table in the XSDT is not the FADT\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  if (Table->Length < kDescriptionHeaderSize) {
    DebugPrint(DEBUG_ERROR, "%a - The FADT found in the XSDT has an invalid length\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  if (Table->Revision != EFI_ACPI_6_3_FADT_REVISION) {
    DebugPrint(DEBUG_ERROR, "%a - FADT major version is not 6\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  if (Table->Length <= OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, MinorVersion)) {
    DebugPrint(DEBUG_ERROR, "%a - The FADT found in the XSDT has an invalid length\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 MinorVersion =
      reinterpret_cast<const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *>(Table)->MinorVersion;
  if (MinorVersion != EFI_ACPI_6_3_FADT_MINOR_REVISION) {
    DebugPrint(DEBUG_ERROR, "%a - FADT minor version is not 3\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Every XSDT entry after the FADT: SSDTs and other tables by their own rule.
EFI_STATUS CaptureFurtherTables(const CHAR8 *Caller, EFI_ACPI_DESCRIPTION_HEADER *Xsdt, UINT32 Count) {
  EFI_STATUS Status = EFI_SUCCESS;
  for (UINT32 Index = 1; Index < Count;) {
    EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
    const UINT32 ThisIndex = Index;
    Status = GetNextAcpiTable(&Index, Xsdt, &Table);
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "%a - GetNextAcpiTable() returned %r\n", Caller, Status);
      return Status;
    }
    // The walk hands zero entries out as they are; there is no table to read.
    if (Table == nullptr) {
      DebugPrint(DEBUG_ERROR, "%a - XSDT entry %d is zero\n", Caller, ThisIndex);
      return EFI_INVALID_PARAMETER;
    }
    if (Table->Signature == EFI_ACPI_SSDT_SIGNATURE) {
      Status = ProcessSsdt(Table);
      if (EFI_ERROR(Status)) {
        DebugPrint(DEBUG_ERROR, "%a - Unable to process a SSDT\n", Caller);
        DebugPrint(DEBUG_ERROR, "%a - ProcessSsdt() failed with status of %r\n", Caller, Status);
        return Status;
      }
    } else {
      Status = ProcessAcpiDataTables(Table);
      if (EFI_ERROR(Status)) {
        DebugPrint(DEBUG_ERROR, "%a - Unable to process an ACPI data table\n", Caller);
        DebugPrint(DEBUG_ERROR, "%a - ProcessAcpiDataTables() failed with status of %r\n", Caller, Status);
        return Status;
      }
    }
  }
  return Status;
}

// Saves a DSDT or SSDT entry (marked when the meta data installs its body from
// a firmware volume), then the element entries its meta data asks for. Frees
// Entry whatever happens.
EFI_STATUS CaptureSaveTableAndElements(const CHAR8 *Caller, ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                       const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  if (Record != nullptr && Record->AcpiDataSubType == AcpiDataSubTypeFromFv) MarkAcpiTableEntryFromFv(Entry);
  EFI_STATUS Status = SaveBlob(mWriteBlobHandle, Entry, Entry->AcpiCommonHeader.Length);
  if (!EFI_ERROR(Status)) {
    BOOLEAN DoNotStore = FALSE;
    Status = ProcessAcpiMetaData(Entry, Record, &DoNotStore);
    if (EFI_ERROR(Status)) {
      DebugPrint(DEBUG_ERROR, "%a - ProcessAcpiMetaData failed with status of %r\n", Caller, Status);
    }
  }
  FreePool(Entry);
  return Status;
}

}  // namespace

EFI_STATUS ProcessAcpiTablesFromXsdt() {
  static const CHAR8 kName[] = "ProcessAcpiTablesFromXsdt";
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  UINT32 Count = 0;
  EFI_STATUS Status = GetFirstAcpiTable(&Table, &Xsdt, &Count);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Could not get ACPI tables from XSDT %r\n", kName, Status);
    return Status;
  }
  if (Count == 0) {
    DebugPrint(DEBUG_ERROR, "%a - XSDT has no entries\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  Status = CaptureCheckFirstTable(kName, Table);
  if (EFI_ERROR(Status)) return Status;
  Status = ProcessFadt(reinterpret_cast<const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *>(Table));
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - ProcessFadt() failed with status of %r\n", kName, Status);
    return Status;
  }
  return CaptureFurtherTables(kName, Xsdt, Count);
}

EFI_STATUS ProcessFadt(const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *Fadt) {
  static const CHAR8 kName[] = "ProcessFadt";
  DebugPrint(DEBUG_INFO, "ProcessFadt() Entry.\n");
  if (Fadt->Header.Length != EFI_ACPI_6_3_FADT_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - FadtPtr->Header.Length != FADT table length\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EFI_STATUS Status = CaptureBuildEntry(kName, AcpiDataTypeFadt, Fadt, EFI_ACPI_6_3_FADT_LENGTH, &Entry);
  if (EFI_ERROR(Status)) return Status;
  Status = SaveBlob(mWriteBlobHandle, Entry, Entry->AcpiCommonHeader.Length);
  if (!EFI_ERROR(Status)) Status = CaptureFadtChildren(kName, Fadt);
  FreePool(Entry);
  return Status;
}

EFI_STATUS ProcessFacs(const EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE *Facs) {
  static const CHAR8 kName[] = "ProcessFacs";
  DebugPrint(DEBUG_INFO, "ProcessFacs() Entry.\n");
  if (Facs->Length != EFI_ACPI_FACS_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - FacsPtr->Length != FACS table length\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EFI_STATUS Status = CaptureBuildEntry(kName, AcpiDataTypeFacs, Facs, EFI_ACPI_FACS_LENGTH, &Entry);
  if (EFI_ERROR(Status)) return Status;
  Status = SaveBlob(mWriteBlobHandle, Entry, Entry->AcpiCommonHeader.Length);
  FreePool(Entry);
  return Status;
}

EFI_STATUS ProcessDsdt(const EFI_ACPI_DESCRIPTION_HEADER *Dsdt) {
  static const CHAR8 kName[] = "ProcessDsdt";
  DebugPrint(DEBUG_INFO, "ProcessDsdt() Entry.\n");
  if (Dsdt->Length < CAPTURE_MIN_DEFINITION_BLOCK_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - DsdtPtr->Length < ACPI table header length\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindDsdtTableMetaDataPtr(Dsdt, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_INFO, "%a - Not storing ACPI table %c%c%c%c\n", kName,
               ACPI_SIGNATURE_CHARS(Dsdt->Signature));
    return EFI_SUCCESS;
  }
  if (CaptureEntryTooLarge(kName, Dsdt->Length, "%a - Buffer of %x bytes > %x \n"))
    return EFI_OUT_OF_RESOURCES;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EFI_STATUS Status = CaptureBuildEntry(kName, AcpiDataTypeDsdt, Dsdt, Dsdt->Length, &Entry);
  if (EFI_ERROR(Status)) return Status;
  return CaptureSaveTableAndElements(kName, Entry, Record);
}

EFI_STATUS ProcessAcpiDataTables(const EFI_ACPI_DESCRIPTION_HEADER *AcpiTable) {
  static const CHAR8 kName[] = "ProcessAcpiDataTables";
  DebugPrint(DEBUG_INFO, "ProcessAcpiDataTables() Entry.\n");
  if (AcpiTable->Length < CAPTURE_MIN_DATA_TABLE_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable->Length < ACPI common header length\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindMetaDataPtr(AcpiTable, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_INFO, "%a - Not storing ACPI table %c%c%c%c\n", kName,
               ACPI_SIGNATURE_CHARS(AcpiTable->Signature));
    return EFI_SUCCESS;
  }
  if (CaptureEntryTooLarge(kName, AcpiTable->Length, "%a - Buffer of %x bytes > %x \n"))
    return EFI_OUT_OF_RESOURCES;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EFI_STATUS Status =
      CaptureBuildEntry(kName, AcpiDataTypeAcpiDataTables, AcpiTable, AcpiTable->Length, &Entry);
  if (EFI_ERROR(Status)) return Status;
  Status = ProcessAcpiMetaData(Entry, Record, &DoNotStore);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - ProcessAcpiMetaData failed with status of %r\n", kName, Status);
  } else {
    Status = SaveBlob(mWriteBlobHandle, Entry, Entry->AcpiCommonHeader.Length);
  }
  FreePool(Entry);
  return Status;
}

EFI_STATUS ProcessSsdt(const EFI_ACPI_DESCRIPTION_HEADER *AcpiTable) {
  static const CHAR8 kName[] = "ProcessSsdt";
  DebugPrint(DEBUG_INFO, "ProcessSsdt() Entry.\n");
  if (AcpiTable->Length < CAPTURE_MIN_DEFINITION_BLOCK_LENGTH) {
    DebugPrint(DEBUG_ERROR, "%a - AcpiTable.Length < ACPI header length\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DoNotStore = FALSE;
  const ACPI_DATA_STORAGE_ENTRY_HEADER *Record = FindSsdtTableMetaDataPtr(AcpiTable, &DoNotStore);
  if (DoNotStore) {
    DebugPrint(DEBUG_INFO, "%a - Not storing ACPI SSDT table with OemTableId %c%c%c%c%c%c%c%c\n", kName,
               ACPI_OEM_TABLE_ID_CHARS(AcpiTable->OemTableId));
    return EFI_SUCCESS;
  }
  if (CaptureEntryTooLarge(kName, AcpiTable->Length, "%a - Buffer of %x bytes > %x max buffer size \n")) {
    return EFI_OUT_OF_RESOURCES;
  }
  ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
  EFI_STATUS Status = CaptureBuildEntry(kName, AcpiDataTypeSsdt, AcpiTable, AcpiTable->Length, &Entry);
  if (EFI_ERROR(Status)) return Status;
  return CaptureSaveTableAndElements(kName, Entry, Record);
}
