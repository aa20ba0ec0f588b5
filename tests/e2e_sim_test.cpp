// The whole program end to end: the real Qt window over the real QSerialPort binding, and the
// simulated controller as a separate process on a pseudo-terminal. Every wait has a deadline.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

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

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = folder_.path() / "controller";
    sim_ = std::make_unique<test::ChildProcess>(
        test::kSimulator, std::vector<std::string>{"--link", link_.string(), "--report-interval",
                                                   "0", "--seed", "3"});
    ASSERT_TRUE(sim_->started());
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(link_); }, kDeadlineMs));
    std::filesystem::create_directories(folder_.path() / "SYSINI");
    test::WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
                     "[SerialPorts]\r\nCOM1=" + link_.string() + "\r\n");
    const auto program_folder = folder_.path();
    port_ = std::make_unique<QtSerialPort>(
        [program_folder](int n) { return Configuration(program_folder).SerialDevice(n); });
    form_ = std::make_unique<MainForm>(
        MainFormEnvironment{*port_, program_folder, nullptr, SystemLocalTime, nullptr});
    form_->Form_Load();
    view_ = std::make_unique<QtFormView>(form_->MainFormWindow, form_->controls(), form_->focus,
                                         [this] { form_->Form_Unload(); });
    // Wired as the program wires it: its own tick, through the view.
    ticker_ = std::make_unique<QtTickTimer>(
        [this] { view_->CallModel([this] { form_->TRTimer_Timer(); }); });
    view_->show();
  }
  void TearDown() override {
    ticker_.reset();
    view_.reset();
    form_.reset();
    if (sim_) sim_->Signal(SIGTERM);
  }

  template <typename W>
  W* Find(const char* name) {
    return view_->findChild<W*>(QString::fromLatin1(name));
  }
  // Waits, with the event loop and the window's timer running, until the simulator has printed
  // `text` (after `from`); returns where it was found.
  std::size_t WaitForSim(const std::string& text, std::size_t from = 0) {
    std::size_t at = std::string::npos;
    (void)QTest::qWaitFor(
        [&] {
          sim_->Drain();
          at = sim_->output().find(text, from);
          return at != std::string::npos;
        },
        kDeadlineMs);
    return at;
  }

  test::TempFolder folder_;
  std::filesystem::path link_;
  std::unique_ptr<test::ChildProcess> sim_;
  std::unique_ptr<QtSerialPort> port_;
  std::unique_ptr<MainForm> form_;
  std::unique_ptr<QtFormView> view_;
  std::unique_ptr<QtTickTimer> ticker_;
};

TEST_F(EndToEnd, LampsTriggersCommandsAndEventsFollowTheController) {
  MainForm& f = *form_;
  sim_->Type("fault 3 on");
  sim_->Type("trigger emg 2 on");
  QTest::mouseClick(Find<QPushButton>("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(f.link().port_connected());
  EXPECT_EQ(Find<QPushButton>("ConnectCB")->text(), "Disconnection");

  // The fault image and the shown page's states arrive through the poll cycle.
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return f.Shape1[3].fill_style() == Shape::kSolid; }, kDeadlineMs));
  QCheckBox* box = Find<QCheckBox>("Trigger_CheckBox_1");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked(); }, kDeadlineMs));

  // Clearing the box switches the trigger off in the controller: the next status reply
  // confirms it instead of ticking the box again.
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() / 2, box->height() / 2));
  EXPECT_FALSE(box->isChecked());
  const std::size_t command = WaitForSim("RX 02 02 13 02 00");
  ASSERT_NE(command, std::string::npos) << sim_->output();
  const std::size_t reply = WaitForSim("TX 02 0A 08", command);
  ASSERT_NE(reply, std::string::npos);
  // The program's next poll comes from a tick that first dispatched everything received.
  ASSERT_NE(WaitForSim("RX 02", reply), std::string::npos);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(2), 0);

  // An event the controller sends reaches the events log. (Where it lands and the log file are
  // the window model's tests.)
  sim_->Type("event 0x12 0");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return f.EventsLogTextBox.text().find("Event = EMG Ack") != std::string::npos; },
      kDeadlineMs));
}

// (A silent controller: the link watch's tests at the window model and the Qt view, and the
// flooded TCP port's on the real tick timer.)

}  // namespace
}  // namespace orv
