#include "tests/custom_path/CustomPathBoot.h"

#include <unistd.h>

#include <cstdio>

#include "acpi_dxe/core/DxeServices.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"

namespace custom_path_test {

sim::DriverSource Driver() {
#ifdef ZEPHRIN_DXE_IMAGE
  return sim::DriverSource::ImageFile(ZEPHRIN_DXE_IMAGE);
#else
  return sim::DriverSource::HostLibrary(ZephrinAcpiDxeEntryPoint);
#endif
}

void CustomPathBoots::SetUp() {
  std::string Error;
  ASSERT_TRUE(Sample.Load(&Error)) << Error;
  char Template[] = "/tmp/zephrin-store-XXXXXX";
  int Fd = mkstemp(Template);
  ASSERT_GE(Fd, 0);
  close(Fd);
  unlink(Template);  // the platform creates the store on its first write
  StorePath = Template;
  Options.Platform.VariableStorePath = StorePath;
}

void CustomPathBoots::TearDown() {
  if (!StorePath.empty()) unlink(StorePath.c_str());
}

sim::BootResult CustomPathBoots::Boot(const std::function<void(sim::BootContext &)> &Tweak,
                                      const sim::BootScript &Extra) {
  sim::BootOptions Run = Options;
  Run.Script = {sim::BootStep::EndOfDxe(),
                sim::BootStep::EventGroup(gCustomPathEventGroupGuid, "custom-path")};
  Run.Script.insert(Run.Script.end(), Extra.begin(), Extra.end());
  Run.Script.push_back(sim::BootStep::ReadyToBoot());
  Run.Script.push_back(sim::BootStep::ExitBootServices());
  const sample::SamplePlatform &Platform = Sample;
  return sim::RunDriverBoot(Run, Driver(), [&Platform, &Tweak](sim::BootContext &Context) {
    std::string Error;
    if (!Platform.Install(Context.Platform(), true, &Error)) Context.Note("install failed: " + Error);
    if (Tweak) Tweak(Context);
  });
}

bool CustomPathBoots::ReadCache(std::vector<UINT8> *Data, UINT32 *Attributes) const {
  std::vector<sim::StoredVariable> Variables;
  std::string Error;
  if (!sim::ReadVariableStoreFile(StorePath, &Variables, &Error)) return false;
  for (const sim::StoredVariable &Variable : Variables) {
    if (Variable.Is(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid)) {
      *Data = Variable.Data;
      *Attributes = Variable.Attributes;
      return true;
    }
  }
  return false;
}

void CustomPathBoots::WriteCache(const std::vector<UINT8> &Data, UINT32 Attributes) {
  std::vector<sim::StoredVariable> Variables;
  std::string Error;
  sim::ReadVariableStoreFile(StorePath, &Variables, &Error);  // a missing store starts empty
  std::vector<sim::StoredVariable> Kept;
  for (const sim::StoredVariable &Variable : Variables) {
    if (!Variable.Is(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid)) Kept.push_back(Variable);
  }
  Kept.push_back({gAcpiDataCacheVariableGuid, ACPI_DATA_CACHE_VARIABLE_NAME, Attributes, Data});
  ASSERT_TRUE(sim::WriteVariableStoreFile(StorePath, Kept, &Error)) << Error;
}

std::vector<sim::VariableWrite> WritesOf(const sim::BootResult &Result, const std::u16string &Name) {
  std::vector<sim::VariableWrite> Writes;
  for (const sim::VariableWrite &Write : Result.VariableWrites) {
    if (Write.Name == Name) Writes.push_back(Write);
  }
  return Writes;
}

bool HasLine(const sim::BootResult &Result, const std::string &Line) {
  for (const std::string &Seen : Result.DebugLines()) {
    if (Seen == Line) return true;
  }
  return false;
}

}  // namespace custom_path_test
