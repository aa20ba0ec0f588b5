// The journal's store: its chain, nothing lost while the file cannot be written, and what a
// hostile operator can do to the shared file with the sqlite3 shell.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"
#include "tests/journal_test_fixture.h"
#include "tests/small_disk.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FakeAnchors;
using test::JournalTest;
using test::kBase;
using test::PanelEntry;
using ::testing::_;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Each change made behind the journal's back, and the record the walk must name for it. (That
// every field is in the hash is pinned by the earlier program's chain value below.)
TEST_F(JournalTest, TheChainNamesTheFirstRecordChanged) {
  const struct {
    const char* what;
    const char* sql;
    std::int64_t first_bad;  // 0: the chain holds
  } kCases[] = {
      {"nothing", "SELECT 1", 0},
      {"kind unknown", "UPDATE journal SET kind = 'other' WHERE seq = 4", 4},
      {"detail given afterwards", "UPDATE journal SET detail = 'Mains' WHERE seq = 4", 4},
      {"host moved into the detail", "UPDATE journal SET host = 'host', detail = '3' WHERE seq = 4",
       4},
      {"chain", "UPDATE journal SET chain = zeroblob(32) WHERE seq = 4", 4},
      // A chain may begin past 1 (after a file moved aside); its first record must then begin
      // from nothing, which record 2 does not.
      {"first deleted", "DELETE FROM journal WHERE seq = 1", 2},
      {"middle deleted", "DELETE FROM journal WHERE seq = 5", 5},
      {"inserted in the middle",
       "UPDATE journal SET seq = seq + 100 WHERE seq >= 3; UPDATE journal SET seq = seq - 99 WHERE "
       "seq >= 103;"
       "INSERT INTO journal SELECT 3, utc_ms, utc_offset_s, kind, 'forged', raw_hex, login, host, "
       "chain, detail FROM journal WHERE seq = 2",
       3},
      {"added at the end",
       "INSERT INTO journal SELECT 9, utc_ms, utc_offset_s, kind, 'forged', raw_hex, login, host, "
       "chain, detail FROM journal WHERE seq = 8",
       9},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    auto journal = Fresh(8);
    Sql(c.sql);
    const JournalCheck check = journal->Verify();
    EXPECT_TRUE(check.error.empty()) << check.error;
    EXPECT_EQ(check.ok, c.first_bad == 0);
    EXPECT_EQ(check.first_bad, c.first_bad);
    const std::int64_t first = std::string_view(c.what) == "first deleted" ? 2 : 1;
    EXPECT_EQ(check.good_rows, c.first_bad == 0 ? 8 : c.first_bad - first);
  }
  // A file that cannot be read is no verdict: the walk says why.
  const JournalCheck none = VerifyJournalFile(folder_.path() / "none.sqlite");
  EXPECT_TRUE(!none.ok && !none.error.empty());
}

