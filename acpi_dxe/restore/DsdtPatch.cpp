// DSDT NVS and integer patching on the certified path. See DsdtPatch.h.
#include "acpi_dxe/restore/DsdtPatch.h"

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoredRegion.h"

namespace {

constexpr UINT32 kNvsDefaultFixed = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINT32 kNvsType2Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);
constexpr UINT32 kIntegerFixed = sizeof(ACPI_DATA_STORAGE_INTEGER);
constexpr UINTN kVariableNameChars = 16;
// A variable of more bytes cannot be an AML integer (QWordPrefix at most).
constexpr UINTN kMaxIntegerVariableSize = sizeof(UINT64);

constexpr OPREGION_PATCH_MESSAGES kDsdtOpRegionMessages = {
    "%a - Unrecognized opcode 0x%x in patching DSDT with NvsAddres 0x%p\n",
    "%a - Unrecognized opcode 0x%x in patching DSDT with NVS length 0x%x\n",
    "%a - Address of NVS region (0x%p, length 0x%x) patched into DSDT table\n",
};

constexpr TYPE_2_PATCH_MESSAGES kDsdtType2Messages = {
    "%a - Failed to set NVS address in parent opregion\n",
    "%a - Failed to set NVS length in parent opregion\n",
};

const ACPI_DATA_STORAGE_ELEMENT *ElementOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Entry);
}

const ACPI_DATA_STORAGE_INTEGER *IntegerOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_INTEGER *>(Entry);
}

EFI_STATUS PatchDsdtNvsDefault(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "PatchDsdtNVS";
  DebugPrint(DEBUG_ERROR, "%a - DSDT NVS default processing\n", kName);
  UINT32 NvsLength = 0;
  const UINT8 *Saved = nullptr;
  EFI_STATUS Status = GetRestoredRegionData(kName, Entry, kNvsDefaultFixed, &NvsLength, &Saved);
  if (EFI_ERROR(Status)) return Status;
  EFI_PHYSICAL_ADDRESS Address = 0;
  Status = CreateRestoredRegion(kName, "%a - Unable to allocate 0x%x byte buffer\n", EfiACPIMemoryNVS, Saved,
                                NvsLength, &Address);
  if (EFI_ERROR(Status)) return Status;
  const AML_OBJECT_LOCATOR Locator = ElementOf(Entry)->Locator;
  return PatchOpRegionAddressAndLength(kName, &kDsdtOpRegionMessages, Dsdt, &Locator, Address, NvsLength);
}

// Compares the entry's variable name with the record's, up to and including the
// record's terminating NUL.
EFI_STATUS CheckVariableName(const CHAR8 *Caller, const CHAR16 *Actual, const CHAR16 *Expected) {
  for (UINTN Index = 0; Index < kVariableNameChars; Index++) {
    if (Actual[Index] != Expected[Index]) {
      DebugPrint(DEBUG_ERROR, "%a - Actual UEFI variable name does not match expected UEFI variable name!\n",
                 Caller);
      return EFI_COMPROMISED_DATA;
    }
    if (Expected[Index] == 0) return EFI_SUCCESS;
  }
  DebugPrint(DEBUG_ERROR, "%a - Actual UEFI variable name does not end with a terminating zero UINT16!\n",
             Caller);
  return EFI_COMPROMISED_DATA;
}

// Reads an existing variable of DataSize bytes as a little-endian integer.
EFI_STATUS ReadIntegerVariable(const CHAR8 *Caller, CHAR16 *Name, EFI_GUID *Guid, UINTN DataSize,
                               UINT64 *Value) {
  UINT8 *Buffer = static_cast<UINT8 *>(AllocateZeroPool(DataSize));
  if (Buffer == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to allocate 0x%x bytes\n", Caller, static_cast<UINT32>(DataSize));
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN ReadSize = DataSize;
  EFI_STATUS Status = gRT->GetVariable(Name, Guid, nullptr, &ReadSize, Buffer);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to read %s from var store: %r\n", Caller, Name, Status);
  } else {
    DebugPrint(DEBUG_INFO, "%a - Read 0x%x bytes from %s variable.\n", Caller, static_cast<UINT32>(ReadSize),
               Name);
    if (ReadSize > kMaxIntegerVariableSize) {
      Status = EFI_COMPROMISED_DATA;
      DebugPrint(DEBUG_ERROR, "%a - Variable %s is not an integer value: %r\n", Caller, Name, Status);
    } else {
      *Value = 0;
      CopyMem(Value, Buffer, ReadSize);  // little-endian, zero-extended
    }
  }
  FreePool(Buffer);
  return Status;
}

