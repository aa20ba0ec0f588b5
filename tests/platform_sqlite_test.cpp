// The SQLite wrapper the journal stands on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/sqlite.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

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

// BEGIN IMMEDIATE takes the write lock at once: a second writer learns it at Begin().
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

// A recursive query without a limit, as a hostile trigger might run.
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
}
}  // namespace
}  // namespace orv
