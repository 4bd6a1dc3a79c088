// The feature-control PEI module end to end on the simulated PEI phase: where
// the flags come from, what is logged when they are absent or the platform's
// data or services are faulty, and the HOB that is published.
#include <gtest/gtest.h>

#include <cstring>

#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductDataPlatform.h"
#include "tests/pei/PeiTestBoard.h"
#include "tests/pei/TeImageRun.h"

namespace pei_test {
namespace {

using sim::BuildProductDataContainer;
using sim::PeiService;
using Bytes = std::vector<UINT8>;

const Bytes kSevenBytes = {0x01, 0x80, 0x00, 0xFF, 0x10, 0x20, 0x7E};

Bytes OneFlagsContainer(UINT32 DataId, const Bytes &Data) {
  return BuildProductDataContainer({FlagsItem(DataId, Data)});
}

// A container whose first item's DataSize is replaced by DataSize.
Bytes WithFirstDataSize(Bytes Container, UINT32 DataSize) {
  std::memcpy(&Container[sizeof(PRODUCT_DATA_HEADER) + OFFSET_OF(DATA_ITEM_HEADER, DataSize)], &DataSize, 4);
  return Container;
}

Bytes WithFirstHeaderSize(Bytes Container, UINT16 HeaderSize) {
  std::memcpy(&Container[sizeof(PRODUCT_DATA_HEADER) + OFFSET_OF(DATA_ITEM_HEADER, HeaderSize)], &HeaderSize,
              2);
  return Container;
}

struct SourceCase {
  const char *Name;
  std::function<void(PeiBoard &)> Build;
  bool ExpectHob;
  Bytes Data;                      // the HOB's data when one is expected
  std::vector<std::string> Lines;  // the module's whole debug output
  bool LinesAreSuffix = false;     // library messages may come first
};

// gtest prints a parameter that has no printer as raw bytes; the row name says more.
void PrintTo(const SourceCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class FeatureControlSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(FeatureControlSource, PublishesTheItemOrWarns) {
  const SourceCase &Case = GetParam();
  PeiBoard Board;
  Case.Build(Board);
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  ASSERT_NE(Phase, nullptr) << Error;

  EXPECT_EQ(RunModule(*Phase), EFI_SUCCESS);

  std::vector<Bytes> Hobs = FeatureControlHobs(*Phase);
  if (Case.ExpectHob) {
    ASSERT_EQ(Hobs.size(), 1u);
    ASSERT_EQ(Phase->RequestedHobLengths().size(), 1u);
    EXPECT_EQ(Phase->RequestedHobLengths()[0], sizeof(EFI_HOB_GUID_TYPE) + Case.Data.size());
    ASSERT_GE(Hobs[0].size(), Case.Data.size());
    EXPECT_EQ(Bytes(Hobs[0].begin(), Hobs[0].begin() + Case.Data.size()), Case.Data);
  } else {
    EXPECT_TRUE(Hobs.empty());
  }
  std::vector<std::string> Lines = Phase->DebugLines();
  if (Case.LinesAreSuffix) {
    ASSERT_GE(Lines.size(), Case.Lines.size());
    Lines.erase(Lines.begin(), Lines.end() - Case.Lines.size());
  }
  EXPECT_EQ(Lines, Case.Lines);
}

const SourceCase kSourceCases[] = {
    {"ItemInHob",
     [](PeiBoard &B) { B.Info({5}).HobContainer(OneFlagsContainer(5, kSevenBytes)); },
     true,
     kSevenBytes,
     {}},
    {"EmptyItemGivesHeaderOnlyHob",
     [](PeiBoard &B) { B.Info({5}).HobContainer(OneFlagsContainer(5, {})); },
     true,
     {},
     {}},
    {"ItemInPrimaryVolume",
     [](PeiBoard &B) { B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, kSevenBytes)); },
     true,
     kSevenBytes,
     {}},
    {"ItemInSecondaryVolume",
     [](PeiBoard &B) { B.Info({5}).SecondaryFile(kFileA, OneFlagsContainer(5, kSevenBytes)); },
     true,
     kSevenBytes,
     {}},
    {"HobWinsOverVolume",
     [](PeiBoard &B) {
       B.Info({5})
           .HobContainer(OneFlagsContainer(5, {0xAA}))
           .PrimaryFile(kFileA, OneFlagsContainer(5, {0xBB}));
     },
     true,
     {0xAA},
     {}},
    {"VolumesSearchedWhenHobsLackTheItem",
     [](PeiBoard &B) {
       B.Info({5})
           .HobContainer(BuildProductDataContainer({{ACPI_META_DATA_ITEM_ID, 5, {1, 2}}}))
           .PrimaryFile(kFileA, Bytes(40, 0x5A))  // RAW section without a container: skipped
           .PrimaryFile(kFileB, OneFlagsContainer(5, {0xCC}));
     },
     true,
     {0xCC},
     {}},
    {"InfoListOrderWinsOverChainOrder",
     [](PeiBoard &B) {
       B.Info({5, 9}).HobContainer(BuildProductDataContainer({FlagsItem(9, {9}), FlagsItem(5, {5})}));
     },
     true,
     {5},
     {}},
    {"LaterListEntryWhenEarlierIsAbsent",
     [](PeiBoard &B) {
       B.Info({3, 9}).HobContainer(OneFlagsContainer(9, {9, 9}));
     },
     true,
     {9, 9},
     {}},
    // The data sits at byte 24 of the item whatever HeaderSize says.
    {"HeaderSizeBelowItemHeaderIsOnlyAShortStep",
     [](PeiBoard &B) { B.Info({5}).HobContainer(WithFirstHeaderSize(OneFlagsContainer(5, kSevenBytes), 0)); },
     true,
     kSevenBytes,
     {}},
    {"ShortSectionWithSignatureSkipped",
     [](PeiBoard &B) {
       Bytes Short(25, 0);
       std::memcpy(Short.data(), "__SDSH__", 8);
       B.Info({5}).PrimaryFile(kFileA, Short).PrimaryFile(kFileB, OneFlagsContainer(5, {0x42}));
     },
     true,
     {0x42},
     {}},
    {"NoInfoHob",
     [](PeiBoard &B) { B.HobContainer(OneFlagsContainer(5, kSevenBytes)); },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"TwoInfoHobs",
     [](PeiBoard &B) { B.Info({5}).Info({5}).HobContainer(OneFlagsContainer(5, kSevenBytes)); },
     false,
     {},
     {"[GetProductDataInfo] - Only a single Product Data Info HOB should be published!\n", kNoFlags, kNoHob}},
    {"EmptyInfoList",
     [](PeiBoard &B) { B.Info({}).HobContainer(OneFlagsContainer(5, kSevenBytes)); },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"DataIdNotListed",
     [](PeiBoard &B) { B.Info({4}).HobContainer(OneFlagsContainer(5, kSevenBytes)); },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"NoFlagsItemAnywhere",
     [](PeiBoard &B) {
       B.Info({5})
           .HobContainer(BuildProductDataContainer({{ACPI_META_DATA_ITEM_ID, 5, {1}}}))
           .PrimaryFile(kFileA, BuildProductDataContainer({{ACPI_META_DATA_ITEM_ID, 5, {2}}}));
     },
     false,
     {},
     {kNoFlags, kNoHob}},
    // The excluded files come first in each volume; the search passes over them
    // to the good file behind them.
    {"ExcludedFilesNeverRead",
     [](PeiBoard &B) {
       B.Info({5})
           .PrimaryFile(gProductDataExcludedFile1Guid, OneFlagsContainer(5, {1}))
           .PrimaryFile(gProductDataExcludedFile2Guid, OneFlagsContainer(5, {2}))
           .SecondaryFile(gProductDataExcludedFile2Guid, OneFlagsContainer(5, {3}))
           .SecondaryFile(kFileB, OneFlagsContainer(5, {4}));
     },
     true,
     {4},
     {}},
    // The unrelated volume is listed first by the core and holds an item too; the
    // one published comes from the product-data volume after it.
    {"UnrelatedVolumeNotSearched",
     [](PeiBoard &B) {
       B.Info({5}).Other.AddRawFile(kFileA, OneFlagsContainer(5, {1}));
       B.HasOther = true;
       B.SecondaryFile(kFileA, OneFlagsContainer(5, {2}));
     },
     true,
     {2},
     {}},
    {"FreeformFileWithoutRawSectionEndsTheSearch",
     [](PeiBoard &B) {
       B.Info({5});
       B.Primary.AddFile({kFileA, EFI_FV_FILETYPE_FREEFORM, {{EFI_SECTION_USER_INTERFACE, {'A', 0, 0, 0}}}});
       B.HasPrimary = true;
       B.SecondaryFile(kFileB, OneFlagsContainer(5, {1}));
     },
     false,
     {},
     {"[GetNextProductDataFromFv]: Failed to find the data section in FFS "
      "{11111111-2222-3333-4444-555555555501}.\n",
      kNoFlags, kNoHob}},
    // One byte more than the largest item that fits (below): the HOB length, a
    // multiple of 8 in 16 bits, would wrap.
    {"ItemTooLargeForAHob",
     [](PeiBoard &B) {
       B.Options.HobListCapacity = 0x20000;
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, Bytes(0xFFF8 - 24 + 1, 0x11)));
     },
     false,
     {},
     {"[TglZephrinFeatureControlPeiEntryPoint] Feature control flags of 0xFFE1 bytes do not fit into a "
      "HOB.\n",
      kNoHob}},
    {"LargestItemThatFitsAHob",
     [](PeiBoard &B) {
       B.Options.HobListCapacity = 0x20000;
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, Bytes(0xFFF8 - 24, 0x22)));
     },
     true,
     Bytes(0xFFF8 - 24, 0x22),
     {}},
};

