// The image loader: every malformed image is refused with a message naming the
// fault, and a good image is mapped, relocated and entered.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/PeImage.h"
#include "sim/PeRelocations.h"
#include "tests/boot/PeFixture.h"
#include "tests/support/RowPrinter.h"

namespace {

using namespace pe_fixture;
using File = std::vector<uint8_t>;

// The probe driver built from fixtures/ProbeDriver.cpp by the build, or nothing.
File ProbeImage() {
#ifdef ZEPHRIN_PROBE_DRIVER
  return ReadHostFileOrEmpty(ZEPHRIN_PROBE_DRIVER);
#else
  return File();
#endif
}

#define REQUIRE_PROBE(Image)                                                                  \
  if ((Image).empty()) {                                                                      \
    GTEST_SKIP() << "probe driver image not built (needs clang++ and lld-link at configure)"; \
  }

// First base relocation block of the image: its file offset and its RVA.
size_t RelocBlockOffset(const File &Image) {
  return RvaToFileOffset(Image, Get32(Image, DirectoryOffset(Image, 5)));
}
uint32_t RelocDirRva(const File &Image) {
  return Get32(Image, DirectoryOffset(Image, 5));
}
unsigned LastSection(const File &Image) {
  return SectionCount(Image) - 1u;
}

struct RejectCase {
  const char *Name;
  std::function<void(File *)> Break;                  // the mutation, named after the check it targets
  std::function<std::string(const File &)> Expected;  // message, from the unbroken image's fields
};
ZEPHRIN_PRINT_ROW_BY_NAME(RejectCase)

const RejectCase kRejectCases[] = {
    {"TruncatedBelowDosHeader", [](File *F) { F->resize(40); },
     [](const File &) { return std::string("file of 40 bytes is too small for a DOS header"); }},
    {"BadDosMagic", [](File *F) { Set16(F, 0, 0x4D5A); },
     [](const File &) { return std::string("bad DOS signature 0x4d5a (expected \"MZ\")"); }},
    {"PeHeaderPastEnd", [](File *F) { Set32(F, 0x3C, static_cast<uint32_t>(F->size() - 8)); },
     [](const File &F) { return "PE header at " + Hex(F.size() - 8) + " runs past the end of the file"; }},
    {"BadPeSignature", [](File *F) { (*F)[PeOffset(*F)] = 'Q'; },
     [](const File &) { return std::string("bad PE signature 0x00004551"); }},
    {"WrongMachine", [](File *F) { Set16(F, CoffOffset(*F), 0x014C); },
     [](const File &) { return std::string("machine 0x014c is not x64 (0x8664)"); }},
    {"NoSections", [](File *F) { Set16(F, CoffOffset(*F) + 2, 0); },
     [](const File &) { return std::string("image has no sections"); }},
    {"UnknownOptionalMagic", [](File *F) { Set16(F, OptionalOffset(*F), 0x1234); },
     [](const File &) {
       return std::string("optional header magic 0x1234 is neither PE32 (0x10b) nor PE32+ (0x20b)");
     }},
    {"Pe32MagicInDriver", [](File *F) { Set16(F, OptionalOffset(*F), 0x010B); },
     [](const File &) { return std::string("optional header magic 0x10b is not PE32+ (0x20b)"); }},
    {"OptionalHeaderTooSmall", [](File *F) { Set16(F, CoffOffset(*F) + 16, 100); },
     [](const File &) { return std::string("optional header of 100 bytes is too small for PE32+"); }},
    {"WrongSubsystem", [](File *F) { Set16(F, SubsystemOffset(*F), 10); },
     [](const File &) { return std::string("subsystem 10 is not an EFI boot service driver (11)"); }},
    {"SectionAlignmentNotPowerOfTwo", [](File *F) { Set32(F, OptionalOffset(*F) + 32, 0x1800); },
     [](const File &) { return std::string("section alignment 0x1800 is not a power of two"); }},
    {"SectionTablePastHeaders", [](File *F) { Set16(F, CoffOffset(*F) + 2, 200); },
     [](const File &F) {
       return "section table ends at " + Hex(SectionTableOffset(F) + size_t{200} * 40) +
              ", past SizeOfHeaders " + Hex(Get32(F, OptionalOffset(F) + 60));
     }},
    {"EntryPointOutsideImage", [](File *F) { Set32(F, EntryPointOffset(*F), 0x100000); },
     [](const File &F) {
       return "entry point 0x100000 lies outside the image (SizeOfImage " + Hex(SizeOfImage(F)) + ")";
     }},
    {"EntryPointInHeaders", [](File *F) { Set32(F, EntryPointOffset(*F), 0x10); },
     [](const File &) { return std::string("entry point 0x10 is not inside a section"); }},
    {"SectionPastEndOfFile",
     [](File *F) { F->resize(Get32(*F, SectionHeaderOffset(*F, LastSection(*F)) + 20) + 1); },
     [](const File &F) {
       size_t Header = SectionHeaderOffset(F, LastSection(F));
       return "section " + SectionName(F, LastSection(F)) + ": raw data " + Hex(Get32(F, Header + 20)) + "+" +
              Hex(Get32(F, Header + 16)) + " runs past the end of the file (" +
              Hex(Get32(F, Header + 20) + 1) + " bytes)";
     }},
    {"SectionPastSizeOfImage",
     [](File *F) { Set32(F, SectionHeaderOffset(*F, LastSection(*F)) + 8, 0x100000); },
     [](const File &F) {
       return "section " + SectionName(F, LastSection(F)) + ": " +
              Hex(Get32(F, SectionHeaderOffset(F, LastSection(F)) + 12)) +
              "+0x100000 runs past SizeOfImage " + Hex(SizeOfImage(F));
     }},
    {"SectionsOverlap",
     [](File *F) { Set32(F, SectionHeaderOffset(*F, 1) + 12, Get32(*F, SectionHeaderOffset(*F, 0) + 12)); },
     [](const File &F) {
       return "section " + SectionName(F, 1) + " at " + Hex(Get32(F, SectionHeaderOffset(F, 0) + 12)) +
              " overlaps the headers or the section before it";
     }},
    {"ImportsPresent",
     [](File *F) {
       Set32(F, DirectoryOffset(*F, 1), 0x1000);
       Set32(F, DirectoryOffset(*F, 1) + 4, 0x28);
     },
     [](const File &) {
       return std::string("image imports from other modules (import directory 0x1000+0x28)");
     }},
    {"DebugDirectoryOutsideImage",
     [](File *F) {
       Set32(F, DirectoryOffset(*F, 6), SizeOfImage(*F) - 4);
       Set32(F, DirectoryOffset(*F, 6) + 4, 0x1C);
     },
     [](const File &F) {
       return "data directory 6 at " + Hex(SizeOfImage(F) - 4) +
              "+0x1c lies outside the image (SizeOfImage " + Hex(SizeOfImage(F)) + ")";
     }},
    {"RelocationBlockPastImage", [](File *F) { Set32(F, RelocBlockOffset(*F), SizeOfImage(*F)); },
     [](const File &F) {
       return "relocation block for page " + Hex(SizeOfImage(F)) + " lies outside the image (SizeOfImage " +
              Hex(SizeOfImage(F)) + ")";
     }},
    {"RelocationBlockPastDirectory", [](File *F) { Set32(F, RelocBlockOffset(*F) + 4, 0x1000); },
     [](const File &F) {
       return "relocation block at " + Hex(RelocDirRva(F)) +
              " (4096 bytes) runs past the relocation directory";
     }},
    {"RelocationBlockTooShort", [](File *F) { Set32(F, RelocBlockOffset(*F) + 4, 4); },
     [](const File &F) { return "relocation block at " + Hex(RelocDirRva(F)) + " has an invalid size 4"; }},
    {"RelocationTargetPastImage",
     [](File *F) {
       Set32(F, RelocBlockOffset(*F), SizeOfImage(*F) - 0x1000);
       Set16(F, RelocBlockOffset(*F) + 8, 0xAFFC);
     },
     [](const File &F) {
       return "relocation at " + Hex(SizeOfImage(F) - 4) + " runs past the image (SizeOfImage " +
              Hex(SizeOfImage(F)) + ")";
     }},
    {"RelocationTypeUnsupported",
     [](File *F) {
       Set16(F, RelocBlockOffset(*F) + 8, (3u << 12) | (Get16(*F, RelocBlockOffset(*F) + 8) & 0xFFF));
     },
     [](const File &F) {
       uint32_t Target = Get32(F, RelocBlockOffset(F)) + (Get16(F, RelocBlockOffset(F) + 8) & 0xFFF);
       return "relocation type 3 at " + Hex(Target) + " is not supported";
     }},
};

class PeImageRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(PeImageRejects, WithMessageNamingTheFault) {
  File Image = ProbeImage();
  REQUIRE_PROBE(Image);
  std::string Expected = GetParam().Expected(Image);
  GetParam().Break(&Image);
  std::string Error;
  std::unique_ptr<sim::PeImage> Loaded = sim::PeImage::Load(Image.data(), Image.size(), &Error);
  EXPECT_EQ(Loaded, nullptr);
  EXPECT_EQ(Error, Expected);
}

INSTANTIATE_TEST_SUITE_P(Malformed, PeImageRejects, testing::ValuesIn(kRejectCases),
                         [](const testing::TestParamInfo<RejectCase> &Info) { return Info.param.Name; });

TEST(PeImageLoad, EveryTruncationIsRejectedWithoutReadingPastTheFile) {
  File Image = ProbeImage();
  REQUIRE_PROBE(Image);
  // A copy of exactly N bytes on the heap lets ASan see any read past the end.
  for (size_t Size = 0; Size < Image.size(); Size += 7) {
    std::vector<uint8_t> Prefix(Image.begin(), Image.begin() + static_cast<std::ptrdiff_t>(Size));
    std::string Error;
    EXPECT_EQ(sim::PeImage::Load(Prefix.data(), Prefix.size(), &Error), nullptr) << "size " << Size;
    EXPECT_FALSE(Error.empty()) << "size " << Size;
  }
}

TEST(PeImageLoad, MapsLowRelocatesAndKeepsSectionContents) {
  File Image = ProbeImage();
  REQUIRE_PROBE(Image);
  std::string Error;
  std::unique_ptr<sim::PeImage> Loaded = sim::PeImage::Load(Image.data(), Image.size(), &Error);
  ASSERT_NE(Loaded, nullptr) << Error;
  EXPECT_EQ(Error, "");
  EXPECT_LT(reinterpret_cast<uintptr_t>(Loaded->Base()) + Loaded->Size(), uint64_t{1} << 32);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Loaded->Base()) % 0x1000, 0u);
  EXPECT_EQ(memcmp(Loaded->Base(), Image.data(), 0x40), 0) << "headers are copied to the image start";

  // The one DIR64 target now holds its linked value moved by the load delta.
  size_t Block = RelocBlockOffset(Image);
  uint32_t TargetRva = Get32(Image, Block) + (Get16(Image, Block + 8) & 0xFFF);
  uint64_t Linked = 0;
  memcpy(&Linked, Image.data() + RvaToFileOffset(Image, TargetRva), 8);
  uint64_t Loaded64 = 0;
  memcpy(&Loaded64, Loaded->Base() + TargetRva, 8);
  EXPECT_EQ(Loaded64 - Linked, reinterpret_cast<uintptr_t>(Loaded->Base()) - Loaded->LinkedBase());
  EXPECT_EQ(reinterpret_cast<uint8_t *>(Loaded->EntryPoint()),
            Loaded->Base() + Get32(Image, EntryPointOffset(Image)));
}

