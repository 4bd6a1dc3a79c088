// Variable store images: locating the store volume, walking its records, and
// writing variables the way a flash-backed store does (state bits only cleared).
#include "sim/VarStoreImage.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ByteReader.h"
#include "sim/FvImage.h"
#include "sim/Platform.h"
#include "uefi/PiFirmwareVolume.h"

namespace sim {

bool StoredVariable::Is(const std::u16string &OtherName, const EFI_GUID &OtherGuid) const {
  return Name == OtherName && SameGuid(Guid, OtherGuid);
}

namespace {

constexpr UINT8 kErased = 0xFF;
// Volume header with a block map of one entry and its terminator.
constexpr size_t kFvHeaderLength = sizeof(EFI_FIRMWARE_VOLUME_HEADER) + sizeof(EFI_FV_BLOCK_MAP_ENTRY);
constexpr size_t kFvMinHeaderLength = sizeof(EFI_FIRMWARE_VOLUME_HEADER);
// Volumes start 8-byte aligned in a flash image.
constexpr size_t kFvSearchStep = 8;
constexpr UINT8 kStateInTransition = VAR_ADDED & VAR_IN_DELETED_TRANSITION;

// Geometry of OVMF's variable file for a 4 MiB flash.
constexpr size_t kOvmfFvLength = 0x84000;
constexpr size_t kOvmfBlockSize = 0x1000;
constexpr size_t kOvmfStoreSize = 0x40000 - kFvHeaderLength;
constexpr size_t kOvmfWorkingBlockOffset = 0x41000;
// The fault-tolerant-write working block header OVMF's variable file carries
// at the start of its 4 KiB working block: signature GUID
// 9e58292b-7c68-497d-a0ce-6500fd9f1b95, the header's CRC, the valid state, and
// the write queue size 0xFE0. OVMF refuses a volume whose working block is
// missing, so a fresh image carries it as OVMF's own file does.
constexpr UINT8 kOvmfWorkingBlockHeader[32] = {
    0x2b, 0x29, 0x58, 0x9e, 0x68, 0x7c, 0x7d, 0x49, 0xa0, 0xce, 0x65, 0x00, 0xfd, 0x9f, 0x1b, 0x95,
    0x2c, 0xaf, 0x2c, 0x64, 0xfe, 0xff, 0xff, 0xff, 0xe0, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

size_t AlignFrom(size_t Base, size_t Offset) {
  const size_t Rest = (Offset - Base) % VARIABLE_HEADER_ALIGNMENT;
  return Rest == 0 ? Offset : Offset + VARIABLE_HEADER_ALIGNMENT - Rest;
}

bool ReadGuid(ByteReader *In, EFI_GUID *Out) {
  return In->ReadBytes(Out, sizeof(*Out));
}

std::string KeyText(const std::u16string &Name, const EFI_GUID &Guid) {
  return NameText(Name) + " " + GuidText(Guid);
}

// Checks one candidate volume at Offset; the message names what is wrong.
bool CheckVolume(ByteReader File, size_t Offset, VarStoreLocation *Out, std::string *Error) {
  const std::string Where = "variable store volume at offset " + HexText(Offset);
  UINT64 FvLength = 0;
  UINT16 HeaderLength = 0;
  File.PeekAt64(Offset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, FvLength), &FvLength);
  File.PeekAt16(Offset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, HeaderLength), &HeaderLength);
  const size_t Available = File.Size() - Offset;
  if (HeaderLength < kFvMinHeaderLength || HeaderLength > Available) {
    *Error = Where + ": header length " + HexText(HeaderLength) + " does not fit the " + HexText(Available) +
             " bytes left in the file";
    return false;
  }
  const UINT16 Sum = Sum16(File.Base() + Offset, HeaderLength);
  if (Sum != 0) {
    *Error = Where + ": header checksum is wrong (its words sum to " + HexText(Sum) + ", not 0)";
    return false;
  }
  if (FvLength < HeaderLength + sizeof(VARIABLE_STORE_HEADER) || FvLength > Available) {
    *Error = Where + ": volume length " + HexText(FvLength) + " does not fit the " + HexText(Available) +
             " bytes left in the file";
    return false;
  }
  const size_t StoreOffset = Offset + HeaderLength;
  ByteReader Store(File.Base() + StoreOffset, FvLength - HeaderLength);
  const std::string StoreWhere = "variable store header at offset " + HexText(StoreOffset);
  EFI_GUID Signature{};
  UINT32 StoreSize = 0;
  UINT8 Format = 0;
  UINT8 State = 0;
  ReadGuid(&Store, &Signature);
  Store.Read32(&StoreSize);
  Store.Read8(&Format);
  Store.Read8(&State);
  const bool Authenticated = SameGuid(Signature, gEfiAuthenticatedVariableGuid);
  if (!Authenticated && !SameGuid(Signature, gEfiVariableGuid)) {
    *Error = StoreWhere + ": signature " + GuidText(Signature) + " is not a variable store's";
    return false;
  }
  if (StoreSize < sizeof(VARIABLE_STORE_HEADER) || StoreSize > Store.Size()) {
    *Error = StoreWhere + ": store size " + HexText(StoreSize) + " does not fit the " +
             HexText(Store.Size()) + " bytes of its volume";
    return false;
  }
  if (Format != VARIABLE_STORE_FORMATTED || State != VARIABLE_STORE_HEALTHY) {
    *Error = StoreWhere + ": format " + HexText(Format) + " state " + HexText(State) +
             " (a usable store is formatted 0x5a and healthy 0xfe)";
    return false;
  }
  Out->FvOffset = Offset;
  Out->FvLength = static_cast<size_t>(FvLength);
  Out->StoreOffset = StoreOffset;
  Out->StoreSize = StoreSize;
  Out->Authenticated = Authenticated;
  return true;
}

bool IsStoreVolume(const ByteReader &File, size_t Offset) {
  UINT32 Signature = 0;
  if (!File.PeekAt32(Offset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Signature), &Signature) ||
      Signature != EFI_FVH_SIGNATURE || File.Size() - Offset < kFvMinHeaderLength) {
    return false;
  }
  EFI_GUID FileSystem{};
  std::memcpy(&FileSystem, File.Base() + Offset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, FileSystemGuid),
              sizeof(FileSystem));
  return SameGuid(FileSystem, gEfiSystemNvDataFvGuid);
}

