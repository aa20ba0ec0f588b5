// The program through a real serial device server: ser2net on 127.0.0.1 in front of a
// pseudo-terminal the test plays the controller on, once as raw TCP and once with RFC 2217, the
// window model over the program's own port. Every wait has a deadline.
#include <termios.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "events/event_decoder.h"
#include "link/frame.h"
#include "netport/qt/qt_mapped_serial_port.h"
#include "panel/main_form.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/loopback_servers.h"
#include "tests/pty_pair.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kDeadline{10000};

// Whether something listens on 127.0.0.1:port, from the kernel's table: asking by connecting
// would itself be a client session of the server.
bool Listening(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

// A fault report whose frame ends in a CRC of 0xFF: the byte the telnet layer must escape.
int FaultValueWithCrcFF() {
  for (int value = 1; value <= 0xFFFF; ++value) {
    const Bytes frame = EncodeFrame(
        cmd::kReport, std::vector<std::uint8_t>{0x21, static_cast<std::uint8_t>(value >> 8),
                                                static_cast<std::uint8_t>(value)});
    if (frame[frame.size() - 2] == 0xFF) return value;
  }
  return -1;
}

struct Kind {
  const char* accepter;  // ser2net's accepter before "tcp,..."
  const char* scheme;
  speed_t line_speed;  // the line's rate while connected: the server's, or the program's 19200
};

class Ser2netTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    const int port = test::FreeLoopbackPort();
    ASSERT_GT(port, 0);
    address_ = std::string(GetParam().scheme) + "://127.0.0.1:" + std::to_string(port);
    const auto config = folder_.path() / "ser2net.yaml";
    const std::string accepter = GetParam().accepter + ("tcp,127.0.0.1," + std::to_string(port));
    test::WriteBytes(config, "connection: &con1\n  accepter: " + accepter +
                                 "\n  connector: serialdev," + pty_.slave_path() +
                                 ",9600n81,local\n");
    // -u: no UUCP lock files; -n: stay in the foreground, a child of the test.
    ser2net_ = std::make_unique<test::ChildProcess>(
        "/usr/sbin/ser2net", std::vector<std::string>{"-n", "-u", "-c", config.string(), "-P",
                                                      config.string() + ".pid"});
    ASSERT_TRUE(ser2net_->started() && test::WaitFor([&] { return Listening(port); }, kDeadline));

    std::filesystem::create_directories(folder_.path() / "SYSINI");
    test::WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
                     "[SerialPorts]\r\nCOM1=" + address_ +
                         "\r\n[RS232Configure]\r\nComPort=1\r\nBaudRate=19200\r\n");
    const auto program_folder = folder_.path();
    port_ = std::make_unique<QtMappedSerialPort>(
        [program_folder](int n) { return Configuration(program_folder).SerialDevice(n); });
    form_ = std::make_unique<MainForm>(MainFormEnvironment{
        *port_, program_folder,
        [this](const std::string& text, const std::string&, MessageIcon) {
          messages_.push_back(text);
        },
        SystemLocalTime, [this](const Notice& notice) { notices_.push_back(notice.text); }});
    form_->Form_Load();
    ticker_ = std::make_unique<QtTickTimer>([this] { form_->TRTimer_Timer(); });
  }

  // The rate the line is set to now.
  speed_t LineSpeed() {
    termios tio{};
    return tcgetattr(pty_.slave_fd(), &tio) == 0 ? cfgetospeed(&tio) : B0;
  }

  // Ended in the reverse order: the window (which still speaks as it goes) before what it speaks
  // to and through.
  test::TempFolder folder_;
  test::PtyPair pty_;
  std::string address_;
  std::vector<std::string> messages_;
  std::vector<std::string> notices_;
  std::unique_ptr<test::ChildProcess> ser2net_;
  std::unique_ptr<QtMappedSerialPort> port_;
  std::unique_ptr<MainForm> form_;
  std::unique_ptr<QtTickTimer> ticker_;
};

TEST_P(Ser2netTest, PollsRepliesAndEventsCrossTheServerWithEveryByteIntact) {
  MainForm& f = *form_;
  // The supervision time 255 makes the connect's first frame carry a data byte 0xFF.
  f.Timer_CB.SetText("255");
  f.ConnectCB_Click();
  ASSERT_TRUE(f.link().port_connected()) << port_->last_error().text;
  // The supervision settings, then the first poll.
  const Bytes sent = test::Concat({EncodeFrame(cmd::kSupervisionTime, Bytes{0xFF}),
                                   EncodeFrame(cmd::kSupervisionOnOff, Bytes{0x00}),
                                   EncodeFrame(cmd::kFaultImage, Bytes{0x00})});
  EXPECT_EQ(pty_.ReadMaster(sent.size(), kDeadline), sent);
  // A report the controller sends on its own whose CRC is 0xFF. (Which lamp a reply lights is
  // the link's test.)
  const int value = FaultValueWithCrcFF();
  ASSERT_GT(value, 0);
  pty_.WriteMaster(EncodeFrame(cmd::kReport, Bytes{0x21, static_cast<std::uint8_t>(value >> 8),
                                                   static_cast<std::uint8_t>(value)}));
  const std::string event = "Event = Fault " + FormatBits(value, 16);
  EXPECT_TRUE(test::WaitFor(
      [&] { return f.EventsLogTextBox.text().find(event) != std::string::npos; }, kDeadline))
      << f.EventsLogTextBox.text();

  // The line's rate: the server's own for raw TCP, the program's with RFC 2217.
  EXPECT_TRUE(test::WaitFor([&] { return LineSpeed() == GetParam().line_speed; }, kDeadline))
      << LineSpeed();
  EXPECT_EQ(messages_, std::vector<std::string>{});
  EXPECT_EQ(notices_, std::vector<std::string>{});
}

// (A server that goes away is a lost device: the TCP port's test, with a server that drops the
// connection and a reconnect.)

INSTANTIATE_TEST_SUITE_P(Kinds, Ser2netTest,
                         ::testing::Values(Kind{"", "tcp", B9600},
                                           Kind{"telnet(rfc2217),", "rfc2217", B19200}),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param.scheme);
                         });

}  // namespace
}  // namespace orv
