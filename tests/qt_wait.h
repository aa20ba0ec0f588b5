#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>

#include "platform/serial_port.h"
#include "tests/pty_pair.h"

namespace orv::test {

inline constexpr std::chrono::milliseconds kPatience{3000};

// Runs the event loop until done() holds or the deadline passes. The loop sleeps in the
// dispatcher between events; a 10 ms timer only wakes it to look at the deadline.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds deadline = kPatience) {
  const QDeadlineTimer end(deadline);
  QTimer wake;
  wake.start(10);
  while (!done()) {
    if (end.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// How often the event loop woke up within the window. An idle loop wakes only for the window's
// own end; a socket notifier firing on a dead handle wakes it thousands of times.
inline int CountWakeups(std::chrono::milliseconds window) {
  // The window ends when its own timer fires, so the last wait always has something to end it.
  bool over = false;
  QTimer stop;
  stop.setSingleShot(true);
  stop.setTimerType(Qt::PreciseTimer);
  QObject::connect(&stop, &QTimer::timeout, [&over] { over = true; });
  stop.start(window);
  int wakeups = 0;
  while (!over) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ++wakeups;
  }
  return wakeups;
}

// Reads n bytes from the master while the event loop runs, so that writes the port left to its
// write notifier get out too.
inline Bytes ReadMasterWhilePumping(PtyPair& pty, std::size_t n,
                                    std::chrono::milliseconds deadline = kPatience) {
  Bytes out;
  WaitFor(
      [&] {
        const Bytes got = pty.ReadMaster(n - out.size(), std::chrono::milliseconds(5));
        out.insert(out.end(), got.begin(), got.end());
        return out.size() >= n;
      },
      deadline);
  return out;
}

}  // namespace orv::test
