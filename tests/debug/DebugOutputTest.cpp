// Delivery of debug messages on the simulated platform: the level filter, the
// choice between the debug-message protocol and the debug port, the single
// lookup per boot, and what each sink is handed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace {

struct Delivery {
  UINTN ErrorLevel;  // level passed to the debug-message protocol (0 for the port)
  UINT32 Timeout;    // timeout passed to the debug port (0 for the protocol)
  UINTN Length;      // length the sink was told
  std::string Text;  // the Length bytes handed over
  bool Terminated;   // the byte after them is the terminator
};

// The platform's debug-message protocol: records every message.
struct MessageSink {
  DEBUG_MESSAGE_PROTOCOL Protocol;  // first, so This leads back to the sink
  std::vector<Delivery> Messages;

  MessageSink() : Protocol{nullptr, &WriteMessage} {}

  static EFI_STATUS EFIAPI WriteMessage(DEBUG_MESSAGE_PROTOCOL *This, UINTN ErrorLevel, CHAR8 *Buffer,
                                        UINTN Length) {
    auto *Sink = reinterpret_cast<MessageSink *>(This);
    Sink->Messages.push_back({ErrorLevel, 0, Length, std::string(Buffer, Length), Buffer[Length] == '\0'});
    return EFI_SUCCESS;
  }
};

// The debug port: records every Write; the other members must stay unused.
struct PortSink {
  EFI_DEBUGPORT_PROTOCOL Protocol;  // first, so This leads back to the sink
  std::vector<Delivery> Writes;

  PortSink() : Protocol{&Unused, &Write, &UnusedRead, &Unused} {}

