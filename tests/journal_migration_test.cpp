// A journal made by the program before the detail column: readers take it as it is, and the
// program's first commit adds the column in place, every row and chain value kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

// The schema exactly as the program before the detail column created it.
constexpr const char* kEarlierSchema =
    "CREATE TABLE IF NOT EXISTS journal( seq INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, "
    "utc_offset_s INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL, raw_hex TEXT NOT "
    "NULL, login TEXT NOT NULL, host TEXT NOT NULL, chain BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS journal_time ON journal(utc_ms);"
    "CREATE INDEX IF NOT EXISTS journal_kind_time ON journal(kind, utc_ms);"
    "CREATE TABLE IF NOT EXISTS journal_issued(last_seq INTEGER NOT NULL);"
    "INSERT INTO journal_issued(last_seq) SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM "
    "journal_issued)";

TEST(JournalMigrationTest, TheFirstCommitAddsTheDetailColumnKeepingEveryRowAndTheChain) {
  test::TempFolder temp;
  const std::filesystem::path file = temp.path() / Journal::kFileName;
  std::vector<JournalEntry> earlier{
      test::PanelEntry(kBase, JournalKind::kEvent, "12/07 00:00 Event = EMG Ack"),
      test::PanelEntry(kBase + 1000, JournalKind::kOperator, "Key EMG ACK", "bob"),
      test::PanelEntry(kBase + 2000, JournalKind::kEvent, "12/07 00:00 Event = Fault 0000"),
  };
  earlier[0].raw_hex = "0203A01200004703";
  std::vector<std::string> chains;
  {
    sqlite::Database db;
    ASSERT_TRUE(db.Open(file, sqlite::kReadWrite | sqlite::kCreate).ok());
    std::string sql = std::string("PRAGMA journal_mode=WAL;") + kEarlierSchema +
                      ";UPDATE journal_issued SET last_seq = 3;";
    std::string previous(32, '\0');
    for (std::size_t i = 0; i < earlier.size(); ++i) {
      const JournalEntry& e = earlier[i];
      chains.push_back(previous = JournalChainValue(previous, std::int64_t(i + 1), e));
      sql += "INSERT INTO journal VALUES(" + std::to_string(i + 1) + "," +
             std::to_string(e.time.utc_ms) + "," + std::to_string(e.time.utc_offset_s) + ",'" +
             std::string(JournalKindName(e.kind)) + "','" + e.text + "','" + e.raw_hex + "','" +
             e.login + "','" + e.host + "'," + test::SqlBlob(previous) + ");";
    }
    ASSERT_TRUE(db.Exec(sql).ok());
  }
  // The value the earlier program gave the first record: one without a detail hashes as ever.
  EXPECT_EQ(test::SqlBlob(chains[0]),
            "X'71263ac311d067149a89fadbc8580bfc5851fd79252432415c65bab1a5b6a524'");

  // Readers take the file as it is; one stays open across the change, as a history window would.
  EXPECT_EQ(VerifyJournalFile(file).good_rows, 3);
  JournalReader reader;
  ASSERT_TRUE(reader.Open(file).ok());
  std::vector<JournalRow> rows;
  ASSERT_TRUE(reader.NewestFirst({}, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[0].entry, earlier[2]);

  std::vector<Notice> notices;
  JournalOptions options;
  options.anchor = nullptr;
  Journal journal(
      temp.path(), [&](const Notice& n) { notices.push_back(n); }, options);
  JournalEntry named = test::PanelEntry(kBase + 3000, JournalKind::kEvent, "Event = Fault");
  named.detail = "Mains, Call/EMG";
  journal.Append(named);
  ASSERT_TRUE(journal.Commit());
  EXPECT_TRUE(notices.empty()) << notices[0].text;  // nothing moved aside

  ASSERT_TRUE(reader.NewestFirst({}, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[0].sequence, 4);
  EXPECT_EQ(rows[0].entry, named);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[3 - i].entry, earlier[i]) << i;
    EXPECT_EQ(rows[3 - i].chain, chains[i]) << i;
  }
  const JournalCheck check = VerifyJournalFile(file);
  EXPECT_TRUE(check.ok) << check.error << " first bad " << check.first_bad;
  EXPECT_EQ(check.good_rows, 4);
}

}  // namespace
}  // namespace orv
