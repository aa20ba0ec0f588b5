#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/panel_state.h"
#include "journal/journal.h"

namespace orv {

// What the web pages are sent: the panel's state with the attach protocol's numbered changes
// and heartbeat, and the journal's records as they are committed, the newest kept for a page
// that loads.
class WebFeed {
 public:
  static constexpr std::size_t kEvents = 100;

  // Every tick, with the panel's state now: the bytes for every live page (a change, each second
  // a heartbeat), or nothing.
  std::string Tick(const PanelState& state) { return stream_.Tick(state); }
  // Records committed to the journal, oldest first: those a page shows are kept and returned as
  // one message for every live page (empty when none is shown).
  std::string Records(const std::vector<JournalRow>& rows);

  // /api/state without its access part: {"seq":..,"state":{..},"lampCaptions":[..],
  // "events":[newest first]}.
  std::string Snapshot() const;

  // The kinds a page shows: the controller's events, the link and the operators' actions.
  static bool Shown(JournalKind kind) { return kind != JournalKind::kProgram; }

  std::int64_t seq() const { return stream_.seq(); }
  std::int64_t newest_record() const { return newest_record_; }

 private:
  StateStream stream_;
  std::deque<std::string> events_;  // each record's JSON, newest first
  std::int64_t newest_record_ = 0;
};

// One record as a page shows it: {"seq","time","kind","text","detail","user"}.
std::string JournalRowJson(const JournalRow& row);

}  // namespace orv
