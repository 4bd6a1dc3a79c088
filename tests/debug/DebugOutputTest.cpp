// Delivery of debug messages on the simulated platform: the level filter, the
// choice between the debug-message protocol and the debug port, the single
// lookup per boot, and what each sink is handed.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"

namespace {

using sim::DebugRecord;

// A debug port that keeps what the recorder of the platform does not: the
// timeout and the byte after the message. Its other members must stay unused.
struct TimeoutCheckingPort {
  EFI_DEBUGPORT_PROTOCOL Protocol;  // first, so This leads back to the port
  std::vector<UINT32> Timeouts;
  std::vector<std::string> Texts;
  bool AllTerminated = true;

  TimeoutCheckingPort() : Protocol{&Unused, &Write, &UnusedRead, &Unused} {}

  static EFI_STATUS EFIAPI Write(EFI_DEBUGPORT_PROTOCOL *This, UINT32 Timeout, UINTN *BufferSize,
                                 VOID *Buffer) {
    auto *Port = reinterpret_cast<TimeoutCheckingPort *>(This);
    const CHAR8 *Text = static_cast<const CHAR8 *>(Buffer);
    Port->Timeouts.push_back(Timeout);
    Port->Texts.emplace_back(Text, *BufferSize);
    Port->AllTerminated = Port->AllTerminated && Text[*BufferSize] == '\0';
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Unused(EFI_DEBUGPORT_PROTOCOL *) {
    ADD_FAILURE() << "only Write of the debug port is used";
    return EFI_UNSUPPORTED;
  }
  static EFI_STATUS EFIAPI UnusedRead(EFI_DEBUGPORT_PROTOCOL *, UINT32, UINTN *, VOID *) {
    ADD_FAILURE() << "the debug port is never read";
    return EFI_UNSUPPORTED;
  }
};

class DebugOutput : public testing::Test {
 protected:
  void TearDown() override { sim::UnbindDriver(); }

  // One boot with the chosen sinks present from the start.
  void Boot(bool MessageProtocol, bool DebugPort) {
    sim::PlatformOptions Options;
    Options.InstallDebugMessage = MessageProtocol;
    Options.InstallDebugPort = DebugPort;
    Platform = std::make_unique<sim::Platform>(Options);
    sim::BindDriverTo(*Platform);
  }

  const std::vector<DebugRecord> &Delivered() { return Platform->Recorder().Records().Debug; }
  UINTN MessageLookups() { return Platform->Protocols().LocateCount(gEfiDebugMessageProtocolGuid); }
  UINTN PortLookups() { return Platform->Protocols().LocateCount(gEfiDebugPortProtocolGuid); }

