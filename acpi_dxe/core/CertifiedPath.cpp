// The certified path: protect the cache variable and replay the stored ACPI
// tables at driver entry and at EndOfDxe, ReadyToBoot and ExitBootServices.
#include "acpi_dxe/capture/XsdtWalk.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "acpi_dxe/core/VariablePolicyLocate.h"
#include "acpi_dxe/restore/RestoreEngine.h"

namespace {

// Closes the meta data and the read stream if they are open; Caller names the
// flow in the messages. Closing twice is harmless: both are checked first.
VOID CloseCertifiedPathSources(const CHAR8 *Caller) {
  if (mAcpiMetaDataPtr != nullptr) {
    EFI_STATUS Status = CloseAcpiMetaData();
    if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "[%a] - Failed to close metadata: %r\n", Caller, Status);
  }
  if (mReadBlobStreamPointer != nullptr) {
    EFI_STATUS Status = CloseBlobStream(mAcpiDataReadHandle);
    if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "[%a] - Failed to close ACPI data: %r\n", Caller, Status);
  }
}

// One later install phase; a failure here is only logged, so that the phases
// after it still run.
VOID RunRestorePhase(const CHAR8 *Caller, UINT16 Phase) {
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", Caller);
  EFI_STATUS Status = ProcessAcpiDataStorageAndAcpiMetaData(Phase);
  if (EFI_ERROR(Status))
    DebugPrint(DEBUG_ERROR, "[%a] - Failed to process stored ACPI tables: %r\n", Caller, Status);
}

struct CERTIFIED_EVENTS {
  EFI_EVENT EndOfDxe;
  EFI_EVENT ReadyToBoot;
  EFI_EVENT ExitBootServices;
};

// Creates the three phase events in boot order. On failure *Message is the
// message of the event that could not be created; the ones created stay in
// Events for the caller to close.
EFI_STATUS CreateCertifiedPathEvents(CERTIFIED_EVENTS *Events, const CHAR8 **Message) {
  EFI_STATUS Status =
      gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, AcpiCertifiedPathEndOfDxeNotification, nullptr,
                         &gEfiEndOfDxeEventGroupGuid, &Events->EndOfDxe);
  if (EFI_ERROR(Status)) {
    *Message = "[%a] - CreateEvent for EndOfDxe failed returning %r\n";
    return Status;
  }
  Status = EfiCreateEventReadyToBootEx(TPL_CALLBACK, AcpiCertifiedPathReadyToBootNotification, nullptr,
                                       &Events->ReadyToBoot);
  if (EFI_ERROR(Status)) {
    *Message = "[%a] - CreateEvent for ReadyToBoot failed returning %r\n";
    return Status;
  }
  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, AcpiCertifiedPathExitBootServicesNotification,
                              nullptr, &gEfiEventExitBootServicesGuid, &Events->ExitBootServices);
  if (EFI_ERROR(Status)) *Message = "[%a] - CreateEvent for ExitBootServices failed returning %r\n";
  return Status;
}

VOID CloseCreatedEvents(const CERTIFIED_EVENTS *Events) {
  if (Events->EndOfDxe != nullptr) gBS->CloseEvent(Events->EndOfDxe);
  if (Events->ReadyToBoot != nullptr) gBS->CloseEvent(Events->ReadyToBoot);
  if (Events->ExitBootServices != nullptr) gBS->CloseEvent(Events->ExitBootServices);
}

// Opens the stored data, installs what belongs to driver entry and arms the
// later phases. On failure *Message says which step failed.
EFI_STATUS StartCertifiedRestore(CERTIFIED_EVENTS *Events, const CHAR8 **Message) {
  OpenAcpiMetaData();  // without meta data every stored table installs as stored
  EFI_STATUS Status = OpenBlobStream(&mAcpiDataReadHandle, BlobAccessRead);
  if (EFI_ERROR(Status)) {
    *Message = "[%a] - Failed to get stored ACPI data: %r\n";
    return Status;
  }
  Status = ProcessAcpiDataStorageAndAcpiMetaData(ACPI_RESTORE_PHASE_DRIVER_ENTRY);
  if (EFI_ERROR(Status)) {
    *Message = "[%a] - Failed to process stored ACPI tables: %r\n";
    return Status;
  }
  return CreateCertifiedPathEvents(Events, Message);
}

}  // namespace

EFI_STATUS EfiCreateEventReadyToBootEx(EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                       VOID *NotifyContext, EFI_EVENT *Event) {
  if (gST->Hdr.Revision < EFI_2_00_SYSTEM_TABLE_REVISION) {
    DebugPrint(DEBUG_ERROR, "EFI1.1 can't support ReadyToBootEvent!");
    return EFI_UNSUPPORTED;
  }
  return gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, NotifyTpl, NotifyFunction, NotifyContext,
                            &gEfiEventReadyToBootGuid, Event);
}

EFI_STATUS DoCertifiedWork() {
  DebugPrint(DEBUG_INFO, "%a() - Enter\n", __func__);
  EDKII_VARIABLE_POLICY_PROTOCOL *VariablePolicy =
      LocateVariablePolicyOrReset(__func__, FATAL_CERTIFIED_NO_VARIABLE_POLICY);

  CERTIFIED_EVENTS Events = {nullptr, nullptr, nullptr};
  EFI_STATUS Status = RegisterVarStateVariablePolicy(VariablePolicy, &gEbsVariableGuid, kEbsVariableName);
  if (EFI_ERROR(Status)) {
    // An unprotected cache is not trusted: nothing is restored in this boot.
    DebugPrint(DEBUG_ERROR, "[%a] - RegisterVarStateVariablePolicy() returned %r!\n", __func__, Status);
  } else {
    const CHAR8 *Message = nullptr;
    Status = StartCertifiedRestore(&Events, &Message);
    if (!EFI_ERROR(Status)) return EFI_SUCCESS;  // sources stay open for the callbacks
    DebugPrint(DEBUG_ERROR, Message, __func__, Status);
    NotifyFailure(FAILURE_NOTIFY_PATH_FLOW, nullptr, 0);
  }
  CloseCertifiedPathSources(__func__);
  CloseCreatedEvents(&Events);
  // A table deferred by the driver-entry phase has no later phase left to
  // install it: its buffer goes back to pool.
  ReleaseDeferredAcpiTable();
  return Status;
}

VOID EFIAPI AcpiCertifiedPathEndOfDxeNotification(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  RunRestorePhase(__func__, ACPI_RESTORE_PHASE_END_OF_DXE);
  gBS->CloseEvent(Event);
}

VOID EFIAPI AcpiCertifiedPathReadyToBootNotification(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  RunRestorePhase(__func__, ACPI_RESTORE_PHASE_READY_TO_BOOT);
  gBS->CloseEvent(Event);
}

// The last phase of the boot: the meta data and the stream have no later user.
VOID EFIAPI AcpiCertifiedPathExitBootServicesNotification(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  RunRestorePhase(__func__, ACPI_RESTORE_PHASE_EXIT_BOOT_SERVICES);
  CloseCertifiedPathSources(__func__);
  DebugDumpAllTables();
  gBS->CloseEvent(Event);
}
