// Driver entry: bind the firmware tables, choose the boot path once from the
// custom-path HOB, and hand over to the path's work function. The driver stays
// resident whatever the work function reports, for its event callbacks.
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;
EFI_HANDLE gImageHandle;
UINT8 mBootPath;

static const CHAR8 kModuleName[] = "ZephrinAcpiDxe";

extern "C" EFI_STATUS EFIAPI ZephrinAcpiDxeEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gImageHandle = ImageHandle;
  gST = SystemTable;
  GetHobList();

  DebugPrint(DEBUG_INFO, "%a:%a() - Enter\n", kModuleName, __func__);
  if (GetFirstGuidHob(&gCustomPathHobGuid) != nullptr) {
    DebugPrint(DEBUG_INFO, "%a:%a() - Doing Custom Work\n", kModuleName, __func__);
    mBootPath = BOOT_PATH_CUSTOM;
    DoCustomWork();
  } else {
    DebugPrint(DEBUG_INFO, "%a:%a() - Doing Certified Work\n", kModuleName, __func__);
    mBootPath = BOOT_PATH_CERTIFIED;
    DoCertifiedWork();
  }
  return EFI_SUCCESS;
}
