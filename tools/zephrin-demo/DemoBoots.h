// The boots zephrin-demo runs, each a child process on the simulated platform:
// a custom-path boot that captures and stores, and a certified-path boot that
// replays the store. What each child saw comes back as notes, decoded here
// into the tables the platform published, the tables the driver installed and
// the phase each install happened in.
#ifndef ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_BOOTS_H_
#define ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_BOOTS_H_

#include <functional>
#include <string>
#include <vector>

#include "sim/BootRunner.h"
#include "tools/sample-platform/DumpPlatform.h"
#include "tools/zephrin-demo/ReplayCheck.h"

namespace demo {

// A platform the demo boots: the sample or one built from a dump.
struct Board {
  std::string Title;
  std::vector<UINT8> MetaData;
  sample::MetaRecords Records;
  std::vector<std::string> Notes;  // choices the platform made, shown once
  std::vector<sample::RegionBacking> Regions;
  // Publishes the platform on a boot of either path.
  std::function<bool(sim::Platform &, bool CustomPath, std::string *)> Install;
};

struct BootSettings {
  std::string Image;
  std::string Store;
  UINTN MaxVariableSize = 0x8400;
};

struct InstallSeen {
  std::string Phase;  // "entry", "end-of-dxe", "ready-to-boot", "exit-boot-services"
  EFI_STATUS Status = EFI_SUCCESS;
  TableImage Table;
};

struct RegionPages {
  UINT64 Address = 0;
  UINT64 Pages = 0;
  UINT32 Type = 0;
};

struct BootSeen {
  sim::BootResult Result;
  double Milliseconds = 0;                     // capture and store, or the whole restore
  std::vector<TableImage> Published;           // custom path: the platform's tables, FADT first
  std::vector<InstallSeen> Installs;           // certified path
  std::vector<RegionPages> RegionAllocations;  // certified path: NVS and reserved pages
  std::vector<std::string> Errors;             // the body's own errors
};

// The sample platform, its DSDT read from a volume file on restore.
// The sample platform with the sample's description, or the one at MetaPath.
bool PrepareSampleBoard(sample::SamplePlatform *Sample, const std::string &MetaPath, Board *Board,
                        std::string *Error);
// A platform from an acpidump text or a table folder (one of the two), with
// the meta description Meta (empty: the default one), its regions backed.
bool PrepareDumpBoard(const std::string &AcpiDump, const std::string &Tables, const std::string &Meta,
                      sample::DumpPlatform *Dump, Board *Board, std::string *Error);

BootSeen RunCustomBoot(const Board &Platform, const BootSettings &Settings);
BootSeen RunCertifiedBoot(const Board &Platform, const BootSettings &Settings);

// The data of the AcpiDataCache variable in a store file, if there is one.
bool ReadStoredCache(const std::string &StorePath, std::vector<UINT8> *Data);

std::string ToHex(const std::vector<UINT8> &Bytes);
bool FromHex(const std::string &Text, std::vector<UINT8> *Bytes);

}  // namespace demo

#endif  // ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_BOOTS_H_
