// SSDT NVS and NON-NVS patching on the certified path. See SsdtPatch.h.
#include "acpi_dxe/restore/SsdtPatch.h"

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoredRegion.h"

namespace {

constexpr UINT32 kNvsDefaultFixed = sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT);
constexpr UINT32 kNvsType1Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1);
constexpr UINT32 kType2Fixed = sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2);

constexpr OPREGION_PATCH_MESSAGES kSsdtOpRegionMessages = {
    "%a - Unrecognized opcode 0x%x in patching SSDT with NvsAddres 0x%p\n",
    "%a - Unrecognized opcode 0x%x in patching SSDT with NVS length 0x%x\n",
    "%a - address of NVS region (0x%p, length 0x%x) patched into SSDT table\n",
};

constexpr TYPE_2_PATCH_MESSAGES kSsdtNonNvsType2Messages = {
    "%a - Failed to set NON-NVS address in parent opregion\n",
    "%a - Failed to set NON-NVS length in parent opregion\n",
};

const ACPI_DATA_STORAGE_ELEMENT *ElementOf(const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Entry);
}

EFI_STATUS CheckArguments(const CHAR8 *Caller, const UINT8 *Ssdt,
                          const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  if (Ssdt == nullptr || Entry == nullptr) {
    DebugPrint(DEBUG_ERROR, "%a - SSDT or element is NULL\n", Caller);
    return EFI_INVALID_PARAMETER;
  }
  return RestoredElementHoldsLocator(Caller, Entry) ? EFI_SUCCESS : EFI_COMPROMISED_DATA;
}

// A named constant of the width its locator names must hold Value: writing only
// its low bytes would point the AML at other memory.
BOOLEAN ConstantHolds(const CHAR8 *Caller, const CHAR8 *What, const AML_OBJECT_LOCATOR *Locator,
                      UINT64 Value) {
  const UINT8 Width = AmlIntegerPrefixWidth(Locator->PrefixByte);
  if (Width == 0 || RestoredValueFits(Value, Width)) return TRUE;  // the writer reports unknown prefixes
  DebugPrint(DEBUG_ERROR, "%a - NVS %a 0x%lx does not fit the %d byte constant\n", Caller, What, Value,
             static_cast<UINT32>(Width));
  return FALSE;
}

// TRUE when the AML holds the locator's PrefixByte right before ValueOffset,
// inside the table: the constant the locator names is there. These are the
// cases SetNumericConstantInAml refuses, checked without a write.
BOOLEAN ConstantIsInAml(const UINT8 *Ssdt, const AML_OBJECT_LOCATOR *Locator) {
  UINT64 Opcode = 0;
  return Locator->ValueOffset != 0 && AmlReadTableInteger(Ssdt, Locator->ValueOffset - 1, 1, &Opcode) &&
         Opcode == Locator->PrefixByte;
}

// Judges one Type 1 constant before either is written. A locator that disagrees
// with the AML names no constant of its width, so the writer's refusal comes
// first, with its own line and then FailedLine, as when the write itself fails;
// only a constant that is there has a width the value must fit.
EFI_STATUS CheckType1Constant(const CHAR8 *Caller, UINT8 *Ssdt, const AML_OBJECT_LOCATOR *Locator,
                              UINT64 Value, const CHAR8 *What, const CHAR8 *FailedLine) {
  if (!ConstantIsInAml(Ssdt, Locator)) {
    const EFI_STATUS Status = SetNumericConstantInAml(Ssdt, Locator, Value);  // refuses, writes nothing
    DebugPrint(DEBUG_ERROR, FailedLine, Caller);
    return EFI_ERROR(Status) ? Status : EFI_COMPROMISED_DATA;
  }
  return ConstantHolds(Caller, What, Locator, Value) ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS PatchSsdtNvsType1(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "PatchSsdtNVS";
  if (Entry->AcpiCommonHeader.Length < kNvsType1Fixed) {
    DebugPrint(DEBUG_ERROR, "%a - NVS element length 0x%x is shorter than its fixed part 0x%x\n", kName,
               Entry->AcpiCommonHeader.Length, kNvsType1Fixed);
    DebugPrint(DEBUG_ERROR, "%a - Unable to patch a SSDT NVS Type 1\n", kName);
    return EFI_COMPROMISED_DATA;
  }
  const ACPI_DATA_STORAGE_NVS_TYPE_1 *Element = reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_1 *>(Entry);
  const RESTORED_REGION_PATH Address = RestoredRegionPathOf(&Element->Common.Locator);
  const RESTORED_REGION_PATH Length = RestoredRegionPathOf(&Element->LengthLocator);
  DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION address %a\n", kName, Address.Text);
  DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION length  %a\n", kName, Length.Text);
  const EFI_STATUS Status = ProcessSsdtNvsType1OnCertifiedPath(Ssdt, Entry);
  if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to patch a SSDT NVS Type 1\n", kName);
  return Status;
}

}  // namespace

