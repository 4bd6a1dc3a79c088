// The module's two builds run on the same board: the host build called natively
// on sim::PeiPhase, and the shipped TE image run on the IA-32 emulator over a
// phase set up the same way. What each published and printed is gathered into
// one outcome, so a scenario compares the two byte for byte and word for word.
#ifndef ZEPHRIN_TESTS_PEI_TE_IMAGE_RUN_H_
#define ZEPHRIN_TESTS_PEI_TE_IMAGE_RUN_H_

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Ia32PeiHost.h"
#include "tests/pei/PeiTestBoard.h"

namespace pei_test {

#if defined(ZEPHRIN_PEI_TE_IMAGE)
inline const char *const kTeImagePath = ZEPHRIN_PEI_TE_IMAGE;
#else
inline const char *const kTeImagePath = nullptr;
#endif

// Where the shipped TE image is: the firmware build's, or the file named by the
// environment variable ZEPHRIN_PEI_TE_IMAGE (so a build without firmware, such
// as the sanitizer build, can run the TE-image tests on an image built
// elsewhere). Empty when there is none.
inline std::string TeImagePath() {
  const char *FromEnvironment = std::getenv("ZEPHRIN_PEI_TE_IMAGE");
  if (FromEnvironment != nullptr && *FromEnvironment != '\0') return FromEnvironment;
  return kTeImagePath != nullptr ? kTeImagePath : "";
}

// The shipped TE image, or nothing when there is none.
inline std::vector<uint8_t> ShippedTeImage() {
  std::vector<uint8_t> Bytes;
  if (TeImagePath().empty()) return Bytes;
  std::ifstream In(TeImagePath(), std::ios::binary);
  Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return Bytes;
}

struct PeiOutcome {
  std::string Run;                         // "returned 0x00000000", or why the run ended
  std::vector<std::vector<UINT8>> Hobs;    // every HOB the module created, whole
  std::vector<UINT16> RequestedLengths;    // lengths asked of CreateHob
  std::vector<sim::PeiDebugRecord> Debug;  // level, format, text of each message
  uint32_t StackBytes = 0;                 // stack the TE image used (0 for the host build)
};

inline bool SameMessage(const sim::PeiDebugRecord &A, const sim::PeiDebugRecord &B) {
  return A.ErrorLevel == B.ErrorLevel && A.Format == B.Format && A.Text == B.Text;
}

// Each difference between two outcomes, one line each; empty when they agree.
inline std::vector<std::string> Differences(const PeiOutcome &Host, const PeiOutcome &Te) {
  std::vector<std::string> Found;
  if (Host.Run != Te.Run) Found.push_back("run: host " + Host.Run + ", TE image " + Te.Run);
  if (Host.RequestedLengths != Te.RequestedLengths) Found.push_back("CreateHob lengths differ");
  if (Host.Hobs.size() != Te.Hobs.size()) {
    Found.push_back("HOBs: host " + std::to_string(Host.Hobs.size()) + ", TE image " +
                    std::to_string(Te.Hobs.size()));
  }
  for (size_t Index = 0; Index < Host.Hobs.size() && Index < Te.Hobs.size(); Index++) {
    if (Host.Hobs[Index] != Te.Hobs[Index]) Found.push_back("HOB " + std::to_string(Index) + " bytes differ");
  }
  size_t Common = std::min(Host.Debug.size(), Te.Debug.size());
  for (size_t Index = 0; Index < Common; Index++) {
    if (!SameMessage(Host.Debug[Index], Te.Debug[Index])) {
      Found.push_back("message " + std::to_string(Index) + ": host \"" + Host.Debug[Index].Text +
                      "\", TE image \"" + Te.Debug[Index].Text + "\"");
    }
  }
  for (size_t Index = Common; Index < Host.Debug.size(); Index++) {
    Found.push_back("message only on the host: \"" + Host.Debug[Index].Text + "\"");
  }
  for (size_t Index = Common; Index < Te.Debug.size(); Index++) {
    Found.push_back("message only from the TE image: \"" + Te.Debug[Index].Text + "\"");
  }
  return Found;
}

inline void CollectHobs(const sim::PeiPhase &Phase, PeiOutcome *Out) {
  for (const EFI_HOB_GENERIC_HEADER *Hob : Phase.CreatedHobs()) {
    const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Hob);
    Out->Hobs.emplace_back(Bytes, Bytes + Hob->HobLength);
  }
  Out->RequestedLengths = Phase.RequestedHobLengths();
}

inline std::string ReturnedText(UINT32 Status) {
  return sim::Ia32RunReport{true, Status, "", 0, 0, "", 0}.Describe();
}

// The host build on a fresh phase of Board.
inline bool RunHostBuild(const PeiBoard &Board, PeiOutcome *Out, std::string *Error) {
  auto Phase = StartPhase(Board, Error);
  if (Phase == nullptr) return false;
  EFI_STATUS Status = RunModule(*Phase);
  *Out = PeiOutcome();
  Out->Run = ReturnedText(static_cast<UINT32>(Status) | (EFI_ERROR(Status) ? 0x80000000u : 0));
  CollectHobs(*Phase, Out);
  for (const sim::PeiDebugRecord &Record : Phase->DebugRecords()) Out->Debug.push_back(Record);
  return true;
}

// The TE image Te on a fresh phase of Board. false only when the board or the
// image cannot be set up; a run that ends in a fault is an outcome.
inline bool RunTeImage(const PeiBoard &Board, const std::vector<uint8_t> &Te, PeiOutcome *Out,
                       std::string *Error, const sim::Ia32RunLimits &Limits = {}) {
  auto Phase = StartPhase(Board, Error);
  if (Phase == nullptr) return false;
  sim::Ia32PeiHost Host(*Phase, Limits);
  if (!Host.Load(Te, Error)) return false;
  sim::Ia32RunReport Report = Host.Run();
  *Out = PeiOutcome();
  Out->Run = Report.Describe();
  Out->StackBytes = Report.StackBytesUsed;
  CollectHobs(*Phase, Out);
  for (const sim::PeiDebugRecord &Record : Host.DebugRecords()) Out->Debug.push_back(Record);
  return true;
}

inline std::string Joined(const std::vector<std::string> &Lines) {
  std::ostringstream Out;
  for (const std::string &Line : Lines) Out << "  " << Line << "\n";
  return Out.str();
}

}  // namespace pei_test

#endif  // ZEPHRIN_TESTS_PEI_TE_IMAGE_RUN_H_
