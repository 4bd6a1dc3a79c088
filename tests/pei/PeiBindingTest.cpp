// The PEI binding of the product-data library (volume search, debug output) and
// the simulated PEI core it runs on.
#include <gtest/gtest.h>

#include <cstring>

#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductDataPlatform.h"
#include "tests/pei/PeiTestBoard.h"

namespace pei_test {
namespace {

using sim::BuildProductDataContainer;
using sim::PeiService;
using Bytes = std::vector<UINT8>;

std::unique_ptr<sim::PeiPhase> Start(const PeiBoard &Board) {
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  EXPECT_NE(Phase, nullptr) << Error;
  if (Phase != nullptr) SetPeiServicesTablePointerFromEntry(Phase->Services());
  return Phase;
}

// ---- volume search ----

TEST(PeiVolumeSearch, ReturnsContainersInPlaceInVolumeOrder) {
  PeiBoard Board;
  Bytes First = BuildProductDataContainer({{1, 1, {0xA1}}});
  Bytes Second = BuildProductDataContainer({{2, 2, {0xB1, 0xB2}}, {3, 3, {}}});
  Bytes Third = BuildProductDataContainer({{4, 4, {0xC1}}});
  Board.SecondaryFile(kFileA, Third).PrimaryFile(kFileA, First).PrimaryFile(kFileB, Second);
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);

  FV_SEARCH_CONTEXT *Context = nullptr;
  std::vector<Bytes> Seen;
  UINTN Size = 0;
  VOID *Container = nullptr;
  while (!EFI_ERROR(GetNextProductDataFromFv(&Context, &Size, &Container))) {
    const UINT8 *Bytes8 = static_cast<const UINT8 *>(Container);
    Seen.emplace_back(Bytes8, Bytes8 + Size);
  }
  EXPECT_EQ(Seen, (std::vector<Bytes>{First, Second, Third}));
  EXPECT_EQ(Size, 0u);
  EXPECT_EQ(Container, nullptr);
  // The context stays in PEI pool; nothing else was allocated (no copies).
  EXPECT_EQ(Phase->Calls(PeiService::AllocatePool), 1u);
  EXPECT_EQ(Phase->PoolBytes(), sizeof(FV_SEARCH_CONTEXT));
}

TEST(PeiVolumeSearch, ContainerPointsIntoTheVolume) {
  PeiBoard Board;
  Board.PrimaryFile(kFileA, BuildProductDataContainer({{1, 1, {0xA1}}}));
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 0;
  VOID *Container = nullptr;
  ASSERT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_SUCCESS);
  EFI_PEI_FV_HANDLE Volume = nullptr;
  EFI_FV_INFO Info{};
  ASSERT_EQ(Phase->DoFfsFindNextVolume(0, &Volume), EFI_SUCCESS);
  ASSERT_EQ(Phase->DoFfsGetVolumeInfo(Volume, &Info), EFI_SUCCESS);
  const UINT8 *Start8 = static_cast<const UINT8 *>(Info.FvStart);
  EXPECT_GE(static_cast<const UINT8 *>(Container), Start8);
  EXPECT_LT(static_cast<const UINT8 *>(Container), Start8 + Info.FvSize);
}

// Once the search has reported the end, further calls report it again without
// asking the core for another file: neither past the volume table (the secondary
// volume missing) nor from the first file of the last volume again.
TEST(PeiVolumeSearch, EndOfSearchStaysTheEnd) {
  for (bool WithSecondary : {false, true}) {
    SCOPED_TRACE(WithSecondary ? "both volumes" : "primary volume only");
    PeiBoard Board;
    Board.PrimaryFile(kFileA, BuildProductDataContainer({{1, 1, {0xA1}}}));
    if (WithSecondary) Board.SecondaryFile(kFileB, BuildProductDataContainer({{2, 2, {0xB1}}}));
    auto Phase = Start(Board);
    ASSERT_NE(Phase, nullptr);
    FV_SEARCH_CONTEXT *Context = nullptr;
    UINTN Size = 0;
    VOID *Container = nullptr;
    size_t Found = 0;
    while (!EFI_ERROR(GetNextProductDataFromFv(&Context, &Size, &Container))) Found++;
    EXPECT_EQ(Found, WithSecondary ? 2u : 1u);
    const size_t FileCalls = Phase->Calls(PeiService::FfsFindNextFile);
    for (int Again = 0; Again < 2; Again++) {
      EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_NOT_FOUND);
      EXPECT_EQ(Container, nullptr);
    }
    EXPECT_EQ(Phase->Calls(PeiService::FfsFindNextFile), FileCalls);
  }
}

