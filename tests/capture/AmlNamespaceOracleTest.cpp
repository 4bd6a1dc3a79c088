// The name finder's walk against ACPICA's disassembler: every Scope, Device,
// Processor, PowerResource, ThermalZone, Method, Name and OperationRegion that
// `iasl -l -d` prints for a table must be reported by the walk, with the same
// absolute path and at the offset the listing implies, and the walk must report
// nothing else. The listing gives each declaration's opcode offset; a small
// decoder written here (apart from the code under test) steps from the opcode
// over the PkgLength and the name prefixes to the last NameSeg.
//
// Tables: the compiled sample fixtures, and every DSDT and SSDT of the real
// machines' dumps in ../shared/acpi-dumps, decoded from their acpidump text by
// acpixtract at test time into a temporary folder (nothing is kept).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/support/HostFiles.h"

namespace {

using capture_test::RunCommand;

struct Declared {
  std::string Kind;
  std::string Path;  // "\_SB_.PCI0.GNVS", four characters a segment
  UINT32 NameOffset = 0;
  bool operator<(const Declared &Other) const {
    return std::tie(NameOffset, Path, Kind) < std::tie(Other.NameOffset, Other.Path, Other.Kind);
  }
  bool operator==(const Declared &Other) const {
    return Kind == Other.Kind && Path == Other.Path && NameOffset == Other.NameOffset;
  }
};

std::string Text(const Declared &D) {
  char Offset[16];
  snprintf(Offset, sizeof(Offset), "0x%05x", D.NameOffset);
  return std::string(Offset) + " " + D.Kind + " " + D.Path;
}

const char *KindName(AML_NAMED_OBJECT_KIND Kind) {
  switch (Kind) {
    case AmlNamedObjectName:
      return "Name";
    case AmlNamedObjectOpRegion:
      return "OperationRegion";
    case AmlNamedObjectScope:
      return "Scope";
    case AmlNamedObjectDevice:
      return "Device";
    case AmlNamedObjectProcessor:
      return "Processor";
    case AmlNamedObjectPowerResource:
      return "PowerResource";
    case AmlNamedObjectThermalZone:
      return "ThermalZone";
    case AmlNamedObjectMethod:
      return "Method";
  }
  return "?";
}

// --- What the walk reports -------------------------------------------------------

struct WalkResult {
  std::vector<Declared> Objects;
  EFI_STATUS End = EFI_SUCCESS;
  UINT32 SkippedBodies = 0;
};

WalkResult WalkTable(const std::vector<UINT8> &Table) {
  WalkResult Result;
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(static_cast<UINT32>(Table.size())));
  AML_WALK Walk;
  AML_NAMED_OBJECT Object;
  EFI_STATUS Status = AmlWalkStart(&Walk, Table.data(), Slots.data(), Slots.size());
  while (!EFI_ERROR(Status) && !EFI_ERROR(Status = AmlWalkNext(&Walk, &Object))) {
    char Path[AML_WALK_MAX_PATH_DEPTH * 5 + 2];
    AmlPathToText(&Object.Path, Path, sizeof(Path));
    Result.Objects.push_back({KindName(Object.Kind), Path, Object.NameOffset});
  }
  Result.End = Status;
  Result.SkippedBodies = Walk.SkippedBodies;
  return Result;
}

// --- What the disassembler lists -------------------------------------------------

// A name as ASL writes it, resolved against the scope it is declared in.
std::vector<std::string> ResolveAslName(const std::vector<std::string> &Scope, std::string Name) {
  std::vector<std::string> Path;
  size_t At = 0;
  if (!Name.empty() && Name[0] == '\\') {
    At = 1;
  } else {
    Path = Scope;
    while (At < Name.size() && Name[At] == '^') {
      if (!Path.empty()) Path.pop_back();
      At++;
    }
  }
  std::stringstream Segs(Name.substr(At));
  std::string Seg;
  while (std::getline(Segs, Seg, '.')) {
    if (Seg.empty()) continue;
    Seg.resize(4, '_');
    Path.push_back(Seg);
  }
  return Path;
}

std::string PathText(const std::vector<std::string> &Path) {
  std::string Out = "\\";
  for (size_t Index = 0; Index < Path.size(); Index++) Out += (Index ? "." : "") + Path[Index];
  return Out;
}

