// The attach protocol's hub without sockets. Then both ends over the window model: the service
// acting as the window's controls would, under the window's user; a window's model showing the
// state and never echoing it back.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "access/pin_hash.h"
#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "attach/attached_panel.h"
#include "panel/panel_actions.h"
#include "service/headless_runner.h"
#include "tests/fake_window.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FakeWindow;

// The last message the window was sent, its state read into state.
ServerMessage Last(const FakeWindow& window, PanelState& state) {
  ServerMessage message;
  std::string error;
  EXPECT_TRUE(ParseServerMessage(window.messages.back(), state, message, error)) << error;
  return message;
}

TEST(AttachHub, NumbersChangesBeatsEverySecondAndAnswersActionsAsTheUser) {
  std::vector<std::string> performed;
  AttachHub hub(AttachLimits{}, [&](const ActionRequest& action, const std::string& user) {
    performed.push_back(user + " " + std::to_string(action.key));
    return std::string(kResultNotConnected);
  });
  FakeWindow window;
  const int id = hub.Attach("alice", window.Write(), window.Queued());
  ASSERT_NE(id, 0);
  PanelState seen = EmptyPanelState();
  EXPECT_EQ(Last(window, seen).type, ServerMessageType::kSnapshot);

  PanelState state = EmptyPanelState();
  hub.Tick(state);  // nothing changed, a second not yet over: nothing sent
  state.lamps[3] = true;
  hub.Tick(state);
  const ServerMessage change = Last(window, seen);
  EXPECT_EQ(std::tuple(change.type, change.seq, change.sections),
            std::tuple(ServerMessageType::kChange, 1L, kSectionLamps));
  EXPECT_TRUE(seen.lamps[3]);
  for (int tick = 3; tick <= AttachHub::kHeartbeatTicks; ++tick)
    hub.Tick(state);
  ASSERT_EQ(window.messages.size(), 3U);
  EXPECT_EQ(window.messages.back(), "{\"seq\":1,\"type\":\"heartbeat\"}\n");

  // Two actions in one read, the second cut in two.
  const std::string two = R"({"action":"key","id":9,"key":2,"type":"action"}
{"action":"key","id":10,"key":5,"type":"action"}
)";
  ASSERT_TRUE(hub.Received(id, two.substr(0, two.size() - 4)));
  ASSERT_TRUE(hub.Received(id, two.substr(two.size() - 4)));
  EXPECT_EQ(performed, (std::vector<std::string>{"alice 2", "alice 5"}));
  EXPECT_EQ(window.messages.back(), R"({"id":10,"result":"not connected","type":"result"})"
                                    "\n");
  // A line that is no action is answered, not performed.
  ASSERT_TRUE(hub.Received(id, "{\"type\":\"action\",\"action\":\"key\",\"key\":9}\n"));
  EXPECT_EQ(Last(window, seen).text.rfind("refused: ", 0), 0U);
  EXPECT_EQ(performed.size(), 2U);
}

TEST(AttachHub, HoldsItsBoundsOnQueuesAndRequests) {
  const AttachLimits limits{.max_request_bytes = 64, .max_queue_bytes = 4096};
  AttachHub hub(limits, [](const ActionRequest&, const std::string&) { return "done"; });
  FakeWindow windows[3];
  int ids[3] = {};
  for (int i = 0; i < 3; ++i)
    ids[i] = hub.Attach("u", windows[i].Write(), windows[i].Queued());
  // Window 1 stops reading: it is dropped when its queue would pass the bound; the others get
  // every change.
  windows[1].reading = false;
  PanelState state = EmptyPanelState();
  std::vector<int> dropped;
  int changes = 0;
  while (dropped.empty() && changes < 100) {
    state.events.assign(1, std::string(500, static_cast<char>('a' + changes % 26)));
    dropped = hub.Tick(state);
    ++changes;
  }
  EXPECT_EQ(dropped, std::vector<int>{ids[1]});
  EXPECT_LE(windows[1].unsent, limits.max_queue_bytes);
  EXPECT_EQ(hub.clients(), 2U);
  EXPECT_EQ(static_cast<int>(windows[0].messages.size()), 1 + changes);

  // A request longer than the bound drops its window (the bound itself is the line reader's).
  EXPECT_FALSE(hub.Received(ids[2], std::string(65, ' ')));
  EXPECT_FALSE(hub.Received(ids[1], "{}\n"));  // already gone
}

using AttachOverForm = test::FormTest;

