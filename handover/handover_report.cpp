#include "handover/handover_report.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "conditions/condition_book.h"
#include "conditions/condition_records.h"

namespace orv {
namespace {

constexpr std::string_view kEventMark = "Event = ";
// The controller's reports that each stand as an alarm until its EMG Reset.
constexpr std::array<std::string_view, 4> kAlarmWords{"EMG", "ALERT", "ALARM", "EMG PTT"};
// The condition book's name for the controller's silence.
constexpr std::string_view kNoReplyName = "No reply from controller";
constexpr std::string_view kLampLit = "Annunciator sounds: Fault lamp ";

bool Cut(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// Who did it: the operator the record's detail names ("operator alice, level 2"), else its user.
std::string ActorOf(const JournalEntry& entry) {
  std::string_view detail = entry.detail;
  if (Cut(detail, "operator ")) {
    const std::size_t comma = detail.rfind(", level ");
    if (comma != std::string_view::npos) return std::string(detail.substr(0, comma));
  }
  return entry.login;
}

// The gate's refusals: "EMG Reset refused: level 2 needed: ...", "Log in refused (wrong PIN):
// ...", and the counts that summarise a burst: "12 more refused log-ins from ...", "300 more
// refusals in 10 s, ...".
bool IsRefusal(std::string_view text) {
  if (text.starts_with("Log in refused (")) return true;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos && text.substr(0, colon).ends_with(" refused")) return true;
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0)
    ++digits;
  if (digits == 0) return false;
  const std::string_view rest = text.substr(digits);
  return rest.starts_with(" more refused ") || rest.starts_with(" more refusals in ");
}

}  // namespace

void HandoverBuilder::Keep(std::vector<JournalRow>& section, const JournalRow& row) {
  if (section.size() >= kMostRows) {
    ++left_out_;
    return;
  }
  section.push_back(row);
}

void HandoverBuilder::Appear(std::string_view kind, std::string_view name, const JournalTime& at) {
  for (const HandoverCondition& c : conditions_)
    if (c.present && c.kind == kind && c.name == name && kind != "alarm") return;
  // A storm of reports: as the panel's book does, the first alarm and the latest stay listed,
  // those between go.
  if (kind == "alarm") {
    std::vector<std::size_t> listed;
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
      const HandoverCondition& c = conditions_[i];
      if (c.kind == "alarm" && !c.superseded && (c.present || !c.acknowledged)) listed.push_back(i);
    }
    if (listed.size() >= ConditionBook::kMostAlarms)
      conditions_.erase(conditions_.begin() + static_cast<std::ptrdiff_t>(listed[1]));
  }
  if (conditions_.size() >= kMostConditions) {
    // The oldest cleared goes first; else, as the book does in a storm, the one after the first.
    auto gone = std::find_if(conditions_.begin(), conditions_.end(),
                             [](const HandoverCondition& c) { return !c.present; });
    conditions_.erase(gone != conditions_.end() ? gone : conditions_.begin() + 1);
  }
  HandoverCondition fresh;
  fresh.kind = std::string(kind);
  fresh.name = std::string(name);
  fresh.since = at;
  conditions_.push_back(std::move(fresh));
}

void HandoverBuilder::Clear(std::string_view kind, std::string_view name, const JournalTime& at) {
  for (HandoverCondition& c : conditions_) {
    if (!c.present || c.kind != kind || (!name.empty() && c.name != name)) continue;
    c.present = false;
    c.cleared = at;
  }
}

void HandoverBuilder::Restart() {
  // What stood is no longer the panel's; what cleared within the period stays said.
  std::erase_if(conditions_, [this](const HandoverCondition& c) {
    return c.present || c.cleared.utc_ms < from_ms_;
  });
  for (HandoverCondition& c : conditions_)
    c.superseded = true;
  shelves_.clear();
  sessions_.clear();
}

HandoverCondition* HandoverBuilder::Acknowledged(std::string_view name) {
  // An alarm: the oldest of that name not yet acknowledged (the record does not say which).
  // Anything else: the one the panel lists under that name, the newest.
  const auto listed = [name](const HandoverCondition& c) {
    return !c.superseded && c.name == name;
  };
  const auto oldest_alarm = std::find_if(conditions_.begin(), conditions_.end(), [&](auto& c) {
    return listed(c) && c.kind == "alarm" && !c.acknowledged;
  });
  if (oldest_alarm != conditions_.end()) return &*oldest_alarm;
  const auto newest = std::find_if(conditions_.rbegin(), conditions_.rend(), listed);
  if (newest == conditions_.rend() || newest->kind == "alarm" || newest->acknowledged)
    return nullptr;
  return &*newest;
}

void HandoverBuilder::TakeEvent(const JournalEntry& entry) {
  const std::size_t mark = entry.text.find(kEventMark);
  if (mark == std::string::npos) return;
  const std::string_view word = std::string_view(entry.text).substr(mark + kEventMark.size());
  if (std::find(kAlarmWords.begin(), kAlarmWords.end(), word) != kAlarmWords.end()) {
    Appear("alarm", word, entry.time);
  } else if (word == "EMG Reset") {
    Clear("alarm", {}, entry.time);
  } else if (word.starts_with("Fault ") && word != "Fault Ack" && word != "Fault Reset") {
    // The fault word names every lamp lit: those in it stand, the others have cleared. A record
    // without its words (an earlier version's) says nothing here.
    if (entry.detail.empty()) return;
    std::vector<std::string> lit;
    std::string_view rest = entry.detail;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(", ");
      const std::string_view name = rest.substr(0, comma);
      if (name != "No fault" && !name.starts_with("bit ")) lit.emplace_back(name);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
    }
    for (HandoverCondition& c : conditions_)
      if (c.present && c.kind == "fault" &&
          std::find(lit.begin(), lit.end(), c.name) == lit.end()) {
        c.present = false;
        c.cleared = entry.time;
      }
    for (const std::string& name : lit)
      Appear("fault", name, entry.time);
  }
}

