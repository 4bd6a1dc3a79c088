// Variable services: the UEFI rules an edk2-style store applies, and the store
// file that carries non-volatile variables into the next boot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tests/support/HostFiles.h"

namespace {

EFI_GUID kVendor = {0x79660E97, 0x514B, 0x4CFC, {0x87, 0x3F, 0x02, 0xB3, 0xAB, 0x00, 0xC0, 0x86}};
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT32 kBsRt = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 kNvBsRt = kNvBs | EFI_VARIABLE_RUNTIME_ACCESS;

std::string TempStorePath() {
  return testing::TempDir() + "simvars-" + std::to_string(getpid()) + "-" +
         testing::UnitTest::GetInstance()->current_test_info()->name();
}

// Options whose store file is Path, removed first so the boot starts without one.
sim::PlatformOptions FreshStoreOptions(const std::string &Path) {
  std::remove(Path.c_str());
  sim::PlatformOptions Options;
  Options.VariableStorePath = Path;
  return Options;
}

class VariableStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Board.LeakCheck(), ""); }
  EFI_STATUS Set(const CHAR16 *Name, UINT32 Attributes, std::vector<UINT8> Data) {
    return Rt->SetVariable(const_cast<CHAR16 *>(Name), &kVendor, Attributes, Data.size(),
                           Data.empty() ? nullptr : Data.data());
  }
  EFI_STATUS Get(const CHAR16 *Name, std::vector<UINT8> *Data, UINT32 *Attributes = nullptr) {
    UINTN Size = 0;
    EFI_STATUS Status = Rt->GetVariable(const_cast<CHAR16 *>(Name), &kVendor, Attributes, &Size, nullptr);
    if (Status != EFI_BUFFER_TOO_SMALL) return Status;
    Data->resize(Size);
    return Rt->GetVariable(const_cast<CHAR16 *>(Name), &kVendor, Attributes, &Size, Data->data());
  }
  sim::Platform Board;
  EFI_RUNTIME_SERVICES *Rt = Board.RuntimeServices();
};

