// A custom-path boot followed by certified-path boots on the same variable store:
// the tables the second boot installs are the captured ones, with the DSDT read
// from its firmware-volume file and the NVS regions moved to fresh memory.
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/FirmwareVolumes.h"
#include "tests/custom_path/CustomPathBoot.h"

namespace custom_path_test {
namespace {

constexpr EFI_GUID kDsdtFile = {0x6B3F2C11, 0x7D40, 0x4E2A, {0x8C, 0x19, 0x3E, 0x55, 0xA0, 0x1B, 0x62, 0xD7}};
const char kDsdtFileText[] = "6B3F2C11-7D40-4E2A-8C19-3E55A01B62D7";

class CertifiedPathBoots : public CustomPathBoots {
 protected:
  void SetUp() override {
    CustomPathBoots::SetUp();
    if (HasFatalFailure()) return;
    // The sample description keeps the DSDT as stored; a certified boot takes
    // the DSDT from a firmware-volume file instead.
    std::ifstream In(ZEPHRIN_SAMPLE_DESCRIPTION_FOR_TESTS);
    std::stringstream Text;
    Text << In.rdbuf();
    Description = Text.str();
    DescriptionPath = StorePath + ".meta";
    EditDescription("table DSDT stored", std::string("table DSDT from-fv file=") + kDsdtFileText);
  }

  // Replaces one statement of the sample description and reloads the sample.
  void EditDescription(const std::string &From, const std::string &To) {
    size_t At = Description.find(From);
    ASSERT_NE(At, std::string::npos) << From;
    Description.replace(At, From.size(), To);
    std::ofstream(DescriptionPath) << Description;
    std::string Error;
    ASSERT_TRUE(Sample.Load(&Error, "", DescriptionPath)) << Error;
  }
  void TearDown() override {
    if (!DescriptionPath.empty()) std::remove(DescriptionPath.c_str());
    CustomPathBoots::TearDown();
  }

  const std::vector<UINT8> &SampleTable(const std::string &Name) {
    for (const sample::SampleTable &Table : Sample.Tables())
      if (Table.Name == Name) return Table.Bytes;
    static const std::vector<UINT8> kNone;
    ADD_FAILURE() << "no sample table " << Name;
    return kNone;
  }

  // A certified boot: the platform publishes no tables of its own (the driver
  // installs them) and carries the DSDT in a volume. Each install is noted as
  // "<signature> <status> <index of the equal sample table or -1>".
  sim::BootResult CertifiedBoot(const std::function<void(sim::BootContext &)> &Tweak = nullptr) {
    sim::BootOptions Run = Options;
    Run.Script = {sim::BootStep::EndOfDxe(), sim::BootStep::ReadyToBoot(), sim::BootStep::ExitBootServices()};
    const sample::SamplePlatform &Platform = Sample;
    std::vector<UINT8> Dsdt = SampleTable("dsdt");
    return sim::RunDriverBoot(
        Run, Driver(),
        [&Platform, &Tweak, Dsdt](sim::BootContext &Context) {
          std::string Error;
          if (!Platform.Install(Context.Platform(), false, &Error)) Context.Note("install failed: " + Error);
          sim::AcpiTables &Acpi = Context.Platform().Acpi();
          while (!Acpi.Tables().empty()) Acpi.Uninstall(Acpi.Tables().back().Key);
          std::vector<sim::FvFile> Files = {sim::RawFile(kDsdtFile, EFI_FV_FILETYPE_FREEFORM, {Dsdt})};
          Context.Platform().Volumes().Add({0x5A17C0DE, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}},
                                           std::move(Files));
          if (Tweak) Tweak(Context);
        },
        [&Platform](sim::BootContext &Context) {
          for (const sim::AcpiInstallRecord &Install : Context.Platform().Acpi().Installs()) {
            int Equal = -1;
            for (size_t Index = 0; Index < Platform.Tables().size(); Index++)
              if (Platform.Tables()[Index].Bytes == Install.Bytes) Equal = static_cast<int>(Index);
            Context.Note(std::string(reinterpret_cast<const char *>(&Install.Signature), 4) + " " +
                         std::to_string(Install.Status) + " " +
                         (Equal < 0 ? std::string("-1") : Platform.Tables()[Equal].Name));
          }
        });
  }