TEST(PeiVolumeSearch, NullArgumentsAreRejected) {
  PeiBoard Board;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 7;
  VOID *Container = &Size;
  EXPECT_EQ(GetNextProductDataFromFv(nullptr, &Size, &Container), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetNextProductDataFromFv(&Context, nullptr, &Container), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindProductDataVolumes(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Phase->Calls(PeiService::AllocatePool), 0u);
}

TEST(PeiVolumeSearch, NoProductDataVolumeIsNotFound) {
  PeiBoard Board;
  Board.Other.AddRawFile(kFileA, BuildProductDataContainer({{1, 1, {1}}}));
  Board.HasOther = true;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 0;
  VOID *Container = nullptr;
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_NOT_FOUND);
  EXPECT_EQ(Phase->Calls(PeiService::FfsFindNextFile), 0u);
}

TEST(PeiVolumeSearch, EveryVolumeIsAskedAndTheLastOfANameWins) {
  PeiBoard Board;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  std::string Error;
  sim::FvImageBuilder Early, Late;
  Early.SetFvName(gProductDataPrimaryFvGuid).AddRawFile(kFileA, {1});
  Late.SetFvName(gProductDataPrimaryFvGuid).AddRawFile(kFileB, {2});
  ASSERT_TRUE(Phase->AddVolume(Early.Build(), &Error)) << Error;
  ASSERT_TRUE(Phase->AddVolume(Late.Build(), &Error)) << Error;
  FV_SEARCH_CONTEXT Context{};
  InitFvSearchContext(&Context);
  ASSERT_EQ(FindProductDataVolumes(&Context), EFI_SUCCESS);
  EFI_PEI_FV_HANDLE Second = nullptr;
  ASSERT_EQ(Phase->DoFfsFindNextVolume(1, &Second), EFI_SUCCESS);
  EXPECT_EQ(Context.Volumes[0].Handle, Second);
  EXPECT_EQ(Context.Volumes[1].Handle, nullptr);
  EXPECT_EQ(Phase->Calls(PeiService::FfsGetVolumeInfo), 2u);
}

TEST(PeiVolumeSearch, FailureAfterAFirstContainerEndsTheSearch) {
  PeiBoard Board;
  Board.PrimaryFile(kFileA, BuildProductDataContainer({{1, 1, {1}}}))
      .PrimaryFile(kFileB, BuildProductDataContainer({{2, 2, {2}}}));
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 0;
  VOID *Container = nullptr;
  ASSERT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_SUCCESS);
  Phase->FailService(PeiService::FfsFindNextFile, EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(
      Phase->DebugLines(),
      std::vector<std::string>{"[GetNextProductDataFromFv]: An unexpected error occurred finding the next "
                               "product data FFS file - Volume Corrupt.\n"});
}

// ---- debug output ----

TEST(PeiDebugOutput, LevelsOutsideTheMaskAreNotPrinted) {
  PeiBoard Board;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  DebugPrint(0x1, "dropped %d\n", 1);
  DebugPrint(0x200, "kept %d\n", 2);
  DebugPrint(DEBUG_INFO, "info\n");
  ASSERT_EQ(Phase->DebugRecords().size(), 2u);
  EXPECT_EQ(Phase->DebugRecords()[0].ErrorLevel, 0x200u);
  EXPECT_EQ(Phase->DebugRecords()[0].Text, "kept 2\n");
  EXPECT_EQ(Phase->DebugRecords()[1].Format, "info\n");
  // The filter decides before the PPI is looked up.
  EXPECT_EQ(Phase->Calls(PeiService::LocatePpi), 2u);
}

