// Reading a real machine's ACPI dump: the acpidump hex text, table folders, and
// the order and checks that make it a platform's tables.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim/AcpiDump.h"

namespace {

// A table of Length bytes: signature, Length, then a counting pattern.
std::vector<UINT8> MakeTable(const char *Signature, UINT32 Length, UINT8 Seed = 0) {
  std::vector<UINT8> Bytes(Length);
  for (UINT32 Index = 0; Index < Length; Index++) Bytes[Index] = static_cast<UINT8>(Seed + Index);
  memcpy(Bytes.data(), Signature, 4);
  if (Length >= 8) memcpy(Bytes.data() + 4, &Length, 4);
  return Bytes;
}

// The text acpidump prints for one table.
std::string HexDump(const std::string &Header, const std::vector<UINT8> &Bytes) {
  std::string Text = Header + "\n";
  for (size_t Offset = 0; Offset < Bytes.size(); Offset += 16) {
    char Line[128];
    int Used = snprintf(Line, sizeof(Line), "    %04zX:", Offset);
    std::string Ascii;
    for (size_t Index = Offset; Index < Offset + 16 && Index < Bytes.size(); Index++) {
      Used += snprintf(Line + Used, sizeof(Line) - Used, " %02X", Bytes[Index]);
      Ascii += (Bytes[Index] >= 0x20 && Bytes[Index] < 0x7F) ? static_cast<char>(Bytes[Index]) : '.';
    }
    Text += std::string(Line) + std::string(2 + 3 * (16 - Ascii.size()), ' ') + Ascii + "\n";
  }
  return Text + "\n";
}

std::string Dump(const std::vector<std::pair<std::string, std::vector<UINT8>>> &Tables) {
  std::string Text;
  for (const auto &Table : Tables) Text += HexDump(Table.first + " @ 0x0000000000000000", Table.second);
  return Text;
}

TEST(AcpiDumpText, TablesComeBackByteForByteInFileOrder) {
  // ASCII columns full of hex-looking characters must not be taken for bytes.
  std::vector<UINT8> Ssdt = MakeTable("SSDT", 70, 0x30);
  std::vector<UINT8> Facs = MakeTable("FACS", 64);
  std::vector<sim::DumpTable> Tables;
  std::string Error;
  ASSERT_TRUE(sim::ParseAcpiDumpText(Dump({{"SSDT", Ssdt}, {"FACS", Facs}}), &Tables, &Error)) << Error;
  ASSERT_EQ(Tables.size(), 2u);
  EXPECT_EQ(Tables[0].Signature, "SSDT");
  EXPECT_EQ(Tables[0].Bytes, Ssdt);
  EXPECT_EQ(Tables[0].Origin, "line 1");
  EXPECT_EQ(Tables[1].Signature, "FACS");
  EXPECT_EQ(Tables[1].Bytes, Facs);
}

TEST(AcpiDumpText, AddressesAndCarriageReturnsAreRead) {
  std::string Text = HexDump("DSDT @ 0x00000000BCF9E000", MakeTable("DSDT", 36));
  std::string WithCr;
  for (char Character : Text) WithCr += Character == '\n' ? std::string("\r\n") : std::string(1, Character);
  std::vector<sim::DumpTable> Tables;
  std::string Error;
  ASSERT_TRUE(sim::ParseAcpiDumpText(WithCr, &Tables, &Error)) << Error;
  ASSERT_EQ(Tables.size(), 1u);
  EXPECT_EQ(Tables[0].Address, 0xBCF9E000u);
  EXPECT_EQ(Tables[0].Bytes.size(), 36u);
}

struct BadDump {
  const char *Name;
  std::string Text;
  std::string Message;
};

class AcpiDumpBadText : public testing::TestWithParam<BadDump> {};

TEST_P(AcpiDumpBadText, IsRefusedNamingTheTable) {
  std::vector<sim::DumpTable> Tables;
  std::string Error;
  EXPECT_FALSE(sim::ParseAcpiDumpText(GetParam().Text, &Tables, &Error));
  EXPECT_EQ(Error, GetParam().Message);
}

std::string Truncated() {
  std::string Text = Dump({{"APIC", MakeTable("APIC", 60)}});
  return Text.substr(0, Text.find("    0030:"));
}

std::string LengthTooShort() {
  std::vector<UINT8> Table = MakeTable("HPET", 56);
  UINT32 Length = 40;
  memcpy(Table.data() + 4, &Length, 4);
  return Dump({{"HPET", Table}});
}

std::string OutOfSequence() {
  std::string Text = Dump({{"MCFG", MakeTable("MCFG", 60)}});
  size_t At = Text.find("    0010:");
  return Text.replace(At, 9, "    0020:");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcpiDumpBadText,
    testing::Values(BadDump{"Truncated", Truncated(), "APIC (line 1): truncated, 48 of its 60 bytes"},
                    BadDump{"LengthDisagrees", LengthTooShort(),
                            "HPET (line 1): its Length 40 disagrees with its 56 bytes"},
                    BadDump{"OutOfSequence", OutOfSequence(),
                            "MCFG (line 1): line 3 is at offset 32 where 16 was due"},
                    BadDump{"OtherSignature", Dump({{"SSDT", MakeTable("DSDT", 40)}}),
                            "SSDT (line 1): its bytes begin with another signature"},
                    BadDump{"TooShortForHeader", "FACP @ 0x0\n    0000: 46 41 43 50  FACP\n",
                            "FACP (line 1): only 4 bytes, too few for a header"},
                    BadDump{"GarbageLine", "DSDT @ 0x0\n    0000: 44 53 44 54\nnot hex\n",
                            "DSDT (line 1): line 3 is not a hex dump line"},
                    BadDump{"Empty", "nothing here\n", "no \"SIG @ 0xADDRESS\" table in the dump"}),
    [](const testing::TestParamInfo<BadDump> &Info) { return Info.param.Name; });

std::vector<sim::DumpTable> Parsed(const std::vector<std::pair<std::string, std::vector<UINT8>>> &Tables) {
  std::vector<sim::DumpTable> Out;
  std::string Error;
  EXPECT_TRUE(sim::ParseAcpiDumpText(Dump(Tables), &Out, &Error)) << Error;
  return Out;
}

std::vector<std::string> Signatures(const std::vector<sim::DumpTable> &Tables) {
  std::vector<std::string> Out;
  for (const sim::DumpTable &Table : Tables) Out.push_back(Table.Signature);
  return Out;
}

TEST(ArrangeDumpTables, FadtFirstThenFacsDsdtThenDumpOrder) {
  std::vector<sim::DumpTable> Arranged;
  std::vector<std::string> Notes;
  std::string Error;
  ASSERT_TRUE(sim::ArrangeDumpTables(Parsed({{"SSDT", MakeTable("SSDT", 40)},
                                             {"DSDT", MakeTable("DSDT", 40)},
                                             {"APIC", MakeTable("APIC", 44)},
                                             {"FACP", MakeTable("FACP", 244)},
                                             {"FACS", MakeTable("FACS", 64)}}),
                                     &Arranged, &Notes, &Error))
      << Error;
  EXPECT_EQ(Signatures(Arranged), (std::vector<std::string>{"FACP", "FACS", "DSDT", "SSDT", "APIC"}));
  ASSERT_EQ(Notes.size(), 1u);
  EXPECT_EQ(Notes[0],
            "XSDT order: the dump's order (it has no XSDT whose entries name its tables), FADT first");
}

TEST(ArrangeDumpTables, AnXsdtNamingTheTablesGivesTheOrderAndIsLeftOut) {
  std::vector<UINT8> Xsdt = MakeTable("XSDT", 36 + 3 * 8);
  UINT64 Entries[3] = {0x1000, 0x3000, 0x2000};
  memcpy(Xsdt.data() + 36, Entries, sizeof(Entries));
  std::string Text = HexDump("XSDT @ 0x500", Xsdt) + HexDump("APIC @ 0x2000", MakeTable("APIC", 44)) +
                     HexDump("HPET @ 0x3000", MakeTable("HPET", 56)) +
                     HexDump("FACP @ 0x1000", MakeTable("FACP", 276)) +
                     HexDump("DSDT @ 0x4000", MakeTable("DSDT", 36));
  std::vector<sim::DumpTable> Tables, Arranged;
  std::vector<std::string> Notes;
  std::string Error;
  ASSERT_TRUE(sim::ParseAcpiDumpText(Text, &Tables, &Error)) << Error;
  ASSERT_TRUE(sim::ArrangeDumpTables(Tables, &Arranged, &Notes, &Error)) << Error;
  EXPECT_EQ(Signatures(Arranged), (std::vector<std::string>{"FACP", "DSDT", "HPET", "APIC"}));
  EXPECT_EQ(Notes[0], "XSDT order: the dump's XSDT (line 1)");
}

TEST(ArrangeDumpTables, RefusesWhatAPlatformCannotPublish) {
  struct Case {
    std::vector<std::pair<std::string, std::vector<UINT8>>> Tables;
    std::string Message;
  };
  const std::vector<Case> Cases = {
      {{{"FACP", MakeTable("FACP", 244)}, {"DSDT", MakeTable("DSDT", 36)}, {"FACP", MakeTable("FACP", 244)}},
       "two FACP tables (line 1 and line 24): a platform has one"},
      {{{"FACP", MakeTable("FACP", 244)}, {"DSDT", MakeTable("DSDT", 36)}, {"DSDT", MakeTable("DSDT", 40)}},
       "two DSDT tables (line 19 and line 24): a platform has one"},
      {{{"FACS", MakeTable("FACS", 64)},
        {"FACP", MakeTable("FACP", 244)},
        {"DSDT", MakeTable("DSDT", 36)},
        {"FACS", MakeTable("FACS", 64)}},
       "two FACS tables (line 1 and line 30): a platform has one"},
      {{{"DSDT", MakeTable("DSDT", 36)}}, "the dump has no FACP (FADT)"},
      {{{"FACP", MakeTable("FACP", 244)}}, "the dump has no DSDT"},
      {{{"FACP", MakeTable("FACP", 244)}, {"DSDT", MakeTable("DSDT", 36)}, {"BOOT", MakeTable("BOOT", 20)}},
       "BOOT (line 24): 20 bytes, shorter than a table header"},
  };
  for (const Case &Each : Cases) {
    std::vector<sim::DumpTable> Arranged;
    std::vector<std::string> Notes;
    std::string Error;
    EXPECT_FALSE(sim::ArrangeDumpTables(Parsed(Each.Tables), &Arranged, &Notes, &Error));
    EXPECT_EQ(Error, Each.Message);
  }
}

TEST(PresentFadtAs63, OlderFadtKeepsItsFieldsAndGainsTheNewOnes) {
  std::vector<UINT8> Fadt = MakeTable("FACP", 244);
  Fadt[8] = 3;
  std::vector<UINT8> Original = Fadt;
  ASSERT_TRUE(sim::PresentFadtAs63(&Fadt));
  ASSERT_EQ(Fadt.size(), 276u);
  EXPECT_EQ(Fadt[8], 6);
  EXPECT_EQ(Fadt[131], 3);
  UINT32 Length = 0;
  memcpy(&Length, Fadt.data() + 4, 4);
  EXPECT_EQ(Length, 276u);
  for (size_t Offset = 10; Offset < 244; Offset++)
    if (Offset != 131) EXPECT_EQ(Fadt[Offset], Original[Offset]) << "offset " << Offset;
  for (size_t Offset = 244; Offset < 276; Offset++) EXPECT_EQ(Fadt[Offset], 0) << "offset " << Offset;
  UINT8 Sum = 0;
  for (UINT8 Byte : Fadt) Sum = static_cast<UINT8>(Sum + Byte);
  EXPECT_EQ(Sum, 0);
  EXPECT_FALSE(sim::PresentFadtAs63(&Fadt));
}

class AcpiTableFolder : public testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/zephrin-dump-folder-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
  }
  void TearDown() override { (void)system(("rm -rf " + Dir).c_str()); }
  void Write(const std::string &Name, const std::vector<UINT8> &Bytes) {
    std::ofstream(Dir + "/" + Name, std::ios::binary)
        .write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  }
  std::string Dir;
};

