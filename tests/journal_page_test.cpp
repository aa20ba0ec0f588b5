// A page of the history as a window asks for it, older or newer, bounded in rows (one more read
// to know whether others follow) and in the span looked at, its filter holding both ways.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_page.h"
#include "tests/journal_test_fixture.h"

namespace orv {
namespace {

using test::JournalTest;
using test::kBase;

TEST_F(JournalTest, OlderAndNewerPagesHoldTheirBoundsAndFilters) {
  auto journal = MakeJournal();
  // Records 1..10, a second apart: the odd ones events, the even ones operator actions.
  for (int i = 1; i <= 10; ++i) {
    journal->Append(test::PanelEntry(kBase + i * 1000,
                                     i % 2 == 1 ? JournalKind::kEvent : JournalKind::kOperator,
                                     "record " + std::to_string(i)));
  }
  ASSERT_TRUE(journal->Commit());
  JournalReader reader;
  ASSERT_TRUE(reader.Open(File()).ok());

  const JournalFilter events{{}, {}, JournalKind::kEvent, {}},
      links{{}, {}, JournalKind::kLink, {}}, none{{}, {}, {}, "no such text"};
  struct Case {
    const char* what;
    JournalPageQuery query;
    std::vector<std::int64_t> rows;
    bool more;
    std::int64_t newest_seen;
    std::int64_t oldest_seen;
    std::int64_t span = JournalPageQuery::kSpan;
  };
  const auto older = [](std::int64_t before, std::size_t limit, JournalFilter filter = {}) {
    return JournalPageQuery{filter, false, before, 0, 0, limit};
  };
  const auto newer = [](std::int64_t after, std::int64_t until, std::size_t limit,
                        JournalFilter filter = {}) {
    return JournalPageQuery{filter, true, 0, after, until, limit};
  };
  const Case cases[] = {
      {"the first page, from the end", older(0, 4), {10, 9, 8, 7}, true, 10, 7},
      {"below a record", older(7, 4), {6, 5, 4, 3}, true, 0, 3},
      {"the last, short", older(3, 4), {2, 1}, false, 0, 1},
      {"the last, exactly full", older(5, 4), {4, 3, 2, 1}, false, 0, 1},
      {"one kind", older(0, 3, events), {9, 7, 5}, true, 10, 5},
      {"newer, to the end", newer(6, 0, 10), {10, 9, 8, 7}, false, 10, 0},
      {"newer, up to a commit", newer(6, 8, 10), {8, 7}, false, 8, 0},
      {"newer, more than fit: the oldest", newer(2, 0, 3), {5, 4, 3}, true, 5, 0},
      {"newer, nothing new", newer(10, 0, 3), {}, false, 10, 0},
      {"newer, one kind", newer(6, 0, 1, events), {7}, true, 7, 0},
      // An empty first page still sees the journal's end.
      {"nothing matches", older(0, 4, none), {}, false, 10, 1},
      // Three sequence numbers a look: a page ends where its span does, and says so.
      {"the first page, its span", older(0, 4), {10, 9, 8}, true, 10, 8, 3},
      {"one kind, its span", older(8, 4, events), {7, 5}, true, 0, 5, 3},
      {"the span reaching the first", older(3, 4), {2, 1}, false, 0, 1, 3},
      {"nothing in the span", older(0, 4, links), {}, true, 10, 8, 3},
      {"newer, its span", newer(2, 0, 10), {5, 4, 3}, true, 5, 0, 3},
      {"newer, one kind, its span", newer(6, 0, 10, events), {9, 7}, true, 9, 0, 3},
  };
  for (const Case& c : cases) {
    JournalPage page;
    ASSERT_TRUE(ReadJournalPage(reader, c.query, page, c.span).ok()) << c.what;
    EXPECT_EQ(std::tuple(SequencesOf(page.rows), page.more, page.newest_seen, page.oldest_seen),
              std::tuple(c.rows, c.more, c.newest_seen, c.oldest_seen))
        << c.what;
  }
}

}  // namespace
}  // namespace orv
