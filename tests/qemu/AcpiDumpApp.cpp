// BOOTX64.EFI of the QEMU runs: started as the boot option once the firmware
// is ready to boot, it writes what the firmware ended up with to the FAT drive
// it was loaded from, for the host script to check, and powers the machine off.
//
// Every boot: each table the XSDT lists (and the FACS and DSDT the FADT points
// at) as <SIG>.bin or SSDT-<OemTableId>.bin, and the bytes of every region the
// host lists in fw_cfg, at the address the installed AML gives, as
// region-<path>.bin. After a custom-path boot also: AcpiDataCache in the
// efivarfs form (4 bytes of attributes, then the data), AcpiCacheLockIndicator,
// and the status of an attempt to overwrite the cache. report.txt lists it all.
#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "tests/qemu/FwCfg.h"
#include "tests/qemu/RegionResolver.h"
#include "tests/qemu/Serial.h"
#include "tests/qemu/TestPlatform.h"
#include "uefi/Acpi.h"
#include "uefi/Guid/EventGroup.h"
#include "uefi/Protocol/LoadedImage.h"
#include "uefi/Protocol/SimpleFileSystem.h"

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;
EFI_HANDLE gImageHandle;

namespace {

const CHAR8 kName[] = "ZephrinQemuApp";
constexpr UINTN kReportSize = 0x8000;
constexpr UINTN kMaxTables = 32;
// Regions larger than this are reported, not dumped.
constexpr UINT64 kMaxRegionDump = 0x100000;

struct DumpContext {
  EFI_FILE_PROTOCOL *Root;
  EFI_MEMORY_DESCRIPTOR *MemoryMap;  // the map when the application started
  UINTN MemoryMapSize;
  UINTN DescriptorSize;
  CHAR8 *Report;
  UINTN ReportLength;
  const EFI_ACPI_DESCRIPTION_HEADER *Tables[kMaxTables];
  UINTN TableCount;
};

VOID Report(DumpContext *Context, const CHAR8 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  Context->ReportLength +=
      AsciiVSPrintMarker(Context->Report + Context->ReportLength, kReportSize - Context->ReportLength,
                         PRINT_FLAGS_ASCII, Format, Marker);
  VA_END(Marker);
}

// The memory map as it is before anything is written, so each dumped table and
// region can be named with the memory type the firmware gave its pages.
VOID ReadMemoryMap(DumpContext *Context) {
  UINTN Size = 0;
  UINTN Key = 0;
  UINT32 Version = 0;
  EFI_STATUS Status = gBS->GetMemoryMap(&Size, NULL, &Key, &Context->DescriptorSize, &Version);
  if (Status != EFI_BUFFER_TOO_SMALL) return;
  Size += 8 * Context->DescriptorSize;  // room for the descriptors the allocation itself adds
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, reinterpret_cast<VOID **>(&Context->MemoryMap))))
    return;
  if (EFI_ERROR(gBS->GetMemoryMap(&Size, Context->MemoryMap, &Key, &Context->DescriptorSize, &Version))) {
    gBS->FreePool(Context->MemoryMap);
    Context->MemoryMap = NULL;
    return;
  }
  Context->MemoryMapSize = Size;
}

const CHAR8 *MemoryTypeName(const DumpContext *Context, UINT64 Address) {
  static const CHAR8 *const kNames[] = {"Reserved",
                                        "LoaderCode",
                                        "LoaderData",
                                        "BootServicesCode",
                                        "BootServicesData",
                                        "RuntimeServicesCode",
                                        "RuntimeServicesData",
                                        "Conventional",
                                        "Unusable",
                                        "ACPIReclaim",
                                        "ACPINVS",
                                        "MMIO",
                                        "MMIOPortSpace",
                                        "PalCode",
                                        "Persistent"};
  if (Context->MemoryMap == NULL || Context->DescriptorSize == 0) return "unknown";
  const UINT8 *Map = reinterpret_cast<const UINT8 *>(Context->MemoryMap);
  for (UINTN Offset = 0; Offset + Context->DescriptorSize <= Context->MemoryMapSize;
       Offset += Context->DescriptorSize) {
    const EFI_MEMORY_DESCRIPTOR *Descriptor = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map + Offset);
    if (Address >= Descriptor->PhysicalStart &&
        Address - Descriptor->PhysicalStart < EFI_PAGES_TO_SIZE(Descriptor->NumberOfPages)) {
      return Descriptor->Type < sizeof(kNames) / sizeof(kNames[0]) ? kNames[Descriptor->Type] : "other";
    }
  }
  return "unmapped";
}

