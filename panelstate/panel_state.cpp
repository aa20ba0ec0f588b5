#include "panelstate/panel_state.h"

#include <utility>

namespace orv {

namespace {
constexpr std::array<std::pair<LinkCondition, std::string_view>, 3> kLinkConditionNames{{
    {LinkCondition::kDisconnected, "disconnected"},
    {LinkCondition::kAnswering, "answering"},
    {LinkCondition::kNoReply, "no reply"},
}};
}  // namespace

std::string_view LinkConditionName(LinkCondition condition) {
  for (const auto& [value, name] : kLinkConditionNames)
    if (value == condition) return name;
  return {};
}

bool ParseLinkCondition(std::string_view name, LinkCondition& condition) {
  for (const auto& [value, text] : kLinkConditionNames) {
    if (text == name) {
      condition = value;
      return true;
    }
  }
  return false;
}

int PageSize(int page) {
  return page >= 0 && page < PanelState::kPages ? kTriggerPages[static_cast<std::size_t>(page)].size
                                                : 0;
}

PanelState EmptyPanelState() {
  PanelState state;
  for (int p = 0; p < PanelState::kPages; ++p) {
    auto& page = state.pages[static_cast<std::size_t>(p)];
    page.states.assign(static_cast<std::size_t>(PageSize(p)), 0);
    page.names.assign(static_cast<std::size_t>(PageSize(p)), std::string());
  }
  return state;
}

unsigned ChangedSections(const PanelState& before, const PanelState& after) {
  unsigned changed = 0;
  if (before.lamps != after.lamps) changed |= kSectionLamps;
  for (int p = 0; p < PanelState::kPages; ++p) {
    if (before.pages[static_cast<std::size_t>(p)] != after.pages[static_cast<std::size_t>(p)])
      changed |= PageSection(p);
  }
  if (before.events != after.events) changed |= kSectionEvents;
  if (before.line != after.line || before.link != after.link) changed |= kSectionLine;
  if (before.connected != after.connected || before.port != after.port ||
      before.baud != after.baud || before.supervision != after.supervision ||
      before.supervision_time != after.supervision_time ||
      before.access_levels != after.access_levels)
    changed |= kSectionConnection;
  if (before.sounding != after.sounding || before.sounding_condition != after.sounding_condition ||
      before.sounding_since != after.sounding_since || before.silenced != after.silenced ||
      before.lamp_test != after.lamp_test)
    changed |= kSectionAnnunciation;
  if (before.conditions != after.conditions) changed |= kSectionConditions;
  if (before.logged_in != after.logged_in) changed |= kSectionOperators;
  return changed;
}

}  // namespace orv
