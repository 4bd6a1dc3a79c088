#include "tests/compress/CompressTestSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"

namespace compress_test {

std::string VectorDir() {
  std::string Dir = std::string(ZEPHRIN_SHARED_DIR) + "/vectors/uefi-compression";
  std::ifstream Manifest(Dir + "/MANIFEST.tsv");
  return Manifest.good() ? Dir : std::string();
}

Bytes PseudoRandomBytes(size_t Size, uint32_t Seed) {
  Bytes Out(Size);
  uint32_t State = Seed * 2654435761u + 1;
  for (uint8_t &Byte : Out) {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    Byte = static_cast<uint8_t>(State >> 24);
  }
  return Out;
}

Bytes RepeatingText(size_t Size) {
  static const char kText[] =
      "DefinitionBlock (\"DSDT.aml\", \"DSDT\", 2, \"ZEPHRN\", \"PLATFORM\", 0x00000001) { Scope (_SB) { "
      "Device (PCI0) { Name (_HID, EisaId (\"PNP0A08\")) Method (_STA, 0) { Return (0x0F) } } } }\n";
  Bytes Out(Size);
  for (size_t Index = 0; Index < Size; Index++)
    Out[Index] = static_cast<uint8_t>(kText[Index % (sizeof(kText) - 1)]);
  return Out;
}

GuardedBuffer::GuardedBuffer(size_t Size, Align Where) : mSize(Size) {
  const size_t Page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t DataPages = (Size + Page - 1) / Page;
  mMappingSize = (DataPages + 1) * Page;
  void *Mapping = mmap(nullptr, mMappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Mapping == MAP_FAILED) {
    ADD_FAILURE() << "mmap of " << mMappingSize << " bytes failed";
    mMappingSize = 0;
    return;
  }
  mMapping = static_cast<uint8_t *>(Mapping);
  if (Where == Align::End) {
    mprotect(mMapping + DataPages * Page, Page, PROT_NONE);
    mData = mMapping + DataPages * Page - Size;
  } else {
    mprotect(mMapping, Page, PROT_NONE);
    mData = mMapping + Page;
  }
}

GuardedBuffer::GuardedBuffer(const Bytes &Contents, Align Where) : GuardedBuffer(Contents.size(), Where) {
  if (mData != nullptr && !Contents.empty()) std::memcpy(mData, Contents.data(), Contents.size());
}

GuardedBuffer::~GuardedBuffer() {
  if (mMapping != nullptr) munmap(mMapping, mMappingSize);
}

DecodeResult DecodeGuarded(const Bytes &Stream, GuardedBuffer::Align OutputAlign) {
  DecodeResult Result;
  GuardedBuffer Source(Stream, GuardedBuffer::Align::End);
  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  Result.InfoStatus = GetInfo(Source.Data(), static_cast<UINT32>(Stream.size()), &DstSize, &ScratchSize);
  if (EFI_ERROR(Result.InfoStatus)) return Result;
  EXPECT_EQ(ScratchSize, static_cast<UINT32>(DECOMPRESS_SCRATCH_SIZE));
  GuardedBuffer Output(DstSize, OutputAlign);
  GuardedBuffer Scratch(ScratchSize, GuardedBuffer::Align::End);
  Result.Status = Decompress(Source.Data(), Output.Data(), Scratch.Data());
  Result.Output = Output.Contents();
  return Result;
}

Bytes WithHeader(const Bytes &Body, uint32_t OrigSize, std::optional<uint32_t> CompSize) {
  uint32_t Comp = CompSize.value_or(static_cast<uint32_t>(Body.size()));
  Bytes Out;
  for (uint32_t Value : {Comp, OrigSize}) {
    for (int Shift = 0; Shift < 32; Shift += 8) Out.push_back(static_cast<uint8_t>(Value >> Shift));
  }
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}

uint32_t HeaderField(const Bytes &Stream, size_t Offset) {
  return Stream[Offset] | (Stream[Offset + 1] << 8) | (Stream[Offset + 2] << 16) |
         (static_cast<uint32_t>(Stream[Offset + 3]) << 24);
}

void BitWriter::Put(uint32_t NumBits, uint32_t Value) {
  for (uint32_t Bit = NumBits; Bit-- > 0;) {
    mAcc = (mAcc << 1) | ((Value >> Bit) & 1);
    if (++mCount == 8) {
      mBytes.push_back(static_cast<uint8_t>(mAcc));
      mAcc = 0;
      mCount = 0;
    }
  }
}

Bytes BitWriter::Finish() const {
  Bytes Out = mBytes;
  if (mCount != 0) Out.push_back(static_cast<uint8_t>(mAcc << (8 - mCount)));
  return Out;
}

void CanonicalCode::Put(BitWriter &Out, uint32_t Symbol) const {
  Out.Put(Len.at(Symbol), Code.at(Symbol));
}

CanonicalCode MakeCanonicalCode(const std::vector<uint8_t> &Lengths) {
  CanonicalCode Result{Lengths, std::vector<uint16_t>(Lengths.size(), 0)};
  uint32_t Next = 0;
  for (uint32_t Len = 1; Len <= 16; Len++) {
    for (size_t Symbol = 0; Symbol < Lengths.size(); Symbol++) {
      if (Lengths[Symbol] == Len) Result.Code[Symbol] = static_cast<uint16_t>(Next++);
    }
    Next <<= 1;
  }
  return Result;
}

std::vector<uint8_t> BalancedLengths(size_t SetSize, const std::vector<uint32_t> &Symbols) {
  std::vector<uint8_t> Lengths(SetSize, 0);
  uint32_t Bits = 0;
  while ((1u << Bits) < Symbols.size()) Bits++;
  size_t Short = (1u << Bits) - Symbols.size();  // these take one bit less
  for (size_t Index = 0; Index < Symbols.size(); Index++) {
    Lengths.at(Symbols[Index]) = static_cast<uint8_t>(Index < Short ? Bits - 1 : Bits);
  }
  return Lengths;
}

void PutPTLengths(BitWriter &Out, const std::vector<uint8_t> &Lengths, uint32_t CountBits, int Special,
                  uint32_t ZeroRun) {
  Out.Put(CountBits, static_cast<uint32_t>(Lengths.size()));
  for (size_t Index = 0; Index < Lengths.size(); Index++) {
    uint32_t Len = Lengths[Index];
    if (Len <= 6) {
      Out.Put(3, Len);
    } else {
      Out.Put(Len - 3, (1u << (Len - 3)) - 2);
    }
    if (static_cast<int>(Index) + 1 == Special) Out.Put(2, ZeroRun);
  }
}

namespace {

// The Char&Len lengths as Extra symbols: a length k as k + 2; zero runs as
// symbol 0 (one zero), 1 (3..18 zeros, 4 more bits) or 2 (20+ zeros, 9 bits).
struct ExtraItem {
  uint32_t Symbol;
  uint32_t ExtraBits;
  uint32_t Extra;
};

std::vector<ExtraItem> ExtraItemsOf(const std::vector<uint8_t> &CLen) {
  size_t Count = CLen.size();
  while (Count > 0 && CLen[Count - 1] == 0) Count--;
  std::vector<ExtraItem> Items;
  for (size_t Index = 0; Index < Count;) {
    if (CLen[Index] != 0) {
      Items.push_back({CLen[Index++] + 2u, 0, 0});
      continue;
    }
    uint32_t Run = 0;
    while (Index < Count && CLen[Index] == 0) {
      Run++;
      Index++;
    }
    if (Run >= 20) {
      Items.push_back({2, 9, Run - 20});
    } else if (Run >= 3) {
      if (Run == 19) Items.push_back({0, 0, 0}), Run = 18;
      Items.push_back({1, 4, Run - 3});
    } else {
      for (uint32_t Zero = 0; Zero < Run; Zero++) Items.push_back({0, 0, 0});
    }
  }
  return Items;
}

}  // namespace

BlockWriter::BlockWriter(std::vector<uint32_t> CSymbols, std::vector<uint32_t> PSymbols)
    : mCSymbols(std::move(CSymbols)), mPSymbols(std::move(PSymbols)) {
  mC = mCSymbols.size() > 1 ? MakeCanonicalCode(BalancedLengths(510, mCSymbols))
                            : CanonicalCode{std::vector<uint8_t>(510, 0), std::vector<uint16_t>(510, 0)};
  mP = mPSymbols.size() > 1 ? MakeCanonicalCode(BalancedLengths(14, mPSymbols))
                            : CanonicalCode{std::vector<uint8_t>(31, 0), std::vector<uint16_t>(31, 0)};
}

BlockWriter BlockWriter::WithLengths(std::vector<uint8_t> CLengths, std::vector<uint8_t> PLengths) {
  BlockWriter Writer;
  for (uint32_t Symbol = 0; Symbol < CLengths.size(); Symbol++) {
    if (CLengths[Symbol] != 0) Writer.mCSymbols.push_back(Symbol);
  }
  for (uint32_t Symbol = 0; Symbol < PLengths.size(); Symbol++) {
    if (PLengths[Symbol] != 0) Writer.mPSymbols.push_back(Symbol);
  }
  Writer.mC = MakeCanonicalCode(CLengths);
  Writer.mP = MakeCanonicalCode(PLengths);
  return Writer;
}

void BlockWriter::PutHeader(BitWriter &Out, uint16_t CodeCount) const {
  Out.Put(16, CodeCount);
  PutCTable(Out);
  PutPTable(Out);
}

void BlockWriter::PutCTable(BitWriter &Out) const {
  if (mCSymbols.size() <= 1) {
    Out.Put(5, 0), Out.Put(5, 0), Out.Put(9, 0), Out.Put(9, mCSymbols.empty() ? 0 : mCSymbols[0]);
    return;
  }
  std::vector<ExtraItem> Items = ExtraItemsOf(mC.Len);
  std::vector<uint32_t> Used;
  for (const ExtraItem &Item : Items) {
    if (std::find(Used.begin(), Used.end(), Item.Symbol) == Used.end()) Used.push_back(Item.Symbol);
  }
  std::sort(Used.begin(), Used.end());
  CanonicalCode Extra;
  if (Used.size() == 1) {
    Out.Put(5, 0), Out.Put(5, Used[0]);
    Extra = CanonicalCode{std::vector<uint8_t>(19, 0), std::vector<uint16_t>(19, 0)};
  } else {
    std::vector<uint8_t> Lengths = BalancedLengths(19, Used);
    while (!Lengths.empty() && Lengths.back() == 0) Lengths.pop_back();
    PutPTLengths(Out, Lengths, 5, 3);
    Lengths.resize(19, 0);
    Extra = MakeCanonicalCode(Lengths);
  }
  size_t Count = mC.Len.size();
  while (Count > 0 && mC.Len[Count - 1] == 0) Count--;
  Out.Put(9, static_cast<uint32_t>(Count));
  for (const ExtraItem &Item : Items) {
    Extra.Put(Out, Item.Symbol);
    if (Item.ExtraBits != 0) Out.Put(Item.ExtraBits, Item.Extra);
  }
}

void BlockWriter::PutPTable(BitWriter &Out) const {
  if (mPSymbols.size() <= 1) {
    Out.Put(4, 0), Out.Put(4, mPSymbols.empty() ? 0 : mPSymbols[0]);
    return;
  }
  std::vector<uint8_t> Lengths = mP.Len;
  while (!Lengths.empty() && Lengths.back() == 0) Lengths.pop_back();
  PutPTLengths(Out, Lengths, 4, -1);
}

void BlockWriter::Literal(BitWriter &Out, uint8_t Byte) const {
  mC.Put(Out, Byte);
}

void BlockWriter::Match(BitWriter &Out, uint32_t Length, uint32_t Distance) const {
  mC.Put(Out, Length + 253);
  uint32_t Value = Distance - 1;
  uint32_t Bits = 0;
  while ((Value >> Bits) != 0) Bits++;
  mP.Put(Out, Bits);
  if (Bits > 1) Out.Put(Bits - 1, Value & ((1u << (Bits - 1)) - 1));
}

void PlatformTest::SetUp() {
  mPlatform = std::make_unique<sim::Platform>();
  mPlatform->SetFaultHandler([](const std::string &Fault) { ADD_FAILURE() << "platform fault: " << Fault; });
  mHobList = nullptr;  // a new boot: the cached HOB list went with the last one
  gST = mPlatform->SystemTable();
  gBS = mPlatform->BootServices();
}

void PlatformTest::TearDown() {
  EXPECT_EQ(mPlatform->LeakCheck(), "");
  gBS = nullptr;
  gST = nullptr;
  mPlatform.reset();
}

CompressResult CompressInto(const Bytes &Input, size_t Capacity) {
  CompressResult Result;
  GuardedBuffer Source(Input, GuardedBuffer::Align::End);
  GuardedBuffer Destination(Capacity, GuardedBuffer::Align::End);
  Result.DstSize = Capacity;
  Result.Status =
      Compress(Source.Data(), static_cast<UINT32>(Input.size()), Destination.Data(), &Result.DstSize);
  Result.Output = Destination.Contents();
  return Result;
}

Bytes CompressWhole(const Bytes &Input) {
  // Stored blocks do not exist in this format: random data grows by a little.
  CompressResult Result = CompressInto(Input, Input.size() + Input.size() / 8 + 64);
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  Result.Output.resize(Result.DstSize);
  return Result.Output;
}

}  // namespace compress_test
