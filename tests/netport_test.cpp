// A network port's address as the settings name it, and the telnet codec that talks to a serial
// device server over it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "netport/port_address.h"
#include "netport/read_pace.h"
#include "netport/telnet.h"
#include "tests/test_util.h"

namespace orv {
namespace {

TEST(ParsePortAddress, NetworkAddressesGiveKindHostAndPort) {
  // The value; its kind, host, port, and how it is described again.
  const std::tuple<const char*, PortKind, const char*, int, const char*> rows[] = {
      {"tcp://127.0.0.1:4001", PortKind::kRawTcp, "127.0.0.1", 4001, "tcp://127.0.0.1:4001"},
      {"rfc2217://10.1.2.3:1", PortKind::kRfc2217, "10.1.2.3", 1, "rfc2217://10.1.2.3:1"},
      {"TCP://Server-7.example.org:65535", PortKind::kRawTcp, "Server-7.example.org", 65535,
       "tcp://Server-7.example.org:65535"},
      {"RFC2217://localhost:2000", PortKind::kRfc2217, "localhost", 2000,
       "rfc2217://localhost:2000"},
      {"tcp://[::1]:7000", PortKind::kRawTcp, "::1", 7000, "tcp://[::1]:7000"},
      {"rfc2217://[fe80::1:2]:00080", PortKind::kRfc2217, "fe80::1:2", 80,
       "rfc2217://[fe80::1:2]:80"},
      {"tcp://xn--hllo-bpa:9", PortKind::kRawTcp, "xn--hllo-bpa", 9, "tcp://xn--hllo-bpa:9"},
  };
  for (const auto& [value, kind, host, port, described] : rows) {
    const PortAddress a = ParsePortAddress(value);
    EXPECT_EQ(std::tuple(a.problem, a.network(), a.kind, a.host, a.port, DescribePortAddress(a)),
              std::tuple("", true, kind, host, port, described))
        << value;
  }
}

TEST(ParsePortAddress, DevicePathsAreTakenAsTheyAre) {
  for (const char* value : {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_x:y-if00-port0", "COM3",
                            "tcp:/not-an-address", ""}) {
    const PortAddress a = ParsePortAddress(value);
    EXPECT_EQ(std::tuple(a.kind, a.device, a.problem, DescribePortAddress(a)),
              std::tuple(PortKind::kDevice, value, "", value));
  }
}

TEST(ParsePortAddress, BadAddressesAreRefusedWithTheirReason) {
  // A part of the reason, and the addresses refused for it. Among the hosts, ones the resolver
  // would read otherwise than written: octal, short IPv4, escapes, an international name (its
  // xn-- form is taken), a future address form, an interface zone.
  const std::pair<const char*, std::vector<std::string>> reasons[] = {
      {"unknown kind of address \"udp://\"", {"udp://host:1"}},
      {"unknown kind", {"telnet://host:23", "://host:1"}},
      {"no host", {"tcp://", "tcp://:4001"}},
      {"no port", {"tcp://host", "tcp://[::1]80"}},
      {"not a host name or address: \"ho st\"", {"tcp://ho st:80"}},
      {"not a host name",
       {"tcp://-host:80", "tcp://host-:80", "tcp://a..b:80", "tcp://host.:80", "tcp://user@host:80",
        "tcp://$(reboot):80", "tcp://010.0.0.1:80", "tcp://10.1:80", "tcp://h%41:80",
        "tcp://h\xC3\xA9llo:80"}},
      {"closing bracket", {"tcp://[::1:80"}},
      {"not an IPv6 address",
       {"tcp://[]:80", "tcp://[host]:80", "tcp://[v1.x]:80", "tcp://[::1%25eth0]:80"}}};
  for (const auto& [reason, values] : reasons) {
    for (const std::string& value : values) {
      EXPECT_NE(ParsePortAddress(value).problem.find(reason), std::string::npos)
          << value << ": " << ParsePortAddress(value).problem;
    }
  }
  for (const std::string port : {"", "0", "65536", "123456", "-1", "+80", " 80", "80/x", "80:81"}) {
    EXPECT_NE(ParsePortAddress("tcp://host:" + port)
                  .problem.find("from 1 to 65535, not \"" + port + "\""),
              std::string::npos)
        << port;
  }
  // The longest name a resolver takes, and one more character.
  const std::string label(63, 'a'),
      name = label + "." + label + "." + label + "." + label.substr(2);
  EXPECT_EQ(ParsePortAddress("tcp://" + name + ":1").problem, "");
  EXPECT_NE(ParsePortAddress("tcp://" + name + "c:1").problem, "");
}

using namespace telnet;
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
// Data passes, binary and the com port option are accepted both ways and the rest refused, and
// subnegotiations are read unescaped and bounded.
TEST(TelnetCodec, DecodeGivesDataAnswersAndEvents) {
  const std::size_t max = kMaxSubnegotiation;
  const auto of = [](std::size_t n, const char* end) {  // IAC SB COM-PORT, n bytes 0x65, end
    std::string hex = "FF FA 2C";
    for (std::size_t i = 0; i < n; ++i)
      hex += " 65";
    return hex + " " + end;
  };
  const TelnetEvent too_long{Kind::kSubnegotiationTooLong, kComPortOption, false, {}};
  // Whether the client's own requests went out first; what comes in, and the data, the answer and
  // the events it gives.
  // clang-format off
  const std::tuple<bool, std::string, const char*, const char*, std::vector<TelnetEvent>> rows[] = {
      // Data passes, a doubled IAC as one data byte, commands without data dropped.
      {false, "02 0D 00 0A 03", "02 0D 00 0A 03", "", {}},  // CR and NUL included
      {false, "02 FF FF 03", "02 FF 03", "", {}},
      {false, "FF FF FF FF", "FF FF", "", {}},               // two in a row
      {false, "41 FF F1 42 FF F9 FF F0 43", "41 42 43", "", {}},
      {false, "F0 F1 FA FE", "F0 F1 FA FE", "", {}},         // bytes 240 to 254 as data
      // The server asks.
      {false, "FF FD 2C", "", "FF FB 2C", {Local(kComPortOption, true)}},
      {false, "FF FB 2C", "", "FF FD 2C", {Remote(kComPortOption, true)}},
      {false, "FF FD 01", "", "FF FC 01", {}},  // DO echo: refused
      {false, "FF FB 01", "", "FF FE 01", {}},  // WILL echo: refused
      {false, "FF FE 01 FF FC 01 FF FE 00 FF FC 2C", "", "", {}},  // DONT, WONT when off
      {false, "FF FD 2C FF FD 2C", "", "FF FB 2C", {Local(kComPortOption, true)}},  // answered once
      {false, "FF FB 00 FF FC 00", "", "FF FD 00 FF FE 00",
       {Remote(kBinary, true), Remote(kBinary, false)}},
      // The server answers the client's requests: agreement is not answered again.
      {true, "FF FD 2C FF FD 00 FF FB 00", "", "",
       {Local(kComPortOption, true), Local(kBinary, true), Remote(kBinary, true)}},
      {true, "FF FE 2C FF FC 00", "", "", {Local(kComPortOption, false), Remote(kBinary, false)}},
      {true, "FF FD 2C FF FE 2C", "", "FF FC 2C",  // agreed, then withdrawn
       {Local(kComPortOption, true), Local(kComPortOption, false)}},
      // Subnegotiations.
      {false, "FF FA 2C 65 00 00 4B 00 FF F0 02", "02", "",
       {Sub(kComPortOption, Hex("65 00 00 4B 00"))}},
      {false, "FF FA 2C 65 00 00 FF FF FF F0", "", "", {Sub(kComPortOption, Hex("65 00 00 FF"))}},
      {false, "FF FA 01 FF F0", "", "", {Sub(kEcho, {})}},
      {false, "01 FF FA 2C 02 03 FF F0 04", "01 04", "", {Sub(kComPortOption, {0x02, 0x03})}},
      // Unfinished, cut by a command that is then read, or by IAC SB: the second one counts.
      {false, "FF FA 2C 01 02 FF FB 00 07", "07", "FF FD 00", {Remote(kBinary, true)}},
      {false, "FF FA 2C 01 02 FF FA 2C 03 FF F0", "", "", {Sub(kComPortOption, {3})}},
      {false, of(max, "FF F0 30"), "30", "", {Sub(kComPortOption, Bytes(max, 0x65))}},  // the bound
      {false, of(max + 1, "FF F0 30"), "30", "", {too_long}},                           // past it
      {false, of(max, "FF FF FF F0"), "", "", {too_long}},  // an escaped IAC past it
  };
  // clang-format on
  for (const auto& [started, in, data, answer, events] : rows) {
    TelnetCodec codec;
    if (started) {
      EXPECT_EQ(codec.Start(), Hex("FF FB 2C FF FB 00 FF FD 00"));
      EXPECT_TRUE(codec.Start().empty()) << "asked once only";
    }
    const TelnetInput out = codec.Decode(Hex(in));
    EXPECT_EQ(std::tuple(out.data, out.answer, out.events),
              std::tuple(Hex(data), Hex(answer), events))
        << in;
  }
}

// A server that repeats refused requests or turns an option on and off for ever: each refusal
// is said once per option and way, each accepted option follows at most kMaxOptionChanges turns.
TEST(TelnetCodec, AHostileServerGetsBoundedAnswers) {
  const int max = kMaxOptionChanges;
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
  Bytes every_refused, refusals;  // each refused option asked both ways, and the answers
  for (int option = 0; option < 256; ++option) {
    if (option == kBinary || option == kComPortOption) continue;
    const auto o = static_cast<std::uint8_t>(option);
    every_refused.insert(every_refused.end(), {kIac, kDo, o, kIac, kWill, o});
    refusals.insert(refusals.end(), {kIac, kWont, o, kIac, kDont, o});
  }
  // What the server does; its bytes, the answer and how many events.
  const std::tuple<const char*, Bytes, Bytes, std::size_t> rows[] = {
      {"DO echo a thousand times", repeated({kIac, kDo, kEcho}, 1000), {kIac, kWont, kEcho}, 0},
      {"WILL echo a thousand times", repeated({kIac, kWill, kEcho}, 1000), {kIac, kDont, kEcho}, 0},
      {"DO and WILL echo, with DONT between",
       repeated({kIac, kDo, kEcho, kIac, kDont, kEcho, kIac, kWill, kEcho}, 100),
       {kIac, kWont, kEcho, kIac, kDont, kEcho},
       0},
      {"every refused option both ways, ten times", repeated(every_refused, 10), refusals, 0},
      {"DO, DONT com port a thousand times",
       repeated({kIac, kDo, kComPortOption, kIac, kDont, kComPortOption}, 1000),
       turns(kWill, kWont, kComPortOption), static_cast<std::size_t>(max)},
      {"WILL, WONT binary a thousand times",
       repeated({kIac, kWill, kBinary, kIac, kWont, kBinary}, 1000), turns(kDo, kDont, kBinary),
       static_cast<std::size_t>(max)},
  };
  for (const auto& [what, in, answer, events] : rows) {
    TelnetCodec codec;
    const TelnetInput out = codec.Decode(in);
    EXPECT_EQ(std::tuple(out.answer, out.events.size(), out.data.empty()),
              std::tuple(answer, events, true))
        << what;
    // Nothing more, however long it goes on.
    EXPECT_TRUE(codec.Decode(in).answer.empty()) << what;
    EXPECT_GT(codec.ignored_requests(), 0u) << what;
  }
}

// What of a read was telnet's own, for the read pace: a doubled IAC is data, and an IAC that ends
// one read and is doubled by the next is never counted below nothing.
TEST(TelnetCodec, CountsTheBytesThatWereTelnetsOwn) {
  // The reads in hex, one after the other on one connection; the bytes counted of each.
  const std::pair<std::vector<const char*>, std::vector<std::size_t>> rows[] = {
      {{"02 41 03"}, {0}},
      {{"02 FF FF 03"}, {0}},
      {{"FF FD 01 FF FB 2C 41"}, {6}},
      {{"FF FA 2C 65 00 00 FF FF FF F0 41"}, {10}},
      {{"41 FF", "FF 42"}, {1, 0}},
      {{"FF", "FD", "01 41"}, {1, 1, 1}},
  };
  for (const auto& [reads, counted] : rows) {
    TelnetCodec codec;
    std::vector<std::size_t> seen;
    for (const char* read : reads)
      seen.push_back(codec.Decode(Hex(read)).negotiation_bytes);
    EXPECT_EQ(seen, counted) << reads.front();
  }
}

// The pace a network port reads at: a burst at once, then kPerSecond on average, with telnet's
// own bytes counting kNegotiationCost times; a held-back port waits for kLeastRead at least.
TEST(ReadPace, ABurstAtOnceThenTheRateWithNegotiationCostingMore) {
  constexpr std::int64_t burst = ReadPace::kBurst, rate = ReadPace::kPerSecond;
  constexpr std::int64_t least = ReadPace::kLeastRead, cost = ReadPace::kNegotiationCost;
  const auto ms_for = [](std::int64_t n) { return (n * 1000 + rate - 1) / rate; };  // rounded up
  struct Step {
    std::int64_t at_ms, data, negotiation;  // a read at this time of what it held
  };
  // The reads; then the allowance, the wait and whether it was ever held back.
  const std::tuple<const char*, std::vector<Step>, std::int64_t, std::int64_t, bool> rows[] = {
      {"a fresh connection", {}, burst, 0, false},
      {"a frame", {{0, 20, 0}}, burst - 20, 0, false},
      {"the burst read: held back", {{0, burst, 0}}, 0, ms_for(least), true},
      {"refilled after the wait",
       {{0, burst, 0}, {ms_for(least), 0, 0}},
       ms_for(least) * rate / 1000,
       0,
       false},
      {"a second refills kPerSecond, never past the burst",
       {{0, burst, 0}, {2000, 0, 0}},
       burst,
       0,
       false},
      {"negotiation costs more", {{0, 100, 100}}, burst - 100 - 100 * cost, 0, false},
      {"a debt of negotiation is waited off",
       {{0, 0, burst}},
       0,
       ms_for(least + burst * cost - burst),
       true},
      {"a clock that steps back earns nothing",
       {{5000, burst, 0}, {0, 0, 0}},
       0,
       ms_for(least),
       true},
  };
  for (const auto& [what, steps, allowance, wait, held] : rows) {
    ReadPace pace(0);
    for (const Step& step : steps) {
      (void)pace.Allowance(step.at_ms);
      pace.Took(step.data, step.negotiation);
    }
    const std::int64_t now = steps.empty() ? 0 : steps.back().at_ms;
    EXPECT_EQ(std::tuple(pace.Allowance(now), pace.WaitMs(), pace.held_back()),
              std::tuple(allowance, wait, held))
        << what;
  }
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