TEST_F(VariableStoreTest, SizeQueryReportsSizeAndAttributes) {
  ASSERT_EQ(Set(u"Var", kNvBs, {1, 2, 3}), EFI_SUCCESS);
  UINT32 Attributes = 0;
  UINTN Size = 0;
  EXPECT_EQ(Rt->GetVariable(const_cast<CHAR16 *>(u"Var"), &kVendor, &Attributes, &Size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 3u);
  EXPECT_EQ(Attributes, kNvBs);
  Size = 8;
  EXPECT_EQ(Rt->GetVariable(const_cast<CHAR16 *>(u"Var"), &kVendor, nullptr, &Size, nullptr),
            EFI_INVALID_PARAMETER);
  std::vector<UINT8> Data;
  EXPECT_EQ(Get(u"Var", &Data), EFI_SUCCESS);
  EXPECT_EQ(Data, (std::vector<UINT8>{1, 2, 3}));
  EXPECT_EQ(Get(u"Other", &Data), EFI_NOT_FOUND);
  EXPECT_EQ(Get(u"", &Data), EFI_NOT_FOUND);
}

TEST_F(VariableStoreTest, NameAndGuidBothIdentifyAVariable) {
  ASSERT_EQ(Set(u"Var", kNvBs, {1}), EFI_SUCCESS);
  EFI_GUID OtherVendor = kVendor;
  OtherVendor.Data4[7] ^= 1;
  UINTN Size = 1;
  UINT8 Byte = 0;
  EXPECT_EQ(Rt->GetVariable(const_cast<CHAR16 *>(u"Var"), &OtherVendor, nullptr, &Size, &Byte),
            EFI_NOT_FOUND);
  EXPECT_EQ(Rt->GetVariable(const_cast<CHAR16 *>(u"var"), &kVendor, nullptr, &Size, &Byte), EFI_NOT_FOUND);
}

struct SetRow {
  const char *Name;
  UINT32 ExistingAttributes;  // 0: the variable does not exist beforehand
  UINT32 Attributes;
  UINTN DataSize;
  EFI_STATUS Expected;
  bool ExistsAfter;
};

// Rows print as their name in test listings.
void PrintTo(const SetRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class SetVariableRules : public ::testing::TestWithParam<SetRow> {};

TEST_P(SetVariableRules, FollowsUefi) {
  const SetRow &Row = GetParam();
  sim::Platform Board;
  if (Row.ExistingAttributes != 0) Board.Variables().Put(u"Var", kVendor, Row.ExistingAttributes, {7});
  std::vector<UINT8> Data(Row.DataSize, 0x42);
  EXPECT_EQ(Board.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"Var"), &kVendor, Row.Attributes,
                                                 Data.size(), Data.empty() ? nullptr : Data.data()),
            Row.Expected);
  EXPECT_EQ(Board.Variables().Find(u"Var", kVendor) != nullptr, Row.ExistsAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SetVariableRules,
    ::testing::Values(
        SetRow{"CreateNvBs", 0, kNvBs, 4, EFI_SUCCESS, true},
        SetRow{"CreateVolatile", 0, kBsRt, 1, EFI_SUCCESS, true},
        SetRow{"RuntimeWithoutBootAccess", 0, EFI_VARIABLE_RUNTIME_ACCESS, 1, EFI_INVALID_PARAMETER, false},
        SetRow{"ReservedAttributeBit", 0, kNvBs | 0x100, 1, EFI_INVALID_PARAMETER, false},
        SetRow{"AuthenticatedWrite", 0, kNvBs | EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS, 1, EFI_UNSUPPORTED,
               false},
        SetRow{"HardwareErrorRecord", 0, kNvBsRt | EFI_VARIABLE_HARDWARE_ERROR_RECORD, 1, EFI_UNSUPPORTED,
               false},
        SetRow{"DeleteMissingBySize", 0, kNvBs, 0, EFI_NOT_FOUND, false},
        SetRow{"DeleteBySizeZero", kNvBs, kNvBs, 0, EFI_SUCCESS, false},
        SetRow{"DeleteByAttributesZero", kNvBs, 0, 4, EFI_SUCCESS, false},
        SetRow{"DeleteWithOtherAttributes", kNvBs, kNvBsRt, 0, EFI_INVALID_PARAMETER, true},
        SetRow{"RewriteWithOtherAttributes", kNvBs, kNvBsRt, 4, EFI_INVALID_PARAMETER, true},
        SetRow{"RewriteVolatileAsNonVolatile", kBsRt, kNvBsRt, 4, EFI_INVALID_PARAMETER, true},
        SetRow{"AppendNothing", kNvBs, kNvBs | EFI_VARIABLE_APPEND_WRITE, 0, EFI_SUCCESS, true},
        SetRow{"AtMaxVariableSize", 0, kNvBs, 0x8400 - 60 - 8, EFI_SUCCESS, true},
        SetRow{"AboveMaxVariableSize", 0, kNvBs, 0x8400 - 60 - 8 + 1, EFI_INVALID_PARAMETER, false}),
    [](const ::testing::TestParamInfo<SetRow> &Info) { return std::string(Info.param.Name); });

TEST_F(VariableStoreTest, DataPointerAndNameAreChecked) {
  EXPECT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Var"), &kVendor, kNvBs, 4, nullptr),
            EFI_INVALID_PARAMETER);
  UINT8 Byte = 1;
  EXPECT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u""), &kVendor, kNvBs, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(nullptr, &kVendor, kNvBs, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Var"), nullptr, kNvBs, 1, &Byte), EFI_INVALID_PARAMETER);
}

