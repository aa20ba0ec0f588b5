// The annunciator heard: the window over the simulated controller, its sounder on a PulseAudio
// server of the test's own with a null sink, whose monitor parec records. And the same window
// with no sound server at all. Each test runs in a process of its own (CTest runs them so): Qt
// finds its sound server once per process.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "annunciator/qt/qt_annunciator_bar.h"
#include "annunciator/qt/qt_sound_output.h"
#include "panel/main_form.h"
#include "platform/notice_log.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 10000;
constexpr int kRate = 16000;
// The tones play at 0.6 of full scale: about 20000 RMS while the beep sounds. Quiet is digital
// silence on a null sink.
constexpr double kSounding = 3000;
constexpr double kQuiet = 100;

class SoundTest : public ::testing::Test {
 protected:
  // A PulseAudio server of this test's own, its only sink a null one; false when it cannot start.
  bool StartPulseAudio() {
    const std::string dir = folder_.path().string();
    server_ = "unix:" + dir + "/native";
    pulse_ = std::make_unique<test::ChildProcess>(
        "/usr/bin/pulseaudio",
        std::vector<std::string>{
            "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--system=no", "-F",
            "/dev/null", "--load=module-null-sink sink_name=orv",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir + "/native"},
        test::ChildOptions{{"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir}, true});
    if (!pulse_->started() ||
        !QTest::qWaitFor([&] { return std::filesystem::exists(dir + "/native"); }, 5000)) {
      return false;
    }
    // Its monitor as 16-bit mono samples, in small fragments so that they come promptly.
    parec_ = std::make_unique<test::ChildProcess>(
        "/usr/bin/parec",
        std::vector<std::string>{"--raw", "--format=s16le", "--rate=16000", "--channels=1",
                                 "--latency-msec=20", "-d", "orv.monitor"},
        test::ChildOptions{{"HOME=" + dir, "PULSE_SERVER=" + server_}, true});
    return parec_->started();
  }

  // The window as the program wires it, over the simulator on a pseudo-terminal.
  void StartWindow() {
    const auto link = folder_.path() / "controller";
    sim_ = std::make_unique<test::ChildProcess>(
        test::kSimulator,
        std::vector<std::string>{"--link", link.string(), "--report-interval", "0", "--seed", "3"});
    ASSERT_TRUE(sim_->started());
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(link); }, kDeadlineMs));
    std::filesystem::create_directories(folder_.path() / "SYSINI");
    test::WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
                     "[SerialPorts]\r\nCOM1=" + link.string() + "\r\n");
    const auto program_folder = folder_.path();
    port_ = std::make_unique<QtSerialPort>(
        [program_folder](int n) { return Configuration(program_folder).SerialDevice(n); });
    MainFormEnvironment env{*port_, program_folder, nullptr, SystemLocalTime, notices_.Sink({})};
    env.site_settings_file = folder_.path() / "no-site-settings.ini";
    form_ = std::make_unique<MainForm>(std::move(env));
    records_ = form_->recorded().Connect(
        [this](const JournalEntry& entry) { journal_.push_back(entry.text); });
    form_->Form_Load();
    view_ = std::make_unique<QtFormView>(form_->MainFormWindow, form_->controls(), form_->focus,
                                         [this] { form_->Form_Unload(); });
    view_->ShowNotices(notices_);
    sound_ = std::make_unique<QtSoundOutput>();
    form_->annunciation().set_output(sound_.get());
    bar_ = std::make_unique<QtAnnunciatorBar>(
        *view_, QtAnnunciatorBar::Captions{"Silence", "Lamp test"},
        [this](std::string_view where) { form_->annunciation().Silence(where); },
        [this] { form_->annunciation().LampTest(); });
    shown_ = form_->annunciation().changed().Connect(
        [this](const AnnunciationView& now) { bar_->Show(now.state); });
    ticker_ = std::make_unique<QtTickTimer>(
        [this] { view_->CallModel([this] { form_->TRTimer_Timer(); }); });
    view_->show();
    QTest::mouseClick(view_->findChild<QPushButton*>("ConnectCB"), Qt::LeftButton);
    ASSERT_TRUE(form_->link().port_connected());
    ASSERT_GE(
        MsUntil([&] { return form_->link().watch().state() == LinkWatch::State::kAnswering; }), 0);
  }

  // The RMS of the newest window_ms recorded, with the event loop running meanwhile.
  double RecentRms(int window_ms) {
    parec_->Drain();
    const std::string& raw = parec_->output();
    const std::size_t want = static_cast<std::size_t>(kRate * window_ms / 1000) * 2;
    if (raw.size() < want) return -1;
    double sum = 0;
    for (std::size_t at = raw.size() - want; at + 1 < raw.size(); at += 2) {
      const auto s = static_cast<std::int16_t>(static_cast<unsigned char>(raw[at]) |
                                               static_cast<unsigned char>(raw[at + 1]) << 8);
      sum += double(s) * s;
    }
    return std::sqrt(sum / double(want / 2));
  }
  // Milliseconds until the condition held, or -1 when it did not within the deadline.
  // The simulator's output is read meanwhile: a full pipe would stop it.
  qint64 MsUntil(const std::function<bool()>& condition, int deadline_ms = kDeadlineMs) {
    QElapsedTimer clock;
    clock.start();
    const bool held = QTest::qWaitFor(
        [&] {
          sim_->Drain();
          return condition();
        },
        deadline_ms);
    return held ? clock.elapsed() : -1;
  }
  // Lights a fault lamp in the simulator; the time from the first frame that tells of it (its
  // Fault report or the fault image with the lamp lit) to the tone.
  qint64 FaultHeardAfterMs(int lamp) {
    QElapsedTimer since_frame;
    const Connection image = form_->link().fault_lamps_changed().Connect([&](FaultLamps lamps) {
      if (lamps[static_cast<std::size_t>(lamp)] && !since_frame.isValid()) since_frame.start();
    });
    const Connection report =
        form_->link().dispatcher().event_report().Connect([&](std::uint8_t code, std::int32_t) {
          if (code == Annunciator::kFaultReport && !since_frame.isValid()) since_frame.start();
        });
    const auto reports = Count("Annunciator sounds: Fault report");
    sim_->Type("fault " + std::to_string(lamp) + " on");
    if (MsUntil([&] { return since_frame.isValid(); }) < 0) return -1;
    // The fault tone beeps 250 ms in every 500: measured over a whole loop.
    if (MsUntil([&] { return RecentRms(500) > kSounding; }, 3000) < 0) return -1;
    const qint64 heard = since_frame.elapsed();
    // Both conditions, the lamp's (the fault image) and the report's, whichever came first: a
    // silence before the other would be followed by its sound.
    const std::string lit = std::string("Annunciator sounds: Fault lamp ") +
                            kFaultLampCaptions[static_cast<std::size_t>(lamp)] + " lit";
    const auto both_recorded = [&] {
      return Count(lit) == 1 && Count("Annunciator sounds: Fault report") == reports + 1;
    };
    EXPECT_GE(MsUntil(both_recorded), 0) << Journal();
    return heard;
  }

  std::ptrdiff_t Count(const std::string& record) const {
    return std::count(journal_.begin(), journal_.end(), record);
  }
  // The journal's records, after the simulator's last lines (what went over the line).
  std::string Journal() const {
    const std::string& sim = sim_->output();
    std::string all = sim.substr(sim.size() > 3000 ? sim.size() - 3000 : 0) + "\n";
    for (const std::string& r : journal_)
      all += r + "\n";
    return all;
  }

  test::TempFolder folder_;
  std::string server_;
  std::unique_ptr<test::ChildProcess> pulse_, parec_, sim_;
  NoticeLog notices_{SystemLocalTime};
  std::unique_ptr<QtSerialPort> port_;
  // Gone in reverse: the timer and the bar before the window, the form before its sounder.
  std::unique_ptr<QtSoundOutput> sound_;
  std::unique_ptr<MainForm> form_;
  std::unique_ptr<QtFormView> view_;
  std::unique_ptr<QtAnnunciatorBar> bar_;
  std::unique_ptr<QtTickTimer> ticker_;
  std::vector<std::string> journal_;
  Connection records_, shown_;
};