// Writes Size bytes to the file Name (ASCII) in the drive's root directory.
EFI_STATUS WriteFile(DumpContext *Context, const CHAR8 *Name, const VOID *Data, UINTN Size) {
  CHAR16 WideName[64];
  UINTN Index = 0;
  for (; Name[Index] != 0 && Index + 1 < sizeof(WideName) / sizeof(WideName[0]); Index++)
    WideName[Index] = Name[Index];
  WideName[Index] = 0;
  EFI_FILE_PROTOCOL *File = NULL;
  EFI_STATUS Status = Context->Root->Open(Context->Root, &File, WideName,
                                          EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
  if (EFI_ERROR(Status)) return Status;
  UINTN Written = Size;
  Status = File->Write(File, &Written, const_cast<VOID *>(Data));
  if (!EFI_ERROR(Status) && Written != Size) Status = EFI_VOLUME_FULL;
  EFI_STATUS CloseStatus = File->Close(File);
  return EFI_ERROR(Status) ? Status : CloseStatus;
}

EFI_STATUS OpenBootVolume(EFI_HANDLE ImageHandle, EFI_FILE_PROTOCOL **Root) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = NULL;
  EFI_STATUS Status = gBS->HandleProtocol(ImageHandle, const_cast<EFI_GUID *>(&gEfiLoadedImageProtocolGuid),
                                          reinterpret_cast<VOID **>(&LoadedImage));
  if (!EFI_ERROR(Status)) {
    Status = gBS->HandleProtocol(LoadedImage->DeviceHandle,
                                 const_cast<EFI_GUID *>(&gEfiSimpleFileSystemProtocolGuid),
                                 reinterpret_cast<VOID **>(&FileSystem));
  }
  if (!EFI_ERROR(Status)) Status = FileSystem->OpenVolume(FileSystem, Root);
  return Status;
}

VOID TableFileName(const EFI_ACPI_DESCRIPTION_HEADER *Table, CHAR8 *Name, UINTN Size) {
  const UINT8 *Sig = reinterpret_cast<const UINT8 *>(&Table->Signature);
  if (Table->Signature != EFI_ACPI_SSDT_SIGNATURE) {
    AsciiSPrint(Name, Size, "table-%c%c%c%c.bin", Sig[0], Sig[1], Sig[2], Sig[3]);
    return;
  }
  CHAR8 Id[9];
  const UINT8 *OemTableId = reinterpret_cast<const UINT8 *>(&Table->OemTableId);
  UINTN Length = 0;
  for (; Length < 8 && OemTableId[Length] > ' ' && OemTableId[Length] < 0x7F; Length++)
    Id[Length] = OemTableId[Length];
  Id[Length] = 0;
  AsciiSPrint(Name, Size, "table-SSDT-%a.bin", Id);
}

VOID DumpTable(DumpContext *Context, const VOID *Address) {
  if (Address == NULL) return;
  const EFI_ACPI_DESCRIPTION_HEADER *Table = static_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Address);
  CHAR8 Name[32];
  TableFileName(Table, Name, sizeof(Name));
  EFI_STATUS Status = WriteFile(Context, Name, Table, Table->Length);
  Report(Context, "table %a address 0x%lx length %u status %r memory %a\n", Name,
         reinterpret_cast<UINTN>(Table), Table->Length, Status,
         MemoryTypeName(Context, reinterpret_cast<UINTN>(Table)));
  if (Context->TableCount < kMaxTables) Context->Tables[Context->TableCount++] = Table;
}

