// The journal and what it stands on. The SQLite wrapper: values come back as bound, failures carry
// SQLite's own message, a transaction left without Commit() is rolled back. The store: what goes
// in comes back field for field and in order, one transaction per Commit, a chain that names the
// first record edited, deleted or inserted, and nothing lost while the file cannot be written
// (read-only folder, locked by another connection, damaged file). What a hostile operator can do
// to the shared file with the sqlite3 shell: objects the program does not make move the file aside
// and a new chain goes on at once; records deleted from the end leave their numbers unused; the
// head anchored outside the folder shows a deleted end, a replaced file and a recomputed chain. A
// file of the program before the detail column is taken as it is. Reading it: filters that take
// exactly what they say (time bounds inclusive, one kind, text in any ASCII case with its
// wildcards literal), the history list's pages newest first by sequence number, times as people
// read them, dates from the command line, and CSV as RFC 4180 has it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "journal/journal_query.h"
#include "platform/safe_file.h"
#include "platform/sqlite.h"
#include "tests/small_disk.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {

// Failures show the record, not its bytes.
void PrintTo(const JournalEntry& e, std::ostream* out) {
  *out << '{' << e.time.utc_ms << ", " << e.time.utc_offset_s << ", " << JournalKindName(e.kind)
       << ", \"" << e.text << "\", \"" << e.raw_hex << "\", " << e.login << ", " << e.host << '}';
}

namespace {

namespace fs = std::filesystem;
using test::PanelEntry;
using ::testing::_;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.Open(folder_.path() / "t.sqlite", sqlite::kReadWrite | sqlite::kCreate).ok());
    ASSERT_TRUE(db_.Exec("CREATE TABLE t(n INTEGER, s TEXT, b BLOB)").ok());
  }
  std::int64_t Count() {
    std::string text;
    EXPECT_TRUE(db_.QueryText("SELECT count(*) FROM t", text).row());
    return std::stoll(text);
  }

  test::TempFolder folder_;
  sqlite::Database db_;
};

TEST_F(SqliteTest, ValuesComeBackAsBound) {
  const struct {
    std::int64_t n;
    std::string s;
    std::string b;
  } kRows[] = {
      {INT64_MIN, "", std::string("\0\x01\xff", 3)},
      {INT64_MAX, "Größe, \"quoted\"\nline", ""},
      {0, std::string("a\0b", 3), std::string(1000, '\x7f')},
  };
  sqlite::Statement insert;
  ASSERT_TRUE(insert.Prepare(db_, "INSERT INTO t VALUES(?1, ?2, ?3)").ok());
  for (const auto& row : kRows) {
    ASSERT_TRUE(insert.BindInt64(1, row.n).ok());
    ASSERT_TRUE(insert.BindText(2, row.s).ok());
    ASSERT_TRUE(insert.BindBlob(3, row.b).ok());
    ASSERT_TRUE(insert.Step().done());
    ASSERT_TRUE(insert.Reset().ok());
  }
  sqlite::Statement select;
  ASSERT_TRUE(select.Prepare(db_, "SELECT n, s, b, typeof(b) FROM t ORDER BY rowid").ok());
  for (const auto& row : kRows) {
    ASSERT_TRUE(select.Step().row());
    EXPECT_EQ(select.ColumnInt64(0), row.n);
    EXPECT_EQ(select.ColumnText(1), row.s);
    EXPECT_EQ(select.ColumnBlob(2), row.b);
    EXPECT_FALSE(select.ColumnIsNull(2));
    EXPECT_EQ(select.ColumnText(3), "blob");
  }
  EXPECT_TRUE(select.Step().done());
}

TEST_F(SqliteTest, FailuresCarrySqlitesMessageAndALinkIsRefused) {
  const sqlite::Result exec = db_.Exec("SELECT * FROM missing");
  EXPECT_FALSE(exec.ok());
  EXPECT_EQ(exec.message, "no such table: missing");
  sqlite::Statement statement;
  const sqlite::Result prepare = statement.Prepare(db_, "INSERT INTO t VALUES(1,, 2)");
  EXPECT_FALSE(prepare.ok());
  EXPECT_NE(prepare.message.find("syntax error"), std::string::npos) << prepare.message;

  sqlite::Database none;
  const sqlite::Result open = none.Open(folder_.path() / "absent" / "x.sqlite", sqlite::kReadWrite);
  EXPECT_FALSE(open.ok());
  EXPECT_FALSE(none.is_open());
  EXPECT_FALSE(open.message.empty());
  // A link in place of the file is refused, never followed.
  std::filesystem::create_symlink(folder_.path() / "t.sqlite", folder_.path() / "link.sqlite");
  EXPECT_FALSE(none.Open(folder_.path() / "link.sqlite", sqlite::kReadWrite).ok());
}

