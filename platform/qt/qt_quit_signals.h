#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace orv {

// SIGTERM, SIGINT and SIGHUP end the program the way closing its window does, instead of killing
// it on the spot (which would leave the serial port's lock file behind for every other operator).
// The signal only wakes the event loop; `on_signal` runs there, with the signal's number. One
// instance at a time (signals are process-wide); POSIX only, nothing happens elsewhere.
class QtQuitSignals : public QObject {
 public:
  explicit QtQuitSignals(std::function<void(int)> on_signal, QObject* parent = nullptr);
  ~QtQuitSignals() override;
  QtQuitSignals(const QtQuitSignals&) = delete;
  QtQuitSignals& operator=(const QtQuitSignals&) = delete;

 private:
  void OnReadable();

  std::function<void(int)> on_signal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  int fds_[2] = {-1, -1};
};

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
