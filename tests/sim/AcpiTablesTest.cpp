// ACPI Table protocol and the RSDP/XSDT it maintains, checked by an
// independent walk from the configuration table down.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/Platform.h"
#include "uefi/Acpi.h"
#include "uefi/Protocol/AcpiTable.h"

namespace {

std::vector<UINT8> Table(const char *Signature, UINT32 Length, UINT64 OemTableId = 0) {
  std::vector<UINT8> Bytes(Length, 0);
  std::memcpy(Bytes.data(), Signature, 4);
  std::memcpy(Bytes.data() + 4, &Length, 4);
  if (Length >= 24) std::memcpy(Bytes.data() + 16, &OemTableId, 8);
  if (Length > 40) Bytes[40] = 0x5A;  // some content; the checksum is left wrong on purpose
  return Bytes;
}

UINT8 Sum(const VOID *Data, UINTN Length) {
  UINT8 Total = 0;
  for (UINTN Index = 0; Index < Length; ++Index)
    Total = static_cast<UINT8>(Total + static_cast<const UINT8 *>(Data)[Index]);
  return Total;
}

template <typename T>
T Read(const VOID *Base, UINTN Offset) {
  T Value;
  std::memcpy(&Value, static_cast<const UINT8 *>(Base) + Offset, sizeof(T));
  return Value;
}

// The XSDT entries found from the ACPI 2.0 configuration table.
std::vector<const UINT8 *> WalkXsdt(sim::Platform &Board) {
  const auto *Rsdp = static_cast<const UINT8 *>(Board.FindConfigurationTable(gEfiAcpi20TableGuid));
  if (Rsdp == nullptr) return {};
  EXPECT_EQ(Sum(Rsdp, 20), 0);
  EXPECT_EQ(Sum(Rsdp, 36), 0);
  const auto *Xsdt = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Read<UINT64>(Rsdp, 24)));
  UINT32 Length = Read<UINT32>(Xsdt, 4);
  EXPECT_EQ(Sum(Xsdt, Length), 0);
  std::vector<const UINT8 *> Entries;
  for (UINTN Offset = 36; Offset + 8 <= Length; Offset += 8) {
    Entries.push_back(reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Read<UINT64>(Xsdt, Offset))));
  }
  return Entries;
}

class AcpiTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VOID *Interface = nullptr;
    ASSERT_EQ(Board.BootServices()->LocateProtocol(const_cast<EFI_GUID *>(&gEfiAcpiTableProtocolGuid),
                                                   nullptr, &Interface),
              EFI_SUCCESS);
    Protocol = static_cast<EFI_ACPI_TABLE_PROTOCOL *>(Interface);
  }
  EFI_STATUS Install(std::vector<UINT8> Bytes, UINTN *Key = nullptr) {
    UINTN Ignored = 0;
    return Protocol->InstallAcpiTable(Protocol, Bytes.data(), Bytes.size(), Key != nullptr ? Key : &Ignored);
  }
  sim::Platform Board;
  EFI_ACPI_TABLE_PROTOCOL *Protocol = nullptr;
};

TEST_F(AcpiTablesTest, InstalledTablesAreCopiedBelow4GiBWithFixedChecksums) {
  std::vector<UINT8> Ssdt = Table("SSDT", 60, 0x1122334455667788ull);
  UINTN Key = 0;
  ASSERT_EQ(Install(Ssdt, &Key), EFI_SUCCESS);
  std::vector<const UINT8 *> Entries = WalkXsdt(Board);
  ASSERT_EQ(Entries.size(), 1u);
  EXPECT_NE(Entries[0], Ssdt.data());
  EXPECT_LT(reinterpret_cast<UINTN>(Entries[0]), 0x100000000ull);
  EXPECT_EQ(Sum(Entries[0], 60), 0);
  EXPECT_EQ(Read<UINT64>(Entries[0], 16), 0x1122334455667788ull);
  ASSERT_EQ(Board.Acpi().Installs().size(), 1u);
  EXPECT_EQ(Board.Acpi().Installs()[0].Bytes, Ssdt);
  EXPECT_EQ(Protocol->UninstallAcpiTable(Protocol, Key), EFI_SUCCESS);
  EXPECT_TRUE(WalkXsdt(Board).empty());
  EXPECT_EQ(Protocol->UninstallAcpiTable(Protocol, Key), EFI_NOT_FOUND);
}

