// The program's connection over a real pseudo-terminal: the QSerialPort binding on the slave
// side, the test as the controller on the master side.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "panel/main_form.h"
#include "link/frame.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/pty_pair.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::Hex;

class PtyConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_->ok());
    std::filesystem::create_directories(folder_.path() / "SYSINI");
    test::WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
                     "[SerialPorts]\r\nCOM1=" + pty_->slave_path() + "\r\n");
    const auto program_folder = folder_.path();
    port_ = std::make_unique<QtSerialPort>(
        [program_folder](int n) { return Configuration(program_folder).SerialDevice(n); });
    form_ = std::make_unique<MainForm>(
        MainFormEnvironment{*port_, program_folder,
                            [this](const std::string& text, const std::string&, MessageIcon) {
                              messages_.push_back(text);
                            },
                            [] {
                              return LocalDateTime{12, 4, 5, 21};
                            },
                            [this](const Notice& notice) { notices_.push_back(notice.text); }});
    form_->Form_Load();
  }

  // One tick, after the event loop has delivered what the line brought.
  void Tick() {
    QCoreApplication::processEvents();
    form_->TRTimer_Timer();
  }
  // Ticks until a frame of `length` bytes arrives on the master; returns the ticks it took.
  int TicksUntilFrame(std::size_t length, Bytes& frame) {
    for (int ticks = 1; ticks <= 30; ++ticks) {
      Tick();
      frame = pty_->ReadMaster(length, 20ms);
      if (!frame.empty()) {
        if (frame.size() < length) {
          const Bytes rest = pty_->ReadMaster(length - frame.size(), 1000ms);
          frame.insert(frame.end(), rest.begin(), rest.end());
        }
        return ticks;
      }
    }
    return -1;
  }

  test::TempFolder folder_;
  std::unique_ptr<test::PtyPair> pty_ = std::make_unique<test::PtyPair>();
  std::unique_ptr<QtSerialPort> port_;
  std::unique_ptr<MainForm> form_;
  std::vector<std::string> messages_;
  std::vector<std::string> notices_;
};

TEST_F(PtyConnection, ConnectPollReplyAndLoseTheDevice) {
  MainForm& f = *form_;
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected()) << "could not open " << pty_->slave_path();
  EXPECT_EQ(f.ConnectCB.caption(), "Disconnection");
  // The supervision pair goes out from the click itself, before any tick.
  EXPECT_EQ(pty_->ReadMaster(12, 2000ms), Hex("02 01 10 0A 13 03 02 01 11 00 A9 03"));

  Bytes frame;
  EXPECT_EQ(TicksUntilFrame(6, frame), 1);
  EXPECT_EQ(frame, Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(TicksUntilFrame(5, frame), 11);
  EXPECT_EQ(frame, Hex("02 00 08 F7 03"));

  // A reply written by the controller is dispatched at the next tick.
  ASSERT_TRUE(pty_->WriteMaster(EncodeFrame(6, Bytes{0x81, 0x00})));
  ASSERT_TRUE(test::WaitFor([&] { return f.link().receiver().rx_ring_write() >= 7; }));
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kTransparent) << "not before the tick";
  f.TRTimer_Timer();
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kSolid);
  EXPECT_EQ(f.Shape1[7].fill_style(), Shape::kSolid);

  // The device goes away while connected: the program keeps running and ticking.
  pty_->CloseMaster();
  for (int i = 0; i < 40; ++i) {
    Tick();
    f.EMG_CB.PerformClick();
  }
  EXPECT_TRUE(f.link().port_connected());
  EXPECT_TRUE(port_->IsOpen());
  f.ConnectCB.PerformClick();
  EXPECT_FALSE(f.link().port_connected());
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(f.Shape1[i].fill_style(), Shape::kTransparent);
  EXPECT_TRUE(messages_.empty());
  // The loss itself is said once, as a notice, however many writes and ticks follow it.
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].rfind("COM1: device lost (", 0), 0u) << notices_[0];

  // Reconnecting while the device is still gone fails visibly, once, and the notice says why.
  f.ConnectCB.PerformClick();
  EXPECT_EQ(messages_, (std::vector<std::string>{"Com Port Fail!"}));
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[1].rfind("COM1 cannot be opened: device not found (", 0), 0u) << notices_[1];
  EXPECT_FALSE(f.link().port_connected());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");

  // A new device under the same port number works again after editing the mapping.
  pty_ = std::make_unique<test::PtyPair>();
  ASSERT_TRUE(pty_->ok());
  test::WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
                   "[SerialPorts]\r\nCOM1=" + pty_->slave_path() + "\r\n");
  f.ConnectCB.PerformClick();
  EXPECT_TRUE(f.link().port_connected());
  EXPECT_EQ(pty_->ReadMaster(12, 2000ms).size(), 12u);
}

TEST_F(PtyConnection, TrafficInFlightWhenTheDeviceIsLost) {
  MainForm& f = *form_;
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected());
  // Half a frame and a burst of reports are on their way when the line dies.
  Bytes burst = Hex("02 03 A0");
  for (int i = 0; i < 20; ++i) {
    const Bytes r = EncodeFrame(0xA0, Bytes{0x14, 0x00, 0x00});
    burst.insert(burst.end(), r.begin(), r.end());
  }
  ASSERT_TRUE(pty_->WriteMaster(burst));
  pty_->CloseMaster();
  for (int i = 0; i < 50; ++i)
    Tick();
  EXPECT_TRUE(f.link().port_connected());
  f.ConnectCB.PerformClick();
  EXPECT_FALSE(f.link().port_connected());
  EXPECT_LE(f.EventsLogTextBox.text().size(), 1000u);
}

