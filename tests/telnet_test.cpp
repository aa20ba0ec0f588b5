#include "netport/telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/test_util.h"

namespace orv {
namespace {

using telnet::kBinary;
using telnet::kComPortOption;
using telnet::kDo;
using telnet::kDont;
using telnet::kIac;
using telnet::kWill;
using telnet::kWont;
using test::Hex;
using Kind = TelnetEvent::Kind;

constexpr std::uint8_t kEcho = 1;

TelnetEvent Local(std::uint8_t option, bool on) {
  return {Kind::kLocalOption, option, on, {}};
}
TelnetEvent Remote(std::uint8_t option, bool on) {
  return {Kind::kRemoteOption, option, on, {}};
}
TelnetEvent Sub(std::uint8_t option, Bytes payload) {
  return {Kind::kSubnegotiation, option, false, std::move(payload)};
}

// Rows in hex: IAC FF, DONT FE, DO FD, WONT FC, WILL FB, SB FA, GA F9, NOP F1, SE F0; options
// BINARY 00, ECHO 01, SUPPRESS-GO-AHEAD 03, COM-PORT-OPTION 2C.
TEST(TelnetCodec, DataPassesAndADoubledIacIsOneDataByte) {
  const std::pair<const char*, const char*> rows[] = {
      {"02 0D 00 0A 03", "02 0D 00 0A 03"},        // CR and NUL included
      {"02 FF FF 03", "02 FF 03"},                 // a doubled IAC
      {"FF FF FF FF", "FF FF"},                    // two in a row
      {"41 FF F1 42 FF F9 FF F0 43", "41 42 43"},  // commands without data are dropped
      {"F0 F1 FA FE", "F0 F1 FA FE"},              // bytes 240 to 254 as data
  };
  for (const auto& [in, data] : rows) {
    TelnetCodec codec;
    const TelnetInput out = codec.Decode(Hex(in));
    EXPECT_EQ(out.data, Hex(data)) << in;
    EXPECT_TRUE(out.answer.empty() && out.events.empty()) << in;
  }
}

TEST(TelnetCodec, NegotiationAcceptsBinaryAndComPortBothWaysAndRefusesTheRest) {
  struct Row {
    const char* what;
    bool started;  // the client's own requests went out first
    const char* in;
    const char* answer;
    std::vector<TelnetEvent> events;
  };
  // clang-format off
  const Row rows[] = {
      // The server asks.
      {"DO com port", false, "FF FD 2C", "FF FB 2C", {Local(kComPortOption, true)}},
      {"WILL com port", false, "FF FB 2C", "FF FD 2C", {Remote(kComPortOption, true)}},
      {"DO echo refused", false, "FF FD 01", "FF FC 01", {}},
      {"WILL echo refused", false, "FF FB 01", "FF FE 01", {}},
      {"DONT, WONT when off: no answer", false, "FF FE 01 FF FC 01 FF FE 00 FF FC 2C", "", {}},
      {"asked twice, answered once", false, "FF FD 2C FF FD 2C", "FF FB 2C",
       {Local(kComPortOption, true)}},
      {"on, then off again", false, "FF FB 00 FF FC 00", "FF FD 00 FF FE 00",
       {Remote(kBinary, true), Remote(kBinary, false)}},
      // The server answers the client's requests: agreement is not answered again.
      {"answers agree", true, "FF FD 2C FF FD 00 FF FB 00", "",
       {Local(kComPortOption, true), Local(kBinary, true), Remote(kBinary, true)}},
      {"answers refuse", true, "FF FE 2C FF FC 00", "",
       {Local(kComPortOption, false), Remote(kBinary, false)}},
      {"agreed, then withdrawn", true, "FF FD 2C FF FE 2C", "FF FC 2C",
       {Local(kComPortOption, true), Local(kComPortOption, false)}},
  };
  // clang-format on
  for (const Row& row : rows) {
    TelnetCodec codec;
    if (row.started) {
      EXPECT_EQ(codec.Start(), Hex("FF FB 2C FF FB 00 FF FD 00"));
      EXPECT_TRUE(codec.Start().empty()) << "asked once only";
    }
    const TelnetInput out = codec.Decode(Hex(row.in));
    EXPECT_EQ(out.answer, Hex(row.answer)) << row.what;
    EXPECT_EQ(out.events, row.events) << row.what;
    EXPECT_TRUE(out.data.empty()) << row.what;
  }
}

// A server that repeats refused requests or turns an option on and off for ever: each refusal
// is said once per option and way, each accepted option follows at most kMaxOptionChanges turns.
TEST(TelnetCodec, AHostileServerGetsBoundedAnswers) {
  const int max = telnet::kMaxOptionChanges;
  const auto repeated = [](const Bytes& piece, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
      out.insert(out.end(), piece.begin(), piece.end());
    return out;
  };
  const auto turns = [](std::uint8_t yes, std::uint8_t no, std::uint8_t option) {
    Bytes out;
    for (int i = 0; i < max; ++i)
      out.insert(out.end(), {kIac, i % 2 == 0 ? yes : no, option});
    return out;
  };
  Bytes every_refused;
  for (int option = 0; option < 256; ++option) {
    if (option == kBinary || option == kComPortOption) continue;
    every_refused.insert(every_refused.end(), {kIac, kDo, static_cast<std::uint8_t>(option), kIac,
                                               kWill, static_cast<std::uint8_t>(option)});
  }
  struct Row {
    const char* what;
    Bytes in;
    Bytes answer;
    std::size_t events;
  };
  const Row rows[] = {
      {"DO echo a thousand times", repeated({kIac, kDo, kEcho}, 1000), {kIac, kWont, kEcho}, 0},
      {"WILL echo a thousand times", repeated({kIac, kWill, kEcho}, 1000), {kIac, kDont, kEcho}, 0},
      {"DO and WILL echo, with DONT between",
       repeated({kIac, kDo, kEcho, kIac, kDont, kEcho, kIac, kWill, kEcho}, 100),
       {kIac, kWont, kEcho, kIac, kDont, kEcho},
       0},
      {"every refused option both ways, ten times", repeated(every_refused, 10),
       [&] {
         Bytes once;
         for (std::size_t i = 0; i < every_refused.size(); i += 3)
           once.insert(once.end(),
                       {kIac, every_refused[i + 1] == kDo ? kWont : kDont, every_refused[i + 2]});
         return once;
       }(),
       0},
      {"DO, DONT com port a thousand times",
       repeated({kIac, kDo, kComPortOption, kIac, kDont, kComPortOption}, 1000),
       turns(kWill, kWont, kComPortOption), static_cast<std::size_t>(max)},
      {"WILL, WONT binary a thousand times",
       repeated({kIac, kWill, kBinary, kIac, kWont, kBinary}, 1000), turns(kDo, kDont, kBinary),
       static_cast<std::size_t>(max)},
  };
  for (const Row& row : rows) {
    TelnetCodec codec;
    const TelnetInput out = codec.Decode(row.in);
    EXPECT_EQ(out.answer, row.answer) << row.what;
    EXPECT_EQ(out.events.size(), row.events) << row.what;
    EXPECT_TRUE(out.data.empty()) << row.what;
    // Nothing more, however long it goes on.
    EXPECT_TRUE(codec.Decode(row.in).answer.empty()) << row.what;
    EXPECT_GT(codec.ignored_requests(), 0u) << row.what;
  }
}

TEST(TelnetCodec, SubnegotiationsAreReadUnescapedAndBounded) {
  const std::size_t max = telnet::kMaxSubnegotiation;
  const auto of = [](std::size_t n, const char* end) {  // IAC SB COM-PORT, n bytes 0x65, end
    return test::Concat({Hex("FF FA 2C"), Bytes(n, 0x65), Hex(end)});
  };
  const TelnetEvent too_long{Kind::kSubnegotiationTooLong, kComPortOption, false, {}};
  struct Row {
    Bytes in;
    const char* data;
    std::vector<TelnetEvent> events;
  };
  // clang-format off
  const Row rows[] = {
      {Hex("FF FA 2C 65 00 00 4B 00 FF F0 02"), "02", {Sub(kComPortOption, Hex("65 00 00 4B 00"))}},
      {Hex("FF FA 2C 65 00 00 FF FF FF F0"), "", {Sub(kComPortOption, Hex("65 00 00 FF"))}},
      {Hex("FF FA 01 FF F0"), "", {Sub(kEcho, {})}},
      {Hex("01 FF FA 2C 02 03 FF F0 04"), "01 04", {Sub(kComPortOption, {0x02, 0x03})}},
      // Unfinished, cut by a command that is then read, or by IAC SB: the second one counts.
      {Hex("FF FA 2C 01 02 FF FB 00 07"), "07", {Remote(kBinary, true)}},
      {Hex("FF FA 2C 01 02 FF FA 2C 03 FF F0"), "", {Sub(kComPortOption, {3})}},
      {of(max, "FF F0 30"), "30", {Sub(kComPortOption, Bytes(max, 0x65))}},  // at the bound
      {of(max + 1, "FF F0 30"), "30", {too_long}},                           // one past it
      {of(max, "FF FF FF F0"), "", {too_long}},  // an escaped IAC past it
  };
  // clang-format on
  for (const Row& row : rows) {
    TelnetCodec codec;
    const TelnetInput out = codec.Decode(row.in);
    EXPECT_EQ(out.data, Hex(row.data)) << testing::PrintToString(row.in);
    EXPECT_EQ(out.events, row.events) << testing::PrintToString(row.in);
  }
  TelnetCodec codec;
  for (const Row& row : rows)
    (void)codec.Decode(row.in);
  EXPECT_EQ(codec.overlong_subnegotiations(), 2u);
}

// (That any split of the stream decodes alike, and that escaped data reads back as it was, is
// the telnet fuzz target's; the doubled IAC on the wire, the TCP port's test.)
TEST(ComPortSettingsCommands, EachSettingBecomesItsCommandInOrder) {
  // The settings; the rate's four bytes, then the data size, parity and stop bits sent.
  const std::tuple<LineSettings, const char*, std::uint8_t, std::uint8_t, std::uint8_t> rows[] = {
      {{19200, Parity::kNone, 8, StopBits::kOne}, "00 00 4B 00", 8, 1, 1},
      {{9600, Parity::kEven, 7, StopBits::kTwo}, "00 00 25 80", 7, 3, 2},
      {{115200, Parity::kOdd, 5, StopBits::kOneAndHalf}, "00 01 C2 00", 5, 2, 3},
      {{300, Parity::kMark, 6, StopBits::kOne}, "00 00 01 2C", 6, 4, 1},
      {{1200, Parity::kSpace, 8, StopBits::kOne}, "00 00 04 B0", 8, 5, 1}};
  const auto sb = [](Bytes payload) { return TelnetSubnegotiation(kComPortOption, payload); };
  for (const auto& [settings, rate, size, parity, stop] : rows) {
    EXPECT_EQ(ComPortSettingsCommands(settings),
              test::Concat({sb(test::Concat({{1}, Hex(rate)})), sb({2, size}), sb({3, parity}),
                            sb({4, stop}), sb({5, 1})}))
        << settings.baud_rate;
  }
  // A rate with an 0xFF byte: doubled inside the subnegotiation.
  const Bytes odd = ComPortSettingsCommands({0x0100FF, Parity::kNone, 8, StopBits::kOne});
  EXPECT_EQ(Bytes(odd.begin(), odd.begin() + 11), Hex("FF FA 2C 01 00 01 00 FF FF FF F0"));
}

}  // namespace
}  // namespace orv
