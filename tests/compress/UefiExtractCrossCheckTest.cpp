// Independent check of the encoder: streams it produced are wrapped in
// compression sections (standard compression) of FFS files in a firmware
// volume, and UEFIExtract, which has its own decoder of this format, must give
// back the original bytes. The extracted bodies are compared, not its status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/FvImage.h"
#include "sim/VarStoreImage.h"
#include "tests/compress/CompressTestSupport.h"

namespace compress_test {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> FindOnPath(const std::string &Program) {
  const char *Path = std::getenv("PATH");
  std::stringstream Dirs(Path == nullptr ? "" : Path);
  std::string Dir;
  while (std::getline(Dirs, Dir, ':')) {
    fs::path Candidate = fs::path(Dir) / Program;
    if (!Dir.empty() && access(Candidate.c_str(), X_OK) == 0) return Candidate;
  }
  return std::nullopt;
}

std::string GuidText(const EFI_GUID &Guid) {
  return sim::GuidText(Guid, sim::GuidCase::Upper);
}

std::string ReadText(const fs::path &Path) {
  std::optional<Bytes> Data = ReadHostFile(Path.string());
  return Data ? std::string(Data->begin(), Data->end()) : std::string();
}

// The dump folder of the file whose name ends in the GUID, anywhere below Root.
std::optional<fs::path> FindFileFolder(const fs::path &Root, const std::string &Guid) {
  for (const fs::directory_entry &Entry : fs::recursive_directory_iterator(Root)) {
    std::string Name = Entry.path().filename().string();
    if (Entry.is_directory() && Name.size() > Guid.size() &&
        Name.compare(Name.size() - Guid.size(), Guid.size(), Guid) == 0) {
      return Entry.path();
    }
  }
  return std::nullopt;
}

// The first child folder whose name ends with Suffix ("Compressed section").
std::optional<fs::path> FindChild(const fs::path &Folder, const std::string &Suffix) {
  for (const fs::directory_entry &Entry : fs::directory_iterator(Folder)) {
    std::string Name = Entry.path().filename().string();
    if (Entry.is_directory() && Name.size() >= Suffix.size() &&
        Name.compare(Name.size() - Suffix.size(), Suffix.size(), Suffix) == 0) {
      return Entry.path();
    }
  }
  return std::nullopt;
}

// The body of a compression section: uncompressed length, compression type 1
// (standard), then the compressed stream, whose content is a RAW section.
Bytes CompressionSectionBody(const Bytes &Payload) {
  Bytes Inner = sim::BuildFfsSection({EFI_SECTION_RAW, Payload});
  Bytes Stream = CompressWhole(Inner);
  Bytes Body;
  for (int Shift = 0; Shift < 32; Shift += 8) Body.push_back(static_cast<uint8_t>(Inner.size() >> Shift));
  Body.push_back(0x01);
  Body.insert(Body.end(), Stream.begin(), Stream.end());
  return Body;
}

struct Payload {
  const char *Kind;
  Bytes Data;
};

class UefiExtractCrossCheckTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    mTool = FindOnPath("UEFIExtract");
    if (!mTool)
      GTEST_SKIP() << "UEFIExtract (uefitool-cli) is not installed; independent decoder check skipped";
    char Template[] = "/tmp/zephrin-uefiextract-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    mDir = Template;
  }
  void TearDown() override {
    if (!mDir.empty()) fs::remove_all(mDir);
    PlatformTest::TearDown();
  }
  std::optional<fs::path> mTool;
  fs::path mDir;
};

TEST_F(UefiExtractCrossCheckTest, ExtractsOriginalBytesFromOurStreams) {
  std::vector<Payload> Payloads = {
      {"text", RepeatingText(3000)},
      {"random", PseudoRandomBytes(700, 11)},
      {"zero_run", Bytes(20000, 0)},
      {"slide_edge", PseudoRandomBytes(2 * 8192 + 256 + 1, 12)},
      {"mixed",
       [] {
         Bytes Mixed = RepeatingText(30000);
         Bytes Noise = PseudoRandomBytes(30000, 13);
         Mixed.insert(Mixed.end(), Noise.begin(), Noise.end());
         Mixed.insert(Mixed.end(), Mixed.begin(), Mixed.begin() + 20000);
         return Mixed;
       }()},
  };
  std::string Vectors = VectorDir();
  if (!Vectors.empty()) {
    std::optional<Bytes> Acpi = ReadHostFile(Vectors + "/inputs/acpi_like_40k.bin");
    if (Acpi) Payloads.push_back({"acpi_like_40k", *Acpi});
  }

  sim::FvImageBuilder Builder;
  std::vector<EFI_GUID> Names;
  for (size_t Index = 0; Index < Payloads.size(); Index++) {
    EFI_GUID Name = {
        0x5A1C0000u + static_cast<UINT32>(Index), 0x7E11, 0x4C0D, {0x9A, 0x31, 0, 0, 0, 0, 0, 1}};
    Names.push_back(Name);
    sim::FvFile File;
    File.Name = Name;
    File.Type = EFI_FV_FILETYPE_FREEFORM;
    File.Sections.push_back({EFI_SECTION_COMPRESSION, CompressionSectionBody(Payloads[Index].Data)});
    Builder.AddFile(File);
  }
  fs::path Image = mDir / "volume.fv";
  ASSERT_TRUE(WriteHostFile(Image.string(), Builder.Build()));

  std::string Command =
      "'" + mTool->string() + "' '" + Image.string() + "' all > '" + (mDir / "log.txt").string() + "' 2>&1";
  int Exit = std::system(Command.c_str());
  fs::path Dump = mDir / "volume.fv.dump";
  ASSERT_TRUE(fs::is_directory(Dump)) << "UEFIExtract exit " << Exit << ": " << ReadText(mDir / "log.txt");

  for (size_t Index = 0; Index < Payloads.size(); Index++) {
    SCOPED_TRACE(Payloads[Index].Kind);
    std::optional<fs::path> File = FindFileFolder(Dump, GuidText(Names[Index]));
    ASSERT_TRUE(File.has_value()) << "file " << GuidText(Names[Index]) << " not in the dump";
    std::optional<fs::path> Section = FindChild(*File, "Compressed section");
    ASSERT_TRUE(Section.has_value());
    EXPECT_NE(ReadText(*Section / "info.txt").find("Compression algorithm: EFI 1.1"), std::string::npos)
        << ReadText(*Section / "info.txt");
    std::optional<fs::path> Raw = FindChild(*Section, "Raw section");
    ASSERT_TRUE(Raw.has_value()) << "no RAW section decoded inside the compressed section";
    std::optional<Bytes> Body = ReadHostFile((*Raw / "body.bin").string());
    ASSERT_TRUE(Body.has_value());
    EXPECT_EQ(Body->size(), Payloads[Index].Data.size());
    EXPECT_TRUE(*Body == Payloads[Index].Data) << "UEFIExtract decoded different bytes";
  }
}

}  // namespace
}  // namespace compress_test
