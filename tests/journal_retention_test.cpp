// The journal kept within its bounds: the oldest segments pruned on the tick's clock, verified
// first, each pruning a record in the chain from which the rest is still proven.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "journal/journal_query.h"
#include "journal/journal_retention.h"
#include "journal/journal_text.h"
#include "platform/sqlite.h"
#include "tests/journal_test_fixture.h"
#include "tests/small_disk.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::Ne;
using ::testing::StartsWith;

constexpr std::int64_t kSegment = 50;
constexpr std::int64_t kDayMs = 86400000;

class RetentionTest : public test::JournalTest {
 protected:
  std::unique_ptr<Journal> Make(JournalRetention retention) {
    JournalOptions options;
    options.clock = [this] { return JournalTime{now_ms_, 3600}; };
    options.login = "operator1";
    options.host = "panel-pc";
    options.retry_commits = 1;
    options.anchor = nullptr;
    options.retention = retention;
    options.retention_interval_ms = 1000;
    options.segment_records = kSegment;
    return std::make_unique<Journal>(
        data_, [this](const Notice& n) { notices_.push_back(n); }, std::move(options));
  }
  // A record of about a kilobyte, at the clock's time.
  JournalEntry Big(int i) const {
    JournalEntry e = Entry(i);
    e.time.utc_ms = now_ms_;
    e.text += " " + std::string(1000, static_cast<char>('a' + i % 26));
    return e;
  }
  // Ticks of 100 ms, each with a commit, until the pages in use and the pruning records stayed
  // the same for two measuring intervals; the most pruning records one commit added.
  int TickUntilQuiet(Journal& journal) {
    int most = 0;
    for (int quiet = 0, ticks = 0; quiet < 22 && ticks < 3000; ++ticks) {
      const std::int64_t used = UsedBytes();
      now_ms_ += 100;
      const std::size_t before = Pruned().size();
      EXPECT_TRUE(journal.Commit());
      const int added = static_cast<int>(Pruned().size() - before);
      most = std::max(most, added);
      quiet = added == 0 && used == UsedBytes() ? quiet + 1 : 0;
    }
    return most;
  }
  // The pruning records in the journal, by their sequence numbers.
  std::map<std::int64_t, JournalCut> Pruned() const {
    std::map<std::int64_t, JournalCut> cuts;
    for (const JournalRow& row : Rows()) {
      if (auto cut = ParsePruningRecord(row.entry.text);
          cut && row.entry.kind == JournalKind::kProgram)
        cuts[row.sequence] = *cut;
    }
    return cuts;
  }
  std::int64_t Pragma(const std::string& name) const {
    sqlite::Database db;
    std::string text;
    EXPECT_TRUE(db.Open(File(), sqlite::kReadOnly).ok());
    EXPECT_TRUE(db.QueryText("PRAGMA " + name, text).ok());
    return std::stoll(text);
  }
  std::int64_t UsedBytes() const {
    return (Pragma("page_count") - Pragma("freelist_count")) * Pragma("page_size");
  }
  // A journal of count big records over its size budget, pruned to it; the chain value of every
  // record before any was pruned.
  std::unique_ptr<Journal> Pruned(int count, std::int64_t budget,
                                  std::map<std::int64_t, std::string>& chains) {
    auto journal = Make({0, budget});
    for (int i = 1; i <= count; ++i)
      journal->Append(Big(i));
    EXPECT_TRUE(journal->Commit());
    for (const JournalRow& row : Rows())
      chains[row.sequence] = row.chain;
    TickUntilQuiet(*journal);
    return journal;
  }
};

// Over its budget, the journal is pruned on the clock's ticks, a segment a commit, until the pages
// in use are within it; the file gives the pages back; every pruning record names its whole
// segment and the chain value of its last record; and the rest verifies from the cut.
TEST_F(RetentionTest, AJournalOverItsBudgetIsPrunedToItOnTheTickClock) {
  constexpr std::int64_t kBudget = 1 << 20;
  auto journal = Make({0, kBudget});
  for (int i = 1; i <= 1200; ++i)
    journal->Append(Big(i));
  ASSERT_TRUE(journal->Commit());
  ASSERT_GT(UsedBytes(), 2 * kBudget);
  std::map<std::int64_t, std::string> chains;
  for (const JournalRow& row : Rows())
    chains[row.sequence] = row.chain;

  EXPECT_EQ(TickUntilQuiet(*journal), 1);
  EXPECT_LE(UsedBytes(), kBudget);
  EXPECT_GT(UsedBytes(), kBudget / 2) << "pruned far below the budget";
  test::JournalSql(File(), "PRAGMA wal_checkpoint(TRUNCATE)");
  EXPECT_LE(static_cast<std::int64_t>(fs::file_size(File())), kBudget + kBudget / 10);

  const std::map<std::int64_t, JournalCut> cuts = Pruned();
  ASSERT_FALSE(cuts.empty());
  std::int64_t next = 1;
  for (const auto& [at, cut] : cuts) {
    EXPECT_EQ(cut.first, next);
    EXPECT_EQ(cut.last, next + kSegment - 1);
    EXPECT_EQ(cut.chain, chains[cut.last]) << "the cut after " << cut.last;
    next = cut.last + 1;
  }
  EXPECT_THAT(Rows().front().sequence, next);
  EXPECT_THAT(Rows()[static_cast<std::size_t>(cuts.rbegin()->first - next)].entry.text,
              HasSubstr("([Journal] MaxMegabytes)"));
  const JournalCheck check = journal->Verify();
  EXPECT_TRUE(check.ok) << check.first_bad << " " << check.error;
  EXPECT_EQ(check.pruned_upto, next - 1);
  EXPECT_EQ(check.pruned_by, cuts.rbegin()->first);
}

