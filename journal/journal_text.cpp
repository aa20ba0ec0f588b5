#include "journal/journal_text.h"

#include <sqlite3.h>

namespace orv::journal_detail {

sqlite::Result ReadTextIndexState(sqlite::Database& db, TextIndexState& state) {
  state = {};
  sqlite::Statement select;
  sqlite::Result result = select.Prepare(
      db,
      "SELECT live_from, built_upto FROM journal_text_state WHERE EXISTS (SELECT 1 FROM "
      "sqlite_schema WHERE name = 'journal_text')");
  // A file made before the index has neither table: searched the old way.
  if (!result.ok())
    return result.message.find("no such table") != std::string::npos ? sqlite::Result{} : result;
  if ((result = select.Step()).row()) {
    state.present = true;
    state.live_from = select.ColumnInt64(0);
    state.built_upto = select.ColumnInt64(1);
    result = select.Step();
  }
  return result.done() ? sqlite::Result{} : result;
}

sqlite::Result CheckTextIndex(sqlite::Database& db) {
  std::string present;
  sqlite::Result result =
      db.QueryText("SELECT count(*) FROM sqlite_schema WHERE name = 'journal_text'", present);
  if (!result.ok() || present == "0") return result;
  result = db.Exec("INSERT INTO journal_text(journal_text, rank) VALUES('integrity-check', 0)");
  if (result.ok() || result.interrupted()) return result;
  return {SQLITE_CORRUPT, "the index of its records' words: " + result.message};
}

sqlite::Result BackfillTextIndex(sqlite::Database& db, TextIndexState& state, std::size_t rows) {
  if (!state.present || state.whole()) return {};
  sqlite::Statement index;
  sqlite::Result result = index.Prepare(
      db,
      "INSERT INTO journal_text(rowid, text, detail, login) SELECT seq, text, detail, login "
      "FROM journal WHERE seq > ?1 AND seq < ?2 ORDER BY seq LIMIT ?3");
  if (result.ok()) result = index.BindInt64(1, state.built_upto);
  if (result.ok()) result = index.BindInt64(2, state.live_from);
  if (result.ok()) result = index.BindInt64(3, static_cast<std::int64_t>(rows));
  if (result.ok()) result = index.Step();
  if (!result.done()) return result;
  // Where the chunk ended: its last record, or, with none left, the whole span.
  sqlite::Statement reached;
  result = reached.Prepare(db,
                           "SELECT coalesce((SELECT seq FROM journal WHERE seq > ?1 AND seq < ?2 "
                           "ORDER BY seq LIMIT 1 OFFSET ?3), ?2 - 1)");
  if (result.ok()) result = reached.BindInt64(1, state.built_upto);
  if (result.ok()) result = reached.BindInt64(2, state.live_from);
  if (result.ok()) result = reached.BindInt64(3, static_cast<std::int64_t>(rows) - 1);
  if (result.ok()) result = reached.Step();
  if (!result.row()) return result;
  const std::int64_t upto = reached.ColumnInt64(0);
  sqlite::Statement update;
  result = update.Prepare(db, "UPDATE journal_text_state SET built_upto = ?1");
  if (result.ok()) result = update.BindInt64(1, upto);
  if (result.ok()) result = update.Step();
  if (!result.done()) return result;
  state.built_upto = upto;
  return {};
}

std::string ThroughTextIndex(std::string_view query) {
  constexpr std::string_view kFrom = " FROM journal WHERE ";
  const std::size_t from = query.find(kFrom);
  std::string columns(query.substr(0, from));
  // The journal's columns by name: the index has columns of the same names.
  for (const std::string_view name : {"seq", "utc_ms", "utc_offset_s", "kind", "text", "raw_hex",
                                      "login", "host", "chain", "detail"}) {
    for (std::size_t at = 0; (at = columns.find(name, at)) != std::string::npos;) {
      const bool whole = (at == 0 || columns[at - 1] == ' ' || columns[at - 1] == ',') &&
                         (at + name.size() == columns.size() || columns[at + name.size()] == ',' ||
                          columns[at + name.size()] == ' ');
      if (whole) columns.insert(at, "journal.");
      at += name.size() + (whole ? 8 : 0);
    }
  }
  return columns +
         " FROM journal_text CROSS JOIN journal ON journal.seq = journal_text.rowid WHERE " +
         std::string(query.substr(from + kFrom.size()));
}

std::string InIndexOrder(std::string_view tail) {
  std::string ordered;
  for (std::size_t at = 0; at < tail.size();) {
    const bool word = tail.substr(at, 3) == "seq" && (at == 0 || tail[at - 1] == ' ') &&
                      (at + 3 == tail.size() || tail[at + 3] == ' ');
    ordered += word ? "journal_text.rowid" : std::string(1, tail[at]);
    at += word ? 3 : 1;
  }
  return ordered;
}

bool TextIndexBroken(const sqlite::Result& result) {
  return result.damaged() || result.primary() == SQLITE_ERROR;
}

std::string TextMatchQuery(std::string_view text) {
  std::string query = "\"";
  for (const char c : text) {
    if (c == '"') query += '"';
    query += c;
  }
  return query + "\"";
}

}  // namespace orv::journal_detail
