// What a platform sees when it dispatches the driver: the boot path chosen from
// the custom-path HOB, the messages, and the fatal reset with its status code
// record and failure notification when the variable policy protocol is absent.
// Every scenario runs on the host library and on the loaded firmware image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "sim/BootRunner.h"
#include "uefi/Protocol/VariablePolicy.h"

namespace {

constexpr EFI_GUID kUnrelatedGuid = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<sim::DriverSource> Drivers() {
  std::vector<sim::DriverSource> List = {sim::DriverSource::HostLibrary(ZephrinAcpiDxeEntryPoint)};
#ifdef ZEPHRIN_DXE_IMAGE
  List.push_back(sim::DriverSource::ImageFile(ZEPHRIN_DXE_IMAGE));
#endif
  return List;
}

// How a protocol the driver looks for appears on the board.
enum class Presence { Installed, Absent, NullInterface };

struct Scenario {
  bool CustomPathHob = false;
  Presence VariablePolicy = Presence::Installed;
  Presence StatusCode = Presence::Installed;
  bool DebugMessage = true;
  bool DebugPort = false;
  // Not EFI_SUCCESS: LocateProtocol of the variable policy protocol fails with it.
  EFI_STATUS VariablePolicyLookup = EFI_SUCCESS;
  bool ResetReturns = false;  // a firmware whose ResetSystem comes back
};

class EntryScenario : public testing::TestWithParam<sim::DriverSource> {
 protected:
  sim::BootResult Boot(const Scenario &Given, int TimeoutSeconds = 60) {
    sim::BootOptions Options;
    Options.TimeoutSeconds = TimeoutSeconds;
    Options.Platform.InstallVariablePolicy = Given.VariablePolicy == Presence::Installed;
    Options.Platform.InstallStatusCode = Given.StatusCode == Presence::Installed;
    Options.Platform.InstallDebugMessage = Given.DebugMessage;
    Options.Platform.InstallDebugPort = Given.DebugPort;
    Options.Platform.ResetSystemReturns = Given.ResetReturns;
    return sim::RunDriverBoot(Options, GetParam(), [Given](sim::BootContext &Context) {
      sim::HobListBuilder Hobs;
      Hobs.AddGuidHob(kUnrelatedGuid, std::vector<UINT8>{1, 2, 3, 4});
      if (Given.CustomPathHob) Hobs.AddGuidHob(gCustomPathHobGuid, std::vector<UINT8>{});
      Context.Platform().PublishHobList(Hobs);
      sim::ProtocolDatabase &Protocols = Context.Platform().Protocols();
      if (Given.VariablePolicy == Presence::NullInterface)
        Protocols.InstallOnNewHandle(gEdkiiVariablePolicyProtocolGuid, nullptr);
      if (Given.StatusCode == Presence::NullInterface)
        Protocols.InstallOnNewHandle(gEfiStatusCodeRuntimeProtocolGuid, nullptr);
      if (Given.VariablePolicyLookup != EFI_SUCCESS)
        Protocols.FailLocate(gEdkiiVariablePolicyProtocolGuid, Given.VariablePolicyLookup);
    });
  }
};

bool HasLine(const sim::BootResult &Result, const std::string &Line) {
  for (const std::string &Seen : Result.DebugLines()) {
    if (Seen == Line) return true;
  }
  return false;
}

TEST_P(EntryScenario, CustomPathHobSelectsTheCustomPath) {
  sim::BootResult Result = Boot({.CustomPathHob = true});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_TRUE(Result.EntryReturned);
  EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS);
  std::vector<std::string> Lines = Result.DebugLines();
  ASSERT_GE(Lines.size(), 3u) << Result.Describe();
  EXPECT_EQ(Lines[0], "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Enter");
  EXPECT_EQ(Lines[1], "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Custom Work");
  EXPECT_EQ(Lines[2], "DoCustomWork() - Enter");
  EXPECT_TRUE(Result.Records.Failures.empty());
}

TEST_P(EntryScenario, NoCustomPathHobSelectsTheCertifiedPath) {
  sim::BootResult Result = Boot({});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS);
  std::vector<std::string> Lines = Result.DebugLines();
  ASSERT_GE(Lines.size(), 3u) << Result.Describe();
  EXPECT_EQ(Lines[1], "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Certified Work");
  EXPECT_EQ(Lines[2], "DoCertifiedWork() - Enter");
}