enum class CopyKind { Added, InTransition, Deleted, HeaderOnly, Other };

CopyKind KindOf(UINT8 State) {
  if (State == VAR_ADDED) return CopyKind::Added;
  if (State == kStateInTransition) return CopyKind::InTransition;
  if (State == VAR_HEADER_VALID_ONLY) return CopyKind::HeaderOnly;
  // Added (both top bits cleared) and then deleted, with or without the transition.
  if ((State & 0xC0) == 0 && (State & static_cast<UINT8>(~VAR_DELETED)) == 0) return CopyKind::Deleted;
  return CopyKind::Other;
}

bool ReadName(ByteReader *In, UINT32 NameSize, size_t Offset, bool Checked, std::u16string *Name,
              std::string *Error) {
  const std::string Where = "variable at offset " + HexText(Offset);
  if (Checked && (NameSize < sizeof(CHAR16) || NameSize % sizeof(CHAR16) != 0)) {
    *Error = Where + ": name size " + HexText(NameSize) + " is not a whole UCS-2 name with its terminator";
    return false;
  }
  std::u16string Chars(NameSize / sizeof(CHAR16), u'\0');
  In->ReadBytes(Chars.data(), Chars.size() * sizeof(CHAR16));
  In->Skip(NameSize % sizeof(CHAR16));
  if (Checked && Chars.back() != u'\0') {
    *Error = Where + ": name of " + HexText(NameSize) + " bytes has no terminator";
    return false;
  }
  const size_t End = Chars.find(u'\0');
  *Name = Chars.substr(0, End);
  return true;
}

