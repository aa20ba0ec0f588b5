#include "conditions/condition_book.h"

#include <algorithm>
#include <tuple>

#include "link/fault_lamps.h"

namespace orv {
namespace {

// Typed text is one line: what a record or a list row holds.
std::string OneLine(std::string_view text) {
  std::string line(text);
  std::replace_if(
      line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
  return line;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

// The group a condition is listed in: alarms first, shelved last.
int Group(const Condition& c) {
  if (c.shelved()) return 3;
  switch (c.kind) {
    case ConditionKind::kAlarm:
      return 0;
    case ConditionKind::kFault:
    case ConditionKind::kSounder:
      return 1;
    case ConditionKind::kLink:
    case ConditionKind::kService:
      break;
  }
  return 2;
}

}  // namespace

void ConditionBook::Update(const PanelState& state, std::int64_t now_ms) {
  for (int i = 0; i < kSystemLamps; ++i) {
    const std::string id = LampId(i);
    if (state.lamps[static_cast<std::size_t>(i)])
      Appear(id, ConditionKind::kFault, kFaultLampCaptions[static_cast<std::size_t>(i)], now_ms);
    else
      Clear(id);
  }
  Set(ConditionKind::kLink, "No reply from controller", state.link == LinkCondition::kNoReply,
      now_ms);
}

void ConditionBook::Set(ConditionKind kind, std::string_view name, bool present,
                        std::int64_t now_ms) {
  const std::string id(ConditionKindName(kind));
  if (present)
    Appear(id, kind, name, now_ms);
  else
    Clear(id);
}

void ConditionBook::Alarm(std::string_view name, std::int64_t now_ms) {
  std::vector<std::pair<long, std::string>> alarms;
  for (const auto& [id, entry] : conditions_)
    if (entry.condition.kind == ConditionKind::kAlarm) alarms.emplace_back(entry.order, id);
  // A storm of reports keeps the first alarm and the latest ones; those between go.
  if (alarms.size() >= kMostAlarms) {
    std::sort(alarms.begin(), alarms.end());
    conditions_.erase(alarms[1].second);
  }
  Appear("alarm-" + std::to_string(++alarms_made_), ConditionKind::kAlarm, name, now_ms);
}

void ConditionBook::AlarmsReset() {
  std::vector<std::string> alarms;
  for (const auto& [id, entry] : conditions_)
    if (entry.condition.kind == ConditionKind::kAlarm) alarms.push_back(id);
  for (const std::string& id : alarms)
    Clear(id);
}

void ConditionBook::Appear(const std::string& id, ConditionKind kind, std::string_view name,
                           std::int64_t now) {
  auto found = conditions_.find(id);
  if (found != conditions_.end() && found->second.condition.present) return;
  Condition fresh;
  fresh.id = id;
  fresh.kind = kind;
  fresh.name = std::string(name);
  fresh.since_ms = now;
  conditions_[id] = Entry{std::move(fresh), ++order_};
}

void ConditionBook::Clear(const std::string& id) {
  const auto found = conditions_.find(id);
  if (found == conditions_.end()) return;
  found->second.condition.present = false;
  DropIfDone(id);
}

void ConditionBook::DropIfDone(const std::string& id) {
  const auto found = conditions_.find(id);
  if (found == conditions_.end()) return;
  const Condition& c = found->second.condition;
  if (!c.present && c.acknowledged && !Shelved(id)) conditions_.erase(found);
}

std::string ConditionBook::Acknowledge(std::string_view id, std::string_view by,
                                       std::string_view comment, std::int64_t now_ms,
                                       std::vector<ConditionNews>& news) {
  const auto found = conditions_.find(id);
  if (found == conditions_.end()) return "refused: no such condition";
  Condition& c = found->second.condition;
  if (c.acknowledged) return "refused: already acknowledged";
  if (comment.size() > kLongestText) return "refused: a comment is at most 200 characters";
  c.acknowledged = true;
  c.acknowledged_by = std::string(by);
  c.acknowledged_ms = now_ms;
  c.comment = OneLine(comment);
  news.push_back({ConditionNews::Kind::kAcknowledged, c.id,
                  "Acknowledged " + Quoted(c.name) + (c.comment.empty() ? "" : ": " + c.comment)});
  DropIfDone(c.id);
  return "done";
}

std::string ConditionBook::Shelve(std::string_view id, std::string_view by, std::string_view reason,
                                  std::int64_t until_ms, std::int64_t now_ms,
                                  std::vector<ConditionNews>& news) {
  const auto found = conditions_.find(id);
  if (found == conditions_.end()) return "refused: no such condition";
  const Condition& c = found->second.condition;
  // An alarm is never set aside: it is what the whole system is for.
  if (c.kind == ConditionKind::kAlarm) return "refused: an alarm cannot be shelved";
  const std::string why = OneLine(reason);
  if (why.find_first_not_of(' ') == std::string::npos) return "refused: a shelf needs a reason";
  if (reason.size() > kLongestText) return "refused: a reason is at most 200 characters";
  if (until_ms <= now_ms) return "refused: a shelf ends later than now";
  if (until_ms - now_ms > kLongestShelfMs) return "refused: a shelf ends within 24 hours";
  // A shelf shorter than the reminder's lead has no moment to be reminded of: it was just set.
  shelves_[c.id] =
      Shelf{std::string(by), why, c.name, until_ms, until_ms - now_ms <= kReminderBeforeMs};
  const std::int64_t minutes = (until_ms - now_ms + kMinuteMs - 1) / kMinuteMs;
  news.push_back(
      {ConditionNews::Kind::kShelved, c.id,
       "Shelved " + Quoted(c.name) + " for " + std::to_string(minutes) + " min: " + why});
  return "done";
}

void ConditionBook::Tick(std::int64_t now_ms, std::vector<ConditionNews>& news) {
  for (auto it = shelves_.begin(); it != shelves_.end();) {
    const std::string id = it->first;
    Shelf& shelf = it->second;
    if (now_ms >= shelf.until_ms) {
      news.push_back(
          {ConditionNews::Kind::kShelfEnded, id, "Shelf of " + Quoted(shelf.name) + " ended"});
      it = shelves_.erase(it);
      DropIfDone(id);
      continue;
    }
    if (!shelf.reminded && now_ms >= shelf.until_ms - kReminderBeforeMs) {
      shelf.reminded = true;
      news.push_back({ConditionNews::Kind::kReminder, id,
                      "Shelf of " + Quoted(shelf.name) + " ends in 15 min"});
    }
    ++it;
  }
}

FaultLamps ConditionBook::ShelvedLamps() const {
  FaultLamps lamps;
  for (int i = 0; i < kSystemLamps; ++i)
    lamps[static_cast<std::size_t>(i)] = Shelved(LampId(i));
  return lamps;
}

std::vector<Condition> ConditionBook::Ordered() const {
  std::vector<std::pair<long, Condition>> listed;
  listed.reserve(conditions_.size());
  for (const auto& [id, entry] : conditions_) {
    Condition c = entry.condition;
    if (const auto shelf = shelves_.find(id); shelf != shelves_.end()) {
      c.shelved_until_ms = shelf->second.until_ms;
      c.shelved_by = shelf->second.by;
      c.shelved_reason = shelf->second.reason;
    }
    listed.emplace_back(entry.order, std::move(c));
  }
  std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
    return std::tuple(Group(a.second), a.second.since_ms, a.first) <
           std::tuple(Group(b.second), b.second.since_ms, b.first);
  });
  std::vector<Condition> ordered;
  ordered.reserve(listed.size());
  for (auto& [order, c] : listed)
    ordered.push_back(std::move(c));
  return ordered;
}

ConditionSummary Summarize(const std::vector<Condition>& ordered, std::size_t room,
                           bool faults_only) {
  ConditionSummary summary;
  for (const Condition& c : ordered) {
    if (c.shelved()) {
      ++summary.shelved;
    } else if (c.kind == ConditionKind::kAlarm) {
      ++summary.alarms;
      if (summary.first_alarm == nullptr) summary.first_alarm = &c;
      summary.latest_alarm = &c;
    } else {
      ++summary.faults;
    }
    if (faults_only && c.kind == ConditionKind::kAlarm) continue;
    if (summary.shown.size() < room)
      summary.shown.push_back(&c);
    else
      ++summary.not_shown;
  }
  return summary;
}

std::string SummaryText(const ConditionSummary& summary) {
  const auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::vector<std::string> parts;
  if (summary.alarms > 0) {
    std::string alarms = count(summary.alarms, "alarm", "alarms");
    alarms += summary.alarms == 1 ? " (" + summary.first_alarm->name + ")"
                                  : " (first " + summary.first_alarm->name + ", latest " +
                                        summary.latest_alarm->name + ")";
    parts.push_back(alarms);
  }
  if (summary.faults > 0) parts.push_back(count(summary.faults, "fault", "faults"));
  if (summary.shelved > 0) parts.push_back(count(summary.shelved, "shelved", "shelved"));
  if (parts.empty()) return "No conditions";
  std::string text;
  for (const std::string& part : parts)
    text += (text.empty() ? "" : " \u00B7 ") + part;
  return text;
}

std::string ConditionRowText(const Condition& c, const TimeOfDayFn& time_of_day) {
  std::string row = c.name + " \u2014 " + std::string(ConditionStateName(c)) + " since " +
                    time_of_day(c.since_ms);
  if (c.acknowledged) {
    row += "; acknowledged by " + c.acknowledged_by;
    if (!c.comment.empty()) row += ": " + c.comment;
  }
  if (c.shelved())
    row += "; shelved by " + c.shelved_by + " until " + time_of_day(c.shelved_until_ms) + ": " +
           c.shelved_reason;
  return row;
}

}  // namespace orv
