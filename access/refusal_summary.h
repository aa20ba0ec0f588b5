#pragma once

// Refused actions and log-ins cost a peer nothing, so recording each one would let any peer fill
// the disk. The first refusal of an origin, kind and action is recorded in full; the ones after it
// within a window are counted and said in one record when the window closes or the origin does
// something else. Origins tracked and full records per window are both bounded, so the records
// refusals make stay small whatever the peers do.

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "access/access_gate.h"

namespace orv {

// One journal record to make: its text, and the origin whose login it carries.
struct RefusalRecord {
  Origin origin;
  std::string text;
};

class RefusalSummary {
 public:
  static constexpr std::chrono::seconds kWindow{10};
  // Origin, kind and action kept apart at once; when full, the oldest is said and dropped.
  static constexpr std::size_t kTracked = 64;
  // Full refusal records in one window across all origins; the rest are only counted.
  static constexpr std::size_t kFullPerWindow = 100;

  // What the event leaves to record now, in order: any summaries it closes, then the event itself
  // unless it was counted instead.
  std::vector<RefusalRecord> Take(const AccessEvent& event, AccessClock::time_point now);
  // Summaries whose window has closed by now.
  std::vector<RefusalRecord> Tick(AccessClock::time_point now);
  // Every open summary, at once (the program stops).
  std::vector<RefusalRecord> Flush(AccessClock::time_point now);

 private:
  using Key = std::tuple<Origin, AccessEventKind, std::optional<Action>>;
  struct Open {
    AccessClock::time_point since;
    std::size_t more = 0;  // counted after the full record
  };

  void Close(std::map<Key, Open>::iterator it, AccessClock::time_point now,
             std::vector<RefusalRecord>& out);
  void CloseOverflow(AccessClock::time_point now, std::vector<RefusalRecord>& out);

  std::map<Key, Open> open_;
  AccessClock::time_point window_since_{};
  std::size_t full_in_window_ = 0;
  std::size_t overflow_ = 0;  // refusals past the full records' bound, this window
};

}  // namespace orv
