// The simulator's console lines, its command line and pacing, and the built executable on a
// pseudo-terminal, whose log lines it reads.
#include <termios.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <tuple>

#include "sim/options.h"
#include "sim/pacer.h"
#include "tests/sim_fixture.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv::sim {
namespace {

namespace fs = std::filesystem;
using orv::test::ChildProcess;

TEST(ConsoleTest, LinesSendTheirFramesOrAreRefused) {
  // A line; the frames it sends; how its reply starts.
  const std::tuple<const char*, Frames, const char*> kCases[] = {
      // Lamps as the window numbers them: 4 is the fourth caption, bit 3 of the fault image.
      {"fault 4 on", {ReportFrame(0x50, 8), ReportFrame(0x21, 8)}, "fault 4 Music/Spare on"},
      {"fault 12 on", {ReportFrame(0x50, 0x800), ReportFrame(0x21, 0x800)}, "fault 12 Router on"},
      {"fault 13 on", {}, "usage: fault LAMP(1-12)"},
      {"fault 0 on", {}, "usage: fault"},
      {"fault 4", {}, "usage: fault"},
      {"trigger emg 60 on", {ReportFrame(0x39, 0x20)}, "trigger set"},
      {"trigger 1 13 on", {ReportFrame(0x32, 0x40)}, "trigger set"},
      {"event 33 261", {ReportFrame(0x21, 0x105)}, "report Fault 0000000100000101"},
      {"event 0x2A 0xFFFF", {ReportFrame(0x2A, 0xFFFF)}, "report 0x2A value 65535"},
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

TEST_F(ControllerTest, LineFaultLinesTouchOnlyTheNextFrames) {
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
  EXPECT_TRUE(c_.state().emergency());  // the key was obeyed
  EXPECT_EQ(Send(c_, kFaultPoll, Millis{3500}), kGoodReply);
  EXPECT_FALSE(TickFor(c_, Millis{3500}, Millis{6000}).empty());
}

TEST_F(ControllerTest, StateAndQuitLines) {
  Type("fault 2 on");
  Type("trigger emg 5 on");
  const std::string state = Type("state").text;
  for (const char* part : {"fault image: 2 Network\n", "emergency off, supervision off, time 10 s",
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
  sim.Type("fault 2 on");
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