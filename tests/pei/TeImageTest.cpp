// The shipped form of the module: the IA-32 PE32 image from the firmware build
// and the TE image te-convert makes of it. The headers are read here with a
// reader of the test's own, apart from the converter's. The image also runs, on
// the emulated IA-32 PEI phase, against the host build (BothBuilds in
// FeatureControlPeiTest.cpp, TeCorruptionTest.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/HostFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

#if defined(ZEPHRIN_PEI_PE_IMAGE) && defined(ZEPHRIN_PEI_TE_IMAGE)
const char *const kPeImage = ZEPHRIN_PEI_PE_IMAGE;
const char *const kTeImage = ZEPHRIN_PEI_TE_IMAGE;
#else
const char *const kPeImage = nullptr;
const char *const kTeImage = nullptr;
#endif

bool ReadFile(const char *Path, Bytes *Out) {
  std::optional<Bytes> Data;
  if (Path != nullptr) Data = test_support::ReadHostFile(Path);
  if (Data) *Out = std::move(*Data);
  return Data.has_value();
}

uint16_t U16(const Bytes &B, size_t At) {
  return static_cast<uint16_t>(B.at(At) | (B.at(At + 1) << 8));
}
uint32_t U32(const Bytes &B, size_t At) {
  return U16(B, At) | (static_cast<uint32_t>(U16(B, At + 2)) << 16);
}

// The PE32 fields the TE header carries over, read straight from the file.
struct Pe32 {
  uint32_t SectionTable = 0;
  uint16_t Machine = 0, Sections = 0, Magic = 0, Subsystem = 0;
  uint32_t Entry = 0, BaseOfCode = 0, ImageBase = 0, SectionAlignment = 0, FileAlignment = 0;
  uint32_t Directories = 0;
  uint32_t Dir(const Bytes &B, int Slot, int Field) const { return U32(B, DirOffset + Slot * 8 + Field * 4); }
  size_t DirOffset = 0;
};

Pe32 ReadPe32(const Bytes &Pe) {
  Pe32 H;
  uint32_t PeOffset = U32(Pe, 0x3C);
  size_t Coff = PeOffset + 4, Opt = Coff + 20;
  H.Machine = U16(Pe, Coff);
  H.Sections = U16(Pe, Coff + 2);
  H.SectionTable = static_cast<uint32_t>(Opt + U16(Pe, Coff + 16));
  H.Magic = U16(Pe, Opt);
  H.Entry = U32(Pe, Opt + 16);
  H.BaseOfCode = U32(Pe, Opt + 20);
  H.ImageBase = U32(Pe, Opt + 28);
  H.SectionAlignment = U32(Pe, Opt + 32);
  H.FileAlignment = U32(Pe, Opt + 36);
  H.Subsystem = U16(Pe, Opt + 68);
  H.Directories = U32(Pe, Opt + 92);
  H.DirOffset = Opt + 96;
  return H;
}

class PeiModuleImage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kPeImage == nullptr) {
      GTEST_SKIP() << "the PEI module's images are built only with ZEPHRIN_FIRMWARE=ON (clang and lld-link)";
    }
    // This build makes the images: a missing one is a broken build, not a skip.
    ASSERT_TRUE(ReadFile(kPeImage, &Pe)) << "cannot read " << kPeImage;
    ASSERT_TRUE(ReadFile(kTeImage, &Te)) << "cannot read " << kTeImage;
    Header = ReadPe32(Pe);
  }
  Bytes Pe, Te;
  Pe32 Header;
};

TEST_F(PeiModuleImage, Pe32IsAnIa32ModuleThatRunsInPlace) {
  EXPECT_EQ(U16(Pe, 0), 0x5A4D);
  EXPECT_EQ(Header.Machine, 0x14C);
  EXPECT_EQ(Header.Magic, 0x10B);
  EXPECT_EQ(Header.Subsystem, 11);
  EXPECT_EQ(Header.SectionAlignment, 32u);
  EXPECT_EQ(Header.FileAlignment, 32u);
  ASSERT_GE(Header.Directories, 6u);
  EXPECT_EQ(Header.Dir(Pe, 1, 1), 0u) << "a PEI module imports nothing";
  EXPECT_NE(Header.Dir(Pe, 5, 1), 0u) << "relocations let the core place the image";
}

