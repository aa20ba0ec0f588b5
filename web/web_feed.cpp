#include "web/web_feed.h"

#include <algorithm>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "attach/attach_protocol.h"
#include "journal/journal_query.h"

namespace orv {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

bool IsAccessRecord(const JournalEntry& entry) {
  if (entry.kind != JournalKind::kOperator) return false;
  const std::string text = QString::fromStdString(entry.text).toLower().toStdString();
  // "Log in: ..", "Log out: ..", "Log-in timed out: ..", "Log in refused (..): ..";
  // "EMG Reset refused: level 2 needed: ..", "37 more refused log-ins from ..", "12 more
  // refusals in 10 s, ..".
  for (const std::string_view start : {"log in", "log out", "log-in", "log-out"}) {
    if (text.starts_with(start)) return true;
  }
  return text.find("refused") != std::string::npos || text.find("refusals") != std::string::npos;
}

std::string JournalRowJson(const JournalRow& row, bool anonymous) {
  QJsonObject object{{QStringLiteral("seq"), static_cast<qint64>(row.sequence)},
                     {QStringLiteral("time"), Q(FormatJournalIsoTime(row.entry.time, false))},
                     {QStringLiteral("kind"), Q(std::string(JournalKindName(row.entry.kind)))},
                     {QStringLiteral("text"), Q(row.entry.text)}};
  if (!anonymous || row.entry.kind == JournalKind::kEvent)
    object[QStringLiteral("detail")] = Q(row.entry.detail);
  if (!anonymous) object[QStringLiteral("user")] = Q(row.entry.login);
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

WebFeed::Messages WebFeed::Records(const std::vector<JournalRow>& rows) {
  std::string list, anonymous_list;
  auto keep = [](std::string json, std::string& list, std::deque<std::string>& kept) {
    list = list.empty() ? json : json + "," + list;  // newest first
    kept.push_front(std::move(json));
    if (kept.size() > kEvents) kept.pop_back();
  };
  for (const JournalRow& row : rows) {
    if (row.sequence <= newest_record_) continue;  // already had
    newest_record_ = row.sequence;
    if (!Shown(row.entry.kind)) continue;
    keep(JournalRowJson(row), list, events_);
    if (!IsAccessRecord(row.entry))
      keep(JournalRowJson(row, true), anonymous_list, anonymous_events_);
  }
  auto message = [](const std::string& list) {
    return list.empty() ? std::string() : "{\"type\":\"events\",\"events\":[" + list + "]}\n";
  };
  return Messages{message(list), message(anonymous_list)};
}

WebFeed::Messages WebFeed::Tick(const PanelState& state) {
  const auto named = [](const Condition& c) {
    return !c.acknowledged_by.empty() || !c.shelved_by.empty();
  };
  Messages messages{stream_.Tick(state), {}};
  // An anonymous viewer learns no operator's name: not who acknowledged, nor who is logged in.
  if (state.logged_in.empty() &&
      std::none_of(state.conditions.begin(), state.conditions.end(), named)) {
    messages.anonymous = anonymous_stream_.Tick(state);
    return messages;
  }
  PanelState unnamed = state;
  unnamed.logged_in.clear();
  for (Condition& c : unnamed.conditions) {
    c.acknowledged_by.clear();
    c.shelved_by.clear();
  }
  messages.anonymous = anonymous_stream_.Tick(unnamed);
  return messages;
}

std::string WebFeed::Snapshot(bool anonymous) const {
  std::string events;
  for (const std::string& event : anonymous ? anonymous_events_ : events_)
    events += (events.empty() ? "" : ",") + event;
  std::string captions;
  for (const char* caption : kFaultLampCaptions)
    captions += std::string(captions.empty() ? "\"" : ",\"") + caption + "\"";
  const StateStream& stream = anonymous ? anonymous_stream_ : stream_;
  return "{\"seq\":" + std::to_string(stream.seq()) +
         ",\"state\":" + PanelStateJson(stream.state()) + ",\"lampCaptions\":[" + captions +
         "],\"events\":[" + events + "]}";
}

}  // namespace orv
