#include "tools/sample-platform/SamplePlatform.h"

#include <fstream>
#include <sstream>

#include "acpi_dxe/core/DxeServices.h"
#include "product_data/ProductData.h"
#include "sim/AcpiRegions.h"
#include "sim/AcpiTables.h"
#include "sim/ProductDataImage.h"
#include "tools/acpi-meta/MetaBuilder.h"

namespace sample {

namespace {

#ifndef ZEPHRIN_SAMPLE_TABLE_DIR
#define ZEPHRIN_SAMPLE_TABLE_DIR ""
#endif
#ifndef ZEPHRIN_SAMPLE_DESCRIPTION
#define ZEPHRIN_SAMPLE_DESCRIPTION ""
#endif

// XSDT order of a typical board: FADT first (it brings FACS and DSDT along),
// then the data tables, then the SSDTs.
const char *const kTableNames[] = {"facp", "facs", "dsdt", "apic", "mcfg", "hpet", "ssdt_nvs", "ssdt_nonnvs"};

// DataId under which the meta data item is published and selected.
constexpr UINT32 kMetaDataId = 1;

bool ReadText(const std::string &Path, std::string *Text) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  std::stringstream Buffer;
  Buffer << In.rdbuf();
  *Text = Buffer.str();
  return true;
}

}  // namespace

std::string SampleDescriptionPath() {
  return ZEPHRIN_SAMPLE_DESCRIPTION;
}

bool SamplePlatform::Load(std::string *Error, const std::string &TableDir, const std::string &Description) {
  const std::string Dir = TableDir.empty() ? ZEPHRIN_SAMPLE_TABLE_DIR : TableDir;
  const std::string DescriptionPath = Description.empty() ? ZEPHRIN_SAMPLE_DESCRIPTION : Description;
  mTables.clear();
  for (const char *Name : kTableNames) {
    std::vector<UINT8> Bytes = sim::ReadBinaryFile(Dir + "/" + Name + ".aml");
    if (Bytes.empty()) {
      *Error = "cannot read " + Dir + "/" + Name + ".aml (are the fixtures built? iasl is needed)";
      return false;
    }
    mTables.push_back({Name, std::move(Bytes)});
  }

  std::string Text;
  if (!ReadText(DescriptionPath, &Text)) {
    *Error = "cannot read " + DescriptionPath;
    return false;
  }
  acpi_meta::Description Desc;
  if (!acpi_meta::ParseDescription(Text, &Desc, Error)) {
    *Error = DescriptionPath + ": " + *Error;
    return false;
  }
  if (!acpi_meta::BuildMetaData(Desc, Dir, &mMetaData, Error)) {
    *Error = DescriptionPath + ": " + *Error;
    return false;
  }
  return true;
}

std::vector<UINT8> *SamplePlatform::MutableTable(const std::string &Name) {
  for (SampleTable &Table : mTables) {
    if (Table.Name == Name) return &Table.Bytes;
  }
  return nullptr;
}

void PublishMetaData(sim::Platform &Platform, const std::vector<UINT8> &MetaData, bool CustomPath) {
  sim::ProductDataItem Item;
  Item.ItemId = ACPI_META_DATA_ITEM_ID;
  Item.DataId = kMetaDataId;
  Item.Data = MetaData;
  sim::HobListBuilder Hobs;
  Hobs.AddGuidHob(gProductDataHobGuid, sim::BuildProductDataContainer({Item}));
  Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({kMetaDataId}));
  if (CustomPath) Hobs.AddGuidHob(gCustomPathHobGuid, std::vector<UINT8>{});
  Platform.PublishHobList(Hobs);
}

bool PublishAcpiTables(sim::Platform &Platform, const std::vector<std::vector<UINT8>> &Tables,
                       std::string *Error) {
  if (!EFI_ERROR(Platform.Acpi().InstallPlatformTables(Tables))) return true;
  *Error = "the platform refused its own ACPI tables";
  return false;
}

bool SamplePlatform::Install(sim::Platform &Platform, bool CustomPath, std::string *Error) const {
  PublishMetaData(Platform, mMetaData, CustomPath);

  if (!sim::MapSampleAcpiRegions()) {
    *Error = "the NVS window at 0x7F000000 is taken in this process";
    return false;
  }
  std::vector<std::vector<UINT8>> Tables;
  for (const SampleTable &Table : mTables) Tables.push_back(Table.Bytes);
  return PublishAcpiTables(Platform, Tables, Error);
}

}  // namespace sample
