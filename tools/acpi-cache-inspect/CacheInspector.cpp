// Loading an AcpiDataCache variable through the driver's read path, and the
// inspector's own checks of each entry on top of it.
#include "tools/acpi-cache-inspect/CacheInspector.h"

#include <cstdio>
#include <cstring>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"
#include "sim/VarStoreImage.h"

namespace inspect {

namespace {

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llx", static_cast<unsigned long long>(Value));
  return Text;
}

std::string Attributes32(uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08x", Value);
  return Text;
}

// Binds the driver to a private platform while it lives and, on the way out,
// closes the read stream; whatever the caller had bound before is put back.
class DriverBinding {
 public:
  sim::Platform &Platform() { return mPlatform; }

  // Releases the read stream, or the cache a failed open left behind, and stops
  // the driver from printing into this platform once it is gone.
  void Unbind() {
    CloseBlobStream(mReadBlobHandle);
    sim::ForgetDriverLookups();
  }

 private:
  sim::Platform mPlatform;
  sim::ScopedDriverBinding mBinding{mPlatform};
};

// The most recent error line the driver printed, without its line end; the
// blob reader tells its rejections apart only there (all are one status).
std::string LastDriverError(const sim::Recorders &Recorder) {
  const std::vector<sim::DebugRecord> &Debug = Recorder.Records().Debug;
  for (auto It = Debug.rbegin(); It != Debug.rend(); ++It) {
    if (It->Level != DEBUG_ERROR) continue;
    std::string Text = It->Text;
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
    return Text;
  }
  return "no reason given";
}

// Words for a refused variable. The status alone names the check in most cases;
// the driver's size query tells the two EFI_INVALID_PARAMETER causes apart.
std::string DescribeFillFailure(EFI_STATUS Status, const uint8_t *Data, const InspectReport &Report,
                                const sim::Recorders &Recorder) {
  const uint32_t Size = Report.VariableSize;
  const uint32_t Attributes = Report.Attributes;
  UINT32 Decompressed = 0;
  UINT32 ScratchSize = 0;
  const bool HeaderFits = GetInfo(Data, Size, &Decompressed, &ScratchSize) == EFI_SUCCESS;
  switch (Status) {
    case EFI_COMPROMISED_DATA:
      return "attributes " + Attributes32(Attributes) + " (" + AttributeNames(Attributes) +
             ") are not NV+BS (0x00000003): the driver refuses this cache (--any-attributes inspects it "
             "anyway)";
    case EFI_BUFFER_TOO_SMALL:
      if (Size > MAX_CACHE_SIZE) {
        return "variable data is " + std::to_string(Size) +
               " bytes, more than the 262144 (0x40000) the driver loads";
      }
      return "the compressed header announces " + std::to_string(Decompressed) +
             " decompressed bytes, more than the 262144 (0x40000) the driver loads";
    case EFI_INVALID_PARAMETER:
      if (Size < COMPRESS_HEADER_SIZE) {
        return "variable data is " + std::to_string(Size) +
               " bytes, too short for the 8-byte compressed header";
      }
      if (!HeaderFits) {
        UINT32 Compressed = 0;
        std::memcpy(&Compressed, Data, sizeof(Compressed));
        return "not a compressed cache: the header announces " + std::to_string(Compressed) +
               " compressed bytes after its 8, but the variable holds " + std::to_string(Size) + " bytes";
      }
      return "corrupt compressed data: the decoder rejected the bit stream";
    default:
      return "the driver could not load the cache (" + LastDriverError(Recorder) + ")";
  }
}

// Reads every blob with the driver's reader until the normal end of the stream.
// A rejected blob header ends the walk: the reader has moved 16 bytes past it,
// so nothing after it can be trusted to start at a blob boundary.
void WalkStream(sim::Platform &Platform, InspectReport *Report) {
  for (uint32_t Index = 0;; Index++) {
    const uint32_t Offset = mReadBlobStreamOffset;
    VOID *Blob = nullptr;
    UINT32 Length = 0;
    EFI_STATUS Status = ReadBlob(BLOB_HANDLE_READ, &Blob, &Length);
    if (Status == EFI_NOT_FOUND) {
      Report->TrailingBytes = mReadBlobStreamMaxOffset - Offset;
      return;
    }
    if (EFI_ERROR(Status)) {
      Report->Error = "stream corrupt at offset " + Hex(Offset) + " (blob " + std::to_string(Index) +
                      "): " + LastDriverError(Platform.Recorder());
      return;
    }
    CacheEntry Entry;
    Entry.Index = Index;
    Entry.StreamOffset = Offset;
    const uint8_t *Bytes = static_cast<const uint8_t *>(Blob);
    Entry.Payload.assign(Bytes, Bytes + Length);
    FreePool(Blob);
    Report->Entries.push_back(std::move(Entry));
  }
}

// A table entry's stored table must carry its own length in the ACPI header's
// Length field (offset 4), or the copy is not the table that was captured.
std::string CheckStoredTable(const CacheEntry &Entry) {
  const size_t TableSize = Entry.Payload.size() - sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
  if (TableSize < sizeof(EFI_ACPI_COMMON_HEADER)) {
    return "stored table of " + std::to_string(TableSize) + " bytes is shorter than an ACPI header";
  }
  uint32_t TableLength = 0;
  std::memcpy(&TableLength, Entry.Payload.data() + sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER) + 4,
              sizeof(TableLength));
  if (TableLength != TableSize) {
    return "table Length field " + Hex(TableLength) + " differs from the " + Hex(TableSize) + " bytes stored";
  }
  return "";
}

