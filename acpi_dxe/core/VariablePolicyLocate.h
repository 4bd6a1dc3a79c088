// Locating the variable policy protocol, which both boot paths need before they
// do anything else: without it the cache cannot be protected, and the boot ends.
#ifndef ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_
#define ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_

#include "uefi/UefiBaseType.h"

inline constexpr EFI_GUID gEdkiiVariablePolicyProtocolGuid = {
    0x81D1675C, 0x86F6, 0x48DF, {0xBD, 0x95, 0x9A, 0x6E, 0x4F, 0x09, 0x25, 0xC3}};

// Returns the protocol interface. When it cannot be found, logs on behalf of
// Caller and ends the boot with a fatal reset carrying StatusCodeValue.
VOID *LocateVariablePolicyOrReset(const CHAR8 *Caller, UINT32 StatusCodeValue);

#endif  // ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_
