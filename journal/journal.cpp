#include "journal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <utility>

#include <sqlite3.h>

#include "journal/journal_rows.h"
#include "journal/journal_schema.h"
#include "platform/safe_file.h"

namespace orv {
namespace {

constexpr int kBusyTimeoutMs = 5;  // a short wait only: the tick must not stall on another copy
// A file too large to check within this much is not checked at open: damage still shows when a
// page is read.
constexpr std::chrono::milliseconds kQuickCheckBudget{1000};

sqlite::Result SystemFailure(const std::filesystem::path& file, const std::error_code& error) {
  return {SQLITE_CANTOPEN,
          file.string() + " " +
              (IsRefusal(error) ? error.message() : "cannot be opened: " + error.message())};
}

}  // namespace

Journal::Journal(std::filesystem::path data_folder, NoticeFn notice, JournalOptions options)
    : data_folder_(std::move(data_folder)),
      file_(data_folder_ / kFileName),
      notice_(std::move(notice)),
      options_(std::move(options)),
      anchor_name_(JournalAnchorName(file_)) {
  // Read once, at start-up and not in the tick: numbers go on after the newest anchored one even
  // when the file lost its end.
  if (options_.anchor) {
    if (const std::optional<JournalAnchor> newest = options_.anchor->Newest(anchor_name_)) {
      high_water_ = newest->sequence;
      // The chain is checked from there (a change made while the program was stopped), unless
      // it was already found broken.
      if (newest->broken_at == 0) anchored_ = {newest->sequence, newest->chain, 0, {}};
    }
  }
}

Journal::~Journal() {
  CollectHashes(true);
  AnchorNow();
  // A change found by that last check is recorded too.
  if (!waiting_.empty()) Commit();
}

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
  Watch();
  CollectHashes(false);
  MeasureForRetention();
  // An older journal's index is built on quiet ticks too, and its oldest records pruned.
  const bool building = db_.is_open() && !text_.whole() && !failing_;
  if (waiting_.empty() && dropped_ == dropped_recorded_ && !building && !prune_due_ && !merging_) {
    if (anchor_due_ && !failing_) Anchor(false);  // a copy's hash came in
    return true;
  }
  if (failing_ && ++commits_since_try_ < options_.retry_commits) return false;
  commits_since_try_ = 0;
  const std::size_t count = waiting_.size();
  const sqlite::Result result = Write();
  if (result.ok()) {
    Anchor(false);
    if (failing_) {
      Notify(NoticeLevel::kInfo, file_.string() + " is written again: " + std::to_string(count) +
                                     " waiting record(s) written, " + std::to_string(dropped_) +
                                     " dropped in all.");
    }
    failing_ = false;
    return true;
  }
  // The next try starts from a fresh connection: one that failed mid-write may be stuck.
  CloseConnection();
  if (result.damaged()) checked_ = false;
  if (!failing_) {
    Notify(NoticeLevel::kError, file_.string() + " cannot be written (" + result.message +
                                    "): records wait and are written as soon as it can be.");
  }
  failing_ = true;
  return false;
}

void Journal::CloseConnection() {
  for (sqlite::Statement* statement :
       {&insert_, &index_, &last_, &issued_, &set_issued_, &schema_version_, &chain_at_, &range_})
    statement->Finalize();
  db_.Close();
  checked_schema_ = -1;
}

sqlite::Result Journal::Write() {
  bool reopen = false;
  sqlite::Result result = WriteOnce(reopen);
  // The schema changed behind the program's back since it was checked: the file is opened, and
  // checked, again (and moved aside when it fails), once.
  if (reopen) {
    CloseConnection();
    result = WriteOnce(reopen);
  }
  return result;
}

sqlite::Result Journal::ReadTail(std::int64_t& sequence, std::string& previous,
                                 std::vector<JournalEntry>& notes) {
  sequence = 0;
  previous = journal_detail::kNoChain;
  sqlite::Result result = last_.Step();
  if (result.row()) {
    sequence = last_.ColumnInt64(0);
    previous = last_.ColumnBlob(1);
    result = last_.Step();
  }
  last_.Reset();
  if (!result.done()) return result;
  std::int64_t issued = 0;
  result = issued_.Step();
  if (result.row()) issued = issued_.ColumnInt64(0);
  issued_.Reset();
  if (!result.ok()) return result;
  const std::int64_t given = std::max(issued, high_water_);
  if (given > sequence && !new_chain_) {
    const std::string missing =
        "records " + std::to_string(sequence + 1) + " to " + std::to_string(given);
    notes.push_back(Make(JournalKind::kProgram,
                         "The journal ends at " + std::to_string(sequence) + " but " + missing +
                             " were written: they were deleted outside the program. Numbering "
                             "goes on at " +
                             std::to_string(given + 1) + "."));
    anchor_due_ = true;
    anchored_ = {};  // no check reaches across the gap, which the chain walk shows anyway
    Notify(NoticeLevel::kError, file_.string() + ": " + missing +
                                    " were deleted outside the program; the journal goes on at " +
                                    std::to_string(given + 1) + ".");
  }
  sequence = std::max(sequence, given);
  return result;
}

