#include "panelstate/condition.h"

#include <array>
#include <utility>

namespace orv {
namespace {

constexpr std::array<std::pair<ConditionKind, std::string_view>, 5> kKindNames{{
    {ConditionKind::kAlarm, "alarm"},
    {ConditionKind::kFault, "fault"},
    {ConditionKind::kSounder, "sounder"},
    {ConditionKind::kLink, "link"},
    {ConditionKind::kService, "service"},
}};

}  // namespace

std::string_view ConditionKindName(ConditionKind kind) {
  for (const auto& [k, name] : kKindNames)
    if (k == kind) return name;
  return "fault";
}

bool ParseConditionKind(std::string_view name, ConditionKind& kind) {
  for (const auto& [k, n] : kKindNames)
    if (n == name) {
      kind = k;
      return true;
    }
  return false;
}

std::string_view ConditionStateName(const Condition& condition) {
  if (condition.present) return condition.acknowledged ? "acknowledged" : "new";
  return condition.acknowledged ? "shelved" : "cleared";
}

}  // namespace orv
