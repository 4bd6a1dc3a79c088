// The board of the QEMU runs: a DXE driver dispatched before ZephrinAcpiDxe
// that does what a platform's own components do on a real board. It reads the
// boot path from fw_cfg, publishes the custom-path HOB and the product data in
// a copy of the HOB list, backs the fixture regions with memory, installs the
// fixture ACPI tables and signals the custom-path group on a custom-path boot,
// and routes the driver's debug output and failure notifications to COM1.
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "common/GuidHobWalk.h"
#include "product_data/ProductData.h"
#include "tests/qemu/FwCfg.h"
#include "tests/qemu/HobListCopy.h"
#include "tests/qemu/PlatformVolume.h"
#include "tests/qemu/Serial.h"
#include "tests/qemu/TestPlatform.h"
#include "uefi/Acpi.h"
#include "uefi/Protocol/AcpiTable.h"
#include "uefi/Protocol/FailureNotify.h"

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;
EFI_HANDLE gImageHandle;

namespace {

const CHAR8 kName[] = "TestPlatformDxe";

EFI_STATUS EFIAPI WriteDebugMessage(DEBUG_MESSAGE_PROTOCOL *, UINTN, CHAR8 *Buffer, UINTN Length) {
  SerialWrite(Buffer, Length);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI NotifyFailureOnSerial(UINT32 Code, const VOID *, UINT16 DataSize) {
  CHAR8 Line[96];
  UINTN Length = AsciiSPrint(Line, sizeof(Line), "%a: failure notification, code %u, %u bytes of data\n",
                             kName, Code, static_cast<UINT32>(DataSize));
  SerialWrite(Line, Length);
  return EFI_SUCCESS;
}

DEBUG_MESSAGE_PROTOCOL mDebugMessage = {NULL, WriteDebugMessage};
FAILURE_NOTIFY_PROTOCOL mFailureNotify = {NotifyFailureOnSerial};
UINT32 mReadyMarker;

EFI_STATUS InstallOnNewHandle(const EFI_GUID *Guid, VOID *Interface) {
  EFI_HANDLE Handle = NULL;
  return gBS->InstallProtocolInterface(&Handle, const_cast<EFI_GUID *>(Guid), EFI_NATIVE_INTERFACE,
                                       Interface);
}

UINT8 ReadBootPath() {
  VOID *Text = NULL;
  UINT32 Size = 0;
  EFI_STATUS Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_PATH, &Text, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a: fw_cfg item %a not read: %r\n", kName, TEST_PLATFORM_FW_CFG_PATH, Status);
    return 0;
  }
  UINT8 Path = FwCfgParseBootPath(static_cast<const CHAR8 *>(Text), Size);
  if (Path == 0)
    DebugPrint(DEBUG_ERROR, "%a: boot path \"%a\" is neither custom nor certified\n", kName, Text);
  gBS->FreePool(Text);
  return Path;
}

// Pattern byte at Offset of the window: differs from page to page, so a region
// captured or restored from the wrong place is noticed.
UINT8 WindowPatternByte(UINTN Offset) {
  return static_cast<UINT8>(Offset * 7 + (Offset >> 12) * 0x35 + 0x11);
}

VOID StoreLe(UINT8 *Bytes, UINT64 Value, UINTN Width) {
  for (UINTN Index = 0; Index < Width; Index++) Bytes[Index] = static_cast<UINT8>(Value >> (8 * Index));
}

// The parent fields of the fixture ASL: \GNVS.CNVA/CNVL (0x10, 32 bits; 0x14,
// 16 bits) locate \CNVS; \_SB.SCRA.PNVS.NNVA/NNVL (0, 4; 32 bits each) locate
// \_SB.SCRA.NNVS.
VOID WriteParentFields(UINT8 *Window) {
  StoreLe(Window + 0x0010, kTestPlatformWindowBase + 0x2000, 4);
  StoreLe(Window + 0x0014, 0x40, 2);
  StoreLe(Window + 0x5000, kTestPlatformWindowBase + 0x6000, 4);
  StoreLe(Window + 0x5004, 0x30, 4);
}

VOID ClaimRegionWindow(UINT8 BootPath) {
  EFI_PHYSICAL_ADDRESS Address = kTestPlatformWindowBase;
  EFI_STATUS Status = gBS->AllocatePages(AllocateAddress, EfiACPIMemoryNVS,
                                         EFI_SIZE_TO_PAGES(kTestPlatformWindowSize), &Address);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a: region window at 0x%lx not claimed: %r\n", kName, kTestPlatformWindowBase,
               Status);
    return;
  }
  UINT8 *Window = reinterpret_cast<UINT8 *>(static_cast<UINTN>(Address));
  for (UINTN Offset = 0; Offset < kTestPlatformWindowSize; Offset++) {
    Window[Offset] = BootPath == BOOT_PATH_CUSTOM ? WindowPatternByte(Offset) : kTestPlatformCertifiedFill;
  }
  if (BootPath == BOOT_PATH_CUSTOM) WriteParentFields(Window);
  DebugPrint(DEBUG_INFO, "%a: region window at 0x%lx, %a\n", kName, Address,
             BootPath == BOOT_PATH_CUSTOM ? "pattern and parent fields" : "cleared");
}

