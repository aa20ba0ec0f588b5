// A journal made by the program before the detail column: readers take it as it is, and the
// program's first commit adds the column in place, every row and chain value kept.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"
#include "tests/journal_entries.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

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

std::string Hex(const std::string& bytes) {
  std::string hex;
  char digits[3];
  for (const unsigned char b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    hex += digits;
  }
  return hex;
}

class JournalMigrationTest : public ::testing::Test {
 protected:
  fs::path File() const { return temp_.path() / Journal::kFileName; }

  // Three records as the earlier program wrote them, then sql.
  void MakeEarlierJournal(const std::string& sql) {
    sqlite::Database db;
    ASSERT_TRUE(db.Open(File(), sqlite::kReadWrite | sqlite::kCreate).ok());
    ASSERT_TRUE(db.Exec("PRAGMA journal_mode=WAL").ok());
    ASSERT_TRUE(db.Exec(kEarlierSchema).ok());
    sqlite::Statement insert;
    ASSERT_TRUE(
        insert.Prepare(db, "INSERT INTO journal VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)").ok());
    std::string previous(32, '\0');
    for (std::int64_t seq = 1; seq <= 3; ++seq) {
      const JournalEntry& e = earlier_[static_cast<std::size_t>(seq - 1)];
      const std::string chain = JournalChainValue(previous, seq, e);
      chains_.push_back(chain);
      ASSERT_TRUE(insert.BindInt64(1, seq).ok());
      ASSERT_TRUE(insert.BindInt64(2, e.time.utc_ms).ok());
      ASSERT_TRUE(insert.BindInt64(3, e.time.utc_offset_s).ok());
      ASSERT_TRUE(insert.BindText(4, JournalKindName(e.kind)).ok());
      ASSERT_TRUE(insert.BindText(5, e.text).ok());
      ASSERT_TRUE(insert.BindText(6, e.raw_hex).ok());
      ASSERT_TRUE(insert.BindText(7, e.login).ok());
      ASSERT_TRUE(insert.BindText(8, e.host).ok());
      ASSERT_TRUE(insert.BindBlob(9, chain).ok());
      ASSERT_TRUE(insert.Step().done());
      ASSERT_TRUE(insert.Reset().ok());
      previous = chain;
    }
    ASSERT_TRUE(db.Exec("UPDATE journal_issued SET last_seq = 3;" + sql).ok());
  }
  std::vector<JournalRow> Rows() const {
    std::vector<JournalRow> rows;
    EXPECT_TRUE(ReadJournalFile(File(), 1, 100, rows).done());
    return rows;
  }

  test::TempFolder temp_;
  std::vector<JournalEntry> earlier_{
      test::PanelEntry(kBase, JournalKind::kEvent, "12/07 00:00 Event = EMG Ack"),
      test::PanelEntry(kBase + 1000, JournalKind::kOperator, "Key EMG ACK", "bob"),
      test::PanelEntry(kBase + 2000, JournalKind::kEvent, "12/07 00:00 Event = Fault 0000"),
  };
  std::vector<std::string> chains_;
  std::vector<Notice> notices_;
};

TEST_F(JournalMigrationTest, TheFirstCommitAddsTheDetailColumnKeepingEveryRowAndTheChain) {
  earlier_[0].raw_hex = "0203A01200004703";
  MakeEarlierJournal("");
  // The value the earlier program gave the first record: a record without a detail hashes as
  // it always did.
  EXPECT_EQ(Hex(chains_[0]), "71263ac311d067149a89fadbc8580bfc5851fd79252432415c65bab1a5b6a524");

  // Readers take the file as it is, each record with an empty detail.
  EXPECT_EQ(VerifyJournalFile(File()).good_rows, 3);
  ASSERT_EQ(Rows().size(), 3U);
  EXPECT_EQ(Rows()[2].entry, earlier_[2]);
  JournalReader reader;  // a history window open across the change
  ASSERT_TRUE(reader.Open(File()).ok());
  std::vector<JournalRow> newest;
  ASSERT_TRUE(reader.NewestFirst({}, 0, 1, newest).done());

  JournalOptions options;
  options.anchor = nullptr;
  Journal journal(
      temp_.path(), [this](const Notice& n) { notices_.push_back(n); }, options);
  JournalEntry named = test::PanelEntry(kBase + 3000, JournalKind::kEvent, "Event = Fault");
  named.detail = "Mains, Call/EMG";
  journal.Append(named);
  ASSERT_TRUE(journal.Commit());
  EXPECT_TRUE(notices_.empty()) << notices_[0].text;

  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), 4U);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].entry, earlier_[i]) << i;
    EXPECT_EQ(rows[i].chain, chains_[i]) << i;
  }
  EXPECT_EQ(rows[3].sequence, 4);
  EXPECT_EQ(rows[3].entry, named);
  ASSERT_TRUE(reader.NewestFirst({}, 0, 1, newest).done());
  ASSERT_EQ(newest.size(), 1U);
  EXPECT_EQ(newest[0].entry.detail, named.detail);
  const JournalCheck check = VerifyJournalFile(File());
  EXPECT_TRUE(check.ok) << check.error << " first bad " << check.first_bad;
  EXPECT_EQ(check.good_rows, 4);
  for (const auto& item : fs::directory_iterator(temp_.path()))
    EXPECT_EQ(item.path().filename().string().find("damaged"), std::string::npos);
}

// Only the column the program adds, as it adds it, is taken for the program's own.
TEST_F(JournalMigrationTest, AnotherDetailColumnIsNotTheProgramsAndTheFileIsMovedAside) {
  MakeEarlierJournal("ALTER TABLE journal ADD COLUMN detail TEXT");
  EXPECT_FALSE(VerifyJournalFile(File()).ok);
  JournalOptions options;
  options.anchor = nullptr;
  Journal journal(
      temp_.path(), [this](const Notice& n) { notices_.push_back(n); }, options);
  journal.Append(earlier_[0]);
  ASSERT_TRUE(journal.Commit());
  ASSERT_EQ(notices_.size(), 1U);
  EXPECT_NE(notices_[0].text.find("a table \"journal\" of a form"), std::string::npos)
      << notices_[0].text;
}

}  // namespace
}  // namespace orv
