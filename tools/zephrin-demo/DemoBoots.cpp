#include "tools/zephrin-demo/DemoBoots.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "sim/AcpiTables.h"
#include "sim/FirmwareVolumes.h"
#include "sim/VarStoreImage.h"
#include "sim/VariableStore.h"

namespace demo {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

sim::BootOptions OptionsFor(const BootSettings &Settings) {
  sim::BootOptions Boot;
  Boot.Platform.VariableStorePath = Settings.Store;
  Boot.Platform.MaxVariableSize = Settings.MaxVariableSize;
  // The store must hold what a variable of the maximum size holds, and more.
  if (Boot.Platform.NonVolatileStoreSize < 2 * Settings.MaxVariableSize)
    Boot.Platform.NonVolatileStoreSize = 2 * Settings.MaxVariableSize;
  Boot.TimeoutSeconds = 300;
  return Boot;
}

bool StartsWith(const std::string &Text, const std::string &Prefix, std::string *Rest) {
  if (Text.compare(0, Prefix.size(), Prefix) != 0) return false;
  *Rest = Text.substr(Prefix.size());
  return true;
}

// Pages the driver allocated for regions: NVS and reserved memory that holds
// no installed table (the platform keeps the FACS in NVS pages too).
void NoteRegionPages(sim::BootContext &Context) {
  sim::Platform &Platform = Context.Platform();
  for (const auto &Live : Platform.Pages().Live()) {
    if (Live.second.Type != EfiACPIMemoryNVS && Live.second.Type != EfiReservedMemoryType) continue;
    bool HoldsTable = false;
    for (const sim::InstalledAcpiTable &Table : Platform.Acpi().Tables())
      HoldsTable |= reinterpret_cast<UINTN>(Table.Table) == Live.first;
    if (HoldsTable) continue;
    std::ostringstream Note;
    Note << "region-pages " << Live.first << " " << Live.second.Pages << " " << Live.second.Type;
    Context.Note(Note.str());
  }
}

}  // namespace

static std::string ReadText(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Buffer;
  Buffer << In.rdbuf();
  return Buffer.str();
}

std::string ToHex(const std::vector<UINT8> &Bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string Text;
  Text.reserve(Bytes.size() * 2);
  for (UINT8 Byte : Bytes) {
    Text += kDigits[Byte >> 4];
    Text += kDigits[Byte & 15];
  }
  return Text;
}

bool FromHex(const std::string &Text, std::vector<UINT8> *Bytes) {
  if (Text.size() % 2 != 0) return false;
  Bytes->clear();
  for (size_t Index = 0; Index < Text.size(); Index += 2) {
    char Pair[3] = {Text[Index], Text[Index + 1], 0};
    char *End = nullptr;
    Bytes->push_back(static_cast<UINT8>(strtoul(Pair, &End, 16)));
    if (End != Pair + 2) return false;
  }
  return true;
}

// One boot of the image on the board, set up for the custom or the certified
// path. Body runs once the board is installed; a board that fails to install
// is noted as an error and the boot runs no further.
sim::BootResult RunBoardBoot(
    const Board &Platform, const BootSettings &Settings, bool CustomPath,
    const std::function<void(sim::BootContext &Context, const sim::DriverSource &Driver)> &Body) {
  sim::DriverSource Driver = sim::DriverSource::ImageFile(Settings.Image);
  return sim::RunBoot(OptionsFor(Settings),
                      [&Platform, &Driver, CustomPath, &Body](sim::BootContext &Context) {
                        std::string Error;
                        if (!Platform.Install(Context.Platform(), CustomPath, &Error)) {
                          Context.Note("error " + Error);
                          return;
                        }
                        Body(Context, Driver);
                      });
}

