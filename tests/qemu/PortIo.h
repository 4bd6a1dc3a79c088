// x86 port I/O for the test-platform images: fw_cfg and the COM1 UART.
#ifndef ZEPHRIN_TESTS_QEMU_PORT_IO_H_
#define ZEPHRIN_TESTS_QEMU_PORT_IO_H_

#include "uefi/UefiBaseType.h"

inline UINT8 IoRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

inline VOID IoWrite8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %0, %1" : : "a"(Value), "Nd"(Port));
}

inline VOID IoWrite16(UINT16 Port, UINT16 Value) {
  __asm__ __volatile__("outw %0, %1" : : "a"(Value), "Nd"(Port));
}

#endif  // ZEPHRIN_TESTS_QEMU_PORT_IO_H_
