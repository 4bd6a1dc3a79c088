// One boot per child process. The child sends the parent a snapshot of its
// BootResult when it enters each stage and a final one when the boot ends, as
// length-prefixed records on a pipe; the parent keeps the last complete one, so
// a boot that crashes still reports everything up to the stage it died in.
#include "sim/BootRunner.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace sim {

// ---------------------------------------------------------------------------
// Script steps

BootStep BootStep::EndOfDxe() {
  BootStep Step;
  Step.What = Kind::EndOfDxe;
  Step.Name = "EndOfDxe";
  return Step;
}

BootStep BootStep::ReadyToBoot() {
  BootStep Step;
  Step.What = Kind::ReadyToBoot;
  Step.Name = "ReadyToBoot";
  return Step;
}

BootStep BootStep::ExitBootServices() {
  BootStep Step;
  Step.What = Kind::ExitBootServices;
  Step.Name = "ExitBootServices";
  return Step;
}

BootStep BootStep::EventGroup(const EFI_GUID &Group, std::string Name) {
  BootStep Step;
  Step.What = Kind::EventGroup;
  Step.Name = std::move(Name);
  Step.Guid = Group;
  return Step;
}

BootStep BootStep::SetVariable(std::u16string VariableName, const EFI_GUID &Guid, UINT32 Attributes,
                               std::vector<UINT8> Data) {
  BootStep Step;
  Step.What = Kind::SetVariable;
  Step.Name = "SetVariable";
  Step.Guid = Guid;
  Step.VariableName = std::move(VariableName);
  Step.Attributes = Attributes;
  Step.Data = std::move(Data);
  return Step;
}

BootScript DefaultBootScript(const EFI_GUID &CustomPathGroup) {
  return {BootStep::EndOfDxe(), BootStep::EventGroup(CustomPathGroup, "CustomPath"), BootStep::ReadyToBoot(),
          BootStep::ExitBootServices()};
}

const char *BootEndName(BootEnd End) {
  switch (End) {
    case BootEnd::Normal:
      return "normal end";
    case BootEnd::Reset:
      return "reset";
    case BootEnd::Crash:
      return "crash";
    case BootEnd::Timeout:
      return "timeout";
    case BootEnd::Error:
      return "runner error";
  }
  return "?";
}

std::string BootResult::Describe() const {
  std::ostringstream Out;
  Out << "boot ended: " << BootEndName(End) << " in stage \"" << Stage << "\"";
  if (End == BootEnd::Crash) Out << " (signal " << Signal << ")";
  if (End == BootEnd::Reset) Out << " (reset type " << Records.Reset.Type << ")";
  if (!Error.empty()) Out << ": " << Error;
  if (EntryReturned) Out << "\nentry point returned 0x" << std::hex << EntryStatus << std::dec;
  for (const std::string &Line : DebugLines()) Out << "\n  | " << Line;
  for (const std::string &Fault : Records.Faults) Out << "\n  fault: " << Fault;
  for (const std::string &Note : Notes) Out << "\n  note: " << Note;
  if (!LeakReport.empty()) Out << "\n" << LeakReport;
  return Out.str();
}

// ---------------------------------------------------------------------------
// Wire format between child and parent: little-endian integers, length-
// prefixed byte strings. The reader is bounded: a record cut short by a dying
// child fails to decode instead of being read past its end.

namespace {

class WireWriter {
 public:
  void Put(uint64_t Value) { mBytes.append(reinterpret_cast<const char *>(&Value), sizeof(Value)); }
  void Put(const void *Data, size_t Size) {
    Put(uint64_t{Size});
    mBytes.append(static_cast<const char *>(Data), Size);
  }
  void Put(const std::string &Text) { Put(Text.data(), Text.size()); }
  void Put(const std::u16string &Text) { Put(Text.data(), Text.size() * sizeof(char16_t)); }
  void Put(const std::vector<UINT8> &Bytes) { Put(Bytes.data(), Bytes.size()); }
  void Put(const std::vector<std::string> &Lines) {
    Put(uint64_t{Lines.size()});
    for (const std::string &Line : Lines) Put(Line);
  }
  const std::string &Bytes() const { return mBytes; }

 private:
  std::string mBytes;
};

class WireReader {
 public:
  explicit WireReader(const std::string &Bytes) : mBytes(Bytes) {}
  bool Failed() const { return mFailed; }

