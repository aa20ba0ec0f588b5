#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <functional>

namespace orv::test {

using std::chrono::milliseconds;

// Runs the event loop until done() holds or the deadline passes, woken by each event.
inline bool WaitFor(const std::function<bool()>& done, milliseconds deadline = milliseconds(3000)) {
  const QDeadlineTimer end(deadline);
  QTimer wake;  // wakes the loop to look at the deadline
  wake.start(10);
  while (!done() && !end.hasExpired())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

// Whether the event loop stays quiet for 200 ms: idle, it wakes once or twice (for the window's
// own end); a notifier firing on a dead handle wakes it thousands of times.
inline bool LoopStaysIdle() {
  bool over = false;
  QTimer::singleShot(milliseconds(200), Qt::PreciseTimer, [&over] { over = true; });
  int wakeups = 0;
  while (!over) {  // set by the timer, inside processEvents
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ++wakeups;
  }
  return wakeups <= 10;
}

}  // namespace orv::test
