#include "acpi_dxe/core/VariablePolicyLocate.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

EDKII_VARIABLE_POLICY_PROTOCOL *LocateVariablePolicyOrReset(const CHAR8 *Caller, UINT32 StatusCodeValue) {
  VOID *VariablePolicy = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gEdkiiVariablePolicyProtocolGuid), nullptr,
                                          &VariablePolicy);
  if (!EFI_ERROR(Status) && VariablePolicy != nullptr)
    return static_cast<EDKII_VARIABLE_POLICY_PROTOCOL *>(VariablePolicy);
  if (!EFI_ERROR(Status)) Status = EFI_NOT_FOUND;  // a NULL interface is as good as none
  DebugPrint(DEBUG_ERROR, "[%a] - Failed to find gEdkiiVariablePolicyProtocolGuid\n", Caller);
  DebugPrint(DEBUG_ERROR, "[%a] - Resetting system to allow custom path to address the issue.\n", Caller);
  ResetOnFatalError(StatusCodeValue, Status);
}
