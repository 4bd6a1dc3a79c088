// ACPI structures read in place from the platform's tables: the RSDP, the common
// description header, the XSDT, the ACPI 6.3 FADT and the FACS. All are byte-packed
// and little-endian; the static_asserts pin every offset the driver reads, so a
// layout slip fails the build instead of reading the wrong field.
#ifndef ZEPHRIN_UEFI_ACPI_H_
#define ZEPHRIN_UEFI_ACPI_H_

#include "UefiBaseType.h"

#define EFI_ACPI_FADT_SIGNATURE SIGNATURE_32('F', 'A', 'C', 'P')
#define EFI_ACPI_FACS_SIGNATURE SIGNATURE_32('F', 'A', 'C', 'S')
#define EFI_ACPI_DSDT_SIGNATURE SIGNATURE_32('D', 'S', 'D', 'T')
#define EFI_ACPI_SSDT_SIGNATURE SIGNATURE_32('S', 'S', 'D', 'T')
#define EFI_ACPI_XSDT_SIGNATURE SIGNATURE_32('X', 'S', 'D', 'T')
#define EFI_ACPI_RSDP_SIGNATURE SIGNATURE_64('R', 'S', 'D', ' ', 'P', 'T', 'R', ' ')

// The ACPI 2.0+ form of the RSDP; revision 0 (ACPI 1.0) stops after RsdtAddress.
#define EFI_ACPI_RSDP_REVISION_XSDT 2
#pragma pack(push, 1)
typedef struct {
  UINT64 Signature;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT8 Revision;
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
} EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER;
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER) == 36, "RSDP size");
static_assert(OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, Revision) == 15, "RSDP Revision");
static_assert(OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, XsdtAddress) == 24, "RSDP XsdtAddress");
static_assert(OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, ExtendedChecksum) == 32,
              "RSDP ext checksum");

#pragma pack(push, 1)
typedef struct {
  UINT32 Signature;
  UINT32 Length;
} EFI_ACPI_COMMON_HEADER;

typedef struct {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT64 OemTableId;
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
} EFI_ACPI_DESCRIPTION_HEADER;
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_COMMON_HEADER) == 8, "common header size");
static_assert(sizeof(EFI_ACPI_DESCRIPTION_HEADER) == 36, "description header size");
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length) == 4, "header Length");
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Revision) == 8, "header Revision");
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum) == 9, "header Checksum");
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId) == 16, "header OemTableId");

// XSDT: the description header, then UINT64 table addresses. The first entry sits
// at offset 36, so the addresses are not 8-byte aligned; read them byte-wise.
#define EFI_ACPI_XSDT_ENTRY_OFFSET 36
#define EFI_ACPI_XSDT_ENTRY_SIZE 8

#pragma pack(push, 1)
typedef struct {
  UINT8 AddressSpaceId;
  UINT8 RegisterBitWidth;
  UINT8 RegisterBitOffset;
  UINT8 AccessSize;
  UINT64 Address;
} EFI_ACPI_GENERIC_ADDRESS_STRUCTURE;
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_GENERIC_ADDRESS_STRUCTURE) == 12, "GAS size");

// FADT as ACPI 6.3 defines it: Header.Revision 6, MinorVersion 3, 276 bytes.
#define EFI_ACPI_6_3_FADT_REVISION 6
#define EFI_ACPI_6_3_FADT_MINOR_REVISION 3
#define EFI_ACPI_6_3_FADT_LENGTH 276
#define EFI_ACPI_FADT_HW_REDUCED_ACPI (1u << 20)
#pragma pack(push, 1)
typedef struct {
  EFI_ACPI_DESCRIPTION_HEADER Header;
  UINT32 FirmwareCtrl;
  UINT32 Dsdt;
  UINT8 Reserved0;
  UINT8 PreferredPmProfile;
  UINT16 SciInt;
  UINT32 SmiCmd;
  UINT8 AcpiEnable;
  UINT8 AcpiDisable;
  UINT8 S4BiosReq;
  UINT8 PstateCnt;
  UINT32 Pm1aEvtBlk;
  UINT32 Pm1bEvtBlk;
  UINT32 Pm1aCntBlk;
  UINT32 Pm1bCntBlk;
  UINT32 Pm2CntBlk;
  UINT32 PmTmrBlk;
  UINT32 Gpe0Blk;
  UINT32 Gpe1Blk;
  UINT8 Pm1EvtLen;
  UINT8 Pm1CntLen;
  UINT8 Pm2CntLen;
  UINT8 PmTmrLen;
  UINT8 Gpe0BlkLen;
  UINT8 Gpe1BlkLen;
  UINT8 Gpe1Base;
  UINT8 CstCnt;
  UINT16 PLvl2Lat;
  UINT16 PLvl3Lat;
  UINT16 FlushSize;
  UINT16 FlushStride;
  UINT8 DutyOffset;
  UINT8 DutyWidth;
  UINT8 DayAlrm;
  UINT8 MonAlrm;
  UINT8 Century;
  UINT16 IaPcBootArch;
  UINT8 Reserved1;
  UINT32 Flags;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE ResetReg;
  UINT8 ResetValue;
  UINT16 ArmBootArch;
  UINT8 MinorVersion;
  UINT64 XFirmwareCtrl;
  UINT64 XDsdt;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1aEvtBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1bEvtBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1aCntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1bCntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm2CntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPmTmrBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XGpe0Blk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XGpe1Blk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE SleepControlReg;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE SleepStatusReg;
  UINT64 HypervisorVendorIdentity;
} EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE;
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE) == EFI_ACPI_6_3_FADT_LENGTH, "FADT size");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, FirmwareCtrl) == 36, "FIRMWARE_CTRL");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, Dsdt) == 40, "DSDT");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, Flags) == 112, "Flags");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, ResetReg) == 116, "RESET_REG");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, MinorVersion) == 131, "minor version");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, XFirmwareCtrl) == 132, "X_FIRMWARE_CTRL");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt) == 140, "X_DSDT");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, SleepStatusReg) == 256,
              "SLEEP_STATUS_REG");
static_assert(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, HypervisorVendorIdentity) == 268,
              "hypervisor vendor identity");

// FACS: no checksum and no description header, only Signature and Length.
#define EFI_ACPI_FACS_LENGTH 64
#pragma pack(push, 1)
typedef struct {
  UINT32 Signature;
  UINT32 Length;
  UINT32 HardwareSignature;
  UINT32 FirmwareWakingVector;
  UINT32 GlobalLock;
  UINT32 Flags;
  UINT64 XFirmwareWakingVector;
  UINT8 Version;
  UINT8 Reserved0[3];
  UINT32 OspmFlags;
  UINT8 Reserved1[24];
} EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE;
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE) == EFI_ACPI_FACS_LENGTH, "FACS size");
static_assert(OFFSET_OF(EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE, Length) == 4, "FACS Length");
static_assert(OFFSET_OF(EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE, HardwareSignature) == 8,
              "FACS HW signature");
static_assert(OFFSET_OF(EFI_ACPI_FIRMWARE_ACPI_CONTROL_STRUCTURE, XFirmwareWakingVector) == 24,
              "FACS X waking vector");

#endif  // ZEPHRIN_UEFI_ACPI_H_
