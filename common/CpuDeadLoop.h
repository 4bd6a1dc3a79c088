// The one way firmware code stops the processor for good.
#ifndef ZEPHRIN_COMMON_CPU_DEAD_LOOP_H_
#define ZEPHRIN_COMMON_CPU_DEAD_LOOP_H_

#include "../uefi/UefiBaseType.h"

// Spins forever. C++ lets a compiler assume that a loop without side effects
// ends, and clang deletes an empty `for (;;) {}`: the caller then falls through
// into whatever code follows it. Every turn here reads and writes a volatile, a
// side effect the compiler must keep, so the loop stays in the image.
[[noreturn]] inline VOID CpuDeadLoop() {
  volatile UINTN Turns = 0;
  for (;;) Turns = Turns + 1;
}

#endif  // ZEPHRIN_COMMON_CPU_DEAD_LOOP_H_
