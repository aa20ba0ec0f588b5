// The bounds every web connection is held to: on an injected clock, then on the real server on a
// loopback port, where a slow client or one address cannot take the panel from other visitors.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <sstream>
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

  // A request counts its bytes until it is answered; one byte over the bound is refused.
  WebConnections http(limits);
  const int h = http.Open("192.0.2.7", 0).id;
  EXPECT_TRUE(http.Received(h, 60, 0));
  EXPECT_TRUE(http.Received(h, 40, 0));
  EXPECT_FALSE(http.Received(h, 1, 0));
  http.Responded(h, 0);
  EXPECT_TRUE(http.Received(h, 100, 0));
}

// A connection's steps from in, each a letter and its ms: 'r' a byte read, 'a' a head's first
// bytes seen (not yet counted), 'R' a response out, 'u' it becomes a live page, 'h' its pong.
void Apply(WebConnections& open, int id, std::istream& in) {
  char what = 0;
  std::int64_t ms = 0;
  while (in >> what >> ms) {
    if (what == 'r') open.Received(id, 1, ms);
    if (what == 'a') open.Arrived(id, ms);
    if (what == 'R') open.Responded(id, ms);
    if (what == 'u') open.Upgrade(id, ms);
    if (what == 'h') open.Heard(id, ms);
  }
}

TEST(WebBounds, AFullPanelClosesWhatHasWaitedLongestWithoutAWholeRequest) {
  // Open already, in this order: each an address, when it opened and its steps (a request
  // trickling until 900, one answered, a live page). Three places, two of them from one address;
  // the newcomer comes at 1000. Then which one it closes (an index, -1: none) and whether it is in.
  const std::tuple<const char*, const char*, const char*, int, bool> cases[] = {
      {"room left", "A 0; B 0", "C", -1, true},
      {"silent ones: the oldest", "A 200; B 100; C 300", "D", 1, true},
      // however long those that have sent have waited
      {"a silent one before any that has sent", "A 0 r0 R100; B 50 r100 r900; C 200", "D", 2, true},
      {"trickling since before another was answered",
       "A 0 r0 R500; B 50 r100 r900; C 200 r300 r900", "D", 1, true},
      {"answered before another's request began", "A 0 r0 R200; B 100 r300 r900; C 600 r700 r900",
       "D", 0, true},
      {"a live page is never taken", "A 0 u0; B 100; C 200", "D", 1, true},
      {"every place a live page", "A 0 u0; B 0 u0; C 0 u0", "D", -1, false},
      {"an address at its bound crowds out only its own", "B 0; A 100; A 200", "A", 1, true},
      {"an address at its bound with live pages only", "A 0 u0; A 0 u0", "A", -1, false},
      {"full: any address's, one that holds its only place too", "B 0; A 100; A 200", "C", 0, true},
  };
  for (const auto& [name, held, newcomer, closed, admitted] : cases) {
    WebConnections open(WebLimits{.max_clients = 3, .max_connections = 3, .max_per_address = 2});
    std::vector<int> ids;
    std::istringstream all(held);
    for (std::string connection; std::getline(all, connection, ';');) {
      std::istringstream in(connection);
      std::string address;
      std::int64_t opened = 0;
      in >> address >> opened;
      ids.push_back(open.Open(address, opened).id);
      Apply(open, ids.back(), in);
    }
    const WebConnections::Admission admission = open.Open(newcomer, 1000);
    EXPECT_EQ(admission.closed, closed < 0 ? 0 : ids[static_cast<std::size_t>(closed)]) << name;
    EXPECT_EQ(admission.id != 0, admitted) << name;
    if (admission.closed != 0) {
      EXPECT_FALSE(open.IsOpen(admission.closed)) << name;
    }
    EXPECT_EQ(open.connections(), ids.size() + (admitted && closed < 0 ? 1 : 0)) << name;
  }
}

