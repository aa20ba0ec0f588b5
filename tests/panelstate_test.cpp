// The panel's state as values: which section each field belongs to, and the store's numbered
// publications.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "panelstate/panel_state_store.h"

namespace orv {
namespace {

TEST(PanelState, EachFieldAloneMarksItsOwnSection) {
  const std::pair<std::function<void(PanelState&)>, unsigned> fields[] = {
      {[](PanelState& s) { s.lamps[11] = true; }, kSectionLamps},
      {[](PanelState& s) { s.pages[1].names[0] = "Hall"; }, PageSection(1)},
      {[](PanelState& s) { s.pages[2].states[119] = 1; }, PageSection(2)},
      {[](PanelState& s) { s.events = {"line"}; }, kSectionEvents},
      {[](PanelState& s) { s.line.alarm = true; }, kSectionLine},
      {[](PanelState& s) { s.link = LinkCondition::kNoReply; }, kSectionLine},
      {[](PanelState& s) { s.connected = true; }, kSectionConnection},
      {[](PanelState& s) { s.port = 4; }, kSectionConnection},
      {[](PanelState& s) { s.baud = "19200"; }, kSectionConnection},
      {[](PanelState& s) { s.supervision = true; }, kSectionConnection},
      {[](PanelState& s) { s.supervision_time = "20"; }, kSectionConnection},
      {[](PanelState& s) { s.access_levels = true; }, kSectionConnection},
      {[](PanelState& s) { s.sounding = "fault"; }, kSectionAnnunciation},
      {[](PanelState& s) { s.sounding_condition = "Fault report"; }, kSectionAnnunciation},
      {[](PanelState& s) { s.sounding_since.utc_ms = 5; }, kSectionAnnunciation},
      {[](PanelState& s) { s.silenced = 2; }, kSectionAnnunciation},
      {[](PanelState& s) { s.lamp_test = true; }, kSectionAnnunciation},
      {[](PanelState& s) { s.conditions.push_back({}); }, kSectionConditions},
      {[](PanelState& s) { s.logged_in.push_back({}); }, kSectionOperators},
  };
  int row = 0;
  for (const auto& [change, section] : fields) {
    PanelState one = EmptyPanelState();
    change(one);
    EXPECT_EQ(ChangedSections(EmptyPanelState(), one), section) << "row " << row++;
  }
}

TEST(PanelState, LinkConditionsReadBackByName) {
  for (const LinkCondition condition :
       {LinkCondition::kDisconnected, LinkCondition::kAnswering, LinkCondition::kNoReply}) {
    LinkCondition read =
        condition == LinkCondition::kNoReply ? LinkCondition::kAnswering : LinkCondition::kNoReply;
    EXPECT_TRUE(ParseLinkCondition(LinkConditionName(condition), read));
    EXPECT_EQ(read, condition);
  }
  LinkCondition untouched = LinkCondition::kAnswering;
  EXPECT_FALSE(ParseLinkCondition("lost", untouched));
  EXPECT_EQ(untouched, LinkCondition::kAnswering);
}

// Only a publication that changes something is numbered and said, with the sections it changed.
TEST(PanelStateStore, NumbersAndSaysOnlyWhatChanged) {
  PanelStateStore store;
  std::vector<std::pair<unsigned, std::uint64_t>> said;
  const Connection heard = store.changed().Connect(
      [&said](unsigned sections, std::uint64_t seq) { said.emplace_back(sections, seq); });
  PanelState next = store.state();
  EXPECT_EQ(store.Publish(next), 0U);
  next.lamps[0] = true;
  next.lamp_test = true;
  EXPECT_EQ(store.Publish(next), kSectionLamps | kSectionAnnunciation);
  EXPECT_EQ(store.Publish(next), 0U);
  next.events = {"12/07 03:09 Event = ALERT"};
  store.Publish(next);
  EXPECT_EQ(said, (std::vector<std::pair<unsigned, std::uint64_t>>{
                      {kSectionLamps | kSectionAnnunciation, 1}, {kSectionEvents, 2}}));
  EXPECT_EQ(store.seq(), 2U);
  EXPECT_EQ(store.state(), next);
}

}  // namespace
}  // namespace orv
