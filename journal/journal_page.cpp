#include "journal/journal_page.h"

#include <algorithm>

namespace orv {

sqlite::Result ReadJournalPage(JournalReader& reader, const JournalPageQuery& query,
                               JournalPage& page, std::int64_t span) {
  page = JournalPage{};
  if (query.limit == 0) return {};
  if (!query.newer) {
    std::int64_t before = query.before;
    if (before == 0) {
      // The first page fixes where the later, newer looks start.
      const sqlite::Result result = reader.LastSequence(page.newest_seen);
      if (!result.ok()) return result;
      before = page.newest_seen + 1;
    }
    const std::int64_t above = std::max<std::int64_t>(0, before - 1 - span);
    const sqlite::Result result =
        reader.NewestFirst(query.filter, before, query.limit + 1, page.rows, above);
    if (!result.ok()) return result;
    if (page.rows.size() > query.limit) {
      page.rows.resize(query.limit);
      page.more = true;
      page.oldest_seen = page.rows.back().sequence;
    } else {
      page.more = above > 0;
      page.oldest_seen = above + 1;
    }
    return result;
  }
  std::int64_t until = query.until;
  if (until == 0) {
    const sqlite::Result result = reader.LastSequence(until);
    if (!result.ok()) return result;
  }
  const std::int64_t end = std::min(until, query.after + span);
  page.newest_seen = end;
  page.more = end < until;
  if (end <= query.after) return {};
  const sqlite::Result result =
      reader.OldestFirst(query.filter, query.after, end, query.limit + 1, page.rows);
  if (!result.ok()) return result;
  if (page.rows.size() > query.limit) {
    // The oldest that fit; the next look goes on from the newest of them.
    page.rows.resize(query.limit);
    page.more = true;
    page.newest_seen = page.rows.back().sequence;
  }
  std::reverse(page.rows.begin(), page.rows.end());
  return result;
}

}  // namespace orv
