// The journal's file as records and as a chain: the names of kinds, the chain value, and the
// readers that the journal, the command line and the broker client share.
#include <fcntl.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "journal/journal.h"
#include "journal/journal_rows.h"
#include "journal/journal_schema.h"

namespace orv {
namespace {

// Big-endian, as many bytes as the field's width.
void AddNumber(QCryptographicHash& hash, std::uint64_t value, int bytes) {
  char buffer[8];
  for (int i = 0; i < bytes; ++i)
    buffer[i] = static_cast<char>(value >> (8 * (bytes - 1 - i)));
  hash.addData(QByteArrayView(buffer, bytes));
}

void AddField(QCryptographicHash& hash, std::string_view field) {
  AddNumber(hash, field.size(), 4);
  hash.addData(QByteArrayView(field.data(), static_cast<qsizetype>(field.size())));
}

}  // namespace

std::string_view JournalKindName(JournalKind kind) {
  switch (kind) {
    case JournalKind::kEvent:
      return "event";
    case JournalKind::kOperator:
      return "operator";
    case JournalKind::kLink:
      return "link";
    case JournalKind::kProgram:
      return "program";
  }
  return "?";
}

bool ParseJournalKind(std::string_view name, JournalKind& kind) {
  for (const JournalKind k :
       {JournalKind::kEvent, JournalKind::kOperator, JournalKind::kLink, JournalKind::kProgram}) {
    if (JournalKindName(k) == name) {
      kind = k;
      return true;
    }
  }
  return false;
}

JournalTime SystemJournalTime() {
  const auto now = std::chrono::system_clock::now();
  JournalTime time;
  time.utc_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  time.utc_offset_s = static_cast<std::int32_t>(local.tm_gmtoff);
  return time;
}

namespace {

// The chain over the fields as stored: a kind edited to a name the program does not know still
// hashes as what it is.
std::string ChainOver(std::string_view previous, std::int64_t sequence, const JournalTime& time,
                      std::string_view kind, const JournalEntry& entry) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  AddField(hash, previous);
  AddNumber(hash, static_cast<std::uint64_t>(sequence), 8);
  AddNumber(hash, static_cast<std::uint64_t>(time.utc_ms), 8);
  AddNumber(hash, static_cast<std::uint32_t>(time.utc_offset_s), 4);
  AddField(hash, kind);
  AddField(hash, entry.text);
  AddField(hash, entry.raw_hex);
  AddField(hash, entry.login);
  AddField(hash, entry.host);
  // The detail came with a later version: the records written before it (none has one) keep
  // their chain values and verify unchanged, and a detail added to such a record afterwards
  // breaks the chain like any other edit. It is the last field and length-prefixed, so no
  // bytes can move into it from the host unnoticed.
  if (!entry.detail.empty()) AddField(hash, entry.detail);
  const QByteArrayView digest = hash.resultView();
  return std::string(digest.data(), static_cast<std::size_t>(digest.size()));
}

// The pruning record that names the cut before row, the first record, if the row chains from
// it: where it cut and which record says so in check, its chain value in previous. Only the
// program's own records count.
sqlite::Result PrunedBefore(sqlite::Database& db, const sqlite::Statement& rows,
                            const JournalRow& row, JournalCheck& check, std::string& previous) {
  sqlite::Statement find;
  sqlite::Result result = find.Prepare(
      db,
      "SELECT seq, text FROM journal WHERE kind = 'program' AND text LIKE 'Records % to ' || ?1 "
      "|| ' were pruned, %' ORDER BY seq");
  if (result.ok()) result = find.BindInt64(1, row.sequence - 1);
  while (result.ok() && (result = find.Step()).row()) {
    const std::optional<JournalCut> cut = ParsePruningRecord(find.ColumnText(1));
    if (cut && cut->last == row.sequence - 1 &&
        ChainOver(cut->chain, row.sequence, row.entry.time, rows.ColumnText(3), row.entry) ==
            row.chain) {
      check.pruned_upto = cut->last;
      check.pruned_by = find.ColumnInt64(0);
      previous = check.pruned_chain = cut->chain;
      return {};
    }
  }
  return result.done() ? sqlite::Result{} : result;
}

}  // namespace

std::string JournalChainValue(std::string_view previous, std::int64_t sequence,
                              const JournalEntry& entry) {
  return ChainOver(previous, sequence, entry.time, JournalKindName(entry.kind), entry);
}

