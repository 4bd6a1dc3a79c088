// The firmware-volume table reader on the simulated platform's volumes: which
// volume is asked when, which section counts as the table, and what a section
// that lies about its table does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/FvTableReader.h"
#include "tests/restore/RestoreTestSupport.h"
#include "uefi/Acpi.h"

namespace restore_test {
namespace {

using Section = std::vector<UINT8>;

constexpr EFI_GUID kTableFile = {
    0x3C1D6E2A, 0x51B7, 0x4F0E, {0x9A, 0x44, 0x27, 0x6D, 0x10, 0xC3, 0x8E, 0x52}};
constexpr EFI_GUID kOtherFile = {
    0x7E90B1C4, 0x02AF, 0x4D63, {0xB8, 0x15, 0x6A, 0x2C, 0xF0, 0x91, 0x3D, 0x07}};

EFI_GUID VolumeName(UINT8 Index) {
  return {0x5A17C0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, Index}};
}

std::vector<UINT8> Bytes(const VOID *Buffer, size_t Size) {
  const UINT8 *Begin = static_cast<const UINT8 *>(Buffer);
  return std::vector<UINT8>(Begin, Begin + Size);
}

class FvTableReaderTest : public RestoreTest {
 protected:
  // A volume holding the table file with these raw sections (none: no such file).
  sim::FirmwareVolume *AddVolume(UINT8 Index, std::vector<Section> Sections) {
    std::vector<sim::FvFile> Files = {
        sim::RawFile(kOtherFile, EFI_FV_FILETYPE_FREEFORM, {MakeTable("DSDT", 64, "Decoy001")})};
    if (!Sections.empty())
      Files.push_back(sim::RawFile(kTableFile, EFI_FV_FILETYPE_FREEFORM, std::move(Sections)));
    sim::FirmwareVolume *Volume = Platform->Volumes().Add(VolumeName(Index), std::move(Files));
    EXPECT_NE(Volume, nullptr);
    return Volume;
  }

  // Reads the table and takes it out of pool, so that the leak check stays exact.
  EFI_STATUS Read(UINT32 Signature, UINT64 OemTableId, std::vector<UINT8> *Table) {
    VOID *Found = nullptr;
    EFI_STATUS Status = ReadAcpiTableFromFv(&kTableFile, Signature, OemTableId, &Found);
    if (EFI_ERROR(Status)) {
      EXPECT_EQ(Found, nullptr) << "a failed read must leave no buffer to the caller";
      return Status;
    }
    EXPECT_NE(Found, nullptr);
    if (Found == nullptr) return Status;
    Table->assign(static_cast<UINT8 *>(Found), static_cast<UINT8 *>(Found) + Platform->Pool().SizeOf(Found));
    gBS->FreePool(Found);
    return Status;
  }
};

// Search order.

TEST_F(FvTableReaderTest, OwnVolumeIsAskedBeforeEarlierVolumes) {
  sim::FirmwareVolume *Earlier = AddVolume(1, {MakeTable("DSDT", 64, "Elsewher", 1)});
  sim::FirmwareVolume *Own = AddVolume(2, {MakeTable("DSDT", 64, "OwnVolum", 2)});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("DSDT", 64, "OwnVolum", 2));
  EXPECT_EQ(Earlier->ReadSectionCalls, 0u);
}

TEST_F(FvTableReaderTest, OtherVolumeIsAskedAgainForEachSectionAfterOwnVolume) {
  sim::FirmwareVolume *Own = AddVolume(1, {});
  sim::FirmwareVolume *Other =
      AddVolume(2, {MakeTable("SSDT", 64, "CpuSsdt0"), MakeTable("SSDT", 80, "GpuSsdt0")});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("SSDT"), OemId64("GpuSsdt0"), &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("SSDT", 80, "GpuSsdt0"));
  EXPECT_EQ(Own->ReadSectionCalls, 2u) << "own volume first, once per section number";
  EXPECT_EQ(Other->ReadSectionCalls, 2u);
}