VOID DumpTables(DumpContext *Context) {
  const EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *Rsdp = NULL;
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    if (CompareGuid(&gST->ConfigurationTable[Index].VendorGuid, &gEfiAcpi20TableGuid)) {
      Rsdp = static_cast<const EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *>(
          gST->ConfigurationTable[Index].VendorTable);
    }
  }
  if (Rsdp == NULL || Rsdp->XsdtAddress == 0) {
    Report(Context, "rsdp none\n");
    return;
  }
  const UINT8 *Xsdt = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Rsdp->XsdtAddress));
  UINT32 XsdtLength = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Xsdt)->Length;
  Report(Context, "rsdp address 0x%lx xsdt 0x%lx length %u\n", reinterpret_cast<UINTN>(Rsdp),
         Rsdp->XsdtAddress, XsdtLength);
  for (UINT32 Offset = EFI_ACPI_XSDT_ENTRY_OFFSET;
       XsdtLength >= EFI_ACPI_XSDT_ENTRY_SIZE && Offset <= XsdtLength - EFI_ACPI_XSDT_ENTRY_SIZE;
       Offset += EFI_ACPI_XSDT_ENTRY_SIZE) {
    UINT64 Entry = 0;
    CopyMem(&Entry, Xsdt + Offset, sizeof(Entry));
    const EFI_ACPI_DESCRIPTION_HEADER *Table = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Entry);
    DumpTable(Context, Table);
    if (Table->Signature != EFI_ACPI_FADT_SIGNATURE) continue;
    const auto *Fadt = reinterpret_cast<const EFI_ACPI_6_3_FIXED_ACPI_DESCRIPTION_TABLE *>(Table);
    UINT64 Facs = Fadt->XFirmwareCtrl != 0 ? Fadt->XFirmwareCtrl : Fadt->FirmwareCtrl;
    UINT64 Dsdt = Fadt->XDsdt != 0 ? Fadt->XDsdt : Fadt->Dsdt;
    DumpTable(Context, reinterpret_cast<const VOID *>(static_cast<UINTN>(Facs)));
    DumpTable(Context, reinterpret_cast<const VOID *>(static_cast<UINTN>(Dsdt)));
  }
}

// The limits the firmware's variable store sets for a non-volatile variable
// such as AcpiDataCache.
VOID ReportVariableStore(DumpContext *Context) {
  UINT64 Storage = 0;
  UINT64 Remaining = 0;
  UINT64 Largest = 0;
  EFI_STATUS Status = gRT->QueryVariableInfo(EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS,
                                             &Storage, &Remaining, &Largest);
  Report(Context, "variables storage 0x%lx remaining 0x%lx largest 0x%lx status %r\n", Storage, Remaining,
         Largest, Status);
}

// The table a region line names: "DSDT" or "SSDT:<OemTableId>".
const UINT8 *FindTable(DumpContext *Context, const CHAR8 *Name, UINTN NameLength) {
  for (UINTN Index = 0; Index < Context->TableCount; Index++) {
    const EFI_ACPI_DESCRIPTION_HEADER *Table = Context->Tables[Index];
    if (NameLength < 4 || CompareMem(&Table->Signature, Name, 4) != 0) continue;
    if (NameLength == 4) return reinterpret_cast<const UINT8 *>(Table);
    if (Name[4] != ':') continue;
    CHAR8 Id[8];
    SetMem(Id, sizeof(Id), ' ');
    for (UINTN Char = 5; Char < NameLength && Char - 5 < sizeof(Id); Char++) Id[Char - 5] = Name[Char];
    if (CompareMem(&Table->OemTableId, Id, sizeof(Id)) == 0) return reinterpret_cast<const UINT8 *>(Table);
  }
  return NULL;
}

