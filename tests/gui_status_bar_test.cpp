// The window's status bar on the offscreen platform: the notices (and where they go before the
// window shows them), the one modal box, the line's state, the log-in and the annunciator.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "access/pin_hash.h"
#include "access/qt/qt_access_bar.h"
#include "access/qt/qt_pin_checks.h"
#include "annunciator/qt/qt_annunciator_bar.h"
#include "journal/qt/qt_history_window.h"
#include "linkwatch/line_status_text.h"
#include "linkwatch/qt/qt_line_status.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_notice.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_tray_notice.h"
#include "tests/gui_window_fixture.h"
#include "tests/support/wait_for.h"

namespace orv {
namespace {

using test::GuiTest;

// A notice of the model shows in the status bar with its level, the ones before it in the bar's
// tool tip; no box opens for any of them.
TEST_F(GuiTest, NoticesShowInTheStatusBarNewestWithItsLevelAndTheEarlierOnesInItsToolTip) {
  // One from before the window existed waits in the log.
  notice_log_.Add({NoticeLevel::kWarning, "from start-up"});
  QtFormView& view = Show();
  QtNoticeBar* bar = view.notice_bar();
  EXPECT_EQ(bar->text(), "from start-up");
  const int height = view.height();

  // The level's icon, and the text in dark red for an error, else in the bar's own colour.
  auto shows = [bar](QStyle::StandardPixmap icon, const QColor& colour) {
    const QIcon want = bar->style()->standardIcon(icon, nullptr, bar);
    return bar->icon_label()->pixmap().toImage() == want.pixmap(bar->kIconSize).toImage() &&
           bar->text_label()->palette().color(QPalette::WindowText) == colour;
  };
  const QColor normal = bar->palette().color(QPalette::WindowText);
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxWarning, normal));

  // An error, then a minute later the news that it is over: the newest shows, the rest go below.
  notice_log_.Add({NoticeLevel::kError, "EventLog.txt cannot be written"});
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxCritical, Qt::darkRed));
  now_.minute += 1;
  notice_log_.Add({NoticeLevel::kInfo, "EventLog.txt is written again"});
  EXPECT_EQ(bar->text(), "EventLog.txt is written again");
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxInformation, normal));
  EXPECT_EQ(bar->toolTip(),
            "<p style=\"white-space:pre\">12/04 05:22 Info: EventLog.txt is written "
            "again<br>12/04 05:21 Error: EventLog.txt cannot be written<br>12/04 "
            "05:21 Warning: from start-up</p>");

  // A notice far longer than the window is wide leaves the window as it is.
  notice_log_.Add({NoticeLevel::kInfo, std::string(2000, 'x')});
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->text().size(), 2000);
  EXPECT_LT(bar->toolTip().size(), 1000) << "its line cut too";
  EXPECT_EQ(view.size(), QSize(818, height));
  const QString shown = bar->text_label()->text();
  EXPECT_LT(shown.size(), 200);
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << "cut with a sign";
  EXPECT_LE(bar->text_label()->geometry().right(), view.width());

  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(view.findChildren<QtNoticeBar*>().size(), 1);
}

