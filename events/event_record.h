#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/trigger_states.h"
#include "platform/clock.h"

namespace orv {

// One decoded event report, as every part that keeps or shows events receives it.
struct EventRecord {
  LocalDateTime time;
  std::uint8_t code = 0;
  std::int32_t value = 0;
  // The dated line, exactly as the events log shows it and EventLog.txt keeps it.
  std::string text;
  // The state table entries the report wrote, in order (none for units beyond the tables).
  std::vector<TriggerUpdate> trigger_updates;

  bool Updates(int page) const {
    for (const TriggerUpdate& update : trigger_updates) {
      if (update.page == page) return true;
    }
    return false;
  }
};

}  // namespace orv
