#include "platform/qt/qt_serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <chrono>
#include <map>
#include <string>

#include "tests/pty_pair.h"
#include "tests/qt_wait.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using std::chrono::milliseconds;
using test::Hex;
using test::PtyPair;
using test::ReadMasterWhilePumping;
using test::WaitFor;

// An idle loop wakes once or twice in the window; a spinning notifier thousands of times.
constexpr milliseconds kIdleWindow{200};
constexpr int kIdleWakeups = 10;

// The port as connection management drives it, over a pty mapped through the lookup.
class QtSerialPortTest : public ::testing::Test {
 protected:
  QtSerialPortTest()
      : port_([this](int n) {
          ++lookups_;
          last_asked_ = n;
          const auto it = mapping_.find(n);
          return it == mapping_.end() ? std::string() : it->second;
        }) {
    port_.SetReceiveHandler([this](const Bytes& chunk) {
      received_.insert(received_.end(), chunk.begin(), chunk.end());
      ++chunks_;
    });
  }

  // The connect sequence: port number, no flow control, settings text, open.
  void Connect(const std::string& settings = "9600,N,8,1") {
    port_.SetCommPort(1);
    port_.SetHandshakingNone();
    port_.SetSettings(settings);
    port_.Open();
  }

  // Maps port 1 to the fixture's pty and connects to it.
  bool ConnectToPty(const std::string& settings = "9600,N,8,1") {
    if (!pty_.ok()) return false;
    mapping_[1] = pty_.slave_path();
    Connect(settings);
    return port_.IsOpen();
  }

  bool ReceivedAtLeast(std::size_t n) {
    return WaitFor([&] { return received_.size() >= n; });
  }

  std::map<int, std::string> mapping_;
  int lookups_ = 0;
  int last_asked_ = 0;
  Bytes received_;
  int chunks_ = 0;
  QtSerialPort port_;
  PtyPair pty_;
};

// Bytes a line discipline or software flow control would eat or change: CR, LF, NUL, XON,
// XOFF, 0xFF, Ctrl-C, Ctrl-D, DEL.
Bytes AwkwardBytes() {
  return Hex("02 0D 0A 00 11 13 FF 03 04 7F 1A 8D 03");
}

TEST(DefaultDeviceForPort, IsTheSystemsNthSerialPort) {
  EXPECT_EQ(DefaultDeviceForPort(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultDeviceForPort(4), "/dev/ttyS3");
  EXPECT_EQ(DefaultDeviceForPort(10), "/dev/ttyS9");
  EXPECT_EQ(DefaultDeviceForPort(0), "");
  EXPECT_EQ(DefaultDeviceForPort(-3), "");
}

TEST_F(QtSerialPortTest, OpensTheMappedPtyAndCarriesRawBytesBothWays) {
  ASSERT_TRUE(ConnectToPty());
  EXPECT_EQ(port_.device(), pty_.slave_path());
  EXPECT_FALSE(port_.device_lost());

  const Bytes frame = Hex("02 01 06 00 2B 03");
  port_.Output(frame);
  port_.Output(AwkwardBytes());
  EXPECT_EQ(ReadMasterWhilePumping(pty_, frame.size() + AwkwardBytes().size()),
            test::Concat({frame, AwkwardBytes()}));

  ASSERT_TRUE(pty_.WriteMaster(AwkwardBytes()));
  ASSERT_TRUE(ReceivedAtLeast(AwkwardBytes().size()));
  EXPECT_EQ(received_, AwkwardBytes());

  // No flow control of either kind on the line.
  const termios tio = pty_.SlaveTermios();
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);

  // Open while open: the device stays, the lookup is not asked again.
  mapping_[1] = "/nonexistent/orvandel-port";
  port_.Open();
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(lookups_, 1);
  port_.Output(Hex("AA 55"));
  EXPECT_EQ(ReadMasterWhilePumping(pty_, 2), Hex("AA 55"));
}