// A transaction left without Commit() is rolled back; BEGIN IMMEDIATE takes the write lock at
// once, so a second writer is told it is busy at Begin().
TEST_F(SqliteTest, ATransactionNotCommittedIsRolledBackAndASecondWriterIsBusyAtBegin) {
  {
    sqlite::Transaction transaction(db_);
    ASSERT_TRUE(transaction.Begin().ok());
    ASSERT_TRUE(db_.Exec("INSERT INTO t VALUES(1, 'x', x'00')").ok());
  }
  EXPECT_EQ(Count(), 0);
  sqlite::Transaction first(db_);
  ASSERT_TRUE(first.Begin().ok());
  ASSERT_TRUE(db_.Exec("INSERT INTO t VALUES(1, 'x', x'00')").ok());
  sqlite::Database other;
  ASSERT_TRUE(other.Open(folder_.path() / "t.sqlite", sqlite::kReadWrite).ok());
  sqlite::Transaction second(other);
  const sqlite::Result busy = second.Begin();
  EXPECT_TRUE(busy.busy()) << busy.message;
  EXPECT_FALSE(busy.damaged());  // a locked journal is never moved aside
  ASSERT_TRUE(first.Commit().ok());
  EXPECT_EQ(Count(), 1);
}

// A statement that would never end (a recursive query without a limit, as a hostile trigger
// might run) is stopped once it has run for the budget, through Exec() and through Step() alike.
TEST_F(SqliteTest, AStatementPastItsBudgetIsStopped) {
  using Clock = std::chrono::steady_clock;
  constexpr char kEndless[] =
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT count(*) FROM n";
  db_.SetStatementBudget(std::chrono::milliseconds(50));
  for (const bool step : {false, true}) {
    SCOPED_TRACE(step ? "Step" : "Exec");
    const Clock::time_point start = Clock::now();
    sqlite::Result result;
    sqlite::Statement statement;
    if (step) {
      ASSERT_TRUE(statement.Prepare(db_, kEndless).ok());
      result = statement.Step();
    } else {
      result = db_.Exec(kEndless);
    }
    const auto took = Clock::now() - start;
    EXPECT_TRUE(result.interrupted()) << result.message;
    EXPECT_GE(took, std::chrono::milliseconds(50));
    EXPECT_LT(took, std::chrono::milliseconds(500));
  }
  // The budget is per statement, not per connection: a short one after them runs.
  EXPECT_TRUE(db_.Exec("INSERT INTO t VALUES(1, 'x', x'00')").ok());
}

// A hardened connection runs no trigger and no view that someone else put in the file, and
// cannot write the schema behind SQLite's back.
TEST_F(SqliteTest, AHardenedConnectionRunsNoTriggerOrView) {
  ASSERT_TRUE(
      db_.Exec("CREATE TABLE seen(n INTEGER);"
               "CREATE TRIGGER copy AFTER INSERT ON t BEGIN INSERT INTO seen VALUES(1); END;"
               "CREATE VIEW v AS SELECT n FROM t")
          .ok());
  sqlite::Database hardened;
  ASSERT_TRUE(hardened.Open(folder_.path() / "t.sqlite", sqlite::kReadWrite).ok());
  ASSERT_TRUE(hardened.Harden().ok());
  ASSERT_TRUE(hardened.Exec("INSERT INTO t VALUES(1, 'x', x'00')").ok());
  std::string seen;
  ASSERT_TRUE(hardened.QueryText("SELECT count(*) FROM seen", seen).row());
  EXPECT_EQ(seen, "0");
  EXPECT_FALSE(hardened.QueryText("SELECT * FROM v", seen).ok());
  EXPECT_FALSE(hardened.Exec("PRAGMA writable_schema=ON; DELETE FROM sqlite_schema").ok());
  EXPECT_EQ(Count(), 1);
}

// The system journal as the tests see it: what was sent, and the newest of it read back.
struct FakeAnchors final : JournalAnchorSink {
  bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) override {
    if (down) {
      problem = "down";
      return false;
    }
    names.push_back(name);
    sent.push_back(anchor);
    return true;
  }
  std::optional<JournalAnchor> Newest(const std::string&) override {
    return sent.empty() ? std::nullopt : std::optional(sent.back());
  }
  bool down = false;
  std::vector<std::string> names;
  std::vector<JournalAnchor> sent;
};

