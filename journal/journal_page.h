#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"

namespace orv {

// One page of the history as a window asks for it: read here from the journal's file, or by the
// service for a window attached to it, which may not read the file. The same request and answer
// either way, so that the window does not care where its rows come from.
struct JournalPageQuery {
  static constexpr std::size_t kRows = 200;
  // A page looks at most this many sequence numbers, matching or not, so that a filter that
  // takes few records never scans the whole journal: in a million records, a text that matches
  // nothing took 4 ms a page this way (189 ms without), one kind 28 ms (281 ms). A page cut
  // short by it says how far it looked; the next one goes on from there.
  static constexpr std::int64_t kSpan = 20000;

  JournalFilter filter;
  // false: records below before (0: from the newest), newest first.
  // true: records above after, up to until (0: the journal's end now).
  bool newer = false;
  std::int64_t before = 0;
  std::int64_t after = 0;
  std::int64_t until = 0;
  std::size_t limit = kRows;

  bool operator==(const JournalPageQuery&) const = default;
};

struct JournalPage {
  std::vector<JournalRow> rows;  // newest first
  // Older: there may be older matching records, below oldest_seen. Newer: there may be newer
  // ones, above newest_seen.
  bool more = false;
  // How far up the look went, matching or not: the journal's end for the first older page, the
  // look's end for a newer one; 0 (not known) for a later older page.
  std::int64_t newest_seen = 0;
  // Older: how far down the look went; the next older page starts below it.
  std::int64_t oldest_seen = 0;
};

// Pages are found by sequence number, as every read of the reader is: a page costs what the
// first does, the rows asked for are read with one more to learn whether others follow, and no
// page looks further than its span.
sqlite::Result ReadJournalPage(JournalReader& reader, const JournalPageQuery& query,
                               JournalPage& page, std::int64_t span = JournalPageQuery::kSpan);

}  // namespace orv
