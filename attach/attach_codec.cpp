// The messages as JSON, written and read by Qt's JSON classes (Qt Core only, no event loop), as
// the broker's are: the headers stay plain C++ for every user of the state.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <algorithm>
#include <iterator>

#include "access/users_file.h"
#include "attach/attach_json.h"
#include "attach/attach_protocol.h"

namespace orv {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string S(const QString& text) {
  return text.toStdString();
}

std::string JsonLine(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
}

QJsonArray Strings(const std::vector<std::string>& texts) {
  QJsonArray array;
  for (const std::string& text : texts)
    array.append(Q(text));
  return array;
}

QJsonObject StateObject(const PanelState& state, unsigned sections) {
  QJsonObject object;
  if (sections & kSectionLamps) {
    QJsonArray lamps;
    for (const bool lit : state.lamps)
      lamps.append(lit);
    object[QStringLiteral("lamps")] = lamps;
  }
  QJsonArray pages;
  for (int p = 0; p < PanelState::kPages; ++p) {
    if (!(sections & PageSection(p))) continue;
    const TriggerPageState& page = state.pages[static_cast<std::size_t>(p)];
    QJsonArray states;
    for (const std::uint8_t on : page.states)
      states.append(on != 0 ? 1 : 0);
    pages.append(QJsonObject{{QStringLiteral("page"), p},
                             {QStringLiteral("states"), states},
                             {QStringLiteral("names"), Strings(page.names)}});
  }
  if (!pages.isEmpty()) object[QStringLiteral("pages")] = pages;
  if (sections & kSectionEvents) object[QStringLiteral("events")] = Strings(state.events);
  if (sections & kSectionLine) {
    object[QStringLiteral("line")] =
        QJsonObject{{QStringLiteral("port"), Q(state.line.port)},
                    {QStringLiteral("state"), Q(state.line.state)},
                    {QStringLiteral("alarm"), state.line.alarm},
                    {QStringLiteral("details"), Q(state.line.details)},
                    {QStringLiteral("title"), Q(state.line.title_suffix)},
                    {QStringLiteral("link"), Q(std::string(LinkConditionName(state.link)))}};
  }
  if (sections & kSectionConnection) {
    object[QStringLiteral("connection")] =
        QJsonObject{{QStringLiteral("connected"), state.connected},
                    {QStringLiteral("port"), state.port},
                    {QStringLiteral("baud"), Q(state.baud)},
                    {QStringLiteral("supervision"), state.supervision},
                    {QStringLiteral("supervisionTime"), Q(state.supervision_time)},
                    {QStringLiteral("accessLevels"), state.access_levels}};
  }
  if (sections & kSectionAnnunciation) {
    object[QStringLiteral("annunciation")] =
        QJsonObject{{QStringLiteral("sounding"), Q(state.sounding)},
                    {QStringLiteral("condition"), Q(state.sounding_condition)},
                    {QStringLiteral("sinceMs"), static_cast<qint64>(state.sounding_since.utc_ms)},
                    {QStringLiteral("sinceOffset"), state.sounding_since.utc_offset_s},
                    {QStringLiteral("silenced"), state.silenced},
                    {QStringLiteral("lampTest"), state.lamp_test}};
  }
  attach_json::WriteLists(state, sections, object);
  return object;
}

// Whole numbers only: 1.5 or "1" is not a trigger number.
bool Int(const QJsonValue& value, int low, int high, int& out) {
  if (!value.isDouble()) return false;
  const double d = value.toDouble();
  if (d < low || d > high || d != static_cast<double>(static_cast<int>(d))) return false;
  out = static_cast<int>(d);
  return true;
}

bool StringArray(const QJsonValue& value, std::size_t count, std::vector<std::string>& out) {
  if (!value.isArray()) return false;
  const QJsonArray array = value.toArray();
  if (count != 0 && static_cast<std::size_t>(array.size()) != count) return false;
  out.clear();
  for (const QJsonValue& item : array) {
    if (!item.isString()) return false;
    out.push_back(S(item.toString()));
  }
  return true;
}

// Reads the sections of a state object into a copy; the caller keeps it only when all was good.
bool ReadState(const QJsonObject& object, PanelState& state, unsigned& sections) {
  sections = 0;
  if (object.contains(QStringLiteral("lamps"))) {
    const QJsonValue lamps = object[QStringLiteral("lamps")];
    if (!lamps.isArray() || lamps.toArray().size() != kSystemLamps) return false;
    for (int i = 0; i < kSystemLamps; ++i) {
      const QJsonValue lit = lamps.toArray()[i];
      if (!lit.isBool()) return false;
      state.lamps[static_cast<std::size_t>(i)] = lit.toBool();
    }
    sections |= kSectionLamps;
  }
  if (object.contains(QStringLiteral("pages"))) {
    if (!object[QStringLiteral("pages")].isArray()) return false;
    for (const QJsonValue& value : object[QStringLiteral("pages")].toArray()) {
      const QJsonObject page_object = value.toObject();
      int p = 0;
      if (!Int(page_object[QStringLiteral("page")], 0, PanelState::kPages - 1, p)) return false;
      const auto size = static_cast<std::size_t>(PageSize(p));
      TriggerPageState page;
      const QJsonValue states = page_object[QStringLiteral("states")];
      if (!states.isArray() || static_cast<std::size_t>(states.toArray().size()) != size)
        return false;
      for (const QJsonValue& on : states.toArray()) {
        int bit = 0;
        if (!Int(on, 0, 1, bit)) return false;
        page.states.push_back(static_cast<std::uint8_t>(bit));
      }
      if (!StringArray(page_object[QStringLiteral("names")], size, page.names)) return false;
      state.pages[static_cast<std::size_t>(p)] = std::move(page);
      sections |= PageSection(p);
    }
  }
  if (object.contains(QStringLiteral("events"))) {
    if (!StringArray(object[QStringLiteral("events")], 0, state.events)) return false;
    sections |= kSectionEvents;
  }
  if (object.contains(QStringLiteral("line"))) {
    const QJsonObject line = object[QStringLiteral("line")].toObject();
    for (const char* key : {"port", "state", "details", "title"}) {
      if (!line[QLatin1String(key)].isString()) return false;
    }
    if (!line[QStringLiteral("alarm")].isBool() ||
        !ParseLinkCondition(S(line[QStringLiteral("link")].toString()), state.link))
      return false;
    state.line = LineStatus{
        S(line[QStringLiteral("port")].toString()), S(line[QStringLiteral("state")].toString()),
        line[QStringLiteral("alarm")].toBool(), S(line[QStringLiteral("details")].toString()),
        S(line[QStringLiteral("title")].toString())};
    sections |= kSectionLine;
  }
  if (object.contains(QStringLiteral("connection"))) {
    const QJsonObject connection = object[QStringLiteral("connection")].toObject();
    if (!connection[QStringLiteral("connected")].isBool() ||
        !connection[QStringLiteral("baud")].isString() ||
        !connection[QStringLiteral("supervision")].isBool() ||
        !connection[QStringLiteral("supervisionTime")].isString() ||
        !Int(connection[QStringLiteral("port")], 1, 10, state.port))
      return false;
    // Absent from a service without access levels.
    const QJsonValue access = connection[QStringLiteral("accessLevels")];
    if (!access.isUndefined() && !access.isBool()) return false;
    state.access_levels = access.toBool();
    state.connected = connection[QStringLiteral("connected")].toBool();
    state.baud = S(connection[QStringLiteral("baud")].toString());
    state.supervision = connection[QStringLiteral("supervision")].toBool();
    state.supervision_time = S(connection[QStringLiteral("supervisionTime")].toString());
    sections |= kSectionConnection;
  }
  if (object.contains(QStringLiteral("annunciation"))) {
    const QJsonObject annunciation = object[QStringLiteral("annunciation")].toObject();
    const QString sounding = annunciation[QStringLiteral("sounding")].toString();
    if (sounding != QLatin1String("alarm") && sounding != QLatin1String("fault") &&
        sounding != QLatin1String("none"))
      return false;
    const QJsonValue since_ms = annunciation[QStringLiteral("sinceMs")];
    int offset = 0;
    if (!annunciation[QStringLiteral("condition")].isString() ||
        !annunciation[QStringLiteral("lampTest")].isBool() || !since_ms.isDouble() ||
        since_ms.toDouble() != static_cast<double>(since_ms.toInteger()) ||
        !Int(annunciation[QStringLiteral("sinceOffset")], -86400, 86400, offset) ||
        !Int(annunciation[QStringLiteral("silenced")], 0, 1 << 20, state.silenced))
      return false;
    state.sounding_since = JournalTime{since_ms.toInteger(), offset};
    state.lamp_test = annunciation[QStringLiteral("lampTest")].toBool();
    state.sounding = S(sounding);
    state.sounding_condition = S(annunciation[QStringLiteral("condition")].toString());
    sections |= kSectionAnnunciation;
  }
  return attach_json::ReadLists(object, state, sections);
}

bool Object(std::string_view line, QJsonObject& object) {
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  if (!document.isObject()) return false;
  object = document.object();
  return true;
}

}  // namespace

