// UEFI variable services of the simulated platform, with the rules of an
// edk2-style variable driver (see VariableStore.cpp for each rule), a store
// file that carries the non-volatile variables from one boot to the next, and
// counters and failure injection for tests.
#ifndef ZEPHRIN_SIM_VARIABLE_STORE_H_
#define ZEPHRIN_SIM_VARIABLE_STORE_H_

#include <string>
#include <vector>

#include "sim/VarStoreImage.h"
#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

// Bytes a variable costs in the store besides its name and data: the header of
// an authenticated variable record, which the store file and OVMF's variable
// store use. MaxVariableSize and the store sizes count it, as OVMF does (its
// largest variable under a 0x8400 maximum is 0x83C4 bytes of name and data).
inline constexpr UINTN kVariableHeaderSize = sizeof(AUTHENTICATED_VARIABLE_HEADER);

// Reads a store file; false (with a reason) when it is missing or malformed.
bool ReadVariableStoreFile(const std::string &Path, std::vector<StoredVariable> *Variables,
                           std::string *Error);
// Writes the non-volatile ones; *DoesNotFit (when given) tells a store too
// small for them from a file that cannot be written.
bool WriteVariableStoreFile(const std::string &Path, const std::vector<StoredVariable> &Variables,
                            std::string *Error, bool *DoesNotFit = nullptr);

class VariableStore {
 public:
  explicit VariableStore(Platform &Owner);
  VariableStore(const VariableStore &) = delete;
  VariableStore &operator=(const VariableStore &) = delete;

  EFI_STATUS Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);
  EFI_STATUS GetNextName(UINTN *NameSize, CHAR16 *Name, EFI_GUID *Guid);
  EFI_STATUS Set(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                 const VOID *Data);
  EFI_STATUS QueryInfo(UINT32 Attributes, UINT64 *MaximumStorage, UINT64 *Remaining, UINT64 *MaximumVariable);

  // Reads a variable for the platform's own use (policy state, tests): no
  // runtime visibility rule, no counters.
  const StoredVariable *Find(const std::u16string &Name, const EFI_GUID &Guid) const;
  // Puts a variable into the store as a platform component would before the
  // driver runs: no rule, no policy, no counter. Persists non-volatile ones.
  void Put(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
           const std::vector<UINT8> &Data);
  const std::vector<StoredVariable> &All() const { return mVariables; }

  // SetVariable calls naming a variable this boot, and how many changed the
  // store; both count also after the variable was deleted.
  UINTN SetCalls(const std::u16string &Name, const EFI_GUID &Guid) const;
  UINTN Writes(const std::u16string &Name, const EFI_GUID &Guid) const;
  // The Nth SetVariable call from now (1 = next) returns Status and leaves the
  // store untouched; with a Name, only calls for that variable count.
  void FailSetVariable(UINT64 Nth, EFI_STATUS Status, const std::u16string &Name = u"");

  // Bytes in use (headers included) by non-volatile or by volatile variables.
  UINTN UsedBytes(bool NonVolatile) const;
  // The error of the store file load at construction, empty when none.
  const std::string &LoadError() const { return mLoadError; }

 private:
  StoredVariable *Lookup(const std::u16string &Name, const EFI_GUID &Guid);
  struct Counter {
    EFI_GUID Guid;
    std::u16string Name;
    UINTN Calls;
    UINTN Writes;
  };
  Counter &CounterFor(const std::u16string &Name, const EFI_GUID &Guid);
  bool InjectedFailure(const std::u16string &Name, EFI_STATUS *Status);
  EFI_STATUS Store(StoredVariable *Existing, const std::u16string &Name, const EFI_GUID &Guid,
                   UINT32 Attributes, std::vector<UINT8> Data);
  void Erase(StoredVariable *Existing);
  // False when the variables do not fit the store file (nothing written); a
  // file that cannot be written is a platform fault, and the variables stand.
  bool Persist();

  Platform &mOwner;
  std::vector<StoredVariable> mVariables;  // store order: GetNextVariableName walks it
  std::vector<Counter> mCounters;
  UINT64 mFailAt = 0;  // countdown of the injected SetVariable failure, 0 = off
  EFI_STATUS mFailStatus = EFI_DEVICE_ERROR;
  std::u16string mFailName;
  std::string mLoadError;
};

// UCS-2 length of a firmware-supplied name, bounded so that a missing
// terminator cannot run through memory: at most 0x10000 characters are looked at.
bool BoundedName(const CHAR16 *Name, std::u16string *Out);

}  // namespace sim

#endif  // ZEPHRIN_SIM_VARIABLE_STORE_H_