TEST_F(QtSerialPortTest, BytesArrivingInPiecesAreAllDeliveredInOrder) {
  ASSERT_TRUE(ConnectToPty());

  Bytes sent;
  for (int piece = 0; piece < 8; ++piece) {
    Bytes bytes;
    for (int i = 0; i < 37; ++i)
      bytes.push_back(static_cast<std::uint8_t>(piece * 37 + i));
    ASSERT_TRUE(pty_.WriteMaster(bytes));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    // Every other piece is waited for; the others may run together with the next one.
    if (piece % 2 == 0) {
      ASSERT_TRUE(ReceivedAtLeast(sent.size()));
    }
  }
  ASSERT_TRUE(ReceivedAtLeast(sent.size()));
  EXPECT_EQ(received_, sent);
  EXPECT_GE(chunks_, 2) << "pieces written apart came as one chunk";
  EXPECT_LE(chunks_, 8);
}

TEST_F(QtSerialPortTest, LookupIsAskedAtEveryOpenWithThePortNumber) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  port_.SetCommPort(3);
  mapping_[3] = "/nonexistent/orvandel-port";
  port_.Open();
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(lookups_, 1);
  EXPECT_EQ(last_asked_, 3);
  EXPECT_EQ(port_.device(), "/nonexistent/orvandel-port");
  EXPECT_FALSE(port_.device_lost());
  port_.Output(Hex("02 01 06 00 2B 03"));  // dropped quietly

  // The mapping edited between two connects takes effect without a new port object.
  mapping_[3] = pty.slave_path();
  port_.Open();
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(lookups_, 2);
  port_.Close();
  EXPECT_FALSE(port_.IsOpen());

  mapping_.erase(3);
  port_.Open();
  EXPECT_EQ(lookups_, 3);
  EXPECT_EQ(port_.device(), "/dev/ttyS2");
  port_.Close();
}

// What a pty keeps of the line settings: the rate and the stop bits. Its driver forces 8 data
// bits without parity; QSerialPort reads the line back after each change and refuses even parity
// and 6 or 7 data bits there, which makes the pty a device that refuses some settings as well.
struct Line {
  const char* text;
  speed_t speed;
  bool two_stop_bits;
};

void ExpectLine(const termios& tio, const Line& line) {
  SCOPED_TRACE(line.text);
  EXPECT_EQ(cfgetospeed(&tio), line.speed);
  EXPECT_EQ(cfgetispeed(&tio), line.speed);
  EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, line.two_stop_bits);
}

const Line kAccepted[] = {
    {"115200,N,8,2", B115200, true}, {"1200,n,8,1", B1200, false},   {"19200,N,8,2", B19200, true},
    {"4800,n,8,1", B4800, false},    {"57600,N,8,1", B57600, false}, {"9600,N,8,1", B9600, false},
};

const char* const kRefusedByPty[] = {"38400,E,8,1", "38400,e,8,2", "38400,N,7,1", "38400,N,6,2",
                                     "38400,E,7,1"};

TEST_F(QtSerialPortTest, SettingsGivenBeforeOpenAreInForceOnceOpen) {
  for (const Line& line : kAccepted) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    mapping_[1] = pty.slave_path();
    Connect(line.text);
    ASSERT_TRUE(port_.IsOpen()) << line.text;
    ExpectLine(pty.SlaveTermios(), line);
    EXPECT_EQ(port_.line_settings(), *ParseLineSettings(line.text));
    port_.Close();
  }
}

