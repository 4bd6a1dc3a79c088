// The one AML name finder and PkgLength decoder. The driver itself never searches
// AML (the meta data carries byte offsets); this finder produces those offsets
// from a compiled table, for the tools that write meta data and for checking that
// a locator still names what it claims to.
//
// The walk follows the whole AML term grammar: every opcode's operands are read by
// their shape (names, integers, strings, packages, nested expressions, field
// lists), inside Method bodies and If/Else/While blocks too, so that it can step
// over everything it does not report. A method invocation takes as many operands
// as its Method (or External) declaration says; a first pass over the table
// learns those declarations, so calls to methods declared later parse as well.
// Only the reader touches the table, every PkgLength is checked against the
// package that holds it, and nesting is bounded (AML_WALK_MAX_*), never recursed
// into without a limit.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_

#include "acpi_dxe/capture/AmlObjectLocator.h"
#include "common/ByteReader.h"
#include "uefi/UefiBaseType.h"

// Decodes the PkgLength at the reader's position and moves past it. *PkgLength is
// the encoded value, which counts the PkgLength bytes themselves. FALSE for a
// truncated encoding or a multi-byte lead whose reserved bits 4 and 5 are set.
BOOLEAN AmlDecodePkgLength(ByteReader *Reader, UINT32 *PkgLength);

// Bytes a PkgLength of Value needs (1..4), 0 when Value exceeds 2^28 - 1.
UINT8 AmlPkgLengthEncodedSize(UINT32 Value);

// Deepest namespace path, nesting of packages (scopes, method bodies, If/Else/
// While blocks), nesting of the packages among them that open a scope, and
// nesting of operands inside one term the walk follows. Real tables stay below:
// \_SB.PCI0.LPCB.EC0 is four segments, but a chain of ElseIf is an Else holding
// an If, two packages per case, and firmware writes chains of a hundred cases.
#define AML_WALK_MAX_PATH_DEPTH 24
#define AML_WALK_MAX_PACKAGE_DEPTH 512
#define AML_WALK_MAX_SCOPE_DEPTH 48
#define AML_WALK_MAX_TERM_DEPTH 64

typedef enum {
  AmlNamedObjectName = 1,           // DefName: Name (XXXX, <data>)
  AmlNamedObjectOpRegion = 2,       // DefOpRegion: OperationRegion (XXXX, space, offset, length)
  AmlNamedObjectScope = 3,          // DefScope
  AmlNamedObjectDevice = 4,         // DefDevice
  AmlNamedObjectProcessor = 5,      // DefProcessor
  AmlNamedObjectPowerResource = 6,  // DefPowerRes
  AmlNamedObjectThermalZone = 7,    // DefThermalZone
  AmlNamedObjectMethod = 8,         // DefMethod
} AML_NAMED_OBJECT_KIND;

// An absolute namespace path: NameSegs from the root, "_SB_" as 0x5F42535F.
typedef struct {
  UINT8 Depth;
  UINT32 Segs[AML_WALK_MAX_PATH_DEPTH];
} AML_PATH;

typedef struct {
  AML_NAMED_OBJECT_KIND Kind;
  AML_PATH Path;            // absolute path of the object
  UINT32 OpcodeOffset;      // table offset of the declaring opcode (0x5B for extended ones)
  UINT32 NameOffset;        // table offset of the object's last NameSeg; 0 for Scope (\)
  UINT32 TermOffset;        // Name: the value term; OpRegion: the RegionOffset term; else 0
  UINT8 PrefixByte;         // first opcode of that term
  UINT32 ValueOffset;       // TermOffset + 1 when PrefixByte is an integer prefix, else 0
  UINT8 RegionSpace;        // OpRegion only
  UINT32 LengthTermOffset;  // OpRegion only: the RegionLen term
  UINT8 LengthPrefixByte;   // OpRegion only: first opcode of the RegionLen term
} AML_NAMED_OBJECT;

// One Method or External(MethodObj) declaration the walk has learnt: a hash of
// its absolute path (0 marks a free slot) and its argument count.
typedef struct {
  UINT64 Key;
  UINT8 ArgCount;
} AML_METHOD_SLOT;

