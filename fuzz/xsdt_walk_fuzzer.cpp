// The XSDT walk over an arbitrary XSDT: the first input byte is the RSDP's
// revision, the rest the XSDT, whose Length field is forced to the bytes present
// (the walk trusts the platform's root table for its own Length, nothing more).
// Entries are only handed out, never followed, so any values are safe.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/DxeServices.h"
#include "uefi/UefiSpec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1 + 8 || Size > (1u << 16)) return 0;
  std::vector<UINT8> Xsdt(Data + 1, Data + Size);
  const UINT32 Length = static_cast<UINT32>(Xsdt.size());
  memcpy(Xsdt.data() + 4, &Length, sizeof(Length));

  EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER Rsdp = {};
  Rsdp.Revision = Data[0];
  Rsdp.XsdtAddress = reinterpret_cast<UINTN>(Xsdt.data());
  EFI_CONFIGURATION_TABLE Config = {gEfiAcpi20TableGuid, &Rsdp};
  EFI_SYSTEM_TABLE System = {};
  System.NumberOfTableEntries = 1;
  System.ConfigurationTable = &Config;
  gST = &System;  // no boot services: debug output is formatted and dropped

  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Root = nullptr;
  UINT32 Count = 0;
  if (!EFI_ERROR(GetFirstAcpiTable(&Table, &Root, &Count))) {
    for (UINT32 Index = 1; Index < Count;) {
      if (EFI_ERROR(GetNextAcpiTable(&Index, Root, &Table)))
        __builtin_trap();  // every index below Count is valid
    }
    UINT32 Past = Count;
    if (Count != 0 && !EFI_ERROR(GetNextAcpiTable(&Past, Root, &Table))) __builtin_trap();
  }
  DebugDumpAllTables();
  DumpNvsHex("[Fuzz]", Xsdt.data(), Xsdt.size() < 64 ? Xsdt.size() : 64);
  gST = nullptr;
  return 0;
}