// The value of the UEFI variable the record names; its default when the
// variable does not exist or cannot be read (the status is logged): the default
// is the platform's declared fallback, and one integer must not cost the whole
// DSDT its install.
EFI_STATUS GetIntegerFromVariable(const CHAR8 *Caller, const ACPI_DATA_STORAGE_INTEGER *Entry,
                                  const ACPI_DATA_STORAGE_INTEGER *Record, UINT64 *Value) {
  if (gRT == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - Error, gRT == NULL.\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  // Aligned copies: the packed fields sit at odd offsets.
  CHAR16 Name[kVariableNameChars];
  CHAR16 EntryName[kVariableNameChars];
  CopyMem(Name, Record->VariableName, sizeof(Name));
  CopyMem(EntryName, Entry->VariableName, sizeof(EntryName));
  EFI_STATUS Status = CheckVariableName(Caller, EntryName, Name);
  if (EFI_ERROR(Status)) return Status;
  EFI_GUID Guid = Record->VendorGuid;
  UINT32 Attributes = 0;
  UINTN DataSize = 0;
  Status = gRT->GetVariable(Name, &Guid, &Attributes, &DataSize, nullptr);
  if (Status == EFI_BUFFER_TOO_SMALL) {
    if (Attributes != Record->Attributes) {
      DebugPrint(DEBUG_ERROR,
                 "%a - Actual UEFI variable attributes do not match expected UEFI variable attributes!\n",
                 Caller);
      return EFI_COMPROMISED_DATA;
    }
    return ReadIntegerVariable(Caller, Name, &Guid, DataSize, Value);
  }
  DebugPrint(DEBUG_WARN, "%a - Could not read %s size from var store: %r\n", Caller, Name, Status);
  if (Status == EFI_SUCCESS) return EFI_DEVICE_ERROR;
  *Value = Record->Value;
  DebugPrint(DEBUG_WARN, "%a - Switching to default value 0x%x for patching integer %s.\n", Caller,
             static_cast<UINT32>(*Value), Name);
  return EFI_SUCCESS;
}

EFI_STATUS GetDsdtIntegerValue(const CHAR8 *Caller, const ACPI_DATA_STORAGE_INTEGER *Entry,
                               const ACPI_DATA_STORAGE_INTEGER *Record, UINT64 *Value) {
  switch (Record->AcpiDataIntegerType) {
    case AcpiDataIntegerTypeStored:
      *Value = Entry->Value;
      return EFI_SUCCESS;
    case AcpiDataIntegerTypeDefault:
      *Value = Record->Value;
      return EFI_SUCCESS;
    case AcpiDataIntegerTypeVariable:
      return GetIntegerFromVariable(Caller, Entry, Record, Value);
    default:
      DebugPrint(DEBUG_ERROR, "%a - Unrecognized AcpiDataIntegerType 0x%x\n", Caller,
                 static_cast<UINT32>(Record->AcpiDataIntegerType));
      return EFI_COMPROMISED_DATA;
  }
}

// The value must fit the constant's width: writing only its low bytes would
// give the operating system another value than the one asked for.
EFI_STATUS CheckIntegerRange(const CHAR8 *Caller, UINT8 PrefixByte, UINT64 Value) {
  const CHAR8 *TooBig = nullptr;
  switch (PrefixByte) {
    case AML_BYTE_PREFIX:
      TooBig = "%a - Value too big for byte integer 0x%x\n";
      break;
    case AML_WORD_PREFIX:
      TooBig = "%a - Value too big for 16 bit integer 0x%x\n";
      break;
    case AML_DWORD_PREFIX:
      TooBig = "%a - Value too big for 32 bit integer 0x%x\n";
      break;
    case AML_QWORD_PREFIX:
      return EFI_SUCCESS;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Unrecognized opcode 0x%x in patching DSDT with integer 0x%x\n", Caller,
                 static_cast<UINT32>(PrefixByte), static_cast<UINT32>(Value));
      return EFI_COMPROMISED_DATA;
  }
  if (RestoredValueFits(Value, AmlIntegerPrefixWidth(PrefixByte))) return EFI_SUCCESS;
  DebugPrint(DEBUG_ERROR, TooBig, Caller, static_cast<UINT32>(Value));
  return EFI_INVALID_PARAMETER;
}

}  // namespace