// Reads the record at Offset; the caller has seen its start id.
bool ReadRecord(const ByteReader &File, const VarStoreLocation &Location, size_t Offset, VarCopy *Out,
                std::string *Error) {
  const size_t End = Location.StoreEnd();
  const size_t HeaderSize = Location.VariableHeaderSize();
  if (HeaderSize > End - Offset) {
    *Error = "variable header at offset " + HexText(Offset) + " is cut off by the end of the store at " +
             HexText(End);
    return false;
  }
  ByteReader In(File.Base() + Offset, End - Offset);
  UINT16 StartId = 0;
  UINT8 Reserved = 0;
  UINT32 NameSize = 0;
  UINT32 DataSize = 0;
  StoredVariable &Variable = Out->Variable;
  In.Read16(&StartId);
  In.Read8(&Out->State);
  In.Read8(&Reserved);
  In.Read32(&Variable.Attributes);
  if (Location.Authenticated) {
    In.Read64(&Variable.MonotonicCount);
    In.ReadBytes(&Variable.TimeStamp, sizeof(Variable.TimeStamp));
    In.Read32(&Variable.PubKeyIndex);
  }
  In.Read32(&NameSize);
  In.Read32(&DataSize);
  ReadGuid(&In, &Variable.Guid);
  if (NameSize > In.Remaining() || DataSize > In.Remaining() - NameSize) {
    *Error = "variable at offset " + HexText(Offset) + ": its name (" + HexText(NameSize) +
             " bytes) and data (" + HexText(DataSize) + " bytes) run past the end of the store at " +
             HexText(End);
    return false;
  }
  const CopyKind Kind = KindOf(Out->State);
  const bool Readable = Kind == CopyKind::Added || Kind == CopyKind::InTransition;
  if (!ReadName(&In, NameSize, Offset, Readable, &Variable.Name, Error)) return false;
  Out->Offset = Offset;
  Out->DataOffset = Offset + In.Position();
  Variable.Data.assign(In.Current(), In.Current() + DataSize);
  Out->Size = HeaderSize + NameSize + DataSize;
  return true;
}

std::string SkipReasonOf(const VarCopy &Copy) {
  switch (KindOf(Copy.State)) {
    case CopyKind::Deleted:
      return "deleted";
    case CopyKind::HeaderOnly:
      return "header only: its write was interrupted";
    case CopyKind::Other:
      return "state " + HexText(Copy.State) + " is no valid variable state";
    default:
      return "";
  }
}

// Picks the current copy of each name and GUID and says why the others are skipped.
void ChooseCurrent(VarStoreContents *Contents) {
  std::vector<VarCopy> &Copies = Contents->Copies;
  for (size_t Index = 0; Index < Copies.size(); Index++) {
    VarCopy &Copy = Copies[Index];
    Copy.SkipReason = SkipReasonOf(Copy);
    if (!Copy.SkipReason.empty()) continue;
    const bool Added = Copy.State == VAR_ADDED;
    const VarCopy *Better = nullptr;
    for (size_t Other = 0; Other < Copies.size() && Better == nullptr; Other++) {
      const VarCopy &Candidate = Copies[Other];
      if (Other == Index || Candidate.Variable.Name != Copy.Variable.Name ||
          !SameGuid(Candidate.Variable.Guid, Copy.Variable.Guid)) {
        continue;
      }
      const bool CandidateAdded = Candidate.State == VAR_ADDED;
      const bool Later = Other > Index;
      if ((CandidateAdded && (!Added || Later)) ||
          (Candidate.State == kStateInTransition && !Added && Later)) {
        Better = &Candidate;
      }
    }
    if (Better == nullptr) {
      Copy.Current = true;
    } else {
      Copy.SkipReason = std::string(Added ? "older copy" : "in deleted transition") +
                        ", superseded by the copy at " + HexText(Better->Offset);
    }
  }
}

bool FreeSpaceErased(const std::vector<UINT8> &Image, const VarStoreContents &Contents) {
  for (size_t Offset = Contents.FreeOffset; Offset < Contents.Location.StoreEnd(); Offset++) {
    if (Image[Offset] != kErased) return false;
  }
  return true;
}

void PutBytes(std::vector<UINT8> *Out, const VOID *Bytes, size_t Size) {
  const auto *From = static_cast<const UINT8 *>(Bytes);
  Out->insert(Out->end(), From, From + Size);
}

void PutLe(std::vector<UINT8> *Out, UINT64 Value, size_t Size) {
  for (size_t Index = 0; Index < Size; Index++) Out->push_back(static_cast<UINT8>(Value >> (8 * Index)));
}

// A whole record: header, terminated name, data.
std::vector<UINT8> EncodeRecord(const StoredVariable &Variable, bool Authenticated, UINT8 State) {
  const size_t NameSize = (Variable.Name.size() + 1) * sizeof(CHAR16);
  std::vector<UINT8> Out;
  PutLe(&Out, VARIABLE_DATA, 2);
  PutLe(&Out, State, 1);
  PutLe(&Out, 0, 1);
  PutLe(&Out, Variable.Attributes, 4);
  if (Authenticated) {
    PutLe(&Out, Variable.MonotonicCount, 8);
    PutBytes(&Out, &Variable.TimeStamp, sizeof(Variable.TimeStamp));
    PutLe(&Out, Variable.PubKeyIndex, 4);
  }
  PutLe(&Out, NameSize, 4);
  PutLe(&Out, Variable.Data.size(), 4);
  PutBytes(&Out, &Variable.Guid, sizeof(Variable.Guid));
  PutBytes(&Out, Variable.Name.c_str(), NameSize);
  if (!Variable.Data.empty()) PutBytes(&Out, Variable.Data.data(), Variable.Data.size());
  return Out;
}

