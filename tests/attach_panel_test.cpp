// Both ends of an attached window over the window model, without sockets: the service performing
// actions as the window's controls would (results, frames, records under the window's user, a line
// an operator closed kept closed), and a window's model showing the service's state and handing
// its operator's actions on, never echoing what it was shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/pin_hash.h"
#include "attach/attach_hub.h"
#include "attach/attached_panel.h"
#include "attach/panel_source.h"
#include "link/frame.h"
#include "service/headless_runner.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

class ServiceActions : public test::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    Load();
    runner_ = std::make_unique<HeadlessRunner>(form(), port_, [](const std::string&) {});
    actions_ = std::make_unique<PanelActions>(
        form(), ServiceLine{[this] { runner_->Connect(); }, [this] { runner_->Disconnect(); }});
    connections_.push_back(form().recorded().Connect([this](const JournalEntry& entry) {
      if (entry.kind == JournalKind::kOperator) records_.push_back(entry.login + ": " + entry.text);
    }));
  }
  std::string Do(ActionKind kind, int a = 0, int b = 0, int c = 0, std::string text = {}) {
    ActionRequest action;
    action.kind = kind;
    action.key = a;
    action.port = a;
    action.page = a;
    action.number = b;
    action.state = c;
    action.name = text;
    action.baud = text;
    return actions_->Perform(action, Origin{OriginKind::kLocalSocket, "alice"});
  }

  std::unique_ptr<HeadlessRunner> runner_;
  std::unique_ptr<PanelActions> actions_;
  std::vector<std::string> records_;
  Connections connections_;
};

TEST_F(ServiceActions, AreDoneAsTheWindowWouldUnderTheWindowsUser) {
  struct Case {
    ActionKind kind;
    int a, b, c;
    const char* text;
    std::string result;
  };
  const Case disconnected[] = {
      {ActionKind::kKey, 2, 0, 0, "", kResultNotConnected},
      {ActionKind::kTrigger, 0, 5, 1, "", kResultNotConnected},
      {ActionKind::kDisconnect, 0, 0, 0, "", kResultNotConnected},
      {ActionKind::kBaud, 0, 0, 0, "1234", "refused: no such baud rate"},
      {ActionKind::kBaud, 0, 0, 0, "19200", kResultDone},
      {ActionKind::kPort, 3, 0, 0, "", kResultDone},
  };
  for (const Case& c : disconnected)
    EXPECT_EQ(Do(c.kind, c.a, c.b, c.c, c.text), c.result) << c.a << c.text;
  EXPECT_EQ(form().config().SerialComPort, 3);
  EXPECT_EQ(form().config().SerialBaudRate, "19200");
  EXPECT_EQ(ReadPanelState(form()).port, 3);

  ASSERT_EQ(Do(ActionKind::kConnect), kResultDone);
  EXPECT_EQ(Do(ActionKind::kPort, 2), "refused: disconnect first");
  port_.ClearWrites();
  ASSERT_EQ(Do(ActionKind::kKey, OperatorCommands::kFaultAck), kResultDone);
  const std::uint8_t key[] = {OperatorCommands::kFaultAck};
  ASSERT_EQ(port_.writes().size(), 1U);
  EXPECT_EQ(port_.writes()[0], EncodeFrame(22, key));
  ASSERT_EQ(Do(ActionKind::kTrigger, 1, 60, 1), kResultDone);
  EXPECT_EQ(form().link().trigger_states().States(1).Get(60), 1);
  EXPECT_EQ(ReadPanelState(form()).pages[1].states[59], 1);
  ASSERT_EQ(Do(ActionKind::kRename, 2, 120, 0, "Hall\nwest"), kResultDone);
  EXPECT_NE(test::ReadBytes(IniPath()).find("=Hall west"), std::string::npos);
  ASSERT_GE(records_.size(), 3U);
  EXPECT_EQ(records_[records_.size() - 3], "alice: Key Fault ACK");
  EXPECT_EQ(records_.back().rfind("alice: Renamed ", 0), 0U) << records_.back();
  // Supervision on with the time as typed: time, then on, as the box's click sends them.
  port_.ClearWrites();
  ASSERT_EQ(Do(ActionKind::kSupervision, 0, 0, 1, "30"), kResultDone);
  const std::uint8_t thirty[] = {30}, on[] = {1};
  EXPECT_EQ(port_.writes(),
            (std::vector<std::vector<std::uint8_t>>{EncodeFrame(16, thirty), EncodeFrame(17, on)}));
  EXPECT_TRUE(ReadPanelState(form()).supervision);
  EXPECT_EQ(ReadPanelState(form()).supervision_time, "30");
  // The one annunciator: what it sounds is the windows' state; a silence from one is recorded
  // under its user and quiets it for all; nothing goes on the line.
  form().annunciation().OnReport(Annunciator::kFaultReport);
  form().annunciation().Tick(false, false);
  port_.ClearWrites();
  ASSERT_EQ(Do(ActionKind::kSilence, 0, 0, 0, "Esc"), kResultDone);
  EXPECT_NE(records_.back().find("alice"), std::string::npos) << records_.back();
  EXPECT_NE(records_.back().find("Esc"), std::string::npos) << records_.back();
  EXPECT_TRUE(port_.writes().empty());

  // Closed by an operator, the line stays closed: no retry however long; opened again on asking.
  ASSERT_EQ(Do(ActionKind::kDisconnect), kResultDone);
  const int opens = port_.open_count();
  for (int t = 0; t < 1000; ++t)
    runner_->Tick();
  EXPECT_EQ(port_.open_count(), opens);
  EXPECT_EQ(Do(ActionKind::kConnect), kResultDone);
  EXPECT_TRUE(runner_->connected());
}

