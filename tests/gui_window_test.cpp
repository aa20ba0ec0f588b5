// The real Qt window over a headless main window, on the offscreen platform: layout, the status
// bar's notices, line status, log-in and annunciator, the widgets' wiring both ways, and what
// assistive technology reads. With ORV_SCREENSHOT_DIR set it saves pictures of the window there.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <cstdlib>
#include <memory>
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
#include "platform/qt/qt_tick_timer.h"
#include "platform/qt/qt_tray_notice.h"
#include "tests/form_fixture.h"
#include "tests/support/wait_for.h"

namespace orv {
namespace {

class GuiTest : public test::FormTest {
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

// Counts a model event, passing it on to the handler the window wired up.
void CountEvent(Handler& event, int& count) {
  event = [previous = event, &count] {
    ++count;
    if (previous) previous();
  };
}

TEST_F(GuiTest, WindowAndWidgetsSitWhereTheTwipsSay) {
  QtFormView& view = Show();
  // Every pixel below is worked out by hand at 96 dpi, 15 twips a pixel.
  ASSERT_EQ(view.screen()->logicalDotsPerInch(), 96.0);
  EXPECT_EQ(view.windowTitle(), "Orvandel Program Ver 2.16.08");
  // 12270 twips wide; the outer height of 7600 twips holds 435 of caption and border. The
  // status bar lies below that client area, the window taller by its height.
  QtNoticeBar* bar = view.notice_bar();
  ASSERT_NE(bar, nullptr);
  ASSERT_GT(bar->height(), 0);
  EXPECT_EQ(view.size(), QSize(818, 478 + bar->height()));
  EXPECT_EQ(bar->geometry(), QRect(0, 478, 818, bar->height()));
  // A frame's children count from its outer corner, the picture box's from inside its border.
  QWidget* picture = Find("Trigger_PictureBox");
  const QPoint inside = static_cast<QFrame*>(picture)->contentsRect().topLeft();
  ASSERT_GT(inside.x(), 0);
  // Name and pixels, with the twips they come from.
  const std::pair<const char*, QRect> placed[] = {
      {"ConnectCB", {232, 400, 177, 65}},         // 3480, 6000, 2655, 975
      {"Shape1_7", {248, 160, 17, 9}},            // 3720, 2400, 255, 135
      {"ComPort_CB", {96, 24, 105, 24}},          // 1440, 360, 1575, 360: in a frame
      {"Trigger_CheckBox_3", {8, 80, 17, 17}},    // 120, 120 + 3 * 360, 255, 255
      {"EventsLogTextBox", {416, 32, 401, 435}},  // 6240, 480, 6015, 6525
      {"Line1", {240, 32, 161, 1}}};              // from (3600, 480) to (6000, 480)
  for (const auto& [name, expected] : placed) {
    QWidget* widget = Find(name);
    EXPECT_EQ(widget->geometry(),
              expected.translated(widget->parentWidget() == picture ? inside : QPoint()))
        << name;
  }
  EXPECT_FALSE(Find("Shape1_12")->isVisible()) << "a zone lamp, hidden";
  EXPECT_TRUE(Find("Shape1_11")->isVisible());

  // A key's colour, just inside its left edge (90 twips) and clear of its caption; disabled (not
  // connected) keys keep it. The picture has device pixels.
  ASSERT_TRUE(Settle());
  const QImage image = view.grab().toImage();
  const QRect key = Find("FaultAck_CB")->geometry();
  const QPointF at(key.left() + 6, key.center().y());
  EXPECT_EQ(image.pixelColor((at * image.devicePixelRatio()).toPoint()).name(), "#ffff80");
  Screenshot(image, "window.png");
  EXPECT_EQ(view.findChild<QTimer*>("TRTimer"), nullptr) << "the view keeps no tick of its own";
}

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

TEST(QtTickTimer, TicksEveryHundredMillisecondsPrecisely) {
  int ticks = 0;
  const QtTickTimer ticker([&ticks] { ++ticks; });
  EXPECT_EQ(ticker.timer().interval(), 100);
  EXPECT_EQ(ticker.timer().timerType(), Qt::PreciseTimer);
  EXPECT_TRUE(QTest::qWaitFor([&ticks] { return ticks >= 2; }, 5000));
}

TEST_F(GuiTest, OperatorActionsReachTheModelOnce) {
  Show();
  QTest::mouseClick(Find("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(form().link().port_connected());
  int clicks = 0;
  CountEvent(form().Trigger_CheckBox[4].Click, clicks);
  QTest::mouseClick(Find("Trigger_CheckBox_4"), Qt::LeftButton);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_4")->checkState(), Qt::Checked);
  // Disconnected, a port chosen from the list is saved only when the window closes.
  QTest::mouseClick(Find("ConnectCB"), Qt::LeftButton);
  Find("ComPort_CB")->setFocus();
  QTest::keyClick(Find("ComPort_CB"), Qt::Key_Down);
  EXPECT_EQ(form().config().SerialComPort, 2);
  view_->close();
  EXPECT_NE(test::ReadBytes(IniPath()).find("ComPort=2"), std::string::npos);
}

TEST_F(GuiTest, ModelChangesReachTheWidgetsWithoutComingBackOncePerTurn) {
  Show();
  ConnectAndClear();
  int clicks = 0;
  CountEvent(form().Trigger_CheckBox[2].Click, clicks);

  form().trigger_bank().set_ui_enabled(false);
  form().Trigger_CheckBox[2].SetValue(1);
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_2")->checkState(), Qt::Checked);
  form().Trigger_CheckBox[2].SetValue(2);
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_2")->checkState(), Qt::PartiallyChecked);
  form().trigger_bank().set_ui_enabled(true);
  form().TriggerLabel[2].SetCaption("Stairs");
  form().Shape1[0].SetFillStyle(Shape::kSolid);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Find<QLabel>("TriggerLabel_2")->text(), "Stairs");
  EXPECT_EQ(clicks, 2) << "only the model's own Click events";
  // A lit lamp is red, a dark one shows the window behind it.
  for (const auto& [lamp, lit] : {std::pair("Shape1_0", true), std::pair("Shape1_1", false)}) {
    const QImage image = Find(lamp)->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2) == Qt::red, lit) << lamp;
  }

