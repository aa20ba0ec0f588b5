// The shift handover report: what an incoming operator must know, rebuilt from the journal's
// records alone (the conditions, their acknowledgements and shelves, refusals, the link, who
// logged in), so that the command line, the window and a later reader all see the same report.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal.h"

namespace orv {

// A condition as the records show it at the report's end.
struct HandoverCondition {
  std::string kind;  // "alarm", "fault", "link"
  std::string name;
  JournalTime since;
  bool present = true;
  JournalTime cleared;  // when present went false
  bool acknowledged = false;
  std::string acknowledged_by;
  JournalTime acknowledged_at;
  std::string comment;
  // No longer in the panel's list since the program started again: kept for the cleared
  // section, and nothing acknowledges it any more.
  bool superseded = false;
};

struct HandoverShelf {
  std::string name;
  std::string by;
  std::string reason;
  JournalTime shelved_at;
  std::int64_t until_ms = 0;
};

// An operator logged in at the report's end, from the last log-in at that origin.
struct HandoverSession {
  std::string name;
  std::string origin;  // "window", "web 192.0.2.7", "local user alice"
  JournalTime since;
};

struct HandoverReport {
  JournalTime from;
  JournalTime to;
  // The sign-off the report starts from: its record's text; empty when none (the last 24 h) or
  // when a start was given.
  std::string since_handover;
  std::vector<HandoverCondition> unacknowledged;  // standing, not acknowledged
  std::vector<HandoverCondition> acknowledged;    // standing, acknowledged
  std::vector<HandoverCondition> cleared;         // cleared within the period
  std::vector<HandoverShelf> shelves_ending;      // ending within kShelfHorizonMs of the end
  std::vector<JournalRow> refusals;
  std::vector<JournalRow> link_losses;
  std::vector<JournalRow> logins;  // log-ins, log-outs and time-outs
  std::vector<HandoverSession> logged_in;
  // Records past HandoverBuilder::kMostRows in a section, counted instead of listed.
  std::size_t rows_left_out = 0;
};

inline constexpr std::int64_t kHandoverDefaultSpanMs = 24LL * 3600 * 1000;
inline constexpr std::int64_t kShelfHorizonMs = 8LL * 3600 * 1000;

// The text a sign-off's record begins with: the newest such operator record is the last handover.
inline constexpr std::string_view kHandoverRecordPrefix = "Handover signed";

// Replays the records in order (from a program start or earlier, so that what stood before the
// period is known) and keeps the period's sections for the records from from_ms to the end.
class HandoverBuilder {
 public:
  // The most conditions kept at once, whatever the records hold.
  static constexpr std::size_t kMostConditions = 2000;
  // The most rows kept per listed section; more are counted.
  static constexpr std::size_t kMostRows = 5000;

  HandoverBuilder(std::int64_t from_ms, JournalTime to) : from_ms_(from_ms), to_(to) {}

  // Records after the end are not read.
  void Take(const JournalRow& row);
  HandoverReport Finish(std::string since_handover = {}) const;

 private:
  bool InPeriod(const JournalEntry& entry) const { return entry.time.utc_ms >= from_ms_; }
  void Keep(std::vector<JournalRow>& section, const JournalRow& row);
  void TakeEvent(const JournalEntry& entry);
  void TakeLink(const JournalEntry& entry);
  void TakeOperator(const JournalRow& row);
  void Appear(std::string_view kind, std::string_view name, const JournalTime& at);
  void Clear(std::string_view kind, std::string_view name, const JournalTime& at);
  // A program start or stop: the panel's book, its shelves and log-ins begin again.
  void Restart();
  // The condition an acknowledgement of name is for; null when none the panel lists.
  HandoverCondition* Acknowledged(std::string_view name);

  std::int64_t from_ms_;
  JournalTime to_;
  std::vector<HandoverCondition> conditions_;  // in order of appearance
  std::map<std::string, HandoverShelf, std::less<>> shelves_;
  std::map<std::string, HandoverSession, std::less<>> sessions_;  // by origin
  std::vector<JournalRow> refusals_, link_losses_, logins_;
  std::size_t left_out_ = 0;
};

}  // namespace orv