void HandoverBuilder::TakeLink(const JournalEntry& entry) {
  const std::string_view text = entry.text;
  if (text.starts_with("No reply from the controller")) {
    Appear("link", kNoReplyName, entry.time);
  } else if (text.starts_with("The controller answers again")) {
    Clear("link", {}, entry.time);
  } else if (text.starts_with("Disconnected: ")) {
    // Without a line the panel shows no lamps and no silence.
    Clear("link", {}, entry.time);
    Clear("fault", {}, entry.time);
  }
}

void HandoverBuilder::TakeOperator(const JournalRow& row) {
  const JournalEntry& entry = row.entry;
  std::string_view text = entry.text;
  if (const auto said = ParseConditionRecord(text)) {
    switch (said->kind) {
      case ConditionRecord::Kind::kAcknowledged:
        if (HandoverCondition* c = Acknowledged(said->name)) {
          c->acknowledged = true;
          c->acknowledged_by = ActorOf(entry);
          c->acknowledged_at = entry.time;
          c->comment = said->words;
        }
        break;
      case ConditionRecord::Kind::kShelved:
        shelves_[said->name] = HandoverShelf{said->name, ActorOf(entry), said->words, entry.time,
                                             entry.time.utc_ms + said->minutes * 60'000};
        break;
      case ConditionRecord::Kind::kShelfEnded:
        shelves_.erase(said->name);
        break;
    }
    return;
  }
  const bool in_period = InPeriod(entry);
  // "Log in: alice, level 2, window"; "Log out: alice, window"; "Log-in timed out: alice, web ...".
  const bool log_in = Cut(text, "Log in: ");
  if (log_in || Cut(text, "Log out: ") || Cut(text, "Log-in timed out: ")) {
    const std::size_t last = text.rfind(", ");
    if (last == std::string_view::npos) return;
    const std::string origin(text.substr(last + 2));
    if (log_in) {
      const std::size_t level = text.find(", level ");
      sessions_[origin] = HandoverSession{std::string(text.substr(0, level)), origin, entry.time};
    } else {
      sessions_.erase(origin);
    }
    if (in_period) Keep(logins_, row);
    return;
  }
  if (in_period && IsRefusal(entry.text)) Keep(refusals_, row);
}

void HandoverBuilder::Take(const JournalRow& row) {
  const JournalEntry& entry = row.entry;
  if (entry.time.utc_ms > to_.utc_ms) return;
  switch (entry.kind) {
    case JournalKind::kEvent:
      TakeEvent(entry);
      break;
    case JournalKind::kLink:
      TakeLink(entry);
      if (InPeriod(entry) &&
          (entry.text.starts_with("No reply from the controller") ||
           entry.text.starts_with("Port failure: ") || entry.text.starts_with("Com Port Fail!")))
        Keep(link_losses_, row);
      break;
    case JournalKind::kOperator:
      TakeOperator(row);
      break;
    case JournalKind::kProgram: {
      std::string_view text = entry.text;
      if (text.starts_with("Program started") || text.starts_with("Program stopped")) {
        Restart();
      } else if (Cut(text, kLampLit) && text.ends_with(" lit")) {
        Appear("fault", text.substr(0, text.size() - 4), entry.time);
      }
      break;
    }
  }
}

HandoverReport HandoverBuilder::Finish(std::string since_handover) const {
  HandoverReport report;
  report.from.utc_ms = from_ms_;
  report.from.utc_offset_s = to_.utc_offset_s;
  report.to = to_;
  report.since_handover = std::move(since_handover);
  for (const HandoverCondition& c : conditions_) {
    if (c.present)
      (c.acknowledged ? report.acknowledged : report.unacknowledged).push_back(c);
    else if (c.cleared.utc_ms >= from_ms_)
      report.cleared.push_back(c);
  }
  for (const auto& [name, shelf] : shelves_)
    if (shelf.until_ms > to_.utc_ms && shelf.until_ms <= to_.utc_ms + kShelfHorizonMs)
      report.shelves_ending.push_back(shelf);
  std::sort(report.shelves_ending.begin(), report.shelves_ending.end(),
            [](const HandoverShelf& a, const HandoverShelf& b) { return a.until_ms < b.until_ms; });
  report.refusals = refusals_;
  report.link_losses = link_losses_;
  report.logins = logins_;
  report.rows_left_out = left_out_;
  for (const auto& [origin, session] : sessions_)
    report.logged_in.push_back(session);
  std::sort(report.logged_in.begin(), report.logged_in.end(),
            [](const HandoverSession& a, const HandoverSession& b) {
              return a.since.utc_ms < b.since.utc_ms;
            });
  return report;
}

}  // namespace orv
