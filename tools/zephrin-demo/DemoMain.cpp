// zephrin-demo: dispatches ZephrinAcpiDxe.efi on the simulated sample platform,
// as a board's DXE core would, and prints the driver's debug log.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/BootRunner.h"

namespace {

#ifndef ZEPHRIN_DXE_IMAGE
#define ZEPHRIN_DXE_IMAGE ""
#endif

struct DemoOptions {
  std::string Image = ZEPHRIN_DXE_IMAGE;
  bool CustomPath = true;
  std::string Store;
};

void Usage() {
  fprintf(stderr,
          "usage: zephrin-demo [--image FILE] [--path custom|certified] [--store FILE]\n"
          "  Boots the driver image on the simulated sample platform and prints its log.\n"
          "  --image  the driver image (default: the one this build produced)\n"
          "  --path   custom: publish the custom-path HOB; certified: do not (default custom)\n"
          "  --store  variable store file kept between runs (default: none)\n");
}

bool ParseArguments(int Argc, char **Argv, DemoOptions *Options) {
  for (int Index = 1; Index < Argc; Index++) {
    std::string Arg = Argv[Index];
    bool HasValue = Index + 1 < Argc;
    if (Arg == "--image" && HasValue) {
      Options->Image = Argv[++Index];
    } else if (Arg == "--path" && HasValue) {
      std::string Path = Argv[++Index];
      if (Path != "custom" && Path != "certified") return false;
      Options->CustomPath = Path == "custom";
    } else if (Arg == "--store" && HasValue) {
      Options->Store = Argv[++Index];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int Argc, char **Argv) {
  DemoOptions Options;
  if (!ParseArguments(Argc, Argv, &Options)) {
    Usage();
    return 2;
  }
  if (Options.Image.empty()) {
    fprintf(stderr, "zephrin-demo: no driver image; pass --image FILE\n");
    return 2;
  }

  sim::BootOptions Boot;
  Boot.Platform.VariableStorePath = Options.Store;
  const bool CustomPath = Options.CustomPath;
  sim::BootResult Result = sim::RunDriverBoot(Boot, sim::DriverSource::ImageFile(Options.Image),
                                              [CustomPath](sim::BootContext &Context) {
                                                sim::HobListBuilder Hobs;
                                                if (CustomPath)
                                                  Hobs.AddGuidHob(gCustomPathHobGuid, std::vector<UINT8>{});
                                                Context.Platform().PublishHobList(Hobs);
                                              });

  printf("Booted %s on the sample platform (%s path)\n", Options.Image.c_str(),
         CustomPath ? "custom" : "certified");
  for (const std::string &Line : Result.DebugLines()) printf("  | %s\n", Line.c_str());
  printf("Boot ended: %s\n", sim::BootEndName(Result.End));
  if (Result.End == sim::BootEnd::Error || Result.End == sim::BootEnd::Crash) {
    fprintf(stderr, "%s\n", Result.Describe().c_str());
    return 1;
  }
  return 0;
}