// Whether another process sees this one holding the shared-memory index's "dead man" byte (128,
// where SQLite's connections keep a read lock while they have the file open): asked from a child.
bool IndexHeldByThisProcess(const std::filesystem::path& shm) {
  const pid_t self = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(shm.c_str(), O_RDONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 128;
    lock.l_len = 1;
    _exit(fd >= 0 && ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type == F_RDLCK &&
                  lock.l_pid == self
              ? 0
              : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// A write that failed opens the file again while a reader of this process keeps its connection:
// the reopen may not drop the process's locks on the index (a close() of any descriptor of a
// file drops all of them), or another program's first connection rebuilds the index under the
// reader, whose mapping of it then faults (SIGBUS).
TEST_F(JournalTest, AReopenKeepsThisProcesssLockOnTheSharedIndex) {
  auto journal = MakeJournal();
  journal->Append(Entry(0));
  ASSERT_TRUE(journal->Commit());
  JournalReader reader;
  std::int64_t last = 0;
  ASSERT_TRUE(reader.Open(File()).ok() && reader.LastSequence(last).ok() && last == 1);
  const std::filesystem::path shm = File().string() + "-shm";
  ASSERT_TRUE(IndexHeldByThisProcess(shm));
  {
    sqlite::Database other;
    ASSERT_TRUE(other.Open(File(), sqlite::kReadWrite).ok() && other.Exec("BEGIN EXCLUSIVE").ok());
    journal->Append(Entry(1));
    EXPECT_FALSE(journal->Commit());
    ASSERT_TRUE(other.Exec("COMMIT").ok());
  }
  ASSERT_TRUE(journal->Commit());
  EXPECT_TRUE(IndexHeldByThisProcess(shm));
  EXPECT_TRUE(reader.LastSequence(last).ok() && last == 2) << last;
}

// Another connection holds the write lock: at most waiting_limit records wait, the rest counted;
// a failing Commit is tried again only every retry_commits-th call (a broken disk is not asked ten
// times a second); once free, the records are written, then the count as a program record.
TEST_F(JournalTest, ALockedDatabaseKeepsBoundedRecordsWaitingUntilItIsFree) {
  auto journal = MakeJournal(nullptr, 10);
  journal->Append(Entry(0));
  ASSERT_TRUE(journal->Commit());
  sqlite::Database other;
  ASSERT_TRUE(other.Open(File(), sqlite::kReadWrite).ok() && other.Exec("BEGIN EXCLUSIVE").ok());

  const int limit = 10000;
  for (int i = 1; i <= limit + 7; ++i)
    journal->Append(Entry(i));
  EXPECT_FALSE(journal->Commit());
  EXPECT_TRUE(journal->failing());
  EXPECT_EQ(journal->waiting(), static_cast<std::size_t>(limit));
  EXPECT_EQ(journal->dropped(), 7U);
  EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, "locked")));

  std::vector<std::int64_t> said;
  const Connection listening =
      journal->committed().Connect([&said](std::int64_t last) { said.push_back(last); });
  ASSERT_TRUE(other.Exec("COMMIT").ok());
  for (int i = 1; i < 10; ++i)
    EXPECT_FALSE(journal->Commit()) << "commit " << i;
  ASSERT_TRUE(journal->Commit());
  ASSERT_TRUE(journal->Commit());  // nothing waits: nothing new to say
  EXPECT_FALSE(journal->failing());
  EXPECT_EQ(said, std::vector<std::int64_t>{limit + 2});
  EXPECT_THAT(notices_, ElementsAre(_, Said(NoticeLevel::kInfo, "10000 waiting")));
  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(limit) + 2);
  for (int i = 0; i <= limit; ++i)
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].entry, Entry(i)) << "entry " << i;
  EXPECT_THAT(rows.back().entry,
              AllOf(Field(&JournalEntry::kind, JournalKind::kProgram),
                    Field(&JournalEntry::text, StartsWith("7 journal record(s) were dropped")),
                    Field(&JournalEntry::host, "panel-pc")));

  // A second time, the record counts only the new drops (the notice above counts them all).
  ASSERT_TRUE(other.Exec("BEGIN EXCLUSIVE").ok());
  for (int i = 1; i <= limit + 3; ++i)
    journal->Append(Entry(i));
  EXPECT_FALSE(journal->Commit());
  ASSERT_TRUE(other.Exec("COMMIT").ok());
  for (int tries = 0; tries < 10 && !journal->Commit();)
    ++tries;
  ASSERT_TRUE(journal->Commit());
  const std::vector<JournalRow> again = Rows();
  ASSERT_EQ(again.size(), 2U * limit + 3);
  EXPECT_THAT(again.back().entry.text, StartsWith("3 journal record(s) were dropped"));
  EXPECT_TRUE(journal->Verify().ok);
}

// A DATA folder that cannot be written (for root too: a read-only tmpfs, before the journal was
// made or after) or a full one: the records wait, none of a failed Commit is kept (one
// transaction), the operator is told once, and once the disk takes them they are written in order.
TEST_F(JournalTest, AReadOnlyOrFullDiskLosesNothingAndKeepsTheOrder) {
  const struct {
    const char* what;
    int first;  // records written before
    bool full;  // else read-only
  } kCases[] = {
      {"read-only, no journal yet", 0, false}, {"read-only", 3, false}, {"full", 3, true}};
  // Larger than what a full disk may have left in its last page.
  const auto big = [](int i) {
    JournalEntry e = Entry(i);
    e.text += std::string(4000, 'a' + static_cast<char>(i % 26));
    return e;
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    test::SmallDisk disk(data_, 1 << 20);
    if (!disk.ok()) GTEST_SKIP() << "mounting a tmpfs needs root";
    auto journal = Fresh(c.first);
    const fs::path filler = data_ / "filler";
    if (c.full) {  // what is left filled, under the open journal
      std::ofstream out(filler, std::ios::binary);
      const std::string block(4096, 'x');
      while (out.write(block.data(), block.size()).flush()) {
      }
    } else {  // the program started on a read-only disk
      journal.reset();
      ASSERT_TRUE(disk.SetReadOnly(true));
      journal = MakeJournal();
    }
    for (int i = c.first; i < c.first + 4; ++i) {
      journal->Append(big(i));
      EXPECT_FALSE(journal->Commit());
    }
    // A full disk is said at 90 % of it first, as a warning and a record that waits too.
    const std::size_t said = c.full ? 1 : 0;
    EXPECT_EQ(journal->waiting(), 4U + said);
    if (c.full) {
      EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kWarning, "% full"),
                                        Said(NoticeLevel::kError, "full")));
    } else {
      EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, "")));
    }
    if (c.full) fs::remove(filler);
    ASSERT_TRUE(c.full || disk.SetReadOnly(false));
    journal->Append(big(c.first + 4));
    ASSERT_TRUE(journal->Commit()) << notices_.back().text;
    EXPECT_EQ(notices_.size(), 2 + said);
    EXPECT_THAT(notices_.back(), Said(NoticeLevel::kInfo, ""));
    std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), c.first + 5 + said);
    if (c.full) {  // the disk's record, among those that waited
      EXPECT_THAT(rows[static_cast<std::size_t>(c.first) + 1].entry.text, StartsWith("The disk"));
      rows.erase(rows.begin() + c.first + 1);
    }
    for (int i = 0; i < c.first + 5; ++i)
      EXPECT_EQ(rows[static_cast<std::size_t>(i)].entry, i < c.first ? Entry(i) : big(i)) << i;
    EXPECT_TRUE(journal->Verify().ok);
    journal.reset();
  }
}

