#include "sim/Events.h"

#include <algorithm>
#include <string>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"

namespace sim {

namespace {

EventManager &Events() {
  return CurrentPlatform().Events();
}

EFI_STATUS EFIAPI SimCreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                 VOID *NotifyContext, EFI_EVENT *Event) {
  if (!CurrentPlatform().CheckBootService("CreateEvent", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Events().Create(Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
}

EFI_STATUS EFIAPI SimCreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                   const VOID *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Event) {
  if (!CurrentPlatform().CheckBootService("CreateEventEx", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  // The two signal types name their group by themselves; a second group is an error.
  if (EventGroup != nullptr &&
      (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES || Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE)) {
    return EFI_INVALID_PARAMETER;
  }
  return Events().Create(Type, NotifyTpl, NotifyFunction, NotifyContext, EventGroup, Event);
}

EFI_STATUS EFIAPI SimSignalEvent(EFI_EVENT Event) {
  return Events().Signal(Event);
}
EFI_STATUS EFIAPI SimCloseEvent(EFI_EVENT Event) {
  if (!CurrentPlatform().CheckBootService("CloseEvent", TPL_NOTIFY)) return EFI_UNSUPPORTED;
  return Events().Close(Event);
}
EFI_STATUS EFIAPI SimCheckEvent(EFI_EVENT Event) {
  return Events().Check(Event);
}
EFI_STATUS EFIAPI SimWaitForEvent(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index) {
  if (!CurrentPlatform().CheckBootService("WaitForEvent", TPL_APPLICATION)) return EFI_UNSUPPORTED;
  return Events().Wait(NumberOfEvents, Event, Index);
}

EFI_TPL EFIAPI SimRaiseTpl(EFI_TPL NewTpl) {
  return Events().Raise(NewTpl);
}
VOID EFIAPI SimRestoreTpl(EFI_TPL OldTpl) {
  Events().Restore(OldTpl);
}

// 0x20000000 is EVT_RUNTIME_CONTEXT; the low two bits distinguish the two signal types.
constexpr UINT32 kKnownEventTypeBits =
    EVT_TIMER | EVT_RUNTIME | 0x20000000 | EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL | 0x3;

}  // namespace

void BindEventServices(EFI_BOOT_SERVICES &Bs) {
  Bs.CreateEvent = &SimCreateEvent;
  Bs.CreateEventEx = &SimCreateEventEx;
  Bs.SignalEvent = &SimSignalEvent;
  Bs.CloseEvent = &SimCloseEvent;
  Bs.CheckEvent = &SimCheckEvent;
  Bs.WaitForEvent = &SimWaitForEvent;
  Bs.RaiseTPL = &SimRaiseTpl;
  Bs.RestoreTPL = &SimRestoreTpl;
}

// Parameter rules of a UEFI core's CreateEventEx: a notify type needs a notify
// function and a TPL of APPLICATION, CALLBACK or NOTIFY; wait and signal
// notification exclude each other.
EFI_STATUS EventManager::Create(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                const VOID *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Handle) {
  if (Handle == nullptr || (Type & ~kKnownEventTypeBits) != 0) return EFI_INVALID_PARAMETER;
  bool NotifyWait = (Type & EVT_NOTIFY_WAIT) != 0;
  bool NotifySignal = (Type & EVT_NOTIFY_SIGNAL) != 0;
  if (NotifyWait && NotifySignal) return EFI_INVALID_PARAMETER;
  for (const auto &Failure : mGroupFailures) {
    if (EventGroup != nullptr && SameGuid(Failure.first, *EventGroup)) return Failure.second;
  }
  if (NotifyWait || NotifySignal) {
    if (NotifyFunction == nullptr) return EFI_INVALID_PARAMETER;
    if (NotifyTpl != TPL_APPLICATION && NotifyTpl != TPL_CALLBACK && NotifyTpl != TPL_NOTIFY) {
      return EFI_INVALID_PARAMETER;
    }
  }
  auto Created = std::make_unique<Event>();
  Created->Type = Type;
  Created->NotifyTpl = NotifyTpl;
  Created->Notify = NotifyFunction;
  Created->Context = const_cast<VOID *>(NotifyContext);
  Created->InGroup = true;
  if (EventGroup != nullptr) {
    Created->Group = *EventGroup;
  } else if (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES) {
    Created->Group = gEfiEventExitBootServicesGuid;
  } else if (Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    Created->Group = kVirtualAddressChangeGroupGuid;
  } else {
    Created->InGroup = false;
  }
  *Handle = Created.get();
  mEvents.push_back(std::move(Created));
  return EFI_SUCCESS;
}

EventManager::Event *EventManager::Find(EFI_EVENT Handle, const char *Service) {
  for (auto &Candidate : mEvents) {
    if (Candidate.get() != Handle) continue;
    if (!Candidate->Closed) return Candidate.get();
    // A board would act on freed memory here; the platform refuses and records it.
    mOwner.ReportFault(std::string(Service) + " on an event that was already closed");
    return nullptr;
  }
  return nullptr;
}

void EventManager::MarkSignaled(Event &Target) {
  if (Target.Signaled) return;
  Target.Signaled = true;
  if ((Target.Type & EVT_NOTIFY_SIGNAL) != 0 && !Target.Queued) {
    Target.Queued = true;
    mPending.push_back(&Target);
  }
}

EFI_STATUS EventManager::Signal(EFI_EVENT Handle) {
  Event *Target = Find(Handle, "SignalEvent");
  if (Target == nullptr) return EFI_INVALID_PARAMETER;
  if (Target->InGroup) {
    EFI_GUID Group = Target->Group;
    for (auto &Member : mEvents) {
      if (!Member->Closed && Member->InGroup && SameGuid(Member->Group, Group)) MarkSignaled(*Member);
    }
  } else {
    MarkSignaled(*Target);
  }
  DispatchAbove(mTpl);
  return EFI_SUCCESS;
}

void EventManager::SignalGroup(const EFI_GUID &Group) {
  for (auto &Member : mEvents) {
    if (!Member->Closed && Member->InGroup && SameGuid(Member->Group, Group)) MarkSignaled(*Member);
  }
  DispatchAbove(mTpl);
}

// Runs queued notifications whose TPL is above Tpl: the highest TPL first, and
// within one TPL in the order they were queued. A notify function may signal,
// close or create events; the queue is re-read after each call.
void EventManager::DispatchAbove(EFI_TPL Tpl) {
  for (;;) {
    auto Next = mPending.end();
    for (auto It = mPending.begin(); It != mPending.end(); ++It) {
      if ((*It)->NotifyTpl > Tpl && (Next == mPending.end() || (*It)->NotifyTpl > (*Next)->NotifyTpl))
        Next = It;
    }
    if (Next == mPending.end()) return;
    Event *Target = *Next;
    mPending.erase(Next);
    Target->Queued = false;
    Target->Signaled = false;  // a signal-type event's signal is consumed by its notification
    EFI_TPL Saved = mTpl;
    mTpl = Target->NotifyTpl;
    ++mDelivered;
    Target->Notify(Target, Target->Context);
    mTpl = Saved;
  }
}

EFI_STATUS EventManager::Close(EFI_EVENT Handle) {
  Event *Target = Find(Handle, "CloseEvent");
  if (Target == nullptr) return EFI_INVALID_PARAMETER;
  Target->Closed = true;
  if (Target->Queued) {
    mPending.erase(std::find(mPending.begin(), mPending.end(), Target));
    Target->Queued = false;
  }
  return EFI_SUCCESS;
}

// CheckEvent: a wait-type event that is not signalled gets its notify function
// run (it may signal the event); a signal-type event cannot be checked.
EFI_STATUS EventManager::Check(EFI_EVENT Handle) {
  Event *Target = Find(Handle, "CheckEvent");
  if (Target == nullptr || (Target->Type & EVT_NOTIFY_SIGNAL) != 0) return EFI_INVALID_PARAMETER;
  if (!Target->Signaled && (Target->Type & EVT_NOTIFY_WAIT) != 0 && Target->NotifyTpl > mTpl) {
    EFI_TPL Saved = mTpl;
    mTpl = Target->NotifyTpl;
    ++mDelivered;
    Target->Notify(Target, Target->Context);
    mTpl = Saved;
  }
  if (!Target->Signaled) return EFI_NOT_READY;
  Target->Signaled = false;
  return EFI_SUCCESS;
}

// WaitForEvent: the first signalled event of the list ends the wait. Nothing
// signals an event while the platform waits (there are no timers), so a wait
// with none signalled would never end on a board: a fault and EFI_NOT_READY.
EFI_STATUS EventManager::Wait(UINTN NumberOfEvents, EFI_EVENT *List, UINTN *Index) {
  if (NumberOfEvents == 0 || List == nullptr || Index == nullptr) return EFI_INVALID_PARAMETER;
  if (mTpl != TPL_APPLICATION) return EFI_UNSUPPORTED;
  for (UINTN Position = 0; Position < NumberOfEvents; ++Position) {
    EFI_STATUS Status = Check(List[Position]);
    if (Status == EFI_SUCCESS) {
      *Index = Position;
      return EFI_SUCCESS;
    }
    if (Status != EFI_NOT_READY) {
      *Index = Position;
      return Status;
    }
  }
  mOwner.ReportFault("WaitForEvent on events that nothing will signal");
  return EFI_NOT_READY;
}

EFI_TPL EventManager::Raise(EFI_TPL NewTpl) {
  EFI_TPL Old = mTpl;
  if (NewTpl < Old || NewTpl > TPL_HIGH_LEVEL) {
    mOwner.ReportFault("RaiseTPL to " + std::to_string(NewTpl) + " from " + std::to_string(Old));
    return Old;
  }
  mTpl = NewTpl;
  return Old;
}

void EventManager::Restore(EFI_TPL OldTpl) {
  if (OldTpl > mTpl) {
    mOwner.ReportFault("RestoreTPL to " + std::to_string(OldTpl) + " above the current " +
                       std::to_string(mTpl));
    return;
  }
  mTpl = OldTpl;
  DispatchAbove(mTpl);
}

bool EventManager::IsOpen(EFI_EVENT Handle) const {
  for (auto &Candidate : mEvents) {
    if (Candidate.get() == Handle) return !Candidate->Closed;
  }
  return false;
}

UINTN EventManager::OpenEventCount() const {
  UINTN Count = 0;
  for (auto &Candidate : mEvents) Count += Candidate->Closed ? 0 : 1;
  return Count;
}

}  // namespace sim
