// The attach protocol without sockets: the state's JSON, a window's actions, the line bound, the
// hub; and a window's model showing the state and never echoing it back. (The service's end
// over the window model is the attach form's test.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "attach/attached_panel.h"
#include "tests/fake_window.h"

namespace orv {
namespace {

// What a line from the service says, its state read into state.
ServerMessage Read(const std::string& line, PanelState& state) {
  ServerMessage message;
  std::string error;
  EXPECT_TRUE(ParseServerMessage(line, state, message, error)) << error;
  return message;
}

TEST(AttachCodec, ASnapshotCarriesTheWholeStateAndAChangeOnlyItsSections) {
  PanelState sent = EmptyPanelState();
  sent.lamps[0] = true;
  sent.lamps[11] = true;
  sent.pages[0].states[0] = 1;
  sent.pages[2].states[119] = 1;
  sent.pages[1].names[59] = "Hall \"B\"\n\xC3\xA9";
  sent.events = {"12/07 03:09 Event = ALERT", "12/07 03:08 Event = EMG Ack"};
  sent.line = {"COM2 /dev/pts/3 9600,N,8,1", "Connected: last reply 0.4 s ago", true, "sent 4",
               " - NO REPLY FROM CONTROLLER"};
  sent.connected = true;
  sent.port = 2;
  sent.baud = "19200";
  sent.supervision = true;
  sent.supervision_time = "90";
  sent.access_levels = true;
  sent.sounding = "alarm";
  sent.sounding_condition = "Event ALARM";
  sent.sounding_since = JournalTime{1765000000123, -18000};
  sent.lamp_test = true;
  sent.silenced = 3;
  sent.link = LinkCondition::kNoReply;
  PanelState read = EmptyPanelState();
  const ServerMessage message = Read(SnapshotMessage(7, sent), read);
  EXPECT_EQ(std::pair(message.type, message.seq), std::pair(ServerMessageType::kSnapshot, 7L));
  EXPECT_EQ(read, sent);

  // A change of page 2 alone leaves every other section as the window has it.
  PanelState changed = EmptyPanelState();
  changed.pages[2].states[5] = 1;
  EXPECT_EQ(Read(ChangeMessage(8, changed, PageSection(2)), read).sections, PageSection(2));
  EXPECT_EQ(read.pages[2], changed.pages[2]);
  EXPECT_EQ(read.pages[0], sent.pages[0]);
  EXPECT_EQ(read.line, sent.line);
}

TEST(AttachCodec, AStateOutOfItsBoundsIsRefusedWhole) {
  auto list = [](int n, const char* item) {
    std::string items;
    for (int i = 0; i < n; ++i)
      items += std::string(i ? "," : "") + item;
    return "[" + items + "]";
  };
  auto change = [](const std::string& state) {
    return R"({"type":"change","seq":1,"state":{)" + state + "}}";
  };
  auto page = [&](int number, const std::string& states, int names) {
    return R"("pages":[{"page":)" + std::to_string(number) + R"(,"states":)" + states +
           R"(,"names":)" + list(names, "\"\"") + "}]";
  };
  const std::vector<std::string> bad = {
      "not json",
      R"({"type":"weather"})",
      R"({"type":"change","seq":1})",
      change(R"("annunciation":{"sounding":"loud","condition":""})"),
      change(R"("lamps":)" + list(11, "false")),
      change(page(3, list(60, "0"), 60)),
      change(page(2, list(60, "0"), 120)),  // too few states
      change(page(0, list(59, "0").insert(1, "2,"), 60)),
      // A later section out of bounds undoes the earlier good one.
      change(R"("lamps":)" + list(12, "true") +
             R"(,"connection":{"connected":true,"port":11,"baud":"9600"})"),
      // A snapshot must carry every section.
      R"({"type":"snapshot","seq":1,"state":{"events":[]}})",
  };
  for (const std::string& line : bad) {
    PanelState state = EmptyPanelState();
    ServerMessage message;
    std::string error;
    EXPECT_FALSE(ParseServerMessage(line, state, message, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
    EXPECT_EQ(state, EmptyPanelState()) << line;
  }
}

// Each action as a window writes it (Qt writes the keys in order): read, then written again.
// Out of its bounds, refused.
TEST(AttachCodec, EveryActionReadsBackAsItWasSentAndOutOfRangeIsRefused) {
  ActionRequest action;
  std::string error;
  const char* lines[] = {
      R"({"action":"key","id":1,"key":6,"type":"action"})",
      R"({"action":"impedance-check","id":2,"type":"action"})",
      R"({"action":"trigger","id":3,"number":60,"page":1,"state":1,"type":"action"})",
      R"({"action":"rename","id":4,"name":"Lobby \"east\"","number":120,"page":2,"type":"action"})",
      R"({"action":"connect","id":5,"type":"action"})",
      R"({"action":"disconnect","id":6,"type":"action"})",
      R"({"action":"port","id":7,"port":10,"type":"action"})",
      R"({"action":"baud","baud":"19200","id":8,"type":"action"})",
      R"({"action":"supervision","id":9,"state":1,"time":"20","type":"action"})",
      R"({"action":"silence","from":"Esc","id":10,"type":"action"})",
      R"({"action":"lamp-test","id":11,"type":"action"})",
      R"({"action":"log-in","id":12,"operator":"alice","pin":"1234","type":"action"})",
      R"({"action":"log-out","id":13,"type":"action"})"};
  for (const std::string line : lines) {
    ASSERT_TRUE(ParseActionMessage(line, action, error)) << line << error;
    EXPECT_EQ(ActionMessage(action), line + "\n");
  }
  const auto parses = [&](const std::string& rest) {
    return ParseActionMessage(R"({"type":"action","id":1,"action":)" + rest, action, error);
  };
  for (const char* rest :
       {R"("key","key":0})", R"("key","key":7})", R"("key","key":1.5})", R"("key","key":"1"})",
        R"("trigger","page":3,"number":1,"state":1})",
        R"("trigger","page":0,"number":61,"state":1})",
        R"("trigger","page":2,"number":121,"state":1})",
        R"("trigger","page":0,"number":0,"state":1})",
        R"("trigger","page":0,"number":1,"state":2})", R"("rename","page":0,"number":1})",
        R"("port","port":0})", R"("port","port":11})", R"("supervision","state":2,"time":"10"})",
        R"("silence","from":"web"})", R"("reboot"})",
        R"("log-in","operator":"al ice","pin":"1234"})",
        R"("log-in","operator":"alice","pin":1234})", R"("log-in","pin":"1234"})"}) {
    EXPECT_FALSE(parses(rest)) << rest;
  }
  EXPECT_FALSE(
      ParseActionMessage(R"({"type":"result","id":1,"action":"key","key":1})", action, error));
  // A PIN is held to its bound (the pages' last numbers are in the lines above).
  const auto log_in = [](std::size_t pin_bytes) {
    return R"("log-in","operator":"alice","pin":")" + std::string(pin_bytes, '7') + "\"}";
  };
  EXPECT_TRUE(parses(log_in(kMaxPinBytes)));
  EXPECT_FALSE(parses(log_in(kMaxPinBytes + 1)));
}

TEST(LineReader, SplitsLinesHoweverTheBytesComeAndStopsAtTheBound) {
  // The chunks as they come, the lines read, and whether the reader held.
  using Lines = std::vector<std::string>;
  const std::tuple<Lines, Lines, bool> cases[] = {
      {{"a", "b\nc", "d\n", "e"}, {"ab", "cd"}, true},
      {{"\n\n"}, {"", ""}, true},
      {{"12345678\n"}, {"12345678"}, true},          // exactly the bound
      {{"1234", "5678", "\n"}, {"12345678"}, true},  // and as an unfinished tail
      {{"123456789"}, {}, false},                    // a tail over it
      {{"1234", "56789\n"}, {}, false},              // a line over it, whatever its chunks
      {{"ab\n123456789\n"}, {}, false},
  };
  for (const auto& [chunks, expected, held] : cases) {
    LineReader reader(8);
    Lines lines;
    bool ok = true;
    for (const std::string& chunk : chunks) {
      ok = ok && reader.Append(chunk);
      for (std::string line; ok && reader.Next(line);)
        lines.push_back(line);
    }
    EXPECT_EQ(ok, held) << chunks[0];
    EXPECT_EQ(lines, expected) << chunks[0];
  }
}

using test::FakeWindow;

// The last message the window was sent, read.
ServerMessage Last(const FakeWindow& window, PanelState& state) {
  return Read(window.messages.back(), state);
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

// (How many windows it takes, in all and of one user, is the shares' test.)
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
  const auto lit = [&w] {
    int n = 0;
    for (int i = 0; i < kSystemLamps; ++i)
      n += w.Shape1[i].fill_style() == Shape::kSolid ? 1 : 0;
    return n;
  };
  state.lamp_test = true;
  panel.Show(state, kSectionAnnunciation);
  EXPECT_EQ(lit(), 1) << "another window's test";
  state.lamp_test = false;
  panel.Show(state, kSectionAnnunciation);
  panel.LampTestAsked();
  state.lamp_test = true;
  panel.Show(state, kSectionAnnunciation);
  EXPECT_EQ(lit(), kSystemLamps) << "this window's test";
  state.lamp_test = false;
  panel.Show(state, kSectionAnnunciation);
  EXPECT_EQ(lit(), 1) << "the test over";
}

}  // namespace
}  // namespace orv
