#pragma once

// The web server on a loopback port of the test's own, for its tests and its memory measurement.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "panelstate/panel_state.h"
#include "tests/support/wait_for.h"
#include "web/qt/qt_web_server.h"
#include "web/web_bounds.h"
#include "web/web_settings.h"

namespace orv::test {

inline const QByteArray kGetState = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A server on a loopback port the system picks; no certificate unless given; read-only and
// without events unless given a gate and a journal. How many connections one address may hold is
// a setting of the site's: given there, and only there.
inline std::unique_ptr<QtWebServer> Server(WebLimits limits, std::string cert = {},
                                           std::string key = {}, AccessGate* gate = nullptr,
                                           std::filesystem::path journal = {}) {
  const std::size_t per_address = std::exchange(limits.max_per_address, 1);
  return std::make_unique<QtWebServer>(
      WebPanelSettings{.enabled = true,
                       .listen = "127.0.0.1:0",
                       .host = "127.0.0.1",
                       .loopback = cert.empty(),
                       .cert_file = cert,
                       .key_file = key,
                       .max_per_address = per_address,
                       .hosts = {},
                       .address = {},
                       .refusal = {}},
      QtWebServer::Hooks{[] { return EmptyPanelState(); }, nullptr, gate, std::move(journal), {}},
      nullptr, limits);
}

// The same, listening already (the panel's own bounds unless given).
inline std::unique_ptr<QtWebServer> Listening(WebLimits limits = {}, AccessGate* gate = nullptr,
                                              std::filesystem::path journal = {}) {
  auto server = Server(limits, {}, {}, gate, std::move(journal));
  std::string error;
  EXPECT_TRUE(server->Listen(error)) << error;
  return server;
}

// A client on the server's port, from one of the loopback addresses if given.
inline std::unique_ptr<QTcpSocket> Connect(const QtWebServer& server, const QString& from = {}) {
  auto socket = std::make_unique<QTcpSocket>();
  if (!from.isEmpty()) {
    EXPECT_TRUE(socket->bind(QHostAddress(from)));
  }
  socket->connectToHost(QStringLiteral("127.0.0.1"), server.port());
  EXPECT_TRUE(socket->waitForConnected(2000));
  return socket;
}

// A log in as a browser's page posts it, to the server at host.
inline QByteArray LogInRequest(const QByteArray& host, const QByteArray& body) {
  return "POST /api/login HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host +
         "\r\nContent-Type: application/json\r\nContent-Length: " +
         QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// What the server answers to bytes, up to its first line, or "" when it closes first.
inline std::string StatusLine(QTcpSocket& socket, const QByteArray& bytes) {
  socket.write(bytes);
  (void)WaitFor(
      [&] { return socket.canReadLine() || socket.state() != QAbstractSocket::ConnectedState; },
      std::chrono::milliseconds(5000));
  return socket.readLine().trimmed().toStdString();
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every client here is on one loopback address.
    server_ =
        Listening(WebLimits{.max_per_address = 64, .http_idle_ms = 300, .first_byte_ms = 300});
  }
  std::unique_ptr<QTcpSocket> Connect() { return test::Connect(*server_); }
  QByteArray Upgrade() const {
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  }
  QUrl PageUrl() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(server_->port())); }

  std::unique_ptr<QtWebServer> server_;
};

}  // namespace orv::test
