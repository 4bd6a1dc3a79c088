// Reading QEMU's fw_cfg items from the test-platform images. The directory
// search works on a buffer, so the host tests can hand it a made-up directory;
// the port access is firmware-only (FwCfgPorts.cpp).
#ifndef ZEPHRIN_TESTS_QEMU_FW_CFG_H_
#define ZEPHRIN_TESTS_QEMU_FW_CFG_H_

#include "uefi/QemuFwCfg.h"
#include "uefi/UefiSpec.h"

// Finds the file Name in a directory item read whole (UINT32 big-endian count,
// then 64-byte entries). EFI_NOT_FOUND when no entry carries the name,
// EFI_COMPROMISED_DATA when the count promises more entries than the buffer
// holds or an entry's name has no terminator.
EFI_STATUS FwCfgFindInDirectory(const UINT8 *Directory, UINTN DirectorySize, const CHAR8 *Name,
                                UINT16 *Select, UINT32 *Size);

// The boot path named by the opt/zephrin/path item: 1 for "custom", 2 for
// "certified" (a trailing NUL or line feed is allowed), 0 for anything else.
UINT8 FwCfgParseBootPath(const CHAR8 *Text, UINTN Length);

// Port access (firmware only).
BOOLEAN FwCfgPresent();
VOID FwCfgReadItem(UINT16 Select, VOID *Buffer, UINTN Size);

// Reads the file Name into a pool buffer of Size + 1 bytes, NUL-terminated so a
// string item can be used as text; the caller frees it with Bs->FreePool.
EFI_STATUS FwCfgReadFile(EFI_BOOT_SERVICES *Bs, const CHAR8 *Name, VOID **Buffer, UINT32 *Size);

#endif  // ZEPHRIN_TESTS_QEMU_FW_CFG_H_