// Publishes the product data (container and Info HOB from fw_cfg) and, on a
// custom-path boot, the custom-path HOB, in a copy of the HOB list.
VOID PublishHobs(UINT8 BootPath) {
  VOID *Container = NULL;
  VOID *Info = NULL;
  UINT32 ContainerSize = 0;
  UINT32 InfoSize = 0;
  EFI_STATUS Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_PRODUCT_DATA, &Container, &ContainerSize);
  if (!EFI_ERROR(Status))
    Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_PRODUCT_DATA_INFO, &Info, &InfoSize);
  if (EFI_ERROR(Status))
    DebugPrint(DEBUG_ERROR, "%a: product data not read from fw_cfg: %r\n", kName, Status);

  HOB_TO_APPEND Hobs[3];
  UINTN HobCount = 0;
  if (Container != NULL && Info != NULL) {
    Hobs[HobCount++] = {&gProductDataHobGuid, Container, ContainerSize};
    Hobs[HobCount++] = {&gProductDataInfoHobGuid, Info, InfoSize};
  }
  if (BootPath == BOOT_PATH_CUSTOM) Hobs[HobCount++] = {&gCustomPathHobGuid, NULL, 0};

  VOID *HobList = NULL;
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    const EFI_GUID &Guid = gST->ConfigurationTable[Index].VendorGuid;
    if (HobGuidEquals(&Guid, &gEfiHobListGuid)) HobList = gST->ConfigurationTable[Index].VendorTable;
  }
  UINTN ListSize = 0;
  UINTN CopySize = 0;
  VOID *Copy = NULL;
  Status = HobList == NULL ? EFI_NOT_FOUND
                           : HobListMeasure(HobList, MAX_UINTN - reinterpret_cast<UINTN>(HobList), &ListSize);
  if (!EFI_ERROR(Status)) Status = HobListCopySize(ListSize, Hobs, HobCount, &CopySize);
  if (!EFI_ERROR(Status)) Status = gBS->AllocatePool(EfiBootServicesData, CopySize, &Copy);
  if (!EFI_ERROR(Status)) Status = HobListCopyWithAppended(HobList, ListSize, Hobs, HobCount, Copy, CopySize);
  if (!EFI_ERROR(Status))
    Status = gBS->InstallConfigurationTable(const_cast<EFI_GUID *>(&gEfiHobListGuid), Copy);
  if (EFI_ERROR(Status) && Copy != NULL) gBS->FreePool(Copy);
  DebugPrint(EFI_ERROR(Status) ? DEBUG_ERROR : DEBUG_INFO,
             "%a: HOB list copy of %u bytes with %u HOBs appended (%a): %r\n", kName,
             static_cast<UINT32>(CopySize), static_cast<UINT32>(HobCount),
             BootPath == BOOT_PATH_CUSTOM ? "custom path" : "certified path", Status);
  if (Container != NULL) gBS->FreePool(Container);
  if (Info != NULL) gBS->FreePool(Info);
}

