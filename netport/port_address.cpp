#include "netport/port_address.h"

#include <algorithm>
#include <cctype>

#include "platform/host_port_url.h"

namespace orv {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

PortAddress ParsePortAddress(std::string_view value) {
  PortAddress address;
  const HostPortUrl url = ParseHostPortUrl(value);
  if (url.problem == UrlProblem::kNoScheme) {
    address.device = std::string(value);
    return address;
  }
  if (EqualsNoCase(url.scheme, "tcp")) {
    address.kind = PortKind::kRawTcp;
  } else if (EqualsNoCase(url.scheme, "rfc2217")) {
    address.kind = PortKind::kRfc2217;
  } else {
    address.problem = "unknown kind of address " + Quoted(url.scheme + "://") +
                      " (tcp:// or rfc2217:// are known)";
    return address;
  }
  switch (url.problem) {
    case UrlProblem::kNone:
      if (!url.port) {
        address.problem = "no port (HOST:PORT)";
      } else {
        address.host = url.host;
        address.port = *url.port;
      }
      break;
    case UrlProblem::kNoScheme:
      break;
    case UrlProblem::kNoClosingBracket:
      address.problem = "an IPv6 address without its closing bracket";
      break;
    case UrlProblem::kNotIpv6:
      address.problem = "not an IPv6 address: " + Quoted(url.piece);
      break;
    case UrlProblem::kNoHost:
      address.problem = "no host";
      break;
    case UrlProblem::kBadHost:
      address.problem = "not a host name or address: " + Quoted(url.piece);
      break;
    case UrlProblem::kJunkAfterHost:
      address.problem = "no port (HOST:PORT)";
      break;
    case UrlProblem::kBadPort:
      address.problem = "the port must be a number from 1 to 65535, not " + Quoted(url.piece);
      break;
  }
  return address;
}

std::string DescribePortAddress(const PortAddress& address) {
  if (!address.network()) return address.device;
  const bool ipv6 = address.host.find(':') != std::string::npos;
  return std::string(address.kind == PortKind::kRfc2217 ? "rfc2217://" : "tcp://") +
         (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace orv
