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
  // Older: there are older matching records. Newer: more came than fit; the page holds the
  // oldest of them and the next look starts at newest_seen.
  bool more = false;
  // How far up the look went, matching or not: the journal's end for the first older page and
  // for a newer one; 0 (not known) for a later older page.
  std::int64_t newest_seen = 0;
};

// Pages are found by sequence number, as every read of the reader is: a page costs what the
// first does, and the rows asked for are read with one more to learn whether others follow.
sqlite::Result ReadJournalPage(JournalReader& reader, const JournalPageQuery& query,
                               JournalPage& page);

}  // namespace orv
