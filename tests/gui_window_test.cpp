// The real Qt window over a headless main window: widgets, geometry, and the traffic between
// operator actions and the model in both directions. Runs on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_message_box.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;

constexpr int kWaitMs = 5000;

class GuiTest : public FormTest {
 protected:
  // Loads the model, then builds and shows the window over it and makes it the active window.
  QtFormView& Show() {
    Load();
    view_ = std::make_unique<QtFormView>(
        form().MainFormWindow, form().controls(), form().focus, [this] { ++ticks_; },
        [this] {
          ++closes_;
          form().Form_Unload();
        });
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

  // Expected pixels, worked out here from the dpi this test sees.
  int Px(int twips) const {
    return static_cast<int>(std::lround(twips * view_->screen()->logicalDotsPerInch() / 1440.0));
  }

  // Lets the event loop run until the held-back text updates have been shown.
  bool Settle() {
    return QTest::qWaitFor([this] { return !view_->text_pending(); }, kWaitMs);
  }

  void TearDown() override { view_.reset(); }

  std::unique_ptr<QtFormView> view_;
  int ticks_ = 0;
  int closes_ = 0;
};

// Counts an event of a model control, passing it on to the handler the window wired up.
void CountEvent(Handler& event, int& count) {
  event = [previous = event, &count] {
    ++count;
    if (previous) previous();
  };
}

TEST_F(GuiTest, WindowHasItsTitleAndClientSize) {
  QtFormView& view = Show();
  EXPECT_EQ(view.windowTitle(), "Orvandel Program Ver 2.16.08");
  EXPECT_EQ(view.objectName(), "MainForm");
  // The outer height of 7600 twips holds 435 of caption and border.
  EXPECT_EQ(view.size(), QSize(Px(12270), Px(7600 - 435)));
  const QString family = QFontInfo(Find("Label1")->font()).family();
  EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
}

TEST_F(GuiTest, WidgetsSitWhereTheTwipsSay) {
  Show();
  struct Placed {
    const char* name;
    int left, top, width, height;
  };
  // Controls on the window and in the frame (a frame's children count from its outer corner).
  const Placed placed[] = {
      {"ConnectCB", 3480, 6000, 2655, 975},
      {"EMG_CB", 3480, 3720, 1215, 615},
      {"FaultReset_CB", 4920, 5160, 1215, 615},
      {"VirtualDevice_ComboBox", 120, 120, 3255, 360},
      {"Trigger_PictureBox", 120, 600, 3255, 4575},
      {"Shape1_7", 3720, 2160 + 240, 255, 135},
      {"Label2_1", 4200, 840, 1455, 255},
      {"EventsLogTextBox", 6240, 480, 6015, 6525},
      {"RS232Setting_Frame", 120, 5280, 3255, 1750},
      {"ComPort_CB", 1440, 360, 1575, 360},
      {"SupervisionCheck", 240, 1320, 1695, 255},
  };
  for (const Placed& p : placed) {
    EXPECT_EQ(Find(p.name)->geometry(), QRect(Px(p.left), Px(p.top), Px(p.width), Px(p.height)))
        << p.name;
  }
  EXPECT_EQ(Find("ConnectCB")->geometry(), QRect(Px(3480), Px(6000), Px(2655), Px(975)));

  // The rows of the trigger bank count from inside the picture box's border.
  const QPoint inside = Find<QFrame>("Trigger_PictureBox")->contentsRect().topLeft();
  EXPECT_GT(inside.x(), 0);
  EXPECT_EQ(Find("Trigger_VScrollBar")->geometry(),
            QRect(Px(2820), Px(0), Px(375), Px(4530)).translated(inside));
  EXPECT_EQ(Find("Trigger_CheckBox_3")->geometry(),
            QRect(Px(120), Px(120 + 3 * 360), Px(255), Px(255)).translated(inside));
  // Start-up moved the editors over the labels.
  EXPECT_EQ(Find("TriggerNameText_2")->geometry(),
            QRect(Px(360), Px(120 + 2 * 360), Px(2415), Px(285)).translated(inside));
  EXPECT_EQ(Find("Trigger_VScrollBar")->parentWidget(), Find("Trigger_PictureBox"));
  EXPECT_EQ(Find("DisplayType_OptionButton_1")->parentWidget(), Find("Frame1"));

  // The line runs from (3600, 480) to (6000, 480).
  EXPECT_EQ(Find("Line1")->geometry(), QRect(Px(3600), Px(480), Px(6000) - Px(3600) + 1, 1));
}

TEST_F(GuiTest, EachKindOfControlHasItsWidget) {
  Show();
  EXPECT_EQ(Find<QPushButton>("ConnectCB")->text(), "Connection");
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_0")->text(), "Real Trigger 1");
  EXPECT_EQ(Find<QRadioButton>("DisplayType_OptionButton_2")->text(), "Dec");
  EXPECT_TRUE(Find<QRadioButton>("DisplayType_OptionButton_0")->isChecked());
  EXPECT_EQ(Find<QGroupBox>("RS232Setting_Frame")->title(), "RS232 Configuration");
  EXPECT_EQ(Find<QLabel>("ComPort_LB")->text(), "Com  Port");

  auto* pages = Find<QComboBox>("VirtualDevice_ComboBox");
  EXPECT_TRUE(pages->isEditable());
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->itemText(2), "Soft Trigger 1-120");
  EXPECT_EQ(pages->currentText(), "EMG Trigger 1-60");
  auto* ports = Find<QComboBox>("ComPort_CB");
  EXPECT_FALSE(ports->isEditable());
  EXPECT_EQ(ports->count(), 10);
  EXPECT_EQ(ports->currentText(), "COM1");
  EXPECT_EQ(Find<QComboBox>("BaudRate_CB")->currentText(), "9600");
  EXPECT_EQ(Find<QComboBox>("Timer_CB")->currentText(), "10");

