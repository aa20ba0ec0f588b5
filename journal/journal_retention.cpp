// The journal's retention: what the site's bounds are, how a pruning is said in the chain, and
// the writer's side of it (measuring, choosing the oldest segment, verifying and pruning it).
#include "journal/journal_retention.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cmath>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "journal/journal_rows.h"
#include "platform/leading_number.h"

#include <sqlite3.h>

namespace orv {
namespace {

constexpr std::int64_t kDayMs = 86400000;
// The first and the last record: each through the key, where min() and max() together would
// read every record.
constexpr const char* kEnds =
    "SELECT (SELECT min(seq) FROM journal), (SELECT max(seq) FROM journal)";
constexpr std::string_view kPrunedPrefix = "Records ";
constexpr std::string_view kPrunedMiddle = " were pruned, ";
constexpr std::string_view kCutWords = "; the chain at the cut is ";
// Said at 90 % of the budget or the disk, and again only after it went below 80 %.
constexpr int kSayAtPercent = 90;
constexpr int kSayAgainBelowPercent = 80;
// Pruned for size down to this share of the budget, so that a journal at its budget is not
// pruned a segment every time it is measured.
constexpr int kPruneToPercent = 95;
// The index of the words keeps what is deleted from it as markers, which go only when the part
// they delete from is merged with them. Once a round of pruning is done, every part of the index
// is merged into one, a bounded amount at each commit (FTS5 pages of about 4 KB written), while
// new records wait to be indexed (they are searched record by record meanwhile) and are indexed
// after it. Measured over a million records with 150 segments pruned: 118 commits of at most
// 90 ms, 306 MB in use before, 273 MB after. With records indexed meanwhile, each commit's new
// part made the merge begin anew and the file grew to 2.5 GB; without the merge, the markers
// stayed and pruning freed next to nothing, the index growing by about what the table lost.
constexpr int kMergePages = 32;

bool ParseNumber(std::string_view& text, std::int64_t& number) {
  std::size_t digits = 0;
  while (digits < text.size() && digits < 18 && text[digits] >= '0' && text[digits] <= '9')
    ++digits;
  if (digits == 0) return false;
  number = 0;
  for (std::size_t i = 0; i < digits; ++i)
    number = number * 10 + (text[i] - '0');
  text.remove_prefix(digits);
  return true;
}

bool Take(std::string_view& text, std::string_view word) {
  if (!text.starts_with(word)) return false;
  text.remove_prefix(word.size());
  return true;
}

std::string Budget(std::int64_t bytes) {
  return bytes % kMegabyte == 0 ? std::to_string(bytes / kMegabyte) + " MB"
                                : std::to_string(bytes) + " bytes";
}

}  // namespace

JournalRetention ReadJournalRetention(const std::function<std::string(std::string_view)>& read) {
  const auto number = [&read](std::string_view key, long min, long max, long fallback) {
    const std::string text = read(key);
    if (text == "0") return 0L;
    return WholeNumberIn(text, min, max).value_or(fallback);
  };
  JournalRetention retention;
  retention.keep_days = number("KeepDays", 1, kJournalKeepDaysMax, kJournalKeepDaysDefault);
  retention.max_bytes = number("MaxMegabytes", kJournalMaxMegabytesMin, kJournalMaxMegabytesMax,
                               kJournalMaxMegabytesDefault) *
                        kMegabyte;
  return retention;
}

std::string PruningRecordText(const JournalCut& cut, PruneReason why,
                              const JournalRetention& retention) {
  const std::string reason =
      why == PruneReason::kAge
          ? "older than " + std::to_string(retention.keep_days) + " days ([Journal] KeepDays)"
          : "the journal over its " + Budget(retention.max_bytes) + " ([Journal] MaxMegabytes)";
  return std::string(kPrunedPrefix) + std::to_string(cut.first) + " to " +
         std::to_string(cut.last) + std::string(kPrunedMiddle) + reason + std::string(kCutWords) +
         FormatJournalAnchor({cut.last, cut.chain, 0, {}}) + ".";
}

std::optional<JournalCut> ParsePruningRecord(std::string_view text) {
  JournalCut cut;
  if (!Take(text, kPrunedPrefix) || !ParseNumber(text, cut.first) || !Take(text, " to ") ||
      !ParseNumber(text, cut.last) || !Take(text, kPrunedMiddle) || !text.ends_with('.')) {
    return std::nullopt;
  }
  const std::size_t at = text.rfind(kCutWords);
  if (at == std::string_view::npos) return std::nullopt;
  JournalAnchor anchor;
  const std::string_view value = text.substr(at + kCutWords.size());
  if (!ParseJournalAnchor(value.substr(0, value.size() - 1), anchor) ||
      anchor.sequence != cut.last || cut.first < 1 || cut.first > cut.last) {
    return std::nullopt;
  }
  cut.chain = anchor.chain;
  return cut;
}

int PercentOf(std::int64_t used, std::int64_t budget) {
  if (budget <= 0 || used <= 0) return 0;
  return static_cast<int>(std::min<std::int64_t>(used * 100 / budget, 1000));
}

// ---- The writer's side ----

void Journal::set_retention(const JournalRetention& retention) {
  if (retention == options_.retention) return;
  options_.retention = retention;
  measured_at_ms_.reset();  // measured against the new bounds at the next commit
  prune_upto_ = 0;
}

bool Journal::OldestSegmentDue(std::int64_t& first, PruneReason& why) {
  sqlite::Statement ends;
  sqlite::Result result = ends.Prepare(db_, kEnds);
  if (result.ok()) result = ends.Step();
  if (!result.row() || ends.ColumnText(0).empty()) return false;
  first = ends.ColumnInt64(0);
  const std::int64_t last = SegmentLast(first);
  // Never the segment of the head, nor one past the last anchor that held (the next check of the
  // chain starts there), nor anything while the chain is known to have been changed.
  std::int64_t limit = ends.ColumnInt64(1);
  if (anchored_.sequence != 0) limit = std::min(limit, anchored_.sequence);
  if (last >= limit || broken_at_ != 0) return false;
  if (first <= prune_upto_) {
    why = PruneReason::kSize;
    return true;
  }
  if (options_.retention.keep_days <= 0) return false;
  sqlite::Statement newest;
  result = newest.Prepare(db_, "SELECT max(utc_ms) FROM journal WHERE seq BETWEEN ?1 AND ?2");
  if (result.ok()) result = newest.BindInt64(1, first);
  if (result.ok()) result = newest.BindInt64(2, last);
  if (result.ok()) result = newest.Step();
  const std::int64_t now = (options_.clock ? options_.clock() : SystemJournalTime()).utc_ms;
  // Whole segments only: one goes when its newest record is past the bound.
  if (!result.row() || newest.ColumnInt64(0) >= now - options_.retention.keep_days * kDayMs)
    return false;
  why = PruneReason::kAge;
  return true;
}

void Journal::MeasureForRetention() {
  if (!db_.is_open() || failing_) return;
  const std::int64_t now = (options_.clock ? options_.clock() : SystemJournalTime()).utc_ms;
  if (measured_at_ms_ && now >= *measured_at_ms_ &&
      now - *measured_at_ms_ < options_.retention_interval_ms) {
    return;
  }
  measured_at_ms_ = now;
  std::string pages, free, page_size;
  if (!db_.QueryText("PRAGMA page_count", pages).ok() ||
      !db_.QueryText("PRAGMA freelist_count", free).ok() ||
      !db_.QueryText("PRAGMA page_size", page_size).ok()) {
    return;
  }
  // The pages in use: free pages are used again before the file grows.
  const std::int64_t used = (std::stoll(pages) - std::stoll(free)) * std::stoll(page_size);
  const std::int64_t budget = options_.retention.max_bytes;
  const auto say = [this](bool& said, int percent, const std::string& text) {
    if (percent < kSayAgainBelowPercent) said = false;
    if (percent < kSayAtPercent || said) return;
    said = true;
    Notify(NoticeLevel::kWarning, text);
    waiting_.push_back(Make(JournalKind::kProgram, text));
  };
  const int of_budget = PercentOf(used, budget);
  say(budget_said_, of_budget,
      "The journal holds " + std::to_string(of_budget) + " % of its budget of " + Budget(budget) +
          " ([Journal] MaxMegabytes): from 100 % its oldest records are pruned.");
  struct statvfs disk {};
  if (::statvfs(data_folder_.c_str(), &disk) == 0 && disk.f_blocks > 0) {
    const int of_disk = PercentOf(static_cast<std::int64_t>(disk.f_blocks - disk.f_bavail),
                                  static_cast<std::int64_t>(disk.f_blocks));
    say(disk_said_, of_disk,
        "The disk of " + file_.string() + " is " + std::to_string(of_disk) +
            " % full: when it is full, records wait until there is room.");
  }
  // While the index is merged or built the pages in use are still falling: measured again after.
  if (budget > 0 && used > budget && text_.whole()) {
    // As many of the oldest records as are over the bound, in proportion, rounded up to whole
    // segments as they are pruned.
    sqlite::Statement ends;
    if (ends.Prepare(db_, kEnds).ok() && ends.Step().row()) {
      const std::int64_t first = ends.ColumnInt64(0);
      const std::int64_t records = ends.ColumnInt64(1) - first + 1;
      const double over =
          static_cast<double>(used - budget / 100 * kPruneToPercent) / static_cast<double>(used);
      prune_upto_ =
          first + static_cast<std::int64_t>(std::ceil(over * static_cast<double>(records))) - 1;
    }
  }
  PruneReason why{};
  std::int64_t first = 0;
  prune_due_ = !prune_blocked_ && OldestSegmentDue(first, why);
}

std::int64_t Journal::SegmentLast(std::int64_t sequence) const {
  const std::int64_t size = std::max<std::int64_t>(options_.segment_records, 1);
  return ((sequence - 1) / size + 1) * size;
}

sqlite::Result Journal::PruneOldestSegment(const InsertFn& insert, bool& pruned) {
  pruned = false;
  // The index of the words loses what the journal loses: only once every record is in it.
  if (!prune_due_ || prune_blocked_ || !text_.whole()) return {};
  std::int64_t first = 0;
  PruneReason why{};
  if (!OldestSegmentDue(first, why)) {
    prune_due_ = false;
    return {};
  }
  const std::int64_t last = SegmentLast(first);
  // The chain value the segment begins from: the last cut's, or none where the chain begins.
  std::string previous(journal_detail::kNoChain);
  sqlite::Statement cut;
  sqlite::Result result = cut.Prepare(db_, "SELECT last_seq, chain FROM journal_cut");
  if (result.ok() && (result = cut.Step()).row() && cut.ColumnInt64(0) == first - 1)
    previous = cut.ColumnBlob(1);
  if (!result.ok()) return result;
  // Verified before it goes: a changed record is never pruned out of sight.
  result = range_.BindInt64(1, first);
  if (result.ok()) result = range_.BindInt64(2, last);
  std::int64_t expected = first;
  while (result.ok() && (result = range_.Step()).row()) {
    const JournalRow row = journal_detail::JournalRowFrom(range_);
    if (row.sequence != expected ||
        journal_detail::StoredChainValue(previous, range_, row) != row.chain) {
      break;
    }
    previous = row.chain;
    ++expected;
  }
  range_.Reset();
  if (!result.ok()) return result;
  if (expected <= last) {
    prune_blocked_ = true;
    prune_due_ = false;
    const std::string text =
        "The journal's oldest records are not pruned: the chain fails at record " +
        std::to_string(expected) +
        " (changed, deleted or inserted outside the program; orvandel --journal-verify says "
        "more). It grows past its bounds until it is moved aside.";
    Notify(NoticeLevel::kError, file_.string() + ": " + text);
    return insert(Make(JournalKind::kProgram, text));
  }
  const JournalCut gone{first, last, previous};
  const std::string range =
      " WHERE seq BETWEEN " + std::to_string(first) + " AND " + std::to_string(last);
  result = db_.Exec(
      "INSERT INTO journal_text(journal_text, rowid, text, detail, login) "
      "SELECT 'delete', seq, text, detail, login FROM journal" +
      range + "; DELETE FROM journal" + range + "; DELETE FROM journal_cut;");
  sqlite::Statement memo;
  if (result.ok())
    result = memo.Prepare(db_, "INSERT INTO journal_cut(last_seq, chain) VALUES(?1, ?2)");
  if (result.ok()) result = memo.BindInt64(1, last);
  if (result.ok()) result = memo.BindBlob(2, gone.chain);
  if (result.ok()) result = memo.Step();
  if (!result.ok()) return result;
  result = insert(Make(JournalKind::kProgram, PruningRecordText(gone, why, options_.retention)));
  if (!result.ok()) return result;
  pruned = true;
  prune_due_ = OldestSegmentDue(first, why);
  if (prune_due_) return {};
  // The round is done: the index is merged, the records from here on indexed after it.
  result = db_.Exec(
      "UPDATE journal_text_state SET built_upto = (SELECT max(seq) FROM journal), "
      "live_from = " +
      std::to_string(journal_detail::kTextIndexPaused));
  if (!result.ok()) return result;
  merging_ = true;
  return journal_detail::ReadTextIndexState(db_, text_);
}

sqlite::Result Journal::ResumeTextIndex() {
  // The records written while the index was merged are indexed a chunk a commit from now on.
  sqlite::Result result = db_.Exec(
      "UPDATE journal_text_state SET live_from = (SELECT coalesce(max(seq), 0) + 1 FROM journal)");
  if (result.ok()) result = journal_detail::ReadTextIndexState(db_, text_);
  return result;
}

sqlite::Result Journal::MergeTextIndex() {
  if (!merging_) return {};
  const int before = sqlite3_total_changes(db_.handle());
  sqlite::Result result = db_.Exec("INSERT INTO journal_text(journal_text, rank) VALUES('merge', " +
                                   std::to_string(-kMergePages) + ")");
  // Less than two rows changed: nothing was left to merge.
  if (result.ok() && sqlite3_total_changes(db_.handle()) - before < 2) {
    merging_ = false;
    result = ResumeTextIndex();
  }
  // A file made with incremental vacuum gives the freed pages back to the disk; any other uses
  // them again before it grows.
  if (result.ok()) result = db_.Exec("PRAGMA incremental_vacuum");
  return result;
}

}  // namespace orv
