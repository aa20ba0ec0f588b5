// A quit signal ends a window within a second, exit status 0, whatever box is open: in the real
// program, a standalone window whose start's box is open ("System can not write any file.", its
// DATA being a file) and a window that does not attach to what answers at its socket; in this
// process, a box open in the running loop, with another asked for on the way out.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QTimer>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_quit_signals.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;

class QuitSignals : public test::ProgramFolderTest {};

TEST_F(QuitSignals, EndTheProgramsWindowWithinASecondWhateverItShows) {
  // The offscreen platform says this when it shows a window: here the start's box, the only
  // window before the main one.
  const std::string box_shown = "does not support propagateSizeHints";
  test::WriteBytes(folder_.path() / "DATA", "not a folder");
  // A socket that takes connections (the kernel's backlog) in a folder anyone may write in.
  const std::filesystem::path open = folder_.path() / "open";
  std::filesystem::create_directory(open);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  QLocalServer untrusted;
  ASSERT_TRUE(untrusted.listen(QString::fromStdString((open / "panel.sock").string())));
  // The program with these options, once it shows what it shows on standard error.
  const auto ends_within_a_second = [this](const std::vector<std::string>& options,
                                           const std::string& shown, int signal) {
    SCOPED_TRACE(options.back() + ", signal " + std::to_string(signal));
    auto program = StartProgram(options, {.env = {}, .capture_stderr = true});
    for (const auto deadline = Clock::now() + std::chrono::seconds(10);
         program->error_output().find(shown) == std::string::npos; program->Drain()) {
      ASSERT_TRUE(Clock::now() < deadline) << program->error_output();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto sent = Clock::now();
    program->Signal(signal);
    EXPECT_EQ(program->WaitForExit(std::chrono::seconds(3)), 0) << program->error_output();
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(1));
  };
  // Qt's own words come through only with --verbose.
  ends_within_a_second({"--verbose", "--standalone"}, box_shown, SIGHUP);
  ends_within_a_second({"--socket", untrusted.fullServerName().toStdString()}, "not trusted",
                       SIGINT);
}

TEST(QuitSignal, ClosesTheOpenBoxLeavesTheLoopAndOpensNoOtherBox) {
  const QtQuitSignals quit_signals([](int) { CloseWindowAndLeave(nullptr); });
  const MessageBoxFn box = QtMessageBox(nullptr);
  QTimer::singleShot(0, [&] {
    box("Com Port Fail!", "Orvandel Program", MessageIcon::kStop);
    // What code after a box may do on the way out: another box, which must not hold the exit.
    box("System can not write any file.", "Orvandel Program", MessageIcon::kNone);
  });
  QTimer::singleShot(300, [] { raise(SIGTERM); });
  // A box left open is a failure, not a hung test.
  QTimer::singleShot(5000, [] {
    for (QWidget* widget : QApplication::topLevelWidgets())
      widget->close();
    QCoreApplication::exit(1);
  });
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_LT(clock.elapsed(), 1000);
}

}  // namespace
}  // namespace orv