// Each change made behind the journal's back after a pruning, and the record the walk must name:
// the kept part is proven from the cut, and the cut only by the pruning record in the chain.
TEST_F(RetentionTest, APrunedJournalStillShowsEveryChange) {
  std::map<std::int64_t, std::string> chains;
  auto journal = Pruned(600, 1 << 20, chains);
  const std::int64_t first = Rows().front().sequence;
  const std::int64_t by = Pruned().rbegin()->first;
  ASSERT_GT(first, 1);
  const std::string at = " WHERE seq = ";
  const struct {
    std::string what;
    std::string sql;
    std::int64_t first_bad;  // 0: the chain holds
  } kCases[] = {
      {"nothing", "SELECT 1", 0},
      {"a kept record edited", "UPDATE journal SET text = 'x'" + at + std::to_string(first + 7),
       first + 7},
      {"the first kept record edited",
       "UPDATE journal SET login = 'x'" + at + std::to_string(first), first},
      {"the oldest segment deleted by hand",
       "DELETE FROM journal WHERE seq < " + std::to_string(first + kSegment), first + kSegment},
      {"the pruning record deleted", "DELETE FROM journal" + at + std::to_string(by), first},
      {"the pruning record's cut changed",
       "UPDATE journal SET text = replace(text, ':', ':0') || ''" + at + std::to_string(by), first},
      {"the pruning record made an operator's",
       "UPDATE journal SET kind = 'operator'" + at + std::to_string(by), first},
  };
  const fs::path saved = folder_.path() / "saved.sqlite";
  journal.reset();
  fs::copy_file(File(), saved);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::copy_file(saved, File(), fs::copy_options::overwrite_existing);
    Sql(c.sql);
    const JournalCheck check = VerifyJournalFile(File());
    EXPECT_TRUE(check.error.empty()) << check.error;
    EXPECT_EQ(check.ok, c.first_bad == 0);
    EXPECT_EQ(check.first_bad, c.first_bad);
  }
}

// A changed record in the oldest segment is never pruned out of sight: pruning stops, said once
// as an error and in the journal, and the change is still there to be found.
TEST_F(RetentionTest, ASegmentThatFailsItsChainIsNotPruned) {
  auto journal = Make({0, 1 << 20});
  for (int i = 1; i <= 1200; ++i)
    journal->Append(Big(i));
  ASSERT_TRUE(journal->Commit());
  Sql("UPDATE journal SET text = 'forged' WHERE seq = 30");
  EXPECT_EQ(TickUntilQuiet(*journal), 0);
  EXPECT_EQ(Rows().front().sequence, 1);
  EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kWarning, "budget"),
                                    Said(NoticeLevel::kError, "the chain fails at record 30")));
  EXPECT_THAT(Rows().back().entry.text,
              StartsWith("The journal's oldest records are not pruned: the chain fails at "
                         "record 30"));
  EXPECT_EQ(journal->Verify().first_bad, 30);
}

