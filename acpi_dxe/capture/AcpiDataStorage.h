// ACPI data storage entries: the unit in which the custom path records the
// platform's ACPI tables and the boot-time values inside them. Each entry is the
// payload of one blob. Table entries hold one ACPI table (or only its header when
// the body comes from a firmware-volume file at restore time); element entries hold
// one value captured from the AML of the DSDT or an SSDT: an NVS region's contents
// with its length, or a named integer constant.
//
// An element entry is a copy of the leading bytes of the meta data record that
// asked for it, header rewritten and captured data appended, so the same 32-byte
// header and the same element layouts serve both entries and meta data records.
// All structures are byte-packed and little-endian; several fields sit at odd
// offsets, so read them through the packed structs or the checked reader only.
#ifndef ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_DATA_STORAGE_H_
#define ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_DATA_STORAGE_H_

#include "acpi_dxe/capture/AmlObjectLocator.h"
#include "uefi/Acpi.h"
#include "uefi/UefiBaseType.h"

#define ACPI_DATA_STORAGE_ENTRY_REVISION 1
#define ACPI_DATA_STORAGE_ENTRY_SIGNATURE 0xFF00AA0000AA00FFULL  // bytes FF 00 AA 00 00 AA 00 FF

enum AcpiDataType : UINT32 {
  AcpiDataTypeFadt = 1,
  AcpiDataTypeFacs = 2,
  AcpiDataTypeDsdt = 3,            // the DSDT and its elements
  AcpiDataTypeAcpiDataTables = 4,  // any other XSDT table except an SSDT
  AcpiDataTypeSsdt = 5,            // an SSDT and its elements
};

enum AcpiDataSubType : UINT32 {
  AcpiDataSubTypeFromStorage = 1,  // meta data only: installed from its entry
  AcpiDataSubTypeDoNotStore = 2,   // meta data only: not stored
  AcpiDataSubTypeTable = 3,        // the complete table follows the header
  AcpiDataSubTypeFromFv = 4,       // the body comes from a firmware-volume file
  AcpiDataSubTypeNvs = 5,
  AcpiDataSubTypeNonNvs = 6,   // SSDT only
  AcpiDataSubTypeInteger = 7,  // DSDT only
};

// Where an NVS element's region address and length come from. Log messages call
// AcpiDataNvsType1 "Type 1" and AcpiDataNvsType2 "Type 2".
enum AcpiDataNvsType : UINT32 {
  AcpiDataNvsTypeNone = 0,     // table entries and integer elements
  AcpiDataNvsTypeDefault = 1,  // a DefOpRegion's RegionOffset and RegionLen terms
  AcpiDataNvsType1 = 2,        // two named integer constants: address and length
  AcpiDataNvsType2 = 3,        // two fields of a parent NVS region
};

// What the certified path patches into a DSDT integer. An entry always carries
// AcpiDataIntegerTypeDefault; the meta data record says what is really done.
enum AcpiDataIntegerType : UINT32 {
  AcpiDataIntegerTypeStored = 1,
  AcpiDataIntegerTypeNotStored = 2,
  AcpiDataIntegerTypeDefault = 3,
  AcpiDataIntegerTypeVariable = 4,
};

#pragma pack(push, 1)
typedef struct {
  UINT32 Revision;                          // ACPI_DATA_STORAGE_ENTRY_REVISION
  EFI_ACPI_COMMON_HEADER AcpiCommonHeader;  // table signature; whole entry length
  UINT32 AcpiDataType;
  UINT32 AcpiDataSubType;
  UINT32 AcpiDataNvsType;
  UINT64 EntrySignature;  // ACPI_DATA_STORAGE_ENTRY_SIGNATURE (Rank etc. in a record)
} ACPI_DATA_STORAGE_ENTRY_HEADER;

// The first 151 bytes of every element entry and element record.
typedef struct {
  ACPI_DATA_STORAGE_ENTRY_HEADER Header;
  EFI_ACPI_DESCRIPTION_HEADER TableHeader;  // OemTableId names an SSDT element's SSDT
  AML_OBJECT_LOCATOR Locator;
} ACPI_DATA_STORAGE_ELEMENT;