BootSeen RunCustomBoot(const Board &Platform, const BootSettings &Settings) {
  BootSeen Seen;
  Seen.Result =
      RunBoardBoot(Platform, Settings, true, [](sim::BootContext &Context, const sim::DriverSource &Driver) {
        for (const sim::InstalledAcpiTable &Table : Context.Platform().Acpi().Tables()) {
          const auto *Header = reinterpret_cast<const EFI_ACPI_COMMON_HEADER *>(Table.Table);
          Context.Note("published " + ToHex(std::vector<UINT8>(Table.Table, Table.Table + Header->Length)));
        }
        Context.StartDriver(Driver);
        Context.RunStep(sim::BootStep::EndOfDxe());
        auto Start = Clock::now();
        Context.RunStep(sim::BootStep::EventGroup(gCustomPathEventGroupGuid, "custom-path"));
        Context.Note("ms " + std::to_string(MillisecondsSince(Start)));
        Context.RunStep(sim::BootStep::ReadyToBoot());
        Context.RunStep(sim::BootStep::ExitBootServices());
      });
  for (const std::string &Note : Seen.Result.Notes) {
    std::string Rest;
    std::vector<UINT8> Bytes;
    if (StartsWith(Note, "published ", &Rest) && FromHex(Rest, &Bytes))
      Seen.Published.push_back(MakeTableImage(Bytes));
    if (StartsWith(Note, "ms ", &Rest)) Seen.Milliseconds = atof(Rest.c_str());
    if (StartsWith(Note, "error ", &Rest)) Seen.Errors.push_back(Rest);
  }
  return Seen;
}

BootSeen RunCertifiedBoot(const Board &Platform, const BootSettings &Settings) {
  BootSeen Seen;
  Seen.Result =
      RunBoardBoot(Platform, Settings, false, [](sim::BootContext &Context, const sim::DriverSource &Driver) {
        const sim::AcpiTables &Acpi = Context.Platform().Acpi();
        auto Phase = [&Context, &Acpi](const char *Name) {
          Context.Note(std::string("phase ") + Name + " " + std::to_string(Acpi.Installs().size()));
        };
        auto Start = Clock::now();
        Context.StartDriver(Driver);
        Phase("entry");
        Context.RunStep(sim::BootStep::EndOfDxe());
        Phase("end-of-dxe");
        Context.RunStep(sim::BootStep::ReadyToBoot());
        Phase("ready-to-boot");
        Context.RunStep(sim::BootStep::ExitBootServices());
        Phase("exit-boot-services");
        Context.Note("ms " + std::to_string(MillisecondsSince(Start)));
        for (const sim::AcpiInstallRecord &Install : Acpi.Installs())
          Context.Note("install " + std::to_string(Install.Status) + " " + ToHex(Install.Bytes));
        NoteRegionPages(Context);
      });
  std::vector<std::pair<std::string, size_t>> Phases;
  for (const std::string &Note : Seen.Result.Notes) {
    std::string Rest;
    std::vector<UINT8> Bytes;
    if (StartsWith(Note, "phase ", &Rest)) {
      size_t Blank = Rest.find(' ');
      Phases.push_back({Rest.substr(0, Blank), strtoull(Rest.c_str() + Blank + 1, nullptr, 10)});
    } else if (StartsWith(Note, "install ", &Rest)) {
      size_t Blank = Rest.find(' ');
      InstallSeen Install;
      Install.Status = strtoull(Rest.substr(0, Blank).c_str(), nullptr, 10);
      if (Blank != std::string::npos && FromHex(Rest.substr(Blank + 1), &Bytes))
        Install.Table = MakeTableImage(Bytes);
      Seen.Installs.push_back(Install);
    } else if (StartsWith(Note, "region-pages ", &Rest)) {
      std::istringstream In(Rest);
      RegionPages Pages;
      In >> Pages.Address >> Pages.Pages >> Pages.Type;
      Seen.RegionAllocations.push_back(Pages);
    } else if (StartsWith(Note, "ms ", &Rest)) {
      Seen.Milliseconds = atof(Rest.c_str());
    } else if (StartsWith(Note, "error ", &Rest)) {
      Seen.Errors.push_back(Rest);
    }
  }
  for (size_t Index = 0; Index < Seen.Installs.size(); Index++) {
    for (const auto &Phase : Phases) {
      if (Index < Phase.second) {
        Seen.Installs[Index].Phase = Phase.first;
        break;
      }
    }
  }
  return Seen;
}

