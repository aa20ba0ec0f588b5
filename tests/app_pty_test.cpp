// The program's connection over a real pseudo-terminal: the QSerialPort binding on the slave
// side, the test as the controller on the master side.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "panel/main_form.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/pty_pair.h"
#include "tests/support/storm.h"
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
  test::TempFolder folder_;
  std::unique_ptr<test::PtyPair> pty_ = std::make_unique<test::PtyPair>();
  std::unique_ptr<QtSerialPort> port_;
  std::unique_ptr<MainForm> form_;
  std::vector<std::string> messages_;
  std::vector<std::string> notices_;
};

TEST_F(PtyConnection, LosingTheDeviceWithTrafficInFlightIsSaidOnce) {
  MainForm& f = *form_;
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected()) << "could not open " << pty_->slave_path();
  // The device goes away while connected, half a frame and a burst of reports on their way: the
  // program keeps running and ticking, and says the loss once, however many writes follow. (What
  // goes out at the connect and how replies reach the window: the window model's tests and the
  // end-to-end test.)
  ASSERT_TRUE(pty_->WriteMaster(test::Concat({Hex("02 03 A0"), test::FaultReports(0, 20)})));
  pty_->CloseMaster();
  for (int i = 0; i < 40; ++i) {
    Tick();
    f.EMG_CB.PerformClick();
  }
  EXPECT_TRUE(f.link().port_connected());
  EXPECT_TRUE(port_->IsOpen());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].rfind("COM1: device lost (", 0), 0u) << notices_[0];
  f.ConnectCB.PerformClick();
  EXPECT_FALSE(f.link().port_connected());
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(messages_.empty());
}

// The controller sends reports flat out at 115200 baud (11,520 bytes a second, 144 reports a
// tick) while the program runs on its own 100 ms timer: every report becomes one record, in order.
TEST_F(PtyConnection, TenThousandReportsAtFullLineRateGiveTenThousandRecordsInOrder) {
  constexpr int kReports = 10000;
  constexpr double kBytesPerMs = 11.52;
  MainForm& f = *form_;
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected());
  const Bytes storm = test::FaultReports(0, kReports);
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
  const std::size_t record_size = test::FaultRecords(0, 1).size();
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
  EXPECT_TRUE(test::ReadBytes(log_path) == test::FaultRecords(0, kReports))
      << "every record once, in order";
  EXPECT_TRUE(notices_.empty());
}

}  // namespace
}  // namespace orv
