#include "sim/Recorders.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "sim/Platform.h"

namespace sim {

namespace {

Recorders &Rec() {
  return CurrentPlatform().Recorder();
}

EFI_STATUS EFIAPI SimWriteMessage(DEBUG_MESSAGE_PROTOCOL *, UINTN ErrorLevel, CHAR8 *Buffer, UINTN Length) {
  Rec().AddDebug(DebugRecord::Sink::Message, ErrorLevel, Buffer, Length);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimDebugPortReset(EFI_DEBUGPORT_PROTOCOL *) {
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimDebugPortWrite(EFI_DEBUGPORT_PROTOCOL *, UINT32, UINTN *BufferSize, VOID *Buffer) {
  if (BufferSize == nullptr || (*BufferSize != 0 && Buffer == nullptr)) return EFI_INVALID_PARAMETER;
  Rec().AddDebug(DebugRecord::Sink::Port, 0, static_cast<const CHAR8 *>(Buffer), *BufferSize);
  return EFI_SUCCESS;
}

// Nothing ever arrives from the host side of this debug port.
EFI_STATUS EFIAPI SimDebugPortRead(EFI_DEBUGPORT_PROTOCOL *, UINT32, UINTN *BufferSize, VOID *) {
  if (BufferSize != nullptr) *BufferSize = 0;
  return EFI_TIMEOUT;
}

EFI_STATUS EFIAPI SimDebugPortPoll(EFI_DEBUGPORT_PROTOCOL *) {
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI SimReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                      const EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  return Rec().AddStatusCode(Type, Value, Instance, CallerId, Data);
}

EFI_STATUS EFIAPI SimFailureNotify(UINT32 Code, const VOID *Data, UINT16 DataSize) {
  return Rec().AddFailure(Code, Data, DataSize);
}

std::string Hex(const VOID *Data, size_t Size) {
  static const char kDigits[] = "0123456789abcdef";
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  std::string Out;
  Out.reserve(Size * 2 + 1);
  Out.push_back('x');  // never empty, so fields stay separable
  for (size_t Index = 0; Index < Size; ++Index) {
    Out.push_back(kDigits[Bytes[Index] >> 4]);
    Out.push_back(kDigits[Bytes[Index] & 15]);
  }
  return Out;
}

std::string Hex(const std::string &Text) {
  return Hex(Text.data(), Text.size());
}
std::string Hex(const std::vector<UINT8> &Bytes) {
  return Hex(Bytes.data(), Bytes.size());
}

bool Unhex(const std::string &Field, std::string *Out) {
  if (Field.empty() || Field[0] != 'x' || Field.size() % 2 != 1) return false;
  Out->clear();
  for (size_t Pos = 1; Pos < Field.size(); Pos += 2) {
    unsigned Byte = 0;
    if (std::sscanf(Field.c_str() + Pos, "%2x", &Byte) != 1) return false;
    Out->push_back(static_cast<char>(Byte));
  }
  return true;
}

bool Unhex(const std::string &Field, std::vector<UINT8> *Out) {
  std::string Bytes;
  if (!Unhex(Field, &Bytes)) return false;
  Out->assign(Bytes.begin(), Bytes.end());
  return true;
}

bool UnhexGuid(const std::string &Field, EFI_GUID *Guid) {
  std::string Bytes;
  if (!Unhex(Field, &Bytes) || Bytes.size() != sizeof(EFI_GUID)) return false;
  std::memcpy(Guid, Bytes.data(), sizeof(EFI_GUID));
  return true;
}

}  // namespace

Recorders::Recorders(Platform &Owner) : mOwner(Owner) {
  mDebugMessage.WriteMessage = &SimWriteMessage;
  mDebugPort.Reset = &SimDebugPortReset;
  mDebugPort.Write = &SimDebugPortWrite;
  mDebugPort.Read = &SimDebugPortRead;
  mDebugPort.Poll = &SimDebugPortPoll;
  mStatusCode.ReportStatusCode = &SimReportStatusCode;
  mFailureNotify.Notify = &SimFailureNotify;
}

EFI_STATUS Recorders::InstallDebugMessage() {
  return mOwner.Protocols().InstallOnNewHandle(gEfiDebugMessageProtocolGuid, &mDebugMessage)
             ? EFI_SUCCESS
             : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS Recorders::InstallDebugPort() {
  return mOwner.Protocols().InstallOnNewHandle(gEfiDebugPortProtocolGuid, &mDebugPort) ? EFI_SUCCESS
                                                                                       : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS Recorders::InstallStatusCode() {
  return mOwner.Protocols().InstallOnNewHandle(gEfiStatusCodeRuntimeProtocolGuid, &mStatusCode)
             ? EFI_SUCCESS
             : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS Recorders::InstallFailureNotify() {
  return mOwner.Protocols().InstallOnNewHandle(gFailureNotifyProtocolGuid, &mFailureNotify)
             ? EFI_SUCCESS
             : EFI_OUT_OF_RESOURCES;
}

void Recorders::AddDebug(DebugRecord::Sink Via, UINTN Level, const CHAR8 *Buffer, UINTN Length) {
  DebugRecord Record;
  Record.Via = Via;
  Record.Level = Level;
  if (Buffer != nullptr) Record.Text.assign(Buffer, Length);
  if (mEcho) std::fwrite(Record.Text.data(), 1, Record.Text.size(), stderr);
  mRecords.Debug.push_back(std::move(Record));
}

// The data record is copied as its header describes it: HeaderSize bytes of
// header, then Size bytes of extended data.
EFI_STATUS Recorders::AddStatusCode(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId,
                                    const EFI_STATUS_CODE_DATA *Data) {
  StatusCodeRecord Record;
  Record.Type = Type;
  Record.Value = Value;
  Record.Instance = Instance;
  Record.HasCallerId = CallerId != nullptr;
  if (CallerId != nullptr) Record.CallerId = *CallerId;
  if (Data != nullptr) {
    const auto *Bytes = reinterpret_cast<const UINT8 *>(Data);
    Record.Data.assign(Bytes, Bytes + static_cast<size_t>(Data->HeaderSize) + Data->Size);
  }
  mRecords.StatusCodes.push_back(std::move(Record));
  return mStatusCodeStatus;
}

EFI_STATUS Recorders::AddFailure(UINT32 Code, const VOID *Data, UINT16 DataSize) {
  FailureRecord Record;
  Record.Code = Code;
  Record.DataWasNull = Data == nullptr;
  if (Data != nullptr) {
    const auto *Bytes = static_cast<const UINT8 *>(Data);
    Record.Data.assign(Bytes, Bytes + DataSize);
  }
  mRecords.Failures.push_back(std::move(Record));
  return mFailureNotifyStatus;
}

std::string Recorders::DebugText() const {
  std::string Text;
  for (auto &Record : mRecords.Debug) Text += Record.Text;
  return Text;
}

std::vector<std::string> BootRecords::DebugLines() const {
  std::string Text;
  for (auto &Record : Debug) Text += Record.Text;
  std::vector<std::string> Lines;
  std::string Line;
  for (size_t Pos = 0; Pos < Text.size(); ++Pos) {
    if (Text[Pos] == '\r' && Pos + 1 < Text.size() && Text[Pos + 1] == '\n') continue;
    if (Text[Pos] == '\n') {
      Lines.push_back(Line);
      Line.clear();
    } else {
      Line.push_back(Text[Pos]);
    }
  }
  if (!Line.empty()) Lines.push_back(Line);
  return Lines;
}

// One record per line: a tag letter, then blank-separated fields; byte strings
// as 'x' + hex, so no field contains a blank or a line end.
std::string BootRecords::Serialize() const {
  std::ostringstream Out;
  for (auto &Record : Debug) {
    Out << "D " << (Record.Via == DebugRecord::Sink::Port ? 1 : 0) << ' ' << Record.Level << ' '
        << Hex(Record.Text) << '\n';
  }
  for (auto &Record : StatusCodes) {
    Out << "S " << Record.Type << ' ' << Record.Value << ' ' << Record.Instance << ' '
        << (Record.HasCallerId ? 1 : 0) << ' ' << Hex(&Record.CallerId, sizeof(EFI_GUID)) << ' '
        << Hex(Record.Data) << '\n';
  }
  for (auto &Record : Failures) {
    Out << "F " << Record.Code << ' ' << (Record.DataWasNull ? 1 : 0) << ' ' << Hex(Record.Data) << '\n';
  }
  if (ResetHappened) Out << "R " << Reset.Type << ' ' << Reset.Status << ' ' << Hex(Reset.Data) << '\n';
  for (auto &Fault : Faults) Out << "X " << Hex(Fault) << '\n';
  return Out.str();
}

bool BootRecords::Parse(const std::string &Text, BootRecords *Out) {
  *Out = BootRecords();
  std::istringstream In(Text);
  std::string Line;
  while (std::getline(In, Line)) {
    std::istringstream Fields(Line);
    std::string Tag;
    Fields >> Tag;
    bool Ok = false;
    if (Tag == "D") {
      DebugRecord Record;
      int Port = 0;
      std::string Bytes;
      Ok = static_cast<bool>(Fields >> Port >> Record.Level >> Bytes) && Unhex(Bytes, &Record.Text);
      Record.Via = Port != 0 ? DebugRecord::Sink::Port : DebugRecord::Sink::Message;
      if (Ok) Out->Debug.push_back(std::move(Record));
    } else if (Tag == "S") {
      StatusCodeRecord Record;
      int HasCaller = 0;
      std::string Guid, Bytes;
      Ok = static_cast<bool>(Fields >> Record.Type >> Record.Value >> Record.Instance >> HasCaller >> Guid >>
                             Bytes) &&
           UnhexGuid(Guid, &Record.CallerId) && Unhex(Bytes, &Record.Data);
      Record.HasCallerId = HasCaller != 0;
      if (Ok) Out->StatusCodes.push_back(std::move(Record));
    } else if (Tag == "F") {
      FailureRecord Record;
      int WasNull = 0;
      std::string Bytes;
      Ok = static_cast<bool>(Fields >> Record.Code >> WasNull >> Bytes) && Unhex(Bytes, &Record.Data);
      Record.DataWasNull = WasNull != 0;
      if (Ok) Out->Failures.push_back(std::move(Record));
    } else if (Tag == "R") {
      UINT32 Type = 0;
      std::string Bytes;
      Ok = static_cast<bool>(Fields >> Type >> Out->Reset.Status >> Bytes) && Unhex(Bytes, &Out->Reset.Data);
      Out->Reset.Type = static_cast<EFI_RESET_TYPE>(Type);
      Out->ResetHappened = Ok;
    } else if (Tag == "X") {
      std::string Bytes, Fault;
      Ok = static_cast<bool>(Fields >> Bytes) && Unhex(Bytes, &Fault);
      if (Ok) Out->Faults.push_back(Fault);
    }
    if (!Ok) return false;
  }
  return true;
}

}  // namespace sim
