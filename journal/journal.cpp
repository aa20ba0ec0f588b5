#include "journal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <utility>

#include <sqlite3.h>

#include "journal/journal_rows.h"
#include "platform/safe_file.h"
#include "platform/sha256.h"

namespace orv {
namespace {

constexpr int kBusyTimeoutMs = 5;  // a short wait only: the tick must not stall on another copy
constexpr std::string_view kNoChain(
    "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS journal("
    " seq INTEGER PRIMARY KEY,"
    " utc_ms INTEGER NOT NULL,"
    " utc_offset_s INTEGER NOT NULL,"
    " kind TEXT NOT NULL,"
    " text TEXT NOT NULL,"
    " raw_hex TEXT NOT NULL,"
    " login TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " chain BLOB NOT NULL);"
    // What the history's filters ask for: a time range, alone or with one kind.
    "CREATE INDEX IF NOT EXISTS journal_time ON journal(utc_ms);"
    "CREATE INDEX IF NOT EXISTS journal_kind_time ON journal(kind, utc_ms);";

void AddNumber(Sha256& hash, std::uint64_t value, int bytes) {
  char buffer[8];
  for (int i = 0; i < bytes; ++i)
    buffer[i] = static_cast<char>(value >> (8 * (bytes - 1 - i)));
  hash.Update(std::string_view(buffer, static_cast<std::size_t>(bytes)));
}

void AddField(Sha256& hash, std::string_view field) {
  AddNumber(hash, field.size(), 4);
  hash.Update(field);
}

// A file name stamp: 20261207T021530Z.
std::string UtcStamp(std::int64_t utc_ms) {
  const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

sqlite::Result SystemFailure(const std::filesystem::path& file, const std::error_code& error) {
  return {SQLITE_CANTOPEN,
          file.string() + " " +
              (IsRefusal(error) ? error.message() : "cannot be opened: " + error.message())};
}

}  // namespace

std::string_view JournalKindName(JournalKind kind) {
  switch (kind) {
    case JournalKind::kEvent:
      return "event";
    case JournalKind::kOperator:
      return "operator";
    case JournalKind::kLink:
      return "link";
    case JournalKind::kProgram:
      return "program";
  }
  return "?";
}

bool ParseJournalKind(std::string_view name, JournalKind& kind) {
  for (const JournalKind k :
       {JournalKind::kEvent, JournalKind::kOperator, JournalKind::kLink, JournalKind::kProgram}) {
    if (JournalKindName(k) == name) {
      kind = k;
      return true;
    }
  }
  return false;
}

JournalTime SystemJournalTime() {
  const auto now = std::chrono::system_clock::now();
  JournalTime time;
  time.utc_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  time.utc_offset_s = static_cast<std::int32_t>(local.tm_gmtoff);
  return time;
}

namespace {

// The chain over the fields as stored: a kind edited to a name the program does not know still
// hashes as what it is.
std::string ChainOver(std::string_view previous, std::int64_t sequence, const JournalTime& time,
                      std::string_view kind, const JournalEntry& entry) {
  Sha256 hash;
  AddField(hash, previous);
  AddNumber(hash, static_cast<std::uint64_t>(sequence), 8);
  AddNumber(hash, static_cast<std::uint64_t>(time.utc_ms), 8);
  AddNumber(hash, static_cast<std::uint32_t>(time.utc_offset_s), 4);
  AddField(hash, kind);
  AddField(hash, entry.text);
  AddField(hash, entry.raw_hex);
  AddField(hash, entry.login);
  AddField(hash, entry.host);
  const Sha256::Digest digest = hash.Finish();
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

}  // namespace

std::string JournalChainValue(std::string_view previous, std::int64_t sequence,
                              const JournalEntry& entry) {
  return ChainOver(previous, sequence, entry.time, JournalKindName(entry.kind), entry);
}

JournalCheck VerifyJournalFile(const std::filesystem::path& file) {
  JournalCheck check;
  sqlite::Database db;
  sqlite::Result result = db.Open(file, sqlite::kReadOnly);
  sqlite::Statement rows;
  if (result.ok())
    result = rows.Prepare(db, std::string(journal_detail::kSelectRows) + " ORDER BY seq");
  if (!result.ok()) {
    check.error = result.message;
    return check;
  }
  std::string previous(kNoChain);
  std::int64_t expected = 1;
  while ((result = rows.Step()).row()) {
    const JournalRow row = journal_detail::JournalRowFrom(rows);
    // A gap is a deleted record: the first missing number is the one that fails.
    if (row.sequence != expected || ChainOver(previous, row.sequence, row.entry.time,
                                              rows.ColumnText(3), row.entry) != row.chain) {
      check.first_bad = expected;
      return check;
    }
    previous = row.chain;
    ++expected;
    ++check.good_rows;
  }
  if (!result.done()) {
    check.error = result.message;
    return check;
  }
  check.ok = true;
  return check;
}

sqlite::Result ReadJournalFile(const std::filesystem::path& file, std::int64_t from,
                               std::size_t limit, std::vector<JournalRow>& rows) {
  rows.clear();
  sqlite::Database db;
  sqlite::Result result = db.Open(file, sqlite::kReadOnly);
  sqlite::Statement select;
  if (result.ok()) {
    result = select.Prepare(
        db, std::string(journal_detail::kSelectRows) + " WHERE seq >= ?1 ORDER BY seq LIMIT ?2");
  }
  if (result.ok()) result = select.BindInt64(1, from);
  if (result.ok()) result = select.BindInt64(2, static_cast<std::int64_t>(limit));
  if (!result.ok()) return result;
  while ((result = select.Step()).row())
    rows.push_back(journal_detail::JournalRowFrom(select));
  return result;
}

sqlite::Result ReadJournalLastSequence(const std::filesystem::path& file, std::int64_t& last) {
  last = 0;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return {};
  sqlite::Database db;
  sqlite::Result result = db.Open(file, sqlite::kReadOnly);
  std::string text;
  if (result.ok()) result = db.QueryText("SELECT COALESCE(MAX(seq), 0) FROM journal", text);
  if (result.ok()) last = std::stoll(text);
  return result;
}

Journal::Journal(std::filesystem::path data_folder, NoticeFn notice, JournalOptions options)
    : data_folder_(std::move(data_folder)),
      file_(data_folder_ / kFileName),
      notice_(std::move(notice)),
      options_(std::move(options)) {}

JournalEntry Journal::Make(JournalKind kind, std::string text, std::string raw_hex) const {
  JournalEntry entry;
  entry.time = options_.clock ? options_.clock() : SystemJournalTime();
  entry.kind = kind;
  entry.text = std::move(text);
  entry.raw_hex = std::move(raw_hex);
  entry.login = options_.login;
  entry.host = options_.host;
  return entry;
}

void Journal::Append(JournalEntry entry) {
  if (waiting_.size() >= options_.waiting_limit) {
    ++dropped_;
    return;
  }
  waiting_.push_back(std::move(entry));
}

bool Journal::Commit() {
  if (waiting_.empty() && dropped_ == dropped_recorded_) return true;
  if (failing_ && ++commits_since_try_ < options_.retry_commits) return false;
  commits_since_try_ = 0;
  const std::size_t count = waiting_.size();
  const sqlite::Result result = Write();
  if (result.ok()) {
    if (failing_) {
      Notify(NoticeLevel::kInfo, file_.string() + " is written again: " + std::to_string(count) +
                                     " waiting record(s) written, " + std::to_string(dropped_) +
                                     " dropped in all.");
    }
    failing_ = false;
    return true;
  }
  // The next try starts from a fresh connection: one that failed mid-write may be stuck.
  insert_.Finalize();
  last_.Finalize();
  db_.Close();
  if (result.damaged()) checked_ = false;
  if (!failing_) {
    Notify(NoticeLevel::kError, file_.string() + " cannot be written (" + result.message +
                                    "): records wait and are written as soon as it can be.");
  }
  failing_ = true;
  return false;
}

sqlite::Result Journal::Write() {
  if (!db_.is_open()) {
    sqlite::Result opened = Open();
    if (!opened.ok()) return opened;
  }
  sqlite::Transaction transaction(db_);
  sqlite::Result result = transaction.Begin();
  if (!result.ok()) return result;
  // The tail is read inside the transaction: another copy of the program may have written since.
  std::int64_t sequence = 0;
  std::string previous(kNoChain);
  result = last_.Step();
  if (result.row()) {
    sequence = last_.ColumnInt64(0);
    previous = last_.ColumnBlob(1);
    result = last_.Step();
  }
  last_.Reset();
  if (!result.done()) return result;

  std::vector<JournalEntry> extra;
  if (dropped_ > dropped_recorded_) {
    extra.push_back(Make(JournalKind::kProgram,
                         std::to_string(dropped_ - dropped_recorded_) +
                             " journal record(s) were dropped while the journal could not be "
                             "written and " +
                             std::to_string(options_.waiting_limit) + " already waited."));
  }
  auto insert = [&](const JournalEntry& entry) {
    ++sequence;
    const std::string chain = JournalChainValue(previous, sequence, entry);
    sqlite::Result r = insert_.BindInt64(1, sequence);
    if (r.ok()) r = insert_.BindInt64(2, entry.time.utc_ms);
    if (r.ok()) r = insert_.BindInt64(3, entry.time.utc_offset_s);
    if (r.ok()) r = insert_.BindText(4, JournalKindName(entry.kind));
    if (r.ok()) r = insert_.BindText(5, entry.text);
    if (r.ok()) r = insert_.BindText(6, entry.raw_hex);
    if (r.ok()) r = insert_.BindText(7, entry.login);
    if (r.ok()) r = insert_.BindText(8, entry.host);
    if (r.ok()) r = insert_.BindBlob(9, chain);
    if (r.ok()) r = insert_.Step();
    insert_.Reset();
    previous = chain;
    return r;
  };
  for (const JournalEntry& entry : waiting_) {
    result = insert(entry);
    if (!result.ok()) return result;
  }
  for (const JournalEntry& entry : extra) {
    result = insert(entry);
    if (!result.ok()) return result;
  }
  result = transaction.Commit();
  if (!result.ok()) return result;
  const bool wrote = !waiting_.empty() || !extra.empty();
  waiting_.clear();
  dropped_recorded_ = dropped_;
  if (wrote) committed_(sequence);
  return result;
}

sqlite::Result Journal::Open() {
  sqlite::Result result = OpenOnce();
  if (result.damaged()) {
    // Moved aside once; a file that is damaged again at once is not moved in a loop.
    const std::string reason = result.message;
    db_.Close();
    result = MoveAside(reason);
    if (result.ok()) result = OpenOnce();
  }
  if (!result.ok()) {
    insert_.Finalize();
    last_.Finalize();
    db_.Close();
  }
  return result;
}

sqlite::Result Journal::OpenOnce() {
  if (!HasKnownFolder(file_)) {
    return {SQLITE_CANTOPEN,
            file_.string() + " " + MakeErrorCode(SharedFileRefusal::kNoFolder).message()};
  }
  if (::mkdir(data_folder_.c_str(), 0777) != 0 && errno != EEXIST) {
    return SystemFailure(data_folder_, std::error_code(errno, std::generic_category()));
  }
  // SQLite opens its files itself; they are checked first the way every file in the shared
  // folder is (no link, a regular file, one name). The database is created here, with the
  // group-writable mode that the umask allows, and SQLite gives its -wal and -shm files the
  // database's mode.
  std::error_code error;
  FileDescriptor fd = OpenSharedFile(file_, O_RDWR | O_CREAT, 0666, error);
  if (!fd.valid()) return SystemFailure(file_, error);
  fd.Close();
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::filesystem::path side = file_.string() + suffix;
    FileDescriptor side_fd = OpenSharedFile(side, O_RDWR, 0, error);
    if (!side_fd.valid() && error != std::errc::no_such_file_or_directory) {
      return SystemFailure(side, error);
    }
  }