// The attached path with access levels on: a window's line at the hub, performed through the
// gate for its Unix user, refused until its operator logs in over the same line.
using GatedService = test::FormTest;

TEST_F(GatedService, AServiceRefusesASocketsActionUntilItsOperatorLogsIn) {
  AccessGate gate(
      UsersFile{AccessMode::kOn, {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  gate_ = &gate;
  Load();
  form().ConnectCB_Click();
  PanelActions actions(form(), ServiceLine{});
  AttachHub hub(AttachLimits{}, [&](const ActionRequest& action, const std::string& user) {
    return actions.Perform(action, Origin{OriginKind::kLocalSocket, user});
  });
  std::string written;
  const int id = hub.Attach(
      "bob", [&written](const std::string& bytes) { written = bytes; }, [] { return 0U; });
  std::vector<JournalEntry> records;
  const Connection recording =
      form().recorded().Connect([&records](const JournalEntry& e) { records.push_back(e); });
  const auto ask = [&](const std::string& line) {
    EXPECT_TRUE(hub.Received(id, line + "\n"));
    PanelState state = EmptyPanelState();
    ServerMessage message;
    std::string error;
    EXPECT_TRUE(ParseServerMessage(written, state, message, error)) << error;
    return message.text;
  };
  const std::string reset = R"({"action":"key","id":1,"key":3,"type":"action"})";
  const std::string log_in = R"({"action":"log-in","id":2,"operator":"alice","type":"action",)";
  port_.ClearWrites();
  EXPECT_EQ(ask(reset), kResultLevelNeeded);
  EXPECT_EQ(ask(log_in + R"("pin":"9999"})"), "not logged in");
  EXPECT_TRUE(port_.writes().empty());
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records[0].text,
            "EMG Reset refused: level 2 needed: no operator, level 1, local user bob");
  EXPECT_EQ(records[1].login, "bob");
  EXPECT_EQ(ask(log_in + R"("pin":"1234"})"), "logged in: alice, level 2");
  EXPECT_EQ(gate.Level(MainForm::kWindowOrigin), AccessLevel::kLevel1) << "the window's own";
  records.clear();
  EXPECT_EQ(ask(reset), kResultDone);
  const std::uint8_t key[] = {OperatorCommands::kEmgReset};
  EXPECT_EQ(port_.writes(), std::vector<Bytes>{EncodeFrame(22, key)});
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].login + ": " + records[0].text + " / " + records[0].detail,
            "bob: Key EMG Reset / operator alice, level 2");
  EXPECT_EQ(ask(R"({"action":"log-out","id":3,"type":"action"})"), kResultLoggedOut);
  EXPECT_EQ(ask(reset), kResultLevelNeeded);
  EXPECT_EQ(port_.writes().size(), 1U);

  // A log-in that times out at the service is told to the user's windows unasked.
  const Connection telling = TellEndedLogIns(gate, hub);
  EXPECT_EQ(ask(log_in + R"("pin":"1234"})"), "logged in: alice, level 2");
  access_now_ += AccessGate::kDefaultIdleTimeout;
  form().TRTimer_Timer();
  PanelState state = EmptyPanelState();
  ServerMessage told;
  std::string error;
  ASSERT_TRUE(ParseServerMessage(written, state, told, error)) << error;
  EXPECT_EQ(told.type, ServerMessageType::kResult);
  EXPECT_EQ(told.id, 0);
  EXPECT_EQ(told.text, kResultLoggedOut);
}

