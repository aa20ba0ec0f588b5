#pragma once

// What a journal file may hold: exactly the tables and indexes the program makes, and nothing
// else. Anyone in the operators' group can open the shared file with the sqlite3 shell, so a file
// is trusted only after its schema has been compared with the program's own.
#include <chrono>
#include <filesystem>

#include "platform/sqlite.h"

namespace orv::journal_detail {

// How long one statement of the program's own writing may run: far more than a commit of the
// worst storm takes, far less than would stall the tick for long.
inline constexpr std::chrono::milliseconds kWriteBudget{200};
// Readers serve a window or the command line: the slowest legitimate query (a text no record
// has, through a million records) takes about 0.3 s.
inline constexpr std::chrono::milliseconds kReadBudget{1000};
// The chain walk steps row by row; one step reads one record.
inline constexpr std::chrono::milliseconds kVerifyBudget{5000};

// Creates the program's tables and indexes where they are missing: a new file, or one made by an
// earlier version without the high-water table; adds the detail column to a journal table
// without it, keeping every row. Runs on a file that has passed CheckJournalSchema().
sqlite::Result CreateJournalSchema(sqlite::Database& db);

// Compares every object in the file with the program's: a trigger, a view, another table or
// index, or a CREATE statement that differs is reported as damage (SQLITE_CORRUPT) naming it.
// The journal table may be without the detail column (a file of an earlier version that this
// program has not yet written to) or with it; detail, if given, says which.
sqlite::Result CheckJournalSchema(sqlite::Database& db, bool* detail = nullptr);

// The schema version SQLite keeps in the file's header: it changes with every change to the
// schema, so a writer that saw it unchanged needs no new check.
sqlite::Result JournalSchemaVersion(sqlite::Database& db, std::int64_t& version);

// Opens the file for reading only, hardened, every statement bounded by budget, its schema
// checked; detail as for CheckJournalSchema().
sqlite::Result OpenJournalForReading(const std::filesystem::path& file, sqlite::Database& db,
                                     std::chrono::milliseconds budget = kReadBudget,
                                     bool* detail = nullptr);

}  // namespace orv::journal_detail