TEST(PeiDebugOutput, FormatAndArgumentsReachThePpiUnformatted) {
  PeiBoard Board;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  DebugPrint(DEBUG_ERROR, "[%a]: %r %g 0x%x %d\n", "Who", EFI_NOT_FOUND, &gFeatureControlHobGuid, 0xABu, -3);
  ASSERT_EQ(Phase->DebugRecords().size(), 1u);
  EXPECT_EQ(Phase->DebugRecords()[0].Format, "[%a]: %r %g 0x%x %d\n");
  EXPECT_EQ(Phase->DebugRecords()[0].ErrorLevel, DEBUG_ERROR);
  EXPECT_EQ(Phase->DebugRecords()[0].Text, "[Who]: Not Found 03F3D4A7-E935-4E05-B5AA-C4FC61118C7B 0xAB -3\n");
}

TEST(PeiDebugOutput, WithoutThePpiMessagesAreDropped) {
  PeiBoard Board;
  Board.Options.InstallDebugMessagePpi = false;
  Board.HobContainer(BuildProductDataContainer({FlagsItem(5, {1})}));
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  EXPECT_EQ(RunModule(*Phase), EFI_SUCCESS);
  EXPECT_TRUE(Phase->DebugRecords().empty());
  EXPECT_EQ(Phase->Calls(PeiService::LocatePpi), 2u);  // one look-up per message
}

TEST(PeiDebugOutput, ThePpiIsLookedUpAtEveryMessage) {
  PeiBoard Board;
  Board.Options.InstallDebugMessagePpi = false;
  auto Phase = Start(Board);
  ASSERT_NE(Phase, nullptr);
  DebugPrint(DEBUG_WARN, "before\n");
  // A PPI installed while PEI runs prints the messages after it.
  static std::vector<std::string> Printed;
  static DEBUG_MESSAGE_PPI Late{};
  Late.PrintMessage = [](UINTN, const CHAR8 *Format, VA_LIST) EFIAPI { Printed.push_back(Format); };
  Phase->InstallPpi(gDebugMessagePpiGuid, &Late);
  DebugPrint(DEBUG_WARN, "after\n");
  EXPECT_EQ(Printed, std::vector<std::string>{"after\n"});
}

// ---- the simulated PEI core ----

TEST(SimPeiCore, CreateHobRoundsMovesTheEndAndUpdatesThePhit) {
  sim::PeiPhase Phase;
  VOID *Hob = nullptr;
  ASSERT_EQ(Phase.Table()->CreateHob(Phase.Services(), EFI_HOB_TYPE_GUID_EXTENSION, 27, &Hob), EFI_SUCCESS);
  const auto *Header = static_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
  EXPECT_EQ(Header->HobType, EFI_HOB_TYPE_GUID_EXTENSION);
  EXPECT_EQ(Header->HobLength, 32);
  const UINT8 *End = static_cast<const UINT8 *>(Hob) + 32;
  EXPECT_EQ(reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(End)->HobType, EFI_HOB_TYPE_END_OF_HOB_LIST);
  UINT64 PhitEnd = 0;
  std::memcpy(&PhitEnd, Phase.HobList() + OFFSET_OF(sim::HobHandoffInfoTable, EfiEndOfHobList), 8);
  EXPECT_EQ(PhitEnd, reinterpret_cast<UINTN>(End));
  EXPECT_EQ(Phase.Table()->CreateHob(Phase.Services(), 4, 4, &Hob), EFI_INVALID_PARAMETER);
}

TEST(SimPeiCore, CreateHobFailsWhenTheListIsFull) {
  sim::PeiPhaseOptions Options;
  Options.HobListCapacity = 0;
  sim::PeiPhase Phase(sim::HobListBuilder(), Options);
  VOID *Hob = nullptr;
  EXPECT_EQ(Phase.Table()->CreateHob(Phase.Services(), 4, 24, &Hob), EFI_OUT_OF_RESOURCES);
}

