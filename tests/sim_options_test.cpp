#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/options.h"

namespace orv::sim {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
  return ParseOptions(args);
}

TEST(OptionsTest, DefaultsWithALink) {
  const ParsedOptions parsed = Parse({"--link", "/tmp/port"});
  ASSERT_EQ(parsed.error, "");
  const SimOptions& o = parsed.options;
  EXPECT_EQ(o.link_path, "/tmp/port");
  EXPECT_EQ(o.device_path, "");
  EXPECT_EQ(o.line.baud, 9600);
  EXPECT_EQ(o.line.parity, 'N');
  EXPECT_EQ(o.line.data_bits, 8);
  EXPECT_EQ(o.line.stop_bits, 1);
  EXPECT_EQ(o.line.BitsPerCharacter(), 10);
  EXPECT_EQ(o.controller.seed, 1u);
  EXPECT_DOUBLE_EQ(o.controller.report_interval_s, 2.0);
  EXPECT_FALSE(o.controller.ack_commands);
  EXPECT_EQ(o.controller.line_faults.bad_crc_every, 0);
}

TEST(OptionsTest, EveryOptionReachesItsField) {
  const ParsedOptions parsed = Parse({"--device",
                                      "/dev/ttyS1",
                                      "--settings",
                                      "19200,E,7,2",
                                      "--seed",
                                      "4000000000",
                                      "--report-interval",
                                      "0.5",
                                      "--burst",
                                      "7",
                                      "--reply-delay",
                                      "15",
                                      "--ack-commands",
                                      "--bad-crc-every",
                                      "3",
                                      "--split-every",
                                      "4",
                                      "--split-pause",
                                      "900",
                                      "--noise-every",
                                      "5",
                                      "--no-answer-every",
                                      "6",
                                      "--unknown-every",
                                      "8",
                                      "--long-len-every",
                                      "9"});
  ASSERT_EQ(parsed.error, "");
  const SimOptions& o = parsed.options;
  EXPECT_EQ(o.device_path, "/dev/ttyS1");
  EXPECT_EQ(o.line.baud, 19200);
  EXPECT_EQ(o.line.parity, 'E');
  EXPECT_EQ(o.line.BitsPerCharacter(), 11);
  EXPECT_EQ(o.controller.seed, 4000000000u);
  EXPECT_DOUBLE_EQ(o.controller.report_interval_s, 0.5);
  EXPECT_EQ(o.start_burst, 7);
  EXPECT_EQ(o.controller.reply_delay_ms, 15);
  EXPECT_TRUE(o.controller.ack_commands);
  EXPECT_EQ(o.controller.line_faults.bad_crc_every, 3);
  EXPECT_EQ(o.controller.line_faults.split_every, 4);
  EXPECT_EQ(o.controller.line_faults.split_pause_ms, 900);
  EXPECT_EQ(o.controller.line_faults.noise_every, 5);
  EXPECT_EQ(o.controller.no_answer_every, 6);
  EXPECT_EQ(o.controller.unknown_every, 8);
  EXPECT_EQ(o.controller.long_len_every, 9);
}

TEST(OptionsTest, QuietReportsSwitchesSpontaneousReportsOff) {
  EXPECT_DOUBLE_EQ(Parse({"--link", "p", "--quiet-reports"}).options.controller.report_interval_s,
                   0);
  EXPECT_DOUBLE_EQ(
      Parse({"--link", "p", "--report-interval", "0"}).options.controller.report_interval_s, 0);
}

TEST(OptionsTest, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad{
      {},
      {"--link", "a", "--device", "b"},
      {"--link"},
      {"--link", "a", "--bogus"},
      {"--link", "a", "--seed", "x"},
      {"--link", "a", "--seed", "-1"},
      {"--link", "a", "--report-interval", "-2"},
      {"--link", "a", "--bad-crc-every", "1.5"},
      {"--link", "a", "--settings", "9601,N,8,1"},
      {"--link", "a", "extra"},
  };
  for (const auto& args : bad)
    EXPECT_NE(Parse(args).error, "") << (args.empty() ? "(none)" : args.back());
}

TEST(OptionsTest, HelpNeedsNoPort) {
  const ParsedOptions parsed = Parse({"--help"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.help);
  EXPECT_TRUE(Parse({"-h"}).options.help);
}

TEST(OptionsTest, HelpListsEveryOptionAndTheConsoleCommands) {
  const std::string help = HelpText();
  for (const char* option : {"--link",
                             "--device",
                             "--settings",
                             "--seed",
                             "--report-interval",
                             "--quiet-reports",
                             "--burst",
                             "--reply-delay",
                             "--ack-commands",
                             "--bad-crc-every",
                             "--split-every",
                             "--split-pause",
                             "--noise-every",
                             "--no-answer-every",
                             "--unknown-every",
                             "--long-len-every",
                             "--help",
                             "badcrc",
                             "silence",
                             "quit"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  // The key whose report is the implementer's choice says what it does.
  EXPECT_NE(help.find("key 6 EMG Message    report 0x16"), std::string::npos);
}

struct SettingsCase {
  std::string text;
  bool ok;
  int bits_per_character;
};

TEST(LineSettingsTest, ParsesTheSettingsText) {
  const std::vector<SettingsCase> cases{
      {"9600,N,8,1", true, 10},   {"115200,n,8,1", true, 10},
      {"1200,O,7,1", true, 10},   {"19200,E,8,2", true, 12},
      {"300,N,5,1", true, 7},     {"9601,N,8,1", false, 0},
      {"9600,X,8,1", false, 0},   {"9600,N,9,1", false, 0},
      {"9600,N,4,1", false, 0},   {"9600,N,8,3", false, 0},
      {"9600,N,8", false, 0},     {"9600,NN,8,1", false, 0},
      {"9600,N,8,1,1", false, 0}, {"", false, 0},
  };
  for (const SettingsCase& c : cases) {
    const std::optional<LineSettings> line = ParseLineSettings(c.text);
    EXPECT_EQ(line.has_value(), c.ok) << c.text;
    if (line) {
      EXPECT_EQ(line->BitsPerCharacter(), c.bits_per_character) << c.text;
    }
  }
}

}  // namespace
}  // namespace orv::sim
