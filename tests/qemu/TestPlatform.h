// What the QEMU test platform and the dump application share: the fw_cfg items
// the host script passes, the protocol that orders the driver behind the
// platform, and the fixed memory window behind the fixture tables' regions.
#ifndef ZEPHRIN_TESTS_QEMU_TEST_PLATFORM_H_
#define ZEPHRIN_TESTS_QEMU_TEST_PLATFORM_H_

#include "uefi/UefiBaseType.h"

// fw_cfg items (-fw_cfg name=...,string=... or file=...).
#define TEST_PLATFORM_FW_CFG_PATH "opt/zephrin/path"                            // "custom" or "certified"
#define TEST_PLATFORM_FW_CFG_TABLES "opt/zephrin/acpi-tables"                   // fixture tables end to end
#define TEST_PLATFORM_FW_CFG_PRODUCT_DATA "opt/zephrin/product-data"            // product-data container
#define TEST_PLATFORM_FW_CFG_PRODUCT_DATA_INFO "opt/zephrin/product-data-info"  // Info HOB data
#define TEST_PLATFORM_FW_CFG_VOLUME_DSDT "opt/zephrin/volume-dsdt"              // DSDT of the platform volume
#define TEST_PLATFORM_FW_CFG_EXIT_BOOT_SERVICES "opt/zephrin/exit-boot-services"  // present: end with EBS
#define TEST_PLATFORM_FW_CFG_REGIONS "opt/zephrin/regions"  // "<table> <region path>" lines

// Installed last by the test platform's entry point. ZephrinAcpiDxe's
// dependency expression names it, so the DXE dispatcher loads the driver only
// after the platform has published its HOBs and its debug and failure sinks.
inline constexpr EFI_GUID gZephrinTestPlatformReadyProtocolGuid = {
    0xEA4F5939, 0xE5B6, 0x42CD, {0xBE, 0x53, 0x3D, 0x5C, 0xA7, 0x1E, 0x0F, 0x2E}};

// The fixture ASL places every SystemMemory region in one 64 KiB window at a
// fixed address, as a board's chipset would. The platform claims the window on
// every boot; on a custom-path boot it fills it with a pattern and the parent
// fields that locate \CNVS and \_SB.SCRA.NNVS, on a certified-path boot with
// kCertifiedFill, so a region the restore failed to move shows up at once.
inline constexpr UINT64 kTestPlatformWindowBase = 0x7F000000;
inline constexpr UINTN kTestPlatformWindowSize = 0x10000;
inline constexpr UINT8 kTestPlatformCertifiedFill = 0xEE;

#endif  // ZEPHRIN_TESTS_QEMU_TEST_PLATFORM_H_
