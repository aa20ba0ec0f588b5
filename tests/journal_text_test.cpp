// The index of the records' words: an older journal gets it a chunk at each commit, found all
// the while, and once whole the searches go through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "journal/journal_text.h"
#include "tests/journal_test_fixture.h"

namespace orv {
namespace {

using test::JournalTest;
using test::PanelEntry;

TEST_F(JournalTest, AnOlderJournalIsIndexedAChunkAtATimeAndFoundAllTheWhile) {
  constexpr int kOld = 4500;  // more than two chunks
  {
    auto journal = MakeJournal();
    for (int i = 1; i <= kOld; ++i)
      journal->Append(PanelEntry(test::kBase + i, JournalKind::kEvent,
                                 "old record " + std::to_string(i) + "."));
    ASSERT_TRUE(journal->Commit());
  }
  // As a journal of the version before the index was.
  Sql("DROP TABLE journal_text; DROP TABLE journal_text_state");
  notices_.clear();

  JournalReader reader;
  ASSERT_TRUE(reader.Open(File()).ok());
  const auto found = [&reader](const std::string& text) {
    JournalFilter filter;
    filter.text = text;
    std::vector<JournalRow> rows;
    EXPECT_TRUE(reader.NewestFirst(filter, 0, 10, rows).done());
    std::vector<std::int64_t> sequences;
    for (const JournalRow& row : rows)
      sequences.push_back(row.sequence);
    return sequences;
  };
  auto journal = MakeJournal();
  journal->Append(PanelEntry(test::kBase + kOld + 1, JournalKind::kOperator, "new record."));
  ASSERT_TRUE(journal->Commit());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text,
            "The journal's 4500 older records are being indexed for search, a few thousand a "
            "tick; until then a search of them reads every record.");
  // Part indexed: found whether indexed or not, the new one too.
  for (const char* text : {"old record 17.", "old record 4499.", "new record"})
    EXPECT_EQ(found(text).size(), 1u) << text;
  ASSERT_TRUE(journal->Commit());  // quiet ticks go on with it
  EXPECT_EQ(notices_.size(), 1u);
  ASSERT_TRUE(journal->Commit());
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[1].text, "The journal's older records are indexed: every search is quick.");
  EXPECT_EQ(found("old record 4500."), std::vector<std::int64_t>{kOld});
  EXPECT_EQ(found("record 450"), (std::vector<std::int64_t>{kOld, 450}));

  // Whole, a search reads the index: a record edited behind its back is still found by the
  // words it was written with (the chain, not the index, is what proves a record).
  Sql("UPDATE journal SET text = 'edited' WHERE seq = 17");
  EXPECT_EQ(found("old record 17."), std::vector<std::int64_t>{17});
  // A text shorter than the index takes is looked for record by record.
  EXPECT_EQ(found("ed").front(), 17);
}

// The index edited behind the program's back costs speed, never a record: searches read the
// records themselves, and the writer moves the file aside as any damaged journal.
TEST_F(JournalTest, ADamagedIndexCostsSpeedNeverARecord) {
  {
    auto journal = MakeJournal();
    for (int i = 1; i <= 50; ++i)
      journal->Append(
          PanelEntry(test::kBase + i, JournalKind::kEvent, "record " + std::to_string(i) + "."));
    ASSERT_TRUE(journal->Commit());
  }
  Sql("UPDATE journal_text_data SET block = x'0102030405' WHERE id > 1");
  JournalReader reader;
  ASSERT_TRUE(reader.Open(File()).ok());
  JournalFilter filter;
  filter.text = "record 17.";
  std::vector<JournalRow> rows;
  ASSERT_TRUE(reader.NewestFirst(filter, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].sequence, 17);

  // Found at the writer's open, or while it runs: either way the file goes aside and the
  // records go on in a new one.
  notices_.clear();
  auto journal = MakeJournal();
  journal->Append(PanelEntry(test::kBase + 51, JournalKind::kEvent, "record 51."));
  ASSERT_TRUE(journal->Commit());
  ASSERT_FALSE(notices_.empty());
  EXPECT_NE(notices_[0].text.find(" was damaged ("), std::string::npos) << notices_[0].text;
  EXPECT_EQ(Rows().back().entry.text, "record 51.");
  notices_.clear();
  Sql("UPDATE journal_text_data SET block = x'0102030405' WHERE id > 1");
  int written = 0;
  const auto moved = [this] {
    return std::any_of(notices_.begin(), notices_.end(), [](const Notice& n) {
      return n.text.find(" was damaged (the index of its records' words") != std::string::npos;
    });
  };
  for (int commit = 0; commit < 40 && !moved(); ++commit) {
    for (int i = 0; i < 100; ++i, ++written)
      journal->Append(PanelEntry(test::kBase + 100 + written, JournalKind::kEvent,
                                 "more " + std::to_string(written)));
    journal->Commit();  // the one that meets the damage keeps its records waiting
  }
  std::string said;
  for (const Notice& n : notices_)
    said += n.text + "\n";
  ASSERT_TRUE(moved()) << said;
  ASSERT_TRUE(journal->Commit());
  EXPECT_EQ(Rows().back().entry.text, "more " + std::to_string(written - 1));
}

}  // namespace
}  // namespace orv
