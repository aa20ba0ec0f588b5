// The annunciator heard: the window, its sounder on a PulseAudio server of the test's own with a
// null sink, whose monitor parec records. And the same window with no sound server at all. Each
// test runs in a process of its own (CTest runs them so): Qt finds its sound server once per
// process.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "annunciator/qt/qt_annunciator_bar.h"
#include "annunciator/qt/qt_sound_output.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/gui_window_fixture.h"
#include "tests/support/child_process.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 10000;
constexpr int kRate = 16000;
// The tones play at 0.6 of full scale: about 20000 RMS while the beep sounds. Quiet is digital
// silence on a null sink.
constexpr double kSounding = 3000;
constexpr double kQuiet = 100;

class SoundTest : public test::GuiTest {
 protected:
  // A PulseAudio server of this test's own, its only sink a null one; false when it cannot start.
  bool StartPulseAudio() {
    const std::string dir = temp_.path().string();
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

  // The window as the program wires it, its ticks on the program's timer. Its controller is a fake
  // port that answers nothing on its own: the link watch is off, or its alarm would sound.
  void StartWindow() {
    std::filesystem::create_directories(IniPath().parent_path());
    test::WriteBytes(IniPath(), "[LinkWatch]\r\nNoReplySeconds=0\r\n");
    QtFormView& view = Show();
    sound_ = std::make_unique<QtSoundOutput>();
    form().annunciation().set_output(sound_.get());
    bar_ = std::make_unique<QtAnnunciatorBar>(
        view, QtAnnunciatorBar::Captions{"Silence", "Lamp test"},
        [this](std::string_view where) { form().annunciation().Silence(where); },
        [this] { form().annunciation().LampTest(); });
    shown_ = form().annunciation().changed().Connect(
        [this](const AnnunciationView& now) { bar_->Show(now.state); });
    ticker_ = std::make_unique<QtTickTimer>(
        [this] { view_->CallModel([this] { form().TRTimer_Timer(); }); });
    QTest::mouseClick(Find<QPushButton>("ConnectCB"), Qt::LeftButton);
    ASSERT_TRUE(form().link().port_connected());
  }
  ~SoundTest() override {
    ticker_.reset();
    if (form_) form().annunciation().set_output(nullptr);  // the sounder goes before the form
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
  static qint64 MsUntil(const std::function<bool()>& condition, int deadline_ms = kDeadlineMs) {
    QElapsedTimer clock;
    clock.start();
    return QTest::qWaitFor(condition, deadline_ms) ? clock.elapsed() : -1;
  }
  // Lights one more lamp in the controller's fault image; the time from the tick that dispatches
  // the frame to the tone.
  qint64 FaultHeardAfterMs(int lamp) {
    QElapsedTimer since_frame;
    const Connection image = form().link().fault_lamps_changed().Connect([&](FaultLamps lamps) {
      if (lamps[static_cast<std::size_t>(lamp)] && !since_frame.isValid()) since_frame.start();
    });
    lit_ |= 1u << lamp;
    char bytes[8];
    std::snprintf(bytes, sizeof bytes, "%02X %02X", lit_ & 0xFF, lit_ >> 8);
    Image(bytes);
    if (MsUntil([&] { return since_frame.isValid(); }) < 0) return -1;
    // The fault tone beeps 250 ms in every 500: measured over a whole loop.
    if (MsUntil([&] { return RecentRms(500) > kSounding; }, 3000) < 0) return -1;
    return since_frame.elapsed();
  }

  std::string server_;
  std::unique_ptr<test::ChildProcess> pulse_, parec_;
  unsigned lit_ = 0;
  // Gone in reverse: the timer and the bar before the window (the fixture's).
  std::unique_ptr<QtSoundOutput> sound_;
  std::unique_ptr<QtAnnunciatorBar> bar_;
  std::unique_ptr<QtTickTimer> ticker_;
  Connection shown_;
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
          QByteArray::fromStdString("unix:" + (temp_.path() / "no-server").string()));
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  Image("08 00");
  ASSERT_GE(
      MsUntil([&] { return view_->notice_bar()->text().startsWith("Sounder unavailable: "); }), 0)
      << view_->notice_bar()->text().toStdString();
  // The window goes on: the next event is logged as ever.
  Report("12 00 00");
  EXPECT_GE(
      MsUntil([&] { return form().EventsLogTextBox.text().find("EMG Ack") != std::string::npos; }),
      0);
}

}  // namespace
}  // namespace orv