TEST_F(FvTableReaderTest, FirstOtherVolumeInHandleOrderWinsAndOwnIsNotAskedTwice) {
  sim::FirmwareVolume *First = AddVolume(1, {MakeTable("DSDT", 64, "FirstVol", 1)});
  sim::FirmwareVolume *Own = AddVolume(2, {});
  sim::FirmwareVolume *Last = AddVolume(3, {MakeTable("DSDT", 64, "LastVolm", 3)});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("DSDT", 64, "FirstVol", 1));
  EXPECT_EQ(Own->ReadSectionCalls, 1u);
  EXPECT_EQ(First->ReadSectionCalls, 1u);
  EXPECT_EQ(Last->ReadSectionCalls, 0u);
}

TEST_F(FvTableReaderTest, FailedReadInOwnVolumeFallsBackToOthers) {
  sim::FirmwareVolume *Own = AddVolume(1, {MakeTable("DSDT", 64, "OwnVolum", 1)});
  AddVolume(2, {MakeTable("DSDT", 64, "Fallback", 2)});
  LoadDriverFrom(Own);
  Platform->Volumes().FailReadSection(1, EFI_DEVICE_ERROR);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("DSDT", 64, "Fallback", 2));
}

TEST_F(FvTableReaderTest, DriverWithoutLoadedImageSearchesEveryVolume) {
  AddVolume(1, {});
  AddVolume(2, {MakeTable("DSDT", 64, "AnyVolum")});
  EXPECT_EQ(GetImageFvHandle(), nullptr);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("DSDT", 64, "AnyVolum"));
}

TEST_F(FvTableReaderTest, FileInNoVolumeIsNotFound) {
  sim::FirmwareVolume *Own = AddVolume(1, {});
  sim::FirmwareVolume *Other = AddVolume(2, {});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  EXPECT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_NOT_FOUND);
  EXPECT_EQ(Own->ReadSectionCalls, 1u);
  EXPECT_EQ(Other->ReadSectionCalls, 1u);
}

TEST_F(FvTableReaderTest, BoardWithoutVolumesReportsTheHandleSearch) {
  std::vector<UINT8> Table;
  EXPECT_EQ(Read(Sig32("DSDT"), 0, &Table), EFI_NOT_FOUND);
}

TEST_F(FvTableReaderTest, NullArgumentsAreRejected) {
  VOID *Table = nullptr;
  EXPECT_EQ(ReadAcpiTableFromFv(nullptr, Sig32("DSDT"), 0, &Table), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadAcpiTableFromFv(&kTableFile, Sig32("DSDT"), 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Table, nullptr);
}

// Table matching.

TEST_F(FvTableReaderTest, SsdtIsMatchedByOemTableIdAndSkippedSectionsFreed) {
  sim::FirmwareVolume *Own =
      AddVolume(1, {MakeTable("SSDT", 64, "CpuSsdt0"), MakeTable("DSDT", 64, "GpuSsdt0"),
                    MakeTable("SSDT", 96, "GpuSsdt0"), MakeTable("SSDT", 64, "GpuSsdt0", 9)});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("SSDT"), OemId64("GpuSsdt0"), &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("SSDT", 96, "GpuSsdt0"));
  EXPECT_EQ(Own->ReadSectionCalls, 3u);
}

TEST_F(FvTableReaderTest, OtherSignaturesIgnoreOemTableId) {
  sim::FirmwareVolume *Own =
      AddVolume(1, {MakeTable("SSDT", 64, "CpuSsdt0"), MakeTable("DSDT", 72, "Anything")});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  ASSERT_EQ(Read(Sig32("DSDT"), OemId64("NotThis0"), &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, MakeTable("DSDT", 72, "Anything"));
}

TEST_F(FvTableReaderTest, FileWithoutTheTableIsNotFoundAndLeaksNothing) {
  sim::FirmwareVolume *Own =
      AddVolume(1, {MakeTable("SSDT", 64, "CpuSsdt0"), MakeTable("SSDT", 64, "GpuSsdt0")});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  EXPECT_EQ(Read(Sig32("SSDT"), OemId64("NpuSsdt0"), &Table), EFI_NOT_FOUND);
  EXPECT_EQ(Own->ReadSectionCalls, 3u) << "two sections, then the one past the last";
}

// Sections that do not hold what their header claims. Each row: the file's raw
// sections, the table asked for, and which section (if any) comes back.

std::vector<UINT8> WithLength(std::vector<UINT8> Table, UINT32 Length) {
  std::memcpy(&Table[OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length)], &Length, sizeof(Length));
  return Table;
}

