// The XSDT iterator over hand-built RSDPs and XSDTs in host memory, its debug dump,
// and the NVS hex dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "acpi_dxe/capture/XsdtWalk.h"
#include "tests/capture/CaptureTestSupport.h"
#include "uefi/UefiSpec.h"
#include "tests/support/RowPrinter.h"

namespace {

// An RSDP and an XSDT whose entries point at small dummy tables.
struct AcpiRoot {
  std::vector<UINT8> Rsdp = std::vector<UINT8>(36, 0);
  std::vector<UINT8> Xsdt;
  std::vector<std::vector<UINT8>> Tables;

  // Count entries; the XSDT's Length field says Length (36 + 8 * Count when 0).
  explicit AcpiRoot(UINT32 Count, UINT32 Length = 0, UINT8 Revision = 2) {
    Xsdt.assign(36 + 8 * Count, 0);
    memcpy(Xsdt.data(), "XSDT", 4);
    const UINT32 XsdtLength = Length != 0 ? Length : static_cast<UINT32>(Xsdt.size());
    memcpy(Xsdt.data() + 4, &XsdtLength, 4);
    for (UINT32 Index = 0; Index < Count; Index++) {
      Tables.emplace_back(36, static_cast<UINT8>(Index + 1));
      const UINT64 Address = reinterpret_cast<UINTN>(Tables.back().data());
      memcpy(Xsdt.data() + 36 + 8 * Index, &Address, 8);
    }
    memcpy(Rsdp.data(), "RSD PTR ", 8);
    Rsdp[15] = Revision;
    const UINT64 XsdtAddress = reinterpret_cast<UINTN>(Xsdt.data());
    memcpy(Rsdp.data() + 24, &XsdtAddress, 8);
  }
  EFI_ACPI_DESCRIPTION_HEADER *Entry(UINT32 Index) {
    return reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Tables[Index].data());
  }
  EFI_ACPI_DESCRIPTION_HEADER *XsdtHeader() {
    return reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Xsdt.data());
  }
};

class XsdtWalk : public capture_test::PlatformTest {
 protected:
  void Publish(AcpiRoot &Root) {
    ASSERT_EQ(Platform.InstallConfigurationTable(gEfiAcpi20TableGuid, Root.Rsdp.data()), EFI_SUCCESS);
  }
};

// --- How the walk refuses a root it cannot follow -----------------------------

enum class RootFault { NoRsdp, NullRsdp, RevisionZero, RevisionOne, ZeroXsdtAddress };

struct RootRow {
  const char *Name;
  RootFault Fault;
  EFI_STATUS Status;
  const char *Message;
};
ZEPHRIN_PRINT_ROW_BY_NAME(RootRow)

class XsdtRootFaults : public XsdtWalk, public testing::WithParamInterface<RootRow> {};

TEST_P(XsdtRootFaults, EndTheWalkWithoutATable) {
  const RootRow &Row = GetParam();
  AcpiRoot Root(2);
  if (Row.Fault == RootFault::RevisionZero) Root.Rsdp[15] = 0;
  if (Row.Fault == RootFault::RevisionOne) Root.Rsdp[15] = 1;
  if (Row.Fault == RootFault::ZeroXsdtAddress) memset(Root.Rsdp.data() + 24, 0, 8);
  if (Row.Fault != RootFault::NoRsdp) Publish(Root);
  if (Row.Fault == RootFault::NullRsdp) {
    // A platform that publishes the GUID with no table behind it.
    for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
      if (sim::SameGuid(gST->ConfigurationTable[Index].VendorGuid, gEfiAcpi20TableGuid)) {
        gST->ConfigurationTable[Index].VendorTable = nullptr;
      }
    }
  }
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = Root.XsdtHeader();
  UINT32 Count = 99;
  EXPECT_EQ(GetFirstAcpiTable(&Table, &Xsdt, &Count), Row.Status);
  EXPECT_EQ(Table, nullptr);
  EXPECT_EQ(Xsdt, nullptr);
  EXPECT_EQ(Count, 0u);
  EXPECT_TRUE(Logged(Row.Message, DEBUG_ERROR)) << DebugDump();
}

