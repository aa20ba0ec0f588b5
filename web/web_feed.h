#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "attach/attach_hub.h"
#include "journal/journal.h"
#include "panelstate/panel_state.h"

namespace orv {

// What the web pages are sent: the panel's state with the attach protocol's numbered changes
// and heartbeat, and the journal's records as they are committed, the newest kept for a page
// that loads. A viewer without a log-in of its own sees the records without anyone in them.
class WebFeed {
 public:
  static constexpr std::size_t kEvents = 100;

  // New records as one message for every live page, one for operators and one for viewers
  // without a log-in; either empty when it has nothing to show them.
  struct Messages {
    std::string operators;
    std::string anonymous;
  };

  // Every tick, with the panel's state now: the bytes for operators' pages and for viewers'
  // (a change, each second a heartbeat), either empty when it has nothing for them. A viewer
  // without a log-in follows a state of its own, numbered apart, whose conditions leave out who
  // acknowledged or shelved them: it must not learn operators' names.
  Messages Tick(const PanelState& state);
  // Records committed to the journal, oldest first: those a page shows are kept and returned.
  Messages Records(const std::vector<JournalRow>& rows);

  // /api/state without its access part: {"seq":..,"state":{..},"lampCaptions":[..],
  // "events":[newest first]}, the events as an operator or an anonymous viewer sees them.
  std::string Snapshot(bool anonymous) const;

  // The kinds a page shows: the controller's events, the link and the operators' actions.
  static bool Shown(JournalKind kind) { return kind != JournalKind::kProgram; }

  std::int64_t newest_record() const { return newest_record_; }

 private:
  StateStream stream_;
  StateStream anonymous_stream_;
  std::deque<std::string> events_;  // each record's JSON, newest first
  std::deque<std::string> anonymous_events_;
  std::int64_t newest_record_ = 0;
};

// Whether a record is about access: a log in, log out or time-out, a refused PIN or action, or a
// count of refusals. These name operators and the names anyone tried, so a viewer without a
// log-in is not shown them. Known by the words the access gate and its refusals' summary write.
bool IsAccessRecord(const JournalEntry& entry);

// One record as a page shows it: {"seq","time","kind","text","detail","user"}. Anonymous: without
// the login, and without the detail unless it is an event's words (an action's names who did it).
std::string JournalRowJson(const JournalRow& row, bool anonymous = false);

}  // namespace orv
