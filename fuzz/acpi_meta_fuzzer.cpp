// The ACPI meta data lookups over arbitrary bytes as meta data. The bytes sit in
// a buffer of exactly their size, so any read past the meta data is caught. The
// first 12 bytes name the table looked up (signature and OemTableId); an integer
// entry for the DSDT integer lookup is taken from the input as well.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acpi_dxe/capture/AcpiMetaData.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "uefi/Acpi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 12 || Size > 0x40000) return 0;
  EFI_ACPI_DESCRIPTION_HEADER Table = {};
  std::memcpy(&Table.Signature, Data, 4);
  std::memcpy(&Table.OemTableId, Data + 4, 8);
  std::vector<UINT8> Meta(Data + 12, Data + Size);
  mAcpiMetaDataPtr = Meta.data();
  mAcpiMetaDataLength = Meta.size();

  BOOLEAN DoNotStore = FALSE;
  ACPI_DATA_STORAGE_ENTRY_HEADER *Found[3] = {FindMetaDataPtr(&Table, &DoNotStore),
                                              FindDsdtTableMetaDataPtr(&Table, &DoNotStore),
                                              FindSsdtTableMetaDataPtr(&Table, &DoNotStore)};
  for (ACPI_DATA_STORAGE_ENTRY_HEADER *Record : Found) {
    if (Record != nullptr && (reinterpret_cast<UINT8 *>(Record) < Meta.data() ||
                              reinterpret_cast<UINT8 *>(Record) + 32 > Meta.data() + Meta.size())) {
      __builtin_trap();
    }
  }
  // An integer entry: the first 216 bytes of the meta data (or zeros), with a
  // Length that makes it one.
  std::vector<UINT8> Entry(216, 0);
  if (!Meta.empty())
    std::memcpy(Entry.data(), Meta.data(), Meta.size() < Entry.size() ? Meta.size() : Entry.size());
  UINT32 Length = 216;
  std::memcpy(Entry.data() + 8, &Length, 4);
  Table.Signature = SIGNATURE_32('D', 'S', 'D', 'T');
  FindDsdtIntegerMetaDataPtr(&Table, reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data()));

  // The walk every reader shares: records end to end until one does not fit.
  ACPI_META_DATA_CURSOR Cursor = {};
  AcpiMetaDataFirstRecord(&Cursor);
  while (AcpiMetaDataRecordAt(&Cursor, ACPI_META_DATA_MIN_RECORD_SIZE) != nullptr) {
    AcpiMetaDataRecordFits(&Cursor);
    if (!AcpiMetaDataNextRecord("Fuzz", &Cursor)) break;
  }
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
  return 0;
}