TEST_F(SoundTest, AFaultIsHeardWithinASecondSilencedWithinASecondAndANewOneHeardAgain) {
  for (const char* tool : {"/usr/bin/pulseaudio", "/usr/bin/parec"}) {
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  if (!StartPulseAudio()) {
    pulse_->Drain();
    GTEST_SKIP() << "PulseAudio cannot start here: " << pulse_->error_output();
  }
  qputenv("PULSE_SERVER", QByteArray::fromStdString(server_));
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  ASSERT_GE(MsUntil([&] { return RecentRms(500) >= 0; }), 0) << "parec records nothing";
  EXPECT_LT(RecentRms(500), kQuiet);

  // -1: not heard (or not quiet) at all.
  const auto within_a_second = [](qint64 ms) { return ms >= 0 && ms <= 1000; };
  EXPECT_PRED1(within_a_second, FaultHeardAfterMs(3));
  QTest::mouseClick(bar_->silence_button(), Qt::LeftButton);
  EXPECT_PRED1(within_a_second, MsUntil([&] { return RecentRms(200) < kQuiet; }, 3000));
  // And stays quiet for a whole loop of the tone, nothing raised meanwhile.
  EXPECT_GE(MsUntil([&] { return RecentRms(500) < kQuiet; }, 3000), 0);
  EXPECT_PRED1(within_a_second, FaultHeardAfterMs(5));
}

TEST_F(SoundTest, WithoutASoundServerTheSounderIsUnavailableAndTheProgramGoesOn) {
  qputenv("PULSE_SERVER",
          QByteArray::fromStdString("unix:" + (folder_.path() / "no-server").string()));
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  sim_->Type("fault 3 on");
  ASSERT_GE(
      MsUntil([&] { return view_->notice_bar()->text().startsWith("Sounder unavailable: "); }), 0)
      << view_->notice_bar()->text().toStdString();
  // The window goes on: the next event is logged as ever.
  sim_->Type("event 0x12 0");
  EXPECT_GE(
      MsUntil([&] { return form_->EventsLogTextBox.text().find("EMG Ack") != std::string::npos; }),
      0);
}

}  // namespace
}  // namespace orv