class JournalTest : public ::testing::Test {
 protected:
  std::unique_ptr<Journal> MakeJournal(std::shared_ptr<JournalAnchorSink> sink = nullptr,
                                       int retry_commits = 1) {
    JournalOptions options;
    options.clock = [this] { return JournalTime{now_ms_, 3600}; };
    options.login = "operator1";
    options.host = "panel-pc";
    options.retry_commits = retry_commits;
    options.anchor = std::move(sink);
    return std::make_unique<Journal>(
        data_, [this](const Notice& n) { notices_.push_back(n); }, std::move(options));
  }
  // Entry i of a test: every one different in every field.
  static JournalEntry Entry(int i, const std::string& text = "record ") {
    static constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator,
                                             JournalKind::kLink, JournalKind::kProgram};
    const std::string n = std::to_string(i);
    return {.time = {kBase + 1000 * i, i % 2 == 0 ? 3600 : -18000},
            .kind = kKinds[i % 4],
            .text = text + n,
            .raw_hex = i % 4 == 0 ? "0203A0120000" + std::to_string(i % 10) + "703" : "",
            .login = "user" + n,
            .host = "host" + n,
            .detail = ""};
  }
  // A fresh journal of count records, committed at once.
  std::unique_ptr<Journal> Fresh(int count, std::shared_ptr<JournalAnchorSink> sink = nullptr,
                                 const std::string& text = "record ") {
    std::error_code ec;
    fs::remove_all(data_, ec);
    auto journal = MakeJournal(std::move(sink));
    for (int i = 0; i < count; ++i)
      journal->Append(Entry(i, text));
    EXPECT_TRUE(journal->Commit());
    return journal;
  }
  void Sql(const std::string& sql) const { test::JournalSql(File(), sql); }
  std::vector<JournalRow> Rows() const { return test::JournalRows(File()); }
  static std::vector<std::int64_t> SequencesOf(const std::ranges::range auto& rows) {
    std::vector<std::int64_t> sequences;
    std::ranges::transform(rows, std::back_inserter(sequences), &JournalRow::sequence);
    return sequences;
  }
  fs::path File() const { return data_ / Journal::kFileName; }
  // A notice of this level with part in its text.
  static auto Said(NoticeLevel level, const std::string& part) {
    return AllOf(Field(&Notice::level, level), Field(&Notice::text, HasSubstr(part)));
  }

  test::TempFolder folder_;
  fs::path data_ = folder_.path() / "DATA";
  std::shared_ptr<FakeAnchors> anchors_ = std::make_shared<FakeAnchors>();
  std::vector<Notice> notices_;
  std::int64_t now_ms_ = kBase;
};

// Each change made behind the journal's back, and the record the walk must name for it.
TEST_F(JournalTest, TheChainNamesTheFirstRecordChanged) {
  const struct {
    const char* what;
    const char* sql;
    std::int64_t first_bad;  // 0: the chain holds
  } kCases[] = {
      {"nothing", "SELECT 1", 0},
      {"time", "UPDATE journal SET utc_ms = utc_ms + 1 WHERE seq = 4", 4},
      {"offset", "UPDATE journal SET utc_offset_s = 0 WHERE seq = 4", 4},
      {"kind", "UPDATE journal SET kind = 'link' WHERE seq = 4", 4},
      {"kind unknown", "UPDATE journal SET kind = 'other' WHERE seq = 4", 4},
      {"text", "UPDATE journal SET text = 'record 3 ' WHERE seq = 4", 4},
      {"raw frame", "UPDATE journal SET raw_hex = 'FF' WHERE seq = 4", 4},
      {"login", "UPDATE journal SET login = 'someone' WHERE seq = 4", 4},
      {"host", "UPDATE journal SET host = 'elsewhere' WHERE seq = 4", 4},
      {"detail given afterwards", "UPDATE journal SET detail = 'Mains' WHERE seq = 4", 4},
      {"host moved into the detail", "UPDATE journal SET host = 'host', detail = '3' WHERE seq = 4",
       4},
      {"chain", "UPDATE journal SET chain = zeroblob(32) WHERE seq = 4", 4},
      {"text moved into the login",
       "UPDATE journal SET text = 'record 3u', login = 'ser3' WHERE seq = 4", 4},
      // A chain may begin past 1 (after a file moved aside); its first record must then begin
      // from nothing, which record 2 does not.
      {"first deleted", "DELETE FROM journal WHERE seq = 1", 2},
      {"middle deleted", "DELETE FROM journal WHERE seq = 5", 5},
      {"swapped texts",
       "UPDATE journal SET text = CASE seq WHEN 6 THEN 'record 6' ELSE 'record 5' END WHERE seq IN "
       "(6, 7)",
       6},
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

// Another connection holds the write lock (another copy of the program, the sqlite3 shell): at
// most waiting_limit records wait and the rest are counted, the operator is told, a failing Commit
// is tried again only every retry_commits-th call (a broken disk is not asked ten times a second),
// and once the lock is gone the records are written, then the count as a program record.
TEST_F(JournalTest, ALockedDatabaseKeepsBoundedRecordsWaitingUntilItIsFree) {
  auto journal = MakeJournal(nullptr, 10);
  journal->Append(Entry(0));
  ASSERT_TRUE(journal->Commit());
  sqlite::Database other;
  ASSERT_TRUE(other.Open(File(), sqlite::kReadWrite).ok() && other.Exec("BEGIN EXCLUSIVE").ok());

  const int limit = 10000;
  ASSERT_GE(JournalOptions{}.waiting_limit, static_cast<std::size_t>(limit));
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
    notices_.clear();
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
    EXPECT_EQ(journal->waiting(), 4U);
    EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, c.full ? "full" : "")));
    if (c.full) fs::remove(filler);
    ASSERT_TRUE(c.full || disk.SetReadOnly(false));
    journal->Append(big(c.first + 4));
    ASSERT_TRUE(journal->Commit()) << notices_.back().text;
    EXPECT_THAT(notices_, ElementsAre(_, Said(NoticeLevel::kInfo, "")));
    const std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.first + 5));
    for (int i = 0; i < c.first + 5; ++i)
      EXPECT_EQ(rows[static_cast<std::size_t>(i)].entry, i < c.first ? Entry(i) : big(i)) << i;
    EXPECT_TRUE(journal->Verify().ok);
    journal.reset();
  }
}

