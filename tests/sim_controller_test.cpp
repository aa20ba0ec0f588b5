#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "link/frame.h"
#include "sim/controller.h"
#include "tests/sim_test_util.h"

namespace orv::sim {
namespace {

using test::DecodeAll;
using test::DecodedFrame;
using test::Hex;
using test::ReportFrame;
using test::Wire;

class ControllerTest : public ::testing::Test {
 protected:
  explicit ControllerTest(ControllerOptions options = test::QuietOptions())
      : controller_(options, Random::Seeded(7)) {}

  // Sends the request bytes and returns the wire bytes of the answer.
  Bytes Send(const std::string& request_hex, Millis now = Millis{0}) {
    return Wire(test::Request(controller_, Hex(request_hex), now));
  }
  std::vector<DecodedFrame> SendDecoded(const std::string& request_hex, Millis now = Millis{0}) {
    return DecodeAll(Send(request_hex, now));
  }

  Controller controller_;
};

TEST_F(ControllerTest, FaultPollWithNoFaultsGetsAnEmptyImage) {
  EXPECT_EQ(Send("02 01 06 00 2B 03"), Hex("02 02 06 00 00 03 03"));
}

TEST_F(ControllerTest, FaultPollReplyCarriesTheSetFaultsInLampOrder) {
  controller_.SetFault(1, true, Millis{0});  // Network
  controller_.SetFault(9, true, Millis{0});  // EMG mic.
  controller_.TakeOutput();
  EXPECT_EQ(Send("02 01 06 00 2B 03"), Hex("02 02 06 02 02 2E 03"));
}

// Lamp, reply-6 bytes, panel status word: the two layouts differ for every lamp but 8..11.
struct LampCase {
  int lamp;
  std::uint8_t d0, d1;
  std::uint16_t panel_word;
};

void PrintTo(const LampCase& c, std::ostream* os) {
  *os << "lamp " << c.lamp;
}

class LampLayoutTest : public ControllerTest, public ::testing::WithParamInterface<LampCase> {};

TEST_P(LampLayoutTest, OneFaultShowsAtItsBitInBothLayouts) {
  const LampCase& c = GetParam();
  ASSERT_TRUE(controller_.SetFault(c.lamp, true, Millis{0}));
  EXPECT_EQ(DecodeAll(Wire(controller_.TakeOutput())),
            (std::vector<DecodedFrame>{ReportFrame(0x50, c.panel_word),
                                       ReportFrame(0x21, c.panel_word)}));
  EXPECT_EQ(SendDecoded("02 01 06 00 2B 03"), (std::vector<DecodedFrame>{{6, {c.d0, c.d1}}}));
}

INSTANTIATE_TEST_SUITE_P(
    AllLamps, LampLayoutTest,
    ::testing::Values(LampCase{0, 0x01, 0, 0x4000}, LampCase{1, 0x02, 0, 0x1000},
                      LampCase{2, 0x04, 0, 0x0004}, LampCase{3, 0x08, 0, 0x0008},
                      LampCase{4, 0x10, 0, 0x0010}, LampCase{5, 0x20, 0, 0x2000},
                      LampCase{6, 0x40, 0, 0x0002}, LampCase{7, 0x80, 0, 0x0001},
                      LampCase{8, 0, 0x01, 0x0100}, LampCase{9, 0, 0x02, 0x0200},
                      LampCase{10, 0, 0x04, 0x0400}, LampCase{11, 0, 0x08, 0x0800}));

TEST_F(ControllerTest, FaultOutsideTheTwelveLampsIsRefused) {
  EXPECT_FALSE(controller_.SetFault(12, true, Millis{0}));
  EXPECT_FALSE(controller_.SetFault(-1, true, Millis{0}));
  EXPECT_TRUE(controller_.TakeOutput().empty());
}

TEST_F(ControllerTest, StatusPollsWithNothingOnGetEmptyImagesOfThePageSize) {
  EXPECT_EQ(Send("02 00 08 F7 03"), Hex("02 0A 08 00 00 00 00 00 00 00 00 00 00 F7 03"));
  const std::vector<std::pair<std::string, std::size_t>> polls{
      {"02 00 07 B6 03", 15}, {"02 00 09 A9 03", 10}, {"02 00 0A 4B 03", 10}};
  for (const auto& [request, bytes] : polls) {
    const std::vector<DecodedFrame> reply = SendDecoded(request);
    ASSERT_EQ(reply.size(), 1u) << request;
    EXPECT_EQ(reply[0].command, Hex(request)[2]);
    EXPECT_EQ(reply[0].data, Bytes(bytes, 0)) << request;
  }
}

// A set command, then the page's poll: the trigger shows at its byte and bit, and the event
// report names its unit.
struct SetCase {
  std::string set_frame;   // set command for one trigger, on
  std::string poll_frame;  // status request of that page
  std::size_t byte;
  std::uint8_t mask;
  std::vector<DecodedFrame> reports;
};

void PrintTo(const SetCase& c, std::ostream* os) {
  *os << c.set_frame;
}

class SetCommandTest : public ControllerTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetCommandTest, NextStatusReplyShowsTheChangeAndAReportTellsOfIt) {
  const SetCase& c = GetParam();
  EXPECT_EQ(SendDecoded(c.set_frame), c.reports);
  const std::vector<DecodedFrame> reply = SendDecoded(c.poll_frame);
  ASSERT_EQ(reply.size(), 1u);
  for (std::size_t i = 0; i < reply[0].data.size(); ++i)
    EXPECT_EQ(reply[0].data[i], i == c.byte ? c.mask : 0) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, SetCommandTest,
    ::testing::Values(
        // EMG trigger 1 and 5: unit 0, bits 0-5 of the value.
        SetCase{"02 02 13 01 01 E6 03", "02 00 08 F7 03", 0, 0x01, {ReportFrame(0x30, 0x0001)}},
        SetCase{"02 02 13 05 01 DD 03", "02 00 08 F7 03", 0, 0x10, {ReportFrame(0x30, 0x0010)}},
        // EMG trigger 60: unit 9, last bit of the last byte.
        SetCase{"02 02 13 3C 01 42 03", "02 00 08 F7 03", 9, 0x20, {ReportFrame(0x39, 0x0020)}},
        // Business trigger 13: unit 2, bit 6 of the value.
        SetCase{"02 02 14 0D 01 D1 03", "02 00 09 A9 03", 2, 0x01, {ReportFrame(0x32, 0x0040)}},
        // BGM channel 8: unit 1, bit 1.
        SetCase{"02 02 17 08 01 CA 03", "02 00 0A 4B 03", 1, 0x02, {ReportFrame(0x41, 0x0002)}},
        // Soft triggers 9 and 120: eight to a byte, and no report.
        SetCase{"02 02 12 09 01 3B 03", "02 00 07 B6 03", 1, 0x01, {}},
        SetCase{"02 02 12 78 01 49 03", "02 00 07 B6 03", 14, 0x80, {}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ControllerTest, TriggerReportCarriesBothGroupsOfTheUnit) {
  Send("02 02 13 07 01 4C 03");                   // EMG trigger 7: unit 1, bit 0
  EXPECT_EQ(SendDecoded("02 02 14 08 01 2E 03"),  // business trigger 8: unit 1, bit 1 -> bit 7
            (std::vector<DecodedFrame>{ReportFrame(0x31, 0x0081)}));
  EXPECT_EQ(Send("02 02 14 08 01 2E 03"), Hex("02 03 A0 31 00 81 E5 03"));
}

TEST_F(ControllerTest, TriggerOffReportsTheUnitWithoutIt) {
  Send("02 02 13 01 01 E6 03");
  Send("02 02 13 05 01 DD 03");
  EXPECT_EQ(SendDecoded("02 02 13 05 00 83 03"),
            (std::vector<DecodedFrame>{ReportFrame(0x30, 0x0001)}));
  EXPECT_EQ(SendDecoded("02 00 08 F7 03")[0].data[0], 0x01);
}

TEST_F(ControllerTest, TriggerNumberOutsideThePageChangesNothing) {
  EXPECT_TRUE(Send("02 02 13 3D 01 86 03").empty());  // EMG trigger 61
  EXPECT_EQ(Send("02 00 08 F7 03"), Hex("02 0A 08 00 00 00 00 00 00 00 00 00 00 F7 03"));
}

TEST_F(ControllerTest, SetCommandWithoutItsStateByteIsIgnored) {
  const Bytes short_set = EncodeFrame(19, Bytes{5});
  EXPECT_TRUE(Wire(test::Request(controller_, short_set, Millis{0})).empty());
  EXPECT_FALSE(controller_.state().Trigger(0, 5));
}

// Key, reports it produces, emergency afterwards (starting from an emergency with two faults).
struct KeyCase {
  std::string frame;
  std::vector<DecodedFrame> reports;
  bool emergency_after;
  int faults_after;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.frame;
}

class KeyTest : public ControllerTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTest, KeyProducesItsReportsAndState) {
  const KeyCase& c = GetParam();
  Send("02 01 16 01 99 03");  // EMG: the emergency runs
  controller_.SetFault(1, true, Millis{0});
  controller_.SetFault(7, true, Millis{0});
  controller_.TakeOutput();
  EXPECT_EQ(SendDecoded(c.frame), c.reports);
  EXPECT_EQ(controller_.state().emergency(), c.emergency_after);
  EXPECT_EQ(controller_.state().FaultCount(), c.faults_after);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyTest,
    ::testing::Values(KeyCase{"02 01 16 01 99 03", {ReportFrame(0x11, 0)}, true, 2},
                      KeyCase{"02 01 16 02 7B 03", {ReportFrame(0x12, 0)}, true, 2},
                      KeyCase{"02 01 16 03 25 03", {ReportFrame(0x13, 0)}, false, 2},
                      KeyCase{"02 01 16 04 A6 03", {ReportFrame(0x22, 0)}, true, 2},
                      KeyCase{"02 01 16 05 F8 03",
                              {ReportFrame(0x23, 0), ReportFrame(0x50, 0), ReportFrame(0x21, 0)},
                              true,
                              0},
                      KeyCase{"02 01 16 06 1A 03", {ReportFrame(0x16, 0)}, true, 2},
                      KeyCase{"02 01 16 07 44 03", {}, true, 2}),
    [](const auto& info) { return "Key" + std::to_string(info.index + 1); });

TEST_F(ControllerTest, EmgKeyGivesTheExactReportFrame) {
  EXPECT_EQ(Send("02 01 16 01 99 03"), Hex("02 03 A0 11 00 00 A3 03"));
  EXPECT_TRUE(controller_.state().emergency());
  EXPECT_EQ(Send("02 01 16 02 7B 03"), Hex("02 03 A0 12 00 00 47 03"));
  EXPECT_TRUE(controller_.state().emergency_acknowledged());
}

TEST_F(ControllerTest, FaultResetClearsTheFaultImage) {
  controller_.SetFault(4, true, Millis{0});
  controller_.TakeOutput();
  Send("02 01 16 05 F8 03");
  EXPECT_EQ(Send("02 01 06 00 2B 03"), Hex("02 02 06 00 00 03 03"));
}

TEST_F(ControllerTest, SupervisionSettingsAreStored) {
  EXPECT_TRUE(Send("02 01 10 1E EF 03").empty());
  EXPECT_TRUE(Send("02 01 11 01 F7 03").empty());
  EXPECT_EQ(controller_.state().supervision_time(), 30);
  EXPECT_TRUE(controller_.state().supervision_on());
  Send("02 01 11 00 A9 03");
  EXPECT_FALSE(controller_.state().supervision_on());
}

TEST_F(ControllerTest, SupervisionTimeoutRaisesRcpFaultAndNextFrameClearsIt) {
  Send("02 01 10 0A 13 03", Millis{0});  // 10 s
  Send("02 01 11 01 F7 03", Millis{0});
  controller_.Tick(Millis{9900});
  EXPECT_TRUE(controller_.TakeOutput().empty());
  controller_.Tick(Millis{10000});
  EXPECT_EQ(DecodeAll(Wire(controller_.TakeOutput())),
            (std::vector<DecodedFrame>{ReportFrame(0x50, 0x0400), ReportFrame(0x21, 0x0400)}));
  controller_.Tick(Millis{20000});  // raised once, not again
  EXPECT_TRUE(controller_.TakeOutput().empty());
  EXPECT_EQ(SendDecoded("02 01 06 00 2B 03", Millis{20100}),
            (std::vector<DecodedFrame>{ReportFrame(0x50, 0), ReportFrame(0x21, 0), {6, {0, 0}}}));
}

TEST_F(ControllerTest, SupervisionOffNeverRaisesTheFault) {
  Send("02 01 10 0A 13 03", Millis{0});
  controller_.Tick(Millis{60000});
  EXPECT_TRUE(controller_.TakeOutput().empty());
}

TEST_F(ControllerTest, ImpedanceCheckAnswersTwoSecondsLaterWithTheFaults) {
  controller_.SetFault(3, true, Millis{0});
  controller_.TakeOutput();
  EXPECT_TRUE(Send("02 00 18 6A 03", Millis{1000}).empty());
  EXPECT_EQ(controller_.NextDue(), Millis{3000});
  controller_.Tick(Millis{2999});
  EXPECT_TRUE(controller_.TakeOutput().empty());
  controller_.Tick(Millis{3000});
  EXPECT_EQ(DecodeAll(Wire(controller_.TakeOutput())),
            (std::vector<DecodedFrame>{ReportFrame(0x50, 0x0008), ReportFrame(0x21, 0x0008)}));
  controller_.Tick(Millis{6000});
  EXPECT_TRUE(controller_.TakeOutput().empty());
}

TEST_F(ControllerTest, UnknownCommandFromThePanelIsIgnored) {
  EXPECT_TRUE(Wire(test::Request(controller_, EncodeFrame(0x42, Bytes{1, 2}), Millis{0})).empty());
}

TEST_F(ControllerTest, SilenceDropsAnswersUntilItEnds) {
  controller_.Silence(Millis{5000}, Millis{0});
  EXPECT_TRUE(Send("02 01 06 00 2B 03", Millis{4999}).empty());
  EXPECT_TRUE(Send("02 01 16 01 99 03", Millis{4999}).empty());
  EXPECT_TRUE(controller_.state().emergency());  // obeyed, only not told
  EXPECT_EQ(controller_.frames_dropped(), 2);
  EXPECT_EQ(Send("02 01 06 00 2B 03", Millis{5000}), Hex("02 02 06 00 00 03 03"));
}

class AckControllerTest : public ControllerTest {
 protected:
  static ControllerOptions Options() {
    ControllerOptions options = test::QuietOptions();
    options.ack_commands = true;
    options.reply_delay_ms = 30;
    return options;
  }
  AckControllerTest() : ControllerTest(Options()) {}
};

TEST_F(AckControllerTest, CommandsAreAcknowledgedBeforeTheirReport) {
  EXPECT_EQ(SendDecoded("02 02 13 01 01 E6 03"),
            (std::vector<DecodedFrame>{{19, {}}, ReportFrame(0x30, 1)}));
  EXPECT_EQ(SendDecoded("02 01 11 01 F7 03"), (std::vector<DecodedFrame>{{17, {}}}));
  // Requests are answered, not acknowledged.
  EXPECT_EQ(SendDecoded("02 01 06 00 2B 03"), (std::vector<DecodedFrame>{{6, {0, 0}}}));
}

TEST_F(AckControllerTest, ReplyDelayIsAPauseBeforeTheFirstFrameOnly) {
  const std::vector<Transmission> out =
      test::Request(controller_, Hex("02 02 13 01 01 E6 03"), Millis{0});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].pause_before, Millis{30});
  EXPECT_EQ(out[1].pause_before, Millis{0});
}

class NoAnswerTest : public ControllerTest {
 protected:
  static ControllerOptions Options() {
    ControllerOptions options = test::QuietOptions();
    options.no_answer_every = 3;
    return options;
  }
  NoAnswerTest() : ControllerTest(Options()) {}
};

TEST_F(NoAnswerTest, EveryThirdRequestGoesUnanswered) {
  std::vector<bool> answered;
  for (int i = 0; i < 6; ++i)
    answered.push_back(!Send("02 00 08 F7 03").empty());
  EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false}));
  // Commands are not counted as requests.
  Send("02 01 16 04 A6 03");
  EXPECT_FALSE(Send("02 00 08 F7 03").empty());
}

}  // namespace
}  // namespace orv::sim