bool CheckNewVariable(const StoredVariable &Variable, std::string *Error) {
  if (Variable.Name.empty() || Variable.Name.find(u'\0') != std::u16string::npos) {
    *Error = "a variable name must be non-empty and hold no NUL character";
    return false;
  }
  if (Variable.Data.size() > MAX_UINT32 || Variable.Name.size() > MAX_UINT32 / 4) {
    *Error = "variable too large for a store record";
    return false;
  }
  return true;
}

bool SameHeaderFields(const StoredVariable &First, const StoredVariable &Second, bool Authenticated) {
  if (First.Attributes != Second.Attributes || First.Data.size() != Second.Data.size()) return false;
  return !Authenticated ||
         (First.MonotonicCount == Second.MonotonicCount && First.PubKeyIndex == Second.PubKeyIndex &&
          std::memcmp(&First.TimeStamp, &Second.TimeStamp, sizeof(EFI_TIME)) == 0);
}

// Clears state bits of every readable copy of a name and GUID.
void MarkCopies(std::vector<UINT8> *Image, const VarStoreContents &Contents, const std::u16string &Name,
                const EFI_GUID &Guid, UINT8 Mask) {
  for (const VarCopy &Copy : Contents.Copies) {
    const CopyKind Kind = KindOf(Copy.State);
    if ((Kind == CopyKind::Added || Kind == CopyKind::InTransition) && Copy.Variable.Is(Name, Guid)) {
      (*Image)[Copy.Offset + OFFSET_OF(VARIABLE_HEADER, State)] &= Mask;
    }
  }
}

// The current variables with Variable put in place of its old copy (or after them).
std::vector<StoredVariable> CompactedWith(const VarStoreContents &Contents, const StoredVariable &Variable) {
  std::vector<StoredVariable> Kept;
  bool Replaced = false;
  for (const VarCopy *Copy : Contents.CurrentCopies()) {
    if (Copy->Variable.Is(Variable.Name, Variable.Guid)) {
      Kept.push_back(Variable);
      Replaced = true;
    } else {
      Kept.push_back(Copy->Variable);
    }
  }
  if (!Replaced) Kept.push_back(Variable);
  return Kept;
}

}  // namespace

const VarCopy *VarStoreContents::Find(const std::u16string &Name, const EFI_GUID &Guid) const {
  for (const VarCopy &Copy : Copies) {
    if (Copy.Current && Copy.Variable.Is(Name, Guid)) return &Copy;
  }
  return nullptr;
}

std::vector<const VarCopy *> VarStoreContents::CurrentCopies() const {
  std::vector<const VarCopy *> Current;
  for (const VarCopy &Copy : Copies) {
    if (Copy.Current) Current.push_back(&Copy);
  }
  return Current;
}

bool LocateVarStore(const UINT8 *Data, size_t Size, VarStoreLocation *Out, std::string *Error) {
  const ByteReader File(Data, Size);
  std::string FirstError;
  for (size_t Offset = 0; Size >= kFvMinHeaderLength && Offset <= Size - kFvMinHeaderLength;
       Offset += kFvSearchStep) {
    if (!IsStoreVolume(File, Offset)) continue;
    std::string Why;
    if (CheckVolume(File, Offset, Out, &Why)) return true;
    if (FirstError.empty()) FirstError = Why;
  }
  *Error = !FirstError.empty() ? FirstError
                               : "no variable store in the " + HexText(Size) +
                                     " bytes: no firmware volume with the NV data file system GUID " +
                                     GuidText(gEfiSystemNvDataFvGuid);
  return false;
}

bool ReadVarStore(const UINT8 *Data, size_t Size, VarStoreContents *Out, std::string *Error) {
  *Out = VarStoreContents();
  if (!LocateVarStore(Data, Size, &Out->Location, Error)) return false;
  const VarStoreLocation &Location = Out->Location;
  const ByteReader File(Data, Size);
  const size_t End = Location.StoreEnd();
  size_t Offset = AlignFrom(Location.FvOffset, Location.StoreOffset + sizeof(VARIABLE_STORE_HEADER));
  UINT16 StartId = 0;
  // Erased space (no start id) ends the records.
  while (Offset < End && End - Offset >= sizeof(StartId) && File.PeekAt16(Offset, &StartId) &&
         StartId == VARIABLE_DATA) {
    VarCopy Copy;
    if (!ReadRecord(File, Location, Offset, &Copy, Error)) return false;
    Out->Copies.push_back(std::move(Copy));
    Offset = AlignFrom(Location.FvOffset, Offset + Out->Copies.back().Size);
  }
  Out->FreeOffset = Offset < End ? Offset : End;
  ChooseCurrent(Out);
  return true;
}