std::string PanelStateJson(const PanelState& state, unsigned sections) {
  return QJsonDocument(StateObject(state, sections)).toJson(QJsonDocument::Compact).toStdString();
}

std::string SnapshotMessage(std::int64_t seq, const PanelState& state) {
  return JsonLine({{QStringLiteral("type"), QStringLiteral("snapshot")},
                   {QStringLiteral("seq"), static_cast<qint64>(seq)},
                   {QStringLiteral("state"), StateObject(state, kAllSections)}});
}

std::string ChangeMessage(std::int64_t seq, const PanelState& state, unsigned sections) {
  return JsonLine({{QStringLiteral("type"), QStringLiteral("change")},
                   {QStringLiteral("seq"), static_cast<qint64>(seq)},
                   {QStringLiteral("state"), StateObject(state, sections)}});
}

std::string HeartbeatMessage(std::int64_t seq) {
  return JsonLine({{QStringLiteral("type"), QStringLiteral("heartbeat")},
                   {QStringLiteral("seq"), static_cast<qint64>(seq)}});
}

std::string ResultMessage(std::int64_t id, std::string_view result) {
  return JsonLine({{QStringLiteral("type"), QStringLiteral("result")},
                   {QStringLiteral("id"), static_cast<qint64>(id)},
                   {QStringLiteral("result"), Q(result)}});
}

