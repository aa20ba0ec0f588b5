// The history's model over a source that answers later, as the service does over its socket:
// one page asked for at a time, a page for a filter since changed dropped, what was wanted
// meanwhile asked for in turn, an empty span passed over, and newer records on top without any
// twice.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "journal/qt/qt_history_model.h"

namespace orv {
namespace {

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

  model.SetFilter(JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "old"});
  model.SetFilter(JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"});
  ASSERT_EQ(source.asked.size(), 1U);  // the second waits for the first's answer
  source.Answer({5, 4}, true, 5);
  EXPECT_TRUE(Shown(model).empty());  // a page for the filter before
  ASSERT_EQ(source.asked.size(), 2U);
  EXPECT_EQ(source.asked[1], (JournalPageQuery{JournalFilter{
                                 .from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"}}));
  source.Answer({9, 8}, true, 9, 8);
  EXPECT_EQ(Shown(model), (std::vector<std::int64_t>{9, 8}));
  EXPECT_TRUE(model.canFetchMore({}));

  // Newer records and the next older page, wanted together: asked for one after the other.
  model.TakeNewer(12);
  model.fetchMore({});
  ASSERT_EQ(source.asked.size(), 3U);
  EXPECT_EQ(source.asked[2],
            (JournalPageQuery{
                JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"}, true,
                0, 9, 12}));
  source.Answer({11, 10}, false, 12);
  ASSERT_EQ(source.asked.size(), 4U);
  EXPECT_EQ(
      source.asked[3],
      (JournalPageQuery{
          JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"}, false, 8}));
  // Nothing that matches in the older page's span: the next is asked for at once, below it.
  source.Answer({}, true, 0, 5);
  ASSERT_EQ(source.asked.size(), 5U);
  EXPECT_EQ(
      source.asked[4],
      (JournalPageQuery{
          JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"}, false, 5}));
  source.Answer({3}, false, 0, 1);
  EXPECT_EQ(Shown(model), (std::vector<std::int64_t>{11, 10, 9, 8, 3}));
  EXPECT_FALSE(model.canFetchMore({}));

  // More new records than one page: the rest is asked for from where the page ended.
  model.TakeNewer(0);
  source.Answer({14, 13}, true, 14);
  ASSERT_EQ(source.asked.size(), 7U);
  EXPECT_EQ(source.asked[6],
            (JournalPageQuery{
                JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "new"}, true,
                0, 14, 0}));
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
