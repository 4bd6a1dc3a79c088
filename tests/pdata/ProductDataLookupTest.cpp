// Finding the platform's item: the Product Data Info HOB, the product-data HOBs,
// the two firmware volumes, and the meta data open/close pair built on them.
#include "acpi_dxe/core/AcpiMetaDataSource.h"
#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/ProductDataDxe.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "tests/pdata/PdataTestSupport.h"
#include "uefi/Protocol/DevicePath.h"
#include "tests/support/RowPrinter.h"

namespace pdata_test {
namespace {

using sim::FvFile;
using sim::ProductDataItem;

constexpr EFI_GUID kFileA = {0xA0000001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kFileB = {0xB0000002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kOtherFv = {0xC0000003, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

std::pair<EFI_GUID, std::vector<UINT8>> InfoHob(const std::vector<UINT32> &DataIds) {
  return {gProductDataInfoHobGuid, sim::BuildProductDataInfo(DataIds)};
}
std::pair<EFI_GUID, std::vector<UINT8>> DataHob(const std::vector<ProductDataItem> &Items) {
  return {gProductDataHobGuid, sim::BuildProductDataContainer(Items)};
}
FvFile RawFile(const EFI_GUID &Name, const std::vector<UINT8> &Data) {
  return FvFile{Name, EFI_FV_FILETYPE_FREEFORM, {{EFI_SECTION_RAW, Data}}};
}

class ProductDataLookup : public PdataTest {
 protected:
  // GetProductDataItem for ItemId 7; the first byte of the data, or -1.
  int FirstByteOfItem(VOID **Data, UINT32 *Size = nullptr) {
    if (EFI_ERROR(GetProductDataItem(ACPI_META_DATA_ITEM_ID, Data, Size))) return -1;
    return *static_cast<UINT8 *>(*Data);
  }
};

// ---- The Info HOB ----------------------------------------------------------------

TEST_F(ProductDataLookup, NoInfoHobMeansNoProductDataAndNoVolumeSearch) {
  PublishHobs({DataHob({{7, 1, {0x11}}})});
  sim::FirmwareVolume *Fv = AddVolumeNamed(gProductDataPrimaryFvGuid,
                                           {RawFile(kFileA, sim::BuildProductDataContainer({{7, 1, {1}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(GetProductDataItem(ACPI_META_DATA_ITEM_ID, &Data, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(Fv->ReadSectionCalls, 0u);
}

TEST_F(ProductDataLookup, SecondInfoHobWithdrawsAllProductData) {
  PublishHobs({InfoHob({1}), DataHob({{7, 1, {0x11}}}), InfoHob({1})});
  EXPECT_EQ(GetProductDataInfo(), nullptr);
  EXPECT_TRUE(Logged("[GetProductDataInfo] - Only a single Product Data Info HOB should be published!\n",
                     DEBUG_ERROR));
}

TEST_F(ProductDataLookup, EmptyInfoListMeansNoProductData) {
  PublishHobs({InfoHob({}), DataHob({{7, 1, {0x11}}})});
  EXPECT_EQ(GetProductDataInfo(), nullptr);
}

// A Count that the HOB cannot hold would send the list walk past the HOB. (The
// HOB holds three entries: its data is padded to a multiple of 8 bytes.)
TEST_F(ProductDataLookup, InfoCountBeyondTheHobIsRefused) {
  std::vector<UINT8> Info = sim::BuildProductDataInfo({1, 2});
  Put32(Info, 0, 1000);
  PublishHobs({{gProductDataInfoHobGuid, Info}, DataHob({{7, 1, {0x11}}})});
  EXPECT_EQ(GetProductDataInfo(), nullptr);
  EXPECT_TRUE(Logged("[GetProductDataInfo] - Product Data Info HOB lists 1000 DataIds but holds only 3\n",
                     DEBUG_ERROR))
      << Debug.Dump();
}

// ---- Selection by DataId -------------------------------------------------------

TEST_F(ProductDataLookup, ListOrderWinsOverChainOrder) {
  PublishHobs({InfoHob({5, 9}), DataHob({{7, 9, {0x99}}, {7, 5, {0x55}}})});
  VOID *Data = nullptr;
  UINT32 Size = 0;
  EXPECT_EQ(FirstByteOfItem(&Data, &Size), 0x55);
  EXPECT_EQ(Size, 1u);
}

TEST_F(ProductDataLookup, ContinuationMovesToTheNextListedDataId) {
  PublishHobs({InfoHob({5, 9, 3}), DataHob({{7, 9, {0x99}}, {7, 5, {0x55}}})});
  VOID *Data = nullptr;
  ASSERT_EQ(FirstByteOfItem(&Data), 0x55);
  EXPECT_EQ(FirstByteOfItem(&Data), 0x99) << "after DataId 5 the list goes on with 9";
  EXPECT_EQ(FirstByteOfItem(&Data), -1) << "DataId 3 is carried by no item";
}

TEST_F(ProductDataLookup, ContinuationAfterTheLastListEntryFindsNothing) {
  PublishHobs({InfoHob({5}), DataHob({{7, 5, {0x55}}})});
  VOID *Data = nullptr;
  ASSERT_EQ(FirstByteOfItem(&Data), 0x55);
  EXPECT_EQ(GetProductDataItem(ACPI_META_DATA_ITEM_ID, &Data, nullptr), EFI_NOT_FOUND);
}

// The DataId walk starts at the first item of the wanted ItemId and ends before an
// item of INVALID_DATA_ITEM_ID: the item behind it is never matched.
TEST_F(ProductDataLookup, DataIdWalkStopsBeforeAnInvalidIdItem) {
  PublishHobs({InfoHob({3}), DataHob({{7, 1, {0x11}}, {8, 2, {0x22}}, {INVALID_DATA_ITEM_ID, 3, {0x33}}})});
  VOID *Data = nullptr;
  EXPECT_EQ(GetProductDataItem(ACPI_META_DATA_ITEM_ID, &Data, nullptr), EFI_NOT_FOUND);
  EXPECT_TRUE(Logged("  [GetNextDataItemHeader]: Invalid Item ID 65535!\n", DEBUG_ERROR));
}

// Only the first container that has an item of the ItemId is searched; the
// matching item may be of another ItemId (the match is on DataId alone).
TEST_F(ProductDataLookup, MatchIsByDataIdFromTheBaseItemOn) {
  PublishHobs(
      {InfoHob({4}), DataHob({{1, 4, {0x10}}, {7, 1, {0x11}}, {2, 4, {0x24}}}), DataHob({{7, 4, {0x74}}})});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x24);
}

TEST_F(ProductDataLookup, ContainerHobWithBrokenItemsIsPassedOver) {
  std::vector<UINT8> Broken = sim::BuildProductDataContainer({{7, 1, {0x11, 0x11}}});
  Put32(Broken, 26 + 12, 0x100);  // data runs past the HOB
  PublishHobs({InfoHob({1}), {gProductDataHobGuid, Broken}, DataHob({{7, 1, {0x77}}})});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x77);
}

// ---- The firmware volumes ------------------------------------------------------

TEST_F(ProductDataLookup, HobsWithoutTheItemLeadToTheVolumes) {
  PublishHobs({InfoHob({1}), DataHob({{0x2000, 1, {0x20}}})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{7, 1, {0x71}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x71);
  Kept = 1;  // the container copy that holds the item lives on
  EXPECT_TRUE(Platform.Pool().IsLive(static_cast<UINT8 *>(Data) - 24 - 26));
}

// The search by ItemId walks past an item of INVALID_DATA_ITEM_ID in a container
// from a volume file just as in one from a HOB: both find the item behind it.
const std::vector<ProductDataItem> kItemBehindAnInvalidId = {
    {1, 1, {0x11}}, {INVALID_DATA_ITEM_ID, 2, {0x22}}, {7, 3, {0x77}}};

TEST_F(ProductDataLookup, ItemBehindAnInvalidIdItemIsFoundInAHob) {
  PublishHobs({InfoHob({3}), DataHob(kItemBehindAnInvalidId)});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x77);
}

TEST_F(ProductDataLookup, ItemBehindAnInvalidIdItemIsFoundInAVolume) {
  PublishHobs({InfoHob({3})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer(kItemBehindAnInvalidId))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x77);
  Kept = 1;  // the container copy that holds the item lives on
}

// The container read from a volume is kept only when an item of it is handed
// out; a base item whose container carries no listed DataId is let go.
TEST_F(ProductDataLookup, VolumeContainerWithoutAListedDataIdIsReleased) {
  PublishHobs({InfoHob({1})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{7, 9, {0x79}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), -1);
  EXPECT_EQ(Data, nullptr);
}

TEST_F(ProductDataLookup, SecondaryVolumeIsSearchedAfterThePrimary) {
  PublishHobs({InfoHob({1})});
  AddVolumeNamed(gProductDataSecondaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{7, 1, {0x72}}}))});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileB, sim::BuildProductDataContainer({{8, 1, {0x81}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x72);
  Kept = 1;
}

TEST_F(ProductDataLookup, OtherVolumesAreNeverSearched) {
  PublishHobs({InfoHob({1})});
  sim::FirmwareVolume *Other =
      AddVolumeNamed(kOtherFv, {RawFile(kFileA, sim::BuildProductDataContainer({{7, 1, {0x71}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), -1);
  EXPECT_EQ(Other->ReadSectionCalls, 0u);
}

TEST_F(ProductDataLookup, ExcludedFilesAndShortSectionsAreSkipped) {
  PublishHobs({InfoHob({1})});
  std::vector<UINT8> Short = sim::BuildProductDataContainer({});
  Short.resize(25);  // starts with the signature but cannot hold a header
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(gProductDataExcludedFile1Guid, sim::BuildProductDataContainer({{7, 1, {0xE1}}})),
                  RawFile(kFileA, Short), RawFile(kFileB, {1, 2, 3, 4}),
                  RawFile(gProductDataExcludedFile2Guid, sim::BuildProductDataContainer({{7, 1, {0xE2}}})),
                  RawFile(kOtherFv, sim::BuildProductDataContainer({{7, 1, {0x73}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), 0x73);
  Kept = 1;
}

TEST_F(ProductDataLookup, FreeformFileWithoutRawSectionEndsTheSearch) {
  PublishHobs({InfoHob({1})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {FvFile{kFileA, EFI_FV_FILETYPE_FREEFORM, {{EFI_SECTION_USER_INTERFACE, {'A', 0}}}},
                  RawFile(kFileB, sim::BuildProductDataContainer({{7, 1, {0x71}}}))});
  VOID *Data = nullptr;
  EXPECT_EQ(FirstByteOfItem(&Data), -1);
}

TEST_F(ProductDataLookup, ContainerWithoutItemsInAVolumeEndsTheSearch) {
  PublishHobs({InfoHob({1})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{7, 1, {1}}}, 0)),
                  RawFile(kFileB, sim::BuildProductDataContainer({{7, 1, {0x71}}}))});
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 0;
  VOID *Container = nullptr;
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_LOAD_ERROR);
  EXPECT_EQ(Container, nullptr);
  ReleaseFvSearchContext(Context);
}

TEST_F(ProductDataLookup, VolumeSearchVisitsEveryContainerThenEnds) {
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{1, 1, {1}}})),
                  RawFile(kFileB, sim::BuildProductDataContainer({{2, 2, {2, 2}}}))});
  AddVolumeNamed(gProductDataSecondaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{3, 3, {3}}}))});
  FV_SEARCH_CONTEXT *Context = nullptr;
  std::vector<UINT16> Seen;
  UINTN Size = 0;
  VOID *Container = nullptr;
  while (GetNextProductDataFromFv(&Context, &Size, &Container) == EFI_SUCCESS) {
    DATA_ITEM_CURSOR Item = {};
    ASSERT_EQ(GetFirstDataItem(Container, Size, &Item), EFI_SUCCESS);
    Seen.push_back(+DataItemHeaderAt(&Item)->ItemId);
    EXPECT_EQ(Size, 26u + 24 + DataItemHeaderAt(&Item)->DataSize);
    ReleaseProductDataContainer(Container);
  }
  EXPECT_EQ(Seen, (std::vector<UINT16>{1, 2, 3}));
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_NOT_FOUND)
      << "an ended search stays ended";
  ReleaseFvSearchContext(Context);
}

TEST_F(ProductDataLookup, VolumeSearchArgumentsAreChecked) {
  FV_SEARCH_CONTEXT *Context = nullptr;
  UINTN Size = 0;
  VOID *Container = nullptr;
  EXPECT_EQ(GetNextProductDataFromFv(nullptr, &Size, &Container), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetNextProductDataFromFv(&Context, nullptr, &Container), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindProductDataVolumes(nullptr), EFI_INVALID_PARAMETER);
  // No volume at all: the handle lookup fails and the search ends at once.
  EXPECT_EQ(GetNextProductDataFromFv(&Context, &Size, &Container), EFI_NOT_FOUND);
  ReleaseFvSearchContext(Context);
}

// Device paths carry no total size; a node whose length is below a node header
// would never advance. The walk gives up on that path and the volume stays unknown.
TEST_F(ProductDataLookup, DevicePathWithAZeroLengthNodeIsPassedOver) {
  std::vector<UINT8> Path = {0x01, 1, 0, 0};
  std::vector<UINT8> FvNode = sim::BuildFvDevicePath(gProductDataPrimaryFvGuid);
  Path.insert(Path.end(), FvNode.begin(), FvNode.end());
  sim::FirmwareVolume *Volume = AddVolumeNamed(gProductDataPrimaryFvGuid, {});
  SetDevicePath(Volume, Path);
  FV_SEARCH_CONTEXT Context = {};
  InitFvSearchContext(&Context);
  EXPECT_EQ(FindProductDataVolumes(&Context), EFI_SUCCESS);
  EXPECT_EQ(Context.Volumes[0].Handle, nullptr);
}

TEST_F(ProductDataLookup, VolumeNodeBehindOtherNodesIsFound) {
  std::vector<UINT8> Path = {0x01, 1, 6, 0, 0, 0};
  std::vector<UINT8> FvNode = sim::BuildFvDevicePath(gProductDataSecondaryFvGuid);
  Path.insert(Path.end(), FvNode.begin(), FvNode.end());
  sim::FirmwareVolume *Volume = AddVolumeNamed(kOtherFv, {});
  SetDevicePath(Volume, Path);
  SetDevicePath(AddVolumeNamed(gProductDataPrimaryFvGuid, {}), {});  // a volume without a device path
  FV_SEARCH_CONTEXT Context = {};
  InitFvSearchContext(&Context);
  EXPECT_EQ(FindProductDataVolumes(&Context), EFI_SUCCESS);
  EXPECT_EQ(Context.Volumes[0].Handle, nullptr);
  EXPECT_EQ(Context.Volumes[1].Handle, Volume->Handle);
}

// ---- NextProductDataVolume ----------------------------------------------------

struct VolumeStepRow {
  const char *Name;
  bool Primary, Secondary;        // which volumes were found
  std::vector<EFI_STATUS> Steps;  // successive results
  UINT32 FinalIndex;
};
ZEPHRIN_PRINT_ROW_BY_NAME(VolumeStepRow)

class VolumeSteps : public testing::TestWithParam<VolumeStepRow> {};

TEST_P(VolumeSteps, SkipVolumesThatWereNotFound) {
  FV_SEARCH_CONTEXT Context = {};
  InitFvSearchContext(&Context);
  int Marker = 0;
  Context.Volumes[0].Handle = GetParam().Primary ? &Marker : nullptr;
  Context.Volumes[1].Handle = GetParam().Secondary ? &Marker : nullptr;
  for (EFI_STATUS Expected : GetParam().Steps) EXPECT_EQ(NextProductDataVolume(&Context), Expected);
  EXPECT_EQ(Context.VolumeIndex, GetParam().FinalIndex);
  EXPECT_LT(Context.VolumeIndex, 3u) << "the index never runs off the table";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VolumeSteps,
    testing::Values(
        VolumeStepRow{"Both", true, true, {EFI_SUCCESS, EFI_SUCCESS, EFI_NOT_FOUND, EFI_NOT_FOUND}, 1},
        VolumeStepRow{"OnlyPrimary", true, false, {EFI_SUCCESS, EFI_NOT_FOUND, EFI_NOT_FOUND}, 2},
        VolumeStepRow{"OnlySecondary", false, true, {EFI_SUCCESS, EFI_NOT_FOUND, EFI_NOT_FOUND}, 1},
        VolumeStepRow{"Neither", false, false, {EFI_NOT_FOUND, EFI_NOT_FOUND}, 2}),
    [](const testing::TestParamInfo<VolumeStepRow> &Info) { return std::string(Info.param.Name); });

// ---- OpenAcpiMetaData / CloseAcpiMetaData ---------------------------------------

class MetaDataSource : public PdataTest {
 protected:
  void TearDown() override {
    mAcpiMetaDataPtr = nullptr;
    mAcpiMetaDataLength = 0;
    PdataTest::TearDown();
  }
};

TEST_F(MetaDataSource, OpenPublishesTheItemDataAndItsSize) {
  PublishHobs({InfoHob({2}), DataHob({{7, 1, {1, 1}}, {7, 2, {0xAB, 0xCD, 0xEF}}})});
  ASSERT_EQ(OpenAcpiMetaData(), EFI_SUCCESS);
  ASSERT_NE(mAcpiMetaDataPtr, nullptr);
  EXPECT_EQ(mAcpiMetaDataPtr[0], 0xAB);
  EXPECT_EQ(mAcpiMetaDataLength, 3u);
  char Expected[128];
  snprintf(Expected, sizeof(Expected), "OpenAcpiMetaData - AcpiMetaDataPtr = %X, AcpiMetaDataLength = 3\n",
           static_cast<UINT32>(reinterpret_cast<uintptr_t>(mAcpiMetaDataPtr)));
  EXPECT_TRUE(Logged(Expected, DEBUG_INFO)) << Debug.Dump();
}

TEST_F(MetaDataSource, OpenTwiceKeepsTheOpenMetaData) {
  PublishHobs({InfoHob({1}), DataHob({{7, 1, {0x11}}})});
  ASSERT_EQ(OpenAcpiMetaData(), EFI_SUCCESS);
  const UINT8 *Open = mAcpiMetaDataPtr;
  EXPECT_EQ(OpenAcpiMetaData(), EFI_ALREADY_STARTED);
  EXPECT_EQ(mAcpiMetaDataPtr, Open);
  char Expected[128];
  snprintf(Expected, sizeof(Expected), "OpenAcpiMetaData - ACPI meta data is already open %X\n",
           static_cast<UINT32>(reinterpret_cast<uintptr_t>(Open)));
  EXPECT_TRUE(Logged(Expected, DEBUG_ERROR)) << Debug.Dump();
}

TEST_F(MetaDataSource, CloseTwiceReportsTheSecond) {
  PublishHobs({InfoHob({1}), DataHob({{7, 1, {0x11}}})});
  ASSERT_EQ(OpenAcpiMetaData(), EFI_SUCCESS);
  EXPECT_EQ(CloseAcpiMetaData(), EFI_SUCCESS);
  EXPECT_EQ(mAcpiMetaDataPtr, nullptr);
  EXPECT_EQ(mAcpiMetaDataLength, 0u);
  EXPECT_TRUE(Logged("CloseAcpiMetaData - ACPI meta data was closed\n", DEBUG_INFO));
  EXPECT_EQ(CloseAcpiMetaData(), EFI_NOT_STARTED);
  EXPECT_TRUE(Logged("CloseAcpiMetaData - Attempt to close ACPI meta data more than once\n", DEBUG_WARN));
}

TEST_F(MetaDataSource, TwoInfoHobsLeaveTheMetaDataClosed) {
  PublishHobs({InfoHob({1}), InfoHob({1}), DataHob({{7, 1, {0x11}}})});
  EXPECT_EQ(OpenAcpiMetaData(), EFI_NOT_FOUND);
  EXPECT_EQ(mAcpiMetaDataPtr, nullptr);
  EXPECT_TRUE(Logged("[GetProductDataInfo] - Only a single Product Data Info HOB should be published!\n"));
  EXPECT_TRUE(Logged("OpenAcpiMetaData - ACPI meta data was not found Not Found\n", DEBUG_WARN))
      << Debug.Dump();
}

// Every allocation of an open that reads the meta data from a volume fails in
// turn: each ends in an error status, and nothing stays allocated.
TEST_F(MetaDataSource, EveryAllocationFailureEndsInAnErrorWithoutALeak) {
  PublishHobs({InfoHob({1})});
  AddVolumeNamed(gProductDataPrimaryFvGuid,
                 {RawFile(kFileA, sim::BuildProductDataContainer({{8, 1, {0x81}}})),
                  RawFile(kFileB, sim::BuildProductDataContainer({{7, 1, {0x71}}}))});
  Platform.Pool().StartCounting();
  ASSERT_EQ(OpenAcpiMetaData(), EFI_SUCCESS);
  const UINT64 Allocations = Platform.Pool().AllocationsCounted();
  ASSERT_EQ(CloseAcpiMetaData(), EFI_SUCCESS);
  ASSERT_GE(Allocations, 6u) << "handles, context, key, two sections, copy";
  const size_t KeptBefore = Platform.Pool().OutstandingCount();
  for (UINT64 Nth = 1; Nth <= Allocations; Nth++) {
    Platform.Pool().FailAllocation(Nth);
    EXPECT_TRUE(EFI_ERROR(OpenAcpiMetaData())) << "allocation " << Nth;
    EXPECT_EQ(mAcpiMetaDataPtr, nullptr);
    EXPECT_EQ(Platform.Pool().OutstandingCount(), KeptBefore) << "allocation " << Nth;
    Platform.Pool().FailAllocation(0);
  }
  Kept = KeptBefore;
}

}  // namespace
}  // namespace pdata_test
