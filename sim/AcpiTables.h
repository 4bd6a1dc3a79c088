// The platform's ACPI tables: an RSDP (ACPI 2.0+, published as the
// gEfiAcpi20TableGuid configuration table) and an XSDT in memory below 4 GiB,
// and the ACPI Table protocol that maintains them the way a real firmware's
// does: every installed table is copied into pages below 4 GiB, its checksum
// fixed; the FADT is linked to the FACS and DSDT (which stay out of the XSDT);
// a second FADT, FACS or DSDT is refused (EFI_ACCESS_DENIED, as edk2 does).
// No RSDT is built: RsdtAddress is 0.
#ifndef ZEPHRIN_SIM_ACPI_TABLES_H_
#define ZEPHRIN_SIM_ACPI_TABLES_H_

#include <string>
#include <vector>

#include "uefi/Acpi.h"
#include "uefi/Protocol/AcpiTable.h"

namespace sim {

class Platform;

struct InstalledAcpiTable {
  UINTN Key;
  UINT32 Signature;
  UINT8 *Table;  // the platform's copy, below 4 GiB
  UINTN Pages;
};

// One InstallAcpiTable call as the protocol saw it.
struct AcpiInstallRecord {
  UINT32 Signature;
  UINT64 OemTableId;
  UINT32 Length;
  EFI_STATUS Status;
  std::vector<UINT8> Bytes;  // the table as handed in (before the checksum fix)
};

class AcpiTables {
 public:
  explicit AcpiTables(Platform &Owner);
  AcpiTables(const AcpiTables &) = delete;
  AcpiTables &operator=(const AcpiTables &) = delete;

  // Installs the protocol on a new handle.
  EFI_STATUS InstallProtocol();
  EFI_ACPI_TABLE_PROTOCOL *Protocol() { return &mProtocol; }

  EFI_STATUS Install(const VOID *Buffer, UINTN Size, UINTN *Key);
  EFI_STATUS Uninstall(UINTN Key);
  // The platform's own tables, installed before any driver runs (not recorded
  // in Installs()). Returns the first failing status.
  EFI_STATUS InstallPlatformTables(const std::vector<std::vector<UINT8>> &Tables);

  EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *Rsdp() { return mRsdp; }
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt() { return mXsdt; }
  const std::vector<InstalledAcpiTable> &Tables() const { return mTables; }
  // The installed table with this signature (and, when not 0, OemTableId).
  const UINT8 *Find(UINT32 Signature, UINT64 OemTableId = 0) const;
  const std::vector<AcpiInstallRecord> &Installs() const { return mInstalls; }
  // The Nth InstallAcpiTable call from now returns Status without installing.
  void FailInstall(UINT64 Nth, EFI_STATUS Status) {
    mFailAt = Nth;
    mFailStatus = Status;
  }

 private:
  EFI_STATUS Add(const VOID *Buffer, UINTN Size, UINTN *Key);
  void LinkFadt();
  void Rebuild();
  bool EnsureRoots();

  Platform &mOwner;
  EFI_ACPI_TABLE_PROTOCOL mProtocol{};
  EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *mRsdp = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *mXsdt = nullptr;
  std::vector<InstalledAcpiTable> mTables;  // install order
  std::vector<AcpiInstallRecord> mInstalls;
  UINTN mNextKey = 1;
  UINT64 mFailAt = 0;
  EFI_STATUS mFailStatus = EFI_OUT_OF_RESOURCES;
};

// ACPI checksum rule: the byte sum of the table is 0 mod 256.
UINT8 AcpiChecksumFor(const UINT8 *Table, UINTN Length, UINTN ChecksumOffset);
// A table file (e.g. an iasl-compiled .aml) as bytes; empty when unreadable.
std::vector<UINT8> ReadBinaryFile(const std::string &Path);

}  // namespace sim

#endif  // ZEPHRIN_SIM_ACPI_TABLES_H_
