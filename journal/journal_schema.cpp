#include "journal/journal_schema.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace orv::journal_detail {
namespace {

struct SchemaObject {
  std::string_view type;
  std::string_view name;
  // As SQLite keeps it in sqlite_schema: the statement without IF NOT EXISTS.
  std::string_view sql;
  // Made by SQLite with the index of the records' words, never by a statement of ours.
  bool made_with_index = false;
};

// The journal table as the versions before the detail column made it, byte for byte. A new file
// gets this too and then the column, like an older file: every journal ends in one form.
constexpr std::string_view kJournalTable =
    "CREATE TABLE journal( seq INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, utc_offset_s "
    "INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL, raw_hex TEXT NOT NULL, login TEXT "
    "NOT NULL, host TEXT NOT NULL, chain BLOB NOT NULL)";
constexpr std::string_view kDetailColumn = "detail TEXT NOT NULL DEFAULT ''";

// The table's text as SQLite keeps it after ALTER TABLE ADD COLUMN: the new column's definition
// before the closing parenthesis.
std::string MigratedJournalTable() {
  std::string sql(kJournalTable.substr(0, kJournalTable.size() - 1));
  sql.append(", ");
  sql.append(kDetailColumn);
  sql.append(")");
  return sql;
}

constexpr SchemaObject kObjects[] = {
    {"table", "journal", kJournalTable},
    // What the history's filters ask for: a time range, alone or with one kind.
    {"index", "journal_time", "CREATE INDEX journal_time ON journal(utc_ms)"},
    {"index", "journal_kind_time", "CREATE INDEX journal_kind_time ON journal(kind, utc_ms)"},
    // The highest sequence number ever given: a tail deleted with plain SQL leaves it behind.
    {"table", "journal_issued", "CREATE TABLE journal_issued(last_seq INTEGER NOT NULL)"},
    // The index of the records' words (journal_text.h) and the tables FTS5 keeps it in.
    {"table", "journal_text",
     "CREATE VIRTUAL TABLE journal_text USING fts5(text, detail, login, content='journal', "
     "content_rowid='seq', tokenize='trigram')"},
    {"table", "journal_text_data",
     "CREATE TABLE 'journal_text_data'(id INTEGER PRIMARY KEY, block BLOB)", true},
    {"table", "journal_text_idx",
     "CREATE TABLE 'journal_text_idx'(segid, term, pgno, PRIMARY KEY(segid, term)) WITHOUT ROWID",
     true},
    {"table", "journal_text_docsize",
     "CREATE TABLE 'journal_text_docsize'(id INTEGER PRIMARY KEY, sz BLOB)", true},
    {"table", "journal_text_config",
     "CREATE TABLE 'journal_text_config'(k PRIMARY KEY, v) WITHOUT ROWID", true},
    // Where the last pruning cut the chain (its last record and chain value), for the next one.
    {"table", "journal_cut",
     "CREATE TABLE journal_cut(last_seq INTEGER NOT NULL, chain BLOB NOT NULL)"},
    // How far the index covers the records.
    {"table", "journal_text_state",
     "CREATE TABLE journal_text_state(live_from INTEGER NOT NULL, built_upto INTEGER NOT NULL)"},
};

sqlite::Result Foreign(const std::string& what) {
  return {SQLITE_CORRUPT, what + " that the program does not make"};
}

}  // namespace

sqlite::Result CreateJournalSchema(sqlite::Database& db) {
  // One transaction: two copies of the program that open an older file at once add the column
  // once, and a file never holds half of this.
  sqlite::Transaction transaction(db);
  sqlite::Result result = transaction.Begin();
  if (!result.ok()) return result;
  std::string sql;
  for (const SchemaObject& object : kObjects) {
    if (object.made_with_index) continue;
    const std::size_t name = object.sql.find(" " + std::string(object.name)) + 1;
    sql.append(object.sql.substr(0, name));
    sql.append("IF NOT EXISTS ");
    sql.append(object.sql.substr(name));
    sql.append(";");
  }
  sql.append(
      "INSERT INTO journal_issued(last_seq) SELECT 0 "
      "WHERE NOT EXISTS (SELECT 1 FROM journal_issued);");
  // A new journal is indexed from its first record; an older one from its next, the records
  // before it a chunk at each commit.
  sql.append(
      "INSERT INTO journal_text_state(live_from, built_upto) "
      "SELECT coalesce(max(seq), 0) + 1, 0 FROM journal "
      "WHERE NOT EXISTS (SELECT 1 FROM journal_text_state)");
  result = db.Exec(sql);
  // The schema has been checked: the table is in one of the two forms. Its rows are kept as they
  // are, with an empty detail, which hashes as before.
  std::string table;
  if (result.ok()) {
    result = db.QueryText("SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = 'journal'",
                          table);
  }
  if (result.ok() && table == kJournalTable) {
    result = db.Exec("ALTER TABLE journal ADD COLUMN " + std::string(kDetailColumn));
  }
  if (result.ok()) result = transaction.Commit();
  return result;
}

sqlite::Result CheckJournalSchema(sqlite::Database& db, bool* detail) {
  if (detail != nullptr) *detail = false;
  const std::string migrated = MigratedJournalTable();
  sqlite::Statement schema;
  sqlite::Result result = schema.Prepare(db, "SELECT type, name, sql FROM sqlite_schema");
  while (result.ok() && (result = schema.Step()).row()) {
    const std::string type = schema.ColumnText(0);
    const std::string name = schema.ColumnText(1);
    const std::string sql = schema.ColumnText(2);
    const SchemaObject* ours = nullptr;
    for (const SchemaObject& object : kObjects) {
      if (object.type == type && object.name == name) ours = &object;
    }
    const std::string object = (type == "index" ? "an " : "a ") + type + " \"" + name + "\"";
    if (ours == nullptr) return Foreign(object);
    // The journal table may be as older versions left it or with the detail column, nothing
    // else.
    const bool with_detail = ours->sql == kJournalTable && sql == migrated;
    if (ours->sql != sql && !with_detail) return Foreign(object + " of a form");
    if (with_detail && detail != nullptr) *detail = true;
  }
  return result.done() ? sqlite::Result{} : result;
}

sqlite::Result JournalSchemaVersion(sqlite::Database& db, std::int64_t& version) {
  std::string text;
  const sqlite::Result result = db.QueryText("PRAGMA schema_version", text);
  version = text.empty() ? -1 : std::stoll(text);
  return result;
}

sqlite::Result OpenJournalForReading(const std::filesystem::path& file, sqlite::Database& db,
                                     std::chrono::milliseconds budget, bool* detail) {
  sqlite::Result result = db.Open(file, sqlite::kReadOnly);
  if (result.ok()) result = db.Harden();
  if (result.ok()) {
    db.SetStatementBudget(budget);
    result = CheckJournalSchema(db, detail);
  }
  if (!result.ok()) db.Close();
  return result;
}

}  // namespace orv::journal_detail
