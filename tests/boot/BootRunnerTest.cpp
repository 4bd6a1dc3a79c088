// The boot runner: one boot per child process, variables carried from boot to
// boot by the store file, globals fresh in every boot, and every way a boot can
// end (normal end, reset, crash, timeout, image refused) reported to the parent.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/BootRunner.h"
#include "uefi/Protocol/DebugMessage.h"
#include "uefi/Protocol/FailureNotify.h"
#include "uefi/Protocol/LoadedImage.h"

namespace {

constexpr EFI_GUID kTestGroup = {
    0x3C1E5B21, 0x7E0A, 0x4B7C, {0x9D, 0x4A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
constexpr EFI_GUID kTestVendor = {
    0x8F0C3D2E, 0x1B6A, 0x4E57, {0xA1, 0x0B, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}};
constexpr EFI_GUID kTestFvName = {
    0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
constexpr EFI_GUID kTestFileName = {
    0x2552C00F, 0x3CE4, 0x4B17, {0x91, 0x5C, 0x36, 0x9A, 0x01, 0x4A, 0x4C, 0xAE}};
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// A temporary variable store file, removed at the end of the test.
class StoreFile {
 public:
  StoreFile() {
    char Template[] = "/tmp/zephrin-boot-store-XXXXXX";
    int Fd = mkstemp(Template);
    if (Fd >= 0) close(Fd);
    mPath = Template;
    unlink(mPath.c_str());  // the first boot starts with no store at all
  }
  ~StoreFile() { unlink(mPath.c_str()); }
  const std::string &Path() const { return mPath; }

 private:
  std::string mPath;
};

std::string ReadVariable(sim::BootContext &Boot, const CHAR16 *Name) {
  std::u16string Copy(Name);
  EFI_GUID Vendor = kTestVendor;
  UINT8 Data[64] = {};
  UINTN Size = sizeof(Data);
  EFI_STATUS Status = Boot.Platform().RuntimeServices()->GetVariable(&Copy[0], &Vendor, nullptr, &Size, Data);
  if (EFI_ERROR(Status)) return "status " + std::to_string(Status & 0xFF);
  return std::string(reinterpret_cast<char *>(Data), Size);
}

EFI_STATUS WriteVariable(sim::BootContext &Boot, const CHAR16 *Name, const std::string &Value) {
  std::u16string Copy(Name);
  EFI_GUID Vendor = kTestVendor;
  std::string Data = Value;
  return Boot.Platform().RuntimeServices()->SetVariable(&Copy[0], &Vendor, kNvBs, Data.size(), &Data[0]);
}

extern "C" EFI_STATUS EFIAPI HostProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// A module global of the "driver": zero at every boot only if boots are processes.
int gBootCount = 0;

TEST(BootRunner, KeepsVariablesAcrossBootsAndStartsGlobalsFresh) {
  StoreFile Store;
  sim::BootOptions Options;
  Options.Platform.VariableStorePath = Store.Path();
  auto Body = [](sim::BootContext &Boot) {
    Boot.Note("boot count " + std::to_string(++gBootCount));
    Boot.Note("before: " + ReadVariable(Boot, u"Counter"));
    WriteVariable(Boot, u"Counter", ReadVariable(Boot, u"Counter") == "one" ? "two" : "one");
  };
  sim::BootResult First = sim::RunBoot(Options, Body);
  sim::BootResult Second = sim::RunBoot(Options, Body);
  ASSERT_EQ(First.End, sim::BootEnd::Normal) << First.Describe();
  ASSERT_EQ(Second.End, sim::BootEnd::Normal) << Second.Describe();
  EXPECT_EQ(First.Notes, (std::vector<std::string>{"boot count 1", "before: status 14"}));  // EFI_NOT_FOUND
  EXPECT_EQ(Second.Notes, (std::vector<std::string>{"boot count 1", "before: one"}));
  EXPECT_EQ(gBootCount, 0) << "boots must not touch the parent's globals";
  ASSERT_EQ(Second.VariableWrites.size(), 1u);
  EXPECT_EQ(Second.VariableWrites[0].Name, u"Counter");
  EXPECT_EQ(std::string(Second.VariableWrites[0].Data.begin(), Second.VariableWrites[0].Data.end()), "two");
  EXPECT_EQ(Second.VariableWrites[0].Status, EFI_SUCCESS);
  EXPECT_EQ(Second.VariableWrites[0].Stage, "setup");
}

TEST(BootRunner, RefusedVariableWriteIsRecordedWithoutReadingItsData) {
  sim::BootResult Result = sim::RunBoot(sim::BootOptions(), [](sim::BootContext &Boot) {
    std::u16string Name = u"Huge";
    EFI_GUID Vendor = kTestVendor;
    UINT8 Small[4] = {};
    // A size far past the buffer: the store refuses it before touching the data.
    Boot.Platform().RuntimeServices()->SetVariable(&Name[0], &Vendor, kNvBs, UINTN{1} << 40, Small);
  });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  ASSERT_EQ(Result.VariableWrites.size(), 1u);
  EXPECT_TRUE(EFI_ERROR(Result.VariableWrites[0].Status));
  EXPECT_EQ(Result.VariableWrites[0].DataSize, UINTN{1} << 40);
  EXPECT_TRUE(Result.VariableWrites[0].Data.empty());
}

// Notification functions of the script test log into the boot being run.
sim::BootContext *gScriptBoot = nullptr;
VOID EFIAPI NoteGroupSignal(EFI_EVENT, VOID *Context) {
  gScriptBoot->Note(static_cast<const char *>(Context));
}

void CreateGroupEvent(sim::BootContext &Boot, const EFI_GUID &Group, const char *Name) {
  EFI_EVENT Event = nullptr;
  Boot.Platform().BootServices()->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, NoteGroupSignal, Name,
                                                &Group, &Event);
}

TEST(BootRunner, RaisesTheScriptSignalsInOrderAfterTheBody) {
  sim::BootOptions Options;
  Options.Script = sim::DefaultBootScript(kTestGroup);
  Options.Script.push_back(sim::BootStep::SetVariable(u"EBS", kTestVendor, kNvBs, {1}));
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    gScriptBoot = &Boot;
    CreateGroupEvent(Boot, gEfiEventExitBootServicesGuid, "ExitBootServices");
    CreateGroupEvent(Boot, gEfiEventReadyToBootGuid, "ReadyToBoot");
    CreateGroupEvent(Boot, kTestGroup, "CustomPath");
    CreateGroupEvent(Boot, gEfiEndOfDxeEventGroupGuid, "EndOfDxe");
  });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.Notes,
            (std::vector<std::string>{"EndOfDxe", "CustomPath", "ReadyToBoot", "ExitBootServices"}));
  EXPECT_EQ(Result.Stage, "SetVariable");
  ASSERT_EQ(Result.VariableWrites.size(), 1u);
  EXPECT_EQ(Result.VariableWrites[0].Name, u"EBS");
  EXPECT_EQ(Result.VariableWrites[0].Stage, "SetVariable");
}

