// The QEMU test platform's handling of what the host hands it: fw_cfg
// directories, the boot-path item and the HOB list it republishes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/GuidHobWalk.h"
#include "tests/qemu/FwCfg.h"
#include "tests/qemu/HobListCopy.h"

namespace {

std::vector<UINT8> Directory(const std::vector<std::pair<std::string, UINT16>> &Files, UINT32 Count) {
  std::vector<UINT8> Bytes = {static_cast<UINT8>(Count >> 24), static_cast<UINT8>(Count >> 16),
                              static_cast<UINT8>(Count >> 8), static_cast<UINT8>(Count)};
  UINT32 Size = 0x100;
  for (const auto &File : Files) {
    FW_CFG_FILE Entry = {};
    Entry.Size = __builtin_bswap32(Size++);
    Entry.Select = __builtin_bswap16(File.second);
    std::memcpy(Entry.Name, File.first.data(), std::min<size_t>(File.first.size(), sizeof(Entry.Name)));
    const UINT8 *Raw = reinterpret_cast<const UINT8 *>(&Entry);
    Bytes.insert(Bytes.end(), Raw, Raw + sizeof(Entry));
  }
  return Bytes;
}

struct DirectoryCase {
  const char *Name;
  std::vector<std::pair<std::string, UINT16>> Files;
  int CountAdjust;  // added to the real entry count
  size_t Truncate;  // bytes cut off the end
  EFI_STATUS Expected;
  UINT16 Select;
  UINT32 Size;
};

class FwCfgDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(FwCfgDirectoryTest, FindsTheNamedFileOrRefuses) {
  const DirectoryCase &Case = GetParam();
  std::vector<UINT8> Bytes = Directory(Case.Files, static_cast<UINT32>(Case.Files.size() + Case.CountAdjust));
  Bytes.resize(Bytes.size() - Case.Truncate);
  UINT16 Select = 0;
  UINT32 Size = 0;
  EXPECT_EQ(Case.Expected,
            FwCfgFindInDirectory(Bytes.data(), Bytes.size(), "opt/zephrin/path", &Select, &Size));
  EXPECT_EQ(Case.Select, Select);
  EXPECT_EQ(Case.Size, Size);
}

const std::string kLongName(56, 'x');

INSTANTIATE_TEST_SUITE_P(
    Directories, FwCfgDirectoryTest,
    ::testing::Values(
        DirectoryCase{"SecondEntry",
                      {{"etc/boot-fail-wait", 0x20}, {"opt/zephrin/path", 0x21}},
                      0,
                      0,
                      EFI_SUCCESS,
                      0x21,
                      0x101},
        DirectoryCase{"PrefixIsNoMatch",
                      {{"opt/zephrin/pat", 0x20}, {"opt/zephrin/path2", 0x21}},
                      0,
                      0,
                      EFI_NOT_FOUND,
                      0,
                      0},
        DirectoryCase{"Empty", {}, 0, 0, EFI_NOT_FOUND, 0, 0},
        DirectoryCase{"CountBeyondData", {{"opt/zephrin/path", 0x21}}, 1, 0, EFI_COMPROMISED_DATA, 0, 0},
        DirectoryCase{"TruncatedEntry", {{"opt/zephrin/path", 0x21}}, 0, 1, EFI_COMPROMISED_DATA, 0, 0},
        DirectoryCase{"NoCount", {}, 0, 1, EFI_COMPROMISED_DATA, 0, 0},
        DirectoryCase{"UnterminatedName",
                      {{kLongName, 0x20}, {"opt/zephrin/path", 0x21}},
                      0,
                      0,
                      EFI_COMPROMISED_DATA,
                      0,
                      0}),
    [](const ::testing::TestParamInfo<DirectoryCase> &Info) { return std::string(Info.param.Name); });

TEST(FwCfgBootPathTest, WordsWithTheirAllowedEndings) {
  struct {
    std::string Text;
    UINT8 Path;
  } Cases[] = {
      {"custom", 1},           {"certified", 2},    {"custom\n", 1}, {std::string("certified\0", 10), 2},
      {"customer", 0},         {"certifie", 0},     {"Custom", 0},   {"", 0},
      {"custom certified", 0}, {"certified\r\n", 2}};
  for (const auto &Case : Cases) {
    EXPECT_EQ(Case.Path, FwCfgParseBootPath(Case.Text.data(), Case.Text.size())) << "\"" << Case.Text << "\"";
  }
}

// A handoff HOB (56 bytes, EfiEndOfHobList at 48), one resource HOB, the end.
std::vector<UINT64> SampleHobList() {
  std::vector<UINT64> Words(7 + 6 + 1, 0);
  auto Header = [&](size_t Word, UINT16 Type, UINT16 Length) {
    Words[Word] = Type | (static_cast<UINT64>(Length) << 16);
  };
  Header(0, EFI_HOB_TYPE_HANDOFF, 56);
  for (size_t Word = 1; Word < 6; Word++) Words[Word] = 0x1111111111111111ULL * Word;
  Header(7, EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 48);
  for (size_t Word = 8; Word < 13; Word++) Words[Word] = 0xA0A0A0A0A0A0A0A0ULL + Word;
  Header(13, EFI_HOB_TYPE_END_OF_HOB_LIST, 8);
  return Words;
}

constexpr EFI_GUID kFirstGuid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kSecondGuid = {0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

TEST(HobListCopyTest, KeepsEveryHobAndAppendsBeforeTheEnd) {
  std::vector<UINT64> List = SampleHobList();
  UINTN ListSize = 0;
  ASSERT_EQ(EFI_SUCCESS, HobListMeasure(List.data(), List.size() * 8, &ListSize));
  EXPECT_EQ(112u, ListSize);
  const UINT8 Data[5] = {1, 2, 3, 4, 5};
  HOB_TO_APPEND Hobs[] = {{&kFirstGuid, Data, sizeof(Data)}, {&kSecondGuid, NULL, 0}};
  UINTN CopySize = 0;
  ASSERT_EQ(EFI_SUCCESS, HobListCopySize(ListSize, Hobs, 2, &CopySize));
  EXPECT_EQ(112u + 32u + 24u, CopySize);
  std::vector<UINT64> Copy(CopySize / 8, 0xCCCCCCCCCCCCCCCCULL);
  ASSERT_EQ(EFI_SUCCESS, HobListCopyWithAppended(List.data(), ListSize, Hobs, 2, Copy.data(), CopySize));

  // Original HOBs byte for byte, except the handoff HOB's end pointer.
  EXPECT_EQ(0, std::memcmp(Copy.data(), List.data(), 48));
  EXPECT_EQ(0, std::memcmp(&Copy[7], &List[7], 48));
  EXPECT_EQ(reinterpret_cast<UINT64>(&Copy[Copy.size() - 1]), Copy[6]);
  const UINT8 *First = static_cast<const UINT8 *>(HobFindGuidFrom(&kFirstGuid, Copy.data()));
  ASSERT_NE(nullptr, First);
  EXPECT_EQ(32, reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(First)->HobLength);
  EXPECT_EQ(0, std::memcmp(First + 24, Data, sizeof(Data)));
  EXPECT_EQ(0, First[24 + 5] | First[24 + 6] | First[24 + 7]);
  const UINT8 *Second = static_cast<const UINT8 *>(HobFindGuidFrom(&kSecondGuid, Copy.data()));
  ASSERT_EQ(First + 32, Second);
  EXPECT_EQ(24, reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Second)->HobLength);
  EXPECT_EQ(EFI_HOB_TYPE_END_OF_HOB_LIST,
            reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Second + 24)->HobType);
  UINTN CopyListSize = 0;
  EXPECT_EQ(EFI_SUCCESS, HobListMeasure(Copy.data(), CopySize, &CopyListSize));
  EXPECT_EQ(CopySize, CopyListSize);
}

