#include "mqtt/publisher.h"

#include <algorithm>
#include <utility>

#include "journal/journal_query.h"
#include "mqtt/json.h"
#include "platform/text_encoding.h"

namespace orv {
namespace {

constexpr const char* kPageTopics[MqttPublisher::kPublishedPages] = {"emg", "business", "soft"};

}  // namespace

std::string_view LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::kAnswering:
      return "answering";
    case LinkState::kNoReply:
      return "no-reply";
    case LinkState::kDisconnected:
      break;
  }
  return "disconnected";
}

bool IsPublishedKind(JournalKind kind) {
  return kind == JournalKind::kEvent || kind == JournalKind::kLink ||
         kind == JournalKind::kOperator;
}

std::string AnnunciationJson(std::string_view sounding, const JournalTime& since,
                             std::string_view condition, bool lamp_test) {
  std::string json = "{\"sounding\":";
  AppendJsonString(json, sounding);
  json += ",\"since\":";
  AppendJsonString(json, FormatJournalIsoTime(since, false));
  json += ",\"condition\":";
  AppendJsonString(json, condition);
  return json + (lamp_test ? ",\"lampTest\":true}" : ",\"lampTest\":false}");
}

std::string ConditionsJson(const std::vector<Condition>& conditions) {
  std::string json = "[";
  const auto field = [&json](const char* key, std::string_view value) {
    json.append(",\"").append(key).append("\":");
    AppendJsonString(json, value);
  };
  const auto time = [](std::int64_t ms) { return FormatJournalIsoTime(JournalTime{ms, 0}, false); };
  for (const Condition& c : conditions) {
    json += json.size() > 1 ? ",{\"id\":" : "{\"id\":";
    AppendJsonString(json, c.id);
    field("kind", ConditionKindName(c.kind));
    field("name", c.name);
    field("since", time(c.since_ms));
    field("state", ConditionStateName(c));
    if (c.acknowledged) field("comment", c.comment);
    if (c.shelved()) {
      field("shelvedUntil", time(c.shelved_until_ms));
      field("reason", c.shelved_reason);
    }
    json += '}';
  }
  return json + "]";
}

std::string EventJson(const JournalRow& row) {
  std::string json = "{\"seq\":" + std::to_string(row.sequence) + ",\"time\":";
  AppendJsonString(json, FormatJournalIsoTime(row.entry.time, false));
  json += ",\"kind\":";
  AppendJsonString(json, JournalKindName(row.entry.kind));
  json += ",\"text\":";
  AppendJsonString(json, row.entry.text);
  if (!row.entry.detail.empty()) {
    json += ",\"detail\":";
    AppendJsonString(json, row.entry.detail);
  }
  json += '}';
  return json;
}

std::string FaultsJson(FaultLamps lamps) {
  std::string json = "{";
  for (std::size_t i = 0; i < kFaultLampCaptions.size(); ++i) {
    if (i > 0) json += ',';
    AppendJsonString(json, kFaultLampCaptions[i]);
    json += lamps[i] ? ":1" : ":0";
  }
  json += '}';
  return json;
}

MqttPublisher::MqttPublisher(std::string base_topic, std::size_t window, std::size_t memory_backlog)
    : base_(std::move(base_topic)),
      window_(std::max<std::size_t>(window, 1)),
      memory_limit_(std::max<std::size_t>(memory_backlog, 1)) {
  // The status first: a subscriber sees "online" before the rest is refreshed.
  status_slot_ = Slot(Topic("status"), 1);
  Set(status_slot_, "online");
  link_slot_ = Slot(Topic("link"));
  faults_slot_ = Slot(Topic("faults"));
  annunciation_slot_ = Slot(Topic("annunciation"));
  conditions_slot_ = Slot(Topic("conditions"));
  web_slot_ = Slot(Topic("web"));
  for (int n = 1; n <= kSystemLamps; ++n)
    fault_slot_[n - 1] = Slot(Topic("fault/" + std::to_string(n)));
  for (int page = 0; page < kPublishedPages; ++page) {
    const std::string prefix = Topic(std::string("trigger/") + kPageTopics[page] + "/");
    const int size = kTriggerPages[static_cast<std::size_t>(page)].size;
    state_slot_[page] = retained_.size();
    for (int n = 1; n <= size; ++n)
      Slot(prefix + std::to_string(n));
    name_slot_[page] = retained_.size();
    for (int n = 1; n <= size; ++n)
      Slot(prefix + std::to_string(n) + "/name");
  }
}

