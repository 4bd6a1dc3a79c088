// Event groups a UEFI core signals on its own.
#ifndef ZEPHRIN_UEFI_GUID_EVENT_GROUP_H_
#define ZEPHRIN_UEFI_GUID_EVENT_GROUP_H_

#include "../UefiBaseType.h"

// Signalled by ExitBootServices (system table revision 2.80 on) before it
// tears down boot services.
inline constexpr EFI_GUID gEfiEventBeforeExitBootServicesGuid = {
    0x8BE0E274, 0x3970, 0x4B44, {0x80, 0xC5, 0x1A, 0xB9, 0x50, 0x2F, 0x3B, 0xFC}};

#endif  // ZEPHRIN_UEFI_GUID_EVENT_GROUP_H_
