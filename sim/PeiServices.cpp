// The simulated PEI core's services table and the state behind it.
#include "sim/PeiServices.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

PeiPhase *gCurrentPeiPhase = nullptr;

// Every service body runs on the current phase; a module that calls a service
// with no phase alive is a test bug, so it gets a failure it cannot miss.
PeiPhase *Phase() {
  return gCurrentPeiPhase;
}

EFI_STATUS EFIAPI SimInstallPpi(const EFI_PEI_SERVICES **, const EFI_PEI_PPI_DESCRIPTOR *List) {
  if (Phase() == nullptr || List == nullptr) return EFI_INVALID_PARAMETER;
  for (;; List++) {
    Phase()->InstallPpi(*List->Guid, List->Ppi);
    if ((List->Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0) return EFI_SUCCESS;
  }
}

EFI_STATUS EFIAPI SimReInstallPpi(const EFI_PEI_SERVICES **, const EFI_PEI_PPI_DESCRIPTOR *,
                                  const EFI_PEI_PPI_DESCRIPTOR *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimLocatePpi(const EFI_PEI_SERVICES **, const EFI_GUID *Guid, UINTN Instance,
                               EFI_PEI_PPI_DESCRIPTOR **Descriptor, VOID **Ppi) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoLocatePpi(Guid, Instance, Descriptor, Ppi);
}

EFI_STATUS EFIAPI SimNotifyPpi(const EFI_PEI_SERVICES **, const EFI_PEI_NOTIFY_DESCRIPTOR *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimGetBootMode(const EFI_PEI_SERVICES **, EFI_BOOT_MODE *BootMode) {
  if (BootMode == nullptr) return EFI_INVALID_PARAMETER;
  *BootMode = 0;  // BOOT_WITH_FULL_CONFIGURATION
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimSetBootMode(const EFI_PEI_SERVICES **, EFI_BOOT_MODE) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimGetHobList(const EFI_PEI_SERVICES **, VOID **HobList) {
  if (Phase() == nullptr || HobList == nullptr) return EFI_INVALID_PARAMETER;
  EFI_STATUS Status = Phase()->Enter(PeiService::GetHobList);
  if (EFI_ERROR(Status)) return Status;
  *HobList = const_cast<UINT8 *>(Phase()->HobList());
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimCreateHob(const EFI_PEI_SERVICES **, UINT16 Type, UINT16 Length, VOID **Hob) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoCreateHob(Type, Length, Hob);
}

EFI_STATUS EFIAPI SimFfsFindNextVolume(const EFI_PEI_SERVICES **, UINTN Instance, EFI_PEI_FV_HANDLE *Handle) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoFfsFindNextVolume(Instance, Handle);
}

EFI_STATUS EFIAPI SimFfsFindNextFile(const EFI_PEI_SERVICES **, EFI_FV_FILETYPE SearchType,
                                     EFI_PEI_FV_HANDLE Fv, EFI_PEI_FILE_HANDLE *File) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoFfsFindNextFile(SearchType, Fv, File);
}

EFI_STATUS EFIAPI SimFfsFindSectionData(const EFI_PEI_SERVICES **, EFI_SECTION_TYPE SectionType,
                                        EFI_PEI_FILE_HANDLE File, VOID **SectionData) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoFfsFindSectionData(SectionType, File, SectionData);
}

EFI_STATUS EFIAPI SimInstallPeiMemory(const EFI_PEI_SERVICES **, EFI_PHYSICAL_ADDRESS, UINT64) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimAllocatePages(const EFI_PEI_SERVICES **, EFI_MEMORY_TYPE, UINTN,
                                   EFI_PHYSICAL_ADDRESS *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimAllocatePool(const EFI_PEI_SERVICES **, UINTN Size, VOID **Buffer) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoAllocatePool(Size, Buffer);
}

VOID EFIAPI SimCopyMem(VOID *Destination, VOID *Source, UINTN Length) {
  std::memmove(Destination, Source, Length);
}

VOID EFIAPI SimSetMem(VOID *Buffer, UINTN Size, UINT8 Value) {
  std::memset(Buffer, Value, Size);
}

