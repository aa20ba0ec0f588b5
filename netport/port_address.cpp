#include "netport/port_address.h"

#include <algorithm>
#include <cctype>

namespace orv {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsAlnum(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// A host name or IPv4 address: letters, digits, dots and hyphens, each label starting and ending
// with a letter or digit. Nothing that a resolver or a shell would read as more than a name.
bool GoodHostName(std::string_view host) {
  constexpr std::size_t kMaxName = 253;
  if (host.empty() || host.size() > kMaxName) return false;
  std::size_t start = 0;
  while (start <= host.size()) {
    const std::size_t dot = std::min(host.find('.', start), host.size());
    const std::string_view label = host.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || !IsAlnum(label.front()) || !IsAlnum(label.back()))
      return false;
    if (!std::all_of(label.begin(), label.end(), [](char c) { return IsAlnum(c) || c == '-'; }))
      return false;
    start = dot + 1;
  }
  return true;
}

bool GoodIpv6(std::string_view host) {
  return host.size() >= 2 && host.size() <= 45 && host.find(':') != std::string_view::npos &&
         std::all_of(host.begin(), host.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
         });
}

}  // namespace

PortAddress ParsePortAddress(std::string_view value) {
  PortAddress address;
  const std::size_t scheme_end = value.find("://");
  if (scheme_end == std::string_view::npos) {
    address.device = std::string(value);
    return address;
  }
  const std::string_view scheme = value.substr(0, scheme_end);
  if (EqualsNoCase(scheme, "tcp")) {
    address.kind = PortKind::kRawTcp;
  } else if (EqualsNoCase(scheme, "rfc2217")) {
    address.kind = PortKind::kRfc2217;
  } else {
    address.problem = "unknown kind of address \"" + std::string(scheme) +
                      "://\" (tcp:// or rfc2217:// are known)";
    return address;
  }
  std::string_view rest = value.substr(scheme_end + 3);
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      address.problem = "an IPv6 address without its closing bracket";
      return address;
    }
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    if (!GoodIpv6(host)) {
      address.problem = "not an IPv6 address: \"" + std::string(host) + "\"";
      return address;
    }
  } else {
    const std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon);
    if (host.empty()) {
      address.problem = "no host";
      return address;
    }
    if (!GoodHostName(host)) {
      address.problem = "not a host name or address: \"" + std::string(host) + "\"";
      return address;
    }
  }
  if (rest.empty() || rest.front() != ':') {
    address.problem = "no port (HOST:PORT)";
    return address;
  }
  rest.remove_prefix(1);
  long port = 0;
  const bool digits =
      !rest.empty() && rest.size() <= 5 && std::all_of(rest.begin(), rest.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      });
  if (digits) port = std::stol(std::string(rest));
  if (!digits || port < 1 || port > 65535) {
    address.problem =
        "the port must be a number from 1 to 65535, not \"" + std::string(rest) + "\"";
    return address;
  }
  address.host = std::string(host);
  address.port = static_cast<int>(port);
  return address;
}

std::string DescribePortAddress(const PortAddress& address) {
  if (!address.network()) return address.device;
  const bool ipv6 = address.host.find(':') != std::string::npos;
  return std::string(address.kind == PortKind::kRfc2217 ? "rfc2217://" : "tcp://") +
         (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace orv
