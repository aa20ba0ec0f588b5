// The history window over a journal of known records, its button in the main window, and its
// model over a source that answers later, as the service does over its socket.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "journal/qt/qt_history_model.h"
#include "journal/qt/qt_history_window.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

class HistoryWindowTest : public ::testing::Test {
 protected:
  HistoryWindowTest() : journal_(temp_.path(), nullptr) {
    connection_ = journal_.committed().Connect([this](std::int64_t sequence) {
      if (window_) window_->OnCommitted(sequence);
    });
  }
  void Add(std::int64_t utc_ms, JournalKind kind, std::string text, std::string login,
           std::string detail = {}) {
    JournalEntry entry = test::PanelEntry(utc_ms, kind, std::move(text), std::move(login));
    entry.detail = std::move(detail);
    journal_.Append(std::move(entry));
  }
  QtHistoryWindow& Show() {
    window_ = std::make_unique<QtHistoryWindow>(journal_.file());
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    return *window_;
  }
  template <typename W>
  W* Find(const char* name) {
    W* widget = window_->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  test::TempFolder temp_;
  Journal journal_;
  Connection connection_;
  std::unique_ptr<QtHistoryWindow> window_;
};

TEST_F(HistoryWindowTest, ShowsTheRecordsNewestFirstFiltersAndExportsAndBoundsTheTime) {
  // Six records, a minute apart.
  Add(kBase, JournalKind::kProgram, "Program started: Orvandel Program Ver 2.16.08, user alice",
      "alice");
  Add(kBase + 60000, JournalKind::kLink, "Connected: COM1 (/dev/ttyUSB0) 9600,N,8,1", "alice");
  Add(kBase + 120000, JournalKind::kEvent, "12/07 01:02 Event = EMG Ack", "alice");
  Add(kBase + 180000, JournalKind::kOperator, "Key EMG ACK", "bob");
  Add(kBase + 240000, JournalKind::kOperator, "Renamed EMG Trigger 7: \"Lobby\" to \"Hall, east\"",
      "bob");
  Add(kBase + 300000, JournalKind::kEvent, "12/07 01:05 Event = Fault 0000000000000100", "alice",
      "Call/EMG");
  ASSERT_TRUE(journal_.Commit());
  QtHistoryWindow& window = Show();
  ASSERT_EQ(window.model()->rowCount(), 6);
  // The local time where each record was written (one hour east of UTC), year and seconds.
  std::vector<std::string> first_row;
  for (int column = 0; column < QtHistoryModel::kColumnCount; ++column)
    first_row.push_back(window.model()->index(0, column).data().toString().toStdString());
  EXPECT_EQ(first_row, (std::vector<std::string>{"2026-12-07 01:05:00", "event",
                                                 "12/07 01:05 Event = Fault 0000000000000100",
                                                 "Call/EMG", "alice"}));
  // PDF without its dialog; what goes wrong in the window's own status line.
  const QString pdf = QString::fromStdString((temp_.path() / "journal.pdf").string());
  ASSERT_TRUE(window.SaveAsPdf(pdf));
  EXPECT_EQ(test::ReadBytes(pdf.toStdString()).substr(0, 5), "%PDF-");
  EXPECT_EQ(window.status_text().toStdString(), "6 records printed to " + pdf.toStdString());
  const QString nowhere = QString::fromStdString((temp_.path() / "none" / "x.csv").string());
  EXPECT_FALSE(window.ExportCsv(nowhere));
  EXPECT_TRUE(window.status_text().startsWith("Not exported to " + nowhere))
      << window.status_text().toStdString();
  if (const char* folder = std::getenv("ORV_SCREENSHOT_DIR")) {
    window.table()->selectRow(1);
    const QString file = QString::fromLocal8Bit(folder) + "/history.png";
    ASSERT_TRUE(window.grab().save(file, "PNG")) << file.toStdString();
  }

  // Free text, typed: the table follows after the typing pause; one kind as well. (What a filter
  // takes is the journal's query test.)
  QTest::keyClicks(Find<QLineEdit>("TextFilter"), "emg ACK");
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.model()->filter().text == "emg ACK"; }, 5000));
  Find<QComboBox>("KindCombo")->setCurrentText("operator");
  EXPECT_EQ(window.model()->filter(), (JournalFilter{{}, {}, JournalKind::kOperator, "emg ACK"}));

  // Export: what the filters take, oldest first, as CSV.
  const QString csv = QString::fromStdString((temp_.path() / "filtered.csv").string());
  Find<QLineEdit>("TextFilter")->setText("bob");
  ASSERT_TRUE(window.ExportCsv(csv));
  // (Each field as written is the journal's CSV test.)
  EXPECT_EQ(std::ranges::count(test::ReadBytes(csv.toStdString()), '\n'), 3) << "header and two";
  EXPECT_EQ(window.status_text().toStdString(), "2 records exported to " + csv.toStdString());

  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // Time bounds take their whole seconds and can be turned off.
  auto* from_on = Find<QCheckBox>("FromCheck");
  auto* from = Find<QDateTimeEdit>("FromEdit");
  auto* to_on = Find<QCheckBox>("ToCheck");
  EXPECT_FALSE(from->isEnabled()) << "a bound that is off cannot be edited";
  from_on->setChecked(true);
  EXPECT_TRUE(from->isEnabled());
  from->setDateTime(QDateTime::fromMSecsSinceEpoch(kBase + 60000));
  to_on->setChecked(true);
  Find<QDateTimeEdit>("ToEdit")->setDateTime(QDateTime::fromMSecsSinceEpoch(kBase + 180000));
  EXPECT_EQ(window.model()->filter(),
            (JournalFilter{kBase + 60000, kBase + 180999, JournalKind::kOperator, "bob"}));
  from_on->setChecked(false);
  to_on->setChecked(false);
  EXPECT_EQ(window.model()->filter(), (JournalFilter{{}, {}, JournalKind::kOperator, "bob"}));
}

