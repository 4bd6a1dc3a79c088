// What zephrin-demo tells about a run: one block per boot on the terminal, the
// verification of every certified-path boot against the capture, and the same
// as JSON for other tools.
#ifndef ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_REPORT_H_
#define ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_REPORT_H_

#include <string>
#include <vector>

#include "tools/zephrin-demo/DemoBoots.h"
#include "tools/zephrin-demo/FitReport.h"
#include "tools/zephrin-demo/ReplayCheck.h"

namespace demo {

struct ListedTable {
  std::string Signature, OemTableId;
  UINT32 Length = 0;
  std::string Phase, Source, Form;  // certified: phase and source; custom: "table" or "header only"
  EFI_STATUS Status = EFI_SUCCESS;
};

struct BootSummary {
  int Number = 0;
  bool Custom = true;
  std::string End;
  double Milliseconds = 0;
  UINT32 StreamBytes = 0, CompressedBytes = 0;
  bool Stored = false;
  std::vector<ListedTable> Captured, Installed;
  std::vector<PatchedValue> Patched;
  size_t FailureNotifications = 0;
  bool HasFit = false;
  FitReport Fit;
  VerifyResult Verify;
  std::vector<std::string> IaslProblems;
};

// Where a certified path takes a table from, by its meta data record.
std::string TableSource(UINT32 Signature, UINT64 OemTableId, const sample::MetaRecords &Records);

// Table entries of a stream (with their elements) as the fit report weighs them.
std::vector<FitEntry> FitEntriesOf(const std::vector<std::vector<UINT8>> &Payloads);

class Session {
 public:
  Session(const Board &Platform, UINTN MaxVariableSize, UINT32 (*Compress)(const std::vector<UINT8> &))
      : mBoard(Platform), mMaxVariableSize(MaxVariableSize), mCompress(Compress) {}

  void PrintPlatform(const std::string &Image) const;
  // Each prints its boot and returns whether the boot ended normally.
  bool CustomBoot(int Number, const BootSeen &Seen, const BootSettings &Settings);
  bool CertifiedBoot(int Number, const BootSeen &Seen, const BootSettings &Settings);
  // The verification over all certified boots; true when every table matched
  // and disassembled cleanly.
  bool PrintVerification() const;
  bool WriteJson(const std::string &Path, std::string *Error) const;
  // The last capture in the restore fuzz target's input form: meta data, the
  // DSDT, the decompressed stream, the first two length-prefixed.
  bool WriteRestoreSeed(const std::string &Path, std::string *Error) const;
  const std::vector<BootSummary> &Boots() const { return mBoots; }

 private:
  bool ReadCapture(const BootSeen &Seen, const BootSettings &Settings, std::vector<UINT8> *Cache,
                   bool *Written, bool *Refused);
  void PrintFit(const std::vector<std::vector<UINT8>> &Payloads, const BootSeen &Seen, BootSummary *Summary);

  const Board &mBoard;
  UINTN mMaxVariableSize;
  UINT32 (*mCompress)(const std::vector<UINT8> &);
  std::vector<TableImage> mCaptured;  // what the last custom-path boot published and captured
  std::vector<BootSummary> mBoots;
  std::vector<UINT8> mLastStream;  // the last capture's decompressed stream
};

}  // namespace demo

#endif  // ZEPHRIN_TOOLS_ZEPHRIN_DEMO_DEMO_REPORT_H_
