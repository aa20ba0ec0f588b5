#pragma once

#include <string>
#include <string_view>

namespace orv {

// What a port map value names: a local serial device, or a serial device server on the network,
// spoken to as raw TCP (the line settings are the server's) or with RFC 2217 (the program sends
// them).
enum class PortKind { kDevice, kRawTcp, kRfc2217 };

struct PortAddress {
  PortKind kind = PortKind::kDevice;
  std::string device;  // a local device path, as given
  std::string host;    // a name or an address; an IPv6 address without its brackets
  int port = 0;        // 1 to 65535
  // Why the value is refused; empty when it is good.
  std::string problem;

  bool network() const { return kind != PortKind::kDevice; }
};

// Reads "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (scheme in either letter case; HOST a name,
// an IPv4 address or an IPv6 address in brackets, as ParseHostPortUrl takes them; PORT 1 to
// 65535, nothing after it). A value without "://" is a device path and is taken as it is.
// Anything else is refused with its reason.
PortAddress ParsePortAddress(std::string_view value);

// The address as the operator wrote it, for notices ("tcp://10.0.0.5:4001").
std::string DescribePortAddress(const PortAddress& address);

}  // namespace orv
