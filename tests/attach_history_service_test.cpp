// The service's journal in attached windows, from the real headless program over its socket: a
// window's Ctrl+H and History button open the same history window, fed page by page by the service,
// and a record the service commits while it is open comes on top. Pages asked for by hand hold
// their bounds.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "attach/qt/qt_attached_window.h"
#include "journal/qt/qt_history_model.h"
#include "journal/qt/qt_history_window.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/attached_window_fixture.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 5000;

class AttachedHistory : public test::AttachedWindowTest {
 protected:
  static std::vector<std::string> Texts(const QtHistoryWindow& window) {
    std::vector<std::string> texts;
    const QtHistoryModel* model = window.model();
    for (int row = 0; row < model->rowCount(); ++row)
      texts.push_back(model->row(row).entry.text);
    return texts;
  }
};

TEST_F(AttachedHistory, TheHistoryButtonShowsTheServicesRecordsAndTakesNewOnesOnTop) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  QtAttachedWindow window(socket_);
  window.view().show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Attached(window); }, kDeadlineMs));

  // Asked for at once, with Ctrl+H: the journal's first commit may be still to come.
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window.view()));
  QTest::keyClick(&window.view(), Qt::Key_H, Qt::ControlModifier);
  QtHistoryWindow* history = window.history();
  ASSERT_NE(history, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  // The service's own records, which this window's user could not read from the file.
  const auto shows = [&](const std::string& what) {
    for (const std::string& text : Texts(*history))
      if (text.find(what) != std::string::npos) return true;
    return false;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return shows("Connected: COM1"); }, kDeadlineMs))
      << history->status_text().toStdString();
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
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::vector<std::string> texts = Texts(*history);
        return !texts.empty() && texts.front().find("Event = EMG Ack") != std::string::npos;
      },
      kDeadlineMs))
      << history->status_text().toStdString();
  // Each record once, newest first, the event as the service numbered it.
  const QtHistoryModel* model = history->model();
  for (int row = 1; row < model->rowCount(); ++row)
    EXPECT_LT(model->row(row).sequence, model->row(row - 1).sequence) << row;
  const std::int64_t shown = model->row(0).sequence;
  EXPECT_EQ(service->Stop(), 0);
  for (const JournalRow& row : Rows())
    if (row.entry.text.find("Event = EMG Ack") != std::string::npos) EXPECT_EQ(row.sequence, shown);
}

TEST_F(AttachedHistory, PagesAskedOverTheSocketAreTheServicesOneAtATime) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  QtAttachClient client(socket_);
  std::vector<std::string> errors;
  std::vector<JournalPage> pages;
  std::int64_t committed = 0;
  const Connection page_came =
      client.history_page().Connect([&](const std::string& error, const JournalPage& page) {
        errors.push_back(error);
        pages.push_back(page);
      });
  const Connection commits =
      client.journal_committed().Connect([&](std::int64_t sequence) { committed = sequence; });
  client.Start();
  // The service says how far its journal goes; a few records are there from its start.
  ASSERT_TRUE(QTest::qWaitFor([&] { return committed >= 3; }, kDeadlineMs)) << committed;

  JournalPageQuery query;
  query.limit = 2;
  ASSERT_TRUE(client.AskHistory(query));
  EXPECT_FALSE(client.AskHistory(query));  // one at a time
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages.size() == 1; }, kDeadlineMs));
  EXPECT_EQ(errors[0], "");
  ASSERT_EQ(pages[0].rows.size(), 2U);
  EXPECT_TRUE(pages[0].more);
  EXPECT_GE(pages[0].newest_seen, committed);
  EXPECT_EQ(pages[0].rows[0].sequence, pages[0].newest_seen);

  // The next page goes on below the last row; a link filter takes the link's records only.
  query.before = pages[0].rows.back().sequence;
  query.filter.kind = JournalKind::kLink;
  query.limit = JournalPageQuery::kRows;
  ASSERT_TRUE(client.AskHistory(query));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages.size() == 2; }, kDeadlineMs));
  EXPECT_EQ(errors[1], "");
  EXPECT_FALSE(pages[1].more);
  EXPECT_EQ(service->Stop(), 0);

  // What came is what the service wrote.
  const std::vector<JournalRow> rows = Rows();
  std::vector<JournalRow> expected;
  for (const JournalRow& row : rows)
    if (row.sequence < query.before && row.entry.kind == JournalKind::kLink)
      expected.insert(expected.begin(), row);
  ASSERT_FALSE(expected.empty());
  ASSERT_EQ(pages[1].rows.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(pages[1].rows[i].sequence, expected[i].sequence);
    EXPECT_EQ(pages[1].rows[i].entry, expected[i].entry);
  }
}

}  // namespace
}  // namespace orv
