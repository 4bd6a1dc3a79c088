// Built like firmware code (no exceptions, no RTTI): the reset unwinds through it.
#include "tests/sim/NoExceptCaller.h"

int gLinesAfterReset = 0;

EFI_STATUS EFIAPI FirmwareStyleFatalPath(EFI_SYSTEM_TABLE *SystemTable) {
  UINT8 Cause[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  SystemTable->RuntimeServices->ResetSystem(EfiResetCold, EFI_ABORTED, sizeof(Cause), Cause);
  ++gLinesAfterReset;
  for (;;) {
  }
}
