// The bounds every web connection is held to: on an injected clock, then on the real server on a
// loopback port, where a slow client or one address cannot take the panel from other visitors.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/wait_for.h"
#include "tests/web_server_fixture.h"
#include "web/web_bounds.h"

namespace orv {
namespace {

TEST(WebBounds, PagesAndRequestBytes) {
  const WebLimits limits{
      .max_clients = 2, .max_connections = 4, .max_per_address = 3, .max_request_bytes = 100};
  WebConnections open(limits);
  const int a = open.Open("192.0.2.7", 0).id, b = open.Open("192.0.2.7", 0).id,
            c = open.Open("192.0.2.8", 0).id;
  ASSERT_TRUE(a != 0 && b != 0 && c != 0);
  EXPECT_TRUE(open.Upgrade(a, 0));
  EXPECT_TRUE(open.Upgrade(b, 0));
  EXPECT_FALSE(open.Upgrade(c, 0));  // the third page
  open.Close(a);
  EXPECT_TRUE(open.Upgrade(c, 0));
  EXPECT_EQ(open.From("192.0.2.8"), 1U);  // a page still counts for its address

  // A request counts its bytes until it is answered; one byte over the bound is refused.
  WebConnections http(limits);
  const int h = http.Open("192.0.2.7", 0).id;
  EXPECT_TRUE(http.Received(h, 60, 0));
  EXPECT_TRUE(http.Received(h, 40, 0));
  EXPECT_FALSE(http.Received(h, 1, 0));
  http.Responded(h, 0);
  EXPECT_TRUE(http.Received(h, 100, 0));
}

TEST(WebBounds, AFullPanelClosesWhatHasWaitedLongestWithoutAWholeRequest) {
  // Open already, in this order: an address, when it opened, and what it did: 's' nothing,
  // 't' a request trickling since `at` (a byte at 900 too), 'a' a request answered at `at`, 'p'
  // became a live page.
  struct Held {
    const char* address;
    std::int64_t opened;
    char did;
    std::int64_t at;
  };
  struct Case {
    const char* name;
    std::vector<Held> held;
    const char* newcomer;
    int closed;  // index into held; -1: none
    bool admitted;
  };
  // Three places, two of them from one address; the newcomer comes at 1000.
  const Case cases[] = {
      {"room left", {{"A", 0, 's', 0}, {"B", 0, 's', 0}}, "C", -1, true},
      {"silent ones: the oldest",
       {{"A", 200, 's', 0}, {"B", 100, 's', 0}, {"C", 300, 's', 0}},
       "D",
       1,
       true},
      {"a silent one before any that has sent, however long those have waited",
       {{"A", 0, 'a', 100}, {"B", 50, 't', 100}, {"C", 200, 's', 0}},
       "D",
       2,
       true},
      {"a request trickling since before another was answered",
       {{"A", 0, 'a', 500}, {"B", 50, 't', 100}, {"C", 200, 't', 300}},
       "D",
       1,
       true},
      {"answered before another's request began",
       {{"A", 0, 'a', 200}, {"B", 100, 't', 300}, {"C", 600, 't', 700}},
       "D",
       0,
       true},
      {"a live page is never taken",
       {{"A", 0, 'p', 0}, {"B", 100, 's', 0}, {"C", 200, 's', 0}},
       "D",
       1,
       true},
      {"every place a live page",
       {{"A", 0, 'p', 0}, {"B", 0, 'p', 0}, {"C", 0, 'p', 0}},
       "D",
       -1,
       false},
      {"an address at its bound crowds out only its own",
       {{"B", 0, 's', 0}, {"A", 100, 's', 0}, {"A", 200, 's', 0}},
       "A",
       1,
       true},
      {"an address at its bound with live pages only",
       {{"A", 0, 'p', 0}, {"A", 0, 'p', 0}},
       "A",
       -1,
       false},
      {"full: any address's connection, one that holds its only place too",
       {{"B", 0, 's', 0}, {"A", 100, 's', 0}, {"A", 200, 's', 0}},
       "C",
       0,
       true},
  };
  for (const Case& c : cases) {
    WebConnections open(WebLimits{.max_clients = 3, .max_connections = 3, .max_per_address = 2});
    std::vector<int> ids;
    for (const Held& held : c.held) {
      ids.push_back(open.Open(held.address, held.opened).id);
      if (held.did == 't') {
        open.Received(ids.back(), 1, held.at);
        open.Received(ids.back(), 1, 900);  // still trickling just now
      }
      if (held.did == 'a') {
        open.Received(ids.back(), 1, held.opened);
        open.Responded(ids.back(), held.at);
      }
      if (held.did == 'p') open.Upgrade(ids.back(), held.opened);
    }
    const WebConnections::Admission admission = open.Open(c.newcomer, 1000);
    EXPECT_EQ(admission.closed, c.closed < 0 ? 0 : ids[static_cast<std::size_t>(c.closed)])
        << c.name;
    EXPECT_EQ(admission.id != 0, c.admitted) << c.name;
    if (admission.closed != 0) {
      EXPECT_FALSE(open.IsOpen(admission.closed)) << c.name;
    }
    EXPECT_EQ(open.connections(), c.held.size() + (c.admitted && c.closed < 0 ? 1 : 0)) << c.name;
  }
}

// A connection that never sent a byte is idle after 3 s, one answered after 10 s of silence, a page
// after 30 s without a pong; a request has a deadline from its first byte whatever trickles.
TEST(WebBounds, IdleTimesAndAWholeRequestsDeadlineFromItsFirstByte) {
  // What the connection does, and when: 'r' a byte read, 'a' a head's first bytes seen (not yet
  // counted), 'R' a response out, 'u' it becomes a live page, 'h' its pong. Then whether it is
  // cut at `at`.
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
      {"nothing sent: the first byte's deadline", {}, 3000, false},
      {"nothing sent, past the first byte's deadline", {}, 3001, true},
      {"a live page has no request", {{'r', 1000}, {'u', 1500}}, 7000, false},
      {"answered, then silent", {{'r', 0}, {'R', 0}}, 10000, false},
      {"answered, then silent too long", {{'r', 0}, {'R', 0}}, 10001, true},
      {"a page heard from", {{'u', 0}, {'h', 20000}}, 50000, false},
      {"a page not heard from", {{'u', 0}, {'h', 20000}}, 50001, true},
  };
  for (const auto& [name, steps, at, cut] : cases) {
    WebConnections open(WebLimits{.http_idle_ms = 10000, .request_deadline_ms = 5000});
    const int id = open.Open("192.0.2.7", 0).id;
    for (const Step& step : steps) {
      if (step.what == 'r') open.Received(id, 1, step.ms);
      if (step.what == 'a') open.Arrived(id, step.ms);
      if (step.what == 'R') open.Responded(id, step.ms);
      if (step.what == 'u') open.Upgrade(id, step.ms);
      if (step.what == 'h') open.Heard(id, step.ms);
    }
    EXPECT_EQ(open.Idle(at), cut ? std::vector<int>{id} : std::vector<int>{}) << name;
  }
}

using namespace std::chrono_literals;
using test::kGetState;
using test::Server;
using test::StatusLine;
using test::WaitFor;

// A client on the server's port from one of the loopback addresses.
std::unique_ptr<QTcpSocket> ConnectFrom(const QtWebServer& server, const QString& from) {
  auto socket = std::make_unique<QTcpSocket>();
  EXPECT_TRUE(socket->bind(QHostAddress(from)));
  socket->connectToHost(QStringLiteral("127.0.0.1"), server.port());
  EXPECT_TRUE(socket->waitForConnected(2000));
  return socket;
}

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

TEST(WebServerBounds, APanelFullOfSilentOrSlowConnectionsServesANewVisitor) {
  const QByteArray slow_body =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\nx";
  for (const auto& [name, sent] :
       std::vector<std::tuple<const char*, QByteArray>>{{"silent", ""}, {"slow body", slow_body}}) {
    const auto server = Server(WebLimits{});  // the panel's own bounds, not the fixture's
    std::string error;
    ASSERT_TRUE(server->Listen(error)) << error;
    // Every place taken, eight from each of eight loopback addresses.
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 64; ++i) {
      held.push_back(ConnectFrom(*server, QStringLiteral("127.0.0.%1").arg(2 + i / 8)));
      held.back()->write(sent);
      // Accepted one by one: the listener's backlog is short, and the server runs on this loop.
      ASSERT_TRUE(
          WaitFor([&] { return server->connections().connections() == held.size(); }, 2000ms))
          << name;
    }
    const auto visitor = ConnectFrom(*server, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(StatusLine(*visitor, kGetState), "HTTP/1.1 200 OK") << name;
    // An address at its bound is served too, in a place of its own.
    const auto neighbour = ConnectFrom(*server, QStringLiteral("127.0.0.9"));
    EXPECT_EQ(StatusLine(*neighbour, kGetState), "HTTP/1.1 200 OK") << name;
    EXPECT_EQ(server->connections().From("127.0.0.9"), 8U) << name;
    EXPECT_TRUE(WaitFor(
        [&] {
          return std::count_if(held.begin(), held.end(), [](const auto& socket) {
                   return socket->state() == QAbstractSocket::UnconnectedState;
                 }) == 2;
        },
        2000ms))
        << name;
  }
}

TEST(WebServerBounds, AVisitorWhoseRequestCameWithABurstOutlastsTheBurst) {
  const auto server = Server(WebLimits{});
  std::string error;
  ASSERT_TRUE(server->Listen(error)) << error;
  // All of it waits in the listener's queue, the visitor's request first, before the server
  // (on this loop) takes any: then the 65th silent one would close the visitor's.
  const auto visitor = ConnectFrom(*server, QStringLiteral("127.0.0.1"));
  visitor->write(kGetState);
  ASSERT_TRUE(visitor->waitForBytesWritten(2000));
  std::vector<std::unique_ptr<QTcpSocket>> burst;
  for (int i = 0; i < 80; ++i)
    burst.push_back(ConnectFrom(*server, QStringLiteral("127.0.0.%1").arg(2 + i / 8)));
  EXPECT_TRUE(WaitFor([&] { return visitor->canReadLine(); }, 5000ms));
  EXPECT_EQ(visitor->readLine().trimmed().toStdString(), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace orv