// So that the next operator's program can write them too.
TEST_F(JournalTest, ItsFilesAreGroupWritableUnderUmask002) {
  const mode_t saved = ::umask(002);
  auto journal = Fresh(1);
  ::umask(saved);
  for (const char* suffix : {"", "-wal", "-shm"})
    EXPECT_EQ(fs::status(File().string() + suffix).permissions(), fs::perms(0664)) << suffix;
}

// A file that is no sound journal of the program's, planted before it opens the file or while it
// has it open: the next Commit moves it aside, byte for byte, with one notice naming why, and a new
// chain goes on at once, numbered on after the last one given, and anchored at once.
TEST_F(JournalTest, AnUnsoundFileIsMovedAsideAndANewChainGoesOn) {
  enum class Plant { kGarbage, kPage, kSqlBefore, kSqlWhileOpen };
  const struct {
    Plant plant;
    const char* sql;
    const char* found;
  } kCases[] = {
      {Plant::kGarbage, "", "file is not a database"},
      {Plant::kPage, "", "quick_check"},
      {Plant::kSqlBefore,
       "CREATE TRIGGER spin BEFORE INSERT ON journal BEGIN SELECT count(*) FROM (WITH RECURSIVE "
       "n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT x FROM n); END",
       "a trigger \"spin\" that the program does not make"},
      {Plant::kSqlWhileOpen,
       "CREATE TRIGGER lose BEFORE INSERT ON journal BEGIN SELECT RAISE(IGNORE); END",
       "a trigger \"lose\" that"},
      {Plant::kSqlBefore, "CREATE VIEW alarms AS SELECT * FROM journal", "a view \"alarms\" that"},
      {Plant::kSqlWhileOpen, "CREATE TABLE notes(x)", "a table \"notes\" that"},
      {Plant::kSqlBefore, "CREATE INDEX by_text ON journal(text)", "an index \"by_text\" that"},
      {Plant::kSqlWhileOpen, "ALTER TABLE journal ADD COLUMN note TEXT",
       "a table \"journal\" of a form that"},
  };
  const fs::path aside = data_ / "Journal.sqlite.damaged-20261207T000000Z";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.found);
    const int records = c.plant == Plant::kPage ? 400 : 8;  // a page past the schema's
    auto journal = Fresh(records, anchors_);
    if (c.plant != Plant::kSqlWhileOpen) journal.reset();
    std::string bytes;
    if (c.plant == Plant::kGarbage) bytes = std::string(4096, 'x');
    if (c.plant == Plant::kPage) {
      bytes = test::ReadBytes(File());
      ASSERT_GT(bytes.size(), 4U * 4096);
      bytes.replace(2 * 4096, 4096, 4096, '\x5a');
    }
    if (bytes.empty())
      Sql(c.sql);
    else
      test::WriteBytes(File(), bytes);
    if (!journal) journal = MakeJournal(anchors_);
    notices_.clear();
    journal->Append(Entry(8));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(journal->Commit());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, c.found)));
    EXPECT_TRUE(bytes.empty() || test::ReadBytes(aside) == bytes);
    EXPECT_FALSE(fs::exists(aside.string() + "-2")) << "moved aside once";
    const std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_THAT(rows[0].entry.text, HasSubstr("moved aside to " + aside.filename().string()));
    EXPECT_EQ(rows[1].entry, Entry(8));
    const JournalCheck check = journal->Verify();
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.first_sequence, records + 1);
    // The copy is named in the anchor with the SHA-256 of the bytes moved (hashed off the tick:
    // in by the end at the latest).
    journal.reset();
    std::string problem;
    const std::string sha256 = JournalFileSha256(aside, problem);
    ASSERT_EQ(sha256.size(), 32U) << problem;
    EXPECT_EQ(
        anchors_->sent.back(),
        (JournalAnchor{records + 2, rows[1].chain, 0, {{aside.filename().string(), sha256}}}));
  }
}