std::vector<UINT8> Cut(std::vector<UINT8> Table, size_t Size) {
  Table.resize(Size);
  return Table;
}

struct SectionRow {
  const char *Name;
  std::vector<Section> Sections;
  const char *Signature;
  const char *OemTableId;
  int Returned;         // index of the section handed back; -1: EFI_NOT_FOUND
  const char *Warning;  // the one warning expected, or nullptr
};

const char kShortWarning[] =
    "ReadAcpiTableFromFv - DSDT section of 0x1E bytes is shorter than a table header; skipped\n";

std::vector<SectionRow> SectionRows() {
  std::vector<UINT8> Dsdt = MakeTable("DSDT", 64, "ZpDsdt01");
  std::vector<UINT8> Ssdt = MakeTable("SSDT", 64, "ZpSsdt01");
  std::vector<UINT8> Padded = Dsdt;
  Padded.resize(80, 0xFF);
  return {
      {"EmptySection", {Section()}, "DSDT", "ZpDsdt01", -1, nullptr},
      {"ShorterThanSignature", {Cut(Dsdt, 3)}, "DSDT", "ZpDsdt01", -1, nullptr},
      {"HeaderCutShort", {Cut(Dsdt, 30)}, "DSDT", "ZpDsdt01", -1, kShortWarning},
      {"SsdtCutBeforeOemTableId",
       {Cut(Ssdt, 20)},
       "SSDT",
       "ZpSsdt01",
       -1,
       "ReadAcpiTableFromFv - SSDT section of 0x14 bytes is shorter than a table header; skipped\n"},
      {"SsdtCutInsideHeader",
       {Cut(Ssdt, 35)},
       "SSDT",
       "ZpSsdt01",
       -1,
       "ReadAcpiTableFromFv - SSDT section of 0x23 bytes is shorter than a table header; skipped\n"},
      {"LengthZero",
       {WithLength(Dsdt, 0)},
       "DSDT",
       "",
       -1,
       "ReadAcpiTableFromFv - DSDT section of 0x40 bytes holds a table of Length 0x0; skipped\n"},
      {"LengthBelowHeader",
       {WithLength(Dsdt, 35)},
       "DSDT",
       "",
       -1,
       "ReadAcpiTableFromFv - DSDT section of 0x40 bytes holds a table of Length 0x23; skipped\n"},
      {"LengthPastSection",
       {WithLength(Dsdt, 65)},
       "DSDT",
       "",
       -1,
       "ReadAcpiTableFromFv - DSDT section of 0x40 bytes holds a table of Length 0x41; skipped\n"},
      {"LengthNearFourGiB",
       {WithLength(Dsdt, 0xFFFFFFF0u)},
       "DSDT",
       "",
       -1,
       "ReadAcpiTableFromFv - DSDT section of 0x40 bytes holds a table of Length 0xFFFFFFF0; skipped\n"},
      {"HeaderOnlyTable", {MakeTable("DSDT", 36, "ZpDsdt01")}, "DSDT", "", 0, nullptr},
      {"LengthFillsSection", {Dsdt}, "DSDT", "", 0, nullptr},
      {"SectionPaddedPastLength", {Padded}, "DSDT", "", 0, nullptr},
      {"MalformedCopyThenSoundCopy",
       {WithLength(Dsdt, 200), Dsdt},
       "DSDT",
       "",
       1,
       "ReadAcpiTableFromFv - DSDT section of 0x40 bytes holds a table of Length 0xC8; skipped\n"},
      {"ShortSectionsThenTable",
       {Section(), Cut(Dsdt, 2), Cut(Dsdt, 30), Dsdt},
       "DSDT",
       "",
       3,
       kShortWarning},
      {"BrokenSsdtOfAnotherIdIsNotOurs",
       {WithLength(MakeTable("SSDT", 64, "ZpSsdt02"), 9), Ssdt},
       "SSDT",
       "ZpSsdt01",
       1,
       nullptr},
  };
}