TEST_F(PeiModuleImage, TeHeaderCarriesThePe32Fields) {
  ASSERT_GE(Te.size(), 40u);
  EXPECT_EQ(U16(Te, 0), 0x5A56);  // "VZ"
  EXPECT_EQ(U16(Te, 2), Header.Machine);
  EXPECT_EQ(Te[4], Header.Sections);
  EXPECT_EQ(Te[5], Header.Subsystem);
  uint16_t Stripped = U16(Te, 6);
  EXPECT_EQ(Stripped, Header.SectionTable);
  EXPECT_EQ(U32(Te, 8), Header.Entry);
  EXPECT_EQ(U32(Te, 12), Header.BaseOfCode);
  EXPECT_EQ(U32(Te, 16), Header.ImageBase);
  EXPECT_EQ(U32(Te, 20), 0u);  // upper half of the 64-bit ImageBase
  EXPECT_EQ(U32(Te, 24), Header.Dir(Pe, 5, 0));
  EXPECT_EQ(U32(Te, 28), Header.Dir(Pe, 5, 1));
  EXPECT_EQ(U32(Te, 32), Header.Dir(Pe, 6, 0));
  EXPECT_EQ(U32(Te, 36), Header.Dir(Pe, 6, 1));
  EXPECT_EQ(Te.size(), Pe.size() - Stripped + 40);
}

TEST_F(PeiModuleImage, TeSectionsMatchThePe32AndHoldTheEntryPoint) {
  uint16_t Stripped = U16(Te, 6);
  bool EntryInCode = false;
  for (uint16_t Index = 0; Index < Header.Sections; Index++) {
    size_t PeAt = Header.SectionTable + Index * 40u, TeAt = 40u + Index * 40u;
    ASSERT_LE(TeAt + 40, Te.size());
    EXPECT_EQ(Bytes(Te.begin() + TeAt, Te.begin() + TeAt + 40),
              Bytes(Pe.begin() + PeAt, Pe.begin() + PeAt + 40));
    uint32_t Rva = U32(Te, TeAt + 12), RawSize = U32(Te, TeAt + 16), RawOffset = U32(Te, TeAt + 20);
    uint32_t Characteristics = U32(Te, TeAt + 36);
    EXPECT_EQ(Rva, RawOffset) << "section " << Index << " must run in place";
    size_t TeData = RawOffset - Stripped + 40u;
    ASSERT_LE(TeData + RawSize, Te.size());
    EXPECT_EQ(std::memcmp(&Te[TeData], &Pe[RawOffset], RawSize), 0) << "section " << Index;
    if ((Characteristics & 0x20000000u) != 0 && Header.Entry >= Rva && Header.Entry < Rva + RawSize) {
      EntryInCode = true;
    }
  }
  EXPECT_TRUE(EntryInCode);
}

TEST_F(PeiModuleImage, TeRelocationsAreHighLowInsideTheImage) {
  uint16_t Stripped = U16(Te, 6);
  uint32_t Rva = U32(Te, 24), Size = U32(Te, 28);
  size_t At = Rva - Stripped + 40u, End = At + Size;
  ASSERT_LE(End, Te.size());
  size_t Fixups = 0;
  while (At + 8 <= End) {
    uint32_t Page = U32(Te, At), BlockSize = U32(Te, At + 4);
    ASSERT_GE(BlockSize, 8u);
    ASSERT_LE(At + BlockSize, End);
    for (size_t Entry = At + 8; Entry + 2 <= At + BlockSize; Entry += 2) {
      uint16_t Value = U16(Te, Entry);
      uint16_t Type = Value >> 12;
      EXPECT_TRUE(Type == 3 || Type == 0) << "relocation type " << Type;
      if (Type != 3) continue;
      size_t Target = Page + (Value & 0xFFF) - Stripped + 40u;
      EXPECT_LE(Target + 4, Te.size());
      Fixups++;
    }
    At += BlockSize;
  }
  EXPECT_GT(Fixups, 0u);
}

}  // namespace