INSTANTIATE_TEST_SUITE_P(Sources, FeatureControlSource, ::testing::ValuesIn(kSourceCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });

// Malformed containers: every read stays inside the HOB or the file that holds
// the container, the item is not used, and the module still returns success.
const SourceCase kMalformedCases[] = {
    {"HobItemDataRunsPastContainer",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(WithFirstDataSize(OneFlagsContainer(5, kSevenBytes), 0x10000));
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"VolumeItemDataRunsPastFile",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, WithFirstDataSize(OneFlagsContainer(5, kSevenBytes), 4096));
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"VolumeItemDataSizeWraps",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, WithFirstDataSize(OneFlagsContainer(5, kSevenBytes), 0xFFFFFFF0u));
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"ZeroStepItem",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(WithFirstDataSize(WithFirstHeaderSize(OneFlagsContainer(5, {}), 0), 0));
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"ContainerSaysNoItems",
     [](PeiBoard &B) { B.Info({5}).HobContainer(BuildProductDataContainer({FlagsItem(5, {1})}, 0)); },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"VolumeContainerSaysNoItems",
     [](PeiBoard &B) { B.Info({5}).PrimaryFile(kFileA, BuildProductDataContainer({FlagsItem(5, {1})}, 0)); },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"ItemHeaderCutByEndOfSection",
     [](PeiBoard &B) {
       Bytes Cut = OneFlagsContainer(5, kSevenBytes);
       Cut.resize(sizeof(PRODUCT_DATA_HEADER) + 12);
       B.Info({5}).PrimaryFile(kFileA, Cut);
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"InfoCountLargerThanHob",
     [](PeiBoard &B) {
       Bytes Info = sim::BuildProductDataInfo({5});
       Info[0] = 200;
       B.HobContainer(OneFlagsContainer(5, kSevenBytes)).Hobs.AddGuidHob(gProductDataInfoHobGuid, Info);
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"SectionDataOutsideItsFile",
     [](PeiBoard &B) {
       static UINT8 Elsewhere[64] = {'_', '_', 'S', 'D', 'S', 'H', '_', '_'};
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, kSevenBytes));
       B.BeforeEntry = [](sim::PeiPhase &Phase) { Phase.OverrideSectionData(Elsewhere); };
     },
     false,
     {},
     {kNoFlags, kNoHob}},
};

