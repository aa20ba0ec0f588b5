#pragma once

// The index of the records' words: an FTS5 table with the trigram tokenizer over each record's
// text, detail and login, its content the journal table itself (nothing stored twice), so that a
// search for any three or more characters uses the index instead of reading every record. New
// records are indexed in the transaction that writes them; a journal made before the index gets
// it record by record, oldest first, a bounded number at each commit, and is searched the old way
// until it is whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sqlite.h"

namespace orv::journal_detail {

// How far the index covers the journal: every record from live_from on was indexed as it was
// written; those before it are indexed up to built_upto.
struct TextIndexState {
  bool present = false;
  std::int64_t live_from = 1;
  std::int64_t built_upto = 0;

  bool whole() const { return present && built_upto + 1 >= live_from; }
};

// Old records indexed at one commit: about 10 ms of work, so that a million are indexed in under
// a minute of ticks while every commit stays short.
inline constexpr std::size_t kTextBackfillRows = 2000;

// The state of the file's index (present false in a file made before it).
sqlite::Result ReadTextIndexState(sqlite::Database& db, TextIndexState& state);

// FTS5's own check of the index, where there is one; any failure is damage (SQLITE_CORRUPT).
sqlite::Result CheckTextIndex(sqlite::Database& db);

// Indexes up to rows of the oldest records not yet indexed, in the caller's transaction.
sqlite::Result BackfillTextIndex(sqlite::Database& db, TextIndexState& state, std::size_t rows);

// A failure of the index itself (its pages damaged, its tables edited), not of the file or the
// disk: the index is then made again instead of keeping records from being written or found.
bool TextIndexBroken(const sqlite::Result& result);

// The index takes three characters or more; a shorter text is looked for record by record.
inline constexpr std::size_t kShortestIndexedText = 3;

// What the index is asked for the text anywhere in a record: one phrase, the user's quotes
// doubled, so that nothing in it is read as the query language.
std::string TextMatchQuery(std::string_view text);

// A query over the journal table ("SELECT ... FROM journal WHERE ...") made to read the index's
// matches and their records: every column named by its table, the index first.
std::string ThroughTextIndex(std::string_view query);
// A tail (" AND seq < ?5 ORDER BY seq DESC LIMIT ?6") on the index's order: each seq its rowid.
std::string InIndexOrder(std::string_view tail);

// The statement that indexes one new record: ?1 its sequence number, ?2 text, ?3 detail, ?4 login.
inline constexpr const char* kIndexRecordSql =
    "INSERT INTO journal_text(rowid, text, detail, login) VALUES(?1, ?2, ?3, ?4)";

}  // namespace orv::journal_detail
