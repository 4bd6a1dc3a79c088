// Reading variable stores: OVMF's own files, a store inside a flash image, the
// plain header form, the copy a firmware takes, and every rejection with the
// offset it names.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "sim/FvImage.h"
#include "tests/varstore/VarStoreTestSupport.h"

namespace varstore_test {
namespace {

constexpr size_t kAuthHeader = sizeof(AUTHENTICATED_VARIABLE_HEADER);

sim::VarStoreContents MustRead(const Bytes &Image) {
  sim::VarStoreContents Contents;
  std::string Error;
  EXPECT_TRUE(sim::ReadVarStore(Image.data(), Image.size(), &Contents, &Error)) << Error;
  return Contents;
}

std::string ReadError(const Bytes &Image) {
  sim::VarStoreContents Contents;
  std::string Error;
  EXPECT_FALSE(sim::ReadVarStore(Image.data(), Image.size(), &Contents, &Error));
  return Error;
}

TEST(OvmfStore, CacheWrittenByOvmfIsTheCurrentCopyAndTheOlderOneIsDeleted) {
  const Bytes Image = Fixture("OVMF_VARS_4M.cache.fd");
  const Bytes Cache = Fixture("sample_cache.bin");
  ASSERT_FALSE(Image.empty());
  const sim::VarStoreContents Contents = MustRead(Image);
  EXPECT_EQ(Contents.Location.FvOffset, 0u);
  EXPECT_EQ(Contents.Location.FvLength, 0x84000u);
  EXPECT_EQ(Contents.Location.StoreOffset, 0x48u);
  EXPECT_EQ(Contents.Location.StoreSize, 0x3ffb8u);
  EXPECT_TRUE(Contents.Location.Authenticated);
  EXPECT_EQ(Contents.FreeOffset, 0x45c8u);

  const sim::VarCopy *Current = Contents.Find(u"AcpiDataCache", kCacheGuid);
  ASSERT_NE(Current, nullptr);
  EXPECT_EQ(Current->Offset, 0x4130u);
  EXPECT_EQ(Current->Variable.Attributes, kNvBs);
  EXPECT_EQ(Current->Variable.Data, Cache);
  std::vector<const sim::VarCopy *> Older;
  for (const sim::VarCopy &Copy : Contents.Copies) {
    if (!Copy.Current && Copy.Variable.Name == u"AcpiDataCache") Older.push_back(&Copy);
  }
  ASSERT_EQ(Older.size(), 1u);
  EXPECT_EQ(Older[0]->State, 0x3c);
  EXPECT_EQ(Older[0]->SkipReason, "deleted");
  EXPECT_EQ(Older[0]->Variable.Data, Bytes(Cache.begin(), Cache.begin() + 64));
  EXPECT_EQ(Contents.Find(u"AcpiCacheLockIndicator", kCacheGuid), nullptr);

  const sim::VarCopy *BootOrder = Contents.Find(u"BootOrder", kGlobalGuid);
  ASSERT_NE(BootOrder, nullptr);
  EXPECT_EQ(BootOrder->Variable.Attributes, 7u);
  // Every name and GUID has at most one current copy.
  const std::vector<const sim::VarCopy *> CurrentCopies = Contents.CurrentCopies();
  for (size_t First = 0; First < CurrentCopies.size(); First++) {
    for (size_t Second = First + 1; Second < CurrentCopies.size(); Second++) {
      EXPECT_FALSE(CurrentCopies[First]->Variable.Name == CurrentCopies[Second]->Variable.Name &&
                   sim::SameGuid(CurrentCopies[First]->Variable.Guid, CurrentCopies[Second]->Variable.Guid))
          << sim::NameText(CurrentCopies[First]->Variable.Name);
    }
  }
}

TEST(OvmfStore, FreshImageIsOvmfsPristineFileByteForByte) {
  const Bytes Pristine = PristineOvmfVars();
  if (Pristine.empty()) GTEST_SKIP() << "no /usr/share/OVMF/OVMF_VARS_4M.fd (package ovmf)";
  EXPECT_TRUE(sim::NewVarStoreImage() == Pristine);
  const sim::VarStoreContents Contents = MustRead(Pristine);
  EXPECT_TRUE(Contents.Copies.empty());
  EXPECT_EQ(Contents.FreeBytes(), 0x3ffb8u - sizeof(VARIABLE_STORE_HEADER));
}

// A flash image: a code volume first, a volume that claims the NV data file
// system but fails its checksum, then the real store, then more code.
TEST(FlashImage, StoreIsFoundBehindOtherVolumesAndABrokenCandidate) {
  const Bytes Store = Fixture("OVMF_VARS_4M.cache.fd");
  ASSERT_FALSE(Store.empty());
  Bytes Flash(0x200000, 0xFF);
  const Bytes Code = sim::FvImageBuilder().AddRawFile(kCacheGuid, Bytes(0x3000, 0x90)).Build();
  std::memcpy(Flash.data(), Code.data(), Code.size());
  std::memcpy(Flash.data() + 0x40000, Store.data(), 0x1000);  // a damaged copy
  Flash[0x40000 + 0x32] += 1;
  std::memcpy(Flash.data() + 0x100000, Store.data(), Store.size());
  const sim::VarStoreContents Contents = MustRead(Flash);
  EXPECT_EQ(Contents.Location.FvOffset, 0x100000u);
  EXPECT_EQ(Contents.Location.StoreOffset, 0x100048u);
  const sim::VarCopy *Cache = Contents.Find(u"AcpiDataCache", kCacheGuid);
  ASSERT_NE(Cache, nullptr);
  EXPECT_EQ(Cache->Offset, 0x104130u);
  EXPECT_EQ(Cache->Variable.Data, Fixture("sample_cache.bin"));

  Flash.resize(0x100000);  // only the damaged candidate is left
  EXPECT_EQ(ReadError(Flash),
            "variable store volume at offset 0x40000: header checksum is wrong (its words sum to "
            "0x1, not 0)");
}

TEST(PlainStore, PlainHeadersAreWalkedLikeAuthenticatedOnes) {
  const Bytes Image = SmallStore(
      false, {Variable(u"First", kCacheGuid, kNvBs, {1, 2, 3}), Variable(u"Second", kGlobalGuid, 7, {4})});
  const sim::VarStoreContents Contents = MustRead(Image);
  EXPECT_FALSE(Contents.Location.Authenticated);
  ASSERT_EQ(Contents.Copies.size(), 2u);
  // 32-byte header, 12-byte name, 3 data bytes, aligned to 4.
  EXPECT_EQ(Contents.Copies[1].Offset, FirstRecord(Image) + 48);
  EXPECT_EQ(Contents.Find(u"Second", kGlobalGuid)->Variable.Data, Bytes{4});
  EXPECT_EQ(Contents.Find(u"First", kCacheGuid)->Variable.Attributes, kNvBs);
}

// Two copies of one variable with the given states: which one a firmware reads.
struct StateRow {
  const char *Name;
  uint8_t First;
  uint8_t Second;
  int Current;  // 0, 1, or -1 for none
  const char *FirstReason;
  const char *SecondReason;
};

void PrintTo(const StateRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class CopyStates : public ::testing::TestWithParam<StateRow> {};

TEST_P(CopyStates, DecideTheCurrentCopy) {
  const StateRow &Row = GetParam();
  Bytes Image =
      SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, {1}), Variable(u"Var", kCacheGuid, kNvBs, {2})});
  const size_t First = FirstRecord(Image);
  const size_t Second = First + ((kAuthHeader + 8 + 1 + 3) & ~size_t{3});
  Image[First + 2] = Row.First;
  Image[Second + 2] = Row.Second;
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 2u);
  EXPECT_EQ(Contents.Copies[1].Offset, Second);
  EXPECT_EQ(Contents.Copies[0].Current, Row.Current == 0);
  EXPECT_EQ(Contents.Copies[1].Current, Row.Current == 1);
  EXPECT_EQ(Contents.Copies[0].SkipReason, Row.FirstReason);
  EXPECT_EQ(Contents.Copies[1].SkipReason, Row.SecondReason);
}