TEST_F(HistoryWindowTest, ReadsPagesAsTheTableScrollsDown) {
  for (int i = 0; i <= int(JournalPageQuery::kRows); ++i)
    Add(kBase + i * 1000, JournalKind::kEvent, "report " + std::to_string(i + 1), "alice");
  ASSERT_TRUE(journal_.Commit());
  QtHistoryWindow& window = Show();
  EXPECT_EQ(window.status_text().toStdString(), "200 records shown, more below");
  // (Which page comes next is the model's test.)
  window.table()->scrollToBottom();
  QApplication::processEvents();
  EXPECT_EQ(window.status_text().toStdString(), "201 records");
}

TEST_F(HistoryWindowTest, AJournalThatIsNotThereIsSaidAndFoundOnceItIs) {
  QtHistoryWindow& window = Show();
  EXPECT_TRUE(window.status_text().contains("cannot be read"))
      << window.status_text().toStdString();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The program writes its first records: the window finds the journal.
  Add(kBase, JournalKind::kProgram, "Program start", "alice");
  ASSERT_TRUE(journal_.Commit());
  ASSERT_EQ(window.model()->rowCount(), 1);
  EXPECT_EQ(window.status_text().toStdString(), "1 records");

  QtHistoryWindow no_folder({});
  no_folder.show();
  EXPECT_EQ(no_folder.status_text().toStdString(),
            "There is no journal: the program folder cannot be found.");
}

using HistoryButtonTest = test::FormTest;

TEST_F(HistoryButtonTest, TheStatusBarButtonIsOutsideTheDesignedControlsAndTakesNoFocus) {
  Load();
  QtFormView view(form().MainFormWindow, form().controls(), form().focus,
                  [this] { form().Form_Unload(); });
  // (That it and Ctrl+H open the history is the attached window's test.)
  QPushButton* button = AddHistoryButton(view, "History", [] {});
  view.show();
  EXPECT_EQ(button->parentWidget(), view.notice_bar());
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
}

