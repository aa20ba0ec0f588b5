#include "platform/qt/qt_after_first_paint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <utility>

namespace orv {

QtAfterFirstPaint::QtAfterFirstPaint(QWidget& widget, std::function<void()> then)
    : widget_(widget), then_(std::move(then)) {
  widget_.installEventFilter(this);
}

void QtAfterFirstPaint::RunIfPending() {
  if (then_) {
    widget_.removeEventFilter(this);
    std::exchange(then_, nullptr)();
  }
}

bool QtAfterFirstPaint::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &widget_ && event->type() == QEvent::Paint && !queued_) {
    queued_ = true;
    // After this paint is done and flushed to the screen.
    QTimer::singleShot(0, this, [this] { RunIfPending(); });
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orv
