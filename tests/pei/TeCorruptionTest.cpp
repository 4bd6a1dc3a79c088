// Broken copies of the shipped TE image. A copy whose headers are bad is refused
// by the loader with a message naming the fault; a copy that loads but whose
// code, data or relocations were damaged must make the scenario comparison with
// the host build fail, which shows that the TE-image scenarios really check the
// image. Each mutation is a small named helper aimed at one check.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/pei/TeImageRun.h"

namespace pei_test {
namespace {

using Bytes = std::vector<uint8_t>;

uint16_t U16(const Bytes &B, size_t At) {
  return static_cast<uint16_t>(B.at(At) | (B.at(At + 1) << 8));
}
uint32_t U32(const Bytes &B, size_t At) {
  return U16(B, At) | (static_cast<uint32_t>(U16(B, At + 2)) << 16);
}
void Put16(Bytes *B, size_t At, uint16_t V) {
  std::memcpy(&B->at(At), &V, 2);
}
void Put32(Bytes *B, size_t At, uint32_t V) {
  std::memcpy(&B->at(At), &V, 4);
}

std::string Printf(const char *Format, unsigned A, unsigned B = 0, unsigned C = 0) {
  char Text[256];
  std::snprintf(Text, sizeof(Text), Format, A, B, C);
  return Text;
}

// TE file offset of an RVA of this run-in-place image.
size_t FileOffset(const Bytes &Te, uint32_t Rva) {
  return Rva - U16(Te, 6) + 40u;
}

// Section header Index: name at +0, VirtualAddress at +12, SizeOfRawData at +16.
size_t SectionHeader(unsigned Index) {
  return 40u + Index * 40u;
}

// Every relocation entry of the image, as TE file offsets of the 16-bit entries.
std::vector<size_t> RelocationEntries(const Bytes &Te) {
  std::vector<size_t> Entries;
  size_t At = FileOffset(Te, U32(Te, 24)), End = At + U32(Te, 28);
  while (At + 8 <= End) {
    uint32_t BlockSize = U32(Te, At + 4);
    for (size_t Entry = At + 8; Entry + 2 <= At + BlockSize; Entry += 2) Entries.push_back(Entry);
    At += BlockSize;
  }
  return Entries;
}

size_t Find(const Bytes &Te, const Bytes &Needle) {
  auto It = std::search(Te.begin(), Te.end(), Needle.begin(), Needle.end());
  return It == Te.end() ? Te.size() : static_cast<size_t>(It - Te.begin());
}

struct RefusedCase {
  const char *Name;
  std::function<void(Bytes *)> Break;
  std::function<std::string(const Bytes &)> Message;  // of the original image
};

void PrintTo(const RefusedCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class RefusedImage : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedImage, LoaderNamesTheFault) {
  const Bytes Original = ShippedTeImage();
  if (Original.empty()) GTEST_SKIP() << "the TE image is built only with ZEPHRIN_FIRMWARE=ON";
  Bytes Broken = Original;
  GetParam().Break(&Broken);
  sim::PeiPhase Phase;
  sim::Ia32PeiHost Host(Phase);
  std::string Error;
  EXPECT_FALSE(Host.Load(Broken, &Error));
  EXPECT_EQ(Error, GetParam().Message(Original));
}

const RefusedCase kRefusedCases[] = {
    {"TruncatedTeHeader", [](Bytes *Te) { Te->resize(39); },
     [](const Bytes &) { return std::string("file of 39 bytes is shorter than the 40-byte TE header"); }},
    {"NotVz", [](Bytes *Te) { (*Te)[0] = 'M'; },
     [](const Bytes &) { return std::string("TE signature 0x5a4d is not \"VZ\""); }},
    {"NotIa32", [](Bytes *Te) { Put16(Te, 2, 0x8664); },
     [](const Bytes &) { return std::string("TE image is for machine 0x8664, not IA-32 (0x014c)"); }},
    {"StrippedSizeBelowTeHeader", [](Bytes *Te) { Put16(Te, 6, 8); },
     [](const Bytes &) {
       return std::string("StrippedSize 8 is smaller than the TE header it was replaced by");
     }},
    {"SectionTableCut", [](Bytes *Te) { Te->resize(SectionHeader((*Te)[4]) - 1); },
     [](const Bytes &Te) {
       return Printf("section table of %u entries runs past the end of the file (%u bytes)", Te[4],
                     static_cast<unsigned>(SectionHeader(Te[4]) - 1));
     }},
    {"LastSectionCut", [](Bytes *Te) { Te->pop_back(); },
     [](const Bytes &Te) {
       size_t Last = SectionHeader(Te[4] - 1u);
       return Printf(".reloc: raw data 0x%x+0x%x runs past the end of the file", U32(Te, Last + 20),
                     U32(Te, Last + 16))
           .insert(0, "section ");
     }},
    {"SectionInsideStrippedHeaders", [](Bytes *Te) { Put32(Te, SectionHeader(0) + 20, 0x10); },
     [](const Bytes &Te) {
       return Printf("section .text: raw data at 0x10 lies inside the 0x%x stripped header bytes",
                     U16(Te, 6));
     }},
    {"EntryPointInData", [](Bytes *Te) { Put32(Te, 8, U32(*Te, SectionHeader(1) + 12)); },
     [](const Bytes &Te) {
       return Printf("entry point 0x%x lies in no code section", U32(Te, SectionHeader(1) + 12));
     }},
    {"RelocationsOutsideTheImage", [](Bytes *Te) { Put32(Te, 24, 0x100000); },
     [](const Bytes &Te) {
       size_t Last = SectionHeader(Te[4] - 1u);
       return Printf("base relocation directory 0x100000+0x%x lies outside the image (0x%x bytes)",
                     U32(Te, 28), U32(Te, Last + 12) + U32(Te, Last + 8));
     }},
    {"UnknownRelocationType",
     [](Bytes *Te) {
       Put16(Te, RelocationEntries(*Te)[0], (U16(*Te, RelocationEntries(*Te)[0]) & 0xFFF) | 0xA000);
     },
     [](const Bytes &Te) {
       size_t Entry = RelocationEntries(Te)[0];
       size_t Block = FileOffset(Te, U32(Te, 24));
       return Printf("relocation type 10 at 0x%x is not supported",
                     U32(Te, Block) + (U16(Te, Entry) & 0xFFF));
     }},
    {"RelocationsStripped", [](Bytes *Te) { Put32(Te, 28, 0); },
     [](const Bytes &Te) {
       return Printf("image linked for 0x%x has no base relocations and cannot run at 0x1000000",
                     U32(Te, 16));
     }},
};

INSTANTIATE_TEST_SUITE_P(Headers, RefusedImage, ::testing::ValuesIn(kRefusedCases),
                         [](const ::testing::TestParamInfo<RefusedCase> &Info) { return Info.param.Name; });

// Copies that load but are broken inside: the comparison with the host build
// must see the damage.
struct DamagedCase {
  const char *Name;
  std::function<void(Bytes *)> Break;
  std::function<void(PeiBoard &)> Board;
  std::string Difference;  // the first difference reported, or its start
};

void PrintTo(const DamagedCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

class DamagedImage : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedImage, ScenarioComparisonFails) {
  const Bytes Original = ShippedTeImage();
  if (Original.empty()) GTEST_SKIP() << "the TE image is built only with ZEPHRIN_FIRMWARE=ON";
  const DamagedCase &Case = GetParam();
  Bytes Broken = Original;
  Case.Break(&Broken);
  ASSERT_NE(Broken, Original) << "the mutation found nothing to break";
  PeiBoard Board;
  Case.Board(Board);
  PeiOutcome Host, Intact, Damaged;
  std::string Error;
  ASSERT_TRUE(RunHostBuild(Board, &Host, &Error)) << Error;
  ASSERT_TRUE(RunTeImage(Board, Original, &Intact, &Error)) << Error;
  ASSERT_TRUE(RunTeImage(Board, Broken, &Damaged, &Error)) << Error;