INSTANTIATE_TEST_SUITE_P(Malformed, FeatureControlSource, ::testing::ValuesIn(kMalformedCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });

// The PEI core failing a service the module needs.
const SourceCase kServiceFailureCases[] = {
    {"FindNextFileDeviceError",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) { P.FailService(PeiService::FfsFindNextFile, EFI_DEVICE_ERROR); };
     },
     false,
     {},
     {"[GetNextProductDataFromFv]: An unexpected error occurred finding the next product data FFS file - "
      "Device "
      "Error.\n",
      kNoFlags, kNoHob}},
    {"GetFileInfoFails",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) {
         P.FailService(PeiService::FfsGetFileInfo, EFI_INVALID_PARAMETER);
       };
     },
     false,
     {},
     {"[GetNextProductDataFromFv]: Failed to get FFS file info!\n", kNoFlags, kNoHob}},
    {"SearchContextAllocationFails",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) { P.FailAllocation(1); };
     },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"FindNextVolumeFails",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) { P.FailService(PeiService::FfsFindNextVolume, EFI_NOT_FOUND); };
     },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"GetVolumeInfoFails",
     [](PeiBoard &B) {
       B.Info({5}).PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) {
         P.FailService(PeiService::FfsGetVolumeInfo, EFI_DEVICE_ERROR);
       };
     },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"GetHobListFails",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) { P.FailService(PeiService::GetHobList, EFI_NOT_READY); };
     },
     false,
     {},
     {kNoFlags, kNoHob}},
    {"CreateHobFailsSilently",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(OneFlagsContainer(5, {1}));
       B.BeforeEntry = [](sim::PeiPhase &P) { P.FailService(PeiService::CreateHob, EFI_OUT_OF_RESOURCES); };
     },
     false,
     {},
     {}},
    {"HobListFullFailsSilently",
     [](PeiBoard &B) {
       B.Options.HobListCapacity = 0;  // exactly the handed-over list
       B.Info({5}).HobContainer(OneFlagsContainer(5, {1}));
     },
     false,
     {},
     {}},
};