EFI_STATUS EFIAPI SimReportStatusCode(const EFI_PEI_SERVICES **, EFI_STATUS_CODE_TYPE, EFI_STATUS_CODE_VALUE,
                                      UINT32, const EFI_GUID *, const EFI_STATUS_CODE_DATA *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimResetSystem(const EFI_PEI_SERVICES **) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimFfsFindFileByName(const EFI_GUID *, EFI_PEI_FV_HANDLE, EFI_PEI_FILE_HANDLE *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimFfsGetFileInfo(EFI_PEI_FILE_HANDLE File, EFI_FV_FILE_INFO *FileInfo) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoFfsGetFileInfo(File, FileInfo);
}

EFI_STATUS EFIAPI SimFfsGetVolumeInfo(EFI_PEI_FV_HANDLE Fv, EFI_FV_INFO *VolumeInfo) {
  if (Phase() == nullptr) return EFI_NOT_READY;
  return Phase()->DoFfsGetVolumeInfo(Fv, VolumeInfo);
}

EFI_STATUS EFIAPI SimRegisterForShadow(EFI_PEI_FILE_HANDLE) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimFindSectionData3(const EFI_PEI_SERVICES **, EFI_SECTION_TYPE, UINTN, EFI_PEI_FILE_HANDLE,
                                      VOID **, UINT32 *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimFfsGetFileInfo2(EFI_PEI_FILE_HANDLE, EFI_FV_FILE_INFO2 *) {
  return EFI_UNSUPPORTED;
}

VOID EFIAPI SimResetSystem2(EFI_RESET_TYPE, EFI_STATUS, UINTN, VOID *) {}

EFI_STATUS EFIAPI SimFreePages(const EFI_PEI_SERVICES **, EFI_PHYSICAL_ADDRESS, UINTN) {
  return EFI_UNSUPPORTED;
}

// The platform's debug-message PPI: formats and records each message.
VOID EFIAPI SimPrintMessage(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  if (Phase() != nullptr) Phase()->RecordDebug(ErrorLevel, Format, Marker);
}

void FillTable(EFI_PEI_SERVICES *Table) {
  Table->Hdr.Signature = PEI_SERVICES_SIGNATURE;
  Table->Hdr.Revision = (1u << 16) | 70u;  // PI 1.7
  Table->Hdr.HeaderSize = sizeof(EFI_PEI_SERVICES);
  Table->InstallPpi = SimInstallPpi;
  Table->ReInstallPpi = SimReInstallPpi;
  Table->LocatePpi = SimLocatePpi;
  Table->NotifyPpi = SimNotifyPpi;
  Table->GetBootMode = SimGetBootMode;
  Table->SetBootMode = SimSetBootMode;
  Table->GetHobList = SimGetHobList;
  Table->CreateHob = SimCreateHob;
  Table->FfsFindNextVolume = SimFfsFindNextVolume;
  Table->FfsFindNextFile = SimFfsFindNextFile;
  Table->FfsFindSectionData = SimFfsFindSectionData;
  Table->InstallPeiMemory = SimInstallPeiMemory;
  Table->AllocatePages = SimAllocatePages;
  Table->AllocatePool = SimAllocatePool;
  Table->CopyMem = SimCopyMem;
  Table->SetMem = SimSetMem;
  Table->ReportStatusCode = SimReportStatusCode;
  Table->ResetSystem = SimResetSystem;
  Table->FfsFindFileByName = SimFfsFindFileByName;
  Table->FfsGetFileInfo = SimFfsGetFileInfo;
  Table->FfsGetVolumeInfo = SimFfsGetVolumeInfo;
  Table->RegisterForShadow = SimRegisterForShadow;
  Table->FindSectionData3 = SimFindSectionData3;
  Table->FfsGetFileInfo2 = SimFfsGetFileInfo2;
  Table->ResetSystem2 = SimResetSystem2;
  Table->FreePages = SimFreePages;
}

const EFI_HOB_GENERIC_HEADER *HobAt(const UINT8 *List, size_t Offset) {
  return reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(List + Offset);
}

}  // namespace

PeiPhase::PeiPhase(const HobListBuilder &Hobs, const PeiPhaseOptions &Options)
    : mPrevious(gCurrentPeiPhase), mOptions(Options) {
  FillTable(&mTable);
  std::vector<UINT8> List = Hobs.Build();
  size_t Capacity = std::max(mOptions.HobListCapacity, List.size());
  mHobs.reset(new UINT64[(Capacity + 7) / 8]());
  mOptions.HobListCapacity = Capacity;
  std::memcpy(mHobs.get(), List.data(), List.size());
  UINT8 *Bytes = reinterpret_cast<UINT8 *>(mHobs.get());
  UINT64 End = reinterpret_cast<UINTN>(Bytes) + EndOfListOffset();
  std::memcpy(Bytes + OFFSET_OF(HobHandoffInfoTable, EfiEndOfHobList), &End, sizeof(End));
  mDebugPpi.PrintMessage = SimPrintMessage;
  if (mOptions.InstallDebugMessagePpi) InstallPpi(gDebugMessagePpiGuid, &mDebugPpi);
  gCurrentPeiPhase = this;
}

PeiPhase::~PeiPhase() {
  gCurrentPeiPhase = mPrevious;
}

PeiPhase *PeiPhase::Current() {
  return gCurrentPeiPhase;
}

void PeiPhase::InstallPpi(const EFI_GUID &Guid, VOID *Ppi) {
  auto Entry = std::make_unique<InstalledPpi>();
  Entry->Guid = Guid;
  Entry->Descriptor = {EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST, &Entry->Guid, Ppi};
  mPpis.push_back(std::move(Entry));
}

bool PeiPhase::AddVolume(const std::vector<UINT8> &Image, std::string *Error) {
  auto Fv = std::make_unique<Volume>();
  Fv->Image = Image;
  FvImageReader Reader(Fv->Image);
  if (!Reader.Parse()) {
    *Error = Reader.Error();
    return false;
  }
  Fv->FvName = Reader.FvName();
  Fv->Files = Reader.Files();
  for (const FvFileView &File : Fv->Files) Fv->Sections.push_back(Reader.Sections(File));
  mVolumes.push_back(std::move(Fv));
  return true;
}

void PeiPhase::FailService(PeiService Service, EFI_STATUS Status, UINT64 Successes) {
  mForced[Service] = {Status, Successes};
}

UINT64 PeiPhase::Calls(PeiService Service) const {
  auto It = mCalls.find(Service);
  return It == mCalls.end() ? 0 : It->second;
}

EFI_STATUS PeiPhase::Enter(PeiService Service) {
  mCalls[Service]++;
  auto It = mForced.find(Service);
  if (It == mForced.end()) return EFI_SUCCESS;
  if (It->second.Successes > 0) {
    It->second.Successes--;
    return EFI_SUCCESS;
  }
  return It->second.Status;
}

std::vector<const EFI_HOB_GUID_TYPE *> PeiPhase::GuidHobs(const EFI_GUID &Name) const {
  std::vector<const EFI_HOB_GUID_TYPE *> Found;
  for (size_t Offset = 0;;) {
    const EFI_HOB_GENERIC_HEADER *Hob = HobAt(HobList(), Offset);
    if (Hob->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || Hob->HobLength < sizeof(*Hob)) break;
    const auto *GuidHob = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob);
    if (Hob->HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        std::memcmp(&GuidHob->Name, &Name, sizeof(Name)) == 0) {
      Found.push_back(GuidHob);
    }
    Offset += Hob->HobLength;
  }
  return Found;
}

