#include "sim/VariableStore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/Platform.h"
#include "sim/ServiceTable.h"

namespace sim {

namespace {

constexpr UINT32 kAccessBits = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 kSupportedBits = EFI_VARIABLE_NON_VOLATILE | kAccessBits | EFI_VARIABLE_APPEND_WRITE;
// Defined by UEFI but not provided by this store (no authenticated variables,
// no hardware error records): refused with EFI_UNSUPPORTED as such a store does.
constexpr UINT32 kUnsupportedBits = EFI_VARIABLE_HARDWARE_ERROR_RECORD |
                                    EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS |
                                    EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS | 0x80;
constexpr UINTN kMaxNameChars = 0x10000;

VariableStore &Store() {
  return CurrentPlatform().Variables();
}

EFI_STATUS EFIAPI SimGetVariable(CHAR16 *Name, EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                                 VOID *Data) {
  CurrentPlatform().CheckTpl("GetVariable", TPL_CALLBACK);
  return Store().Get(Name, Guid, Attributes, DataSize, Data);
}

EFI_STATUS EFIAPI SimGetNextVariableName(UINTN *NameSize, CHAR16 *Name, EFI_GUID *Guid) {
  CurrentPlatform().CheckTpl("GetNextVariableName", TPL_CALLBACK);
  return Store().GetNextName(NameSize, Name, Guid);
}

EFI_STATUS EFIAPI SimSetVariable(CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                                 VOID *Data) {
  CurrentPlatform().CheckTpl("SetVariable", TPL_CALLBACK);
  return Store().Set(Name, Guid, Attributes, DataSize, Data);
}

EFI_STATUS EFIAPI SimQueryVariableInfo(UINT32 Attributes, UINT64 *MaximumStorage, UINT64 *Remaining,
                                       UINT64 *MaximumVariable) {
  CurrentPlatform().CheckTpl("QueryVariableInfo", TPL_CALLBACK);
  return Store().QueryInfo(Attributes, MaximumStorage, Remaining, MaximumVariable);
}

UINTN RecordSize(const std::u16string &Name, UINTN DataSize) {
  return kVariableHeaderSize + (Name.size() + 1) * sizeof(CHAR16) + DataSize;
}

bool ReadFileBytes(const std::string &Path, std::vector<UINT8> *Out) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) return false;
  Out->assign(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
  return !File.bad();
}

}  // namespace

void BindVariableServices(EFI_RUNTIME_SERVICES &Rt) {
  Rt.GetVariable = &SimGetVariable;
  Rt.GetNextVariableName = &SimGetNextVariableName;
  Rt.SetVariable = &SimSetVariable;
  Rt.QueryVariableInfo = &SimQueryVariableInfo;
}

bool BoundedName(const CHAR16 *Name, std::u16string *Out) {
  if (Name == nullptr) return false;
  for (UINTN Index = 0; Index < kMaxNameChars; ++Index) {
    if (Name[Index] == 0) {
      Out->assign(Name, Index);
      return true;
    }
  }
  return false;
}

// The store file is a variable store image (sim/VarStoreImage.h) laid out like
// OVMF's variable file, so a store a simulated boot wrote can be QEMU's
// variable flash, and OVMF's file can carry variables into a simulated boot.
bool ReadVariableStoreFile(const std::string &Path, std::vector<StoredVariable> *Variables,
                           std::string *Error) {
  std::vector<UINT8> Image;
  if (!ReadFileBytes(Path, &Image)) {
    *Error = "cannot open " + Path;
    return false;
  }
  VarStoreContents Contents;
  std::string Why;
  if (!ReadVarStore(Image.data(), Image.size(), &Contents, &Why)) {
    *Error = Path + ": " + Why;
    return false;
  }
  Variables->clear();
  for (const VarCopy *Copy : Contents.CurrentCopies()) Variables->push_back(Copy->Variable);
  return true;
}

