// The sample platform a demo or an end-to-end test boots the driver on: the
// compiled fixture tables (FADT, FACS, DSDT, two SSDTs, APIC, MCFG, HPET) in an
// XSDT, the memory behind their NVS regions, and product data carrying the ACPI
// meta data compiled from tests/fixtures/acpi/platform.meta.
#ifndef ZEPHRIN_TOOLS_SAMPLE_PLATFORM_SAMPLE_PLATFORM_H_
#define ZEPHRIN_TOOLS_SAMPLE_PLATFORM_SAMPLE_PLATFORM_H_

#include <string>
#include <vector>

#include "sim/Platform.h"

namespace sample {

struct SampleTable {
  std::string Name;  // file name without .aml
  std::vector<UINT8> Bytes;
};

// Publishes the HOB list a board hands the driver: product data carrying the
// meta data, the Product Data Info HOB selecting it and, for a custom-path
// boot, the custom-path HOB.
void PublishMetaData(sim::Platform &Platform, const std::vector<UINT8> &MetaData, bool CustomPath);

// Publishes a board's own ACPI tables, in XSDT order, as its firmware does
// before the driver runs. False with *Error when the platform refuses them.
bool PublishAcpiTables(sim::Platform &Platform, const std::vector<std::vector<UINT8>> &Tables,
                       std::string *Error);

// The sample's meta data description, as this build found it.
std::string SampleDescriptionPath();

class SamplePlatform {
 public:
  // Reads the compiled tables and compiles the meta data description. Empty
  // arguments take the ones this build produced. False with *Error on failure.
  bool Load(std::string *Error, const std::string &TableDir = "", const std::string &Description = "");

  // Publishes the platform on a boot: the HOB list (product data with the meta
  // data, the Product Data Info HOB and, for a custom-path boot, the
  // custom-path HOB), the ACPI tables in XSDT order and the NVS regions' memory.
  // False with *Error when the platform refused something.
  bool Install(sim::Platform &Platform, bool CustomPath, std::string *Error) const;

  const std::vector<SampleTable> &Tables() const { return mTables; }
  std::vector<UINT8> *MutableTable(const std::string &Name);
  const std::vector<UINT8> &MetaData() const { return mMetaData; }

 private:
  std::vector<SampleTable> mTables;  // in the order the platform installs them
  std::vector<UINT8> mMetaData;
};

}  // namespace sample

#endif  // ZEPHRIN_TOOLS_SAMPLE_PLATFORM_SAMPLE_PLATFORM_H_
