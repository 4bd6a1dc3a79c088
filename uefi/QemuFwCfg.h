// QEMU's firmware configuration device (fw_cfg) as the x86 machines expose it:
// a 16-bit selector port and an 8-bit data port. Items are read byte by byte
// after their selector is written; named items ("files", such as those given
// with -fw_cfg name=opt/...) are listed in the file directory item. Multi-byte
// numbers in the directory are big-endian.
#ifndef ZEPHRIN_UEFI_QEMU_FW_CFG_H_
#define ZEPHRIN_UEFI_QEMU_FW_CFG_H_

#include "UefiBaseType.h"

#define FW_CFG_IO_SELECTOR 0x510
#define FW_CFG_IO_DATA 0x511

#define FW_CFG_SELECT_SIGNATURE 0x0000  // reads "QEMU"
#define FW_CFG_SELECT_FILE_DIR 0x0019   // UINT32 count (BE), then FW_CFG_FILE entries

#define FW_CFG_MAX_FILE_PATH 56

typedef struct {
  UINT32 Size;    // big-endian: bytes in the item
  UINT16 Select;  // big-endian: selector of the item
  UINT16 Reserved;
  CHAR8 Name[FW_CFG_MAX_FILE_PATH];  // NUL-terminated
} FW_CFG_FILE;
static_assert(sizeof(FW_CFG_FILE) == 64, "FW_CFG_FILE layout");

#endif  // ZEPHRIN_UEFI_QEMU_FW_CFG_H_
