#include "sim/AcpiTables.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/Platform.h"

namespace sim {

namespace {

// Room for this many XSDT entries, reserved once so the XSDT never moves.
constexpr UINTN kXsdtCapacity = 256;
constexpr UINTN kChecksumOffset = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum);
const UINT8 kOemId[6] = {'Z', 'S', 'I', 'M', ' ', ' '};

AcpiTables &Tables() {
  return CurrentPlatform().Acpi();
}

EFI_STATUS EFIAPI SimInstallAcpiTable(EFI_ACPI_TABLE_PROTOCOL *, VOID *Buffer, UINTN Size, UINTN *Key) {
  return Tables().Install(Buffer, Size, Key);
}

EFI_STATUS EFIAPI SimUninstallAcpiTable(EFI_ACPI_TABLE_PROTOCOL *, UINTN Key) {
  return Tables().Uninstall(Key);
}

bool IsSingleton(UINT32 Signature) {
  return Signature == EFI_ACPI_FADT_SIGNATURE || Signature == EFI_ACPI_FACS_SIGNATURE ||
         Signature == EFI_ACPI_DSDT_SIGNATURE;
}

}  // namespace

UINT8 AcpiChecksumFor(const UINT8 *Table, UINTN Length, UINTN ChecksumOffset) {
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (Index != ChecksumOffset) Sum = static_cast<UINT8>(Sum + Table[Index]);
  }
  return static_cast<UINT8>(0 - Sum);
}

std::vector<UINT8> ReadBinaryFile(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) return {};
  return std::vector<UINT8>((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
}

AcpiTables::AcpiTables(Platform &Owner) : mOwner(Owner) {
  mProtocol.InstallAcpiTable = &SimInstallAcpiTable;
  mProtocol.UninstallAcpiTable = &SimUninstallAcpiTable;
}

EFI_STATUS AcpiTables::InstallProtocol() {
  return mOwner.Protocols().InstallOnNewHandle(gEfiAcpiTableProtocolGuid, &mProtocol) != nullptr
             ? EFI_SUCCESS
             : EFI_OUT_OF_RESOURCES;
}

// RSDP and XSDT are created with the first table and published as the ACPI 2.0
// configuration table, as a firmware's ACPI support does.
bool AcpiTables::EnsureRoots() {
  if (mRsdp != nullptr) return true;
  UINTN XsdtBytes = sizeof(EFI_ACPI_DESCRIPTION_HEADER) + kXsdtCapacity * sizeof(UINT64);
  EFI_PHYSICAL_ADDRESS Rsdp = mOwner.Pages().AllocateForPlatform(EfiACPIReclaimMemory, 1);
  EFI_PHYSICAL_ADDRESS Xsdt =
      mOwner.Pages().AllocateForPlatform(EfiACPIReclaimMemory, EFI_SIZE_TO_PAGES(XsdtBytes));
  if (Rsdp == 0 || Xsdt == 0) return false;
  mRsdp = reinterpret_cast<EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *>(static_cast<UINTN>(Rsdp));
  mXsdt = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(Xsdt));
  std::memset(mRsdp, 0, sizeof(*mRsdp));
  mRsdp->Signature = EFI_ACPI_RSDP_SIGNATURE;
  std::memcpy(mRsdp->OemId, kOemId, sizeof(kOemId));
  mRsdp->Revision = EFI_ACPI_RSDP_REVISION_XSDT;
  mRsdp->Length = sizeof(*mRsdp);
  mRsdp->XsdtAddress = Xsdt;
  std::memset(mXsdt, 0, sizeof(*mXsdt));
  mXsdt->Signature = EFI_ACPI_XSDT_SIGNATURE;
  mXsdt->Revision = 1;
  std::memcpy(mXsdt->OemId, kOemId, sizeof(kOemId));
  mXsdt->OemTableId = SIGNATURE_64('Z', 'S', 'I', 'M', 'X', 'S', 'D', 'T');
  mXsdt->CreatorId = SIGNATURE_32('Z', 'S', 'I', 'M');
  mOwner.InstallConfigurationTable(gEfiAcpi20TableGuid, mRsdp);
  return true;
}