// The journal's files in the shared folder are as writable for the group as the umask allows:
// with the program's umask 002, 0664, so that the next operator's program can write them too.
TEST_F(JournalTest, ItsFilesAreGroupWritableUnderUmask002) {
  const mode_t saved = ::umask(002);
  auto journal = Fresh(1);
  ::umask(saved);
  for (const char* suffix : {"", "-wal", "-shm"})
    EXPECT_EQ(fs::status(File().string() + suffix).permissions(), fs::perms(0664)) << suffix;
}

// A file that is no sound journal of the program's: garbage from the start, a page overwritten,
// or an object the program does not make, planted before it opens the file or while it has it
// open. The next Commit moves the file aside, byte for byte, under a name dated by the clock with
// one notice naming why, and writes a new chain at once, its numbers going on after the last one
// given, anchored at once.
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
    anchors_->sent.clear();
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
    ASSERT_TRUE(fs::exists(aside));
    EXPECT_TRUE(bytes.empty() || test::ReadBytes(aside) == bytes);
    EXPECT_FALSE(fs::exists(aside.string() + "-2")) << "moved aside once";
    const std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].sequence, records + 1);
    EXPECT_THAT(rows[0].entry.text, HasSubstr("moved aside to " + aside.filename().string()));
    EXPECT_EQ(rows[1].entry, Entry(8));
    const JournalCheck check = journal->Verify();
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.first_sequence, records + 1);
    EXPECT_EQ(anchors_->sent.back(), (JournalAnchor{records + 2, rows[1].chain}));
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

// The head goes out after the first write, then at most once a minute, whenever asked if it
// moved, and at the end; a sink that fails is tried again a minute later, not at every commit.
TEST_F(JournalTest, TheHeadIsAnchoredAtMostOnceAMinuteAndWhenAsked) {
  enum class Do { kCommit, kAnchorNow, kEnd };
  const struct {
    std::int64_t at_s;  // seconds after the first commit
    Do action;
    bool down;              // the sink fails
    std::int64_t anchored;  // the newest anchor's sequence number afterwards
    bool problem;           // the last try failed
  } kSteps[] = {
      {0, Do::kCommit, false, 1, false},     {30, Do::kCommit, false, 1, false},
      {30, Do::kAnchorNow, false, 2, false}, {31, Do::kAnchorNow, false, 2, false},
      {89, Do::kCommit, false, 2, false},    {90, Do::kCommit, false, 4, false},
      {150, Do::kCommit, true, 4, true},     {160, Do::kCommit, false, 4, true},
      {210, Do::kCommit, false, 7, false},   {211, Do::kCommit, false, 7, false},
      {211, Do::kEnd, false, 8, false},
  };
  auto journal = MakeJournal(anchors_);
  int i = 0;
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.at_s);
    now_ms_ = kBase + step.at_s * 1000;
    anchors_->down = step.down;
    if (step.action == Do::kCommit) {
      journal->Append(Entry(i++));
      ASSERT_TRUE(journal->Commit());
    } else if (step.action == Do::kAnchorNow) {
      journal->AnchorNow();
    } else {
      journal.reset();
    }
    ASSERT_FALSE(anchors_->sent.empty());
    EXPECT_EQ(anchors_->sent.back().sequence, step.anchored);
    EXPECT_EQ(journal ? journal->anchor_problem() : "", step.problem ? "down" : "");
  }
  EXPECT_EQ(anchors_->sent.size(), 5U);  // 1, 2, 4, 7, 8: never the same head twice
  EXPECT_EQ(anchors_->names.back(), fs::weakly_canonical(File()).string());
}

// Rewrites the text of record sequence and every chain value from it on, as a forger with the
// program's (unkeyed) chain function would.
void Recompute(const fs::path& file, std::int64_t sequence, const std::string& text) {
  std::string previous(32, '\0');
  for (JournalRow row : test::JournalRows(file)) {
    if (row.sequence == sequence) row.entry.text = text;
    if (row.sequence >= sequence) {
      row.chain = JournalChainValue(previous, row.sequence, row.entry);
      test::JournalSql(file, "UPDATE journal SET text = '" + row.entry.text +
                                 "', chain = " + test::SqlBlob(row.chain) +
                                 " WHERE seq = " + std::to_string(row.sequence));
    }
    previous = row.chain;
  }
}

