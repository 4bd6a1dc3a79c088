// dmpstore -s files: bounded reading and writing.
#include "sim/DmpStore.h"


#include "common/ByteReader.h"
#include "sim/Platform.h"

namespace sim {
namespace {

// Name size, data size; then after the name the GUID and the attributes.
constexpr size_t kSizesBytes = 8;
constexpr size_t kGuidAndAttributesBytes = sizeof(EFI_GUID) + 4;
constexpr size_t kCrcBytes = 4;

bool ReadRecord(ByteReader *File, DumpedVariable *Out, std::string *Error) {
  const size_t Offset = File->Position();
  const std::string Where = "variable at offset " + HexText(Offset);
  UINT32 NameSize = 0;
  UINT32 DataSize = 0;
  if (!File->Read32(&NameSize) || !File->Read32(&DataSize)) {
    *Error = Where + ": the record's sizes are cut off by the end of the file";
    return false;
  }
  const size_t Fixed = kGuidAndAttributesBytes + kCrcBytes;
  if (NameSize > File->Remaining() || DataSize > File->Remaining() - NameSize ||
      Fixed > File->Remaining() - NameSize - DataSize) {
    *Error = Where + ": its name (" + HexText(NameSize) + " bytes) and data (" + HexText(DataSize) +
             " bytes) run past the end of the file at " + HexText(File->Size());
    return false;
  }
  if (NameSize < sizeof(CHAR16) || NameSize % sizeof(CHAR16) != 0) {
    *Error = Where + ": name size " + HexText(NameSize) + " is not a whole UCS-2 name with its terminator";
    return false;
  }
  std::u16string Name(NameSize / sizeof(CHAR16), u'\0');
  File->ReadBytes(Name.data(), NameSize);
  if (Name.back() != u'\0') {
    *Error = Where + ": name of " + HexText(NameSize) + " bytes has no terminator";
    return false;
  }
  StoredVariable &Variable = Out->Variable;
  Variable.Name = Name.substr(0, Name.find(u'\0'));
  File->ReadBytes(&Variable.Guid, sizeof(Variable.Guid));
  File->Read32(&Variable.Attributes);
  Variable.Data.assign(File->Current(), File->Current() + DataSize);
  File->Skip(DataSize);
  const UINT32 Computed = Crc32(File->Base() + Offset, File->Position() - Offset);
  UINT32 Stored = 0;
  File->Read32(&Stored);
  if (Stored != Computed) {
    *Error = Where + " (" + NameText(Variable.Name) + "): CRC32 " + HexText(Stored) + " stored, " +
             HexText(Computed) + " computed";
    return false;
  }
  Out->Offset = Offset;
  return true;
}

void PutLe32(std::vector<UINT8> *Out, UINT32 Value) {
  for (size_t Index = 0; Index < 4; Index++) Out->push_back(static_cast<UINT8>(Value >> (8 * Index)));
}

void PutBytes(std::vector<UINT8> *Out, const VOID *Bytes, size_t Size) {
  const auto *From = static_cast<const UINT8 *>(Bytes);
  Out->insert(Out->end(), From, From + Size);
}

}  // namespace

bool ReadDmpStore(const UINT8 *Data, size_t Size, std::vector<DumpedVariable> *Out, std::string *Error) {
  Out->clear();
  ByteReader File(Data, Size);
  if (Size < kSizesBytes) {
    *Error = "file of " + std::to_string(Size) + " bytes holds no dmpstore record";
    return false;
  }
  while (File.Remaining() != 0) {
    DumpedVariable Record;
    if (!ReadRecord(&File, &Record, Error)) return false;
    Out->push_back(std::move(Record));
  }
  return true;
}

std::vector<UINT8> WriteDmpStore(const std::vector<StoredVariable> &Variables) {
  std::vector<UINT8> Out;
  for (const StoredVariable &Variable : Variables) {
    const size_t Start = Out.size();
    const UINT32 NameSize = static_cast<UINT32>((Variable.Name.size() + 1) * sizeof(CHAR16));
    PutLe32(&Out, NameSize);
    PutLe32(&Out, static_cast<UINT32>(Variable.Data.size()));
    PutBytes(&Out, Variable.Name.c_str(), NameSize);
    PutBytes(&Out, &Variable.Guid, sizeof(Variable.Guid));
    PutLe32(&Out, Variable.Attributes);
    if (!Variable.Data.empty()) PutBytes(&Out, Variable.Data.data(), Variable.Data.size());
    PutLe32(&Out, Crc32(Out.data() + Start, Out.size() - Start));
  }
  return Out;
}

}  // namespace sim