std::string RefusedMessage(std::string_view why) {
  return JsonLine(
      {{QStringLiteral("type"), QStringLiteral("refused")}, {QStringLiteral("reason"), Q(why)}});
}

bool ParseServerMessage(std::string_view line, PanelState& state, ServerMessage& message,
                        std::string& error) {
  QJsonObject object;
  if (!Object(line, object)) {
    error = "not a JSON object";
    return false;
  }
  const QString type = object[QStringLiteral("type")].toString();
  message = ServerMessage{};
  message.seq = object[QStringLiteral("seq")].toInteger();
  if (type == QLatin1String("snapshot") || type == QLatin1String("change")) {
    const bool snapshot = type == QLatin1String("snapshot");
    message.type = snapshot ? ServerMessageType::kSnapshot : ServerMessageType::kChange;
    PanelState next = state;
    if (!object[QStringLiteral("state")].isObject() ||
        !ReadState(object[QStringLiteral("state")].toObject(), next, message.sections) ||
        (snapshot && message.sections != kAllSections)) {
      error = "a state out of its bounds";
      return false;
    }
    state = std::move(next);
  } else if (type == QLatin1String("heartbeat")) {
    message.type = ServerMessageType::kHeartbeat;
  } else if (type == QLatin1String("result")) {
    message.type = ServerMessageType::kResult;
    message.id = object[QStringLiteral("id")].toInteger();
    message.text = S(object[QStringLiteral("result")].toString());
  } else if (type == QLatin1String("refused")) {
    message.type = ServerMessageType::kRefused;
    message.text = S(object[QStringLiteral("reason")].toString());
  } else if (type == QLatin1String("history")) {
    if (!attach_json::ReadHistoryPage(object, message)) {
      error = "a history page out of its bounds";
      return false;
    }
  } else if (type == QLatin1String("journal")) {
    message.type = ServerMessageType::kJournal;
  } else {
    error = "an unknown message";
    return false;
  }
  return true;
}

std::string ActionMessage(const ActionRequest& action) {
  QJsonObject object{{QStringLiteral("type"), QStringLiteral("action")},
                     {QStringLiteral("id"), static_cast<qint64>(action.id)}};
  object[QStringLiteral("action")] = Q(WireName(action.kind));
  if (action.shell) object[QStringLiteral("shell")] = true;
  switch (action.kind) {
    case ActionKind::kKey:
      object[QStringLiteral("key")] = action.key;
      break;
    case ActionKind::kTrigger:
      object[QStringLiteral("state")] = action.state;
      [[fallthrough]];
    case ActionKind::kRename:
      object[QStringLiteral("page")] = action.page;
      object[QStringLiteral("number")] = action.number;
      if (action.kind == ActionKind::kRename) object[QStringLiteral("name")] = Q(action.name);
      break;
    case ActionKind::kPort:
      object[QStringLiteral("port")] = action.port;
      break;
    case ActionKind::kBaud:
      object[QStringLiteral("baud")] = Q(action.baud);
      break;
    case ActionKind::kSupervision:
      object[QStringLiteral("state")] = action.state;
      object[QStringLiteral("time")] = Q(action.name);
      break;
    case ActionKind::kSilence:
      object[QStringLiteral("from")] = Q(action.name);
      break;
    case ActionKind::kLogIn:
      object[QStringLiteral("operator")] = Q(action.name);
      object[QStringLiteral("pin")] = Q(action.pin);
      break;
    case ActionKind::kShelve:
      object[QStringLiteral("until")] = static_cast<qint64>(action.until_ms);
      [[fallthrough]];
    case ActionKind::kAcknowledge:
      object[QStringLiteral("condition")] = Q(action.condition);
      object[QStringLiteral("text")] = Q(action.text);
      break;
    case ActionKind::kLampTest:
    case ActionKind::kImpedanceCheck:
    case ActionKind::kConnect:
    case ActionKind::kDisconnect:
    case ActionKind::kLogOut:
    case ActionKind::kSupervisionTime:
    case ActionKind::kHistory:
    case ActionKind::kHandOver:
    case ActionKind::kView:
    case ActionKind::kWithoutDisplay:
      break;
  }
  return JsonLine(object);
}