template <typename Protocol>
Protocol *Locate(sim::BootContext &Boot, const EFI_GUID &Guid) {
  EFI_GUID Copy = Guid;
  VOID *Interface = nullptr;
  Boot.Platform().BootServices()->LocateProtocol(&Copy, nullptr, &Interface);
  return static_cast<Protocol *>(Interface);
}

constexpr UINT8 kCaller[16] = {1, 2, 3};

TEST(BootRunner, RecordsOfEveryStageComeBackUpToAReset) {
  sim::BootOptions Options;
  Options.Script = {sim::BootStep::EndOfDxe()};
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    auto *Debug = Locate<DEBUG_MESSAGE_PROTOCOL>(Boot, gEfiDebugMessageProtocolGuid);
    auto *Failure = Locate<FAILURE_NOTIFY_PROTOCOL>(Boot, gFailureNotifyProtocolGuid);
    char Line[] = "first line\r\nsecond line\r\n";
    Debug->WriteMessage(Debug, 0x40, Line, sizeof(Line) - 1);
    Failure->Notify(8, nullptr, 0);
    Failure->Notify(18, kCaller, sizeof(kCaller));
    Boot.Platform().RuntimeServices()->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  });
  ASSERT_EQ(Result.End, sim::BootEnd::Reset) << Result.Describe();
  EXPECT_EQ(Result.DebugLines(), (std::vector<std::string>{"first line", "second line"}));
  ASSERT_EQ(Result.Records.Failures.size(), 2u);
  EXPECT_EQ(Result.Records.Failures[0].Code, 8u);
  EXPECT_TRUE(Result.Records.Failures[0].DataWasNull);
  EXPECT_EQ(Result.Records.Failures[1].Code, 18u);
  EXPECT_EQ(Result.Records.Failures[1].Data, std::vector<UINT8>(kCaller, kCaller + 16));
  EXPECT_EQ(Result.Records.Reset.Type, EfiResetCold);
  EXPECT_EQ(Result.Records.Reset.Status, EFI_SUCCESS);
}

