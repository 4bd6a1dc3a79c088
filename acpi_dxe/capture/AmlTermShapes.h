// AML opcodes and the shapes of their operands, for the walk that steps over terms
// it does not report (AmlNameFinder). A shape is a string, one character per
// operand in AML order:
//   b, w, d, q  1, 2, 4 or 8 bytes of immediate data
//   z           a NUL-terminated ASCII string
//   n           a NameString that is declared or referred to (never a call)
//   t           a TermArg: data, ArgN/LocalN, an expression or a method invocation
//   s           a SuperName or Target: a name there is never a call; NullName allowed
//   p           the rest of a Buffer, Package or VarPackage, as its PkgLength says
// The declarations that open a package or that the walk reports (Name, Scope,
// Method, External, If/Else/While, OperationRegion, fields, Device and the other
// scope objects) are handled by the walk itself and have no shape here.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_AML_TERM_SHAPES_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_AML_TERM_SHAPES_H_

#include "uefi/UefiBaseType.h"

#define AML_ALIAS_OP 0x06
#define AML_NAME_OP 0x08
#define AML_STRING_PREFIX 0x0D
#define AML_SCOPE_OP 0x10
#define AML_BUFFER_OP 0x11
#define AML_PACKAGE_OP 0x12
#define AML_VAR_PACKAGE_OP 0x13
#define AML_METHOD_OP 0x14
#define AML_EXTERNAL_OP 0x15
#define AML_DUAL_NAME_PREFIX 0x2E
#define AML_MULTI_NAME_PREFIX 0x2F
#define AML_EXT_OP_PREFIX 0x5B
#define AML_ROOT_CHAR 0x5C
#define AML_PARENT_PREFIX 0x5E
#define AML_IF_OP 0xA0
#define AML_ELSE_OP 0xA1
#define AML_WHILE_OP 0xA2
// Second bytes after AML_EXT_OP_PREFIX.
#define AML_OP_REGION_OP 0x80
#define AML_FIELD_OP 0x81
#define AML_DEVICE_OP 0x82
#define AML_PROCESSOR_OP 0x83
#define AML_POWER_RES_OP 0x84
#define AML_THERMAL_ZONE_OP 0x85
#define AML_INDEX_FIELD_OP 0x86
#define AML_BANK_FIELD_OP 0x87
// ObjectType operand of External for a method.
#define AML_METHOD_OBJECT_TYPE 8

// Operand shape of a one-byte opcode (any byte but a NameString's first), or NULL
// for a byte that is no opcode and for the declarations the walk handles itself.
const CHAR8 *AmlOperandShape(UINT8 Opcode);

// The same for the byte after AML_EXT_OP_PREFIX.
const CHAR8 *AmlExtendedOperandShape(UINT8 Opcode);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_AML_TERM_SHAPES_H_
