// The journal's messages on the attach socket: a window's request for a page, the page, and the
// word that records were committed. Written and read by Qt's JSON classes, as the rest.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <algorithm>
#include <cmath>
#include <optional>

#include "attach/attach_json.h"
#include "attach/attach_protocol.h"

namespace orv {
namespace {

// Named apart from the codec's helpers: both files compile as one in the unity build.
QString HistoryText(std::string_view text) {
  // Cut on a character's first byte, so that the cut text is still UTF-8.
  std::size_t size = text.size();
  if (size > kMaxHistoryFieldBytes) {
    size = kMaxHistoryFieldBytes;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
      --size;
  }
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(size));
}

std::string HistoryLine(const QJsonObject& object) {
  std::string line = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
  line += '\n';
  return line;
}

// A whole number from low to high; JSON's numbers hold integers exactly up to 2^53.
bool WholeNumber(const QJsonValue& value, std::int64_t low, std::int64_t high, std::int64_t& out) {
  if (!value.isDouble()) return false;
  const double d = value.toDouble();
  if (!(d >= static_cast<double>(low) && d <= static_cast<double>(high)) || d != std::trunc(d))
    return false;
  out = static_cast<std::int64_t>(d);
  return true;
}

// An optional whole number: absent is fine, anything else must be one.
bool OptionalNumber(const QJsonObject& object, const char* key, std::int64_t low, std::int64_t high,
                    std::optional<std::int64_t>& out) {
  const QJsonValue value = object[QLatin1String(key)];
  if (value.isUndefined()) return true;
  std::int64_t number = 0;
  if (!WholeNumber(value, low, high, number)) return false;
  out = number;
  return true;
}

constexpr std::int64_t kMaxExact = std::int64_t{1} << 53;
// UTC offsets in the world run from -12 to +14 hours.
constexpr std::int64_t kMaxOffsetSeconds = 18 * 3600;

QJsonObject RowObject(const JournalRow& row) {
  const std::string_view kind = JournalKindName(row.entry.kind);
  return QJsonObject{{QStringLiteral("seq"), static_cast<qint64>(row.sequence)},
                     {QStringLiteral("ms"), static_cast<qint64>(row.entry.time.utc_ms)},
                     {QStringLiteral("offset"), row.entry.time.utc_offset_s},
                     {QStringLiteral("kind"), HistoryText(kind)},
                     {QStringLiteral("text"), HistoryText(row.entry.text)},
                     {QStringLiteral("detail"), HistoryText(row.entry.detail)},
                     {QStringLiteral("user"), HistoryText(row.entry.login)},
                     {QStringLiteral("host"), HistoryText(row.entry.host)},
                     {QStringLiteral("frame"), HistoryText(row.entry.raw_hex)}};
}

bool ReadRow(const QJsonValue& value, JournalRow& row) {
  if (!value.isObject()) return false;
  const QJsonObject object = value.toObject();
  std::int64_t offset = 0;
  if (!WholeNumber(object[QStringLiteral("seq")], 1, kMaxExact, row.sequence) ||
      !WholeNumber(object[QStringLiteral("ms")], -kMaxExact, kMaxExact, row.entry.time.utc_ms) ||
      !WholeNumber(object[QStringLiteral("offset")], -kMaxOffsetSeconds, kMaxOffsetSeconds,
                   offset) ||
      !ParseJournalKind(object[QStringLiteral("kind")].toString().toStdString(), row.entry.kind))
    return false;
  row.entry.time.utc_offset_s = static_cast<std::int32_t>(offset);
  std::string* fields[] = {&row.entry.text, &row.entry.detail, &row.entry.login, &row.entry.host,
                           &row.entry.raw_hex};
  const char* keys[] = {"text", "detail", "user", "host", "frame"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    const QJsonValue field = object[QLatin1String(keys[i])];
    if (!field.isString()) return false;
    *fields[i] = field.toString().toStdString();
    if (fields[i]->size() > kMaxHistoryFieldBytes) return false;
  }
  return true;
}

}  // namespace

std::string HistoryPageMessage(std::int64_t id, bool newer, JournalPage page,
                               std::size_t max_bytes) {
  const std::size_t count = std::min(page.rows.size(), kMaxHistoryRows);
  bool cut = count < page.rows.size();
  // Rows are taken from where the window looks from: the newest for an older page, the oldest
  // for a newer one (the rows run newest first either way).
  QJsonArray taken;
  std::size_t bytes = 0;
  std::size_t kept = 0;
  for (; kept < count; ++kept) {
    const JournalRow& row = page.rows[newer ? page.rows.size() - 1 - kept : kept];
    const QJsonObject object = RowObject(row);
    bytes +=
        static_cast<std::size_t>(QJsonDocument(object).toJson(QJsonDocument::Compact).size()) + 1;
    if (kept > 0 && bytes > max_bytes) break;
    taken.append(object);
  }
  cut = cut || kept < page.rows.size();
  // The next older page starts below the last row that went.
  if (!newer && cut && kept > 0) page.oldest_seen = page.rows[kept - 1].sequence;
  if (newer) {
    QJsonArray newest_first;
    for (qsizetype i = taken.size(); i-- > 0;)
      newest_first.append(taken[i]);
    taken = newest_first;
    // The next look goes on from the newest row that went.
    if (cut && kept > 0) page.newest_seen = page.rows[page.rows.size() - kept].sequence;
  }
  return HistoryLine({{QStringLiteral("type"), QStringLiteral("history")},
                      {QStringLiteral("id"), static_cast<qint64>(id)},
                      {QStringLiteral("rows"), taken},
                      {QStringLiteral("more"), page.more || cut},
                      {QStringLiteral("newest"), static_cast<qint64>(page.newest_seen)},
                      {QStringLiteral("oldest"), static_cast<qint64>(page.oldest_seen)}});
}