// The serial line at the status bar's right end, and the controller's silence in the title and in
// red; wired as the program wires it. (The words themselves are the link watch's tests.)
TEST_F(GuiTest, LineStatusAndTitleFollowTheLinkWatch) {
  QtFormView& view = Show();
  QtLineStatus line_status(view);
  line_status.Show(form().line_status());
  const Connection shown = form().line_status_changed().Connect(
      [&line_status](const LineStatus& status) { line_status.Show(status); });
  QLabel* state = line_status.state_label();
  const QColor normal = view.notice_bar()->palette().color(QPalette::WindowText);
  auto state_colour = [state] { return state->palette().color(QPalette::WindowText); };
  const int height = view.height();
  EXPECT_EQ(line_status.port_label()->text(), "COM1 9600,N,8,1");

  QTest::mouseClick(Find<QPushButton>("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(form().link().port_connected());
  // The controller answers with two lamps lit and reports an event, then falls silent.
  now_ = LocalDateTime{12, 4, 14, 3, 22};
  Image("41 00");
  Report("12 00 00");
  view.CallModel([this] { Ticks(51); });  // lost after the default 5 s
  ASSERT_TRUE(form().link().watch().lost());
  EXPECT_EQ(state->text().toStdString(), form().line_status().state);
  EXPECT_EQ(state_colour(), QColor(Qt::red));
  EXPECT_EQ(view.windowTitle().toStdString(), std::string(kWindowCaption) + kNoReplyTitleSuffix);
  EXPECT_NE(state->toolTip().indexOf("Valid frames received: 2<br>"), -1)
      << state->toolTip().toStdString();
  EXPECT_EQ(view.height(), height) << "the bar keeps its height";
  ASSERT_TRUE(Settle());
  Screenshot(view.grab().toImage(), "link-lost.png");

  // A desktop without a tray (this one) shows nothing and nothing fails.
  QtTrayNotice tray(QStringLiteral("Orvandel"));
  EXPECT_EQ(tray.Show(Notice{NoticeLevel::kError, "No reply"}),
            QSystemTrayIcon::isSystemTrayAvailable());

  // The next valid frame brings the caption back exactly.
  port_.Deliver(EncodeFrame(cmd::kEmgStatus, Bytes(10, 0)));
  view.CallModel([this] { Ticks(1); });
  EXPECT_EQ(view.windowTitle().toStdString(), kWindowCaption);
  EXPECT_EQ(state_colour(), normal);
}

// Until the window shows them, notices go to the log under their own category, by level.
TEST(QtLogNotices, EachNoticeIsOneMessageOfTheNoticeCategoryAtItsLevel) {
  static std::vector<std::tuple<QtMsgType, std::string, std::string>> logged;
  logged.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& m) {
        logged.emplace_back(type, context.category, m.toStdString());
      });
  const NoticeFn notice = QtLogNotices();
  notice({NoticeLevel::kError, "EventLog.txt cannot be written"});
  notice({NoticeLevel::kWarning, "w"});
  notice({NoticeLevel::kInfo, "\"quoted\" as is"});
  qInstallMessageHandler(previous);
  EXPECT_EQ(logged,
            (decltype(logged){{QtCriticalMsg, "orvandel.notice", "EventLog.txt cannot be written"},
                              {QtWarningMsg, "orvandel.notice", "w"},
                              {QtInfoMsg, "orvandel.notice", "\"quoted\" as is"}}));
}

TEST_F(GuiTest, MessageBoxIsModalWithTheStopIcon) {
  QtFormView& view = Show();
  int seen = 0;
  // Runs once the box's own event loop does: looks at the box, then answers it.
  QTimer::singleShot(0, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (box == nullptr || !box->isVisible()) continue;
      ++seen;
      EXPECT_EQ(QApplication::activeModalWidget(), box);
      EXPECT_EQ(box->windowTitle() + ": " + box->text(), "Orvandel Program: Com Port Fail!");
      EXPECT_EQ(box->icon(), QMessageBox::Critical);
      EXPECT_EQ(box->buttons().size(), 1);
      box->done(0);
    }
  });
  QtMessageBox (&view)("Com Port Fail!", "Orvandel Program", MessageIcon::kStop);
  EXPECT_EQ(seen, 1);
}