// A connection that never sent a byte is idle after 3 s, one answered after 10 s of silence, a page
// after 30 s without a pong; a request has a deadline from its first byte whatever trickles.
TEST(WebBounds, IdleTimesAndAWholeRequestsDeadlineFromItsFirstByte) {
  // The connection's steps; whether it is cut at `at`.
  const std::tuple<const char*, const char*, std::int64_t, bool> cases[] = {
      {"a byte a second, at the deadline", "r1000 r2000 r3000 r4000 r5000 r6000", 6000, false},
      {"a byte a second, past the deadline", "r1000 r2000 r3000 r4000 r5000 r6000", 6001, true},
      {"the head seen before it is counted", "a1000 r5500", 6001, true},
      {"answered: the next one counts from its own first byte", "r1000 R2000 r7000", 12000, false},
      {"answered, the next one late", "r1000 R2000 r7000", 12001, true},
      {"nothing sent: the first byte's deadline", "", 3000, false},
      {"nothing sent, past the first byte's deadline", "", 3001, true},
      {"a live page has no request", "r1000 u1500", 7000, false},
      {"answered, then silent", "r0 R0", 10000, false},
      {"answered, then silent too long", "r0 R0", 10001, true},
      {"a page heard from", "u0 h20000", 50000, false},
      {"a page not heard from", "u0 h20000", 50001, true},
  };
  for (const auto& [name, steps, at, cut] : cases) {
    WebConnections open(WebLimits{.http_idle_ms = 10000, .request_deadline_ms = 5000});
    const int id = open.Open("192.0.2.7", 0).id;
    std::istringstream in(steps);
    Apply(open, id, in);
    EXPECT_EQ(open.Idle(at), cut ? std::vector<int>{id} : std::vector<int>{}) << name;
  }
}

using namespace std::chrono_literals;
using test::Connect;
using test::kGetState;
using test::Listening;
using test::StatusLine;
using test::WaitFor;

TEST(WebServerBounds, ATricklingRequestIsCutAtItsDeadlineWhateverItSends) {
  const auto server = Listening(WebLimits{.http_idle_ms = 6000, .request_deadline_ms = 1000});
  const QByteArray body_head =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\n";
  // A byte every 100 ms, well inside the idle bound: in the head, then in a body. Cut within a
  // sweep of the server's after the deadline (not before it: the bounds' test).
  for (const auto& [name, sent_first] :
       std::vector<std::tuple<const char*, QByteArray>>{{"head", "G"}, {"body", body_head}}) {
    const auto socket = Connect(*server);
    QElapsedTimer held;
    held.start();
    socket->write(sent_first);
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, socket.get(), [&socket] { socket->write("x"); });
    trickle.start(100);
    EXPECT_TRUE(
        WaitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, 8000ms))
        << name;
    EXPECT_LE(held.elapsed(), 3500) << name;
  }
  EXPECT_TRUE(WaitFor([&] { return server->connections().connections() == 0; }, 2000ms));
}

TEST(WebServerBounds, APanelFullOfSilentOrSlowConnectionsServesANewVisitor) {
  const QByteArray slow_body =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\nx";
  for (const auto& [name, sent] :
       std::vector<std::tuple<const char*, QByteArray>>{{"silent", ""}, {"slow body", slow_body}}) {
    const auto server = Listening();  // the panel's own bounds, not the fixture's
    // Every place taken, eight from each of eight loopback addresses.
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 64; ++i) {
      held.push_back(Connect(*server, QStringLiteral("127.0.0.%1").arg(2 + i / 8)));
      held.back()->write(sent);
      // Accepted one by one: the listener's backlog is short, and the server runs on this loop.
      ASSERT_TRUE(
          WaitFor([&] { return server->connections().connections() == held.size(); }, 2000ms))
          << name;
    }
    const auto visitor = Connect(*server, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(StatusLine(*visitor, kGetState), "HTTP/1.1 200 OK") << name;
    const auto closed = [](const auto& socket) {
      return socket->state() == QAbstractSocket::UnconnectedState;
    };
    EXPECT_TRUE(WaitFor([&] { return std::ranges::count_if(held, closed) == 1; }, 2000ms)) << name;
  }
}

TEST(WebServerBounds, AVisitorWhoseRequestCameWithABurstOutlastsTheBurst) {
  const auto server = Listening();
  // All of it waits in the listener's queue, the visitor's request first, before the server
  // (on this loop) takes any: then the 65th silent one would close the visitor's.
  const auto visitor = Connect(*server, QStringLiteral("127.0.0.1"));
  visitor->write(kGetState);
  ASSERT_TRUE(visitor->waitForBytesWritten(2000));
  std::vector<std::unique_ptr<QTcpSocket>> burst;
  for (int i = 0; i < 80; ++i)
    burst.push_back(Connect(*server, QStringLiteral("127.0.0.%1").arg(2 + i / 8)));
  EXPECT_TRUE(WaitFor([&] { return visitor->canReadLine(); }, 5000ms));
  EXPECT_EQ(visitor->readLine().trimmed().toStdString(), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace orv