  EXPECT_TRUE(Find<QPlainTextEdit>("EventsLogTextBox")->toPlainText().isEmpty());
  EXPECT_EQ(Find<QLineEdit>("TriggerNameText_5")->text(), "EMG Trigger 6");
  EXPECT_EQ(Find<QLabel>("TriggerLabel_11")->text(), "EMG Trigger 12");
  auto* bar = Find<QScrollBar>("Trigger_VScrollBar");
  EXPECT_EQ(bar->orientation(), Qt::Vertical);
  EXPECT_EQ(bar->maximum(), 48);
  EXPECT_EQ(bar->singleStep(), 1);
  EXPECT_EQ(bar->pageStep(), 12);
  EXPECT_EQ(Find<QFrame>("Trigger_PictureBox")->focusPolicy(), Qt::StrongFocus);
}

TEST_F(GuiTest, HiddenControlsAreHiddenAndDisabledOnesDisabled) {
  Show();
  std::vector<std::string> hidden = {
      "IMPC_CB",    "Clear_CommandButton",       "Transmission_CommandButton",
      "Frame1",     "RS232BitType_LB",           "imgRS232_0",
      "imgRS232_1", "DisplayType_OptionButton_0"};
  for (int i = 12; i < 24; ++i)
    hidden.push_back("Shape1_" + std::to_string(i));
  for (int i = 0; i < 12; ++i) {
    hidden.push_back("Label3_" + std::to_string(i));
    hidden.push_back("TriggerNameText_" + std::to_string(i));
  }
  for (const std::string& name : hidden)
    EXPECT_FALSE(Find(name)->isVisible()) << name;
  for (const char* name :
       {"EMG_CB", "ConnectCB", "Shape1_0", "Shape1_11", "Label2_11", "TriggerLabel_0",
        "Trigger_VScrollBar", "EventsLogTextBox", "NoDisplayCheck", "SupervisionCheck"}) {
    EXPECT_TRUE(Find(name)->isVisible()) << name;
  }
  // Disconnected: the keys and trigger boxes are off, the port list is on.
  EXPECT_FALSE(Find("EMG_CB")->isEnabled());
  EXPECT_FALSE(Find("Trigger_CheckBox_0")->isEnabled());
  EXPECT_FALSE(Find("BaudRate_CB")->isEnabled());
  EXPECT_TRUE(Find("ComPort_CB")->isEnabled());
  EXPECT_TRUE(Find("ConnectCB")->isEnabled());
}

TEST_F(GuiTest, ClickingATriggerBoxSendsOneFrame) {
  Show();
  QTest::mouseClick(Find("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(form().shared().PortConnected);
  EXPECT_EQ(Find<QPushButton>("ConnectCB")->text(), "Disconnection");
  auto* box = Find<QCheckBox>("Trigger_CheckBox_4");
  ASSERT_TRUE(box->isEnabled());
  int clicks = 0;
  CountEvent(form().Trigger_CheckBox[4].Click, clicks);
  port_.ClearWrites();

  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(form().Trigger_CheckBox[4].value(), 1);
  EXPECT_EQ(form().shared().States(0).Get(5), 1);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0], test::Hex("02 02 13 05 01 DD 03"));
  EXPECT_EQ(box->checkState(), Qt::Checked);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(port_.writes().size(), 1u);
}

