#include "tests/capture/SamplePlatform.h"

#include <gtest/gtest.h>

#include <cstring>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiChecksum.h"
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DxeServices.h"
#include "tests/capture/CaptureTestSupport.h"

namespace capture_test {

namespace {

template <typename T>
std::vector<UINT8> Bytes(const T &Record) {
  const UINT8 *First = reinterpret_cast<const UINT8 *>(&Record);
  return std::vector<UINT8>(First, First + sizeof(T));
}

VOID FillHeader(ACPI_DATA_STORAGE_ENTRY_HEADER *Header, UINT32 Signature, UINT32 Length, UINT32 SubType,
                UINT32 NvsType) {
  Header->Revision = 1;
  Header->AcpiCommonHeader.Signature = Signature;
  Header->AcpiCommonHeader.Length = Length;
  Header->AcpiDataType = Signature == EFI_ACPI_SSDT_SIGNATURE ? AcpiDataTypeSsdt : AcpiDataTypeDsdt;
  Header->AcpiDataSubType = SubType;
  Header->AcpiDataNvsType = NvsType;
  Header->EntrySignature = 0x1000;  // Rank: install at driver entry
}

ACPI_DATA_STORAGE_ELEMENT Element(UINT32 Signature, UINT32 Length, UINT32 SubType, UINT32 NvsType,
                                  UINT64 OemTableId, const AML_OBJECT_LOCATOR &Locator) {
  ACPI_DATA_STORAGE_ELEMENT Common{};
  FillHeader(&Common.Header, Signature, Length, SubType, NvsType);
  Common.TableHeader.Signature = Signature;
  Common.TableHeader.Length = 0x24;
  Common.TableHeader.OemTableId = OemTableId;
  Common.Locator = Locator;
  return Common;
}

}  // namespace

UINT64 OemTableIdOf(const char *Text) {
  UINT64 Id = 0;
  memcpy(&Id, Text, 8);
  return Id;
}

std::vector<UINT8> TableRecord(UINT32 Signature, UINT32 SubType, UINT64 OemTableId) {
  const bool Ssdt = Signature == EFI_ACPI_SSDT_SIGNATURE;
  size_t Size = Ssdt ? 68 : 32;
  if (SubType == AcpiDataSubTypeFromFv) Size += 16;  // the firmware-volume file's GUID
  std::vector<UINT8> Record(Size, 0);
  auto *Header = reinterpret_cast<ACPI_DATA_STORAGE_ENTRY_HEADER *>(Record.data());
  FillHeader(Header, Signature, static_cast<UINT32>(Size), SubType, 0);
  if (Ssdt) {
    auto *Description = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Record.data() + 32);
    Description->Signature = Signature;
    Description->OemTableId = OemTableId;
  }
  return Record;
}

std::vector<UINT8> NvsDefaultRecord(UINT32 Signature, UINT64 OemTableId, const AML_OBJECT_LOCATOR &Region) {
  ACPI_DATA_STORAGE_NVS_DEFAULT Record{};
  Record.Common =
      Element(Signature, sizeof(Record), AcpiDataSubTypeNvs, AcpiDataNvsTypeDefault, OemTableId, Region);
  return Bytes(Record);
}

std::vector<UINT8> NvsType1Record(UINT64 OemTableId, const AML_OBJECT_LOCATOR &Address,
                                  const AML_OBJECT_LOCATOR &Length) {
  ACPI_DATA_STORAGE_NVS_TYPE_1 Record{};
  Record.Common = Element(EFI_ACPI_SSDT_SIGNATURE, sizeof(Record), AcpiDataSubTypeNvs, AcpiDataNvsType1,
                          OemTableId, Address);
  Record.LengthLocator = Length;
  return Bytes(Record);
}

std::vector<UINT8> Type2Record(UINT32 Signature, UINT32 SubType, UINT64 OemTableId,
                               const AML_OBJECT_LOCATOR &Parent, TYPE_2_NVS_FIELD AddressField,
                               TYPE_2_NVS_LENGTH_FIELD LengthField) {
  ACPI_DATA_STORAGE_NVS_TYPE_2 Record{};
  Record.Common = Element(Signature, sizeof(Record), SubType, AcpiDataNvsType2, OemTableId, Parent);
  Record.AddressField = AddressField;
  Record.LengthField = LengthField;
  return Bytes(Record);
}