TEST(BootRunner, InspectSeesThePlatformAfterTheLastSignal) {
  sim::BootOptions Options;
  Options.Script = {sim::BootStep::EndOfDxe(), sim::BootStep::ExitBootServices()};
  sim::BootResult Result = sim::RunDriverBoot(
      Options, sim::DriverSource::HostLibrary(HostProbeEntry), nullptr, [](sim::BootContext &Boot) {
        Boot.Note(std::string("end of dxe ") + (Boot.Platform().EndOfDxeSignaled() ? "seen" : "missed"));
        Boot.Note(std::string("runtime ") + (Boot.Platform().AtRuntime() ? "reached" : "missed"));
        Boot.RunScript();  // already run: must not signal twice
      });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.Stage, "inspect");
  EXPECT_EQ(Result.Notes, (std::vector<std::string>{"end of dxe seen", "runtime reached"}));
}

TEST(BootRunner, ResetEndsTheBootAndSkipsTheRestOfTheScript) {
  sim::BootOptions Options;
  Options.Script = {sim::BootStep::EndOfDxe(), sim::BootStep::ReadyToBoot()};
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    Boot.Note("before reset");
    Boot.Platform().RuntimeServices()->ResetSystem(EfiResetWarm, EFI_DEVICE_ERROR, 0, nullptr);
    Boot.Note("after reset");
  });
  EXPECT_EQ(Result.End, sim::BootEnd::Reset) << Result.Describe();
  EXPECT_TRUE(Result.Records.ResetHappened);
  EXPECT_EQ(Result.Records.Reset.Type, EfiResetWarm);
  EXPECT_EQ(Result.Records.Reset.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Result.Stage, "setup");
  EXPECT_EQ(Result.Notes, std::vector<std::string>{"before reset"});
}

// A firmware whose reset returns: the reset is reported at once, then the caller
// goes on; a caller that stops is ended by the time limit, the reset kept.
TEST(BootRunner, ResetThatReturnsIsReportedAndTheBootGoesOn) {
  sim::BootOptions Options;
  Options.Platform.ResetSystemReturns = true;
  Options.TimeoutSeconds = 1;
  Options.Script = {sim::BootStep::EndOfDxe()};
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    Boot.Platform().RuntimeServices()->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
    Boot.Note("after reset");
    for (;;) pause();
  });
  EXPECT_EQ(Result.End, sim::BootEnd::Timeout) << Result.Describe();
  EXPECT_EQ(Result.Stage, sim::kStageAfterReset);
  EXPECT_TRUE(Result.Records.ResetHappened);
  EXPECT_EQ(Result.Records.Reset.Type, EfiResetCold);
  EXPECT_TRUE(Result.Records.Faults.empty()) << Result.Describe();
}