TEST_F(AttachOverForm, ServiceActionsAreDoneAsTheWindowWouldUnderTheWindowsUser) {
  Load();
  HeadlessRunner runner(form(), port_, [](const std::string&) {});
  PanelActions actions(form(), ServiceLine{[&](const Actor& by) { runner.Connect(by); },
                                           [&](const Actor& by) { runner.Disconnect(by); }});
  std::vector<std::string> records;
  const Connection recording = form().recorded().Connect([&](const JournalEntry& entry) {
    if (entry.kind == JournalKind::kOperator) records.push_back(entry.login + ": " + entry.text);
  });
  // An action as a window's line has it, after {"type":"action","id":1,"action":
  const auto act = [&](const std::string& rest) {
    ActionRequest action;
    std::string error;
    EXPECT_TRUE(ParseActionMessage(R"({"type":"action","id":1,"action":)" + rest, action, error))
        << error;
    return PerformAtGate(form().gate(), actions, action, Origin{OriginKind::kLocalSocket, "alice"},
                         form().AccessNow());
  };
  // The state the views read, as the next tick publishes it.
  const auto published = [&] {
    form().TRTimer_Timer();
    return form().state_store().state();
  };
  for (const auto& [rest, result] : std::vector<std::pair<std::string, std::string>>{
           {R"("key","key":2})", kResultNotConnected},
           {R"("trigger","page":0,"number":5,"state":1})", kResultNotConnected},
           {R"("disconnect"})", kResultNotConnected},
           {R"("baud","baud":"1234"})", "refused: no such baud rate"},
           {R"("baud","baud":"19200"})", kResultDone},
           {R"("port","port":3})", kResultDone}}) {
    EXPECT_EQ(act(rest), result) << rest;
  }
  const PanelState chosen = published();  // as stored in the settings
  EXPECT_EQ(std::pair(chosen.port, chosen.baud), std::pair(3, std::string("19200")));

  ASSERT_EQ(act(R"("connect"})"), kResultDone);
  EXPECT_EQ(act(R"("port","port":2})"), "refused: disconnect first");
  ASSERT_EQ(act(R"("trigger","page":1,"number":60,"state":1})"), kResultDone);
  EXPECT_EQ(published().pages[1].states[59], 1);  // read from the link's table
  ASSERT_EQ(act(R"("rename","page":2,"number":120,"name":"Hall\nwest"})"), kResultDone);
  EXPECT_NE(test::ReadBytes(IniPath()).find("=Hall west"), std::string::npos);
  // Supervision on with the time as typed: time, then on, as the box's click sends them.
  port_.ClearWrites();
  ASSERT_EQ(act(R"("supervision","state":1,"time":"30"})"), kResultDone);
  EXPECT_EQ(port_.writes(),
            (std::vector<Bytes>{EncodeFrame(16, Bytes{30}), EncodeFrame(17, Bytes{1})}));
  const PanelState supervised = published();
  EXPECT_EQ(std::pair(supervised.supervision, supervised.supervision_time),
            std::pair(true, std::string("30")));
  // The one annunciator: what it sounds is the windows' state; a silence from one is recorded
  // under its user and quiets it for all; nothing goes on the line.
  form().annunciation().OnReport(Annunciator::kFaultReport);
  form().annunciation().Tick(false, false);
  port_.ClearWrites();
  ASSERT_EQ(act(R"("silence","from":"Esc"})"), kResultDone);
  EXPECT_EQ(records.back(), "alice: Annunciator silenced by alice from Esc");
  EXPECT_TRUE(port_.writes().empty());

  // Closed by an operator, the line stays closed: no retry however long; opened again on asking.
  ASSERT_EQ(act(R"("disconnect"})"), kResultDone);
  const int opens = port_.open_count();
  for (int t = 0; t < 1000; ++t)
    runner.Tick();
  EXPECT_EQ(port_.open_count(), opens);
  EXPECT_EQ(act(R"("connect"})"), kResultDone);
}

