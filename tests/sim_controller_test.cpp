// The simulated controller's core without I/O: answers, commands, keys, supervision, the
// impedance check, misbehaviour by option, and the reports it generates.
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <set>
#include <tuple>

#include "tests/sim_fixture.h"

namespace orv::sim {
namespace {

TEST_F(ControllerTest, EachLampHasItsBitInTheFaultReplyAndInTheFaultReports) {
  // Lamp by lamp: reply bits in lamp order, and the panel status word, which has its own order.
  const std::uint16_t kWords[] = {0x4000, 0x1000, 0x0004, 0x0008, 0x0010, 0x2000,
                                  0x0002, 0x0001, 0x0100, 0x0200, 0x0400, 0x0800};
  for (int lamp = 0; lamp < 12; ++lamp) {
    const std::uint16_t word = kWords[lamp], image = std::uint16_t(1 << lamp);
    Controller c(kQuiet, Random::Seeded(7));
    ASSERT_TRUE(c.SetFault(lamp, true, Millis{0}));
    EXPECT_EQ(Sent(c), (Frames{ReportFrame(0x50, word), ReportFrame(0x21, word)})) << lamp;
    EXPECT_EQ(Send(c, kFaultPoll),
              EncodeFrame(6, Bytes{std::uint8_t(image), std::uint8_t(image >> 8)}));
  }
  c_.SetFault(1, true, Millis{0});
  c_.SetFault(9, true, Millis{0});
  c_.TakeOutput();
  EXPECT_EQ(Send(c_, kFaultPoll), Hex("02 02 06 02 02 2E 03"));
}

TEST(ControllerSetTest, SetCommandShowsInTheNextStatusReplyAndReportsItsUnit) {
  // Set one trigger on; the report frame; its page's poll and where the trigger shows.
  const std::tuple<const char*, const char*, const char*, std::size_t, int> kCases[] = {
      {"02 02 13 01 01 E6 03", "02 03 A0 30 00 01 C2 03", "02 00 08 F7 03", 0, 0x01},  // EMG 1
      {"02 02 13 3C 01 42 03", "02 03 A0 39 00 20 31 03", "02 00 08 F7 03", 9, 0x20},  // EMG 60
      {"02 02 14 0D 01 D1 03", "02 03 A0 32 00 40 95 03", "02 00 09 A9 03", 2, 0x01},  // bus 13
      {"02 02 17 08 01 CA 03", "02 03 A0 41 00 02 64 03", "02 00 0A 4B 03", 1, 0x02},  // BGM 8
      {"02 02 12 09 01 3B 03", "", "02 00 07 B6 03", 1, 0x01},  // soft: no report
      {"02 02 12 78 01 49 03", "", "02 00 07 B6 03", 14, 0x80}};
  for (const auto& [set, report, poll, byte, mask] : kCases) {
    Controller c(kQuiet, Random::Seeded(7));
    EXPECT_EQ(Send(c, set), Hex(report)) << set;
    Bytes page(Hex(poll)[2] == 7 ? 15 : 10, 0);  // the soft page has 120 triggers, 8 a byte
    page.at(byte) = std::uint8_t(mask);
    EXPECT_EQ(Send(c, poll), EncodeFrame(Hex(poll)[2], page)) << set;
  }
  Controller c(kQuiet, Random::Seeded(7));
  Send(c, "02 02 13 07 01 4C 03");  // EMG 7: unit 1, bit 0; business 8: bit 7 of the same unit
  EXPECT_EQ(Send(c, "02 02 14 08 01 2E 03"), Hex("02 03 A0 31 00 81 E5 03"));
  EXPECT_EQ(Send(c, "02 02 13 07 00 12 03"), Hex("02 03 A0 31 00 80 BB 03"));
  // Trigger 61, a set without its state byte and an unknown command change and send nothing.
  for (const Bytes& frame :
       {Hex("02 02 13 3D 01 86 03"), EncodeFrame(19, Bytes{5}), EncodeFrame(0x42, Bytes{1, 2})})
    EXPECT_TRUE(Request(c, frame).empty());
  EXPECT_EQ(Send(c, "02 00 08 F7 03"), Hex("02 0A 08 00 00 00 00 00 00 00 00 00 00 F7 03"));
}

TEST(ControllerKeyTest, KeyProducesItsReportsAndState) {
  // From a running emergency with two faults: key, report frames, emergency after.
  const std::tuple<const char*, const char*, bool> kCases[] = {
      {"02 01 16 01 99 03", "02 03 A0 11 00 00 A3 03", true},
      {"02 01 16 02 7B 03", "02 03 A0 12 00 00 47 03", true},
      {"02 01 16 03 25 03", "02 03 A0 13 00 00 EC 03", false},
      {"02 01 16 04 A6 03", "02 03 A0 22 00 00 99 03", true},
      {"02 01 16 05 F8 03",  // the faults cleared
       "02 03 A0 23 00 00 32 03 02 03 A0 50 00 00 39 03 02 03 A0 21 00 00 7D 03", true},
      {"02 01 16 06 1A 03", "02 03 A0 16 00 00 D9 03", true},
      {"02 01 16 07 44 03", "", true}};
  for (const auto& [key, reports, emergency] : kCases) {
    Controller c(kQuiet, Random::Seeded(7));
    Send(c, "02 01 16 01 99 03");
    c.SetFault(1, true, Millis{0});
    c.SetFault(7, true, Millis{0});
    c.TakeOutput();
    EXPECT_EQ(Send(c, key), Hex(reports)) << key;
    EXPECT_EQ(c.state().emergency(), emergency) << key;
  }
}

TEST_F(ControllerTest, SupervisionTimeoutRaisesRcpOnceAndTheNextFrameClearsIt) {
  EXPECT_TRUE(Send(c_, "02 01 10 1E EF 03").empty());  // 30 s, still off
  c_.Tick(Millis{60000});
  EXPECT_TRUE(Send(c_, "02 01 11 01 F7 03", Millis{60000}).empty());
  c_.Tick(Millis{89900});
  EXPECT_TRUE(c_.TakeOutput().empty());
  c_.Tick(Millis{90000});
  c_.Tick(Millis{130000});  // raised once
  EXPECT_EQ(Sent(c_), (Frames{ReportFrame(0x50, 0x0400), ReportFrame(0x21, 0x0400)}));
  EXPECT_EQ(DecodeAll(Send(c_, kFaultPoll, Millis{130000})),
            (Frames{ReportFrame(0x50, 0), ReportFrame(0x21, 0), {6, {0, 0}}}));
}

TEST_F(ControllerTest, ImpedanceCheckAnswersTwoSecondsLaterWithTheFaults) {
  c_.SetFault(3, true, Millis{0});
  c_.TakeOutput();
  EXPECT_TRUE(Send(c_, "02 00 18 6A 03", Millis{1000}).empty());
  c_.Tick(Millis{2999});
  EXPECT_TRUE(c_.TakeOutput().empty());
  c_.Tick(Millis{3000});
  c_.Tick(Millis{6000});  // once
  EXPECT_EQ(Sent(c_), (Frames{ReportFrame(0x50, 0x0008), ReportFrame(0x21, 0x0008)}));
}

TEST(ControllerOptionsTest, CommandsAreAcknowledgedFirstAndAnswersWaitTheReplyDelay) {
  Controller c({.reply_delay_ms = 30, .ack_commands = true, .line_faults = {}}, Random::Seeded(7));
  const Out out = Request(c, Hex("02 02 13 01 01 E6 03"));
  EXPECT_EQ(DecodeAll(Wire(out)), (Frames{{19, {}}, ReportFrame(0x30, 1)}));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].pause_before == Millis{30} && out[1].pause_before == Millis{0});
  EXPECT_EQ(DecodeAll(Send(c, kFaultPoll)), (Frames{{6, {0, 0}}}));  // answered, not acked
}