bool ParseActionMessage(std::string_view line, ActionRequest& action, std::string& error) {
  QJsonObject object;
  if (!Object(line, object) ||
      object[QStringLiteral("type")].toString() != QLatin1String("action")) {
    error = "not an action";
    return false;
  }
  action = ActionRequest{};
  action.id = object[QStringLiteral("id")].toInteger();
  const QString name = object[QStringLiteral("action")].toString();
  const std::optional<ActionKind> known = KindOfWireName(S(name));
  if (!known) {
    error = "an unknown action";
    return false;
  }
  action.kind = *known;
  const QJsonValue shell = object.value(QStringLiteral("shell"));
  action.shell = shell.toBool();
  bool ok = true;
  switch (action.kind) {
    case ActionKind::kKey:
      // A code some key of the table sends.
      ok = Int(object[QStringLiteral("key")], 1, 255, action.key) &&
           KeyCodeOf(KeyAction(static_cast<std::uint8_t>(action.key))) == action.key;
      break;
    case ActionKind::kTrigger:
      ok = Int(object[QStringLiteral("state")], 0, 1, action.state);
      [[fallthrough]];
    case ActionKind::kRename:
      ok = ok && Int(object[QStringLiteral("page")], 0, PanelState::kPages - 1, action.page) &&
           Int(object[QStringLiteral("number")], 1, PageSize(action.page), action.number);
      if (action.kind == ActionKind::kRename) {
        ok = ok && object[QStringLiteral("name")].isString();
        action.name = S(object[QStringLiteral("name")].toString());
      }
      break;
    case ActionKind::kPort:
      ok = Int(object[QStringLiteral("port")], 1, 10, action.port);
      break;
    case ActionKind::kBaud:
      ok = object[QStringLiteral("baud")].isString();
      action.baud = S(object[QStringLiteral("baud")].toString());
      break;
    case ActionKind::kSupervision:
      ok = Int(object[QStringLiteral("state")], 0, 1, action.state) &&
           object[QStringLiteral("time")].isString();
      action.name = S(object[QStringLiteral("time")].toString());
      break;
    case ActionKind::kSilence:
      action.name = S(object[QStringLiteral("from")].toString());
      // A window silences from its button or its Esc key, a shell with orvandelctl, as the
      // journal names them.
      ok = action.name == "window" || action.name == "Esc" || action.name == "orvandelctl";
      break;
    case ActionKind::kLogIn:
      // Names as a users file holds them; whether the PIN is right is the gate's to say.
      action.name = S(object[QStringLiteral("operator")].toString());
      action.pin = S(object[QStringLiteral("pin")].toString());
      ok = object[QStringLiteral("operator")].isString() &&
           object[QStringLiteral("pin")].isString() && IsValidOperatorName(action.name) &&
           action.pin.size() <= kMaxPinBytes;
      break;
    case ActionKind::kShelve: {
      const QJsonValue until = object[QStringLiteral("until")];
      ok = until.isDouble() && until.toDouble() == static_cast<double>(until.toInteger()) &&
           until.toInteger() > 0;
      action.until_ms = until.toInteger();
      [[fallthrough]];
    }
    case ActionKind::kAcknowledge:
      // The book says what a condition it does not have or a text too long comes to; this
      // bounds only what a window may make the service hold.
      ok = ok && object[QStringLiteral("condition")].isString() &&
           object[QStringLiteral("text")].isString() &&
           object[QStringLiteral("condition")].toString().size() <= 64 &&
           object[QStringLiteral("text")].toString().size() <= 1024;
      action.condition = S(object[QStringLiteral("condition")].toString());
      action.text = S(object[QStringLiteral("text")].toString());
      break;
    case ActionKind::kLampTest:
    case ActionKind::kImpedanceCheck:
    case ActionKind::kConnect:
    case ActionKind::kDisconnect:
    case ActionKind::kLogOut:
    case ActionKind::kSupervisionTime:
    case ActionKind::kHistory:
    case ActionKind::kHandOver:
    case ActionKind::kView:
    case ActionKind::kWithoutDisplay:
      break;
  }
  ok = ok && (shell.isUndefined() || shell.isBool());
  if (!ok) error = "a " + S(name) + " action out of its bounds";
  return ok;
}

}  // namespace orv
