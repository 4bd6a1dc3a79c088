// The two store readers over arbitrary bytes, and the store writer on whatever
// the reader accepts. The first byte chooses: bit 0 clear, a variable store
// image (read; then a write, a re-read that must find the written variable,
// and a delete); bit 0 set, a dmpstore file (read; then written back, which
// must read back to the same variables). The rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/DmpStore.h"
#include "sim/Platform.h"
#include "sim/VarStoreImage.h"

namespace {

constexpr EFI_GUID kVendor = {0x79660E97, 0x514B, 0x4CFC, {0x87, 0x3F, 0x02, 0xB3, 0xAB, 0x00, 0xC0, 0x86}};

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

void FuzzVarStore(const uint8_t *Data, size_t Size) {
  sim::VarStoreContents Contents;
  std::string Error;
  if (!sim::ReadVarStore(Data, Size, &Contents, &Error)) return;
  for (const sim::VarCopy &Copy : Contents.Copies) {
    Check(Copy.Offset >= Contents.Location.StoreOffset &&
          Copy.Size <= Contents.Location.StoreEnd() - Copy.Offset);
  }
  std::vector<UINT8> Image(Data, Data + Size);
  const sim::StoredVariable Written{kVendor, u"AcpiDataCache", 3, std::vector<UINT8>(Size % 64, 0x5A)};
  if (!sim::SetVarStoreVariable(&Image, Written, &Error)) return;
  sim::VarStoreContents After;
  Check(sim::ReadVarStore(Image.data(), Image.size(), &After, &Error));
  const sim::VarCopy *Found = After.Find(Written.Name, Written.Guid);
  Check(Found != nullptr && Found->Variable.Data == Written.Data && Found->Variable.Attributes == 3);
  Check(sim::DeleteVarStoreVariable(&Image, Written.Name, Written.Guid, &Error));
  Check(sim::ReadVarStore(Image.data(), Image.size(), &After, &Error));
  Check(After.Find(Written.Name, Written.Guid) == nullptr);
}

void FuzzDmpStore(const uint8_t *Data, size_t Size) {
  std::vector<sim::DumpedVariable> Records;
  std::string Error;
  if (!sim::ReadDmpStore(Data, Size, &Records, &Error)) return;
  std::vector<sim::StoredVariable> Variables;
  for (const sim::DumpedVariable &Record : Records) Variables.push_back(Record.Variable);
  const std::vector<UINT8> Again = sim::WriteDmpStore(Variables);
  std::vector<sim::DumpedVariable> Reread;
  Check(sim::ReadDmpStore(Again.data(), Again.size(), &Reread, &Error));
  Check(Reread.size() == Records.size());
  for (size_t Index = 0; Index < Reread.size(); Index++) {
    const sim::StoredVariable &First = Records[Index].Variable;
    const sim::StoredVariable &Second = Reread[Index].Variable;
    Check(First.Name == Second.Name && sim::SameGuid(First.Guid, Second.Guid) &&
          First.Attributes == Second.Attributes && First.Data == Second.Data);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // A large board's store volume is far below this.
  if (Size == 0 || Size > (1u << 20)) return 0;
  if ((Data[0] & 1) == 0) {
    FuzzVarStore(Data + 1, Size - 1);
  } else {
    FuzzDmpStore(Data + 1, Size - 1);
  }
  return 0;
}
