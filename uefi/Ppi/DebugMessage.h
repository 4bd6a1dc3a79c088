// The platform's debug-message PPI, which prints the PEI module's messages. It
// formats them itself: the module hands it the level, the format string and the
// argument list untouched. Only the fourth pointer-sized member is fixed; the
// three before it belong to the platform and are never touched.
#ifndef ZEPHRIN_UEFI_PPI_DEBUG_MESSAGE_H_
#define ZEPHRIN_UEFI_PPI_DEBUG_MESSAGE_H_

#include "../UefiBaseType.h"

typedef VOID(EFIAPI *DEBUG_MESSAGE_PPI_PRINT)(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);

typedef struct {
  VOID *Reserved[3];
  DEBUG_MESSAGE_PPI_PRINT PrintMessage;
} DEBUG_MESSAGE_PPI;
static_assert(OFFSET_OF(DEBUG_MESSAGE_PPI, PrintMessage) == 3 * sizeof(VOID *),
              "DEBUG_MESSAGE_PPI.PrintMessage is the fourth pointer-sized member");

inline constexpr EFI_GUID gDebugMessagePpiGuid = {
    0x47F1B6DF, 0xCF35, 0x46A7, {0xB2, 0x84, 0x7D, 0x4D, 0xBA, 0x5F, 0xF4, 0x34}};

#endif  // ZEPHRIN_UEFI_PPI_DEBUG_MESSAGE_H_
