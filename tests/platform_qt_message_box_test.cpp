// The program's message box on the offscreen platform: modal, with its title and icon, and answered
// with keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "platform/qt/qt_message_box.h"

namespace orv {
namespace {

struct Key {
  QEvent::Type type;
  Qt::Key key;
  quint64 time;
  bool marked_repeat = false;
};

// A key held down since before the box opened comes to it only as the key's auto-repeat: X11
// sends a release and a press of the same time, which Qt marks as a repeat only when it has read
// both at once. The box stays for the operator to read; a key pressed on it answers it.
TEST(QtMessageBox, OnlyAKeyPressedWhileTheBoxIsShownClosesIt) {
  constexpr auto kUp = QEvent::KeyRelease;
  constexpr auto kDown = QEvent::KeyPress;
  struct Case {
    const char* name;
    std::vector<Key> keys;
    bool closes;
  };
  const std::vector<Case> cases = {
      {"Return held, repeat marked",
       {{kUp, Qt::Key_Return, 700, true}, {kDown, Qt::Key_Return, 700, true}},
       false},
      {"Return held, repeat unmarked",
       {{kUp, Qt::Key_Return, 700}, {kDown, Qt::Key_Return, 700}},
       false},
      {"Escape held, repeat unmarked",
       {{kUp, Qt::Key_Escape, 700}, {kDown, Qt::Key_Escape, 700}},
       false},
      {"Return pressed", {{kDown, Qt::Key_Return, 700}}, true},
      {"Escape pressed", {{kDown, Qt::Key_Escape, 700}}, true},
      {"Return let go, pressed again",
       {{kUp, Qt::Key_Return, 700}, {kDown, Qt::Key_Return, 790}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool seen = false;
    bool closed = false;
    QTimer::singleShot(0, [&] {
      const QPointer<QWidget> box = QApplication::activeModalWidget();
      if (box == nullptr) return;
      seen = true;
      const auto* message = qobject_cast<const QMessageBox*>(box.data());
      EXPECT_EQ(box->windowTitle() + ": " + (message ? message->text() : ""),
                "Orvandel Program: Com Port Fail!");
      EXPECT_TRUE(message && message->icon() == QMessageBox::Critical &&
                  message->buttons().size() == 1);
      // Keys go where Qt sends them: the focus of the active box, its OK button.
      EXPECT_TRUE(QTest::qWaitForWindowActive(box.data()));
      for (const Key& k : c.keys) {
        if (box == nullptr || !box->isVisible()) break;
        QKeyEvent event(k.type, k.key, Qt::NoModifier, QString(), k.marked_repeat);
        event.setTimestamp(k.time);
        QApplication::sendEvent(box->windowHandle(), &event);
      }
      closed = box == nullptr || !box->isVisible();
      if (!closed) box->close();
    });
    QtMessageBox(nullptr)("Com Port Fail!", "Orvandel Program", MessageIcon::kStop);
    EXPECT_TRUE(seen);
    EXPECT_EQ(closed, c.closes);
  }
}

}  // namespace
}  // namespace orv
