#include "platform/qt/qt_tick_timer.h"

namespace orv {

QtTickTimer::QtTickTimer(std::function<void()> on_tick, QObject* parent)
    : QObject(parent), on_tick_(std::move(on_tick)) {
  timer_.setParent(this);
  timer_.setObjectName(QStringLiteral("TRTimer"));
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kTickMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (on_tick_) on_tick_();
  });
  timer_.start();
}

}  // namespace orv
