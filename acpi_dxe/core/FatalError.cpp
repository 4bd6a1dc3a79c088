// Failure notification, status code reports and the fatal reset: the only path
// on which the driver ends a boot.
#include "acpi_dxe/core/DxeServices.h"
#include "common/CpuDeadLoop.h"
#include "uefi/Protocol/FailureNotify.h"
#include "uefi/Protocol/StatusCode.h"

EFI_STATUS_CODE_PROTOCOL *mStatusCodeProtocol;

// The fatal-error record handed to the status code protocol: the status code
// data header followed by 48 bytes of payload (32 reserved, path tag, status).
#define FATAL_ERROR_PAYLOAD_SIZE 48
#define FATAL_ERROR_PATH_TAG_OFFSET 32
#define FATAL_ERROR_STATUS_OFFSET 40
#define STATUS_CODE_RECORD_MAX (sizeof(EFI_STATUS_CODE_DATA) + FATAL_ERROR_PAYLOAD_SIZE)

EFI_STATUS NotifyFailure(UINT32 Code, const VOID *Data, UINT16 DataSize) {
  FAILURE_NOTIFY_PROTOCOL *Protocol = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gFailureNotifyProtocolGuid), nullptr,
                                          reinterpret_cast<VOID **>(&Protocol));
  if (EFI_ERROR(Status) || Protocol == nullptr) return EFI_UNSUPPORTED;
  return Protocol->Notify(Code, Data, DataSize);
}

EFI_STATUS InternalReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                    const EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  (void)Instance;  // the protocol is always told instance 0
  UINT32 Kind = Type & EFI_STATUS_CODE_TYPE_MASK;
  if (Kind != EFI_PROGRESS_CODE && Kind != EFI_ERROR_CODE && Kind != EFI_DEBUG_CODE) return EFI_UNSUPPORTED;
  if (mStatusCodeProtocol == nullptr) {
    if (gBS == nullptr || gBS->LocateProtocol == nullptr) return EFI_UNSUPPORTED;
    EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gEfiStatusCodeRuntimeProtocolGuid),
                                            nullptr, reinterpret_cast<VOID **>(&mStatusCodeProtocol));
    // A protocol found with a NULL interface is as absent as one not found; it
    // is called on the fatal path, which must still reach the reset.
    if (EFI_ERROR(Status) || mStatusCodeProtocol == nullptr) {
      mStatusCodeProtocol = nullptr;
      return EFI_UNSUPPORTED;
    }
  }
  return mStatusCodeProtocol->ReportStatusCode(Type, Value, 0, CallerId, Data);
}

// Builds the record in a local buffer. A payload larger than the buffer is a
// caller bug; it is refused rather than overflowing the stack.
EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              const EFI_GUID *CallerId, const EFI_GUID *ExtendedDataGuid,
                              const VOID *ExtendedData, UINTN ExtendedDataSize) {
  UINT64 Storage[(STATUS_CODE_RECORD_MAX + 7) / 8];
  if (ExtendedDataSize > STATUS_CODE_RECORD_MAX - sizeof(EFI_STATUS_CODE_DATA)) return EFI_INVALID_PARAMETER;
  EFI_STATUS_CODE_DATA *Record = reinterpret_cast<EFI_STATUS_CODE_DATA *>(Storage);
  Record->HeaderSize = sizeof(EFI_STATUS_CODE_DATA);
  Record->Size = static_cast<UINT16>(ExtendedDataSize);
  CopyMem(&Record->Type, ExtendedDataGuid, sizeof(EFI_GUID));
  CopyMem(Record + 1, ExtendedData, ExtendedDataSize);
  return InternalReportStatusCode(Type, Value, Instance, CallerId, Record);
}

VOID ReportFatalErrorStatusCode(UINT32 StatusCodeValue, UINT64 PathTag, EFI_STATUS Status) {
  UINT8 Payload[FATAL_ERROR_PAYLOAD_SIZE];
  ZeroMem(Payload, sizeof(Payload));
  UINT64 StatusValue = Status;
  CopyMem(Payload + FATAL_ERROR_PATH_TAG_OFFSET, &PathTag, sizeof(PathTag));
  CopyMem(Payload + FATAL_ERROR_STATUS_OFFSET, &StatusValue, sizeof(StatusValue));
  ReportStatusCodeEx(EFI_ERROR_CODE | EFI_ERROR_MAJOR, StatusCodeValue, 0, &gEfiCallerIdGuid,
                     &gFatalErrorDataGuid, Payload, sizeof(Payload));
}

[[noreturn]] VOID ResetOnFatalError(UINT32 StatusCodeValue, EFI_STATUS Status) {
  NotifyFailure(FAILURE_NOTIFY_FATAL_RESET, &gEfiCallerIdGuid, sizeof(EFI_GUID));
  UINT64 PathTag =
      GetFirstGuidHob(&gCustomPathHobGuid) != nullptr ? FATAL_PATH_TAG_CUSTOM : FATAL_PATH_TAG_CERTIFIED;
  ReportFatalErrorStatusCode(StatusCodeValue, PathTag, Status);
  gRT->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  // A reset that returns leaves nothing sensible to do: the boot must not go on.
  CpuDeadLoop();
}
