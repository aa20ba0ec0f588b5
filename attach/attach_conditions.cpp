// The conditions and who is logged in, in the state's JSON: what the socket, the web panel and its
// pages carry. Read back only within bounds a service can make, each field of its type.
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include "access/users_file.h"
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

QJsonArray ConditionsJson(const std::vector<Condition>& conditions) {
  QJsonArray array;
  for (const Condition& c : conditions) {
    array.append(QJsonObject{
        {QStringLiteral("kind"), Q(std::string(ConditionKindName(c.kind)))},
        {QStringLiteral("id"), Q(c.id)},
        {QStringLiteral("name"), Q(c.name)},
        {QStringLiteral("since"), static_cast<qint64>(c.since_ms)},
        {QStringLiteral("state"), Q(std::string(ConditionStateName(c)))},
        {QStringLiteral("acknowledgedBy"), Q(c.acknowledged_by)},
        {QStringLiteral("acknowledgedAt"), static_cast<qint64>(c.acknowledged_ms)},
        {QStringLiteral("comment"), Q(c.comment)},
        {QStringLiteral("shelvedUntil"), static_cast<qint64>(c.shelved_until_ms)},
        {QStringLiteral("shelvedBy"), Q(c.shelved_by)},
        {QStringLiteral("shelvedReason"), Q(c.shelved_reason)},
    });
  }
  return array;
}

// False, and conditions untouched, when one is out of its bounds or not of its type.
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

QJsonArray LoggedInJson(const std::vector<LoggedIn>& logged_in) {
  QJsonArray array;
  for (const LoggedIn& op : logged_in)
    array.append(QJsonObject{{QStringLiteral("name"), Q(op.name)},
                             {QStringLiteral("level"), op.level},
                             {QStringLiteral("where"), Q(op.where)}});
  return array;
}

bool ReadLoggedIn(const QJsonValue& value, std::vector<LoggedIn>& logged_in) {
  if (!value.isArray() || static_cast<std::size_t>(value.toArray().size()) > kMostLoggedIn)
    return false;
  std::vector<LoggedIn> read;
  for (const QJsonValue& item : value.toArray()) {
    const QJsonObject object = item.toObject();
    const QJsonValue level = object[QStringLiteral("level")];
    LoggedIn op;
    if (!Text(object, "name", op.name) || !IsValidOperatorName(op.name) ||
        !Text(object, "where", op.where) || !level.isDouble() || level.toInteger() < 1 ||
        level.toInteger() > 3 || level.toDouble() != static_cast<double>(level.toInteger()))
      return false;
    op.level = static_cast<int>(level.toInteger());
    read.push_back(std::move(op));
  }
  logged_in = std::move(read);
  return true;
}

}  // namespace

void WriteLists(const PanelState& state, unsigned sections, QJsonObject& object) {
  if (sections & kSectionConditions)
    object[QStringLiteral("conditions")] = ConditionsJson(state.conditions);
  if (sections & kSectionOperators)
    object[QStringLiteral("operators")] = LoggedInJson(state.logged_in);
}

bool ReadLists(const QJsonObject& object, PanelState& state, unsigned& sections) {
  if (object.contains(QStringLiteral("conditions"))) {
    if (!ReadConditions(object[QStringLiteral("conditions")], state.conditions)) return false;
    sections |= kSectionConditions;
  }
  if (object.contains(QStringLiteral("operators"))) {
    if (!ReadLoggedIn(object[QStringLiteral("operators")], state.logged_in)) return false;
    sections |= kSectionOperators;
  }
  return true;
}

}  // namespace orv::attach_json
