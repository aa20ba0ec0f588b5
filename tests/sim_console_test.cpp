#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/console.h"
#include "tests/sim_test_util.h"

namespace orv::sim {
namespace {

using test::DecodeAll;
using test::DecodedFrame;
using test::Hex;
using test::ReportFrame;
using test::Wire;

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : controller_(test::QuietOptions(), Random::Seeded(1)) {}

  ConsoleReply Type(const std::string& line, Millis now = Millis{0}) {
    return RunConsoleLine(controller_, line, now);
  }
  std::vector<DecodedFrame> Sent() { return DecodeAll(Wire(controller_.TakeOutput())); }
  Bytes PollWire(Millis now = Millis{0}) {
    return Wire(test::Request(controller_, Hex("02 01 06 00 2B 03"), now));
  }

  Controller controller_;
};

// A line, and the frames it makes the controller send.
struct SendCase {
  std::string line;
  std::vector<DecodedFrame> frames;
};

void PrintTo(const SendCase& c, std::ostream* os) {
  *os << '"' << c.line << '"';
}

class ConsoleSendTest : public ConsoleTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(ConsoleSendTest, LineSendsItsFrames) {
  const ConsoleReply reply = Type(GetParam().line);
  EXPECT_FALSE(reply.quit);
  EXPECT_EQ(Sent(), GetParam().frames) << reply.text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConsoleSendTest,
    ::testing::Values(
        SendCase{"fault 3 on", {ReportFrame(0x50, 0x0008), ReportFrame(0x21, 0x0008)}},
        SendCase{"fault 0 on", {ReportFrame(0x50, 0x4000), ReportFrame(0x21, 0x4000)}},
        SendCase{"fault 3 off", {ReportFrame(0x50, 0), ReportFrame(0x21, 0)}},
        SendCase{"trigger emg 60 on", {ReportFrame(0x39, 0x0020)}},
        SendCase{"trigger bus 13 on", {ReportFrame(0x32, 0x0040)}},
        SendCase{"trigger bgm 1 on", {ReportFrame(0x40, 0x0001)}},
        SendCase{"trigger 3 1 on", {ReportFrame(0x40, 0x0001)}},
        SendCase{"trigger soft 120 on", {}}, SendCase{"event 0x14 0", {ReportFrame(0x14, 0)}},
        SendCase{"event 33 261", {ReportFrame(0x21, 0x0105)}},
        SendCase{"event 0x2A 0xFFFF", {ReportFrame(0x2A, 0xFFFF)}},
        // Refused lines send nothing.
        SendCase{"fault 12 on", {}}, SendCase{"fault 3 maybe", {}}, SendCase{"fault", {}},
        SendCase{"trigger emg 61 on", {}}, SendCase{"trigger zone 1 on", {}},
        SendCase{"event 0x100 0", {}}, SendCase{"event 1 0x10000", {}}, SendCase{"event x 1", {}},
        SendCase{"", {}}, SendCase{"frobnicate", {}}),
    [](const auto& info) { return "Line" + std::to_string(info.index); });

TEST_F(ConsoleTest, RefusedLinesSayHowToUseThem) {
  EXPECT_NE(Type("fault 12 on").text.find("usage: fault"), std::string::npos);
  EXPECT_NE(Type("trigger").text.find("usage: trigger"), std::string::npos);
  EXPECT_NE(Type("longlen 101").text.find("usage: longlen"), std::string::npos);
  EXPECT_NE(Type("frobnicate").text.find("unknown command"), std::string::npos);
  EXPECT_TRUE(Type("   ").text.empty());
}

TEST_F(ConsoleTest, TriggerLineChangesTheNextStatusReply) {
  Type("trigger soft 120 on");
  const std::vector<DecodedFrame> reply =
      DecodeAll(Wire(test::Request(controller_, Hex("02 00 07 B6 03"), Millis{0})));
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].data[14], 0x80);
}

TEST_F(ConsoleTest, BadCrcLineSpoilsTheNextFrames) {
  Type("badcrc 2");
  EXPECT_TRUE(DecodeAll(PollWire()).empty());
  EXPECT_TRUE(DecodeAll(PollWire()).empty());
  EXPECT_EQ(DecodeAll(PollWire()).size(), 1u);
  Type("badcrc");  // one by default
  EXPECT_TRUE(DecodeAll(PollWire()).empty());
  EXPECT_EQ(DecodeAll(PollWire()).size(), 1u);
}

TEST_F(ConsoleTest, SplitLineSplitsTheNextFrameWithItsPause) {
  Type("split 700");
  const std::vector<Transmission> out =
      test::Request(controller_, Hex("02 01 06 00 2B 03"), Millis{0});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].pause_before, Millis{700});
}

TEST_F(ConsoleTest, NoiseBurstUnknownAndLonglenLines) {
  Type("noise 9");
  std::vector<Transmission> out = controller_.TakeOutput();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes.size(), 9u);

  Type("burst 30");
  EXPECT_GE(Sent().size(), 30u);

  Type("unknown");
  const std::vector<DecodedFrame> unknown = Sent();
  ASSERT_EQ(unknown.size(), 1u);
  EXPECT_NE(unknown[0].command, 0xA0);

  Type("longlen 130");
  const Bytes wire = Wire(controller_.TakeOutput());
  ASSERT_GT(wire.size(), 2u);
  EXPECT_EQ(wire[1], 130);
}

TEST_F(ConsoleTest, SilenceLineStopsAnswersForThatLong) {
  Type("silence 2.5", Millis{1000});
  EXPECT_TRUE(PollWire(Millis{3400}).empty());
  EXPECT_FALSE(PollWire(Millis{3500}).empty());
  EXPECT_NE(Type("silence").text.find("usage"), std::string::npos);
  EXPECT_NE(Type("silence -1").text.find("usage"), std::string::npos);
}

TEST_F(ConsoleTest, IntervalLineStartsAndStopsSpontaneousReports) {
  Type("interval 1");
  ASSERT_TRUE(controller_.NextDue().has_value());
  controller_.Tick(Millis{1500});
  EXPECT_FALSE(controller_.TakeOutput().empty());
  Type("interval 0", Millis{1500});
  EXPECT_FALSE(controller_.NextDue().has_value());
}

TEST_F(ConsoleTest, StateLineShowsFaultsEmergencyAndTriggers) {
  Type("fault 1 on");
  Type("trigger emg 5 on");
  test::Request(controller_, Hex("02 01 16 01 99 03"), Millis{0});
  const std::string text = Type("state").text;
  EXPECT_NE(text.find("Network"), std::string::npos) << text;
  EXPECT_NE(text.find("emergency on"), std::string::npos) << text;
  EXPECT_NE(text.find("EMG trigger states on: 5"), std::string::npos) << text;
  EXPECT_NE(text.find("soft trigger states on: none"), std::string::npos) << text;
}

TEST_F(ConsoleTest, QuitAndExitEndTheRunAndHelpListsEveryCommand) {
  EXPECT_TRUE(Type("quit").quit);
  EXPECT_TRUE(Type("exit").quit);
  EXPECT_FALSE(Type("help").quit);
  const std::string help = Type("help").text;
  for (const char* command : {"badcrc", "split", "noise", "burst", "silence", "unknown", "longlen",
                              "fault", "trigger", "event", "interval", "state", "help", "quit"})
    EXPECT_NE(help.find(std::string("  ") + command), std::string::npos) << command;
}

}  // namespace
}  // namespace orv::sim
