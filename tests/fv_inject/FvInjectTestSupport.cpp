// Synthetic firmware images and independent readers for the injector tests.
#include "tests/fv_inject/FvInjectTestSupport.h"

#include <lzma.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/FvImage.h"
#include "sim/VarStoreImage.h"
#include "tools/fv-inject/LzmaAlone.h"

namespace fv_inject_test {
namespace {

constexpr EFI_GUID kLzmaSectionGuid = {
    0xEE4E5898, 0x3914, 0x4259, {0x9D, 0x6E, 0xDC, 0x7B, 0xD7, 0x94, 0x03, 0xCF}};
constexpr EFI_GUID kMainVolumeName = {0x22222222, 0x1111, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
constexpr EFI_GUID kPeiVolumeName = {0x22222222, 0x1111, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};
constexpr EFI_GUID kDxeVolumeName = {0x22222222, 0x1111, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}};
constexpr EFI_GUID kSecVolumeName = {0x22222222, 0x1111, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 4}};
constexpr EFI_GUID kPadName = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

uint64_t ReadLe(const uint8_t *Bytes, size_t Count) {
  uint64_t Value = 0;
  for (size_t Index = 0; Index < Count; Index++) Value |= static_cast<uint64_t>(Bytes[Index]) << (8 * Index);
  return Value;
}

void Append(Bytes *Out, const Bytes &More) {
  Out->resize((Out->size() + 3) & ~static_cast<size_t>(3), 0);
  Out->insert(Out->end(), More.begin(), More.end());
}

Bytes BuildPayload(const SyntheticLayout &Layout, SyntheticImage *Result) {
  sim::FvImageBuilder Pei;
  Pei.SetFvName(kPeiVolumeName);
  Pei.AddFile({kPeimFile, EFI_FV_FILETYPE_PEIM, {{EFI_SECTION_PE32, PseudoRandom(600, 1)}}});
  sim::FvImageBuilder Dxe;
  Dxe.SetFvName(kDxeVolumeName);
  if (Layout.WithDxeCore) {
    Dxe.AddFile({kDxeCoreFile, EFI_FV_FILETYPE_DXE_CORE, {{EFI_SECTION_PE32, PseudoRandom(900, 2)}}});
  }
  Dxe.AddFile({kDxeDriverFile,
               EFI_FV_FILETYPE_DRIVER,
               {{EFI_SECTION_DXE_DEPEX, {0x06, 0x08}}, {EFI_SECTION_PE32, PseudoRandom(700, 3)}}});
  Bytes DxeVolume = Dxe.Build();
  GrowVolume(&DxeVolume, Layout.DxeVolumeLength);

  // As in OVMF: a raw section first, so the volumes land 16-byte aligned.
  Bytes Payload = sim::BuildFfsSection({EFI_SECTION_RAW, Bytes(0x78, 0)});
  Append(&Payload, sim::BuildFfsSection({EFI_SECTION_FIRMWARE_VOLUME_IMAGE, Pei.Build()}));
  Payload.resize((Payload.size() + 3) & ~static_cast<size_t>(3), 0);
  Result->DxeOffsetInPayload = Payload.size() + sizeof(EFI_COMMON_SECTION_HEADER);
  Append(&Payload, sim::BuildFfsSection({EFI_SECTION_FIRMWARE_VOLUME_IMAGE, DxeVolume}));
  Result->DxeVolume = DxeVolume;
  Result->PayloadSize = Payload.size();
  return Payload;
}

// The body of the GUID-defined section: its 20-byte header, then the stream.
Bytes LzmaSectionBody(const Bytes &Payload) {
  Bytes Stream;
  std::string Error;
  fv_inject::EncodeLzmaAlone(Payload, 0x5D, 1u << 20, &Stream, &Error);
  Bytes Body(20, 0);
  std::memcpy(Body.data(), &kLzmaSectionGuid, sizeof(EFI_GUID));
  Body[16] = 24;    // data offset: 4-byte section header + 20
  Body[18] = 0x01;  // processing required
  Body.insert(Body.end(), Stream.begin(), Stream.end());
  return Body;
}

}  // namespace

void GrowVolume(Bytes *Volume, size_t Length) {
  Volume->resize(Length, 0xFF);
  const uint64_t FvLength = Length;
  std::memcpy(Volume->data() + 32, &FvLength, sizeof(FvLength));
  const uint32_t Blocks = static_cast<uint32_t>(Length / 0x1000);
  std::memcpy(Volume->data() + 56, &Blocks, sizeof(Blocks));
  const size_t HeaderLength = ReadLe(Volume->data() + 48, 2);
  (*Volume)[50] = (*Volume)[51] = 0;
  const uint16_t Checksum = static_cast<uint16_t>(-sim::Sum16(Volume->data(), HeaderLength));
  std::memcpy(Volume->data() + 50, &Checksum, sizeof(Checksum));
}