TEST(PeImageLoad, UnreadableFilesAreReported) {
  std::string Error;
  EXPECT_EQ(sim::PeImage::LoadFile("/nonexistent/driver.efi", &Error), nullptr);
  EXPECT_EQ(Error, "cannot open image file /nonexistent/driver.efi");
  EXPECT_EQ(sim::PeImage::LoadFile("/tmp", &Error), nullptr);
  EXPECT_EQ(Error, "cannot read image file /tmp");
}

// ApplyBaseRelocations on a hand-made image: page 0 holds two 64-bit slots and
// the relocation directory at 0x100.
class BaseRelocations : public testing::Test {
 protected:
  static constexpr uint32_t kDirRva = 0x100;
  void SetUp() override {
    mImage.assign(0x1000, 0);
    Put64(0x10, 0x1000);
    Put64(0x20, 0x2000);
  }
  void Put64(size_t Offset, uint64_t Value) { memcpy(&mImage[Offset], &Value, 8); }
  uint64_t Get64(size_t Offset) const {
    uint64_t Value = 0;
    memcpy(&Value, &mImage[Offset], 8);
    return Value;
  }
  // A block for PageRva with the given 16-bit entries, appended to the directory.
  void AddBlock(uint32_t PageRva, std::vector<uint16_t> Entries) {
    uint32_t Size = static_cast<uint32_t>(8 + Entries.size() * 2);
    memcpy(&mImage[kDirRva + mDirSize], &PageRva, 4);
    memcpy(&mImage[kDirRva + mDirSize + 4], &Size, 4);
    memcpy(&mImage[kDirRva + mDirSize + 8], Entries.data(), Entries.size() * 2);
    mDirSize += Size;
  }
  bool Apply(uint64_t Delta, std::string *Error) {
    return sim::ApplyBaseRelocations(mImage.data(), static_cast<uint32_t>(mImage.size()), {kDirRva, mDirSize},
                                     sim::kPeRelDir64, Delta, Error);
  }
  std::vector<uint8_t> mImage;
  uint32_t mDirSize = 0;
};

