// What orvandelctl prints of the service's state, its changes and the journal, and the exit
// status a script reads from the state or an action's answer.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <string>
#include <vector>

#include "access/operator_actions.h"
#include "ctl/ctl_args.h"
#include "ctl/ctl_render.h"

namespace orv {
namespace {

Condition Standing(const char* id, ConditionKind kind, bool present = true) {
  Condition c;
  c.id = id;
  c.kind = kind;
  c.name = std::string("name of ") + id;
  c.present = present;
  return c;
}

QJsonObject Json(const std::string& line) {
  EXPECT_EQ(line.find('\n'), std::string::npos);
  return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

TEST(CtlRender, TheStateSaysWhatStandsAsAnExitStatus) {
  const auto shelved = [] {
    Condition c = Standing("fault-2", ConditionKind::kFault);
    c.shelved_until_ms = 1;
    return c;
  }();
  const auto acknowledged = [] {
    Condition c = Standing("fault-2", ConditionKind::kFault);
    c.acknowledged = true;
    return c;
  }();
  const struct {
    std::vector<Condition> conditions;
    int code;
  } cases[] = {
      {{}, kCtlQuiet},
      {{Standing("fault-2", ConditionKind::kFault)}, kCtlFaults},
      {{acknowledged}, kCtlFaults},
      {{Standing("link", ConditionKind::kLink)}, kCtlFaults},
      {{Standing("service", ConditionKind::kService)}, kCtlFaults},
      {{Standing("alarm-1", ConditionKind::kAlarm)}, kCtlAlarm},
      // Alarms first, as the book orders them.
      {{Standing("alarm-1", ConditionKind::kAlarm), Standing("fault-2", ConditionKind::kFault)},
       kCtlAlarm},
      // Gone, waiting only for an acknowledgement; set aside on purpose.
      {{Standing("alarm-1", ConditionKind::kAlarm, false)}, kCtlQuiet},
      {{shelved}, kCtlQuiet},
      {{shelved, Standing("link", ConditionKind::kLink)}, kCtlFaults},
  };
  for (const auto& c : cases) {
    PanelState state = EmptyPanelState();
    state.conditions = c.conditions;
    EXPECT_EQ(StateExitCode(state), c.code) << c.conditions.size();
  }
}

TEST(CtlRender, AnActionsAnswerSaysWhetherItWasDone) {
  const struct {
    const char* result;
    int code;
  } cases[] = {
      {"done", kCtlQuiet},
      {"logged in: alice, level 2", kCtlQuiet},
      {"logged out", kCtlQuiet},
      {"refused: level 2 needed", kCtlRefused},
      {"not connected", kCtlRefused},
      {"not logged in: wait 4 s", kCtlRefused},
      {"access levels are off", kCtlRefused},
      {"", kCtlRefused},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResultExitCode(c.result), c.code) << c.result;
}

TEST(CtlRender, StatusNumbersTheLampsAsTheWindowAndListsTheConditions) {
  PanelState state = EmptyPanelState();
  state.lamps[3] = true;
  state.link = LinkCondition::kAnswering;
  Condition fault = Standing("fault-4", ConditionKind::kFault);
  fault.acknowledged = true;
  fault.acknowledged_by = "alice";
  fault.comment = "seen";
  fault.since_ms = 1765000000000;
  state.conditions = {fault};
  state.access_levels = true;
  state.logged_in = {{"alice", 2, "orvandelctl as root"}};

  const std::string text = StatusText(state);
  for (const char* line :
       {"\nlamp 1 Processor reset: dark\n", "\nlamp 4 Music/Spare: lit\n",
        "\nlamp 12 Router: dark\n", "link: answering\n",
        "\ncondition fault-4 (fault) name of fault-4: acknowledged since "
        "2025-12-06T05:46:40+00:00, acknowledged by alice: seen\n",
        "\nlogged in: alice (level 2, orvandelctl as root)\n", "\nstanding: faults\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

  const QJsonObject json = Json(StatusJson(state));
  const QJsonArray lamps = json["lamps"].toArray();
  ASSERT_EQ(lamps.size(), 12);
  EXPECT_EQ(lamps[3].toObject(),
            (QJsonObject{{"lamp", 4}, {"caption", "Music/Spare"}, {"lit", true}}));
  EXPECT_FALSE(lamps[0]["lit"].toBool());
  EXPECT_EQ(json["conditions"][0]["id"].toString(), "fault-4");
  EXPECT_EQ(json["conditions"][0]["acknowledgedBy"].toString(), "alice");
  EXPECT_EQ(json["line"]["link"].toString(), "answering");
  EXPECT_EQ(json["standing"].toString(), "faults");
  EXPECT_EQ(json["operators"][0].toObject(),
            (QJsonObject{{"name", "alice"}, {"level", 2}, {"where", "orvandelctl as root"}}));
  // The trigger pages and the events' box are the window's, not a status.
  EXPECT_FALSE(json.contains("pages") || json.contains("events"));
}

TEST(CtlRender, AChangeIsOneLineOfWhatAPersonSeesChange) {
  using Edit = std::function<void(PanelState&)>;
  const auto conditions = [](std::vector<Condition> list) {
    return [list](PanelState& s) { s.conditions = list; };
  };
  Condition acknowledged = Standing("fault-4", ConditionKind::kFault);
  acknowledged.acknowledged = true;
  const struct {
    Edit before, after;
    unsigned sections;
    std::string line;
  } cases[] = {
      {[](PanelState&) {}, [](PanelState& s) { s.lamps[3] = true; }, kSectionLamps,
       "7: lamp 4 Music/Spare lit"},
      {[](PanelState& s) { s.lamps[0] = true; },
       [](PanelState& s) { s.lamps[0] = false, s.lamps[11] = true; }, kSectionLamps,
       "7: lamp 1 Processor reset dark; lamp 12 Router lit"},
      // Only the sections the change carried.
      {[](PanelState&) {}, [](PanelState& s) { s.lamps[3] = true; }, kSectionLine, ""},
      {[](PanelState&) {}, [](PanelState& s) { s.pages[2].states[119] = 1; }, PageSection(2),
       "7: trigger 2:120 on"},
      {[](PanelState& s) {
         s.events = {"b", "a"};
       },
       [](PanelState& s) {
         s.events = {"d", "c", "b", "a"};
       },
       kSectionEvents, "7: event c; event d"},
      {[](PanelState&) {},
       [](PanelState& s) {
         s.events = {"b", "a"};
       },
       kSectionEvents, "7: event a; event b"},
      {[](PanelState&) {},
       [](PanelState& s) { s.link = LinkCondition::kNoReply, s.line.state = "No reply"; },
       kSectionLine, "7: link no reply"},
      // The line's words and counters move with every poll: nothing a person needs a line for.
      {[](PanelState&) {},
       [](PanelState& s) {
         s.line.state = "Connected: last reply 0.2 s ago", s.line.details = "5";
       },
       kSectionLine, ""},
      {[](PanelState&) {}, [](PanelState& s) { s.connected = true; }, kSectionConnection,
       "7: connected"},
      {[](PanelState&) {},
       [](PanelState& s) { s.sounding = "fault", s.sounding_condition = "Mains"; },
       kSectionAnnunciation, "7: sounding fault (Mains)"},
      {[](PanelState& s) { s.sounding = "fault"; },
       [](PanelState& s) { s.sounding = "none", s.silenced = 1; }, kSectionAnnunciation,
       "7: sounding none; 1 silenced"},
      {conditions({}), conditions({Standing("fault-4", ConditionKind::kFault)}), kSectionConditions,
       "7: fault-4 new"},
      {conditions({Standing("fault-4", ConditionKind::kFault)}), conditions({acknowledged}),
       kSectionConditions, "7: fault-4 acknowledged"},
      {conditions({Standing("link", ConditionKind::kLink), acknowledged}),
       conditions({Standing("link", ConditionKind::kLink)}), kSectionConditions, "7: fault-4 gone"},
      {[](PanelState& s) {
         s.logged_in = {{"bob", 3, "window"}};
       },
       [](PanelState& s) {
         s.logged_in = {{"alice", 2, "web 192.0.2.7"}};
       },
       kSectionOperators,
       "7: logged out bob (level 3, window); logged in alice (level 2, web 192.0.2.7)"},
  };
  for (const auto& c : cases) {
    // after: before, edited.
    PanelState before = EmptyPanelState();
    c.before(before);
    PanelState after = before;
    c.after(after);
    EXPECT_EQ(ChangeText(7, before, after, c.sections), c.line);
  }
}

TEST(CtlRender, AChangeAsJsonCarriesItsSectionsAlone) {
  PanelState state = EmptyPanelState();
  state.lamps[5] = true;
  const QJsonObject json = Json(ChangeJson(9, state, kSectionLamps | kSectionLine));
  EXPECT_EQ(json["seq"].toInteger(), 9);
  EXPECT_EQ(json["state"]["lamps"][5].toObject(),
            (QJsonObject{{"lamp", 6}, {"caption", "Input"}, {"lit", true}}));
  EXPECT_EQ(json["state"]["line"]["link"].toString(), "disconnected");
  EXPECT_EQ(json["state"].toObject().keys(), (QStringList{"lamps", "line"}));
}

TEST(CtlRender, AWordOfTheServiceIsAJsonString) {
  EXPECT_EQ(Json(ResultJson("logged \"out\"\n"))["result"].toString(), "logged \"out\"\n");
}

TEST(CtlRender, AJournalRecordIsOneLine) {
  const JournalRow row{42,
                       {{1765000000250, 3600},
                        JournalKind::kEvent,
                        "Event = Fault",
                        "02 01",
                        "alice",
                        "panel-pc",
                        "Mains"},
                       ""};
  EXPECT_EQ(EventText(row), "42 2025-12-06T06:46:40+01:00 event alice: Event = Fault (Mains)");
  const QJsonObject json = Json(EventJson(row));
  EXPECT_EQ(json, (QJsonObject{{"seq", 42},
                               {"time", "2025-12-06T06:46:40.250+01:00"},
                               {"kind", "event"},
                               {"text", "Event = Fault"},
                               {"detail", "Mains"},
                               {"user", "alice"},
                               {"host", "panel-pc"}}));
}

}  // namespace
}  // namespace orv
