// Variable policy protocol: entry validation, registration rules and
// lock-on-var-state enforcement before and after EndOfDxe.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "uefi/Protocol/VariablePolicy.h"

namespace {

EFI_GUID kCacheGuid = {0x79660E97, 0x514B, 0x4CFC, {0x87, 0x3F, 0x02, 0xB3, 0xAB, 0x00, 0xC0, 0x86}};
EFI_GUID kIndicatorGuid = {0x6A85A0B9, 0x3C08, 0x4585, {0xAC, 0x1F, 0x8E, 0xD2, 0x21, 0xCF, 0x05, 0x9F}};
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT32 kBsRt = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

void PutName(std::vector<UINT8> &Bytes, const std::u16string &Name) {
  for (CHAR16 Char : Name) {
    Bytes.push_back(static_cast<UINT8>(Char));
    Bytes.push_back(static_cast<UINT8>(Char >> 8));
  }
  Bytes.push_back(0);
  Bytes.push_back(0);
}

template <typename T>
void PutAt(std::vector<UINT8> &Bytes, size_t Offset, T Value) {
  std::memcpy(Bytes.data() + Offset, &Value, sizeof(T));
}

// The lock-on-var-state record byte for byte, written apart from the platform.
std::vector<UINT8> LockOnVarStateRecord(const std::u16string &StateName,
                                        const std::u16string &Name = u"AcpiDataCache") {
  std::vector<UINT8> Bytes(62, 0);
  PutName(Bytes, StateName);
  size_t OffsetToName = Bytes.size();
  PutName(Bytes, Name);
  PutAt<UINT32>(Bytes, 0, 0x00010000);
  PutAt<UINT16>(Bytes, 4, static_cast<UINT16>(Bytes.size()));
  PutAt<UINT16>(Bytes, 6, static_cast<UINT16>(OffsetToName));
  PutAt(Bytes, 8, kCacheGuid);
  PutAt<UINT32>(Bytes, 24, 0);
  PutAt<UINT32>(Bytes, 28, 0xFFFFFFFF);
  PutAt<UINT32>(Bytes, 32, 3);
  PutAt<UINT32>(Bytes, 36, 0xFFFFFFFC);
  Bytes[40] = VARIABLE_POLICY_TYPE_LOCK_ON_VAR_STATE;
  PutAt(Bytes, 44, kIndicatorGuid);
  Bytes[60] = 1;
  return Bytes;
}

class VariablePolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VOID *Interface = nullptr;
    ASSERT_EQ(Board.BootServices()->LocateProtocol(const_cast<EFI_GUID *>(&gEdkiiVariablePolicyProtocolGuid),
                                                   nullptr, &Interface),
              EFI_SUCCESS);
    Policy = static_cast<EDKII_VARIABLE_POLICY_PROTOCOL *>(Interface);
  }
  void TearDown() override { EXPECT_EQ(Board.LeakCheck(), ""); }
  EFI_STATUS Register(const std::vector<UINT8> &Record) {
    return Policy->RegisterVariablePolicy(reinterpret_cast<const VARIABLE_POLICY_ENTRY *>(Record.data()));
  }
  EFI_STATUS SetCache(UINT32 Attributes, UINTN Size = 4) {
    std::vector<UINT8> Data(Size, 0x11);
    return Board.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"AcpiDataCache"), &kCacheGuid,
                                                Attributes, Data.size(),
                                                Data.empty() ? nullptr : Data.data());
  }
  EFI_STATUS SetIndicator(std::vector<UINT8> Value) {
    return Board.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"AcpiCacheLockIndicator"),
                                                &kIndicatorGuid, kBsRt, Value.size(), Value.data());
  }
  sim::Platform Board;
  EDKII_VARIABLE_POLICY_PROTOCOL *Policy = nullptr;
};

