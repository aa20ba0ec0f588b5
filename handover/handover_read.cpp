#include "handover/handover_read.h"

#include <algorithm>
#include <string>
#include <vector>

namespace orv {
namespace {

constexpr std::size_t kPage = 2000;

// The newest record at or before until of kind whose text begins with prefix (the index finds
// the words anywhere: a comment that quotes them is passed over).
sqlite::Result NewestBeginning(JournalReader& reader, JournalKind kind, std::string_view prefix,
                               std::int64_t until_ms, std::optional<JournalRow>& found) {
  JournalFilter filter;
  filter.kind = kind;
  filter.text = std::string(prefix);
  filter.to_utc_ms = until_ms;
  std::vector<JournalRow> rows;
  std::int64_t before = 0;
  do {
    const sqlite::Result result = reader.NewestFirst(filter, before, 64, rows);
    if (!result.ok()) return result;
    for (const JournalRow& row : rows) {
      if (row.entry.text.starts_with(prefix)) {
        found = row;
        return {};
      }
    }
    if (!rows.empty()) before = rows.back().sequence;
  } while (rows.size() == 64);
  return {};
}

}  // namespace

sqlite::Result ReadHandoverReport(JournalReader& reader, const HandoverAsk& ask,
                                  HandoverReport& report) {
  std::int64_t from_ms = ask.now.utc_ms - kHandoverDefaultSpanMs;
  std::int64_t after = 0;  // the records replayed begin after this one
  std::string since;
  if (ask.since_ms) {
    from_ms = *ask.since_ms;
  } else {
    std::optional<JournalRow> last;
    sqlite::Result result = NewestBeginning(reader, JournalKind::kOperator, kHandoverRecordPrefix,
                                            ask.now.utc_ms, last);
    if (!result.ok()) return result;
    if (last) {
      from_ms = last->entry.time.utc_ms;
      since = last->entry.text;
    }
  }
  // The panel's conditions begin again at each start of the program: replay from the last one.
  std::optional<JournalRow> start;
  sqlite::Result result =
      NewestBeginning(reader, JournalKind::kProgram, "Program started", from_ms, start);
  if (!result.ok()) return result;
  JournalFilter filter;
  filter.from_utc_ms = from_ms - kHandoverLookBackMs;
  filter.to_utc_ms = ask.now.utc_ms;
  if (start) after = start->sequence - 1;

  HandoverBuilder builder(from_ms, ask.now);
  std::vector<JournalRow> page;
  do {
    result = reader.OldestFirst(filter, after, 0, kPage, page);
    if (!result.ok()) return result;
    for (const JournalRow& row : page)
      builder.Take(row);
    if (!page.empty()) after = page.back().sequence;
  } while (page.size() == kPage);
  report = builder.Finish(since);
  return {};
}

}  // namespace orv
