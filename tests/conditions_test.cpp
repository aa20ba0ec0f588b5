// The conditions' lifecycle on the tick clock: each row is a script of inputs, operator actions
// and ticks, and what the ordered list and the news say after it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "conditions/condition_book.h"
#include "link/fault_lamps.h"

namespace orv {
namespace {

constexpr std::int64_t kS = 1000;
constexpr std::int64_t kMin = 60 * kS;

// One step: at a time (ms), an input or an action, and what an action answers.
struct Step {
  Step(std::int64_t at, std::string op, std::string text = {}, std::int64_t until = 0,
       std::string answer = "done")
      : at(at), op(std::move(op)), text(std::move(text)), until(until), answer(std::move(answer)) {}
  std::int64_t at;
  // lamp N, dark N, silent, answering, alarm NAME, reset, ack ID, shelve ID, tick
  std::string op;
  std::string text;  // the comment or the reason
  std::int64_t until;
  std::string answer;
};

struct Script {
  const char* name;
  std::vector<Step> steps;
  std::string list;  // id:state@since_s, shelved marked, in order
  std::vector<std::string> news;
};

std::string Render(const std::vector<Condition>& ordered) {
  std::string out;
  for (const Condition& c : ordered)
    out += (out.empty() ? "" : " ") + c.id + ":" + std::string(ConditionStateName(c)) + "@" +
           std::to_string(c.since_ms / kS) + (c.shelved() ? "+shelf" : "");
  return out;
}

TEST(ConditionBook, LifecycleOnTheTickClock) {
  const std::string lamp1 = "\"" + std::string(kFaultLampCaptions[0]) + "\"";
  const std::string lamp2 = "\"" + std::string(kFaultLampCaptions[1]) + "\"";
  const std::string long_text(201, 'x');
  const std::vector<Script> scripts = {
      {"new, acknowledged, cleared: gone",
       {{1 * kS, "lamp 1"}, {2 * kS, "ack fault-1", "seen"}, {3 * kS, "dark 1"}},
       "",
       {"2: Acknowledged " + lamp1 + ": seen"}},
      {"cleared before anyone acknowledged: kept until acknowledged",
       {{1 * kS, "lamp 1"}, {2 * kS, "dark 1"}},
       "fault-1:cleared@1",
       {}},
      {"cleared unacknowledged, then acknowledged: gone",
       {{1 * kS, "lamp 1"}, {2 * kS, "dark 1"}, {3 * kS, "ack fault-1"}},
       "",
       {"3: Acknowledged " + lamp1}},
      {"back after it cleared unacknowledged: new again, from its return",
       {{1 * kS, "lamp 1"}, {2 * kS, "dark 1"}, {5 * kS, "lamp 1"}},
       "fault-1:new@5",
       {}},
      {"back after it was acknowledged and gone: new again",
       {{1 * kS, "lamp 1"}, {2 * kS, "ack fault-1"}, {3 * kS, "dark 1"}, {7 * kS, "lamp 1"}},
       "fault-1:new@7",
       {"2: Acknowledged " + lamp1}},
      {"still standing when acknowledged: stays, acknowledged",
       {{1 * kS, "lamp 2"}, {4 * kS, "ack fault-2", "line\nbreak"}},
       "fault-2:acknowledged@1",
       {"4: Acknowledged " + lamp2 + ": line break"}},
      {"shelved: a reminder 15 minutes before its end, then back",
       {{0, "lamp 1"},
        {1 * kS, "shelve fault-1", "works in riser B", 1 * kS + 60 * kMin},
        {1 * kS + 45 * kMin - 1, "tick"},
        {1 * kS + 45 * kMin, "tick"},
        {1 * kS + 50 * kMin, "tick"},
        {1 * kS + 60 * kMin, "tick"}},
       "fault-1:new@0",
       {"1: Shelved " + lamp1 + " for 60 min: works in riser B",
        "2701: Shelf of " + lamp1 + " ends in 15 min", "3601: Shelf of " + lamp1 + " ended"}},
      {"shelved, cleared and acknowledged: kept by its shelf, gone at its end",
       {{0, "lamp 1"},
        {0, "shelve fault-1", "works", 20 * kMin},
        {1 * kS, "dark 1"},
        {2 * kS, "ack fault-1"},
        {3 * kS, "tick"}},
       "fault-1:shelved@0+shelf",
       {"0: Shelved " + lamp1 + " for 20 min: works", "2: Acknowledged " + lamp1}},
      {"a shelf holds across a return",
       {{0, "lamp 1"},
        {0, "shelve fault-1", "works", 20 * kMin},
        {1 * kS, "dark 1"},
        {2 * kS, "lamp 1"}},
       "fault-1:new@2+shelf",
       {"0: Shelved " + lamp1 + " for 20 min: works"}},
      {"alarms, faults, the link, then what is shelved; each oldest first",
       {{0, "lamp 4"},
        {1 * kS, "lamp 3"},
        {2 * kS, "silent"},
        {3 * kS, "alarm ALERT"},
        {4 * kS, "alarm ALARM"},
        {5 * kS, "shelve fault-4", "works", 10 * kMin},
        {6 * kS, "lamp 2"}},
       "alarm-1:new@3 alarm-2:new@4 fault-3:new@1 fault-2:new@6 link:new@2 fault-4:new@0+shelf",
       {"5: Shelved \"" + std::string(kFaultLampCaptions[3]) + "\" for 10 min: works"}},
      {"the controller's reset clears every alarm",
       {{0, "alarm ALERT"}, {1 * kS, "alarm EMG"}, {2 * kS, "ack alarm-1"}, {3 * kS, "reset"}},
       "alarm-2:cleared@1",
       {"2: Acknowledged \"ALERT\""}},
      {"the link answering again clears it",
       {{0, "silent"}, {1 * kS, "answering"}},
       "link:cleared@0",
       {}},
      {"what is refused changes nothing",
       {{0, "lamp 1"},
        {0, "alarm EMG"},
        {1 * kS, "ack fault-9", "", 0, "refused: no such condition"},
        {1 * kS, "ack fault-1", long_text, 0, "refused: a comment is at most 200 characters"},
        {1 * kS, "shelve alarm-1", "works", 10 * kMin, "refused: an alarm cannot be shelved"},
        {1 * kS, "shelve fault-1", " \t", 10 * kMin, "refused: a shelf needs a reason"},
        {1 * kS, "shelve fault-1", long_text, 10 * kMin,
         "refused: a reason is at most 200 characters"},
        {1 * kS, "shelve fault-1", "works", 1 * kS, "refused: a shelf ends later than now"},
        {1 * kS, "shelve fault-1", "works", 1 * kS + 24 * 60 * kMin + 1,
         "refused: a shelf ends within 24 hours"},
        {1 * kS, "ack alarm-1"},
        {1 * kS, "ack alarm-1", "", 0, "refused: already acknowledged"}},
       "alarm-1:acknowledged@0 fault-1:new@0",
       {"1: Acknowledged \"EMG\""}},
      {"a shelf may last the whole 24 hours",
       {{0, "lamp 1"}, {0, "shelve fault-1", "works", 24 * 60 * kMin}},
       "fault-1:new@0+shelf",
       {"0: Shelved " + lamp1 + " for 1440 min: works"}},
  };
  for (const Script& script : scripts) {
    ConditionBook book;
    PanelState state = EmptyPanelState();
    state.link = LinkCondition::kAnswering;
    std::vector<ConditionNews> news;
    std::vector<std::string> said;  // each prefixed with the second it was said at
    for (const Step& step : script.steps) {
      const std::string op = step.op.substr(0, step.op.find(' '));
      const std::string arg = step.op.substr(step.op.find(' ') + 1);
      std::string answer = "done";
      if (op == "lamp" || op == "dark") {
        state.lamps[static_cast<std::size_t>(std::stoi(arg) - 1)] = op == "lamp";
        book.Update(state, step.at);
      } else if (op == "silent" || op == "answering") {
        state.link = op == "silent" ? LinkCondition::kNoReply : LinkCondition::kAnswering;
        book.Update(state, step.at);
      } else if (op == "alarm") {
        book.Alarm(arg, step.at);
      } else if (op == "reset") {
        book.AlarmsReset();
      } else if (op == "ack") {
        answer = book.Acknowledge(arg, "alice", step.text, step.at, news);
      } else if (op == "shelve") {
        answer = book.Shelve(arg, "bob", step.text, step.until, step.at, news);
      }
      book.Tick(step.at, news);
      EXPECT_EQ(answer, step.answer) << script.name << ": " << step.op;
      for (const ConditionNews& n : news)
        said.push_back(std::to_string(step.at / kS) + ": " + n.text);
      news.clear();
    }
    EXPECT_EQ(Render(book.Ordered()), script.list) << script.name;
    EXPECT_EQ(said, script.news) << script.name;
  }
}

TEST(ConditionBook, WhoActedAndWhyTravelWithTheCondition) {
  ConditionBook book;
  std::vector<ConditionNews> news;
  book.Set(ConditionKind::kSounder, "Sounder unavailable", true, 0);
  book.Set(ConditionKind::kService, "Service lost", true, 0);
  ASSERT_EQ(book.Acknowledge("sounder", "alice", "card replaced", 5 * kS, news), "done");
  ASSERT_EQ(book.Shelve("service", "bob", "upgrade", 30 * kMin, 6 * kS, news), "done");
  EXPECT_TRUE(book.Shelved("service"));
  EXPECT_FALSE(book.Shelved("sounder"));
  const std::vector<Condition> listed = book.Ordered();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(std::tuple(listed[0].acknowledged_by, listed[0].acknowledged_ms, listed[0].comment),
            std::tuple("alice", 5 * kS, "card replaced"));
  EXPECT_EQ(std::tuple(listed[1].shelved_by, listed[1].shelved_until_ms, listed[1].shelved_reason),
            std::tuple("bob", 30 * kMin, "upgrade"));
}

TEST(ConditionBook, AStormOfAlarmReportsKeepsTheFirstAndTheLatest) {
  ConditionBook book;
  for (int i = 1; i <= 250; ++i)
    book.Alarm("ALERT " + std::to_string(i), i);
  const std::vector<Condition> listed = book.Ordered();
  ASSERT_EQ(listed.size(), ConditionBook::kMostAlarms);
  EXPECT_EQ(listed.front().name, "ALERT 1");
  EXPECT_EQ(listed[1].name, "ALERT 152");
  EXPECT_EQ(listed.back().name, "ALERT 250");
}

TEST(ConditionSummary, TheFirstAndLatestAlarmTheCountsAndWhatDoesNotFit) {
  ConditionBook book;
  std::vector<ConditionNews> news;
  PanelState state = EmptyPanelState();
  state.lamps.fill(true);
  book.Update(state, 0);
  book.Alarm("ALERT", 1 * kS);
  book.Alarm("EMG", 2 * kS);
  book.Alarm("ALARM", 3 * kS);
  ASSERT_EQ(book.Shelve("fault-12", "bob", "works", 10 * kMin, 0, news), "done");
  const std::vector<Condition> listed = book.Ordered();
  struct Row {
    std::size_t room;
    bool faults_only;
    std::string first_shown;
    std::size_t shown;
    int not_shown;
  };
  for (const Row& row : {Row{4, false, "alarm-1", 4, 11}, Row{20, false, "alarm-1", 15, 0},
                         Row{4, true, "fault-1", 4, 8}, Row{0, false, "", 0, 15}}) {
    const ConditionSummary summary = Summarize(listed, row.room, row.faults_only);
    EXPECT_EQ(std::tuple(summary.alarms, summary.faults, summary.shelved), std::tuple(3, 11, 1));
    ASSERT_NE(summary.first_alarm, nullptr);
    EXPECT_EQ(summary.first_alarm->name + " " + summary.latest_alarm->name, "ALERT ALARM");
    EXPECT_EQ(summary.shown.empty() ? "" : summary.shown[0]->id, row.first_shown);
    EXPECT_EQ(std::pair(summary.shown.size(), summary.not_shown),
              std::pair(row.shown, row.not_shown));
    EXPECT_EQ(SummaryText(summary),
              "3 alarms (first ALERT, latest ALARM) \u00B7 11 faults \u00B7 1 shelved");
  }
  EXPECT_EQ(SummaryText(Summarize({}, 4)), "No conditions");
  EXPECT_EQ(SummaryText(Summarize({listed[0], listed[14]}, 4)), "1 alarm (ALERT) \u00B7 1 shelved");
  Condition shown = listed[14];
  std::tie(shown.acknowledged, shown.acknowledged_by, shown.comment) =
      std::tuple(true, "alice", "seen");
  shown.since_ms = 3'723'000;
  const auto seconds = [](std::int64_t ms) { return std::to_string(ms / 1000) + " s"; };
  EXPECT_EQ(ConditionRowText(shown, seconds),
            std::string(kFaultLampCaptions[11]) +
                " \u2014 acknowledged since 3723 s; acknowledged by alice: seen; shelved by bob "
                "until 600 s: works");
}

}  // namespace
}  // namespace orv
