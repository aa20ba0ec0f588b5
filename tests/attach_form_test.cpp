// Both ends of the attach socket over the window model, without sockets: the service acting as
// the window's controls would, under the window's user, and refusing a socket's action until its
// operator logs in over the same line.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "access/pin_hash.h"
#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "panel/panel_actions.h"
#include "service/headless_runner.h"
#include "tests/fake_window.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

// What a line from the service says, its state read into state.
ServerMessage Read(const std::string& line, PanelState& state) {
  ServerMessage message;
  std::string error;
  EXPECT_TRUE(ParseServerMessage(line, state, message, error)) << error;
  return message;
}

using test::FakeWindow;

// The last message the window was sent, read.
ServerMessage Last(const FakeWindow& window, PanelState& state) {
  return Read(window.messages.back(), state);
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
  EXPECT_TRUE(supervised.supervision);
  EXPECT_EQ(supervised.supervision_time, "30");
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
  port_.ClearWrites();
  EXPECT_EQ(ask(reset), kResultLevelNeeded);
  EXPECT_EQ(ask(log_in + R"("pin":"9999"})"), "not logged in");
  EXPECT_EQ(records,
            (std::vector<std::string>{
                "bob: EMG Reset refused: level 2 needed: no operator, level 1, local user bob / ",
                "bob: Log in refused (wrong PIN): alice, level 1, local user bob / "}));
  EXPECT_EQ(ask(log_in + R"("pin":"1234"})"), "logged in: alice, level 2");
  EXPECT_EQ(gate.Level(MainForm::kWindowOrigin), AccessLevel::kLevel1) << "the window's own";
  EXPECT_EQ(ask(reset), kResultDone);
  EXPECT_EQ(port_.writes(),
            std::vector<Bytes>{EncodeFrame(22, Bytes{OperatorCommands::kEmgReset})});
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

}  // namespace
}  // namespace orv