INSTANTIATE_TEST_SUITE_P(ServiceFailures, FeatureControlSource, ::testing::ValuesIn(kServiceFailureCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });

TEST(FeatureControlHob, LayoutByteForByte) {
  PeiBoard Board;
  Board.Info({5}).HobContainer(OneFlagsContainer(5, kSevenBytes));
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  ASSERT_NE(Phase, nullptr) << Error;
  ASSERT_EQ(RunModule(*Phase), EFI_SUCCESS);

  ASSERT_EQ(Phase->CreatedHobs().size(), 1u);
  ASSERT_EQ(Phase->RequestedHobLengths(), std::vector<UINT16>{31});
  const UINT8 *Hob = reinterpret_cast<const UINT8 *>(Phase->CreatedHobs()[0]);
  const Bytes Expected = {0x04, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00,  // type 4, length 32
                          0xA7, 0xD4, 0xF3, 0x03, 0x35, 0xE9, 0x05, 0x4E,  // Name
                          0xB5, 0xAA, 0xC4, 0xFC, 0x61, 0x11, 0x8C, 0x7B,  //
                          0x01, 0x80, 0x00, 0xFF, 0x10, 0x20, 0x7E};       // data
  EXPECT_EQ(Bytes(Hob, Hob + Expected.size()), Expected);
  // The list still ends right behind the new HOB.
  const auto *End = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob + 32);
  EXPECT_EQ(End->HobType, EFI_HOB_TYPE_END_OF_HOB_LIST);
}

TEST(FeatureControlHob, DataIsCopiedNotReferenced) {
  PeiBoard Board;
  Board.Info({5}).HobContainer(OneFlagsContainer(5, kSevenBytes));
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  ASSERT_NE(Phase, nullptr) << Error;
  ASSERT_EQ(RunModule(*Phase), EFI_SUCCESS);
  // The new HOB holds the flags' bytes themselves: scribbling over the source
  // item in the product-data HOB afterwards leaves them as they were.
  ASSERT_EQ(FeatureControlHobs(*Phase).size(), 1u);
  EXPECT_EQ(FeatureControlHobs(*Phase)[0].size(), 8u);  // 7 bytes, rounded by the core
  auto Sources = Phase->GuidHobs(gProductDataHobGuid);
  ASSERT_EQ(Sources.size(), 1u);
  auto *SourceData = const_cast<UINT8 *>(reinterpret_cast<const UINT8 *>(Sources[0] + 1)) +
                     sizeof(PRODUCT_DATA_HEADER) + sizeof(DATA_ITEM_HEADER);
  ASSERT_EQ(Bytes(SourceData, SourceData + kSevenBytes.size()), kSevenBytes);
  std::memset(SourceData, 0xEE, kSevenBytes.size());
  Bytes Copy = FeatureControlHobs(*Phase)[0];
  EXPECT_EQ(Bytes(Copy.begin(), Copy.begin() + kSevenBytes.size()), kSevenBytes);
}

TEST(FeatureControlSearch, NoInfoHobLeavesVolumesAlone) {
  PeiBoard Board;
  Board.PrimaryFile(kFileA, OneFlagsContainer(5, {1}));
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  ASSERT_NE(Phase, nullptr) << Error;
  EXPECT_EQ(RunModule(*Phase), EFI_SUCCESS);
  EXPECT_EQ(Phase->Calls(PeiService::FfsFindNextVolume), 0u);
  EXPECT_EQ(Phase->Calls(PeiService::CreateHob), 0u);
}

TEST(FeatureControlSearch, HobItemLeavesVolumesAlone) {
  PeiBoard Board;
  Board.Info({5}).HobContainer(OneFlagsContainer(5, {1})).PrimaryFile(kFileA, OneFlagsContainer(5, {2}));
  std::string Error;
  auto Phase = StartPhase(Board, &Error);
  ASSERT_NE(Phase, nullptr) << Error;
  EXPECT_EQ(RunModule(*Phase), EFI_SUCCESS);
  EXPECT_EQ(Phase->Calls(PeiService::FfsFindNextVolume), 0u);
  EXPECT_EQ(Phase->Calls(PeiService::AllocatePool), 0u);
}