TEST_F(QtSerialPortTest, SettingsGivenWhileOpenApplyAtOnce) {
  ASSERT_TRUE(ConnectToPty("2400,N,8,1"));
  ExpectLine(pty_.SlaveTermios(), {"2400,N,8,1", B2400, false});
  for (const Line& line : kAccepted) {
    port_.SetSettings(line.text);
    ExpectLine(pty_.SlaveTermios(), line);
    EXPECT_EQ(port_.line_settings(), *ParseLineSettings(line.text));
  }
  // Still a working line afterwards.
  port_.Output(Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(ReadMasterWhilePumping(pty_, 6), Hex("02 01 06 00 2B 03"));
}

TEST_F(QtSerialPortTest, TextThatDoesNotParseKeepsThePreviousSettings) {
  // Never set: the open still happens, with the port's defaults.
  ASSERT_TRUE(ConnectToPty("9600,X,8,1"));
  ExpectLine(pty_.SlaveTermios(), {"defaults", B9600, false});
  port_.Close();

  // A bad text after a good one, before the open: the good one is used.
  port_.SetSettings("1200,N,8,2");
  port_.SetSettings("9600,N,9,1");
  port_.Open();
  ASSERT_TRUE(port_.IsOpen());
  const Line slow{"1200,N,8,2", B1200, true};
  ExpectLine(pty_.SlaveTermios(), slow);

  // While open: nothing changes.
  for (const char* bad : {"", "abc", "-5,N,8,1", "9600,N,8,3", "9600,N,8"}) {
    port_.SetSettings(bad);
    ExpectLine(pty_.SlaveTermios(), slow);
  }

  // And a reopen keeps what was last in force.
  port_.Close();
  port_.SetSettings("garbage");
  port_.Open();
  ASSERT_TRUE(port_.IsOpen());
  ExpectLine(pty_.SlaveTermios(), slow);
  EXPECT_EQ(port_.line_settings(), *ParseLineSettings(slow.text));
}

TEST_F(QtSerialPortTest, SettingsTheDeviceRefusesAreRolledBackWhole) {
  const Line before{"4800,N,8,2", B4800, true};
  ASSERT_TRUE(ConnectToPty(before.text));
  ExpectLine(pty_.SlaveTermios(), before);

  // Each refused text also asks for another rate and stop bits, which the pty would take: they
  // must not be left half applied.
  for (const char* refused : kRefusedByPty) {
    port_.SetSettings(refused);
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_FALSE(port_.device_lost());
    ExpectLine(pty_.SlaveTermios(), before);
    EXPECT_EQ(port_.line_settings(), *ParseLineSettings(before.text)) << refused;
  }

  // Refused at the open: the open stands, with the settings in force before.
  port_.Close();
  port_.SetSettings(kRefusedByPty[0]);
  port_.Open();
  ASSERT_TRUE(port_.IsOpen());
  ExpectLine(pty_.SlaveTermios(), before);
  port_.Output(Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(ReadMasterWhilePumping(pty_, 6), Hex("02 01 06 00 2B 03"));
}

TEST_F(QtSerialPortTest, WritesWhileClosedAreDroppedAndNothingIsReceived) {
  port_.Output(Hex("01 02"));  // never opened
  ASSERT_TRUE(ConnectToPty());
  port_.Close();
  port_.Output(Hex("03 04"));
  EXPECT_TRUE(ReadMasterWhilePumping(pty_, 1, milliseconds(100)).empty());

  ASSERT_TRUE(pty_.WriteMaster(Hex("05 06")));
  EXPECT_FALSE(WaitFor([&] { return !received_.empty(); }, milliseconds(100)));
}

TEST_F(QtSerialPortTest, VanishedDeviceStaysOpenUntilClosedThenComesBack) {
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->ok());
  const std::string first_path = pty->slave_path();
  mapping_[1] = first_path;
  Connect();
  ASSERT_TRUE(port_.IsOpen());

  pty->CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return port_.device_lost(); })) << "loss never noticed";
  EXPECT_TRUE(port_.IsOpen()) << "the program's disconnect needs the port to report open";
  const int errors_at_loss = port_.error_notifications();

  // Writes are dropped quietly, settings wait, and nothing keeps the loop busy.
  for (int i = 0; i < 20; ++i)
    port_.Output(Hex("02 01 06 00 2B 03"));
  port_.SetSettings("19200,N,8,1");
  port_.SetHandshakingNone();
  EXPECT_LE(test::CountWakeups(kIdleWindow), kIdleWakeups);
  EXPECT_LE(port_.error_notifications(), errors_at_loss + 5) << "errors keep coming";
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_TRUE(received_.empty());

  port_.Close();
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.device_lost());

  // The device is still gone: the next connect fails.
  port_.Open();
  EXPECT_FALSE(port_.IsOpen());

  // Plugged in again (a new pty, mapped as the operator would): the same port object works.
  pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->ok());
  mapping_[1] = pty->slave_path();
  port_.Open();
  ASSERT_TRUE(port_.IsOpen());
  EXPECT_FALSE(port_.device_lost());
  port_.Output(Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(ReadMasterWhilePumping(*pty, 6), Hex("02 01 06 00 2B 03"));
  ASSERT_TRUE(pty->WriteMaster(Hex("02 02 06 12 34 00 03")));
  ASSERT_TRUE(ReceivedAtLeast(7));
  EXPECT_EQ(received_, Hex("02 02 06 12 34 00 03"));
  // The settings given while lost came into force at this open.
  const termios tio = pty->SlaveTermios();
  EXPECT_EQ(cfgetospeed(&tio), B19200);
}

