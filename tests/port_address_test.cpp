#include "netport/port_address.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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
