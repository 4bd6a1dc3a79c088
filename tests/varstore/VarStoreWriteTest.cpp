// Writing variable stores: in place, appended with the old copy deleted,
// deleted, compacted when full, refused when it cannot fit; the volume and
// store headers stay valid and bytes outside the variables area stay put.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/varstore/VarStoreTestSupport.h"

namespace varstore_test {
namespace {

sim::VarStoreContents MustRead(const Bytes &Image) {
  sim::VarStoreContents Contents;
  std::string Error;
  EXPECT_TRUE(sim::ReadVarStore(Image.data(), Image.size(), &Contents, &Error)) << Error;
  return Contents;
}

bool Set(Bytes *Image, const sim::StoredVariable &Variable, std::string *Error = nullptr) {
  std::string Ignored;
  return sim::SetVarStoreVariable(Image, Variable, Error != nullptr ? Error : &Ignored);
}

TEST(VarStoreWrite, SameSizeSameAttributesOverwritesTheDataInPlace) {
  Bytes Image = SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, {1, 2, 3})});
  ASSERT_TRUE(Set(&Image, Variable(u"Var", kCacheGuid, kNvBs, {7, 8, 9})));
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 1u);
  EXPECT_EQ(Contents.Copies[0].State, VAR_ADDED);
  EXPECT_EQ(Contents.Copies[0].Variable.Data, (Bytes{7, 8, 9}));
}

struct ReplaceRow {
  const char *Name;
  UINT32 Attributes;
  Bytes Data;
};

void PrintTo(const ReplaceRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class Replace : public ::testing::TestWithParam<ReplaceRow> {};

// Another size or other attributes: a new copy after the old one, which is
// deleted by way of the transition state (0x3f -> 0x3e -> 0x3c), as OVMF does.
TEST_P(Replace, AppendsTheNewCopyAndDeletesTheOld) {
  Bytes Image = SmallStore(
      true, {Variable(u"Var", kCacheGuid, kNvBs, {1, 2, 3}), Variable(u"Other", kCacheGuid, kNvBs, {4})});
  ASSERT_TRUE(Set(&Image, Variable(u"Var", kCacheGuid, GetParam().Attributes, GetParam().Data)));
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 3u);
  EXPECT_EQ(Contents.Copies[0].State, 0x3c);
  EXPECT_EQ(Contents.Copies[2].State, VAR_ADDED);
  const sim::VarCopy *Current = Contents.Find(u"Var", kCacheGuid);
  ASSERT_EQ(Current, &Contents.Copies[2]);
  EXPECT_EQ(Current->Variable.Data, GetParam().Data);
  EXPECT_EQ(Current->Variable.Attributes, GetParam().Attributes);
  EXPECT_NE(Contents.Find(u"Other", kCacheGuid), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    VarStore, Replace,
    ::testing::Values(ReplaceRow{"Longer", kNvBs, {1, 2, 3, 4}}, ReplaceRow{"Shorter", kNvBs, {1}},
                      ReplaceRow{"OtherAttributes", kNvBs | EFI_VARIABLE_RUNTIME_ACCESS, {1, 2, 3}}),
    [](const ::testing::TestParamInfo<ReplaceRow> &Info) { return std::string(Info.param.Name); });

TEST(VarStoreWrite, NewVariableIsAppendedAfterTheLastRecord) {
  Bytes Image = SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, {1, 2, 3})});
  const size_t Free = MustRead(Image).FreeOffset;
  ASSERT_TRUE(Set(&Image, Variable(u"New", kGlobalGuid, 7, {5, 6})));
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 2u);
  EXPECT_EQ(Contents.Copies[1].Offset, Free);
  EXPECT_EQ(Contents.Find(u"New", kGlobalGuid)->Variable.Data, (Bytes{5, 6}));
}

TEST(VarStoreWrite, DeleteMarksTheCopyDeletedAndASecondDeleteFindsNothing) {
  Bytes Image = SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, {1})});
  std::string Error;
  ASSERT_TRUE(sim::DeleteVarStoreVariable(&Image, u"Var", kCacheGuid, &Error)) << Error;
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 1u);
  EXPECT_EQ(Contents.Copies[0].State, VAR_ADDED & VAR_DELETED);
  EXPECT_EQ(Contents.Find(u"Var", kCacheGuid), nullptr);
  const Bytes Before = Image;
  EXPECT_FALSE(sim::DeleteVarStoreVariable(&Image, u"Var", kCacheGuid, &Error));
  EXPECT_EQ(Error, "no variable Var 79660e97-514b-4cfc-873f-02b3ab00c086 in the store");
  EXPECT_TRUE(Image == Before);
}

