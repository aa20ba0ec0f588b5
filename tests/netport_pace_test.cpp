// A network port under a flood reads at a serial line's pace (netport/read_pace.h) on the real
// socket: never more than a burst and the rate since the flood began, telnet's own bytes counting
// more, everything in order in the end, and said once.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>
#include <vector>

#include "netport/qt/qt_mapped_serial_port.h"
#include "netport/qt/qt_tcp_serial_port.h"
#include "netport/read_pace.h"
#include "netport/telnet.h"
#include "tests/support/wait_for.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace telnet;

TEST(QtTcpSerialPortPace, AFloodIsReadAtTheLinesPaceInOrderAndSaidOnce) {
  constexpr std::size_t kData = 16 * 1024, kRefusals = 1024;  // IAC DO ECHO, the first answered
  for (const bool rfc2217 : {false, true}) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QtTcpSerialPort port;
    Bytes received;
    std::vector<std::string> said;
    const Connection take = port.received().Connect(
        [&](const Bytes& b) { received.insert(received.end(), b.begin(), b.end()); });
    const Connection say =
        port.said().Connect([&](const std::string& text) { said.push_back(text); });
    port.SetAddress(ParsePortAddress((rfc2217 ? "rfc2217" : "tcp") + std::string("://127.0.0.1:") +
                                     std::to_string(server.serverPort())));
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(test::WaitFor([&] { return server.hasPendingConnections(); }));
    const std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
    Bytes flood;
    if (rfc2217) {
      for (std::size_t i = 0; i < kRefusals; ++i)
        flood.insert(flood.end(), {kIac, kDo, 1});
    }
    for (std::size_t i = 0; i < kData; ++i)
      flood.push_back(static_cast<std::uint8_t>(i % 251 == 0xFF ? 0 : i % 251));
    QElapsedTimer clock;
    clock.start();
    client->write(reinterpret_cast<const char*>(flood.data()), static_cast<qint64>(flood.size()));
    // What the port has taken, as the pace counts it, never beyond what it may have by now (one
    // turn's read may overdraw what was left).
    std::int64_t most_over = INT64_MIN;
    const bool all = test::WaitFor(
        [&] {
          const std::int64_t negotiation =
              rfc2217 ? 3 * static_cast<std::int64_t>(port.telnet().ignored_requests() + 1) : 0;
          const std::int64_t cost =
              static_cast<std::int64_t>(received.size()) + negotiation * ReadPace::kNegotiationCost;
          const std::int64_t may =
              ReadPace::kBurst + ReadPace::kPerSecond * clock.elapsed() / 1000 +
              QtTcpSerialPort::kReadTurn * (rfc2217 ? ReadPace::kNegotiationCost : 1);
          most_over = std::max(most_over, cost - may);
          return received.size() == kData;
        },
        10s);
    ASSERT_TRUE(all) << received.size() << " of " << kData << " bytes, rfc2217 " << rfc2217;
    EXPECT_LE(most_over, 0) << "read ahead of the pace, rfc2217 " << rfc2217;
    EXPECT_EQ(received, Bytes(flood.end() - kData, flood.end()));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("the server sends more than a serial line carries"), std::string::npos);
  }
}

// The mapped port the program holds passes what its network port says on.
TEST(QtTcpSerialPortPace, TheMappedPortPassesTheWordsOn) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  QtMappedSerialPort port(
      [&](int) { return "tcp://127.0.0.1:" + std::to_string(server.serverPort()); });
  std::vector<std::string> said;
  const Connection say =
      port.said().Connect([&](const std::string& text) { said.push_back(text); });
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  ASSERT_TRUE(test::WaitFor([&] { return server.hasPendingConnections(); }));
  const std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
  const QByteArray flood(2 * ReadPace::kBurst, 'x');
  client->write(flood);
  EXPECT_TRUE(test::WaitFor([&] { return !said.empty(); }));
}

}  // namespace
}  // namespace orv
