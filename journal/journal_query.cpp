#include "journal/journal_query.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include <sqlite3.h>

#include "journal/journal_rows.h"
#include "journal/journal_schema.h"

namespace orv {
namespace {

// Export reads this many records per statement, so that no read snapshot is held for long.
constexpr std::size_t kExportPage = 2000;

sqlite::Result NotOpen() {
  return {21 /* SQLITE_MISUSE */, "the journal is not open"};
}

// Local civil time from its parts, as seconds since 1970 read as UTC; false for a day that does
// not exist.
bool CivilSeconds(int year, int month, int day, int hour, int minute, int second,
                  std::int64_t& seconds) {
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                            std::chrono::day{unsigned(day)}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  seconds =
      sys_days{date}.time_since_epoch().count() * 86400LL + hour * 3600LL + minute * 60LL + second;
  return true;
}

// "text", built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about "\"" + string.
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted.append(text);
  quoted += '"';
  return quoted;
}

// Reads exactly count digits at text[at].
bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string JournalLikePattern(std::string_view text) {
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += '%';
  return pattern;
}

sqlite::Result JournalReader::Open(const std::filesystem::path& file) {
  file_ = file;
  sqlite::Result result =
      journal_detail::OpenJournalForReading(file, db_, journal_detail::kReadBudget, &detail_);
  // A writer's commit holds the lock only briefly; a reader waits for it rather than fail.
  if (result.ok()) result = db_.SetBusyTimeout(1000);
  if (!result.ok()) db_.Close();
  return result;
}

sqlite::Result JournalReader::Follow() {
  if (!db_.is_open()) return NotOpen();
  int moved = 0;
  if (sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK ||
      moved == 0) {
    return {};
  }
  db_.Close();
  detail_ = index_whole_ = index_broken_ = false;
  span_.reset();
  return Open(file_);
}

namespace {
// Records a span may hold and still be read one by one (about 10 ms of LIKE).
constexpr std::int64_t kFewRecords = 50000;
}  // namespace

sqlite::Result JournalReader::Prepare(const JournalFilter& filter, std::string_view select,
                                      std::string_view tail, sqlite::Statement& statement) {
  if (const sqlite::Result followed = Follow(); !followed.ok()) return followed;
  // An earlier version's file gets the detail column at the program's first write after it:
  // until this connection has seen it, every read looks again.
  if (!detail_) {
    const sqlite::Result checked = journal_detail::CheckJournalSchema(db_, &detail_);
    if (!checked.ok()) return checked;
  }
  // A text of three characters or more is looked up in the index of the records' words once it
  // covers every record; the records are then read in the index's order, so that a page of a
  // common text stops at the page instead of collecting every match.
  // Looked at every time: the index stops being whole while it is merged after a pruning.
  if (filter.text.size() >= journal_detail::kShortestIndexedText) {
    journal_detail::TextIndexState index;
    const sqlite::Result read = journal_detail::ReadTextIndexState(db_, index);
    if (!read.ok()) return read;
    index_whole_ = index.whole();
  }
  bool indexed = filter.text.size() >= journal_detail::kShortestIndexedText && index_whole_ &&
                 detail_ && !index_broken_;
  // A span of time with few records is read faster through the time's index, record by record,
  // than by visiting every match of a common text.
  const std::pair<std::int64_t, std::int64_t> times{filter.from_utc_ms.value_or(INT64_MIN),
                                                    filter.to_utc_ms.value_or(INT64_MAX)};
  if (indexed && (filter.from_utc_ms || filter.to_utc_ms) && span_ != times) {
    sqlite::Statement span;
    sqlite::Result counted = span.Prepare(
        db_,
        "SELECT count(*) FROM (SELECT 1 FROM journal WHERE utc_ms >= ?1 AND utc_ms <= ?2 "
        "LIMIT ?3)");
    if (counted.ok()) counted = span.BindInt64(1, times.first);
    if (counted.ok()) counted = span.BindInt64(2, times.second);
    if (counted.ok()) counted = span.BindInt64(3, kFewRecords);
    if (counted.ok()) counted = span.Step();
    if (!counted.row()) return counted;
    span_ = times;
    span_is_few_ = span.ColumnInt64(0) < kFewRecords;
  }
  if (filter.from_utc_ms || filter.to_utc_ms) indexed = indexed && !span_is_few_;
  // Parameters 1 to 4 are the filter's; the caller's tail starts at 5.
  std::string sql =
      (select.empty() ? journal_detail::SelectRows(detail_) : std::string(select)) + " WHERE 1";
  if (indexed) sql = journal_detail::ThroughTextIndex(sql) + " AND journal_text MATCH ?4";
  if (filter.kind) sql += " AND kind = ?1";
  if (filter.from_utc_ms) sql += " AND utc_ms >= ?2";
  if (filter.to_utc_ms) sql += " AND utc_ms <= ?3";
  if (!filter.text.empty() && !indexed) {
    sql += " AND (text LIKE ?4 ESCAPE '\\' OR login LIKE ?4 ESCAPE '\\'";
    sql += detail_ ? " OR detail LIKE ?4 ESCAPE '\\')" : ")";
  }
  sql += indexed ? journal_detail::InIndexOrder(tail) : std::string(tail);
  used_index_ = indexed;
  sqlite::Result result = statement.Prepare(db_, sql);
  if (result.ok() && filter.kind) result = statement.BindText(1, JournalKindName(*filter.kind));
  if (result.ok() && filter.from_utc_ms) result = statement.BindInt64(2, *filter.from_utc_ms);
  if (result.ok() && filter.to_utc_ms) result = statement.BindInt64(3, *filter.to_utc_ms);
  if (result.ok() && !filter.text.empty()) {
    result = statement.BindText(
        4, indexed ? journal_detail::TextMatchQuery(filter.text) : JournalLikePattern(filter.text));
  }
  return result;
}

sqlite::Result JournalReader::LastSequence(std::int64_t& sequence) {
  sequence = 0;
  if (const sqlite::Result followed = Follow(); !followed.ok()) return followed;
  std::string text;
  sqlite::Result result = db_.QueryText("SELECT max(seq) FROM journal", text);
  if (result.ok() && !text.empty()) sequence = std::stoll(text);
  return result;
}

sqlite::Result JournalReader::OutsideABrokenIndex(const std::function<sqlite::Result()>& query) {
  used_index_ = false;
  sqlite::Result result = query();
  if (!result.ok() && used_index_ && journal_detail::TextIndexBroken(result)) {
    index_broken_ = true;
    result = query();
  }
  return result;
}

sqlite::Result JournalReader::Count(const JournalFilter& filter, std::int64_t& count) {
  return OutsideABrokenIndex([&] {
    count = 0;
    sqlite::Statement statement;
    sqlite::Result result = Prepare(filter, "SELECT count(*) FROM journal", "", statement);
    if (result.ok()) result = statement.Step();
    if (result.row()) count = statement.ColumnInt64(0);
    return result;
  });
}

sqlite::Result JournalReader::NewestFirst(const JournalFilter& filter, std::int64_t before,
                                          std::size_t limit, std::vector<JournalRow>& rows,
                                          std::int64_t above) {
  return OutsideABrokenIndex([&] {
    rows.clear();
    sqlite::Statement statement;
    sqlite::Result result =
        Prepare(filter, {}, " AND seq < ?5 AND seq > ?7 ORDER BY seq DESC LIMIT ?6", statement);
    if (result.ok()) result = statement.BindInt64(5, before > 0 ? before : INT64_MAX);
    if (result.ok()) result = statement.BindInt64(6, static_cast<std::int64_t>(limit));
    if (result.ok()) result = statement.BindInt64(7, above);
    if (!result.ok()) return result;
    while ((result = statement.Step()).row())
      rows.push_back(journal_detail::JournalRowFrom(statement));
    return result;
  });
}

sqlite::Result JournalReader::OldestFirst(const JournalFilter& filter, std::int64_t after,
                                          std::int64_t until, std::size_t limit,
                                          std::vector<JournalRow>& rows) {
  return OutsideABrokenIndex([&] {
    rows.clear();
    sqlite::Statement statement;
    sqlite::Result result =
        Prepare(filter, {}, " AND seq > ?5 AND seq <= ?6 ORDER BY seq LIMIT ?7", statement);
    if (result.ok()) result = statement.BindInt64(5, after);
    if (result.ok()) result = statement.BindInt64(6, until > 0 ? until : INT64_MAX);
    if (result.ok()) result = statement.BindInt64(7, static_cast<std::int64_t>(limit));
    if (!result.ok()) return result;
    while ((result = statement.Step()).row())
      rows.push_back(journal_detail::JournalRowFrom(statement));
    return result;
  });
}

namespace {

struct Civil {
  int year, month, day, hour, minute, second, millisecond;
};

Civil CivilOf(std::int64_t ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds{ms}};
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{t - day};
  return {int(date.year()),
          int(unsigned(date.month())),
          int(unsigned(date.day())),
          int(time.hours().count()),
          int(time.minutes().count()),
          int(time.seconds().count()),
          int(time.subseconds().count())};
}

}  // namespace