// Sizes whose sum or product fits 64 bits but wraps a 32-bit UINTN: harmless in
// the host build, the way IA-32 code goes wrong. Run on both builds below.
const SourceCase kWrapCases[] = {
    {"InfoCountTimesFourWraps32Bits",
     [](PeiBoard &B) {
       Bytes Info = sim::BuildProductDataInfo({5});
       const UINT32 Count = 0x40000001;  // Count * 4 is 4 modulo 2^32
       std::memcpy(Info.data(), &Count, 4);
       B.HobContainer(OneFlagsContainer(5, kSevenBytes)).Hobs.AddGuidHob(gProductDataInfoHobGuid, Info);
     },
     false,
     {},
     {"[GetProductDataInfo] - Product Data Info HOB lists 1073741825 DataIds but holds only 1\n", kNoFlags,
      kNoHob}},
    {"ItemStepOf4GiBWraps32Bits",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(WithFirstDataSize(OneFlagsContainer(5, kSevenBytes), 0xFFFFFFE8u));
     },
     false,
     {},
     {kNoFlags, kNoHob},
     true},
    {"LargestHeaderSizeStepsPastContainer",
     [](PeiBoard &B) {
       B.Info({5}).HobContainer(WithFirstHeaderSize(OneFlagsContainer(5, kSevenBytes), 0xFFFF));
     },
     true,
     kSevenBytes,
     {}},
};

INSTANTIATE_TEST_SUITE_P(Wraps, FeatureControlSource, ::testing::ValuesIn(kWrapCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });

// The same scenarios on the shipped TE image: the IA-32 bytes run on the
// emulator with the real calling convention, layouts and relocations, and must
// publish the same HOB bytes and print the same messages as the host build.
class BothBuilds : public ::testing::TestWithParam<SourceCase> {};

constexpr uint32_t kPeiStackBudget = 1024;

TEST_P(BothBuilds, TeImageMatchesHostBuild) {
  static const std::vector<uint8_t> Te = ShippedTeImage();
  if (Te.empty()) GTEST_SKIP() << "the TE image is built only with ZEPHRIN_FIRMWARE=ON (clang and lld-link)";
  const SourceCase &Case = GetParam();
  PeiBoard Board;
  Case.Build(Board);
  PeiOutcome Host, Emulated;
  std::string Error;
  ASSERT_TRUE(RunHostBuild(Board, &Host, &Error)) << Error;
  ASSERT_TRUE(RunTeImage(Board, Te, &Emulated, &Error)) << Error;

  EXPECT_EQ(Emulated.Run, "returned 0x00000000");
  // PEI runs on a few KiB of temporary RAM shared by every module.
  EXPECT_LE(Emulated.StackBytes, kPeiStackBudget);
  EXPECT_EQ(Differences(Host, Emulated), std::vector<std::string>{});
  // The table's own expectations hold for the TE image too.
  ASSERT_EQ(Emulated.Hobs.size(), Case.ExpectHob ? 1u : 0u);
  if (Case.ExpectHob) {
    ASSERT_GE(Emulated.Hobs[0].size(), sizeof(EFI_HOB_GUID_TYPE) + Case.Data.size());
    EXPECT_EQ(Bytes(Emulated.Hobs[0].begin() + sizeof(EFI_HOB_GUID_TYPE),
                    Emulated.Hobs[0].begin() + sizeof(EFI_HOB_GUID_TYPE) + Case.Data.size()),
              Case.Data);
  }
  std::vector<std::string> Lines;
  for (const sim::PeiDebugRecord &Record : Emulated.Debug) Lines.push_back(Record.Text);
  if (Case.LinesAreSuffix && Lines.size() >= Case.Lines.size()) {
    Lines.erase(Lines.begin(), Lines.end() - Case.Lines.size());
  }
  EXPECT_EQ(Lines, Case.Lines);
}

INSTANTIATE_TEST_SUITE_P(Sources, BothBuilds, ::testing::ValuesIn(kSourceCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });
INSTANTIATE_TEST_SUITE_P(Malformed, BothBuilds, ::testing::ValuesIn(kMalformedCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });
INSTANTIATE_TEST_SUITE_P(ServiceFailures, BothBuilds, ::testing::ValuesIn(kServiceFailureCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });
INSTANTIATE_TEST_SUITE_P(Wraps, BothBuilds, ::testing::ValuesIn(kWrapCases),
                         [](const ::testing::TestParamInfo<SourceCase> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace pei_test
