// The service's journal in attached windows, from the real headless program over its socket: a
// window's Ctrl+H and History button open the same history window, fed page by page by the service
// with the window's filters, and a record the service commits while it is open comes on top.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <string>

#include "attach/qt/qt_attached_window.h"
#include "journal/qt/qt_history_model.h"
#include "journal/qt/qt_history_window.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/attached_window_fixture.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 5000;

using AttachedHistory = test::AttachedWindowTest;

TEST_F(AttachedHistory, TheHistoryShowsTheServicesRecordsFilteredAndTakesNewOnesOnTop) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  QtAttachedWindow window(socket_);
  window.view().show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Attached(window); }, kDeadlineMs));
  std::int64_t committed = 0;
  int answers = 0;
  const Connection commits = window.client().journal_committed().Connect(
      [&](std::int64_t sequence) { committed = sequence; });
  const Connection pages = window.client().history_page().Connect(
      [&](const std::string&, const JournalPage&) { ++answers; });
  // Asked for with Ctrl+H: the journal's first commit may be still to come.
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window.view()));
  QTest::keyClick(&window.view(), Qt::Key_H, Qt::ControlModifier);
  QtHistoryWindow* history = window.history();
  ASSERT_NE(history, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  const QtHistoryModel* model = history->model();
  // Rows newest first, each once, and one of them (or the first) holds what.
  const auto shows = [&](const std::string& what, bool first = false) {
    bool found = false;
    for (int row = 0; row < model->rowCount(); ++row) {
      if (row > 0 && model->row(row).sequence >= model->row(row - 1).sequence) return false;
      found = found ||
              ((row == 0 || !first) && model->row(row).entry.text.find(what) != std::string::npos);
    }
    return found;
  };
  // The service's own records, which this window's user could not read from the file, and how
  // far they go.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return shows("Connected: COM1") && committed >= 3; }, kDeadlineMs))
      << history->status_text().toStdString() << " " << committed;
  // Exported by root at the site, not from here.
  EXPECT_FALSE(history->findChild<QPushButton*>("ExportCsvButton")->isEnabled());
  // Closed, the status bar's button shows the same window again.
  history->close();
  auto* button = window.view().notice_bar()->findChild<QPushButton*>("HistoryButton");
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(window.history(), history);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));

  // An event the controller reports, journalled by the service, on top.
  sim->Type("event 0x12 0");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shows("Event = EMG Ack", true); }, kDeadlineMs))
      << history->status_text().toStdString();
  // The window's filter goes with its pages: the link's records only.
  history->findChild<QComboBox*>("KindCombo")->setCurrentText("link");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shows("Connected: COM1"); }, kDeadlineMs));
  for (int row = 0; row < model->rowCount(); ++row)
    EXPECT_EQ(model->row(row).entry.kind, JournalKind::kLink) << row;
  // One page asked for at a time.
  const int answered = answers;
  ASSERT_TRUE(window.client().AskHistory({}));
  EXPECT_FALSE(window.client().AskHistory({}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers > answered; }, kDeadlineMs));
  EXPECT_EQ(service->Stop(), 0);
}

}  // namespace
}  // namespace orv
