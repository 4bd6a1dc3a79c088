// pei-te-run: runs the shipped TE image of the feature-control PEI module on the
// emulated IA-32 PEI phase (sim/Ia32PeiHost.h), with a product-data container
// (as `acpi-meta build ... --container` writes one) handed over in a HOB or in
// a file of a product-data firmware volume, and prints how the run ended, the
// messages the module sent and the HOBs it published.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "common/DebugLevels.h"
#include "feature_control_pei/FeatureControlPei.h"
#include "product_data/ProductData.h"
#include "product_data/ProductDataFv.h"
#include "sim/FvImage.h"
#include "sim/HobList.h"
#include "sim/Ia32PeiHost.h"
#include "sim/PeiServices.h"
#include "sim/ProductDataImage.h"
#include "sim/VarStoreImage.h"

namespace {

#if defined(ZEPHRIN_PEI_TE_IMAGE)
const char *const kDefaultTeImage = ZEPHRIN_PEI_TE_IMAGE;
#else
const char *const kDefaultTeImage = nullptr;
#endif

const char kHelp[] = R"(usage: pei-te-run [options] <container-file>
       pei-te-run [options] --flags <hex bytes>

Runs the TE image of TglZephrinFeatureControlPei on an emulated IA-32 PEI phase
with the product-data container handed over, and prints how the run ended, the
messages the module sent and the HOBs it published.
  --te <file>       the TE image (default: the one this build made)
  --data-id <n>     DataId the Product Data Info HOB lists (default 1, as
                    acpi-meta writes it)
  --no-info         hand over no Product Data Info HOB
  --in <where>      hob (default), primary or secondary: a product-data HOB,
                    or a freeform file of that product-data volume
  --flags <hex>     instead of a container file, one with a feature-control
                    item (ItemId 0x2000) holding these bytes, e.g. 0180FF
Exit status: 0 when the entry point returned, 3 when the run was stopped,
1 for bad arguments or files, 2 when the image was refused.
)";

constexpr EFI_GUID kContainerFile = {
    0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};

int Fail(int Code, const std::string &Message) {
  std::fprintf(stderr, "pei-te-run: %s\n", Message.c_str());
  return Code;
}

bool ReadFile(const std::string &Path, std::vector<UINT8> *Bytes) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Bytes->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

bool ParseHex(const std::string &Text, std::vector<UINT8> *Bytes) {
  if (Text.size() % 2 != 0) return false;
  for (size_t At = 0; At < Text.size(); At += 2) {
    char *End = nullptr;
    std::string Pair = Text.substr(At, 2);
    unsigned long Value = std::strtoul(Pair.c_str(), &End, 16);
    if (End != Pair.c_str() + 2) return false;
    Bytes->push_back(static_cast<UINT8>(Value));
  }
  return true;
}

const char *LevelName(UINTN Level) {
  switch (Level) {
    case DEBUG_WARN:
      return "WARN ";
    case DEBUG_INFO:
      return "INFO ";
    case DEBUG_ERROR:
      return "ERROR";
    default:
      return "     ";
  }
}

std::string GuidText(const EFI_GUID &G) {
  return sim::GuidText(G, sim::GuidCase::Upper);
}

// A created HOB: its header, and its bytes up to the length the module asked
// for (the core rounds the HOB up to a multiple of 8).
void PrintHob(const EFI_HOB_GENERIC_HEADER *Hob, UINT16 Requested) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Hob);
  size_t DataAt = sizeof(EFI_HOB_GENERIC_HEADER);
  size_t End = Requested < Hob->HobLength ? Requested : Hob->HobLength;
  std::printf("  type %u, %u bytes (%u asked for)", Hob->HobType, Hob->HobLength, Requested);
  if (Hob->HobType == EFI_HOB_TYPE_GUID_EXTENSION && Hob->HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
    std::printf(", GUID %s", GuidText(reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob)->Name).c_str());
    DataAt = sizeof(EFI_HOB_GUID_TYPE);
  }
  std::printf("\n");
  for (size_t At = DataAt; At < End; At++) {
    std::printf("%s %02X", (At - DataAt) % 16 == 0 ? "   " : "", Bytes[At]);
    if ((At - DataAt) % 16 == 15 || At + 1 == End) std::printf("\n");
  }
}

struct Options {
  std::string TePath = kDefaultTeImage != nullptr ? kDefaultTeImage : "";
  std::string ContainerPath;
  std::vector<UINT8> Flags;
  bool HaveFlags = false;
  UINT32 DataId = 1;
  bool Info = true;
  std::string Where = "hob";
};