// Slots a walk of a table of TableLength bytes may need: every Method and
// External declaration takes at least 7 bytes, and the table is kept at most
// half full.
UINTN AmlMethodSlotsFor(UINT32 TableLength);

// A package the walk is inside: where it ends and what it is.
typedef struct {
  UINT32 End;
  BOOLEAN Code;    // a Method body or an If/Else/While block
  BOOLEAN Scoped;  // its body is in its own scope (every package but If/Else/While)
} AML_WALK_PACKAGE;

// State of a walk over one table, filled by AmlWalkStart; the fields are the
// walker's.
typedef struct {
  const UINT8 *Table;
  UINT32 TableLength;
  ByteReader Reader;                                      // over the whole table
  AML_PATH Current;                                       // scope the next term is in
  AML_WALK_PACKAGE Packages[AML_WALK_MAX_PACKAGE_DEPTH];  // entered packages, innermost last
  UINT16 PackageCount;
  // The scope outside each entered Scoped package, innermost last. A body may
  // name any scope (Scope (\_GPE) inside a Device), so the whole path is kept.
  AML_PATH Outer[AML_WALK_MAX_SCOPE_DEPTH];
  UINT8 ScopeCount;
  AML_METHOD_SLOT *Slots;  // the caller's storage for learnt methods
  UINTN SlotCount;
  BOOLEAN Learning;        // first pass: record methods, report nothing
  UINT32 SkippedBodies;    // code packages left early because a term in them did not parse
  UINT32 FirstSkipOffset;  // table offset of the first term that did not parse
  UINT32 ErrorOffset;      // table offset of the term that ended the walk with EFI_COMPROMISED_DATA
} AML_WALK;

// Starts a walk of Table (header included; its Length bounds the walk) and runs
// the first pass that learns the Method and External declarations. Slots must
// hold AmlMethodSlotsFor(Length) entries; they are cleared here.
// EFI_BUFFER_TOO_SMALL when SlotCount is below that, EFI_COMPROMISED_DATA for
// AML that breaks the grammar outside any method body or If/Else/While block.
EFI_STATUS AmlWalkStart(AML_WALK *Walk, const UINT8 *Table, AML_METHOD_SLOT *Slots, UINTN SlotCount);

// The next named object in table order. EFI_NOT_FOUND at the end of the table,
// EFI_COMPROMISED_DATA as above. A term inside a method body or an If/Else/While
// block that does not parse (an invocation of a method declared in another table
// with no External, or bad AML) ends that block early: the walk goes on behind it
// and counts it in SkippedBodies.
EFI_STATUS AmlWalkNext(AML_WALK *Walk, AML_NAMED_OBJECT *Object);

// Writes Path as ASL does ("\\_SB_.PCI0.GNVS", "\\" for the root) into Text,
// NUL-terminated; FALSE when it does not fit in Size bytes.
BOOLEAN AmlPathToText(const AML_PATH *Path, CHAR8 *Text, UINTN Size);

// Parses an absolute path as ASL writes it ("\\GNVS", "\\_SB.PCI0.NVSR";
// segments shorter than four characters are padded with '_'). FALSE for an empty
// or overlong segment.
BOOLEAN AmlPathFromText(const CHAR8 *Text, AML_PATH *Path);

BOOLEAN AmlPathEqual(const AML_PATH *A, const AML_PATH *B);

// Finds the first object declared with the absolute path Path. Slots as for
// AmlWalkStart. EFI_NOT_FOUND when the walk ends without it.
EFI_STATUS AmlFindNamedObject(const UINT8 *Table, const CHAR8 *Path, AML_METHOD_SLOT *Slots, UINTN SlotCount,
                              AML_NAMED_OBJECT *Found);

// Fills a locator (PathName, NameOffset, PrefixByte, ValueOffset) for the found
// object; EFI_UNSUPPORTED when its term is not a prefixed integer constant.
EFI_STATUS AmlBuildLocator(const CHAR8 *Path, const AML_NAMED_OBJECT *Found, AML_OBJECT_LOCATOR *Locator);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_AML_NAME_FINDER_H_
