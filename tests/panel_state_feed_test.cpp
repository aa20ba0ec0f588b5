// The window model publishes the panel's state from its values: the controller's lamps whatever
// a lamp test lights, the events whatever the window hides, the link as its watch has it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/form_fixture.h"

namespace orv {
namespace {

class PanelStateFeed : public test::FormTest {
 protected:
  std::string StateLamps() {
    std::string lit;
    for (const bool on : form().state_store().state().lamps)
      lit += on ? '1' : '0';
    return lit;
  }
};

TEST_F(PanelStateFeed, TheStateIsTheControllersWhateverTheWindowShows) {
  struct Step {
    const char* what;
    std::function<void()> act;
    const char* window_lamps;  // the twelve system lamps the window shows
    const char* state_lamps;
    bool lamp_test;
    int silenced = 0;  // conditions standing, their sound silenced: Mains, and no reply
  };
  MainForm& f = Load();
  ConnectAndClear();
  const std::vector<Step> steps = {
      {"Mains lamp lit", [this] { Image("40 00"); }, "000000100000", "000000100000", false},
      {"this window's lamp test", [&f] { f.annunciation().LampTest(); }, "111111111111",
       "000000100000", true},
      {"the test ends", [this] { Ticks(49); }, "000000100000", "000000100000", false},
      {"Silence", [&f] { f.annunciation().Silence(kSilenceFromWindow); }, "000000100000",
       "000000100000", false, 2},
      {"another window's lamp test", [&f] { f.annunciation().LampTest({}, false); }, "000000100000",
       "000000100000", true, 2},
      {"a report while Without Display is ticked",
       [&] {
         Ticks(49);
         f.NoDisplayCheck.SetValue(1);
         Report("15 00 00");
       },
       "000000100000", "000000100000", false, 1},  // the report is a reply
      {"Mains dark again", [this] { Image("00 00"); }, "000000000000", "000000000000", false},
      {"Mains lit again, the line closed as the service closes it to retry",
       [&] {
         Image("40 00");
         Ticks(1);
         f.CloseSerialPort();
       },
       "000000100000", "000000000000", false},
  };
  for (const Step& step : steps) {
    step.act();
    Ticks(1);
    const PanelState& state = f.state_store().state();
    EXPECT_EQ(Lamps().substr(0, 12), step.window_lamps) << step.what;
    EXPECT_EQ(StateLamps(), step.state_lamps) << step.what;
    EXPECT_EQ(state.lamp_test, step.lamp_test) << step.what;
    EXPECT_EQ(state.silenced, step.silenced) << step.what;
  }
  EXPECT_EQ(f.state_store().state().link, LinkCondition::kDisconnected);
  // The report the window hides is in the state's events all the same.
  ASSERT_FALSE(f.state_store().state().events.empty());
  EXPECT_NE(f.state_store().state().events.front().find("ALARM"), std::string::npos)
      << f.state_store().state().events.front();
}

// The conditions as the panel feeds them: a lamp from the state, an alarm from its report, the
// controller's reset; a shelved lamp no longer sounds.
TEST_F(PanelStateFeed, TheConditionsComeFromTheReportsAndTheLampsAndAShelfQuietsOne) {
  MainForm& f = Load();
  ConnectAndClear();
  const auto listed = [&f] {
    std::string text;
    for (const Condition& c : f.state_store().state().conditions)
      text += c.id + ":" + std::string(ConditionStateName(c)) + (c.shelved() ? "+shelf " : " ");
    return text + f.state_store().state().sounding;
  };
  Image("40 00");
  Ticks(1);
  EXPECT_EQ(listed(), "fault-7:new fault");
  std::vector<ConditionNews> news;
  const std::int64_t since = f.state_store().state().conditions[0].since_ms;
  ASSERT_EQ(f.conditions().Shelve("fault-7", "bob", "works", since + 60 * 60'000, since, news),
            "done");
  Ticks(1);
  EXPECT_EQ(listed(), "fault-7:new+shelf none");
  Report("14 00 00");
  Ticks(1);
  EXPECT_EQ(listed(), "alarm-1:new fault-7:new+shelf alarm");
  Report("13 00 00");
  Ticks(1);
  EXPECT_EQ(listed(), "alarm-1:cleared fault-7:new+shelf alarm");
}

}  // namespace
}  // namespace orv
