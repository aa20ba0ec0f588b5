#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "platform/sqlite.h"

namespace orv {

// What the reader of the journal asks for. Every part is optional; an empty filter takes all.
struct JournalFilter {
  std::optional<std::int64_t> from_utc_ms;  // inclusive
  std::optional<std::int64_t> to_utc_ms;    // inclusive
  std::optional<JournalKind> kind;
  // Found anywhere in the record's text, detail or user name, letters A-Z in either case; the
  // user's % and _ are plain characters, not wildcards.
  std::string text;

  bool operator==(const JournalFilter&) const = default;
};

// The LIKE pattern for a free-text search: the text anywhere, its wildcards and the escape
// character taken literally (escaped with a backslash).
std::string JournalLikePattern(std::string_view text);

// Reads the journal on a read-only connection of its own, so that the program's writing goes on
// beside it. Each call reads what is committed when it starts and holds no snapshot afterwards.
// Pages are found by sequence number (keyset), never by skipping rows, so the millionth row
// costs what the first does.
class JournalReader {
 public:
  sqlite::Result Open(const std::filesystem::path& file);
  bool is_open() const { return db_.is_open(); }
  const std::filesystem::path& file() const { return file_; }

  // The highest sequence number written so far (0 in an empty journal).
  sqlite::Result LastSequence(std::int64_t& sequence);
  // How many records match.
  sqlite::Result Count(const JournalFilter& filter, std::int64_t& count);
  // Matching records with a sequence number below before (0: from the newest) and above above,
  // newest first.
  sqlite::Result NewestFirst(const JournalFilter& filter, std::int64_t before, std::size_t limit,
                             std::vector<JournalRow>& rows, std::int64_t above = 0);
  // Matching records with a sequence number above after, at most up to until (0: no bound),
  // oldest first.
  sqlite::Result OldestFirst(const JournalFilter& filter, std::int64_t after, std::int64_t until,
                             std::size_t limit, std::vector<JournalRow>& rows);

 private:
  // A file deleted, moved or replaced under the connection (the program then writes on in the
  // one at the path) is let go and the path opened again: a reader that lives as long as the web
  // panel or the socket does would otherwise read the old file on, without a word.
  sqlite::Result Follow();
  // select: what to select; empty: every column of the records.
  sqlite::Result Prepare(const JournalFilter& filter, std::string_view select,
                         std::string_view tail, sqlite::Statement& statement);

  std::filesystem::path file_;
  sqlite::Database db_;
  bool detail_ = false;
  // Runs a query again without the index when the index failed it: a damaged index costs speed,
  // never a record.
  sqlite::Result OutsideABrokenIndex(const std::function<sqlite::Result()>& query);

  // Once whole, the index stays whole for this connection.
  bool index_whole_ = false;
  bool index_broken_ = false;  // it failed a query: not used again on this connection
  bool used_index_ = false;    // the last query prepared went through it
  // Whether the last span of time asked for holds few records (looked at once per span).
  std::optional<std::pair<std::int64_t, std::int64_t>> span_;
  bool span_is_few_ = false;
};

// ---- Time as people read it. ----

// The record's local time as it was where it was written: 2026-12-07 14:03:22.
std::string FormatJournalLocalTime(const JournalTime& time);
// ISO 8601 with milliseconds and the offset: 2026-12-07T14:03:22.125+01:00; without the
// milliseconds when asked (2026-12-07T14:03:22+01:00), as the headless mode prints it.
std::string FormatJournalIsoTime(const JournalTime& time, bool milliseconds = true);

// Local civil time, in seconds since 1970-01-01 00:00 as if it were UTC, to real UTC seconds;
// false when it cannot be converted.
using LocalToUtcFn = std::function<bool(std::int64_t local_seconds, std::int64_t& utc_seconds)>;
// Through the system's time zone (TZ), as mktime() sees it.
bool SystemLocalToUtc(std::int64_t local_seconds, std::int64_t& utc_seconds);

// The span of time a date on the command line names, in UTC milliseconds: a whole day for
// 2026-12-07, a minute for 2026-12-07 14:03, a second for 2026-12-07T14:03:22 (a space or a T
// between date and time).
struct JournalDateSpan {
  std::int64_t first_ms = 0;
  std::int64_t last_ms = 0;  // inclusive
};
// Empty error when the text is one of the forms above and a real date and time; otherwise error
// says what is wrong, in a few words.
JournalDateSpan ParseJournalDate(std::string_view text, const LocalToUtcFn& local_to_utc,
                                 std::string& error);

// ---- CSV (RFC 4180): UTF-8 as stored, CR LF after every line, a header line first. ----

// One field: quoted when it holds a comma, a quote, CR or LF, with quotes doubled.
std::string CsvField(std::string_view value);
// A field of recorded text: one that begins with =, +, -, @, a tab or CR gets a leading ' so that
// a spreadsheet shows it as text instead of running it as a formula.
std::string CsvTextField(std::string_view value);
// seq,time,kind,text,user,host,raw frame,detail (last, so that the columns before it stay where
// they were)
std::string JournalCsvHeader();
std::string JournalCsvLine(const JournalRow& row);
// Writes the header and every matching record, oldest first, a page at a time; rows counts what
// was written.
sqlite::Result WriteJournalCsv(JournalReader& reader, const JournalFilter& filter,
                               std::ostream& out, std::int64_t& rows);

}  // namespace orv