  template <typename T>
  void GetInt(T *Out) {
    uint64_t Value = 0;
    Raw(&Value, sizeof(Value));
    *Out = static_cast<T>(Value);
  }
  void Get(std::string *Out) { GetBytesInto(Out); }
  void Get(std::vector<UINT8> *Out) {
    std::string Bytes;
    GetBytesInto(&Bytes);
    Out->assign(Bytes.begin(), Bytes.end());
  }
  void Get(std::u16string *Out) {
    std::string Bytes;
    GetBytesInto(&Bytes);
    Out->assign(Bytes.size() / sizeof(char16_t), u'\0');
    memcpy(&(*Out)[0], Bytes.data(), Out->size() * sizeof(char16_t));
  }
  void Get(std::vector<std::string> *Lines) {
    uint64_t Count = 0;
    GetInt(&Count);
    // Each line costs at least its 8-byte length, so Count is bounded by what is left.
    if (Count > (mBytes.size() - mPos) / 8) mFailed = true;
    for (uint64_t Index = 0; Index < Count && !mFailed; Index++) {
      Lines->emplace_back();
      Get(&Lines->back());
    }
  }

 private:
  void Raw(void *Out, size_t Size) {
    if (mFailed || Size > mBytes.size() - mPos) {
      mFailed = true;
      memset(Out, 0, Size);
      return;
    }
    memcpy(Out, mBytes.data() + mPos, Size);
    mPos += Size;
  }
  void GetBytesInto(std::string *Out) {
    uint64_t Size = 0;
    GetInt(&Size);
    if (mFailed || Size > mBytes.size() - mPos) {
      mFailed = true;
      return;
    }
    Out->assign(mBytes.data() + mPos, Size);
    mPos += Size;
  }

  const std::string &mBytes;
  size_t mPos = 0;
  bool mFailed = false;
};

// Final is set on the record sent when the boot ends; snapshots sent on entering
// a stage carry it clear.
std::string EncodeResult(const BootResult &R, bool Final) {
  WireWriter W;
  W.Put(uint64_t{Final});
  W.Put(static_cast<uint64_t>(R.End));
  W.Put(R.Stage);
  W.Put(R.Error);
  W.Put(static_cast<uint64_t>(R.Signal));
  W.Put(uint64_t{R.EntryReturned});
  W.Put(uint64_t{R.EntryStatus});
  W.Put(R.Records.Serialize());
  W.Put(R.Notes);
  W.Put(uint64_t{R.VariableWrites.size()});
  for (const VariableWrite &Write : R.VariableWrites) {
    W.Put(Write.Name);
    W.Put(&Write.Guid, sizeof(Write.Guid));
    W.Put(uint64_t{Write.Attributes});
    W.Put(uint64_t{Write.DataSize});
    W.Put(Write.Data);
    W.Put(uint64_t{Write.Status});
    W.Put(Write.Stage);
  }
  W.Put(R.PoolAllocations);
  W.Put(uint64_t{R.PoolOutstanding});
  W.Put(uint64_t{R.PoolOutstandingBytes});
  W.Put(uint64_t{R.PoolPeakBytes});
  W.Put(R.LeakReport);
  return W.Bytes();
}

bool DecodeResult(const std::string &Bytes, BootResult *R, bool *Final) {
  WireReader In(Bytes);
  uint64_t Count = 0;
  In.GetInt(Final);
  In.GetInt(&R->End);
  In.Get(&R->Stage);
  In.Get(&R->Error);
  In.GetInt(&R->Signal);
  In.GetInt(&R->EntryReturned);
  In.GetInt(&R->EntryStatus);
  std::string Records;
  In.Get(&Records);
  if (!In.Failed() && !BootRecords::Parse(Records, &R->Records)) return false;
  In.Get(&R->Notes);
  In.GetInt(&Count);
  for (uint64_t Index = 0; Index < Count && !In.Failed(); Index++) {
    VariableWrite Write;
    std::string Guid;
    In.Get(&Write.Name);
    In.Get(&Guid);
    if (Guid.size() == sizeof(Write.Guid)) memcpy(&Write.Guid, Guid.data(), sizeof(Write.Guid));
    In.GetInt(&Write.Attributes);
    In.GetInt(&Write.DataSize);
    In.Get(&Write.Data);
    In.GetInt(&Write.Status);
    In.Get(&Write.Stage);
    R->VariableWrites.push_back(std::move(Write));
  }
  In.GetInt(&R->PoolAllocations);
  In.GetInt(&R->PoolOutstanding);
  In.GetInt(&R->PoolOutstandingBytes);
  In.GetInt(&R->PoolPeakBytes);
  In.Get(&R->LeakReport);
  return !In.Failed();
}

bool WriteAll(int Fd, const void *Data, size_t Size) {
  const char *Bytes = static_cast<const char *>(Data);
  while (Size != 0) {
    ssize_t Written = write(Fd, Bytes, Size);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return false;
    Bytes += Written;
    Size -= static_cast<size_t>(Written);
  }
  return true;
}

// Names handed to SetVariable come from the code under test: bounded walk.
std::u16string VariableNameOf(const CHAR16 *Name) {
  std::u16string Text;
  for (size_t Index = 0; Name != nullptr && Index < 1024 && Name[Index] != 0; Index++)
    Text.push_back(Name[Index]);
  return Text;
}

}  // namespace

