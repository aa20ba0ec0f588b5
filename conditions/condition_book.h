// The conditions an operator must see, and their lifecycle: each becomes new when it appears,
// is acknowledged with a comment, is cleared when it goes, and is gone once it has both gone
// and been acknowledged. One that comes back is new again. A shelf sets one aside, by name,
// until its end: it stays listed and counted, but calls for no sound and no notification.
// Plain state on the tick clock; the caller records and tells what it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/fault_lamps.h"
#include "panelstate/condition.h"
#include "panelstate/panel_state.h"

namespace orv {

// Something the journal keeps and the status bar says: an acknowledgement, a shelf, the
// reminder before a shelf's end, and its end.
struct ConditionNews {
  enum class Kind { kAcknowledged, kShelved, kReminder, kShelfEnded };
  Kind kind = Kind::kAcknowledged;
  std::string id;
  std::string text;  // the record's words
};

class ConditionBook {
 public:
  static constexpr std::int64_t kMinuteMs = 60'000;
  static constexpr std::int64_t kLongestShelfMs = 24 * 60 * kMinuteMs;
  static constexpr std::int64_t kReminderBeforeMs = 15 * kMinuteMs;
  // Bounds on what an operator types and on what a report storm can make the book hold.
  static constexpr std::size_t kLongestText = 200;
  static constexpr std::size_t kMostAlarms = 100;

  // The lamps and the link, from the panel's state; every other part of the state is not a
  // condition.
  void Update(const PanelState& state, std::int64_t now_ms);
  // A condition that is there or not: the sounder, the service seen from a window.
  void Set(ConditionKind kind, std::string_view name, bool present, std::int64_t now_ms);
  // Each alarm report is a condition of its own, standing until the controller's reset.
  void Alarm(std::string_view name, std::int64_t now_ms);
  void AlarmsReset();

  // "done", or "refused: " and why. The comment and the reason are one line each.
  std::string Acknowledge(std::string_view id, std::string_view by, std::string_view comment,
                          std::int64_t now_ms, std::vector<ConditionNews>& news);
  std::string Shelve(std::string_view id, std::string_view by, std::string_view reason,
                     std::int64_t until_ms, std::int64_t now_ms, std::vector<ConditionNews>& news);
  // Reminders and the ends of shelves; call once per tick.
  void Tick(std::int64_t now_ms, std::vector<ConditionNews>& news);

  // Alarms, then faults and the sounder, then the link and the service, then whatever is
  // shelved; each group oldest first.
  std::vector<Condition> Ordered() const;
  // A shelved condition calls for no sound and no notification.
  bool Shelved(std::string_view id) const { return shelves_.find(id) != shelves_.end(); }
  // The fault lamps whose conditions are shelved, for the annunciator.
  FaultLamps ShelvedLamps() const;
  // "fault-1" .. "fault-12": lamp 0 .. 11's condition.
  static std::string LampId(int lamp) { return "fault-" + std::to_string(lamp + 1); }

 private:
  struct Shelf {
    std::string by, reason, name;
    std::int64_t until_ms = 0;
    bool reminded = false;
  };
  // A condition and when it came in: alarms of the same millisecond keep their order.
  struct Entry {
    Condition condition;
    long order = 0;
  };

  void Appear(const std::string& id, ConditionKind kind, std::string_view name, std::int64_t now);
  void Clear(const std::string& id);
  // Gone and acknowledged, and no shelf keeps it: nothing is left to show.
  void DropIfDone(const std::string& id);

  std::map<std::string, Entry, std::less<>> conditions_;
  std::map<std::string, Shelf, std::less<>> shelves_;
  long alarms_made_ = 0;
  long order_ = 0;
};

// What a view shows first when not every condition fits: the first and the latest alarm, the
// counts, and as many of the ordered list as there is room for.
struct ConditionSummary {
  const Condition* first_alarm = nullptr;
  const Condition* latest_alarm = nullptr;
  int alarms = 0;
  int faults = 0;  // every listed condition that is neither an alarm nor shelved
  int shelved = 0;
  std::vector<const Condition*> shown;
  int not_shown = 0;  // "N more not shown"
};
// The faults-only view leaves the alarms out of the list, not out of the counts.
ConditionSummary Summarize(const std::vector<Condition>& ordered, std::size_t room,
                           bool faults_only = false);
// One line for a status bar: "2 alarms (first ALERT, latest ALARM) · 3 faults · 1 shelved", or
// "No conditions".
std::string SummaryText(const ConditionSummary& summary);
// A moment (UTC milliseconds) as a time of day where the row is read: "14:03:22".
using TimeOfDayFn = std::function<std::string(std::int64_t utc_ms)>;
// One row of a list: "ALARM — new since 14:03:22", with the acknowledgement and the shelf.
std::string ConditionRowText(const Condition& condition, const TimeOfDayFn& time_of_day);

}  // namespace orv
