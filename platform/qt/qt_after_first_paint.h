#pragma once

// Work that must not hold back the window's first paint, run right after it: queued once the
// widget has painted for the first time, so that the event loop flushes the paint first.

#include <QObject>
#include <functional>

class QWidget;

namespace orv {

class QtAfterFirstPaint : public QObject {
 public:
  QtAfterFirstPaint(QWidget& widget, std::function<void()> then);
  // Runs it now if it has not run yet (a window that never painted, say a minimised one).
  void RunIfPending();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& widget_;
  std::function<void()> then_;
  bool queued_ = false;
};

}  // namespace orv