EFI_STATUS AcpiTables::Install(const VOID *Buffer, UINTN Size, UINTN *Key) {
  AcpiInstallRecord Record{};
  if (Buffer != nullptr && Size >= sizeof(EFI_ACPI_COMMON_HEADER)) {
    const auto *Common = static_cast<const EFI_ACPI_COMMON_HEADER *>(Buffer);
    Record.Signature = Common->Signature;
    Record.Length = Common->Length;
    if (Size >= sizeof(EFI_ACPI_DESCRIPTION_HEADER))
      Record.OemTableId = static_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Buffer)->OemTableId;
    Record.Bytes.assign(static_cast<const UINT8 *>(Buffer), static_cast<const UINT8 *>(Buffer) + Size);
  }
  if (mFailAt != 0 && --mFailAt == 0) {
    Record.Status = mFailStatus;
  } else {
    Record.Status = Add(Buffer, Size, Key);
  }
  mInstalls.push_back(std::move(Record));
  return mInstalls.back().Status;
}

// The checks of a firmware's InstallAcpiTable, as UEFI lists them: a buffer and
// a key, and a size that is the table's own Length; at most one FADT, FACS and
// DSDT. A table shorter than a description header is taken as it is (only a
// signature and a Length are common to all tables); its checksum is fixed only
// when it holds the checksum byte.
EFI_STATUS AcpiTables::Add(const VOID *Buffer, UINTN Size, UINTN *Key) {
  if (Buffer == nullptr || Key == nullptr || Size < sizeof(EFI_ACPI_COMMON_HEADER))
    return EFI_INVALID_PARAMETER;
  const auto *Common = static_cast<const EFI_ACPI_COMMON_HEADER *>(Buffer);
  UINT32 Signature = Common->Signature;
  if (Common->Length != Size) return EFI_INVALID_PARAMETER;
  if (IsSingleton(Signature) && Find(Signature) != nullptr) return EFI_ACCESS_DENIED;
  if (mTables.size() >= kXsdtCapacity || !EnsureRoots()) return EFI_OUT_OF_RESOURCES;
  UINTN Pages = EFI_SIZE_TO_PAGES(Size);
  EFI_MEMORY_TYPE Type = Signature == EFI_ACPI_FACS_SIGNATURE ? EfiACPIMemoryNVS : EfiACPIReclaimMemory;
  EFI_PHYSICAL_ADDRESS Address = mOwner.Pages().AllocateForPlatform(Type, Pages);
  if (Address == 0) return EFI_OUT_OF_RESOURCES;
  auto *Copy = reinterpret_cast<UINT8 *>(static_cast<UINTN>(Address));
  std::memcpy(Copy, Buffer, Size);
  if (Signature != EFI_ACPI_FACS_SIGNATURE && Size > kChecksumOffset)
    Copy[kChecksumOffset] = AcpiChecksumFor(Copy, Size, kChecksumOffset);
  mTables.push_back(InstalledAcpiTable{mNextKey, Signature, Copy, Pages});
  *Key = mNextKey++;
  LinkFadt();
  Rebuild();
  return EFI_SUCCESS;
}

