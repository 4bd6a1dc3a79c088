#include "tools/zephrin-demo/DemoBoots.h"

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
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

BootSeen RunCustomBoot(const Board &Platform, const BootSettings &Settings) {
  sim::DriverSource Driver = sim::DriverSource::ImageFile(Settings.Image);
  BootSeen Seen;
  Seen.Result = sim::RunBoot(OptionsFor(Settings), [&Platform, &Driver](sim::BootContext &Context) {
    std::string Error;
    if (!Platform.Install(Context.Platform(), true, &Error)) {
      Context.Note("error " + Error);
      return;
    }
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
    if (StartsWith(Note, "published ", &Rest) && FromHex(Rest, &Bytes)) Seen.Published.push_back(MakeTableImage(Bytes));
    if (StartsWith(Note, "ms ", &Rest)) Seen.Milliseconds = atof(Rest.c_str());
    if (StartsWith(Note, "error ", &Rest)) Seen.Errors.push_back(Rest);
  }
  return Seen;
}

BootSeen RunCertifiedBoot(const Board &Platform, const BootSettings &Settings) {
  sim::DriverSource Driver = sim::DriverSource::ImageFile(Settings.Image);
  BootSeen Seen;
  Seen.Result = sim::RunBoot(OptionsFor(Settings), [&Platform, &Driver](sim::BootContext &Context) {
    std::string Error;
    if (!Platform.Install(Context.Platform(), false, &Error)) {
      Context.Note("error " + Error);
      return;
    }
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
      if (Blank != std::string::npos && FromHex(Rest.substr(Blank + 1), &Bytes)) Install.Table = MakeTableImage(Bytes);
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

bool ReadStoredCache(const std::string &StorePath, std::vector<UINT8> *Data) {
  std::vector<sim::StoredVariable> Variables;
  std::string Error;
  if (!sim::ReadVariableStoreFile(StorePath, &Variables, &Error)) return false;
  for (const sim::StoredVariable &Variable : Variables) {
    if (Variable.Name == ACPI_DATA_CACHE_VARIABLE_NAME && sim::SameGuid(Variable.Guid, gAcpiDataCacheVariableGuid)) {
      *Data = Variable.Data;
      return true;
    }
  }
  return false;
}

}  // namespace demo
