// JSON through Qt Core's classes, as the socket's own codec writes it.
#include "ctl/ctl_render.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "access/operator_actions.h"
#include "attach/attach_protocol.h"
#include "ctl/ctl_args.h"
#include "link/fault_lamps.h"

namespace orv {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Line(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject Parsed(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

QJsonArray NumberedLamps(const PanelState& state) {
  QJsonArray lamps;
  for (int i = 0; i < kSystemLamps; ++i)
    lamps.append(QJsonObject{{QStringLiteral("lamp"), i + 1},
                             {QStringLiteral("caption"), QLatin1String(kFaultLampCaptions[i])},
                             {QStringLiteral("lit"), state.lamps[static_cast<std::size_t>(i)]}});
  return lamps;
}

std::string UtcText(std::int64_t ms) {
  return FormatJournalIsoTime(JournalTime{ms, 0}, false);
}

std::string ConditionText(const Condition& c) {
  std::string text = c.id + " (" + std::string(ConditionKindName(c.kind)) + ") " + c.name + ": " +
                     std::string(ConditionStateName(c)) + " since " + UtcText(c.since_ms);
  if (c.acknowledged)
    text += ", acknowledged by " + c.acknowledged_by + (c.comment.empty() ? "" : ": " + c.comment);
  if (c.shelved())
    text += ", shelved by " + c.shelved_by + " until " + UtcText(c.shelved_until_ms) + ": " +
            c.shelved_reason;
  return text;
}

std::string LoggedInText(const LoggedIn& op) {
  return op.name + " (level " + std::to_string(op.level) + ", " + op.where + ")";
}

const char* StandingName(int code) {
  return code == kCtlAlarm ? "alarm" : code == kCtlFaults ? "faults" : "quiet";
}

}  // namespace

int StateExitCode(const PanelState& state) {
  int code = kCtlQuiet;
  for (const Condition& c : state.conditions) {
    if (!c.present || c.shelved()) continue;
    if (c.kind == ConditionKind::kAlarm) return kCtlAlarm;
    code = kCtlFaults;
  }
  return code;
}

int ResultExitCode(std::string_view result) {
  const bool done = result == kResultDone || result == kResultLoggedOut ||
                    result.substr(0, std::string_view(kResultLoggedIn).size()) == kResultLoggedIn;
  return done ? kCtlQuiet : kCtlRefused;
}

std::string StatusText(const PanelState& state) {
  std::string text = "link: " + std::string(LinkConditionName(state.link));
  if (!state.line.state.empty()) text += " (" + state.line.port + " " + state.line.state + ")";
  text += "\nconnected: ";
  text += state.connected ? "yes, COM" + std::to_string(state.port) + " " + state.baud + " baud"
                          : std::string("no");
  text += "\nsounding: " + state.sounding;
  if (!state.sounding_condition.empty()) text += " (" + state.sounding_condition + ")";
  text += ", " + std::to_string(state.silenced) + " silenced";
  text += std::string("\naccess levels: ") + (state.access_levels ? "on" : "off");
  if (state.access_levels && state.logged_in.empty()) text += "\nlogged in: nobody";
  for (const LoggedIn& op : state.logged_in)
    text += "\nlogged in: " + LoggedInText(op);
  for (int i = 0; i < kSystemLamps; ++i)
    text += "\nlamp " + std::to_string(i + 1) + " " + kFaultLampCaptions[i] + ": " +
            (state.lamps[static_cast<std::size_t>(i)] ? "lit" : "dark");
  if (state.conditions.empty()) text += "\nconditions: none";
  for (const Condition& c : state.conditions)
    text += "\ncondition " + ConditionText(c);
  text += "\nstanding: ";
  text += StandingName(StateExitCode(state));
  return text + "\n";
}

std::string StatusJson(const PanelState& state) {
  QJsonObject object =
      Parsed(PanelStateJson(state, kSectionLine | kSectionConnection | kSectionAnnunciation |
                                       kSectionConditions | kSectionOperators));
  object[QStringLiteral("lamps")] = NumberedLamps(state);
  object[QStringLiteral("standing")] = QLatin1String(StandingName(StateExitCode(state)));
  return Line(object);
}

std::string ChangeText(std::int64_t seq, const PanelState& before, const PanelState& after,
                       unsigned sections) {
  std::vector<std::string> parts;
  if (sections & kSectionLamps) {
    for (std::size_t i = 0; i < after.lamps.size(); ++i)
      if (after.lamps[i] != before.lamps[i])
        parts.push_back("lamp " + std::to_string(i + 1) + " " + kFaultLampCaptions[i] +
                        (after.lamps[i] ? " lit" : " dark"));
  }
  for (int p = 0; p < PanelState::kPages; ++p) {
    if (!(sections & PageSection(p))) continue;
    const auto& was = before.pages[static_cast<std::size_t>(p)].states;
    const auto& now = after.pages[static_cast<std::size_t>(p)].states;
    for (std::size_t n = 0; n < now.size(); ++n)
      if (n >= was.size() || was[n] != now[n])
        parts.push_back("trigger " + std::to_string(p) + ":" + std::to_string(n + 1) +
                        (now[n] ? " on" : " off"));
  }
  if (sections & kSectionEvents) {
    // Newest first: the new lines are those above the newest one seen before.
    const auto seen = before.events.empty()
                          ? after.events.end()
                          : std::find(after.events.begin(), after.events.end(), before.events[0]);
    for (auto line = std::make_reverse_iterator(seen); line != after.events.rend(); ++line)
      parts.push_back("event " + *line);
  }
  // The line's words count the time since the last reply: only the link's condition is news.
  if ((sections & kSectionLine) && after.link != before.link)
    parts.push_back("link " + std::string(LinkConditionName(after.link)));
  if ((sections & kSectionConnection) && after.connected != before.connected)
    parts.push_back(after.connected ? "connected" : "disconnected");
  if (sections & kSectionAnnunciation) {
    if (after.sounding != before.sounding)
      parts.push_back(
          "sounding " + after.sounding +
          (after.sounding_condition.empty() ? "" : " (" + after.sounding_condition + ")"));
    if (after.silenced != before.silenced)
      parts.push_back(std::to_string(after.silenced) + " silenced");
    if (after.lamp_test != before.lamp_test)
      parts.push_back(after.lamp_test ? "lamp test on" : "lamp test off");
  }
  if (sections & kSectionConditions) {
    const auto find = [](const std::vector<Condition>& in, const std::string& id) {
      return std::find_if(in.begin(), in.end(), [&](const Condition& c) { return c.id == id; });
    };
    for (const Condition& c : after.conditions) {
      const auto was = find(before.conditions, c.id);
      if (was == before.conditions.end() || ConditionStateName(*was) != ConditionStateName(c))
        parts.push_back(c.id + " " + std::string(ConditionStateName(c)));
    }
    for (const Condition& c : before.conditions)
      if (find(after.conditions, c.id) == after.conditions.end()) parts.push_back(c.id + " gone");
  }
  if (sections & kSectionOperators) {
    const auto has = [](const std::vector<LoggedIn>& in, const LoggedIn& op) {
      return std::find(in.begin(), in.end(), op) != in.end();
    };
    for (const LoggedIn& op : before.logged_in)
      if (!has(after.logged_in, op)) parts.push_back("logged out " + LoggedInText(op));
    for (const LoggedIn& op : after.logged_in)
      if (!has(before.logged_in, op)) parts.push_back("logged in " + LoggedInText(op));
  }
  if (parts.empty()) return {};
  std::string text = std::to_string(seq) + ":";
  for (std::size_t i = 0; i < parts.size(); ++i)
    text += (i == 0 ? " " : "; ") + parts[i];
  return text;
}

std::string ChangeJson(std::int64_t seq, const PanelState& after, unsigned sections) {
  QJsonObject state = Parsed(PanelStateJson(after, sections));
  if (sections & kSectionLamps) state[QStringLiteral("lamps")] = NumberedLamps(after);
  return Line(
      {{QStringLiteral("seq"), static_cast<qint64>(seq)}, {QStringLiteral("state"), state}});
}

std::string ResultJson(std::string_view result) {
  return Line({{QStringLiteral("result"), Q(result)}});
}

std::string EventText(const JournalRow& row) {
  const JournalEntry& e = row.entry;
  std::string text = std::to_string(row.sequence) + " " + FormatJournalIsoTime(e.time, false) +
                     " " + std::string(JournalKindName(e.kind)) + " " +
                     (e.login.empty() ? "-" : e.login) + ": " + e.text;
  if (!e.detail.empty()) text += " (" + e.detail + ")";
  return text;
}

std::string EventJson(const JournalRow& row) {
  const JournalEntry& e = row.entry;
  return Line({{QStringLiteral("seq"), static_cast<qint64>(row.sequence)},
               {QStringLiteral("time"), Q(FormatJournalIsoTime(e.time))},
               {QStringLiteral("kind"), Q(JournalKindName(e.kind))},
               {QStringLiteral("text"), Q(e.text)},
               {QStringLiteral("detail"), Q(e.detail)},
               {QStringLiteral("user"), Q(e.login)},
               {QStringLiteral("host"), Q(e.host)}});
}

}  // namespace orv
