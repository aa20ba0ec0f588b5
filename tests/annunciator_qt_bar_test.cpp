// The status bar's words of the annunciator, Silence and Lamp test, on the offscreen platform.
#include "annunciator/qt/qt_annunciator_bar.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <cstdlib>
#include <string>
#include <vector>

#include "journal/qt/qt_history_button.h"
#include "linkwatch/qt/qt_line_status.h"
#include "tests/gui_window_fixture.h"

namespace orv {
namespace {

using test::GuiTest;

TEST_F(GuiTest, AnnunciatorButtonsAndKeysReachTheModelAndWhatSoundsIsShown) {
  QtFormView& view = Show();
  MainForm& f = form();
  QtLineStatus line(view);
  line.Show(f.line_status());
  const Connection line_shown =
      f.line_status_changed().Connect([&line](const LineStatus& status) { line.Show(status); });
  AddHistoryButton(view, "History", [] {});
  // Wired as the program wires it.
  std::vector<std::string> asked;
  QtAnnunciatorBar bar(
      view, {"Silence", "Lamp test"},
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
