// The network port, to a device server played by the test on 127.0.0.1: RFC 2217 and plain TCP,
// a dropped connection, a server that takes nothing, and the mapped port that opens it; and under a
// flood, read at a serial line's pace (netport/read_pace.h) on the real socket: never more than a
// burst and the rate since the flood began, telnet's own bytes counting more, everything in order
// in the end, and said once.
#include "netport/qt/qt_tcp_serial_port.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <string>
#include <vector>

#include "netport/qt/qt_mapped_serial_port.h"
#include "netport/read_pace.h"
#include "tests/support/wait_for.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::Hex;
using test::LoopStaysIdle;
using test::WaitFor;

using namespace telnet;

const Bytes kClientHello{kIac, kWill, kComPortOption, kIac, kWill, kBinary, kIac, kDo, kBinary};

// One client at a time.
class QtTcpSerialPortTest : public ::testing::Test {
 protected:
  QtTcpSerialPortTest() {
    connections_.push_back(port_.received().Connect(
        [this](const Bytes& b) { received_.insert(received_.end(), b.begin(), b.end()); }));
    connections_.push_back(
        port_.failed().Connect([this](const PortError& e) { failures_.push_back(e); }));
  }
  void SetUp() override { ASSERT_TRUE(server_.listen(QHostAddress::LocalHost, 0)); }
  std::string Address(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(server_.serverPort());
  }
  bool Accept() {
    if (!WaitFor([this] { return server_.hasPendingConnections(); })) return false;
    client_.reset(server_.nextPendingConnection());
    return client_ != nullptr;
  }
  // Up to n bytes, as many as come before the deadline.
  Bytes Read(std::size_t n, milliseconds deadline = milliseconds(3000)) {
    Bytes out;
    WaitFor(
        [&] {
          const QByteArray chunk = client_->read(static_cast<qint64>(n - out.size()));
          out.insert(out.end(), chunk.begin(), chunk.end());
          return out.size() == n;
        },
        deadline);
    return out;
  }
  void Write(const Bytes& bytes) {
    client_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    client_->flush();
  }
  bool Open(const std::string& address) {
    port_.SetAddress(ParsePortAddress(address));
    port_.SetSettings("19200,N,8,1");
    port_.Open();
    return port_.IsOpen();
  }
  // Open on the test's server and accepted there; with RFC 2217 the client's requests read.
  bool OpenAccepted(const std::string& scheme) {
    if (!Open(Address(scheme.c_str())) || !Accept()) return false;
    return scheme != "rfc2217" || Read(kClientHello.size()) == kClientHello;
  }

  QTcpServer server_;
  std::unique_ptr<QTcpSocket> client_;
  QtTcpSerialPort port_;
  Bytes received_;
  std::vector<PortError> failures_;
  Connections connections_;
};

TEST_F(QtTcpSerialPortTest, NoServerFailsTheOpenAsAMissingDeviceDoes) {
  const std::string address = Address("rfc2217");
  server_.close();
  EXPECT_FALSE(Open(address));
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kNotFound);
  EXPECT_NE(port_.last_error().text.find(address + ": Connection refused"), std::string::npos)
      << port_.last_error().text;
  EXPECT_TRUE(failures_.empty());
  // A name that does not resolve, the same way.
  EXPECT_FALSE(Open("tcp://no-such-host.invalid:4001"));
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kNotFound);
  EXPECT_NE(port_.last_error().text.find("tcp://no-such-host.invalid:4001: "), std::string::npos);
}

TEST_F(QtTcpSerialPortTest, Rfc2217SendsTheLineSettingsBeforeTheFirstFrameAndEscapesBothWays) {
  ASSERT_TRUE(OpenAccepted("rfc2217"));
  // Written before the server agreed: it waits for the answer.
  port_.Output({0x02, 0x01, 0xFF, 0x03});
  Write({kIac, kDo, kComPortOption, kIac, kDo, kBinary, kIac, kWill, kBinary});
  const Bytes expected = test::Concat(
      {ComPortSettingsCommands({19200, Parity::kNone, 8, StopBits::kOne}), Hex("02 01 FF FF 03")});
  EXPECT_EQ(Read(expected.size()), expected);
  // Written after: at once, and new settings too.
  port_.Output({0xFF});
  port_.SetSettings("9600,N,8,2");
  const Bytes later = test::Concat(
      {{0xFF, 0xFF}, ComPortSettingsCommands({9600, Parity::kNone, 8, StopBits::kTwo})});
  EXPECT_EQ(Read(later.size()), later);

  // The server's answer to the rate, data with a doubled IAC, and a request refused.
  Write({kIac, kSb, kComPortOption, 101, 0x00, 0x00, 0x4B, 0x00, kIac, kSe, 0x02, kIac, kIac, 0x03,
         kIac, kDo, 1});
  EXPECT_TRUE(WaitFor([&] { return received_.size() == 3; }));
  EXPECT_EQ(Bytes(received_), Bytes({0x02, 0xFF, 0x03}));
  EXPECT_EQ(Bytes(Read(3)), Bytes({kIac, kWont, 1}));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(QtTcpSerialPortTest, Rfc2217RefusedOrUnansweredLetsTheDataGoWithoutSettings) {
  ASSERT_TRUE(OpenAccepted("rfc2217"));
  port_.Output({0x02, 0x03});
  Write({kIac, kDont, kComPortOption});
  EXPECT_EQ(Bytes(Read(2)), Bytes({0x02, 0x03}));
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].kind, PortErrorKind::kOther);
  EXPECT_NE(failures_[0].text.find("does not take line settings"), std::string::npos);
  EXPECT_TRUE(port_.IsOpen());

  // A server that says nothing: the data goes after the wait.
  port_.Close();
  failures_.clear();
  ASSERT_TRUE(OpenAccepted("rfc2217"));
  port_.Output({0x02, 0x04});
  EXPECT_EQ(Bytes(Read(2, QtTcpSerialPort::kNegotiationWait * 3)), Bytes({0x02, 0x04}));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(QtTcpSerialPortTest, ADroppedConnectionIsALostDeviceSaidOnceUntilReconnected) {
  ASSERT_TRUE(OpenAccepted("tcp"));
  client_.reset();  // the server drops the connection
  ASSERT_TRUE(WaitFor([&] { return !failures_.empty(); }));
  EXPECT_TRUE(LoopStaysIdle()) << "no spinning on a dead socket";
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].kind, PortErrorKind::kLost);
  EXPECT_NE(failures_[0].text.find(Address("tcp") + ": "), std::string::npos);
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kLost);
  // Still open for the window, as a pulled-out adapter is; writes go nowhere, quietly.
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_TRUE(port_.lost());
  port_.Output({0x02, 0x03});
  EXPECT_EQ(failures_.size(), 1u);
  // Disconnect and connect again, as the operator does.
  port_.Close();
  ASSERT_TRUE(OpenAccepted("tcp"));
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kNone);
  port_.Output({0x02, 0x05});
  EXPECT_EQ(Bytes(Read(2)), Bytes({0x02, 0x05}));
  EXPECT_EQ(failures_.size(), 1u);
}

