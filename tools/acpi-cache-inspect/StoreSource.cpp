// Picking AcpiDataCache and AcpiCacheLockIndicator out of a variable store or a
// dmpstore file.
#include "tools/acpi-cache-inspect/StoreSource.h"

#include <cstdio>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/DmpStore.h"
#include "sim/Platform.h"
#include "sim/VarStoreImage.h"

namespace inspect {
namespace {

bool IsCache(const sim::StoredVariable &Variable) {
  return Variable.Is(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid);
}

bool IsLockIndicator(const sim::StoredVariable &Variable) {
  return Variable.Is(kAcpiCacheLockIndicatorName, gAcpiCacheLockIndicatorGuid);
}

void Take(const sim::StoredVariable &Variable, size_t Offset, StoreVariable *Out) {
  Out->Found = true;
  Out->Offset = Offset;
  Out->Attributes = Variable.Attributes;
  Out->Data = Variable.Data;
}

std::string CopyLine(const sim::VarCopy &Copy) {
  return "skipped " + sim::NameText(Copy.Variable.Name) + " @" + sim::HexText(Copy.Offset) + " (" +
         std::to_string(Copy.Variable.Data.size()) + " bytes): " + Copy.SkipReason;
}

void FromVarStore(const uint8_t *Data, size_t Size, StoreLookup *Out) {
  sim::VarStoreContents Contents;
  if (!sim::ReadVarStore(Data, Size, &Contents, &Out->Error)) return;
  const sim::VarStoreLocation &Location = Contents.Location;
  Out->Notes.push_back("variable store: volume @" + sim::HexText(Location.FvOffset) + ", " +
                       (Location.Authenticated ? "authenticated" : "plain") + " store @" +
                       sim::HexText(Location.StoreOffset) + " (" + sim::HexText(Location.StoreSize) +
                       " bytes, " + sim::HexText(Contents.FreeBytes()) + " free), " +
                       std::to_string(Contents.CurrentCopies().size()) + " variables");
  for (const sim::VarCopy &Copy : Contents.Copies) {
    const bool Ours = IsCache(Copy.Variable) || IsLockIndicator(Copy.Variable);
    if (Ours && !Copy.Current) Out->Skipped.push_back(CopyLine(Copy));
    if (!Copy.Current) continue;
    if (IsCache(Copy.Variable)) Take(Copy.Variable, Copy.Offset, &Out->Cache);
    if (IsLockIndicator(Copy.Variable)) Take(Copy.Variable, Copy.Offset, &Out->LockIndicator);
  }
}

// A dump holds one record per variable; should a name appear twice, the later
// record is the one the shell would restore last.
void FromDmpStore(const uint8_t *Data, size_t Size, StoreLookup *Out) {
  std::vector<sim::DumpedVariable> Records;
  if (!sim::ReadDmpStore(Data, Size, &Records, &Out->Error)) return;
  Out->Notes.push_back("dmpstore file: " + std::to_string(Records.size()) + " variables");
  for (const sim::DumpedVariable &Record : Records) {
    if (IsCache(Record.Variable)) Take(Record.Variable, Record.Offset, &Out->Cache);
    if (IsLockIndicator(Record.Variable)) Take(Record.Variable, Record.Offset, &Out->LockIndicator);
  }
}

}  // namespace

StoreLookup LookUpCacheInStore(StoreKind Kind, const uint8_t *Data, size_t Size) {
  StoreLookup Out;
  if (Kind == StoreKind::VarStore) {
    FromVarStore(Data, Size, &Out);
  } else {
    FromDmpStore(Data, Size, &Out);
  }
  return Out;
}

std::string DescribeLockIndicator(StoreKind Kind, const StoreVariable &Lock) {
  std::string Text = "AcpiCacheLockIndicator: ";
  if (!Lock.Found) {
    return Text + (Kind == StoreKind::VarStore
                       ? "not in the store (volatile: set at the end of a custom-path boot, gone at the next)"
                       : "not in the dump (set only at the end of a custom-path boot, until the next)");
  }
  std::string Value;
  for (const uint8_t Byte : Lock.Data) {
    char Two[4];
    std::snprintf(Two, sizeof(Two), "%02x", Byte);
    Value += Two;
  }
  return Text + (Value.empty() ? "no data" : "data " + Value) + ", attributes " +
         sim::VariableAttributeNames(Lock.Attributes) + ", record @" + sim::HexText(Lock.Offset);
}

}  // namespace inspect
