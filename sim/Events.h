// Events, event groups and task priority levels with the dispatch rules of a
// UEFI core: signalling queues notify functions, and queued notifications run
// as soon as the TPL drops below theirs, higher TPL first, FIFO within a TPL,
// each at its own TPL. A closed event is never notified, even when it was
// already queued.
#ifndef ZEPHRIN_SIM_EVENTS_H_
#define ZEPHRIN_SIM_EVENTS_H_

#include <memory>
#include <utility>
#include <vector>

#include "uefi/Guid/EventGroup.h"
#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

inline constexpr EFI_GUID kVirtualAddressChangeGroupGuid = {
    0x13FA7698, 0xC831, 0x49C7, {0x87, 0xEA, 0x8F, 0x43, 0xFC, 0xC2, 0x51, 0x96}};

// First system table revision whose ExitBootServices signals the group below.
inline constexpr UINT32 kBeforeExitBootServicesRevision = (2u << 16) | 80u;
inline constexpr EFI_GUID kBeforeExitBootServicesGroupGuid = gEfiEventBeforeExitBootServicesGuid;

class EventManager {
 public:
  explicit EventManager(Platform &Owner) : mOwner(Owner) {}
  EventManager(const EventManager &) = delete;
  EventManager &operator=(const EventManager &) = delete;

  EFI_STATUS Create(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                    const VOID *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Event);
  EFI_STATUS Signal(EFI_EVENT Event);
  EFI_STATUS Close(EFI_EVENT Event);
  EFI_STATUS Check(EFI_EVENT Event);
  EFI_STATUS Wait(UINTN NumberOfEvents, EFI_EVENT *List, UINTN *Index);
  EFI_TPL Raise(EFI_TPL NewTpl);
  void Restore(EFI_TPL OldTpl);

  // Signals every open event of a group, as a platform component does with a
  // signal-only event of that group (EfiEventGroupSignal).
  void SignalGroup(const EFI_GUID &Group);
  EFI_TPL CurrentTpl() const { return mTpl; }
  // A handle of an event that exists and is not closed.
  bool IsOpen(EFI_EVENT Handle) const;
  // Open events, and how many notify calls the platform made so far.
  UINTN OpenEventCount() const;
  UINTN NotificationsDelivered() const { return mDelivered; }
  // From now on creating an event in Group fails with Status (resources run out,
  // a firmware refuses the group): the creator's failure path runs.
  void FailGroupCreation(const EFI_GUID &Group, EFI_STATUS Status) {
    mGroupFailures.emplace_back(Group, Status);
  }

 private:
  struct Event {
    UINT32 Type;
    EFI_TPL NotifyTpl;
    EFI_EVENT_NOTIFY Notify;
    VOID *Context;
    bool InGroup;  // Group is valid
    EFI_GUID Group;
    bool Closed;    // CloseEvent done; the object stays so stale handles are caught
    bool Signaled;  // signal state (SignalCount != 0)
    bool Queued;    // notify function waiting in mPending
  };
  Event *Find(EFI_EVENT Handle, const char *Service);
  void MarkSignaled(Event &Target);
  void DispatchAbove(EFI_TPL Tpl);

  Platform &mOwner;
  std::vector<std::unique_ptr<Event>> mEvents;  // creation order; never shrinks
  std::vector<Event *> mPending;                // queued notifications, FIFO
  EFI_TPL mTpl = TPL_APPLICATION;
  UINTN mDelivered = 0;
  std::vector<std::pair<EFI_GUID, EFI_STATUS>> mGroupFailures;  // FailGroupCreation
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_EVENTS_H_