TEST_F(GuiTest, LogInPressEmgResetLogOutAndItIsRefusedWithTheDialog) {
  AccessGate gate(
      UsersFile{AccessMode::kOn, {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  gate_ = &gate;
  // The PIN checked off the loop, as the program does it.
  const QtPinChecks checks(gate);
  QtFormView& view = Show();
  form().ConnectCB_Click();
  QtGateAccessBar access(view, gate, MainForm::kWindowOrigin, [this] { return access_now_; });
  const Connection asked = form().login_wanted().Connect([&access] { access.bar().AskForLogIn(); });
  QtAccessBar& bar = access.bar();
  QWidget* reset = Find("EMGReset_CB");
  const auto log_in = [&](const char* pin) {
    bar.name_edit()->setText(QStringLiteral("alice"));
    QTest::keyClicks(bar.pin_edit(), QString::fromLatin1(pin));
    bar.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
  port_.ClearWrites();

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  ASSERT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.pin_edit()->echoMode(), QLineEdit::NoEcho);
  log_in("9999");
  // The click came back before the check: the answer comes on a later turn of the loop.
  EXPECT_EQ(bar.message()->text(), "");
  ASSERT_TRUE(test::WaitFor([&] { return !bar.message()->text().isEmpty(); }));
  EXPECT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.message()->text(), "not logged in");
  log_in("1234");
  ASSERT_TRUE(test::WaitFor([&] { return !bar.dialog()->isVisible(); }));
  EXPECT_EQ(bar.label()->text(), "alice, level 2");
  EXPECT_EQ(bar.button()->text(), "Log out");

  QTest::mouseClick(reset, Qt::LeftButton);  // (the key's frame is the window model's test)
  EXPECT_EQ(port_.writes().size(), 1U);

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  EXPECT_EQ(bar.label()->text(), "Level 1");
  QTest::mouseClick(reset, Qt::LeftButton);  // (that nothing goes out is the window model's test)
  EXPECT_TRUE(bar.dialog()->isVisible()) << "the refusal asks for a log-in";
  bar.dialog()->reject();
}

// The status bar's buttons and the window's keys reach the annunciator, what sounds is shown
// beside the notices, and the designed window stays as it is.
TEST_F(GuiTest, AnnunciatorButtonsAndKeysReachTheModelAndWhatSoundsIsShown) {
  QtFormView& view = Show();
  MainForm& f = form();
  QtLineStatus line(view);
  line.Show(f.line_status());
  const Connection line_shown =
      f.line_status_changed().Connect([&line](const LineStatus& status) { line.Show(status); });
  AddHistoryButton(view, [] {});
  // Wired as the program wires it.
  std::vector<std::string> asked;
  QtAnnunciatorBar bar(
      view,
      [&](std::string_view where) {
        asked.emplace_back(where);
        view.CallModel([&] { f.annunciation().Silence(where); });
      },
      [&] {
        asked.emplace_back("lamp test");
        view.CallModel([&] { f.annunciation().LampTest(); });
      });
  const Connection shown = f.annunciation().changed().Connect(
      [&bar](const AnnunciationView& now) { bar.Show(now.state); });
  const QSize designed = view.size();
  EXPECT_FALSE(bar.label()->isVisible());

  f.ConnectCB.PerformClick();
  Image("40 00");  // Mains
  Report("15 00 00");
  view.CallModel([this] { Ticks(1); });
  EXPECT_TRUE(bar.label()->isVisible());
  EXPECT_EQ(bar.label()->text().toStdString(), "Alarm sounds: ALARM report");
  EXPECT_EQ(view.size(), designed) << "the status bar's additions leave the window as designed";
  if (std::getenv("ORV_SCREENSHOT_DIR") != nullptr) {
    ASSERT_TRUE(Settle());  // the events log's text and the bar's new layout first
    QTest::qWait(50);
    Screenshot(view.grab().toImage(), "annunciator.png");
  }

  QTest::keyClick(&view, Qt::Key_Escape);
  EXPECT_FALSE(bar.label()->isVisible());
  QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(bar.label()->text().toStdString(), "Fault sounds: Lamp test");
  QTest::mouseClick(bar.silence_button(), Qt::LeftButton);
  QTest::mouseClick(bar.lamp_test_button(), Qt::LeftButton);
  EXPECT_EQ(asked, (std::vector<std::string>{"Esc", "lamp test", "window", "lamp test"}));
}

}  // namespace
}  // namespace orv