// Element entries: the fixed part of their kind is present, and the NvsLength
// in front of the captured bytes counts exactly the bytes that follow it.
std::string CheckElement(const CacheEntry &Entry, uint32_t FixedLength) {
  if (Entry.Payload.size() < FixedLength) {
    return "element of " + std::to_string(Entry.Payload.size()) +
           " bytes is shorter than its fixed part of " + std::to_string(FixedLength);
  }
  if (Entry.Header.AcpiDataSubType == AcpiDataSubTypeInteger) {
    return Entry.Payload.size() == FixedLength ? "" : "integer element is not exactly 216 bytes";
  }
  uint64_t NvsLength = 0;
  std::memcpy(&NvsLength, Entry.Payload.data() + FixedLength - sizeof(NvsLength), sizeof(NvsLength));
  const uint64_t Carried = Entry.Payload.size() - FixedLength;
  if (NvsLength != Carried) {
    return "NvsLength " + Hex(NvsLength) + " differs from the " + Hex(Carried) + " bytes carried";
  }
  return "";
}

std::string CheckEntry(CacheEntry *Entry) {
  if (!ReadAcpiDataStorageEntryHeader(Entry->Payload.data(), static_cast<UINT32>(Entry->Payload.size()),
                                      &Entry->Header)) {
    if (Entry->Payload.size() < sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER)) {
      return "payload of " + std::to_string(Entry->Payload.size()) +
             " bytes is too short for a 32-byte entry header";
    }
    return "entry Length " + Hex(Entry->Header.AcpiCommonHeader.Length) + " differs from the blob's " +
           Hex(Entry->Payload.size()) + " payload bytes";
  }
  Entry->HeaderValid = true;
  const ACPI_DATA_STORAGE_ENTRY_HEADER &Header = Entry->Header;
  const uint32_t FixedLength = GetAcpiDataStorageElementFixedLength(&Header);
  if (FixedLength != 0) return CheckElement(*Entry, FixedLength);
  const bool KnownType = Header.AcpiDataType >= AcpiDataTypeFadt && Header.AcpiDataType <= AcpiDataTypeSsdt;
  if (Header.AcpiDataSubType == AcpiDataSubTypeTable && KnownType) return CheckStoredTable(*Entry);
  if (Header.AcpiDataSubType == AcpiDataSubTypeFromFv) {
    if (Header.AcpiDataType == AcpiDataTypeDsdt && Header.AcpiCommonHeader.Length == 32) return "";
    if (Header.AcpiDataType == AcpiDataTypeSsdt && Header.AcpiCommonHeader.Length == 68) return "";
    if (Header.AcpiDataType == AcpiDataTypeDsdt || Header.AcpiDataType == AcpiDataTypeSsdt) {
      return "firmware-volume entry of " + std::to_string(Header.AcpiCommonHeader.Length) +
             " bytes (a DSDT's is 32, an SSDT's 68)";
    }
  }
  return "unknown kind: type " + std::to_string(Header.AcpiDataType) + ", sub-type " +
         std::to_string(Header.AcpiDataSubType) + ", NVS type " + std::to_string(Header.AcpiDataNvsType);
}

}  // namespace

