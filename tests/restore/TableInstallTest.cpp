// Table install through the simulated platform's ACPI Table protocol: the table
// is handed over whole, and a buffer marked for release is freed on every path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/capture/AcpiChecksum.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/restore/AcpiTableInstall.h"
#include "tests/restore/RestoreTestSupport.h"

namespace restore_test {
namespace {

const char kEntryLine[] = "InstallAcpiTableIntoXsdt() Entry.\n";
const char kNullTableLine[] = "InstallAcpiTableIntoXsdt - Pointer to the ACPI table is NULL\n";

struct InstallRow {
  const char *Name;
  bool ProtocolPresent;
  EFI_STATUS InjectedInstallStatus;  // EFI_SUCCESS: the protocol installs normally
  bool NullTable;
  bool FreeBuffer;
  size_t TableOffset;  // where the table starts in its buffer
  EFI_STATUS Expected;
};

const InstallRow kInstallRows[] = {
    {"InstalledAndFreed", true, EFI_SUCCESS, false, true, 0, EFI_SUCCESS},
    {"InstalledAndKeptForCaller", true, EFI_SUCCESS, false, false, 0, EFI_SUCCESS},
    {"TableBehindEntryHeaderFreesWholeBuffer", true, EFI_SUCCESS, false, true, 32, EFI_SUCCESS},
    {"RefusedInstallStillFrees", true, EFI_OUT_OF_RESOURCES, false, true, 0, EFI_OUT_OF_RESOURCES},
    {"RefusedInstallKeepsUnmarkedBuffer", true, EFI_ABORTED, false, false, 0, EFI_ABORTED},
    {"NoAcpiTableProtocolStillFrees", false, EFI_SUCCESS, false, true, 0, EFI_NOT_FOUND},
    {"NullTableFreesBuffer", true, EFI_SUCCESS, true, true, 0, EFI_INVALID_PARAMETER},
    {"NullTableWithoutProtocolReportsLocate", false, EFI_SUCCESS, true, true, 0, EFI_NOT_FOUND},
};

void PrintTo(const InstallRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class InstallOutcomeTest : public RestoreTest, public testing::WithParamInterface<InstallRow> {
 protected:
  sim::PlatformOptions Options() const override {
    sim::PlatformOptions Board;
    Board.InstallAcpiTableProtocol = GetParam().ProtocolPresent;
    return Board;
  }
};

TEST_P(InstallOutcomeTest, StatusCopyAndBufferRelease) {
  const InstallRow &Row = GetParam();
  std::vector<UINT8> Table = MakeTable("SSDT", 0x60, "ZpTest01");
  std::vector<UINT8> Bytes(Row.TableOffset, 0xEE);
  Bytes.insert(Bytes.end(), Table.begin(), Table.end());
  VOID *Buffer = PoolCopy(Bytes);
  ASSERT_NE(Buffer, nullptr);
  if (Row.InjectedInstallStatus != EFI_SUCCESS) Platform->Acpi().FailInstall(1, Row.InjectedInstallStatus);

  ACPI_TABLE_INSTALL_INFO Info = {};
  Info.AcpiTable =
      Row.NullTable
          ? nullptr
          : reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(static_cast<UINT8 *>(Buffer) + Row.TableOffset);
  Info.Buffer = Buffer;
  Info.FreeBuffer = Row.FreeBuffer;
  EXPECT_EQ(InstallAcpiTableIntoXsdt(&Info), Row.Expected);

  EXPECT_EQ(Logged(kEntryLine, DEBUG_INFO), 1u) << DebugDump();
  bool NullTableSeen = Row.NullTable && Row.ProtocolPresent;
  EXPECT_EQ(Logged(kNullTableLine, DEBUG_ERROR), NullTableSeen ? 1u : 0u) << DebugDump();
  EXPECT_EQ(Platform->Pool().IsLive(Buffer), !Row.FreeBuffer);
  if (!Row.FreeBuffer) gBS->FreePool(Buffer);

  bool Called = Row.ProtocolPresent && !Row.NullTable;
  ASSERT_EQ(Platform->Acpi().Installs().size(), Called ? 1u : 0u);
  if (!Called) return;
  const sim::AcpiInstallRecord &Record = Platform->Acpi().Installs()[0];
  EXPECT_EQ(Record.Length, Table.size());
  EXPECT_EQ(Record.Bytes, Table) << "the protocol must see the table, not the bytes before it";
  EXPECT_EQ(Platform->Acpi().Find(Sig32("SSDT"), OemId64("ZpTest01")) != nullptr,
            Row.Expected == EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Rows, InstallOutcomeTest, testing::ValuesIn(kInstallRows),
                         [](const testing::TestParamInfo<InstallRow> &Info) { return Info.param.Name; });

using TableInstallTest = RestoreTest;

TEST_F(TableInstallTest, PlatformKeepsItsOwnCheckedCopy) {
  std::vector<UINT8> Table = MakeTable("APIC", 0x48, "ZpMadt01");
  VOID *Buffer = PoolCopy(Table);
  ACPI_TABLE_INSTALL_INFO Info = {reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Buffer), Buffer, FALSE, 0};
  ASSERT_EQ(InstallAcpiTableIntoXsdt(&Info), EFI_SUCCESS);
  std::memset(Buffer, 0, Table.size());
  gBS->FreePool(Buffer);

  const UINT8 *Installed = Platform->Acpi().Find(Sig32("APIC"));
  ASSERT_NE(Installed, nullptr);
  EXPECT_NE(Installed, Buffer);
  EXPECT_EQ(std::memcmp(Installed + 10, Table.data() + 10, Table.size() - 10), 0);
  EXPECT_TRUE(AcpiTableChecksumValid(Installed));
}

TEST_F(TableInstallTest, SecondDsdtIsRefusedAndItsBufferStillFreed) {
  ACPI_TABLE_INSTALL_INFO First = {};
  First.Buffer = PoolCopy(MakeTable("DSDT", 0x40, "ZpDsdt01"));
  First.AcpiTable = static_cast<EFI_ACPI_DESCRIPTION_HEADER *>(First.Buffer);
  First.FreeBuffer = TRUE;
  ACPI_TABLE_INSTALL_INFO Second = First;
  Second.Buffer = PoolCopy(MakeTable("DSDT", 0x40, "ZpDsdt02"));
  Second.AcpiTable = static_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Second.Buffer);

  EXPECT_EQ(InstallAcpiTableIntoXsdt(&First), EFI_SUCCESS);
  EXPECT_EQ(InstallAcpiTableIntoXsdt(&Second), EFI_ACCESS_DENIED);
  EXPECT_EQ(Logged(kEntryLine), 2u);
}

TEST_F(TableInstallTest, TableOutsidePoolIsInstalledInPlaceAndNeverFreed) {
  // Tables carried in the meta data are installed from where they lie: no buffer.
  std::vector<UINT8> Table = MakeTable("SSDT", 0x50, "ZpMeta01");
  ACPI_TABLE_INSTALL_INFO Info = {reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Table.data()), nullptr,
                                  TRUE, 0};
  EXPECT_EQ(InstallAcpiTableIntoXsdt(&Info), EFI_SUCCESS);
  EXPECT_NE(Platform->Acpi().Find(Sig32("SSDT"), OemId64("ZpMeta01")), nullptr);
}

TEST_F(TableInstallTest, NoDescriptionIsRejected) {
  EXPECT_EQ(InstallAcpiTableIntoXsdt(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Logged(kNullTableLine, DEBUG_ERROR), 1u);
  EXPECT_TRUE(Platform->Acpi().Installs().empty());
}

}  // namespace
}  // namespace restore_test
