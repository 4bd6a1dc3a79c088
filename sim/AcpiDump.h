// A real machine's ACPI tables, read from what Linux tools leave behind: the text
// `acpidump` prints (one hex dump per table, headed "SIG @ 0xADDRESS"), or a
// folder of binary tables (`*.dat` as `acpixtract -a` writes them, or the files
// of /sys/firmware/acpi/tables). The hex text is parsed here; every table's
// bytes are then checked with the one checked reader against its own Length.
//
// ArrangeDumpTables turns the list into what a platform publishes: the FADT
// first, then the other tables in the order the dump's XSDT lists them (by the
// "@ 0xADDRESS" headers), or in dump order when the dump has no usable XSDT;
// the RSDP, XSDT and RSDT are left out (the platform builds its own).
#ifndef ZEPHRIN_SIM_ACPI_DUMP_H_
#define ZEPHRIN_SIM_ACPI_DUMP_H_

#include <string>
#include <vector>

#include "uefi/UefiBaseType.h"

namespace sim {

struct DumpTable {
  std::string Signature;  // as the dump names it ("DSDT", "RSD PTR")
  UINT64 Address = 0;     // from the "@ 0x..." header; 0 when unknown
  std::string Origin;     // "line N" of the text, or the file name, for messages
  std::vector<UINT8> Bytes;
};

// Parses acpidump text. False with *Error naming the table and what is wrong
// (hex not in sequence, truncated, a Length that disagrees with the bytes).
bool ParseAcpiDumpText(const std::string &Text, std::vector<DumpTable> *Tables, std::string *Error);
bool ReadAcpiDumpFile(const std::string &Path, std::vector<DumpTable> *Tables, std::string *Error);

// Reads every table file of a folder (*.dat, or signature-named files as in
// /sys/firmware/acpi/tables), in natural name order (ssdt2 before ssdt10).
bool ReadAcpiTableFolder(const std::string &Dir, std::vector<DumpTable> *Tables, std::string *Error);

// Checks and orders the tables for publishing (see the file comment). Refuses
// a second FADT, FACS or DSDT, a missing FADT, and tables too short for their
// header. *Notes receives one line per choice made (order source).
bool ArrangeDumpTables(const std::vector<DumpTable> &Dumped, std::vector<DumpTable> *Arranged,
                       std::vector<std::string> *Notes, std::string *Error);

// The driver captures only an ACPI 6.3 FADT (276 bytes, revision 6, minor 3).
// An older FADT is presented in that form: its fields kept at their offsets,
// the fields it lacks zero, revision and minor version raised. Returns false
// when the FADT already is 6.3 (nothing changed).
bool PresentFadtAs63(std::vector<UINT8> *Fadt);

}  // namespace sim

#endif  // ZEPHRIN_SIM_ACPI_DUMP_H_