TEST(SimPeiCore, FfsServicesWalkFilesAndSections) {
  sim::PeiPhase Phase;
  sim::FvImageBuilder Builder;
  Builder.SetFvName(kOtherFv)
      .AddFile({kFileA, EFI_FV_FILETYPE_PEIM, {{EFI_SECTION_RAW, {1}}}})
      .AddFile({kFileB,
                EFI_FV_FILETYPE_FREEFORM,
                {{EFI_SECTION_USER_INTERFACE, {'x', 0}}, {EFI_SECTION_RAW, {7, 8, 9}}}});
  std::string Error;
  ASSERT_TRUE(Phase.AddVolume(Builder.Build(), &Error)) << Error;
  const EFI_PEI_SERVICES *T = *Phase.Services();
  EFI_PEI_FV_HANDLE Fv = nullptr;
  ASSERT_EQ(T->FfsFindNextVolume(Phase.Services(), 0, &Fv), EFI_SUCCESS);
  EXPECT_EQ(T->FfsFindNextVolume(Phase.Services(), 1, &Fv), EFI_NOT_FOUND);
  EFI_FV_INFO VolumeInfo{};
  ASSERT_EQ(T->FfsGetVolumeInfo(Fv, &VolumeInfo), EFI_SUCCESS);
  EXPECT_EQ(std::memcmp(&VolumeInfo.FvName, &kOtherFv, sizeof(EFI_GUID)), 0);

  EFI_PEI_FILE_HANDLE File = nullptr;
  ASSERT_EQ(T->FfsFindNextFile(Phase.Services(), EFI_FV_FILETYPE_FREEFORM, Fv, &File), EFI_SUCCESS);
  EFI_FV_FILE_INFO FileInfo{};
  ASSERT_EQ(T->FfsGetFileInfo(File, &FileInfo), EFI_SUCCESS);
  EXPECT_EQ(std::memcmp(&FileInfo.FileName, &kFileB, sizeof(EFI_GUID)), 0);
  VOID *Data = nullptr;
  ASSERT_EQ(T->FfsFindSectionData(Phase.Services(), EFI_SECTION_RAW, File, &Data), EFI_SUCCESS);
  EXPECT_EQ(Bytes(static_cast<UINT8 *>(Data), static_cast<UINT8 *>(Data) + 3), (Bytes{7, 8, 9}));
  EXPECT_GE(static_cast<UINT8 *>(Data), static_cast<UINT8 *>(FileInfo.Buffer));
  EXPECT_LE(static_cast<UINT8 *>(Data) + 3, static_cast<UINT8 *>(FileInfo.Buffer) + FileInfo.BufferSize);
  EXPECT_EQ(T->FfsFindSectionData(Phase.Services(), EFI_SECTION_PE32, File, &Data), EFI_NOT_FOUND);
  EXPECT_EQ(T->FfsFindNextFile(Phase.Services(), EFI_FV_FILETYPE_FREEFORM, Fv, &File), EFI_NOT_FOUND);

  File = nullptr;
  ASSERT_EQ(T->FfsFindNextFile(Phase.Services(), EFI_FV_FILETYPE_ALL, Fv, &File), EFI_SUCCESS);
  ASSERT_EQ(T->FfsGetFileInfo(File, &FileInfo), EFI_SUCCESS);
  EXPECT_EQ(std::memcmp(&FileInfo.FileName, &kFileA, sizeof(EFI_GUID)), 0);
}

std::string Format(const char *Fmt, ...) {
  va_list Marker;
  va_start(Marker, Fmt);
  std::string Text = sim::FormatUefiMessage(Fmt, Marker);
  va_end(Marker);
  return Text;
}

TEST(SimPeiCore, DebugPpiFormatsUefiConversions) {
  EXPECT_EQ(Format("%r", EFI_NOT_FOUND), "Not Found");
  EXPECT_EQ(Format("%r", ENCODE_ERROR(34)), "00000022");
  EXPECT_EQ(Format("%r", ENCODE_WARNING(6)), "00000006");
  EXPECT_EQ(Format("%r", ENCODE_ERROR(29)), "Reserved (29)");
  EXPECT_EQ(Format("%r", EFI_SUCCESS), "Success");
  EXPECT_EQ(Format("%x %08X %lx", 0xABu, 0xABu, 0x123456789ULL), "AB 000000AB 123456789");
  EXPECT_EQ(Format("%a|%-4a|%4a", static_cast<const char *>(nullptr), "ab", "cd"), "<null string>|ab  |  cd");
  EXPECT_EQ(Format("%g", static_cast<const EFI_GUID *>(nullptr)), "<null guid>");
  EXPECT_EQ(Format("%d %ld %u 100%%", -5, -6LL, 7u), "-5 -6 7 100%");
  EXPECT_EQ(Format("%s", u"wide"), "wide");
}

}  // namespace
}  // namespace pei_test
