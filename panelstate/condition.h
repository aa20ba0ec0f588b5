#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// What a condition is about. A link and a lost service are told apart from a fault because an
// operator must know whether the panel still sees the controller at all.
enum class ConditionKind { kAlarm, kFault, kSounder, kLink, kService };

// One condition an operator must see, as every view shows it: what it is, since when, whether
// it still stands, who acknowledged it and how, and whether it is knowingly set aside.
struct Condition {
  std::string id;  // "alarm-3", "fault-5", "sounder", "link", "service"
  ConditionKind kind = ConditionKind::kFault;
  std::string name;
  std::int64_t since_ms = 0;  // when it last became new
  bool present = true;        // false: cleared, kept until acknowledged (or while shelved)
  bool acknowledged = false;
  std::string acknowledged_by;
  std::int64_t acknowledged_ms = 0;
  std::string comment;
  std::int64_t shelved_until_ms = 0;  // 0: not shelved
  std::string shelved_by;
  std::string shelved_reason;

  bool shelved() const { return shelved_until_ms != 0; }
  bool operator==(const Condition&) const = default;
};

// "alarm", "fault", "sounder", "link", "service".
std::string_view ConditionKindName(ConditionKind kind);
bool ParseConditionKind(std::string_view name, ConditionKind& kind);
// "new", "acknowledged", "cleared" (cleared, not acknowledged) or "shelved" (cleared and
// acknowledged, kept only by its shelf).
std::string_view ConditionStateName(const Condition& condition);

}  // namespace orv
