// The acpidump text reader and the arranging of its tables for publishing, on
// arbitrary text: nothing may read outside the text or a table's bytes (ASan),
// every table handed on must hold exactly the bytes its header declares, and
// presenting an older FADT as 6.3 must leave one the check accepts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/AcpiDump.h"
#include "uefi/Acpi.h"

namespace {

void Check(bool Holds, const char *What) {
  if (Holds) return;
  std::fprintf(stderr, "acpi_dump_fuzzer: %s\n", What);
  std::abort();
}

UINT32 HeaderLength(const sim::DumpTable &Table) {
  UINT32 Length = 0;
  std::memcpy(&Length, Table.Bytes.data() + OFFSET_OF(EFI_ACPI_COMMON_HEADER, Length), sizeof(Length));
  return Length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size > 0x100000) return 0;
  std::vector<sim::DumpTable> Dumped;
  std::string Error;
  if (!sim::ParseAcpiDumpText(std::string(reinterpret_cast<const char *>(Data), Size), &Dumped, &Error)) {
    Check(!Error.empty(), "a refused dump without a reason");
    return 0;
  }
  std::vector<sim::DumpTable> Arranged;
  std::vector<std::string> Notes;
  if (!sim::ArrangeDumpTables(Dumped, &Arranged, &Notes, &Error)) {
    Check(!Error.empty(), "refused tables without a reason");
    return 0;
  }
  for (sim::DumpTable &Table : Arranged) {
    Check(Table.Bytes.size() >= sizeof(EFI_ACPI_COMMON_HEADER),
          "an arranged table shorter than its common header");
    Check(HeaderLength(Table) == Table.Bytes.size(),
          "an arranged table whose Length disagrees with its bytes");
    if (Table.Signature != "FACP") continue;
    sim::PresentFadtAs63(&Table.Bytes);
    Check(!sim::PresentFadtAs63(&Table.Bytes), "a FADT presented as 6.3 is not taken as 6.3");
  }
  return 0;
}