  EXPECT_EQ(Differences(Host, Intact), std::vector<std::string>{});
  std::vector<std::string> Found = Differences(Host, Damaged);
  ASSERT_FALSE(Found.empty());
  EXPECT_EQ(Found[0].substr(0, Case.Difference.size()), Case.Difference) << Joined(Found);
}

void ItemInHob(PeiBoard &B) {
  B.Info({5}).HobContainer(sim::BuildProductDataContainer({FlagsItem(5, {1, 2, 3})}));
}
void NoInfoHob(PeiBoard &B) {
  B.HobContainer(sim::BuildProductDataContainer({FlagsItem(5, {1, 2, 3})}));
}

const DamagedCase kDamagedCases[] = {
    {"MessageTextAltered",
     [](Bytes *Te) {
       size_t At = Find(*Te, Bytes{'d', 'i', 'd', ' ', 'n', 'o', 't'});
       if (At < Te->size()) (*Te)[At] = 'D';
     },
     NoInfoHob, "message 0: host \"[TglZephrinFeatureControlPeiEntryPoint] Platform did not provide"},
    {"HobNameAltered",
     [](Bytes *Te) {
       size_t At = Find(*Te, Bytes{0xA7, 0xD4, 0xF3, 0x03, 0x35, 0xE9, 0x05, 0x4E});
       if (At < Te->size()) (*Te)[At] ^= 0xFF;
     },
     ItemInHob, "HOB 0 bytes differ"},
    {"EntryCodeUndefined",
     [](Bytes *Te) {
       size_t Entry = FileOffset(*Te, U32(*Te, 8));
       (*Te)[Entry] = 0x0F;
       (*Te)[Entry + 1] = 0x0B;
     },
     ItemInHob, "run: host returned 0x00000000, TE image invalid instruction"},
    {"RelocationsNeutralised",
     [](Bytes *Te) {
       for (size_t Entry : RelocationEntries(*Te)) Put16(Te, Entry, U16(*Te, Entry) & 0x0FFF);
     },
     ItemInHob, "run: host returned 0x00000000, TE image read of"},
};

INSTANTIATE_TEST_SUITE_P(Code, DamagedImage, ::testing::ValuesIn(kDamagedCases),
                         [](const ::testing::TestParamInfo<DamagedCase> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace pei_test