TEST_F(AcpiTableFolder, DatFilesAndSysfsNamesInNaturalOrder) {
  Write("ssdt10.dat", MakeTable("SSDT", 40, 10));
  Write("ssdt2.dat", MakeTable("SSDT", 40, 2));
  Write("DSDT", MakeTable("DSDT", 36));
  Write("notes.txt", {1, 2, 3});
  mkdir((Dir + "/dynamic").c_str(), 0755);
  std::vector<sim::DumpTable> Tables;
  std::string Error;
  ASSERT_TRUE(sim::ReadAcpiTableFolder(Dir, &Tables, &Error)) << Error;
  ASSERT_EQ(Tables.size(), 3u);
  EXPECT_EQ(Tables[0].Origin, "DSDT");
  EXPECT_EQ(Tables[1].Origin, "ssdt2.dat");
  EXPECT_EQ(Tables[2].Origin, "ssdt10.dat");
  EXPECT_EQ(Tables[2].Bytes, MakeTable("SSDT", 40, 10));
}

TEST_F(AcpiTableFolder, AFileShorterThanItsTableIsNamed) {
  std::vector<UINT8> Table = MakeTable("APIC", 60);
  Table.resize(50);
  Write("apic.dat", Table);
  std::vector<sim::DumpTable> Tables;
  std::string Error;
  EXPECT_FALSE(sim::ReadAcpiTableFolder(Dir, &Tables, &Error));
  EXPECT_EQ(Error, Dir + ": APIC (apic.dat): truncated, 50 of its 60 bytes");
}

}  // namespace
