#include "tests/qemu/Serial.h"

#include "tests/qemu/PortIo.h"

namespace {

constexpr UINT16 kCom1 = 0x3F8;
constexpr UINT16 kLineStatus = kCom1 + 5;
constexpr UINT8 kTransmitterEmpty = 0x20;
// A UART that never drains (no device behind the port) must not hang the boot:
// after this many polls the byte is written anyway.
constexpr UINT32 kMaxPolls = 100000;

}  // namespace

VOID SerialWrite(const CHAR8 *Buffer, UINTN Length) {
  if (Buffer == NULL) return;
  for (UINTN Index = 0; Index < Length; Index++) {
    for (UINT32 Poll = 0; Poll < kMaxPolls && (IoRead8(kLineStatus) & kTransmitterEmpty) == 0; Poll++) {
    }
    IoWrite8(kCom1, static_cast<UINT8>(Buffer[Index]));
  }
}
