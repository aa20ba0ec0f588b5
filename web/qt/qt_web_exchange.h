#pragma once

// A request as Qt's HTTP server hands it over, in the API's terms, and the API's answer in Qt's.

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <string>

#include "web/web_app.h"

namespace orv {

// The header's value; "" without it.
std::string Header(const QHttpServerRequest& request, const char* name);
// The peer as the journal names it: an IPv4 peer on a dual-stack socket without its ::ffff:.
std::string PeerText(const QHostAddress& address);
WebRequest ApiRequest(const QHttpServerRequest& request, bool tls);
// Never kept by a cache.
QHttpServerResponse QtResponse(const WebResponse& out);

}  // namespace orv
