// The bounds every web connection is held to: on an injected clock, then on the real server on a
// loopback port, where a slow client or one address cannot take the panel from other visitors.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/wait_for.h"
#include "tests/web_server_fixture.h"
#include "web/web_bounds.h"

namespace orv {
namespace {

TEST(WebBounds, ConnectionsPagesRequestBytesAndIdleTime) {
  const WebLimits limits{
      .max_clients = 2, .max_connections = 4, .max_per_address = 3, .max_request_bytes = 100};
  WebConnections open(limits);
  const int a = open.Open("192.0.2.7", 0), b = open.Open("192.0.2.7", 0),
            c = open.Open("192.0.2.7", 0);
  ASSERT_TRUE(a != 0 && b != 0 && c != 0);
  EXPECT_EQ(open.Open("192.0.2.7", 0), 0);  // a fourth from one address
  const int other = open.Open("192.0.2.8", 0);
  EXPECT_NE(other, 0);                      // another address still gets in
  EXPECT_EQ(open.Open("192.0.2.9", 0), 0);  // the fifth connection in all
  EXPECT_TRUE(open.Upgrade(a, 0));
  EXPECT_TRUE(open.Upgrade(b, 0));
  EXPECT_FALSE(open.Upgrade(c, 0));  // the third page
  open.Close(a);
  EXPECT_TRUE(open.Upgrade(c, 0));
  EXPECT_EQ(open.From("192.0.2.7"), 2U);  // a page still counts for its address
  EXPECT_NE(open.Open("192.0.2.7", 0), 0);

  // A request counts its bytes until it is answered; one byte over the bound is refused.
  WebConnections http(limits);
  const int h = http.Open("192.0.2.7", 0);
  EXPECT_TRUE(http.Received(h, 60, 0));
  EXPECT_TRUE(http.Received(h, 40, 0));
  EXPECT_FALSE(http.Received(h, 1, 0));
  http.Responded(h, 0);
  EXPECT_TRUE(http.Received(h, 100, 0));

  // Idle: a plain connection after 10 s of silence, a page after 30 s without a pong.
  WebConnections idle(limits);
  const int quiet = idle.Open("192.0.2.7", 0), page = idle.Open("192.0.2.8", 0);
  idle.Upgrade(page, 0);
  EXPECT_TRUE(idle.Idle(10000).empty());
  EXPECT_EQ(idle.Idle(10001), std::vector<int>{quiet});
  idle.Heard(page, 20000);
  EXPECT_EQ(idle.Idle(20001), std::vector<int>{quiet});
  EXPECT_EQ(idle.Idle(50001), (std::vector<int>{quiet, page}));
}

TEST(WebBounds, AWholeRequestHasADeadlineFromItsFirstByteWhateverTrickles) {
  // What the connection does, and when: 'r' a byte read, 'a' a head's first bytes seen (not yet
  // counted), 'R' a response out, 'u' it becomes a live page. Then whether it is cut at `at`.
  struct Step {
    char what;
    std::int64_t ms;
  };
  const std::tuple<const char*, std::vector<Step>, std::int64_t, bool> cases[] = {
      {"a byte a second, at the deadline",
       {{'r', 1000}, {'r', 2000}, {'r', 3000}, {'r', 4000}, {'r', 5000}, {'r', 6000}},
       6000,
       false},
      {"a byte a second, past the deadline",
       {{'r', 1000}, {'r', 2000}, {'r', 3000}, {'r', 4000}, {'r', 5000}, {'r', 6000}},
       6001,
       true},
      {"the head seen before it is counted", {{'a', 1000}, {'r', 5500}}, 6001, true},
      {"answered: the next request counts from its own first byte",
       {{'r', 1000}, {'R', 2000}, {'r', 7000}},
       12000,
       false},
      {"answered, the next one late", {{'r', 1000}, {'R', 2000}, {'r', 7000}}, 12001, true},
      {"nothing sent: only the idle bound", {}, 9000, false},
      {"a live page has no request", {{'r', 1000}, {'u', 1500}}, 7000, false},
  };
  for (const auto& [name, steps, at, cut] : cases) {
    WebConnections open(WebLimits{.http_idle_ms = 10000, .request_deadline_ms = 5000});
    const int id = open.Open("192.0.2.7", 0);
    for (const Step& step : steps) {
      if (step.what == 'r') open.Received(id, 1, step.ms);
      if (step.what == 'a') open.Arrived(id, step.ms);
      if (step.what == 'R') open.Responded(id, step.ms);
      if (step.what == 'u') open.Upgrade(id, step.ms);
    }
    EXPECT_EQ(open.Idle(at), cut ? std::vector<int>{id} : std::vector<int>{}) << name;
  }
}

using namespace std::chrono_literals;
using test::kGetState;
using test::Server;
using test::StatusLine;
using test::WaitFor;

TEST(WebServerBounds, ATricklingRequestIsCutAtItsDeadlineWhateverItSends) {
  const auto server = Server(WebLimits{.http_idle_ms = 6000, .request_deadline_ms = 1000});
  std::string error;
  ASSERT_TRUE(server->Listen(error)) << error;
  const QByteArray body_head =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\n";
  // A byte every 100 ms, well inside the idle bound: in the head, then in a body. Cut at the
  // deadline, at most one sweep of the server's after it, long before the idle bound.
  for (const auto& [name, sent_first] :
       std::vector<std::tuple<const char*, QByteArray>>{{"head", "G"}, {"body", body_head}}) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server->port());
    ASSERT_TRUE(socket.waitForConnected(2000)) << name;
    QElapsedTimer held;
    held.start();
    socket.write(sent_first);
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, &socket, [&socket] { socket.write("x"); });
    trickle.start(100);
    EXPECT_TRUE(
        WaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 8000ms))
        << name;
    EXPECT_GE(held.elapsed(), 1000) << name;
    EXPECT_LE(held.elapsed(), 3500) << name;
  }
  EXPECT_TRUE(WaitFor([&] { return server->connections().connections() == 0; }, 2000ms));
}

TEST(WebServerBounds, OneAddressHoldsAtMostEightConnectionsAnotherIsStillServed) {
  const auto server = Server(WebLimits{});  // the panel's own bounds, not the fixture's
  std::string error;
  ASSERT_TRUE(server->Listen(error)) << error;
  auto connect = [&server](const char* from) {
    auto socket = std::make_unique<QTcpSocket>();
    EXPECT_TRUE(socket->bind(QHostAddress(QString::fromLatin1(from))));
    socket->connectToHost(QStringLiteral("127.0.0.1"), server->port());
    EXPECT_TRUE(socket->waitForConnected(2000));
    return socket;
  };
  std::vector<std::unique_ptr<QTcpSocket>> held;
  for (int i = 0; i < 8; ++i)
    held.push_back(connect("127.0.0.1"));
  ASSERT_TRUE(WaitFor([&] { return server->connections().connections() == 8; }, 2000ms));
  EXPECT_EQ(StatusLine(*connect("127.0.0.1"), kGetState), "HTTP/1.1 503 Service Unavailable");
  // Another address on loopback is a visitor of its own.
  EXPECT_EQ(StatusLine(*connect("127.0.0.2"), kGetState), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace orv