TEST_F(GuiTest, ModelChangesReachTheWidgetsWithoutComingBack) {
  Show();
  form().ConnectCB.PerformClick();
  EXPECT_TRUE(Find("Trigger_CheckBox_2")->isEnabled());
  port_.ClearWrites();
  int clicks = 0;
  CountEvent(form().Trigger_CheckBox[2].Click, clicks);

  form().shared().TriggerUiEnabled = false;
  form().Trigger_CheckBox[2].SetValue(1);
  form().shared().TriggerUiEnabled = true;
  form().TriggerLabel[2].SetCaption("Stairs");
  form().Shape1[0].SetFillStyle(Shape::kSolid);
  ASSERT_TRUE(Settle());

  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_2")->checkState(), Qt::Checked);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_2")->text(), "Stairs");
  EXPECT_EQ(clicks, 1) << "only the model's own Click";
  EXPECT_TRUE(port_.writes().empty());

  // A lit lamp is red, a dark one shows the window behind it.
  auto* lit = Find("Shape1_0");
  auto* dark = Find("Shape1_1");
  const QColor lit_centre = lit->grab().toImage().pixelColor(lit->width() / 2, lit->height() / 2);
  const QColor dark_centre =
      dark->grab().toImage().pixelColor(dark->width() / 2, dark->height() / 2);
  EXPECT_EQ(lit_centre, QColor(255, 0, 0));
  EXPECT_NE(dark_centre, QColor(255, 0, 0));
  form().Shape1[0].SetFillStyle(Shape::kTransparent);
  EXPECT_NE(lit->grab().toImage().pixelColor(lit->width() / 2, lit->height() / 2),
            QColor(255, 0, 0));

  // A grayed box shows partly checked; the program's own values never count as clicks.
  form().shared().TriggerUiEnabled = false;
  form().Trigger_CheckBox[2].SetValue(2);
  form().shared().TriggerUiEnabled = true;
  EXPECT_EQ(Find<QCheckBox>("Trigger_CheckBox_2")->checkState(), Qt::PartiallyChecked);
  EXPECT_TRUE(port_.writes().empty());
}

TEST_F(GuiTest, DoubleClickRenameAndEnterCommits) {
  Show();
  QTest::mouseDClick(Find("TriggerLabel_2"), Qt::LeftButton);
  auto* editor = Find<QLineEdit>("TriggerNameText_2");
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), editor);
  EXPECT_EQ(form().focus.focused(), &form().TriggerNameText[2]);
  EXPECT_EQ(editor->text(), "EMG Trigger 3");

  editor->selectAll();
  QTest::keyClicks(editor, "Lobby Call");
  EXPECT_EQ(form().TriggerNameText[2].text(), "Lobby Call");
  EXPECT_EQ(Find<QLabel>("TriggerLabel_2")->text(), "EMG Trigger 3") << "not committed yet";

  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_2")->text(), "Lobby Call");
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(form().focus.focused(), &form().Trigger_PictureBox);
  EXPECT_EQ(QApplication::focusWidget(), Find("Trigger_PictureBox"));
  EXPECT_NE(test::ReadBytes(IniPath()).find("ETRG 3=Lobby Call"), std::string::npos);
}

TEST_F(GuiTest, OpeningASecondEditorCommitsTheFirst) {
  Show();
  QTest::mouseDClick(Find("TriggerLabel_0"), Qt::LeftButton);
  auto* first = Find<QLineEdit>("TriggerNameText_0");
  first->selectAll();
  QTest::keyClicks(first, "Hall");
  // The press of a double click gives the picture box the focus, and that commits the first
  // editor before the second one opens.
  QTest::mouseDClick(Find("TriggerLabel_5"), Qt::LeftButton);
  auto* second = Find<QLineEdit>("TriggerNameText_5");
  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "Hall");
  EXPECT_FALSE(first->isVisible());
  EXPECT_TRUE(second->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), second);
  EXPECT_EQ(form().focus.focused(), &form().TriggerNameText[5]);
}

