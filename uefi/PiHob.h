// HOB list layout of the PI specification (volume 3): the generic header, the
// GUID-extension HOB and the end-of-list marker.
#ifndef ZEPHRIN_UEFI_PI_HOB_H_
#define ZEPHRIN_UEFI_PI_HOB_H_

#include "UefiBaseType.h"

#define EFI_HOB_TYPE_HANDOFF 0x0001
#define EFI_HOB_TYPE_MEMORY_ALLOCATION 0x0002
#define EFI_HOB_TYPE_RESOURCE_DESCRIPTOR 0x0003
#define EFI_HOB_TYPE_GUID_EXTENSION 0x0004
#define EFI_HOB_TYPE_FV 0x0005
#define EFI_HOB_TYPE_UNUSED 0xFFFE
#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "EFI_HOB_GENERIC_HEADER layout");

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  // Data follows at byte 24.
} EFI_HOB_GUID_TYPE;
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "EFI_HOB_GUID_TYPE layout");

#endif  // ZEPHRIN_UEFI_PI_HOB_H_
