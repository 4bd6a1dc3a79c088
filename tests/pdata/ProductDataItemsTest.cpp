// Walking one product-data container: the first item, stepping, the search by
// ItemId and the container's extent, on well-formed containers and on containers
// broken one check at a time.
#include <functional>

#include "acpi_dxe/core/DebugLib.h"
#include "product_data/ProductData.h"
#include "tests/pdata/PdataTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace pdata_test {
namespace {

using sim::ProductDataItem;

const std::vector<ProductDataItem> kTwoItems = {
    {7, 0x10, {1, 2, 3, 4, 5, 6, 7, 8}},
    {0x2000, 0x11, {9, 9, 9}},
};
constexpr size_t kFirstItem = 26;
constexpr size_t kSecondItem = 26 + 24 + 8;

class ProductDataItems : public PdataTest {};

// ---- GetFirstDataItem: one row per check ---------------------------------------

struct FirstItemRow {
  const char *Name;
  std::function<void(std::vector<UINT8> &)> Break;  // turns the two-item container into the case
  EFI_STATUS Status;
  const char *Message;  // "" when the case must stay silent
};
ZEPHRIN_PRINT_ROW_BY_NAME(FirstItemRow)

class FirstItem : public PdataTest, public testing::WithParamInterface<FirstItemRow> {};

TEST_P(FirstItem, ReportsEachDefect) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(kTwoItems);
  GetParam().Break(Container);
  DATA_ITEM_CURSOR Item = {};
  EXPECT_EQ(GetFirstDataItem(Container.data(), Container.size(), &Item), GetParam().Status);
  if (GetParam().Status == EFI_SUCCESS) {
    EXPECT_EQ(Item.Offset, kFirstItem);
    EXPECT_EQ(+DataItemHeaderAt(&Item)->ItemId, 7);
  }
  if (*GetParam().Message != '\0') {
    EXPECT_TRUE(Logged(GetParam().Message, DEBUG_ERROR)) << Debug.Dump();
  } else {
    EXPECT_TRUE(Debug.Size() == 0) << Debug.Dump();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FirstItem,
    testing::Values(
        FirstItemRow{"WellFormed", [](std::vector<UINT8> &) {}, EFI_SUCCESS, ""},
        FirstItemRow{"WrongContainerSignature", [](std::vector<UINT8> &C) { C[2] = 'X'; }, EFI_NOT_FOUND,
                     "  [GetFirstDataItem]: Invalid data structure signature!\n"},
        FirstItemRow{"ItemsPresentZeroHidesTheItemBehindIt", [](std::vector<UINT8> &C) { Put32(C, 22, 0); },
                     EFI_NOT_FOUND, ""},
        FirstItemRow{"NoItemSignatureAtByte26", [](std::vector<UINT8> &C) { C[kFirstItem + 1] = 'X'; },
                     EFI_NOT_FOUND, ""},
        FirstItemRow{"ContainerShorterThanItsHeader", [](std::vector<UINT8> &C) { C.resize(20); },
                     EFI_NOT_FOUND,
                     "  [GetFirstDataItem]: Container of 20 bytes is shorter than its header!\n"},
        FirstItemRow{"ItemHeaderCutByContainerEnd", [](std::vector<UINT8> &C) { C.resize(kFirstItem + 20); },
                     EFI_NOT_FOUND, ""},
        FirstItemRow{
            "ItemDataRunsPastContainer", [](std::vector<UINT8> &C) { Put32(C, kFirstItem + 12, 0x1000); },
            EFI_NOT_FOUND,
            "  [GetFirstDataItem]: Item at offset 0x1A with 0x1000 bytes of data runs past its container!\n"},
        // The data sits at byte 24 whatever HeaderSize says; HeaderSize is only the step.
        FirstItemRow{"HeaderSizeBelowItemHeaderIsAShortStep",
                     [](std::vector<UINT8> &C) { Put16(C, kFirstItem + 8, 0); }, EFI_SUCCESS, ""},
        FirstItemRow{"ZeroStepItemIsRefused",
                     [](std::vector<UINT8> &C) {
                       Put16(C, kFirstItem + 8, 0);
                       Put32(C, kFirstItem + 12, 0);
                     },
                     EFI_NOT_FOUND, "  [GetFirstDataItem]: Item at offset 0x1A has a step of 0 bytes!\n"}),
    [](const testing::TestParamInfo<FirstItemRow> &Info) { return std::string(Info.param.Name); });

TEST_F(ProductDataItems, NullArgumentsAreRefused) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(kTwoItems);
  DATA_ITEM_CURSOR Item = {};
  VOID *Data = nullptr;
  UINTN Size = 0;
  EXPECT_EQ(GetFirstDataItem(nullptr, Container.size(), &Item), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetFirstDataItem(Container.data(), Container.size(), nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetNextDataItemHeader(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindDataItem(nullptr, Container.size(), 7, &Data), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindDataItem(Container.data(), Container.size(), 7, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetProductDataSize(Container.data(), Container.size(), nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetProductDataSize(nullptr, Container.size(), &Size), EFI_INVALID_PARAMETER);
}

// ---- The chain's extent: GetProductDataSize steps as GetNextDataItemHeader does --

struct ExtentRow {
  const char *Name;
  std::vector<ProductDataItem> Items;
  std::function<void(std::vector<UINT8> &)> Break;
  size_t Size;
  const char *Message;
};
ZEPHRIN_PRINT_ROW_BY_NAME(ExtentRow)

class ChainExtent : public PdataTest, public testing::WithParamInterface<ExtentRow> {};

TEST_P(ChainExtent, EndsAtTheLastUsableItem) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(GetParam().Items);
  GetParam().Break(Container);
  UINTN Size = 0;
  ASSERT_EQ(GetProductDataSize(Container.data(), Container.size(), &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, GetParam().Size);
  EXPECT_LE(Size, Container.size());
  if (*GetParam().Message != '\0') {
    EXPECT_TRUE(Logged(GetParam().Message, DEBUG_ERROR)) << Debug.Dump();
  } else {
    EXPECT_TRUE(Debug.Size() == 0) << Debug.Dump();
  }
}

const auto kNoChange = [](std::vector<UINT8> &) {};

INSTANTIATE_TEST_SUITE_P(
    Rows, ChainExtent,
    testing::Values(
        ExtentRow{"OneItem", {{7, 1, {1, 2, 3}}}, kNoChange, 26 + 24 + 3, ""},
        ExtentRow{"TwoItems", kTwoItems, kNoChange, kSecondItem + 24 + 3, ""},
        ExtentRow{"ThirdItemOfInvalidIdEndsTheChain",
                  {{7, 1, {1}}, {8, 2, {2, 2}}, {INVALID_DATA_ITEM_ID, 3, {3, 3, 3}}},
                  kNoChange,
                  26 + 25 + 26,
                  "  [GetNextDataItemHeader]: Invalid Item ID 65535!\n"},
        ExtentRow{
            "PaddedHeaderSizeCountsInTheExtent", {{7, 1, {1}, 40}, {8, 2, {2}}}, kNoChange, 26 + 41 + 25, ""},
        // A header that claims padding past the buffer cannot make the container
        // longer than its bytes.
        ExtentRow{"PaddingPastTheBufferIsClamped",
                  {{7, 1, {1, 2}}},
                  [](std::vector<UINT8> &C) { Put16(C, kFirstItem + 8, 200); },
                  26 + 24 + 2,
                  ""},
        ExtentRow{
            "SecondItemDataPastTheEnd", kTwoItems,
            [](std::vector<UINT8> &C) { Put32(C, kSecondItem + 12, 0xFFFFFFF0); }, kSecondItem,
            "  [GetNextDataItemHeader]: Item at offset 0x3A with 0xFFFFFFF0 bytes of data runs past its "
            "container!\n"},
        // HeaderSize + DataSize of 0 would make the step stand still forever.
        ExtentRow{"ZeroStepItemEndsTheChain", kTwoItems,
                  [](std::vector<UINT8> &C) {
                    Put16(C, kSecondItem + 8, 0);
                    Put32(C, kSecondItem + 12, 0);
                  },
                  kSecondItem, "  [GetNextDataItemHeader]: Item at offset 0x3A has a step of 0 bytes!\n"}),
    [](const testing::TestParamInfo<ExtentRow> &Info) { return std::string(Info.param.Name); });

TEST_F(ProductDataItems, NextItemStepsByHeaderSizePlusDataSize) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer({{7, 1, {1}, 32}, {9, 2, {2, 2}}});
  DATA_ITEM_CURSOR Item = {};
  ASSERT_EQ(GetFirstDataItem(Container.data(), Container.size(), &Item), EFI_SUCCESS);
  ASSERT_EQ(GetNextDataItemHeader(&Item), EFI_SUCCESS);
  EXPECT_EQ(Item.Offset, 26u + 32 + 1);
  EXPECT_EQ(+DataItemHeaderAt(&Item)->ItemId, 9);
  EXPECT_EQ(GetNextDataItemHeader(&Item), EFI_NOT_FOUND);
  EXPECT_EQ(Item.Offset, 26u + 32 + 1) << "a failed step leaves the cursor where it was";
}

// HeaderSize is only the step: an item that claims 16 header bytes is followed by
// the next item 16 + DataSize bytes on, even where that is inside its own data.
TEST_F(ProductDataItems, ShortHeaderSizeStepsIntoItsOwnData) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(
      {{7, 1, {'_', 'S', 'D', 'D', 'A', 'T', 'A', '_'}}, {9, 2, {0x99, 0x98}}});
  // Move the second item's header (from its HeaderSize field on) behind the
  // first item's data, whose 8 bytes already spell the item signature.
  const size_t Second = 26 + 24 + 8;
  std::vector<UINT8> Tail(Container.begin() + Second + 8, Container.end());
  Container.resize(Second);
  Container.insert(Container.end(), Tail.begin(), Tail.end());
  Put16(Container, kFirstItem + 8, 16);  // step = 16 + 8 lands on the first item's data

  DATA_ITEM_CURSOR Item = {};
  ASSERT_EQ(GetFirstDataItem(Container.data(), Container.size(), &Item), EFI_SUCCESS);
  ASSERT_EQ(GetNextDataItemHeader(&Item), EFI_SUCCESS);
  EXPECT_EQ(Item.Offset, kFirstItem + 24);
  EXPECT_EQ(+DataItemHeaderAt(&Item)->ItemId, 9);
  VOID *Data = nullptr;
  ASSERT_EQ(FindDataItem(Container.data(), Container.size(), 9, &Data), EFI_SUCCESS);
  EXPECT_EQ(*static_cast<UINT8 *>(Data), 0x99);
  UINTN Size = 0;
  ASSERT_EQ(GetProductDataSize(Container.data(), Container.size(), &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, Container.size());
  EXPECT_TRUE(Debug.Size() == 0) << Debug.Dump();
}

TEST_F(ProductDataItems, NextItemFromAPositionWithoutAnItemIsRefused) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(kTwoItems);
  DATA_ITEM_CURSOR Item = {Container.data(), Container.size(), 3};
  EXPECT_EQ(GetNextDataItemHeader(&Item), EFI_INVALID_PARAMETER);
  Item.Offset = Container.size() + 100;  // past the end: no read may happen there
  EXPECT_EQ(GetNextDataItemHeader(&Item), EFI_INVALID_PARAMETER);
}

// ---- FindDataItem ----------------------------------------------------------------

TEST_F(ProductDataItems, FindDataItemFindsEachInstanceInTurn) {
  std::vector<ProductDataItem> Items = {{7, 1, {0xA1}}, {8, 2, {0xB2}}, {7, 3, {0xC3}}};
  std::vector<UINT8> Container = sim::BuildProductDataContainer(Items);
  VOID *Data = nullptr;
  ASSERT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_SUCCESS);
  EXPECT_EQ(*static_cast<UINT8 *>(Data), 0xA1);
  ASSERT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_SUCCESS);
  EXPECT_EQ(*static_cast<UINT8 *>(Data), 0xC3);
  EXPECT_EQ(Data, Container.data() + sim::ProductDataItemOffset(Items, 2) + 24);
  EXPECT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_NOT_FOUND);
  Data = nullptr;
  ASSERT_EQ(FindDataItem(Container.data(), Container.size(), 8, &Data), EFI_SUCCESS);
  EXPECT_EQ(*static_cast<UINT8 *>(Data), 0xB2);
}