  std::unique_ptr<sim::Platform> Platform;
};

// ------------------------------------------------------------ sink choice

struct SinkRow {
  const char *Name;
  bool HasMessageProtocol;
  bool HasPort;
  size_t ExpectedDeliveries;
  DebugRecord::Sink ExpectedVia;
  UINTN ExpectedPortLookups;
};

void PrintTo(const SinkRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class SinkChoice : public DebugOutput, public testing::WithParamInterface<SinkRow> {};

TEST_P(SinkChoice, PrefersMessageProtocolThenPort) {
  const SinkRow &Row = GetParam();
  Boot(Row.HasMessageProtocol, Row.HasPort);

  DebugPrint(DEBUG_INFO, "one\n");
  DebugPrint(DEBUG_ERROR, "two %d\n", 2);

  ASSERT_EQ(Delivered().size(), Row.ExpectedDeliveries);
  for (const DebugRecord &Record : Delivered()) {
    EXPECT_EQ(Record.Via, Row.ExpectedVia);
  }
  EXPECT_EQ(MessageLookups(), 1u);
  EXPECT_EQ(PortLookups(), Row.ExpectedPortLookups);
  EXPECT_TRUE(mDebugOutputLocated);
}

INSTANTIATE_TEST_SUITE_P(
    Sinks, SinkChoice,
    testing::Values(SinkRow{"BothPresentUsesMessageProtocol", true, true, 2, DebugRecord::Sink::Message, 0},
                    SinkRow{"OnlyMessageProtocol", true, false, 2, DebugRecord::Sink::Message, 0},
                    SinkRow{"OnlyDebugPort", false, true, 2, DebugRecord::Sink::Port, 1},
                    SinkRow{"NeitherDropsMessages", false, false, 0, DebugRecord::Sink::Message, 1}),
    [](const testing::TestParamInfo<SinkRow> &Info) { return std::string(Info.param.Name); });

TEST_F(DebugOutput, MessageProtocolGetsLevelAndText) {
  Boot(true, false);
  DebugPrint(DEBUG_ERROR, "[%a] - Failed to get stored ACPI data: %r\n", "DoCertifiedWork", EFI_NOT_FOUND);
  ASSERT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(Delivered()[0].Level, (UINTN)DEBUG_ERROR);
  EXPECT_EQ(Delivered()[0].Text, "[DoCertifiedWork] - Failed to get stored ACPI data: Not Found\r\n");
}

TEST_F(DebugOutput, DebugPortGetsTimeoutLengthAndText) {
  Boot(false, false);
  TimeoutCheckingPort Port;
  ASSERT_NE(Platform->Protocols().InstallOnNewHandle(gEfiDebugPortProtocolGuid, &Port.Protocol), nullptr);
  DebugPrint(DEBUG_INFO, "Line\n");
  ASSERT_EQ(Port.Texts.size(), 1u);
  EXPECT_EQ(Port.Timeouts[0], 500u);
  EXPECT_EQ(Port.Texts[0], "Line\r\n");  // Length 6
  EXPECT_TRUE(Port.AllTerminated);
}

// ------------------------------------------------------ single lookup

TEST_F(DebugOutput, ProtocolInstalledAfterFirstMessageIsNotUsed) {
  Boot(false, false);
  DebugPrint(DEBUG_INFO, "nobody listens\n");
  Platform->Recorder().InstallDebugMessage();
  Platform->Recorder().InstallDebugPort();
  DebugPrint(DEBUG_INFO, "still nobody\n");
  EXPECT_TRUE(Delivered().empty());
  EXPECT_EQ(MessageLookups(), 1u);
  EXPECT_EQ(PortLookups(), 1u);
}

TEST_F(DebugOutput, PortKeptWhenMessageProtocolAppearsLater) {
  Boot(false, true);
  DebugPrint(DEBUG_WARN, "first\n");
  Platform->Recorder().InstallDebugMessage();
  DebugPrint(DEBUG_WARN, "second\n");
  ASSERT_EQ(Delivered().size(), 2u);
  EXPECT_EQ(Delivered()[1].Via, DebugRecord::Sink::Port);
  EXPECT_EQ(Delivered()[1].Text, "second\r\n");
  EXPECT_EQ(MessageLookups(), 1u);
}

TEST_F(DebugOutput, MaskedLevelTriggersNoLookup) {
  Boot(true, true);
  DebugPrint(0x1, "filtered %a\n", "away");
  EXPECT_FALSE(mDebugOutputLocated);
  EXPECT_EQ(MessageLookups(), 0u);
  EXPECT_EQ(PortLookups(), 0u);
  EXPECT_TRUE(Delivered().empty());
}

TEST_F(DebugOutput, MessageBeforeTablesAreBoundKeepsTheLookup) {
  Boot(true, false);
  gBS = nullptr;
  DebugPrint(DEBUG_ERROR, "too early\n");
  EXPECT_FALSE(mDebugOutputLocated);
  gBS = Platform->BootServices();
  DebugPrint(DEBUG_ERROR, "on time\n");
  ASSERT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(Delivered()[0].Text, "on time\r\n");
}

// ------------------------------------------------------------ level mask

struct LevelRow {
  const char *Name;
  UINTN Level;
  bool Delivered;
};

void PrintTo(const LevelRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class LevelMask : public DebugOutput, public testing::WithParamInterface<LevelRow> {};

TEST_P(LevelMask, DeliversOnlyLevelsSharingABitWithTheMask) {
  Boot(true, false);
  DebugPrint(GetParam().Level, "level\n");
  if (GetParam().Delivered) {
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].Level, GetParam().Level);
  } else {
    EXPECT_TRUE(Delivered().empty());
    EXPECT_EQ(MessageLookups(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LevelMask,
    testing::Values(LevelRow{"Init", 0x1, false}, LevelRow{"Warn", DEBUG_WARN, true},
                    LevelRow{"Load", 0x4, true}, LevelRow{"Fs", 0x8, false},
                    LevelRow{"Info", DEBUG_INFO, true}, LevelRow{"Bit200", 0x200, true},
                    LevelRow{"Bit10000", 0x10000, false}, LevelRow{"Bit80000", 0x80000, true},
                    LevelRow{"Error", DEBUG_ERROR, true}, LevelRow{"InitPlusInfo", 0x41, true},
                    LevelRow{"Zero", 0, false}, LevelRow{"AllUnmaskedBits", ~(UINTN)0x80080246, false}),
    [](const testing::TestParamInfo<LevelRow> &Info) { return std::string(Info.param.Name); });

// ------------------------------------------------------------ message size

TEST_F(DebugOutput, LongFormatIsCutAt255Characters) {
  Boot(true, false);
  std::string Long(300, 'F');
  DebugPrint(DEBUG_INFO, Long.c_str());
  ASSERT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(Delivered()[0].Text, std::string(255, 'F'));
}

TEST_F(DebugOutput, LongArgumentIsCutAt255Characters) {
  Boot(false, true);
  std::string Long(300, 'a');
  DebugPrint(DEBUG_INFO, "%a - %a\n", "Caller", Long.c_str());
  ASSERT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(Delivered()[0].Text, "Caller - " + std::string(246, 'a'));
}

TEST_F(DebugOutput, LengthEndsAtAnEmbeddedZeroCharacter) {
  Boot(true, false);
  DebugPrint(DEBUG_INFO, "ab%cde", (UINTN)0);
  ASSERT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(Delivered()[0].Text, "ab");
}

}  // namespace
