#pragma once

// The journal kept within the site's bounds ([Journal] KeepDays and MaxMegabytes): its oldest
// records are pruned a whole segment at a time, each segment's chain verified first, and each
// pruning leaves a record in the chain that names what went and the chain value at the cut, from
// which the rest is proven. What reads or writes SQLite for it is in the Journal (its writer).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// [Journal] KeepDays: a year at least (a leap one too); 0 keeps records whatever their age.
inline constexpr long kJournalKeepDaysDefault = 366;
inline constexpr long kJournalKeepDaysMax = 36500;
// [Journal] MaxMegabytes: 1 GiB; 0 lets the journal grow until the disk is full.
inline constexpr long kJournalMaxMegabytesDefault = 1024;
inline constexpr long kJournalMaxMegabytesMin = 16;
inline constexpr long kJournalMaxMegabytesMax = 1048576;
inline constexpr std::int64_t kMegabyte = 1 << 20;

struct JournalRetention {
  std::int64_t keep_days = kJournalKeepDaysDefault;                  // 0: no bound by age
  std::int64_t max_bytes = kJournalMaxMegabytesDefault * kMegabyte;  // 0: no bound by size

  bool operator==(const JournalRetention&) const = default;
};

// The [Journal] keys as read (read gives a key's text, empty when not set); a value that is not
// allowed gives the key's default (the service refuses such a file before it gets here).
JournalRetention ReadJournalRetention(const std::function<std::string(std::string_view)>& read);

// Records first to last pruned, and the chain value of last: the value the first record kept
// chains from.
struct JournalCut {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::string chain;  // 32 bytes

  bool operator==(const JournalCut&) const = default;
};

enum class PruneReason { kAge, kSize };

// The text of the record a pruning leaves, and its reading back: none unless text is exactly
// such a record's (the kind is the caller's to check: only the program's own records count).
std::string PruningRecordText(const JournalCut& cut, PruneReason why,
                              const JournalRetention& retention);
std::optional<JournalCut> ParsePruningRecord(std::string_view text);

// The share of a budget in whole percent, rounded down; 0 without a budget.
int PercentOf(std::int64_t used, std::int64_t budget);

namespace journal_detail {
// Where new records' indexing starts while the index of the words is merged after a pruning:
// none is indexed as it is written, and searches read the records instead.
inline constexpr std::int64_t kTextIndexPaused = INT64_MAX;
}  // namespace journal_detail

}  // namespace orv
