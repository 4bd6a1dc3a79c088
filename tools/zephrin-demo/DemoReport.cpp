#include "tools/zephrin-demo/DemoReport.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "acpi_dxe/core/PathFlows.h"
#include "acpi_dxe/core/VarStatePolicy.h"
#include "common/ByteReader.h"
#include "sim/AcpiTables.h"
#include "sim/VarStoreImage.h"
#include "sim/VariableStore.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"

namespace demo {

namespace {

constexpr UINT32 kFacp = SIGNATURE_32('F', 'A', 'C', 'P');
constexpr UINT32 kFacs = SIGNATURE_32('F', 'A', 'C', 'S');
constexpr UINT32 kDsdt = SIGNATURE_32('D', 'S', 'D', 'T');
constexpr UINT32 kSsdt = SIGNATURE_32('S', 'S', 'D', 'T');
constexpr UINTN kEntryHeaderSize = 32;
// A variable's data shares the maximum variable size with its header and its
// UCS-2 name ("AcpiDataCache" and the NUL).
constexpr UINT32 kCacheVariableOverhead = sim::kVariableHeaderSize + 14 * sizeof(CHAR16);
// The limit a fit measurement boot runs with, so that the capture is stored
// whatever its size.
constexpr UINTN kMeasureVariableSize = 0x100000;

std::string JsonString(const std::string &Text) {
  std::string Out = "\"";
  for (unsigned char Character : Text) {
    if (Character == '"' || Character == '\\') {
      Out += '\\';
      Out += static_cast<char>(Character);
    } else if (Character < 0x20 || Character > 0x7E) {
      char Escape[8];
      snprintf(Escape, sizeof(Escape), "\\u%04x", Character);
      Out += Escape;
    } else {
      Out += static_cast<char>(Character);
    }
  }
  return Out + "\"";
}

UINT32 Peek32(const std::vector<UINT8> &Bytes, UINTN Offset) {
  UINT32 Value = 0;
  ByteReader(Bytes.data(), Bytes.size()).PeekAt32(Offset, &Value);
  return Value;
}

UINT64 Peek64(const std::vector<UINT8> &Bytes, UINTN Offset) {
  UINT64 Value = 0;
  ByteReader(Bytes.data(), Bytes.size()).PeekAt64(Offset, &Value);
  return Value;
}

std::string Label(UINT32 Signature, UINT64 OemTableId) {
  return Signature == kSsdt ? "SSDT:" + OemTableIdText(OemTableId) : SignatureText(Signature);
}

// Labels made unique with "#2", "#3" for tables that share signature and id.
std::string Numbered(const std::string &Name, std::map<std::string, int> *Seen) {
  int Count = ++(*Seen)[Name];
  return Count == 1 ? Name : Name + "#" + std::to_string(Count);
}

ListedTable Listed(const TableImage &Table) {
  ListedTable Row;
  Row.Signature = SignatureText(Table.Signature);
  Row.OemTableId = OemTableIdText(Table.OemTableId);
  Row.Length = static_cast<UINT32>(Table.Bytes.size());
  return Row;
}

bool HasIasl() {
  return system("command -v iasl >/dev/null 2>&1") == 0;
}

// Disassembles a restored table with iasl; empty when it disassembles cleanly.
std::string IaslProblem(const TableImage &Table, const std::string &Name) {
  std::string Dir = "/tmp/zephrin-demo-iasl-" + std::to_string(getpid());
  if (system(("mkdir -p " + Dir).c_str()) != 0) return "cannot create " + Dir;
  std::vector<UINT8> Bytes = Table.Bytes;
  if (Bytes.size() > 9) Bytes[9] = sim::AcpiChecksumFor(Bytes.data(), Bytes.size(), 9);
  std::string File = Dir + "/" + Name + ".dat";
  std::ofstream(File, std::ios::binary).write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  int Status = system(("cd " + Dir + " && iasl -d " + Name + ".dat >" + Name + ".log 2>&1").c_str());
  std::string Problem;
  if (Status != 0) Problem = "iasl -d " + Name + " failed (see " + Dir + "/" + Name + ".log)";
  if (Problem.empty()) (void)system(("rm -rf " + Dir).c_str());
  return Problem;
}

// What every boot's report starts with: its summary fields and its heading
// lines (how it ended, the errors seen while setting it up).
BootSummary StartBootSummary(int Number, bool Custom, const BootSeen &Seen) {
  BootSummary Summary;
  Summary.Number = Number;
  Summary.Custom = Custom;
  Summary.End = Seen.Result.End == sim::BootEnd::Normal ? "normal" : Seen.Result.Describe();
  Summary.Milliseconds = Seen.Milliseconds;
  Summary.FailureNotifications = Seen.Result.Records.Failures.size();
  printf("Boot %d (%s path): %s\n", Number, Custom ? "custom" : "certified",
         sim::BootEndName(Seen.Result.End));
  for (const std::string &Error : Seen.Errors) printf("  error: %s\n", Error.c_str());
  if (Seen.Result.End != sim::BootEnd::Normal) printf("  %s\n", Seen.Result.Describe().c_str());
  return Summary;
}

}  // namespace

std::string TableSource(UINT32 Signature, UINT64 OemTableId, const sample::MetaRecords &Records) {
  if (Signature == kFacp || Signature == kFacs) return "stored copy";
  if (Signature == kDsdt) return "firmware volume";
  const sample::MetaTableRecord *Record = Records.ForTable(Signature, OemTableId);
  if (Record == nullptr || Record->SubType == 1) return "stored copy";
  if (Record->SubType == 3) return "meta data";
  if (Record->SubType == 4) return "firmware volume";
  return "?";
}

std::vector<FitEntry> FitEntriesOf(const std::vector<std::vector<UINT8>> &Payloads) {
  std::vector<FitEntry> Entries;
  std::map<std::string, int> Seen;
  std::string Table = "?", MetaName = "?";
  bool Removable = false;
  for (const std::vector<UINT8> &Payload : Payloads) {
    UINT32 Signature = Peek32(Payload, 4), Type = Peek32(Payload, 12), SubType = Peek32(Payload, 16);
    if (SubType < AcpiDataSubTypeNvs || SubType > AcpiDataSubTypeInteger) {
      UINT64 OemTableId =
          Payload.size() >= kEntryHeaderSize + 24 ? Peek64(Payload, kEntryHeaderSize + 16) : 0;
      MetaName = Label(Signature, Signature == kSsdt ? OemTableId : 0);
      Table = Numbered(MetaName, &Seen);
      Removable = Type == AcpiDataTypeAcpiDataTables || Type == AcpiDataTypeSsdt;
    }
    Entries.push_back({Table, MetaName, Removable, true, Payload});
  }
  return Entries;
}

void Session::PrintPlatform(const std::string &Image) const {
  printf("Driver image: %s\n", Image.c_str());
  printf("Platform: %s\n", mBoard.Title.c_str());
  for (const std::string &Note : mBoard.Notes) printf("  %s\n", Note.c_str());
  for (const sample::RegionBacking &Region : mBoard.Regions) {
    if (Region.Moved()) {
      printf(
          "  region %s %s: %s is taken in this process; the platform placed it at %s (%s bytes) and its "
          "table "
          "names that address\n",
          Region.Table.c_str(), Region.Path.c_str(), sim::HexTextUpper(Region.AmlAddress).c_str(),
          sim::HexTextUpper(Region.Address).c_str(), sim::HexTextUpper(Region.Length).c_str());
    } else {
      printf("  region %s %s: backed at %s (%s bytes), filled with a pattern\n", Region.Table.c_str(),
             Region.Path.c_str(), sim::HexTextUpper(Region.Address).c_str(),
             sim::HexTextUpper(Region.Length).c_str());
    }
  }
}

// The cache this boot left or tried to leave: the data it wrote, the stored
// data when it left the variable alone, or, when the platform refused the
// write, the data of a measurement boot on a store without that limit.
bool Session::ReadCapture(const BootSeen &Seen, const BootSettings &Settings, std::vector<UINT8> *Cache,
                          bool *Written, bool *Refused) {
  *Written = *Refused = false;
  for (const sim::VariableWrite &Write : Seen.Result.VariableWrites) {
    if (Write.Name != ACPI_DATA_CACHE_VARIABLE_NAME) continue;
    *Written = Write.Status == EFI_SUCCESS;
    *Refused = !*Written;
    if (*Written) *Cache = Write.Data;
  }
  if (*Written) return true;
  if (!*Refused) return ReadStoredCache(Settings.Store, Cache);
  BootSettings Measure = Settings;
  Measure.Store = Settings.Store + ".measure";
  Measure.MaxVariableSize = kMeasureVariableSize;
  unlink(Measure.Store.c_str());
  BootSeen Measured = RunCustomBoot(mBoard, Measure);
  bool Found = ReadStoredCache(Measure.Store, Cache);
  unlink(Measure.Store.c_str());
  return Found;
}

void Session::PrintFit(const std::vector<std::vector<UINT8>> &Payloads, const BootSeen &Seen,
                       BootSummary *Summary) {
  std::vector<FitEntry> Entries = FitEntriesOf(Payloads);
  // Tables the write cache had no room for: weighed as the capture would have
  // stored them.
  std::map<std::string, int> Captured, Published;
  for (const FitEntry &Entry : Entries)
    if (Entry.Payload.size() > 16 && Peek32(Entry.Payload, 16) <= AcpiDataSubTypeFromFv)
      Captured[Entry.MetaName]++;
  for (const TableImage &Table : Seen.Published) {
    if (Table.Signature == kFacp || Table.Signature == kFacs || Table.Signature == kDsdt) continue;
    const sample::MetaTableRecord *Record = mBoard.Records.ForTable(Table.Signature, Table.OemTableId);
    if (Record != nullptr && Record->SubType == 2) continue;
    std::string Name = Label(Table.Signature, Table.Signature == kSsdt ? Table.OemTableId : 0);
    if (++Published[Name] <= Captured[Name]) continue;
    std::vector<UINT8> Payload(kEntryHeaderSize, 0);
    UINT32 Header[4] = {1, Table.Signature, static_cast<UINT32>(kEntryHeaderSize + Table.Bytes.size()),
                        Table.Signature == kSsdt ? static_cast<UINT32>(AcpiDataTypeSsdt)
                                                 : static_cast<UINT32>(AcpiDataTypeAcpiDataTables)};
    memcpy(Payload.data(), Header, sizeof(Header));
    UINT32 SubType = AcpiDataSubTypeTable;
    memcpy(Payload.data() + 16, &SubType, sizeof(SubType));
    Payload.insert(Payload.end(), Table.Bytes.begin(), Table.Bytes.end());
    Entries.push_back({Name + " (not captured)", Name, true, false, Payload});
  }
  Summary->Fit = BuildFitReport(Entries, static_cast<UINT32>(mMaxVariableSize), kCacheVariableOverhead,
                                [this](const std::vector<UINT8> &Stream) { return mCompress(Stream); });
  Summary->HasFit = true;
  printf("  fit:\n");
  for (const std::string &Line : Summary->Fit.Lines()) printf("    %s\n", Line.c_str());
}

bool Session::CustomBoot(int Number, const BootSeen &Seen, const BootSettings &Settings) {
  BootSummary Summary = StartBootSummary(Number, true, Seen);
  printf("  capture and store took %.1f ms\n", Seen.Milliseconds);
  mCaptured = Seen.Published;

  std::vector<UINT8> Cache;
  bool Written = false, Refused = false;
  if (!ReadCapture(Seen, Settings, &Cache, &Written, &Refused)) {
    printf("  AcpiDataCache: nothing captured\n");
    mBoots.push_back(Summary);
    return Seen.Result.End == sim::BootEnd::Normal;
  }
  inspect::InspectReport Report = inspect::InspectCache(
      Cache.data(), Cache.size(), inspect::InspectOptions{inspect::InputForm::Raw, false});
  std::vector<std::vector<UINT8>> Payloads;
  size_t Elements = 0;
  printf("  tables captured:\n");
  for (const inspect::CacheEntry &Entry : Report.Entries) {
    Payloads.push_back(Entry.Payload);
    UINT32 SubType = Entry.Header.AcpiDataSubType;
    if (SubType >= AcpiDataSubTypeNvs && SubType <= AcpiDataSubTypeInteger) {
      Elements++;
      continue;
    }
    ListedTable Row;
    std::vector<UINT8> Table(Entry.Payload.begin() + std::min<size_t>(kEntryHeaderSize, Entry.Payload.size()),
                             Entry.Payload.end());
    if (Table.size() >= 8) {
      Row = Listed(MakeTableImage(Table));
      Row.Length = Peek32(Table, 4);
      Row.Form = SubType == AcpiDataSubTypeTable ? "table" : "header only";
    } else {
      Row.Signature = SignatureText(Entry.Header.AcpiCommonHeader.Signature);
      for (const TableImage &Published : Seen.Published)
        if (Published.Signature == Entry.Header.AcpiCommonHeader.Signature) Row = Listed(Published);
      Row.Form = "header only";
    }
    printf("    %-4s  %-8s  %6u bytes%s\n", Row.Signature.c_str(), Row.OemTableId.c_str(), Row.Length,
           Row.Form == "table" ? "" : "  (entry holds no body: read from a volume on restore)");
    Summary.Captured.push_back(Row);
  }
  printf("  elements recorded: %zu (NVS contents and integer values)\n", Elements);
  Summary.StreamBytes = Report.DecompressedSize;
  Summary.CompressedBytes = Report.VariableSize;
  Summary.Stored = !Refused;
  printf("  stream %u bytes, compressed %u bytes (%.1f%% of the stream)\n", Summary.StreamBytes,
         Summary.CompressedBytes,
         Summary.StreamBytes ? 100.0 * Summary.CompressedBytes / Summary.StreamBytes : 0.0);
  printf("  peak pool use during the boot: %zu bytes\n", static_cast<size_t>(Seen.Result.PoolPeakBytes));
  if (Refused) {
    printf(
        "  AcpiDataCache NOT stored: the platform refused the write (the driver logged \"Unable to store "
        "ACPI "
        "tables!\"); the sizes above come from a second capture on a store without the size limit\n");
  } else {
    printf("  AcpiDataCache %s\n",
           Written ? "written" : "unchanged (the new capture is similar to the stored one)");
  }
  for (const sim::VariableWrite &Write : Seen.Result.VariableWrites) {
    if (Write.Name == kAcpiCacheLockIndicatorName && Write.Status == EFI_SUCCESS)
      printf("  AcpiCacheLockIndicator set: AcpiDataCache is read-only for the rest of the boot\n");
  }
  mLastStream.clear();
  for (const FitEntry &Entry : FitEntriesOf(Payloads)) {
    std::vector<UINT8> Blob = BuildStream({Entry});
    mLastStream.insert(mLastStream.end(), Blob.begin(), Blob.end());
  }
  PrintFit(Payloads, Seen, &Summary);
  mBoots.push_back(Summary);
  return Seen.Result.End == sim::BootEnd::Normal;
}

bool Session::CertifiedBoot(int Number, const BootSeen &Seen, const BootSettings &Settings) {
  BootSummary Summary = StartBootSummary(Number, false, Seen);
  std::vector<UINT8> Cache;
  if (ReadStoredCache(Settings.Store, &Cache)) {
    inspect::InspectReport Report = inspect::InspectCache(
        Cache.data(), Cache.size(), inspect::InspectOptions{inspect::InputForm::Raw, false});
    Summary.Stored = true;
    Summary.StreamBytes = Report.DecompressedSize;
    Summary.CompressedBytes = Report.VariableSize;
  }
  printf("  restore took %.1f ms (driver entry to ExitBootServices)\n", Seen.Milliseconds);
  if (Summary.Stored) {
    printf("  AcpiDataCache: stream %u bytes, compressed %u bytes\n", Summary.StreamBytes,
           Summary.CompressedBytes);
  } else {
    printf("  AcpiDataCache: none stored\n");
  }
  if (Summary.FailureNotifications != 0) {
    printf("  the driver notified %zu failure(s):\n", Summary.FailureNotifications);
    for (const std::string &Line : Seen.Result.DebugLines())
      if (Line.find("Failed") != std::string::npos || Line.find("Unable") != std::string::npos)
        printf("    %s\n", Line.c_str());
  }
  std::vector<TableImage> Installed;
  printf("  installed:\n");
  for (const InstallSeen &Install : Seen.Installs) {
    ListedTable Row = Listed(Install.Table);
    Row.Phase = Install.Phase;
    Row.Status = Install.Status;
    Row.Source = TableSource(Install.Table.Signature, Install.Table.OemTableId, mBoard.Records);
    printf("    %-18s %-4s  %-8s  %6u bytes  from the %s%s\n", Row.Phase.c_str(), Row.Signature.c_str(),
           Row.OemTableId.c_str(), Row.Length, Row.Source.c_str(),
           Install.Status == EFI_SUCCESS ? "" : ("  REFUSED " + sim::HexTextUpper(Install.Status)).c_str());
    Summary.Installed.push_back(Row);
    Installed.push_back(Install.Table);
  }
  Summary.Patched = ReadPatchedValues(mCaptured, Installed, mBoard.Records);
  for (const PatchedValue &Value : Summary.Patched) {
    if (Value.IsRegion) {
      bool Allocated = false;
      for (const RegionPages &Pages : Seen.RegionAllocations) Allocated |= Pages.Address == Value.After;
      printf("  NVS region %s %s moved: %s -> %s, length %s -> %s%s\n", Value.Table.c_str(),
             Value.Path.c_str(), sim::HexTextUpper(Value.Before).c_str(),
             sim::HexTextUpper(Value.After).c_str(), sim::HexTextUpper(Value.LengthBefore).c_str(),
             sim::HexTextUpper(Value.LengthAfter).c_str(), Allocated ? " (pages the driver allocated)" : "");
    } else {
      printf("  integer %s %s patched: %s -> %s\n", Value.Table.c_str(), Value.Path.c_str(),
             sim::HexTextUpper(Value.Before).c_str(), sim::HexTextUpper(Value.After).c_str());
    }
  }
  Summary.Verify = VerifyReplay(mCaptured, Installed, mBoard.Records);
  printf("  verification: %zu tables installed, %zu equal the capture outside the patched fields\n",
         Summary.Verify.Tables, Summary.Verify.Matching);
  for (const TableDifference &Difference : Summary.Verify.Differing) {
    printf("    %s %s: %s at offset %lld\n", SignatureText(Difference.Signature).c_str(),
           OemTableIdText(Difference.OemTableId).c_str(), Difference.What.c_str(), Difference.Offset);
  }
  if (HasIasl()) {
    std::map<std::string, int> Seen;
    size_t Checked = 0;
    for (const TableImage &Table : Installed) {
      if (Table.Signature != kDsdt && Table.Signature != kSsdt) continue;
      Checked++;
      std::string Name = Numbered(SignatureText(Table.Signature), &Seen);
      for (char &Character : Name)
        if (Character == '#') Character = '_';
      std::string Problem = IaslProblem(Table, Name);
      if (!Problem.empty()) Summary.IaslProblems.push_back(Problem);
    }
    printf("  iasl -d: %zu restored DSDT/SSDTs, %zu disassembled cleanly\n", Checked,
           Checked - Summary.IaslProblems.size());
    for (const std::string &Problem : Summary.IaslProblems) printf("    %s\n", Problem.c_str());
  }
  mBoots.push_back(Summary);
  return Seen.Result.End == sim::BootEnd::Normal;
}

bool Session::PrintVerification() const {
  VerifyResult Total;
  size_t IaslProblems = 0;
  bool AnyCertified = false;
  for (const BootSummary &Boot : mBoots) {
    if (Boot.Custom) continue;
    AnyCertified = true;
    Total.Add(Boot.Verify);
    IaslProblems += Boot.IaslProblems.size();
  }
  if (!AnyCertified) return true;
  printf("Replay: %zu tables installed over the certified boots, %zu match the capture, %zu differ%s\n",
         Total.Tables, Total.Matching, Total.Differing.size(),
         IaslProblems ? ", and some did not disassemble" : "");
  return Total.Differing.empty() && IaslProblems == 0;
}

namespace {

std::string JsonTables(const std::vector<ListedTable> &Tables, bool Certified) {
  std::string Out = "[";
  for (size_t Index = 0; Index < Tables.size(); Index++) {
    const ListedTable &Row = Tables[Index];
    Out += Index ? ", " : "";
    Out += "{\"signature\": " + JsonString(Row.Signature) +
           ", \"oem_table_id\": " + JsonString(Row.OemTableId) +
           ", \"length\": " + std::to_string(Row.Length);
    if (Certified) {
      Out += ", \"phase\": " + JsonString(Row.Phase) + ", \"source\": " + JsonString(Row.Source) +
             ", \"status\": " + std::to_string(Row.Status);
    } else {
      Out += ", \"form\": " + JsonString(Row.Form);
    }
    Out += "}";
  }
  return Out + "]";
}

std::string JsonDiffering(const std::vector<TableDifference> &Differing, int Boot) {
  std::string Out;
  for (const TableDifference &Difference : Differing) {
    Out += Out.empty() ? "" : ", ";
    Out += "{\"boot\": " + std::to_string(Boot) +
           ", \"signature\": " + JsonString(SignatureText(Difference.Signature)) +
           ", \"oem_table_id\": " + JsonString(OemTableIdText(Difference.OemTableId)) +
           ", \"offset\": " + std::to_string(Difference.Offset) +
           ", \"what\": " + JsonString(Difference.What) + "}";
  }
  return Out;
}

std::string JsonFit(const FitReport &Fit) {
  std::string Out = "{\"stream_bytes\": " + std::to_string(Fit.StreamBytes) +
                    ", \"max_cache_size\": " + std::to_string(Fit.MaxCacheSize) +
                    ", \"compressed_bytes\": " + std::to_string(Fit.CompressedBytes) +
                    ", \"variable_room\": " + std::to_string(Fit.VariableRoom) +
                    ", \"fits\": " + (Fit.Fits() ? "true" : "false") + ", \"shares\": [";
  for (size_t Index = 0; Index < Fit.Shares.size(); Index++) {
    Out += (Index ? ", " : "") + std::string("{\"table\": ") + JsonString(Fit.Shares[Index].Table) +
           ", \"bytes\": " + std::to_string(Fit.Shares[Index].Bytes) + "}";
  }
  Out += "], \"not_stored\": [";
  for (size_t Index = 0; Index < Fit.LeaveOut.size(); Index++)
    Out += (Index ? ", " : "") + JsonString("table " + Fit.LeaveOut[Index] + " not-stored");
  return Out + "]}";
}

}  // namespace

bool Session::WriteRestoreSeed(const std::string &Path, std::string *Error) const {
  std::vector<UINT8> Dsdt;
  for (const TableImage &Table : mCaptured)
    if (Table.Signature == kDsdt) Dsdt = Table.Bytes;
  std::vector<UINT8> Seed;
  const std::vector<UINT8> *Parts[] = {&mBoard.MetaData, &Dsdt};
  for (const std::vector<UINT8> *Part : Parts) {
    UINT32 Length = static_cast<UINT32>(Part->size());
    const auto *Bytes = reinterpret_cast<const UINT8 *>(&Length);
    Seed.insert(Seed.end(), Bytes, Bytes + sizeof(Length));
    Seed.insert(Seed.end(), Part->begin(), Part->end());
  }
  Seed.insert(Seed.end(), mLastStream.begin(), mLastStream.end());
  std::ofstream File(Path, std::ios::binary);
  File.write(reinterpret_cast<const char *>(Seed.data()), Seed.size());
  if (!File || mLastStream.empty()) {
    *Error = mLastStream.empty() ? "no capture to write as a seed" : "cannot write " + Path;
    return false;
  }
  return true;
}

bool Session::WriteJson(const std::string &Path, std::string *Error) const {
  std::string Out = "{\n  \"platform\": " + JsonString(mBoard.Title) +
                    ",\n  \"max_variable_size\": " + std::to_string(mMaxVariableSize) + ",\n  \"boots\": [\n";
  VerifyResult Total;
  std::string Differing;
  for (size_t Index = 0; Index < mBoots.size(); Index++) {
    const BootSummary &Boot = mBoots[Index];
    Out += "    {\"boot\": " + std::to_string(Boot.Number) +
           ", \"path\": " + JsonString(Boot.Custom ? "custom" : "certified") +
           ", \"end\": " + JsonString(Boot.End) + ", \"milliseconds\": " + std::to_string(Boot.Milliseconds) +
           ", \"stream_bytes\": " + std::to_string(Boot.StreamBytes) +
           ", \"compressed_bytes\": " + std::to_string(Boot.CompressedBytes) +
           ", \"stored\": " + (Boot.Stored ? "true" : "false") +
           ", \"failure_notifications\": " + std::to_string(Boot.FailureNotifications) +
           ",\n     \"tables_captured\": " + JsonTables(Boot.Captured, false) +
           ",\n     \"tables_installed\": " + JsonTables(Boot.Installed, true);
    if (Boot.HasFit) Out += ",\n     \"fit\": " + JsonFit(Boot.Fit);
    if (!Boot.Custom) {
      Out += ",\n     \"patched\": [";
      for (size_t Value = 0; Value < Boot.Patched.size(); Value++) {
        const PatchedValue &Patch = Boot.Patched[Value];
        Out += (Value ? ", " : "") + std::string("{\"table\": ") + JsonString(Patch.Table) +
               ", \"path\": " + JsonString(Patch.Path) +
               ", \"kind\": " + JsonString(Patch.IsRegion ? "nvs" : "integer") +
               ", \"before\": " + std::to_string(Patch.Before) +
               ", \"after\": " + std::to_string(Patch.After) + "}";
      }
      Out += "]";
      Total.Add(Boot.Verify);
      std::string Listed = JsonDiffering(Boot.Verify.Differing, Boot.Number);
      if (!Listed.empty()) Differing += (Differing.empty() ? "" : ", ") + Listed;
    }
    Out += std::string("}") + (Index + 1 < mBoots.size() ? "," : "") + "\n";
  }
  Out += "  ],\n  \"verify\": {\"tables\": " + std::to_string(Total.Tables) +
         ", \"matching\": " + std::to_string(Total.Matching) + ", \"differing\": [" + Differing + "]}\n}\n";
  std::ofstream File(Path);
  File << Out;
  if (!File) {
    *Error = "cannot write " + Path;
    return false;
  }
  return true;
}

}  // namespace demo