TEST_F(GuiTest, HidingTheFocusedEditorInsideTheModelLeavesTheFocusToTheModel) {
  Show();
  // Connected, the check boxes take the focus: the next in Qt's chain after an editor is the
  // check box of the following row.
  form().ConnectCB.PerformClick();
  QTest::mouseDClick(Find("TriggerLabel_0"), Qt::LeftButton);
  auto* first = Find<QLineEdit>("TriggerNameText_0");
  ASSERT_EQ(QApplication::focusWidget(), first);
  first->selectAll();
  QTest::keyClicks(first, "Hall");
  // A double click alone, without the press that would move the focus first: the model opens
  // the second editor while Qt's focus is still in the first, so the first is committed and
  // hidden while it has the focus, and Qt moves the focus on by itself.
  QMouseEvent double_click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Find("TriggerLabel_5"), &double_click);
  auto* second = Find<QLineEdit>("TriggerNameText_5");

  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "Hall");
  EXPECT_FALSE(first->isVisible());
  // Qt's own move was no operator action: the model's choice wins.
  EXPECT_TRUE(second->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), second);
  EXPECT_EQ(form().focus.focused(), &form().TriggerNameText[5]);
}

TEST_F(GuiTest, PastedLineBreaksBecomeBlanks) {
  Show();
  QTest::mouseDClick(Find("TriggerLabel_0"), Qt::LeftButton);
  auto* editor = Find<QLineEdit>("TriggerNameText_0");
  QGuiApplication::clipboard()->setText("Up\r\nDown");
  editor->selectAll();
  QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form().TriggerNameText[0].text(), "Up  Down");
  ASSERT_TRUE(Settle());
  EXPECT_EQ(editor->text(), "Up  Down");
  QTest::keyClick(editor, Qt::Key_Enter);
  EXPECT_EQ(form().config().Names(0)[0], "Up  Down");
}

TEST_F(GuiTest, ScrollBarStepsMoveTheRows) {
  Show();
  auto* bar = Find<QScrollBar>("Trigger_VScrollBar");
  int changes = 0;
  CountEvent(form().Trigger_VScrollBar.Change, changes);

  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 1);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "EMG Trigger 2");
  EXPECT_EQ(Find<QLabel>("TriggerLabel_11")->text(), "EMG Trigger 13");

  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 13);
  EXPECT_EQ(bar->value(), 13);
  EXPECT_EQ(form().shared().TriggerScrollOffset, 13);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "EMG Trigger 14");
  EXPECT_EQ(Find<QLabel>("TriggerLabel_11")->text(), "EMG Trigger 25");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(form().focus.focused(), &form().Trigger_PictureBox);

  // A real click on the lower arrow: one step, and the picture box ends up with the focus.
  QStyleOptionSlider option;
  option.initFrom(bar);
  option.orientation = Qt::Vertical;
  option.minimum = bar->minimum();
  option.maximum = bar->maximum();
  option.sliderPosition = option.sliderValue = bar->value();
  option.singleStep = bar->singleStep();
  option.pageStep = bar->pageStep();
  const QRect arrow =
      bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, bar);
  ASSERT_TRUE(arrow.isValid());
  QTest::mouseClick(bar, Qt::LeftButton, {}, arrow.center());
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 14);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(QApplication::focusWidget(), Find("Trigger_PictureBox"));

  // Dragging the slider: one event for each value it passes, none for staying put.
  bar->setSliderDown(true);
  bar->setSliderPosition(20);
  bar->setSliderPosition(20);
  bar->setSliderPosition(21);
  bar->setSliderDown(false);
  EXPECT_EQ(form().Trigger_VScrollBar.value(), 21);
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(Find<QLabel>("TriggerLabel_0")->text(), "EMG Trigger 22");
}

TEST_F(GuiTest, ChoosingAPortFromTheListIsSavedOnClose) {
  Show();
  auto* ports = Find<QComboBox>("ComPort_CB");
  ports->setFocus();
  QTest::keyClick(ports, Qt::Key_Down);
  EXPECT_EQ(form().ComPort_CB.list_index(), 1);
  EXPECT_EQ(form().config().SerialComPort, 2);
  EXPECT_TRUE(form().serial_settings_changed());

  view_->close();
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(view_->isVisible());
  EXPECT_NE(test::ReadBytes(IniPath()).find("ComPort=2"), std::string::npos);
}

