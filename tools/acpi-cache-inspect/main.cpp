// acpi-cache-inspect: checks, decompresses and lists an AcpiDataCache variable,
// and writes the tables it stores to files.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/VarStoreImage.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"
#include "tools/acpi-cache-inspect/StoreSource.h"

namespace {

const char kProgram[] = "acpi-cache-inspect";

const char kHelp[] = R"(usage: acpi-cache-inspect [options] FILE

Checks an AcpiDataCache variable the way the driver loads it (attributes, size,
compressed header, decompression, blob stream) and lists every entry in stream
order: type, sub-type, signature, OEM table id, length, the NVS type and region
of NVS elements, and the value of integer elements.

FILE is the variable's data, either raw or as Linux shows it under
/sys/firmware/efi/efivars/AcpiDataCache-79660e97-514b-4cfc-873f-02b3ab00c086
(a 4-byte little-endian attribute value, then the data).

options:
  --raw              FILE is the raw data; attributes are taken as NV+BS (0x3)
  --efivarfs         FILE starts with the 4-byte attribute prefix
                     Without either, FILE is taken as the efivarfs form when its
                     first 4 bytes are 0x00000003 or 0x00000007, unless the file
                     is exactly that value + 8 bytes long (a raw stream whose
                     compressed-size field holds it); otherwise as raw data.
  --varstore         FILE is a variable store image: a virtual machine's
                     OVMF_VARS.fd, or a board's flash image (or its NVRAM
                     volume) read back with a programmer; the current copy of
                     AcpiDataCache is inspected, and AcpiCacheLockIndicator shown
  --dmpstore         FILE was saved by the UEFI shell's "dmpstore -s FILE" (or
                     "dmpstore -all -s FILE"); each record's CRC32 is checked
  --any-attributes   inspect a variable whose attributes are not NV+BS, which
                     the driver would refuse
  --extract DIR      write each stored table to DIR/<entry>-<signature>.dat,
                     ready for "iasl -d"
  --verbose          also print the driver's debug output (on stderr) and, with
                     --varstore, the copies of the two variables a firmware
                     skips (deleted, superseded, interrupted writes)
  -h, --help         this text

Linux's efivarfs does not show AcpiDataCache: it is a boot-service variable.
Read it from a variable store or a dmpstore file instead.

exit status: 0 the cache is sound; 1 the cache is refused, corrupt, or holds a
malformed entry, or the store is unreadable or holds no cache; 2 bad usage;
3 FILE cannot be read or DIR cannot be written.
)";

enum ExitCode { kExitClean = 0, kExitBadCache = 1, kExitUsage = 2, kExitIo = 3 };

// Far more than any variable store holds; keeps a wrong FILE (a device, a disk
// image) from being read whole.
constexpr size_t kReadLimit = 64u << 20;

struct Arguments {
  std::string File;
  std::string ExtractDir;
  bool Verbose = false;
  bool FromStore = false;
  inspect::StoreKind Store = inspect::StoreKind::VarStore;
  inspect::InspectOptions Options;
};

int Usage(const std::string &Message) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, Message.c_str(), "Try 'acpi-cache-inspect --help'.\n");
  return kExitUsage;
}

// Returns -1 when the arguments are good, else the exit code.
int ParseArguments(int Argc, char **Argv, Arguments *Out) {
  bool FormGiven = false;
  for (int Index = 1; Index < Argc; Index++) {
    const std::string Arg = Argv[Index];
    if (Arg == "-h" || Arg == "--help") {
      std::fputs(kHelp, stdout);
      return kExitClean;
    }
    if (Arg == "--raw" || Arg == "--efivarfs" || Arg == "--varstore" || Arg == "--dmpstore") {
      if (FormGiven) return Usage("--raw, --efivarfs, --varstore and --dmpstore exclude each other");
      FormGiven = true;
      Out->Options.Form = Arg == "--raw" ? inspect::InputForm::Raw : inspect::InputForm::Efivarfs;
      Out->FromStore = Arg == "--varstore" || Arg == "--dmpstore";
      Out->Store = Arg == "--dmpstore" ? inspect::StoreKind::DmpStore : inspect::StoreKind::VarStore;
    } else if (Arg == "--any-attributes") {
      Out->Options.AnyAttributes = true;
    } else if (Arg == "--verbose") {
      Out->Verbose = true;
    } else if (Arg == "--extract") {
      if (Index + 1 >= Argc) return Usage("--extract needs a directory");
      Out->ExtractDir = Argv[++Index];
    } else if (Arg.size() > 1 && Arg[0] == '-') {
      return Usage("unknown option " + Arg);
    } else if (!Out->File.empty()) {
      return Usage("one FILE only");
    } else {
      Out->File = Arg;
    }
  }
  if (Out->File.empty()) return Usage("no FILE given");
  return -1;
}

