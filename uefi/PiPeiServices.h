// PEI services of the PI specification (volume 1): the services table a PEI
// module is handed at its entry, PPI descriptors, firmware-volume and file handles
// and the file and volume information the FFS services return. The table is
// listed member by member in the order the PI specification fixes, because a PEI
// module reaches each service by its offset in the table.
#ifndef ZEPHRIN_UEFI_PI_PEI_SERVICES_H_
#define ZEPHRIN_UEFI_PI_PEI_SERVICES_H_

#include "PiFirmwareFile.h"
#include "PiFirmwareVolume.h"
#include "Protocol/StatusCode.h"
#include "UefiSpec.h"

#define PEI_SERVICES_SIGNATURE 0x5652455320494550ULL  // "PEI SERV"

typedef VOID *EFI_PEI_FV_HANDLE;    // a firmware volume known to the PEI core
typedef VOID *EFI_PEI_FILE_HANDLE;  // a file inside such a volume
typedef UINT32 EFI_BOOT_MODE;
typedef UINT32 EFI_FV_FILE_ATTRIBUTES;

typedef struct _EFI_PEI_SERVICES EFI_PEI_SERVICES;

#define EFI_PEI_PPI_DESCRIPTOR_PPI 0x00000010
#define EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST 0x80000000

typedef struct {
  UINTN Flags;     // EFI_PEI_PPI_DESCRIPTOR_*
  EFI_GUID *Guid;  // name of the PPI
  VOID *Ppi;       // its interface
} EFI_PEI_PPI_DESCRIPTOR;

typedef struct {
  EFI_GUID FileName;
  EFI_FV_FILETYPE FileType;
  EFI_FV_FILE_ATTRIBUTES FileAttributes;
  VOID *Buffer;       // the file's data, behind its header
  UINT32 BufferSize;  // bytes of data
} EFI_FV_FILE_INFO;

typedef struct {
  EFI_FV_FILE_INFO Info;
  UINT32 AuthenticationStatus;
} EFI_FV_FILE_INFO2;

typedef struct {
  EFI_FVB_ATTRIBUTES_2 FvAttributes;
  EFI_GUID FvFormat;  // file system of the volume
  EFI_GUID FvName;    // from the extended header; zero when the volume has none
  VOID *FvStart;
  UINT64 FvSize;
} EFI_FV_INFO;

// PI interfaces a PEI module may be handed through the table but that this
// system never touches; declared so the table has its true members.
typedef struct _EFI_PEI_NOTIFY_DESCRIPTOR EFI_PEI_NOTIFY_DESCRIPTOR;
typedef struct _EFI_PEI_CPU_IO_PPI EFI_PEI_CPU_IO_PPI;
typedef struct _EFI_PEI_PCI_CFG2_PPI EFI_PEI_PCI_CFG2_PPI;

typedef EFI_STATUS(EFIAPI *EFI_PEI_INSTALL_PPI)(const EFI_PEI_SERVICES **PeiServices,
                                                const EFI_PEI_PPI_DESCRIPTOR *PpiList);
typedef EFI_STATUS(EFIAPI *EFI_PEI_REINSTALL_PPI)(const EFI_PEI_SERVICES **PeiServices,
                                                  const EFI_PEI_PPI_DESCRIPTOR *OldPpi,
                                                  const EFI_PEI_PPI_DESCRIPTOR *NewPpi);
typedef EFI_STATUS(EFIAPI *EFI_PEI_LOCATE_PPI)(const EFI_PEI_SERVICES **PeiServices, const EFI_GUID *Guid,
                                               UINTN Instance, EFI_PEI_PPI_DESCRIPTOR **PpiDescriptor,
                                               VOID **Ppi);
typedef EFI_STATUS(EFIAPI *EFI_PEI_NOTIFY_PPI)(const EFI_PEI_SERVICES **PeiServices,
                                               const EFI_PEI_NOTIFY_DESCRIPTOR *NotifyList);
typedef EFI_STATUS(EFIAPI *EFI_PEI_GET_BOOT_MODE)(const EFI_PEI_SERVICES **PeiServices,
                                                  EFI_BOOT_MODE *BootMode);
typedef EFI_STATUS(EFIAPI *EFI_PEI_SET_BOOT_MODE)(const EFI_PEI_SERVICES **PeiServices,
                                                  EFI_BOOT_MODE BootMode);
typedef EFI_STATUS(EFIAPI *EFI_PEI_GET_HOB_LIST)(const EFI_PEI_SERVICES **PeiServices, VOID **HobList);
// The core fills in HobType and HobLength (rounded up to a multiple of 8).
typedef EFI_STATUS(EFIAPI *EFI_PEI_CREATE_HOB)(const EFI_PEI_SERVICES **PeiServices, UINT16 Type,
                                               UINT16 Length, VOID **Hob);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_FIND_NEXT_VOLUME2)(const EFI_PEI_SERVICES **PeiServices,
                                                          UINTN Instance, EFI_PEI_FV_HANDLE *VolumeHandle);
