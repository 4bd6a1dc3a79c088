// The cache a custom-path boot of the driver stored on the sample platform, as a
// Linux user would hand it to the program (efivarfs form, its real attributes):
// every entry in capture order (the platform's XSDT lists APIC, MCFG and HPET
// before the SSDTs) with the regions and values the ASL declares, and
// the extracted tables byte for byte the compiled ones (iasl -d accepts each).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/inspect/InspectTestSupport.h"
#include "tests/inspect/InspectorBoots.h"

namespace {

using namespace inspect_test;

class BootedCache : public InspectorBoots {
 protected:
  // Boots once and writes the stored variable as efivarfs shows it.
  std::string BootAndSaveCache() {
    const sim::BootResult Result = Boot();
    EXPECT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
    Bytes Data;
    UINT32 Attributes = 0;
    EXPECT_TRUE(ReadCache(&Data, &Attributes));
    const std::string Path = Dir + "/AcpiDataCache-79660e97-514b-4cfc-873f-02b3ab00c086";
    EXPECT_TRUE(WriteHostFile(Path, WithPrefix(Attributes, Data)));
    return Path;
  }
  const Bytes &Compiled(const std::string &Name) {
    for (const sample::SampleTable &Table : Sample.Tables()) {
      if (Table.Name == Name) return Table.Bytes;
    }
    ADD_FAILURE() << "no sample table " << Name;
    return Empty;
  }

  Bytes Empty;
};

struct EntryRow {
  const char *Head;    // type, sub-type and signature, as listed
  const char *Detail;  // a part of the line the ASL or the meta data decides
};

TEST_F(BootedCache, ListsTheCaptureInOrderAndExtractsItsTables) {
  const std::string Cache = BootAndSaveCache();
  const ToolRun Run = RunInspector({"--extract", Dir + "/tables", Cache});
  ASSERT_EQ(Run.Exit, 0) << Run.Stderr;
  const std::vector<std::string> Lines = SplitLines(Run.Stdout);
  const EntryRow Rows[] = {
      {"type FADT, sub-type Table, signature FACP", "OEM table id \"ZPFADT  \", length 308"},
      {"type FACS, sub-type Table, signature FACS", "length 96"},
      {"type DSDT, sub-type Table, signature DSDT", "OEM table id \"ZPDSDT  \""},
      {"type DSDT, sub-type NVS, signature DSDT", "NVS type Default, region \\GNVS, NVS length 0x100"},
      {"type DSDT, sub-type NVS, signature DSDT",
       "NVS type Type2, parent region \\GNVS, address field mode 2 size 3 offset 0x10, length field mode 2 "
       "size 2 "
       "offset 0x14, NVS length 0x40"},
      {"type DSDT, sub-type NVS, signature DSDT", "NVS type Default, region \\BNVS, NVS length 0x20"},
      {"type DSDT, sub-type Integer, signature DSDT", "integer \\IBYT = 0x5a (integer type 3)"},
      {"type DSDT, sub-type Integer, signature DSDT", "integer \\IWRD = 0x1234 (integer type 3)"},
      {"type DSDT, sub-type Integer, signature DSDT",
       "integer \\IDWD = 0x12345678 (integer type 3), variable \"PlatformIdDword\" "
       "8C1E5B7A-4D2F-4A61-9E3B-2F6D0C4B1A77 attributes 0x7"},
      {"type DataTable, sub-type Table, signature APIC", "OEM table id \"ZPAPIC  \""},
      {"type DataTable, sub-type Table, signature MCFG", "OEM table id \"ZPMCFG  \""},
      {"type SSDT, sub-type Table, signature SSDT", "OEM table id \"ZPNVSTBL\""},
      {"type SSDT, sub-type NVS, signature SSDT", "NVS type Default, region \\SNV0, NVS length 0x80"},
      {"type SSDT, sub-type NVS, signature SSDT",
       "NVS type Type1, address \\SNVA, length \\SNVL, NVS length 0x100"},
      {"type SSDT, sub-type Table, signature SSDT", "OEM table id \"ZPNONNVS\""},
      {"type SSDT, sub-type NON-NVS, signature SSDT",
       "NVS type Type2, parent region \\_SB.SCRA.PNVS, address field mode 2 size 3 offset 0x0, length field "
       "mode 2 "
       "size 3 offset 0x4, NVS length 0x30"},
  };
  const size_t Count = sizeof(Rows) / sizeof(Rows[0]);
  ASSERT_EQ(Lines.size(), 1 + Count + 7) << Run.Stdout;
  EXPECT_EQ(Lines[0].rfind("AcpiDataCache: efivarfs form, attributes 0x00000003 (NV+BS), ", 0), 0u)
      << Lines[0];
  EXPECT_NE(Lines[0].find(", 16 entries"), std::string::npos) << Lines[0];
  for (size_t Index = 0; Index < Count; Index++) {
    const std::string &Line = Lines[1 + Index];
    const std::string Prefix = "entry " + std::to_string(Index) + " @0x";
    EXPECT_EQ(Line.rfind(Prefix, 0), 0u) << Line;
    EXPECT_NE(Line.find(std::string(": ") + Rows[Index].Head + ","), std::string::npos) << Line;
    EXPECT_NE(Line.find(Rows[Index].Detail), std::string::npos) << Line;
  }
  // Tables the platform installs unchanged come back byte for byte; the FADT
  // (linked to FACS and DSDT by the platform) and the FACS by name and size.
  const std::string Tables = Dir + "/tables/";
  EXPECT_TRUE(ReadHostFileOrEmpty(Tables + "02-DSDT.dat") == Compiled("dsdt"));
  EXPECT_TRUE(ReadHostFileOrEmpty(Tables + "11-SSDT.dat") == Compiled("ssdt_nvs"));
  EXPECT_TRUE(ReadHostFileOrEmpty(Tables + "14-SSDT.dat") == Compiled("ssdt_nonnvs"));
  EXPECT_TRUE(ReadHostFileOrEmpty(Tables + "09-APIC.dat") == Compiled("apic"));
  EXPECT_TRUE(ReadHostFileOrEmpty(Tables + "10-MCFG.dat") == Compiled("mcfg"));
  EXPECT_EQ(ReadHostFileOrEmpty(Tables + "00-FACP.dat").size(), 276u);
  EXPECT_EQ(ReadHostFileOrEmpty(Tables + "01-FACS.dat").size(), 64u);
  if (!capture_test::ToolAvailable("iasl")) GTEST_SKIP() << "iasl not installed";
  for (const char *Name : {"00-FACP", "01-FACS", "02-DSDT", "09-APIC", "10-MCFG", "11-SSDT", "14-SSDT"}) {
    EXPECT_TRUE(capture_test::IaslDisassembles(Tables + Name + ".dat")) << Name;
  }
}

}  // namespace
