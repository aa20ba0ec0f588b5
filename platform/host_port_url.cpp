#include "platform/host_port_url.h"

#include <QString>
#include <QUrl>

#include <charconv>

namespace orv {
namespace {

constexpr std::size_t kLongestHostName = 253;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A host name or IPv4 address that QUrl takes and leaves as it is: QUrl lowers the letters,
// turns international names into their xn-- form, decodes %-escapes and rewrites "10.1" as
// "10.0.0.1"; any such rewriting refuses the host, since the resolver would be given the text as
// written. Non-ASCII text can never equal the xn-- form QUrl gives back.
bool GoodHostName(std::string_view host) {
  if (host.size() > kLongestHostName || host.ends_with('.')) return false;
  QUrl url;
  url.setHost(FromUtf8(host), QUrl::StrictMode);
  if (!url.isValid()) return false;
  std::string lowered(host);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return url.host(QUrl::FullyEncoded).toStdString() == lowered;
}

// An IPv6 address, which QUrl may write shorter; not the "v1.x" future form that QUrl also
// takes in brackets, and no zone (%eth0), which names an interface of this machine.
bool GoodIpv6(std::string_view host) {
  if (host.find('%') != std::string_view::npos) return false;
  QUrl url;
  url.setHost(QStringLiteral("[") + FromUtf8(host) + QStringLiteral("]"), QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty() && !url.host().startsWith(u'v');
}

}  // namespace

HostPortUrl ParseHostPortUrl(std::string_view text) {
  HostPortUrl url;
  const std::size_t scheme_end = text.find("://");
  if (scheme_end == std::string_view::npos) {
    url.problem = UrlProblem::kNoScheme;
    return url;
  }
  url.scheme = std::string(text.substr(0, scheme_end));
  // The address is split here, on the text as written, so that a refusal can quote its piece;
  // the host is handed to QUrl alone. What follows it is ":PORT" or nothing.
  std::string_view rest = text.substr(scheme_end + 3);
  std::string_view host;
  const auto refuse = [&url](UrlProblem problem, std::string_view piece) {
    url.problem = problem;
    url.piece = std::string(piece);
    return url;
  };
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return refuse(UrlProblem::kNoClosingBracket, rest);
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    if (!GoodIpv6(host)) return refuse(UrlProblem::kNotIpv6, host);
    if (!rest.empty() && !rest.starts_with(':')) return refuse(UrlProblem::kJunkAfterHost, rest);
  } else {
    host = rest.substr(0, rest.find(':'));
    rest.remove_prefix(host.size());
    if (host.empty()) return refuse(UrlProblem::kNoHost, host);
    if (!GoodHostName(host)) return refuse(UrlProblem::kBadHost, host);
  }
  url.host = std::string(host);
  if (rest.empty()) return url;
  rest.remove_prefix(1);
  int port = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
  if (rest.empty() || rest.size() > 5 || error != std::errc() || end != rest.data() + rest.size() ||
      port < 1 || port > 65535) {
    url.host.clear();
    return refuse(UrlProblem::kBadPort, rest);
  }
  url.port = port;
  return url;
}

}  // namespace orv