INSTANTIATE_TEST_SUITE_P(
    Rsdp, XsdtRootFaults,
    testing::Values(RootRow{"NotPublished", RootFault::NoRsdp, EFI_NOT_FOUND,
                            "GetFirstAcpiTable - gEfiAcpi20TableGuid was not found\n"},
                    RootRow{"NullPointer", RootFault::NullRsdp, EFI_NOT_FOUND,
                            "GetFirstAcpiTable - Root System Description Pointer is NULL\n"},
                    RootRow{"RevisionZero", RootFault::RevisionZero, EFI_UNSUPPORTED,
                            "GetFirstAcpiTable - RSDP revisions below 2 are not supported\n"},
                    RootRow{"RevisionOne", RootFault::RevisionOne, EFI_UNSUPPORTED,
                            "GetFirstAcpiTable - RSDP revisions below 2 are not supported\n"},
                    RootRow{"ZeroXsdtAddress", RootFault::ZeroXsdtAddress, EFI_NOT_FOUND,
                            "GetFirstAcpiTable - The XSDT address is zero\n"}),
    [](const testing::TestParamInfo<RootRow> &Info) { return std::string(Info.param.Name); });

// --- Entry counts from the XSDT's Length --------------------------------------

struct CountRow {
  const char *Name;
  UINT32 Length;
  UINT32 Count;
};
ZEPHRIN_PRINT_ROW_BY_NAME(CountRow)

class XsdtCounts : public XsdtWalk, public testing::WithParamInterface<CountRow> {};

