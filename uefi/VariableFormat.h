// Non-volatile variable store layout: the firmware volume that holds the store
// (file system GUID of the NV data volume), the variable store header that
// follows the volume header, and the variable headers in their plain and
// authenticated forms. Headers start 4-byte aligned from the volume's start;
// a variable's data follows its name without padding.
#ifndef ZEPHRIN_UEFI_VARIABLE_FORMAT_H_
#define ZEPHRIN_UEFI_VARIABLE_FORMAT_H_

#include "UefiBaseType.h"

// File system GUID of the firmware volume that carries the variable store.
inline constexpr EFI_GUID gEfiSystemNvDataFvGuid = {
    0xFFF12B8D, 0x7696, 0x4C8B, {0xA9, 0x85, 0x27, 0x47, 0x07, 0x5B, 0x4F, 0x50}};
// Store signatures: plain variable headers, or authenticated ones.
inline constexpr EFI_GUID gEfiVariableGuid = {
    0xDDCF3616, 0x3275, 0x4164, {0x98, 0xB6, 0xFE, 0x85, 0x70, 0x7F, 0xFE, 0x7D}};
inline constexpr EFI_GUID gEfiAuthenticatedVariableGuid = {
    0xAAF32C78, 0x947B, 0x439A, {0xA1, 0x80, 0x2E, 0x14, 0x4E, 0xC3, 0x77, 0x92}};

#define VARIABLE_STORE_FORMATTED 0x5A
#define VARIABLE_STORE_HEALTHY 0xFE
#define VARIABLE_DATA 0x55AA
#define VARIABLE_HEADER_ALIGNMENT 4

// Variable states. A state byte starts erased (0xFF) and each step clears bits,
// so a variable's state is the AND of the steps it went through:
// header written 0x7F, data written 0x3F, old copy marked 0x3E, deleted 0x3C.
#define VAR_IN_DELETED_TRANSITION 0xFE
#define VAR_DELETED 0xFD
#define VAR_HEADER_VALID_ONLY 0x7F
#define VAR_ADDED 0x3F

#pragma pack(push, 1)
typedef struct {
  EFI_GUID Signature;  // gEfiVariableGuid or gEfiAuthenticatedVariableGuid
  UINT32 Size;         // this header and the variables area after it
  UINT8 Format;        // VARIABLE_STORE_FORMATTED
  UINT8 State;         // VARIABLE_STORE_HEALTHY
  UINT16 Reserved;
  UINT32 Reserved1;
} VARIABLE_STORE_HEADER;

typedef struct {
  UINT16 StartId;  // VARIABLE_DATA
  UINT8 State;
  UINT8 Reserved;
  UINT32 Attributes;
  UINT32 NameSize;  // bytes of the UCS-2 name, terminator included
  UINT32 DataSize;
  EFI_GUID VendorGuid;
} VARIABLE_HEADER;

typedef struct {
  UINT16 StartId;
  UINT8 State;
  UINT8 Reserved;
  UINT32 Attributes;
  UINT64 MonotonicCount;
  EFI_TIME TimeStamp;
  UINT32 PubKeyIndex;
  UINT32 NameSize;
  UINT32 DataSize;
  EFI_GUID VendorGuid;
} AUTHENTICATED_VARIABLE_HEADER;
#pragma pack(pop)

static_assert(sizeof(VARIABLE_STORE_HEADER) == 28, "VARIABLE_STORE_HEADER layout");
static_assert(OFFSET_OF(VARIABLE_STORE_HEADER, Format) == 20, "store Format offset");
static_assert(sizeof(VARIABLE_HEADER) == 32, "VARIABLE_HEADER layout");
static_assert(OFFSET_OF(VARIABLE_HEADER, State) == 2, "State offset");
static_assert(OFFSET_OF(VARIABLE_HEADER, NameSize) == 8, "plain NameSize offset");
static_assert(OFFSET_OF(VARIABLE_HEADER, VendorGuid) == 16, "plain VendorGuid offset");
static_assert(sizeof(AUTHENTICATED_VARIABLE_HEADER) == 60, "AUTHENTICATED_VARIABLE_HEADER layout");
static_assert(OFFSET_OF(AUTHENTICATED_VARIABLE_HEADER, MonotonicCount) == 8, "MonotonicCount offset");
static_assert(OFFSET_OF(AUTHENTICATED_VARIABLE_HEADER, TimeStamp) == 16, "TimeStamp offset");
static_assert(OFFSET_OF(AUTHENTICATED_VARIABLE_HEADER, NameSize) == 36, "auth NameSize offset");
static_assert(OFFSET_OF(AUTHENTICATED_VARIABLE_HEADER, VendorGuid) == 44, "auth VendorGuid offset");

#endif  // ZEPHRIN_UEFI_VARIABLE_FORMAT_H_
