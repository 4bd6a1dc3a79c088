// The firmware-volume images the simulated platform serves: checked against
// UEFIExtract (an independent FV parser) and through the FV2 protocol the driver
// uses.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "acpi_dxe/core/DxeServices.h"
#include "product_data/ProductDataFv.h"
#include "tests/pdata/PdataTestSupport.h"
#include "tests/support/RowPrinter.h"

namespace pdata_test {
namespace {

constexpr EFI_GUID kFileA = {0x3C2A8D1E, 0x6B4F, 0x4E15, {0x9A, 0x0D, 0x5E, 0x7B, 0x1C, 0x2F, 0x3A, 0x41}};
constexpr EFI_GUID kFileB = {0x7D1F0A22, 0x90C4, 0x4B8E, {0xA1, 0x5D, 0x03, 0x6E, 0x4F, 0x21, 0x88, 0x9B}};

std::vector<UINT8> Pattern(size_t Size, UINT8 Seed) {
  std::vector<UINT8> Bytes(Size);
  for (size_t Index = 0; Index < Size; Index++) Bytes[Index] = static_cast<UINT8>(Seed + Index * 7);
  return Bytes;
}

// Two files: a freeform file with a UI section and two RAW sections of odd sizes
// (so the second needs alignment padding), and a raw-type file.
std::vector<UINT8> SampleVolume(bool ErasePolarityOne = true) {
  return sim::FvImageBuilder()
      .SetFvName(gProductDataPrimaryFvGuid)
      .SetErasePolarityOne(ErasePolarityOne)
      .AddFile({kFileA,
                EFI_FV_FILETYPE_FREEFORM,
                {{EFI_SECTION_USER_INTERFACE, {'P', 0, 'D', 0, 0, 0}},
                 {EFI_SECTION_RAW, Pattern(101, 1)},
                 {EFI_SECTION_RAW, Pattern(33, 9)}}})
      .AddRawFile(kFileB, Pattern(17, 3), EFI_FV_FILETYPE_RAW)
      .Build();
}

std::string TempDir() {
  char Template[] = "/tmp/pdata_fv_XXXXXX";
  return mkdtemp(Template);
}

std::vector<UINT8> ReadAll(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<UINT8>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

bool UefiExtractAvailable() {
  return std::system("UEFIExtract >/dev/null 2>&1; test $? -ne 127") == 0;
}

TEST(FvImage, UefiExtractReadsTheVolumeAsBuilt) {
  if (!UefiExtractAvailable()) GTEST_SKIP() << "UEFIExtract (uefitool-cli) is not installed";
  std::string Dir = TempDir();
  std::string Image = Dir + "/sample.fv";
  std::vector<UINT8> Bytes = SampleVolume();
  std::ofstream(Image, std::ios::binary).write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  ASSERT_EQ(std::system(("UEFIExtract " + Image + " report >/dev/null 2>&1").c_str()), 0);
  std::vector<UINT8> Report = ReadAll(Image + ".report.txt");
  std::string Text(Report.begin(), Report.end());
  EXPECT_NE(Text.find("FFSv2"), std::string::npos) << Text;
  EXPECT_NE(Text.find("B8264440-0649-40F3-8ECA-153335BDB46F"), std::string::npos) << Text;
  EXPECT_NE(Text.find("3C2A8D1E-6B4F-4E15-9A0D-5E7B1C2F3A41"), std::string::npos) << Text;
  EXPECT_NE(Text.find("7D1F0A22-90C4-4B8E-A15D-036E4F21889B"), std::string::npos) << Text;
  EXPECT_EQ(Text.find("checksum"), std::string::npos) << "UEFIExtract found a bad checksum:\n" << Text;
  // The body of the file's first RAW section, as UEFIExtract unpacks it.
  std::string Out = Dir + "/raw";
  std::system(("UEFIExtract " + Image + " 3C2A8D1E-6B4F-4E15-9A0D-5E7B1C2F3A41 -o " + Out +
               " -m body -t 19 >/dev/null 2>&1")
                  .c_str());
  EXPECT_EQ(ReadAll(Out + "/body.bin"), Pattern(101, 1));
  std::system(("rm -rf " + Dir).c_str());
}

TEST(FvImage, ReaderFindsFilesAndSectionsOfEitherPolarity) {
  for (bool One : {true, false}) {
    std::vector<UINT8> Bytes = SampleVolume(One);
    sim::FvImageReader Reader(Bytes);
    ASSERT_TRUE(Reader.Parse()) << Reader.Error();
    EXPECT_EQ(Reader.ErasePolarityOne(), One);
    ASSERT_TRUE(Reader.FvName().has_value());
    EXPECT_TRUE(sim::SameGuid(*Reader.FvName(), gProductDataPrimaryFvGuid));
    ASSERT_EQ(Reader.Files().size(), 2u) << "the pad file carrying the extended header is not a file";
    EXPECT_EQ(Reader.Files()[0].Offset % 8, 0u);
    std::vector<sim::FvSectionView> Sections = Reader.Sections(Reader.Files()[0]);
    ASSERT_EQ(Sections.size(), 3u);
    EXPECT_EQ(Sections[2].DataSize, 33u);
    EXPECT_EQ((Sections[2].DataOffset - 4) % 4, 0u);
    EXPECT_EQ(std::vector<UINT8>(Bytes.begin() + Sections[2].DataOffset,
                                 Bytes.begin() + Sections[2].DataOffset + 33),
              Pattern(33, 9));
  }
}

struct BrokenVolumeRow {
  const char *Name;
  void (*Break)(std::vector<UINT8> &);
  const char *Error;
};
ZEPHRIN_PRINT_ROW_BY_NAME(BrokenVolumeRow)

class BrokenVolume : public testing::TestWithParam<BrokenVolumeRow> {};

TEST_P(BrokenVolume, IsRefusedWithAReason) {
  std::vector<UINT8> Bytes = SampleVolume();
  GetParam().Break(Bytes);
  sim::FvImageReader Reader(Bytes);
  EXPECT_FALSE(Reader.Parse());
  EXPECT_EQ(Reader.Error(), GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BrokenVolume,
    testing::Values(BrokenVolumeRow{"Signature", [](std::vector<UINT8> &B) { B[40] = 'X'; },
                                    "no _FVH signature"},
                    BrokenVolumeRow{"HeaderChecksum", [](std::vector<UINT8> &B) { B[44] ^= 1; },
                                    "bad header length or checksum"},
                    BrokenVolumeRow{"FvLengthPastImage",
                                    [](std::vector<UINT8> &B) { B.resize(B.size() / 2); }, "bad FvLength"},
                    // The pad file starts at 72: its size grows past the volume.
                    BrokenVolumeRow{"FileSizePastVolume", [](std::vector<UINT8> &B) { B[72 + 22] = 0x7F; },
                                    "file size out of the volume"},
                    BrokenVolumeRow{"FileHeaderChecksum", [](std::vector<UINT8> &B) { B[72 + 18] ^= 0x10; },
                                    "bad file header checksum"}),
    [](const testing::TestParamInfo<BrokenVolumeRow> &Info) { return std::string(Info.param.Name); });

// ---- Loading an image into the platform -----------------------------------------

class FvImageInPlatform : public PdataTest {};

TEST_F(FvImageInPlatform, FilesAndSectionsAreServedThroughFv2) {
  sim::FirmwareVolume *Volume = AddVolume(SampleVolume());
  ASSERT_NE(Volume, nullptr);
  EXPECT_TRUE(sim::SameGuid(Volume->FvName, gProductDataPrimaryFvGuid));
  EFI_FIRMWARE_VOLUME2_PROTOCOL *Protocol = &Volume->Protocol;
  UINT32 Authentication = 0;
  for (UINTN Instance = 0; Instance < 2; Instance++) {
    VOID *Buffer = nullptr;
    UINTN Size = 0;
    ASSERT_EQ(
        Protocol->ReadSection(Protocol, &kFileA, EFI_SECTION_RAW, Instance, &Buffer, &Size, &Authentication),
        EFI_SUCCESS);
    std::vector<UINT8> Got(static_cast<UINT8 *>(Buffer), static_cast<UINT8 *>(Buffer) + Size);
    EXPECT_EQ(Got, Instance == 0 ? Pattern(101, 1) : Pattern(33, 9));
    FreePool(Buffer);
  }
}

TEST_F(FvImageInPlatform, ImageWithoutFvNameIsRefused) {
  std::string Error;
  EXPECT_EQ(sim::AddFvImage(Platform, sim::FvImageBuilder().AddRawFile(kFileA, {1}).Build(), &Error),
            nullptr);
  EXPECT_EQ(Error, "the volume has no FV name");
}

}  // namespace
}  // namespace pdata_test
