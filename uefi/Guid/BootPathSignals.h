// Names the platform and the driver share for the choice and the course of a
// boot path. Other platform components produce them; the driver only looks for
// them. The simulated platform and the tests use the same definitions.
#ifndef ZEPHRIN_UEFI_GUID_BOOT_PATH_SIGNALS_H_
#define ZEPHRIN_UEFI_GUID_BOOT_PATH_SIGNALS_H_

#include "../UefiBaseType.h"

// Name of the GUID-extension HOB whose presence selects the custom path.
inline constexpr EFI_GUID gCustomPathHobGuid = {
    0xA7DB2815, 0x1847, 0x4C82, {0xA3, 0xA1, 0x3A, 0x2F, 0x4D, 0xDA, 0x6D, 0xE3}};

// Event group the platform signals, after its ACPI tables are installed, to
// start the capture of a custom-path boot.
inline constexpr EFI_GUID gCustomPathEventGroupGuid = {
    0xA5B489B4, 0x18FD, 0x4425, {0x91, 0xA4, 0x61, 0x3A, 0xDD, 0xD2, 0x74, 0x05}};

// The variable "EBS" in this namespace: another platform component writes 1 to
// it, which locks the ACPI cache on a certified-path boot.
inline constexpr EFI_GUID gEbsVariableGuid = {
    0xECF590C6, 0xF8F9, 0x4387, {0x84, 0x22, 0x48, 0x6E, 0x3C, 0xCD, 0x8B, 0x20}};
inline constexpr CHAR16 kEbsVariableName[] = u"EBS";

#endif  // ZEPHRIN_UEFI_GUID_BOOT_PATH_SIGNALS_H_