TEST_F(BaseRelocations, Dir64AddsDeltaAndAbsoluteIsPadding) {
  AddBlock(0, {0xA010, 0x0000, 0xA020, 0x0000});
  std::string Error;
  ASSERT_TRUE(Apply(0x7000, &Error)) << Error;
  EXPECT_EQ(Get64(0x10), 0x8000u);
  EXPECT_EQ(Get64(0x20), 0x9000u);
}

TEST_F(BaseRelocations, NegativeDeltaWraps) {
  AddBlock(0, {0xA010});
  std::string Error;
  ASSERT_TRUE(Apply(~uint64_t{0} - 0xFFF, &Error)) << Error;  // -0x1000
  EXPECT_EQ(Get64(0x10), 0u);
}

TEST_F(BaseRelocations, HighLowAddsToThirtyTwoBitsOnly) {
  Put64(0x10, 0xAAAAAAAAFFFFF000);
  AddBlock(0, {0x3010});
  std::string Error;
  ASSERT_TRUE(sim::ApplyBaseRelocations(mImage.data(), 0x1000, {kDirRva, mDirSize}, sim::kPeRelHighLow,
                                        0x2000, &Error))
      << Error;
  EXPECT_EQ(Get64(0x10), 0xAAAAAAAA00001000u) << "the carry must not reach the next four bytes";
}