// ---------------------------------------------------------------------------
// The child side

struct BootContext::Internal {
  // The boot this child runs; the service wrappers find it here.
  static BootContext *Active;

  static void Enter(BootContext &Boot, const std::string &Stage) {
    Boot.mResult.Stage = Stage;
    Send(Boot, false);
  }

  // Fills the recorder-backed fields from the platform, then writes a record.
  static void Send(BootContext &Boot, bool Final) {
    Collect(Boot);
    std::string Payload = EncodeResult(Boot.mResult, Final);
    uint64_t Size = Payload.size();
    if (!WriteAll(Boot.mResultFd, &Size, sizeof(Size)) || !WriteAll(Boot.mResultFd, Payload.data(), Size)) {
      _exit(3);  // the parent is gone; nobody is left to report to
    }
  }

  static void Collect(BootContext &Boot) {
    BootResult &R = Boot.mResult;
    sim::Platform &P = *Boot.mPlatform;
    R.Records = P.Snapshot();
    R.PoolAllocations = P.Pool().TotalAllocations();
    R.PoolOutstanding = P.Pool().OutstandingCount();
    R.PoolOutstandingBytes = P.Pool().OutstandingBytes();
    R.PoolPeakBytes = P.Pool().PeakBytes();
    R.LeakReport = P.Pool().LeakReport();
  }

  // Ends the boot: final record, mapping released, process gone. Never returns,
  // so a reset deep inside driver code does not unwind through its frames.
  [[noreturn]] static void Finish(BootContext &Boot, BootEnd End) {
    Boot.mResult.End = End;
    Send(Boot, true);
    Boot.mImage.reset();
    close(Boot.mResultFd);
    fflush(nullptr);  // _exit skips stdio: keep what the boot printed
    _exit(0);
  }

  [[noreturn]] static void Fail(BootContext &Boot, const std::string &Error) {
    Boot.mResult.Error = Error;
    Finish(Boot, BootEnd::Error);
  }

  static EFI_STATUS EFIAPI RecordingSetVariable(CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes,
                                                UINTN DataSize, VOID *Data) {
    BootContext &Boot = *Active;
    EFI_STATUS Status = Boot.mPlatformSetVariable(Name, Guid, Attributes, DataSize, Data);
    VariableWrite Write;
    Write.Name = VariableNameOf(Name);
    if (Guid != nullptr) Write.Guid = *Guid;
    Write.Attributes = Attributes;
    Write.DataSize = DataSize;
    // The data is copied only when the platform took it: a refused call may come
    // with a size its buffer does not have, and the recorder must not crash on it.
    if (!EFI_ERROR(Status) && Data != nullptr) {
      Write.Data.assign(static_cast<UINT8 *>(Data), static_cast<UINT8 *>(Data) + DataSize);
    }
    Write.Status = Status;
    Write.Stage = Boot.mResult.Stage;
    Boot.mResult.VariableWrites.push_back(std::move(Write));
    return Status;
  }

  // SetVariable is recorded, and the table CRC brought up to date as firmware
  // does after changing a service table. A reset ends the child right where it
  // happens (the platform has recorded it by then), so no firmware frame unwinds.
  static void HookPlatform(BootContext &Boot) {
    EFI_RUNTIME_SERVICES *Rt = Boot.mPlatform->RuntimeServices();
    Boot.mPlatformSetVariable = Rt->SetVariable;
    Rt->SetVariable = RecordingSetVariable;
    Boot.mPlatform->UpdateTableCrcs();
    Boot.mPlatform->SetResetHandler([&Boot](const ResetRecord &) {
      // A firmware whose reset returns: the parent learns of the reset now, and
      // of what the driver does next from how the boot ends (a driver that stops
      // runs into the time limit).
      if (!Boot.mPlatform->Options().ResetSystemReturns) Finish(Boot, BootEnd::Reset);
      Enter(Boot, kStageAfterReset);
    });
  }

