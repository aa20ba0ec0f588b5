// The simulated controller: its core without I/O (answers, commands, reports, misbehaviour,
// console), its command line and pacing, and the built executable on a pseudo-terminal, whose
// log lines it reads.
#include <termios.h>

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "link/frame.h"
#include "link/receiver.h"
#include "sim/console.h"
#include "sim/options.h"
#include "sim/pacer.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv::sim {
namespace {

namespace fs = std::filesystem;
using orv::test::ChildProcess;
using orv::test::Hex;
using Out = std::vector<Transmission>;
using Frame = std::pair<std::uint8_t, Bytes>;  // command and data
using Frames = std::vector<Frame>;

const char* const kFaultPoll = "02 01 06 00 2B 03";
const Bytes kGoodReply = Hex("02 02 06 00 00 03 03");

// Every good frame in the bytes (less than the receive ring holds), as the panel's receiver finds.
Frames DecodeAll(const Bytes& wire) {
  Frames frames;
  Receiver rx;
  const Connection connection = rx.frame_received().Connect([&](const ReceivedFrame& frame) {
    const auto data = frame.payload.begin();
    frames.emplace_back(frame.command, Bytes(data, data + frame.length));
  });
  rx.OnComm(wire);
  rx.AssembleRxFrames();
  return frames;
}
Bytes Wire(const Out& out) {
  Bytes wire;
  for (const Transmission& t : out)
    wire.insert(wire.end(), t.bytes.begin(), t.bytes.end());
  return wire;
}
Frame ReportFrame(std::uint8_t kind, std::uint16_t value) {
  return {0xA0, {kind, std::uint8_t(value >> 8), std::uint8_t(value)}};
}
// The request through a receiver into the controller, as the shell does; returns the answer.
Out Request(Controller& c, const Bytes& request, Millis now = Millis{0}) {
  for (const Frame& frame : DecodeAll(request))
    c.HandleFrame(frame.first, frame.second, now);
  return c.TakeOutput();
}
Bytes Send(Controller& c, const std::string& hex, Millis now = Millis{0}) {
  return Wire(Request(c, Hex(hex), now));
}
Frames Sent(Controller& c) {
  return DecodeAll(Wire(c.TakeOutput()));
}
const ControllerOptions kQuiet{.report_interval_s = 0, .line_faults = {}};

class ControllerTest : public ::testing::Test {
 protected:
  ConsoleReply Type(const std::string& line, Millis now = Millis{0}) {
    return RunConsoleLine(c_, line, now);
  }
  Controller c_{kQuiet, Random::Seeded(7)};
};

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

// Ticks every 100 ms over [from, to]; the bytes sent at each tick that sent any.
std::vector<std::pair<Millis, Bytes>> TickFor(Controller& c, Millis from, Millis to) {
  std::vector<std::pair<Millis, Bytes>> sent;
  for (Millis now = from; now <= to; now += Millis{100}) {
    c.Tick(now);
    if (Bytes wire = Wire(c.TakeOutput()); !wire.empty()) sent.emplace_back(now, wire);
  }
  return sent;
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

TEST(ConsoleTest, LinesSendTheirFramesOrAreRefused) {
  // A line; the frames it sends; how its reply starts.
  const std::tuple<const char*, Frames, const char*> kCases[] = {
      {"fault 3 on", {ReportFrame(0x50, 8), ReportFrame(0x21, 8)}, "fault Music/Spare on"},
      {"trigger emg 60 on", {ReportFrame(0x39, 0x20)}, "trigger set"},
      {"trigger 1 13 on", {ReportFrame(0x32, 0x40)}, "trigger set"},
      {"event 33 261", {ReportFrame(0x21, 0x105)}, "report Fault 0000000100000101"},
      {"event 0x2A 0xFFFF", {ReportFrame(0x2A, 0xFFFF)}, "report 0x2A value 65535"},
      {"fault 12 on", {}, "usage: fault"},
      {"trigger emg 61 on", {}, "usage: trigger"},
      {"event 1 0x10000", {}, "usage: event"},
      {"longlen 101", {}, "usage: longlen"},
      {"silence -1", {}, "usage: silence"},
      {"frobnicate", {}, "unknown command"}};
  for (const auto& [line, frames, reply] : kCases) {
    Controller c(kQuiet, Random::Seeded(1));
    const ConsoleReply got = RunConsoleLine(c, line, Millis{0});
    EXPECT_EQ(Sent(c), frames) << line;
    EXPECT_TRUE(got.text.starts_with(reply) && !got.quit) << line << ": " << got.text;
  }
}

TEST_F(ControllerTest, BadCrcAndSplitLinesTouchOnlyTheNextFrames) {
  Type("badcrc 2");
  for (int i = 0; i < 2; ++i) {
    Bytes wire = Send(c_, kFaultPoll);
    EXPECT_NE(wire.at(5), kGoodReply[5]);
    wire[5] = kGoodReply[5];
    EXPECT_EQ(wire, kGoodReply);  // only the CRC is spoilt
  }
  Type("split 700");
  const Out out = Request(c_, Hex(kFaultPoll));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[1].pause_before == Millis{700} && Wire(out) == kGoodReply);
  EXPECT_EQ(Request(c_, Hex(kFaultPoll)).size(), 1u);
}

TEST_F(ControllerTest, NoiseUnknownLongAndBurstLines) {
  Type("noise 12");
  const Bytes noise = Wire(c_.TakeOutput());
  EXPECT_EQ(noise.size(), 12u);
  EXPECT_GT(std::set<std::uint8_t>(noise.begin(), noise.end()).size(), 4u);
  Type("unknown");
  const Frames unknown = Sent(c_);
  EXPECT_TRUE(
      (unknown.size() == 1 && !std::set<int>{6, 7, 8, 9, 10, 0xA0}.count(unknown[0].first)));
  Type("longlen 255");
  Bytes wire = Wire(c_.TakeOutput());
  ASSERT_EQ(wire.size(), 260u);  // LEN 255, and otherwise a good frame: only the LEN is wrong
  EXPECT_EQ(wire, EncodeFrame(0xA0, Bytes(wire.begin() + 3, wire.end() - 2)));
  const Bytes good = Send(c_, kFaultPoll);
  wire.insert(wire.end(), good.begin(), good.end());
  EXPECT_EQ(DecodeAll(wire), (Frames{{6, {0, 0}}}));  // the next frame survives
  Type("burst 30");
  const std::size_t burst = Sent(c_).size();
  EXPECT_TRUE(burst >= 30 && burst <= 60) << burst;  // a fault event is two reports
}

TEST_F(ControllerTest, SilenceLineHoldsAnswersAndReportsBackButCommandsAreObeyed) {
  Type("interval 0.5");
  Type("silence 2.5", Millis{1000});
  EXPECT_TRUE(Send(c_, kFaultPoll, Millis{3499}).empty());
  EXPECT_TRUE(Send(c_, "02 01 16 01 99 03", Millis{3499}).empty());
  EXPECT_TRUE(TickFor(c_, Millis{1000}, Millis{3400}).empty());
  EXPECT_TRUE(c_.state().emergency() && c_.frames_dropped() == 2);
  EXPECT_EQ(Send(c_, kFaultPoll, Millis{3500}), kGoodReply);
  EXPECT_FALSE(TickFor(c_, Millis{3500}, Millis{6000}).empty());
}

TEST_F(ControllerTest, StateAndQuitLines) {
  Type("fault 1 on");
  Type("trigger emg 5 on");
  const std::string state = Type("state").text;
  for (const char* part : {"fault image: Network\n", "emergency off, supervision off, time 10 s",
                           "EMG trigger states on: 5\n", "soft trigger states on: none"})
    EXPECT_NE(state.find(part), std::string::npos) << part << " in " << state;
  EXPECT_FALSE(Type("help").text.empty());
  EXPECT_TRUE(Type("quit").quit && Type("exit").quit && Type("   ").text.empty());
}

const char* const kEveryOption =
    "--device /dev/ttyS1 --settings 19200,E,7,2 --seed 4000000000 --report-interval 0.5 "
    "--burst 7 --reply-delay 15 --ack-commands --bad-crc-every 3 --split-every 4 "
    "--split-pause 900 --noise-every 5 --no-answer-every 6 --unknown-every 8 --long-len-every 9";

ParsedOptions Parse(const std::string& line) {
  std::istringstream in(line);
  return ParseOptions({std::istream_iterator<std::string>(in), {}});
}

TEST(OptionsTest, DefaultsEveryOptionReachingItsFieldAndTheHelpNamingThem) {
  const SimOptions defaults = Parse("--link /tmp/port").options;
  EXPECT_EQ(defaults.line, (LineSettings{9600, Parity::kNone, 8, StopBits::kOne}));
  const ParsedOptions parsed = Parse(kEveryOption);
  ASSERT_EQ(parsed.error, "");
  const SimOptions& o = parsed.options;
  const ControllerOptions& c = o.controller;
  EXPECT_EQ(o.device_path, "/dev/ttyS1");
  EXPECT_EQ(o.line, (LineSettings{19200, Parity::kEven, 7, StopBits::kTwo}));
  EXPECT_EQ((std::vector<double>{
                double(c.seed), c.report_interval_s, double(o.start_burst),
                double(c.reply_delay_ms), double(c.ack_commands),
                double(c.line_faults.bad_crc_every), double(c.line_faults.split_every),
                double(c.line_faults.split_pause_ms), double(c.line_faults.noise_every),
                double(c.no_answer_every), double(c.unknown_every), double(c.long_len_every)}),
            (std::vector<double>{4e9, 0.5, 7, 15, 1, 3, 4, 900, 5, 6, 8, 9}));
  EXPECT_DOUBLE_EQ(Parse("--link p --quiet-reports").options.controller.report_interval_s, 0);
  EXPECT_TRUE(Parse("-h").options.help && Parse("--help").error.empty());
  // The help names every option and the console's commands.
  const std::string help = HelpText();
  std::istringstream words(std::string(kEveryOption) + " --link --quiet-reports --help");
  for (std::string word; words >> word;)
    EXPECT_TRUE(word[0] != '-' || help.find(word) != std::string::npos) << word;
  EXPECT_NE(help.find(ConsoleHelp()), std::string::npos);
}

TEST(OptionsTest, BadCommandLinesAreRefusedWithAReason) {
  const std::pair<const char*, const char*> kCases[] = {
      {"", "give exactly one of --link PATH and --device PATH"},
      {"--link", "--link needs a value"},
      {"--link a extra", "unknown option extra"},
      {"--link a --seed x", "bad value for --seed: x"},
      {"--link a --report-interval -2", "bad value for --report-interval"},
      {"--link a --bad-crc-every 1.5", "bad value for --bad-crc-every"},
      {"--link a --settings 9600,X,8,1", "bad value for --settings"},
      // Settings a port may carry but the simulator's line cannot be set to.
      {"--link a --settings 9601,N,8,1", "--settings: baud rate 9601 is not one of 300, 600,"},
      {"--link a --settings 9600,M,8,1", "--settings: mark and space parity are not supported"},
      {"--link a --settings 9600,N,8,1.5", "--settings: 1.5 stop bits are not supported"}};
  for (const auto& [line, error] : kCases)
    EXPECT_TRUE(Parse(line).error.starts_with(error)) << line << ": " << Parse(line).error;
}

TEST(PacerTest, BytesGoOneByteTimeApartAndEachTransmissionAfterTheLastAndItsPause) {
  for (const auto& [text, bits] :
       {std::pair{"9600,N,8,1", 10}, {"19200,E,8,2", 12}, {"300,o,5,1", 8}})
    EXPECT_EQ(BitsPerCharacter(*ParseLineSettings(text)), bits) << text;
  const Nanos byte = Pacer::ByteTime(9600, 10);
  EXPECT_EQ(byte, Nanos{1041666});
  Pacer pacer(byte);
  pacer.Add({Hex("01 02 03"), "a", Millis{0}}, Nanos{0});
  pacer.Add({Hex("04"), "b", Millis{0}}, Nanos{0});
  pacer.Add({Hex("05"), "c", Millis{200}}, Nanos{0});
  EXPECT_EQ(pacer.TakeDue(Nanos{0}).bytes, Hex("01"));
  EXPECT_EQ(pacer.NextDue(), byte);
  EXPECT_TRUE(pacer.TakeDue(byte - Nanos{1}).bytes.empty());
  const Pacer::Due late = pacer.TakeDue(byte * 3);  // the rest of a and all of b at once
  EXPECT_EQ(late.bytes, Hex("02 03 04"));
  ASSERT_EQ(late.begun.size(), 1u);  // each transmission is told once, as its first byte goes
  EXPECT_EQ(late.begun[0].meaning, "b");
  const Nanos c_start = byte * 4 + Millis{200};
  EXPECT_TRUE(pacer.TakeDue(c_start - Nanos{1}).bytes.empty());
  EXPECT_EQ(pacer.TakeDue(c_start).bytes, Hex("05"));
  pacer.Add({Hex("06 07"), "d", Millis{0}}, Millis{300});  // an idle line starts at once
  EXPECT_EQ(pacer.NextDue(), Millis{300});
  pacer.Clear();
  pacer.Add({Hex("08"), "e", Millis{0}}, Millis{301});  // and Clear frees the line
  EXPECT_EQ(pacer.TakeDue(Millis{301}).bytes, Hex("08"));
}

TEST(SimProcess, AnswersOverThePtyAndRemovesItsLinkOnSigterm) {
  test::TempFolder dir;
  const std::string link = dir.path() / "port";
  int port = -1;
  // Opens the link raw, as the program opens its port; a read waits at most 5 s for a byte.
  const auto open_link = [&] {
    close(port);
    port = open(link.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ASSERT_EQ(tcgetattr(port, &tio), 0);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 50;
    tcsetattr(port, TCSANOW, &tio);
  };
  const auto ask = [&](const Bytes& request, std::size_t count) {
    EXPECT_EQ(write(port, request.data(), request.size()), ssize_t(request.size()));
    Bytes got(count);
    std::size_t have = 0;
    for (ssize_t n = 0; have < count && (n = read(port, &got[have], count - have)) > 0;)
      have += std::size_t(n);
    return Bytes(got.begin(), got.begin() + long(have));
  };
  fs::create_symlink("/nonexistent/pts", link);  // left by an earlier run: replaced
  ChildProcess sim(test::kSimulator, {"--link", link, "--report-interval", "0"});
  ASSERT_TRUE(sim.WaitForOutput("ready")) << sim.output();
  open_link();
  EXPECT_EQ(ask(Hex("02 01 06 00 2B 03"), 7), Hex("02 02 06 00 00 03 03"));
  open_link();  // closed and opened again, as on disconnect and connect
  EXPECT_EQ(ask(Hex("02 01 16 01 99 03"), 8), Hex("02 03 A0 11 00 00 A3 03"));
  sim.Type("fault 1 on");
  EXPECT_EQ(ask({}, 16), Hex("02 03 A0 50 10 00 D5 03 02 03 A0 21 10 00 91 03"));
  EXPECT_TRUE(sim.WaitForOutput("TX 02 03 A0 11 00 00 A3 03  report EMG")) << sim.output();
  EXPECT_NE(sim.output().find("RX 02 01 06 00 2B 03  poll fault image"), std::string::npos);
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));
  test::WriteBytes(link, "keep me");  // a path that is no link is left alone
  EXPECT_EQ(ChildProcess(test::kSimulator, {"--link", link}).WaitForExit(), 1);
  EXPECT_EQ(test::ReadBytes(link), "keep me");
  close(port);
}

}  // namespace
}  // namespace orv::sim