EFI_STATUS PatchDsdtNVS(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "PatchDsdtNVS";
  if (Dsdt == nullptr || Entry == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - DSDT or element is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  if (!RestoredElementHoldsLocator(kName, Entry)) return EFI_COMPROMISED_DATA;
  const RESTORED_REGION_PATH Path = RestoredRegionPathOf(&ElementOf(Entry)->Locator);
  DebugPrint(DEBUG_INFO, "%a - Patching DSDT NVS OPREGION %a\n", kName, Path.Text);
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Entry->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      return PatchDsdtNvsDefault(Dsdt, Entry);
    case AcpiDataNvsType1:
      DebugPrint(DEBUG_ERROR, "%a - Type 1 DSDT NVS not presently supported\n", kName);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType2:
      Status = ProcessDsdtNvsType2OnCertifiedPath(Dsdt, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to patch a DSDT NVS Type 2\n", kName);
      return Status;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for DSDT NVS\n", kName,
                 Entry->AcpiDataNvsType);
      DebugPrint(DEBUG_INFO, "%a -   DSDT NVS path name is %a\n", kName, Path.Text);
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS ProcessDsdtNvsType2OnCertifiedPath(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessDsdtNvsType2OnCertifiedPath";
  if (Dsdt == nullptr || Entry == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - DSDT or element is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  DebugPrint(DEBUG_INFO, "%a - Patching DSDT with Type 2 NVS\n", kName);
  DebugPrint(DEBUG_INFO,
             "%a - NVS type 2 store the system memory address and length in another NVS region's fields\n",
             kName);
  UINT32 NvsLength = 0;
  const UINT8 *Saved = nullptr;
  EFI_STATUS Status = GetRestoredRegionData(kName, Entry, kNvsType2Fixed, &NvsLength, &Saved);
  if (EFI_ERROR(Status)) return Status;
  EFI_PHYSICAL_ADDRESS Address = 0;
  Status = CreateRestoredRegion(kName, "%a - Unable to allocate %x byte buffer\n", EfiACPIMemoryNVS, Saved,
                                NvsLength, &Address);
  if (EFI_ERROR(Status)) return Status;
  return PatchType2ParentFields(kName, &kDsdtType2Messages, Dsdt,
                                reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_2 *>(Entry), Address,
                                NvsLength);
}

EFI_STATUS PatchDsdtInteger(UINT8 *Dsdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                            const ACPI_DATA_STORAGE_ENTRY_HEADER *Record) {
  static const CHAR8 kName[] = "PatchDsdtInteger";
  if (Dsdt == nullptr || Entry == nullptr || Record == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - DSDT, element or meta data record is NULL\n", kName);
    return EFI_INVALID_PARAMETER;
  }
  if (Entry->AcpiCommonHeader.Length < kIntegerFixed || Record->AcpiCommonHeader.Length < kIntegerFixed) {
    DebugPrint(DEBUG_ERROR, "%a - Integer element 0x%x or record 0x%x is shorter than 0x%x bytes\n", kName,
               Entry->AcpiCommonHeader.Length, Record->AcpiCommonHeader.Length, kIntegerFixed);
    return EFI_COMPROMISED_DATA;
  }
  const ACPI_DATA_STORAGE_INTEGER *Element = IntegerOf(Entry);
  const ACPI_DATA_STORAGE_INTEGER *Wanted = IntegerOf(Record);
  const AML_OBJECT_LOCATOR Locator = Wanted->Common.Locator;
  const RESTORED_REGION_PATH Path = RestoredRegionPathOf(&Locator);
  if (Wanted->AcpiDataIntegerType == AcpiDataIntegerTypeNotStored) {
    DebugPrint(DEBUG_INFO, "%a - Not patching DSDT integer value %a\n", kName, Path.Text);
    return EFI_SUCCESS;
  }
  DebugPrint(DEBUG_INFO, "%a - Patching DSDT integer value %a\n", kName, Path.Text);
  UINT64 Value = 0;
  EFI_STATUS Status = GetDsdtIntegerValue(kName, Element, Wanted, &Value);
  if (!EFI_ERROR(Status)) Status = CheckIntegerRange(kName, Locator.PrefixByte, Value);
  if (EFI_ERROR(Status)) return Status;
  Status = SetNumericConstantInAml(Dsdt, &Locator, Value);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to set integer value in AML\n", kName);
    return Status;
  }
  return EFI_SUCCESS;
}