sqlite::Result Journal::WriteOnce(bool& reopen) {
  reopen = false;
  if (!db_.is_open()) {
    sqlite::Result opened = Open();
    if (!opened.ok()) return opened;
  }
  sqlite::Transaction transaction(db_);
  sqlite::Result result = transaction.Begin();
  if (!result.ok()) return result;
  // Checked inside the transaction, so that nothing can change between the look and the write.
  result = schema_version_.Step();
  const std::int64_t version = result.row() ? schema_version_.ColumnInt64(0) : -1;
  schema_version_.Reset();
  if (!result.ok()) return result;
  if (version != checked_schema_) {
    reopen = true;
    return {SQLITE_SCHEMA, "the journal's schema changed"};
  }
  // The tail is read inside the transaction: another copy of the program may have written since.
  std::int64_t sequence = 0;
  std::string previous;
  std::vector<JournalEntry> front;  // a deleted tail is said where the gap is
  result = ReadTail(sequence, previous, front);
  if (!result.ok()) return result;
  // The last record this program wrote must still carry the chain value it wrote: a chain
  // recomputed since would otherwise be built on, and anchored, as if it were the program's.
  if (head_.sequence != 0 && broken_at_ == 0 && !new_chain_) {
    result = chain_at_.BindInt64(1, head_.sequence);
    if (result.ok()) result = chain_at_.Step();
    const bool changed = result.row() && chain_at_.ColumnBlob(0) != head_.chain;
    chain_at_.Reset();
    if (!result.ok()) return result;
    if (changed) {
      const std::int64_t at = anchored_.sequence != 0 ? FirstChanged() : 0;
      FoundChanged(at > 0 ? at : head_.sequence);
    }
  }
  std::vector<JournalEntry> back;
  if (dropped_ > dropped_recorded_) {
    back.push_back(Make(JournalKind::kProgram,
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
    if (r.ok()) r = insert_.BindText(10, entry.detail);
    if (r.ok()) r = insert_.Step();
    insert_.Reset();
    // Its words in the index, in the same transaction: a record is never found late or twice
    // (while the index is merged after a pruning, it is indexed after the merge).
    if (!r.ok() || text_.live_from == journal_detail::kTextIndexPaused) {
      previous = chain;
      return r;
    }
    r = index_.BindInt64(1, sequence);
    if (r.ok()) r = index_.BindText(2, entry.text);
    if (r.ok()) r = index_.BindText(3, entry.detail);
    if (r.ok()) r = index_.BindText(4, entry.login);
    if (r.ok()) r = index_.Step();
    index_.Reset();
    previous = chain;
    return r;
  };
  auto insert_all = [&](const auto& entries) {
    for (const JournalEntry& entry : entries) {
      const sqlite::Result r = insert(entry);
      if (!r.ok()) return r;
    }
    return sqlite::Result{};
  };
  result = insert_all(front);
  if (result.ok()) result = insert_all(waiting_);
  if (result.ok()) result = insert_all(back);
  bool pruned = false;
  if (result.ok()) result = PruneOldestSegment(insert, pruned);
  if (result.ok()) result = MergeTextIndex();
  if (!result.ok()) return result;
  result = set_issued_.BindInt64(1, sequence);
  if (result.ok()) result = set_issued_.Step();
  set_issued_.Reset();
  // An older journal's records enter the index a chunk at a time.
  const bool was_whole = text_.whole();
  if (result.ok() && !merging_)
    result = journal_detail::BackfillTextIndex(db_, text_, journal_detail::kTextBackfillRows);
  if (!result.ok()) return result;
  result = transaction.Commit();
  if (!result.ok()) return result;
  if (!was_whole && text_.whole() && std::exchange(text_announced_, false))
    Notify(NoticeLevel::kInfo, "The journal's older records are indexed: every search is quick.");
  const bool wrote = pruned || !waiting_.empty() || !front.empty() || !back.empty();
  waiting_.clear();
  dropped_recorded_ = dropped_;
  new_chain_ = false;
  high_water_ = std::max(high_water_, sequence);
  if (wrote) {
    head_ = {sequence, previous, 0, {}};
    committed_(sequence);
  }
  struct stat wal {};
  if (wal_inode_ == 0 && ::lstat((file_.string() + "-wal").c_str(), &wal) == 0) {
    wal_device_ = wal.st_dev;
    wal_inode_ = wal.st_ino;
  }
  return result;
}

sqlite::Result Journal::Open() {
  sqlite::Result result = OpenOnce();
  if (result.damaged()) {
    // Moved aside once; a file that is damaged again at once is not moved in a loop.
    const std::string reason = result.message;
    CloseConnection();
    result = MoveAside(reason);
    if (result.ok()) result = OpenOnce();
  }
  if (!result.ok()) CloseConnection();
  return result;
}

sqlite::Result Journal::OpenOnce() {
  wal_device_ = wal_inode_ = 0;
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
  // database's mode. Files that are there are only looked at, never opened: readers of this
  // process may hold them, and closing a descriptor of ours would drop their locks, letting
  // another program rebuild the index they map.
  std::error_code error = InspectSharedFile(file_);
  if (error == std::errc::no_such_file_or_directory) {
    FileDescriptor fd = OpenSharedFile(file_, O_RDWR | O_CREAT | O_EXCL, 0666, error);
    if (!fd.valid() && error != std::errc::file_exists) return SystemFailure(file_, error);
    error = InspectSharedFile(file_);
  }
  if (error) return SystemFailure(file_, error);
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::filesystem::path side = file_.string() + suffix;
    error = InspectSharedFile(side);
    if (error && error != std::errc::no_such_file_or_directory) return SystemFailure(side, error);
  }

  sqlite::Result result = db_.Open(file_, sqlite::kReadWrite);
  if (result.ok()) result = db_.Harden();
  if (result.ok()) result = db_.SetBusyTimeout(kBusyTimeoutMs);
  if (result.ok() && !checked_) {
    db_.SetStatementBudget(kQuickCheckBudget);
    std::string answer;
    result = db_.QueryText("PRAGMA quick_check", answer);
    if (result.ok() && answer != "ok") {
      result = {SQLITE_CORRUPT, "quick_check: " + answer};
    }
    // The index of the words too: SQLite can neither open nor drop one whose pages were edited,
    // so a damaged one sends the file aside like any damage, instead of failing every write.
    if (result.ok()) result = journal_detail::CheckTextIndex(db_);
    if (result.interrupted()) result = {};
    if (result.ok()) checked_ = true;
  }
  db_.SetStatementBudget(options_.statement_budget);
  // Before anything is written to it: a file that holds what the program does not make is not
  // the program's journal.
  if (result.ok()) result = journal_detail::CheckJournalSchema(db_);
  // Takes effect only in a file without tables yet (a new journal): its pruned pages then go back
  // to the disk. An older file keeps its size and uses its free pages again before it grows.
  if (result.ok()) result = db_.Exec("PRAGMA auto_vacuum=INCREMENTAL");
  std::string mode;
  if (result.ok()) result = db_.QueryText("PRAGMA journal_mode=WAL", mode);
  if (result.ok() && mode != "wal") {
    result = {SQLITE_CANTOPEN, "the journal cannot use write-ahead logging (" + mode + ")"};
  }
  if (result.ok()) result = db_.Exec("PRAGMA synchronous=FULL");
  if (result.ok()) result = journal_detail::CreateJournalSchema(db_);
  if (result.ok()) result = journal_detail::JournalSchemaVersion(db_, checked_schema_);
  if (result.ok()) result = journal_detail::ReadTextIndexState(db_, text_);
  // A merge after a pruning that a stop cut short: the records since are indexed from here on.
  if (result.ok() && text_.live_from == journal_detail::kTextIndexPaused) {
    merging_ = false;
    result = ResumeTextIndex();
  }
  // Said when it takes more than a commit: a few records are indexed before anyone could search.
  text_announced_ = result.ok() && text_.live_from - 1 - text_.built_upto >
                                       std::int64_t{journal_detail::kTextBackfillRows};
  if (text_announced_) {
    Notify(NoticeLevel::kInfo,
           "The journal's " + std::to_string(text_.live_from - 1 - text_.built_upto) +
               " older records are being indexed for search, a few thousand a tick; until then "
               "a search of them reads every record.");
  }
  const struct {
    sqlite::Statement* statement;
    const char* sql;
  } kStatements[] = {
      {&insert_,
       "INSERT INTO journal(seq, utc_ms, utc_offset_s, kind, text, raw_hex, login, host, chain, "
       "detail) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"},
      {&index_, journal_detail::kIndexRecordSql},
      {&last_, "SELECT seq, chain FROM journal ORDER BY seq DESC LIMIT 1"},
      {&issued_, "SELECT max(last_seq) FROM journal_issued"},
      {&set_issued_, "UPDATE journal_issued SET last_seq = ?1"},
      {&schema_version_, "PRAGMA schema_version"},
      {&chain_at_, "SELECT chain FROM journal WHERE seq = ?1"},
  };
  for (const auto& s : kStatements) {
    if (result.ok()) result = s.statement->Prepare(db_, s.sql);
  }
  if (result.ok()) {
    result = range_.Prepare(
        db_, journal_detail::SelectRows(true) + " WHERE seq >= ?1 AND seq <= ?2 ORDER BY seq");
  }
  return result;
}

sqlite::Result Journal::MoveAside(const std::string& reason) {
  std::error_code error;
  const std::string aside = Stash("damaged", error);
  if (aside.empty()) return SystemFailure(file_, error);
  Notify(NoticeLevel::kError, file_.string() + " was damaged (" + reason + "); it is kept as " +
                                  aside + " and a new journal begins.");
  BeginChain();
  waiting_.push_front(Make(JournalKind::kProgram,
                           "The journal file was damaged (" + reason + "); it was moved aside to " +
                               std::filesystem::path(aside).filename().string() +
                               " and a new chain begins here."));
  return {};
}

}  // namespace orv