TEST_F(VariableStoreTest, AppendExtendsAndSameDataIsNotWrittenAgain) {
  ASSERT_EQ(Set(u"Var", kNvBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Var", kNvBs | EFI_VARIABLE_APPEND_WRITE, {2, 3}), EFI_SUCCESS);
  std::vector<UINT8> Data;
  ASSERT_EQ(Get(u"Var", &Data), EFI_SUCCESS);
  EXPECT_EQ(Data, (std::vector<UINT8>{1, 2, 3}));
  ASSERT_EQ(Set(u"Var", kNvBs, {1, 2, 3}), EFI_SUCCESS);
  EXPECT_EQ(Board.Variables().SetCalls(u"Var", kVendor), 3u);
  EXPECT_EQ(Board.Variables().Writes(u"Var", kVendor), 2u);
}

TEST_F(VariableStoreTest, FullStoreIsOutOfResourcesAndKeepsTheOldValue) {
  sim::PlatformOptions Options;
  Options.NonVolatileStoreSize = 0x200;
  sim::Platform Small(Options);
  EFI_RUNTIME_SERVICES *SmallRt = Small.RuntimeServices();
  std::vector<UINT8> Data(0x100, 1);
  ASSERT_EQ(SmallRt->SetVariable(const_cast<CHAR16 *>(u"A"), &kVendor, kNvBs, Data.size(), Data.data()),
            EFI_SUCCESS);
  Data.assign(0x180, 2);
  EXPECT_EQ(SmallRt->SetVariable(const_cast<CHAR16 *>(u"B"), &kVendor, kNvBs, Data.size(), Data.data()),
            EFI_OUT_OF_RESOURCES);
  // Replacing A needs only A's own room again.
  Data.assign(0x180, 3);
  EXPECT_EQ(SmallRt->SetVariable(const_cast<CHAR16 *>(u"A"), &kVendor, kNvBs, Data.size(), Data.data()),
            EFI_SUCCESS);
  // Volatile variables have a store of their own.
  EXPECT_EQ(SmallRt->SetVariable(const_cast<CHAR16 *>(u"V"), &kVendor, kBsRt, 0x100, Data.data()),
            EFI_SUCCESS);
}

TEST_F(VariableStoreTest, QueryVariableInfoReportsRoomPerStore) {
  UINT64 Maximum = 0;
  UINT64 Remaining = 0;
  UINT64 Largest = 0;
  ASSERT_EQ(Rt->QueryVariableInfo(kNvBs, &Maximum, &Remaining, &Largest), EFI_SUCCESS);
  EXPECT_EQ(Maximum, 0x40000u);
  EXPECT_EQ(Remaining, 0x40000u);
  // OVMF's QueryVariableInfo gives 0x83C4 for its 0x8400 maximum: every record
  // carries the 60-byte header of an authenticated store.
  EXPECT_EQ(Largest, 0x83C4u);
  ASSERT_EQ(Set(u"Var", kNvBs, {1, 2}), EFI_SUCCESS);
  ASSERT_EQ(Rt->QueryVariableInfo(kNvBs, &Maximum, &Remaining, &Largest), EFI_SUCCESS);
  EXPECT_EQ(Remaining, 0x40000u - (60u + 8u + 2u));
  ASSERT_EQ(Rt->QueryVariableInfo(kBsRt, &Maximum, &Remaining, &Largest), EFI_SUCCESS);
  EXPECT_EQ(Remaining, 0x10000u);
  EXPECT_EQ(Rt->QueryVariableInfo(EFI_VARIABLE_NON_VOLATILE, &Maximum, &Remaining, &Largest),
            EFI_INVALID_PARAMETER);
}

TEST_F(VariableStoreTest, InjectedFailureLeavesStoreUntouched) {
  ASSERT_EQ(Set(u"Var", kNvBs, {1}), EFI_SUCCESS);
  Board.Variables().FailSetVariable(2, EFI_DEVICE_ERROR, u"Var");
  EXPECT_EQ(Set(u"Other", kNvBs, {9}), EFI_SUCCESS);  // other names do not count
  EXPECT_EQ(Set(u"Var", kNvBs, {2}), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Var", kNvBs, {3}), EFI_DEVICE_ERROR);
  std::vector<UINT8> Data;
  ASSERT_EQ(Get(u"Var", &Data), EFI_SUCCESS);
  EXPECT_EQ(Data, (std::vector<UINT8>{2}));
}

TEST_F(VariableStoreTest, GetNextVariableNameWalksTheStore) {
  ASSERT_EQ(Set(u"First", kNvBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"SecondName", kBsRt, {1}), EFI_SUCCESS);
  CHAR16 Name[32] = {0};
  EFI_GUID Guid{};
  UINTN Size = sizeof(Name);
  ASSERT_EQ(Rt->GetNextVariableName(&Size, Name, &Guid), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(Name), u"First");
  EXPECT_EQ(Size, 12u);
  Size = 4;
  EXPECT_EQ(Rt->GetNextVariableName(&Size, Name, &Guid), EFI_INVALID_PARAMETER);  // no terminator within Size
  Size = 12;
  EXPECT_EQ(Rt->GetNextVariableName(&Size, Name, &Guid), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 22u);
  Size = sizeof(Name);
  ASSERT_EQ(Rt->GetNextVariableName(&Size, Name, &Guid), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(Name), u"SecondName");
  Size = sizeof(Name);
  EXPECT_EQ(Rt->GetNextVariableName(&Size, Name, &Guid), EFI_NOT_FOUND);
  CHAR16 Unknown[] = u"Nope";
  Size = sizeof(Unknown);
  EXPECT_EQ(Rt->GetNextVariableName(&Size, Unknown, &Guid), EFI_INVALID_PARAMETER);
}

TEST_F(VariableStoreTest, AfterExitBootServicesOnlyRuntimeVariablesRemain) {
  ASSERT_EQ(Set(u"BootOnly", kNvBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Runtime", kNvBsRt, {1}), EFI_SUCCESS);
  Board.SignalExitBootServices();
  std::vector<UINT8> Data;
  EXPECT_EQ(Get(u"BootOnly", &Data), EFI_NOT_FOUND);
  EXPECT_EQ(Get(u"Runtime", &Data), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Volatile", kBsRt, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Set(u"Runtime", kNvBsRt, {2}), EFI_SUCCESS);
  EXPECT_EQ(Set(u"BootOnly", kNvBsRt, {2}), EFI_INVALID_PARAMETER);  // no second variable of that name
  EXPECT_EQ(Set(u"BootOnly", 0, {}), EFI_NOT_FOUND);
  EXPECT_EQ(Board.Variables().All().size(), 2u);
}

TEST(VariablePersistence, NonVolatileVariablesSurviveIntoTheNextBoot) {
  std::string Path = TempStorePath();
  sim::PlatformOptions Options = FreshStoreOptions(Path);
  {
    sim::Platform FirstBoot(Options);
    UINT8 Data[3] = {1, 2, 3};
    EFI_RUNTIME_SERVICES *Rt = FirstBoot.RuntimeServices();
    ASSERT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Kept"), &kVendor, kNvBs, 3, Data), EFI_SUCCESS);
    ASSERT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Lost"), &kVendor, kBsRt, 1, Data), EFI_SUCCESS);
    ASSERT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Gone"), &kVendor, kNvBs, 1, Data), EFI_SUCCESS);
    ASSERT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Gone"), &kVendor, kNvBs, 0, nullptr), EFI_SUCCESS);
  }
  sim::Platform SecondBoot(Options);
  EXPECT_EQ(SecondBoot.LeakCheck(), "");
  const sim::StoredVariable *Kept = SecondBoot.Variables().Find(u"Kept", kVendor);
  ASSERT_NE(Kept, nullptr);
  EXPECT_EQ(Kept->Attributes, kNvBs);
  EXPECT_EQ(Kept->Data, (std::vector<UINT8>{1, 2, 3}));
  EXPECT_EQ(SecondBoot.Variables().Find(u"Lost", kVendor), nullptr);
  EXPECT_EQ(SecondBoot.Variables().Find(u"Gone", kVendor), nullptr);
  EXPECT_EQ(SecondBoot.Variables().SetCalls(u"Kept", kVendor), 0u);  // counters are per boot
  std::remove(Path.c_str());
}

TEST(VariablePersistence, CorruptStoreFileIsAFaultAndStartsEmpty) {
  std::string Path = TempStorePath();
  {
    FILE *File = std::fopen(Path.c_str(), "wb");
    ASSERT_NE(File, nullptr);
    std::fputs("ZSIMVAR1\x03\x00", File);
    std::fclose(File);
  }
  sim::PlatformOptions Options;
  Options.VariableStorePath = Path;
  sim::Platform Board(Options);
  EXPECT_TRUE(Board.Variables().All().empty());
  ASSERT_EQ(Board.Faults().size(), 1u);
  EXPECT_NE(Board.Faults()[0].find(
                Path + ": no variable store in the 0x9 bytes: no firmware volume with the NV data "
                       "file system GUID fff12b8d-7696-4c8b-a985-2747075b4f50"),
            std::string::npos)
      << Board.Faults()[0];
  std::remove(Path.c_str());
}

// The store file is laid out like OVMF's variable file for a 4 MiB flash, so
// QEMU can boot OVMF on a store a simulated boot wrote.
TEST(VariablePersistence, StoreFileIsAnOvmfShapedVariableStore) {
  std::string Path = TempStorePath();
  sim::PlatformOptions Options = FreshStoreOptions(Path);
  {
    sim::Platform Boot(Options);
    UINT8 Data[3] = {1, 2, 3};
    ASSERT_EQ(Boot.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"Kept"), &kVendor, kNvBs, 3, Data),
              EFI_SUCCESS);
  }
  const std::vector<UINT8> Image = test_support::ReadHostFileOrEmpty(Path);
  ASSERT_EQ(Image.size(), 0x84000u);
  sim::VarStoreContents Contents;
  std::string Error;
  ASSERT_TRUE(sim::ReadVarStore(Image.data(), Image.size(), &Contents, &Error)) << Error;
  EXPECT_TRUE(Contents.Location.Authenticated);
  EXPECT_EQ(Contents.Location.StoreOffset, 0x48u);
  ASSERT_EQ(Contents.Copies.size(), 1u);
  EXPECT_EQ(Contents.Copies[0].Offset, 0x64u);
  EXPECT_EQ(Contents.Copies[0].Variable.Data, (std::vector<UINT8>{1, 2, 3}));
  std::remove(Path.c_str());
}

// A store OVMF wrote: the simulator reads the current copies (OVMF's deleted
// ones stay behind) and its next write keeps the file's geometry.
TEST(VariablePersistence, StoreOvmfWroteCarriesItsVariablesIntoASimulatedBoot) {
  const std::string Fixture = std::string(ZEPHRIN_VARSTORE_FIXTURE_DIR) + "/OVMF_VARS_4M.cache.fd";
  const std::vector<UINT8> Original = test_support::ReadHostFileOrEmpty(Fixture);
  ASSERT_FALSE(Original.empty()) << Fixture;
  std::string Path = TempStorePath();
  {
    std::ofstream Out(Path, std::ios::binary);
    Out.write(reinterpret_cast<const char *>(Original.data()), static_cast<std::streamsize>(Original.size()));
  }
  sim::PlatformOptions Options;
  Options.VariableStorePath = Path;
  {
    sim::Platform Boot(Options);
    EXPECT_EQ(Boot.Variables().LoadError(), "");
    EXPECT_EQ(Boot.Variables().All().size(), 29u);
    const sim::StoredVariable *Cache = Boot.Variables().Find(u"AcpiDataCache", kVendor);
    ASSERT_NE(Cache, nullptr);
    EXPECT_EQ(Cache->Attributes, kNvBs);
    EXPECT_EQ(Cache->Data.size(), 1087u);
    UINTN Size = 0;
    UINT32 Attributes = 0;
    EXPECT_EQ(Boot.RuntimeServices()->GetVariable(const_cast<CHAR16 *>(u"AcpiDataCache"), &kVendor,
                                                  &Attributes, &Size, nullptr),
              EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(Size, 1087u);
    UINT8 Data[2] = {4, 5};
    ASSERT_EQ(Boot.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"Added"), &kVendor, kNvBs, 2, Data),
              EFI_SUCCESS);
  }
  const std::vector<UINT8> Written = test_support::ReadHostFileOrEmpty(Path);
  ASSERT_EQ(Written.size(), Original.size());
  sim::VarStoreContents Contents;
  std::string Error;
  ASSERT_TRUE(sim::ReadVarStore(Written.data(), Written.size(), &Contents, &Error)) << Error;
  EXPECT_EQ(Contents.CurrentCopies().size(), 30u);
  EXPECT_EQ(Contents.Copies.size(), 30u);
  EXPECT_EQ(Contents.Find(u"AcpiDataCache", kVendor)->Variable.Data.size(), 1087u);
  // The fault-tolerant-write blocks behind the store are OVMF's own bytes still.
  EXPECT_TRUE(std::equal(Written.begin() + 0x40000, Written.end(), Original.begin() + 0x40000));
  std::remove(Path.c_str());
}

}  // namespace

namespace {

// Rules that allow more than OVMF's 0x40000-byte store holds: a write the store
// file cannot take fails as on a full flash and changes nothing.
TEST(VariablePersistence, WriteTheStoreFileCannotHoldFailsAndChangesNothing) {
  std::string Path = TempStorePath();
  sim::PlatformOptions Options = FreshStoreOptions(Path);
  Options.MaxVariableSize = 0x48000;
  Options.NonVolatileStoreSize = 0x100000;
  sim::Platform Boot(Options);
  EFI_RUNTIME_SERVICES *Rt = Boot.RuntimeServices();
  std::vector<UINT8> Big(0x40000, 0xA5);
  EXPECT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Big"), &kVendor, kNvBs, Big.size(), Big.data()),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Boot.Variables().Find(u"Big", kVendor), nullptr);
  Big.resize(0x1000);
  ASSERT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Big"), &kVendor, kNvBs, Big.size(), Big.data()),
            EFI_SUCCESS);
  std::vector<UINT8> Bigger(0x3FF80, 0x5A);
  EXPECT_EQ(Rt->SetVariable(const_cast<CHAR16 *>(u"Big"), &kVendor, kNvBs, Bigger.size(), Bigger.data()),
            EFI_OUT_OF_RESOURCES);
  ASSERT_NE(Boot.Variables().Find(u"Big", kVendor), nullptr);
  EXPECT_EQ(Boot.Variables().Find(u"Big", kVendor)->Data, Big);
  EXPECT_TRUE(Boot.Faults().empty());
  std::vector<sim::StoredVariable> Stored;
  std::string Error;
  ASSERT_TRUE(sim::ReadVariableStoreFile(Path, &Stored, &Error)) << Error;
  ASSERT_EQ(Stored.size(), 1u);
  EXPECT_EQ(Stored[0].Data, Big);
  std::remove(Path.c_str());
}

}  // namespace