bool InspectReport::Clean() const {
  if (!Loaded || !Error.empty() || !PoolLeak.empty()) return false;
  for (const CacheEntry &Entry : Entries) {
    if (!Entry.Problem.empty()) return false;
  }
  return true;
}

bool IsPlausibleAttributePrefix(uint32_t Value) {
  return Value == ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES ||
         Value == (ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES | EFI_VARIABLE_RUNTIME_ACCESS);
}

bool UsesEfivarfsForm(const uint8_t *Data, size_t Size, InputForm Form) {
  if (Form != InputForm::Auto) return Form == InputForm::Efivarfs;
  if (Size < kEfivarfsPrefixSize) return false;
  uint32_t First = 0;
  std::memcpy(&First, Data, sizeof(First));
  if (!IsPlausibleAttributePrefix(First)) return false;
  return Size != static_cast<size_t>(First) + COMPRESS_HEADER_SIZE;
}

std::string AttributeNames(uint32_t Attributes) {
  return sim::VariableAttributeNames(Attributes);
}

InspectReport InspectCache(const uint8_t *Data, size_t Size, const InspectOptions &Options) {
  InspectReport Report;
  Report.FormIsEfivarfs = UsesEfivarfsForm(Data, Size, Options.Form);
  Report.Attributes = ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES;
  if (Options.Form == InputForm::Store) {
    Report.Attributes = Options.StoreAttributes;
    Report.StoreRecord = Options.StoreRecord;
  }
  if (Report.FormIsEfivarfs) {
    if (Size < kEfivarfsPrefixSize) {
      Report.Error =
          "file of " + std::to_string(Size) + " bytes is too short for the 4-byte efivarfs attribute prefix";
      return Report;
    }
    std::memcpy(&Report.Attributes, Data, sizeof(Report.Attributes));
    Data += kEfivarfsPrefixSize;
    Size -= kEfivarfsPrefixSize;
  }
  // The size in the messages stays exact up to 4 GiB.
  Report.VariableSize = Size > MAX_UINT32 ? MAX_UINT32 : static_cast<uint32_t>(Size);
  if (Size == 0) {
    Report.Error = "variable data is empty";
    return Report;
  }
  DriverBinding Binding;
  sim::Platform &Platform = Binding.Platform();
  // One byte past the driver's limit is enough for it to refuse the variable.
  const size_t Stored = Size > MAX_CACHE_SIZE ? MAX_CACHE_SIZE + 1 : Size;
  const uint32_t LoadAttributes =
      Options.AnyAttributes ? ACPI_DATA_CACHE_VARIABLE_ATTRIBUTES : Report.Attributes;
  Platform.Variables().Put(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid, LoadAttributes,
                           std::vector<UINT8>(Data, Data + Stored));
  BLOB_HANDLE Handle = BLOB_HANDLE_NONE;
  EFI_STATUS Status = OpenBlobStream(&Handle, BlobAccessRead);
  if (EFI_ERROR(Status)) {
    Report.Error = DescribeFillFailure(Status, Data, Report, Platform.Recorder());
  } else {
    Report.Loaded = true;
    Report.DecompressedSize = mReadBlobStreamMaxOffset;
    WalkStream(Platform, &Report);
  }
  Binding.Unbind();
  for (CacheEntry &Entry : Report.Entries) Entry.Problem = CheckEntry(&Entry);
  Report.DriverLog = Platform.Recorder().DebugLines();
  Report.PoolLeak = Platform.LeakCheck();
  return Report;
}

}  // namespace inspect