// *FileHandle NULL starts at the first file; otherwise the search continues after it.
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_FIND_NEXT_FILE2)(const EFI_PEI_SERVICES **PeiServices,
                                                        EFI_FV_FILETYPE SearchType,
                                                        EFI_PEI_FV_HANDLE FvHandle,
                                                        EFI_PEI_FILE_HANDLE *FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_FIND_SECTION_DATA2)(const EFI_PEI_SERVICES **PeiServices,
                                                           EFI_SECTION_TYPE SectionType,
                                                           EFI_PEI_FILE_HANDLE FileHandle,
                                                           VOID **SectionData);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_FIND_SECTION_DATA3)(const EFI_PEI_SERVICES **PeiServices,
                                                           EFI_SECTION_TYPE SectionType,
                                                           UINTN SectionInstance,
                                                           EFI_PEI_FILE_HANDLE FileHandle, VOID **SectionData,
                                                           UINT32 *AuthenticationStatus);
typedef EFI_STATUS(EFIAPI *EFI_PEI_INSTALL_PEI_MEMORY)(const EFI_PEI_SERVICES **PeiServices,
                                                       EFI_PHYSICAL_ADDRESS MemoryBegin, UINT64 MemoryLength);
typedef EFI_STATUS(EFIAPI *EFI_PEI_ALLOCATE_PAGES)(const EFI_PEI_SERVICES **PeiServices,
                                                   EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                                   EFI_PHYSICAL_ADDRESS *Memory);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FREE_PAGES)(const EFI_PEI_SERVICES **PeiServices,
                                               EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
// PEI pool is never freed.
typedef EFI_STATUS(EFIAPI *EFI_PEI_ALLOCATE_POOL)(const EFI_PEI_SERVICES **PeiServices, UINTN Size,
                                                  VOID **Buffer);
typedef VOID(EFIAPI *EFI_PEI_COPY_MEM)(VOID *Destination, VOID *Source, UINTN Length);
typedef VOID(EFIAPI *EFI_PEI_SET_MEM)(VOID *Buffer, UINTN Size, UINT8 Value);
typedef EFI_STATUS(EFIAPI *EFI_PEI_REPORT_STATUS_CODE)(const EFI_PEI_SERVICES **PeiServices,
                                                       EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                                       UINT32 Instance, const EFI_GUID *CallerId,
                                                       const EFI_STATUS_CODE_DATA *Data);
typedef EFI_STATUS(EFIAPI *EFI_PEI_RESET_SYSTEM)(const EFI_PEI_SERVICES **PeiServices);
typedef VOID(EFIAPI *EFI_PEI_RESET2_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize,
                                            VOID *ResetData);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_FIND_BY_NAME)(const EFI_GUID *FileName, EFI_PEI_FV_HANDLE VolumeHandle,
                                                     EFI_PEI_FILE_HANDLE *FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_GET_FILE_INFO)(EFI_PEI_FILE_HANDLE FileHandle,
                                                      EFI_FV_FILE_INFO *FileInfo);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_GET_FILE_INFO2)(EFI_PEI_FILE_HANDLE FileHandle,
                                                       EFI_FV_FILE_INFO2 *FileInfo);
typedef EFI_STATUS(EFIAPI *EFI_PEI_FFS_GET_VOLUME_INFO)(EFI_PEI_FV_HANDLE VolumeHandle,
                                                        EFI_FV_INFO *VolumeInfo);
typedef EFI_STATUS(EFIAPI *EFI_PEI_REGISTER_FOR_SHADOW)(EFI_PEI_FILE_HANDLE FileHandle);

struct _EFI_PEI_SERVICES {
  EFI_TABLE_HEADER Hdr;
  // PPI functions
  EFI_PEI_INSTALL_PPI InstallPpi;
  EFI_PEI_REINSTALL_PPI ReInstallPpi;
  EFI_PEI_LOCATE_PPI LocatePpi;
  EFI_PEI_NOTIFY_PPI NotifyPpi;
  // boot mode functions
  EFI_PEI_GET_BOOT_MODE GetBootMode;
  EFI_PEI_SET_BOOT_MODE SetBootMode;
  // HOB functions
  EFI_PEI_GET_HOB_LIST GetHobList;
  EFI_PEI_CREATE_HOB CreateHob;
  // firmware volume functions
  EFI_PEI_FFS_FIND_NEXT_VOLUME2 FfsFindNextVolume;
  EFI_PEI_FFS_FIND_NEXT_FILE2 FfsFindNextFile;
  EFI_PEI_FFS_FIND_SECTION_DATA2 FfsFindSectionData;
  // PEI memory functions
  EFI_PEI_INSTALL_PEI_MEMORY InstallPeiMemory;
  EFI_PEI_ALLOCATE_PAGES AllocatePages;
  EFI_PEI_ALLOCATE_POOL AllocatePool;
  EFI_PEI_COPY_MEM CopyMem;
  EFI_PEI_SET_MEM SetMem;
  // status code and reset
  EFI_PEI_REPORT_STATUS_CODE ReportStatusCode;
  EFI_PEI_RESET_SYSTEM ResetSystem;
  // I/O abstractions
  EFI_PEI_CPU_IO_PPI *CpuIo;
  EFI_PEI_PCI_CFG2_PPI *PciCfg;
  // future installed services
  EFI_PEI_FFS_FIND_BY_NAME FfsFindFileByName;
  EFI_PEI_FFS_GET_FILE_INFO FfsGetFileInfo;
  EFI_PEI_FFS_GET_VOLUME_INFO FfsGetVolumeInfo;
  EFI_PEI_REGISTER_FOR_SHADOW RegisterForShadow;
  EFI_PEI_FFS_FIND_SECTION_DATA3 FindSectionData3;
  EFI_PEI_FFS_GET_FILE_INFO2 FfsGetFileInfo2;
  EFI_PEI_RESET2_SYSTEM ResetSystem2;
  EFI_PEI_FREE_PAGES FreePages;
};

