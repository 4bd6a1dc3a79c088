// PI status code runtime protocol and the status code data header.
#ifndef ZEPHRIN_UEFI_PROTOCOL_STATUS_CODE_H_
#define ZEPHRIN_UEFI_PROTOCOL_STATUS_CODE_H_

#include "../UefiBaseType.h"

typedef UINT32 EFI_STATUS_CODE_TYPE;
typedef UINT32 EFI_STATUS_CODE_VALUE;

#define EFI_STATUS_CODE_TYPE_MASK 0x000000FF
#define EFI_PROGRESS_CODE 0x00000001
#define EFI_ERROR_CODE 0x00000002
#define EFI_DEBUG_CODE 0x00000003
#define EFI_ERROR_MAJOR 0x80000000

typedef struct {
  UINT16 HeaderSize;
  UINT16 Size;
  EFI_GUID Type;
} EFI_STATUS_CODE_DATA;
static_assert(sizeof(EFI_STATUS_CODE_DATA) == 20, "EFI_STATUS_CODE_DATA layout");
static_assert(OFFSET_OF(EFI_STATUS_CODE_DATA, Type) == 4, "EFI_STATUS_CODE_DATA.Type offset");

typedef struct {
  EFI_STATUS(EFIAPI *ReportStatusCode)
  (EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance, const EFI_GUID *CallerId,
   EFI_STATUS_CODE_DATA *Data);
} EFI_STATUS_CODE_PROTOCOL;

inline constexpr EFI_GUID gEfiStatusCodeRuntimeProtocolGuid = {
    0xD2B2B828, 0x0826, 0x48A7, {0xB3, 0xDF, 0x98, 0x3C, 0x00, 0x60, 0x24, 0xF0}};

#endif  // ZEPHRIN_UEFI_PROTOCOL_STATUS_CODE_H_