std::vector<UINT8> IntegerRecord(UINT32 Signature, const AML_OBJECT_LOCATOR &Constant, UINT32 IntegerType,
                                 UINT64 DefaultValue) {
  ACPI_DATA_STORAGE_INTEGER Record{};
  Record.Common =
      Element(Signature, sizeof(Record), AcpiDataSubTypeInteger, AcpiDataNvsTypeNone, 0, Constant);
  Record.AcpiDataIntegerType = IntegerType;
  Record.Value = DefaultValue;
  const char16_t Name[] = u"SampleValue";
  memcpy(Record.VariableName, Name, sizeof(Name));
  Record.Attributes = 7;
  return Bytes(Record);
}

void SetRecordLength(std::vector<UINT8> *Record, UINT32 Length) {
  memcpy(Record->data() + 8, &Length, 4);
}

bool SampleTables::Load() {
  Fadt = LoadFixture("facp");
  Facs = LoadFixture("facs");
  Dsdt = LoadFixture("dsdt");
  SsdtNvs = LoadFixture("ssdt_nvs");
  SsdtNonNvs = LoadFixture("ssdt_nonnvs");
  Apic = LoadFixture("apic");
  Mcfg = LoadFixture("mcfg");
  Hpet = LoadFixture("hpet");
  return !Fadt.empty() && !Facs.empty() && !Dsdt.empty() && !SsdtNvs.empty() && !SsdtNonNvs.empty() &&
         !Apic.empty() && !Mcfg.empty() && !Hpet.empty();
}

UINT64 AddressOf(const std::vector<UINT8> &Table) {
  return reinterpret_cast<UINTN>(Table.data());
}

EFI_STATUS PublishSampleTables(sim::Platform &Platform, const SampleTables &Tables) {
  return Platform.Acpi().InstallPlatformTables({Tables.Fadt, Tables.Facs, Tables.Dsdt, Tables.SsdtNvs,
                                                Tables.SsdtNonNvs, Tables.Apic, Tables.Mcfg, Tables.Hpet});
}

UINT8 *InstalledTablePointer(sim::Platform &Platform, UINT32 Signature) {
  return const_cast<UINT8 *>(Platform.Acpi().Find(Signature));
}

std::vector<UINT8> InstalledTable(sim::Platform &Platform, UINT32 Signature, UINT64 OemTableId) {
  const UINT8 *Table = Platform.Acpi().Find(Signature, OemTableId);
  if (Table == nullptr) return {};
  UINT32 Length = 0;
  memcpy(&Length, Table + 4, 4);
  return std::vector<UINT8>(Table, Table + Length);
}

void RawAcpiRoot::Publish(sim::Platform &Platform, const std::vector<UINT64> &Entries) {
  mXsdt.assign(36 + 8 * Entries.size(), 0);
  memcpy(mXsdt.data(), "XSDT", 4);
  const UINT32 Length = static_cast<UINT32>(mXsdt.size());
  memcpy(mXsdt.data() + 4, &Length, 4);
  mXsdt[8] = 1;
  if (!Entries.empty()) memcpy(mXsdt.data() + 36, Entries.data(), 8 * Entries.size());
  AcpiTableChecksumUpdate(mXsdt.data());

  mRsdp.assign(36, 0);
  memcpy(mRsdp.data(), "RSD PTR ", 8);
  mRsdp[15] = 2;
  const UINT32 RsdpLength = 36;
  memcpy(mRsdp.data() + 20, &RsdpLength, 4);
  const UINT64 XsdtAddress = AddressOf(mXsdt);
  memcpy(mRsdp.data() + 24, &XsdtAddress, 8);
  AcpiChecksumUpdate(mRsdp.data(), ACPI_RSDP_V1_LENGTH, ACPI_RSDP_CHECKSUM_OFFSET);
  AcpiChecksumUpdate(mRsdp.data(), mRsdp.size(), ACPI_RSDP_EXTENDED_CHECKSUM_OFFSET);
  ASSERT_EQ(Platform.InstallConfigurationTable(gEfiAcpi20TableGuid, mRsdp.data()), EFI_SUCCESS);
}

void OpenMetaData(std::vector<UINT8> *Storage, const std::vector<std::vector<UINT8>> &Records) {
  Storage->clear();
  for (const std::vector<UINT8> &Record : Records)
    Storage->insert(Storage->end(), Record.begin(), Record.end());
  mAcpiMetaDataPtr = Storage->data();
  mAcpiMetaDataLength = Storage->size();
}

void CloseMetaData() {
  mAcpiMetaDataPtr = nullptr;
  mAcpiMetaDataLength = 0;
}

