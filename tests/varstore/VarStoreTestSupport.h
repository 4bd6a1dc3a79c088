// Fixtures for the variable store tests: OVMF-written stores, small stores
// built here, named mutations, and a runner for the efi-varstore program.
#ifndef ZEPHRIN_TESTS_VARSTORE_VAR_STORE_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_VARSTORE_VAR_STORE_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "sim/VarStoreImage.h"
#include "tests/support/HostFiles.h"

namespace varstore_test {

using Bytes = std::vector<uint8_t>;

inline constexpr EFI_GUID kCacheGuid = {
    0x79660E97, 0x514B, 0x4CFC, {0x87, 0x3F, 0x02, 0xB3, 0xAB, 0x00, 0xC0, 0x86}};
inline constexpr EFI_GUID kGlobalGuid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
inline constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// Files in tests/fixtures/varstore/ (see its README.md); empty when missing.
Bytes Fixture(const std::string &Name);
// OVMF's pristine variable file from the installed ovmf package; empty when absent.
Bytes PristineOvmfVars();

// A store of the given header form holding Variables, in a volume of Size bytes
// (volume header, store header, records), checksum fixed.
Bytes SmallStore(bool Authenticated, const std::vector<sim::StoredVariable> &Variables, size_t Size = 0x2000);
// Offset of the first record of a store at the start of a file.
size_t FirstRecord(const Bytes &Image);
void Put16(Bytes *Data, size_t Offset, uint16_t Value);
void Put32(Bytes *Data, size_t Offset, uint32_t Value);
// Recomputes the volume header checksum of the volume at FvOffset.
void FixVolumeChecksum(Bytes *Data, size_t FvOffset);
sim::StoredVariable Variable(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                             const Bytes &Data);

// A named change to a sound file, and the message its reader refuses it with.
struct MutationRow {
  const char *Name;
  std::function<void(Bytes *)> Mutate;
  const char *Message;
};
inline void PrintTo(const MutationRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

struct ToolRun {
  int Exit = -1;
  std::string Stdout;
  std::string Stderr;
};
ToolRun RunTool(const std::vector<std::string> &Arguments);
std::string TempPath(const std::string &Name);
using test_support::ReadHostFileOrEmpty;
using test_support::WriteHostFile;

}  // namespace varstore_test

#endif  // ZEPHRIN_TESTS_VARSTORE_VAR_STORE_TEST_SUPPORT_H_
