// The host-testable half of the fw_cfg reader: the directory search and the
// boot-path item.
#include "common/ByteReader.h"
#include "tests/qemu/FwCfg.h"

namespace {

UINT32 BigEndian32(const UINT8 *Bytes) {
  return (static_cast<UINT32>(Bytes[0]) << 24) | (static_cast<UINT32>(Bytes[1]) << 16) |
         (static_cast<UINT32>(Bytes[2]) << 8) | Bytes[3];
}

UINT16 BigEndian16(const UINT8 *Bytes) {
  return static_cast<UINT16>((Bytes[0] << 8) | Bytes[1]);
}

// 1 when the entry's name equals Name, 0 when not, -1 when it has no
// terminator (QEMU always writes one; a directory without it is not fw_cfg's).
int CompareEntryName(const UINT8 *Entry, const CHAR8 *Name) {
  const UINT8 *EntryName = Entry + OFFSET_OF(FW_CFG_FILE, Name);
  UINTN Length = 0;
  while (Length < FW_CFG_MAX_FILE_PATH && EntryName[Length] != 0) Length++;
  if (Length == FW_CFG_MAX_FILE_PATH) return -1;
  for (UINTN Index = 0; Index <= Length; Index++) {
    if (static_cast<UINT8>(Name[Index]) != EntryName[Index]) return 0;
  }
  return 1;
}

bool StartsWith(const CHAR8 *Text, UINTN Length, const CHAR8 *Word, UINTN *WordLength) {
  UINTN Index = 0;
  for (; Word[Index] != 0; Index++) {
    if (Index >= Length || Text[Index] != Word[Index]) return false;
  }
  *WordLength = Index;
  return true;
}

}  // namespace

EFI_STATUS FwCfgFindInDirectory(const UINT8 *Directory, UINTN DirectorySize, const CHAR8 *Name,
                                UINT16 *Select, UINT32 *Size) {
  if (Directory == NULL || Name == NULL || Select == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  ByteReader Reader(Directory, DirectorySize);
  UINT8 CountBytes[4];
  if (!Reader.ReadBytes(CountBytes, sizeof(CountBytes))) return EFI_COMPROMISED_DATA;
  UINT32 Count = BigEndian32(CountBytes);
  if (Count > Reader.Remaining() / sizeof(FW_CFG_FILE)) return EFI_COMPROMISED_DATA;
  for (UINT32 Index = 0; Index < Count; Index++) {
    const UINT8 *Entry = Directory + Reader.Position();
    Reader.Skip(sizeof(FW_CFG_FILE));
    int Match = CompareEntryName(Entry, Name);
    if (Match < 0) return EFI_COMPROMISED_DATA;
    if (Match == 1) {
      *Size = BigEndian32(Entry + OFFSET_OF(FW_CFG_FILE, Size));
      *Select = BigEndian16(Entry + OFFSET_OF(FW_CFG_FILE, Select));
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

UINT8 FwCfgParseBootPath(const CHAR8 *Text, UINTN Length) {
  if (Text == NULL) return 0;
  // QEMU's string= items carry no terminator; a file= item written by echo ends
  // in a line feed. Anything after the word other than those is refused.
  static const struct {
    const CHAR8 *Word;
    UINT8 Path;
  } kPaths[] = {{"custom", 1}, {"certified", 2}};
  for (const auto &Candidate : kPaths) {
    UINTN WordLength = 0;
    if (!StartsWith(Text, Length, Candidate.Word, &WordLength)) continue;
    UINTN Rest = WordLength;
    while (Rest < Length && (Text[Rest] == '\n' || Text[Rest] == '\r' || Text[Rest] == 0)) Rest++;
    if (Rest == Length) return Candidate.Path;
  }
  return 0;
}