TEST_F(VariablePolicyTest, ProtocolRevisionAndAbsenceOption) {
  EXPECT_EQ(Policy->Revision, EDKII_VARIABLE_POLICY_PROTOCOL_REVISION);
  sim::PlatformOptions Options;
  Options.InstallVariablePolicy = false;
  sim::Platform Bare(Options);
  VOID *Interface = nullptr;
  EXPECT_EQ(Bare.BootServices()->LocateProtocol(const_cast<EFI_GUID *>(&gEdkiiVariablePolicyProtocolGuid),
                                                nullptr, &Interface),
            EFI_NOT_FOUND);
}

TEST_F(VariablePolicyTest, WritesBeforeEndOfDxePassEvenWhenLocked) {
  ASSERT_EQ(Register(LockOnVarStateRecord(u"AcpiCacheLockIndicator")), EFI_SUCCESS);
  ASSERT_EQ(SetIndicator({1}), EFI_SUCCESS);
  EXPECT_EQ(SetCache(kNvBs | EFI_VARIABLE_RUNTIME_ACCESS), EFI_SUCCESS);
}

TEST_F(VariablePolicyTest, AfterEndOfDxeAttributesAndLockAreEnforced) {
  ASSERT_EQ(Register(LockOnVarStateRecord(u"AcpiCacheLockIndicator")), EFI_SUCCESS);
  Board.SignalEndOfDxe();
  EXPECT_EQ(SetCache(kNvBs | EFI_VARIABLE_RUNTIME_ACCESS), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetCache(kNvBs), EFI_SUCCESS);
  ASSERT_EQ(SetIndicator({1}), EFI_SUCCESS);
  EXPECT_EQ(SetCache(kNvBs, 8), EFI_WRITE_PROTECTED);
  EXPECT_EQ(SetCache(kNvBs, 0), EFI_WRITE_PROTECTED);  // a delete is locked too
  ASSERT_NE(Board.Variables().Find(u"AcpiDataCache", kCacheGuid), nullptr);
  EXPECT_EQ(Board.Variables().Find(u"AcpiDataCache", kCacheGuid)->Data.size(), 4u);
}

TEST_F(VariablePolicyTest, StateIsReadAsOneByte) {
  ASSERT_EQ(Register(LockOnVarStateRecord(u"AcpiCacheLockIndicator")), EFI_SUCCESS);
  Board.SignalEndOfDxe();
  ASSERT_EQ(SetIndicator({1, 0}), EFI_SUCCESS);  // two bytes: not the one-byte value 1
  EXPECT_EQ(SetCache(kNvBs), EFI_SUCCESS);
  ASSERT_EQ(SetIndicator({2}), EFI_SUCCESS);
  EXPECT_EQ(SetCache(kNvBs, 5), EFI_SUCCESS);
}

TEST_F(VariablePolicyTest, RegistrationAfterEndOfDxeIsWriteProtected) {
  Board.SignalEndOfDxe();
  EXPECT_EQ(Register(LockOnVarStateRecord(u"EBS")), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Policy->DisableVariablePolicy(), EFI_WRITE_PROTECTED);
}

TEST_F(VariablePolicyTest, DuplicateNamespaceAndNameIsAlreadyStarted) {
  ASSERT_EQ(Register(LockOnVarStateRecord(u"AcpiCacheLockIndicator")), EFI_SUCCESS);
  EXPECT_EQ(Register(LockOnVarStateRecord(u"EBS")), EFI_ALREADY_STARTED);
  EXPECT_EQ(Register(LockOnVarStateRecord(u"EBS", u"Other")), EFI_SUCCESS);
}

