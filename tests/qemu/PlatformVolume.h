// The board's own firmware volume, held in memory: one file whose RAW section
// is the fixture DSDT. The driver's meta data names that file for the DSDT
// (the restore takes a DSDT only from a volume, never from the stored cache),
// and the driver finds it by searching every Firmware Volume 2 handle.
//
// The handle carries no device path, so the DXE dispatcher and the boot
// manager, which only consider volumes they can name, pass it over.
#ifndef ZEPHRIN_TESTS_QEMU_PLATFORM_VOLUME_H_
#define ZEPHRIN_TESTS_QEMU_PLATFORM_VOLUME_H_

#include "uefi/Protocol/FirmwareVolume2.h"

// Name of the volume file that holds the DSDT.
inline constexpr EFI_GUID gZephrinTestPlatformDsdtFileGuid = {
    0xD15CAF98, 0xDC18, 0x463F, {0xB5, 0x44, 0x1D, 0x1C, 0x64, 0xEE, 0xEA, 0x0C}};

// Installs the volume on a new handle; Section (Size bytes) must stay
// allocated for the rest of the boot.
EFI_STATUS InstallPlatformVolume(EFI_BOOT_SERVICES *Bs, const VOID *Section, UINTN Size);

#endif  // ZEPHRIN_TESTS_QEMU_PLATFORM_VOLUME_H_