struct FatalCase {
  const char *Name;
  Scenario Given;
  const char *Caller;
  UINT32 StatusCodeValue;
  const char *PathTag;
  EFI_STATUS LookupStatus;  // what the record's last 8 bytes must hold
};

void ExpectFatalReset(const sim::BootResult &Result, const FatalCase &Case, bool StatusCodeExpected) {
  ASSERT_EQ(Result.End, sim::BootEnd::Reset) << Result.Describe();
  EXPECT_FALSE(Result.EntryReturned);
  EXPECT_EQ(Result.Records.Reset.Type, EfiResetCold);
  EXPECT_TRUE(HasLine(
      Result, std::string("[") + Case.Caller + "] - Failed to find gEdkiiVariablePolicyProtocolGuid"));
  EXPECT_TRUE(HasLine(Result, std::string("[") + Case.Caller +
                                  "] - Resetting system to allow custom path to address the issue."));

  ASSERT_EQ(Result.Records.Failures.size(), 1u);
  EXPECT_EQ(Result.Records.Failures[0].Code, 18u);
  ASSERT_EQ(Result.Records.Failures[0].Data.size(), 16u);
  EXPECT_EQ(0, memcmp(Result.Records.Failures[0].Data.data(), &gEfiCallerIdGuid, 16));

  if (!StatusCodeExpected) {
    EXPECT_TRUE(Result.Records.StatusCodes.empty());
    return;
  }
  ASSERT_EQ(Result.Records.StatusCodes.size(), 1u);
  const sim::StatusCodeRecord &Code = Result.Records.StatusCodes[0];
  EXPECT_EQ(Code.Type, 0x80000002u);
  EXPECT_EQ(Code.Value, Case.StatusCodeValue);
  EXPECT_EQ(Code.Instance, 0u);
  ASSERT_TRUE(Code.HasCallerId);
  EXPECT_EQ(0, memcmp(&Code.CallerId, &gEfiCallerIdGuid, 16));
  // The 68-byte record: header, 32 reserved bytes, the path tag, the status.
  ASSERT_EQ(Code.Data.size(), 68u);
  UINT16 HeaderSize, Size;
  memcpy(&HeaderSize, &Code.Data[0], 2);
  memcpy(&Size, &Code.Data[2], 2);
  EXPECT_EQ(HeaderSize, 20);
  EXPECT_EQ(Size, 48);
  EXPECT_EQ(0, memcmp(&Code.Data[4], &gFatalErrorDataGuid, 16));
  EXPECT_EQ(std::vector<UINT8>(Code.Data.begin() + 20, Code.Data.begin() + 52), std::vector<UINT8>(32, 0));
  EXPECT_EQ(std::string(Code.Data.begin() + 52, Code.Data.begin() + 60), Case.PathTag);
  UINT64 Status;
  memcpy(&Status, &Code.Data[60], 8);
  EXPECT_EQ(Status, Case.LookupStatus);
}

// The record carries the status LocateProtocol gave, whatever it was: the
// injected lookups fail with statuses an absent protocol never gives.
const FatalCase kFatalCases[] = {
    {"custom path, protocol absent",
     {.CustomPathHob = true, .VariablePolicy = Presence::Absent},
     "DoCustomWork",
     0x03051025,
     "CUSTPATH",
     EFI_NOT_FOUND},
    {"certified path, protocol absent",
     {.VariablePolicy = Presence::Absent},
     "DoCertifiedWork",
     0x03051024,
     "CERTPATH",
     EFI_NOT_FOUND},
    {"custom path, lookup out of resources",
     {.CustomPathHob = true, .VariablePolicyLookup = EFI_OUT_OF_RESOURCES},
     "DoCustomWork",
     0x03051025,
     "CUSTPATH",
     EFI_OUT_OF_RESOURCES},
    {"certified path, lookup refused",
     {.VariablePolicyLookup = EFI_INVALID_PARAMETER},
     "DoCertifiedWork",
     0x03051024,
     "CERTPATH",
     EFI_INVALID_PARAMETER},
};

TEST_P(EntryScenario, FailedVariablePolicyLookupResetsWithThePathTagAndTheLookupStatus) {
  for (const FatalCase &Case : kFatalCases) {
    SCOPED_TRACE(Case.Name);
    ExpectFatalReset(Boot(Case.Given), Case, true);
  }
}

