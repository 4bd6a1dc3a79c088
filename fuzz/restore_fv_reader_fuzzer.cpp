// The firmware-volume table reader over arbitrary RAW sections on the simulated
// platform: the named file lies in the driver's own volume or in another one,
// and its sections are whatever the input says. A table handed back must lie
// whole inside its section buffer (its bytes are summed, so ASan sees a read
// past it), and no pool buffer may outlive an input.
//
// Input: byte 0 bit 0..1 = wanted signature (DSDT, SSDT, FACP, APIC), bit 2 =
// file in the other volume instead of the driver's own; then sections, each a
// little-endian UINT16 length and that many bytes (a short last one is cut).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/FvTableReader.h"
#include "sim/DriverBinding.h"
#include "sim/ImageHandle.h"
#include "sim/Platform.h"
#include "uefi/Acpi.h"

namespace {

constexpr EFI_GUID kFile = {0x3C1D6E2A, 0x51B7, 0x4F0E, {0x9A, 0x44, 0x27, 0x6D, 0x10, 0xC3, 0x8E, 0x52}};
constexpr EFI_GUID kOwnFv = {0x5A17C0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
constexpr EFI_GUID kOtherFv = {0x5A17C0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};
constexpr UINT32 kSignatures[4] = {EFI_ACPI_DSDT_SIGNATURE, EFI_ACPI_SSDT_SIGNATURE, EFI_ACPI_FADT_SIGNATURE,
                                   SIGNATURE_32('A', 'P', 'I', 'C')};
constexpr UINT64 kWantedOemTableId = SIGNATURE_64('Z', 'p', 'S', 's', 'd', 't', '0', '1');

struct Board {
  sim::Platform *Platform;
  sim::FirmwareVolume *Own;
  sim::FirmwareVolume *Other;
  EFI_HANDLE Image;
};

Board &TheBoard() {
  static Board B = [] {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = false;
    Board New{new sim::Platform(Options), nullptr, nullptr, nullptr};
    New.Own = New.Platform->Volumes().Add(kOwnFv, {});
    New.Other = New.Platform->Volumes().Add(kOtherFv, {});
    sim::ImageOrigin Origin;
    Origin.DeviceHandle = New.Own->Handle;
    Origin.FvName = kOwnFv;
    EFI_STATUS Status = EFI_SUCCESS;
    New.Image = sim::ImageHandle::Install(New.Platform->SystemTable(), Origin, nullptr, 0, &Status)
                    .release()
                    ->Handle();
    return New;
  }();
  return B;
}

std::vector<sim::FvSection> SplitSections(const uint8_t *Data, size_t Size) {
  std::vector<sim::FvSection> Sections;
  size_t Pos = 0;
  while (Pos + 2 <= Size) {
    size_t Length = Data[Pos] | (static_cast<size_t>(Data[Pos + 1]) << 8);
    Pos += 2;
    if (Length > Size - Pos) Length = Size - Pos;
    Sections.push_back({EFI_SECTION_RAW, std::vector<UINT8>(Data + Pos, Data + Pos + Length)});
    Pos += Length;
  }
  return Sections;
}

void Check(bool Holds, const char *What) {
  if (Holds) return;
  std::fprintf(stderr, "restore_fv_reader_fuzzer: %s\n", What);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1 || Size > 0x10000) return 0;
  Board &B = TheBoard();
  sim::BindDriverTo(*B.Platform);
  gImageHandle = B.Image;
  UINT32 Signature = kSignatures[Data[0] & 3];
  sim::FirmwareVolume *Holder = (Data[0] & 4) != 0 ? B.Other : B.Own;
  B.Own->Files.clear();
  B.Other->Files.clear();
  Holder->Files.push_back({kFile, EFI_FV_FILETYPE_FREEFORM, SplitSections(Data + 1, Size - 1)});

  UINTN Before = B.Platform->Pool().OutstandingCount();
  VOID *Table = nullptr;
  EFI_STATUS Status = ReadAcpiTableFromFv(&kFile, Signature, kWantedOemTableId, &Table);
  if (!EFI_ERROR(Status)) {
    EFI_ACPI_DESCRIPTION_HEADER Header;
    std::memcpy(&Header, Table, sizeof(Header));
    Check(Header.Signature == Signature, "table with another signature");
    Check(Signature != EFI_ACPI_SSDT_SIGNATURE || Header.OemTableId == kWantedOemTableId,
          "SSDT of another id");
    Check(Header.Length >= sizeof(Header) && Header.Length <= B.Platform->Pool().SizeOf(Table),
          "table Length outside its section");
    UINT64 Sum = 0;  // touches every byte of the table, so ASan sees a read past the buffer
    for (UINT32 Index = 0; Index < Header.Length; Index++) Sum += static_cast<const UINT8 *>(Table)[Index];
    Check(Sum <= 0xFFull * Header.Length, "byte sum");
    gBS->FreePool(Table);
  } else {
    Check(Table == nullptr, "failed read left a buffer");
  }
  Check(B.Platform->Pool().OutstandingCount() == Before, "pool buffer left behind");
  Check(B.Platform->Faults().empty(), "platform fault");
  return 0;
}