TEST_P(XsdtCounts, AreTheWholeEntriesAfterTheHeader) {
  const CountRow &Row = GetParam();
  AcpiRoot Root(2, Row.Length);
  Publish(Root);
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  UINT32 Count = 99;
  ASSERT_EQ(GetFirstAcpiTable(&Table, &Xsdt, &Count), EFI_SUCCESS);
  EXPECT_EQ(Count, Row.Count);
  if (Row.Count == 0) {
    EXPECT_EQ(Table, nullptr);
    EXPECT_EQ(Xsdt, nullptr);
    EXPECT_TRUE(Logged("GetFirstAcpiTable - Empty XSDT tables are not supported\n", DEBUG_ERROR));
  } else {
    EXPECT_EQ(Table, Root.Entry(0));
    EXPECT_EQ(Xsdt, Root.XsdtHeader());
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, XsdtCounts,
                         testing::Values(CountRow{"ShorterThanAHeader", 20, 0}, CountRow{"HeaderOnly", 36, 0},
                                         CountRow{"SevenSpareBytes", 43, 0}, CountRow{"OneEntry", 44, 1},
                                         CountRow{"TwoEntriesAndABit", 55, 2}),
                         [](const testing::TestParamInfo<CountRow> &Info) {
                           return std::string(Info.param.Name);
                         });

TEST_F(XsdtWalk, ParametersAreCheckedBeforeTheConfigurationTable) {
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  UINT32 Count = 0;
  EXPECT_EQ(GetFirstAcpiTable(nullptr, &Xsdt, &Count), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("GetFirstAcpiTable - AcpiTable is NULL\n", DEBUG_ERROR));

  EFI_ACPI_DESCRIPTION_HEADER Dummy{};
  EFI_ACPI_DESCRIPTION_HEADER *Started = &Dummy;
  EXPECT_EQ(GetFirstAcpiTable(&Started, &Xsdt, &Count), EFI_ALREADY_STARTED);
  EXPECT_TRUE(Logged("GetFirstAcpiTable - *AcpiTable != NULL\n", DEBUG_ERROR));
  EXPECT_EQ(Started, &Dummy);

  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EXPECT_EQ(GetFirstAcpiTable(&Table, nullptr, &Count), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("GetFirstAcpiTable - XsdtTablePtr is NULL\n", DEBUG_ERROR));
  EXPECT_EQ(GetFirstAcpiTable(&Table, &Xsdt, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("GetFirstAcpiTable - EntryCount is NULL\n", DEBUG_ERROR));
  // None of these got as far as looking for the RSDP (there is none).
  EXPECT_FALSE(Logged("GetFirstAcpiTable - gEfiAcpi20TableGuid was not found\n"));
}

TEST_F(XsdtWalk, WalksEveryEntryInOrderAndStopsAtTheCount) {
  AcpiRoot Root(3);
  const UINT64 Zero = 0;
  memcpy(Root.Xsdt.data() + 36 + 8, &Zero, 8);  // a zero entry is handed out as it is
  Publish(Root);
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt = nullptr;
  UINT32 Count = 0;
  ASSERT_EQ(GetFirstAcpiTable(&Table, &Xsdt, &Count), EFI_SUCCESS);
  EXPECT_TRUE(Logged("GetFirstAcpiTable - XSDT Entries - 0x00000003\n", DEBUG_INFO)) << DebugDump();

  UINT32 Index = 1;
  ASSERT_EQ(GetNextAcpiTable(&Index, Xsdt, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, nullptr);
  EXPECT_EQ(Index, 2u);
  ASSERT_EQ(GetNextAcpiTable(&Index, Xsdt, &Table), EFI_SUCCESS);
  EXPECT_EQ(Table, Root.Entry(2));
  EXPECT_EQ(Index, 3u);
  EXPECT_TRUE(Logged("GetNextAcpiTable - *EntryIndex - 0x00000002\n", DEBUG_INFO));

  EXPECT_EQ(GetNextAcpiTable(&Index, Xsdt, &Table), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Table, nullptr);
  EXPECT_EQ(Index, 3u);
  EXPECT_TRUE(Logged("GetNextAcpiTable - *EntryIndex is an invalid value of 3\n", DEBUG_ERROR));
  Index = 0;
  EXPECT_EQ(GetNextAcpiTable(&Index, Xsdt, &Table), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("GetNextAcpiTable - *EntryIndex is an invalid value of 0\n", DEBUG_ERROR));
  Index = 1;
  EXPECT_EQ(GetNextAcpiTable(&Index, nullptr, &Table), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Logged("GetNextAcpiTable - XsdtTablePtr is NULL\n", DEBUG_ERROR));
}

TEST_F(XsdtWalk, DebugDumpOfAOneEntryXsdtIsTheFirstCallAlone) {
  AcpiRoot Root(1);
  Publish(Root);
  DebugDumpAllTables();
  ASSERT_EQ(Messages().size(), 2u) << DebugDump();
  EXPECT_TRUE(Logged("GetFirstAcpiTable - XSDT Entries - 0x00000001\n"));
}

TEST_F(XsdtWalk, DebugDumpVisitsEveryFurtherEntry) {
  AcpiRoot Root(3);
  Publish(Root);
  DebugDumpAllTables();
  EXPECT_TRUE(Logged("GetNextAcpiTable - *EntryIndex - 0x00000001\n")) << DebugDump();
  EXPECT_TRUE(Logged("GetNextAcpiTable - *EntryIndex - 0x00000002\n"));
  EXPECT_FALSE(Logged("GetNextAcpiTable - *EntryIndex - 0x00000003\n"));
}

TEST_F(XsdtWalk, DebugDumpReportsAMissingRoot) {
  DebugDumpAllTables();
  EXPECT_TRUE(Logged("DebugDumpAllTables - Could not get ACPI tables from XSDT Not Found\n", DEBUG_ERROR))
      << DebugDump();
}

// --- NVS hex dump ----------------------------------------------------------------

// The expected line, built independently with the C library.
std::string HexLine(UINT32 Offset, const std::vector<UINT8> &Bytes) {
  std::string Hex, Chars;
  for (size_t Index = 0; Index < Bytes.size(); Index++) {
    char Digits[4];
    snprintf(Digits, sizeof(Digits), "%02X%c", Bytes[Index], Index == 7 ? '-' : ' ');
    Hex += Digits;
    Chars += (Bytes[Index] >= 0x20 && Bytes[Index] <= 0x7E) ? static_cast<char>(Bytes[Index]) : '.';
  }
  char Line[128];
  snprintf(Line, sizeof(Line), "%08X: %-48s *%s*\r\n", Offset, Hex.c_str(), Chars.c_str());
  return Line;
}

TEST_F(XsdtWalk, HexDumpOfSeventeenBytesIsTwoTitledLines) {
  std::vector<UINT8> Data(17);
  for (size_t Index = 0; Index < Data.size(); Index++) Data[Index] = static_cast<UINT8>(0x30 + Index * 9);
  DumpNvsHex("[Saved NVS]", Data.data(), Data.size());
  ASSERT_EQ(Messages().size(), 4u) << DebugDump();
  EXPECT_EQ(Messages()[0].Text, "[Saved NVS]");
  EXPECT_TRUE(Logged(HexLine(0, std::vector<UINT8>(Data.begin(), Data.begin() + 16)), DEBUG_INFO))
      << DebugDump();
  EXPECT_EQ(Messages()[2].Text, "[Saved NVS]");
  EXPECT_TRUE(Logged(HexLine(16, {Data[16]}), DEBUG_INFO));
}

TEST_F(XsdtWalk, HexDumpShowsPrintableBytesAsThemselves) {
  const std::vector<UINT8> Data(16, 0x41);
  DumpNvsHex("[Patched NVS]", Data.data(), Data.size());
  EXPECT_TRUE(Logged("00000000: 41 41 41 41 41 41 41 41-41 41 41 41 41 41 41 41  *AAAAAAAAAAAAAAAA*\r\n"))
      << DebugDump();
  ClearDebug();
  DumpNvsHex("[Patched NVS]", Data.data(), 0);
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
