#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace orv {

// The program's 100 ms tick (TRTimer), on the thread that creates it. Precise: a coarse timer
// may fire 5 ms early or late. A late tick is not made up; the next follows one interval later.
class QtTickTimer : public QObject {
 public:
  static constexpr int kTickMilliseconds = 100;

  explicit QtTickTimer(std::function<void()> on_tick, QObject* parent = nullptr);

  const QTimer& timer() const { return timer_; }

 private:
  QTimer timer_;
  std::function<void()> on_tick_;
};

}  // namespace orv
