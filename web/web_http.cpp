#include "web/web_http.h"

#include <algorithm>
#include <cctype>

#include "platform/host_port_url.h"

namespace orv {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::string RequestHead::Header(std::string_view name) const {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

RequestHead ParseRequestHead(std::string_view bytes) {
  RequestHead head;
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) return head;
  head.complete = true;
  std::string_view rest = bytes.substr(0, end + 2);
  const std::size_t first_end = rest.find("\r\n");
  const std::string_view request_line = rest.substr(0, first_end);
  rest.remove_prefix(first_end + 2);
  const std::size_t space = request_line.find(' ');
  head.method = std::string(request_line.substr(0, space));
  if (space != std::string_view::npos) {
    const std::string_view after = request_line.substr(space + 1);
    head.target = std::string(after.substr(0, after.find(' ')));
  }
  while (!rest.empty()) {
    const std::size_t line_end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, line_end);
    rest.remove_prefix(line_end + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    head.headers.emplace(Lower(Trim(line.substr(0, colon))),
                         std::string(Trim(line.substr(colon + 1))));
  }
  return head;
}

bool IsPageUpgrade(const RequestHead& head) {
  const std::string_view path = std::string_view(head.target).substr(0, head.target.find('?'));
  return head.method == "GET" && path == "/ws" && Lower(head.Header("upgrade")) == "websocket";
}

bool SameOrigin(std::string_view origin, std::string_view host) {
  if (host.empty()) return false;
  const std::string lower = Lower(origin);
  const std::string_view rest = lower.starts_with("https://")  ? std::string_view(lower).substr(8)
                                : lower.starts_with("http://") ? std::string_view(lower).substr(7)
                                                               : std::string_view();
  return !rest.empty() && rest == Lower(host);
}

int HostRefusal(std::string_view host, const AllowedHosts& allowed) {
  if (host.empty()) return 400;
  // Host is the authority of a URL: the one reader of addresses reads it as one.
  const HostPortUrl url = ParseHostPortUrl("http://" + std::string(host));
  if (url.problem != UrlProblem::kNone) return 400;
  const std::string name = Lower(url.host);
  const auto named = [&name](const std::vector<std::string>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  if (named(allowed.listed)) return 0;
  return named(allowed.own) && (!url.port || *url.port == allowed.port) ? 0 : 421;
}

std::string CookieValue(std::string_view cookie_header, std::string_view name) {
  while (!cookie_header.empty()) {
    const std::size_t end = cookie_header.find(';');
    const std::string_view pair = Trim(cookie_header.substr(0, end));
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name)
      return std::string(pair.substr(equals + 1));
    if (end == std::string_view::npos) break;
    cookie_header.remove_prefix(end + 1);
  }
  return {};
}

std::string ClosingResponse(int status, std::string_view reason, std::string_view text) {
  std::string body(text);
  body += '\n';
  return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace orv