// Without the status code protocol, or with one whose interface is NULL, the
// report is skipped and the cold reset still happens.
TEST_P(EntryScenario, UnusableStatusCodeProtocolStillResets) {
  for (Presence StatusCode : {Presence::Absent, Presence::NullInterface}) {
    SCOPED_TRACE(StatusCode == Presence::Absent ? "absent" : "NULL interface");
    ExpectFatalReset(
        Boot({.CustomPathHob = true, .VariablePolicy = Presence::Absent, .StatusCode = StatusCode}),
        kFatalCases[0], false);
  }
}

// Found with a NULL interface, the protocol is no lookup failure: registering
// the policy fails, is logged, and each path goes on as for a refused policy.
TEST_P(EntryScenario, NullVariablePolicyInterfaceIsARefusedPolicyNotAReset) {
  sim::BootResult Custom = Boot({.CustomPathHob = true, .VariablePolicy = Presence::NullInterface});
  ASSERT_EQ(Custom.End, sim::BootEnd::Normal) << Custom.Describe();
  EXPECT_EQ(Custom.EntryStatus, EFI_SUCCESS);
  EXPECT_TRUE(
      HasLine(Custom, "[DoCustomWork] - RegisterVarStateVariablePolicy() returned Invalid Parameter!"))
      << Custom.Describe();
  EXPECT_FALSE(Custom.Records.ResetHappened);
  EXPECT_TRUE(Custom.Records.Failures.empty());
  EXPECT_TRUE(Custom.Records.StatusCodes.empty());

  sim::BootResult Certified = Boot({.VariablePolicy = Presence::NullInterface});
  ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
  EXPECT_TRUE(
      HasLine(Certified, "[DoCertifiedWork] - RegisterVarStateVariablePolicy() returned Invalid Parameter!"))
      << Certified.Describe();
  EXPECT_FALSE(Certified.Records.ResetHappened);
  EXPECT_TRUE(Certified.Records.Failures.empty());
  EXPECT_FALSE(HasLine(Certified, "ProcessAcpiDataStorageAndAcpiMetaData() Entry."));
}

// A ResetSystem that returns must not let the boot go on: the driver stops in
// place, logs nothing more, never returns from its entry point, and the runner
// ends the boot at its time limit.
TEST_P(EntryScenario, ResetThatReturnsLeavesTheProcessorSpinning) {
  sim::BootResult Result =
      Boot({.CustomPathHob = true, .VariablePolicy = Presence::Absent, .ResetReturns = true}, 2);
  ASSERT_EQ(Result.End, sim::BootEnd::Timeout) << Result.Describe();
  EXPECT_EQ(Result.Stage, sim::kStageAfterReset) << Result.Describe();
  EXPECT_TRUE(Result.Records.ResetHappened);
  EXPECT_EQ(Result.Records.Reset.Type, EfiResetCold);
  EXPECT_FALSE(Result.EntryReturned);
  ASSERT_FALSE(Result.DebugLines().empty());
  EXPECT_EQ(Result.DebugLines().back(),
            "[DoCustomWork] - Resetting system to allow custom path to address the issue.");
  EXPECT_TRUE(Result.Records.Faults.empty()) << Result.Describe();
}

TEST_P(EntryScenario, DebugPortCarriesTheLogWhenTheMessageProtocolIsAbsent) {
  sim::BootResult Result = Boot({.DebugMessage = false, .DebugPort = true});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  ASSERT_FALSE(Result.Records.Debug.empty());
  EXPECT_EQ(Result.Records.Debug[0].Via, sim::DebugRecord::Sink::Port);
  EXPECT_EQ(Result.Records.Debug[0].Text, "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Enter\r\n");
}

TEST_P(EntryScenario, MissingVariablePolicyWithoutDebugSinkStillResets) {
  sim::BootResult Result = Boot({.VariablePolicy = Presence::Absent, .DebugMessage = false});
  ASSERT_EQ(Result.End, sim::BootEnd::Reset) << Result.Describe();
  ASSERT_EQ(Result.Records.StatusCodes.size(), 1u);
  EXPECT_EQ(std::string(Result.Records.StatusCodes[0].Data.begin() + 52,
                        Result.Records.StatusCodes[0].Data.begin() + 60),
            "CERTPATH");
}

INSTANTIATE_TEST_SUITE_P(Drivers, EntryScenario, testing::ValuesIn(Drivers()),
                         [](const testing::TestParamInfo<sim::DriverSource> &Info) {
                           return Info.param.IsImage() ? std::string("Image") : std::string("HostLibrary");
                         });

}  // namespace