TEST(VarStoreWrite, FullStoreIsCompactedAndWhatNeverFitsIsRefusedUnchanged) {
  // 0x1000-byte volume: 0xf9c bytes for records.
  Bytes Image = SmallStore(true, {Variable(u"Keep", kGlobalGuid, 7, {1})}, 0x1000);
  ASSERT_TRUE(Set(&Image, Variable(u"Big", kCacheGuid, kNvBs, Bytes(0x700, 1))));
  std::string Error;
  ASSERT_TRUE(Set(&Image, Variable(u"Big", kCacheGuid, kNvBs, Bytes(0x800, 2)), &Error)) << Error;
  sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 2u);  // compacted: no deleted copy left
  EXPECT_EQ(Contents.Find(u"Keep", kGlobalGuid)->Variable.Data, Bytes{1});
  EXPECT_EQ(Contents.Find(u"Big", kCacheGuid)->Variable.Data, Bytes(0x800, 2));

  const Bytes Before = Image;
  EXPECT_FALSE(Set(&Image, Variable(u"Big", kCacheGuid, kNvBs, Bytes(0xf60, 3)), &Error));
  EXPECT_EQ(Error,
            "the store is full: Big 79660e97-514b-4cfc-873f-02b3ab00c086 needs 0xfa4 bytes; the variables do "
            "not fit the 0xf9c bytes of the store's variables area");
  EXPECT_TRUE(Image == Before);
}

// Leftover bytes after the last record (an old record whose start id was lost):
// appending in front of them would make the next walk run into them.
TEST(VarStoreWrite, LeftoverBytesInTheFreeSpaceAreErasedByACompactionFirst) {
  Bytes Image =
      SmallStore(true, {Variable(u"Var", kCacheGuid, kNvBs, {1}), Variable(u"Old", kCacheGuid, kNvBs, {2})});
  const size_t Old = FirstRecord(Image) + 72;
  Put16(&Image, Old, 0x0000);  // the walk now ends at Old; its bytes stay
  Put16(&Image, Old + 0x100, VARIABLE_DATA);
  ASSERT_TRUE(Set(&Image, Variable(u"New", kGlobalGuid, 7, Bytes(0x40, 3))));
  const sim::VarStoreContents Contents = MustRead(Image);
  ASSERT_EQ(Contents.Copies.size(), 2u);
  EXPECT_EQ(Contents.Copies[1].Variable.Name, u"New");
  EXPECT_EQ(Contents.Copies[1].Offset, Old);
  EXPECT_EQ(Image[Old + 0x100], 0xFF);
}

TEST(VarStoreWrite, AuthenticatedFieldsSurviveACompaction) {
  sim::StoredVariable Signed = Variable(u"db", kGlobalGuid, 0x27, {1, 2});
  Signed.MonotonicCount = 5;
  Signed.TimeStamp.Year = 2024;
  Signed.TimeStamp.Nanosecond = 7;
  Signed.PubKeyIndex = 2;
  Bytes Image = SmallStore(true, {Signed});
  ASSERT_TRUE(Set(&Image, Variable(u"Other", kGlobalGuid, 7, {3})));
  std::string Error;
  ASSERT_TRUE(sim::RewriteVarStore(&Image, {MustRead(Image).Find(u"db", kGlobalGuid)->Variable}, &Error));
  const sim::VarStoreContents After = MustRead(Image);
  const sim::VarCopy *Read = After.Find(u"db", kGlobalGuid);
  ASSERT_NE(Read, nullptr);
  EXPECT_EQ(Read->Variable.MonotonicCount, 5u);
  EXPECT_EQ(Read->Variable.TimeStamp.Year, 2024);
  EXPECT_EQ(Read->Variable.TimeStamp.Nanosecond, 7u);
  EXPECT_EQ(Read->Variable.PubKeyIndex, 2u);
}

// OVMF's file: a rewrite touches only the variables area, so the volume header
// (and its checksum), the store header and the fault-tolerant-write blocks stay.
TEST(VarStoreWrite, WritesToOvmfsFileKeepEverythingOutsideTheVariablesArea) {
  const Bytes Original = Fixture("OVMF_VARS_4M.cache.fd");
  ASSERT_FALSE(Original.empty());
  Bytes Image = Original;
  const sim::VarStoreContents Before = MustRead(Image);
  ASSERT_TRUE(Set(&Image, Variable(u"AcpiDataCache", kCacheGuid, kNvBs, Bytes(100, 0x55))));
  const sim::VarStoreContents Updated = MustRead(Image);
  ASSERT_EQ(Updated.Copies.size(), Before.Copies.size() + 1);
  std::vector<sim::StoredVariable> Kept;
  for (const sim::VarCopy *Copy : Updated.CurrentCopies()) Kept.push_back(Copy->Variable);
  std::string Error;
  ASSERT_TRUE(sim::RewriteVarStore(&Image, Kept, &Error)) << Error;
  const size_t VariablesStart = Before.Location.StoreOffset + sizeof(VARIABLE_STORE_HEADER);
  EXPECT_TRUE(std::equal(Image.begin(), Image.begin() + VariablesStart, Original.begin()));
  EXPECT_TRUE(std::equal(Image.begin() + Before.Location.StoreEnd(), Image.end(),
                         Original.begin() + Before.Location.StoreEnd()));
  const sim::VarStoreContents After = MustRead(Image);
  EXPECT_EQ(After.CurrentCopies().size(), Before.CurrentCopies().size());
  EXPECT_EQ(After.Copies.size(), After.CurrentCopies().size());
  EXPECT_EQ(After.Find(u"AcpiDataCache", kCacheGuid)->Variable.Data, Bytes(100, 0x55));
  EXPECT_EQ(After.Find(u"BootOrder", kGlobalGuid)->Variable.Data,
            Before.Find(u"BootOrder", kGlobalGuid)->Variable.Data);
}

}  // namespace
}  // namespace varstore_test
