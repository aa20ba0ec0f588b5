// The one perform step, as the socket and the web panel reach it: every kind of action asked for
// at level 1 and at its own level, gated once as its own action, and its records carrying the
// actor the gate named.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "panel/panel_actions.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using PanelActionsTest = test::FormTest;

// A request of its kind with the fields it uses: key, page, number, state, name, port, baud.
ActionRequest Ask(ActionKind kind, int key = 0, int page = 0, int number = 0, int state = 0,
                  std::string name = "", int port = 0, std::string baud = "") {
  ActionRequest request;
  request.kind = kind;
  request.key = key;
  request.page = page;
  request.number = number;
  request.state = state;
  request.name = std::move(name);
  request.port = port;
  request.baud = std::move(baud);
  return request;
}

TEST_F(PanelActionsTest, EveryKindAtLevel1AndAtItsOwnLevelAsItsOwnActionForItsActor) {
  AccessGate gate(UsersFile{AccessMode::kOn,
                            {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false},
                             {"carol", AccessLevel::kLevel3, *HashPin("5678"), false}}});
  gate_ = &gate;
  Load();
  PanelActions actions(form(),
                       ServiceLine{[this](const Actor& by) { form().ConnectCB_Click(by); },
                                   [this](const Actor& by) { form().ConnectCB_Click(by); }});
  const Origin bob{OriginKind::kLocalSocket, "bob"};
  std::optional<AccessEvent> asked;
  const Connection asking = gate.events.Connect([&asked](const AccessEvent& e) {
    if (e.kind == AccessEventKind::kAction || e.kind == AccessEventKind::kRefusedAction) asked = e;
  });
  std::vector<JournalEntry> records;
  const Connection recording =
      form().recorded().Connect([&records](const JournalEntry& e) { records.push_back(e); });

  using K = ActionKind;
  // A lamp lit: a condition to acknowledge and to shelve.
  form().ConnectCB_Click();
  Image("40 00");
  Ticks(1);
  ActionRequest acknowledge = Ask(K::kAcknowledge), shelve = Ask(K::kShelve);
  acknowledge.condition = shelve.condition = "fault-7";
  shelve.text = "works";
  shelve.until_ms = form().state_store().state().conditions.at(0).since_ms + 60 * 60'000;
  struct Case {
    ActionRequest request;
    const char* gated_as;  // the action the gate is asked for
    int level;
    bool connected;  // before it is asked for
    bool recorded;   // whether doing it makes a record
  };
  const Case cases[] = {
      {Ask(K::kKey, 1), "EMG", 2, true, true},
      {Ask(K::kKey, 2), "EMG ACK", 2, true, true},
      {Ask(K::kKey, 3), "EMG Reset", 2, true, true},
      {Ask(K::kKey, 4), "Fault ACK", 2, true, true},
      {Ask(K::kKey, 5), "Fault Reset", 2, true, true},
      {Ask(K::kKey, 6), "EMG Message", 2, true, true},
      {Ask(K::kImpedanceCheck), "Impedance Check", 2, true, true},
      {Ask(K::kTrigger, 0, 1, 60, 1), "Trigger switching", 2, true, true},
      {Ask(K::kSupervision, 0, 0, 0, 1, "30"), "Supervision on/off", 2, true, true},
      {Ask(K::kRename, 0, 2, 120, 0, "Hall"), "Trigger renaming", 3, true, true},
      {Ask(K::kDisconnect), "Connection/Disconnection", 3, true, true},
      {Ask(K::kConnect), "Connection/Disconnection", 3, false, true},
      {Ask(K::kPort, 0, 0, 0, 0, "", 3), "Port and baud rate", 3, false, false},
      {Ask(K::kBaud, 0, 0, 0, 0, "", 0, "19200"), "Port and baud rate", 3, false, false},
      {Ask(K::kSilence, 0, 0, 0, 0, "Esc"), "Silence", 1, true, true},
      {Ask(K::kLampTest), "Lamp test", 1, true, true},
      {acknowledge, "Acknowledge", 1, true, true},
      {shelve, "Shelve", 2, true, true},
  };
  const std::pair<const char*, const char*> logins[] = {{"alice", "1234"}, {"carol", "5678"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gated_as);
    if (form().link().port_connected() != c.connected) form().ConnectCB_Click();
    // Something sounding, for a silence to silence.
    form().annunciation().OnReport(Annunciator::kFaultReport);
    form().annunciation().Tick(false, false);
    for (int level = 1; level <= c.level; level += c.level - 1) {
      gate.LogOut(bob, access_now_);
      if (level > 1) {
        const auto& [name, pin] = logins[level - 2];
        ASSERT_EQ(gate.LogIn(bob, name, pin, access_now_).outcome, LogInOutcome::kOk);
      }
      access_now_ += std::chrono::seconds(1);  // at a hand's pace
      records.clear();
      port_.ClearWrites();
      asked.reset();
      const std::string result = PerformAtGate(&gate, actions, c.request, bob, access_now_);
      ASSERT_TRUE(asked.has_value());
      EXPECT_EQ(std::string(ActionName(*asked->action)), c.gated_as);
      if (level < c.level) {
        EXPECT_EQ(result, "refused: level " + std::to_string(c.level) + " needed");
        EXPECT_TRUE(port_.writes().empty());
        continue;
      }
      EXPECT_EQ(result, kResultDone);
      EXPECT_EQ(records.empty(), !c.recorded);
      const std::string actor = level == 1 ? "level 1"
                                           : std::string("operator ") + logins[level - 2].first +
                                                 ", level " + std::to_string(level);
      for (const JournalEntry& record : records)
        EXPECT_EQ(record.login + " / " + record.detail, "bob / " + actor) << record.text;
      if (level == 1) break;
    }
  }
}

}  // namespace
}  // namespace orv