std::string FormatJournalLocalTime(const JournalTime& time) {
  const Civil c = CivilOf(time.utc_ms + std::int64_t{time.utc_offset_s} * 1000);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

std::string FormatJournalIsoTime(const JournalTime& time, bool milliseconds) {
  const Civil c = CivilOf(time.utc_ms + std::int64_t{time.utc_offset_s} * 1000);
  const std::int32_t offset = time.utc_offset_s;
  const std::int32_t magnitude = offset < 0 ? -offset : offset;
  char fraction[8] = "";
  if (milliseconds) std::snprintf(fraction, sizeof fraction, ".%03d", c.millisecond);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s%c%02d:%02d", c.year, c.month,
                c.day, c.hour, c.minute, c.second, fraction, offset < 0 ? '-' : '+',
                int(magnitude / 3600), int(magnitude / 60 % 60));
  return text;
}

bool SystemLocalToUtc(std::int64_t local_seconds, std::int64_t& utc_seconds) {
  const std::time_t as_utc = static_cast<std::time_t>(local_seconds);
  std::tm tm{};
  if (gmtime_r(&as_utc, &tm) == nullptr) return false;
  tm.tm_isdst = -1;  // the zone decides whether summer time applies
  const std::time_t utc = std::mktime(&tm);
  if (utc == static_cast<std::time_t>(-1)) return false;
  utc_seconds = utc;
  return true;
}