  sqlite::Result result = db_.Open(file_, sqlite::kReadWrite);
  if (result.ok()) result = db_.SetBusyTimeout(kBusyTimeoutMs);
  if (result.ok() && !checked_) {
    std::string answer;
    result = db_.QueryText("PRAGMA quick_check", answer);
    if (result.ok() && answer != "ok") {
      result = {SQLITE_CORRUPT, "quick_check: " + answer};
    }
    if (result.ok()) checked_ = true;
  }
  std::string mode;
  if (result.ok()) result = db_.QueryText("PRAGMA journal_mode=WAL", mode);
  if (result.ok() && mode != "wal") {
    result = {SQLITE_CANTOPEN, "the journal cannot use write-ahead logging (" + mode + ")"};
  }
  if (result.ok()) result = db_.Exec("PRAGMA synchronous=FULL");
  if (result.ok()) result = db_.Exec(kSchema);
  if (result.ok()) {
    result = insert_.Prepare(db_,
                             "INSERT INTO journal(seq, utc_ms, utc_offset_s, kind, text, raw_hex, "
                             "login, host, chain) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  }
  if (result.ok()) {
    result = last_.Prepare(db_, "SELECT seq, chain FROM journal ORDER BY seq DESC LIMIT 1");
  }
  return result;
}

sqlite::Result Journal::MoveAside(const std::string& reason) {
  const JournalTime now = options_.clock ? options_.clock() : SystemJournalTime();
  std::string aside = file_.string() + ".damaged-" + UtcStamp(now.utc_ms);
  for (int n = 2;
       std::filesystem::symlink_status(aside).type() != std::filesystem::file_type::not_found;
       ++n) {
    aside = file_.string() + ".damaged-" + UtcStamp(now.utc_ms) + "-" + std::to_string(n);
  }
  // rename() moves the entry itself and never follows a link.
  if (std::rename(file_.c_str(), aside.c_str()) != 0) {
    return SystemFailure(file_, std::error_code(errno, std::generic_category()));
  }
  // The log beside a damaged file belongs to it; the shared-memory index is rebuilt anyway.
  const std::string wal = file_.string() + "-wal";
  std::rename(wal.c_str(), (aside + "-wal").c_str());
  std::remove((file_.string() + "-shm").c_str());
  Notify(NoticeLevel::kError, file_.string() + " was damaged (" + reason + "); it is kept as " +
                                  aside + " and a new journal begins.");
  waiting_.push_front(Make(JournalKind::kProgram,
                           "The journal file was damaged (" + reason + "); it was moved aside to " +
                               std::filesystem::path(aside).filename().string() +
                               " and a new chain begins here."));
  return {};
}

JournalRow journal_detail::JournalRowFrom(const sqlite::Statement& statement) {
  JournalRow row;
  row.sequence = statement.ColumnInt64(0);
  row.entry.time.utc_ms = statement.ColumnInt64(1);
  row.entry.time.utc_offset_s = static_cast<std::int32_t>(statement.ColumnInt64(2));
  ParseJournalKind(statement.ColumnText(3), row.entry.kind);
  row.entry.text = statement.ColumnText(4);
  row.entry.raw_hex = statement.ColumnText(5);
  row.entry.login = statement.ColumnText(6);
  row.entry.host = statement.ColumnText(7);
  row.chain = statement.ColumnBlob(8);
  return row;
}

}  // namespace orv
