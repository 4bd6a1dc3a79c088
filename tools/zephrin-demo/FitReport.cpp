#include "tools/zephrin-demo/FitReport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "acpi_dxe/blob/BlobStream.h"
#include "sim/VarStoreImage.h"

namespace demo {

namespace {

std::vector<FitEntry> Without(const std::vector<FitEntry> &Entries, const std::set<std::string> &Left) {
  std::vector<FitEntry> Kept;
  for (const FitEntry &Entry : Entries)
    if (!Entry.Removable || Left.count(Entry.MetaName) == 0) Kept.push_back(Entry);
  return Kept;
}

UINT32 StreamSize(const std::vector<FitEntry> &Entries) {
  UINT32 Bytes = 0;
  for (const FitEntry &Entry : Entries) Bytes += BlobBytes(Entry);
  return Bytes;
}

}  // namespace

UINT32 BlobBytes(const FitEntry &Entry) {
  return static_cast<UINT32>(sizeof(BLOB_HEADER) + Entry.Payload.size());
}

std::vector<UINT8> BuildStream(const std::vector<FitEntry> &Entries) {
  std::vector<UINT8> Stream;
  for (const FitEntry &Entry : Entries) {
    BLOB_HEADER Header{BLOB_HEADER_REVISION, BlobBytes(Entry), BLOB_HEADER_SIGNATURE};
    const auto *Bytes = reinterpret_cast<const UINT8 *>(&Header);
    Stream.insert(Stream.end(), Bytes, Bytes + sizeof(Header));
    Stream.insert(Stream.end(), Entry.Payload.begin(), Entry.Payload.end());
  }
  return Stream;
}

FitReport BuildFitReport(const std::vector<FitEntry> &Entries, UINT32 MaxVariableSize,
                         UINT32 VariableOverhead, const Compressor &Compress) {
  FitReport Report;
  Report.MaxCacheSize = MAX_CACHE_SIZE;
  Report.MaxVariableSize = MaxVariableSize;
  Report.VariableRoom = MaxVariableSize > VariableOverhead ? MaxVariableSize - VariableOverhead : 0;
  Report.StreamBytes = StreamSize(Entries);
  Report.CompressedBytes = Compress(BuildStream(Entries));
  for (const FitEntry &Entry : Entries) {
    Report.StreamComplete &= Entry.Captured;
    if (Report.Shares.empty() || Report.Shares.back().Table != Entry.Table)
      Report.Shares.push_back({Entry.Table, 0});
    Report.Shares.back().Bytes += BlobBytes(Entry);
  }
  Report.StreamAfter = Report.StreamBytes;
  Report.CompressedAfter = Report.CompressedBytes;
  if (Report.Fits()) return Report;

  // Candidates, largest compressed contribution first.
  std::map<std::string, std::vector<FitEntry>> Groups;
  for (const FitEntry &Entry : Entries)
    if (Entry.Removable) Groups[Entry.MetaName].push_back(Entry);
  std::vector<std::pair<UINT32, std::string>> Ranked;
  for (const auto &Group : Groups) Ranked.push_back({Compress(BuildStream(Group.second)), Group.first});
  std::sort(Ranked.begin(), Ranked.end(), [](const auto &A, const auto &B) {
    return A.first != B.first ? A.first > B.first : A.second < B.second;
  });
  auto FitsWithout = [&](const std::set<std::string> &Left, UINT32 *Stream, UINT32 *Compressed) {
    std::vector<FitEntry> Kept = Without(Entries, Left);
    *Stream = StreamSize(Kept);
    *Compressed = Compress(BuildStream(Kept));
    return *Stream <= Report.MaxCacheSize && *Compressed <= Report.VariableRoom;
  };
  std::set<std::string> Left;
  std::vector<std::string> Order;
  bool Fits = false;
  for (const auto &Candidate : Ranked) {
    Left.insert(Candidate.second);
    Order.push_back(Candidate.second);
    if ((Fits = FitsWithout(Left, &Report.StreamAfter, &Report.CompressedAfter))) break;
  }
  if (!Fits) {
    Report.Solvable = false;
    return Report;
  }
  // Put back what is not needed, last chosen first: no table in the set can be kept.
  for (auto It = Order.rbegin(); It != Order.rend(); ++It) {
    std::set<std::string> Trial = Left;
    Trial.erase(*It);
    UINT32 Stream = 0, Compressed = 0;
    if (FitsWithout(Trial, &Stream, &Compressed)) {
      Left = Trial;
      Report.StreamAfter = Stream;
      Report.CompressedAfter = Compressed;
    }
  }
  for (const std::string &Name : Order)
    if (Left.count(Name) != 0) Report.LeaveOut.push_back(Name);
  return Report;
}

std::vector<std::string> FitReport::Lines() const {
  std::vector<std::string> Out;
  char Line[256];
  snprintf(
      Line, sizeof(Line), "stream %u bytes of MAX_CACHE_SIZE %s: %s%s", StreamBytes,
      sim::HexTextUpper(MaxCacheSize).c_str(), StreamBytes <= MaxCacheSize ? "fits" : "DOES NOT FIT",
      StreamComplete ? "" : " (the capture stopped when the write cache was full; the rest is estimated)");
  Out.push_back(Line);
  snprintf(Line, sizeof(Line), "compressed %u bytes of %u a variable of %s can hold: %s", CompressedBytes,
           VariableRoom, sim::HexTextUpper(MaxVariableSize).c_str(),
           CompressedBytes <= VariableRoom ? "fits" : "DOES NOT FIT");
  Out.push_back(Line);
  Out.push_back("share of the stream per table (entry and elements):");
  for (const Share &Table : Shares) {
    snprintf(Line, sizeof(Line), "  %-22s %7u bytes  %5.1f%%", Table.Table.c_str(), Table.Bytes,
             StreamBytes ? 100.0 * Table.Bytes / StreamBytes : 0.0);
    Out.push_back(Line);
  }
  if (Fits()) return Out;
  Out.push_back(
      "the driver cannot store this capture: it logs \"Unable to store ACPI tables!\", notifies the failure, "
      "and "
      "certified-path boots find no cache");
  if (!Solvable) {
    Out.push_back("leaving every table but the FADT, FACS and DSDT out would still not fit");
    return Out;
  }
  snprintf(Line, sizeof(Line),
           "to fit, leave these out of the cache (stream %u, compressed %u bytes); paste into the "
           "meta description:",
           StreamAfter, CompressedAfter);
  Out.push_back(Line);
  for (const std::string &Name : LeaveOut) {
    bool Nameable = Name.find(' ') == std::string::npos;
    Out.push_back("  table " + Name + " not-stored" +
                  (Nameable ? "" : "    # its OemTableId has a blank, which a description cannot name"));
  }
  Out.push_back("  (a table the OS still needs can be given `table <T> from-fv file=<guid>` instead)");
  return Out;
}

}  // namespace demo
