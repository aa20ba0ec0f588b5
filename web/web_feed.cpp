#include "web/web_feed.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "attach/attach_protocol.h"
#include "journal/journal_query.h"

namespace orv {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

std::string JournalRowJson(const JournalRow& row) {
  const QJsonObject object{
      {QStringLiteral("seq"), static_cast<qint64>(row.sequence)},
      {QStringLiteral("time"), Q(FormatJournalIsoTime(row.entry.time, false))},
      {QStringLiteral("kind"), Q(std::string(JournalKindName(row.entry.kind)))},
      {QStringLiteral("text"), Q(row.entry.text)},
      {QStringLiteral("detail"), Q(row.entry.detail)},
      {QStringLiteral("user"), Q(row.entry.login)}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string WebFeed::Records(const std::vector<JournalRow>& rows) {
  std::string list;
  for (const JournalRow& row : rows) {
    if (row.sequence <= newest_record_) continue;  // already had
    newest_record_ = row.sequence;
    if (!Shown(row.entry.kind)) continue;
    std::string json = JournalRowJson(row);
    list = list.empty() ? json : json + "," + list;  // newest first
    events_.push_front(std::move(json));
    if (events_.size() > kEvents) events_.pop_back();
  }
  if (list.empty()) return {};
  return "{\"type\":\"events\",\"events\":[" + list + "]}\n";
}

std::string WebFeed::Snapshot() const {
  std::string events;
  for (const std::string& event : events_)
    events += (events.empty() ? "" : ",") + event;
  std::string captions;
  for (const char* caption : kFaultLampCaptions)
    captions += std::string(captions.empty() ? "\"" : ",\"") + caption + "\"";
  return "{\"seq\":" + std::to_string(stream_.seq()) +
         ",\"state\":" + PanelStateJson(stream_.state()) + ",\"lampCaptions\":[" + captions +
         "],\"events\":[" + events + "]}";
}

}  // namespace orv