// Past KeepDays a segment goes once its newest record is older; the segment of the head stays
// whatever its age or the budget.
TEST_F(RetentionTest, SegmentsOlderThanKeepDaysArePruned) {
  auto journal = Make({2, 0});
  for (int i = 1; i <= 130; ++i) {  // a segment and some, then a day later, more
    if (i == 60) now_ms_ += kDayMs;
    JournalEntry e = Entry(i);
    e.time.utc_ms = now_ms_;
    journal->Append(e);
    ASSERT_TRUE(journal->Commit());
  }
  now_ms_ = test::kBase + 2 * kDayMs + 1000;  // the first segment is older than two days
  TickUntilQuiet(*journal);
  EXPECT_EQ(Rows().front().sequence, kSegment + 1);
  ASSERT_EQ(Pruned().size(), 1U);
  EXPECT_THAT(Rows().back().entry.text,
              HasSubstr("were pruned, older than 2 days ([Journal] KeepDays)"));
  now_ms_ += 10 * kDayMs;  // all old now; the head's segment is kept
  TickUntilQuiet(*journal);
  EXPECT_EQ(Rows().front().sequence, 2 * kSegment + 1);
  for (int i = 131; i <= 170; ++i)  // into the next segment, which holds the head now
    journal->Append(Entry(i));
  journal->set_retention({0, 1});  // whatever may go, goes, but never the head's segment
  TickUntilQuiet(*journal);
  EXPECT_EQ(Rows().front().sequence, 3 * kSegment + 1);
  EXPECT_TRUE(journal->Verify().ok);
  EXPECT_THAT(notices_, Each(Field(&Notice::level, Ne(NoticeLevel::kError))));
}

// On a full disk a pruning that is due waits with the records: nothing is lost, and once there
// is room the records are written in order and the pruning goes on.
TEST_F(RetentionTest, PruningOnAFullDiskLosesNothing) {
  test::SmallDisk disk(data_, 2 << 20);
  if (!disk.ok()) GTEST_SKIP() << "mounting a tmpfs needs root";
  auto journal = Make({0, 256 << 10});
  for (int i = 1; i <= 200; ++i)
    journal->Append(Big(i));
  ASSERT_TRUE(journal->Commit());
  const fs::path filler = data_ / "filler";
  {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), block.size()).flush()) {
    }
  }
  for (int i = 201; i <= 204; ++i) {
    now_ms_ += 1000;
    journal->Append(Big(i));
    EXPECT_FALSE(journal->Commit());
  }
  EXPECT_TRUE(Pruned().empty());
  fs::remove(filler);
  EXPECT_EQ(TickUntilQuiet(*journal), 1);
  std::vector<std::string> written;
  for (const JournalRow& row : Rows())
    if (row.entry.text.starts_with("record ")) written.push_back(row.entry.text);
  ASSERT_GE(written.size(), 4U);
  for (int i = 201; i <= 204; ++i)
    EXPECT_EQ(written[written.size() - 205 + static_cast<std::size_t>(i)], Big(i).text);
  EXPECT_FALSE(Pruned().empty());
  EXPECT_TRUE(journal->Verify().ok);
}

// After a round of pruning the index of the words is merged whole, new records waiting to be
// indexed meanwhile: a search finds them all the while, and a stop in the middle of it leaves a
// journal whose new records are indexed again at the next start.
TEST_F(RetentionTest, WhileTheIndexIsMergedEveryRecordIsFound) {
  const auto paused = [this] {
    return Pragma("page_size") > 0 && [this] {
      sqlite::Database db;
      std::string from;
      EXPECT_TRUE(db.Open(File(), sqlite::kReadOnly).ok());
      EXPECT_TRUE(db.QueryText("SELECT live_from FROM journal_text_state", from).ok());
      return from == std::to_string(journal_detail::kTextIndexPaused);
    }();
  };
  // One reader all along, as a history window keeps one.
  JournalReader reader;
  const auto found = [&reader](const std::string& text) {
    JournalFilter filter;
    filter.text = text;
    std::vector<JournalRow> rows;
    EXPECT_TRUE(reader.NewestFirst(filter, 0, 10, rows).done());
    return rows.size();
  };
  for (const bool stopped : {false, true}) {
    SCOPED_TRACE(stopped ? "stopped while merging" : "merged");
    std::error_code ec;
    fs::remove_all(data_, ec);
    auto journal = Make({0, 512 << 10});
    for (int i = 1; i <= 600; ++i)
      journal->Append(Big(i));
    ASSERT_TRUE(journal->Commit());
    ASSERT_TRUE(reader.Open(File()).ok());
    EXPECT_EQ(found("record 599 "), 1U);
    for (int tick = 0; tick < 200 && !paused(); ++tick) {
      now_ms_ += 100;
      ASSERT_TRUE(journal->Commit());
    }
    ASSERT_TRUE(paused());
    JournalEntry needle = Entry(1, "a needle in the journal ");
    journal->Append(needle);
    ASSERT_TRUE(journal->Commit());
    EXPECT_EQ(found("needle in the"), 1U);
    if (stopped) {  // and started again, with its first record
      journal.reset();
      journal = Make({0, 512 << 10});
      journal->Append(Entry(2));
    }
    TickUntilQuiet(*journal);
    EXPECT_FALSE(paused());
    EXPECT_EQ(found("needle in the"), 1U);
    journal_detail::TextIndexState state;
    sqlite::Database db;
    ASSERT_TRUE(db.Open(File(), sqlite::kReadWrite).ok());
    ASSERT_TRUE(journal_detail::ReadTextIndexState(db, state).ok());
    EXPECT_TRUE(state.whole());
    // Each record in the index once, as in the journal.
    const sqlite::Result checked = journal_detail::CheckTextIndex(db);
    EXPECT_TRUE(checked.ok()) << checked.message;
    EXPECT_TRUE(journal->Verify().ok);
  }
}