// The controller sends reports flat out at 115200 baud (11,520 bytes a second, 144 reports a
// tick) while the program runs on its own 100 ms timer: every report becomes one record, in order.
TEST_F(PtyConnection, TenThousandReportsAtFullLineRateGiveTenThousandRecordsInOrder) {
  constexpr int kReports = 10000;
  constexpr double kBytesPerMs = 11.52;
  MainForm& f = *form_;
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected());
  Bytes storm;
  for (int i = 0; i < kReports; ++i) {
    const Bytes r = EncodeFrame(
        0xA0, Bytes{0x21, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    storm.insert(storm.end(), r.begin(), r.end());
  }
  const QtTickTimer ticker([&f] { f.TRTimer_Timer(); });
  QElapsedTimer clock;
  clock.start();
  std::size_t sent = 0;
  QTimer pacer;  // writes what the line rate allows by now, every millisecond
  pacer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&pacer, &QTimer::timeout, [&] {
    const auto due = std::min(
        storm.size(), static_cast<std::size_t>(static_cast<double>(clock.elapsed()) * kBytesPerMs));
    if (due > sent && pty_->WriteMaster(Bytes(storm.begin() + static_cast<std::ptrdiff_t>(sent),
                                              storm.begin() + static_cast<std::ptrdiff_t>(due)))) {
      sent = due;
    }
    (void)pty_->ReadMaster(64, 0ms);  // the program's polls, read and dropped
  });
  pacer.start(1);
  const auto log_path = folder_.path() / "DATA" / "EventLog.txt";
  const std::size_t record_size =
      std::string("12/04 05:21 Event = Fault 0000000000000000\n\r\n").size();
  ASSERT_TRUE(test::WaitFor(
      [&] {
        std::error_code ec;
        const auto size = std::filesystem::file_size(log_path, ec);
        return !ec && size >= kReports * record_size;
      },
      20000ms))
      << "sent " << sent << " of " << storm.size() << " bytes";
  pacer.stop();
  EXPECT_GE(clock.elapsed(), 6900) << "paced at the line rate, not in one go";
  const std::string log = test::ReadBytes(log_path);
  ASSERT_EQ(log.size(), kReports * record_size);
  for (int i = 0; i < kReports; ++i) {
    const std::string want = "Event = Fault " + FormatBits(i, 16);
    ASSERT_EQ(log.compare(static_cast<std::size_t>(i) * record_size + 12, want.size(), want), 0)
        << "record " << i;
  }
  EXPECT_EQ(f.link().receiver().overflow_bytes(), 0u);
  EXPECT_TRUE(notices_.empty());
}

// Wired as the program is: the port's lookup reports through the window's notices. The operator
// sees why beside "Com Port Fail!": an ignored map, another user's pty.
TEST(PtyConnectionRefused, TheReasonStandsBesideComPortFail) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the pty to another user";
  test::TempFolder folder;
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::filesystem::path ini = folder.path() / "SYSINI" / "MainForm.INI";
  const std::filesystem::path site = folder.path() / "orvandel.ini";
  std::filesystem::create_directories(ini.parent_path());
  test::WriteBytes(ini, "[SerialPorts]\r\nCOM1=" + pty.slave_path() + "\r\n");
  std::filesystem::permissions(ini, std::filesystem::perms(0664));
  test::WriteBytes(site, "[SerialPorts]\nCOM1=/nonexistent/site-port\n");
  std::filesystem::permissions(site, std::filesystem::perms(0644));
  std::vector<std::string> messages;
  std::vector<std::string> notices;
  const NoticeFn notice = [&](const Notice& n) { notices.push_back(n.text); };
  QtSerialPort port([&](int n) {
    Configuration config(folder.path(), site);
    config.set_notice(notice);
    return config.SerialDevice(n);
  });
  MainForm form(MainFormEnvironment{
      port, folder.path(),
      [&](const std::string& text, const std::string&, MessageIcon) { messages.push_back(text); },
      [] {
        return LocalDateTime{12, 4, 5, 21};
      },
      notice});
  form.Form_Load();
  ASSERT_TRUE(notices.empty()) << notices[0];

  // A map others can change is ignored: the site's map is used instead.
  form.ConnectCB.PerformClick();
  EXPECT_FALSE(form.link().port_connected());
  EXPECT_EQ(messages, (std::vector<std::string>{"Com Port Fail!"}));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0], "[SerialPorts] in " + ini.string() +
                            " is ignored: other users can change that file. Put site-wide "
                            "settings in " +
                            site.string() + ".");
  EXPECT_EQ(
      notices[1].rfind("COM1 cannot be opened: device not found (/nonexistent/site-port: ", 0), 0u)
      << notices[1];

  // The operator's own copy is taken, but the pty there belongs to someone else.
  std::filesystem::permissions(ini, std::filesystem::perms(0644));
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(chown(pty.slave_path().c_str(), nobody->pw_uid, -1), 0);
  form.ConnectCB.PerformClick();
  ASSERT_EQ(chown(pty.slave_path().c_str(), 0, -1), 0);
  EXPECT_FALSE(form.link().port_connected());
  EXPECT_EQ(messages.size(), 2u);
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[2], "COM1 cannot be opened: device owned by another user (" + pty.slave_path() +
                            ": belongs to user nobody)");

  // Given back: it connects, and nothing more is said.
  form.ConnectCB.PerformClick();
  EXPECT_TRUE(form.link().port_connected());
  EXPECT_EQ(notices.size(), 3u);
  form.ConnectCB.PerformClick();
}

}  // namespace
}  // namespace orv
