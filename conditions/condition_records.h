// The condition book's records read back: what the journal says was acknowledged, shelved and
// when a shelf ended, for whoever rebuilds the conditions from the records (the handover report).
// The words are those ConditionBook's news makes; its tests hold the two together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

struct ConditionRecord {
  enum class Kind { kAcknowledged, kShelved, kShelfEnded };
  Kind kind = Kind::kAcknowledged;
  std::string name;          // the condition's name, as the book lists it
  std::string words;         // the comment of an acknowledgement, the reason of a shelf
  std::int64_t minutes = 0;  // how long a shelf is for
};

// The record's text, or nothing when it is not one of the book's (a reminder is not: it changes
// nothing).
std::optional<ConditionRecord> ParseConditionRecord(std::string_view text);

}  // namespace orv