std::string MqttPublisher::Topic(std::string_view sub) const {
  return base_ + "/" + std::string(sub);
}

MqttMessage MqttPublisher::Will() const {
  return MqttMessage{Topic("status"), "offline", 1, true, 0};
}

std::size_t MqttPublisher::Slot(std::string topic, int qos) {
  slot_by_topic_.emplace(topic, retained_.size());
  retained_.push_back(Retained{std::move(topic), std::nullopt, qos, false});
  return retained_.size() - 1;
}

void MqttPublisher::Set(std::size_t slot, std::string payload) {
  Retained& r = retained_[slot];
  if (r.payload == payload) return;
  r.payload = std::move(payload);
  MarkDirty(slot);
}

void MqttPublisher::MarkDirty(std::size_t slot) {
  Retained& r = retained_[slot];
  if (r.dirty || !r.payload) return;
  r.dirty = true;
  dirty_.push_back(slot);
}

void MqttPublisher::MarkAllDirty() {
  // In slot order, the status first, whatever was dirty before.
  dirty_.clear();
  for (Retained& r : retained_)
    r.dirty = r.corrected = false;
  for (std::size_t slot = 0; slot < retained_.size(); ++slot)
    MarkDirty(slot);
}

std::vector<std::string> MqttPublisher::StateFilters() const {
  return {Topic("status"),    Topic("link"),         Topic("faults"),     Topic("fault/+"),
          Topic("trigger/#"), Topic("annunciation"), Topic("conditions"), Topic("web")};
}

void MqttPublisher::OnBrokerValue(std::string_view topic, std::string_view payload) {
  const auto it = slot_by_topic_.find(std::string(topic));
  if (it == slot_by_topic_.end()) return;
  Retained& r = retained_[it->second];
  // Our own messages come back alike; a value not known yet has nothing to put against.
  if (!r.payload || *r.payload == payload || r.corrected) return;
  r.corrected = true;
  MarkDirty(it->second);
}

void MqttPublisher::RepublishRetained() {
  for (std::size_t slot = 0; slot < retained_.size(); ++slot) {
    retained_[slot].corrected = false;
    MarkDirty(slot);
  }
}

void MqttPublisher::SetLinkState(LinkState state) {
  Set(link_slot_, std::string(LinkStateName(state)));
}

void MqttPublisher::SetAnnunciation(std::string json) {
  Set(annunciation_slot_, std::move(json));
}

void MqttPublisher::SetWebAddress(std::string url) {
  Set(web_slot_, std::move(url));
}

void MqttPublisher::SetConditions(std::string json) {
  Set(conditions_slot_, std::move(json));
}

void MqttPublisher::SetFaultLamps(FaultLamps lamps) {
  for (std::size_t i = 0; i < kSystemLamps; ++i)
    Set(fault_slot_[i], lamps[i] ? "1" : "0");
  Set(faults_slot_, FaultsJson(lamps));
}

void MqttPublisher::SetTriggerStates(int page, const TriggerStateTable& states) {
  if (page < 0 || page >= kPublishedPages) return;
  const int size = kTriggerPages[static_cast<std::size_t>(page)].size;
  for (int n = 1; n <= size; ++n)
    Set(state_slot_[page] + static_cast<std::size_t>(n - 1), states.Get(n) != 0 ? "1" : "0");
}

void MqttPublisher::SetTriggerNames(int page, const std::vector<std::string>& names) {
  if (page < 0 || page >= kPublishedPages) return;
  const std::size_t size =
      static_cast<std::size_t>(kTriggerPages[static_cast<std::size_t>(page)].size);
  for (std::size_t i = 0; i < size && i < names.size(); ++i) {
    Retained& r = retained_[name_slot_[page] + i];
    // Most calls change nothing: compare before making the checked copy.
    if (r.payload && *r.payload == names[i]) continue;
    Set(name_slot_[page] + i, ValidUtf8(names[i]));
  }
}

