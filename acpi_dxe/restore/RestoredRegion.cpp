// Region pages and the AML or parent-field writes that point at them. See
// RestoredRegion.h for the contract.
#include "acpi_dxe/restore/RestoredRegion.h"

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

namespace {

// AllocateMaxAddress takes the highest address the pages may end at.
constexpr EFI_PHYSICAL_ADDRESS kRegionMaxAddress = 0xFFFFFFFF;

// Width of a Type 2 field's SizeIndicator (1 -> 1 ... 4 -> 8), 0 when invalid;
// SetType2NvsValue reports the invalid ones itself.
UINT8 Type2FieldWidth(UINT8 SizeIndicator) {
  if (SizeIndicator < TYPE_2_NVS_SIZE_INDICATOR_MIN || SizeIndicator > TYPE_2_NVS_SIZE_INDICATOR_MAX)
    return 0;
  return static_cast<UINT8>(1u << (SizeIndicator - 1));
}

// A field in the parent region must be able to hold its value; literal and
// unsupported fields write nothing, and invalid size indicators are refused by
// the writer itself, so only real field writes are checked here.
BOOLEAN Type2FieldHolds(const CHAR8 *Caller, const CHAR8 *What, UINT8 Mode, UINT8 SizeIndicator,
                        UINT64 Value) {
  const UINT8 Width = Type2FieldWidth(SizeIndicator);
  if (Mode != FIELD_TYPE_2_NVS_MODE || Width == 0 || RestoredValueFits(Value, Width)) return TRUE;
  DebugPrint(DEBUG_ERROR, "%a - NVS %a 0x%lx does not fit the %d byte field in the parent opregion\n", Caller,
             What, Value, static_cast<UINT32>(Width));
  return FALSE;
}

// The RegionLen term behind a RegionOffset constant of AddressWidth bytes: its
// prefix opcode's offset and width (0 for an opcode without data bytes).
// FALSE when the prefix opcode, or the data it announces, lies outside the table.
BOOLEAN FindRegionLength(const UINT8 *Table, const AML_OBJECT_LOCATOR *Locator, UINT8 AddressWidth,
                         UINT64 *PrefixOffset, UINT8 *Prefix, UINT8 *Width) {
  *PrefixOffset = static_cast<UINT64>(Locator->ValueOffset) + AddressWidth;
  UINT64 Opcode = 0;
  if (!AmlReadTableInteger(Table, *PrefixOffset, 1, &Opcode)) return FALSE;
  *Prefix = static_cast<UINT8>(Opcode);
  *Width = AmlIntegerPrefixWidth(*Prefix);
  UINT64 Ignored = 0;
  return (*Width == 0 || AmlReadTableInteger(Table, *PrefixOffset + 1, *Width, &Ignored)) ? TRUE : FALSE;
}

}  // namespace

BOOLEAN RestoredValueFits(UINT64 Value, UINT8 Width) {
  if (Width >= 8) return TRUE;
  return (Value >> (8u * Width)) == 0 ? TRUE : FALSE;
}

RESTORED_REGION_PATH RestoredRegionPathOf(const AML_OBJECT_LOCATOR *Locator) {
  RESTORED_REGION_PATH Path = {};
  CopyMem(Path.Text, Locator->PathName, AML_OBJECT_PATH_NAME_SIZE);
  return Path;
}

BOOLEAN RestoredElementHoldsLocator(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  if (Entry->AcpiCommonHeader.Length >= sizeof(ACPI_DATA_STORAGE_ELEMENT)) return TRUE;
  DebugPrint(DEBUG_ERROR, "%a - Element length 0x%x is too short for an AML locator\n", Caller,
             Entry->AcpiCommonHeader.Length);
  return FALSE;
}

EFI_STATUS GetRestoredRegionData(const CHAR8 *Caller, const ACPI_DATA_STORAGE_ENTRY_HEADER *Entry,
                                 UINT32 FixedLength, UINT32 *NvsLength, const UINT8 **Data) {
  const UINT32 EntryLength = Entry->AcpiCommonHeader.Length;
  if (EntryLength < FixedLength) {
    DebugPrint(DEBUG_ERROR, "%a - NVS element length 0x%x is shorter than its fixed part 0x%x\n", Caller,
               EntryLength, FixedLength);
    return EFI_COMPROMISED_DATA;
  }
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Entry);
  UINT64 Saved = 0;
  CopyMem(&Saved, Bytes + FixedLength - sizeof(UINT64), sizeof(UINT64));
  if (Saved > EntryLength - FixedLength) {
    DebugPrint(DEBUG_ERROR, "%a - NVS length 0x%lx runs past the element's 0x%x data bytes\n", Caller, Saved,
               EntryLength - FixedLength);
    return EFI_COMPROMISED_DATA;
  }
  *NvsLength = static_cast<UINT32>(Saved);
  *Data = Bytes + FixedLength;
  return EFI_SUCCESS;
}

