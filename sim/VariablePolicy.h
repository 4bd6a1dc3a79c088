// The EDK II Variable Policy protocol of the simulated platform, enforcing the
// registered policies on SetVariable the way an edk2-based firmware does:
// entries are validated and copied at registration; from EndOfDxe on (or an
// explicit LockVariablePolicy) no policy can be added and every SetVariable is
// checked against the best-matching policy.
#ifndef ZEPHRIN_SIM_VARIABLE_POLICY_H_
#define ZEPHRIN_SIM_VARIABLE_POLICY_H_

#include <string>
#include <vector>

#include "uefi/Protocol/VariablePolicy.h"

namespace sim {

class Platform;

class VariablePolicyEngine {
 public:
  explicit VariablePolicyEngine(Platform &Owner);
  VariablePolicyEngine(const VariablePolicyEngine &) = delete;
  VariablePolicyEngine &operator=(const VariablePolicyEngine &) = delete;

  // Installs the protocol on a new handle (a platform may also go without it).
  EFI_STATUS Install();
  EDKII_VARIABLE_POLICY_PROTOCOL *Protocol() { return &mProtocol; }

  EFI_STATUS Register(const VARIABLE_POLICY_ENTRY *Entry);
  EFI_STATUS Disable();
  EFI_STATUS IsEnabled(BOOLEAN *State) const;
  EFI_STATUS Dump(UINT8 *Policy, UINT32 *Size) const;
  EFI_STATUS Lock();
  EFI_STATUS GetInfo(const CHAR16 *Name, const EFI_GUID *Guid, UINTN *NameBufferSize,
                     VARIABLE_POLICY_ENTRY *Entry, CHAR16 *PolicyName) const;
  EFI_STATUS GetLockOnVarStateInfo(const CHAR16 *Name, const EFI_GUID *Guid, UINTN *NameBufferSize,
                                   VARIABLE_LOCK_ON_VAR_STATE_POLICY *Lock, CHAR16 *StateName) const;

  // Called by SetVariable after its own parameter checks; EFI_SUCCESS lets the
  // write go on. Before the interface is locked every write passes.
  EFI_STATUS CheckSetVariable(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                              UINTN DataSize, bool IsDelete) const;

  bool Locked() const { return mLocked; }
  // The copies the protocol keeps, in registration order.
  const std::vector<std::vector<UINT8>> &Entries() const { return mEntries; }
  UINTN RegisterCalls() const { return mRegisterCalls; }
  // The next RegisterVariablePolicy calls return Status without registering.
  void FailRegistration(EFI_STATUS Status) { mFailStatus = Status; }

 private:
  const VARIABLE_POLICY_ENTRY *BestMatch(const std::u16string &Name, const EFI_GUID &Guid) const;

  Platform &mOwner;
  EDKII_VARIABLE_POLICY_PROTOCOL mProtocol{};
  std::vector<std::vector<UINT8>> mEntries;  // validated copies
  bool mEnabled = true;                      // DisableVariablePolicy switches it off for the boot
  bool mLocked = false;                      // no more registrations; enforcement on
  UINTN mRegisterCalls = 0;
  EFI_STATUS mFailStatus = EFI_SUCCESS;
};

// Is this a well-formed policy entry of Size bytes (version, sizes, offsets,
// lock data and both names terminated where the offsets say)?
bool IsValidPolicyEntry(const VARIABLE_POLICY_ENTRY *Entry);

}  // namespace sim

#endif  // ZEPHRIN_SIM_VARIABLE_POLICY_H_
