// The policy record protecting AcpiDataCache, checked byte by byte against the
// layout a variable-policy engine parses, for both var-state keys.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "sim/Platform.h"

namespace {

template <typename T>
T ReadAt(const std::vector<UINT8> &Bytes, size_t Offset) {
  T Value;
  memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

std::vector<UINT8> Utf16Bytes(const char16_t *Text) {
  std::vector<UINT8> Bytes;
  for (;; Text++) {
    Bytes.push_back(static_cast<UINT8>(*Text));
    Bytes.push_back(static_cast<UINT8>(*Text >> 8));
    if (*Text == 0) return Bytes;
  }
}

struct PolicyCase {
  const char *Name;
  const EFI_GUID *StateNamespace;
  const char16_t *StateName;
  UINT16 Size;
  UINT16 OffsetToName;
};

void PrintTo(const PolicyCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class VarStatePolicyRecord : public testing::TestWithParam<PolicyCase> {
 protected:
  void SetUp() override { gBS = Platform.BootServices(); }
  sim::Platform Platform;
};

TEST_P(VarStatePolicyRecord, HasTheLayoutOfALockOnVarStatePolicy) {
  const PolicyCase &Case = GetParam();
  VARIABLE_POLICY_ENTRY *Entry = nullptr;
  ASSERT_EQ(CreateVarStateVariablePolicy(Case.StateNamespace, Case.StateName, &Entry), EFI_SUCCESS);
  ASSERT_EQ(Platform.Pool().SizeOf(Entry), Case.Size);
  std::vector<UINT8> Bytes(reinterpret_cast<UINT8 *>(Entry), reinterpret_cast<UINT8 *>(Entry) + Case.Size);
  FreePool(Entry);

  EXPECT_EQ(ReadAt<UINT32>(Bytes, 0), 0x00010000u);
  EXPECT_EQ(ReadAt<UINT16>(Bytes, 4), Case.Size);
  EXPECT_EQ(ReadAt<UINT16>(Bytes, 6), Case.OffsetToName);
  EXPECT_EQ(0, memcmp(Bytes.data() + 8, &gAcpiDataCacheVariableGuid, 16));
  EXPECT_EQ(ReadAt<UINT32>(Bytes, 24), 0u);
  EXPECT_EQ(ReadAt<UINT32>(Bytes, 28), 0xFFFFFFFFu);
  EXPECT_EQ(ReadAt<UINT32>(Bytes, 32), 3u);
  EXPECT_EQ(ReadAt<UINT32>(Bytes, 36), 0xFFFFFFFCu);
  EXPECT_EQ(Bytes[40], 3);
  EXPECT_EQ(0, memcmp(Bytes.data() + 44, Case.StateNamespace, 16));
  EXPECT_EQ(Bytes[60], 1);
  // Reserved bytes never carry leftover pool contents.
  EXPECT_EQ(Bytes[41] | Bytes[42] | Bytes[43] | Bytes[61], 0);
  std::vector<UINT8> StateName = Utf16Bytes(Case.StateName);
  EXPECT_EQ(std::vector<UINT8>(Bytes.begin() + 62, Bytes.begin() + Case.OffsetToName), StateName);
  EXPECT_EQ(std::vector<UINT8>(Bytes.begin() + Case.OffsetToName, Bytes.end()), Utf16Bytes(u"AcpiDataCache"));
  EXPECT_EQ(Platform.LeakCheck(), "");
}

INSTANTIATE_TEST_SUITE_P(Keys, VarStatePolicyRecord,
                         testing::Values(PolicyCase{"CustomPath", &gAcpiCacheLockIndicatorGuid,
                                                    u"AcpiCacheLockIndicator", 136, 108},
                                         PolicyCase{"CertifiedPath", &gEbsVariableGuid, u"EBS", 98, 70}),
                         [](const testing::TestParamInfo<PolicyCase> &Info) {
                           return std::string(Info.param.Name);
                         });

class VarStatePolicyRegistration : public testing::Test {
 protected:
  void SetUp() override {
    gBS = Platform.BootServices();
    Protocol.RegisterVariablePolicy = &Register;
    Answer = EFI_SUCCESS;
    Seen.clear();
  }

  static EFI_STATUS EFIAPI Register(const VARIABLE_POLICY_ENTRY *Entry) {
    const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Entry);
    Seen.assign(Bytes, Bytes + Entry->Size);
    return Answer;
  }

  sim::Platform Platform;
  EDKII_VARIABLE_POLICY_PROTOCOL Protocol{};
  static inline EFI_STATUS Answer;
  static inline std::vector<UINT8> Seen;
};

TEST_F(VarStatePolicyRegistration, PassesTheRecordAndFreesIt) {
  EXPECT_EQ(RegisterVarStateVariablePolicy(&Protocol, &gEbsVariableGuid, u"EBS"), EFI_SUCCESS);
  EXPECT_EQ(Seen.size(), 98u);
  EXPECT_EQ(Platform.LeakCheck(), "");
}

TEST_F(VarStatePolicyRegistration, ReturnsTheRefusalAndStillFreesTheRecord) {
  Answer = EFI_ALREADY_STARTED;
  EXPECT_EQ(RegisterVarStateVariablePolicy(&Protocol, &gEbsVariableGuid, u"EBS"), EFI_ALREADY_STARTED);
  EXPECT_EQ(Platform.LeakCheck(), "");
}

TEST_F(VarStatePolicyRegistration, NullProtocolAllocatesNothing) {
  EXPECT_EQ(RegisterVarStateVariablePolicy(nullptr, &gEbsVariableGuid, u"EBS"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Platform.Pool().TotalAllocations(), 0u);
}

TEST_F(VarStatePolicyRegistration, OutOfPoolIsReportedWithoutCallingTheProtocol) {
  Platform.Pool().FailAllocation(1);
  EXPECT_EQ(RegisterVarStateVariablePolicy(&Protocol, &gEbsVariableGuid, u"EBS"), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Seen.empty());
}

TEST(VarStatePolicyArguments, NullArgumentsAreRefused) {
  VARIABLE_POLICY_ENTRY *Entry = nullptr;
  EXPECT_EQ(CreateVarStateVariablePolicy(nullptr, u"EBS", &Entry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateVarStateVariablePolicy(&gEbsVariableGuid, nullptr, &Entry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateVarStateVariablePolicy(&gEbsVariableGuid, u"EBS", nullptr), EFI_INVALID_PARAMETER);
}

TEST(VarStatePolicyArguments, RecordAboveSixtyFourKiBIsRefused) {
  std::vector<CHAR16> Long(40000, u'N');
  Long.push_back(0);
  VARIABLE_POLICY_ENTRY *Entry = nullptr;
  EXPECT_EQ(CreateVarStateVariablePolicy(&gEbsVariableGuid, Long.data(), &Entry), EFI_BUFFER_TOO_SMALL);
}

}  // namespace
