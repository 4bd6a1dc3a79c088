// Debug output of the PEI module. Unlike the DXE driver, the module formats
// nothing itself: the platform's debug-message PPI takes the level, the format
// and the argument list and prints them. The PPI is looked up for every message,
// because it may be installed (or reinstalled) while PEI runs.
#include "feature_control_pei/PeiServicesLib.h"
#include "product_data/ProductDataPlatform.h"
#include "uefi/Ppi/DebugMessage.h"

// The same filter as the DXE driver's: both images print the same levels.
#define DEBUG_PRINT_ERROR_LEVEL_MASK 0x80080246

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  if ((ErrorLevel & DEBUG_PRINT_ERROR_LEVEL_MASK) == 0) return;
  VOID *Ppi = NULL;
  if (EFI_ERROR(PeiLocatePpi(&gDebugMessagePpiGuid, 0, &Ppi)) || Ppi == NULL) return;
  DEBUG_MESSAGE_PPI *DebugMessage = static_cast<DEBUG_MESSAGE_PPI *>(Ppi);
  if (DebugMessage->PrintMessage == NULL) return;
  VA_LIST Marker;
  VA_START(Marker, Format);
  DebugMessage->PrintMessage(ErrorLevel, Format, Marker);
  VA_END(Marker);
}
