#ifndef ZEPHRIN_TESTS_SIM_NO_EXCEPT_CALLER_H_
#define ZEPHRIN_TESTS_SIM_NO_EXCEPT_CALLER_H_

#include "uefi/UefiSpec.h"

extern int gLinesAfterReset;
EFI_STATUS EFIAPI FirmwareStyleFatalPath(EFI_SYSTEM_TABLE *SystemTable);

#endif  // ZEPHRIN_TESTS_SIM_NO_EXCEPT_CALLER_H_