std::vector<std::string> PeiPhase::DebugLines() const {
  std::vector<std::string> Lines;
  for (const PeiDebugRecord &Record : mDebug) Lines.push_back(Record.Text);
  return Lines;
}

size_t PeiPhase::EndOfListOffset() const {
  size_t Offset = 0;
  for (;;) {
    const EFI_HOB_GENERIC_HEADER *Hob = HobAt(HobList(), Offset);
    // A builder's list always ends in an end-of-list HOB; a raw HOB shorter than
    // its header would loop, so it is taken as the end too.
    if (Hob->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || Hob->HobLength < sizeof(*Hob)) return Offset;
    Offset += Hob->HobLength;
  }
}

EFI_STATUS PeiPhase::DoLocatePpi(const EFI_GUID *Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR **Descriptor,
                                 VOID **Ppi) {
  EFI_STATUS Status = Enter(PeiService::LocatePpi);
  if (EFI_ERROR(Status)) return Status;
  if (Guid == nullptr || Ppi == nullptr) return EFI_INVALID_PARAMETER;
  for (auto &Entry : mPpis) {
    if (std::memcmp(&Entry->Guid, Guid, sizeof(EFI_GUID)) != 0) continue;
    if (Instance-- != 0) continue;
    if (Descriptor != nullptr) *Descriptor = &Entry->Descriptor;
    *Ppi = Entry->Descriptor.Ppi;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

// As a PEI core does: the length is rounded up to a multiple of 8, the header is
// written, the end-of-list HOB moves behind the new HOB and the PHIT follows it.
// The body is left as the free memory held it (a pattern here), so a module that
// relies on a zeroed HOB shows up in a test.
EFI_STATUS PeiPhase::DoCreateHob(UINT16 Type, UINT16 Length, VOID **Hob) {
  EFI_STATUS Status = Enter(PeiService::CreateHob);
  if (EFI_ERROR(Status)) return Status;
  if (Hob == nullptr || Length < sizeof(EFI_HOB_GENERIC_HEADER)) return EFI_INVALID_PARAMETER;
  mRequestedLengths.push_back(Length);
  size_t Rounded = (static_cast<size_t>(Length) + 7) & ~static_cast<size_t>(7);
  if (Rounded > MAX_UINT16) return EFI_OUT_OF_RESOURCES;
  size_t Offset = EndOfListOffset();
  if (Offset + Rounded + sizeof(EFI_HOB_GENERIC_HEADER) > mOptions.HobListCapacity)
    return EFI_OUT_OF_RESOURCES;
  UINT8 *Bytes = reinterpret_cast<UINT8 *>(mHobs.get());
  std::memset(Bytes + Offset, 0xAF, Rounded);
  EFI_HOB_GENERIC_HEADER Header = {Type, static_cast<UINT16>(Rounded), 0};
  std::memcpy(Bytes + Offset, &Header, sizeof(Header));
  EFI_HOB_GENERIC_HEADER End = {EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER), 0};
  std::memcpy(Bytes + Offset + Rounded, &End, sizeof(End));
  UINT64 EndAddress = reinterpret_cast<UINTN>(Bytes) + Offset + Rounded;
  std::memcpy(Bytes + OFFSET_OF(HobHandoffInfoTable, EfiEndOfHobList), &EndAddress, sizeof(EndAddress));
  mCreated.push_back(HobAt(Bytes, Offset));
  *Hob = Bytes + Offset;
  return EFI_SUCCESS;
}

EFI_STATUS PeiPhase::DoAllocatePool(UINTN Size, VOID **Buffer) {
  EFI_STATUS Status = Enter(PeiService::AllocatePool);
  if (EFI_ERROR(Status)) return Status;
  if (Buffer == nullptr) return EFI_INVALID_PARAMETER;
  if (mFailAllocationAt != 0 && --mFailAllocationAt == 0) return EFI_OUT_OF_RESOURCES;
  // PEI pool comes out of the HOB list's memory, in 8-byte units; it is never freed.
  mPool.emplace_back(new UINT64[(Size + 7) / 8 + 1]);
  std::memset(mPool.back().get(), 0xAF, (Size + 7) / 8 * 8 + 8);
  mPoolBytes += Size;
  *Buffer = mPool.back().get();
  return EFI_SUCCESS;
}

PeiPhase::Volume *PeiPhase::VolumeOf(EFI_PEI_FV_HANDLE Handle) {
  for (auto &Fv : mVolumes) {
    if (Handle != nullptr && Fv->Image.data() == Handle) return Fv.get();
  }
  return nullptr;
}

bool PeiPhase::FindFile(EFI_PEI_FILE_HANDLE Handle, Volume **Owner, size_t *Index) {
  for (auto &Fv : mVolumes) {
    for (size_t File = 0; File < Fv->Files.size(); File++) {
      if (Fv->Image.data() + Fv->Files[File].Offset == Handle) {
        *Owner = Fv.get();
        *Index = File;
        return true;
      }
    }
  }
  return false;
}

EFI_STATUS PeiPhase::DoFfsFindNextVolume(UINTN Instance, EFI_PEI_FV_HANDLE *VolumeHandle) {
  EFI_STATUS Status = Enter(PeiService::FfsFindNextVolume);
  if (EFI_ERROR(Status)) return Status;
  if (VolumeHandle == nullptr) return EFI_INVALID_PARAMETER;
  if (Instance >= mVolumes.size()) return EFI_NOT_FOUND;
  *VolumeHandle = mVolumes[Instance]->Image.data();
  return EFI_SUCCESS;
}

EFI_STATUS PeiPhase::DoFfsGetVolumeInfo(EFI_PEI_FV_HANDLE VolumeHandle, EFI_FV_INFO *VolumeInfo) {
  EFI_STATUS Status = Enter(PeiService::FfsGetVolumeInfo);
  if (EFI_ERROR(Status)) return Status;
  Volume *Fv = VolumeOf(VolumeHandle);
  if (Fv == nullptr || VolumeInfo == nullptr) return EFI_INVALID_PARAMETER;
  EFI_FIRMWARE_VOLUME_HEADER Header;
  std::memcpy(&Header, Fv->Image.data(), sizeof(Header));
  *VolumeInfo = {};
  VolumeInfo->FvAttributes = Header.Attributes;
  VolumeInfo->FvFormat = Header.FileSystemGuid;
  if (Fv->FvName) VolumeInfo->FvName = *Fv->FvName;
  VolumeInfo->FvStart = Fv->Image.data();
  VolumeInfo->FvSize = Header.FvLength;
  return EFI_SUCCESS;
}

EFI_STATUS PeiPhase::DoFfsFindNextFile(EFI_FV_FILETYPE SearchType, EFI_PEI_FV_HANDLE VolumeHandle,
                                       EFI_PEI_FILE_HANDLE *FileHandle) {
  EFI_STATUS Status = Enter(PeiService::FfsFindNextFile);
  if (EFI_ERROR(Status)) return Status;
  Volume *Fv = VolumeOf(VolumeHandle);
  if (Fv == nullptr || FileHandle == nullptr) return EFI_INVALID_PARAMETER;
  size_t Next = 0;
  if (*FileHandle != nullptr) {
    Volume *Owner = nullptr;
    if (!FindFile(*FileHandle, &Owner, &Next) || Owner != Fv) return EFI_INVALID_PARAMETER;
    Next++;
  }
  for (; Next < Fv->Files.size(); Next++) {
    if (SearchType == EFI_FV_FILETYPE_ALL || Fv->Files[Next].Type == SearchType) {
      *FileHandle = Fv->Image.data() + Fv->Files[Next].Offset;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS PeiPhase::DoFfsGetFileInfo(EFI_PEI_FILE_HANDLE FileHandle, EFI_FV_FILE_INFO *FileInfo) {
  EFI_STATUS Status = Enter(PeiService::FfsGetFileInfo);
  if (EFI_ERROR(Status)) return Status;
  Volume *Fv = nullptr;
  size_t Index = 0;
  if (FileInfo == nullptr || !FindFile(FileHandle, &Fv, &Index)) return EFI_INVALID_PARAMETER;
  const FvFileView &File = Fv->Files[Index];
  *FileInfo = {};
  FileInfo->FileName = File.Name;
  FileInfo->FileType = File.Type;
  FileInfo->Buffer = Fv->Image.data() + File.Offset + File.HeaderSize;
  FileInfo->BufferSize = static_cast<UINT32>(File.Size - File.HeaderSize);
  return EFI_SUCCESS;
}

EFI_STATUS PeiPhase::DoFfsFindSectionData(EFI_SECTION_TYPE SectionType, EFI_PEI_FILE_HANDLE FileHandle,
                                          VOID **SectionData) {
  EFI_STATUS Status = Enter(PeiService::FfsFindSectionData);
  if (EFI_ERROR(Status)) return Status;
  Volume *Fv = nullptr;
  size_t Index = 0;
  if (SectionData == nullptr || !FindFile(FileHandle, &Fv, &Index)) return EFI_INVALID_PARAMETER;
  for (const FvSectionView &Section : Fv->Sections[Index]) {
    if (Section.Type != SectionType) continue;
    *SectionData = mSectionOverride != nullptr ? mSectionOverride : Fv->Image.data() + Section.DataOffset;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

void PeiPhase::RecordDebug(UINTN ErrorLevel, const CHAR8 *Format, va_list Marker) {
  mDebug.push_back({ErrorLevel, Format != nullptr ? Format : "", FormatUefiMessage(Format, Marker)});
}

}  // namespace sim