EFI_STATUS CreateRestoredRegion(const CHAR8 *Caller, const CHAR8 *AllocFailFormat, EFI_MEMORY_TYPE MemoryType,
                                const UINT8 *Data, UINT32 NvsLength, EFI_PHYSICAL_ADDRESS *Address) {
  UINTN Pages = EFI_SIZE_TO_PAGES(static_cast<UINTN>(NvsLength));
  if (Pages == 0) Pages = 1;
  EFI_PHYSICAL_ADDRESS Memory = kRegionMaxAddress;
  const EFI_STATUS Status = gBS->AllocatePages(AllocateMaxAddress, MemoryType, Pages, &Memory);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, AllocFailFormat, Caller, NvsLength);
    return Status;
  }
  VOID *Region = reinterpret_cast<VOID *>(static_cast<UINTN>(Memory));
  CopyMem(Region, Data, NvsLength);
  DebugPrint(DEBUG_INFO, "%a - NVS data:\n", Caller);
  DumpNvsHex("[Patched NVS]", Region, NvsLength);
  *Address = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS PatchOpRegionAddressAndLength(const CHAR8 *Caller, const OPREGION_PATCH_MESSAGES *Messages,
                                         UINT8 *Table, const AML_OBJECT_LOCATOR *Locator,
                                         EFI_PHYSICAL_ADDRESS Address, UINT32 NvsLength) {
  VOID *AddressPointer = reinterpret_cast<VOID *>(static_cast<UINTN>(Address));
  const UINT8 AddressWidth = AmlIntegerPrefixWidth(Locator->PrefixByte);
  if (AddressWidth == 0) {
    DebugPrint(DEBUG_ERROR, Messages->UnknownAddressPrefix, Caller, static_cast<UINT32>(Locator->PrefixByte),
               AddressPointer);
    return EFI_COMPROMISED_DATA;
  }
  if (!RestoredValueFits(Address, AddressWidth)) {
    DebugPrint(DEBUG_ERROR, "%a - NVS address 0x%p does not fit the %d byte address constant\n", Caller,
               AddressPointer, static_cast<UINT32>(AddressWidth));
    return EFI_INVALID_PARAMETER;
  }
  UINT64 LengthPrefixOffset = 0;
  UINT8 LengthPrefix = 0;
  UINT8 LengthWidth = 0;
  if (!FindRegionLength(Table, Locator, AddressWidth, &LengthPrefixOffset, &LengthPrefix, &LengthWidth)) {
    DebugPrint(DEBUG_ERROR, "%a - OpRegion length constant at 0x%lx lies outside the table of 0x%x bytes\n",
               Caller, LengthPrefixOffset, AmlTableLength(Table));
    return EFI_COMPROMISED_DATA;
  }
  if (LengthWidth != 0 && !RestoredValueFits(NvsLength, LengthWidth)) {
    DebugPrint(DEBUG_ERROR, "%a - NVS length 0x%x does not fit the %d byte length constant\n", Caller,
               NvsLength, static_cast<UINT32>(LengthWidth));
    return EFI_INVALID_PARAMETER;
  }
  // Checks the AML's own prefix opcode against the locator before writing.
  const EFI_STATUS Status = SetNumericConstantInAml(Table, Locator, Address);
  if (EFI_ERROR(Status)) return Status;
  if (LengthWidth == 0) {
    DebugPrint(DEBUG_ERROR, Messages->UnknownLengthPrefix, Caller, static_cast<UINT32>(LengthPrefix),
               NvsLength);
  } else {
    AmlWriteTableInteger(Table, LengthPrefixOffset + 1, LengthWidth,
                         NvsLength);  // bounded by FindRegionLength
  }
  DebugPrint(DEBUG_INFO, Messages->Patched, Caller, AddressPointer, NvsLength);
  return EFI_SUCCESS;
}

EFI_STATUS PatchType2ParentFields(const CHAR8 *Caller, const TYPE_2_PATCH_MESSAGES *Messages,
                                  const UINT8 *Table, const ACPI_DATA_STORAGE_NVS_TYPE_2 *Element,
                                  EFI_PHYSICAL_ADDRESS Address, UINT32 NvsLength) {
  const AML_OBJECT_LOCATOR Locator = Element->Common.Locator;
  const TYPE_2_NVS_FIELD AddressField = Element->AddressField;
  const TYPE_2_NVS_LENGTH_FIELD LengthField = Element->LengthField;
  UINT64 ParentAddress = 0;
  UINT64 ParentLength = 0;
  EFI_STATUS Status = ExtractOpRegionAddressAndLengthFromAml(Table, &Locator, &ParentAddress, &ParentLength);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Failed to get NVS address and length from parent opregion\n", Caller);
    return Status;
  }
  if (!Type2FieldHolds(Caller, "address", AddressField.Mode, AddressField.SizeIndicator, Address) ||
      !Type2FieldHolds(Caller, "length", LengthField.Mode, LengthField.SizeIndicator, NvsLength)) {
    return EFI_INVALID_PARAMETER;
  }
  Status = SetType2NvsValue(ParentAddress, ParentLength, AddressField.Mode, AddressField.SizeIndicator,
                            AddressField.Offset, Address);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, Messages->AddressFailed, Caller);
    return Status;
  }
  Status = SetType2NvsValue(ParentAddress, ParentLength, LengthField.Mode, LengthField.SizeIndicator,
                            LengthField.Offset, NvsLength);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, Messages->LengthFailed, Caller);
    return Status;
  }
  return EFI_SUCCESS;
}
