// How meta data and entries name a value inside a table's AML: by byte offsets into
// the table as the platform built it (there is no AML interpreter in the driver),
// and how a "Type 2" field names a value inside another NVS region.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_AML_OBJECT_LOCATOR_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_AML_OBJECT_LOCATOR_H_

#include "uefi/UefiBaseType.h"

// AML integer prefix opcodes; the constant's data bytes follow directly.
#define AML_ZERO_OP 0x00
#define AML_ONE_OP 0x01
#define AML_BYTE_PREFIX 0x0A
#define AML_WORD_PREFIX 0x0B
#define AML_DWORD_PREFIX 0x0C
#define AML_QWORD_PREFIX 0x0E
#define AML_ONES_OP 0xFF

#define AML_OBJECT_PATH_NAME_SIZE 66
#define AML_NAME_SEG_SIZE 4

#pragma pack(push, 1)
typedef struct {
  CHAR8 PathName[AML_OBJECT_PATH_NAME_SIZE];  // ASCII ACPI path, NUL-terminated; logs only
  UINT32 NameOffset;                          // table offset of the object's NameSeg
  UINT8 PrefixByte;                           // integer prefix opcode of the constant
  UINT32 ValueOffset;                         // table offset of the data byte after PrefixByte
  UINT8 Reserved[8];                          // carried unchanged
} AML_OBJECT_LOCATOR;
#pragma pack(pop)
static_assert(sizeof(AML_OBJECT_LOCATOR) == 83, "AML_OBJECT_LOCATOR size");
static_assert(OFFSET_OF(AML_OBJECT_LOCATOR, NameOffset) == 66, "NameOffset");
static_assert(OFFSET_OF(AML_OBJECT_LOCATOR, PrefixByte) == 70, "PrefixByte");
static_assert(OFFSET_OF(AML_OBJECT_LOCATOR, ValueOffset) == 71, "ValueOffset");
static_assert(OFFSET_OF(AML_OBJECT_LOCATOR, Reserved) == 75, "Reserved");

// Where a Type 2 value lives.
#define UNSUPPORTED_TYPE_2_NVS_MODE 1  // nowhere: reads and writes are unsupported
#define FIELD_TYPE_2_NVS_MODE 2        // in the parent region, at Offset
#define LITERAL_TYPE_2_NVS_MODE 3      // Offset itself is the value

// SizeIndicator 1..4 selects a field of 1, 2, 4 or 8 bytes.
#define TYPE_2_NVS_SIZE_INDICATOR_MIN 1
#define TYPE_2_NVS_SIZE_INDICATOR_MAX 4

#pragma pack(push, 1)
// The address field carries a 64-bit Offset ...
typedef struct {
  UINT8 Mode;
  UINT8 SizeIndicator;
  UINT8 Reserved[4];
  UINT64 Offset;
} TYPE_2_NVS_FIELD;
// ... the length field that follows it only a 32-bit one.
typedef struct {
  UINT8 Mode;
  UINT8 SizeIndicator;
  UINT8 Reserved[4];
  UINT32 Offset;
} TYPE_2_NVS_LENGTH_FIELD;
#pragma pack(pop)
static_assert(sizeof(TYPE_2_NVS_FIELD) == 14, "TYPE_2_NVS_FIELD size");
static_assert(OFFSET_OF(TYPE_2_NVS_FIELD, Offset) == 6, "TYPE_2_NVS_FIELD Offset");
static_assert(sizeof(TYPE_2_NVS_LENGTH_FIELD) == 10, "TYPE_2_NVS_LENGTH_FIELD size");
static_assert(OFFSET_OF(TYPE_2_NVS_LENGTH_FIELD, Offset) == 6, "TYPE_2_NVS_LENGTH_FIELD Offset");

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_AML_OBJECT_LOCATOR_H_