VOID DumpRegion(DumpContext *Context, const CHAR8 *TableName, UINTN TableNameLength, CHAR8 *Path) {
  const UINT8 *Table = FindTable(Context, TableName, TableNameLength);
  UINT64 Address = 0;
  UINT64 Length = 0;
  EFI_STATUS Status = Table == NULL ? EFI_NOT_FOUND : ResolveOpRegion(Table, Path, &Address, &Length);
  if (!EFI_ERROR(Status) && (Address == 0 || Length == 0 || Length > kMaxRegionDump))
    Status = EFI_BAD_BUFFER_SIZE;
  if (!EFI_ERROR(Status)) {
    CHAR8 Name[48];
    AsciiSPrint(Name, sizeof(Name), "region-%a.bin", Path + 1);
    Status = WriteFile(Context, Name, reinterpret_cast<const VOID *>(static_cast<UINTN>(Address)),
                       static_cast<UINTN>(Length));
  }
  Report(Context, "region %a address 0x%lx length 0x%lx status %r memory %a\n", Path, Address, Length, Status,
         MemoryTypeName(Context, Address));
}

// Lines of "<table> <region path>" from fw_cfg.
VOID DumpRegions(DumpContext *Context) {
  VOID *List = NULL;
  UINT32 Size = 0;
  EFI_STATUS Status = FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_REGIONS, &List, &Size);
  if (EFI_ERROR(Status)) {
    Report(Context, "regions none %r\n", Status);
    return;
  }
  CHAR8 *Text = static_cast<CHAR8 *>(List);
  UINTN Pos = 0;
  while (Pos < Size) {
    UINTN LineEnd = Pos;
    while (LineEnd < Size && Text[LineEnd] != '\n') LineEnd++;
    Text[LineEnd] = 0;  // the buffer holds Size + 1 bytes
    UINTN Space = Pos;
    while (Space < LineEnd && Text[Space] != ' ') Space++;
    if (Space < LineEnd && Text[Space + 1] == '\\')
      DumpRegion(Context, Text + Pos, Space - Pos, Text + Space + 1);
    Pos = LineEnd + 1;
  }
  gBS->FreePool(List);
}

VOID DumpCacheVariables(DumpContext *Context) {
  UINTN Size = 0;
  UINT32 Attributes = 0;
  CHAR16 CacheName[] = u"AcpiDataCache";
  CHAR16 LockName[] = u"AcpiCacheLockIndicator";
  EFI_GUID CacheGuid = gAcpiDataCacheVariableGuid;
  EFI_GUID LockGuid = gAcpiCacheLockIndicatorGuid;
  EFI_STATUS Status = gRT->GetVariable(CacheName, &CacheGuid, &Attributes, &Size, NULL);
  UINT8 *Cache = NULL;
  if (Status == EFI_BUFFER_TOO_SMALL)
    Status = gBS->AllocatePool(EfiBootServicesData, Size + 4, reinterpret_cast<VOID **>(&Cache));
  if (!EFI_ERROR(Status)) Status = gRT->GetVariable(CacheName, &CacheGuid, &Attributes, &Size, Cache + 4);
  if (!EFI_ERROR(Status)) {
    CopyMem(Cache, &Attributes, 4);
    Status = WriteFile(Context, "cache.bin", Cache, Size + 4);
  }
  Report(Context, "cache attributes 0x%x size %u status %r\n", Attributes, static_cast<UINT32>(Size), Status);

  UINT8 Lock[8] = {0};
  UINTN LockSize = sizeof(Lock);
  UINT32 LockAttributes = 0;
  Status = gRT->GetVariable(LockName, &LockGuid, &LockAttributes, &LockSize, Lock);
  Report(Context, "lock attributes 0x%x size %u value %u status %r\n", LockAttributes,
         static_cast<UINT32>(LockSize), Lock[0], Status);

  // A different value with the attributes the cache policy demands: only the
  // lock can refuse it.
  UINT8 Garbage[16];
  SetMem(Garbage, sizeof(Garbage), 0x5A);
  Status =
      gRT->SetVariable(CacheName, &CacheGuid, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS,
                       sizeof(Garbage), Garbage);
  Report(Context, "overwrite status %r\n", Status);
  if (Cache != NULL) gBS->FreePool(Cache);
}

