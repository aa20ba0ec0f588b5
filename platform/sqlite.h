#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace orv::sqlite {

// A thin owner of SQLite 3 handles. Nothing here throws: every call that can fail returns a
// Result with SQLite's code and message, so that the caller decides what a failure means (the
// journal keeps its records waiting; a reader shows the reason).

struct Result {
  int code = 0;  // SQLite's extended result code; 0 is SQLITE_OK
  std::string message;

  // SQLITE_OK, SQLITE_ROW and SQLITE_DONE are successes; everything else is a failure.
  bool ok() const;
  bool row() const;   // a step produced a row
  bool done() const;  // a step ran to its end
  int primary() const { return code & 0xff; }
  // The file is not a database or its pages are damaged.
  bool damaged() const;
  // Another connection holds the lock this one needs.
  bool busy() const;
  // The statement ran past the connection's time budget and was stopped.
  bool interrupted() const;
};

namespace detail {
// When the running statement must stop; shared by a connection and its statements.
struct Budget {
  std::chrono::steady_clock::duration limit{};
  std::chrono::steady_clock::time_point deadline{};
  void Arm() {
    if (limit.count() > 0) deadline = std::chrono::steady_clock::now() + limit;
  }
};
}  // namespace detail

enum OpenFlags : unsigned {
  kReadOnly = 1U << 0,
  kReadWrite = 1U << 1,
  kCreate = 1U << 2,
};

// One connection. A symbolic link in place of the file is always refused.
class Database {
 public:
  Database() = default;
  Database(Database&& other) noexcept : db_(other.db_) {
    other.db_ = nullptr;
    budget_.swap(other.budget_);
  }
  Database& operator=(Database&& other) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database() { Close(); }

  Result Open(const std::filesystem::path& file, unsigned flags);
  // Runs one or more statements that return no rows the caller needs.
  Result Exec(std::string_view sql);
  // How long a statement waits for another connection's lock before it fails as busy.
  Result SetBusyTimeout(int milliseconds);
  // For a file that someone else may have written: defensive mode (no writes to the schema or
  // to pages behind SQLite's back), no functions with side effects from the schema, and no
  // triggers or views at all on this connection; the program needs none.
  Result Harden();
  // Every Step() and Exec() on this connection stops with SQLITE_INTERRUPT once it has run this
  // long (looked at between steps of its work, so a wait for a lock or the disk is not cut
  // short); 0: no bound.
  void SetStatementBudget(std::chrono::milliseconds budget);
  // Runs sql and gives back the first column of its first row as text (empty when none).
  Result QueryText(std::string_view sql, std::string& text);
  void Close();

  bool is_open() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }
  // The code and message of the latest failure on this connection.
  Result LastError() const;

 private:
  friend class Statement;
  sqlite3* db_ = nullptr;
  std::shared_ptr<detail::Budget> budget_ = std::make_shared<detail::Budget>();
};

// One prepared statement; bind indexes start at 1, column indexes at 0.
class Statement {
 public:
  Statement() = default;
  Statement(Statement&& other) noexcept
      : stmt_(other.stmt_), db_(other.db_), budget_(std::move(other.budget_)) {
    other.stmt_ = nullptr;
  }
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { Finalize(); }

  Result Prepare(Database& db, std::string_view sql);
  Result BindInt64(int index, std::int64_t value);
  Result BindText(int index, std::string_view value);
  Result BindBlob(int index, std::string_view bytes);
  // row() when a row is ready to read, done() at the end.
  Result Step();
  // Makes the statement ready to run again and clears its bindings.
  Result Reset();
  void Finalize();

  std::int64_t ColumnInt64(int index) const;
  std::string ColumnText(int index) const;
  std::string ColumnBlob(int index) const;

  bool is_prepared() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  sqlite3* db_ = nullptr;
  std::shared_ptr<detail::Budget> budget_;
};

// BEGIN IMMEDIATE at Begin(): the write lock is taken at once, so a busy database shows at the
// start and not halfway through. Rolled back at the end of the scope unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  Result Begin();
  Result Commit();
  Result Rollback();

 private:
  Database& db_;
  bool active_ = false;
};

}  // namespace orv::sqlite