EFI_STATUS PatchSsdtNVS(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "PatchSsdtNVS";
  EFI_STATUS Status = CheckArguments(kName, Ssdt, Entry);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Patching SSDT with NVS\n", kName);
  const RESTORED_REGION_PATH Path = RestoredRegionPathOf(&ElementOf(Entry)->Locator);
  switch (Entry->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      DebugPrint(DEBUG_INFO, "%a - Found meta data for SSDT NVS OPREGION %a\n", kName, Path.Text);
      Status = ProcessSsdtNvsOnCertifiedPath(Ssdt, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to patch a SSDT NVS\n", kName);
      return Status;
    case AcpiDataNvsType1:
      return PatchSsdtNvsType1(Ssdt, Entry);
    case AcpiDataNvsType2:
      DebugPrint(DEBUG_ERROR, "%a - Type 2 SSDT NVS not presently supported\n", kName);
      return EFI_INVALID_PARAMETER;
    default:
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for SSDT NVS\n", kName,
                 Entry->AcpiDataNvsType);
      DebugPrint(DEBUG_INFO, "%a -   SSDT NVS path name is %a\n", kName, Path.Text);
      return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS PatchSsdtNonNVS(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "PatchSsdtNonNVS";
  EFI_STATUS Status = CheckArguments(kName, Ssdt, Entry);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Patching SSDT with NON-NVS\n", kName);
  switch (Entry->AcpiDataNvsType) {
    case AcpiDataNvsTypeDefault:
      DebugPrint(DEBUG_ERROR, "%a - Default SSDT NON-NVS not presently supported\n", kName);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType1:
      DebugPrint(DEBUG_ERROR, "%a - Type 1 SSDT NON-NVS not presently supported\n", kName);
      return EFI_INVALID_PARAMETER;
    case AcpiDataNvsType2:
      Status = ProcessSsdtNonNvsType2OnCertifiedPath(Ssdt, Entry);
      if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a - Unable to patch a SSDT NON-NVS Type 2\n", kName);
      return Status;
    default: {
      const RESTORED_REGION_PATH Path = RestoredRegionPathOf(&ElementOf(Entry)->Locator);
      DebugPrint(DEBUG_ERROR, "%a - Invalid AcpiDataNvsType: %x for SSDT NON-NVS\n", kName,
                 Entry->AcpiDataNvsType);
      DebugPrint(DEBUG_INFO, "%a -   SSDT NVS path name is %a\n", kName, Path.Text);
      return EFI_INVALID_PARAMETER;
    }
  }
}

EFI_STATUS ProcessSsdtNvsOnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessSsdtNvsOnCertifiedPath";
  EFI_STATUS Status = CheckArguments(kName, Ssdt, Entry);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Patching SSDT with NVS\n", kName);
  UINT32 NvsLength = 0;
  const UINT8 *Saved = nullptr;
  Status = GetRestoredRegionData(kName, Entry, kNvsDefaultFixed, &NvsLength, &Saved);
  if (EFI_ERROR(Status)) return Status;
  EFI_PHYSICAL_ADDRESS Address = 0;
  Status = CreateRestoredRegion(kName, "%a - Unable to allocate %x byte buffer\n", EfiACPIMemoryNVS, Saved,
                                NvsLength, &Address);
  if (EFI_ERROR(Status)) return Status;
  const AML_OBJECT_LOCATOR Locator = ElementOf(Entry)->Locator;
  return PatchOpRegionAddressAndLength(kName, &kSsdtOpRegionMessages, Ssdt, &Locator, Address, NvsLength);
}

EFI_STATUS ProcessSsdtNvsType1OnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessSsdtNvsType1OnCertifiedPath";
  EFI_STATUS Status = CheckArguments(kName, Ssdt, Entry);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Patching SSDT with Type 1 NVS\n", kName);
  UINT32 NvsLength = 0;
  const UINT8 *Saved = nullptr;
  Status = GetRestoredRegionData(kName, Entry, kNvsType1Fixed, &NvsLength, &Saved);
  if (EFI_ERROR(Status)) return Status;
  EFI_PHYSICAL_ADDRESS Address = 0;
  Status = CreateRestoredRegion(kName, "%a - Unable to allocate %x byte buffer\n", EfiACPIMemoryNVS, Saved,
                                NvsLength, &Address);
  if (EFI_ERROR(Status)) return Status;
  const ACPI_DATA_STORAGE_NVS_TYPE_1 *Element = reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_1 *>(Entry);
  const AML_OBJECT_LOCATOR AddressLocator = Element->Common.Locator;
  const AML_OBJECT_LOCATOR LengthLocator = Element->LengthLocator;
  Status = CheckType1Constant(kName, Ssdt, &AddressLocator, Address, "address",
                              "%a - Failed to set NVS address from AML\n");
  if (!EFI_ERROR(Status)) {
    Status = CheckType1Constant(kName, Ssdt, &LengthLocator, NvsLength, "length",
                                "%a - Failed to set NVS length from AML\n");
  }
  if (EFI_ERROR(Status)) return Status;
  // The old address is kept so that a refused length leaves the SSDT as it was
  // (a table carried in the meta data is patched in place and may be met again).
  const UINT8 AddressWidth = AmlIntegerPrefixWidth(AddressLocator.PrefixByte);
  UINT64 OldAddress = 0;
  AmlReadTableInteger(Ssdt, AddressLocator.ValueOffset, AddressWidth, &OldAddress);
  Status = SetNumericConstantInAml(Ssdt, &AddressLocator, Address);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to set NVS address from AML\n", kName);
    return Status;
  }
  Status = SetNumericConstantInAml(Ssdt, &LengthLocator, NvsLength);
  if (EFI_ERROR(Status)) {
    AmlWriteTableInteger(Ssdt, AddressLocator.ValueOffset, AddressWidth, OldAddress);
    DebugPrint(DEBUG_ERROR, "%a - Failed to set NVS length from AML\n", kName);
    return Status;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProcessSsdtNonNvsType2OnCertifiedPath(UINT8 *Ssdt, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  static const CHAR8 kName[] = "ProcessSsdtNonNvsType2OnCertifiedPath";
  EFI_STATUS Status = CheckArguments(kName, Ssdt, Entry);
  if (EFI_ERROR(Status)) return Status;
  DebugPrint(DEBUG_INFO, "%a - Patching SSDT with Type 2 NON-NVS\n", kName);
  DebugPrint(
      DEBUG_INFO,
      "%a - NON-NVS type 2 store the system memory address and length in another NVS region's fields\n",
      kName);
  UINT32 NvsLength = 0;
  const UINT8 *Saved = nullptr;
  Status = GetRestoredRegionData(kName, Entry, kType2Fixed, &NvsLength, &Saved);
  if (EFI_ERROR(Status)) return Status;
  EFI_PHYSICAL_ADDRESS Address = 0;
  Status = CreateRestoredRegion(kName, "%a - Unable to allocate %x byte buffer\n", EfiReservedMemoryType,
                                Saved, NvsLength, &Address);
  if (EFI_ERROR(Status)) return Status;
  return PatchType2ParentFields(kName, &kSsdtNonNvsType2Messages, Ssdt,
                                reinterpret_cast<const ACPI_DATA_STORAGE_NVS_TYPE_2 *>(Entry), Address,
                                NvsLength);
}