bool FwCfgHasItem(const CHAR8 *Name) {
  VOID *Item = NULL;
  UINT32 Size = 0;
  if (EFI_ERROR(FwCfgReadFile(gBS, Name, &Item, &Size))) return false;
  gBS->FreePool(Item);
  return true;
}

UINTN mBeforeExitAllocations;

// Allocates once, the first time the group is signalled: whether that makes
// the first ExitBootServices call fail shows whether the firmware checks the
// map key before or after this group's notifications.
VOID EFIAPI AllocateBeforeExit(EFI_EVENT, VOID *) {
  if (mBeforeExitAllocations++ != 0) return;
  VOID *Buffer = NULL;
  gBS->AllocatePool(EfiBootServicesData, 0x3000, &Buffer);
}

// After ExitBootServices only the serial port is left to report on.
VOID SerialLine(const CHAR8 *Format, ...) {
  CHAR8 Line[256];
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Length = AsciiVSPrintMarker(Line, sizeof(Line), PRINT_FLAGS_ASCII, Format, Marker);
  VA_END(Marker);
  SerialWrite(Line, Length);
}

// Type of the descriptor of Map (the map handed to ExitBootServices) that holds Address.
const CHAR8 *HeldMapType(const EFI_MEMORY_DESCRIPTOR *Map, UINTN MapSize, UINTN DescriptorSize,
                         UINT64 Address) {
  DumpContext View = {};
  View.MemoryMap = const_cast<EFI_MEMORY_DESCRIPTOR *>(Map);
  View.MemoryMapSize = MapSize;
  View.DescriptorSize = DescriptorSize;
  return MemoryTypeName(&View, Address);
}

// Leaves boot services as an OS loader does: the final memory map, then
// ExitBootServices with its key. Tables the driver installs from its
// ExitBootServices notification are installed after the firmware checked that
// key, so the map the loader holds cannot describe their pages. The XSDT is
// walked again afterwards and each table is reported on COM1 with the type the
// held map gives its address, and its bytes.
VOID ExitBootServicesAndReport(EFI_HANDLE ImageHandle, UINT64 RsdpAddress) {
  UINTN MapSize = 0;
  UINTN Key = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  EFI_MEMORY_DESCRIPTOR *Map = NULL;
  gBS->GetMemoryMap(&MapSize, NULL, &Key, &DescriptorSize, &Version);
  UINTN Capacity = MapSize + 16 * DescriptorSize;
  if (EFI_ERROR(gBS->AllocatePool(EfiLoaderData, Capacity, reinterpret_cast<VOID **>(&Map)))) return;
  EFI_EVENT BeforeExit = NULL;
  gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, AllocateBeforeExit, NULL,
                     &gEfiEventBeforeExitBootServicesGuid, &BeforeExit);
  EFI_STATUS Status = EFI_NOT_READY;
  EFI_STATUS FirstStatus = EFI_NOT_READY;
  UINT32 Attempts = 0;
  while (Attempts < 3 && EFI_ERROR(Status)) {
    MapSize = Capacity;
    Status = gBS->GetMemoryMap(&MapSize, Map, &Key, &DescriptorSize, &Version);
    if (!EFI_ERROR(Status)) Status = gBS->ExitBootServices(ImageHandle, Key);
    if (Attempts++ == 0) FirstStatus = Status;
  }
  // No boot services from here on.
  SerialLine("ebs exit status %r\n", Status);
  SerialLine("ebs attempts %u first %r before-exit notifications %u\n", Attempts, FirstStatus,
             static_cast<UINT32>(mBeforeExitAllocations));
  if (EFI_ERROR(Status) || RsdpAddress == 0) return;
  const auto *Rsdp =
      reinterpret_cast<const EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER *>(static_cast<UINTN>(RsdpAddress));
  const UINT8 *Xsdt = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Rsdp->XsdtAddress));
  UINT32 XsdtLength = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Xsdt)->Length;
  SerialLine("ebs xsdt address 0x%lx memory %a\n", Rsdp->XsdtAddress,
             HeldMapType(Map, MapSize, DescriptorSize, Rsdp->XsdtAddress));
  for (UINT32 Offset = EFI_ACPI_XSDT_ENTRY_OFFSET;
       XsdtLength >= EFI_ACPI_XSDT_ENTRY_SIZE && Offset <= XsdtLength - EFI_ACPI_XSDT_ENTRY_SIZE;
       Offset += EFI_ACPI_XSDT_ENTRY_SIZE) {
    UINT64 Entry = 0;
    CopyMem(&Entry, Xsdt + Offset, sizeof(Entry));
    const UINT8 *Table = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Entry));
    UINT32 Length = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Table)->Length;
    SerialLine("ebs table %c%c%c%c address 0x%lx length %u memory %a bytes ", Table[0], Table[1], Table[2],
               Table[3], Entry, Length, HeldMapType(Map, MapSize, DescriptorSize, Entry));
    for (UINT32 Index = 0; Index < Length && Index < 256; Index++) SerialLine("%02x", Table[Index]);
    SerialLine("\n");
  }
}

}  // namespace