// Returns 0, or the exit status for bad arguments after saying why.
int ParseOptions(int Argc, char **Argv, Options *Out) {
  for (int Index = 1; Index < Argc; Index++) {
    std::string Arg = Argv[Index];
    bool HasValue = Index + 1 < Argc;
    if (Arg == "--help" || Arg == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(0);
    } else if (Arg == "--no-info") {
      Out->Info = false;
    } else if (Arg == "--te" && HasValue) {
      Out->TePath = Argv[++Index];
    } else if (Arg == "--in" && HasValue) {
      Out->Where = Argv[++Index];
      if (Out->Where != "hob" && Out->Where != "primary" && Out->Where != "secondary")
        return Fail(1, "--in takes hob, primary or secondary");
    } else if (Arg == "--data-id" && HasValue) {
      char *End = nullptr;
      unsigned long long Value = std::strtoull(Argv[++Index], &End, 0);
      if (*End != '\0' || Value > 0xFFFFFFFFull) return Fail(1, "--data-id needs a 32-bit number");
      Out->DataId = static_cast<UINT32>(Value);
    } else if (Arg == "--flags" && HasValue) {
      if (!ParseHex(Argv[++Index], &Out->Flags))
        return Fail(1, "--flags needs hexadecimal bytes, e.g. 0180FF");
      Out->HaveFlags = true;
    } else if (Arg.rfind("--", 0) != 0 && Out->ContainerPath.empty()) {
      Out->ContainerPath = Arg;
    } else {
      return Fail(1, "unknown or incomplete option '" + Arg + "' (--help lists them)");
    }
  }
  if (Out->HaveFlags == !Out->ContainerPath.empty())
    return Fail(1, "give a container file or --flags (not both)");
  if (Out->TePath.empty()) return Fail(1, "this build made no TE image; name one with --te");
  return 0;
}

// The phase a board hands the module: the Info HOB and the container where asked.
bool StartPhase(const Options &Opt, const std::vector<UINT8> &Container,
                std::unique_ptr<sim::PeiPhase> *Phase, std::string *Error) {
  sim::HobListBuilder Hobs;
  if (Opt.Info) Hobs.AddGuidHob(gProductDataInfoHobGuid, sim::BuildProductDataInfo({Opt.DataId}));
  if (Opt.Where == "hob") Hobs.AddGuidHob(gProductDataHobGuid, Container);
  *Phase = std::make_unique<sim::PeiPhase>(Hobs);
  if (Opt.Where == "hob") return true;
  sim::FvImageBuilder Volume;
  Volume.SetFvName(Opt.Where == "primary" ? gProductDataPrimaryFvGuid : gProductDataSecondaryFvGuid);
  Volume.AddRawFile(kContainerFile, Container);
  return (*Phase)->AddVolume(Volume.Build(), Error);
}

void PrintOutcome(const sim::Ia32PeiHost &Host, const sim::Ia32RunReport &Report,
                  const sim::PeiPhase &Phase) {
  const sim::TeLoadedImage &Image = Host.Image();
  std::printf("image: linked for 0x%08llX, loaded at 0x%08X, entry point 0x%08X\n",
              static_cast<unsigned long long>(Image.Headers.ImageBase), Image.LoadBase, Image.EntryPoint());
  std::printf("run: %s; %llu service calls, %u bytes of stack\n", Report.Describe().c_str(),
              static_cast<unsigned long long>(Report.ServiceCalls), Report.StackBytesUsed);
  std::printf("messages: %zu\n", Host.DebugRecords().size());
  for (const sim::PeiDebugRecord &Record : Host.DebugRecords()) {
    std::string Text = Record.Text;
    if (!Text.empty() && Text.back() == '\n') Text.pop_back();
    std::printf("  %s %s\n", LevelName(Record.ErrorLevel), Text.c_str());
  }
  std::printf("HOBs published: %zu\n", Phase.CreatedHobs().size());
  for (size_t Index = 0; Index < Phase.CreatedHobs().size(); Index++) {
    PrintHob(Phase.CreatedHobs()[Index], Phase.RequestedHobLengths()[Index]);
  }
}

}  // namespace

int main(int Argc, char **Argv) {
  Options Opt;
  if (int Status = ParseOptions(Argc, Argv, &Opt); Status != 0) return Status;
  std::vector<UINT8> Te, Container;
  if (!ReadFile(Opt.TePath, &Te)) return Fail(1, "cannot read " + Opt.TePath);
  if (Opt.HaveFlags) {
    Container = sim::BuildProductDataContainer({{FEATURE_CONTROL_ITEM_ID, Opt.DataId, Opt.Flags}});
  } else if (!ReadFile(Opt.ContainerPath, &Container)) {
    return Fail(1, "cannot read " + Opt.ContainerPath);
  }
  std::unique_ptr<sim::PeiPhase> Phase;
  std::string Error;
  if (!StartPhase(Opt, Container, &Phase, &Error)) return Fail(1, "cannot build the volume: " + Error);
  sim::Ia32PeiHost Host(*Phase);
  if (!Host.Load(Te, &Error)) return Fail(2, Opt.TePath + ": " + Error);
  sim::Ia32RunReport Report = Host.Run();
  PrintOutcome(Host, Report, *Phase);
  return Report.Returned ? 0 : 3;
}
