// The injector's section walk (one row per malformed section) and the header
// fix-ups of a rewritten file, checked by summing the bytes as a reader would.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/FvImage.h"
#include "tests/fv_inject/FvInjectTestSupport.h"
#include "tools/fv-inject/FfsLayout.h"

namespace fv_inject_test {
namespace {

uint8_t Sum8(const uint8_t *Bytes, size_t Size) {
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Size; Index++) Sum = static_cast<uint8_t>(Sum + Bytes[Index]);
  return Sum;
}

Bytes Section(uint8_t Type, size_t BodySize) {
  Bytes Out(4 + BodySize, 0x11);
  Out[0] = static_cast<uint8_t>(Out.size());
  Out[1] = static_cast<uint8_t>(Out.size() >> 8);
  Out[2] = static_cast<uint8_t>(Out.size() >> 16);
  Out[3] = Type;
  return Out;
}

TEST(FfsLayoutTest, WalksAlignedSectionsAndTheExtendedHeader) {
  Bytes Stream = Section(EFI_SECTION_RAW, 3);  // 7 bytes, next one at 8
  Stream.push_back(0);
  Bytes Second = Section(EFI_SECTION_PE32, 8);
  Stream.insert(Stream.end(), Second.begin(), Second.end());
  Bytes Extended{0xFF, 0xFF, 0xFF, EFI_SECTION_USER_INTERFACE, 12, 0, 0, 0, 'A', 0, 0, 0};
  Stream.insert(Stream.end(), Extended.begin(), Extended.end());
  std::vector<fv_inject::SectionView> Found;
  std::string Error;
  ASSERT_TRUE(fv_inject::WalkSections(Stream.data(), Stream.size(), &Found, &Error)) << Error;
  ASSERT_EQ(Found.size(), 3u);
  EXPECT_EQ(Found[1].Offset, 8u);
  EXPECT_EQ(Found[1].Type, EFI_SECTION_PE32);
  EXPECT_EQ(Found[2].Offset, 20u);
  EXPECT_EQ(Found[2].HeaderSize, 8u);
  EXPECT_EQ(Found[2].Size, 12u);
}

struct WalkCase {
  const char *Name;
  Bytes Stream;
  std::string Message;
};

class FfsSectionWalkRejectTest : public testing::TestWithParam<WalkCase> {};

TEST_P(FfsSectionWalkRejectTest, RejectsWithItsMessage) {
  std::vector<fv_inject::SectionView> Found;
  std::string Error;
  EXPECT_FALSE(fv_inject::WalkSections(GetParam().Stream.data(), GetParam().Stream.size(), &Found, &Error));
  EXPECT_EQ(Error, GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FfsSectionWalkRejectTest,
    testing::Values(WalkCase{"ZeroSize",
                             {0, 0, 0, EFI_SECTION_RAW, 0, 0, 0, 0},
                             "section at 0x0: size 0x0 does not fit its stream of 0x8 bytes"},
                    WalkCase{"SmallerThanItsHeader",
                             {3, 0, 0, EFI_SECTION_RAW},
                             "section at 0x0: size 0x3 does not fit its stream of 0x4 bytes"},
                    WalkCase{"PastTheStream",
                             {9, 0, 0, EFI_SECTION_RAW, 1, 2, 3, 4},
                             "section at 0x0: size 0x9 does not fit its stream of 0x8 bytes"},
                    WalkCase{"SecondPastTheStream",
                             {4, 0, 0, EFI_SECTION_RAW, 0xFF, 0, 0, EFI_SECTION_RAW, 1},
                             "section at 0x4: size 0xff does not fit its stream of 0x9 bytes"},
                    WalkCase{"ExtendedHeaderCut",
                             {0xFF, 0xFF, 0xFF, EFI_SECTION_RAW, 8, 0},
                             "section at 0x0: extended header past the end of its stream"},
                    WalkCase{"ExtendedSizeTooLarge",
                             {0xFF, 0xFF, 0xFF, EFI_SECTION_RAW, 0xFF, 0xFF, 0xFF, 0xFF},
                             "section at 0x0: size 0xffffffff does not fit its stream of 0x8 bytes"}),
    [](const testing::TestParamInfo<WalkCase> &Info) { return Info.param.Name; });

TEST(FfsLayoutTest, GuidDefinedDataOffsetMustLieInsideTheSection) {
  Bytes Stream = Section(EFI_SECTION_GUID_DEFINED, 24);
  fv_inject::SectionView View{EFI_SECTION_GUID_DEFINED, 0, 4, Stream.size()};
  fv_inject::GuidDefinedSectionHeader Header;
  std::string Error;
  for (uint16_t Offset : {23, 29}) {
    Stream[4 + 16] = static_cast<uint8_t>(Offset);
    Stream[4 + 17] = 0;
    EXPECT_FALSE(fv_inject::ReadGuidDefinedHeader(Stream.data(), View, &Header, &Error));
    EXPECT_EQ(Error, "GUID-defined section at 0x0 has data offset 0x" +
                         std::string(Offset == 23 ? "17" : "1d") + " outside the section");
  }
  Stream[4 + 16] = 28;
  EXPECT_TRUE(fv_inject::ReadGuidDefinedHeader(Stream.data(), View, &Header, &Error)) << Error;
  fv_inject::SectionView Short{EFI_SECTION_GUID_DEFINED, 0, 4, 20};
  EXPECT_FALSE(fv_inject::ReadGuidDefinedHeader(Stream.data(), Short, &Header, &Error));
  EXPECT_EQ(Error, "GUID-defined section at 0x0 is shorter than its header");
}

// A file whose header says nothing true yet: the fix-up must make both sums work.
Bytes StaleFile(uint8_t Attributes, size_t Size) {
  Bytes File = PseudoRandom(Size, 60);
  File[18] = 0x0B;  // type
  File[19] = Attributes;
  File[23] = 0xF8;  // state, kept as it is
  return File;
}

TEST(FfsLayoutTest, FinishFileHeaderMakesHeaderAndDataChecksumsHold) {
  for (uint8_t Attributes : {uint8_t{0}, uint8_t{FFS_ATTRIB_CHECKSUM}}) {
    Bytes File = StaleFile(Attributes, 0x1235);
    std::string Error;
    ASSERT_TRUE(fv_inject::FinishFileHeader(&File, &Error)) << Error;
    EXPECT_EQ(File[20] | (File[21] << 8) | (File[22] << 16), 0x1235);
    EXPECT_EQ(File[23], 0xF8);
    // The header sums to zero with State and the file checksum counted as zero.
    Bytes Header(File.begin(), File.begin() + 24);
    Header[17] = 0;
    Header[23] = 0;
    EXPECT_EQ(Sum8(Header.data(), Header.size()), 0);
    if (Attributes & FFS_ATTRIB_CHECKSUM) {
      EXPECT_EQ(static_cast<uint8_t>(Sum8(File.data() + 24, File.size() - 24) + File[17]), 0);
    } else {
      EXPECT_EQ(File[17], FFS_FIXED_CHECKSUM);
    }
  }
}

TEST(FfsLayoutTest, FinishFileHeaderRefusesWhatA24BitHeaderCannotHold) {
  std::string Error;
  Bytes Large = StaleFile(FFS_ATTRIB_LARGE_FILE, 64);
  EXPECT_FALSE(fv_inject::FinishFileHeader(&Large, &Error));
  EXPECT_EQ(Error.find(" has a large-file header, which is not rewritten"), 41u) << Error;
  Bytes Huge(MAX_FFS_SIZE, 0);
  EXPECT_FALSE(fv_inject::FinishFileHeader(&Huge, &Error));
  EXPECT_EQ(Error, "file of 0x1000000 bytes does not fit a 24-bit file header");
}

// A large file's header checksum covers all 32 bytes: the extended size is
// checked with the rest, so a volume reader takes such a file and notices a
// changed size.
TEST(FfsLayoutTest, LargeFileHeaderChecksumCoversTheExtendedSize) {
  Bytes Volume = sim::FvImageBuilder().AddRawFile(kTrailingFile, Bytes(8, 0x5C)).Build();
  sim::FvImageReader Before(Volume);
  ASSERT_TRUE(Before.Parse()) << Before.Error();
  const sim::FvFileView &Last = Before.Files().back();
  const size_t At = (Last.Offset + Last.Size + 7) & ~static_cast<size_t>(7);
  EFI_FFS_FILE_HEADER2 Large{};
  Large.Header.Name = kSecFile;
  Large.Header.Type = EFI_FV_FILETYPE_RAW;
  Large.Header.Attributes = FFS_ATTRIB_LARGE_FILE;
  Large.ExtendedSize = sizeof(Large) + 8;
  Large.Header.HeaderChecksum =
      static_cast<uint8_t>(-Sum8(reinterpret_cast<const uint8_t *>(&Large), sizeof(Large)));
  Large.Header.FileChecksum = FFS_FIXED_CHECKSUM;
  Large.Header.State =
      static_cast<uint8_t>(~(EFI_FILE_HEADER_CONSTRUCTION | EFI_FILE_HEADER_VALID | EFI_FILE_DATA_VALID));
  ASSERT_LE(At + Large.ExtendedSize, Volume.size());
  std::memcpy(Volume.data() + At, &Large, sizeof(Large));

  sim::FvImageReader Reader(Volume);
  ASSERT_TRUE(Reader.Parse()) << Reader.Error();
  ASSERT_EQ(Reader.Files().size(), Before.Files().size() + 1);
  EXPECT_EQ(Reader.Files().back().HeaderSize, 32u);
  EXPECT_EQ(Reader.Files().back().Size, 40u);

  Volume[At + 24] = 48;  // the extended size alone changes
  sim::FvImageReader Changed(Volume);
  EXPECT_FALSE(Changed.Parse());
  EXPECT_EQ(Changed.Error(), "bad file header checksum");
}

TEST(FfsLayoutTest, DependencyExpressionsAreAndedInOrder) {
  const EFI_GUID Third = {0x7C7C7C7C, 0x1234, 0x4321, {0x81, 2, 3, 4, 5, 6, 7, 10}};
  auto Push = [](Bytes *Out, const EFI_GUID &Guid) {
    Out->push_back(0x02);
    const uint8_t *Raw = reinterpret_cast<const uint8_t *>(&Guid);
    Out->insert(Out->end(), Raw, Raw + 16);
  };
  Bytes One, Three;
  Push(&One, kDepexOne);
  One.push_back(0x08);
  Push(&Three, kDepexOne);
  Push(&Three, kDepexTwo);
  Three.push_back(0x03);
  Push(&Three, Third);
  Three.insert(Three.end(), {0x03, 0x08});
  EXPECT_EQ(fv_inject::BuildDxeDepex({}), (Bytes{0x06, 0x08}));
  EXPECT_EQ(fv_inject::BuildDxeDepex({kDepexOne}), One);
  EXPECT_EQ(fv_inject::BuildDxeDepex({kDepexOne, kDepexTwo, Third}), Three);
}

}  // namespace
}  // namespace fv_inject_test
