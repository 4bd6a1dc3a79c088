// The replay verification and the fit report, on hand-made tables and streams.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/zephrin-demo/FitReport.h"
#include "tools/zephrin-demo/ReplayCheck.h"

namespace {

constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');

// A DSDT of 64 bytes with, at 40, a DefOpRegion's DWord address and Word
// length (0x0C ... 0x0B ...), and two Byte integers at 50 and 56.
std::vector<UINT8> MakeDsdt() {
  std::vector<UINT8> Table(64, 0x5A);
  memcpy(Table.data(), "DSDT", 4);
  UINT32 Length = 64;
  memcpy(Table.data() + 4, &Length, 4);
  memcpy(Table.data() + 16, "BOARDTBL", 8);
  const UINT8 Region[] = {0x0C, 0x90, 0x8A, 0xD2, 0x8A, 0x0B, 0x82, 0x02};
  memcpy(Table.data() + 40, Region, sizeof(Region));
  Table[50] = 0x0A;
  Table[51] = 0x11;
  Table[56] = 0x0A;
  Table[57] = 0x22;
  return Table;
}

sample::MetaElement Element(UINT32 SubType, UINT32 NvsType, UINT32 ValueOffset, UINT8 Prefix,
                            UINT32 IntegerType = 0) {
  sample::MetaElement Each;
  Each.Signature = kDsdt;
  Each.SubType = SubType;
  Each.NvsType = NvsType;
  Each.IntegerType = IntegerType;
  Each.First.Path = SubType == 5 ? "\\GNVS" : "\\IBYT";
  Each.First.ValueOffset = ValueOffset;
  Each.First.Prefix = Prefix;
  return Each;
}

sample::MetaRecords DsdtRecords() {
  sample::MetaRecords Records;
  Records.Elements.push_back(Element(5, 1, 41, 0x0C));
  Records.Elements.push_back(Element(7, 0, 51, 0x0A, 1));
  Records.Elements.push_back(Element(7, 0, 57, 0x0A, 2));  // not stored: must stay
  return Records;
}

struct ReplayCase {
  const char *Name;
  std::vector<std::pair<size_t, UINT8>> Changes;  // offset, new byte, in the installed DSDT
  long long Offset;                               // expected first difference, -1: match
};

class ReplayOfDsdt : public testing::TestWithParam<ReplayCase> {};

TEST_P(ReplayOfDsdt, OnlyPatchedFieldsMayDiffer) {
  std::vector<UINT8> Installed = MakeDsdt();
  for (const auto &Change : GetParam().Changes) Installed[Change.first] = Change.second;
  demo::VerifyResult Result = demo::VerifyReplay({demo::MakeTableImage(MakeDsdt())},
                                                 {demo::MakeTableImage(Installed)}, DsdtRecords());
  EXPECT_EQ(Result.Tables, 1u);
  if (GetParam().Offset < 0) {
    EXPECT_EQ(Result.Matching, 1u);
    EXPECT_TRUE(Result.Differing.empty());
  } else {
    ASSERT_EQ(Result.Differing.size(), 1u);
    EXPECT_EQ(Result.Differing[0].Offset, GetParam().Offset);
    EXPECT_EQ(Result.Differing[0].What, "bytes differ");
    EXPECT_EQ(Result.Differing[0].Signature, kDsdt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplayOfDsdt,
    testing::Values(
        ReplayCase{"Identical", {}, -1},
        ReplayCase{
            "RegionMovedAndIntegerPatched",
            {{41, 0x00}, {42, 0x30}, {43, 0x41}, {44, 0x00}, {46, 0x00}, {47, 0x10}, {51, 0x99}, {9, 0x7}},
            -1},
        ReplayCase{"ByteOutsideThePatches", {{41, 0}, {30, 0}}, 30},
        ReplayCase{"PrefixOfTheAddressChanged", {{40, 0x0E}}, 40},
        ReplayCase{"LengthPrefixChanged", {{45, 0x0C}}, 45},
        ReplayCase{"NotStoredIntegerChanged", {{57, 0x23}}, 57}),
    [](const testing::TestParamInfo<ReplayCase> &Info) { return Info.param.Name; });

TEST(ReplayCheck, LengthsAndMissingTablesAreReported) {
  std::vector<UINT8> Longer = MakeDsdt();
  Longer.push_back(0);
  std::vector<UINT8> Ssdt = MakeDsdt();
  memcpy(Ssdt.data(), "SSDT", 4);
  demo::VerifyResult Result = demo::VerifyReplay(
      {demo::MakeTableImage(MakeDsdt())}, {demo::MakeTableImage(Longer), demo::MakeTableImage(Ssdt)}, {});
  EXPECT_EQ(Result.Tables, 2u);
  EXPECT_EQ(Result.Matching, 0u);
  ASSERT_EQ(Result.Differing.size(), 2u);
  EXPECT_EQ(Result.Differing[0].Offset, 64);
  EXPECT_EQ(Result.Differing[0].What, "lengths differ (64 captured, 65 installed)");
  EXPECT_EQ(Result.Differing[1].Signature, kSsdt);
  EXPECT_EQ(Result.Differing[1].Offset, -1);
  EXPECT_EQ(Result.Differing[1].What, "no such table was captured");
}

TEST(ReplayCheck, TablesSharingSignatureAndIdPairInOrder) {
  std::vector<UINT8> First = MakeDsdt(), Second = MakeDsdt();
  memcpy(First.data(), "SSDT", 4);
  memcpy(Second.data(), "SSDT", 4);
  Second[30] = 0x77;
  demo::VerifyResult Same =
      demo::VerifyReplay({demo::MakeTableImage(First), demo::MakeTableImage(Second)},
                         {demo::MakeTableImage(First), demo::MakeTableImage(Second)}, {});
  EXPECT_EQ(Same.Matching, 2u);
  demo::VerifyResult Swapped =
      demo::VerifyReplay({demo::MakeTableImage(First), demo::MakeTableImage(Second)},
                         {demo::MakeTableImage(Second), demo::MakeTableImage(First)}, {});
  EXPECT_EQ(Swapped.Matching, 0u);
  ASSERT_EQ(Swapped.Differing.size(), 2u);
  EXPECT_EQ(Swapped.Differing[0].Offset, 30);
}

TEST(ReplayCheck, TheFacsHasNoChecksumToExclude) {
  std::vector<UINT8> Facs(64, 0);
  memcpy(Facs.data(), "FACS", 4);
  Facs[4] = 64;
  std::vector<UINT8> Installed = Facs;
  Installed[9] = 1;
  demo::VerifyResult Result =
      demo::VerifyReplay({demo::MakeTableImage(Facs)}, {demo::MakeTableImage(Installed)}, {});
  ASSERT_EQ(Result.Differing.size(), 1u);
  EXPECT_EQ(Result.Differing[0].Offset, 9);
}

TEST(ReplayCheck, PatchedValuesReadBackBeforeAndAfter) {
  std::vector<UINT8> Installed = MakeDsdt();
  const UINT8 Moved[] = {0x00, 0x20, 0x41, 0x00};
  memcpy(Installed.data() + 41, Moved, sizeof(Moved));
  Installed[51] = 0x99;
  std::vector<demo::PatchedValue> Values = demo::ReadPatchedValues(
      {demo::MakeTableImage(MakeDsdt())}, {demo::MakeTableImage(Installed)}, DsdtRecords());
  ASSERT_EQ(Values.size(), 2u);  // the not-stored integer is not listed
  EXPECT_TRUE(Values[0].IsRegion);
  EXPECT_EQ(Values[0].Table, "DSDT");
  EXPECT_EQ(Values[0].Path, "\\GNVS");
  EXPECT_EQ(Values[0].Before, 0x8AD28A90u);
  EXPECT_EQ(Values[0].After, 0x00412000u);
  EXPECT_EQ(Values[0].LengthBefore, 0x282u);
  EXPECT_EQ(Values[0].LengthAfter, 0x282u);
  EXPECT_FALSE(Values[1].IsRegion);
  EXPECT_EQ(Values[1].Before, 0x11u);
  EXPECT_EQ(Values[1].After, 0x99u);
}

// Stream entries: a payload whose header names the table kind, of a size.
demo::FitEntry Entry(const std::string &Table, bool Removable, size_t Bytes) {
  demo::FitEntry Each;
  Each.Table = Table;
  Each.MetaName = Table.substr(0, Table.find('#'));
  Each.Removable = Removable;
  Each.Payload.assign(Bytes - 16, 0);
  return Each;
}

// Compression halves the stream: sizes stay easy to reason about.
UINT32 Halve(const std::vector<UINT8> &Stream) {
  return static_cast<UINT32>(Stream.size() / 2);
}

std::vector<demo::FitEntry> Stream() {
  return {Entry("FACP", false, 400),
          Entry("DSDT", false, 100),
          Entry("VFCT", true, 20000),
          Entry("SSDT:AmdTable", true, 9000),
          Entry("SSDT:AmdTable#2", true, 3000),
          Entry("APIC", true, 500)};
}

TEST(FitReport, AStreamThatFitsNeedsNothingLeftOut) {
  demo::FitReport Report = demo::BuildFitReport(Stream(), 0x8400, 60, Halve);
  EXPECT_TRUE(Report.Fits());
  EXPECT_EQ(Report.StreamBytes, 33000u);
  EXPECT_EQ(Report.CompressedBytes, 16500u);
  EXPECT_EQ(Report.VariableRoom, 0x8400u - 60);
  EXPECT_TRUE(Report.LeaveOut.empty());
  ASSERT_EQ(Report.Shares.size(), 6u);
  EXPECT_EQ(Report.Shares[2].Table, "VFCT");
  EXPECT_EQ(Report.Shares[2].Bytes, 20000u);
  std::vector<std::string> Lines = Report.Lines();
  EXPECT_EQ(Lines[0], "stream 33000 bytes of MAX_CACHE_SIZE 0x40000: fits");
  EXPECT_EQ(Lines[1], "compressed 16500 bytes of 33732 a variable of 0x8400 can hold: fits");
}

TEST(FitReport, TheFewestTablesAreProposedAsMetaLines) {
  // Room for 6000 compressed bytes: the stream must shrink to 12000 bytes.
  demo::FitReport Report = demo::BuildFitReport(Stream(), 6060, 60, Halve);
  EXPECT_FALSE(Report.Fits());
  // Leaving out the VFCT and both SSDTs with that id (one record names both)
  // is the only two-table answer; the APIC need not go.
  EXPECT_EQ(Report.LeaveOut, (std::vector<std::string>{"VFCT", "SSDT:AmdTable"}));
  EXPECT_EQ(Report.StreamAfter, 1000u);
  std::vector<std::string> Lines = Report.Lines();
  std::vector<std::string> Tail(Lines.end() - 4, Lines.end());
  EXPECT_EQ(Tail[0],
            "to fit, leave these out of the cache (stream 1000, compressed 500 bytes); paste into the meta "
            "description:");
  EXPECT_EQ(Tail[1], "  table VFCT not-stored");
  EXPECT_EQ(Tail[2], "  table SSDT:AmdTable not-stored");
}

TEST(FitReport, OneLargeTableIsEnoughWhenItIs) {
  demo::FitReport Report = demo::BuildFitReport(Stream(), 8000, 60, Halve);
  EXPECT_EQ(Report.LeaveOut, (std::vector<std::string>{"VFCT"}));
  EXPECT_EQ(Report.StreamAfter, 13000u);
}

TEST(FitReport, NothingToLeaveOutIsSaidPlainly) {
  demo::FitReport Report =
      demo::BuildFitReport({Entry("FACP", false, 400), Entry("DSDT", false, 30000)}, 0x400, 60, Halve);
  EXPECT_FALSE(Report.Solvable);
  EXPECT_EQ(Report.Lines().back(), "leaving every table but the FADT, FACS and DSDT out would still not fit");
}

}  // namespace
