// The cache inspector: loads an AcpiDataCache variable (raw, or as Linux efivarfs
// shows it, with a 4-byte attribute prefix) through the driver's own read path
// and returns its entries in stream order.
//
// Nothing here parses the cache a second time: the variable is handed to the
// driver's FillCache on a simulated platform (attribute and size checks, the
// size query, the decoder), the blobs come from ReadBlob, and each entry header
// from ReadAcpiDataStorageEntryHeader. The inspector adds only the checks a
// user wants on top of what the driver enforces (element lengths, stored table
// lengths) and the words for every failure.
#ifndef ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_CACHE_INSPECTOR_H_
#define ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_CACHE_INSPECTOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiDataStorage.h"

namespace inspect {

// Size of the attribute prefix efivarfs puts before a variable's data.
inline constexpr size_t kEfivarfsPrefixSize = 4;

enum class InputForm {
  Auto,      // efivarfs when the first 4 bytes are a plausible attribute value
  Raw,       // the file is the variable's data
  Efivarfs,  // the first 4 bytes are the attributes, the rest the data
  Store,     // the data of a record found in a variable store or a dump;
             // InspectOptions carries its attributes and where it was found
};

struct InspectOptions {
  InputForm Form = InputForm::Auto;
  // Load a variable whose attributes the driver would refuse, as if they were
  // NV+BS; the listing still names the real attributes.
  bool AnyAttributes = false;
  // InputForm::Store only: the record's attributes, and where it lies
  // ("variable store record @0x4130").
  uint32_t StoreAttributes = 0;
  std::string StoreRecord{};
};

struct CacheEntry {
  uint32_t Index = 0;         // position in the stream, from 0
  uint32_t StreamOffset = 0;  // offset of its blob header in the decompressed stream
  std::vector<uint8_t> Payload;
  bool HeaderValid = false;  // Header holds the checked entry header
  // Aligned: the driver's header reader stores its fields through UINT32 and
  // UINT64 pointers, which a packed member at an odd offset would not satisfy.
  alignas(8) ACPI_DATA_STORAGE_ENTRY_HEADER Header{};
  std::string Problem;  // empty when the entry is well formed
};

struct InspectReport {
  bool FormIsEfivarfs = false;
  std::string StoreRecord;        // InputForm::Store: where the record lies
  uint32_t Attributes = 0;        // from the prefix, or NV+BS for the raw form
  uint32_t VariableSize = 0;      // bytes of variable data (prefix excluded)
  uint32_t DecompressedSize = 0;  // bytes of blob stream
  bool Loaded = false;            // the driver accepted and decoded the variable
  std::string Error;              // why the cache or its stream cannot be read
  std::vector<CacheEntry> Entries;
  uint32_t TrailingBytes = 0;          // fewer than a blob header after the last blob
  std::vector<std::string> DriverLog;  // every debug line the driver printed
  std::string PoolLeak;                // the platform's leak report; empty when clean

  // True when the stream was read to its end and every entry is well formed.
  bool Clean() const;
};

// Attribute value a Linux user sees for AcpiDataCache, and the one with the
// runtime bit also set; the auto form detection looks for these.
bool IsPlausibleAttributePrefix(uint32_t Value);

// Whether Data is taken as the efivarfs form: Efivarfs forces it, Raw refuses it,
// Auto takes it when the first 4 bytes hold a plausible attribute value, except
// when the whole file is exactly a raw stream whose compressed-size field holds
// that value (value + 8 bytes).
bool UsesEfivarfsForm(const uint8_t *Data, size_t Size, InputForm Form);

// Loads and walks the cache. Never fails hard: every problem is described in
// the report. Binds the driver to a private simulated platform for the call and
// restores the driver's platform pointers and stream state afterwards.
InspectReport InspectCache(const uint8_t *Data, size_t Size, const InspectOptions &Options);

// "NV+BS+RT" style names of the attribute bits; unnamed bits as hex.
std::string AttributeNames(uint32_t Attributes);

}  // namespace inspect

#endif  // ZEPHRIN_TOOLS_ACPI_CACHE_INSPECT_CACHE_INSPECTOR_H_
