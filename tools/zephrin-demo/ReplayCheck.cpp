#include "tools/zephrin-demo/ReplayCheck.h"

#include <algorithm>

#include "acpi_dxe/capture/AmlPrimitives.h"
#include "common/ByteReader.h"

namespace demo {

namespace {

constexpr UINT32 kFacs = SIGNATURE_32('F', 'A', 'C', 'S');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');
constexpr UINTN kChecksumOffset = 9;

bool BelongsTo(const sample::MetaElement &Element, const TableImage &Table) {
  if (Element.Signature != Table.Signature) return false;
  return Table.Signature != kSsdt || Element.OemTableId == Table.OemTableId;
}

void AddConstant(UINT32 ValueOffset, UINT8 Prefix, std::vector<ByteRange> *Ranges) {
  UINTN Width = AmlIntegerPrefixWidth(Prefix);
  if (Width != 0) Ranges->push_back({ValueOffset, Width});
}

bool Inside(UINTN Offset, const std::vector<ByteRange> &Ranges) {
  for (const ByteRange &Range : Ranges)
    if (Offset >= Range.Offset && Offset - Range.Offset < Range.Length) return true;
  return false;
}

// The captured table paired with Installed: same signature and OemTableId, and
// the same occurrence among the tables that share them.
const TableImage *Counterpart(const std::vector<TableImage> &Captured,
                              const std::vector<TableImage> &Installed, size_t Index) {
  const TableImage &Table = Installed[Index];
  size_t Occurrence = 0;
  for (size_t Before = 0; Before < Index; Before++)
    if (Installed[Before].Signature == Table.Signature && Installed[Before].OemTableId == Table.OemTableId)
      Occurrence++;
  for (const TableImage &Candidate : Captured) {
    if (Candidate.Signature != Table.Signature || Candidate.OemTableId != Table.OemTableId) continue;
    if (Occurrence-- == 0) return &Candidate;
  }
  return nullptr;
}

}  // namespace

TableImage MakeTableImage(std::vector<UINT8> Bytes) {
  TableImage Image;
  ByteReader Reader(Bytes.data(), Bytes.size());
  Reader.PeekAt32(0, &Image.Signature);
  if (Image.Signature != kFacs) Reader.PeekAt64(16, &Image.OemTableId);
  Image.Bytes = std::move(Bytes);
  return Image;
}

std::string SignatureText(UINT32 Signature) {
  std::string Text(reinterpret_cast<const char *>(&Signature), 4);
  for (char &Character : Text)
    if (Character < 0x20 || Character > 0x7E) Character = '.';
  return Text;
}

std::string OemTableIdText(UINT64 OemTableId) {
  std::string Text(reinterpret_cast<const char *>(&OemTableId), 8);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\0')) Text.pop_back();
  for (char &Character : Text)
    if (Character < 0x20 || Character > 0x7E) Character = '.';
  return Text;
}

std::vector<ByteRange> PatchedRanges(const TableImage &Table, const sample::MetaRecords &Records) {
  std::vector<ByteRange> Ranges;
  if (Table.Signature != kFacs) Ranges.push_back({kChecksumOffset, 1});
  for (const sample::MetaElement &Element : Records.Elements) {
    if (!BelongsTo(Element, Table)) continue;
    if (Element.SubType == 7 && Element.IntegerType != 2) {
      AddConstant(Element.First.ValueOffset, Element.First.Prefix, &Ranges);
    } else if (Element.SubType == 5 && Element.NvsType == 2) {
      AddConstant(Element.First.ValueOffset, Element.First.Prefix, &Ranges);
      AddConstant(Element.Second.ValueOffset, Element.Second.Prefix, &Ranges);
    } else if (Element.SubType == 5 && Element.NvsType == 1) {
      AddConstant(Element.First.ValueOffset, Element.First.Prefix, &Ranges);
      UINT32 LengthAt = 0;
      UINT8 LengthPrefix = 0;
      if (sample::RegionLengthConstant(Table.Bytes, Element.First, &LengthAt, &LengthPrefix))
        AddConstant(LengthAt, LengthPrefix, &Ranges);
    }
  }
  return Ranges;
}

void VerifyResult::Add(const VerifyResult &Other) {
  Tables += Other.Tables;
  Matching += Other.Matching;
  Differing.insert(Differing.end(), Other.Differing.begin(), Other.Differing.end());
}

VerifyResult VerifyReplay(const std::vector<TableImage> &Captured, const std::vector<TableImage> &Installed,
                          const sample::MetaRecords &Records) {
  VerifyResult Result;
  for (size_t Index = 0; Index < Installed.size(); Index++) {
    const TableImage &Table = Installed[Index];
    Result.Tables++;
    TableDifference Difference{Table.Signature, Table.OemTableId, -1, ""};
    const TableImage *Original = Counterpart(Captured, Installed, Index);
    if (Original == nullptr) {
      Difference.What = "no such table was captured";
      Result.Differing.push_back(Difference);
      continue;
    }
    std::vector<ByteRange> Ranges = PatchedRanges(*Original, Records);
    size_t Common = std::min(Original->Bytes.size(), Table.Bytes.size());
    for (size_t Offset = 0; Offset < Common && Difference.Offset < 0; Offset++) {
      if (Original->Bytes[Offset] != Table.Bytes[Offset] && !Inside(Offset, Ranges)) {
        Difference.Offset = static_cast<long long>(Offset);
        Difference.What = "bytes differ";
      }
    }
    if (Difference.Offset < 0 && Original->Bytes.size() != Table.Bytes.size()) {
      Difference.Offset = static_cast<long long>(Common);
      Difference.What = "lengths differ (" + std::to_string(Original->Bytes.size()) + " captured, " +
                        std::to_string(Table.Bytes.size()) + " installed)";
    }
    if (Difference.Offset < 0) {
      Result.Matching++;
    } else {
      Result.Differing.push_back(Difference);
    }
  }
  return Result;
}

std::vector<PatchedValue> ReadPatchedValues(const std::vector<TableImage> &Captured,
                                            const std::vector<TableImage> &Installed,
                                            const sample::MetaRecords &Records) {
  std::vector<PatchedValue> Values;
  for (size_t Index = 0; Index < Installed.size(); Index++) {
    const TableImage *Original = Counterpart(Captured, Installed, Index);
    if (Original == nullptr) continue;
    const std::vector<UINT8> &Before = Original->Bytes;
    const std::vector<UINT8> &After = Installed[Index].Bytes;
    for (const sample::MetaElement &Element : Records.Elements) {
      if (!BelongsTo(Element, *Original)) continue;
      PatchedValue Value;
      Value.Table = sample::MetaTableName(Element.Signature, Element.OemTableId);
      Value.Path = Element.First.Path;
      bool Read =
          sample::ReadAmlConstant(Before, Element.First.ValueOffset, Element.First.Prefix, &Value.Before) &&
          sample::ReadAmlConstant(After, Element.First.ValueOffset, Element.First.Prefix, &Value.After);
      if (Element.SubType == 5 && (Element.NvsType == 1 || Element.NvsType == 2)) {
        Value.IsRegion = true;
        UINT32 LengthAt = Element.Second.ValueOffset;
        UINT8 LengthPrefix = Element.Second.Prefix;
        if (Element.NvsType == 1)
          Read = Read && sample::RegionLengthConstant(Before, Element.First, &LengthAt, &LengthPrefix);
        Read = Read && sample::ReadAmlConstant(Before, LengthAt, LengthPrefix, &Value.LengthBefore) &&
               sample::ReadAmlConstant(After, LengthAt, LengthPrefix, &Value.LengthAfter);
      } else if (Element.SubType != 7 || Element.IntegerType == 2) {
        continue;  // Type 2 regions live in their parent's fields; not-stored integers stay
      }
      if (Read) Values.push_back(Value);
    }
  }
  return Values;
}

}  // namespace demo
