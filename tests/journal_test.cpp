// The journal store: what goes in comes back field for field and in order, one transaction per
// Commit, a chain that names the first record edited, deleted or inserted, and nothing lost while
// the file cannot be written (read-only folder, locked by another connection, damaged file).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "journal/journal.h"
#include "platform/sqlite.h"
#include "tests/small_disk.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

}  // namespace

// Failures show the record, not its bytes.
void PrintTo(const JournalEntry& e, std::ostream* out) {
  *out << '{' << e.time.utc_ms << ", " << e.time.utc_offset_s << ", " << JournalKindName(e.kind)
       << ", \"" << e.text << "\", \"" << e.raw_hex << "\", " << e.login << ", " << e.host << '}';
}

namespace {

class JournalTest : public ::testing::Test {
 protected:
  JournalOptions Options(int retry_commits = 1) {
    JournalOptions options;
    // Every reading of the clock is a different millisecond.
    options.clock = [this] { return JournalTime{1796601600000 + ticks_++, 3600}; };
    options.login = "operator1";
    options.host = "panel-pc";
    options.retry_commits = retry_commits;
    options.anchor = nullptr;  // anchors have tests of their own
    return options;
  }
  std::unique_ptr<Journal> MakeJournal(JournalOptions options) {
    return std::make_unique<Journal>(
        data_, [this](const Notice& n) { notices_.push_back(n); }, std::move(options));
  }
  std::unique_ptr<Journal> MakeJournal() { return MakeJournal(Options()); }

  // Entry i of a test: every one different in every field.
  static JournalEntry Entry(int i) {
    static constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator,
                                             JournalKind::kLink, JournalKind::kProgram};
    JournalEntry e;
    e.time = {1796601600000 + 1000 * i, i % 2 == 0 ? 3600 : -18000};
    e.kind = kKinds[i % 4];
    e.text = "record " + std::to_string(i);
    e.raw_hex =
        e.kind == JournalKind::kEvent ? "0203A0120000" + std::to_string(i % 10) + "703" : "";
    e.login = "user" + std::to_string(i);
    e.host = "host" + std::to_string(i);
    return e;
  }

  std::vector<JournalRow> Rows() const { return test::JournalRows(data_ / Journal::kFileName); }
  int Count(NoticeLevel level) const {
    int n = 0;
    for (const Notice& notice : notices_)
      n += notice.level == level ? 1 : 0;
    return n;
  }

  test::TempFolder folder_;
  fs::path data_ = folder_.path() / "DATA";
  std::vector<Notice> notices_;
  std::int64_t ticks_ = 0;
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
    std::error_code ec;
    fs::remove_all(data_, ec);
    auto journal = MakeJournal();
    for (int i = 0; i < 8; ++i)
      journal->Append(Entry(i));
    ASSERT_TRUE(journal->Commit());
    test::JournalSql(data_ / Journal::kFileName, c.sql);
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
  auto journal = MakeJournal(Options(10));
  journal->Append(Entry(0));
  ASSERT_TRUE(journal->Commit());
  sqlite::Database other;
  ASSERT_TRUE(test::HoldWriteLock(other, data_ / Journal::kFileName));

  const int limit = 10000;
  ASSERT_GE(JournalOptions{}.waiting_limit, static_cast<std::size_t>(limit));
  for (int i = 1; i <= limit + 7; ++i)
    journal->Append(Entry(i));
  EXPECT_FALSE(journal->Commit());
  EXPECT_TRUE(journal->failing());
  EXPECT_EQ(journal->waiting(), static_cast<std::size_t>(limit));
  EXPECT_EQ(journal->dropped(), 7U);
  ASSERT_EQ(notices_.size(), 1U);
  EXPECT_EQ(notices_[0].level, NoticeLevel::kError);
  EXPECT_NE(notices_[0].text.find("locked"), std::string::npos) << notices_[0].text;

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
  ASSERT_EQ(notices_.size(), 2U);
  EXPECT_EQ(notices_[1].level, NoticeLevel::kInfo);
  EXPECT_NE(notices_[1].text.find("10000 waiting"), std::string::npos) << notices_[1].text;
  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(limit) + 2);
  for (int i = 0; i <= limit; ++i)
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].entry, Entry(i)) << "entry " << i;
  const JournalEntry& count = rows.back().entry;
  EXPECT_EQ(count.kind, JournalKind::kProgram);
  EXPECT_EQ(count.text.rfind("7 journal record(s) were dropped", 0), 0U) << count.text;
  EXPECT_EQ(count.host, "panel-pc");

  // Recorded once: the next commit adds only what it is given.
  journal->Append(Entry(0));
  ASSERT_TRUE(journal->Commit());
  EXPECT_EQ(Rows().size(), static_cast<std::size_t>(limit) + 3);
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
    auto journal = MakeJournal();
    for (int i = 0; i < c.first; ++i)
      journal->Append(Entry(i));
    ASSERT_TRUE(journal->Commit());
    const fs::path filler = data_ / "filler";
    if (c.full) {  // what is left filled, under the open journal
      std::FILE* f = std::fopen(filler.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      const std::string block(4096, 'x');
      while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
      }
      std::fclose(f);
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
    ASSERT_EQ(Count(NoticeLevel::kError), 1);
    if (c.full) {
      EXPECT_NE(notices_[0].text.find("full"), std::string::npos) << notices_[0].text;
      fs::remove(filler);
    }
    ASSERT_TRUE(c.full || disk.SetReadOnly(false));
    journal->Append(big(c.first + 4));
    ASSERT_TRUE(journal->Commit()) << notices_.back().text;
    EXPECT_EQ(Count(NoticeLevel::kInfo), 1);
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
  auto journal = MakeJournal();
  journal->Append(Entry(0));
  const bool committed = journal->Commit();
  ::umask(saved);
  ASSERT_TRUE(committed);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const fs::path file = (data_ / Journal::kFileName).string() + suffix;
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 07777, 0664U) << file;
  }
}

}  // namespace
}  // namespace orv