// Offset of the last NameSeg of the declaration whose opcode sits at Offset;
// -1 when the bytes there are not the declaration Kind names.
long LastNameSegOffset(const std::vector<UINT8> &Table, size_t Offset, const std::string &Kind) {
  static const std::map<std::string, std::vector<UINT8>> kOpcodes = {{"Name", {0x08}},
                                                                     {"Scope", {0x10}},
                                                                     {"Method", {0x14}},
                                                                     {"OperationRegion", {0x5B, 0x80}},
                                                                     {"Device", {0x5B, 0x82}},
                                                                     {"Processor", {0x5B, 0x83}},
                                                                     {"PowerResource", {0x5B, 0x84}},
                                                                     {"ThermalZone", {0x5B, 0x85}}};
  const std::vector<UINT8> &Opcode = kOpcodes.at(Kind);
  auto Byte = [&](size_t At) { return At < Table.size() ? Table[At] : -1; };
  for (UINT8 Expected : Opcode) {
    if (Byte(Offset++) != Expected) return -1;
  }
  if (Kind != "Name" && Kind != "OperationRegion") Offset += 1 + (Byte(Offset) >> 6);  // PkgLength
  if (Byte(Offset) == '\\') {
    Offset++;
  } else {
    while (Byte(Offset) == '^') Offset++;
  }
  int Segments = 1;
  if (Byte(Offset) == 0x00) return 0;  // NullName: Scope (\)
  if (Byte(Offset) == 0x2E) {
    Segments = 2;
    Offset++;
  } else if (Byte(Offset) == 0x2F) {
    Segments = Byte(Offset + 1);
    Offset += 2;
  }
  return static_cast<long>(Offset) + 4 * (Segments - 1);
}