// SIGABRT: sanitizers leave it to the default action, so the test sees the
// signal in every build.
VOID EFIAPI CrashingNotify(EFI_EVENT, VOID *) {
  raise(SIGABRT);
}

TEST(BootRunner, CrashIsReportedWithTheStageAndEverythingSentBefore) {
  sim::BootOptions Options;
  Options.Script = {sim::BootStep::EndOfDxe(), sim::BootStep::ReadyToBoot()};
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    Boot.Note("setting up");
    EFI_EVENT Event = nullptr;
    // The ReadyToBoot callback dies, as a driver bug would.
    Boot.Platform().BootServices()->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CrashingNotify, nullptr,
                                                  &gEfiEventReadyToBootGuid, &Event);
  });
  EXPECT_EQ(Result.End, sim::BootEnd::Crash) << Result.Describe();
  EXPECT_EQ(Result.Signal, SIGABRT);
  EXPECT_EQ(Result.Stage, "ReadyToBoot");
  EXPECT_EQ(Result.Notes, std::vector<std::string>{"setting up"});
}

TEST(BootRunner, ExitInsideTheBootCountsAsACrash) {
  sim::BootOptions Options;
  Options.Script = {sim::BootStep::EndOfDxe()};
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &Boot) {
    Boot.Note("going");
    _exit(7);  // what a sanitizer does after its report
  });
  EXPECT_EQ(Result.End, sim::BootEnd::Crash) << Result.Describe();
  EXPECT_EQ(Result.Signal, 0);
  EXPECT_EQ(Result.Error, "the boot process exited with status 7 before the boot ended");
  EXPECT_EQ(Result.Stage, "setup");
}

TEST(BootRunner, HangingBootIsKilledAtTheTimeout) {
  sim::BootOptions Options;
  Options.TimeoutSeconds = 1;
  sim::BootResult Result = sim::RunBoot(Options, [](sim::BootContext &) {
    for (;;) pause();
  });
  EXPECT_EQ(Result.End, sim::BootEnd::Timeout) << Result.Describe();
  EXPECT_EQ(Result.Stage, "setup");
}

// Touches Bytes of stack, as a driver with a large local work area does.
__attribute__((noinline)) int UseStack(size_t Bytes) {
  volatile char *Area = static_cast<volatile char *>(__builtin_alloca(Bytes));
  for (size_t Index = 0; Index < Bytes; Index += 512) Area[Index] = 1;
  return Area[0];
}

TEST(BootRunner, StackRunsOutWhereAFirmwareStackWould) {
  auto Body = [](size_t Bytes) {
    return [Bytes](sim::BootContext &Boot) {
      UseStack(Bytes);
      Boot.Note("survived");
    };
  };
  sim::BootOptions Firmware;  // the default: a 128 KiB firmware stack
  sim::BootResult Small = sim::RunBoot(Firmware, Body(16 * 1024));
  EXPECT_EQ(Small.End, sim::BootEnd::Normal) << Small.Describe();
  sim::BootResult Large = sim::RunBoot(Firmware, Body(512 * 1024));
  EXPECT_EQ(Large.End, sim::BootEnd::Crash) << Large.Describe();
  EXPECT_TRUE(Large.Notes.empty());

  sim::BootOptions Host;
  Host.StackBytes = 0;  // the process's own stack
  sim::BootResult OnHostStack = sim::RunBoot(Host, Body(512 * 1024));
  EXPECT_EQ(OnHostStack.End, sim::BootEnd::Normal) << OnHostStack.Describe();
}

