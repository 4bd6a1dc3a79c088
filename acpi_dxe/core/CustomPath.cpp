// The custom path: protect the cache variable, then capture and store the
// platform's ACPI tables when the platform signals the custom-path group, and
// finally lock the cache for the rest of the boot.
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "acpi_dxe/core/VariablePolicyLocate.h"

BLOB_HANDLE mAcpiDataReadHandle;
BLOB_HANDLE mAcpiDataWriteHandle;

static const CHAR8 kModuleName[] = "ZephrinAcpiDxe";

// Volatile, boot-service and runtime access: the lock lasts until the next boot.
static constexpr UINT32 kLockIndicatorAttributes =
    EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

EFI_STATUS DoCustomWork() {
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", __func__);
  EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy =
      LocateVariablePolicyOrReset(__func__, FATAL_CUSTOM_NO_VARIABLE_POLICY);

  EFI_STATUS Status = RegisterVarStateVariablePolicy(VariablePolicy, &gAcpiCacheLockIndicatorGuid,
                                                     kAcpiCacheLockIndicatorName);
  if (EFI_ERROR(Status)) {
    // The capture still runs, unprotected: a missing cache is worse than an
    // unlocked one.
    DebugPrint(DEBUG_ERROR, "[%a] - RegisterVarStateVariablePolicy() returned %r!\n", __func__, Status);
  }

  EFI_EVENT Event = nullptr;
  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CustomPathReadyToBootNotification, nullptr,
                              &gCustomPathEventGroupGuid, &Event);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a:%a() failed to register for ReadyToBoot callback event (%r)\n", kModuleName,
               __func__, Status);
    NotifyFailure(FAILURE_NOTIFY_PATH_FLOW, nullptr, 0);
  }
  return Status;
}

// Walks the XSDT into the write stream and flushes it to AcpiDataCache; the
// flush compares against the read stream, so the write stream closes first.
static VOID CaptureAndStoreAcpiTables() {
  OpenAcpiMetaData();
  OpenBlobStream(&mAcpiDataReadHandle, BlobAccessRead);  // no cache yet on a first boot

  EFI_STATUS Status = OpenBlobStream(&mAcpiDataWriteHandle, BlobAccessWrite);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Problem opening write cache! %r\n", "CustomPathReadyToBootNotification",
               Status);
    NotifyFailure(FAILURE_NOTIFY_PATH_FLOW, nullptr, 0);
  } else {
    ProcessAcpiTablesFromXsdt();
  }
  CloseAcpiMetaData();

  Status = CloseBlobStream(mAcpiDataWriteHandle);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a - Unable to store ACPI tables! %r\n", "CustomPathReadyToBootNotification",
               Status);
    NotifyFailure(FAILURE_NOTIFY_PATH_FLOW, nullptr, 0);
    // Nobody retries this flush in this boot: give the write cache back.
    DiscardWriteBlobStream();
  }
  CloseBlobStream(mAcpiDataReadHandle);
}

VOID EFIAPI CustomPathReadyToBootNotification(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", __func__);
  CaptureAndStoreAcpiTables();
  DebugDumpAllTables();

  // Locks AcpiDataCache through the policy whatever happened above.
  UINT8 Locked = 1;
  gRT->SetVariable(const_cast<CHAR16 *>(kAcpiCacheLockIndicatorName),
                   const_cast<EFI_GUID *>(&gAcpiCacheLockIndicatorGuid), kLockIndicatorAttributes,
                   sizeof(Locked), &Locked);
  gBS->CloseEvent(Event);
}