typedef struct {
  ACPI_DATA_STORAGE_ELEMENT Common;  // Locator: the DefOpRegion's RegionOffset term
  UINT64 NvsLength;
} ACPI_DATA_STORAGE_NVS_DEFAULT;

typedef struct {
  ACPI_DATA_STORAGE_ELEMENT Common;  // Locator: the constant holding the address
  AML_OBJECT_LOCATOR LengthLocator;  // the constant holding the length
  UINT64 NvsLength;
} ACPI_DATA_STORAGE_NVS_TYPE_1;

typedef struct {
  ACPI_DATA_STORAGE_ELEMENT Common;  // Locator: the parent region's DefOpRegion
  TYPE_2_NVS_FIELD AddressField;
  TYPE_2_NVS_LENGTH_FIELD LengthField;
  UINT64 NvsLength;
} ACPI_DATA_STORAGE_NVS_TYPE_2;

typedef struct {
  ACPI_DATA_STORAGE_ELEMENT Common;  // Locator: the integer constant
  UINT8 Reserved;
  UINT32 AcpiDataIntegerType;
  UINT64 Value;  // capture time value (entry) or default value (record)
  CHAR16 VariableName[16];
  EFI_GUID VendorGuid;
  UINT32 Attributes;
} ACPI_DATA_STORAGE_INTEGER;
#pragma pack(pop)

static_assert(sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) == 32, "entry header size");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiCommonHeader) == 4, "entry Signature");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataType) == 12, "entry AcpiDataType");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataSubType) == 16, "entry AcpiDataSubType");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataNvsType) == 20, "entry AcpiDataNvsType");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, EntrySignature) == 24, "entry EntrySignature");
static_assert(sizeof(ACPI_DATA_STORAGE_ELEMENT) == 151, "element common part");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, TableHeader) == 32, "element table header");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_ELEMENT, Locator) == 68, "element locator");
static_assert(sizeof(ACPI_DATA_STORAGE_NVS_DEFAULT) == 159, "default NVS fixed part");
static_assert(sizeof(ACPI_DATA_STORAGE_NVS_TYPE_1) == 242, "Type 1 NVS fixed part");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_1, LengthLocator) == 151, "Type 1 length locator");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_1, NvsLength) == 234, "Type 1 NvsLength");
static_assert(sizeof(ACPI_DATA_STORAGE_NVS_TYPE_2) == 183, "Type 2 fixed part");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_2, AddressField) == 151, "Type 2 address field");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_2, LengthField) == 165, "Type 2 length field");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_NVS_TYPE_2, NvsLength) == 175, "Type 2 NvsLength");
static_assert(sizeof(ACPI_DATA_STORAGE_INTEGER) == 216, "integer element size");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, AcpiDataIntegerType) == 152, "integer type");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, Value) == 156, "integer value");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, VariableName) == 164, "integer variable name");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, VendorGuid) == 196, "integer vendor GUID");
static_assert(OFFSET_OF(ACPI_DATA_STORAGE_INTEGER, Attributes) == 212, "integer attributes");

// Entry lengths of the fixed-size kinds.
#define ACPI_DATA_STORAGE_FADT_ENTRY_LENGTH \
  (sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) + EFI_ACPI_6_3_FADT_LENGTH)
#define ACPI_DATA_STORAGE_FACS_ENTRY_LENGTH (sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) + EFI_ACPI_FACS_LENGTH)
#define ACPI_DATA_STORAGE_DSDT_FROM_FV_LENGTH sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)
#define ACPI_DATA_STORAGE_SSDT_FROM_FV_LENGTH \
  (sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) + sizeof(EFI_ACPI_DESCRIPTION_HEADER))