// The sample's description keeps its DSDT as "stored", which a custom path
// captures but a certified path cannot install: the demo's copy names the
// volume file the sample platform then carries it in.
bool PrepareSampleBoard(sample::SamplePlatform *Sample, const std::string &MetaPath, Board *Board,
                        std::string *Error) {
  std::string Text = ReadText(MetaPath.empty() ? sample::SampleDescriptionPath() : MetaPath);
  const std::string Stored = "table DSDT stored";
  size_t At = Text.find(Stored);
  if (At != std::string::npos) {
    Text.replace(At, Stored.size(),
                 "table DSDT from-fv file=" + sim::GuidText(sample::kDumpDsdtFile, sim::GuidCase::Upper));
  }
  std::string Path = "/tmp/zephrin-demo-sample-" + std::to_string(getpid()) + ".meta";
  std::ofstream(Path) << Text;
  bool Loaded = Sample->Load(Error, "", Path);
  unlink(Path.c_str());
  if (!Loaded) return false;
  Board->Title = "the sample platform (tests/fixtures/acpi)";
  Board->MetaData = Sample->MetaData();
  if (!sample::ReadMetaRecords(Board->MetaData, &Board->Records, Error)) return false;
  const sample::SamplePlatform *Platform = Sample;
  std::vector<UINT8> Dsdt;
  for (const sample::SampleTable &Table : Sample->Tables())
    if (Table.Name == "dsdt") Dsdt = Table.Bytes;
  Board->Install = [Platform, Dsdt](sim::Platform &Target, bool CustomPath, std::string *Failure) {
    if (!Platform->Install(Target, CustomPath, Failure)) return false;
    std::vector<sim::FvFile> Files = {sim::RawFile(sample::kDumpDsdtFile, EFI_FV_FILETYPE_FREEFORM, {Dsdt})};
    Target.Volumes().Add({0x5A17C0DE, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}}, std::move(Files));
    if (CustomPath) return true;
    // A certified-path boot: the driver installs the tables, not the platform.
    sim::AcpiTables &Acpi = Target.Acpi();
    while (!Acpi.Tables().empty()) Acpi.Uninstall(Acpi.Tables().back().Key);
    return true;
  };
  return true;
}

bool PrepareDumpBoard(const std::string &AcpiDump, const std::string &Tables, const std::string &Meta,
                      sample::DumpPlatform *Dump, Board *Board, std::string *Error) {
  bool Loaded = AcpiDump.empty() ? Dump->LoadTableFolder(Tables, Error) : Dump->LoadAcpiDump(AcpiDump, Error);
  if (!Loaded || !Dump->UseDescription(Meta, Error) || !Dump->BackRegions(Error)) return false;
  Board->Title = AcpiDump.empty() ? Tables : AcpiDump;
  Board->MetaData = Dump->MetaData();
  Board->Records = Dump->Records();
  Board->Notes = Dump->Notes();
  Board->Regions = Dump->Regions();
  const sample::DumpPlatform *Platform = Dump;
  Board->Install = [Platform](sim::Platform &Target, bool CustomPath, std::string *Failure) {
    return Platform->Install(Target, CustomPath, Failure);
  };
  return true;
}

bool ReadStoredCache(const std::string &StorePath, std::vector<UINT8> *Data) {
  std::vector<sim::StoredVariable> Variables;
  std::string Error;
  if (!sim::ReadVariableStoreFile(StorePath, &Variables, &Error)) return false;
  for (const sim::StoredVariable &Variable : Variables) {
    if (Variable.Is(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid)) {
      *Data = Variable.Data;
      return true;
    }
  }
  return false;
}

}  // namespace demo
