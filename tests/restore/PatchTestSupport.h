// Shared pieces of the DSDT and SSDT patching tests: a capture of the sample
// platform whose element entries are then put back into fresh copies of the
// fixture tables, hand-made element entries and tables for the rows a real
// capture cannot produce, and views of the region pages a patch allocated.
#ifndef ZEPHRIN_TESTS_RESTORE_PATCH_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_RESTORE_PATCH_TEST_SUPPORT_H_

#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "tests/capture/SamplePlatform.h"
#include "tests/restore/RestoreTestSupport.h"

namespace patch_test {

// A region page allocation the patch made.
struct RegionPages {
  EFI_PHYSICAL_ADDRESS Address;
  UINTN Pages;
  EFI_MEMORY_TYPE Type;
};

class PatchTest : public restore_test::RestoreTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Captures the sample platform with its sample meta data (DSDT and SSDTs kept
  // as firmware-volume tables) into Entries, then switches to the certified
  // path with the meta data still open.
  void CaptureSample();
  // The captured element of Signature and SubType whose locator names Path.
  std::vector<UINT8> CapturedElement(const char *Signature, UINT32 SubType, const std::string &Path) const;
  // Page allocations made since SetUp, in address order.
  std::vector<RegionPages> NewPages() const;
  // Debug lines equal to Text that start with Title (for the hex dump).
  size_t LinesStartingWith(const std::string &Title) const;

  capture_test::SampleTables Tables;
  std::vector<UINT8> MetaData;
  std::vector<std::vector<UINT8>> Entries;
  std::vector<EFI_PHYSICAL_ADDRESS> PagesAtStart;
};

// An element entry built the way the capture builds it: the record's fixed part
// (FixedLength bytes), header rewritten, NvsLength before the data, data after.
std::vector<UINT8> MakeNvsElement(const std::vector<UINT8> &Record, UINT32 FixedLength, UINT32 SubType,
                                  UINT32 NvsType, const std::vector<UINT8> &Data);
// An integer element entry for a record, with the captured Value.
std::vector<UINT8> MakeIntegerElement(const std::vector<UINT8> &Record, UINT64 Value);

// A table of the given signature whose AML body (after the 36-byte header) is
// Body; and a locator with PathName Path into it (offsets from the table start).
std::vector<UINT8> MakeAmlTable(const char Signature[4], const std::vector<UINT8> &Body);
AML_OBJECT_LOCATOR MakeLocator(const std::string &Path, UINT32 NameOffset, UINT8 PrefixByte,
                               UINT32 ValueOffset);
// Body of "OperationRegion (RGN0, SystemMemory, <Address>, <Length>)" with the
// given prefixes and data bytes, followed by one marker byte 0xA5.
std::vector<UINT8> OpRegionBody(UINT8 AddressPrefix, const std::vector<UINT8> &AddressBytes,
                                UINT8 LengthPrefix, const std::vector<UINT8> &LengthBytes);
// Offset of the RGN0 address data inside a MakeAmlTable(OpRegionBody(...)) table.
inline constexpr UINT32 kRegionNameOffset = 36 + 2;
inline constexpr UINT32 kRegionAddressOffset = 36 + 2 + 4 + 1 + 1;

UINT64 ReadLe(const std::vector<UINT8> &Bytes, size_t Offset, size_t Width);
UINT64 ReadLe(const VOID *Bytes, size_t Width);
std::vector<UINT8> Pattern(size_t Count, UINT8 Seed);
const ACPI_DATA_STORAGE_ENTRY_HEADER *Header(const std::vector<UINT8> &Entry);
// Writes Table to a temporary file (checksum fixed) for ACPICA's tools.
std::string WritePatchedTable(std::vector<UINT8> Table, const std::string &Name);

}  // namespace patch_test

#endif  // ZEPHRIN_TESTS_RESTORE_PATCH_TEST_SUPPORT_H_
