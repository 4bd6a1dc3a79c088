// The custom path: protect the cache variable, then capture and store the
// platform's ACPI tables when the platform signals the custom-path group.
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/VariablePolicyLocate.h"

EFI_STATUS DoCustomWork() {
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", __func__);
  EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy = LocateVariablePolicyOrReset(__func__, FATAL_CUSTOM_NO_VARIABLE_POLICY);
  (void)VariablePolicy;
  return EFI_SUCCESS;
}