  [[noreturn]] static void RunChild(const BootOptions &Options, const BootBody &Body, int ResultFd) {
    sim::Platform Platform(Options.Platform);
    BootContext Boot;
    Boot.mPlatform = &Platform;
    Boot.mResultFd = ResultFd;
    Boot.mScript = &Options.Script;
    Platform.Recorder().EchoDebug(Options.EchoDebug);
    Active = &Boot;
    HookPlatform(Boot);
    Enter(Boot, "setup");
    if (Body) Body(Boot);
    Boot.RunScript();
    Finish(Boot, BootEnd::Normal);
  }

  struct ChildArguments {
    const BootOptions *Options;
    const BootBody *Body;
    int ResultFd;
  };

  static void *ChildThread(void *Argument) {
    const ChildArguments &Args = *static_cast<ChildArguments *>(Argument);
    RunChild(*Args.Options, *Args.Body, Args.ResultFd);
  }

  // Runs the boot on a thread whose stack has the size of a firmware stack, so
  // a driver that keeps large work areas on the stack overflows here as it would
  // on a board (the guard page below the stack turns that into a crash).
  [[noreturn]] static void RunChildOnFirmwareStack(const BootOptions &Options, const BootBody &Body,
                                                   int ResultFd) {
    if (Options.StackBytes == 0) RunChild(Options, Body, ResultFd);
    ChildArguments Args = {&Options, &Body, ResultFd};
    pthread_attr_t Attributes;
    pthread_t Thread;
    pthread_attr_init(&Attributes);
    const size_t Minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    size_t Bytes = Options.StackBytes < Minimum ? Minimum : Options.StackBytes;
    if (pthread_attr_setstacksize(&Attributes, Bytes) != 0 ||
        pthread_create(&Thread, &Attributes, ChildThread, &Args) != 0) {
      _exit(4);  // the parent reports a boot that sent no result
    }
    pthread_join(Thread, nullptr);  // the thread ends the process itself
    _exit(5);
  }
};

BootContext *BootContext::Internal::Active = nullptr;

EFI_STATUS BootContext::StartDriver(const DriverSource &Driver) {
  EFI_IMAGE_ENTRY_POINT Entry = Driver.Entry();
  VOID *Base = nullptr;
  uint64_t Size = 0;
  if (Driver.IsImage()) {
    std::string Error;
    mImage = PeImage::LoadFile(Driver.Path(), &Error);
    if (mImage == nullptr) Internal::Fail(*this, "cannot load " + Driver.Path() + ": " + Error);
    Entry = mImage->EntryPoint();
    Base = mImage->Base();
    Size = mImage->Size();
  }
  EFI_STATUS Status = EFI_SUCCESS;
  mImageHandle = ImageHandle::Install(mPlatform->SystemTable(), mOrigin, Base, Size, &Status);
  if (mImageHandle == nullptr) {
    char Text[64];
    snprintf(Text, sizeof(Text), "cannot install the image handle: status 0x%llx",
             static_cast<unsigned long long>(Status));
    Internal::Fail(*this, Text);
  }
  Internal::Enter(*this, "entry");
  mResult.EntryStatus = Entry(mImageHandle->Handle(), mPlatform->SystemTable());
  mResult.EntryReturned = true;
  return mResult.EntryStatus;
}

void BootContext::RunScript() {
  if (mScriptRan) return;
  mScriptRan = true;
  for (const BootStep &Step : *mScript) RunStep(Step);
}

