// What the journal watches in its own file: whether the file at its path is still the one it has
// open, whether the records since its last anchor are still the ones it wrote before it anchors
// again, and the copies it moved aside, hashed off the tick and named in its anchors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <utility>

#include <sqlite3.h>

#include "journal/journal.h"
#include "journal/journal_rows.h"
#include "platform/safe_file.h"

namespace orv {
namespace {

// Enough for every copy a run makes in earnest; each is a whole journal on the disk anyway.
constexpr std::size_t kMaxAsides = 64;

// A file name stamp: 20261207T021530Z.
std::string UtcStamp(std::int64_t utc_ms) {
  const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

std::string HeadText(const JournalAnchor& head) {
  const std::string text = FormatJournalAnchor(head);
  return "record " + std::to_string(head.sequence) + " with chain value " +
         text.substr(text.find(':') + 1);
}

}  // namespace

std::string Journal::Stash(const char* what, std::error_code& error) {
  const JournalTime now = options_.clock ? options_.clock() : SystemJournalTime();
  const std::string stem = file_.string() + "." + what + "-" + UtcStamp(now.utc_ms);
  std::string aside = stem;
  for (int n = 2;
       std::filesystem::symlink_status(aside).type() != std::filesystem::file_type::not_found;
       ++n) {
    aside = stem + "-" + std::to_string(n);
  }
  // Opened before the move, so that the bytes hashed are the ones moved even if the copy is
  // deleted at once. Never follows a link and never waits on a FIFO.
  FileDescriptor fd(::open(file_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  // rename() moves the entry itself and never follows a link.
  if (std::rename(file_.c_str(), aside.c_str()) != 0) {
    error = std::error_code(errno, std::generic_category());
    return {};
  }
  // The log beside the file belongs to it; the shared-memory index is rebuilt anyway.
  const std::string wal = file_.string() + "-wal";
  std::rename(wal.c_str(), (aside + "-wal").c_str());
  std::remove((file_.string() + "-shm").c_str());
  Hashing hashing{std::filesystem::path(aside).filename().string(), {}};
  hashing.sha256 = std::async(std::launch::async, [fd = std::move(fd)] {
    std::string problem;
    const std::string sha256 =
        fd.valid() ? journal_detail::DescriptorSha256(fd.get(), problem) : "";
    // A copy that could not be read is still named: verify then says it is missing or changed.
    return sha256.empty() ? std::string(32, '\0') : sha256;
  });
  hashing_.push_back(std::move(hashing));
  return aside;
}

void Journal::CollectHashes(bool wait) {
  for (auto it = hashing_.begin(); it != hashing_.end();) {
    if (!wait && it->sha256.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      ++it;
      continue;
    }
    if (asides_.size() == kMaxAsides) asides_.erase(asides_.begin());
    asides_.push_back({it->name, it->sha256.get()});
    anchor_due_ = true;
    it = hashing_.erase(it);
  }
}

void Journal::BeginChain() {
  new_chain_ = true;
  anchor_due_ = true;
  head_ = {};
  anchored_ = {};
  broken_at_ = 0;
}

void Journal::Watch() {
  if (!db_.is_open()) return;
  const std::int64_t at = (options_.clock ? options_.clock() : SystemJournalTime()).utc_ms;
  if (watched_at_ms_ && at >= *watched_at_ms_ && at - *watched_at_ms_ < options_.watch_interval_ms)
    return;
  watched_at_ms_ = at;
  // SQLite's own look: the path stat()ed against the inode of the file it has open.
  int moved = 0;
  if (sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK ||
      moved == 0) {
    return;
  }
  const JournalAnchor last = head_;
  // SQLite does not write the log of a file that has moved back into it at close, and leaves it
  // where it was: it is written back first, so that a file moved away keeps every record, and
  // then, while it is still this connection's, removed with its index, so that no file at the
  // path takes it over.
  db_.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  CloseConnection();
  const std::string wal = file_.string() + "-wal";
  struct stat log {};
  if (wal_inode_ != 0 && ::lstat(wal.c_str(), &log) == 0 && log.st_dev == wal_device_ &&
      log.st_ino == wal_inode_) {
    std::remove(wal.c_str());
    std::remove((file_.string() + "-shm").c_str());
  }
  std::error_code error;
  const bool gone =
      std::filesystem::symlink_status(file_, error).type() == std::filesystem::file_type::not_found;
  std::string what = gone ? "deleted or moved away" : "replaced by another file";
  // A journal whose records begin after every number given here is a chain another copy of the
  // program began (it moved a damaged file aside): moving it aside in turn would start a game of
  // ping-pong. Records go on in it, and the next anchor's check says whether it is the program's.
  std::vector<JournalRow> first;
  const bool later = !gone && ReadJournalFile(file_, 0, 1, first).ok() && !first.empty() &&
                     first[0].sequence > high_water_;
  if (later) {
    what += ", whose records begin at " + std::to_string(first[0].sequence);
  } else if (!gone) {
    const std::string aside = Stash("replaced", error);
    what += aside.empty() ? " (which cannot be moved aside: " + error.message() + ")"
                          : ", kept as " + std::filesystem::path(aside).filename().string();
  }
  const std::string ended =
      last.sequence == 0 ? "before this program wrote to it" : "at " + HeadText(last);
  const char* goes_on = later ? "records go on in it" : "a new chain begins here";
  Notify(NoticeLevel::kError, file_.string() + " was " + what +
                                  " while the program had it open; the old chain ended " + ended +
                                  "; " + goes_on + ".");
  const JournalAnchor check_from = anchored_;
  BeginChain();
  if (later) anchored_ = check_from;
  checked_ = false;
  waiting_.push_front(Make(JournalKind::kProgram,
                           "The journal file was " + what +
                               " outside the program while it was open. The old chain ended " +
                               ended + "; " + goes_on + "."));
}

std::int64_t Journal::FirstChanged() {
  if (!db_.is_open()) return -1;
  sqlite::Result result = range_.BindInt64(1, anchored_.sequence);
  if (result.ok()) result = range_.BindInt64(2, head_.sequence);
  std::int64_t expected = anchored_.sequence;
  std::int64_t changed = 0;
  std::string previous;
  while (changed == 0 && result.ok() && (result = range_.Step()).row()) {
    const JournalRow row = journal_detail::JournalRowFrom(range_);
    const bool holds = row.sequence == expected &&
                       (expected == anchored_.sequence
                            ? row.chain == anchored_.chain
                            : journal_detail::StoredChainValue(previous, range_, row) == row.chain);
    if (!holds) changed = expected;
    previous = row.chain;
    ++expected;
  }
  range_.Reset();
  if (changed != 0) return changed;
  if (!result.done()) return -1;
  if (expected <= head_.sequence) return expected;  // the end is gone
  // Every record chains from the anchor, yet not to the value written: recomputed.
  if (previous != head_.chain) return head_.sequence;
  return 0;
}

void Journal::FoundChanged(std::int64_t at) {
  broken_at_ = at;
  anchor_due_ = true;
  const std::string since =
      anchored_.sequence == 0 ? "" : " since the anchor at " + std::to_string(anchored_.sequence);
  Notify(NoticeLevel::kError, file_.string() + " was changed outside the program: the chain" +
                                  since + " fails at record " + std::to_string(at) +
                                  "; it is not anchored past the last point that held.");
  waiting_.push_front(Make(
      JournalKind::kProgram,
      "The journal was changed outside the program: the chain" + since + " fails at record " +
          std::to_string(at) + " (records edited, deleted or inserted, or the chain recomputed). " +
          (anchored_.sequence == 0 ? "Nothing of it is anchored in this run."
                                   : "The anchor stays at the last point that held and says so.")));
}

void Journal::Anchor(bool now) {
  if (!options_.anchor) return;
  const std::int64_t at = (options_.clock ? options_.clock() : SystemJournalTime()).utc_ms;
  // A clock set back does not hold anchors back until it has caught up.
  const bool recent = anchored_at_ms_ && at >= *anchored_at_ms_ &&
                      at - *anchored_at_ms_ < options_.anchor_interval_ms;
  const bool head_moved = head_.sequence != 0 && head_.sequence != sent_.sequence;
  if (broken_at_ == 0 && head_moved && anchored_.sequence != 0 && (now || anchor_due_ || !recent)) {
    const std::int64_t changed = FirstChanged();
    if (changed < 0) {
      anchored_at_ms_ = at;
      return;
    }
    if (changed > 0) FoundChanged(changed);
  }
  JournalAnchor next = broken_at_ != 0 ? anchored_ : head_;
  next.broken_at = broken_at_;
  next.asides = asides_;
  if (next.sequence == 0 || next == sent_) return;
  if (!now && !anchor_due_ && recent) return;
  anchored_at_ms_ = at;
  anchor_due_ = false;
  std::string problem;
  if (options_.anchor->Send(anchor_name_, next, problem)) {
    sent_ = next;
    if (broken_at_ == 0) anchored_ = {next.sequence, next.chain, 0, {}};
  }
}

}  // namespace orv