// The attached path with access levels on: a window's line at the hub, wired as the service's
// socket wires it, performed through the gate for its Unix user, refused until its operator logs
// in over the same line (the gate has no pool here: a log in is answered at once).
TEST_F(AttachOverForm, AServiceRefusesASocketsActionUntilItsOperatorLogsIn) {
  AccessGate gate(
      UsersFile{AccessMode::kOn, {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  gate_ = &gate;
  Load();
  form().ConnectCB_Click();
  PanelActions actions(form(), ServiceLine{});
  AttachHub hub(AttachLimits{}, [&](const ActionRequest& action, const std::string& user) {
    return PerformAtGate(&gate, actions, action, Origin{OriginKind::kLocalSocket, user},
                         form().AccessNow());
  });
  hub.AnswerLater([&](const ActionRequest& action, const std::string& user, auto answer) {
    if (action.kind != ActionKind::kLogIn) return false;
    LogInAtGate(
        &gate, action, Origin{OriginKind::kLocalSocket, user}, [&] { return form().AccessNow(); },
        std::move(answer));
    return true;
  });
  FakeWindow window;
  const int id = hub.Attach("bob", window.Write(), window.Queued());
  std::vector<std::string> records;  // login: text / detail
  const Connection recording = form().recorded().Connect([&records](const JournalEntry& e) {
    records.push_back(e.login + ": " + e.text + " / " + e.detail);
  });
  PanelState state = EmptyPanelState();
  const auto ask = [&](const std::string& line) {
    EXPECT_TRUE(hub.Received(id, line + "\n"));
    return Last(window, state).text;
  };
  const std::string reset = R"({"action":"key","id":1,"key":3,"type":"action"})";
  const std::string log_in = R"({"action":"log-in","id":2,"operator":"alice","type":"action",)";
  EXPECT_EQ(ask(reset), kResultLevelNeeded);
  EXPECT_EQ(ask(log_in + R"("pin":"9999"})"), "not logged in");
  EXPECT_EQ(records,
            (std::vector<std::string>{
                "bob: EMG Reset refused: level 2 needed: no operator, level 1, local user bob / ",
                "bob: Log in refused (wrong PIN): alice, level 1, local user bob / "}));
  EXPECT_EQ(ask(log_in + R"("pin":"1234"})"), "logged in: alice, level 2");
  EXPECT_EQ(ask(reset), kResultDone);
  EXPECT_EQ(ask(R"({"action":"log-out","id":3,"type":"action"})"), kResultLoggedOut);
  EXPECT_EQ(ask(reset), kResultLevelNeeded);

  // A log-in that times out at the service is told to the user's windows unasked.
  const Connection telling = TellEndedLogIns(gate, hub);
  EXPECT_EQ(ask(log_in + R"("pin":"1234"})"), "logged in: alice, level 2");
  access_now_ += AccessGate::kDefaultIdleTimeout;
  form().TRTimer_Timer();
  const ServerMessage told = Last(window, state);
  EXPECT_EQ(std::tuple(told.type, told.id, told.text),
            std::tuple(ServerMessageType::kResult, 0L, std::string(kResultLoggedOut)));
}

TEST(AttachedPanel, ShowsTheServiceAndHandsItsActionsOnWithoutALineOfItsOwn) {
  std::vector<ActionRequest> sent;
  AttachedPanel panel([&](const ActionRequest& action) { sent.push_back(action); });
  PanelWindow& w = panel.window();
  PanelState state = EmptyPanelState();
  state.connected = true;
  state.port = 4;
  state.baud = "19200";
  state.lamps[2] = true;
  state.pages[0].states[1] = 1;
  state.pages[0].names[1] = "Lobby";
  state.events = {"line two", "line one", ""};
  state.supervision_time = "40";
  panel.Show(state, kAllSections);  // shown, never sent back: the actions below are all it sends
  EXPECT_EQ(w.ComPort_CB.text() + " " + w.BaudRate_CB.text(), "COM4 19200");
  EXPECT_EQ(w.Shape1[2].fill_style(), Shape::kSolid);
  EXPECT_EQ(w.Trigger_CheckBox[1].value(), 1);
  EXPECT_EQ(w.TriggerLabel[1].caption(), "Lobby");
  EXPECT_EQ(w.EventsLogTextBox.text(), "line two\r\nline one\r\n");
  EXPECT_EQ(w.ConnectCB.caption(), "Disconnection");

  w.EMGReset_CB.Click();
  w.Trigger_CheckBox[4].SetValue(1);
  w.ConnectCB.Click();
  w.SupervisionCheck.SetValue(1);
  std::string actions;
  for (const ActionRequest& action : sent)
    actions += ActionMessage(action);  // a line each
  EXPECT_EQ(actions, R"({"action":"key","id":0,"key":3,"type":"action"}
{"action":"trigger","id":0,"number":5,"page":0,"state":1,"type":"action"}
{"action":"disconnect","id":0,"type":"action"}
{"action":"supervision","id":0,"state":1,"time":"40","type":"action"}
)");

  // Stale: nothing goes out. (Greyed lamps and keys, and back again, are the attached windows'
  // test against the real service.)
  panel.SetStale(true);
  EXPECT_FALSE(w.ConnectCB.enabled());
  EXPECT_FALSE(w.SupervisionCheck.enabled());
  w.ConnectCB.Click();
  w.SupervisionCheck.SetValue(0);
  EXPECT_EQ(sent.size(), 4U);
  panel.SetStale(false);
  EXPECT_TRUE(w.ConnectCB.enabled());

  // The service's lamp test lights this window's lamps only when this window asked for it.
  const auto lit = [&](bool lamp_test) {  // the lamps lit, shown the service's test on or off
    state.lamp_test = lamp_test;
    panel.Show(state, kSectionAnnunciation);
    int n = 0;
    for (int i = 0; i < kSystemLamps; ++i)
      n += w.Shape1[i].fill_style() == Shape::kSolid ? 1 : 0;
    return n;
  };
  EXPECT_EQ(lit(true), 1) << "another window's test";
  lit(false);
  panel.LampTestAsked();
  EXPECT_EQ(lit(true), kSystemLamps) << "this window's test";
  EXPECT_EQ(lit(false), 1) << "the test over";
}

}  // namespace
}  // namespace orv
