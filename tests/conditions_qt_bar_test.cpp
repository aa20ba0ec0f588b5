// The status bar's conditions on the offscreen platform, wired as the program wires them: what
// stands is summed up in the bar at the window's designed size, and the list's Acknowledge and
// Shelve reach the window model as its operator's actions.
#include "conditions/qt/qt_conditions_bar.h"

#include <gtest/gtest.h>

#include <QtWidgets>
#include <string>

#include "annunciator/qt/qt_annunciator_bar.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/gui_window_fixture.h"

namespace orv {
namespace {

using test::GuiTest;

TEST_F(GuiTest, ConditionsAreSummedUpInTheBarAndActedOnFromTheirWindow) {
  QtFormView& view = Show();
  MainForm& f = form();
  // The designed controls, above the status bar, as they are drawn before the bar's additions.
  ASSERT_TRUE(Settle());
  const QRect controls(0, 0, view.width(), view.notice_bar()->y());
  const QImage drawn = view.grab(controls).toImage();
  // Beside the annunciator's words and buttons, as in the program.
  QtAnnunciatorBar annunciator(
      view, {"Silence", "Lamp test"}, [](std::string_view) {}, [] {});
  QtConditionsBar bar(
      view,
      [&](const std::string& id, const std::string& comment) {
        view.CallModel([&] { f.AcknowledgeFromWindow(id, comment); });
      },
      [&](const std::string& id, const std::string& reason, int minutes) {
        view.CallModel([&] { f.ShelveFromWindow(id, reason, minutes); });
      });
  const Connection shown = f.state_store().changed().Connect([&](unsigned sections, std::uint64_t) {
    if (sections & kSectionConditions) bar.Show(f.state_store().state().conditions);
  });
  bar.Show({Condition{}});
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(view.grab(controls).toImage() == drawn) << "the designed controls changed";
  const QSize designed = view.size();
  f.ConnectCB.PerformClick();
  Image("41 00");  // Mains and Processor reset
  Report("14 00 00");
  Report("15 00 00");
  view.CallModel([this] { Ticks(1); });
  const QString summary = QString::fromUtf8("2 alarms (first ALERT, latest ALARM) \u00B7 2 faults");
  EXPECT_EQ(bar.button()->text(), summary);
  EXPECT_EQ(view.size(), designed) << "the bar's additions leave the window as designed";
  ASSERT_TRUE(Settle());
  EXPECT_GE(bar.button()->width(), bar.button()->fontMetrics().horizontalAdvance(summary))
      << "the summary is cut at the window's size";

  bar.button()->click();
  ASSERT_NE(bar.list_window(), nullptr);
  EXPECT_TRUE(bar.list_window()->isVisible());
  EXPECT_FALSE(bar.list_window()->isModal());
  ASSERT_EQ(bar.list()->count(), 4);
  EXPECT_EQ(bar.list()->item(2)->data(Qt::UserRole).toString(), "fault-1");
  const auto act = [&](int row, const char* text, const char* button) {
    bar.list()->setCurrentRow(row);
    bar.list_window()->findChild<QLineEdit*>("ConditionText")->setText(text);
    bar.list_window()->findChild<QPushButton*>(button)->click();
    view.CallModel([this] { Ticks(1); });
  };
  act(2, "card seen", "AcknowledgeButton");
  act(3, "works", "ShelveButton");
  EXPECT_EQ(bar.button()->text(),
            summary.left(summary.lastIndexOf('2')) + "1 fault \u00B7 1 shelved");
  const std::vector<Condition>& now = f.state_store().state().conditions;
  ASSERT_EQ(now.size(), 4u);
  EXPECT_EQ(now[2].id + " " + now[2].comment, "fault-1 card seen");
  EXPECT_EQ(now[3].id + " " + now[3].shelved_reason, "fault-7 works");
  EXPECT_EQ(bar.list()->item(3)->background().color(), QColor(255, 240, 150));
  bar.faults_only()->setChecked(true);
  ASSERT_EQ(bar.list()->count(), 2);
  EXPECT_EQ(bar.list()->item(0)->data(Qt::UserRole).toString(), "fault-1");
}

}  // namespace
}  // namespace orv