// Once the system's buffers are full.
TEST_F(QtTcpSerialPortTest, AServerThatTakesNothingStopsTheQueueAtItsBoundSaidOnce) {
  ASSERT_TRUE(OpenAccepted("tcp"));
  client_->setReadBufferSize(1024);  // the server reads no further
  for (int i = 0; i < 1024 && failures_.empty(); ++i) {
    port_.Output(Bytes(64 * 1024, 0x55));
    QCoreApplication::processEvents();
  }
  for (int i = 0; i < 10; ++i)
    port_.Output(Bytes(64 * 1024, 0x55));
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].kind, PortErrorKind::kWriteFailed);
  EXPECT_NE(failures_[0].text.find("the server takes nothing ("), std::string::npos)
      << failures_[0].text;
}

// The mapped port with the program's network module: an address opens a TCP port, whose words and
// failures it passes on. (Bytes both ways: the real device server's test; a device and a refused
// address: the mapped port's module test.)
TEST_F(QtTcpSerialPortTest, AMappedPortWithAnAddressOpensTheNetworkPortAndPassesItsNewsOn) {
  QtMappedSerialPort port([this](int n) { return n == 2 ? Address("tcp") : ""; });
  std::vector<PortError> failures;
  std::vector<std::string> said;
  const Connection failed =
      port.failed().Connect([&failures](const PortError& e) { failures.push_back(e); });
  const Connection say =
      port.said().Connect([&said](const std::string& text) { said.push_back(text); });
  port.SetCommPort(2);
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  ASSERT_TRUE(Accept());
  Write(Bytes(ReadPace::kBurst + 1, 'x'));  // more than a burst: held back, and said
  EXPECT_TRUE(WaitFor([&] { return !said.empty(); }));
  client_.reset();  // the server drops the connection
  ASSERT_TRUE(WaitFor([&] { return failures.size() == 1; }));
  EXPECT_EQ(failures.at(0).kind, PortErrorKind::kLost);
}

TEST_F(QtTcpSerialPortTest, AFloodIsReadAtTheLinesPaceInOrderAndSaidOnce) {
  constexpr std::size_t kData = 16 * 1024, kRefusals = 1024;  // IAC DO ECHO, the first answered
  std::vector<std::string> said;
  const Connection say =
      port_.said().Connect([&](const std::string& text) { said.push_back(text); });
  for (const bool rfc2217 : {false, true}) {
    port_.Close();
    received_.clear();
    said.clear();
    ASSERT_TRUE(OpenAccepted(rfc2217 ? "rfc2217" : "tcp"));
    Bytes flood;
    if (rfc2217) {
      for (std::size_t i = 0; i < kRefusals; ++i)
        flood.insert(flood.end(), {kIac, kDo, 1});
    }
    for (std::size_t i = 0; i < kData; ++i)
      flood.push_back(static_cast<std::uint8_t>(i % 251 == 0xFF ? 0 : i % 251));
    QElapsedTimer clock;
    clock.start();
    Write(flood);
    // What the port has taken, as the pace counts it, never beyond what it may have by now (one
    // turn's read may overdraw what was left).
    std::int64_t most_over = INT64_MIN;
    const bool all = WaitFor(
        [&] {
          const std::int64_t negotiation =
              rfc2217 ? 3 * static_cast<std::int64_t>(port_.telnet().ignored_requests() + 1) : 0;
          const std::int64_t cost = static_cast<std::int64_t>(received_.size()) +
                                    negotiation * ReadPace::kNegotiationCost;
          const std::int64_t may =
              ReadPace::kBurst + ReadPace::kPerSecond * clock.elapsed() / 1000 +
              QtTcpSerialPort::kReadTurn * (rfc2217 ? ReadPace::kNegotiationCost : 1);
          most_over = std::max(most_over, cost - may);
          return received_.size() == kData;
        },
        10s);
    ASSERT_TRUE(all) << received_.size() << " of " << kData << " bytes, rfc2217 " << rfc2217;
    EXPECT_LE(most_over, 0) << "read ahead of the pace, rfc2217 " << rfc2217;
    EXPECT_EQ(received_, Bytes(flood.end() - kData, flood.end()));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("the server sends more than a serial line carries"), std::string::npos);
  }
}

}  // namespace
}  // namespace orv
