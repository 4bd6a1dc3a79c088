// The restore engine over an arbitrary stored stream and meta data on the
// simulated platform: the four phases of a certified-path boot replay the
// stream, read the DSDT from its volume file, move regions, patch integers and
// install tables. Nothing may read or write outside a buffer (ASan), and no
// pool buffer may outlive the boot but the deferred table the last phase
// leaves behind.
//
// Type 2 elements write into whatever parent region the AML names (platform
// memory on a board, nothing in this process), so the stream's Type 2 elements
// are turned into elements of an unknown NVS type, which the restore refuses;
// the Type 2 writes are the AML primitives' and the patch fuzzer's concern.
//
// Input: UINT32 meta data length, the meta data; UINT32 DSDT length, the DSDT
// the volume file holds; the rest is the decompressed blob stream (cut at
// MAX_CACHE_SIZE). Lengths past the input are cut to what is there.
// zephrin-demo --restore-seed writes a captured platform in this form.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/RestoreEngine.h"
#include "sim/DriverBinding.h"
#include "sim/FirmwareVolumes.h"
#include "sim/Platform.h"

namespace {

// The volume file a meta data DSDT record names (zephrin-demo's default).
constexpr EFI_GUID kDsdtFile = {0x3D0A55E1, 0x92C4, 0x4B7E, {0xA1, 0x6F, 0x0C, 0x58, 0xE2, 0x47, 0x9B, 0x13}};
constexpr EFI_GUID kVolume = {0x5A17C0DE, 0x0004, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 4}};
constexpr UINT16 kPhases[] = {0x1000, 0x2000, 0x3000, 0x4000};

// The next length-prefixed part of the input.
std::vector<UINT8> TakePart(const uint8_t *&Data, size_t &Size) {
  UINT32 Length = 0;
  if (Size >= sizeof(Length)) {
    memcpy(&Length, Data, sizeof(Length));
    Data += sizeof(Length);
    Size -= sizeof(Length);
  }
  size_t Taken = Length < Size ? Length : Size;
  std::vector<UINT8> Part(Data, Data + Taken);
  Data += Taken;
  Size -= Taken;
  return Part;
}

// Retypes the Type 2 elements of every blob the reader could accept. A header
// the reader refuses still moves its offset past those 16 bytes, so a later
// phase may read blobs that start inside an earlier payload: every offset that
// holds a blob signature is taken as a blob start, not only the first walk's.
void RetypeType2Elements(UINT8 *Stream, UINT32 Size) {
  constexpr UINT32 kSignatureAt = OFFSET_OF(BLOB_HEADER, Signature);
  constexpr UINT32 kNvsTypeAt =
      sizeof(BLOB_HEADER) + OFFSET_OF(ACPI_DATA_STORAGE_ENTRY_HEADER, AcpiDataNvsType);
  constexpr UINT64 kSignature = BLOB_HEADER_SIGNATURE;
  for (UINT32 Offset = 0; Size - Offset >= kNvsTypeAt + sizeof(UINT32); ++Offset) {
    if (memcmp(Stream + Offset + kSignatureAt, &kSignature, sizeof(kSignature)) != 0) continue;
    UINT32 NvsType = 0;
    memcpy(&NvsType, Stream + Offset + kNvsTypeAt, sizeof(NvsType));
    if (NvsType != AcpiDataNvsType2) continue;
    NvsType = 0x7F;
    memcpy(Stream + Offset + kNvsTypeAt, &NvsType, sizeof(NvsType));
  }
}

void Check(bool Holds, const char *What) {
  if (Holds) return;
  std::fprintf(stderr, "restore_engine_fuzzer: %s\n", What);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::vector<UINT8> MetaData = TakePart(Data, Size);
  std::vector<UINT8> Dsdt = TakePart(Data, Size);
  if (Size > MAX_CACHE_SIZE) Size = MAX_CACHE_SIZE;

  sim::PlatformOptions Options;
  Options.InstallDebugMessage = false;
  auto Platform = std::make_unique<sim::Platform>(Options);
  sim::BindDriverTo(*Platform);
  gImageHandle = nullptr;
  mBootPath = BOOT_PATH_CERTIFIED;
  if (!Dsdt.empty())
    Platform->Volumes().Add(kVolume, {sim::RawFile(kDsdtFile, EFI_FV_FILETYPE_FREEFORM, {Dsdt})});
  const UINTN PoolAtStart = Platform->Pool().OutstandingCount();

  // The meta data is used in place; an exact-size copy lets ASan see overreads.
  std::unique_ptr<UINT8[]> Meta(MetaData.empty() ? nullptr : new UINT8[MetaData.size()]);
  if (!MetaData.empty()) memcpy(Meta.get(), MetaData.data(), MetaData.size());
  mAcpiMetaDataPtr = Meta.get();
  mAcpiMetaDataLength = MetaData.size();

  Check(!EFI_ERROR(AllocateCache(BlobAccessRead)), "no read cache");
  if (Size != 0) memcpy(mReadBlobStreamPointer, Data, Size);
  RetypeType2Elements(mReadBlobStreamPointer, static_cast<UINT32>(Size));
  mReadBlobStreamOffset = 0;
  mReadBlobStreamMaxOffset = static_cast<UINT32>(Size);
  mReadBlobHandle = BLOB_HANDLE_READ;
  for (UINT16 Phase : kPhases) ProcessAcpiDataStorageAndAcpiMetaData(Phase);

  // A table deferred by the last phase has no phase left to install it: it is
  // released, as the certified-path work does on a board.
  ReleaseDeferredAcpiTable();
  mAcpiDataStorageEntryCount = 0;
  CloseBlobStream(BLOB_HANDLE_READ);
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
  Check(Platform->Pool().OutstandingCount() == PoolAtStart, "a pool buffer outlived the restore");
  Check(Platform->Faults().empty(), "the restore called a service it must not call");
  sim::UnbindDriver();
  return 0;
}