// Keeps the file's own geometry (and whatever lies outside its variables area)
// when it already holds a sound store; otherwise starts from an empty image.
bool WriteVariableStoreFile(const std::string &Path, const std::vector<StoredVariable> &Variables,
                            std::string *Error, bool *DoesNotFit) {
  std::vector<UINT8> Image;
  VarStoreLocation Location;
  std::string Why;
  if (!ReadFileBytes(Path, &Image) || !LocateVarStore(Image.data(), Image.size(), &Location, &Why)) {
    Image = NewVarStoreImage();
  }
  std::vector<StoredVariable> NonVolatile;
  for (const StoredVariable &Variable : Variables) {
    if ((Variable.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0) NonVolatile.push_back(Variable);
  }
  if (!RewriteVarStore(&Image, NonVolatile, &Why)) {
    *Error = Path + ": " + Why;
    if (DoesNotFit != nullptr) *DoesNotFit = true;
    return false;
  }
  // Written beside and renamed, so a boot that dies mid-write keeps the old store.
  std::string Temporary = Path + ".tmp";
  {
    std::ofstream File(Temporary, std::ios::binary | std::ios::trunc);
    File.write(reinterpret_cast<const char *>(Image.data()), static_cast<std::streamsize>(Image.size()));
    if (!File) {
      *Error = "cannot write " + Temporary;
      return false;
    }
  }
  if (std::rename(Temporary.c_str(), Path.c_str()) != 0) {
    *Error = "cannot rename " + Temporary + " to " + Path;
    return false;
  }
  return true;
}

VariableStore::VariableStore(Platform &Owner) : mOwner(Owner) {
  const std::string &Path = mOwner.Options().VariableStorePath;
  if (Path.empty()) return;
  std::ifstream Probe(Path);
  if (!Probe) return;  // first boot: no store yet
  if (!ReadVariableStoreFile(Path, &mVariables, &mLoadError)) mVariables.clear();
}

bool VariableStore::Persist() {
  const std::string &Path = mOwner.Options().VariableStorePath;
  std::string Error;
  bool DoesNotFit = false;
  if (Path.empty() || WriteVariableStoreFile(Path, mVariables, &Error, &DoesNotFit)) return true;
  if (DoesNotFit) return false;
  mOwner.ReportFault(Error);
  return true;
}

StoredVariable *VariableStore::Lookup(const std::u16string &Name, const EFI_GUID &Guid) {
  for (auto &Variable : mVariables) {
    if (Variable.Is(Name, Guid)) return &Variable;
  }
  return nullptr;
}

const StoredVariable *VariableStore::Find(const std::u16string &Name, const EFI_GUID &Guid) const {
  return const_cast<VariableStore *>(this)->Lookup(Name, Guid);
}

VariableStore::Counter &VariableStore::CounterFor(const std::u16string &Name, const EFI_GUID &Guid) {
  for (auto &Entry : mCounters) {
    if (Entry.Name == Name && SameGuid(Entry.Guid, Guid)) return Entry;
  }
  mCounters.push_back(Counter{Guid, Name, 0, 0});
  return mCounters.back();
}

UINTN VariableStore::SetCalls(const std::u16string &Name, const EFI_GUID &Guid) const {
  for (auto &Entry : mCounters) {
    if (Entry.Name == Name && SameGuid(Entry.Guid, Guid)) return Entry.Calls;
  }
  return 0;
}

UINTN VariableStore::Writes(const std::u16string &Name, const EFI_GUID &Guid) const {
  for (auto &Entry : mCounters) {
    if (Entry.Name == Name && SameGuid(Entry.Guid, Guid)) return Entry.Writes;
  }
  return 0;
}

void VariableStore::FailSetVariable(UINT64 Nth, EFI_STATUS Status, const std::u16string &Name) {
  mFailAt = Nth;
  mFailStatus = Status;
  mFailName = Name;
}

bool VariableStore::InjectedFailure(const std::u16string &Name, EFI_STATUS *Status) {
  if (mFailAt == 0 || (!mFailName.empty() && mFailName != Name)) return false;
  if (--mFailAt != 0) return false;
  *Status = mFailStatus;
  return true;
}

UINTN VariableStore::UsedBytes(bool NonVolatile) const {
  UINTN Used = 0;
  for (auto &Variable : mVariables) {
    if (((Variable.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0) == NonVolatile) {
      Used += RecordSize(Variable.Name, Variable.Data.size());
    }
  }
  return Used;
}

void VariableStore::Put(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                        const std::vector<UINT8> &Data) {
  StoredVariable *Existing = Lookup(Name, Guid);
  if (Existing != nullptr) {
    Existing->Attributes = Attributes;
    Existing->Data = Data;
  } else {
    mVariables.push_back(StoredVariable{Guid, Name, Attributes, Data});
  }
  if ((Attributes & EFI_VARIABLE_NON_VOLATILE) != 0 && !Persist()) {
    mOwner.ReportFault("the store file cannot hold " + NameText(Name) + ": its variables area is full");
  }
}

// GetVariable: after ExitBootServices only runtime-access variables are
// visible. EFI_BUFFER_TOO_SMALL reports the size needed and, like an edk2
// store, the attributes too.
EFI_STATUS VariableStore::Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                              VOID *Data) {
  std::u16string Key;
  if (Guid == nullptr || DataSize == nullptr || !BoundedName(Name, &Key)) return EFI_INVALID_PARAMETER;
  if (Key.empty()) return EFI_NOT_FOUND;
  const StoredVariable *Variable = Lookup(Key, *Guid);
  if (Variable == nullptr) return EFI_NOT_FOUND;
  if (mOwner.AtRuntime() && (Variable->Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0) return EFI_NOT_FOUND;
  if (*DataSize < Variable->Data.size()) {
    *DataSize = Variable->Data.size();
    if (Attributes != nullptr) *Attributes = Variable->Attributes;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Data == nullptr) return EFI_INVALID_PARAMETER;
  std::memcpy(Data, Variable->Data.data(), Variable->Data.size());
  *DataSize = Variable->Data.size();
  if (Attributes != nullptr) *Attributes = Variable->Attributes;
  return EFI_SUCCESS;
}

// GetNextVariableName (UEFI 2.8 rules): the name passed in must be terminated
// within *NameSize bytes and, unless empty, name an existing variable
// (EFI_INVALID_PARAMETER otherwise).
EFI_STATUS VariableStore::GetNextName(UINTN *NameSize, CHAR16 *Name, EFI_GUID *Guid) {
  if (NameSize == nullptr || Name == nullptr || Guid == nullptr) return EFI_INVALID_PARAMETER;
  UINTN Chars = *NameSize / sizeof(CHAR16);
  UINTN Length = 0;
  while (Length < Chars && Name[Length] != 0) ++Length;
  if (Length == Chars) return EFI_INVALID_PARAMETER;
  std::u16string Current(Name, Length);
  auto Visible = [this](const StoredVariable &Variable) {
    return !mOwner.AtRuntime() || (Variable.Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0;
  };
  size_t Index = 0;
  if (!Current.empty()) {
    while (Index < mVariables.size() &&
           !(mVariables[Index].Name == Current && SameGuid(mVariables[Index].Guid, *Guid) &&
             Visible(mVariables[Index]))) {
      ++Index;
    }
    if (Index == mVariables.size()) return EFI_INVALID_PARAMETER;
    ++Index;
  }
  while (Index < mVariables.size() && !Visible(mVariables[Index])) ++Index;
  if (Index == mVariables.size()) return EFI_NOT_FOUND;
  const StoredVariable &Next = mVariables[Index];
  UINTN Needed = (Next.Name.size() + 1) * sizeof(CHAR16);
  if (*NameSize < Needed) {
    *NameSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Name, Next.Name.c_str(), Needed);
  *Guid = Next.Guid;
  *NameSize = Needed;
  return EFI_SUCCESS;
}

// SetVariable, in the order an edk2-style store checks:
//  - a name, a GUID, and data when DataSize is not 0 (EFI_INVALID_PARAMETER);
//  - reserved attribute bits: EFI_INVALID_PARAMETER; authenticated and
//    hardware-error-record variables: EFI_UNSUPPORTED; runtime access needs
//    boot-service access (EFI_INVALID_PARAMETER);
//  - header + name + data above MaxVariableSize: EFI_INVALID_PARAMETER;
//  - after ExitBootServices only NV+BS+RT variables can be written;
//  - injected failure, then the variable policies (once enforcement is on);
//  - an existing variable written with other attributes (ignoring append, and
//    not a delete by attributes 0): EFI_INVALID_PARAMETER;
//  - DataSize 0 without append, or no access attribute, deletes (EFI_NOT_FOUND
//    when there is nothing to delete);
//  - the same data again changes nothing; a full store is EFI_OUT_OF_RESOURCES.
EFI_STATUS VariableStore::Set(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                              const VOID *Data) {
  std::u16string Key;
  if (Guid == nullptr || !BoundedName(Name, &Key) || Key.empty()) return EFI_INVALID_PARAMETER;
  Counter &Count = CounterFor(Key, *Guid);
  ++Count.Calls;
  if (DataSize != 0 && Data == nullptr) return EFI_INVALID_PARAMETER;
  if ((Attributes & ~(kSupportedBits | kUnsupportedBits)) != 0) return EFI_INVALID_PARAMETER;
  if ((Attributes & kUnsupportedBits) != 0) return EFI_UNSUPPORTED;
  if ((Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 &&
      (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (DataSize > mOwner.Options().MaxVariableSize ||
      RecordSize(Key, DataSize) > mOwner.Options().MaxVariableSize) {
    return EFI_INVALID_PARAMETER;
  }
  bool Append = (Attributes & EFI_VARIABLE_APPEND_WRITE) != 0;
  bool Delete = (DataSize == 0 && !Append) || (Attributes & kAccessBits) == 0;
  if (mOwner.AtRuntime() && !Delete &&
      (Attributes & (EFI_VARIABLE_NON_VOLATILE | kAccessBits)) != (EFI_VARIABLE_NON_VOLATILE | kAccessBits)) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = EFI_SUCCESS;
  if (InjectedFailure(Key, &Status)) return Status;
  Status = mOwner.Policy().CheckSetVariable(Key, *Guid, Attributes, DataSize, Delete);
  if (EFI_ERROR(Status)) return Status;

  StoredVariable *Existing = Lookup(Key, *Guid);
  // A boot-services-only variable is invisible at runtime: nothing to delete,
  // and it cannot be shadowed by a runtime variable of the same name.
  if (Existing != nullptr && mOwner.AtRuntime() &&
      (Existing->Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0) {
    return Delete ? EFI_NOT_FOUND : EFI_INVALID_PARAMETER;
  }
  if (Existing != nullptr && Attributes != 0 &&
      (Existing->Attributes & ~EFI_VARIABLE_APPEND_WRITE) != (Attributes & ~EFI_VARIABLE_APPEND_WRITE)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Delete) {
    if (Existing == nullptr) return EFI_NOT_FOUND;
    Erase(Existing);
    ++Count.Writes;
    return EFI_SUCCESS;
  }
  if (Append && DataSize == 0) return EFI_SUCCESS;
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  std::vector<UINT8> NewData(Bytes, Bytes + DataSize);
  if (Existing != nullptr && Append)
    NewData.insert(NewData.begin(), Existing->Data.begin(), Existing->Data.end());
  if (Existing != nullptr && !Append && Existing->Data == NewData) return EFI_SUCCESS;
  if (RecordSize(Key, NewData.size()) > mOwner.Options().MaxVariableSize) return EFI_INVALID_PARAMETER;
  Status = Store(Existing, Key, *Guid, Attributes & ~EFI_VARIABLE_APPEND_WRITE, std::move(NewData));
  if (!EFI_ERROR(Status)) ++Count.Writes;
  return Status;
}

EFI_STATUS VariableStore::Store(StoredVariable *Existing, const std::u16string &Name, const EFI_GUID &Guid,
                                UINT32 Attributes, std::vector<UINT8> Data) {
  bool NonVolatile = (Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  UINTN Capacity = NonVolatile ? mOwner.Options().NonVolatileStoreSize : mOwner.Options().VolatileStoreSize;
  UINTN Used = UsedBytes(NonVolatile) - (Existing != nullptr ? RecordSize(Name, Existing->Data.size()) : 0);
  if (RecordSize(Name, Data.size()) > Capacity - std::min(Used, Capacity)) return EFI_OUT_OF_RESOURCES;
  std::vector<UINT8> Previous;
  if (Existing != nullptr) {
    Previous = std::move(Existing->Data);
    Existing->Data = std::move(Data);
  } else {
    mVariables.push_back(StoredVariable{Guid, Name, Attributes, std::move(Data)});
  }
  // The store file's records (authenticated headers) may not fit where the
  // rules above still do: then the write fails as a full flash fails it.
  if (NonVolatile && !Persist()) {
    if (Existing != nullptr) {
      Existing->Data = std::move(Previous);
    } else {
      mVariables.pop_back();
    }
    return EFI_OUT_OF_RESOURCES;
  }
  return EFI_SUCCESS;
}

void VariableStore::Erase(StoredVariable *Existing) {
  bool NonVolatile = (Existing->Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  mVariables.erase(mVariables.begin() + (Existing - mVariables.data()));
  if (NonVolatile) Persist();
}

EFI_STATUS VariableStore::QueryInfo(UINT32 Attributes, UINT64 *MaximumStorage, UINT64 *Remaining,
                                    UINT64 *MaximumVariable) {
  if (MaximumStorage == nullptr || Remaining == nullptr || MaximumVariable == nullptr ||
      (Attributes & kAccessBits) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & kUnsupportedBits) != 0) return EFI_UNSUPPORTED;
  bool NonVolatile = (Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  UINTN Capacity = NonVolatile ? mOwner.Options().NonVolatileStoreSize : mOwner.Options().VolatileStoreSize;
  *MaximumStorage = Capacity;
  *Remaining = Capacity - std::min(UsedBytes(NonVolatile), Capacity);
  *MaximumVariable = mOwner.Options().MaxVariableSize - kVariableHeaderSize;
  return EFI_SUCCESS;
}

}  // namespace sim