VOID InstallFixtureTables() {
  EFI_ACPI_TABLE_PROTOCOL *AcpiTable = NULL;
  VOID *Tables = NULL;
  UINT32 Size = 0;
  EFI_STATUS Status = gBS->LocateProtocol(const_cast<EFI_GUID *>(&gEfiAcpiTableProtocolGuid), NULL,
                                          reinterpret_cast<VOID **>(&AcpiTable));
  if (!EFI_ERROR(Status)) Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_TABLES, &Tables, &Size);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a: fixture tables not installed: %r\n", kName, Status);
    return;
  }
  const UINT8 *Bytes = static_cast<const UINT8 *>(Tables);
  UINTN Offset = 0;
  while (Size - Offset >= sizeof(EFI_ACPI_COMMON_HEADER)) {
    const EFI_ACPI_COMMON_HEADER *Header = reinterpret_cast<const EFI_ACPI_COMMON_HEADER *>(Bytes + Offset);
    if (Header->Length < sizeof(EFI_ACPI_COMMON_HEADER) || Header->Length > Size - Offset) {
      DebugPrint(DEBUG_ERROR, "%a: table at offset 0x%x has a bad length 0x%x\n", kName,
                 static_cast<UINT32>(Offset), Header->Length);
      break;
    }
    UINTN Key = 0;
    Status =
        AcpiTable->InstallAcpiTable(AcpiTable, const_cast<UINT8 *>(Bytes + Offset), Header->Length, &Key);
    DebugPrint(EFI_ERROR(Status) ? DEBUG_ERROR : DEBUG_INFO, "%a: installed fixture table %c%c%c%c: %r\n",
               kName, static_cast<UINTN>(Bytes[Offset]), static_cast<UINTN>(Bytes[Offset + 1]),
               static_cast<UINTN>(Bytes[Offset + 2]), static_cast<UINTN>(Bytes[Offset + 3]), Status);
    Offset += Header->Length;
  }
  gBS->FreePool(Tables);
}

// The board's volume with the DSDT file, on every boot: the certified path
// reads the DSDT from it. The section buffer stays allocated for the boot.
VOID InstallVolume() {
  VOID *Dsdt = NULL;
  UINT32 Size = 0;
  EFI_STATUS Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_VOLUME_DSDT, &Dsdt, &Size);
  if (!EFI_ERROR(Status)) Status = InstallPlatformVolume(gBS, Dsdt, Size);
  if (EFI_ERROR(Status) && Dsdt != NULL) gBS->FreePool(Dsdt);
  DebugPrint(EFI_ERROR(Status) ? DEBUG_ERROR : DEBUG_INFO, "%a: platform volume with the DSDT file %g: %r\n",
             kName, &gZephrinTestPlatformDsdtFileGuid, Status);
}

VOID EFIAPI IgnoreSignal(EFI_EVENT, VOID *) {}

// ReadyToBoot: the fixture tables have been in place since the platform's
// entry, so the custom-path group may be signalled now, as a board does near
// ready-to-boot.
VOID EFIAPI SignalCustomPathGroup(EFI_EVENT Event, VOID *) {
  EFI_EVENT GroupEvent = NULL;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, IgnoreSignal, NULL,
                                         &gCustomPathEventGroupGuid, &GroupEvent);
  if (!EFI_ERROR(Status)) {
    Status = gBS->SignalEvent(GroupEvent);
    gBS->CloseEvent(GroupEvent);
  }
  DebugPrint(DEBUG_INFO, "%a: custom-path event group signalled: %r\n", kName, Status);
  gBS->CloseEvent(Event);
}

VOID ArmCustomPathSignal() {
  EFI_EVENT Event = NULL;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, SignalCustomPathGroup, NULL,
                                         &gEfiEventReadyToBootGuid, &Event);
  if (EFI_ERROR(Status)) DebugPrint(DEBUG_ERROR, "%a: ReadyToBoot event not created: %r\n", kName, Status);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI TestPlatformDxeEntryPoint(EFI_HANDLE ImageHandle,
                                                       EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gImageHandle = ImageHandle;
  // The sinks come first: the driver looks for them once, at its first message.
  InstallOnNewHandle(&gEfiDebugMessageProtocolGuid, &mDebugMessage);
  InstallOnNewHandle(&gFailureNotifyProtocolGuid, &mFailureNotify);

  UINT8 BootPath = ReadBootPath();
  DebugPrint(
      DEBUG_INFO, "%a: boot path %a\n", kName,
      BootPath == BOOT_PATH_CUSTOM ? "custom" : (BootPath == BOOT_PATH_CERTIFIED ? "certified" : "unknown"));
  ClaimRegionWindow(BootPath);
  PublishHobs(BootPath);
  InstallVolume();
  if (BootPath == BOOT_PATH_CUSTOM) {
    InstallFixtureTables();
    ArmCustomPathSignal();
  }
  InstallOnNewHandle(&gZephrinTestPlatformReadyProtocolGuid, &mReadyMarker);
  return EFI_SUCCESS;
}
