// The annunciator in the real window, offscreen: the status bar's buttons and the window's keys
// reach the model, what sounds is shown beside the notices, and the designed window stays as it
// is. With ORV_SCREENSHOT_DIR set it writes docs/annunciator.png.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "annunciator/qt/qt_annunciator_bar.h"
#include "journal/qt/qt_history_window.h"
#include "link/frame.h"
#include "linkwatch/qt/qt_line_status.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

class GuiAnnunciator : public test::FormTest {};

TEST_F(GuiAnnunciator, ButtonsAndKeysReachTheModelAndWhatSoundsIsShown) {
  MainForm& f = Load();
  QtFormView view(f.MainFormWindow, f.controls(), f.focus, [&f] { f.Form_Unload(); });
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
  view.show();
  view.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  const QSize designed = view.size();
  EXPECT_FALSE(bar.label()->isVisible());

  f.ConnectCB.PerformClick();
  port_.Deliver(EncodeFrame(cmd::kFaultImage, test::Hex("40 00")));  // Mains
  port_.Deliver(EncodeFrame(cmd::kReport, test::Hex("15 00 00")));
  view.CallModel([this] { Ticks(1); });
  EXPECT_TRUE(bar.label()->isVisible());
  EXPECT_EQ(bar.label()->text().toStdString(), "Alarm sounds: ALARM report");
  EXPECT_EQ(view.size(), designed) << "the status bar's additions leave the window as designed";
  if (const char* folder = std::getenv("ORV_SCREENSHOT_DIR")) {
    // The events log's text and the bar's new layout first.
    ASSERT_TRUE(QTest::qWaitFor([&view] { return !view.text_pending(); }, 5000));
    QTest::qWait(50);
    const QString file = QString::fromLocal8Bit(folder) + "/annunciator.png";
    ASSERT_TRUE(view.grab().toImage().save(file, "PNG")) << file.toStdString();
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
