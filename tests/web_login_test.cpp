// The web panel's log in through its server: answered when the PIN check ends, off the loop.
#include <gtest/gtest.h>

#include <QObject>
#include <QTcpSocket>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "access/access_gate.h"
#include "access/pin_check_pool.h"
#include "access/pin_hash.h"
#include "panelstate/panel_state.h"
#include "tests/support/wait_for.h"
#include "tests/web_server_fixture.h"
#include "web/qt/qt_web_server.h"

namespace orv {
namespace {

// Through the server: the log in's answer comes when its check ends, and the state is served
// meanwhile.
TEST(WebServerLogIn, TheAnswerComesAfterTheCheckTheStateMeanwhile) {
  AccessGate gate(UsersFile{AccessMode::kOn,
                            {Operator{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  QObject loop;
  std::atomic<bool> release{false};
  PinCheckPool pool(
      [&loop](std::function<void()> call) {
        QMetaObject::invokeMethod(&loop, std::move(call), Qt::QueuedConnection);
      },
      [&release](std::string_view pin, std::string_view hash) {
        while (!release)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return VerifyPin(pin, hash);
      },
      [] { return std::string(); }, PinCheckPool::Limits{});
  gate.UsePinChecks(&pool);
  auto server = test::Server({}, {}, {}, &gate);
  std::string error;
  ASSERT_TRUE(server->Listen(error)) << error;
  const QByteArray host = "127.0.0.1:" + QByteArray::number(server->port());
  const QByteArray body = R"({"name":"alice","pin":"1234"})";
  QTcpSocket logging_in;
  logging_in.connectToHost(QStringLiteral("127.0.0.1"), server->port());
  ASSERT_TRUE(logging_in.waitForConnected(2000));
  logging_in.write(test::LogInRequest(host, body));
  QTcpSocket viewer;
  viewer.connectToHost(QStringLiteral("127.0.0.1"), server->port());
  ASSERT_TRUE(viewer.waitForConnected(2000));
  EXPECT_EQ(test::StatusLine(viewer, "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n"),
            "HTTP/1.1 200 OK");
  EXPECT_FALSE(logging_in.canReadLine());
  release = true;
  ASSERT_TRUE(test::WaitFor([&] { return logging_in.canReadLine(); }));
  EXPECT_EQ(logging_in.readLine().trimmed().toStdString(), "HTTP/1.1 200 OK");
  EXPECT_EQ(gate.Level(Origin{OriginKind::kWeb, "127.0.0.1"}), AccessLevel::kLevel2);

  // A connection gone before its check ends takes its answer with it; the server goes on.
  release = false;
  {
    QTcpSocket gone;
    gone.connectToHost(QStringLiteral("127.0.0.1"), server->port());
    ASSERT_TRUE(gone.waitForConnected(2000));
    gone.write(test::LogInRequest(host, R"({"name":"alice","pin":"9999"})"));
    ASSERT_TRUE(gone.waitForBytesWritten(2000));
    (void)test::WaitFor([] { return false; }, std::chrono::milliseconds(100));
    gone.abort();
  }
  (void)test::WaitFor([] { return false; }, std::chrono::milliseconds(100));
  release = true;
  (void)test::WaitFor([] { return false; }, std::chrono::milliseconds(200));
  QTcpSocket after;
  after.connectToHost(QStringLiteral("127.0.0.1"), server->port());
  ASSERT_TRUE(after.waitForConnected(2000));
  EXPECT_EQ(test::StatusLine(after, "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n"),
            "HTTP/1.1 200 OK");
  server.reset();
  gate.UsePinChecks(nullptr);
}

}  // namespace
}  // namespace orv
