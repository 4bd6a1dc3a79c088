#include "sim/VariablePolicy.h"

#include <cstring>

#include "sim/Platform.h"
#include "sim/VariableStore.h"

namespace sim {

namespace {

constexpr UINTN kEntryHeader = sizeof(VARIABLE_POLICY_ENTRY);
constexpr UINTN kLockHeader = sizeof(VARIABLE_LOCK_ON_VAR_STATE_POLICY);
constexpr UINTN kNoMatch = ~UINTN{0};

VariablePolicyEngine &Engine() {
  return CurrentPlatform().Policy();
}

EFI_STATUS EFIAPI SimDisableVariablePolicy() {
  return Engine().Disable();
}
EFI_STATUS EFIAPI SimIsVariablePolicyEnabled(BOOLEAN *State) {
  return Engine().IsEnabled(State);
}
EFI_STATUS EFIAPI SimRegisterVariablePolicy(const VARIABLE_POLICY_ENTRY *Entry) {
  return Engine().Register(Entry);
}
EFI_STATUS EFIAPI SimDumpVariablePolicy(UINT8 *Policy, UINT32 *Size) {
  return Engine().Dump(Policy, Size);
}
EFI_STATUS EFIAPI SimLockVariablePolicy() {
  return Engine().Lock();
}

EFI_STATUS EFIAPI SimGetVariablePolicyInfo(const CHAR16 *Name, const EFI_GUID *Guid, UINTN *NameBufferSize,
                                           VARIABLE_POLICY_ENTRY *Entry, CHAR16 *PolicyName) {
  return Engine().GetInfo(Name, Guid, NameBufferSize, Entry, PolicyName);
}

EFI_STATUS EFIAPI SimGetLockOnVariableStateVariablePolicyInfo(const CHAR16 *Name, const EFI_GUID *Guid,
                                                              UINTN *NameBufferSize,
                                                              VARIABLE_LOCK_ON_VAR_STATE_POLICY *Lock,
                                                              CHAR16 *StateName) {
  return Engine().GetLockOnVarStateInfo(Name, Guid, NameBufferSize, Lock, StateName);
}

// A UCS-2 string that starts at byte Offset of Entry and whose terminator is the
// last character before byte End. Characters are read unaligned (entries are
// packed and their names may sit at odd offsets).
bool NameEndsAt(const UINT8 *Entry, UINTN Offset, UINTN End, std::u16string *Name) {
  if (Offset > End || (End - Offset) < sizeof(CHAR16) || (End - Offset) % sizeof(CHAR16) != 0) return false;
  Name->clear();
  for (UINTN Pos = Offset; Pos + sizeof(CHAR16) <= End; Pos += sizeof(CHAR16)) {
    CHAR16 Char;
    std::memcpy(&Char, Entry + Pos, sizeof(Char));
    if (Char == 0) return Pos + sizeof(CHAR16) == End;
    Name->push_back(Char);
  }
  return false;
}

bool IsHexDigit(CHAR16 Char) {
  return (Char >= u'0' && Char <= u'9') || (Char >= u'A' && Char <= u'F') || (Char >= u'a' && Char <= u'f');
}

// Match priority of a policy name against a variable name: 0 for an exact
// match, the number of '#' wildcards (each matching one hex digit) otherwise,
// kNoMatch when it does not match.
UINTN MatchPriority(const std::u16string &Pattern, const std::u16string &Name) {
  if (Pattern.size() != Name.size()) return kNoMatch;
  UINTN Wildcards = 0;
  for (size_t Index = 0; Index < Name.size(); ++Index) {
    if (Pattern[Index] == u'#' && IsHexDigit(Name[Index])) {
      ++Wildcards;
    } else if (Pattern[Index] != Name[Index]) {
      return kNoMatch;
    }
  }
  return Wildcards;
}

std::u16string PolicyName(const VARIABLE_POLICY_ENTRY *Entry) {
  std::u16string Name;
  if (Entry->OffsetToName < Entry->Size) {
    NameEndsAt(reinterpret_cast<const UINT8 *>(Entry), Entry->OffsetToName, Entry->Size, &Name);
  }
  return Name;
}

std::u16string StateName(const VARIABLE_POLICY_ENTRY *Entry) {
  std::u16string Name;
  NameEndsAt(reinterpret_cast<const UINT8 *>(Entry), kEntryHeader + kLockHeader, Entry->OffsetToName, &Name);
  return Name;
}

const VARIABLE_LOCK_ON_VAR_STATE_POLICY *LockData(const VARIABLE_POLICY_ENTRY *Entry) {
  return reinterpret_cast<const VARIABLE_LOCK_ON_VAR_STATE_POLICY *>(reinterpret_cast<const UINT8 *>(Entry) +
                                                                     kEntryHeader);
}

// Copies a name with its terminator when the caller's buffer holds it; the
// size needed is reported either way.
EFI_STATUS CopyName(const std::u16string &Name, UINTN *BufferSize, CHAR16 *Buffer) {
  UINTN Needed = (Name.size() + 1) * sizeof(CHAR16);
  if (Buffer == nullptr || *BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Buffer, Name.c_str(), Needed);
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

}  // namespace

// Validation of an entry as an edk2 policy engine does it: known version, a
// size that holds the header, a maximum size that is not 0, a known lock type;
// for lock-on-var-state the lock data and a non-empty state name terminated
// right before OffsetToName, for the other types OffsetToName right after the
// header; the target name, when present, terminated right at Size.
bool IsValidPolicyEntry(const VARIABLE_POLICY_ENTRY *Entry) {
  if (Entry == nullptr || Entry->Version != VARIABLE_POLICY_ENTRY_REVISION || Entry->Size < kEntryHeader ||
      Entry->OffsetToName > Entry->Size || Entry->MaxSize == 0 || Entry->MinSize > Entry->MaxSize) {
    return false;
  }
  const auto *Bytes = reinterpret_cast<const UINT8 *>(Entry);
  std::u16string Scratch;
  switch (Entry->LockPolicyType) {
    case VARIABLE_POLICY_TYPE_NO_LOCK:
    case VARIABLE_POLICY_TYPE_LOCK_NOW:
    case VARIABLE_POLICY_TYPE_LOCK_ON_CREATE:
      if (Entry->OffsetToName != kEntryHeader) return false;
      break;
    case VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE:
      if (Entry->OffsetToName < kEntryHeader + kLockHeader) return false;
      if (!NameEndsAt(Bytes, kEntryHeader + kLockHeader, Entry->OffsetToName, &Scratch) || Scratch.empty()) {
        return false;
      }
      break;
    default:
      return false;
  }
  if (Entry->OffsetToName == Entry->Size) return true;  // no name: the whole namespace
  return NameEndsAt(Bytes, Entry->OffsetToName, Entry->Size, &Scratch);
}

VariablePolicyEngine::VariablePolicyEngine(Platform &Owner) : mOwner(Owner) {
  mProtocol.Revision = EDKII_VARIABLE_POLICY_PROTOCOL_REVISION;
  mProtocol.DisableVariablePolicy = &SimDisableVariablePolicy;
  mProtocol.IsVariablePolicyEnabled = &SimIsVariablePolicyEnabled;
  mProtocol.RegisterVariablePolicy = &SimRegisterVariablePolicy;
  mProtocol.DumpVariablePolicy = &SimDumpVariablePolicy;
  mProtocol.LockVariablePolicy = &SimLockVariablePolicy;
  mProtocol.GetVariablePolicyInfo = &SimGetVariablePolicyInfo;
  mProtocol.GetLockOnVariableStateVariablePolicyInfo = &SimGetLockOnVariableStateVariablePolicyInfo;
}

EFI_STATUS VariablePolicyEngine::Install() {
  return mOwner.Protocols().InstallOnNewHandle(gEdkiiVariablePolicyProtocolGuid, &mProtocol) != nullptr
             ? EFI_SUCCESS
             : EFI_OUT_OF_RESOURCES;
}

// RegisterVariablePolicy: EFI_WRITE_PROTECTED once locked, EFI_INVALID_PARAMETER
// for a malformed entry, EFI_ALREADY_STARTED for a second policy on the same
// namespace and name. The caller's buffer is not kept.
EFI_STATUS VariablePolicyEngine::Register(const VARIABLE_POLICY_ENTRY *Entry) {
  ++mRegisterCalls;
  if (mFailStatus != EFI_SUCCESS) return mFailStatus;
  if (mLocked) return EFI_WRITE_PROTECTED;
  if (!IsValidPolicyEntry(Entry)) return EFI_INVALID_PARAMETER;
  std::u16string Name = PolicyName(Entry);
  for (auto &Stored : mEntries) {
    const auto *Other = reinterpret_cast<const VARIABLE_POLICY_ENTRY *>(Stored.data());
    if (std::memcmp(&Other->Namespace, &Entry->Namespace, sizeof(EFI_GUID)) == 0 && PolicyName(Other) == Name)
      return EFI_ALREADY_STARTED;
  }
  const auto *Bytes = reinterpret_cast<const UINT8 *>(Entry);
  mEntries.emplace_back(Bytes, Bytes + Entry->Size);
  return EFI_SUCCESS;
}

EFI_STATUS VariablePolicyEngine::Disable() {
  if (mLocked) return EFI_WRITE_PROTECTED;
  if (!mEnabled) return EFI_ALREADY_STARTED;
  mEnabled = false;
  return EFI_SUCCESS;
}

EFI_STATUS VariablePolicyEngine::IsEnabled(BOOLEAN *State) const {
  if (State == nullptr) return EFI_INVALID_PARAMETER;
  *State = mEnabled ? TRUE : FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS VariablePolicyEngine::Dump(UINT8 *Policy, UINT32 *Size) const {
  if (Size == nullptr || (*Size != 0 && Policy == nullptr)) return EFI_INVALID_PARAMETER;
  UINT32 Total = 0;
  for (auto &Stored : mEntries) Total += static_cast<UINT32>(Stored.size());
  if (*Size < Total) {
    *Size = Total;
    return EFI_BUFFER_TOO_SMALL;
  }
  for (auto &Stored : mEntries) {
    std::memcpy(Policy, Stored.data(), Stored.size());
    Policy += Stored.size();
  }
  *Size = Total;
  return EFI_SUCCESS;
}

EFI_STATUS VariablePolicyEngine::Lock() {
  if (mLocked) return EFI_WRITE_PROTECTED;
  mLocked = true;
  return EFI_SUCCESS;
}

const VARIABLE_POLICY_ENTRY *VariablePolicyEngine::BestMatch(const std::u16string &Name,
                                                             const EFI_GUID &Guid) const {
  const VARIABLE_POLICY_ENTRY *Best = nullptr;
  UINTN BestPriority = kNoMatch;
  for (auto &Stored : mEntries) {
    const auto *Entry = reinterpret_cast<const VARIABLE_POLICY_ENTRY *>(Stored.data());
    if (std::memcmp(&Entry->Namespace, &Guid, sizeof(EFI_GUID)) != 0) continue;
    // A namespace-wide policy ranks below every named one.
    UINTN Priority =
        Entry->OffsetToName == Entry->Size ? kNoMatch - 1 : MatchPriority(PolicyName(Entry), Name);
    if (Priority < BestPriority) {
      Best = Entry;
      BestPriority = Priority;
    }
  }
  return Best;
}

// Enforcement: size and attribute rules apply to writes, not to deletes; the
// lock rules apply to both. A lock-on-var-state policy reads its state
// variable as one byte: a larger state variable never matches.
EFI_STATUS VariablePolicyEngine::CheckSetVariable(const std::u16string &Name, const EFI_GUID &Guid,
                                                  UINT32 Attributes, UINTN DataSize, bool IsDelete) const {
  if (!mLocked || !mEnabled) return EFI_SUCCESS;
  const VARIABLE_POLICY_ENTRY *Policy = BestMatch(Name, Guid);
  if (Policy == nullptr) return EFI_SUCCESS;
  if (!IsDelete) {
    if ((Policy->MinSize > 0 && DataSize < Policy->MinSize) || DataSize > Policy->MaxSize) {
      return EFI_INVALID_PARAMETER;
    }
    if ((Attributes & Policy->AttributesMustHave) != Policy->AttributesMustHave ||
        (Attributes & Policy->AttributesCantHave) != 0) {
      return EFI_INVALID_PARAMETER;
    }
  }
  switch (Policy->LockPolicyType) {
    case VARIABLE_POLICY_TYPE_LOCK_NOW:
      return EFI_WRITE_PROTECTED;
    case VARIABLE_POLICY_TYPE_LOCK_ON_CREATE:
      return mOwner.Variables().Find(Name, Guid) != nullptr ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
    case VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE: {
      const VARIABLE_LOCK_ON_VAR_STATE_POLICY *Lock = LockData(Policy);
      EFI_GUID StateGuid;
      std::memcpy(&StateGuid, &Lock->Namespace, sizeof(StateGuid));
      const StoredVariable *State = mOwner.Variables().Find(StateName(Policy), StateGuid);
      bool Locked = State != nullptr && State->Data.size() == 1 && State->Data[0] == Lock->Value;
      return Locked ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
    }
    default:
      return EFI_SUCCESS;
  }
}

EFI_STATUS VariablePolicyEngine::GetInfo(const CHAR16 *Name, const EFI_GUID *Guid, UINTN *NameBufferSize,
                                         VARIABLE_POLICY_ENTRY *Entry, CHAR16 *PolicyNameOut) const {
  std::u16string Key;
  if (Guid == nullptr || NameBufferSize == nullptr || Entry == nullptr || !BoundedName(Name, &Key)) {
    return EFI_INVALID_PARAMETER;
  }
  const VARIABLE_POLICY_ENTRY *Policy = BestMatch(Key, *Guid);
  if (Policy == nullptr) return EFI_NOT_FOUND;
  std::memcpy(Entry, Policy, kEntryHeader);
  if (Policy->OffsetToName == Policy->Size) {
    *NameBufferSize = 0;
    return EFI_SUCCESS;
  }
  return CopyName(PolicyName(Policy), NameBufferSize, PolicyNameOut);
}

EFI_STATUS VariablePolicyEngine::GetLockOnVarStateInfo(const CHAR16 *Name, const EFI_GUID *Guid,
                                                       UINTN *NameBufferSize,
                                                       VARIABLE_LOCK_ON_VAR_STATE_POLICY *Lock,
                                                       CHAR16 *StateNameOut) const {
  std::u16string Key;
  if (Guid == nullptr || NameBufferSize == nullptr || Lock == nullptr || !BoundedName(Name, &Key)) {
    return EFI_INVALID_PARAMETER;
  }
  const VARIABLE_POLICY_ENTRY *Policy = BestMatch(Key, *Guid);
  if (Policy == nullptr || Policy->LockPolicyType != VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE)
    return EFI_NOT_FOUND;
  std::memcpy(Lock, LockData(Policy), kLockHeader);
  return CopyName(StateName(Policy), NameBufferSize, StateNameOut);
}

}  // namespace sim
