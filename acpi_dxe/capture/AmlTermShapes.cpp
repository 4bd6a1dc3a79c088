// Operand shapes of the AML opcodes (ACPI 6.3, section 20.2), in opcode order.
#include "acpi_dxe/capture/AmlTermShapes.h"

namespace {

struct AmlShape {
  UINT8 Opcode;
  const CHAR8 *Operands;
};

const AmlShape kShapes[] = {
    {0x00, ""},  // ZeroOp
    {0x01, ""},  // OneOp
    {AML_ALIAS_OP, "nn"},
    {0x0A, "b"},  // BytePrefix
    {0x0B, "w"},  // WordPrefix
    {0x0C, "d"},  // DWordPrefix
    {AML_STRING_PREFIX, "z"},
    {0x0E, "q"},  // QWordPrefix
    {AML_BUFFER_OP, "p"},
    {AML_PACKAGE_OP, "p"},
    {AML_VAR_PACKAGE_OP, "p"},
    {0x70, "ts"},      // Store
    {0x71, "s"},       // RefOf
    {0x72, "tts"},     // Add
    {0x73, "tts"},     // Concat
    {0x74, "tts"},     // Subtract
    {0x75, "s"},       // Increment
    {0x76, "s"},       // Decrement
    {0x77, "tts"},     // Multiply
    {0x78, "ttss"},    // Divide: dividend, divisor, remainder, quotient
    {0x79, "tts"},     // ShiftLeft
    {0x7A, "tts"},     // ShiftRight
    {0x7B, "tts"},     // And
    {0x7C, "tts"},     // NAnd
    {0x7D, "tts"},     // Or
    {0x7E, "tts"},     // NOr
    {0x7F, "tts"},     // XOr
    {0x80, "ts"},      // Not
    {0x81, "ts"},      // FindSetLeftBit
    {0x82, "ts"},      // FindSetRightBit
    {0x83, "t"},       // DerefOf
    {0x84, "tts"},     // ConcatRes
    {0x85, "tts"},     // Mod
    {0x86, "st"},      // Notify
    {0x87, "s"},       // SizeOf
    {0x88, "tts"},     // Index
    {0x89, "tbtbtt"},  // Match
    {0x8A, "ttn"},     // CreateDWordField
    {0x8B, "ttn"},     // CreateWordField
    {0x8C, "ttn"},     // CreateByteField
    {0x8D, "ttn"},     // CreateBitField
    {0x8E, "s"},       // ObjectType
    {0x8F, "ttn"},     // CreateQWordField
    {0x90, "tt"},      // LAnd
    {0x91, "tt"},      // LOr
    {0x92, "t"},       // LNot (LNotEqual and the like are LNot of the comparison)
    {0x93, "tt"},      // LEqual
    {0x94, "tt"},      // LGreater
    {0x95, "tt"},      // LLess
    {0x96, "ts"},      // ToBuffer
    {0x97, "ts"},      // ToDecimalString
    {0x98, "ts"},      // ToHexString
    {0x99, "ts"},      // ToInteger
    {0x9C, "tts"},     // ToString
    {0x9D, "ts"},      // CopyObject
    {0x9E, "ttts"},    // Mid
    {0x9F, ""},        // Continue
    {0xA3, ""},        // Noop
    {0xA4, "t"},       // Return
    {0xA5, ""},        // Break
    {0xCC, ""},        // BreakPoint
    {0xFF, ""},        // OnesOp
};

const AmlShape kExtendedShapes[] = {
    {0x01, "nb"},      // Mutex: name, SyncFlags
    {0x02, "n"},       // Event
    {0x12, "ss"},      // CondRefOf
    {0x13, "tttn"},    // CreateField
    {0x1F, "tttttt"},  // LoadTable
    {0x20, "ns"},      // Load
    {0x21, "t"},       // Stall
    {0x22, "t"},       // Sleep
    {0x23, "sw"},      // Acquire: mutex, timeout
    {0x24, "s"},       // Signal
    {0x25, "st"},      // Wait
    {0x26, "s"},       // Reset
    {0x27, "s"},       // Release
    {0x28, "ts"},      // FromBCD
    {0x29, "ts"},      // ToBCD
    {0x2A, "s"},       // Unload
    {0x30, ""},        // Revision
    {0x31, ""},        // Debug
    {0x32, "bdt"},     // Fatal: type, code, argument
    {0x33, ""},        // Timer
    {0x88, "nttt"},    // DataTableRegion: name, signature, OEM ID, OEM table ID
};

const CHAR8 *AmlFindShape(const AmlShape *Shapes, UINTN Count, UINT8 Opcode) {
  for (UINTN Index = 0; Index < Count; Index++) {
    if (Shapes[Index].Opcode == Opcode) return Shapes[Index].Operands;
  }
  return nullptr;
}

}  // namespace

const CHAR8 *AmlOperandShape(UINT8 Opcode) {
  if (Opcode >= 0x60 && Opcode <= 0x6E) return "";  // Local0-Local7, Arg0-Arg6
  return AmlFindShape(kShapes, sizeof(kShapes) / sizeof(kShapes[0]), Opcode);
}

const CHAR8 *AmlExtendedOperandShape(UINT8 Opcode) {
  return AmlFindShape(kExtendedShapes, sizeof(kExtendedShapes) / sizeof(kExtendedShapes[0]), Opcode);
}