// Holds each request until the test answers it.
class LaterSource final : public HistorySource {
 public:
  void Read(const JournalPageQuery& query, Answer answer) override {
    asked.push_back(query);
    waiting.push_back(std::move(answer));
  }
  // Answers the oldest request with rows (newest first).
  void Answer(std::vector<std::int64_t> sequences, bool more, std::int64_t newest_seen,
              std::int64_t oldest_seen = 0, const std::string& error = {}) {
    ASSERT_FALSE(waiting.empty());
    JournalPage page{{}, more, newest_seen, oldest_seen};
    for (const std::int64_t sequence : sequences)
      page.rows.push_back(JournalRow{.sequence = sequence, .entry = {}, .chain = {}});
    HistorySource::Answer answer = std::move(waiting.front());
    waiting.pop_front();
    answer(error, std::move(page));
  }

  std::vector<JournalPageQuery> asked;
  std::deque<HistorySource::Answer> waiting;
};

std::vector<std::int64_t> Shown(const QtHistoryModel& model) {
  std::vector<std::int64_t> sequences;
  for (int row = 0; row < model.rowCount(); ++row)
    sequences.push_back(model.row(row).sequence);
  return sequences;
}

TEST(HistoryModelOverALaterSource, AsksOnePageAtATimeAndDropsPagesOfAnEarlierFilter) {
  LaterSource source;
  QtHistoryModel model(source);
  QSignalSpy failed(&model, &QtHistoryModel::readFailed);
  const JournalFilter kNew{{}, {}, {}, "new"};

  model.SetFilter(JournalFilter{{}, {}, {}, "old"});
  model.SetFilter(kNew);
  ASSERT_EQ(source.asked.size(), 1U);  // the second waits for the first's answer
  source.Answer({5, 4}, true, 5);
  EXPECT_TRUE(Shown(model).empty());  // a page for the filter before
  ASSERT_EQ(source.asked.size(), 2U);
  EXPECT_EQ(source.asked[1], (JournalPageQuery{kNew}));
  source.Answer({9, 8}, true, 9, 8);
  EXPECT_EQ(Shown(model), (std::vector<std::int64_t>{9, 8}));
  EXPECT_TRUE(model.canFetchMore({}));

  // Newer records and the next older page, wanted together: asked for one after the other.
  model.TakeNewer(12);
  model.fetchMore({});
  ASSERT_EQ(source.asked.size(), 3U);
  EXPECT_EQ(source.asked[2], (JournalPageQuery{kNew, true, 0, 9, 12}));
  source.Answer({11, 10}, false, 12);
  ASSERT_EQ(source.asked.size(), 4U);
  EXPECT_EQ(source.asked[3], (JournalPageQuery{kNew, false, 8}));
  // Nothing that matches in the older page's span: the next is asked for at once, below it.
  source.Answer({}, true, 0, 5);
  ASSERT_EQ(source.asked.size(), 5U);
  EXPECT_EQ(source.asked[4], (JournalPageQuery{kNew, false, 5}));
  source.Answer({3}, false, 0, 1);
  EXPECT_EQ(Shown(model), (std::vector<std::int64_t>{11, 10, 9, 8, 3}));
  EXPECT_FALSE(model.canFetchMore({}));

  // More new records than one page: the rest is asked for from where the page ended.
  model.TakeNewer(0);
  source.Answer({14, 13}, true, 14);
  ASSERT_EQ(source.asked.size(), 7U);
  EXPECT_EQ(source.asked[6], (JournalPageQuery{kNew, true, 0, 14, 0}));
  source.Answer({15}, false, 15);
  EXPECT_EQ(Shown(model), (std::vector<std::int64_t>{15, 14, 13, 11, 10, 9, 8, 3}));

  // A page that fails is said and changes nothing.
  model.TakeNewer(0);
  source.Answer({}, false, 0, 0, "not attached to the service");
  ASSERT_EQ(failed.count(), 1);
  EXPECT_EQ(failed.at(0).at(0).toString().toStdString(), "not attached to the service");
  EXPECT_EQ(model.rowCount(), 8);
  EXPECT_TRUE(source.waiting.empty());
}

}  // namespace
}  // namespace orv
