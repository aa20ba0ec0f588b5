#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include "platform/qt/qt_after_first_paint.h"

namespace orv {
namespace {

TEST(QtAfterFirstPaint, RunsOnceRightAfterTheFirstPaintOrOnceByTheFallback) {
  QWidget window;
  window.resize(200, 100);
  // The paint itself, seen by a filter of the test's: the run must come after it.
  struct PaintWatch : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) painted = true;
      return false;
    }
  } watch;
  window.installEventFilter(&watch);
  int runs = 0;
  bool painted_before_run = false;
  QtAfterFirstPaint after(window, [&] {
    ++runs;
    painted_before_run = watch.painted;
  });
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 0) << "ran before the window was shown";
  window.show();
  QElapsedTimer waited;
  waited.start();
  while (runs == 0 && waited.elapsed() < 5000)
    QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(painted_before_run);
  window.update();
  QCoreApplication::processEvents();
  after.RunIfPending();  // the fallback finds it done
  EXPECT_EQ(runs, 1);
  // A window that never painted: the fallback runs it, once.
  QWidget never;
  int fallback_runs = 0;
  QtAfterFirstPaint fallback(never, [&] { ++fallback_runs; });
  fallback.RunIfPending();
  fallback.RunIfPending();
  EXPECT_EQ(fallback_runs, 1);
}

}  // namespace
}  // namespace orv
