#pragma once

#include <cstdint>
#include <string>

namespace orv {

// One notification as it goes out: the facts every channel passes on.
struct NotifyMessage {
  std::string type;       // "problem", "repeat", "escalation", "done" or "test"
  std::string rule;       // the rule's name from the settings
  std::string condition;  // the condition's id ("fault-3", "alarm-1", "link"); empty for a test
  std::string text;       // one line for people
  std::int64_t seq = 0;   // the journal's sequence number that keys it (with condition and step)
  std::int64_t since_ms = 0;  // when the condition began, UTC milliseconds
  int step = 0;               // 0 for the first, 1 for the first repeat, ...
  // Which controller of several (orvandel@NAME) speaks; empty for the plain service.
  std::string instance;

  bool operator==(const NotifyMessage&) const = default;
};

struct NotifyResult {
  bool ok = false;
  std::string answer;  // what came back, one line: "exit 0", "HTTP 200", the MTA's words
};

}  // namespace orv