EFI_STATUS AcpiTables::Uninstall(UINTN Key) {
  for (auto It = mTables.begin(); It != mTables.end(); ++It) {
    if (It->Key != Key) continue;
    mOwner.Pages().Free(reinterpret_cast<UINTN>(It->Table), It->Pages);
    mTables.erase(It);
    LinkFadt();
    Rebuild();
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS AcpiTables::InstallPlatformTables(const std::vector<std::vector<UINT8>> &TableList) {
  for (auto &Table : TableList) {
    UINTN Key = 0;
    EFI_STATUS Status = Add(Table.data(), Table.size(), &Key);
    if (EFI_ERROR(Status)) return Status;
  }
  if (!EnsureRoots()) return EFI_OUT_OF_RESOURCES;
  Rebuild();
  return EFI_SUCCESS;
}

const UINT8 *AcpiTables::Find(UINT32 Signature, UINT64 OemTableId) const {
  for (auto &Entry : mTables) {
    if (Entry.Signature != Signature) continue;
    if (OemTableId == 0 ||
        reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Entry.Table)->OemTableId == OemTableId) {
      return Entry.Table;
    }
  }
  return nullptr;
}

// The FADT points at the FACS through the 32-bit FIRMWARE_CTRL (the FACS lies
// below 4 GiB; X_FIRMWARE_CTRL stays 0 as ACPI asks when the 32-bit form is
// used) and at the DSDT through both DSDT and X_DSDT. Pointers of a table not
// installed are left as the FADT brought them.
void AcpiTables::LinkFadt() {
  auto *Fadt = reinterpret_cast<EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *>(
      const_cast<UINT8 *>(Find(EFI_ACPI_FADT_SIGNATURE)));
  if (Fadt == nullptr) return;
  UINT32 Length = Fadt->Header.Length;
  const UINT8 *Facs = Find(EFI_ACPI_FACS_SIGNATURE);
  const UINT8 *Dsdt = Find(EFI_ACPI_DSDT_SIGNATURE);
  auto *Bytes = reinterpret_cast<UINT8 *>(Fadt);
  auto Put = [Bytes, Length](UINTN Offset, UINT64 Value, UINTN Width) {
    if (Offset + Width <= Length) std::memcpy(Bytes + Offset, &Value, Width);
  };
  if (Facs != nullptr) {
    Put(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, FirmwareCtrl), reinterpret_cast<UINTN>(Facs), 4);
    Put(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, XFirmwareCtrl), 0, 8);
  }
  if (Dsdt != nullptr) {
    Put(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, Dsdt), reinterpret_cast<UINTN>(Dsdt), 4);
    Put(OFFSET_OF(EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt), reinterpret_cast<UINTN>(Dsdt), 8);
  }
  Bytes[kChecksumOffset] = AcpiChecksumFor(Bytes, Length, kChecksumOffset);
}

// XSDT entries: every table but the FACS and DSDT, in install order.
void AcpiTables::Rebuild() {
  if (mXsdt == nullptr) return;
  auto *Entries = reinterpret_cast<UINT8 *>(mXsdt) + sizeof(EFI_ACPI_DESCRIPTION_HEADER);
  UINTN Count = 0;
  for (auto &Entry : mTables) {
    if (Entry.Signature == EFI_ACPI_FACS_SIGNATURE || Entry.Signature == EFI_ACPI_DSDT_SIGNATURE) continue;
    UINT64 Address = reinterpret_cast<UINTN>(Entry.Table);
    std::memcpy(Entries + Count * sizeof(UINT64), &Address, sizeof(Address));
    ++Count;
  }
  mXsdt->Length = static_cast<UINT32>(sizeof(EFI_ACPI_DESCRIPTION_HEADER) + Count * sizeof(UINT64));
  auto *Xsdt = reinterpret_cast<UINT8 *>(mXsdt);
  Xsdt[kChecksumOffset] = AcpiChecksumFor(Xsdt, mXsdt->Length, kChecksumOffset);
  auto *Rsdp = reinterpret_cast<UINT8 *>(mRsdp);
  mRsdp->Checksum = AcpiChecksumFor(Rsdp, 20, OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, Checksum));
  mRsdp->ExtendedChecksum = AcpiChecksumFor(
      Rsdp, sizeof(*mRsdp), OFFSET_OF(EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER, ExtendedChecksum));
}

}  // namespace sim