// One kind of element entry: what its header says and how long its fixed part is.
typedef struct {
  UINT32 Signature;        // "DSDT" or "SSDT"
  UINT32 AcpiDataType;     // AcpiDataTypeDsdt or AcpiDataTypeSsdt
  UINT32 AcpiDataSubType;  // Nvs, NonNvs or Integer
  UINT32 AcpiDataNvsType;
  UINT32 FixedLength;  // bytes before the captured data: 159, 183, 216 or 242
} ACPI_DATA_STORAGE_ELEMENT_KIND;

extern const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtNvsDefaultElement;
extern const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtNvsType2Element;
extern const ACPI_DATA_STORAGE_ELEMENT_KIND gDsdtIntegerElement;
extern const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNvsDefaultElement;
extern const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNvsType1Element;
extern const ACPI_DATA_STORAGE_ELEMENT_KIND gSsdtNonNvsType2Element;

// Fills every field of an entry header; EntrySignature overwrites whatever a
// meta data record held there.
VOID InitAcpiDataStorageEntryHeader(ACPI_DATA_STORAGE_ENTRY_HEADER *Header, UINT32 Signature, UINT32 Length,
                                    UINT32 DataType, UINT32 SubType, UINT32 NvsType);

// Builds a table entry of sub-type AcpiDataSubTypeTable in a fresh zero-filled pool
// buffer of 32 + TableLength bytes: header, then a copy of the table. The FADT and
// FACS carry the constant signatures "FACP" and "FACS"; other types take the
// table's own (its first four bytes, so TableLength must be at least 4).
// EFI_INVALID_PARAMETER for a NULL table or a length that cannot form an entry,
// EFI_OUT_OF_RESOURCES when the pool is empty. The caller owns *Entry.
EFI_STATUS CreateAcpiTableEntry(UINT32 DataType, const VOID *Table, UINT32 TableLength,
                                ACPI_DATA_STORAGE_ENTRY_HEADER **Entry);

// Turns a DSDT or SSDT table entry into its firmware-volume form: sub-type
// AcpiDataSubTypeFromFv and Length 32 (DSDT) or 68 (SSDT, header plus the table's
// description header). The buffer keeps the whole table for the element capture.
EFI_STATUS MarkAcpiTableEntryFromFv(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry);

// Builds an NVS or NON-NVS element entry of Kind from a meta data Record of
// RecordLength bytes and the NvsLength bytes of region contents: the record's first
// FixedLength bytes, header rewritten, NvsLength added to the description header's
// Length, NvsLength stored before the data, the data appended. A record shorter
// than the fixed part, or a region too long for a 32-bit entry Length, is refused
// with EFI_INVALID_PARAMETER / EFI_BAD_BUFFER_SIZE and nothing is allocated.
EFI_STATUS CreateNvsElementEntry(const ACPI_DATA_STORAGE_ELEMENT_KIND *Kind, const VOID *Record,
                                 UINTN RecordLength, const VOID *NvsData, UINT32 NvsLength,
                                 ACPI_DATA_STORAGE_ENTRY_HEADER **Entry);

// Builds a 216-byte DSDT integer element entry from its meta data Record and the
// captured Value (already zero-extended): AcpiDataIntegerType is always
// AcpiDataIntegerTypeDefault in an entry.
EFI_STATUS CreateIntegerElementEntry(const VOID *Record, UINTN RecordLength, UINT64 Value,
                                     ACPI_DATA_STORAGE_ENTRY_HEADER **Entry);

// Reads the entry header of a payload we did not write (a blob from the read
// stream) and checks that it fits: the payload holds a header, and the header's
// Length is the payload length. False otherwise; *Header is then not to be used.
bool ReadAcpiDataStorageEntryHeader(const VOID *Payload, UINT32 PayloadLength,
                                    ACPI_DATA_STORAGE_ENTRY_HEADER *Header);

// Fixed part of the element kind the header names (159, 183, 216 or 242), or 0
// when the header does not name an element kind this system writes.
UINT32 GetAcpiDataStorageElementFixedLength(const ACPI_DATA_STORAGE_ENTRY_HEADER *Header);

#endif  // ZEPHRIN_ACPI_DXE_CAPTURE_ACPI_DATA_STORAGE_H_