SyntheticImage BuildSyntheticImage(const SyntheticLayout &Layout) {
  SyntheticImage Result;
  Bytes Payload = BuildPayload(Layout, &Result);
  sim::FvImageBuilder Main;
  Main.SetFvName(kMainVolumeName);
  if (Layout.WithLzmaSection) {
    Main.AddFile({kCompressedFile, 0x0B, {{EFI_SECTION_GUID_DEFINED, LzmaSectionBody(Payload)}}});
  } else {
    Main.AddFile({kCompressedFile, 0x0B, {{EFI_SECTION_FIRMWARE_VOLUME_IMAGE, Result.DxeVolume}}});
  }
  if (Layout.PadBeforeTrailingFile != 0) {
    const size_t PadBody =
        Layout.PadBeforeTrailingFile - sizeof(EFI_FFS_FILE_HEADER) - sizeof(EFI_COMMON_SECTION_HEADER);
    Main.AddFile({kPadName, EFI_FV_FILETYPE_FFS_PAD, {{EFI_SECTION_RAW, Bytes(PadBody, 0xFF)}}});
    Main.AddRawFile(kTrailingFile, PseudoRandom(300, 4), EFI_FV_FILETYPE_FREEFORM);
  }
  Bytes MainVolume = Main.Build();
  GrowVolume(&MainVolume, Layout.MainVolumeLength);
  sim::FvImageBuilder Sec;
  Sec.SetFvName(kSecVolumeName);
  Sec.AddRawFile(kSecFile, PseudoRandom(200, 5), EFI_FV_FILETYPE_RAW);
  Bytes SecVolume = Sec.Build();
  Result.Image = MainVolume;
  Result.Image.insert(Result.Image.end(), SecVolume.begin(), SecVolume.end());
  Result.MainVolumeLength = MainVolume.size();
  return Result;
}

std::optional<Bytes> StrictLzmaDecode(const uint8_t *Stream, size_t Size) {
  if (Size < 13) return std::nullopt;
  const uint8_t Properties = Stream[0];
  const uint64_t Expected = ReadLe(Stream + 5, 8);
  if (Properties >= 225 || Expected > (64u << 20)) return std::nullopt;
  lzma_options_lzma Options{};
  Options.dict_size = static_cast<uint32_t>(ReadLe(Stream + 1, 4));
  Options.lc = Properties % 9;
  Options.lp = (Properties / 9) % 5;
  Options.pb = Properties / 45;
  Options.ext_flags = 0;  // an end marker is an error
  Options.ext_size_low = static_cast<uint32_t>(Expected);
  Options.ext_size_high = static_cast<uint32_t>(Expected >> 32);
  lzma_filter Filters[] = {{LZMA_FILTER_LZMA1EXT, &Options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream Decoder = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&Decoder, Filters) != LZMA_OK) return std::nullopt;
  Bytes Out(Expected + 1);
  Decoder.next_in = Stream + 13;
  Decoder.avail_in = Size - 13;
  Decoder.next_out = Out.data();
  Decoder.avail_out = Out.size();
  lzma_ret Result = lzma_code(&Decoder, LZMA_FINISH);
  Out.resize(Out.size() - Decoder.avail_out);
  lzma_end(&Decoder);
  if (Result != LZMA_STREAM_END || Out.size() != Expected) return std::nullopt;
  return Out;
}

bool OpenImage(const Bytes &Image, size_t MainVolumeLength, OpenedImage *Out, std::string *Why) {
  Bytes Main(Image.begin(), Image.begin() + MainVolumeLength);
  sim::FvImageReader Reader(Main);
  if (!Reader.Parse()) {
    *Why = "main volume: " + Reader.Error();
    return false;
  }
  for (const sim::FvFileView &File : Reader.Files()) {
    if (File.Type != 0x0B) continue;
    for (const sim::FvSectionView &Section : Reader.Sections(File)) {
      if (Section.Type != EFI_SECTION_GUID_DEFINED || Section.DataSize < 20) continue;
      const size_t DataOffset = ReadLe(Main.data() + Section.DataOffset + 16, 2);
      const size_t SectionStart = Section.DataOffset - sizeof(EFI_COMMON_SECTION_HEADER);
      const size_t SectionSize = Section.DataSize + sizeof(EFI_COMMON_SECTION_HEADER);
      if (DataOffset > SectionSize) {
        *Why = "the GUID-defined section's data offset is past its end";
        return false;
      }
      std::optional<Bytes> Payload =
          StrictLzmaDecode(Main.data() + SectionStart + DataOffset, SectionSize - DataOffset);
      if (!Payload) {
        *Why = "the LZMA stream does not decode strictly";
        return false;
      }
      Out->FileOffset = File.Offset;
      Out->FileSize = File.Size;
      Out->FileChecksum = Main[File.Offset + 17];
      Out->Payload = *Payload;
      return true;
    }
  }
  *Why = "no firmware-volume file with a GUID-defined section";
  return false;
}

Bytes PseudoRandom(size_t Size, uint32_t Seed) {
  Bytes Out(Size);
  uint32_t State = Seed * 2654435761u + 1;
  for (uint8_t &Byte : Out) {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    Byte = static_cast<uint8_t>(State);
  }
  return Out;
}

std::string GuidString(const EFI_GUID &Guid) {
  return sim::GuidText(Guid, sim::GuidCase::Upper);
}

Bytes Ucs2(const std::string &Text) {
  Bytes Out;
  for (char Character : Text) Out.insert(Out.end(), {static_cast<uint8_t>(Character), 0});
  Out.insert(Out.end(), {0, 0});
  return Out;
}

std::optional<std::string> FindProgram(const std::string &Name) {
  const char *Path = std::getenv("PATH");
  std::stringstream Dirs(Path == nullptr ? "" : Path);
  std::string Dir;
  while (std::getline(Dirs, Dir, ':')) {
    std::string Candidate = Dir + "/" + Name;
    if (!Dir.empty() && access(Candidate.c_str(), X_OK) == 0) return Candidate;
  }
  return std::nullopt;
}

int RunCommand(const std::string &Command, std::string *Output) {
  return test_support::RunHostCommand(Command + " 2>&1", Output);
}

}  // namespace fv_inject_test
