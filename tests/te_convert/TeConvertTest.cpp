// PE32 to TE conversion: the header fields, the place of every section in the
// TE file, a rebase through the TE header's relocation directory (which checks
// the StrippedSize arithmetic end to end), and one rejection per policy check.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/boot/PeFixture.h"
#include "tools/te-convert/TeImage.h"
#include "tests/support/RowPrinter.h"

namespace {

using namespace pe_fixture;
using File = std::vector<uint8_t>;

constexpr size_t kTeHeaderSize = 40;

File ProbePeim() {
#ifdef ZEPHRIN_PROBE_PEIM
  return ReadHostFileOrEmpty(ZEPHRIN_PROBE_PEIM);
#else
  return File();
#endif
}

#define REQUIRE_PEIM(Image)                                                                      \
  if ((Image).empty()) {                                                                         \
    GTEST_SKIP() << "probe PEI module not built (needs clang++ and lld-link at configure time)"; \
  }

// The TE header as a reader of TE images sees it, decoded field by field.
struct TeView {
  explicit TeView(const File &Te) : Bytes(Te) {}
  uint16_t Signature() const { return Get16(Bytes, 0); }
  uint16_t Machine() const { return Get16(Bytes, 2); }
  uint8_t Sections() const { return Bytes[4]; }
  uint8_t Subsystem() const { return Bytes[5]; }
  uint16_t StrippedSize() const { return Get16(Bytes, 6); }
  uint32_t Entry() const { return Get32(Bytes, 8); }
  uint32_t BaseOfCode() const { return Get32(Bytes, 12); }
  uint64_t ImageBase() const { return Get32(Bytes, 16) | (uint64_t{Get32(Bytes, 20)} << 32); }
  uint32_t RelocRva() const { return Get32(Bytes, 24); }
  uint32_t RelocSize() const { return Get32(Bytes, 28); }
  // Where a reader finds PE file offset / in-place RVA X inside the TE file.
  size_t TeOffset(uint32_t X) const { return X - StrippedSize() + kTeHeaderSize; }
  const File &Bytes;
};

File Convert(const File &Pe) {
  File Te;
  std::string Error;
  EXPECT_TRUE(te_convert::ConvertPe32ToTe(Pe, &Te, &Error)) << Error;
  return Te;
}

TEST(TeConvert, HeaderCarriesThePeFields) {
  File Pe = ProbePeim();
  REQUIRE_PEIM(Pe);
  File Te = Convert(Pe);
  TeView View(Te);
  EXPECT_EQ(View.Signature(), 0x5A56);  // "VZ"
  EXPECT_EQ(View.Machine(), 0x014C);
  EXPECT_EQ(View.Sections(), SectionCount(Pe));
  EXPECT_EQ(View.Subsystem(), 11);
  // All bytes before the section table are stripped.
  EXPECT_EQ(View.StrippedSize(), SectionTableOffset(Pe));
  EXPECT_EQ(View.Entry(), Get32(Pe, EntryPointOffset(Pe)));
  EXPECT_EQ(View.BaseOfCode(), Get32(Pe, OptionalOffset(Pe) + 20));
  EXPECT_EQ(View.ImageBase(), Get32(Pe, OptionalOffset(Pe) + 28));
  EXPECT_EQ(View.RelocRva(), Get32(Pe, DirectoryOffset(Pe, 5, false)));
  EXPECT_EQ(View.RelocSize(), Get32(Pe, DirectoryOffset(Pe, 5, false) + 4));
  EXPECT_EQ(Te.size(), Pe.size() - SectionTableOffset(Pe) + kTeHeaderSize);
}

TEST(TeConvert, SectionTableAndDataSitWhereATeReaderLooks) {
  File Pe = ProbePeim();
  REQUIRE_PEIM(Pe);
  File Te = Convert(Pe);
  TeView View(Te);
  for (unsigned Index = 0; Index < SectionCount(Pe); Index++) {
    size_t PeHeader = SectionHeaderOffset(Pe, Index);
    size_t TeHeader = kTeHeaderSize + size_t{Index} * 40;
    EXPECT_TRUE(std::equal(Pe.begin() + PeHeader, Pe.begin() + PeHeader + 40, Te.begin() + TeHeader))
        << "section header " << Index;
    uint32_t RawOffset = Get32(Pe, PeHeader + 20);
    uint32_t RawSize = Get32(Pe, PeHeader + 16);
    ASSERT_LE(View.TeOffset(RawOffset) + RawSize, Te.size());
    EXPECT_TRUE(std::equal(Pe.begin() + RawOffset, Pe.begin() + RawOffset + RawSize,
                           Te.begin() + static_cast<std::ptrdiff_t>(View.TeOffset(RawOffset))))
        << "section data " << SectionName(Pe, Index);
  }
}

// Rebase the TE image as a PEI core would for execution in place at LoadAddress:
// the image's PE base is LoadAddress + 40 - StrippedSize. Every HIGHLOW target
// must then point at the same bytes it pointed at in the PE image.
TEST(TeConvert, RebasedPointersReachTheirTargetsInTheTeFile) {
  File Pe = ProbePeim();
  REQUIRE_PEIM(Pe);
  File Te = Convert(Pe);
  TeView View(Te);
  const uint64_t LoadAddress = 0xFFF80000;
  const uint64_t PeBase = LoadAddress + kTeHeaderSize - View.StrippedSize();
  const uint32_t Delta = static_cast<uint32_t>(PeBase - View.ImageBase());
  size_t Checked = 0;
  for (size_t Block = View.TeOffset(View.RelocRva());
       Block < View.TeOffset(View.RelocRva() + View.RelocSize());) {
    uint32_t Page = Get32(Te, Block);
    uint32_t BlockSize = Get32(Te, Block + 4);
    ASSERT_GE(BlockSize, 8u);
    for (size_t Entry = Block + 8; Entry < Block + BlockSize; Entry += 2) {
      uint16_t Value = Get16(Te, Entry);
      if ((Value >> 12) == 0) continue;
      ASSERT_EQ(Value >> 12, 3) << "IA-32 images use HIGHLOW";
      size_t Slot = View.TeOffset(Page + (Value & 0xFFF));
      uint32_t Pointer = Get32(Te, Slot) + Delta;
      uint32_t TargetRva = static_cast<uint32_t>(Pointer - PeBase);
      uint32_t LinkedPointer = Get32(Pe, Page + (Value & 0xFFF));  // file offset == RVA
      EXPECT_EQ(TargetRva, LinkedPointer - View.ImageBase());
      EXPECT_EQ(Get32(Te, View.TeOffset(TargetRva)), Get32(Pe, TargetRva));
      Checked++;
    }
    Block += BlockSize;
  }
  EXPECT_GT(Checked, 0u) << "the probe has a pointer in data, so at least one relocation";
}

struct RejectCase {
  const char *Name;
  std::function<void(File *)> Break;
  std::function<std::string(const File &)> Expected;
};
ZEPHRIN_PRINT_ROW_BY_NAME(RejectCase)

unsigned SectionNamed(const File &F, const std::string &Name) {
  for (unsigned Index = 0; Index < SectionCount(F); Index++) {
    if (SectionName(F, Index) == Name) return Index;
  }
  return 0;
}

const RejectCase kRejectCases[] = {
    {"Truncated", [](File *F) { F->resize(40); },
     [](const File &) { return std::string("file of 40 bytes is too small for a DOS header"); }},
    {"WrongMachine", [](File *F) { Set16(F, CoffOffset(*F), 0x8664); },
     [](const File &) { return std::string("machine 0x8664 is not IA-32 (0x014c)"); }},
    {"Pe32PlusMagic", [](File *F) { Set16(F, OptionalOffset(*F), 0x020B); },
     [](const File &) { return std::string("optional header magic 0x20b is not PE32 (0x10b)"); }},
    {"NotAnEfiSubsystem", [](File *F) { Set16(F, SubsystemOffset(*F), 2); },
     [](const File &) { return std::string("subsystem 2 is not an EFI subsystem (10, 11 or 12)"); }},
    {"ImportsPresent",
     [](File *F) {
       Set32(F, DirectoryOffset(*F, 1, false), Get32(*F, SectionHeaderOffset(*F, 0) + 12));
       Set32(F, DirectoryOffset(*F, 1, false) + 4, 0x14);
     },
     [](const File &F) {
       return "image imports from other modules (import directory " +
              Hex(Get32(F, SectionHeaderOffset(F, 0) + 12)) + "+0x14)";
     }},
    {"SectionNotInPlace",
     [](File *F) {
       size_t Header = SectionHeaderOffset(*F, SectionNamed(*F, ".data"));
       Set32(F, Header + 20, Get32(*F, Header + 20) - 0x20);
     },
     [](const File &F) {
       size_t Header = SectionHeaderOffset(F, SectionNamed(F, ".data"));
       return "section .data: file offset " + Hex(Get32(F, Header + 20) - 0x20) +
              " differs from its address " + Hex(Get32(F, Header + 12)) +
              " (link with equal /align and /filealign)";
     }},
    {"SectionDataInStrippedHeaders", [](File *F) { Set32(F, SectionHeaderOffset(*F, 0) + 20, 0x40); },
     [](const File &F) {
       return "section " + SectionName(F, 0) + ": raw data at 0x40 lies in the stripped headers (" +
              Hex(SectionTableOffset(F)) + " bytes)";
     }},
    {"RelocationsBeyondSectionData",
     [](File *F) {
       size_t Header = SectionHeaderOffset(*F, SectionNamed(*F, ".reloc"));
       Set32(F, Header + 8, Get32(*F, DirectoryOffset(*F, 5, false) + 4) - 4);  // ends inside the directory
     },
     [](const File &F) {
       return "base relocation directory " + Hex(Get32(F, DirectoryOffset(F, 5, false))) + "+" +
              Hex(Get32(F, DirectoryOffset(F, 5, false) + 4)) + " is not inside the file data of a section";
     }},
    {"RelocationTypeOfAnotherMachine",
     [](File *F) {
       size_t Block = Get32(*F, DirectoryOffset(*F, 5, false));  // in place: RVA == file offset
       Set16(F, Block + 8, static_cast<uint16_t>((10u << 12) | (Get16(*F, Block + 8) & 0xFFF)));
     },
     [](const File &F) {
       size_t Block = Get32(F, DirectoryOffset(F, 5, false));
       return "relocation type 10 at " + Hex(Get32(F, Block) + (Get16(F, Block + 8) & 0xFFF)) +
              " is not supported";
     }},
    {"RelocationBlockPastImage",
     [](File *F) { Set32(F, Get32(*F, DirectoryOffset(*F, 5, false)), SizeOfImage(*F)); },
     [](const File &F) {
       return "relocation block for page " + Hex(SizeOfImage(F)) + " lies outside the image (SizeOfImage " +
              Hex(SizeOfImage(F)) + ")";
     }},
};

class TeConvertRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(TeConvertRejects, WithMessageNamingTheFault) {
  File Pe = ProbePeim();
  REQUIRE_PEIM(Pe);
  std::string Expected = GetParam().Expected(Pe);
  GetParam().Break(&Pe);
  File Te;
  std::string Error;
  EXPECT_FALSE(te_convert::ConvertPe32ToTe(Pe, &Te, &Error));
  EXPECT_EQ(Error, Expected);
  EXPECT_TRUE(Te.empty());
}

INSTANTIATE_TEST_SUITE_P(Policy, TeConvertRejects, testing::ValuesIn(kRejectCases),
                         [](const testing::TestParamInfo<RejectCase> &Info) { return Info.param.Name; });

}  // namespace
