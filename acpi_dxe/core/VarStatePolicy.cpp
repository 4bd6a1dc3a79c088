#include "acpi_dxe/core/VarStatePolicy.h"

#include "acpi_dxe/core/DxeServices.h"

// Fixed part of the record: the policy entry, then the var-state lock data.
static constexpr UINTN kFixedRecordSize =
    sizeof(VARIABLE_POLICY_ENTRY) + sizeof(VARIABLE_LOCK_ON_VAR_STATE_POLICY);
static_assert(kFixedRecordSize == 62, "policy record layout");

static constexpr UINT32 kCacheAttributes = ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES;
static constexpr UINT8 kLockedStateValue = 1;

EFI_STATUS CreateVarStateVariablePolicy(const EFI_GUID *VarStateNamespace, const CHAR16 *VarStateName,
                                        VARIABLE_POLICY_ENTRY **NewEntry) {
  if (VarStateNamespace == nullptr || VarStateName == nullptr || NewEntry == nullptr)
    return EFI_INVALID_PARAMETER;
  const UINTN VarStateNameSize = 2 * StrLen(VarStateName) + 2;
  const UINTN NameSize = 2 * StrLen(ACPI_DATA_CACHE_VARIABLE_NAME) + 2;
  const UINTN Size = kFixedRecordSize + VarStateNameSize + NameSize;
  if (Size > MAX_UINT16) return EFI_BUFFER_TOO_SMALL;

  // Zero-filled so the reserved bytes never carry stale pool contents to the
  // firmware's policy store.
  UINT8 *Record = static_cast<UINT8 *>(AllocateZeroPool(Size));
  *NewEntry = reinterpret_cast<VARIABLE_POLICY_ENTRY *>(Record);
  if (Record == nullptr) return EFI_OUT_OF_RESOURCES;

  VARIABLE_POLICY_ENTRY *Entry = *NewEntry;
  Entry->Version = VARIABLE_POLICY_ENTRY_REVISION;
  Entry->Size = static_cast<UINT16>(Size);
  Entry->OffsetToName = static_cast<UINT16>(kFixedRecordSize + VarStateNameSize);
  CopyMem(&Entry->Namespace, &gAcpiDataCacheVariableGuid, sizeof(EFI_GUID));
  Entry->MinSize = VARIABLE_POLICY_NO_MIN_SIZE;
  Entry->MaxSize = VARIABLE_POLICY_NO_MAX_SIZE;
  Entry->AttributesMustHave = kCacheAttributes;
  Entry->AttributesCantHave = ~kCacheAttributes;
  Entry->LockPolicyType = VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE;

  VARIABLE_LOCK_ON_VAR_STATE_POLICY *Lock =
      reinterpret_cast<VARIABLE_LOCK_ON_VAR_STATE_POLICY *>(Record + sizeof(VARIABLE_POLICY_ENTRY));
  CopyMem(&Lock->Namespace, VarStateNamespace, sizeof(EFI_GUID));
  Lock->Value = kLockedStateValue;
  CopyMem(Record + kFixedRecordSize, VarStateName, VarStateNameSize);
  CopyMem(Record + Entry->OffsetToName, ACPI_DATA_CACHE_VARIABLE_NAME, NameSize);
  return EFI_SUCCESS;
}

EFI_STATUS RegisterVarStateVariablePolicy(EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy,
                                          const EFI_GUID *VarStateNamespace, const CHAR16 *VarStateName) {
  if (VariablePolicy == nullptr) return EFI_INVALID_PARAMETER;
  VARIABLE_POLICY_ENTRY *NewEntry = nullptr;
  EFI_STATUS Status = CreateVarStateVariablePolicy(VarStateNamespace, VarStateName, &NewEntry);
  if (!EFI_ERROR(Status)) Status = VariablePolicy->RegisterVariablePolicy(NewEntry);
  FreePool(NewEntry);
  return Status;
}
