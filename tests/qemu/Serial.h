// The COM1 UART (16550 at I/O port 0x3F8), which OVMF has already programmed
// for its own console: the test platform's debug-message protocol writes the
// driver's messages here, so they reach the serial log of the QEMU run.
#ifndef ZEPHRIN_TESTS_QEMU_SERIAL_H_
#define ZEPHRIN_TESTS_QEMU_SERIAL_H_

#include "uefi/UefiBaseType.h"

VOID SerialWrite(const CHAR8 *Buffer, UINTN Length);

#endif  // ZEPHRIN_TESTS_QEMU_SERIAL_H_
