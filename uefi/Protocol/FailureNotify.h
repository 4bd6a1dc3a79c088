// The platform's failure-notification protocol. Only its first member is fixed:
// a function told a code and an optional data block; its result is advisory.
#ifndef ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_
#define ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_

#include "../UefiBaseType.h"

typedef EFI_STATUS(EFIAPI *FAILURE_NOTIFY)(UINT32 Code, const VOID *Data, UINT16 DataSize);

typedef struct {
  FAILURE_NOTIFY Notify;
} FAILURE_NOTIFY_PROTOCOL;

#endif  // ZEPHRIN_UEFI_PROTOCOL_FAILURE_NOTIFY_H_