bool RewriteVarStore(std::vector<UINT8> *Image, const std::vector<StoredVariable> &Variables,
                     std::string *Error) {
  VarStoreLocation Location;
  if (!LocateVarStore(Image->data(), Image->size(), &Location, Error)) return false;
  std::vector<UINT8> Copy(*Image);
  const size_t Start = AlignFrom(Location.FvOffset, Location.StoreOffset + sizeof(VARIABLE_STORE_HEADER));
  const size_t End = Location.StoreEnd();
  std::memset(Copy.data() + Location.StoreOffset + sizeof(VARIABLE_STORE_HEADER), kErased,
              End - Location.StoreOffset - sizeof(VARIABLE_STORE_HEADER));
  size_t Offset = Start;
  for (const StoredVariable &Variable : Variables) {
    if (!CheckNewVariable(Variable, Error)) return false;
    const std::vector<UINT8> Record = EncodeRecord(Variable, Location.Authenticated, VAR_ADDED);
    if (Offset > End || Record.size() > End - Offset) {
      *Error = "the variables do not fit the " + HexText(End > Start ? End - Start : 0) +
               " bytes of the store's variables area";
      return false;
    }
    std::memcpy(Copy.data() + Offset, Record.data(), Record.size());
    Offset = AlignFrom(Location.FvOffset, Offset + Record.size());
  }
  Image->swap(Copy);
  return true;
}

bool SetVarStoreVariable(std::vector<UINT8> *Image, const StoredVariable &Variable, std::string *Error) {
  if (!CheckNewVariable(Variable, Error)) return false;
  VarStoreContents Contents;
  if (!ReadVarStore(Image->data(), Image->size(), &Contents, Error)) return false;
  const bool Authenticated = Contents.Location.Authenticated;
  const VarCopy *Existing = Contents.Find(Variable.Name, Variable.Guid);
  if (Existing != nullptr && SameHeaderFields(Existing->Variable, Variable, Authenticated)) {
    if (!Variable.Data.empty()) {
      std::memcpy(Image->data() + Existing->DataOffset, Variable.Data.data(), Variable.Data.size());
    }
    return true;
  }
  const std::vector<UINT8> Record = EncodeRecord(Variable, Authenticated, VAR_ADDED);
  // A record appended in front of leftover bytes would let the next walk run
  // on into them; such a store is compacted first, as a firmware does at start.
  if (Record.size() > Contents.FreeBytes() || !FreeSpaceErased(*Image, Contents)) {
    std::string Why;
    if (RewriteVarStore(Image, CompactedWith(Contents, Variable), &Why)) return true;
    *Error = "the store is full: " + KeyText(Variable.Name, Variable.Guid) + " needs " +
             HexText(Record.size()) + " bytes; " + Why;
    return false;
  }
  MarkCopies(Image, Contents, Variable.Name, Variable.Guid, VAR_IN_DELETED_TRANSITION);
  std::memcpy(Image->data() + Contents.FreeOffset, Record.data(), Record.size());
  MarkCopies(Image, Contents, Variable.Name, Variable.Guid, VAR_DELETED);
  return true;
}

bool DeleteVarStoreVariable(std::vector<UINT8> *Image, const std::u16string &Name, const EFI_GUID &Guid,
                            std::string *Error) {
  VarStoreContents Contents;
  if (!ReadVarStore(Image->data(), Image->size(), &Contents, Error)) return false;
  if (Contents.Find(Name, Guid) == nullptr) {
    *Error = "no variable " + KeyText(Name, Guid) + " in the store";
    return false;
  }
  MarkCopies(Image, Contents, Name, Guid, VAR_DELETED);
  return true;
}