// The chain itself verifies in every case; only the anchor shows what happened.
TEST_F(JournalTest, TheAnchorShowsADeletedEndAReplacedFileAndARecomputedChain) {
  const struct {
    const char* what;
    int replaced_by;  // records of a forged journal put in its place (0: the file is kept)
    const char* sql;
    std::int64_t recompute_from;
    const char* problem;
  } kCases[] = {
      {"intact", 0, "", 0, ""},
      {"end deleted", 0, "DELETE FROM journal WHERE seq > 7", 0,
       "the journal ends at 7 but was anchored at 8"},
      {"a shorter forged file", 3, "", 0, "the journal ends at 3 but was anchored at 8"},
      {"a longer forged file", 10, "", 0, "the chain value at 8 differs from the anchor"},
      {"the chain recomputed", 0, "", 4, "the chain value at 8 differs from the anchor"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    anchors_->sent.clear();
    Fresh(8, anchors_).reset();
    const JournalAnchor anchor = anchors_->sent.back();
    ASSERT_EQ(anchor.sequence, 8);
    if (c.replaced_by > 0) Fresh(c.replaced_by, nullptr, "forged ").reset();
    if (*c.sql != '\0') Sql(c.sql);
    if (c.recompute_from > 0) Recompute(File(), c.recompute_from, "TEST");
    const JournalCheck check = VerifyJournalFile(File(), anchor.sequence);
    ASSERT_TRUE(check.ok) << check.error << " at " << check.first_bad;
    const std::string problem = JournalAnchorProblem(check, anchor);
    EXPECT_TRUE(problem.starts_with(c.problem) && problem.empty() == !*c.problem) << problem;
  }
}

TEST(JournalAnchorText, SequenceColonAndSixtyFourHexDigits) {
  const std::string hex64(64, 'a');
  const struct {
    std::string text;
    bool ok;
  } kCases[] = {
      {"12:" + hex64, true},
      {"12:" + std::string(64, 'F'), true},
      {"0:" + hex64, false},
      {"-1:" + hex64, false},
      {":" + hex64, false},
      {"12" + hex64, false},
      {"12:" + hex64.substr(1), false},
      {"12:" + hex64 + "0", false},
      {"12:" + hex64.substr(1) + "g", false},
      {"1x:" + hex64, false},
      {"9999999999999999999:" + hex64, false},
  };
  for (const auto& c : kCases) {
    JournalAnchor anchor;
    EXPECT_EQ(ParseJournalAnchor(c.text, anchor), c.ok) << c.text;
  }
  const JournalAnchor anchor{42, std::string("\x00\x01\xfe\xff", 4) + std::string(28, '\x5a')};
  JournalAnchor back;
  ASSERT_TRUE(ParseJournalAnchor(FormatJournalAnchor(anchor), back));
  EXPECT_EQ(back, anchor);
  EXPECT_EQ(FormatJournalAnchor(anchor).substr(0, 11), "42:0001feff");
  // A line feed in a value goes as a binary field, length first, so it cannot add fields.
  EXPECT_THAT(JournalAnchorDatagram("/a\nX=1", anchor),
              HasSubstr(std::string("\nORVANDEL_JOURNAL_FILE\n\x06\0\0\0\0\0\0\0/a\nX=1\n", 33)));
}

// Where no journald runs, the test plays it: it binds the system journal's socket and reads the
// datagrams that arrive. The anchor comes as journald's native protocol, KEY=value lines; with
// nobody reading, the sender fails at once instead of waiting; without the socket, at once too.
TEST_F(JournalTest, TheSystemJournalGetsOneDatagramPerAnchorAndNeverAWait) {
  if (::geteuid() != 0) GTEST_SKIP() << "binding the system journal's socket needs root";
  const fs::path socket_path = "/run/systemd/journal/socket";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.string().size() + 1);
  const auto* where = reinterpret_cast<const sockaddr*>(&address);
  FileDescriptor server(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(server.valid());
  if (fs::is_socket(socket_path)) {
    FileDescriptor probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), where, sizeof address) == 0)
      GTEST_SKIP() << socket_path << " is in use: a system journal runs here";
    fs::remove(socket_path);  // left behind by a journald that is gone
  }
  std::error_code ec;
  const bool made_folder = fs::create_directories(socket_path.parent_path(), ec);
  ASSERT_EQ(::bind(server.get(), where, sizeof address), 0) << std::strerror(errno);
  const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
    fs::remove(socket_path, ec);
    if (made_folder) fs::remove(socket_path.parent_path(), ec);
  });

  JournalAnchor head;
  {
    Journal journal(data_, nullptr);  // the system journal, as the program has it
    for (int i = 0; i < 3; ++i)
      journal.Append(journal.Make(JournalKind::kProgram, "record " + std::to_string(i)));
    ASSERT_TRUE(journal.Commit());
    EXPECT_EQ(journal.anchor_problem(), "");
    head = {3, Rows().back().chain};
  }
  // Anchored after the first write; the end anchors nothing new. (Other tests' journals running
  // beside this one may send too: only this file's count.)
  std::vector<std::string> datagrams;
  char buffer[4096];
  pollfd ready{server.get(), POLLIN, 0};
  // Bounded: tests beside this one may keep the socket busy.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end &&
         ::poll(&ready, 1, datagrams.empty() ? 2000 : 100) == 1) {
    const ssize_t n = ::recv(server.get(), buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    const std::string datagram(buffer, static_cast<std::size_t>(n));
    if (datagram.find(folder_.path().filename().string()) != std::string::npos)
      datagrams.push_back(datagram);
  }
  ASSERT_EQ(datagrams.size(), 1U);
  const std::string hex = FormatJournalAnchor(head).substr(2);
  for (const std::string& field :
       {"MESSAGE=orvandel journal head 3 " + hex,
        "MESSAGE_ID=" + std::string(kJournalAnchorMessageId),
        "ORVANDEL_JOURNAL_FILE=" + fs::weakly_canonical(File()).string(),
        std::string("ORVANDEL_JOURNAL_SEQUENCE=3"), "ORVANDEL_JOURNAL_CHAIN=" + hex})
    EXPECT_NE(("\n" + datagrams[0]).find("\n" + field + "\n"), std::string::npos) << datagrams[0];

  // Nobody reads: the queue fills, and every send still returns at once.
  const std::shared_ptr<JournalAnchorSink> sink = SystemJournalAnchors();
  const auto start = std::chrono::steady_clock::now();
  std::string problem;
  int refused = 0;
  for (int i = 0; i < 5000 && refused == 0; ++i)
    refused += sink->Send("/x", head, problem) ? 0 : 1;
  EXPECT_EQ(refused, 1);
  EXPECT_NE(problem.find("Resource temporarily unavailable"), std::string::npos) << problem;
  server.Close();
  fs::remove(socket_path);
  EXPECT_FALSE(sink->Send("/x", head, problem));
  EXPECT_NE(problem.find("No such file or directory"), std::string::npos) << problem;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
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

// A journal made before the detail column: readers take it as it is, and the program's first
// commit adds the column in place, every row and chain value kept.
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
  // The value the earlier program gave the first record: one without a detail hashes as ever.
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
  EXPECT_EQ(rows[0].sequence, 4);
  EXPECT_EQ(rows[0].entry, named);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[3 - i].entry, earlier[i]) << i;
    EXPECT_EQ(rows[3 - i].chain, chains[i]) << i;
  }
  const JournalCheck check = VerifyJournalFile(File());
  EXPECT_TRUE(check.ok) << check.error << " first bad " << check.first_bad;
  EXPECT_EQ(check.good_rows, 4);
}

