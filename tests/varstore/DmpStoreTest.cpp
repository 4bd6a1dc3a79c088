// dmpstore -s files: the one the UEFI shell saved in QEMU, round trips, and a
// rejection per check with the record's offset.
#include <gtest/gtest.h>

#include "sim/DmpStore.h"
#include "tests/varstore/VarStoreTestSupport.h"

namespace varstore_test {
namespace {

constexpr EFI_GUID kLockGuid = {0x6A85A0B9, 0x3C08, 0x4585, {0xAC, 0x1F, 0x8E, 0xD2, 0x21, 0xCF, 0x05, 0x9F}};

const sim::StoredVariable *FindDumped(const std::vector<sim::DumpedVariable> &Records,
                                      const std::u16string &Name, const EFI_GUID &Guid) {
  for (const sim::DumpedVariable &Record : Records) {
    if (Record.Variable.Is(Name, Guid)) return &Record.Variable;
  }
  return nullptr;
}

TEST(DmpStore, ShellsDumpHoldsTheCacheAndTheVolatileLockIndicator) {
  const Bytes Dump = Fixture("ovmf-shell.dmp");
  ASSERT_FALSE(Dump.empty());
  std::vector<sim::DumpedVariable> Records;
  std::string Error;
  ASSERT_TRUE(sim::ReadDmpStore(Dump.data(), Dump.size(), &Records, &Error)) << Error;
  EXPECT_EQ(Records.size(), 64u);
  EXPECT_EQ(Records[0].Offset, 0u);
  EXPECT_EQ(Records[1].Offset, 0x47bu);  // 8 + 28 + 16 + 4 + 1087 + 4 bytes
  const sim::StoredVariable *Cache = FindDumped(Records, u"AcpiDataCache", kCacheGuid);
  ASSERT_NE(Cache, nullptr);
  EXPECT_EQ(Cache->Attributes, kNvBs);
  EXPECT_EQ(Cache->Data, Fixture("sample_cache.bin"));
  const sim::StoredVariable *Lock = FindDumped(Records, u"AcpiCacheLockIndicator", kLockGuid);
  ASSERT_NE(Lock, nullptr);
  EXPECT_EQ(Lock->Attributes, EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS);
  EXPECT_EQ(Lock->Data, Bytes{1});
}

TEST(DmpStore, WrittenFileReadsBackAndMatchesTheShellsBytes) {
  const Bytes Dump = Fixture("ovmf-shell.dmp");
  ASSERT_FALSE(Dump.empty());
  std::vector<sim::DumpedVariable> Records;
  std::string Error;
  ASSERT_TRUE(sim::ReadDmpStore(Dump.data(), Dump.size(), &Records, &Error)) << Error;
  std::vector<sim::StoredVariable> Variables;
  for (const sim::DumpedVariable &Record : Records) Variables.push_back(Record.Variable);
  EXPECT_TRUE(sim::WriteDmpStore(Variables) == Dump);
}

// One record "Var" with 4 data bytes: sizes 8, name 8, GUID 16, attributes 4,
// data 4, CRC 4 = 44 bytes, then a second record at 0x2c.
class BadDump : public ::testing::TestWithParam<MutationRow> {};

TEST_P(BadDump, IsRefusedWithTheOffset) {
  Bytes Dump = sim::WriteDmpStore(
      {Variable(u"Var", kCacheGuid, kNvBs, {1, 2, 3, 4}), Variable(u"Two", kCacheGuid, kNvBs, {5})});
  GetParam().Mutate(&Dump);
  std::vector<sim::DumpedVariable> Records;
  std::string Error;
  EXPECT_FALSE(sim::ReadDmpStore(Dump.data(), Dump.size(), &Records, &Error));
  EXPECT_EQ(Error, GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    DmpStore, BadDump,
    ::testing::Values(
        MutationRow{"Empty", [](Bytes *Dump) { Dump->clear(); }, "file of 0 bytes holds no dmpstore record"},
        MutationRow{"SizesCutOff", [](Bytes *Dump) { Dump->resize(0x2c + 6); },
                    "variable at offset 0x2c: the record's sizes are cut off by the end of the file"},
        MutationRow{
            "DataPastFile", [](Bytes *Dump) { Put32(Dump, 0x2c + 4, 0x100); },
            "variable at offset 0x2c: its name (0x8 bytes) and data (0x100 bytes) run past the end of the "
            "file at 0x55"},
        MutationRow{
            "RecordCutOff", [](Bytes *Dump) { Dump->pop_back(); },
            "variable at offset 0x2c: its name (0x8 bytes) and data (0x1 bytes) run past the end of the "
            "file at 0x54"},
        MutationRow{"NameWithoutTerminator", [](Bytes *Dump) { Put16(Dump, 8 + 6, 'x'); },
                    "variable at offset 0x0: name of 0x8 bytes has no terminator"},
        MutationRow{"OddNameSize", [](Bytes *Dump) { Put32(Dump, 0, 7); },
                    "variable at offset 0x0: name size 0x7 is not a whole UCS-2 name with its terminator"},
        MutationRow{"DataChanged", [](Bytes *Dump) { (*Dump)[0x24] ^= 0x10; },
                    "variable at offset 0x0 (Var): CRC32 0xc2342a95 stored, 0x922d7d0a computed"}),
    [](const ::testing::TestParamInfo<MutationRow> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace varstore_test