using AttachedWindowModel = test::FormTest;

TEST_F(AttachedWindowModel, ShowsTheServiceAndHandsItsActionsOn) {
  Load();
  std::vector<ActionRequest> sent;
  AttachedPanel panel(form(), [&](const ActionRequest& action) { sent.push_back(action); });
  PanelState state = EmptyPanelState();
  state.connected = true;
  state.port = 4;
  state.baud = "19200";
  state.lamps[2] = true;
  state.pages[0].states[1] = 1;
  state.pages[0].names[1] = "Lobby";
  state.events = {"line two", "line one", ""};
  state.supervision_time = "40";
  panel.Show(state, kAllSections);
  // Shown, never sent back.
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(form().ComPort_CB.list_index(), 3);
  EXPECT_EQ(form().BaudRate_CB.text(), "19200");
  EXPECT_EQ(form().Shape1[2].fill_style(), Shape::kSolid);
  EXPECT_EQ(form().Trigger_CheckBox[1].value(), 1);
  EXPECT_EQ(form().TriggerLabel[1].caption(), "Lobby");
  EXPECT_EQ(form().EventsLogTextBox.text(), "line two\r\nline one\r\n");
  EXPECT_EQ(form().ConnectCB.caption(), "Disconnection");
  EXPECT_TRUE(form().EMG_CB.enabled());

  form().EMGReset_CB.Click();
  form().Trigger_CheckBox[4].SetValue(1);
  form().ConnectCB.Click();
  form().SupervisionCheck.SetValue(1);
  std::string actions;
  for (const ActionRequest& action : sent)
    actions += ActionMessage(action);  // a line each
  EXPECT_EQ(actions, R"({"action":"key","id":0,"key":3,"type":"action"}
{"action":"trigger","id":0,"number":5,"page":0,"state":1,"type":"action"}
{"action":"disconnect","id":0,"type":"action"}
{"action":"supervision","id":0,"state":1,"time":"40","type":"action"}
)");
  EXPECT_EQ(port_.rejected_writes(), 0) << "nothing tried on a line of its own";

  // Stale: nothing goes out. (Greyed lamps and keys, and back again, are the attached windows'
  // test against the real service.)
  panel.SetStale(true);
  EXPECT_FALSE(form().ConnectCB.enabled());
  EXPECT_FALSE(form().SupervisionCheck.enabled());
  form().ConnectCB.Click();
  form().SupervisionCheck.SetValue(0);
  EXPECT_EQ(sent.size(), 4U);
  panel.SetStale(false);
  EXPECT_TRUE(form().ConnectCB.enabled());
}

}  // namespace
}  // namespace orv