INSTANTIATE_TEST_SUITE_P(
    VarStore, CopyStates,
    ::testing::Values(StateRow{"UpdateFinished", 0x3c, 0x3f, 1, "deleted", ""},
                      StateRow{"UpdateBeforeOldCopyDeleted", 0x3e, 0x3f, 1,
                               "in deleted transition, superseded by the copy at 0xac", ""},
                      StateRow{"NewCopyHeaderOnly", 0x3e, 0x7f, 0, "",
                               "header only: its write was interrupted"},
                      StateRow{"BothAdded", 0x3f, 0x3f, 1, "older copy, superseded by the copy at 0xac", ""},
                      StateRow{"BothInTransition", 0x3e, 0x3e, 1,
                               "in deleted transition, superseded by the copy at 0xac", ""},
                      StateRow{"DeletedWithoutTransition", 0x3d, 0x3c, -1, "deleted", "deleted"},
                      StateRow{"Erased", 0xff, 0x3f, 1, "state 0xff is no valid variable state", ""}),
    [](const ::testing::TestParamInfo<StateRow> &Info) { return std::string(Info.param.Name); });

// One rejection per check, on a one-variable store of 0x2000 bytes whose record
// sits at 0x64: header 60 bytes, name "Var" (8 bytes), 8 data bytes.
class BadStore : public ::testing::TestWithParam<MutationRow> {};