TEST_F(VariablePolicyTest, ProtocolKeepsItsOwnCopy) {
  std::vector<UINT8> Record = LockOnVarStateRecord(u"AcpiCacheLockIndicator");
  ASSERT_EQ(Register(Record), EFI_SUCCESS);
  std::fill(Record.begin(), Record.end(), 0xEE);
  Board.SignalEndOfDxe();
  EXPECT_EQ(SetCache(kNvBs | EFI_VARIABLE_RUNTIME_ACCESS), EFI_INVALID_PARAMETER);
  UINT32 Size = 0;
  EXPECT_EQ(Policy->DumpVariablePolicy(nullptr, &Size), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 136u);
  std::vector<UINT8> Dump(Size);
  ASSERT_EQ(Policy->DumpVariablePolicy(Dump.data(), &Size), EFI_SUCCESS);
  EXPECT_EQ(Dump, LockOnVarStateRecord(u"AcpiCacheLockIndicator"));
}

TEST_F(VariablePolicyTest, LockInfoNamesTheStateVariable) {
  ASSERT_EQ(Register(LockOnVarStateRecord(u"EBS")), EFI_SUCCESS);
  VARIABLE_LOCK_ON_VAR_STATE_POLICY Lock{};
  CHAR16 StateName[8] = {0};
  UINTN Size = sizeof(StateName);
  ASSERT_EQ(Policy->GetLockOnVariableStateVariablePolicyInfo(u"AcpiDataCache", &kCacheGuid, &Size, &Lock,
                                                             StateName),
            EFI_SUCCESS);
  EXPECT_EQ(std::u16string(StateName), u"EBS");
  EXPECT_EQ(Lock.Value, 1);
  Size = 0;
  VARIABLE_POLICY_ENTRY Entry{};
  EXPECT_EQ(Policy->GetVariablePolicyInfo(u"Unknown", &kCacheGuid, &Size, &Entry, nullptr), EFI_NOT_FOUND);
}

struct EntryRow {
  const char *Name;
  std::function<void(std::vector<UINT8> &)> Mutate;
};

// Rows print as their name in test listings.
void PrintTo(const EntryRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class MalformedPolicyEntry : public ::testing::TestWithParam<EntryRow> {};

TEST_P(MalformedPolicyEntry, IsRejectedWithInvalidParameter) {
  sim::Platform Board;
  std::vector<UINT8> Record = LockOnVarStateRecord(u"EBS");
  GetParam().Mutate(Record);
  EXPECT_EQ(Board.Policy().Register(reinterpret_cast<const VARIABLE_POLICY_ENTRY *>(Record.data())),
            EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Board.Policy().Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, MalformedPolicyEntry,
    ::testing::Values(
        EntryRow{"UnknownVersion", [](std::vector<UINT8> &R) { PutAt<UINT32>(R, 0, 0x00020000); }},
        EntryRow{"SizeBelowHeader", [](std::vector<UINT8> &R) { PutAt<UINT16>(R, 4, 40); }},
        EntryRow{"OffsetToNamePastSize", [](std::vector<UINT8> &R) { PutAt<UINT16>(R, 6, 200); }},
        EntryRow{"NameNotTerminatedAtSize",
                 [](std::vector<UINT8> &R) { PutAt<UINT16>(R, 4, static_cast<UINT16>(R.size() - 2)); }},
        EntryRow{"StateNameNotEndingAtOffsetToName", [](std::vector<UINT8> &R) { PutAt<UINT16>(R, 6, 72); }},
        EntryRow{"EmptyStateName",
                 [](std::vector<UINT8> &R) {
                   R[62] = 0;
                   R[63] = 0;
                   PutAt<UINT16>(R, 6, 64);
                 }},
        EntryRow{"ZeroMaxSize", [](std::vector<UINT8> &R) { PutAt<UINT32>(R, 28, 0); }},
        EntryRow{"UnknownLockType", [](std::vector<UINT8> &R) { R[40] = 4; }},
        EntryRow{"NoLockWithLockData", [](std::vector<UINT8> &R) { R[40] = VARIABLE_POLICY_TYPE_NO_LOCK; }}),
    [](const ::testing::TestParamInfo<EntryRow> &Info) { return std::string(Info.param.Name); });

}  // namespace