TEST(HobListCopyTest, RefusesListsThatDoNotEndAndBuffersThatAreShort) {
  std::vector<UINT64> List = SampleHobList();
  UINTN Size = 0;
  EXPECT_EQ(EFI_COMPROMISED_DATA, HobListMeasure(List.data(), 104, &Size)) << "end HOB beyond the limit";
  List[7] = EFI_HOB_TYPE_RESOURCE_DESCRIPTOR | (static_cast<UINT64>(44) << 16);
  EXPECT_EQ(EFI_COMPROMISED_DATA, HobListMeasure(List.data(), List.size() * 8, &Size))
      << "length not 8-aligned";
  List[7] = EFI_HOB_TYPE_RESOURCE_DESCRIPTOR | (static_cast<UINT64>(4) << 16);
  EXPECT_EQ(EFI_COMPROMISED_DATA, HobListMeasure(List.data(), List.size() * 8, &Size))
      << "shorter than a header";

  List = SampleHobList();
  HOB_TO_APPEND Hob = {&kFirstGuid, NULL, 0};
  std::vector<UINT64> Copy(16);
  EXPECT_EQ(EFI_INVALID_PARAMETER, HobListCopyWithAppended(List.data(), 112, &Hob, 1, Copy.data(), 112 + 16));
  // A size that is not the measured list's: the end HOB is not where the copy
  // would take it from.
  std::vector<UINT64> Roomy(32);
  EXPECT_EQ(EFI_COMPROMISED_DATA, HobListCopyWithAppended(List.data(), 104, &Hob, 1, Roomy.data(), 256))
      << "list cut before its end HOB";
  List.push_back(0);
  EXPECT_EQ(EFI_COMPROMISED_DATA, HobListCopyWithAppended(List.data(), 120, &Hob, 1, Roomy.data(), 256))
      << "size beyond the end HOB";
  List.pop_back();
  EXPECT_EQ(EFI_SUCCESS, HobListCopyWithAppended(List.data(), 112, &Hob, 1, Roomy.data(), 256));
  HOB_TO_APPEND Huge = {&kFirstGuid, List.data(), 0xFFE9};
  EXPECT_EQ(EFI_BAD_BUFFER_SIZE, HobListCopySize(112, &Huge, 1, &Size));
  Huge.DataSize = 0xFFE0;
  EXPECT_EQ(EFI_SUCCESS, HobListCopySize(112, &Huge, 1, &Size));
  EXPECT_EQ(112u + 0xFFF8u, Size);
}

}  // namespace