JournalCheck VerifyJournalFile(const std::filesystem::path& file, std::int64_t chain_at,
                               const std::set<std::int64_t>& also) {
  JournalCheck check;
  sqlite::Database db;
  bool detail = false;
  sqlite::Result result =
      journal_detail::OpenJournalForReading(file, db, journal_detail::kVerifyBudget, &detail);
  sqlite::Statement rows;
  if (result.ok()) result = rows.Prepare(db, journal_detail::SelectRows(detail) + " ORDER BY seq");
  if (!result.ok()) {
    check.error = result.message;
    return check;
  }
  std::string previous(journal_detail::kNoChain);
  std::int64_t expected = 0;
  while ((result = rows.Step()).row()) {
    const JournalRow row = journal_detail::JournalRowFrom(rows);
    // A chain begins where its first record is: numbering goes on past a journal that was moved
    // aside or lost. After that a gap is a deleted record, and the first missing number fails.
    if (expected == 0) {
      expected = check.first_sequence = row.sequence;
      // Or it goes on from a cut: the first record chains from the value a pruning record names.
      // That record is itself in the chain walked here, so neither can be made up alone.
      result = PrunedBefore(db, rows, row, check, previous);
      if (!result.ok()) break;
    }
    if (row.sequence != expected || ChainOver(previous, row.sequence, row.entry.time,
                                              rows.ColumnText(3), row.entry) != row.chain) {
      check.first_bad = expected;
      return check;
    }
    if (row.sequence == chain_at) check.anchored_chain = row.chain;
    if (also.contains(row.sequence)) check.chains_at[row.sequence] = row.chain;
    previous = row.chain;
    check.last_sequence = expected;
    ++expected;
    ++check.good_rows;
  }
  if (!result.done()) {
    check.error = result.message;
    return check;
  }
  check.ok = true;
  return check;
}

sqlite::Result ReadJournalFile(const std::filesystem::path& file, std::int64_t from,
                               std::size_t limit, std::vector<JournalRow>& rows) {
  rows.clear();
  sqlite::Database db;
  bool detail = false;
  sqlite::Result result =
      journal_detail::OpenJournalForReading(file, db, journal_detail::kReadBudget, &detail);
  sqlite::Statement select;
  if (result.ok()) {
    result = select.Prepare(
        db, journal_detail::SelectRows(detail) + " WHERE seq >= ?1 ORDER BY seq LIMIT ?2");
  }
  if (result.ok()) result = select.BindInt64(1, from);
  if (result.ok()) result = select.BindInt64(2, static_cast<std::int64_t>(limit));
  if (!result.ok()) return result;
  while ((result = select.Step()).row())
    rows.push_back(journal_detail::JournalRowFrom(select));
  return result;
}

sqlite::Result ReadJournalLastSequence(const std::filesystem::path& file, std::int64_t& last) {
  last = 0;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return {};
  sqlite::Database db;
  sqlite::Result result = journal_detail::OpenJournalForReading(file, db);
  std::string text;
  if (result.ok()) result = db.QueryText("SELECT COALESCE(MAX(seq), 0) FROM journal", text);
  if (result.ok()) last = std::stoll(text);
  return result;
}

std::string journal_detail::DescriptorSha256(int fd, std::string& problem) {
  problem.clear();
  QCryptographicHash hash(QCryptographicHash::Sha256);
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    hash.addData(QByteArrayView(buffer, n));
  if (n < 0) {
    problem = std::strerror(errno);
    return {};
  }
  const QByteArrayView digest = hash.resultView();
  return std::string(digest.data(), static_cast<std::size_t>(digest.size()));
}

std::string JournalFileSha256(const std::filesystem::path& file, std::string& problem) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return {};
  }
  std::string sha256 = journal_detail::DescriptorSha256(fd, problem);
  ::close(fd);
  return sha256;
}

std::string journal_detail::StoredChainValue(std::string_view previous,
                                             const sqlite::Statement& statement,
                                             const JournalRow& row) {
  return ChainOver(previous, row.sequence, row.entry.time, statement.ColumnText(3), row.entry);
}

JournalRow journal_detail::JournalRowFrom(const sqlite::Statement& statement) {
  JournalRow row;
  row.sequence = statement.ColumnInt64(0);
  row.entry.time.utc_ms = statement.ColumnInt64(1);
  row.entry.time.utc_offset_s = static_cast<std::int32_t>(statement.ColumnInt64(2));
  ParseJournalKind(statement.ColumnText(3), row.entry.kind);
  row.entry.text = statement.ColumnText(4);
  row.entry.raw_hex = statement.ColumnText(5);
  row.entry.login = statement.ColumnText(6);
  row.entry.host = statement.ColumnText(7);
  row.chain = statement.ColumnBlob(8);
  row.entry.detail = statement.ColumnText(9);
  return row;
}

}  // namespace orv
