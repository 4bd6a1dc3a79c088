// Recorders of debug output, status codes, failure notifications and resets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tests/sim/NoExceptCaller.h"

namespace {

template <typename T>
T *Locate(sim::Platform &Board, const EFI_GUID &Guid) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(Board.BootServices()->LocateProtocol(const_cast<EFI_GUID *>(&Guid), nullptr, &Interface))) {
    return nullptr;
  }
  return static_cast<T *>(Interface);
}

TEST(RecordersTest, SinksArePresentOrAbsentPerOptions) {
  sim::PlatformOptions Options;
  Options.InstallDebugMessage = false;
  Options.InstallDebugPort = true;
  Options.InstallStatusCode = false;
  Options.InstallFailureNotify = false;
  sim::Platform Board(Options);
  EXPECT_EQ(Locate<DEBUG_MESSAGE_PROTOCOL>(Board, gEfiDebugMessageProtocolGuid), nullptr);
  EXPECT_EQ(Locate<EFI_STATUS_CODE_PROTOCOL>(Board, gEfiStatusCodeRuntimeProtocolGuid), nullptr);
  EXPECT_EQ(Locate<FAILURE_NOTIFY_PROTOCOL>(Board, gFailureNotifyProtocolGuid), nullptr);
  auto *Port = Locate<EFI_DEBUGPORT_PROTOCOL>(Board, gEfiDebugPortProtocolGuid);
  ASSERT_NE(Port, nullptr);
  char Text[] = "Line\r\nNext\r\n";
  UINTN Size = 12;
  EXPECT_EQ(Port->Write(Port, 500, &Size, Text), EFI_SUCCESS);
  EXPECT_EQ(Size, 12u);
  EXPECT_EQ(Board.Recorder().DebugLines(), (std::vector<std::string>{"Line", "Next"}));
  EXPECT_EQ(Board.Recorder().Records().Debug[0].Via, sim::DebugRecord::Sink::Port);
}

TEST(RecordersTest, DebugMessageKeepsLevelAndExactBytes) {
  sim::Platform Board;
  auto *Sink = Locate<DEBUG_MESSAGE_PROTOCOL>(Board, gEfiDebugMessageProtocolGuid);
  ASSERT_NE(Sink, nullptr);
  char Text[] = "abc\r\nignored";
  EXPECT_EQ(Sink->WriteMessage(Sink, 0x80000000, Text, 5), EFI_SUCCESS);
  ASSERT_EQ(Board.Recorder().Records().Debug.size(), 1u);
  EXPECT_EQ(Board.Recorder().Records().Debug[0].Level, 0x80000000u);
  EXPECT_EQ(Board.Recorder().DebugText(), "abc\r\n");
}

TEST(RecordersTest, StatusCodeRecordsTheWholeDataRecord) {
  sim::Platform Board;
  auto *StatusCode = Locate<EFI_STATUS_CODE_PROTOCOL>(Board, gEfiStatusCodeRuntimeProtocolGuid);
  ASSERT_NE(StatusCode, nullptr);
  UINT8 Record[68] = {};
  EFI_STATUS_CODE_DATA Header = {
      20, 48, {0x91DEEA05, 0x8C0A, 0x4DCD, {0xB9, 0x1E, 0xF2, 0x1C, 0xA0, 0xC6, 0x84, 0x05}}};
  std::memcpy(Record, &Header, sizeof(Header));
  Record[67] = 0x80;
  EFI_GUID Caller = {0x2552C00F, 0x3CE4, 0x4B17, {0x91, 0x5C, 0x36, 0x9A, 0x01, 0x4A, 0x4C, 0xAE}};
  EXPECT_EQ(StatusCode->ReportStatusCode(0x80000002, 0x03051025, 0, &Caller,
                                         reinterpret_cast<EFI_STATUS_CODE_DATA *>(Record)),
            EFI_SUCCESS);
  const auto &Codes = Board.Recorder().Records().StatusCodes;
  ASSERT_EQ(Codes.size(), 1u);
  EXPECT_EQ(Codes[0].Type, 0x80000002u);
  EXPECT_EQ(Codes[0].Value, 0x03051025u);
  EXPECT_TRUE(Codes[0].HasCallerId);
  EXPECT_EQ(Codes[0].Data, std::vector<UINT8>(Record, Record + 68));
}

