// A custom-path boot followed by certified-path boots on the same variable store:
// the tables the second boot installs are the captured ones, with the DSDT read
// from its firmware-volume file and the NVS regions moved to fresh memory.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/FirmwareVolumes.h"
#include "tests/custom_path/CustomPathBoot.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"

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

  std::string ReadStoreFile() const {
    std::ifstream In(StorePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  void WriteStoreFile(const std::string &Bytes) const {
    std::ofstream(StorePath, std::ios::binary | std::ios::trunc) << Bytes;
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

// The entries of a stored cache, each as its table signature, length and a
// hash of its bytes. The FADT's links to the FACS and the DSDT (and so its
// checksum) hold addresses the platform chose for its own tables in that boot;
// they are blanked first.
std::string CacheContent(const std::vector<UINT8> &Data) {
  inspect::InspectReport Report = inspect::InspectCache(
      Data.data(), Data.size(), inspect::InspectOptions{inspect::InputForm::Raw, false});
  std::string Text = Report.Loaded ? "" : "unreadable: " + Report.Error;
  constexpr size_t kTable = sizeof(ACPI_DATA_STORAGE_ENTRY_HEADER);
  const std::pair<size_t, size_t> kFadtPlatformFields[] = {{9, 1}, {36, 8}, {132, 16}};  // offset, size
  for (const inspect::CacheEntry &Entry : Report.Entries) {
    std::vector<uint8_t> Payload = Entry.Payload;
    if (Payload.size() < kTable + 4) {
      Text += " short";
      continue;
    }
    if (Payload.size() >= kTable + 148 && memcmp(&Payload[kTable], "FACP", 4) == 0) {
      for (const auto &[Offset, Size] : kFadtPlatformFields)
        std::fill_n(Payload.begin() + static_cast<long>(kTable + Offset), Size, 0);
    }
    uint64_t Hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (uint8_t Byte : Payload) Hash = (Hash ^ Byte) * 0x100000001B3ull;
    char Item[64];
    snprintf(Item, sizeof(Item), " %.4s:%zu:%016llx", reinterpret_cast<const char *>(&Payload[kTable]),
             Payload.size(), static_cast<unsigned long long>(Hash));
    Text += Item;
  }
  return Text;
}

// What a boot did, apart from what it logged: every variable write (the cache by
// its entries), the tables installed (the notes of a certified boot),
// notifications, status codes, the reset, and pool use.
std::vector<std::string> Outcome(const sim::BootResult &Result) {
  std::vector<std::string> Facts = {std::string("end ") + sim::BootEndName(Result.End),
                                    "entry status " + std::to_string(Result.EntryStatus),
                                    "reset " + std::to_string(Result.Records.ResetHappened),
                                    "status codes " + std::to_string(Result.Records.StatusCodes.size()),
                                    "pool allocations " + std::to_string(Result.PoolAllocations),
                                    "pool peak " + std::to_string(Result.PoolPeakBytes),
                                    "pool outstanding " + std::to_string(Result.PoolOutstanding)};
  for (const sim::VariableWrite &Write : Result.VariableWrites) {
    std::string Name(Write.Name.begin(), Write.Name.end());
    std::string Data = Write.Name == ACPI_DATA_CACHE_VARIABLE_NAME
                           ? CacheContent(Write.Data)
                           : std::string(Write.Data.begin(), Write.Data.end());
    Facts.push_back("write " + Name + " in " + Write.Stage + ": attributes " +
                    std::to_string(Write.Attributes) + ", status " + std::to_string(Write.Status) +
                    ", data " + Data);
  }
  for (const sim::FailureRecord &Failure : Result.Records.Failures)
    Facts.push_back("notified " + std::to_string(Failure.Code));
  for (const std::string &Note : Result.Notes) Facts.push_back("installed " + Note);
  return Facts;
}

// Nothing in the driver depends on a message arriving: a custom-path boot and
// the certified-path boot after it do exactly the same without any debug sink
// as with one, only silently. Each certified boot starts from the same store.
TEST_F(CertifiedPathBoots, WithoutAnyDebugSinkTheBootIsSilentAndUnchanged) {
  sim::BootResult LoggedCustom = Boot();
  std::string Store = ReadStoreFile();
  sim::BootResult LoggedCertified = CertifiedBoot();
  ASSERT_FALSE(LoggedCustom.Records.Debug.empty());
  ASSERT_FALSE(LoggedCertified.Records.Debug.empty());
  ASSERT_EQ(LoggedCertified.Notes.size(), 7u) << LoggedCertified.Describe();
  std::vector<sim::VariableWrite> Stored = WritesOf(LoggedCustom, ACPI_DATA_CACHE_VARIABLE_NAME);
  ASSERT_EQ(Stored.size(), 1u) << LoggedCustom.Describe();
  ASSERT_EQ(CacheContent(Stored[0].Data).rfind(" FACP:", 0), 0u) << CacheContent(Stored[0].Data);

  Options.Platform.InstallDebugMessage = false;
  std::remove(StorePath.c_str());
  sim::BootResult SilentCustom = Boot();
  WriteStoreFile(Store);
  sim::BootResult SilentCertified = CertifiedBoot();
  EXPECT_TRUE(SilentCustom.Records.Debug.empty()) << SilentCustom.Describe();
  EXPECT_TRUE(SilentCertified.Records.Debug.empty()) << SilentCertified.Describe();
  EXPECT_EQ(Outcome(SilentCustom), Outcome(LoggedCustom));
  EXPECT_EQ(Outcome(SilentCertified), Outcome(LoggedCertified));
}

}  // namespace
}  // namespace custom_path_test
