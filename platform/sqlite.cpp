#include "platform/sqlite.h"

#include <sqlite3.h>

#include <string>
#include <utility>

namespace orv::sqlite {
namespace {

// How many virtual-machine steps run between two looks at the clock: a few microseconds of work,
// so a runaway statement stops close to its deadline and the look costs next to nothing.
constexpr int kProgressSteps = 1000;

int PastDeadline(void* context) {
  const auto* budget = static_cast<const detail::Budget*>(context);
  return std::chrono::steady_clock::now() > budget->deadline ? 1 : 0;
}

Result Interrupted(const detail::Budget& budget) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(budget.limit).count();
  return {SQLITE_INTERRUPT, "a statement was stopped after " + std::to_string(ms) + " ms"};
}

Result FromCode(int code, sqlite3* db) {
  Result result{code, {}};
  if (!result.ok()) {
    // The connection's message is more precise ("no such table: x") when it belongs to this code.
    const char* message = db != nullptr && sqlite3_extended_errcode(db) == code
                              ? sqlite3_errmsg(db)
                              : sqlite3_errstr(code);
    result.message = message != nullptr ? message : "unknown error";
  }
  return result;
}

}  // namespace

bool Result::ok() const {
  const int p = primary();
  return p == SQLITE_OK || p == SQLITE_ROW || p == SQLITE_DONE;
}
bool Result::row() const {
  return primary() == SQLITE_ROW;
}
bool Result::done() const {
  return primary() == SQLITE_DONE;
}
bool Result::damaged() const {
  return primary() == SQLITE_CORRUPT || primary() == SQLITE_NOTADB;
}
bool Result::busy() const {
  return primary() == SQLITE_BUSY || primary() == SQLITE_LOCKED;
}
bool Result::interrupted() const {
  return primary() == SQLITE_INTERRUPT;
}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    budget_.swap(other.budget_);
  }
  return *this;
}

Result Database::Open(const std::filesystem::path& file, unsigned flags) {
  Close();
  int native = SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX;
  if ((flags & kReadWrite) != 0) {
    native |= SQLITE_OPEN_READWRITE;
  } else {
    native |= SQLITE_OPEN_READONLY;
  }
  if ((flags & kCreate) != 0) native |= SQLITE_OPEN_CREATE;
  sqlite3* db = nullptr;
  const int code = sqlite3_open_v2(file.c_str(), &db, native, nullptr);
  if (code != SQLITE_OK) {
    Result result = FromCode(code, db);
    sqlite3_close_v2(db);  // a handle comes back even when the open failed
    return result;
  }
  db_ = db;
  SetStatementBudget(std::chrono::duration_cast<std::chrono::milliseconds>(budget_->limit));
  return {};
}

Result Database::Exec(std::string_view sql) {
  if (db_ == nullptr) return {SQLITE_MISUSE, "the database is not open"};
  const std::string text(sql);
  budget_->Arm();
  const int code = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
  if ((code & 0xff) == SQLITE_INTERRUPT) return Interrupted(*budget_);
  return FromCode(code, db_);
}

Result Database::Harden() {
  if (db_ == nullptr) return {SQLITE_MISUSE, "the database is not open"};
  const struct {
    int option;
    int value;
  } kSettings[] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                   {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                   {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
                   {SQLITE_DBCONFIG_ENABLE_VIEW, 0}};
  for (const auto& setting : kSettings) {
    int now = -1;
    const int code = sqlite3_db_config(db_, setting.option, setting.value, &now);
    if (code != SQLITE_OK) return FromCode(code, db_);
    if (now != setting.value) return {SQLITE_MISUSE, "SQLite refused a safety setting"};
  }
  return {};
}

void Database::SetStatementBudget(std::chrono::milliseconds budget) {
  budget_->limit = budget;
  if (db_ == nullptr) return;
  if (budget.count() > 0) {
    sqlite3_progress_handler(db_, kProgressSteps, PastDeadline, budget_.get());
  } else {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  }
}

Result Database::SetBusyTimeout(int milliseconds) {
  if (db_ == nullptr) return {SQLITE_MISUSE, "the database is not open"};
  return FromCode(sqlite3_busy_timeout(db_, milliseconds), db_);
}

Result Database::QueryText(std::string_view sql, std::string& text) {
  text.clear();
  Statement statement;
  Result result = statement.Prepare(*this, sql);
  if (!result.ok()) return result;
  result = statement.Step();
  if (result.row()) text = statement.ColumnText(0);
  return result;
}

void Database::Close() {
  if (db_ == nullptr) return;
  // _v2: statements still open would otherwise keep the close from happening at all.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

Result Database::LastError() const {
  if (db_ == nullptr) return {SQLITE_MISUSE, "the database is not open"};
  return FromCode(sqlite3_extended_errcode(db_), db_);
}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Finalize();
    stmt_ = std::exchange(other.stmt_, nullptr);
    db_ = other.db_;
    budget_ = std::move(other.budget_);
  }
  return *this;
}

Result Statement::Prepare(Database& db, std::string_view sql) {
  Finalize();
  if (!db.is_open()) return {SQLITE_MISUSE, "the database is not open"};
  db_ = db.handle();
  budget_ = db.budget_;
  return FromCode(
      sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr), db_);
}

Result Statement::BindInt64(int index, std::int64_t value) {
  return FromCode(sqlite3_bind_int64(stmt_, index, value), db_);
}

Result Statement::BindText(int index, std::string_view value) {
  return FromCode(
      sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
      db_);
}

Result Statement::BindBlob(int index, std::string_view bytes) {
  // An empty blob is still a blob, not NULL: the pointer must not be null.
  static constexpr char kEmpty = 0;
  const char* data = bytes.empty() ? &kEmpty : bytes.data();
  return FromCode(sqlite3_bind_blob64(stmt_, index, data, bytes.size(), SQLITE_TRANSIENT), db_);
}

Result Statement::Step() {
  if (stmt_ == nullptr) return {SQLITE_MISUSE, "the statement is not prepared"};
  budget_->Arm();
  const int code = sqlite3_step(stmt_);
  if ((code & 0xff) == SQLITE_INTERRUPT) return Interrupted(*budget_);
  return FromCode(code, db_);
}

Result Statement::Reset() {
  if (stmt_ == nullptr) return {SQLITE_MISUSE, "the statement is not prepared"};
  // reset() repeats the last step's error; the statement is reset all the same.
  sqlite3_reset(stmt_);
  return FromCode(sqlite3_clear_bindings(stmt_), db_);
}

void Statement::Finalize() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

std::int64_t Statement::ColumnInt64(int index) const {
  return sqlite3_column_int64(stmt_, index);
}

std::string Statement::ColumnText(int index) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  if (text == nullptr) return {};
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)));
}

std::string Statement::ColumnBlob(int index) const {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
  if (data == nullptr) return {};
  return std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)));
}

Transaction::~Transaction() {
  if (active_) Rollback();
}

Result Transaction::Begin() {
  Result result = db_.Exec("BEGIN IMMEDIATE");
  active_ = result.ok();
  return result;
}

Result Transaction::Commit() {
  Result result = db_.Exec("COMMIT");
  // A failed COMMIT may leave the transaction open (busy) or already rolled back (I/O error);
  // the destructor's ROLLBACK settles either.
  if (result.ok()) active_ = false;
  return result;
}

Result Transaction::Rollback() {
  active_ = false;
  if (!db_.is_open() || sqlite3_get_autocommit(db_.handle()) != 0) return {};
  return db_.Exec("ROLLBACK");
}

}  // namespace orv::sqlite
