#include "acpi_dxe/core/VariablePolicyLocate.h"

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"

EDKII_VARIABLE_POLICY_PROTOCOL *LocateVariablePolicyOrReset(const CHAR8 *Caller, UINT32 StatusCodeValue) {
  VOID *VariablePolicy = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gEdkiiVariablePolicyProtocolGuid), nullptr,
                                          &VariablePolicy);
  // Only a failed lookup ends the boot. A NULL interface is handed on: the
  // registration refuses it, and the path goes on as for a refused policy
  // (resetting there would reset on every boot of such a board).
  if (!EFI_ERROR(Status)) return static_cast<EDKII_VARIABLE_POLICY_PROTOCOL *>(VariablePolicy);
  DebugPrint(DEBUG_ERROR, "[%a] - Failed to find gEdkiiVariablePolicyProtocolGuid\n", Caller);
  DebugPrint(DEBUG_ERROR, "[%a] - Resetting system to allow custom path to address the issue.\n", Caller);
  ResetOnFatalError(StatusCodeValue, Status);
}