std::vector<std::vector<UINT8>> SampleMetaData(const SampleTables &Tables, UINT32 DsdtSubType) {
  const UINT32 Dsdt = EFI_ACPI_DSDT_SIGNATURE;
  const UINT32 Ssdt = EFI_ACPI_SSDT_SIGNATURE;
  const UINT64 NvsTable = OemTableIdOf("ZPNVSTBL");
  const UINT64 NonNvsTable = OemTableIdOf("ZPNONNVS");
  return {
      TableRecord(Dsdt, DsdtSubType),
      NvsDefaultRecord(Dsdt, 0, LocatorFor(Tables.Dsdt, "\\GNVS")),
      // CNVS: address in GNVS field 0x10 (32 bits), length in field 0x14 (16 bits).
      Type2Record(Dsdt, AcpiDataSubTypeNvs, 0, LocatorFor(Tables.Dsdt, "\\GNVS"),
                  {FIELD_TYPE_2_NVS_MODE, 3, {}, 0x10}, {FIELD_TYPE_2_NVS_MODE, 2, {}, 0x14}),
      NvsDefaultRecord(Dsdt, 0, LocatorFor(Tables.Dsdt, "\\BNVS")),
      IntegerRecord(Dsdt, LocatorFor(Tables.Dsdt, "\\IBYT"), AcpiDataIntegerTypeDefault, 0x11),
      IntegerRecord(Dsdt, LocatorFor(Tables.Dsdt, "\\IWRD"), AcpiDataIntegerTypeStored),
      IntegerRecord(Dsdt, LocatorFor(Tables.Dsdt, "\\IDWD"), AcpiDataIntegerTypeVariable),
      IntegerRecord(Dsdt, LocatorFor(Tables.Dsdt, "\\IQWD"), AcpiDataIntegerTypeNotStored),
      TableRecord(Ssdt, AcpiDataSubTypeFromStorage, NvsTable),
      NvsDefaultRecord(Ssdt, NvsTable, LocatorFor(Tables.SsdtNvs, "\\SNV0")),
      NvsType1Record(NvsTable, LocatorFor(Tables.SsdtNvs, "\\SNVA"), LocatorFor(Tables.SsdtNvs, "\\SNVL")),
      TableRecord(Ssdt, AcpiDataSubTypeFromStorage, NonNvsTable),
      // NNVS: address and length in PNVS fields 0 and 4, 32 bits each.
      Type2Record(Ssdt, AcpiDataSubTypeNonNvs, NonNvsTable, LocatorFor(Tables.SsdtNonNvs, "\\_SB.SCRA.PNVS"),
                  {FIELD_TYPE_2_NVS_MODE, 3, {}, 0}, {FIELD_TYPE_2_NVS_MODE, 3, {}, 4}),
      TableRecord(SIGNATURE_32('H', 'P', 'E', 'T'), AcpiDataSubTypeDoNotStore),
  };
}

EFI_STATUS OpenWriteStream() {
  BLOB_HANDLE Handle = BLOB_HANDLE_NONE;
  return OpenBlobStream(&Handle, BlobAccessWrite);
}

std::vector<std::vector<UINT8>> WrittenEntries() {
  std::vector<std::vector<UINT8>> Entries;
  UINT32 Offset = 0;
  while (Offset + sizeof(BLOB_HEADER) <= mWriteBlobStreamOffset) {
    BLOB_HEADER Header;
    memcpy(&Header, mWriteBlobStreamPointer + Offset, sizeof(Header));
    EXPECT_EQ(Header.Signature, BLOB_HEADER_SIGNATURE);
    EXPECT_GT(Header.Length, sizeof(BLOB_HEADER));
    if (Header.Length <= sizeof(BLOB_HEADER) || Header.Length > mWriteBlobStreamOffset - Offset) break;
    const UINT8 *Payload = mWriteBlobStreamPointer + Offset + sizeof(BLOB_HEADER);
    Entries.emplace_back(Payload, Payload + Header.Length - sizeof(BLOB_HEADER));
    Offset += Header.Length;
  }
  EXPECT_EQ(Offset, mWriteBlobStreamOffset);
  return Entries;
}

void DropWriteStream() {
  if (mWriteBlobStreamPointer != nullptr) FreePool(mWriteBlobStreamPointer);
  mWriteBlobStreamPointer = nullptr;
  mWriteBlobStreamOffset = 0;
  mWriteBlobStreamMaxOffset = 0;
  mWriteBlobHandle = BLOB_HANDLE_NONE;
}

const ACPI_DATA_STORAGE_ENTRY_HEADER *HeaderOf(const std::vector<UINT8> &Entry) {
  return reinterpret_cast<const ACPI_DATA_STORAGE_ENTRY_HEADER *>(Entry.data());
}

}  // namespace capture_test