// The search by ItemId has no INVALID_DATA_ITEM_ID test: it walks past such an item.
TEST_F(ProductDataItems, FindDataItemWalksPastAnInvalidIdItem) {
  std::vector<UINT8> Container =
      sim::BuildProductDataContainer({{1, 1, {0}}, {INVALID_DATA_ITEM_ID, 2, {0, 0}}, {7, 3, {0x77}}});
  VOID *Data = nullptr;
  ASSERT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_SUCCESS);
  EXPECT_EQ(*static_cast<UINT8 *>(Data), 0x77);
}

TEST_F(ProductDataItems, FindDataItemRefusesAContinuationPointerThatIsNoItemOfTheContainer) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer(kTwoItems);
  std::vector<UINT8> Elsewhere = sim::BuildProductDataContainer(kTwoItems);
  VOID *Data = Elsewhere.data() + kFirstItem + 24;
  EXPECT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_INVALID_PARAMETER);
  Data = Container.data() + kFirstItem + 24 + 2;  // inside the first item's data
  EXPECT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_INVALID_PARAMETER);
}

TEST_F(ProductDataItems, FindDataItemStopsAtAnItemThatRunsPastTheContainer) {
  std::vector<UINT8> Container = sim::BuildProductDataContainer({{1, 1, {0}}, {7, 2, {1, 2, 3, 4}}});
  Container.resize(Container.size() - 1);  // the wanted item's data loses its last byte
  VOID *Data = nullptr;
  EXPECT_EQ(FindDataItem(Container.data(), Container.size(), 7, &Data), EFI_NOT_FOUND);
  EXPECT_EQ(Data, nullptr);
  EXPECT_TRUE(
      Logged("  [FindDataItem]: Item at offset 0x33 with 0x4 bytes of data runs past its container!\n"))
      << Debug.Dump();
}

}  // namespace
}  // namespace pdata_test
