// The EDK II variable policy protocol and its policy records. A policy entry is
// a packed record followed by optional lock data and the variable name.
#ifndef ZEPHRIN_UEFI_PROTOCOL_VARIABLE_POLICY_H_
#define ZEPHRIN_UEFI_PROTOCOL_VARIABLE_POLICY_H_

#include "../UefiBaseType.h"

#define VARIABLE_POLICY_ENTRY_REVISION 0x00010000
#define VARIABLE_POLICY_NO_MIN_SIZE 0
#define VARIABLE_POLICY_NO_MAX_SIZE MAX_UINT32
#define VARIABLE_POLICY_NO_MUST_ATTR 0
#define VARIABLE_POLICY_NO_CANT_ATTR 0

#define VARIABLE_POLICY_TYPE_NO_LOCK 0
#define VARIABLE_POLICY_TYPE_LOCK_NOW 1
#define VARIABLE_POLICY_TYPE_LOCK_ON_CREATE 2
#define VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE 3

#pragma pack(push, 1)
typedef struct {
  UINT32 Version;
  UINT16 Size;
  UINT16 OffsetToName;
  EFI_GUID Namespace;
  UINT32 MinSize;
  UINT32 MaxSize;
  UINT32 AttributesMustHave;
  UINT32 AttributesCantHave;
  UINT8 LockPolicyType;
  UINT8 Reserved[3];
  // Lock data (for LOCK_ON_VAR_STATE a VARIABLE_LOCK_ON_VAR_STATE_POLICY) and
  // the UCS-2 name at OffsetToName follow.
} VARIABLE_POLICY_ENTRY;

typedef struct {
  EFI_GUID Namespace;
  UINT8 Value;
  UINT8 Reserved;
  // The UCS-2 name of the state variable follows, with its terminator.
} VARIABLE_LOCK_ON_VAR_STATE_POLICY;
#pragma pack(pop)

static_assert(sizeof(VARIABLE_POLICY_ENTRY) == 44, "VARIABLE_POLICY_ENTRY layout");
static_assert(OFFSET_OF(VARIABLE_POLICY_ENTRY, Namespace) == 8, "VARIABLE_POLICY_ENTRY.Namespace");
static_assert(OFFSET_OF(VARIABLE_POLICY_ENTRY, MinSize) == 24, "VARIABLE_POLICY_ENTRY.MinSize");
static_assert(OFFSET_OF(VARIABLE_POLICY_ENTRY, AttributesMustHave) == 32,
              "VARIABLE_POLICY_ENTRY.AttributesMustHave");
static_assert(OFFSET_OF(VARIABLE_POLICY_ENTRY, LockPolicyType) == 40, "VARIABLE_POLICY_ENTRY.LockPolicyType");
static_assert(sizeof(VARIABLE_LOCK_ON_VAR_STATE_POLICY) == 18, "VARIABLE_LOCK_ON_VAR_STATE_POLICY layout");
static_assert(OFFSET_OF(VARIABLE_LOCK_ON_VAR_STATE_POLICY, Value) == 16,
              "VARIABLE_LOCK_ON_VAR_STATE_POLICY.Value");

#define EDKII_VARIABLE_POLICY_PROTOCOL_REVISION 0x0000000000020000ULL

typedef struct {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *DisableVariablePolicy)();
  EFI_STATUS(EFIAPI *IsVariablePolicyEnabled)(BOOLEAN *State);
  EFI_STATUS(EFIAPI *RegisterVariablePolicy)(const VARIABLE_POLICY_ENTRY *PolicyEntry);
  EFI_STATUS(EFIAPI *DumpVariablePolicy)(UINT8 *Policy, UINT32 *Size);
  EFI_STATUS(EFIAPI *LockVariablePolicy)();
  EFI_STATUS(EFIAPI *GetVariablePolicyInfo)
  (const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINTN *VariablePolicyVariableNameBufferSize,
   VARIABLE_POLICY_ENTRY *VariablePolicy, CHAR16 *VariablePolicyVariableName);
  EFI_STATUS(EFIAPI *GetLockOnVariableStateVariablePolicyInfo)
  (const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINTN *VariableLockPolicyVariableNameBufferSize,
   VARIABLE_LOCK_ON_VAR_STATE_POLICY *VariablePolicy, CHAR16 *VariableLockPolicyVariableName);
} EDKII_VARIABLE_POLICY_PROTOCOL;

inline constexpr EFI_GUID gEdkiiVariablePolicyProtocolGuid = {
    0x81D1675C, 0x86F6, 0x48DF, {0xBD, 0x95, 0x9A, 0x6E, 0x4F, 0x09, 0x25, 0xC3}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_VARIABLE_POLICY_H_