// At 90 % of the budget: a warning and a record, once, not at every measurement.
TEST_F(RetentionTest, NinetyPercentOfTheBudgetIsSaidOnce) {
  auto journal = Make({0, 0});
  for (int i = 1; i <= 300; ++i)
    journal->Append(Big(i));
  ASSERT_TRUE(journal->Commit());
  journal->set_retention({0, UsedBytes() * 100 / 93});
  TickUntilQuiet(*journal);
  TickUntilQuiet(*journal);
  EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kWarning, "% of its budget")));
  EXPECT_THAT(Rows().back().entry.text, StartsWith("The journal holds 9"));
  EXPECT_TRUE(Pruned().empty());
}

TEST(JournalRetention, APruningRecordIsReadBackOnlyWhenItIsOneExactly) {
  const JournalCut cut{1001, 2000, std::string(32, '\x5a')};
  const std::string text = PruningRecordText(cut, PruneReason::kSize, {});
  std::string hex;
  for (int i = 0; i < 32; ++i)
    hex += "5a";
  EXPECT_EQ(text,
            "Records 1001 to 2000 were pruned, the journal over its 1024 MB ([Journal] "
            "MaxMegabytes); the chain at the cut is 2000:" +
                hex + ".");
  EXPECT_EQ(ParsePruningRecord(text), cut);
  const struct {
    const char* what;
    std::string text;
  } kRefused[] = {
      {"another record", "Records of the day were pruned"},
      {"the cut at another record",
       "Records 1001 to 2000 were pruned, why; the chain at the cut is 1999:" + hex + "."},
      {"first after last",
       "Records 2001 to 2000 were pruned, why; the chain at the cut is 2000:" + hex + "."},
      {"no first", "Records 0 to 2000 were pruned, why; the chain at the cut is 2000:" + hex + "."},
      {"a short chain",
       "Records 1 to 2000 were pruned, why; the chain at the cut is 2000:" + hex.substr(1) + "."},
      {"more after it",
       "Records 1 to 2000 were pruned, why; the chain at the cut is 2000:" + hex + ". And so on."},
  };
  for (const auto& c : kRefused)
    EXPECT_EQ(ParsePruningRecord(c.text), std::nullopt) << c.what;
}

TEST(JournalRetention, TheSettingsAreReadWithTheirDefaults) {
  const struct {
    const char* keep_days;
    const char* max_megabytes;
    JournalRetention expected;
  } kCases[] = {
      {"", "", {366, 1024 * kMegabyte}},
      {"30", "16", {30, 16 * kMegabyte}},
      {"0", "0", {0, 0}},
      {"36501", "15", {366, 1024 * kMegabyte}},
      {"-1", "1e3", {366, 1024 * kMegabyte}},
  };
  for (const auto& c : kCases) {
    const JournalRetention read = ReadJournalRetention([&c](std::string_view key) {
      return std::string(key == "KeepDays" ? c.keep_days : c.max_megabytes);
    });
    EXPECT_EQ(read, c.expected) << c.keep_days << " " << c.max_megabytes;
  }
}

// An anchor at a record since pruned is borne out by the pruning record; at the cut itself its
// chain value must be the one the pruning record names.
TEST(JournalRetention, AnAnchorInThePrunedPartIsSatisfiedByTheCut) {
  JournalCheck check;
  check.ok = true;
  check.first_sequence = 101;
  check.last_sequence = 300;
  check.anchored_chain = std::string(32, 'h');
  const std::string cut(32, 'c');
  const struct {
    std::int64_t pruned_upto;
    std::int64_t anchored_at;
    std::string chain;
    bool problem;
  } kCases[] = {
      {100, 50, std::string(32, 'x'), false},
      {100, 100, cut, false},
      {100, 100, std::string(32, 'x'), true},
      {0, 50, std::string(32, 'x'), true},  // not pruned: the file begins after the anchor
  };
  for (const auto& c : kCases) {
    check.pruned_upto = c.pruned_upto;
    check.pruned_chain = c.pruned_upto != 0 ? cut : "";
    EXPECT_EQ(!JournalAnchorProblem(check, {c.anchored_at, c.chain}).empty(), c.problem)
        << c.pruned_upto << " " << c.anchored_at;
  }
}

}  // namespace
}  // namespace orv