std::vector<UINT8> NewVarStoreImage() {
  std::vector<UINT8> Image(kOvmfFvLength, kErased);
  EFI_FIRMWARE_VOLUME_HEADER Header{};
  Header.FileSystemGuid = gEfiSystemNvDataFvGuid;
  Header.FvLength = kOvmfFvLength;
  Header.Signature = EFI_FVH_SIGNATURE;
  // Capabilities and status of OVMF's variable volume: readable, writable,
  // lockable, memory mapped, erase polarity 1, 16-byte alignment.
  Header.Attributes = 0x0004FEFF;
  Header.HeaderLength = kFvHeaderLength;
  Header.Revision = EFI_FVH_REVISION;
  Header.BlockMap[0] = {static_cast<UINT32>(kOvmfFvLength / kOvmfBlockSize),
                        static_cast<UINT32>(kOvmfBlockSize)};
  std::memcpy(Image.data(), &Header, sizeof(Header));
  std::memset(Image.data() + sizeof(Header), 0, sizeof(EFI_FV_BLOCK_MAP_ENTRY));
  const UINT16 Checksum = static_cast<UINT16>(-Sum16(Image.data(), kFvHeaderLength));
  Image[OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Checksum)] = static_cast<UINT8>(Checksum);
  Image[OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Checksum) + 1] = static_cast<UINT8>(Checksum >> 8);

  VARIABLE_STORE_HEADER Store{};
  Store.Signature = gEfiAuthenticatedVariableGuid;
  Store.Size = kOvmfStoreSize;
  Store.Format = VARIABLE_STORE_FORMATTED;
  Store.State = VARIABLE_STORE_HEALTHY;
  std::memcpy(Image.data() + kFvHeaderLength, &Store, sizeof(Store));
  std::memcpy(Image.data() + kOvmfWorkingBlockOffset, kOvmfWorkingBlockHeader,
              sizeof(kOvmfWorkingBlockHeader));
  return Image;
}

std::string VariableAttributeNames(UINT32 Attributes) {
  static const struct {
    UINT32 Bit;
    const char *Name;
  } kNames[] = {
      {EFI_VARIABLE_NON_VOLATILE, "NV"},
      {EFI_VARIABLE_BOOTSERVICE_ACCESS, "BS"},
      {EFI_VARIABLE_RUNTIME_ACCESS, "RT"},
      {EFI_VARIABLE_HARDWARE_ERROR_RECORD, "HR"},
      {EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS, "AW"},
      {EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS, "AT"},
      {EFI_VARIABLE_APPEND_WRITE, "AP"},
  };
  std::string Names;
  UINT32 Rest = Attributes;
  for (const auto &Entry : kNames) {
    if ((Attributes & Entry.Bit) == 0) continue;
    Names += (Names.empty() ? "" : "+") + std::string(Entry.Name);
    Rest &= ~Entry.Bit;
  }
  if (Rest != 0) Names += (Names.empty() ? "" : "+") + HexText(Rest);
  return Names.empty() ? "none" : Names;
}

std::string HexText(size_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%zx", Value);
  return Text;
}

std::string HexTextUpper(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

std::string GuidText(const EFI_GUID &Guid, GuidCase Case) {
  char Text[40];
  const char *Format = Case == GuidCase::Upper ? "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
                                               : "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
  std::snprintf(Text, sizeof(Text), Format, Guid.Data1, Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1],
                Guid.Data4[2], Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

bool ParseGuidText(const std::string &Text, EFI_GUID *Out) {
  if (Text.size() != 36) return false;
  std::string Digits;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    const bool Dash = Index == 8 || Index == 13 || Index == 18 || Index == 23;
    const auto Char = static_cast<unsigned char>(Text[Index]);
    if (Dash ? Char != '-' : std::isxdigit(Char) == 0) return false;
    if (!Dash) Digits += static_cast<char>(Char);
  }
  auto Field = [&Digits](size_t Start, size_t Count) {
    return std::strtoull(Digits.substr(Start, Count).c_str(), nullptr, 16);
  };
  Out->Data1 = static_cast<UINT32>(Field(0, 8));
  Out->Data2 = static_cast<UINT16>(Field(8, 4));
  Out->Data3 = static_cast<UINT16>(Field(12, 4));
  for (size_t Index = 0; Index < 8; Index++) Out->Data4[Index] = static_cast<UINT8>(Field(16 + 2 * Index, 2));
  return true;
}

std::string NameText(const std::u16string &Name) {
  std::string Text;
  for (const char16_t Char : Name) {
    if (Char >= 0x20 && Char < 0x7F) {
      Text += static_cast<char>(Char);
    } else {
      char Escape[8];
      std::snprintf(Escape, sizeof(Escape), "\\u%04x", static_cast<unsigned>(Char));
      Text += Escape;
    }
  }
  return Text;
}

}  // namespace sim
