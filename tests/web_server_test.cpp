// The web panel's server on Qt's event loop, on a loopback port of its own: the bounds it holds
// before Qt's HTTP server sees a connection, and memory flat over many visitors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSslSocket>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/support/resident_memory.h"
#include "tests/support/wait_for.h"
#include "tests/temp_folder.h"
#include "web/qt/qt_web_server.h"

namespace orv {
namespace {

using test::WaitFor;
using namespace std::chrono_literals;

const QByteArray kGetState = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A server on a loopback port the system picks; no certificate unless given.
std::unique_ptr<QtWebServer> Server(WebLimits limits, std::string cert = {}, std::string key = {}) {
  return std::make_unique<QtWebServer>(
      WebPanelSettings{.enabled = true,
                       .listen = "127.0.0.1:0",
                       .host = "127.0.0.1",
                       .loopback = cert.empty(),
                       .cert_file = cert,
                       .key_file = key,
                       .refusal = {}},
      QtWebServer::Hooks{[] { return EmptyPanelState(); }, nullptr, nullptr, {}}, nullptr, limits);
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = Server(WebLimits{.http_idle_ms = 300});
    std::string error;
    ASSERT_TRUE(server_->Listen(error)) << error;
  }
  std::unique_ptr<QTcpSocket> Connect() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), server_->port());
    EXPECT_TRUE(socket->waitForConnected(2000));
    return socket;
  }
  // What the server answers to bytes, up to its first line, or "" when it closes first.
  std::string StatusLine(QTcpSocket& socket, const QByteArray& bytes) {
    socket.write(bytes);
    (void)WaitFor(
        [&] { return socket.canReadLine() || socket.state() != QAbstractSocket::ConnectedState; },
        5000ms);
    return socket.readLine().trimmed().toStdString();
  }
  QByteArray Upgrade() const {
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  }
  QUrl PageUrl() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(server_->port())); }

  std::unique_ptr<QtWebServer> server_;
};

TEST_F(WebServerTest, The33rdPageIsRefusedAndItsPlaceFreedWhenOneGoes) {
  std::vector<QWebSocket> pages(32);
  for (QWebSocket& page : pages)
    page.open(PageUrl());
  ASSERT_TRUE(WaitFor([&] { return server_->connections().pages() == 32; }, 5000ms));
  auto extra = Connect();
  EXPECT_EQ(StatusLine(*extra, Upgrade()), "HTTP/1.1 503 Service Unavailable");
  // The refused one leaves; one page goes; a new one takes its place.
  extra.reset();
  pages.front().close();
  ASSERT_TRUE(WaitFor([&] { return server_->connections().pages() == 31; }, 3000ms));
  EXPECT_EQ(StatusLine(*Connect(), Upgrade()), "HTTP/1.1 101 Switching Protocols");
}

TEST_F(WebServerTest, AMebibyteRequestAndAnOverlongHeadAreRefusedTheServerGoesOn) {
  auto big = Connect();
  const QByteArray head =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1048576\r\n\r\n";
  EXPECT_EQ(StatusLine(*big, head + QByteArray(1 << 20, 'x')), "HTTP/1.1 413 Payload Too Large");
  auto headers = Connect();
  EXPECT_EQ(StatusLine(*headers, "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'y')),
            "HTTP/1.1 431 Request Header Fields Too Large");
  auto fine = Connect();
  EXPECT_EQ(StatusLine(*fine, kGetState), "HTTP/1.1 200 OK");
}

TEST_F(WebServerTest, IdleConnectionsAreClosedAnsweredOnesToo) {
  auto silent = Connect(), half = Connect();
  half->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");  // the blank line never comes
  auto answered = Connect();
  EXPECT_EQ(StatusLine(*answered, kGetState), "HTTP/1.1 200 OK");
  for (QTcpSocket* socket : {silent.get(), half.get(), answered.get()}) {
    EXPECT_TRUE(
        WaitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, 3000ms));
  }
  EXPECT_TRUE(WaitFor([&] { return server_->connections().connections() == 0; }, 2000ms));
}

// A thousand visitors one after another, half of them live pages: nothing stays behind.
TEST_F(WebServerTest, MemoryStaysFlatOverAThousandConnectsAndDisconnects) {
  auto visit = [&](int i) {
    if (i % 2 == 0) {
      ASSERT_EQ(StatusLine(*Connect(), kGetState), "HTTP/1.1 200 OK");
    } else {
      QWebSocket page;
      page.open(PageUrl());
      ASSERT_TRUE(WaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 3000ms));
      page.close();
    }
  };
  for (int i = 0; i < 100; ++i)
    visit(i);
  ASSERT_TRUE(WaitFor([&] { return server_->connections().connections() == 0; }, 3000ms));
  const std::int64_t before = test::ResidentBytes();
  for (int i = 0; i < 1000; ++i)
    visit(i);
  ASSERT_TRUE(WaitFor([&] { return server_->connections().connections() == 0; }, 3000ms));
  QTest::qWait(200);  // what was left to delete later
  const std::int64_t growth = test::ResidentBytes() - before;
#if defined(ORV_SANITIZED)
  // AddressSanitizer keeps freed memory in quarantine (256 MiB): the size is measured in the
  // plain build; here the visits run for LeakSanitizer, which sees whether each was freed.
  (void)growth;
#else
  constexpr std::int64_t kMaxGrowth = 4 << 20;
  EXPECT_LT(growth, kMaxGrowth) << growth << " bytes more after 1,000 visitors";
#endif
}

TEST(WebServerTls, HttpsAndWssOnlyWithTheCertificate) {
  test::TempFolder folder;
  const std::string cert = (folder.path() / "cert.pem").string();
  const std::string key = (folder.path() / "key.pem").string();
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1";
  ASSERT_EQ(std::system((make + " -keyout " + key + " -out " + cert + " 2>/dev/null").c_str()), 0);
  const auto server = Server({}, cert, key);
  std::string error;
  // A key every user may read is no key of the site's.
  ASSERT_EQ(chmod(key.c_str(), 0644), 0);
  ASSERT_FALSE(server->Listen(error));
  EXPECT_EQ(error, "[WebPanel] KeyFile=" + key +
                       " can be read by every user (chmod o-r, or 640 with the group that runs the "
                       "program)");
  ASSERT_EQ(chmod(key.c_str(), 0600), 0);
  ASSERT_TRUE(server->Listen(error)) << error;

  QSslSocket https;
  https.setPeerVerifyMode(QSslSocket::VerifyNone);
  https.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->port());
  ASSERT_TRUE(WaitFor([&] { return https.isEncrypted(); }, 5000ms));
  https.write(kGetState);
  ASSERT_TRUE(WaitFor([&] { return https.canReadLine(); }, 5000ms));
  EXPECT_EQ(https.readLine().trimmed().toStdString(), "HTTP/1.1 200 OK");

  QWebSocket page;
  QObject::connect(&page, &QWebSocket::sslErrors, &page, [&page] { page.ignoreSslErrors(); });
  page.open(QUrl(QStringLiteral("wss://127.0.0.1:%1/ws").arg(server->port())));
  EXPECT_TRUE(WaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 5000ms));
}

}  // namespace
}  // namespace orv