TEST(BootRunner, PoolStatisticsAndLeaksComeBack) {
  sim::BootResult Result = sim::RunBoot(sim::BootOptions(), [](sim::BootContext &Boot) {
    EFI_BOOT_SERVICES *Bs = Boot.Platform().BootServices();
    VOID *Kept = nullptr;
    VOID *Freed = nullptr;
    Bs->AllocatePool(EfiBootServicesData, 0x300, &Freed);
    Bs->AllocatePool(EfiBootServicesData, 0x100, &Kept);
    Bs->FreePool(Freed);
  });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.PoolAllocations, 2u);
  EXPECT_EQ(Result.PoolOutstanding, 1u);
  EXPECT_EQ(Result.PoolOutstandingBytes, 0x100u);
  EXPECT_EQ(Result.PoolPeakBytes, 0x400u);
  EXPECT_NE(Result.LeakReport, "");
}

TEST(BootRunner, ImageThatCannotBeLoadedEndsTheBootWithTheLoaderMessage) {
  sim::BootResult Result =
      sim::RunDriverBoot(sim::BootOptions(), sim::DriverSource::ImageFile("/nonexistent/driver.efi"));
  EXPECT_EQ(Result.End, sim::BootEnd::Error);
  EXPECT_EQ(Result.Error,
            "cannot load /nonexistent/driver.efi: cannot open image file /nonexistent/driver.efi");
  EXPECT_FALSE(Result.EntryReturned);
}

// ---------------------------------------------------------------------------
// The same scenario on a driver linked into this program and on a loaded image.

// Host twin of fixtures/ProbeDriver.cpp: checks its image handle the same way.
extern "C" EFI_STATUS EFIAPI HostProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = nullptr;
  EFI_GUID Guid = gEfiLoadedImageProtocolGuid;
  EFI_STATUS Status =
      SystemTable->BootServices->HandleProtocol(ImageHandle, &Guid, reinterpret_cast<VOID **>(&LoadedImage));
  if (EFI_ERROR(Status) || LoadedImage == nullptr) return EFI_NOT_FOUND;
  if (LoadedImage->SystemTable != SystemTable ||
      LoadedImage->Revision != EFI_LOADED_IMAGE_PROTOCOL_REVISION) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

sim::DriverSource ProbeSource(bool Image) {
#ifdef ZEPHRIN_PROBE_DRIVER
  if (Image) return sim::DriverSource::ImageFile(ZEPHRIN_PROBE_DRIVER);
#else
  (void)Image;  // the image rows skip themselves
#endif
  return sim::DriverSource::HostLibrary(HostProbeEntry);
}

bool ProbeImageBuilt() {
#ifdef ZEPHRIN_PROBE_DRIVER
  return true;
#else
  return false;
#endif
}

class DriverBoot : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !ProbeImageBuilt()) GTEST_SKIP() << "probe driver image not built";
  }
};

// Reads back the device paths of the image handle, as the driver would.
void NoteImageHandle(sim::BootContext &Boot, EFI_HANDLE Handle) {
  EFI_GUID LoadedGuid = gEfiLoadedImageProtocolGuid;
  EFI_GUID PathGuid = gEfiLoadedImageDevicePathProtocolGuid;
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
  UINT8 *FullPath = nullptr;
  EFI_BOOT_SERVICES *Bs = Boot.Platform().BootServices();
  Bs->HandleProtocol(Handle, &LoadedGuid, reinterpret_cast<VOID **>(&Loaded));
  Bs->HandleProtocol(Handle, &PathGuid, reinterpret_cast<VOID **>(&FullPath));
  if (Loaded == nullptr || FullPath == nullptr) return Boot.Note("protocols missing");
  const UINT8 *File = reinterpret_cast<const UINT8 *>(Loaded->FilePath);
  Boot.Note("device " + std::string(Loaded->DeviceHandle == Boot.Platform().SystemTable() ? "ok" : "wrong"));
  Boot.Note("file node " + std::to_string(File[0]) + "/" + std::to_string(File[1]) + "/" +
            std::to_string(File[2]) + (memcmp(File + 4, &kTestFileName, 16) == 0 ? " named" : " unnamed"));
  Boot.Note("end node " + std::to_string(File[20]) + "/" + std::to_string(File[21]));
  Boot.Note("volume node " + std::to_string(FullPath[0]) + "/" + std::to_string(FullPath[1]) +
            (memcmp(FullPath + 4, &kTestFvName, 16) == 0 ? " named" : " unnamed"));
}