TEST_F(BaseRelocations, TargetMustFitItsWidth) {
  AddBlock(0, {0x3FFC});  // HIGHLOW: 4 bytes fit exactly at the end of the page
  std::string Error;
  EXPECT_TRUE(
      sim::CheckBaseRelocations(&mImage[kDirRva], {kDirRva, mDirSize}, 0x1000, sim::kPeRelHighLow, &Error))
      << Error;
  mDirSize = 0;
  AddBlock(0, {0xAFFC});  // DIR64: 8 bytes do not
  EXPECT_FALSE(
      sim::CheckBaseRelocations(&mImage[kDirRva], {kDirRva, mDirSize}, 0x1000, sim::kPeRelDir64, &Error));
  EXPECT_EQ(Error, "relocation at 0xffc runs past the image (SizeOfImage 0x1000)");
}

TEST_F(BaseRelocations, RejectedDirectoryLeavesImageUntouched) {
  AddBlock(0, {0xA010});
  AddBlock(0, {0x3020});  // HIGHLOW: not for an x64 image
  std::string Error;
  EXPECT_FALSE(Apply(0x7000, &Error));
  EXPECT_EQ(Error, "relocation type 3 at 0x20 is not supported");
  EXPECT_EQ(Get64(0x10), 0x1000u) << "the valid first block must not be applied either";
}

TEST_F(BaseRelocations, DirectoryEndingInsideBlockHeaderIsRejected) {
  AddBlock(0, {0xA010});
  mDirSize += 4;  // four stray bytes: half a block header
  std::string Error;
  EXPECT_FALSE(Apply(0x7000, &Error));
  EXPECT_EQ(Error, "relocation directory ends inside the block header at 0x10a");
}

TEST_F(BaseRelocations, DirectoryOutsideImageIsRejected) {
  std::string Error;
  EXPECT_FALSE(sim::ApplyBaseRelocations(mImage.data(), 0x1000, {0xFF0, 0x20}, sim::kPeRelDir64, 1, &Error));
  EXPECT_EQ(Error, "relocation directory 0xff0+0x20 lies outside the image");
}

}  // namespace