  // The received text lies below the window's visible area: while nobody can see it, its line
  // edit is left alone (it would lay the whole text out at every change).
  auto* received = Find<QLineEdit>("Receiver_Text");
  port_.Deliver({0x02, 'A', 0x0D});
  port_.Deliver({0x0A, 0x7F});
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(received->visibleRegion().isEmpty());
  EXPECT_TRUE(received->text().isEmpty()) << "not laid out while out of sight";
  // Made visible (a taller window), it shows the text at once, and then once per event-loop turn.
  view_->resize(view_->width(), 600);
  ASSERT_FALSE(received->visibleRegion().isEmpty());
  ASSERT_TRUE(Settle());
  EXPECT_EQ(received->text(), QString::fromUtf16(u"\u2402A\u240D\u240A\u2421"));
  port_.Deliver({'C'});
  EXPECT_EQ(received->text().size(), 5) << "held back for this turn";
  // Longer than a line edit holds by default, and the newest text is the one in view.
  port_.Deliver(Bytes(40000, 'B'));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(received->text().size(), 40006);
  EXPECT_EQ(received->cursorPosition(), 40006);
  // A change of the box that leaves its text as it is does not set the text again (the line
  // edit would lay all of it out anew, and its cursor would jump to the end).
  received->setCursorPosition(0);
  form().Receiver_Text.SetEnabled(false);
  form().Receiver_Text.SetEnabled(true);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(received->cursorPosition(), 0);

  // Two "EMG Ack" reports a minute apart; the operator had put the cursor at the end.
  auto* log = Find<QPlainTextEdit>("EventsLogTextBox");
  form().decoder().DecodeEventReport(0x12, 0);
  ASSERT_TRUE(Settle());
  log->moveCursor(QTextCursor::End);
  now_.minute += 1;
  form().decoder().DecodeEventReport(0x12, 0);
  ASSERT_TRUE(Settle());
  const QStringList lines = log->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 3) << "CR LF is a line break here";
  EXPECT_TRUE(lines[0].contains("EMG Ack") && lines[1].contains("EMG Ack") && lines[0] != lines[1]);
  EXPECT_EQ(log->textCursor().position(), 0);
}

// Typed text stays as typed: no list item completes it, yet the list still picks items.
TEST_F(GuiTest, EditableComboBoxesTakeTypedTextAsTyped) {
  Show();
  ConnectAndClear();
  // Keys go to the focused combo box, which hands them to its line edit (and Qt completes only
  // there): as the operator types.
  auto* timer = Find<QComboBox>("Timer_CB");
  timer->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), timer);
  timer->lineEdit()->selectAll();
  QTest::keyClicks(timer, "5");
  EXPECT_EQ(timer->currentText().toStdString(), "5");
  EXPECT_EQ(form().Timer_CB.text(), "5");
  // Typed text is no item of the list: the first step down is its first item.
  QTest::keyClick(timer, Qt::Key_Down);
  EXPECT_EQ(form().Timer_CB.text(), "10");
  QTest::keyClick(timer, Qt::Key_Down);
  EXPECT_EQ(form().Timer_CB.text(), "20");
  // And from its popup. (What goes on the line for the time is the window model's test.)
  timer->showPopup();
  QAbstractItemView* list = timer->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(timer->model()->index(8, 0)).center());
  EXPECT_EQ(form().Timer_CB.text(), "90");
  EXPECT_FALSE(list->isVisible());
}