TEST(ControllerOptionsTest, EveryThirdPollMisbehavesAsItsOptionSays) {
  // The option (no ticks, so no spontaneous reports); of the third poll: transmissions, bytes,
  // good frames, last pause.
  const std::tuple<ControllerOptions, std::size_t, std::size_t, std::size_t, int> kCases[] = {
      {{.line_faults = {}, .no_answer_every = 3}, 0, 0, 0, 0},
      {{.line_faults = {.bad_crc_every = 3}}, 1, 7, 0, 0},
      {{.line_faults = {.split_every = 3, .split_pause_ms = 40}}, 2, 7, 1, 40},
      {{.line_faults = {.noise_every = 3}}, 2, 12, 1, 0},
      {{.line_faults = {}, .unknown_every = 3}, 2, 14, 2, 0},
      {{.line_faults = {}, .long_len_every = 3}, 2, 132, 1, 0}};
  for (const auto& [options, transmissions, bytes, frames, pause] : kCases) {
    Controller c(options, Random::Seeded(4));
    for (int i = 1; i <= 6; ++i) {
      const Out out = Request(c, Hex(kFaultPoll));
      const Bytes wire = Wire(out);
      const int last_pause = out.empty() ? 0 : int(out.back().pause_before.count());
      EXPECT_EQ(
          std::tuple(out.size(), wire.size(), DecodeAll(wire).size(), last_pause),
          i % 3 ? std::tuple(1ul, 7ul, 1ul, 0) : std::tuple(transmissions, bytes, frames, pause))
          << "row of " << bytes << " bytes, poll " << i;
      EXPECT_TRUE(i % 3 == 0 || wire == kGoodReply) << i;
    }
  }
}

