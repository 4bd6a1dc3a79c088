// Locating the variable policy protocol, which both boot paths need before they
// do anything else: without it the cache cannot be protected, and the boot ends.
#ifndef ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_
#define ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_

#include "uefi/Protocol/VariablePolicy.h"

// Returns the protocol interface, which may be NULL when the protocol was
// installed so. When the lookup fails, logs on behalf of Caller and ends the
// boot with a fatal reset carrying StatusCodeValue and the lookup's status.
EDKII_VARIABLE_POLICY_PROTOCOL *LocateVariablePolicyOrReset(const CHAR8 *Caller, UINT32 StatusCodeValue);

#endif  // ZEPHRIN_ACPI_DXE_CORE_VARIABLE_POLICY_LOCATE_H_