// Reads in chunks, so that a small file costs no more than its size.
bool ReadBounded(const std::string &Path, std::vector<uint8_t> *Data, bool *TooLarge) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  char Chunk[0x10000];
  while (Data->size() <= kReadLimit && In.read(Chunk, sizeof(Chunk)).gcount() > 0) {
    Data->insert(Data->end(), Chunk, Chunk + In.gcount());
  }
  if (In.bad()) return false;
  *TooLarge = Data->size() > kReadLimit;
  return true;
}

int Fail(const std::string &File, const std::string &Message, int Code) {
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, File.c_str(), Message.c_str());
  return Code;
}

size_t MalformedCount(const inspect::InspectReport &Report) {
  size_t Count = 0;
  for (const inspect::CacheEntry &Entry : Report.Entries) Count += Entry.Problem.empty() ? 0 : 1;
  return Count;
}

int Report(const Arguments &Args, const inspect::InspectReport &Result) {
  if (Args.Verbose) {
    for (const std::string &Line : Result.DriverLog) std::fprintf(stderr, "driver: %s\n", Line.c_str());
  }
  if (!Result.Loaded) return Fail(Args.File, Result.Error, kExitBadCache);
  for (const std::string &Line : inspect::FormatListing(Result)) std::printf("%s\n", Line.c_str());
  if (!Args.ExtractDir.empty()) {
    std::vector<std::string> Written;
    std::string Error;
    const bool Ok = inspect::ExtractTables(Result, Args.ExtractDir, &Written, &Error);
    for (const std::string &Line : Written) std::printf("%s\n", Line.c_str());
    if (!Ok) return Fail(Args.File, Error, kExitIo);
  }
  if (!Result.Error.empty()) return Fail(Args.File, Result.Error, kExitBadCache);
  if (!Result.PoolLeak.empty()) return Fail(Args.File, "internal error: " + Result.PoolLeak, kExitBadCache);
  const size_t Malformed = MalformedCount(Result);
  if (Malformed != 0) {
    return Fail(Args.File,
                std::to_string(Malformed) + (Malformed == 1 ? " malformed entry" : " malformed entries"),
                kExitBadCache);
  }
  return kExitClean;
}

// The cache as a store holds it: the store's own lines first, then the listing.
int InspectFromStore(Arguments Args, const std::vector<uint8_t> &Data) {
  const inspect::StoreLookup Found = inspect::LookUpCacheInStore(Args.Store, Data.data(), Data.size());
  if (!Found.Error.empty()) return Fail(Args.File, Found.Error, kExitBadCache);
  for (const std::string &Line : Found.Notes) std::printf("%s\n", Line.c_str());
  if (Args.Verbose) {
    for (const std::string &Line : Found.Skipped) std::printf("%s\n", Line.c_str());
  }
  std::printf("%s\n", inspect::DescribeLockIndicator(Args.Store, Found.LockIndicator).c_str());
  if (!Found.Cache.Found) {
    return Fail(Args.File,
                "no AcpiDataCache variable (vendor GUID 79660e97-514b-4cfc-873f-02b3ab00c086) in the " +
                    std::string(Args.Store == inspect::StoreKind::VarStore ? "store" : "dump"),
                kExitBadCache);
  }
  Args.Options.Form = inspect::InputForm::Store;
  Args.Options.StoreAttributes = Found.Cache.Attributes;
  Args.Options.StoreRecord =
      std::string(Args.Store == inspect::StoreKind::VarStore ? "variable store" : "dmpstore") + " record @" +
      sim::HexText(Found.Cache.Offset);
  const std::vector<uint8_t> &Cache = Found.Cache.Data;
  return Report(Args, inspect::InspectCache(Cache.data(), Cache.size(), Args.Options));
}

}  // namespace

int main(int argc, char **argv) {
  Arguments Args;
  const int Parsed = ParseArguments(argc, argv, &Args);
  if (Parsed >= 0) return Parsed;
  std::vector<uint8_t> Data;
  bool TooLarge = false;
  if (!ReadBounded(Args.File, &Data, &TooLarge)) return Fail(Args.File, "cannot read the file", kExitIo);
  if (Args.FromStore) {
    if (TooLarge) return Fail(Args.File, "larger than 64 MiB, not a variable store", kExitBadCache);
    return InspectFromStore(Args, Data);
  }
  if (TooLarge) return Fail(Args.File, "larger than 64 MiB, not a cache variable", kExitBadCache);
  return Report(Args, inspect::InspectCache(Data.data(), Data.size(), Args.Options));
}
