#include "journal/journal_schema.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace orv::journal_detail {
namespace {

struct SchemaObject {
  std::string_view type;
  std::string_view name;
  // As SQLite keeps it in sqlite_schema: the statement without IF NOT EXISTS. Every one starts
  // with "CREATE TABLE " or "CREATE INDEX ", of the same length.
  std::string_view sql;
};

constexpr std::size_t kCreateWordsLength = 13;

// The text of the journal table is byte for byte what earlier versions made, so that their
// files pass.
constexpr SchemaObject kObjects[] = {
    {"table", "journal",
     "CREATE TABLE journal( seq INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, utc_offset_s "
     "INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL, raw_hex TEXT NOT NULL, login TEXT "
     "NOT NULL, host TEXT NOT NULL, chain BLOB NOT NULL)"},
    // What the history's filters ask for: a time range, alone or with one kind.
    {"index", "journal_time", "CREATE INDEX journal_time ON journal(utc_ms)"},
    {"index", "journal_kind_time", "CREATE INDEX journal_kind_time ON journal(kind, utc_ms)"},
    // The highest sequence number ever given: a tail deleted with plain SQL leaves it behind.
    {"table", "journal_issued", "CREATE TABLE journal_issued(last_seq INTEGER NOT NULL)"},
};

sqlite::Result Foreign(const std::string& what) {
  return {SQLITE_CORRUPT, what + " that the program does not make"};
}

}  // namespace

sqlite::Result CreateJournalSchema(sqlite::Database& db) {
  std::string sql;
  for (const SchemaObject& object : kObjects) {
    sql.append(object.sql.substr(0, kCreateWordsLength));
    sql.append("IF NOT EXISTS ");
    sql.append(object.sql.substr(kCreateWordsLength));
    sql.append(";");
  }
  sql.append(
      "INSERT INTO journal_issued(last_seq) SELECT 0 "
      "WHERE NOT EXISTS (SELECT 1 FROM journal_issued)");
  return db.Exec(sql);
}

sqlite::Result CheckJournalSchema(sqlite::Database& db) {
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
    if (ours->sql != sql) return Foreign(object + " of a form");
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
                                     std::chrono::milliseconds budget) {
  sqlite::Result result = db.Open(file, sqlite::kReadOnly);
  if (result.ok()) result = db.Harden();
  if (result.ok()) {
    db.SetStatementBudget(budget);
    result = CheckJournalSchema(db);
  }
  if (!result.ok()) db.Close();
  return result;
}

}  // namespace orv::journal_detail