  std::string Description;
  std::string DescriptionPath;
};

TEST_F(CertifiedPathBoots, CapturedTablesAreInstalledOnTheNextCertifiedBoot) {
  sim::BootResult Custom = Boot();
  ASSERT_EQ(Custom.End, sim::BootEnd::Normal) << Custom.Describe();
  ASSERT_TRUE(Custom.Records.Failures.empty()) << Custom.Describe();

  sim::BootResult Certified = CertifiedBoot();
  ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
  EXPECT_TRUE(Certified.Records.Failures.empty()) << Certified.Describe();
  // Stream order is capture order: FADT, FACS, DSDT, then the XSDT's order.
  // The DSDT and the NVS SSDT point at fresh regions; the FADT was captured
  // with the platform's links in it; the rest is installed exactly as built.
  EXPECT_EQ(Certified.Notes, (std::vector<std::string>{"FACP 0 -1", "FACS 0 facs", "DSDT 0 -1", "APIC 0 apic",
                                                       "MCFG 0 mcfg", "SSDT 0 -1", "SSDT 0 ssdt_nonnvs"}))
      << Certified.Describe();
  EXPECT_TRUE(HasLine(Certified, "ProcessAcpiDataStorageAndAcpiMetaData - Read DSDT from FV."));
  EXPECT_TRUE(
      HasLine(Certified, "ProcessAcpiDataStorageAndAcpiMetaData - No more entries in ACPI data storage"));
  EXPECT_TRUE(HasLine(Certified, "AcpiCertifiedPathExitBootServicesNotification() - Enter"));
  EXPECT_EQ(Certified.LeakReport, "") << Certified.Describe();

  // A second certified boot replays the same store the same way.
  sim::BootResult Again = CertifiedBoot();
  EXPECT_EQ(Again.Notes, Certified.Notes) << Again.Describe();
}

TEST_F(CertifiedPathBoots, WithoutAStoredCacheTheFailureIsNotifiedAndNothingIsInstalled) {
  sim::BootResult Certified = CertifiedBoot();
  ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
  EXPECT_TRUE(Certified.EntryReturned);
  EXPECT_EQ(Certified.EntryStatus, EFI_SUCCESS);
  EXPECT_TRUE(Certified.Notes.empty()) << Certified.Describe();
  ASSERT_EQ(Certified.Records.Failures.size(), 1u) << Certified.Describe();
  EXPECT_FALSE(HasLine(Certified, "AcpiCertifiedPathEndOfDxeNotification() - Enter"));
  EXPECT_EQ(Certified.LeakReport, "") << Certified.Describe();
}

TEST_F(CertifiedPathBoots, RefusedPolicyMeansNoRestoreAndNoNotification) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  sim::BootResult Certified = CertifiedBoot(
      [](sim::BootContext &Context) { Context.Platform().Policy().FailRegistration(EFI_WRITE_PROTECTED); });
  ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
  EXPECT_TRUE(
      HasLine(Certified, "[DoCertifiedWork] - RegisterVarStateVariablePolicy() returned Write Protected!"))
      << Certified.Describe();
  EXPECT_TRUE(Certified.Notes.empty()) << Certified.Describe();
  EXPECT_TRUE(Certified.Records.Failures.empty()) << Certified.Describe();
  EXPECT_FALSE(HasLine(Certified, "ProcessAcpiDataStorageAndAcpiMetaData() Entry."));
  EXPECT_EQ(Certified.LeakReport, "") << Certified.Describe();
}

// Before UEFI 2.0 there are no event groups: the EndOfDxe event already made is
// closed again, the failure is notified, and only the driver-entry tables stay.
TEST_F(CertifiedPathBoots, OldSystemTableStopsAfterTheDriverEntryPhase) {
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  Options.Platform.SystemTableRevision = 0x0001000A;
  sim::BootResult Certified = CertifiedBoot();
  ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
  // The old-firmware message carries no line end of its own.
  EXPECT_TRUE(
      HasLine(Certified,
              "EFI1.1 can't support ReadyToBootEvent![DoCertifiedWork] - CreateEvent for ReadyToBoot failed "
              "returning Unsupported"))
      << Certified.Describe();
  EXPECT_EQ(Certified.Records.Failures.size(), 1u);
  EXPECT_FALSE(HasLine(Certified, "AcpiCertifiedPathEndOfDxeNotification() - Enter"));
  EXPECT_EQ(Certified.Notes.size(), 7u) << Certified.Describe();
  EXPECT_EQ(Certified.LeakReport, "") << Certified.Describe();
}

// A table deferred at driver entry waits in pool for the EndOfDxe call. When
// any of the later events cannot be created that call never comes: the waiting
// table is freed with the rest of the flow's state instead of leaking.
TEST_F(CertifiedPathBoots, TableDeferredAtEntryIsFreedWhenALaterEventCannotBeCreated) {
  EditDescription("table SSDT:ZPNONNVS stored", "table SSDT:ZPNONNVS stored rank=end-of-dxe");
  ASSERT_EQ(Boot().End, sim::BootEnd::Normal);
  struct EventCase {
    const char *Event;
    EFI_GUID Group;
  };
  const EventCase kCases[] = {{"EndOfDxe", gEfiEndOfDxeEventGroupGuid},
                              {"ReadyToBoot", gEfiEventReadyToBootGuid},
                              {"ExitBootServices", gEfiEventExitBootServicesGuid}};
  for (const EventCase &Case : kCases) {
    SCOPED_TRACE(Case.Event);
    const EFI_GUID Group = Case.Group;
    sim::BootResult Certified = CertifiedBoot([Group](sim::BootContext &Context) {
      Context.Platform().Events().FailGroupCreation(Group, EFI_OUT_OF_RESOURCES);
    });
    ASSERT_EQ(Certified.End, sim::BootEnd::Normal) << Certified.Describe();
    EXPECT_TRUE(HasLine(Certified,
                        "ProcessAcpiDataStorageAndAcpiMetaData - Defering ACPI data table SSDT "
                        "installation until new callback"))
        << Certified.Describe();
    EXPECT_TRUE(HasLine(Certified, std::string("[DoCertifiedWork] - CreateEvent for ") + Case.Event +
                                       " failed returning Out of Resources"))
        << Certified.Describe();
    ASSERT_EQ(Certified.Records.Failures.size(), 1u) << Certified.Describe();
    EXPECT_EQ(Certified.Records.Failures[0].Code, 8u);
    // Every table in front of the deferred one is installed; it never is.
    EXPECT_EQ(Certified.Notes.size(), 6u) << Certified.Describe();
    EXPECT_EQ(Certified.LeakReport, "") << Certified.Describe();
  }
}

}  // namespace
}  // namespace custom_path_test