void PrintTo(const SectionRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class MalformedSectionTest : public FvTableReaderTest, public testing::WithParamInterface<SectionRow> {};

TEST_P(MalformedSectionTest, OnlyWholeTablesAreHandedBack) {
  const SectionRow &Row = GetParam();
  sim::FirmwareVolume *Own = AddVolume(1, Row.Sections);
  LoadDriverFrom(Own);
  char Id[8] = {};
  std::memcpy(Id, Row.OemTableId, std::strlen(Row.OemTableId));
  std::vector<UINT8> Table;
  EFI_STATUS Status = Read(Sig32(Row.Signature), OemId64(Id), &Table);
  if (Row.Returned < 0) {
    EXPECT_EQ(Status, EFI_NOT_FOUND);
  } else {
    ASSERT_EQ(Status, EFI_SUCCESS);
    EXPECT_EQ(Table, Row.Sections[static_cast<size_t>(Row.Returned)]);
  }
  size_t Warnings = 0;
  for (const sim::DebugRecord &Line : Platform->Recorder().Records().Debug)
    Warnings += Line.Level == DEBUG_WARN;
  EXPECT_EQ(Warnings, Row.Warning == nullptr ? 0u : 1u) << DebugDump();
  if (Row.Warning != nullptr) EXPECT_EQ(Logged(Row.Warning, DEBUG_WARN), 1u) << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedSectionTest, testing::ValuesIn(SectionRows()),
                         [](const testing::TestParamInfo<SectionRow> &Info) { return Info.param.Name; });

// Allocation failures: every pool allocation of a search that reads from a
// second volume and skips one section fails in turn. Each run either finds the
// table or fails cleanly, and nothing stays allocated.
TEST_F(FvTableReaderTest, EveryAllocationFailureEndsCleanly) {
  sim::FirmwareVolume *Own = AddVolume(1, {});
  AddVolume(2, {MakeTable("SSDT", 64, "CpuSsdt0"), MakeTable("SSDT", 64, "GpuSsdt0")});
  LoadDriverFrom(Own);
  std::vector<UINT8> Table;
  Platform->Pool().StartCounting();
  ASSERT_EQ(Read(Sig32("SSDT"), OemId64("GpuSsdt0"), &Table), EFI_SUCCESS);
  UINT64 Allocations = Platform->Pool().AllocationsCounted();
  ASSERT_GE(Allocations, 4u) << "handle array and section per section number";
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    SCOPED_TRACE("allocation " + std::to_string(Nth));
    UINTN Before = Platform->Pool().OutstandingCount();
    Platform->Pool().FailAllocation(Nth);
    EFI_STATUS Status = Read(Sig32("SSDT"), OemId64("GpuSsdt0"), &Table);
    EXPECT_TRUE(Status == EFI_OUT_OF_RESOURCES || Status == EFI_NOT_FOUND) << Status;
    EXPECT_EQ(Platform->Pool().OutstandingCount(), Before);
  }
  Platform->Pool().FailAllocation(0);
}

// The two platform lookups underneath.

TEST_F(FvTableReaderTest, ImageVolumeIsTheLoadedImageDevice) {
  AddVolume(1, {});
  sim::FirmwareVolume *Own = AddVolume(2, {});
  LoadDriverFrom(Own);
  EXPECT_EQ(GetImageFvHandle(), Own->Handle);
}

TEST_F(FvTableReaderTest, RawSectionNeedsAVolumeHandle) {
  sim::FirmwareVolume *Own = AddVolume(1, {MakeTable("DSDT", 64, "ZpDsdt01")});
  LoadDriverFrom(Own);
  VOID *Buffer = reinterpret_cast<VOID *>(1);
  UINTN Size = 7;
  EXPECT_EQ(ReadRawSectionFromFv(nullptr, &kTableFile, 0, &Buffer, &Size), EFI_NOT_FOUND);
  EXPECT_EQ(ReadRawSectionFromFv(gImageHandle, &kTableFile, 0, &Buffer, &Size), EFI_NOT_FOUND);
  ASSERT_EQ(ReadRawSectionFromFv(Own->Handle, &kTableFile, 0, &Buffer, &Size), EFI_SUCCESS);
  EXPECT_EQ(Bytes(Buffer, Size), MakeTable("DSDT", 64, "ZpDsdt01"));
  gBS->FreePool(Buffer);
  EXPECT_EQ(ReadRawSectionFromFv(Own->Handle, &kTableFile, 1, &Buffer, &Size), EFI_NOT_FOUND);
}

}  // namespace
}  // namespace restore_test