TEST_F(GuiTest, RenameByDoubleClickTypingAndEnterAndEditorsHandOverTheFocus) {
  Show();
  // Connected, the check boxes take the focus too: Qt would move it to the next row's box.
  form().ConnectCB.PerformClick();
  QTest::mouseDClick(Find("TriggerLabel_2"), Qt::LeftButton);
  auto* editor = Find<QLineEdit>("TriggerNameText_2");
  editor->selectAll();
  QTest::keyClicks(editor, "Lobby");
  // A paste keeps its line breaks; a one-line name holds blanks instead.
  QGuiApplication::clipboard()->setText("\r\nCall");
  QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form().TriggerNameText[2].text(), "Lobby  Call");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_2")->text(), "Lobby  Call");
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Find("Trigger_PictureBox"));

  // A double click without the press that would move the focus first: the model commits and
  // hides the open editor while Qt's focus is still in it, and opens the next one.
  QTest::mouseDClick(Find("TriggerLabel_0"), Qt::LeftButton);
  auto* first = Find<QLineEdit>("TriggerNameText_0");
  first->selectAll();
  QTest::keyClicks(first, "Hall");
  QMouseEvent double_click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Find("TriggerLabel_5"), &double_click);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "Hall");
  EXPECT_FALSE(first->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Find("TriggerNameText_5"));
  EXPECT_EQ(form().focus.focused(), &form().TriggerNameText[5]);
}

TEST_F(GuiTest, ScrollBarArrowMovesOneTriggerAndTheTrackTwelve) {
  Show();
  auto* bar = Find<QScrollBar>("Trigger_VScrollBar");
  int changes = 0;
  CountEvent(form().Trigger_VScrollBar.Change, changes);
  // The lower arrow is at the bottom end; with the slider near the top, the track below it.
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 3));
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 1);
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() * 3 / 4));
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 13);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(QApplication::focusWidget(), Find("Trigger_PictureBox"));
  // Dragging: one event for each value the slider passes.
  bar->setSliderDown(true);
  bar->setSliderPosition(20);
  bar->setSliderPosition(21);
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 21);
  EXPECT_EQ(changes, 4);
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

// For assistive technology every control has a name that says what it is, and Tab goes through
// the window as it reads: trigger bank, keys, connection, settings, events log.
TEST_F(GuiTest, EveryControlIsNamedAndTabFollowsTheWindow) {
  QtFormView& view = Show();
  ConnectAndClear();  // the keys take part once connected
  for (Control* control : form().controls()) {
    QWidget* widget = view.WidgetOf(control);
    // A line is decoration: nothing to say.
    if (widget == nullptr || !widget->isVisible() || control->kind() == ControlKind::kLine)
      continue;
    EXPECT_FALSE(widget->accessibleName().isEmpty()) << control->QualifiedName();
  }
  EXPECT_EQ(view.WidgetOf(&form().Shape1[6])->accessibleName(), "Fault lamp Mains");

  // The name prefixes of each reading group, in reading order; Tab never goes back a group.
  const std::vector<std::vector<std::string>> groups = {
      {"VirtualDevice_ComboBox", "Trigger_", "TriggerNameText"},
      {"EMG", "FaultAck_CB", "FaultReset_CB"},
      {"ConnectCB"},
      {"ComPort_CB", "BaudRate_CB", "SupervisionCheck", "Timer_CB"},
      {"EventsLogTextBox", "NoDisplayCheck", "Receiver_Text"}};
  const auto group_of = [&groups](const std::string& name) {
    for (std::size_t g = 0; g < groups.size(); ++g)
      for (const std::string& prefix : groups[g])
        if (name.starts_with(prefix)) return static_cast<int>(g);
    return -1;
  };
  int last_group = 0;
  int reached = 0;
  QWidget* first = view.WidgetOf(&form().VirtualDevice_ComboBox);
  for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled()) continue;
    const Control* control = view.ControlOf(w);
    if (control == nullptr) continue;
    const int group = group_of(control->QualifiedName());
    ASSERT_GE(group, last_group) << control->QualifiedName();
    last_group = group;
    ++reached;
  }
  EXPECT_EQ(last_group, 4);
  EXPECT_GE(reached, 10);
}

}  // namespace
}  // namespace orv