class JournalQueryTest : public JournalTest {
 protected:
  // Writes the entries in one commit and opens the reader.
  void Write(const std::vector<JournalEntry>& entries) {
    auto journal = MakeJournal();
    for (const JournalEntry& entry : entries)
      journal->Append(entry);
    ASSERT_TRUE(journal->Commit());
    ASSERT_TRUE(reader_.Open(File()).ok());
  }
  std::vector<std::int64_t> Sequences(const JournalFilter& filter) {
    std::vector<JournalRow> rows;
    EXPECT_TRUE(reader_.NewestFirst(filter, 0, 1000, rows).done());
    const std::vector<std::int64_t> sequences = SequencesOf(rows);
    std::int64_t count = -1;
    EXPECT_TRUE(reader_.Count(filter, count).ok());
    EXPECT_EQ(count, std::int64_t(sequences.size())) << "count and pages disagree";
    return sequences;
  }

  JournalReader reader_;
};

TEST_F(JournalQueryTest, FiltersTakeExactlyWhatTheySay) {
  constexpr auto kEvent = JournalKind::kEvent, kOperator = JournalKind::kOperator;
  JournalEntry fault = PanelEntry(kBase + 2000, kEvent, "Fault Unit 12 zone 3");
  fault.detail = "Mains, Battery";
  Write({
      PanelEntry(kBase, kEvent, "12/07 00:00 Event = EMG Ack"),                              // 1
      PanelEntry(kBase + 1000, kOperator, "Key EMG Reset", "bob"),                           // 2
      fault,                                                                                 // 3
      PanelEntry(kBase + 3000, JournalKind::kLink, "Connect COM1 /dev/ttyUSB0 9600,N,8,1"),  // 4
      PanelEntry(kBase + 4000, kOperator, "Rename ETRG 7 \"Lobby\" to \"Hall\""),            // 5
      PanelEntry(kBase + 5000, JournalKind::kProgram, "100% sure_thing"),                    // 6
      PanelEntry(kBase + 6000, kEvent, "100 percent: sure thing"),                           // 7
      PanelEntry(kBase + 7000, kEvent, "path C:\\data"),                                     // 8
  });
  struct Case {
    const char* name;
    JournalFilter filter;
    std::vector<std::int64_t> sequences;  // newest first
  };
  const std::vector<Case> cases = {
      // filters: from, to, kind, text
      {"all", {}, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"events", {{}, {}, kEvent, ""}, {8, 7, 3, 1}},
      {"both bounds inclusive", {kBase + 2000, kBase + 4000, {}, ""}, {5, 4, 3}},
      {"bounds and kind", {kBase + 2000, kBase + 4000, kEvent, ""}, {3}},
      {"bounds, kind and text", {kBase + 2000, kBase + 4000, kOperator, "LOBBY"}, {5}},
      {"from only", {kBase + 6000, {}, {}, ""}, {8, 7}},
      {"to only, a millisecond short of the second record", {{}, kBase + 999, {}, ""}, {1}},
      {"text in another case", {{}, {}, {}, "emg"}, {2, 1}},
      {"text with a quote", {{}, {}, {}, "\"lobby\""}, {5}},
      {"the user's name", {{}, {}, {}, "BOB"}, {2}},
      {"the detail", {{}, {}, {}, "battery"}, {3}},
      {"percent is no wildcard", {{}, {}, {}, "100%"}, {6}},
      {"underscore is no wildcard", {{}, {}, {}, "sure_"}, {6}},
      {"a backslash is itself", {{}, {}, {}, "c:\\d"}, {8}},
      {"nothing matches", {{}, {}, {}, "zzz"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sequences(c.filter), c.sequences);
  }
}

// The history list: pages as the operator scrolls, newer records on top as they are committed,
// only those that match, none twice.
TEST_F(JournalQueryTest, HistoryListFetchesOlderPagesAndTakesNewerRecordsOnTop) {
  auto journal = MakeJournal();
  auto commit = [&](int from, int to) {  // records from..to, every third one a link record
    for (int i = from; i <= to; ++i) {
      journal->Append(PanelEntry(kBase + i, i % 3 == 0 ? JournalKind::kLink : JournalKind::kEvent,
                                 "record " + std::to_string(i)));
    }
    ASSERT_TRUE(journal->Commit());
  };
  commit(1, 8);  // events: 1 2 4 5 7 8
  ASSERT_TRUE(reader_.Open(File()).ok());
  JournalHistory history(reader_, 3);
  auto sequences = [&] { return SequencesOf(history.rows()); };
  // How many rows a call added; a failed call counts as 99.
  std::size_t added = 0;
  auto more = [&] { return history.FetchMore(added).ok() ? added : 99; };
  auto newer = [&](std::int64_t last) { return history.TakeNewer(last, added).ok() ? added : 99; };
  ASSERT_TRUE(history.Reset({{}, {}, JournalKind::kEvent, ""}).ok());
  EXPECT_THAT(sequences(), ElementsAre(8, 7, 5));
  EXPECT_TRUE(history.CanFetchMore());
  EXPECT_EQ(more(), 3u);
  EXPECT_THAT(sequences(), ElementsAre(8, 7, 5, 4, 2, 1));
  // A full last page cannot know it is the last: one more look finds nothing.
  EXPECT_TRUE(history.CanFetchMore());
  EXPECT_EQ(more(), 0u);
  EXPECT_FALSE(history.CanFetchMore());

  commit(9, 11);  // 9 is a link record: 10 and 11 match
  EXPECT_EQ(newer(11), 2u);
  EXPECT_THAT(sequences(), ElementsAre(11, 10, 8, 7, 5, 4, 2, 1));
  EXPECT_EQ(history.newest_seen(), 11);
  // The same news again, or only records that do not match: nothing added.
  EXPECT_EQ(newer(11), 0u);
  commit(12, 12);
  EXPECT_EQ(newer(0), 0u);
  EXPECT_EQ(history.newest_seen(), 12);
  commit(13, 13);
  EXPECT_EQ(newer(0), 1u);
  EXPECT_EQ(history.rows().front().entry.text, "record 13");

  // Starting over with another filter, and records that came while none was looked at.
  commit(14, 15);
  ASSERT_TRUE(history.Reset({{}, {}, JournalKind::kLink, ""}).ok());
  EXPECT_THAT(sequences(), ElementsAre(15, 12, 9));
  EXPECT_EQ(more(), 2u);
  EXPECT_THAT(sequences(), ElementsAre(15, 12, 9, 6, 3));
  EXPECT_FALSE(history.CanFetchMore());
}

TEST(JournalTimeTest, LocalAndIsoTimesComeFromTheStoredOffset) {
  struct Case {
    JournalTime time;
    const char* local;
    const char* iso;
  };
  const Case cases[] = {
      {{kBase + 14 * 3600000 + 3 * 60000 + 22125, 3600},
       "2026-12-07 15:03:22",
       "2026-12-07T15:03:22.125+01:00"},
      // The offset moves the date back over midnight and the year's end.
      {{1798761600000 + 30000, -5 * 3600}, "2026-12-31 19:00:30", "2026-12-31T19:00:30.000-05:00"},
      {{1798761600000 - 1, 0}, "2026-12-31 23:59:59", "2026-12-31T23:59:59.999+00:00"},
      {{1798761600000, 0}, "2027-01-01 00:00:00", "2027-01-01T00:00:00.000+00:00"},
      // Half-hour and quarter-hour zones.
      {{kBase, 5 * 3600 + 1800}, "2026-12-07 05:30:00", "2026-12-07T05:30:00.000+05:30"},
      {{kBase, -(3 * 3600 + 2700)}, "2026-12-06 20:15:00", "2026-12-06T20:15:00.000-03:45"},
      // A leap day, and a time before 1970.
      {{1709164800000 + 1, 0}, "2024-02-29 00:00:00", "2024-02-29T00:00:00.001+00:00"},
      {{-1, 0}, "1969-12-31 23:59:59", "1969-12-31T23:59:59.999+00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatJournalLocalTime(c.time), c.local) << c.iso;
    EXPECT_EQ(FormatJournalIsoTime(c.time), c.iso);
    // To the second: the same moment without its milliseconds, never rounded up.
    EXPECT_EQ(FormatJournalIsoTime(c.time, false), std::string(c.iso).erase(19, 4));
  }
}

TEST(JournalDateTest, CommandLineDatesNameADayAMinuteOrASecondOfLocalTime) {
  // One hour east of UTC, without summer time.
  const LocalToUtcFn plus_one = [](std::int64_t local, std::int64_t& utc) {
    utc = local - 3600;
    return true;
  };
  struct Case {
    const char* text;
    std::int64_t first_ms;
    std::int64_t last_ms;
  };
  const Case cases[] = {
      {"2026-12-07", kBase - 3600000, kBase - 3600000 + 86400000 - 1},
      {"2026-12-07 14:03", kBase + 13 * 3600000 + 180000, kBase + 13 * 3600000 + 240000 - 1},
      {"2026-12-07T14:03", kBase + 13 * 3600000 + 180000, kBase + 13 * 3600000 + 240000 - 1},
      {"2026-12-07T14:03:22", kBase + 13 * 3600000 + 202000, kBase + 13 * 3600000 + 203000 - 1},
      {"2026-12-07 00:00:59", kBase - 3600000 + 59000, kBase - 3600000 + 60000 - 1},
      {"2024-02-29 23:59:59", 1709251199000 - 3600000, 1709251200000 - 3600000 - 1},
  };
  // The first and last millisecond named; {-1, -1} when refused with a reason.
  const auto parse = [](const char* text, const LocalToUtcFn& zone) {
    std::string error;
    const JournalDateSpan span = ParseJournalDate(text, zone, error);
    return error.empty() ? std::pair(span.first_ms, span.last_ms) : std::pair(-1L, -1L);
  };
  for (const Case& c : cases)
    EXPECT_EQ(parse(c.text, plus_one), std::pair(c.first_ms, c.last_ms)) << c.text;
  // clang-format off
  const char* bad[] = {"", "2026-12-7", "26-12-07", "2026/12/07", "2026-13-01", "2026-00-10",
      "2026-02-29", "2026-04-31", "2026-12-00", "2026-12-07 24:00", "2026-12-07 14:60",
      "2026-12-07 14:03:60", "2026-12-07 14", "2026-12-07 14:3", "2026-12-07X14:03",
      "2026-12-07 14:03:22Z", "2026-12-07 14:03:2", "2026-12-07 ", "yesterday", "2026-12-07 +4:03"};
  // clang-format on
  for (const char* text : bad)
    EXPECT_EQ(parse(text, plus_one), std::pair(-1L, -1L)) << '"' << text << '"';
  // A zone that cannot convert is an error too.
  EXPECT_EQ(parse("2026-12-07", [](std::int64_t, std::int64_t&) { return false; }),
            std::pair(-1L, -1L));
}

// A field is quoted only when it must be (a comma, a quote, a line break of any kind), its quotes
// doubled; recorded text that a spreadsheet would run as a formula is exported as text.
TEST(JournalCsvTest, FieldsAreQuotedWhenTheyMustBeAndFormulasGetALeadingQuote) {
  const std::pair<std::string, std::string> cases[] = {
      {"lf\nonly", "\"lf\nonly\""},
      {"cr lf\r\nand cr\r", "\"cr lf\r\nand cr\r\""},
      {"a,b", "\"a,b\""},
      {"\"Lobby\"", "\"\"\"Lobby\"\"\""},
      {"Zoë; 東京", "Zoë; 東京"},
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1", "'+1"},
      {"-1+2", "'-1+2"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      {"=a,b", "\"'=a,b\""},
      {"a=b", "a=b"},
      {" =1", " =1"},
      {"'=1", "'=1"},
      {"", ""},
  };
  for (const auto& [value, field] : cases)
    EXPECT_EQ(CsvTextField(value), field) << value;
  // Every recorded column of a record goes through it: text, login, host, frame, detail.
  const JournalRow row{
      7, {{kBase, 3600}, JournalKind::kOperator, "=1", "@4", "+2", "-3", "=5"}, ""};
  EXPECT_EQ(JournalCsvLine(row),
            "7,2026-12-07T01:00:00.000+01:00,operator,'=1,'+2,'-3,'@4,'=5\r\n");
}

// Records oldest first past one page of the export, each once and ending CR LF; a filter takes
// what it says, and the header comes even when nothing matches.
TEST_F(JournalQueryTest, CsvIsEveryRecordOnceInOrderPastOnePage) {
  std::vector<JournalEntry> entries;
  std::string all;
  for (int i = 1; i <= 4500; ++i) {
    const bool link = i % 3 == 0;
    entries.push_back(PanelEntry(kBase, link ? JournalKind::kLink : JournalKind::kEvent,
                                 "r" + std::to_string(i)));
    all += std::to_string(i) + ",2026-12-07T01:00:00.000+01:00," + (link ? "link" : "event") +
           ",r" + std::to_string(i) + ",alice,panel-pc,,\r\n";
  }
  Write(entries);
  const std::tuple<JournalFilter, std::int64_t, std::string> cases[] = {
      {{}, 4500, all}, {{{}, {}, {}, "none"}, 0, ""}};
  for (const auto& [filter, count, lines] : cases) {
    std::ostringstream out;
    std::int64_t written = 0;
    ASSERT_TRUE(WriteJournalCsv(reader_, filter, out, written).ok());
    EXPECT_EQ(written, count);
    EXPECT_EQ(out.str(), JournalCsvHeader() + lines) << count;
  }
}

}  // namespace
}  // namespace orv
