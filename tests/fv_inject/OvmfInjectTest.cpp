// The injector on the distribution's OVMF_CODE.fd, checked with tools that are
// not ours: UEFIExtract (every original file unchanged, ours present with the
// right type, name and section bodies, no complaint about any header, checksum
// or stream), and a QEMU boot where probe drivers report which of the injected
// files the DXE core dispatched. Skips when OVMF, UEFIExtract or QEMU is absent.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/fv_inject/FvInjectTestSupport.h"
#include "tools/fv-inject/FvInject.h"
#include "tools/fv-inject/LzmaAlone.h"

namespace fv_inject_test {
namespace {

namespace fs = std::filesystem;

constexpr EFI_GUID kProbeAlways = {0x1A2B3C4D, 0x0001, 0x4F00, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
constexpr EFI_GUID kProbeNever = {0x1A2B3C4D, 0x0002, 0x4F00, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
constexpr EFI_GUID kProbeAfterVariables = {0x1A2B3C4D, 0x0003, 0x4F00, {0x80, 0, 0, 0, 0, 0, 0, 0x03}};
// Architectural protocols every DXE phase installs: variable read and write.
constexpr EFI_GUID kVariableArchProtocol = {
    0x1E5668E2, 0x8481, 0x11D4, {0xBC, 0xF1, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
constexpr EFI_GUID kVariableWriteArchProtocol = {
    0x6441F818, 0x6362, 0x4E44, {0xB5, 0x70, 0x7D, 0xBA, 0x31, 0xDD, 0x24, 0x53}};
// A protocol nobody installs.
constexpr EFI_GUID kNeverInstalled = {
    0x0D3F7A52, 0x6C1B, 0x4E2D, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
// OVMF's own DXE core file.
constexpr EFI_GUID kOvmfDxeCore = {
    0xD6A2CB7F, 0x6A18, 0x4E2F, {0xB4, 0x3B, 0x99, 0x20, 0xA7, 0x33, 0x70, 0x0A}};

const char kOvmfDir[] = ZEPHRIN_OVMF_DIR;

#define REQUIRE_OVMF(Image)                                                           \
  std::optional<Bytes> Image = ReadHostFile(std::string(kOvmfDir) + "/OVMF_CODE.fd"); \
  if (!Image) GTEST_SKIP() << kOvmfDir << "/OVMF_CODE.fd not found (Debian package ovmf)"

std::optional<Bytes> ProbeImage() {
#ifdef ZEPHRIN_PROBE_DXE
  return ReadHostFile(ZEPHRIN_PROBE_DXE);
#else
  return std::nullopt;
#endif
}

fv_inject::DriverSpec Probe(const EFI_GUID &Name, const std::string &Ui, const Bytes &Image,
                            std::vector<EFI_GUID> Depex) {
  fv_inject::DriverSpec Spec;
  Spec.Name = Name;
  Spec.UiName = Ui;
  Spec.Image = Image;
  Spec.Depex = std::move(Depex);
  return Spec;
}

std::vector<fv_inject::DriverSpec> ThreeProbes(const Bytes &Image) {
  return {Probe(kProbeAlways, "ProbeAlways", Image, {}),
          Probe(kProbeNever, "ProbeNever", Image, {kNeverInstalled}),
          Probe(kProbeAfterVariables, "ProbeAfterVariables", Image,
                {kVariableArchProtocol, kVariableWriteArchProtocol})};
}

class ScratchDir {
 public:
  ScratchDir() {
    char Template[] = "/tmp/fv_inject_test.XXXXXX";
    mPath = mkdtemp(Template);
  }
  ~ScratchDir() {
    std::error_code Ignored;
    fs::remove_all(mPath, Ignored);
  }
  std::string operator/(const std::string &Name) const { return mPath + "/" + Name; }

 private:
  std::string mPath;
};

// UEFIExtract's report rows of one kind ("File", "Section"...), keyed by what
// identifies them: the columns after the base (size, CRC32, name).
std::vector<std::string> ReportRows(const std::string &Report, const std::string &Kind) {
  std::vector<std::string> Rows;
  std::stringstream Lines(Report);
  std::string Line;
  while (std::getline(Lines, Line)) {
    if (Line.rfind(" " + Kind, 0) != 0) continue;
    // Type | Subtype | Base | Size | CRC32 | Name: drop the base, which moves when a file does.
    std::vector<std::string> Columns;
    std::stringstream Cells(Line);
    std::string Cell;
    while (std::getline(Cells, Cell, '|')) Columns.push_back(Cell);
    if (Columns.size() < 6) continue;
    Columns.erase(Columns.begin() + 2);
    std::string Key;
    for (const std::string &Column : Columns) Key += Column + "|";
    Rows.push_back(Key);
  }
  return Rows;
}

struct Extracted {
  std::string Messages;  // what UEFIExtract printed: every complaint it has
  std::string Report;
};

std::optional<Extracted> RunUefiExtract(const std::string &Tool, const std::string &Image) {
  Extracted Out;
  if (RunCommand(
          "cd \"" + fs::path(Image).parent_path().string() + "\" && " + Tool + " \"" + Image + "\" report",
          &Out.Messages) != 0) {
    return std::nullopt;
  }
  std::optional<Bytes> Report = ReadHostFile(Image + ".report.txt");
  if (!Report) return std::nullopt;
  Out.Report.assign(Report->begin(), Report->end());
  return Out;
}

// The body of one section type of one file, dumped by UEFIExtract.
std::optional<Bytes> ExtractBody(const std::string &Tool, const std::string &Image, const EFI_GUID &File,
                                 uint8_t SectionType, const std::string &Out) {
  char Type[8];
  std::snprintf(Type, sizeof(Type), "%02X", SectionType);
  std::string Ignored;
  RunCommand(Tool + " \"" + Image + "\" " + GuidString(File) + " -o \"" + Out + "\" -m body -t " + Type,
             &Ignored);
  return ReadHostFile(Out + "/body.bin");
}

TEST(OvmfInjectTest, UefiExtractFindsOurFilesAndEveryOriginalFileUnchanged) {
  REQUIRE_OVMF(Original);
  std::optional<std::string> Tool = FindProgram("UEFIExtract");
  if (!Tool) GTEST_SKIP() << "UEFIExtract not found (Debian package uefitool-cli)";
  std::optional<Bytes> ProbeBytes = ProbeImage();
  const Bytes Image = ProbeBytes ? *ProbeBytes : PseudoRandom(4096, 40);
  std::vector<fv_inject::DriverSpec> Drivers = ThreeProbes(Image);
  Bytes Injected;
  fv_inject::InjectSummary Summary;
  std::string Error;
  ASSERT_TRUE(fv_inject::InjectDrivers(*Original, Drivers, &Injected, &Summary, &Error)) << Error;
  ASSERT_EQ(Injected.size(), Original->size());

  ScratchDir Dir;
  ASSERT_TRUE(WriteHostFile(Dir / "original.fd", *Original));
  ASSERT_TRUE(WriteHostFile(Dir / "injected.fd", Injected));
  std::optional<Extracted> Before = RunUefiExtract(*Tool, Dir / "original.fd");
  std::optional<Extracted> After = RunUefiExtract(*Tool, Dir / "injected.fd");
  ASSERT_TRUE(Before && After);
  EXPECT_EQ(After->Messages, Before->Messages);

  // Every original file row (type, size, CRC32 of the whole file, name) is still
  // there, except the one holding the compressed volumes, which was rebuilt.
  std::vector<std::string> Old = ReportRows(Before->Report, "File");
  std::vector<std::string> New = ReportRows(After->Report, "File");
  size_t Rebuilt = 0;
  for (const std::string &Row : Old) {
    if (Row.find("9E21FD93-9C72-4C15-8C4B-E77F1DB2D792") != std::string::npos) {
      Rebuilt++;
      continue;
    }
    EXPECT_NE(std::find(New.begin(), New.end(), Row), New.end()) << "changed or missing: " << Row;
  }
  EXPECT_EQ(Rebuilt, 1u);
  EXPECT_EQ(New.size(), Old.size() + Drivers.size());
  for (const fv_inject::DriverSpec &Driver : Drivers) {
    const std::string Guid = GuidString(Driver.Name);
    auto Row = std::find_if(New.begin(), New.end(),
                            [&](const std::string &R) { return R.find(Guid) != std::string::npos; });
    ASSERT_NE(Row, New.end()) << Guid;
    EXPECT_NE(Row->find("| DXE driver "), std::string::npos) << *Row;
    EXPECT_NE(Row->find("| " + Driver.UiName + "|"), std::string::npos) << *Row;
  }
  std::optional<Bytes> Pe32 =
      ExtractBody(*Tool, Dir / "injected.fd", kProbeAfterVariables, EFI_SECTION_PE32, Dir / "pe32");
  std::optional<Bytes> Depex =
      ExtractBody(*Tool, Dir / "injected.fd", kProbeAfterVariables, EFI_SECTION_DXE_DEPEX, Dir / "depex");
  ASSERT_TRUE(Pe32 && Depex);
  EXPECT_EQ(*Pe32, Image);
  Bytes ExpectedDepex{0x02};
  const uint8_t *One = reinterpret_cast<const uint8_t *>(&kVariableArchProtocol);
  const uint8_t *Two = reinterpret_cast<const uint8_t *>(&kVariableWriteArchProtocol);
  ExpectedDepex.insert(ExpectedDepex.end(), One, One + 16);
  ExpectedDepex.push_back(0x02);
  ExpectedDepex.insert(ExpectedDepex.end(), Two, Two + 16);
  ExpectedDepex.insert(ExpectedDepex.end(), {0x03, 0x08});
  EXPECT_EQ(*Depex, ExpectedDepex);
}

TEST(OvmfInjectTest, LzmaSectionRoundTripsAndRecompressesAsWell) {
  REQUIRE_OVMF(Original);
  // The OVMF layout: the compressed file right after the volume header and the
  // pad file that carries the extended header; its LZMA stream after 24 + 24 bytes.
  OpenedImage Opened;
  std::string Why;
  ASSERT_TRUE(OpenImage(*Original, 0x1AC000, &Opened, &Why)) << Why;
  const uint8_t *Stream = Original->data() + Opened.FileOffset + 48;
  const size_t StreamSize = Opened.FileSize - 48;
  fv_inject::LzmaHeader Header;
  Bytes Payload, Again, Decoded;
  std::string Error;
  ASSERT_TRUE(fv_inject::ReadLzmaHeader(Stream, StreamSize, &Header, &Error)) << Error;
  ASSERT_TRUE(fv_inject::DecodeLzmaAlone(Stream, StreamSize, &Payload, &Error)) << Error;
  EXPECT_EQ(Payload, Opened.Payload);
  ASSERT_TRUE(fv_inject::EncodeLzmaAlone(Payload, Header.Properties, Header.DictionarySize, &Again, &Error))
      << Error;
  EXPECT_TRUE(std::equal(Stream, Stream + 5, Again.begin()));  // same properties and dictionary
  std::optional<Bytes> Strict = StrictLzmaDecode(Again.data(), Again.size());
  ASSERT_TRUE(Strict.has_value());
  EXPECT_TRUE(*Strict == Payload);
  // Room in the main volume is about 240 KiB: the new stream must not be much larger.
  EXPECT_LT(Again.size(), StreamSize + StreamSize / 50) << "was " << StreamSize << ", now " << Again.size();
}

TEST(OvmfInjectTest, RejectsAFileOvmfAlreadyHas) {
  REQUIRE_OVMF(Original);
  Bytes Out;
  fv_inject::InjectSummary Summary;
  std::string Error;
  EXPECT_FALSE(fv_inject::InjectDrivers(*Original, {Probe(kOvmfDxeCore, "Dup", PseudoRandom(64, 41), {})},
                                        &Out, &Summary, &Error));
  EXPECT_EQ(Error, "a file named D6A2CB7F-6A18-4E2F-B43B-9920A733700A is already in the image");
}

TEST(OvmfInjectTest, RejectsFilesLargerThanTheDxeVolumesFreeSpace) {
  REQUIRE_OVMF(Original);
  Bytes Out;
  fv_inject::InjectSummary Summary;
  std::string Error;
  EXPECT_FALSE(fv_inject::InjectDrivers(*Original, {Probe(kProbeAlways, "Big", Bytes(0x800000, 0x90), {})},
                                        &Out, &Summary, &Error));
  EXPECT_EQ(Error, "no room in the DXE volume: the new files need 0x800030 bytes, 0x6d05f8 are free");
}

// Boots the image to the boot manager with QEMU and returns the debug console's
// log; the machine is stopped once the boot manager has started, or after Limit.
std::string BootAndReadDebugLog(const std::string &Qemu, const ScratchDir &Dir, std::chrono::seconds Limit) {
  const std::string Serial = Dir / "serial.log", Debug = Dir / "debug.log";
  pid_t Child = fork();
  if (Child == 0) {
    const std::string Code = "if=pflash,format=raw,readonly=on,file=" + (Dir / "injected.fd");
    const std::string Vars = "if=pflash,format=raw,file=" + (Dir / "vars.fd");
    const std::string SerialFile = "file:" + Serial, DebugFile = "file:" + Debug;
    execl(Qemu.c_str(), Qemu.c_str(), "-accel", "tcg", "-machine", "q35", "-m", "256", "-display", "none",
          "-monitor", "none", "-net", "none", "-drive", Code.c_str(), "-drive", Vars.c_str(), "-serial",
          SerialFile.c_str(), "-debugcon", DebugFile.c_str(), "-global", "isa-debugcon.iobase=0x402",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  const auto Deadline = std::chrono::steady_clock::now() + Limit;
  while (std::chrono::steady_clock::now() < Deadline) {
    std::optional<Bytes> Log = ReadHostFile(Serial);
    if (Log && std::string(Log->begin(), Log->end()).find("BdsDxe") != std::string::npos) break;
    if (waitpid(Child, nullptr, WNOHANG) == Child) {
      Child = 0;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (Child > 0) {
    kill(Child, SIGTERM);
    waitpid(Child, nullptr, 0);
  }
  std::optional<Bytes> Log = ReadHostFile(Debug);
  std::optional<Bytes> SerialLog = ReadHostFile(Serial);
  return (Log ? std::string(Log->begin(), Log->end()) : "") + "--- serial ---\n" +
         (SerialLog ? std::string(SerialLog->begin(), SerialLog->end()) : "");
}

TEST(OvmfInjectTest, BootsAndDispatchesTheFilesWhoseDependenciesHold) {
  REQUIRE_OVMF(Original);
  std::optional<Bytes> Vars = ReadHostFile(std::string(kOvmfDir) + "/OVMF_VARS.fd");
  std::optional<std::string> Qemu = FindProgram("qemu-system-x86_64");
  std::optional<Bytes> ProbeBytes = ProbeImage();
  if (!Qemu || !Vars)
    GTEST_SKIP() << "qemu-system-x86_64 or OVMF_VARS.fd not found (packages qemu-system-x86, ovmf)";
  if (!ProbeBytes) GTEST_SKIP() << "probe driver not built (needs clang++ and lld-link at configure time)";
  Bytes Injected;
  fv_inject::InjectSummary Summary;
  std::string Error;
  ASSERT_TRUE(fv_inject::InjectDrivers(*Original, ThreeProbes(*ProbeBytes), &Injected, &Summary, &Error))
      << Error;
  ScratchDir Dir;
  ASSERT_TRUE(WriteHostFile(Dir / "injected.fd", Injected));
  ASSERT_TRUE(WriteHostFile(Dir / "vars.fd", *Vars));
  const std::string Log = BootAndReadDebugLog(*Qemu, Dir, std::chrono::seconds(120));
  const std::string Line = "fv-inject probe: dispatched from file ";
  EXPECT_NE(Log.find(Line + GuidString(kProbeAlways) + "\n"), std::string::npos) << Log;
  EXPECT_NE(Log.find(Line + GuidString(kProbeAfterVariables) + "\n"), std::string::npos) << Log;
  EXPECT_EQ(Log.find(GuidString(kProbeNever)), std::string::npos) << Log;
  EXPECT_NE(Log.find("BdsDxe"), std::string::npos) << "the boot manager was not reached:\n" << Log;
}

}  // namespace
}  // namespace fv_inject_test
