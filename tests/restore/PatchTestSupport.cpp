#include "tests/restore/PatchTestSupport.h"

#include <cstring>

#include "acpi_dxe/capture/AcpiChecksum.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/AcpiRegions.h"
#include "tests/capture/CaptureTestSupport.h"

namespace patch_test {

void PatchTest::SetUp() {
  RestoreTest::SetUp();
  if (!Tables.Load()) GTEST_SKIP() << "fixture tables not built (iasl missing at build time)";
  if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "the sample region window is taken in this process";
  for (const auto &Live : Platform->Pages().Live()) PagesAtStart.push_back(Live.first);
  mBootPath = BOOT_PATH_CERTIFIED;
}

void PatchTest::TearDown() {
  capture_test::CloseMetaData();
  capture_test::DropWriteStream();
  mBootPath = BOOT_PATH_NONE;
  RestoreTest::TearDown();
}

void PatchTest::CaptureSample() {
  ASSERT_EQ(capture_test::PublishSampleTables(*Platform, Tables), EFI_SUCCESS);
  capture_test::OpenMetaData(&MetaData, capture_test::SampleMetaData(Tables, AcpiDataSubTypeFromFv));
  mBootPath = BOOT_PATH_CUSTOM;
  ASSERT_EQ(capture_test::OpenWriteStream(), EFI_SUCCESS);
  ASSERT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  Entries = capture_test::WrittenEntries();
  capture_test::DropWriteStream();
  mBootPath = BOOT_PATH_CERTIFIED;
  PagesAtStart.clear();
  for (const auto &Live : Platform->Pages().Live()) PagesAtStart.push_back(Live.first);
  Platform->Recorder().Records().Debug.clear();
}

std::vector<UINT8> PatchTest::CapturedElement(const char *Signature, UINT32 SubType,
                                              const std::string &Path) const {
  for (const std::vector<UINT8> &Entry : Entries) {
    if (Entry.size() < sizeof(ACPI_DATA_STORAGE_ELEMENT)) continue;
    const auto *Element = reinterpret_cast<const ACPI_DATA_STORAGE_ELEMENT *>(Entry.data());
    if (std::memcmp(&Element->Header.AcpiCommonHeader.Signature, Signature, 4) == 0 &&
        Element->Header.AcpiDataSubType == SubType && Path == Element->Locator.PathName) {
      return Entry;
    }
  }
  ADD_FAILURE() << "no captured element " << Signature << " " << SubType << " " << Path;
  return {};
}

std::vector<RegionPages> PatchTest::NewPages() const {
  std::vector<RegionPages> Found;
  for (const auto &Live : Platform->Pages().Live()) {
    bool Old = false;
    for (EFI_PHYSICAL_ADDRESS Address : PagesAtStart) Old = Old || Address == Live.first;
    if (!Old) Found.push_back({Live.first, Live.second.Pages, Live.second.Type});
  }
  return Found;
}

size_t PatchTest::LinesStartingWith(const std::string &Title) const {
  size_t Found = 0;
  for (const sim::DebugRecord &Line : Platform->Recorder().Records().Debug) {
    if (Line.Text.compare(0, Title.size(), Title) == 0) Found++;
  }
  return Found;
}

std::vector<UINT8> MakeNvsElement(const std::vector<UINT8> &Record, UINT32 FixedLength, UINT32 SubType,
                                  UINT32 NvsType, const std::vector<UINT8> &Data) {
  std::vector<UINT8> Entry(Record.begin(), Record.begin() + FixedLength);
  auto *Element = reinterpret_cast<ACPI_DATA_STORAGE_ELEMENT *>(Entry.data());
  Element->Header.Revision = 1;
  Element->Header.AcpiCommonHeader.Length = static_cast<UINT32>(FixedLength + Data.size());
  Element->Header.AcpiDataSubType = SubType;
  Element->Header.AcpiDataNvsType = NvsType;
  Element->Header.EntrySignature = ACPI_DATA_STORAGE_ENTRY_SIGNATURE;
  const UINT64 NvsLength = Data.size();
  std::memcpy(Entry.data() + FixedLength - 8, &NvsLength, 8);
  Entry.insert(Entry.end(), Data.begin(), Data.end());
  return Entry;
}

std::vector<UINT8> MakeIntegerElement(const std::vector<UINT8> &Record, UINT64 Value) {
  std::vector<UINT8> Entry(Record.begin(), Record.begin() + sizeof(ACPI_DATA_STORAGE_INTEGER));
  auto *Integer = reinterpret_cast<ACPI_DATA_STORAGE_INTEGER *>(Entry.data());
  Integer->Common.Header.AcpiCommonHeader.Length = sizeof(ACPI_DATA_STORAGE_INTEGER);
  Integer->Common.Header.EntrySignature = ACPI_DATA_STORAGE_ENTRY_SIGNATURE;
  Integer->AcpiDataIntegerType = AcpiDataIntegerTypeDefault;
  Integer->Value = Value;
  return Entry;
}

std::vector<UINT8> MakeAmlTable(const char Signature[4], const std::vector<UINT8> &Body) {
  std::vector<UINT8> Table =
      restore_test::MakeTable(Signature, static_cast<UINT32>(36 + Body.size()), "ZPPATCH ");
  std::copy(Body.begin(), Body.end(), Table.begin() + 36);
  return Table;
}

AML_OBJECT_LOCATOR MakeLocator(const std::string &Path, UINT32 NameOffset, UINT8 PrefixByte,
                               UINT32 ValueOffset) {
  AML_OBJECT_LOCATOR Locator{};
  std::strncpy(Locator.PathName, Path.c_str(), sizeof(Locator.PathName) - 1);
  Locator.NameOffset = NameOffset;
  Locator.PrefixByte = PrefixByte;
  Locator.ValueOffset = ValueOffset;
  return Locator;
}

std::vector<UINT8> OpRegionBody(UINT8 AddressPrefix, const std::vector<UINT8> &AddressBytes,
                                UINT8 LengthPrefix, const std::vector<UINT8> &LengthBytes) {
  std::vector<UINT8> Body = {0x5B, 0x80, 'R', 'G', 'N', '0', 0x00, AddressPrefix};
  Body.insert(Body.end(), AddressBytes.begin(), AddressBytes.end());
  Body.push_back(LengthPrefix);
  Body.insert(Body.end(), LengthBytes.begin(), LengthBytes.end());
  Body.push_back(0xA5);
  return Body;
}

UINT64 ReadLe(const VOID *Bytes, size_t Width) {
  UINT64 Value = 0;
  std::memcpy(&Value, Bytes, Width);
  return Value;
}

UINT64 ReadLe(const std::vector<UINT8> &Bytes, size_t Offset, size_t Width) {
  return ReadLe(Bytes.data() + Offset, Width);
}

std::vector<UINT8> Pattern(size_t Count, UINT8 Seed) {
  std::vector<UINT8> Bytes(Count);
  for (size_t Index = 0; Index < Count; Index++) Bytes[Index] = static_cast<UINT8>(Seed + Index * 7);
  return Bytes;
}

const ACPI_DATA_STORAGE_ENTRY_HEADER *Header(const std::vector<UINT8> &Entry) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data());
}

std::string WritePatchedTable(std::vector<UINT8> Table, const std::string &Name) {
  AcpiTableChecksumUpdate(Table.data());
  return capture_test::WriteTempTable(Table, Name);
}

}  // namespace patch_test