JournalDateSpan ParseJournalDate(std::string_view text, const LocalToUtcFn& local_to_utc,
                                 std::string& error) {
  error.clear();
  JournalDateSpan span;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::int64_t length_s = 86400;
  bool form = Digits(text, 0, 4, year) && text.size() >= 10 && text[4] == '-' &&
              Digits(text, 5, 2, month) && text[7] == '-' && Digits(text, 8, 2, day);
  if (form && text.size() > 10) {
    form = (text[10] == ' ' || text[10] == 'T') && Digits(text, 11, 2, hour) && text.size() >= 16 &&
           text[13] == ':' && Digits(text, 14, 2, minute);
    length_s = 60;
    if (form && text.size() > 16) {
      form = text.size() == 19 && text[16] == ':' && Digits(text, 17, 2, second);
      length_s = 1;
    }
  }
  if (!form) {
    error = Quoted(text) + " is not a date (YYYY-MM-DD, YYYY-MM-DD HH:MM or YYYY-MM-DDTHH:MM:SS)";
    return span;
  }
  std::int64_t local = 0;
  if (!CivilSeconds(year, month, day, hour, minute, second, local)) {
    error = Quoted(text) + " is no real date or time";
    return span;
  }
  std::int64_t first = 0, end = 0;
  if (!local_to_utc || !local_to_utc(local, first) || !local_to_utc(local + length_s, end)) {
    error = Quoted(text) + " cannot be turned into UTC";
    return span;
  }
  span.first_ms = first * 1000;
  span.last_ms = end * 1000 - 1;
  return span;
}

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvTextField(std::string_view value) {
  // What a spreadsheet would take for a formula (or, after a tab or CR, for one in the next
  // cell) is shown as text; the journal keeps what was recorded.
  if (!value.empty() &&
      std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos) {
    return CsvField("'" + std::string(value));
  }
  return CsvField(value);
}

std::string JournalCsvHeader() {
  return "seq,time,kind,text,user,host,raw frame,detail\r\n";
}

std::string JournalCsvLine(const JournalRow& row) {
  const JournalEntry& e = row.entry;
  return std::to_string(row.sequence) + ',' + CsvField(FormatJournalIsoTime(e.time)) + ',' +
         CsvField(JournalKindName(e.kind)) + ',' + CsvTextField(e.text) + ',' +
         CsvTextField(e.login) + ',' + CsvTextField(e.host) + ',' + CsvTextField(e.raw_hex) + ',' +
         CsvTextField(e.detail) + "\r\n";
}

sqlite::Result WriteJournalCsv(JournalReader& reader, const JournalFilter& filter,
                               std::ostream& out, std::int64_t& rows) {
  rows = 0;
  // The export ends where the journal stood when it began: records written meanwhile wait for
  // the next export instead of making this one run on.
  std::int64_t until = 0;
  sqlite::Result result = reader.LastSequence(until);
  if (!result.ok()) return result;
  out << JournalCsvHeader();
  std::vector<JournalRow> page;
  std::int64_t after = 0;
  if (until == 0) return result;
  do {
    result = reader.OldestFirst(filter, after, until, kExportPage, page);
    if (!result.ok()) return result;
    for (const JournalRow& row : page)
      out << JournalCsvLine(row);
    rows += static_cast<std::int64_t>(page.size());
    if (!page.empty()) after = page.back().sequence;
  } while (page.size() == kExportPage && out);
  if (!out) return {10 /* SQLITE_IOERR */, "the CSV could not be written"};
  return result;
}

}  // namespace orv
