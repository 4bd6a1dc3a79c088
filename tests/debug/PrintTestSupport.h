// Helpers shared by the formatter tests: run the formatter into a std::string.
#ifndef ZEPHRIN_TESTS_DEBUG_PRINT_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_DEBUG_PRINT_TEST_SUPPORT_H_

#include <string>

#include "acpi_dxe/core/DebugLib.h"

namespace debug_test {

// Formats into a buffer of the size DebugPrint uses and returns the text.
inline std::string Format(const char *FormatString, ...) {
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];
  VA_LIST Marker;
  VA_START(Marker, FormatString);
  AsciiVSPrintMarker(Buffer, sizeof(Buffer), PRINT_FLAGS_ASCII, FormatString, Marker);
  VA_END(Marker);
  return std::string(Buffer);
}

}  // namespace debug_test

#endif  // ZEPHRIN_TESTS_DEBUG_PRINT_TEST_SUPPORT_H_
