#include "web/qt/qt_web_exchange.h"

namespace orv {

std::string Header(const QHttpServerRequest& request, const char* name) {
  for (const auto& [key, value] : request.headers()) {
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value.toStdString();
  }
  return {};
}

std::string PeerText(const QHostAddress& address) {
  bool ipv4 = false;
  const quint32 v4 = address.toIPv4Address(&ipv4);
  return (ipv4 ? QHostAddress(v4) : address).toString().toStdString();
}

WebRequest ApiRequest(const QHttpServerRequest& request, bool tls) {
  WebRequest web;
  web.method = request.method() == QHttpServerRequest::Method::Post  ? "POST"
               : request.method() == QHttpServerRequest::Method::Get ? "GET"
                                                                     : "OTHER";
  web.path = request.url().path().toStdString();
  web.peer = PeerText(request.remoteAddress());
  web.host = Header(request, "host");
  web.origin = Header(request, "origin");
  web.cookie = Header(request, "cookie");
  web.body = request.body().toStdString();
  web.tls = tls;
  return web;
}

QHttpServerResponse QtResponse(const WebResponse& out) {
  QHttpServerResponse response(QByteArray::fromStdString(out.content_type),
                               QByteArray::fromStdString(out.body),
                               static_cast<QHttpServerResponse::StatusCode>(out.status));
  response.addHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
  if (!out.set_cookie.empty())
    response.addHeader(QByteArrayLiteral("Set-Cookie"), QByteArray::fromStdString(out.set_cookie));
  return response;
}

}  // namespace orv
