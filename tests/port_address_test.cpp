#include "netport/port_address.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(ParsePortAddress, NetworkAddressesGiveKindHostAndPort) {
  struct Row {
    const char* value;
    PortKind kind;
    const char* host;
    int port;
    const char* described;
  };
  const Row rows[] = {
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
  for (const Row& row : rows) {
    const PortAddress address = ParsePortAddress(row.value);
    EXPECT_EQ(address.problem, "") << row.value;
    EXPECT_TRUE(address.network()) << row.value;
    EXPECT_EQ(address.kind, row.kind) << row.value;
    EXPECT_EQ(address.host, row.host) << row.value;
    EXPECT_EQ(address.port, row.port) << row.value;
    EXPECT_EQ(DescribePortAddress(address), row.described) << row.value;
  }
}

TEST(ParsePortAddress, DevicePathsAreTakenAsTheyAre) {
  for (const char* value : {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_x:y-if00-port0", "COM3",
                            "tcp:/not-an-address", ""}) {
    const PortAddress address = ParsePortAddress(value);
    EXPECT_EQ(address.kind, PortKind::kDevice) << value;
    EXPECT_EQ(address.device, value);
    EXPECT_EQ(address.problem, "") << value;
    EXPECT_EQ(DescribePortAddress(address), value);
  }
}

TEST(ParsePortAddress, BadAddressesAreRefusedWithTheirReason) {
  struct Row {
    const char* value;
    const char* problem_holds;
  };
  const Row rows[] = {
      {"udp://host:1", "unknown kind of address \"udp://\""},
      {"telnet://host:23", "unknown kind"},
      {"://host:1", "unknown kind"},
      {"tcp://", "no host"},
      {"tcp://:4001", "no host"},
      {"tcp://host", "no port"},
      {"tcp://host:", "from 1 to 65535, not \"\""},
      {"tcp://host:0", "from 1 to 65535, not \"0\""},
      {"tcp://host:65536", "not \"65536\""},
      {"tcp://host:123456", "not \"123456\""},
      {"tcp://host:-1", "not \"-1\""},
      {"tcp://host:+80", "not \"+80\""},
      {"tcp://host: 80", "not \" 80\""},
      {"tcp://host:80/x", "not \"80/x\""},
      {"tcp://host:80:81", "not \"80:81\""},
      {"tcp://ho st:80", "not a host name or address: \"ho st\""},
      {"tcp://-host:80", "not a host name"},
      {"tcp://host-:80", "not a host name"},
      {"tcp://a..b:80", "not a host name"},
      {"tcp://host.:80", "not a host name"},
      {"tcp://user@host:80", "not a host name"},
      {"tcp://$(reboot):80", "not a host name"},
      {"tcp://[::1:80", "closing bracket"},
      {"tcp://[]:80", "not an IPv6 address"},
      {"tcp://[host]:80", "not an IPv6 address"},
      {"tcp://[::1]80", "no port"},
      // Hosts the resolver would read otherwise than written: octal, short IPv4, escapes, an
      // international name (its xn-- form is taken), a future address form, an interface zone.
      {"tcp://010.0.0.1:80", "not a host name"},
      {"tcp://10.1:80", "not a host name"},
      {"tcp://h%41:80", "not a host name"},
      {"tcp://h\xC3\xA9llo:80", "not a host name"},
      {"tcp://[v1.x]:80", "not an IPv6 address"},
      {"tcp://[::1%25eth0]:80", "not an IPv6 address"},
  };
  for (const Row& row : rows) {
    const PortAddress address = ParsePortAddress(row.value);
    EXPECT_NE(address.problem.find(row.problem_holds), std::string::npos)
        << row.value << ": " << address.problem;
  }
  // The longest name a resolver takes, and one more character.
  std::string name;
  while (name.size() < 253)
    name += name.empty() ? "a" : (name.size() % 60 == 0 ? ".a" : "a");
  name.resize(253);
  if (name.back() == '.') name.back() = 'b';
  EXPECT_EQ(ParsePortAddress("tcp://" + name + ":1").problem, "");
  EXPECT_NE(ParsePortAddress("tcp://" + name + "c:1").problem, "");
}

}  // namespace
}  // namespace orv
