#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal_anchor.h"
#include "journal/journal_retention.h"
#include "journal/journal_text.h"
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
  // The event in words beside its text ("Mains, Call/EMG"); empty for the other kinds.
  std::string detail;

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
// alike by moving bytes from one field to the next. The detail, added later, is hashed only when
// it is not empty, so a record without one hashes as every record did before it existed.
std::string JournalChainValue(std::string_view previous, std::int64_t sequence,
                              const JournalEntry& entry);

// The outcome of walking the chain from the first record.
struct JournalCheck {
  bool ok = false;
  std::int64_t good_rows = 0;  // records that verified, from the first on
  std::int64_t first_bad = 0;  // the sequence number that fails (0 when ok)
  std::string error;           // why the file could not be read at all
  // The sequence numbers of the first and the last record that verified (0 without records).
  std::int64_t first_sequence = 0;
  std::int64_t last_sequence = 0;
  // Records up to pruned_upto were pruned, as record pruned_by says: the first record kept chains
  // from the chain value it names (0, 0: nothing was pruned, the chain begins from nothing).
  std::int64_t pruned_upto = 0;
  std::int64_t pruned_by = 0;
  std::string pruned_chain;
  std::string anchored_chain;  // the chain value at the number asked for, if it verified
  // The chain values at the further numbers asked for that verified.
  std::map<std::int64_t, std::string> chains_at;
};

// Reads the journal file without changing it; keeps the chain value of record chain_at for a
// comparison with an anchor, and of the records in also (every older anchor's). The first record
// begins the chain from nothing, or from the cut that a pruning record of the program's names for
// the record before it.
JournalCheck VerifyJournalFile(const std::filesystem::path& file, std::int64_t chain_at = 0,
                               const std::set<std::int64_t>& also = {});
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
  // Where the head of the chain is anchored (none: nowhere), and how often at most unless asked.
  std::shared_ptr<JournalAnchorSink> anchor = SystemJournalAnchors();
  std::int64_t anchor_interval_ms = 60000;
  // How often at most the file at the journal's path is compared with the one open.
  std::int64_t watch_interval_ms = 5000;
  // How long one statement may run before it is stopped as a failed write; 0: no bound.
  std::chrono::milliseconds statement_budget{200};
  // The bounds the oldest records are pruned to, measured at most this often.
  JournalRetention retention{};
  std::int64_t retention_interval_ms = 60000;
  // A segment, the unit of pruning, is the records whose sequence numbers share one block of this
  // many (1 to 250, 251 to 500, ...). Fixed blocks rather than the spans between anchors: the
  // anchors live in the system journal, which a reader of the file alone (a copy, a restore) may
  // not have, while a block is known from the numbers themselves; and one is small enough to be
  // verified, taken out of the index and deleted within one commit, a segment a commit, adding a
  // few ms to the tick's commit (orv_history_bench: 5.7 ms on average, 26 ms at p95, against
  // 17.6 and 52 ms for blocks of 1000).
  std::int64_t segment_records = 250;
};

// DATA/Journal.sqlite: every record the program makes, in order, sealed by a hash chain.
// Records are queued by Append() and written by Commit(), all of one call in one transaction
// (the program commits once per tick). While the file cannot be written (read-only folder, full
// disk, locked by another copy) records wait in a bounded queue and nothing else changes; the
// operator gets one notice when writing fails and one when it works again. A file that is not a
// sound database, or that holds anything the program does not make (a trigger, a view, another
// table), is moved aside and a new chain begins; an earlier version's journal gets the detail
// column at open, every row kept. Sequence numbers are never given twice: the
// highest one given is kept in the file, in memory and in the newest anchor, so records deleted
// from the end leave a gap and a record that says so. The head of the chain is anchored after
// the first write, then at most once every anchor_interval_ms, at AnchorNow() and at the end.
// Before each anchor the records since the last one are checked against it and against the head
// the program wrote, and at every commit the head it wrote last must still be there: a chain
// changed behind its back (edited, or recomputed from some record on) is a record and a notice,
// and from then on the anchor stays at the last point that held, saying where it broke. At most
// every watch_interval_ms it looks whether the file at its path is still the one it has open: one
// deleted, moved away or replaced is said, the open one closed and a new chain begun in a new
// file, whose first record names the old chain's last record. A file moved aside (damaged, or
// put in the journal's place) is hashed off the tick and named with its SHA-256 in the anchors.
// Kept within options.retention: the oldest segment past a bound is verified and pruned, one a
// commit, and a record in the chain names what went and the chain value at the cut.
class Journal {
 public:
  static constexpr const char* kFileName = "Journal.sqlite";

  Journal(std::filesystem::path data_folder, NoticeFn notice, JournalOptions options = {});
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();

