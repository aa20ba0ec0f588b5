// The program's connection over a real pseudo-terminal: the QSerialPort binding on the slave
// side, the test as the controller on the master side.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
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

// The controller sends reports flat out at 115200 baud (11,520 bytes a second, 144 reports a
// tick) while the program runs on its own 100 ms timer: every report becomes one record, in order.
TEST(PtyConnection, TenThousandReportsAtFullLineRateGiveTenThousandRecordsInOrder) {
  constexpr int kReports = 10000;
  constexpr double kBytesPerMs = 11.52;
  const test::TempFolder folder;
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  std::filesystem::create_directories(folder.path() / "SYSINI");
  test::WriteBytes(folder.path() / "SYSINI" / "MainForm.INI",
                   "[SerialPorts]\r\nCOM1=" + pty.slave_path() + "\r\n");
  QtSerialPort port([&folder](int n) { return Configuration(folder.path()).SerialDevice(n); });
  std::vector<std::string> notices;
  MainForm f(MainFormEnvironment{port, folder.path(), nullptr,
                                 [] {
                                   return LocalDateTime{12, 4, 5, 21};
                                 },
                                 [&notices](const Notice& n) { notices.push_back(n.text); }});
  f.Form_Load();
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
    if (due > sent && pty.WriteMaster(Bytes(storm.begin() + static_cast<std::ptrdiff_t>(sent),
                                            storm.begin() + static_cast<std::ptrdiff_t>(due)))) {
      sent = due;
    }
    (void)pty.ReadMaster(64, 0ms);  // the program's polls, read and dropped
  });
  pacer.start(1);
  const auto log_path = folder.path() / "DATA" / "EventLog.txt";
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
  EXPECT_TRUE(notices.empty());
}

}  // namespace
}  // namespace orv
