#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

  bool operator==(const NotifyMessage&) const = default;
};

struct NotifyResult {
  bool ok = false;
  std::string answer;  // what came back, one line: "exit 0", "HTTP 200", the MTA's words
};

// UTC milliseconds as ISO 8601 to the second: "2026-12-08T21:03:22Z".
std::string IsoUtc(std::int64_t utc_ms);

// A time limit as people say it: "10 s", "300 ms".
std::string LimitInWords(std::chrono::milliseconds limit);

// text as one line of at most max_bytes: line breaks and other control characters become
// blanks, bytes that are not UTF-8 become '?', and a cut never splits a character.
std::string OneLine(std::string_view text, std::size_t max_bytes);

// The first line of what a program said, bounded, with nothing when it said nothing.
std::string FirstLine(std::string_view output);

}  // namespace orv
