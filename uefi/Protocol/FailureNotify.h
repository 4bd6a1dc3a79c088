// The platform's failure-notification protocol. Only its first member is fixed:
// a function told a code and an optional data block; its result is advisory.
#ifndef ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_
#define ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_

#include "../UefiBaseType.h"

typedef EFI_STATUS(EFIAPI *FAILURE_NOTIFY)(UINT32 Code, const VOID *Data, UINT16 DataSize);

typedef struct {
  FAILURE_NOTIFY Notify;
} FAILURE_NOTIFY_PROTOCOL;

inline constexpr EFI_GUID gFailureNotifyProtocolGuid = {
    0x427CF399, 0x3161, 0x45C0, {0xB4, 0x8D, 0x61, 0x59, 0x30, 0x9E, 0x71, 0x07}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_
