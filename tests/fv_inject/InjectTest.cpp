// The injector on synthetic images shaped like OVMF_CODE.fd: where the files
// land, what stays byte-for-byte the same, how the volume around the rewritten
// file is mended, and one row per rejected input with its exact message.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "sim/FvImage.h"
#include "tests/fv_inject/FvInjectTestSupport.h"
#include "tools/fv-inject/FvInject.h"

namespace fv_inject_test {
namespace {

using fv_inject::DriverSpec;

DriverSpec Driver(const EFI_GUID &Name, const std::string &Ui, Bytes Image,
                  std::vector<EFI_GUID> Depex = {}) {
  DriverSpec Spec;
  Spec.Name = Name;
  Spec.UiName = Ui;
  Spec.Image = std::move(Image);
  Spec.Depex = std::move(Depex);
  return Spec;
}

Bytes GuidBytes(const EFI_GUID &Guid) {
  const uint8_t *Raw = reinterpret_cast<const uint8_t *>(&Guid);
  return Bytes(Raw, Raw + sizeof(Guid));
}

// The dependency expression written out by hand: PUSH g1 PUSH g2 AND END.
Bytes TwoGuidDepex() {
  Bytes Depex{0x02};
  Bytes One = GuidBytes(kDepexOne), Two = GuidBytes(kDepexTwo);
  Depex.insert(Depex.end(), One.begin(), One.end());
  Depex.push_back(0x02);
  Depex.insert(Depex.end(), Two.begin(), Two.end());
  Depex.insert(Depex.end(), {0x03, 0x08});
  return Depex;
}

const sim::FvFileView *FindFile(const std::vector<sim::FvFileView> &Files, const EFI_GUID &Name) {
  for (const sim::FvFileView &File : Files) {
    if (std::memcmp(&File.Name, &Name, sizeof(Name)) == 0) return &File;
  }
  return nullptr;
}

// Type and body of each section of a file, read with the simulator's reader.
std::vector<std::pair<uint8_t, Bytes>> SectionsOf(const sim::FvImageReader &Reader, const Bytes &Volume,
                                                  const sim::FvFileView &File) {
  std::vector<std::pair<uint8_t, Bytes>> Out;
  for (const sim::FvSectionView &Section : Reader.Sections(File)) {
    const uint8_t *Data = Volume.data() + Section.DataOffset;
    Out.push_back({Section.Type, Bytes(Data, Data + Section.DataSize)});
  }
  return Out;
}

struct Injected {
  SyntheticImage Before;
  Bytes After;
  fv_inject::InjectSummary Summary;
};

Injected InjectInto(const SyntheticLayout &Layout, const std::vector<DriverSpec> &Drivers) {
  Injected Result;
  Result.Before = BuildSyntheticImage(Layout);
  std::string Error;
  EXPECT_TRUE(fv_inject::InjectDrivers(Result.Before.Image, Drivers, &Result.After, &Result.Summary, &Error))
      << Error;
  return Result;
}

TEST(FvInjectTest, AddsDriverFilesAfterTheDxeVolumesFiles) {
  const Bytes ImageA = PseudoRandom(3000, 10);
  const Bytes ImageB = PseudoRandom(1000, 11);
  Injected Run =
      InjectInto(SyntheticLayout{}, {Driver(kNewDriverA, "DriverA", ImageA),
                                     Driver(kNewDriverB, "DriverB", ImageB, {kDepexOne, kDepexTwo})});
  ASSERT_EQ(Run.After.size(), Run.Before.Image.size());
  OpenedImage Opened;
  std::string Why;
  ASSERT_TRUE(OpenImage(Run.After, Run.Before.MainVolumeLength, &Opened, &Why)) << Why;
  ASSERT_EQ(Opened.Payload.size(), Run.Before.PayloadSize);
  const Bytes &OldDxe = Run.Before.DxeVolume;
  Bytes NewDxe(Opened.Payload.begin() + Run.Before.DxeOffsetInPayload,
               Opened.Payload.begin() + Run.Before.DxeOffsetInPayload + OldDxe.size());

  sim::FvImageReader OldReader(OldDxe), NewReader(NewDxe);
  ASSERT_TRUE(OldReader.Parse());
  ASSERT_TRUE(NewReader.Parse()) << NewReader.Error();
  // The original files keep their bytes and places; the new ones follow them.
  const sim::FvFileView &LastOld = OldReader.Files().back();
  const size_t OldEnd = LastOld.Offset + LastOld.Size;
  EXPECT_TRUE(std::equal(OldDxe.begin(), OldDxe.begin() + OldEnd, NewDxe.begin()));
  ASSERT_EQ(NewReader.Files().size(), OldReader.Files().size() + 2);
  const sim::FvFileView *A = FindFile(NewReader.Files(), kNewDriverA);
  const sim::FvFileView *B = FindFile(NewReader.Files(), kNewDriverB);
  ASSERT_TRUE(A != nullptr && B != nullptr);
  EXPECT_EQ(A->Offset, (OldEnd + 7) & ~static_cast<size_t>(7));
  EXPECT_EQ(A->Type, EFI_FV_FILETYPE_DRIVER);
  EXPECT_EQ(B->Type, EFI_FV_FILETYPE_DRIVER);
  using Sections = std::vector<std::pair<uint8_t, Bytes>>;
  EXPECT_EQ(SectionsOf(NewReader, NewDxe, *A), (Sections{{EFI_SECTION_PE32, ImageA},
                                                         {EFI_SECTION_DXE_DEPEX, {0x06, 0x08}},
                                                         {EFI_SECTION_USER_INTERFACE, Ucs2("DriverA")}}));
  EXPECT_EQ(SectionsOf(NewReader, NewDxe, *B), (Sections{{EFI_SECTION_PE32, ImageB},
                                                         {EFI_SECTION_DXE_DEPEX, TwoGuidDepex()},
                                                         {EFI_SECTION_USER_INTERFACE, Ucs2("DriverB")}}));
  // Valid-state bits as a volume with erase polarity 1 stores them; no data checksum.
  EXPECT_EQ(NewDxe[A->Offset + 23], 0xF8);
  EXPECT_EQ(NewDxe[A->Offset + 17], FFS_FIXED_CHECKSUM);
  const size_t NewEnd = B->Offset + B->Size;
  EXPECT_TRUE(std::all_of(NewDxe.begin() + NewEnd, NewDxe.end(), [](uint8_t Byte) { return Byte == 0xFF; }));
  EXPECT_EQ(Run.Summary.DxeFreeBefore - Run.Summary.DxeFreeAfter, NewEnd - OldEnd);
}

TEST(FvInjectTest, KeepsEverythingOutsideTheRewrittenFile) {
  Injected Run = InjectInto(SyntheticLayout{}, {Driver(kNewDriverA, "DriverA", PseudoRandom(2000, 12))});
  const Bytes &Old = Run.Before.Image;
  OpenedImage Before, After;
  std::string Why;
  ASSERT_TRUE(OpenImage(Old, Run.Before.MainVolumeLength, &Before, &Why)) << Why;
  ASSERT_TRUE(OpenImage(Run.After, Run.Before.MainVolumeLength, &After, &Why)) << Why;
  ASSERT_EQ(After.FileOffset, Before.FileOffset);
  EXPECT_GT(After.FileSize, Before.FileSize);
  EXPECT_EQ(After.FileChecksum, FFS_FIXED_CHECKSUM);
  // Volume header, extended header and everything before the file: untouched.
  EXPECT_TRUE(std::equal(Old.begin(), Old.begin() + Before.FileOffset, Run.After.begin()));
  // After the file, up to the volume's end: erased free space.
  const size_t End = (After.FileOffset + After.FileSize + 7) & ~static_cast<size_t>(7);
  EXPECT_TRUE(std::all_of(Run.After.begin() + End, Run.After.begin() + Run.Before.MainVolumeLength,
                          [](uint8_t Byte) { return Byte == 0xFF; }));
  EXPECT_EQ(Run.Summary.MainFreeAfter, Run.Before.MainVolumeLength - End);
  // The SEC volume behind the main one.
  EXPECT_TRUE(std::equal(Old.begin() + Run.Before.MainVolumeLength, Old.end(),
                         Run.After.begin() + Run.Before.MainVolumeLength));
  // The PEI volume and the DXE volume's header inside the payload.
  EXPECT_TRUE(std::equal(Before.Payload.begin(),
                         Before.Payload.begin() + Run.Before.DxeOffsetInPayload + 0x48,
                         After.Payload.begin()));
}

TEST(FvInjectTest, FillsTheGapBeforeAFollowingFileWithAPadFile) {
  SyntheticLayout Layout;
  Layout.PadBeforeTrailingFile = 0x3000;
  Injected Run = InjectInto(Layout, {Driver(kNewDriverA, "DriverA", PseudoRandom(2000, 13))});
  Bytes OldMain(Run.Before.Image.begin(), Run.Before.Image.begin() + Run.Before.MainVolumeLength);
  Bytes NewMain(Run.After.begin(), Run.After.begin() + Run.Before.MainVolumeLength);
  sim::FvImageReader OldReader(OldMain), NewReader(NewMain);
  ASSERT_TRUE(OldReader.Parse());
  ASSERT_TRUE(NewReader.Parse()) << NewReader.Error();
  const sim::FvFileView *OldTrailing = FindFile(OldReader.Files(), kTrailingFile);
  const sim::FvFileView *NewTrailing = FindFile(NewReader.Files(), kTrailingFile);
  ASSERT_TRUE(OldTrailing != nullptr && NewTrailing != nullptr);
  EXPECT_EQ(NewTrailing->Offset, OldTrailing->Offset);
  EXPECT_TRUE(std::equal(OldMain.begin() + OldTrailing->Offset, OldMain.end(),
                         NewMain.begin() + NewTrailing->Offset));
  // Between the rewritten file and the trailing one: exactly one pad file.
  const sim::FvFileView *Compressed = FindFile(NewReader.Files(), kCompressedFile);
  ASSERT_NE(Compressed, nullptr);
  const size_t PadOffset = (Compressed->Offset + Compressed->Size + 7) & ~static_cast<size_t>(7);
  EFI_FFS_FILE_HEADER Pad;
  std::memcpy(&Pad, NewMain.data() + PadOffset, sizeof(Pad));
  EXPECT_EQ(Pad.Type, EFI_FV_FILETYPE_FFS_PAD);
  const size_t PadSize = Pad.Size[0] | (Pad.Size[1] << 8) | (Pad.Size[2] << 16);
  EXPECT_EQ(PadOffset + PadSize, NewTrailing->Offset);
}

TEST(FvInjectTest, ListsNestedVolumesAndFiles) {
  Injected Run = InjectInto(SyntheticLayout{}, {Driver(kNewDriverA, "DriverA", PseudoRandom(100, 14))});
  std::string Text, Error;
  ASSERT_TRUE(fv_inject::ListImage(Run.After, &Text, &Error)) << Error;
  const std::string DriverLine =
      "        file " + GuidString(kNewDriverA) + " driver size 0x9c \"DriverA\"\n";
  EXPECT_NE(Text.find(DriverLine), std::string::npos) << Text;
  EXPECT_NE(Text.find("      volume 22222222-1111-4000-8000-000000000003 size 0x8000 free "),
            std::string::npos)
      << Text;
  EXPECT_EQ(Text.rfind("volume 22222222-1111-4000-8000-000000000004 at 0x10000 size 0x1000 free 0x", 0),
            std::string::npos);
  EXPECT_NE(Text.find("\nvolume 22222222-1111-4000-8000-000000000004 at 0x10000 size 0x1000 free 0x"),
            std::string::npos);
}

// One row per rejected input: the image (built, then changed), the drivers, the message.
struct BadInputCase {
  const char *Name;
  SyntheticLayout Layout;
  std::function<void(Bytes *Image)> Mutate;
  std::vector<DriverSpec> Drivers;
  std::string Message;
};

std::string Guid(const EFI_GUID &Name) {
  return GuidString(Name);
}

std::vector<BadInputCase> BadInputCases() {
  SyntheticLayout NoLzma, NoDxeCore, Tight;
  NoLzma.WithLzmaSection = false;
  NoDxeCore.WithDxeCore = false;
  Tight.MainVolumeLength = 0x2000;
  auto One = std::vector<DriverSpec>{Driver(kNewDriverA, "A", PseudoRandom(64, 20))};
  return {
      {"NotAFirmwareImage",
       {},
       [](Bytes *Image) { std::fill(Image->begin(), Image->end(), 0); },
       One,
       "not a firmware image: no firmware volume header at offset 0"},
      {"VolumeLongerThanTheImage",
       {},
       [](Bytes *Image) { Image->resize(0x8000); },
       One,
       "not a firmware image: no firmware volume header at offset 0"},
      {"NoLzmaSection", NoLzma, nullptr, One,
       "no LZMA-compressed section (GUID EE4E5898-3914-4259-9D6E-DC7BD79403CF) in the image"},
      {"NoDxeVolume", NoDxeCore, nullptr, One,
       "no DXE volume (a volume holding the DXE core) in the LZMA-compressed section"},
      {"FileAlreadyInTheDxeVolume",
       {},
       nullptr,
       {Driver(kDxeDriverFile, "A", PseudoRandom(64, 21))},
       "a file named " + Guid(kDxeDriverFile) + " is already in the image"},
      {"FileAlreadyInTheSecVolume",
       {},
       nullptr,
       {Driver(kSecFile, "A", PseudoRandom(64, 22))},
       "a file named " + Guid(kSecFile) + " is already in the image"},
      {"FileGivenTwice", {}, nullptr, {One[0], One[0]}, "file " + Guid(kNewDriverA) + " is given twice"},
      {"NoRoomInTheDxeVolume",
       {},
       nullptr,
       {Driver(kNewDriverA, "A", PseudoRandom(0x8000, 23))},
       "no room in the DXE volume: the new files need 0x802c bytes, 0x7908 are free"},
      {"NoRoomForTheRecompressedFile",
       Tight,
       nullptr,
       {Driver(kNewDriverA, "A", PseudoRandom(0x4000, 24))},
       "no room for the recompressed file " + Guid(kCompressedFile) + ": it needs 0x"},
      {"SectionLongerThanItsFile",
       {},
       [](Bytes *Image) { (*Image)[0x78 + 24 + 2] = 0x7F; },
       One,
       "file " + Guid(kCompressedFile) + ": section at 0x0: size 0x7f"},
      {"CorruptLzmaStream",
       {},
       [](Bytes *Image) {
         for (size_t At = 0x78 + 24 + 24 + 13 + 40; At < 0x78 + 24 + 24 + 13 + 80; At++) (*Image)[At] ^= 0x5A;
       },
       One,
       "LZMA section of file " + Guid(kCompressedFile) + ": LZMA decoding failed: the data is corrupt"},
  };
}

class FvInjectBadInputTest : public testing::TestWithParam<BadInputCase> {};

TEST_P(FvInjectBadInputTest, FailsWithItsMessage) {
  const BadInputCase &Case = GetParam();
  SyntheticImage Built = BuildSyntheticImage(Case.Layout);
  if (Case.Mutate) Case.Mutate(&Built.Image);
  Bytes Out;
  fv_inject::InjectSummary Summary;
  std::string Error;
  EXPECT_FALSE(fv_inject::InjectDrivers(Built.Image, Case.Drivers, &Out, &Summary, &Error));
  EXPECT_EQ(Error.substr(0, Case.Message.size()), Case.Message) << Error;
  EXPECT_TRUE(Out.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, FvInjectBadInputTest, testing::ValuesIn(BadInputCases()),
                         [](const testing::TestParamInfo<BadInputCase> &Info) { return Info.param.Name; });

}  // namespace
}  // namespace fv_inject_test

namespace fv_inject_test {
namespace {

// Every header byte on the way down (main volume header, the pad file with the
// extended header, the compressed file and section headers, the LZMA header),
// changed one at a time: listing and injecting either work or say why; under
// the sanitizer build no read leaves its buffer.
TEST(FvInjectTest, SurvivesEachCorruptedHeaderByte) {
  const SyntheticImage Built = BuildSyntheticImage(SyntheticLayout{});
  const size_t HeadersEnd = 0x78 + 24 + 24 + 13;
  const std::vector<DriverSpec> Drivers{Driver(kNewDriverA, "A", PseudoRandom(64, 70))};
  size_t Refused = 0;
  for (size_t At = 0; At < HeadersEnd; At++) {
    Bytes Image = Built.Image;
    Image[At] ^= 0xA5;
    std::string Text, Error;
    if (!fv_inject::ListImage(Image, &Text, &Error)) EXPECT_FALSE(Error.empty()) << At;
    Bytes Out;
    fv_inject::InjectSummary Summary;
    Error.clear();
    if (fv_inject::InjectDrivers(Image, Drivers, &Out, &Summary, &Error)) {
      EXPECT_EQ(Out.size(), Image.size());
    } else {
      EXPECT_FALSE(Error.empty()) << At;
      Refused++;
    }
  }
  // Most header bytes are checked (signature, checksums, sizes, GUIDs); a few are not (reserved, attributes).
  EXPECT_GT(Refused, HeadersEnd / 2);
}

}  // namespace
}  // namespace fv_inject_test
