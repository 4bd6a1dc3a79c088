// Where an engineer finds AcpiDataCache on a real machine: a variable store
// image (OVMF_VARS.fd, or a flash image read back from a board) or a UEFI shell
// "dmpstore -s" file. Both are read with the simulator's store readers; this
// picks the driver's two variables out of them.
#ifndef ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_STORE_SOURCE_H_
#define ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_STORE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inspect {

enum class StoreKind { VarStore, DmpStore };

struct StoreVariable {
  bool Found = false;
  size_t Offset = 0;  // of its record in the file
  uint32_t Attributes = 0;
  std::vector<uint8_t> Data;
};

struct StoreLookup {
  std::string Error;  // the file is no readable store; empty otherwise
  StoreVariable Cache;
  StoreVariable LockIndicator;
  std::vector<std::string> Notes;    // where the store lies
  std::vector<std::string> Skipped;  // copies of the two variables a firmware would not read
};

// Reads the store and takes the current AcpiDataCache and AcpiCacheLockIndicator.
StoreLookup LookUpCacheInStore(StoreKind Kind, const uint8_t *Data, size_t Size);

// "AcpiCacheLockIndicator: ..." line: its value, or why a store does not hold it.
std::string DescribeLockIndicator(StoreKind Kind, const StoreVariable &Lock);

}  // namespace inspect

#endif  // ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_STORE_SOURCE_H_