TEST_F(GuiTest, ReceivedBytesShowOncePerTurnWithControlCharactersVisible) {
  Show();
  auto* receiver = Find<QLineEdit>("Receiver_Text");
  port_.Deliver({0x02, 'A', 0x0D});
  port_.Deliver({0x0A, 0x7F});
  EXPECT_EQ(form().Receiver_Text.text(),
            "\x02"
            "A\r\n\x7f");
  EXPECT_TRUE(receiver->text().isEmpty()) << "held back until the event loop turns";
  ASSERT_TRUE(Settle());
  EXPECT_EQ(receiver->text(), QString::fromUtf16(u"\u2402A\u240D\u240A\u2421"));
}

TEST_F(GuiTest, EventsLogShowsNewestLineFirstFromTheTop) {
  Show();
  // Two "EMG Ack" reports (code 0x12), a minute apart.
  form().decoder().DecodeEventReport(0x12, 0);
  const std::string first = form().EventsLogTextBox.text();
  ASSERT_NE(first.find("EMG Ack"), std::string::npos);
  const std::string first_line = first.substr(0, first.find("\r\n"));
  ASSERT_TRUE(Settle());
  auto* log = Find<QPlainTextEdit>("EventsLogTextBox");
  EXPECT_EQ(log->toPlainText().toStdString(), first_line + "\n");
  // The operator put the cursor at the end; the next line brings the view back to the top.
  QTextCursor cursor = log->textCursor();
  cursor.movePosition(QTextCursor::End);
  log->setTextCursor(cursor);

  now_.minute += 1;
  form().decoder().DecodeEventReport(0x12, 0);
  ASSERT_TRUE(Settle());
  const QStringList lines = log->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_NE(lines[0], lines[1]);
  EXPECT_TRUE(lines[0].contains("EMG Ack"));
  EXPECT_EQ(lines[1].toStdString(), first_line);
  EXPECT_FALSE(log->toPlainText().contains(QChar(0x240D))) << "CR LF is a line break here";
  EXPECT_EQ(log->textCursor().position(), 0);
}

TEST_F(GuiTest, TimerTicksEvery100MillisecondsPrecisely) {
  Show();
  auto* timer = view_->findChild<QTimer*>("TRTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 100);
  EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
  EXPECT_TRUE(QTest::qWaitFor([this] { return ticks_ >= 2; }, kWaitMs));
}

TEST_F(GuiTest, WindowColoursTheKeysAndCanBeSaved) {
  QtFormView& view = Show();
  ASSERT_TRUE(Settle());
  const QImage image = view.grab().toImage();
  // Just inside each key's left edge, clear of its caption.
  // The picture has device pixels: twice as many as the layout's when the screen scales by 2.
  const double scale = image.devicePixelRatio();
  auto colour_of = [&](const char* name) {
    const QRect key = Find(name)->geometry();
    const QPoint at(key.left() + Px(90), key.center().y());
    return image.pixelColor((QPointF(at) * scale).toPoint());
  };
  const QColor pink = colour_of("EMG_CB");
  const QColor yellow = colour_of("FaultAck_CB");
  const QColor green = colour_of("EMGReset_CB");
  EXPECT_EQ(pink, QColor(255, 128, 128)) << pink.name().toStdString();
  EXPECT_EQ(yellow, QColor(255, 255, 128)) << yellow.name().toStdString();
  EXPECT_EQ(green, QColor(128, 255, 128)) << green.name().toStdString();
  // Disabled keys (the window is not connected) keep their colour.
  EXPECT_FALSE(Find("EMG_CB")->isEnabled());

  const char* folder = std::getenv("ORV_SCREENSHOT_DIR");
  if (folder == nullptr) return;
  const QString file = QString::fromLocal8Bit(folder) + "/window.png";
  ASSERT_TRUE(image.save(file, "PNG")) << file.toStdString();
  EXPECT_EQ(QImage(file).size(), image.size());
}

TEST_F(GuiTest, MessageBoxIsModalWithTheStopIcon) {
  QtFormView& view = Show();
  struct Seen {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool modal = false;
  } seen;
  // Answers the box as soon as it is up; gives up after the deadline.
  QTimer answer;
  int polls = 0;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      if (++polls * 10 > kWaitMs) answer.stop();
      return;
    }
    seen = {box->text(), box->windowTitle(), box->icon(), static_cast<int>(box->buttons().size()),
            box->isModal()};
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(10);
  QtMessageBox (&view)("Com Port Fail!", "Orvandel Program", MessageIcon::kStop);
  answer.stop();
  EXPECT_EQ(seen.text, "Com Port Fail!");
  EXPECT_EQ(seen.title, "Orvandel Program");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, 1);
  EXPECT_TRUE(seen.modal);
}

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest does so at build time) needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
