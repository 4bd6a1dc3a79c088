// The AML primitives and the name finder over arbitrary table bytes. The first
// eight input bytes choose the locator and a Type 2 field; the rest is the table,
// whose Length field is forced to the bytes actually present (the primitives'
// callers guarantee that much). Sanitizers judge; results are checked only for
// the promises the code makes: a refused write changes nothing, and every object
// the walk reports lies inside the table, its last NameSeg where it says.
// Seeds: fuzz/corpus/aml/, and every DSDT and SSDT of the shared dumps, which
// fuzz/seeds.sh extracts at fuzz time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acpi_dxe/capture/AmlNameFinder.h"
#include "acpi_dxe/capture/AmlPrimitives.h"

namespace {

constexpr size_t kParameterBytes = 8;
constexpr size_t kMaxTable = 1 << 20;

uint16_t Le16(const uint8_t *Bytes) {
  return static_cast<uint16_t>(Bytes[0] | (Bytes[1] << 8));
}

// The object's last NameSeg is the last segment of its path, and its terms lie
// inside the table.
bool ObjectInsideTable(const std::vector<UINT8> &Table, const AML_NAMED_OBJECT &Object) {
  if (Object.Path.Depth == 0) return Object.NameOffset == 0;
  if (Object.NameOffset < 36 || Object.NameOffset > Table.size() - 4) return false;
  UINT32 Seg = 0;
  memcpy(&Seg, &Table[Object.NameOffset], 4);
  if (Seg != Object.Path.Segs[Object.Path.Depth - 1] || Object.OpcodeOffset >= Object.NameOffset) return false;
  if (Object.Kind != AmlNamedObjectName && Object.Kind != AmlNamedObjectOpRegion) return true;
  const UINT8 Width = AmlIntegerPrefixWidth(Object.PrefixByte);
  return Object.TermOffset < Table.size() && Table[Object.TermOffset] == Object.PrefixByte &&
         (Width == 0 || Object.TermOffset + 1 + Width <= Table.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < kParameterBytes + 8 || Size - kParameterBytes > kMaxTable) return 0;
  std::vector<UINT8> Table(Data + kParameterBytes, Data + Size);
  const UINT32 Length = static_cast<UINT32>(Table.size());
  memcpy(Table.data() + 4, &Length, sizeof(Length));

  AML_OBJECT_LOCATOR Locator{};
  Locator.NameOffset = Le16(Data);
  Locator.PrefixByte = Data[2];
  Locator.ValueOffset = Le16(Data + 3);

  UINT64 Value = 0, Address = 0, RegionLength = 0;
  UINT8 Width = 0;
  ExtractNumericConstantFromAml(Table.data(), &Locator, &Value, &Width);
  ExtractOpRegionAddressAndLengthFromAml(Table.data(), &Locator, &Address, &RegionLength);

  const std::vector<UINT8> Before = Table;
  if (EFI_ERROR(SetNumericConstantInAml(Table.data(), &Locator, 0x0123456789ABCDEFULL)) && Table != Before) {
    __builtin_trap();
  }

  AML_NAMED_OBJECT Found{};
  std::vector<AML_METHOD_SLOT> Slots(AmlMethodSlotsFor(Length));
  AML_WALK Walk;
  EFI_STATUS Status = AmlWalkStart(&Walk, Before.data(), Slots.data(), Slots.size());
  while (Status == EFI_SUCCESS && (Status = AmlWalkNext(&Walk, &Found)) == EFI_SUCCESS) {
    if (!ObjectInsideTable(Before, Found)) __builtin_trap();
  }
  for (const char *Path : {"\\GNVS", "\\_SB.PCI0.PLID", "\\XXXX.YYYY.ZZZZ"}) {
    if (AmlFindNamedObject(Before.data(), Path, Slots.data(), Slots.size(), &Found) == EFI_SUCCESS) {
      AmlBuildLocator(Path, &Found, &Locator);
      ExtractNumericConstantFromAml(Before.data(), &Locator, &Value, &Width);
    }
  }

  // The table doubles as the parent region of a Type 2 field.
  ExtractType2NvsValue(reinterpret_cast<UINTN>(Table.data()), Table.size(), Data[5], Data[6], Data[7], &Value,
                       &Width);
  SetType2NvsValue(reinterpret_cast<UINTN>(Table.data()), Table.size(), Data[5], Data[6], Data[7], Value);
  return 0;
}