  static EFI_STATUS EFIAPI Write(EFI_DEBUGPORT_PROTOCOL *This, UINT32 Timeout, UINTN *BufferSize,
                                 VOID *Buffer) {
    auto *Sink = reinterpret_cast<PortSink *>(This);
    const CHAR8 *Text = static_cast<const CHAR8 *>(Buffer);
    Sink->Writes.push_back(
        {0, Timeout, *BufferSize, std::string(Text, *BufferSize), Text[*BufferSize] == '\0'});
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
  void SetUp() override {
    gST = Platform.SystemTable();
    gBS = Platform.BootServices();
    gRT = Platform.RuntimeServices();
    // Each ctest case is its own process; clearing here keeps a direct run of
    // the whole program equally independent.
    mDebugOutputLocated = FALSE;
    mDebugMessageProtocol = nullptr;
    mDebugPort = nullptr;
  }
  void TearDown() override {
    gST = nullptr;
    gBS = nullptr;
    gRT = nullptr;
  }

  void InstallMessageSink() {
    ASSERT_NE(Platform.Protocols().InstallOnNewHandle(gEfiDebugMessageProtocolGuid, &Message.Protocol),
              nullptr);
  }
  void InstallPortSink() {
    ASSERT_NE(Platform.Protocols().InstallOnNewHandle(gEfiDebugPortProtocolGuid, &Port.Protocol), nullptr);
  }
  UINTN MessageLookups() { return Platform.Protocols().LocateCount(gEfiDebugMessageProtocolGuid); }
  UINTN PortLookups() { return Platform.Protocols().LocateCount(gEfiDebugPortProtocolGuid); }

  sim::Platform Platform;
  MessageSink Message;
  PortSink Port;
};

// ------------------------------------------------------------ sink choice

struct SinkRow {
  const char *Name;
  bool HasMessageProtocol;
  bool HasPort;
  size_t ExpectedMessages;
  size_t ExpectedPortWrites;
  UINTN ExpectedPortLookups;
};

void PrintTo(const SinkRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class SinkChoice : public DebugOutput, public testing::WithParamInterface<SinkRow> {};

TEST_P(SinkChoice, PrefersMessageProtocolThenPort) {
  const SinkRow &Row = GetParam();
  if (Row.HasMessageProtocol) InstallMessageSink();
  if (Row.HasPort) InstallPortSink();

  DebugPrint(DEBUG_INFO, "one\n");
  DebugPrint(DEBUG_ERROR, "two %d\n", 2);

  EXPECT_EQ(Message.Messages.size(), Row.ExpectedMessages);
  EXPECT_EQ(Port.Writes.size(), Row.ExpectedPortWrites);
  EXPECT_EQ(MessageLookups(), 1u);
  EXPECT_EQ(PortLookups(), Row.ExpectedPortLookups);
  EXPECT_TRUE(mDebugOutputLocated);
}

INSTANTIATE_TEST_SUITE_P(Sinks, SinkChoice,
                         testing::Values(SinkRow{"BothPresentUsesMessageProtocol", true, true, 2, 0, 0},
                                         SinkRow{"OnlyMessageProtocol", true, false, 2, 0, 0},
                                         SinkRow{"OnlyDebugPort", false, true, 0, 2, 1},
                                         SinkRow{"NeitherDropsMessages", false, false, 0, 0, 1}),
                         [](const testing::TestParamInfo<SinkRow> &Info) {
                           return std::string(Info.param.Name);
                         });

TEST_F(DebugOutput, MessageProtocolGetsLevelTextAndLength) {
  InstallMessageSink();
  DebugPrint(DEBUG_ERROR, "[%a] - Failed to get stored ACPI data: %r\n", "DoCertifiedWork", EFI_NOT_FOUND);
  ASSERT_EQ(Message.Messages.size(), 1u);
  const Delivery &Got = Message.Messages[0];
  EXPECT_EQ(Got.ErrorLevel, (UINTN)DEBUG_ERROR);
  EXPECT_EQ(Got.Text, "[DoCertifiedWork] - Failed to get stored ACPI data: Not Found\r\n");
  EXPECT_EQ(Got.Length, Got.Text.size());
  EXPECT_TRUE(Got.Terminated);
}

TEST_F(DebugOutput, DebugPortGetsTimeoutLengthAndText) {
  InstallPortSink();
  DebugPrint(DEBUG_INFO, "Line\n");
  ASSERT_EQ(Port.Writes.size(), 1u);
  EXPECT_EQ(Port.Writes[0].Timeout, 500u);
  EXPECT_EQ(Port.Writes[0].Length, 6u);
  EXPECT_EQ(Port.Writes[0].Text, "Line\r\n");
  EXPECT_TRUE(Port.Writes[0].Terminated);
}

// ------------------------------------------------------ single lookup

TEST_F(DebugOutput, ProtocolInstalledAfterFirstMessageIsNotUsed) {
  DebugPrint(DEBUG_INFO, "nobody listens\n");
  InstallMessageSink();
  InstallPortSink();
  DebugPrint(DEBUG_INFO, "still nobody\n");
  EXPECT_TRUE(Message.Messages.empty());
  EXPECT_TRUE(Port.Writes.empty());
  EXPECT_EQ(MessageLookups(), 1u);
  EXPECT_EQ(PortLookups(), 1u);
}

TEST_F(DebugOutput, PortKeptWhenMessageProtocolAppearsLater) {
  InstallPortSink();
  DebugPrint(DEBUG_WARN, "first\n");
  InstallMessageSink();
  DebugPrint(DEBUG_WARN, "second\n");
  EXPECT_TRUE(Message.Messages.empty());
  ASSERT_EQ(Port.Writes.size(), 2u);
  EXPECT_EQ(Port.Writes[1].Text, "second\r\n");
  EXPECT_EQ(MessageLookups(), 1u);
}

TEST_F(DebugOutput, MaskedLevelTriggersNoLookup) {
  InstallMessageSink();
  DebugPrint(0x1, "filtered %a\n", "away");
  EXPECT_FALSE(mDebugOutputLocated);
  EXPECT_EQ(MessageLookups(), 0u);
  EXPECT_EQ(PortLookups(), 0u);
  EXPECT_TRUE(Message.Messages.empty());
}

TEST_F(DebugOutput, MessageBeforeTablesAreBoundKeepsTheLookup) {
  gBS = nullptr;
  DebugPrint(DEBUG_ERROR, "too early\n");
  EXPECT_FALSE(mDebugOutputLocated);
  gBS = Platform.BootServices();
  InstallMessageSink();
  DebugPrint(DEBUG_ERROR, "on time\n");
  ASSERT_EQ(Message.Messages.size(), 1u);
  EXPECT_EQ(Message.Messages[0].Text, "on time\r\n");
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
  InstallMessageSink();
  DebugPrint(GetParam().Level, "level\n");
  if (GetParam().Delivered) {
    ASSERT_EQ(Message.Messages.size(), 1u);
    EXPECT_EQ(Message.Messages[0].ErrorLevel, GetParam().Level);
  } else {
    EXPECT_TRUE(Message.Messages.empty());
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
  InstallMessageSink();
  std::string Long(300, 'F');
  DebugPrint(DEBUG_INFO, Long.c_str());
  ASSERT_EQ(Message.Messages.size(), 1u);
  EXPECT_EQ(Message.Messages[0].Length, 255u);
  EXPECT_EQ(Message.Messages[0].Text, std::string(255, 'F'));
  EXPECT_TRUE(Message.Messages[0].Terminated);
}

TEST_F(DebugOutput, LongArgumentIsCutAt255Characters) {
  InstallPortSink();
  std::string Long(300, 'a');
  DebugPrint(DEBUG_INFO, "%a - %a\n", "Caller", Long.c_str());
  ASSERT_EQ(Port.Writes.size(), 1u);
  EXPECT_EQ(Port.Writes[0].Length, 255u);
  EXPECT_EQ(Port.Writes[0].Text, "Caller - " + std::string(246, 'a'));
}

TEST_F(DebugOutput, LengthEndsAtAnEmbeddedZeroCharacter) {
  InstallMessageSink();
  DebugPrint(DEBUG_INFO, "ab%cde", (UINTN)0);
  ASSERT_EQ(Message.Messages.size(), 1u);
  EXPECT_EQ(Message.Messages[0].Length, 2u);
  EXPECT_EQ(Message.Messages[0].Text, "ab");
}

}  // namespace