extern "C" EFI_STATUS EFIAPI ZephrinQemuAppEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gImageHandle = ImageHandle;
  DumpContext Context = {};
  EFI_STATUS Status =
      gBS->AllocatePool(EfiBootServicesData, kReportSize, reinterpret_cast<VOID **>(&Context.Report));
  if (!EFI_ERROR(Status)) Status = OpenBootVolume(ImageHandle, &Context.Root);
  if (EFI_ERROR(Status)) {
    DebugPrint(DEBUG_ERROR, "%a: no report drive: %r\n", kName, Status);
  } else {
    Context.Report[0] = 0;
    ReadMemoryMap(&Context);
    VOID *PathText = NULL;
    UINT32 PathSize = 0;
    UINT8 Path = 0;
    if (!EFI_ERROR(FwCfgReadFile(gBS, TEST_PLATFORM_FW_CFG_PATH, &PathText, &PathSize))) {
      Path = FwCfgParseBootPath(static_cast<const CHAR8 *>(PathText), PathSize);
      gBS->FreePool(PathText);
    }
    Report(&Context, "path %a\n",
           Path == BOOT_PATH_CUSTOM ? "custom" : (Path == BOOT_PATH_CERTIFIED ? "certified" : "unknown"));
    ReportVariableStore(&Context);
    DumpTables(&Context);
    DumpRegions(&Context);
    if (Path == BOOT_PATH_CUSTOM) DumpCacheVariables(&Context);
    Report(&Context, "end\n");
    Status = WriteFile(&Context, "report.txt", Context.Report, Context.ReportLength);
    Context.Root->Flush(Context.Root);
    Context.Root->Close(Context.Root);
    if (Context.MemoryMap != NULL) gBS->FreePool(Context.MemoryMap);
    DebugPrint(DEBUG_INFO, "%a: report written: %r\n", kName, Status);
  }
  if (Context.Report != NULL) gBS->FreePool(Context.Report);
  if (FwCfgHasItem(TEST_PLATFORM_FW_CFG_EXIT_BOOT_SERVICES)) {
    UINT64 Rsdp = 0;
    for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
      if (CompareGuid(&gST->ConfigurationTable[Index].VendorGuid, &gEfiAcpi20TableGuid)) {
        Rsdp = reinterpret_cast<UINTN>(gST->ConfigurationTable[Index].VendorTable);
      }
    }
    DebugPrint(DEBUG_INFO, "%a: leaving boot services\n", kName);
    ExitBootServicesAndReport(ImageHandle, Rsdp);
  } else {
    DebugPrint(DEBUG_INFO, "%a: powering off\n", kName);
  }
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
  for (volatile bool Spin = true; Spin;) {
  }
  return EFI_SUCCESS;
}
