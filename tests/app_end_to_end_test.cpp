// The whole program end to end: the real Qt window over the real QSerialPort binding, and the
// simulated controller as a separate process on a pseudo-terminal. Every wait has a deadline.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "panel/main_form.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 10000;

TEST(EndToEnd, LampsTriggersCommandsAndEventsFollowTheController) {
  const test::TempFolder folder;
  const std::filesystem::path link = folder.path() / "controller";
  test::ChildProcess sim(test::kSimulator,
                         {"--link", link.string(), "--report-interval", "0", "--seed", "3"});
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(link); }, kDeadlineMs));
  std::filesystem::create_directories(folder.path() / "SYSINI");
  test::WriteBytes(folder.path() / "SYSINI" / "MainForm.INI",
                   "[SerialPorts]\r\nCOM1=" + link.string() + "\r\n");
  QtSerialPort port([&folder](int n) { return Configuration(folder.path()).SerialDevice(n); });
  MainForm f(MainFormEnvironment{port, folder.path(), nullptr, SystemLocalTime, nullptr});
  f.Form_Load();
  QtFormView view(f.MainFormWindow, f.controls(), f.focus, [&f] { f.Form_Unload(); });
  // Wired as the program wires it: its own tick, through the view.
  const QtTickTimer ticker([&] { view.CallModel([&f] { f.TRTimer_Timer(); }); });
  view.show();
  // Waits, with the event loop and the window's timer running, until the simulator has printed
  // `text` (after `from`); returns where it was found.
  const auto wait_for_sim = [&sim](const std::string& text, std::size_t from = 0) {
    std::size_t at = std::string::npos;
    (void)QTest::qWaitFor(
        [&] {
          sim.Drain();
          at = sim.output().find(text, from);
          return at != std::string::npos;
        },
        kDeadlineMs);
    return at;
  };
  QPushButton* connect = view.findChild<QPushButton*>(QStringLiteral("ConnectCB"));
  sim.Type("fault 4 on");
  sim.Type("trigger emg 2 on");
  QTest::mouseClick(connect, Qt::LeftButton);
  ASSERT_TRUE(f.link().port_connected());

  // The fault image and the shown page's states arrive through the poll cycle.
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return f.Shape1[3].fill_style() == Shape::kSolid; }, kDeadlineMs));
  QCheckBox* box = view.findChild<QCheckBox*>(QStringLiteral("Trigger_CheckBox_1"));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked(); }, kDeadlineMs));

  // Clearing the box switches the trigger off in the controller: the next status reply
  // confirms it instead of ticking the box again.
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() / 2, box->height() / 2));
  EXPECT_FALSE(box->isChecked());
  const std::size_t command = wait_for_sim("RX 02 02 13 02 00");
  ASSERT_NE(command, std::string::npos) << sim.output();
  const std::size_t reply = wait_for_sim("TX 02 0A 08", command);
  ASSERT_NE(reply, std::string::npos);
  // The program's next poll comes from a tick that first dispatched everything received.
  ASSERT_NE(wait_for_sim("RX 02", reply), std::string::npos);
  EXPECT_FALSE(box->isChecked());

  // An event the controller sends reaches the events log. (Where it lands and the log file are
  // the window model's tests.)
  sim.Type("event 0x12 0");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return f.EventsLogTextBox.text().find("Event = EMG Ack") != std::string::npos; },
      kDeadlineMs));
}

// (A silent controller: the link watch's tests at the window model and the Qt view, and the
// flooded TCP port's on the real tick timer.)

}  // namespace
}  // namespace orv