// Declarations of an `iasl -l -d` listing. The braces of the ASL give the nesting;
// a brace that follows a Scope, Device, Method or the like opens that object's
// scope, any other brace (If, Package, Field, ResourceTemplate) keeps the scope.
// The first hex line after a declaration starts with its opcode's offset.
std::vector<Declared> ListingDeclarations(const std::string &Listing, const std::vector<UINT8> &Table,
                                          std::vector<std::string> *Problems) {
  static const std::regex kHeader(
      R"(^\s*(Scope|Device|Method|Processor|PowerResource|ThermalZone|Name|OperationRegion)\s*\(([\\^A-Z0-9_.]+))");
  static const std::regex kHex(R"(^\s+([0-9A-F]{4,8}): ([0-9A-F]{2}(?: [0-9A-F]{2})*))");
  struct Brace {
    bool Scoped;
    std::vector<std::string> Outer;
  };
  std::vector<Brace> Braces;
  std::vector<std::string> Scope;
  bool PendingScope = false;
  std::vector<std::string> PendingPath;
  std::vector<Declared> Awaiting, Out;
  size_t LastHexOffset = 0;
  std::istringstream In(Listing);
  std::string Line;
  std::smatch Match;
  while (std::getline(In, Line)) {
    if (std::regex_search(Line, Match, kHex)) {
      LastHexOffset = std::stoul(Match[1].str(), nullptr, 16);
      if (Awaiting.empty()) {
        // A Switch is printed without the Name (_T_n) its AML declares first.
        if (Match[2].str().rfind("08 5F 54 5F ", 0) == 0) {
          std::vector<std::string> Path = Scope;
          Path.push_back("_T_" + std::string(1, static_cast<char>(
                                                    std::stoi(Match[2].str().substr(12, 2), nullptr, 16))));
          Out.push_back({"Name", PathText(Path), static_cast<UINT32>(LastHexOffset + 1)});
        }
        continue;
      }
      Declared D = Awaiting.front();
      Awaiting.erase(Awaiting.begin());
      const long Offset = LastNameSegOffset(Table, LastHexOffset, D.Kind);
      if (Offset < 0) {
        Problems->push_back("listing offset " + Match[1].str() + " does not hold " + D.Kind + " " + D.Path);
        continue;
      }
      D.NameOffset = static_cast<UINT32>(Offset);
      Out.push_back(D);
      continue;
    }
    // Strings and comments may hold braces and keywords.
    Line = std::regex_replace(Line, std::regex(R"("([^"\\]|\\.)*")"), "\"\"");
    Line = std::regex_replace(Line, std::regex(R"(//.*$|/\*.*?\*/)"), "");
    if (std::regex_search(Line, Match, kHeader)) {
      const std::string Kind = Match[1].str();
      const std::vector<std::string> Path = ResolveAslName(Scope, Match[2].str());
      Awaiting.push_back({Kind, PathText(Path), 0});
      PendingScope = Kind != "Name" && Kind != "OperationRegion";
      PendingPath = Path;
    }
    for (char C : Line) {
      if (C == '{') {
        Braces.push_back({PendingScope, Scope});
        if (PendingScope) Scope = PendingPath;
        PendingScope = false;
      } else if (C == '}' && !Braces.empty()) {
        Scope = Braces.back().Outer;
        Braces.pop_back();
      }
    }
  }
  // The listing leaves out the bytes of a table's last declaration when it has no
  // body: it is the first such declaration behind the last offset listed.
  for (Declared D : Awaiting) {
    const std::string Seg = D.Path.substr(D.Path.size() - 4);
    for (size_t At = LastHexOffset + 1; At < Table.size(); At++) {
      const long Offset = LastNameSegOffset(Table, At, D.Kind);
      if (Offset > 0 && static_cast<size_t>(Offset) + 4 <= Table.size() &&
          std::string(reinterpret_cast<const char *>(&Table[Offset]), 4) == Seg) {
        D.NameOffset = static_cast<UINT32>(Offset);
        LastHexOffset = At;
        break;
      }
    }
    if (D.NameOffset == 0) Problems->push_back("no bytes found for " + D.Kind + " " + D.Path);
    Out.push_back(D);
  }
  return Out;
}

// Per kind: declarations the listing has, and how many of them the walk matched.
struct Tally {
  std::map<std::string, std::pair<size_t, size_t>> ByKind;  // kind -> {listed, matched}
  std::vector<std::string> Differences;
  UINT32 SkippedBodies = 0;
};

// Disassembles the table at TablePath (in a folder of its own) and compares.
void CompareTable(const std::string &TablePath, const std::string &Label, Tally *Result) {
  const std::vector<UINT8> Table = test_support::ReadHostFileOrEmpty(TablePath);
  const std::string Dir = TablePath.substr(0, TablePath.rfind('/'));
  const std::string Base = TablePath.substr(Dir.size() + 1, TablePath.rfind('.') - Dir.size() - 1);
  RunCommand("cd '" + Dir + "' && iasl -vs -l -d '" + TablePath + "'");
  std::ifstream In(Dir + "/" + Base + ".dsl");
  const std::string Listing((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Listing.empty()) {
    Result->Differences.push_back(Label + ": iasl wrote no listing");
    return;
  }
  std::vector<std::string> Problems;
  std::vector<Declared> Listed = ListingDeclarations(Listing, Table, &Problems);
  WalkResult Walked = WalkTable(Table);
  for (const std::string &P : Problems) Result->Differences.push_back(Label + ": oracle: " + P);
  if (Walked.End != EFI_NOT_FOUND) {
    Result->Differences.push_back(Label + ": walk ended with status 0x" + std::to_string(Walked.End));
  }
  Result->SkippedBodies += Walked.SkippedBodies;
  std::sort(Listed.begin(), Listed.end());
  std::sort(Walked.Objects.begin(), Walked.Objects.end());
  std::vector<Declared> Missing, Extra, Matched;
  std::set_difference(Listed.begin(), Listed.end(), Walked.Objects.begin(), Walked.Objects.end(),
                      std::back_inserter(Missing));
  std::set_difference(Walked.Objects.begin(), Walked.Objects.end(), Listed.begin(), Listed.end(),
                      std::back_inserter(Extra));
  std::set_intersection(Listed.begin(), Listed.end(), Walked.Objects.begin(), Walked.Objects.end(),
                        std::back_inserter(Matched));
  for (const Declared &D : Listed) Result->ByKind[D.Kind].first++;
  for (const Declared &D : Matched) Result->ByKind[D.Kind].second++;
  for (const Declared &D : Missing) Result->Differences.push_back(Label + ": walk misses " + Text(D));
  for (const Declared &D : Extra) Result->Differences.push_back(Label + ": walk invents " + Text(D));
}

std::string Summary(const std::string &Name, const Tally &T) {
  std::string Out = Name + ":";
  for (const char *Kind : {"Name", "OperationRegion", "Device", "Scope", "Method", "Processor",
                           "PowerResource", "ThermalZone"}) {
    auto It = T.ByKind.find(Kind);
    if (It == T.ByKind.end()) continue;
    Out += " " + std::string(Kind) + " " + std::to_string(It->second.second) + "/" +
           std::to_string(It->second.first);
  }
  return Out + " (matched/listed)";
}

void ExpectAgreement(const std::string &Name, const Tally &T) {
  std::cout << Summary(Name, T) << "\n";
  testing::Test::RecordProperty("namespace", Summary(Name, T));
  std::string Shown;
  for (size_t Index = 0; Index < T.Differences.size() && Index < 40; Index++)
    Shown += T.Differences[Index] + "\n";
  EXPECT_TRUE(T.Differences.empty()) << T.Differences.size() << " differences:\n" << Shown;
  EXPECT_EQ(T.SkippedBodies, 0u) << "method bodies or If/Else/While blocks the walk could not follow";
  size_t Listed = 0;
  for (const auto &Kind : T.ByKind) Listed += Kind.second.first;
  EXPECT_GT(Listed, 0u) << "the listing held no declarations: the oracle is broken";
}

std::string MakeTempDir() {
  char Dir[] = "/tmp/aml_oracle_XXXXXX";
  return mkdtemp(Dir) != nullptr ? Dir : "";
}

// --- The sample fixtures ---------------------------------------------------------

class AmlNamespaceOracle : public testing::TestWithParam<const char *> {};

TEST_P(AmlNamespaceOracle, SampleTableMatchesTheDisassembly) {
  REQUIRE_TOOL("iasl");
  REQUIRE_FIXTURE(Table, GetParam());
  const std::string Dir = MakeTempDir();
  ASSERT_FALSE(Dir.empty());
  std::ofstream(Dir + "/" + GetParam() + ".aml", std::ios::binary)
      .write(reinterpret_cast<const char *>(Table.data()), static_cast<std::streamsize>(Table.size()));
  Tally Result;
  CompareTable(Dir + "/" + GetParam() + ".aml", GetParam(), &Result);
  ExpectAgreement(GetParam(), Result);
  RunCommand("rm -rf '" + Dir + "'");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AmlNamespaceOracle,
                         testing::Values("dsdt", "ssdt_nvs", "ssdt_nonnvs", "aml_grammar"));

// --- The real machines' dumps ----------------------------------------------------

class AmlNamespaceOracleDumps : public testing::TestWithParam<const char *> {};

TEST_P(AmlNamespaceOracleDumps, EveryDsdtAndSsdtMatchesTheDisassembly) {
  const std::string Dump = std::string(ZEPHRIN_SHARED_DIR) + "/acpi-dumps/" + GetParam() + ".acpidump";
  if (access(Dump.c_str(), R_OK) != 0) GTEST_SKIP() << "shared dump not found: " << Dump;
  REQUIRE_TOOL("iasl");
  REQUIRE_TOOL("acpixtract");
  const std::string Dir = MakeTempDir();
  ASSERT_FALSE(Dir.empty());
  RunCommand("cd '" + Dir + "' && acpixtract -a '" + Dump + "'");
  std::vector<std::string> Tables;
  if (DIR *Folder = opendir(Dir.c_str())) {
    while (dirent *Entry = readdir(Folder)) {
      const std::string File = Entry->d_name;
      if (std::regex_match(File, std::regex(R"((dsdt|ssdt[0-9]*)\.dat)"))) Tables.push_back(File);
    }
    closedir(Folder);
  }
  std::sort(Tables.begin(), Tables.end());
  ASSERT_FALSE(Tables.empty()) << "acpixtract found no DSDT or SSDT in " << Dump;
  Tally Result;
  for (const std::string &File : Tables) {
    // Each table in a folder of its own: iasl names its output after the input.
    const std::string Own = Dir + "/" + File.substr(0, File.size() - 4);
    RunCommand("mkdir -p '" + Own + "' && mv '" + Dir + "/" + File + "' '" + Own + "/'");
    CompareTable(Own + "/" + File, File, &Result);
  }
  ExpectAgreement(std::string(GetParam()) + " (" + std::to_string(Tables.size()) + " tables)", Result);
  RunCommand("rm -rf '" + Dir + "'");
}

INSTANTIATE_TEST_SUITE_P(SharedDumps, AmlNamespaceOracleDumps,
                         testing::Values("server-2008", "laptop-intel-2015", "desktop-amd-x470"),
                         [](const testing::TestParamInfo<const char *> &Info) {
                           std::string Name = Info.param;
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

}  // namespace
