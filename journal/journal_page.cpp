#include "journal/journal_page.h"

#include <algorithm>

namespace orv {

sqlite::Result ReadJournalPage(JournalReader& reader, const JournalPageQuery& query,
                               JournalPage& page) {
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
    const sqlite::Result result =
        reader.NewestFirst(query.filter, before, query.limit + 1, page.rows);
    if (!result.ok()) return result;
    page.more = page.rows.size() > query.limit;
    if (page.more) page.rows.resize(query.limit);
    return result;
  }
  std::int64_t until = query.until;
  if (until == 0) {
    const sqlite::Result result = reader.LastSequence(until);
    if (!result.ok()) return result;
  }
  page.newest_seen = until;
  if (until <= query.after) return {};
  const sqlite::Result result =
      reader.OldestFirst(query.filter, query.after, until, query.limit + 1, page.rows);
  if (!result.ok()) return result;
  page.more = page.rows.size() > query.limit;
  if (page.more) {
    // The oldest that fit; the next look goes on from the newest of them.
    page.rows.resize(query.limit);
    page.newest_seen = page.rows.back().sequence;
  }
  std::reverse(page.rows.begin(), page.rows.end());
  return result;
}

}  // namespace orv
