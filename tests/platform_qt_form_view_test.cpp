// The real Qt window over a headless main window, on the offscreen platform: layout, the widgets'
// wiring both ways, and what assistive technology reads. (The status bar's parts: their rooms'.)
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_tick_timer.h"
#include "tests/gui_window_fixture.h"

namespace orv {
namespace {

using test::GuiTest;

// Counts a model event, passing it on to the handler the window wired up.
void CountEvent(Handler& event, int& count) {
  event = [previous = event, &count] {
    ++count;
    if (previous) previous();
  };
}

TEST_F(GuiTest, WidgetsSitWhereTheTwipsSayEveryControlIsNamedAndTabFollowsTheWindow) {
  QtFormView& view = Show();
  // Every pixel below is worked out by hand at 96 dpi, 15 twips a pixel.
  ASSERT_EQ(view.screen()->logicalDotsPerInch(), 96.0);
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

  // For assistive technology every control has a name that says what it is, and Tab goes through
  // the window as it reads: trigger bank, keys, connection, settings, events log.
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

TEST(QtTickTimer, TicksEveryHundredMillisecondsPrecisely) {
  int ticks = 0;
  const QtTickTimer ticker([&ticks] { ++ticks; });
  EXPECT_EQ(ticker.timer().interval(), 100);
  EXPECT_EQ(ticker.timer().timerType(), Qt::PreciseTimer);
  EXPECT_TRUE(QTest::qWaitFor([&ticks] { return ticks >= 2; }, 5000));
}

TEST_F(GuiTest, OperatorActionsReachTheModelOnceAndTheFocusMovesAsTheOperatorExpects) {
  Show();
  QTest::mouseClick(Find("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(form().link().port_connected());
  int clicks = 0;
  CountEvent(form().Trigger_CheckBox[4].Click, clicks);
  QTest::mouseClick(Find("Trigger_CheckBox_4"), Qt::LeftButton);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_4")->checkState(), Qt::Checked);
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
  // A rename: the check boxes take the focus too (connected), yet Enter hands it to the bank.
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
  form().Trigger_CheckBox[2].SetValue(2);
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_2")->checkState(), Qt::PartiallyChecked);
  form().trigger_bank().set_ui_enabled(true);
  form().Shape1[0].SetFillStyle(Shape::kSolid);
  ASSERT_TRUE(Settle());
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

}  // namespace
}  // namespace orv
