// The sample platform of the capture tests: the compiled fixture tables published
// through an RSDP and XSDT, the meta data that asks for every kind of element, and
// helpers to open, read and drop the write stream.
#ifndef ZEPHRIN_TESTS_CAPTURE_SAMPLE_PLATFORM_H_
#define ZEPHRIN_TESTS_CAPTURE_SAMPLE_PLATFORM_H_

#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "sim/Platform.h"

namespace capture_test {

// --- Meta data records ------------------------------------------------------------

UINT64 OemTableIdOf(const char *Text);  // eight characters, first in the lowest byte

std::vector<UINT8> TableRecord(UINT32 Signature, UINT32 SubType, UINT64 OemTableId = 0);
std::vector<UINT8> NvsDefaultRecord(UINT32 Signature, UINT64 OemTableId, const AML_OBJECT_LOCATOR &Region);
std::vector<UINT8> NvsType1Record(UINT64 OemTableId, const AML_OBJECT_LOCATOR &Address,
                                  const AML_OBJECT_LOCATOR &Length);
std::vector<UINT8> Type2Record(UINT32 Signature, UINT32 SubType, UINT64 OemTableId,
                               const AML_OBJECT_LOCATOR &Parent, TYPE_2_NVS_FIELD AddressField,
                               TYPE_2_NVS_LENGTH_FIELD LengthField);
std::vector<UINT8> IntegerRecord(UINT32 Signature, const AML_OBJECT_LOCATOR &Constant, UINT32 IntegerType,
                                 UINT64 DefaultValue = 0);
// Sets the record's Length field (for malformed-meta-data rows).
void SetRecordLength(std::vector<UINT8> *Record, UINT32 Length);

// --- Tables ------------------------------------------------------------------------

struct SampleTables {
  std::vector<UINT8> Fadt, Facs, Dsdt, SsdtNvs, SsdtNonNvs, Apic, Mcfg, Hpet;
  // False when the fixtures were not built.
  bool Load();
};

// Installs the sample tables as the platform's own (sim::AcpiTables): copies
// below 4 GiB, the FADT linked to FACS (32-bit) and DSDT, the XSDT listing FADT,
// both SSDTs, APIC, MCFG and HPET in that order.
EFI_STATUS PublishSampleTables(sim::Platform &Platform, const SampleTables &Tables);
// The platform's installed copy of a table, as bytes (its own Length).
std::vector<UINT8> InstalledTable(sim::Platform &Platform, UINT32 Signature, UINT64 OemTableId = 0);
// Writable pointer to the installed copy, for mutations after publication.
UINT8 *InstalledTablePointer(sim::Platform &Platform, UINT32 Signature);

// A root the platform would never build: an RSDP and an XSDT whose entries are
// given as raw addresses (0 for a zero entry), published in place of the
// platform's own. The caller keeps the object alive while the walk runs.
class RawAcpiRoot {
 public:
  void Publish(sim::Platform &Platform, const std::vector<UINT64> &Entries);

 private:
  std::vector<UINT8> mXsdt;
  std::vector<UINT8> mRsdp;
};

UINT64 AddressOf(const std::vector<UINT8> &Table);

// --- Meta data and the write stream ------------------------------------------------

// Concatenates records into the open meta data (mAcpiMetaDataPtr/Length point
// into Storage, which the caller keeps alive).
void OpenMetaData(std::vector<UINT8> *Storage, const std::vector<std::vector<UINT8>> &Records);
void CloseMetaData();

// The meta data of the sample platform: a DSDT table record of SubType, the DSDT's
// three NVS regions (GNVS, then the Type 2 CNVS, then BNVS), four integers (IBYT
// default, IWRD stored, IDWD variable, IQWD not stored), both SSDTs with their
// elements, and HPET marked as not stored.
std::vector<std::vector<UINT8>> SampleMetaData(const SampleTables &Tables, UINT32 DsdtSubType);

EFI_STATUS OpenWriteStream();
// The payloads of every blob in the write stream, in order (blob headers checked).
std::vector<std::vector<UINT8>> WrittenEntries();
// Releases the write cache without flushing it to the variable.
void DropWriteStream();

const ACPI_DATA_STORAGE_ENTRY_HEADER *HeaderOf(const std::vector<UINT8> &Entry);

}  // namespace capture_test

#endif  // ZEPHRIN_TESTS_CAPTURE_SAMPLE_PLATFORM_H_
