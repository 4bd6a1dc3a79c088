// Recorders of what the firmware tells its platform: debug messages (through the
// debug-message protocol or the debug port), status codes, failure
// notifications and the reset that ends a boot. Each sink protocol is present
// or absent per test; all records are kept in order for assertions and can be
// serialised for a parent process.
#ifndef ZEPHRIN_SIM_RECORDERS_H_
#define ZEPHRIN_SIM_RECORDERS_H_

#include <string>
#include <vector>

#include "uefi/Protocol/DebugMessage.h"
#include "uefi/Protocol/DebugPort.h"
#include "uefi/Protocol/FailureNotify.h"
#include "uefi/Protocol/StatusCode.h"
#include "uefi/UefiSpec.h"

namespace sim {

class Platform;

struct DebugRecord {
  enum class Sink { Message, Port };
  Sink Via = Sink::Message;
  UINTN Level = 0;   // debug-message protocol only; 0 for the debug port
  std::string Text;  // exactly the bytes delivered (CR LF line ends included)
};

struct StatusCodeRecord {
  UINT32 Type = 0;
  UINT32 Value = 0;
  UINT32 Instance = 0;
  bool HasCallerId = false;
  EFI_GUID CallerId = {};
  // The EFI_STATUS_CODE_DATA record as passed: header (HeaderSize bytes) and
  // Size bytes of extended data; empty when Data was NULL.
  std::vector<UINT8> Data;
};

struct FailureRecord {
  UINT32 Code = 0;
  bool DataWasNull = true;
  std::vector<UINT8> Data;  // DataSize bytes
};

struct ResetRecord {
  EFI_RESET_TYPE Type = EfiResetCold;
  EFI_STATUS Status = EFI_SUCCESS;
  std::vector<UINT8> Data;  // ResetData, DataSize bytes
};

// Everything recorded in one boot, in a form a parent process can receive.
struct BootRecords {
  std::vector<DebugRecord> Debug;
  std::vector<StatusCodeRecord> StatusCodes;
  std::vector<FailureRecord> Failures;
  bool ResetHappened = false;
  ResetRecord Reset;
  std::vector<std::string> Faults;

  // The debug text with CR LF turned into LF, split into lines without their
  // line ends: how tests compare with expected messages.
  std::vector<std::string> DebugLines() const;
  std::string Serialize() const;
  // False for text that Serialize did not produce.
  static bool Parse(const std::string &Text, BootRecords *Out);
};

class Recorders {
 public:
  explicit Recorders(Platform &Owner);
  Recorders(const Recorders &) = delete;
  Recorders &operator=(const Recorders &) = delete;

  // Each installs its protocol on a new handle; call before the driver runs.
  EFI_STATUS InstallDebugMessage();
  EFI_STATUS InstallDebugPort();
  EFI_STATUS InstallStatusCode();
  EFI_STATUS InstallFailureNotify();

  // Statuses the sinks answer with (default EFI_SUCCESS).
  void SetFailureNotifyStatus(EFI_STATUS Status) { mFailureNotifyStatus = Status; }
  void SetStatusCodeStatus(EFI_STATUS Status) { mStatusCodeStatus = Status; }
  // Copies every debug message to stderr as it arrives (demos, debugging).
  void EchoDebug(bool On) { mEcho = On; }

  BootRecords &Records() { return mRecords; }
  const BootRecords &Records() const { return mRecords; }
  std::vector<std::string> DebugLines() const { return mRecords.DebugLines(); }
  // All debug text delivered, concatenated.
  std::string DebugText() const;

  // Used by the sink functions.
  void AddDebug(DebugRecord::Sink Via, UINTN Level, const CHAR8 *Buffer, UINTN Length);
  EFI_STATUS AddStatusCode(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId,
                           const EFI_STATUS_CODE_DATA *Data);
  EFI_STATUS AddFailure(UINT32 Code, const VOID *Data, UINT16 DataSize);

  DEBUG_MESSAGE_PROTOCOL *DebugMessageProtocol() { return &mDebugMessage; }
  EFI_DEBUGPORT_PROTOCOL *DebugPortProtocol() { return &mDebugPort; }

 private:
  Platform &mOwner;
  BootRecords mRecords;
  DEBUG_MESSAGE_PROTOCOL mDebugMessage{};
  EFI_DEBUGPORT_PROTOCOL mDebugPort{};
  EFI_STATUS_CODE_PROTOCOL mStatusCode{};
  FAILURE_NOTIFY_PROTOCOL mFailureNotify{};
  EFI_STATUS mFailureNotifyStatus = EFI_SUCCESS;
  EFI_STATUS mStatusCodeStatus = EFI_SUCCESS;
  bool mEcho = false;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_RECORDERS_H_
