// What a platform sees when it dispatches the driver: the boot path chosen from
// the custom-path HOB, the messages, and the fatal reset with its status code
// record and failure notification when the variable policy protocol is absent.
// Every scenario runs on the host library and on the loaded firmware image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/BootRunner.h"

namespace {

constexpr EFI_GUID kUnrelatedGuid = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<sim::DriverSource> Drivers() {
  std::vector<sim::DriverSource> List = {sim::DriverSource::HostLibrary(ZephrinAcpiDxeEntryPoint)};
#ifdef ZEPHRIN_DXE_IMAGE
  List.push_back(sim::DriverSource::ImageFile(ZEPHRIN_DXE_IMAGE));
#endif
  return List;
}

struct Scenario {
  bool CustomPathHob = false;
  bool VariablePolicy = true;
  bool StatusCode = true;
  bool DebugMessage = true;
  bool DebugPort = false;
};

class EntryScenario : public testing::TestWithParam<sim::DriverSource> {
 protected:
  sim::BootResult Boot(const Scenario &Given) {
    sim::BootOptions Options;
    Options.Platform.InstallVariablePolicy = Given.VariablePolicy;
    Options.Platform.InstallStatusCode = Given.StatusCode;
    Options.Platform.InstallDebugMessage = Given.DebugMessage;
    Options.Platform.InstallDebugPort = Given.DebugPort;
    const bool CustomPath = Given.CustomPathHob;
    return sim::RunDriverBoot(Options, GetParam(), [CustomPath](sim::BootContext &Context) {
      sim::HobListBuilder Hobs;
      Hobs.AddGuidHob(kUnrelatedGuid, std::vector<UINT8>{1, 2, 3, 4});
      if (CustomPath) Hobs.AddGuidHob(gCustomPathHobGuid, std::vector<UINT8>{});
      Context.Platform().PublishHobList(Hobs);
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
  bool CustomPath;
  const char *Caller;
  UINT32 StatusCodeValue;
  const char *PathTag;
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
  EXPECT_EQ(Status, EFI_NOT_FOUND);
}

const FatalCase kCustomFatal = {true, "DoCustomWork", 0x03051025, "CUSTPATH"};
const FatalCase kCertifiedFatal = {false, "DoCertifiedWork", 0x03051024, "CERTPATH"};

TEST_P(EntryScenario, MissingVariablePolicyOnTheCustomPathResetsWithCustPath) {
  ExpectFatalReset(Boot({.CustomPathHob = true, .VariablePolicy = false}), kCustomFatal, true);
}

TEST_P(EntryScenario, MissingVariablePolicyOnTheCertifiedPathResetsWithCertPath) {
  ExpectFatalReset(Boot({.VariablePolicy = false}), kCertifiedFatal, true);
}

TEST_P(EntryScenario, MissingStatusCodeProtocolStillResets) {
  ExpectFatalReset(Boot({.CustomPathHob = true, .VariablePolicy = false, .StatusCode = false}), kCustomFatal,
                   false);
}

TEST_P(EntryScenario, WithoutAnyDebugSinkTheBootIsSilentAndUnchanged) {
  sim::BootResult Result = Boot({.CustomPathHob = true, .DebugMessage = false});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS);
  EXPECT_TRUE(Result.Records.Debug.empty());
}

TEST_P(EntryScenario, DebugPortCarriesTheLogWhenTheMessageProtocolIsAbsent) {
  sim::BootResult Result = Boot({.DebugMessage = false, .DebugPort = true});
  ASSERT_EQ(Result.End, sim::BootEnd::Normal) << Result.Describe();
  ASSERT_FALSE(Result.Records.Debug.empty());
  EXPECT_EQ(Result.Records.Debug[0].Via, sim::DebugRecord::Sink::Port);
  EXPECT_EQ(Result.Records.Debug[0].Text, "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Enter\r\n");
}

TEST_P(EntryScenario, MissingVariablePolicyWithoutDebugSinkStillResets) {
  sim::BootResult Result = Boot({.VariablePolicy = false, .DebugMessage = false});
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
