#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QWidget>
#include <functional>
#include <memory>

namespace orv {

// SIGTERM, SIGINT and SIGHUP end the program the way closing its window does, instead of killing
// it on the spot (which would leave the serial port's lock file behind for every other operator).
// The signal only wakes the event loop; `on_signal` runs there, with the signal's number, and
// decides (a service may take SIGHUP as "read the settings again", as daemons do). One
// instance at a time (signals are process-wide); POSIX only, nothing happens elsewhere.
class QtQuitSignals : public QObject {
 public:
  explicit QtQuitSignals(std::function<void(int)> on_signal, QObject* parent = nullptr);
  ~QtQuitSignals() override;
  QtQuitSignals(const QtQuitSignals&) = delete;
  QtQuitSignals& operator=(const QtQuitSignals&) = delete;

  // Whether a quit signal has reached an event loop. A box opened after it returns at once (Qt's
  // loops stay left), but the application's own loop would start afresh: the program asks this
  // before starting it.
  bool signalled() const { return signalled_; }

 private:
  void OnReadable();

  std::function<void(int)> on_signal_;
  bool signalled_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
  int fds_[2] = {-1, -1};
};

// A window's answer to a quit signal, whatever box is open: the window (if any) closed as the
// operator would close it, and every event loop left, the open boxes' nested ones and the
// application's, with exit status 0.
void CloseWindowAndLeave(QWidget* window);

// Runs `action` if the process exits through exit() while this guard lives (Qt ends the program
// that way when its display connection is lost), so that the port is closed and its lock file
// removed. A guard that goes out of scope normally does nothing. One guard at a time.
class ExitGuard {
 public:
  explicit ExitGuard(std::function<void()> action);
  ~ExitGuard();
  ExitGuard(const ExitGuard&) = delete;
  ExitGuard& operator=(const ExitGuard&) = delete;
};

}  // namespace orv
