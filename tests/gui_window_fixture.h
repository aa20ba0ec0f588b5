#pragma once

// The real Qt window over a headless main window, on the offscreen platform, for the window's
// tests. With ORV_SCREENSHOT_DIR set, Screenshot saves pictures of the window there.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/qt/qt_form_view.h"
#include "tests/form_fixture.h"

namespace orv::test {

class GuiTest : public FormTest {
 protected:
  QtFormView& Show() {
    Load();
    view_ = std::make_unique<QtFormView>(form().MainFormWindow, form().controls(), form().focus,
                                         [this] { form().Form_Unload(); });
    view_->ShowNotices(notice_log_);
    view_->show();
    view_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(view_.get()));
    return *view_;
  }
  template <typename W = QWidget>
  W* Find(const std::string& name) {
    W* widget = view_->findChild<W*>(QString::fromStdString(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // Runs the event loop until the held-back text updates are shown.
  bool Settle() {
    return QTest::qWaitFor([this] { return !view_->text_pending(); }, 5000);
  }

  static void Screenshot(const QImage& image, const char* name) {
    const char* folder = std::getenv("ORV_SCREENSHOT_DIR");
    EXPECT_TRUE(!folder || image.save(QString::fromLocal8Bit(folder) + "/" + name, "PNG")) << name;
  }

  std::unique_ptr<QtFormView> view_;
};

}  // namespace orv::test