std::string HistoryErrorMessage(std::int64_t id, std::string_view why) {
  return HistoryLine({{QStringLiteral("type"), QStringLiteral("history")},
                      {QStringLiteral("id"), static_cast<qint64>(id)},
                      {QStringLiteral("error"), HistoryText(why)}});
}

std::string JournalMessage(std::int64_t sequence) {
  return HistoryLine({{QStringLiteral("type"), QStringLiteral("journal")},
                      {QStringLiteral("seq"), static_cast<qint64>(sequence)}});
}

std::string HistoryRequestMessage(const HistoryRequest& request) {
  const JournalPageQuery& query = request.query;
  QJsonObject object{{QStringLiteral("type"), QStringLiteral("history")},
                     {QStringLiteral("id"), static_cast<qint64>(request.id)},
                     {QStringLiteral("newer"), query.newer},
                     {QStringLiteral("before"), static_cast<qint64>(query.before)},
                     {QStringLiteral("after"), static_cast<qint64>(query.after)},
                     {QStringLiteral("until"), static_cast<qint64>(query.until)},
                     {QStringLiteral("limit"), static_cast<qint64>(query.limit)},
                     {QStringLiteral("text"), HistoryText(query.filter.text)}};
  if (query.filter.from_utc_ms)
    object[QStringLiteral("from")] = static_cast<qint64>(*query.filter.from_utc_ms);
  if (query.filter.to_utc_ms)
    object[QStringLiteral("to")] = static_cast<qint64>(*query.filter.to_utc_ms);
  if (query.filter.kind)
    object[QStringLiteral("kind")] = HistoryText(JournalKindName(*query.filter.kind));
  return HistoryLine(object);
}

bool ParseHistoryRequest(std::string_view line, HistoryRequest& request, std::string& error) {
  error.clear();
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  const QJsonObject object = document.object();
  if (!document.isObject() || object[QStringLiteral("type")].toString() != QLatin1String("history"))
    return false;
  request = HistoryRequest{};
  JournalPageQuery& query = request.query;
  std::int64_t limit = 0;
  const QJsonValue kind = object[QStringLiteral("kind")];
  const bool ok = WholeNumber(object[QStringLiteral("id")], 0, kMaxExact, request.id) &&
                  object[QStringLiteral("newer")].isBool() &&
                  WholeNumber(object[QStringLiteral("before")], 0, kMaxExact, query.before) &&
                  WholeNumber(object[QStringLiteral("after")], 0, kMaxExact, query.after) &&
                  WholeNumber(object[QStringLiteral("until")], 0, kMaxExact, query.until) &&
                  WholeNumber(object[QStringLiteral("limit")], 1,
                              static_cast<std::int64_t>(kMaxHistoryRows), limit) &&
                  OptionalNumber(object, "from", -kMaxExact, kMaxExact, query.filter.from_utc_ms) &&
                  OptionalNumber(object, "to", -kMaxExact, kMaxExact, query.filter.to_utc_ms) &&
                  object[QStringLiteral("text")].isString() &&
                  (kind.isUndefined() ||
                   ParseJournalKind(kind.toString().toStdString(), query.filter.kind.emplace()));
  if (!ok) {
    error = "a history request out of its bounds";
    return false;
  }
  query.newer = object[QStringLiteral("newer")].toBool();
  query.limit = static_cast<std::size_t>(limit);
  query.filter.text = object[QStringLiteral("text")].toString().toStdString();
  return true;
}

namespace attach_json {

bool ReadHistoryPage(const QJsonObject& object, ServerMessage& message) {
  message.type = ServerMessageType::kHistory;
  if (!WholeNumber(object[QStringLiteral("id")], 0, kMaxExact, message.id)) return false;
  if (object.contains(QStringLiteral("error"))) {
    message.text = object[QStringLiteral("error")].toString().toStdString();
    return object[QStringLiteral("error")].isString();
  }
  const QJsonValue rows = object[QStringLiteral("rows")];
  if (!rows.isArray() || static_cast<std::size_t>(rows.toArray().size()) > kMaxHistoryRows ||
      !object[QStringLiteral("more")].isBool() ||
      !WholeNumber(object[QStringLiteral("newest")], 0, kMaxExact, message.page.newest_seen) ||
      !WholeNumber(object[QStringLiteral("oldest")], 0, kMaxExact, message.page.oldest_seen))
    return false;
  message.page.more = object[QStringLiteral("more")].toBool();
  for (const QJsonValue& value : rows.toArray()) {
    JournalRow row;
    if (!ReadRow(value, row)) return false;
    message.page.rows.push_back(std::move(row));
  }
  return true;
}

}  // namespace attach_json
}  // namespace orv