// Layouts on both targets. UINT64 members are 8-byte aligned on IA-32 too, as
// UEFI requires of IA-32 compilers (MSVC does so; GCC builds use -malign-double).
#define PEI_SERVICE_OFFSET(Index) (sizeof(EFI_TABLE_HEADER) + (Index) * sizeof(VOID *))
static_assert(OFFSET_OF(EFI_PEI_SERVICES, InstallPpi) == PEI_SERVICE_OFFSET(0), "InstallPpi slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, LocatePpi) == PEI_SERVICE_OFFSET(2), "LocatePpi slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, GetHobList) == PEI_SERVICE_OFFSET(6), "GetHobList slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, CreateHob) == PEI_SERVICE_OFFSET(7), "CreateHob slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FfsFindNextVolume) == PEI_SERVICE_OFFSET(8),
              "FfsFindNextVolume slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FfsFindNextFile) == PEI_SERVICE_OFFSET(9), "FfsFindNextFile slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FfsFindSectionData) == PEI_SERVICE_OFFSET(10),
              "FfsFindSectionData slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, AllocatePool) == PEI_SERVICE_OFFSET(13), "AllocatePool slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, CpuIo) == PEI_SERVICE_OFFSET(18), "CpuIo slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FfsGetFileInfo) == PEI_SERVICE_OFFSET(21), "FfsGetFileInfo slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FfsGetVolumeInfo) == PEI_SERVICE_OFFSET(22),
              "FfsGetVolumeInfo slot");
static_assert(OFFSET_OF(EFI_PEI_SERVICES, FreePages) == PEI_SERVICE_OFFSET(27), "FreePages slot");
static_assert(OFFSET_OF(EFI_FV_FILE_INFO, FileType) == 16, "EFI_FV_FILE_INFO.FileType offset");
static_assert(OFFSET_OF(EFI_FV_FILE_INFO, FileAttributes) == 20, "EFI_FV_FILE_INFO.FileAttributes offset");
static_assert(OFFSET_OF(EFI_FV_FILE_INFO, Buffer) == 24, "EFI_FV_FILE_INFO.Buffer offset");
static_assert(OFFSET_OF(EFI_FV_INFO, FvFormat) == 4, "EFI_FV_INFO.FvFormat offset");
static_assert(OFFSET_OF(EFI_FV_INFO, FvName) == 20, "EFI_FV_INFO.FvName offset");
static_assert(OFFSET_OF(EFI_FV_INFO, FvStart) == 36 + (sizeof(VOID *) == 8 ? 4 : 0),
              "EFI_FV_INFO.FvStart offset");
#if defined(__i386__)
static_assert(sizeof(EFI_PEI_SERVICES) == 136, "EFI_PEI_SERVICES IA-32 layout");
static_assert(sizeof(EFI_PEI_PPI_DESCRIPTOR) == 12, "EFI_PEI_PPI_DESCRIPTOR IA-32 layout");
static_assert(OFFSET_OF(EFI_FV_FILE_INFO, BufferSize) == 28, "EFI_FV_FILE_INFO.BufferSize IA-32 offset");
static_assert(sizeof(EFI_FV_FILE_INFO) == 32, "EFI_FV_FILE_INFO IA-32 layout");
static_assert(OFFSET_OF(EFI_FV_INFO, FvSize) == 40, "EFI_FV_INFO.FvSize IA-32 offset");
static_assert(sizeof(EFI_FV_INFO) == 48, "EFI_FV_INFO IA-32 layout");
#else
static_assert(sizeof(EFI_PEI_SERVICES) == 248, "EFI_PEI_SERVICES x64 layout");
static_assert(sizeof(EFI_PEI_PPI_DESCRIPTOR) == 24, "EFI_PEI_PPI_DESCRIPTOR x64 layout");
static_assert(OFFSET_OF(EFI_FV_FILE_INFO, BufferSize) == 32, "EFI_FV_FILE_INFO.BufferSize x64 offset");
static_assert(sizeof(EFI_FV_FILE_INFO) == 40, "EFI_FV_FILE_INFO x64 layout");
static_assert(OFFSET_OF(EFI_FV_INFO, FvSize) == 48, "EFI_FV_INFO.FvSize x64 offset");
static_assert(sizeof(EFI_FV_INFO) == 56, "EFI_FV_INFO x64 layout");
#endif

#endif  // ZEPHRIN_UEFI_PI_PEI_SERVICES_H_