// Records deleted from the end leave their numbers unused, whether the same program goes on or
// another start finds the highest number in the file, or else in the anchor.
TEST_F(JournalTest, NumbersAreNotGivenAgainAfterTheEndIsDeleted) {
  const struct {
    const char* what;
    bool restart;
    bool anchored;  // else only the file's high-water is there to find
    const char* sql;
  } kCases[] = {
      {"the same program goes on", false, false, ""},
      {"restarted", true, false, ""},
      {"restarted, the file's count put back too", true, true,
       "UPDATE journal_issued SET last_seq = 5"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    auto journal = Fresh(8, c.anchored ? anchors_ : std::make_shared<FakeAnchors>());
    Sql("DELETE FROM journal WHERE seq > 5");
    if (*c.sql != '\0') Sql(c.sql);
    if (c.restart) {
      journal.reset();
      journal = MakeJournal(c.anchored ? anchors_ : nullptr);
    }
    notices_.clear();
    journal->Append(Entry(8));
    ASSERT_TRUE(journal->Commit());
    journal->Append(Entry(9));
    ASSERT_TRUE(journal->Commit());
    const std::vector<JournalRow> rows = Rows();
    EXPECT_EQ(SequencesOf(rows), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 9, 10, 11}));
    EXPECT_THAT(rows[5].entry.text,
                StartsWith("The journal ends at 5 but records 6 to 8 were written"));
    EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, "records 6 to 8 were deleted")));
    // The gap stays visible to the chain walk.
    EXPECT_EQ(journal->Verify().first_bad, 6);
  }
}

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

// A journal made before the detail column: readers take it as it is.
TEST_F(JournalTest, TheFirstCommitAddsTheDetailColumnKeepingEveryRowAndTheChain) {
  fs::create_directories(data_);
  std::vector<JournalEntry> earlier{
      PanelEntry(kBase, JournalKind::kEvent, "12/07 00:00 Event = EMG Ack"),
      PanelEntry(kBase + 1000, JournalKind::kOperator, "Key EMG ACK", "bob"),
      PanelEntry(kBase + 2000, JournalKind::kEvent, "12/07 00:00 Event = Fault 0000"),
  };
  earlier[0].raw_hex = "0203A01200004703";
  std::vector<std::string> chains;
  {
    sqlite::Database db;
    ASSERT_TRUE(db.Open(File(), sqlite::kReadWrite | sqlite::kCreate).ok());
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
  // The value the earlier program gave the first record: one without a detail hashes as ever,
  // every field of it in the hash.
  EXPECT_EQ(test::SqlBlob(chains[0]),
            "X'71263ac311d067149a89fadbc8580bfc5851fd79252432415c65bab1a5b6a524'");

  // Readers take the file as it is; one stays open across the change, as a history window would.
  EXPECT_EQ(VerifyJournalFile(File()).good_rows, 3);
  JournalReader reader;
  ASSERT_TRUE(reader.Open(File()).ok());
  std::vector<JournalRow> rows;
  ASSERT_TRUE(reader.NewestFirst({}, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[0].entry, earlier[2]);

  auto journal = MakeJournal();
  JournalEntry named = PanelEntry(kBase + 3000, JournalKind::kEvent, "Event = Fault");
  named.detail = "Mains, Call/EMG";
  journal->Append(named);
  ASSERT_TRUE(journal->Commit());
  EXPECT_TRUE(notices_.empty()) << notices_[0].text;  // nothing moved aside

  ASSERT_TRUE(reader.NewestFirst({}, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[0].entry, named);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[3 - i].entry, earlier[i]) << i;
    EXPECT_EQ(rows[3 - i].chain, chains[i]) << i;
  }
  const JournalCheck check = VerifyJournalFile(File());
  EXPECT_TRUE(check.ok) << check.error << " first bad " << check.first_bad;
  EXPECT_EQ(check.good_rows, 4);
}
}  // namespace
}  // namespace orv