TEST(ControllerReportsTest, SeededRunRepeatsAndSendsWholeReportsAtHalfToOneAndAHalfIntervals) {
  const auto run = [](std::uint32_t seed) {
    Controller c(kQuiet, Random::Seeded(seed));
    c.SetReportInterval(2.0, Millis{0});
    return TickFor(c, Millis{0}, Millis{300000});
  };
  const auto sent = run(42);
  EXPECT_EQ(sent, run(42));
  EXPECT_NE(sent, run(43));
  ASSERT_GT(sent.size(), 100u);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const Frames frames = DecodeAll(sent[i].second);
    EXPECT_EQ(sent[i].second.size(), frames.size() * 8);  // whole frames only
    for (const auto& [command, data] : frames)
      EXPECT_TRUE(command == 0xA0 && data.size() == 3);
    const Millis gap = sent[i].first - (i > 0 ? sent[i - 1].first : Millis{0});
    EXPECT_TRUE(gap >= Millis{1000} && gap <= Millis{3100}) << i;
  }
}

// Each generated report toggles one entry since the last report of its unit (EMG and business
// together, BGM apart, narrow and wide codes alike) or one lamp since the last fault report, never
// more than three lamps are lit; and every kind comes.
TEST(ControllerReportsTest, GeneratedReportsToggleOneEntryOfTheirUnitAndCoverEveryKind) {
  Controller c(kQuiet, Random::Seeded(11));
  c.SetReportInterval(0.1, Millis{0});
  std::map<int, int> last;  // by unit group or fault report
  std::set<int> kinds, all{0x14, 0x15, 0x21, 0x50};
  for (int unit = 0; unit < kUnits; ++unit)
    all.insert({0x30 + unit, 0x40 + unit, 0x60 + unit, 0x80 + unit});
  for (Millis now{0}; now < Millis{300000}; now += Millis{100}) {
    c.Tick(now);
    for (const auto& [command, data] : Sent(c)) {
      const int kind = data.at(0), value = data.at(1) << 8 | data.at(2);
      kinds.insert(kind);
      if (kind == 0x14 || kind == 0x15) continue;  // alert and alarm carry no state
      const bool trigger = kind >> 4 == 3 || kind >> 4 == 6, fault = kind == 0x21 || kind == 0x50;
      const int group = fault ? kind : (trigger ? 0x30 : 0x40) + (kind & 0x0F);
      EXPECT_EQ(std::popcount(unsigned(value ^ last[group])), 1) << now.count() << " ms " << kind;
      EXPECT_TRUE(!fault || std::popcount(unsigned(value)) <= 3) << value;
      last[group] = value;
    }
  }
  EXPECT_EQ(kinds, all);
}

}  // namespace
}  // namespace orv::sim