TEST_F(QtSerialPortTest, WritesQueuedAsTheDeviceVanishesDoNotSpin) {
  ASSERT_TRUE(ConnectToPty());

  // The loss is not yet noticed: these go to the dead handle and fail there.
  pty_.CloseMaster();
  for (int i = 0; i < 50; ++i)
    port_.Output(Hex("02 01 06 00 2B 03"));
  ASSERT_TRUE(WaitFor([&] { return port_.device_lost(); }));
  EXPECT_LE(test::CountWakeups(kIdleWindow), kIdleWakeups);
  EXPECT_LE(port_.error_notifications(), 10) << "errors keep coming from the dead device";
  EXPECT_TRUE(port_.IsOpen());
  port_.Close();
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(QtSerialPortTest, ErrorsOfSettingsOrOpenAreNotFatal) {
  ASSERT_TRUE(ConnectToPty());
  for (const auto error :
       {QSerialPort::UnsupportedOperationError, QSerialPort::TimeoutError,
        QSerialPort::UnknownError, QSerialPort::NotOpenError, QSerialPort::PermissionError,
        QSerialPort::OpenError, QSerialPort::DeviceNotFoundError}) {
    emit port_.qt_port().errorOccurred(error);
    QCoreApplication::processEvents();
    EXPECT_FALSE(port_.device_lost()) << error;
  }
  port_.Output(Hex("11 22"));
  EXPECT_EQ(ReadMasterWhilePumping(pty_, 2), Hex("11 22"));
  ASSERT_TRUE(pty_.WriteMaster(Hex("33")));
  EXPECT_TRUE(ReceivedAtLeast(1));
}

TEST_F(QtSerialPortTest, FailedReadOrWriteMeansLostEvenInAStormAndCloseRecovers) {
  for (const auto fatal :
       {QSerialPort::ResourceError, QSerialPort::ReadError, QSerialPort::WriteError}) {
    SCOPED_TRACE(fatal);
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    mapping_[1] = pty.slave_path();
    Connect();
    ASSERT_TRUE(port_.IsOpen());

    const int before = port_.error_notifications();
    for (int i = 0; i < 10000; ++i)
      emit port_.qt_port().errorOccurred(fatal);
    EXPECT_EQ(port_.error_notifications(), before + 10000);
    EXPECT_TRUE(port_.device_lost());
    EXPECT_TRUE(port_.IsOpen());

    // Lost: the handle is let go once the loop runs, nothing is read, writes are dropped.
    EXPECT_LE(test::CountWakeups(kIdleWindow), kIdleWakeups);
    EXPECT_FALSE(port_.qt_port().isOpen());
    EXPECT_TRUE(port_.IsOpen());
    received_.clear();
    ASSERT_TRUE(pty.WriteMaster(Hex("33 44")));
    port_.Output(Hex("55 66"));
    EXPECT_TRUE(ReadMasterWhilePumping(pty, 1, milliseconds(100)).empty());
    EXPECT_TRUE(received_.empty());

    // Errors while closed mark nothing, and the port opens again on the same device.
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
    emit port_.qt_port().errorOccurred(fatal);
    EXPECT_FALSE(port_.device_lost());
    port_.Open();
    ASSERT_TRUE(port_.IsOpen());
    EXPECT_FALSE(port_.device_lost());
    port_.Output(Hex("77"));
    EXPECT_EQ(ReadMasterWhilePumping(pty, 1), Hex("77"));
    port_.Close();
  }
}

// The idle check must be able to fail: a notifier left firing on a readable pipe is seen.
TEST(CountWakeups, SeesANotifierThatKeepsFiring) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
  int fired = 0;
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] { ++fired; });  // never reads
  EXPECT_GT(test::CountWakeups(kIdleWindow), kIdleWakeups * 10);
  EXPECT_GT(fired, kIdleWakeups * 10);
  notifier.setEnabled(false);
  EXPECT_LE(test::CountWakeups(kIdleWindow), kIdleWakeups);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace orv
