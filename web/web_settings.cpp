#include "web/web_settings.h"

#include <arpa/inet.h>

#include <QString>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <iterator>

#include "platform/host_port_url.h"
#include "platform/leading_number.h"

namespace orv {
namespace {

// The address as the system reads it, and whether it stays on this machine.
bool ReadAddress(const std::string& host, bool& loopback) {
  unsigned char bytes[16] = {};
  if (inet_pton(AF_INET, host.c_str(), bytes) == 1) {
    loopback = bytes[0] == 127;
    return true;
  }
  if (inet_pton(AF_INET6, host.c_str(), bytes) == 1) {
    static const unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    loopback = std::equal(std::begin(bytes), std::end(bytes), std::begin(kLoopback6));
    return true;
  }
  return false;
}

// The names of Hosts=, each as the one reader of addresses takes a host.
std::vector<std::string> ReadHosts(const std::string& section, const std::string& text,
                                   const NoticeFn& notice) {
  std::vector<std::string> hosts;
  for (const QString& piece : QString::fromStdString(text).split(u',', Qt::SkipEmptyParts)) {
    const std::string name = piece.trimmed().toLower().toStdString();
    if (name.empty()) continue;
    const HostPortUrl url = ParseHostPortUrl("host://" + name);
    if (url.problem == UrlProblem::kNone && !url.port) {
      hosts.push_back(url.host);
    } else if (notice) {
      notice(Notice{NoticeLevel::kWarning,
                    "[" + section + "] Hosts= " + name + " is not a host name: it is left out."});
    }
  }
  return hosts;
}

// A count from 1 to most; anything else is the default, with a notice when something was written.
std::size_t ReadCount(const SiteSettings& site, const std::string& section, const char* key,
                      std::size_t most, std::size_t fallback, const NoticeFn& notice) {
  const std::string text = site.Read(section, key);
  if (text.empty()) return fallback;
  if (const std::optional<long> value = WholeNumberIn(text, 1, static_cast<long>(most)))
    return static_cast<std::size_t>(*value);
  if (notice) {
    notice(Notice{NoticeLevel::kWarning, "[" + section + "] " + key + "=" + text +
                                             " is not a number from 1 to " + std::to_string(most) +
                                             ": " + std::to_string(fallback) + " is used."});
  }
  return fallback;
}

}  // namespace

WebPanelSettings LoadWebPanelSettings(const SiteSettings& site, const NoticeFn& notice,
                                      std::string_view section_name) {
  const std::string section(section_name);
  WebPanelSettings settings;
  settings.listen = site.Read(section, "Listen");
  if (settings.listen.empty()) return settings;
  const std::string where = "[" + section + "] Listen=" + settings.listen;
  // The one reader of network addresses, with a scheme of its own for the form.
  const HostPortUrl url = ParseHostPortUrl("listen://" + settings.listen);
  if (url.problem != UrlProblem::kNone || !url.port || !ReadAddress(url.host, settings.loopback)) {
    settings.refusal = where + " is not an address and port such as 127.0.0.1:8080 or [::1]:8080";
    return settings;
  }
  settings.host = url.host;
  settings.port = *url.port;
  settings.cert_file = site.Read(section, "CertFile");
  settings.key_file = site.Read(section, "KeyFile");
  if (settings.cert_file.empty() != settings.key_file.empty()) {
    settings.refusal = "[" + section + "] needs both CertFile= and KeyFile= for HTTPS, or neither";
    return settings;
  }
  if (!settings.loopback && !settings.tls()) {
    settings.refusal = where +
                       " is reachable from the network, and without CertFile= and KeyFile= it "
                       "would be plain HTTP: set both for HTTPS, or listen on 127.0.0.1 behind a "
                       "reverse proxy";
    return settings;
  }
  settings.max_clients =
      ReadCount(site, section, "MaxClients", kMostWebClients, kDefaultWebClients, notice);
  settings.max_per_address = ReadCount(site, section, "ConnectionsPerAddress", kMostWebPerAddress,
                                       kDefaultWebPerAddress, notice);
  settings.hosts = ReadHosts(section, site.Read(section, "Hosts"), notice);
  if (std::string address = site.Read(section, "Address"); IsWebAddress(address)) {
    settings.address = std::move(address);
  } else if (!address.empty() && notice) {
    notice(Notice{NoticeLevel::kWarning, "[" + section + "] Address=" + address +
                                             " is not an http:// or https:// address: it is "
                                             "left out."});
  }
  settings.enabled = true;
  return settings;
}

AllowedHosts WebHosts(const WebPanelSettings& settings, int port) {
  AllowedHosts allowed{
      {QString::fromStdString(settings.host).toLower().toStdString()}, port, settings.hosts};
  if (settings.loopback) allowed.own.push_back("localhost");
  return allowed;
}

bool IsWebAddress(std::string_view text) {
  const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                 QUrl::StrictMode);
  return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
         !url.host().isEmpty() && url.userInfo().isEmpty();
}

std::string WebAddress(const WebPanelSettings& settings, int port, std::string_view host_name) {
  if (!settings.address.empty()) return settings.address;
  std::string host = !settings.hosts.empty() ? settings.hosts.front() : settings.host;
  if (host == "0.0.0.0" || host == "::") host = std::string(host_name);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return (settings.tls() ? "https://" : "http://") + host + ":" + std::to_string(port) + "/";
}

}  // namespace orv