TEST_F(AcpiTablesTest, FadtIsLinkedToFacsAndDsdtInEitherOrder) {
  ASSERT_EQ(Install(Table("DSDT", 40)), EFI_SUCCESS);
  ASSERT_EQ(Install(Table("FACP", EFI_ACPI_6_3_FADT_LENGTH)), EFI_SUCCESS);
  ASSERT_EQ(Install(Table("FACS", EFI_ACPI_FACS_LENGTH)), EFI_SUCCESS);
  std::vector<const UINT8 *> Entries = WalkXsdt(Board);
  ASSERT_EQ(Entries.size(), 1u);  // FACS and DSDT are reached through the FADT only
  const UINT8 *Fadt = Entries[0];
  EXPECT_EQ(Read<UINT32>(Fadt, 0), EFI_ACPI_FADT_SIGNATURE);
  EXPECT_EQ(Sum(Fadt, EFI_ACPI_6_3_FADT_LENGTH), 0);
  const UINT8 *Dsdt = Board.Acpi().Find(EFI_ACPI_DSDT_SIGNATURE);
  const UINT8 *Facs = Board.Acpi().Find(EFI_ACPI_FACS_SIGNATURE);
  EXPECT_EQ(Read<UINT64>(Fadt, 140), reinterpret_cast<UINTN>(Dsdt));
  EXPECT_EQ(Read<UINT32>(Fadt, 40), reinterpret_cast<UINTN>(Dsdt));
  EXPECT_EQ(Read<UINT32>(Fadt, 36), reinterpret_cast<UINTN>(Facs));
  EXPECT_EQ(Read<UINT64>(Fadt, 132), 0u);
  EXPECT_EQ(reinterpret_cast<UINTN>(Facs) % 64, 0u);
  EFI_PHYSICAL_ADDRESS Start = 0;
  ASSERT_NE(Board.Pages().Containing(reinterpret_cast<UINTN>(Facs), &Start), nullptr);
  EXPECT_EQ(Board.Pages().Containing(reinterpret_cast<UINTN>(Facs))->Type, EfiACPIMemoryNVS);
}

TEST_F(AcpiTablesTest, SecondFadtFacsOrDsdtIsRefused) {
  for (const char *Signature : {"FACP", "FACS", "DSDT"}) {
    UINT32 Length = std::strcmp(Signature, "FACS") == 0 ? 64 : 116;
    ASSERT_EQ(Install(Table(Signature, Length)), EFI_SUCCESS) << Signature;
    EXPECT_EQ(Install(Table(Signature, Length)), EFI_ACCESS_DENIED) << Signature;
  }
  EXPECT_EQ(Install(Table("SSDT", 40)), EFI_SUCCESS);
  EXPECT_EQ(Install(Table("SSDT", 40)), EFI_SUCCESS);  // any number of SSDTs
}

TEST_F(AcpiTablesTest, SizeMustBeTheTablesOwnLength) {
  std::vector<UINT8> Ssdt = Table("SSDT", 60);
  UINTN Key = 0;
  EXPECT_EQ(Protocol->InstallAcpiTable(Protocol, Ssdt.data(), 59, &Key), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Protocol->InstallAcpiTable(Protocol, nullptr, 60, &Key), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Protocol->InstallAcpiTable(Protocol, Ssdt.data(), 60, nullptr), EFI_INVALID_PARAMETER);
  // Seven bytes cannot hold a signature and a Length, whatever they say.
  std::vector<UINT8> Tiny = Table("SSDT", 8);
  Tiny[4] = 7;
  EXPECT_EQ(Protocol->InstallAcpiTable(Protocol, Tiny.data(), 7, &Key), EFI_INVALID_PARAMETER);
}

// Only a signature and a Length are common to every table: a shorter data table
// is taken as it is, and gets a checksum only when it holds the checksum byte.
TEST_F(AcpiTablesTest, TablesShorterThanADescriptionHeaderAreInstalled) {
  for (UINT32 Length : {8u, 9u, 10u, 35u}) {
    SCOPED_TRACE(Length);
    std::vector<UINT8> Short = Table("XTBL", Length);
    for (UINT32 Index = 8; Index < Length; Index++) Short[Index] = static_cast<UINT8>(Index);
    UINTN Key = 0;
    ASSERT_EQ(Install(Short, &Key), EFI_SUCCESS);
    std::vector<const UINT8 *> Entries = WalkXsdt(Board);
    ASSERT_EQ(Entries.size(), 1u);
    std::vector<UINT8> Copy(Entries[0], Entries[0] + Length);
    if (Length > 9) {
      EXPECT_EQ(Sum(Entries[0], Length), 0);
      Copy[9] = Short[9];
    }
    EXPECT_EQ(Copy, Short);
    EXPECT_EQ(Board.Acpi().Installs().back().Signature, SIGNATURE_32('X', 'T', 'B', 'L'));
    EXPECT_EQ(Board.Acpi().Installs().back().Bytes, Short);
    EXPECT_EQ(Protocol->UninstallAcpiTable(Protocol, Key), EFI_SUCCESS);
  }
}

TEST_F(AcpiTablesTest, PlatformTablesAreInPlaceBeforeTheDriverAndInjectionHitsOnlyInstalls) {
  ASSERT_EQ(Board.Acpi().InstallPlatformTables({Table("FACP", EFI_ACPI_6_3_FADT_LENGTH), Table("FACS", 64),
                                                Table("DSDT", 50), Table("APIC", 44)}),
            EFI_SUCCESS);
  EXPECT_EQ(WalkXsdt(Board).size(), 2u);
  EXPECT_TRUE(Board.Acpi().Installs().empty());
  Board.Acpi().FailInstall(1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Install(Table("SSDT", 40)), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(WalkXsdt(Board).size(), 2u);
}

}  // namespace
