// The conditions in the state's JSON: what the socket, the web panel and its pages carry. Read
// back only within bounds a service can make (the book's own), each field of its type.
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include "attach/attach_json.h"

namespace orv::attach_json {
namespace {

// More than the book can hold (its alarms, the twelve lamps, the link, the sounder, the service).
constexpr qsizetype kMostConditions = 128;
constexpr qsizetype kLongestText = 1024;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

bool Text(const QJsonObject& object, const char* key, std::string& out) {
  const QJsonValue value = object[QLatin1String(key)];
  if (!value.isString() || value.toString().size() > kLongestText) return false;
  out = value.toString().toStdString();
  return true;
}

bool Ms(const QJsonObject& object, const char* key, std::int64_t& out) {
  const QJsonValue value = object[QLatin1String(key)];
  if (!value.isDouble() || value.toDouble() != static_cast<double>(value.toInteger()) ||
      value.toInteger() < 0)
    return false;
  out = value.toInteger();
  return true;
}

}  // namespace

QJsonArray ConditionsJson(const std::vector<Condition>& conditions, bool with_names) {
  QJsonArray array;
  for (const Condition& c : conditions) {
    array.append(QJsonObject{
        {QStringLiteral("kind"), Q(std::string(ConditionKindName(c.kind)))},
        {QStringLiteral("id"), Q(c.id)},
        {QStringLiteral("name"), Q(c.name)},
        {QStringLiteral("since"), static_cast<qint64>(c.since_ms)},
        {QStringLiteral("state"), Q(std::string(ConditionStateName(c)))},
        {QStringLiteral("acknowledgedBy"), with_names ? Q(c.acknowledged_by) : QString()},
        {QStringLiteral("acknowledgedAt"), static_cast<qint64>(c.acknowledged_ms)},
        {QStringLiteral("comment"), Q(c.comment)},
        {QStringLiteral("shelvedUntil"), static_cast<qint64>(c.shelved_until_ms)},
        {QStringLiteral("shelvedBy"), with_names ? Q(c.shelved_by) : QString()},
        {QStringLiteral("shelvedReason"), Q(c.shelved_reason)},
    });
  }
  return array;
}

bool ReadConditions(const QJsonValue& value, std::vector<Condition>& conditions) {
  if (!value.isArray() || value.toArray().size() > kMostConditions) return false;
  std::vector<Condition> read;
  for (const QJsonValue& item : value.toArray()) {
    const QJsonObject object = item.toObject();
    Condition c;
    std::string kind, state;
    if (!Text(object, "kind", kind) || !ParseConditionKind(kind, c.kind) ||
        !Text(object, "id", c.id) || !Text(object, "name", c.name) ||
        !Ms(object, "since", c.since_ms) || !Text(object, "state", state) ||
        !Text(object, "acknowledgedBy", c.acknowledged_by) ||
        !Ms(object, "acknowledgedAt", c.acknowledged_ms) || !Text(object, "comment", c.comment) ||
        !Ms(object, "shelvedUntil", c.shelved_until_ms) ||
        !Text(object, "shelvedBy", c.shelved_by) ||
        !Text(object, "shelvedReason", c.shelved_reason))
      return false;
    c.present = state == "new" || state == "acknowledged";
    c.acknowledged = state == "acknowledged" || state == "shelved";
    if (ConditionStateName(c) != state) return false;
    read.push_back(std::move(c));
  }
  conditions = std::move(read);
  return true;
}

}  // namespace orv::attach_json