TEST_P(DriverBoot, EntryRunsWithAnImageHandleNamingItsVolumeAndFile) {
  sim::BootResult Result =
      sim::RunDriverBoot(sim::BootOptions(), ProbeSource(GetParam()), [](sim::BootContext &Boot) {
        sim::ImageOrigin Origin;
        // Any non-NULL handle value proves the field is passed through; the system
        // table pointer is one the body can recognise again.
        Origin.DeviceHandle = Boot.Platform().SystemTable();
        Origin.FvName = kTestFvName;
        Origin.FileName = kTestFileName;
        Boot.SetImageOrigin(Origin);
      });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_TRUE(Result.EntryReturned);
  EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Result.Describe();
  EXPECT_EQ(Result.Records.Faults, std::vector<std::string>());
}

TEST_P(DriverBoot, ImageHandleCarriesTheDevicePaths) {
  sim::BootResult Result = sim::RunBoot(sim::BootOptions(), [](sim::BootContext &Boot) {
    sim::ImageOrigin Origin;
    Origin.DeviceHandle = Boot.Platform().SystemTable();
    Origin.FvName = kTestFvName;
    Origin.FileName = kTestFileName;
    Boot.SetImageOrigin(Origin);
    Boot.StartDriver(ProbeSource(GetParam()));
    EFI_HANDLE *Handles = nullptr;
    UINTN Count = 0;
    EFI_GUID LoadedGuid = gEfiLoadedImageProtocolGuid;
    Boot.Platform().BootServices()->LocateHandleBuffer(ByProtocol, &LoadedGuid, nullptr, &Count, &Handles);
    Boot.Note("image handles " + std::to_string(Count));
    if (Count == 1) NoteImageHandle(Boot, Handles[0]);
    Boot.Platform().BootServices()->FreePool(Handles);
  });
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.Notes, (std::vector<std::string>{"image handles 1", "device ok", "file node 4/6/20 named",
                                                    "end node 127/255", "volume node 4/7 named"}));
}

TEST_P(DriverBoot, EveryBootLoadsAFreshCopy) {
  for (int Boot = 0; Boot < 2; Boot++) {
    sim::BootResult Result = sim::RunDriverBoot(sim::BootOptions(), ProbeSource(GetParam()));
    ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
    EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << "boot " << Boot << ": " << Result.Describe();
  }
}

INSTANTIATE_TEST_SUITE_P(Driver, DriverBoot, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &Info) {
                           return Info.param ? "LoadedImage" : "HostLibrary";
                         });

// The real driver image of this tree, started on a default platform.
TEST(DxeImageBoot, LoadsAndItsEntryPointRuns) {
#ifndef ZEPHRIN_DXE_IMAGE
  GTEST_SKIP() << "driver image not configured (configure with -DZEPHRIN_FIRMWARE=ON)";
#else
  if (access(ZEPHRIN_DXE_IMAGE, R_OK) != 0)
    GTEST_SKIP() << "driver image " << ZEPHRIN_DXE_IMAGE << " not built";
  sim::BootResult Result =
      sim::RunDriverBoot(sim::BootOptions(), sim::DriverSource::ImageFile(ZEPHRIN_DXE_IMAGE));
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_TRUE(Result.EntryReturned);
  EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Result.Describe();
  // The image's own code ran: its first message came through the platform.
  ASSERT_FALSE(Result.DebugLines().empty()) << Result.Describe();
  EXPECT_EQ(Result.DebugLines()[0], "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Enter");
  EXPECT_EQ(Result.Records.Faults, std::vector<std::string>());
#endif
}

}  // namespace
