#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The head of an HTTP request as far as the panel needs it before Qt's server sees it: whether it
// is a page going live on /ws.
struct RequestHead {
  bool complete = false;  // the blank line after the headers has come
  std::string method;
  std::string target;
  std::map<std::string, std::string, std::less<>> headers;  // names in lower case, first wins

  std::string Header(std::string_view name) const;
};

// Reads the head at the start of bytes; complete stays false while the blank line is missing.
RequestHead ParseRequestHead(std::string_view bytes);

// A GET of /ws that asks to become a WebSocket.
bool IsPageUpgrade(const RequestHead& head);

// Whether a browser's Origin header names the host the request was sent to (its Host header),
// by either scheme: a page of another site cannot act here with the operator's cookie. A missing
// Origin is not the same origin.
bool SameOrigin(std::string_view origin, std::string_view host);

// The names the panel answers for. A page of another site whose name was made to point here (DNS
// rebinding) still sends its own name as Host, so that name must be refused.
struct AllowedHosts {
  std::vector<std::string> own;  // the listen address (and localhost on loopback), lower case
  int port = 0;                  // a port in Host with an own name must be this one
  // Names an administrator lists, lower case: any port, as a reverse proxy in front sends its own.
  std::vector<std::string> listed;
};

// 0 when a request with this Host header may be answered; 400 when it has none or it is not a
// host and port at all, 421 when it names another host.
int HostRefusal(std::string_view host, const AllowedHosts& allowed);

// The value of the cookie name in a Cookie header; empty when it has none.
std::string CookieValue(std::string_view cookie_header, std::string_view name);

// The exact bytes of a short response that ends the connection (refusals before Qt's server).
std::string ClosingResponse(int status, std::string_view reason, std::string_view text);

}  // namespace orv