  // An entry stamped with the clock and the program's login and host.
  JournalEntry Make(JournalKind kind, std::string text, std::string raw_hex = {}) const;
  // Queues one record; past the waiting limit it is only counted.
  void Append(JournalEntry entry);
  // Writes every queued record in one transaction; true when nothing waits afterwards.
  bool Commit();
  JournalCheck Verify() const { return VerifyJournalFile(file_); }
  // Anchors the head now if it moved since the last anchor (a link change, the program's stop).
  void AnchorNow() { Anchor(true); }
  // New bounds (a reload of the site's settings): measured against at the next commit.
  void set_retention(const JournalRetention& retention);
  const JournalRetention& retention() const { return options_.retention; }

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
  sqlite::Result WriteOnce(bool& reopen);
  // The sequence number and chain value the next record follows; notes a deleted tail.
  sqlite::Result ReadTail(std::int64_t& sequence, std::string& previous,
                          std::vector<JournalEntry>& notes);
  void CloseConnection();
  void Anchor(bool now);
  // Renames the file at the journal's path (and its log) to FILE.<what>-<UTC time>, hashed off the
  // tick for the anchors; the new name, empty when it could not be moved (error then says why).
  std::string Stash(const char* what, std::error_code& error);
  // Takes the hashes that are done (all of them, waiting, when wait) into the anchor's copies.
  void CollectHashes(bool wait);
  // The file at the path is no longer the one open: said, recorded, and a new chain begun.
  void Watch();
  // The records since the last anchor against it and the head written: the first record that
  // does not hold, 0 when all do, -1 when they could not be read.
  std::int64_t FirstChanged();
  // The chain found changed at record at: said, recorded, and never anchored past the last anchor.
  void FoundChanged(std::int64_t at);
  // A new chain begins (the file moved aside or gone): nothing before it is checked or anchored.
  void BeginChain();
  // Retention (journal_retention.cpp): the pages in use and the disk measured against the bounds
  // at most every retention_interval_ms, said at 90 %; whether the oldest segment is due to go
  // (first its first record, why the reason); and one segment verified and pruned, in the
  // commit's transaction, its record written through insert (pruned: it was).
  using InsertFn = std::function<sqlite::Result(const JournalEntry&)>;
  void MeasureForRetention();
  bool OldestSegmentDue(std::int64_t& first, PruneReason& why);
  sqlite::Result PruneOldestSegment(const InsertFn& insert, bool& pruned);
  // A bounded part of the index's merge after a round of pruning, its freed pages given back;
  // at its end, or at an open that finds it cut short, new records are indexed again.
  sqlite::Result MergeTextIndex();
  sqlite::Result ResumeTextIndex();
  std::int64_t SegmentLast(std::int64_t sequence) const;
  void Notify(NoticeLevel level, const std::string& text) const {
    if (notice_) notice_(Notice{level, text});
  }

  std::filesystem::path data_folder_;
  std::filesystem::path file_;
  NoticeFn notice_;
  JournalOptions options_;
  std::string anchor_name_;
  sqlite::Database db_;
  sqlite::Statement insert_;
  sqlite::Statement index_;
  sqlite::Statement last_;
  sqlite::Statement issued_;
  sqlite::Statement set_issued_;
  sqlite::Statement schema_version_;
  sqlite::Statement chain_at_;
  sqlite::Statement range_;
  std::int64_t checked_schema_ = -1;     // the schema version the last schema check passed
  journal_detail::TextIndexState text_;  // how far the index of the records' words goes
  bool text_announced_ = false;          // its building was said; its end will be
  bool checked_ = false;                 // quick_check has passed since the program started
  bool new_chain_ = false;               // the file was moved aside: the next write begins a chain
  std::int64_t high_water_ = 0;          // the highest sequence number known to have been given
  JournalAnchor head_;                   // as last committed
  JournalAnchor anchored_;  // the last anchor of this chain that held, the check's start
  JournalAnchor sent_;      // as last sent
  std::int64_t broken_at_ = 0;
  std::vector<JournalAside> asides_;  // the newest kMaxAsides copies moved aside by this run
  struct Hashing {
    std::string name;
    std::future<std::string> sha256;
  };
  std::vector<Hashing> hashing_;
  std::optional<std::int64_t> anchored_at_ms_;
  std::optional<std::int64_t> watched_at_ms_;
  // The write-ahead log this connection made (device and inode; 0 before the first write).
  std::uint64_t wal_device_ = 0;
  std::uint64_t wal_inode_ = 0;
  bool anchor_due_ = false;  // a new chain or a gap: anchored at the next commit
  std::deque<JournalEntry> waiting_;
  std::uint64_t dropped_ = 0;
  std::uint64_t dropped_recorded_ = 0;
  bool failing_ = false;
  int commits_since_try_ = 0;
  std::optional<std::int64_t> measured_at_ms_;
  std::int64_t prune_upto_ = 0;  // segments up to the one holding this go for size
  bool prune_due_ = false;       // the oldest segment goes at the next commit
  bool prune_blocked_ = false;   // its chain failed: nothing more is pruned in this run
  bool merging_ = false;         // the index is merged a part a commit after a round of pruning
  bool budget_said_ = false;
  bool disk_said_ = false;
  Signal<std::int64_t> committed_;
};

}  // namespace orv
