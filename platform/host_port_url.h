#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv {

// What is wrong with a SCHEME://HOST[:PORT] address, in the order it is looked at.
enum class UrlProblem {
  kNone,
  kNoScheme,          // no "://": not an address of this form at all
  kNoClosingBracket,  // "[" without its "]"
  kNotIpv6,           // in brackets, but not an IPv6 address
  kNoHost,
  kBadHost,        // not a host name or IPv4 address as written
  kJunkAfterHost,  // something other than ":PORT" after "]"
  kBadPort,        // after the host's ":", not a number from 1 to 65535
};

struct HostPortUrl {
  std::string scheme;       // as written, letter case kept; set whenever there is a "://"
  std::string host;         // as written; an IPv6 address without its brackets
  std::optional<int> port;  // none when the address names none
  UrlProblem problem = UrlProblem::kNone;
  std::string piece;  // what the problem is about, as written: the host, or the text after ":"
};

// The one reader of network addresses (the broker URL, the port map's tcp:// and rfc2217://):
// SCHEME://HOST, SCHEME://HOST:PORT, SCHEME://[IPV6]:PORT and nothing after the port (no user,
// path, query or fragment). Qt's QUrl judges the host; only hosts that it takes exactly as
// written (letter case aside) pass, so the resolver later reads what was checked: no
// percent-escapes, no international names (write their xn-- form), no short IPv4 forms such as
// "10.1" or "010.0.0.1", no trailing dot, at most 253 characters. In brackets, an IPv6 address
// without a zone. The scheme is left to the caller.
HostPortUrl ParseHostPortUrl(std::string_view text);

}  // namespace orv