void BootContext::RunStep(const BootStep &Step) {
  Internal::Enter(*this, Step.Name);
  switch (Step.What) {
    case BootStep::Kind::EndOfDxe:
      mPlatform->SignalEndOfDxe();
      break;
    case BootStep::Kind::ReadyToBoot:
      mPlatform->SignalReadyToBoot();
      break;
    case BootStep::Kind::ExitBootServices:
      mPlatform->SignalExitBootServices();
      break;
    case BootStep::Kind::EventGroup:
      mPlatform->SignalEventGroup(Step.Guid);
      break;
    case BootStep::Kind::SetVariable: {
      std::u16string Name = Step.VariableName;
      EFI_GUID Guid = Step.Guid;
      std::vector<UINT8> Data = Step.Data;
      // Through the table, as a platform component calls it.
      mPlatform->RuntimeServices()->SetVariable(&Name[0], &Guid, Step.Attributes, Data.size(), Data.data());
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// The parent side

namespace {

// Reads records until the child closes the pipe or the deadline passes; keeps
// the last complete record in *Last. False on timeout.
bool ReadRecords(int Fd, std::chrono::steady_clock::time_point Deadline, std::string *Last) {
  std::string Pending;
  char Buffer[65536];
  for (;;) {
    auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (Left.count() <= 0) return false;
    pollfd Poll = {Fd, POLLIN, 0};
    int Ready = poll(&Poll, 1, static_cast<int>(Left.count()));
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready == 0) return false;  // deadline passed
    if (Ready < 0) return true;    // the pipe is unusable: judge the child by its exit
    ssize_t Got = read(Fd, Buffer, sizeof(Buffer));
    if (Got < 0 && errno == EINTR) continue;
    if (Got <= 0) return true;  // end of file: the child is done
    Pending.append(Buffer, static_cast<size_t>(Got));
    uint64_t Size = 0;
    while (Pending.size() >= sizeof(Size)) {
      memcpy(&Size, Pending.data(), sizeof(Size));
      if (Pending.size() - sizeof(Size) < Size) break;
      *Last = Pending.substr(sizeof(Size), Size);
      Pending.erase(0, sizeof(Size) + Size);
    }
  }
}

// Applies how the child process ended to the last record it sent. A child that
// exits without its final record died inside the boot: a sanitizer report or an
// exit() call ends it with a status instead of a signal, and counts as a crash.
void JudgeExit(int WaitStatus, bool HaveRecord, bool Final, BootResult *R) {
  if (WIFSIGNALED(WaitStatus)) {
    R->End = BootEnd::Crash;
    R->Signal = WTERMSIG(WaitStatus);
  } else if (!HaveRecord) {
    R->End = BootEnd::Error;
    R->Error =
        "the boot process sent no result (exit status " + std::to_string(WEXITSTATUS(WaitStatus)) + ")";
  } else if (!Final || WEXITSTATUS(WaitStatus) != 0) {
    R->End = BootEnd::Crash;
    R->Error = "the boot process exited with status " + std::to_string(WEXITSTATUS(WaitStatus)) +
               " before the boot ended";
  }
}

}  // namespace

BootResult RunBoot(const BootOptions &Options, const BootBody &Body) {
  BootResult Result;
  int Pipe[2];
  if (pipe(Pipe) != 0) {
    Result.Error = "cannot create the result pipe";
    return Result;
  }
  fflush(stdout);
  fflush(stderr);
  pid_t Child = fork();
  if (Child < 0) {
    close(Pipe[0]);
    close(Pipe[1]);
    Result.Error = "cannot fork the boot process";
    return Result;
  }
  if (Child == 0) {
    close(Pipe[0]);
    BootContext::Internal::RunChildOnFirmwareStack(Options, Body, Pipe[1]);
  }
  close(Pipe[1]);
  std::string Last;
  bool Finished = ReadRecords(
      Pipe[0], std::chrono::steady_clock::now() + std::chrono::seconds(Options.TimeoutSeconds), &Last);
  if (!Finished) kill(Child, SIGKILL);
  close(Pipe[0]);
  int WaitStatus = 0;
  while (waitpid(Child, &WaitStatus, 0) < 0 && errno == EINTR) {
  }
  bool Final = false;
  bool HaveRecord = !Last.empty() && DecodeResult(Last, &Result, &Final);
  if (!Finished) {
    Result.End = BootEnd::Timeout;
  } else {
    JudgeExit(WaitStatus, HaveRecord, Final, &Result);
  }
  return Result;
}

BootResult RunDriverBoot(const BootOptions &Options, const DriverSource &Driver, const BootBody &Setup,
                         const BootBody &Inspect) {
  return RunBoot(Options, [&](BootContext &Boot) {
    if (Setup) Setup(Boot);
    Boot.StartDriver(Driver);
    Boot.RunScript();
    if (Inspect) {
      BootContext::Internal::Enter(Boot, "inspect");
      Inspect(Boot);
    }
  });
}

}  // namespace sim
