#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/notice.h"
#include "platform/signal.h"
#include "platform/sqlite.h"

namespace orv {

// What a journal record is about.
enum class JournalKind { kEvent, kOperator, kLink, kProgram };
std::string_view JournalKindName(JournalKind kind);  // "event", "operator", "link", "program"
bool ParseJournalKind(std::string_view name, JournalKind& kind);

// A moment as the journal keeps it: UTC, and the local offset then, so that the local time of a
// record stays known across daylight-saving changes and moves between sites.
struct JournalTime {
  std::int64_t utc_ms = 0;
  std::int32_t utc_offset_s = 0;

  bool operator==(const JournalTime&) const = default;
};
using JournalClockFn = std::function<JournalTime()>;
JournalTime SystemJournalTime();

struct JournalEntry {
  JournalTime time;
  JournalKind kind = JournalKind::kProgram;
  std::string text;
  std::string raw_hex;  // the controller's frame, for events; empty otherwise
  std::string login;
  std::string host;

  bool operator==(const JournalEntry&) const = default;
};

// A record as stored: its place in the chain and the chain value that seals it and every record
// before it.
struct JournalRow {
  std::int64_t sequence = 0;
  JournalEntry entry;
  std::string chain;  // 32 bytes
};

// The chain value of a record: SHA-256 over the previous record's value (32 zero bytes before the
// first) and every field of this one, each field length-prefixed so that no two records hash
// alike by moving bytes from one field to the next.
std::string JournalChainValue(std::string_view previous, std::int64_t sequence,
                              const JournalEntry& entry);

// The outcome of walking the chain from the first record.
struct JournalCheck {
  bool ok = false;
  std::int64_t good_rows = 0;  // records that verified, from the first on
  std::int64_t first_bad = 0;  // the sequence number that fails (0 when ok)
  std::string error;           // why the file could not be read at all
};

// Reads the journal file without changing it.
JournalCheck VerifyJournalFile(const std::filesystem::path& file);
// Records with a sequence number of at least from, in order, at most limit of them.
sqlite::Result ReadJournalFile(const std::filesystem::path& file, std::int64_t from,
                               std::size_t limit, std::vector<JournalRow>& rows);
// The sequence number of the newest record, 0 for a journal without records or without a file.
sqlite::Result ReadJournalLastSequence(const std::filesystem::path& file, std::int64_t& last);

struct JournalOptions {
  JournalClockFn clock = SystemJournalTime;
  std::string login;  // who the program runs as, for the journal's own records
  std::string host;
  std::size_t waiting_limit = 10000;
  // While the file cannot be written, only every retry_commits-th Commit() tries again (once a
  // second at the 100 ms tick), so a failing disk is not hammered ten times a second.
  int retry_commits = 10;
};

// DATA/Journal.sqlite: every record the program makes, in order, sealed by a hash chain.
// Records are queued by Append() and written by Commit(), all of one call in one transaction
// (the program commits once per tick). While the file cannot be written (read-only folder, full
// disk, locked by another copy) records wait in a bounded queue and nothing else changes; the
// operator gets one notice when writing fails and one when it works again. A file that is not a
// sound database is moved aside and a new chain begins.
class Journal {
 public:
  static constexpr const char* kFileName = "Journal.sqlite";

  Journal(std::filesystem::path data_folder, NoticeFn notice, JournalOptions options = {});
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // An entry stamped with the clock and the program's login and host.
  JournalEntry Make(JournalKind kind, std::string text, std::string raw_hex = {}) const;
  // Queues one record; past the waiting limit it is only counted.
  void Append(JournalEntry entry);
  // Writes every queued record in one transaction; true when nothing waits afterwards.
  bool Commit();
  JournalCheck Verify() const { return VerifyJournalFile(file_); }

  const std::filesystem::path& file() const { return file_; }
  std::size_t waiting() const { return waiting_.size(); }
  // Records dropped because too many waited, since the journal was made.
  std::uint64_t dropped() const { return dropped_; }
  bool failing() const { return failing_; }
  // Raised after a commit that wrote records, with the sequence number of the last one: readers
  // (the history window, the broker client) look for what is new.
  Signal<std::int64_t>& committed() { return committed_; }

 private:
  sqlite::Result Open();
  sqlite::Result OpenOnce();
  sqlite::Result MoveAside(const std::string& reason);
  sqlite::Result Write();
  void Notify(NoticeLevel level, const std::string& text) const {
    if (notice_) notice_(Notice{level, text});
  }

  std::filesystem::path data_folder_;
  std::filesystem::path file_;
  NoticeFn notice_;
  JournalOptions options_;
  sqlite::Database db_;
  sqlite::Statement insert_;
  sqlite::Statement last_;
  bool checked_ = false;  // quick_check has passed since the program started
  std::deque<JournalEntry> waiting_;
  std::uint64_t dropped_ = 0;
  std::uint64_t dropped_recorded_ = 0;
  bool failing_ = false;
  int commits_since_try_ = 0;
  Signal<std::int64_t> committed_;
};

}  // namespace orv