TEST_P(BadStore, IsRefusedWithTheOffset) {
  Bytes Image = SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, Bytes(8, 0xA5))});
  GetParam().Mutate(&Image);
  EXPECT_EQ(ReadError(Image), GetParam().Message);
}

constexpr size_t kRecord = 0x64;

INSTANTIATE_TEST_SUITE_P(
    VarStore, BadStore,
    ::testing::Values(
        MutationRow{
            "NotAStore", [](Bytes *Image) { Image->assign(0x1000, 0); },
            "no variable store in the 0x1000 bytes: no firmware volume with the NV data file system GUID "
            "fff12b8d-7696-4c8b-a985-2747075b4f50"},
        MutationRow{
            "VolumeChecksum", [](Bytes *Image) { (*Image)[0x32] += 1; },
            "variable store volume at offset 0x0: header checksum is wrong (its words sum to 0x1, not 0)"},
        MutationRow{
            "HeaderPastFile", [](Bytes *Image) { Image->resize(0x40); },
            "variable store volume at offset 0x0: header length 0x48 does not fit the 0x40 bytes left in the "
            "file"},
        MutationRow{
            "VolumePastFile",
            [](Bytes *Image) {
              Put32(Image, 0x20, 0x3000);
              FixVolumeChecksum(Image, 0);
            },
            "variable store volume at offset 0x0: volume length 0x3000 does not fit the 0x2000 bytes left in "
            "the file"},
        MutationRow{
            "StoreSignature", [](Bytes *Image) { (*Image)[0x48] ^= 0xFF; },
            "variable store header at offset 0x48: signature aaf32c87-947b-439a-a180-2e144ec37792 is not a "
            "variable store's"},
        MutationRow{
            "StorePastVolume", [](Bytes *Image) { Put32(Image, 0x58, 0x3000); },
            "variable store header at offset 0x48: store size 0x3000 does not fit the 0x1fb8 bytes of its "
            "volume"},
        MutationRow{
            "StoreNotHealthy", [](Bytes *Image) { (*Image)[0x5D] = 0xFF; },
            "variable store header at offset 0x48: format 0x5a state 0xff (a usable store is formatted 0x5a "
            "and healthy 0xfe)"},
        MutationRow{
            "VariablePastStore", [](Bytes *Image) { Put32(Image, kRecord + 40, 0x10000); },
            "variable at offset 0x64: its name (0x8 bytes) and data (0x10000 bytes) run past the end of the "
            "store at 0x2000"},
        MutationRow{"NameWithoutTerminator",
                    [](Bytes *Image) { Put16(Image, kRecord + kAuthHeader + 6, 'x'); },
                    "variable at offset 0x64: name of 0x8 bytes has no terminator"},
        MutationRow{"OddNameSize", [](Bytes *Image) { Put32(Image, kRecord + 36, 7); },
                    "variable at offset 0x64: name size 0x7 is not a whole UCS-2 name with its terminator"},
        MutationRow{"HeaderCutOffByStoreEnd",
                    [](Bytes *Image) {
                      // The record's data now reaches to 8 bytes before the end; a start id there.
                      Put32(Image, kRecord + 40, 0x2000 - 8 - (kRecord + kAuthHeader + 8));
                      Put16(Image, 0x2000 - 8, VARIABLE_DATA);
                    },
                    "variable header at offset 0x1ff8 is cut off by the end of the store at 0x2000"}),
    [](const ::testing::TestParamInfo<MutationRow> &Info) { return std::string(Info.param.Name); });

// Store messages print offsets in lower case; the demo and the platform
// tools print values the way the firmware's %X messages do.
TEST(HostTexts, HexTextsInLowerAndUpperCase) {
  EXPECT_EQ(sim::HexText(0x1ff8), "0x1ff8");
  EXPECT_EQ(sim::HexTextUpper(0x7F00ABCD), "0x7F00ABCD");
  EXPECT_EQ(sim::HexTextUpper(0), "0x0");
  EXPECT_EQ(sim::HexTextUpper(0xFFFFFFFFFFFFFFFFULL), "0xFFFFFFFFFFFFFFFF");
}

}  // namespace
}  // namespace varstore_test
