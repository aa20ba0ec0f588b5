// Lookups in the one table of operator actions.
#include "access/operator_actions.h"


namespace orv {

Action KeyAction(std::uint8_t code) {
  for (const OperatorAction& row : kOperatorActions) {
    if (row.form.kind == ActionKind::kKey && row.key == code) return row.action;
  }
  return Action::kEmgMessage;
}

std::optional<Action> RequestAction(const ActionRequest& request) {
  if (request.kind == ActionKind::kKey) return KeyAction(static_cast<std::uint8_t>(request.key));
  for (const OperatorAction& row : kOperatorActions) {
    if (row.form.kind == request.kind ||
        (!row.other.wire.empty() && row.other.kind == request.kind))
      return row.action;
  }
  return std::nullopt;
}

namespace {

template <typename Visit>
bool EachForm(Visit visit) {
  if (visit(kLogInForm) || visit(kLogOutForm)) return true;
  for (const OperatorAction& row : kOperatorActions) {
    if (visit(row.form) || (!row.other.wire.empty() && visit(row.other))) return true;
  }
  return false;
}

}  // namespace

std::string_view WireName(ActionKind kind) {
  std::string_view name;
  EachForm([&](const ActionForm& form) {
    if (form.kind != kind) return false;
    name = form.wire;
    return true;
  });
  return name;
}

std::optional<ActionKind> KindOfWireName(std::string_view name) {
  std::optional<ActionKind> kind;
  if (name.empty()) return kind;
  EachForm([&](const ActionForm& form) {
    if (form.wire != name) return false;
    kind = form.kind;
    return true;
  });
  return kind;
}

std::string ActorText(const Actor& actor) {
  if (!actor.level) return {};
  const std::string level = "level " + std::to_string(LevelNumber(*actor.level));
  return actor.operator_name.empty() ? level : "operator " + actor.operator_name + ", " + level;
}

}  // namespace orv