void MqttPublisher::UseJournal(ReadFn read, std::int64_t last_before_start) {
  read_ = std::move(read);
  last_ = last_before_start;
  next_seq_ = last_before_start + 1;
  memory_.clear();
}

void MqttPublisher::OnCommitted(std::int64_t last) {
  if (last < last_) {
    // The journal began a new chain (its file was damaged and moved aside): start from its top.
    in_flight_.clear();
    unacknowledged_.clear();
    next_seq_ = 1;
  }
  last_ = last;
}

void MqttPublisher::OnRecorded(const JournalEntry& entry) {
  if (read_ || !IsPublishedKind(entry.kind)) return;
  memory_.push_back(JournalRow{++memory_seq_, entry, {}});
  last_ = memory_seq_;
  while (memory_.size() > memory_limit_) {
    const std::int64_t gone = memory_.front().sequence;
    memory_.pop_front();
    if (next_seq_ <= gone) next_seq_ = gone + 1;
  }
}

std::int64_t MqttPublisher::cursor() const {
  return unacknowledged_.empty() ? next_seq_ - 1 : *unacknowledged_.begin() - 1;
}

void MqttPublisher::OnConnected() {
  connected_ = true;
  MarkAllDirty();
}

void MqttPublisher::OnDisconnected() {
  const std::int64_t resume = cursor() + 1;
  connected_ = false;
  in_flight_.clear();
  unacknowledged_.clear();
  next_seq_ = resume;
}

void MqttPublisher::OnDelivered(int mid) {
  const auto it = in_flight_.find(mid);
  if (it == in_flight_.end()) return;
  unacknowledged_.erase(it->second);
  in_flight_.erase(it);
  const std::int64_t done = cursor();
  while (!memory_.empty() && memory_.front().sequence <= done)
    memory_.pop_front();
}

void MqttPublisher::Pump(const SendFn& send) {
  if (!connected_) return;
  PumpRetained(send);
  // Events wait until the state they refer to has been handed over.
  if (dirty_.empty()) PumpEvents(send);
}

void MqttPublisher::PumpRetained(const SendFn& send) {
  std::size_t sent = 0;
  for (; sent < dirty_.size(); ++sent) {
    Retained& r = retained_[dirty_[sent]];
    if (!send(MqttMessage{r.topic, *r.payload, r.qos, true, 0})) break;
    r.dirty = false;
  }
  dirty_.erase(dirty_.begin(), dirty_.begin() + static_cast<std::ptrdiff_t>(sent));
}

bool MqttPublisher::ReadRows(std::int64_t from, std::size_t limit, std::vector<JournalRow>& rows) {
  if (read_) return read_(from, limit, rows);
  rows.clear();
  if (memory_.empty()) return true;
  // The queue is numbered without gaps.
  const std::int64_t skip = std::max<std::int64_t>(0, from - memory_.front().sequence);
  for (auto it = memory_.begin() + std::min<std::int64_t>(skip, std::ssize(memory_));
       it != memory_.end() && rows.size() < limit; ++it)
    rows.push_back(*it);
  return true;
}

void MqttPublisher::PumpEvents(const SendFn& send) {
  while (in_flight_.size() < window_ && next_seq_ <= last_) {
    if (!ReadRows(next_seq_, window_ - in_flight_.size(), rows_) || rows_.empty()) return;
    for (const JournalRow& row : rows_) {
      if (row.sequence < next_seq_) continue;
      if (IsPublishedKind(row.entry.kind)) {
        const std::optional<int> mid =
            send(MqttMessage{Topic("event"), EventJson(row), 1, false, row.sequence});
        if (!mid) return;
        in_flight_[*mid] = row.sequence;
        unacknowledged_.insert(row.sequence);
      }
      next_seq_ = row.sequence + 1;
    }
  }
}

}  // namespace orv
