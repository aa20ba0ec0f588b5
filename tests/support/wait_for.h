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

}  // namespace orv::test
