#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/site_settings.h"
#include "platform/notice.h"
#include "web/web_http.h"

namespace orv {

// The section [WebPanel] of the site-wide settings: where the program serves its web panel.
struct WebPanelSettings {
  bool enabled = false;  // Listen names an address and the settings were taken
  std::string listen;    // as written, for the notices
  std::string host;      // an IPv4 or IPv6 address (without brackets)
  int port = 0;
  bool loopback = false;
  std::string cert_file;  // both set: HTTPS and WSS only
  std::string key_file;
  std::size_t max_clients = 32;
  std::size_t max_per_address = 8;  // connections from one peer address
  std::vector<std::string> hosts;   // Hosts=: further names it answers for, lower case
  std::string address;  // Address=: where browsers elsewhere find it (http or https URL)
  // Why the program must not start: a Listen it cannot take, a plain listener off loopback.
  std::string refusal;

  bool tls() const { return !cert_file.empty(); }
};

inline constexpr std::size_t kDefaultWebClients = 32;
inline constexpr std::size_t kMostWebClients = 1024;
inline constexpr std::size_t kDefaultWebPerAddress = 8;
inline constexpr std::size_t kMostWebPerAddress = 2 * kMostWebClients;

// The section (WebPanel, or the site overview's Overview): Listen= (empty: off; ADDRESS:PORT, an
// IPv6 address in brackets), CertFile=, KeyFile=, MaxClients= (1 to 1024, else 32 with a notice),
// ConnectionsPerAddress= (1 to 2048, else 8 with a notice), Hosts= (host names, commas between; one
// that is not a name is left out with a notice), Address= (an http:// or https:// URL with a host;
// else left out with a notice). A Listen that is not understood, only one of CertFile and KeyFile,
// or an address other than loopback without both give a refusal: a web panel that would be served
// plainly across the network is not served at all.
WebPanelSettings LoadWebPanelSettings(const SiteSettings& site, const NoticeFn& notice,
                                      std::string_view section = "WebPanel");

// What the panel listening at port answers for: its listen address, localhost when that is
// loopback, and the names of Hosts=.
AllowedHosts WebHosts(const WebPanelSettings& settings, int port);

// An http or https URL with a host and without a log-in in it: what a browser may be sent to open
// (never javascript:, data: or a file).
bool IsWebAddress(std::string_view text);

// Where a browser on another machine opens the panel listening at port: Address= as written, or
// made from the scheme, the first name of Hosts= (else the listen address, else, for a wildcard
// address, host_name) and the port. What the site's overview links a tile to.
std::string WebAddress(const WebPanelSettings& settings, int port, std::string_view host_name);

}  // namespace orv
