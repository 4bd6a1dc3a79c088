// The lock-on-var-state policy that protects AcpiDataCache on both boot paths:
// AcpiDataCache may only be written non-volatile + boot-service, and becomes
// read-only once the named state variable holds 1.
#ifndef ZEPHRIN_ACPI_DXE_CORE_VAR_STATE_POLICY_H_
#define ZEPHRIN_ACPI_DXE_CORE_VAR_STATE_POLICY_H_

#include "acpi_dxe/blob/BlobCache.h"
#include "uefi/Guid/BootPathSignals.h"
#include "uefi/Protocol/VariablePolicy.h"

inline constexpr EFI_GUID gAcpiCacheLockIndicatorGuid = {
    0x6A85A0B9, 0x3C08, 0x4585, {0xAC, 0x1F, 0x8E, 0xD2, 0x21, 0xCF, 0x05, 0x9F}};

inline constexpr CHAR16 kAcpiCacheLockIndicatorName[] = u"AcpiCacheLockIndicator";

// Builds the policy record in one pool allocation the caller frees.
EFI_STATUS CreateVarStateVariablePolicy(const EFI_GUID *VarStateNamespace, const CHAR16 *VarStateName,
                                        VARIABLE_POLICY_ENTRY **NewEntry);

// Builds the record, hands it to the protocol (which keeps its own copy) and
// frees it whatever the protocol answered.
EFI_STATUS RegisterVarStateVariablePolicy(EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy,
                                          const EFI_GUID *VarStateNamespace, const CHAR16 *VarStateName);

#endif  // ZEPHRIN_ACPI_DXE_CORE_VAR_STATE_POLICY_H_