TEST(RecordersTest, FailureNotifyRecordsCodeAndDataAndAnswersTheSetStatus) {
  sim::Platform Board;
  auto *Notify = Locate<FAILURE_NOTIFY_PROTOCOL>(Board, gFailureNotifyProtocolGuid);
  ASSERT_NE(Notify, nullptr);
  Board.Recorder().SetFailureNotifyStatus(EFI_DEVICE_ERROR);
  UINT8 Data[2] = {1, 2};
  EXPECT_EQ(Notify->Notify(8, nullptr, 0), EFI_DEVICE_ERROR);
  EXPECT_EQ(Notify->Notify(18, Data, 2), EFI_DEVICE_ERROR);
  const auto &Failures = Board.Recorder().Records().Failures;
  ASSERT_EQ(Failures.size(), 2u);
  EXPECT_TRUE(Failures[0].DataWasNull);
  EXPECT_EQ(Failures[1].Code, 18u);
  EXPECT_EQ(Failures[1].Data, (std::vector<UINT8>{1, 2}));
}

TEST(RecordersTest, ResetUnwindsThroughFirmwareFramesToRunBoot) {
  sim::Platform Board;
  sim::BootOutcome Outcome = Board.RunBoot([&Board] { FirmwareStyleFatalPath(Board.SystemTable()); });
  EXPECT_TRUE(Outcome.Reset);
  EXPECT_EQ(Outcome.Record.Type, EfiResetCold);
  EXPECT_EQ(Outcome.Record.Status, EFI_ABORTED);
  EXPECT_EQ(Outcome.Record.Data, (std::vector<UINT8>{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(gLinesAfterReset, 0);
  EXPECT_TRUE(Board.Snapshot().ResetHappened);
  EXPECT_FALSE(Board.RunBoot([] {}).Reset);
}

TEST(RecordersTest, ResetHandlerIsCalledFirst) {
  sim::Platform Board;
  EFI_RESET_TYPE Seen = EfiResetShutdown;
  Board.SetResetHandler([&Seen](const sim::ResetRecord &Record) {
    Seen = Record.Type;
    throw sim::ResetSignal{Record};  // stands in for a handler that ends the process
  });
  Board.RunBoot([&Board] { Board.RuntimeServices()->ResetSystem(EfiResetWarm, EFI_SUCCESS, 0, nullptr); });
  EXPECT_EQ(Seen, EfiResetWarm);
}

TEST(RecordersTest, RecordsSurviveSerialisation) {
  sim::BootRecords Records;
  Records.Debug.push_back({sim::DebugRecord::Sink::Message, 0x40, "Enter\r\n"});
  Records.Debug.push_back({sim::DebugRecord::Sink::Port, 0, std::string("with blank and \0 zero", 21)});
  sim::StatusCodeRecord Code;
  Code.Type = 0x80000002;
  Code.Value = 0x03051024;
  Code.HasCallerId = true;
  Code.CallerId = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  Code.Data = {20, 0, 48, 0};
  Records.StatusCodes.push_back(Code);
  Records.Failures.push_back({8, true, {}});
  Records.Failures.push_back({18, false, {0xAA, 0xBB}});
  Records.ResetHappened = true;
  Records.Reset = {EfiResetCold, EFI_NOT_FOUND, {}};
  Records.Faults.push_back("FreePool of a pointer that is not a live pool buffer");

  sim::BootRecords Back;
  ASSERT_TRUE(sim::BootRecords::Parse(Records.Serialize(), &Back));
  EXPECT_EQ(Back.Serialize(), Records.Serialize());
  EXPECT_EQ(Back.Debug[1].Text, Records.Debug[1].Text);
  EXPECT_EQ(Back.StatusCodes[0].Data, Code.Data);
  EXPECT_EQ(Back.Reset.Status, EFI_NOT_FOUND);
  EXPECT_EQ(Back.Faults, Records.Faults);
  EXPECT_FALSE(sim::BootRecords::Parse("D 0 1 x0\n", &Back));
  EXPECT_FALSE(sim::BootRecords::Parse("Q nonsense\n", &Back));
}

}  // namespace
