// Driver-wide platform glue: the firmware tables bound at entry, memory and pool
// operations, HOB and configuration-table lookups, failure notification and the
// fatal reset. Every other area of the driver reaches the platform through here
// or through the tables bound here.
#ifndef ZEPHRIN_ACPI_DXE_CORE_DXE_SERVICES_H_
#define ZEPHRIN_ACPI_DXE_CORE_DXE_SERVICES_H_

#include "uefi/Guid/BootPathSignals.h"
#include "uefi/PiHob.h"
#include "uefi/Protocol/StatusCode.h"
#include "uefi/UefiSpec.h"

extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;
extern EFI_HANDLE gImageHandle;

// 0 before the choice, 1 on the custom path, 2 on the certified path.
#define BOOT_PATH_NONE 0
#define BOOT_PATH_CUSTOM 1
#define BOOT_PATH_CERTIFIED 2
extern UINT8 mBootPath;

inline constexpr EFI_GUID gEfiCallerIdGuid = {
    0x2552C00F, 0x3CE4, 0x4B17, {0x91, 0x5C, 0x36, 0x9A, 0x01, 0x4A, 0x4C, 0xAE}};
inline constexpr EFI_GUID gFatalErrorDataGuid = {
    0x91DEEA05, 0x8C0A, 0x4DCD, {0xB9, 0x1E, 0xF2, 0x1C, 0xA0, 0xC6, 0x84, 0x05}};

// Status code values of the fatal reset: EFI_SOFTWARE_DXE_BS_DRIVER plus the
// subclass-specific range start 0x1000 plus the cause.
#define FATAL_CERTIFIED_NO_VARIABLE_POLICY 0x03051024
#define FATAL_CUSTOM_NO_VARIABLE_POLICY 0x03051025
#define FATAL_PATH_TAG_CUSTOM 0x4854415054535543ULL     // "CUSTPATH"
#define FATAL_PATH_TAG_CERTIFIED 0x4854415054524543ULL  // "CERTPATH"

// Failure-notification codes passed to the outside protocol.
#define FAILURE_NOTIFY_PATH_FLOW 8
#define FAILURE_NOTIFY_FATAL_RESET 18

// Memory operations. CopyMem handles overlap in either direction.
VOID *CopyMem(VOID *Destination, const VOID *Source, UINTN Length);
VOID *ZeroMem(VOID *Buffer, UINTN Length);
VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *SetMem16(VOID *Buffer, UINTN Length, UINT16 Value);
INTN CompareMem(const VOID *First, const VOID *Second, UINTN Length);
bool CompareGuid(const EFI_GUID *First, const EFI_GUID *Second);
// UCS-2 characters before the terminator, at most 65535; 0 for NULL.
UINTN StrLen(const CHAR16 *String);

// Boot-services pool (EfiBootServicesData); NULL on failure.
VOID *AllocatePool(UINTN Size);
VOID *AllocateZeroPool(UINTN Size);
VOID FreePool(VOID *Buffer);

// Lookups cached for the life of the driver, each filled by its first success
// (GetHobList, InternalReportStatusCode). A new boot starts with them NULL; a
// host test that binds another platform to gST/gBS clears them as well.
extern VOID *mHobList;
extern EFI_STATUS_CODE_PROTOCOL *mStatusCodeProtocol;

// HOB list and configuration table.
VOID *GetHobList();
VOID *GetNextGuidHob(const EFI_GUID *Guid, const VOID *HobStart);
VOID *GetFirstGuidHob(const EFI_GUID *Guid);
EFI_STATUS EfiGetSystemConfigurationTable(const EFI_GUID *Guid, VOID **Table);

// Failure notification and the fatal path.
EFI_STATUS NotifyFailure(UINT32 Code, const VOID *Data, UINT16 DataSize);
[[noreturn]] VOID ResetOnFatalError(UINT32 StatusCodeValue, EFI_STATUS Status);
VOID ReportFatalErrorStatusCode(UINT32 StatusCodeValue, UINT64 PathTag, EFI_STATUS Status);
// Status code reports; Type's low byte must be progress, error or debug.
EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              const EFI_GUID *CallerId, const EFI_GUID *ExtendedDataGuid,
                              const VOID *ExtendedData, UINTN ExtendedDataSize);
EFI_STATUS InternalReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                    const EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data);

#endif  // ZEPHRIN_ACPI_DXE_CORE_DXE_SERVICES_H_
