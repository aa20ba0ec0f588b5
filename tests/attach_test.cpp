// The attach protocol without sockets: the state's JSON both ways, what a window may ask for,
// the line bound, and the hub's numbering, heartbeat and bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"

namespace orv {
namespace {

PanelState FilledState() {
  PanelState state = EmptyPanelState();
  state.lamps[0] = true;
  state.lamps[11] = true;
  state.pages[0].states[0] = 1;
  state.pages[2].states[119] = 1;
  state.pages[1].names[59] = "Hall \"B\"\n\xC3\xA9";
  state.events = {"12/07 03:09 Event = ALERT", "12/07 03:08 Event = EMG Ack"};
  state.line = {"COM2 /dev/pts/3 9600,N,8,1", "Connected: last reply 0.4 s ago", true, "sent 4",
                " - NO REPLY FROM CONTROLLER"};
  state.connected = true;
  state.port = 2;
  state.baud = "19200";
  state.supervision = true;
  state.supervision_time = "90";
  state.access_levels = true;
  state.sounding = "alarm";
  state.sounding_condition = "Event ALARM";
  return state;
}

TEST(AttachCodec, ASnapshotCarriesTheWholeStateAndAChangeOnlyItsSections) {
  const PanelState sent = FilledState();
  PanelState read = EmptyPanelState();
  ServerMessage message;
  std::string error;
  ASSERT_TRUE(ParseServerMessage(SnapshotMessage(7, sent), read, message, error)) << error;
  EXPECT_EQ(message.type, ServerMessageType::kSnapshot);
  EXPECT_EQ(message.seq, 7);
  EXPECT_EQ(read, sent);

  // A change of page 2 alone leaves every other section as the window has it.
  PanelState changed = EmptyPanelState();
  changed.pages[2].states[5] = 1;
  ASSERT_EQ(ChangedSections(EmptyPanelState(), changed), PageSection(2));
  ASSERT_TRUE(ParseServerMessage(ChangeMessage(8, changed, PageSection(2)), read, message, error));
  EXPECT_EQ(message.sections, PageSection(2));
  EXPECT_EQ(read.pages[2], changed.pages[2]);
  EXPECT_EQ(read.pages[0], sent.pages[0]);
  EXPECT_EQ(read.line, sent.line);

  // Each field alone marks its own section.
  const std::pair<void (*)(PanelState&), unsigned> fields[] = {
      {[](PanelState& s) { s.supervision = true; }, kSectionConnection},
      {[](PanelState& s) { s.supervision_time = "20"; }, kSectionConnection},
      {[](PanelState& s) { s.access_levels = true; }, kSectionConnection},
      {[](PanelState& s) { s.sounding = "fault"; }, kSectionAnnunciation},
      {[](PanelState& s) { s.sounding_condition = "Fault report"; }, kSectionAnnunciation},
  };
  for (const auto& [change, section] : fields) {
    PanelState one = EmptyPanelState();
    change(one);
    EXPECT_EQ(ChangedSections(EmptyPanelState(), one), section);
  }
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
TEST(AttachCodec, EveryActionReadsBackAsItWasSent) {
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
      R"({"action":"log-out","id":13,"type":"action"})",
  };
  for (const std::string line : lines) {
    ActionRequest read;
    std::string error;
    ASSERT_TRUE(ParseActionMessage(line, read, error)) << line << error;
    EXPECT_EQ(ActionMessage(read), line + "\n");
    if (read.kind == ActionKind::kTrigger) {
      EXPECT_EQ(read.page * 100 + read.number, 160);
    }
  }
}

TEST(AttachCodec, ActionsOutOfRangeAreRefused) {
  const char* bad[] = {
      R"({"type":"action","id":1,"action":"key","key":0})",
      R"({"type":"action","id":1,"action":"key","key":7})",
      R"({"type":"action","id":1,"action":"key","key":1.5})",
      R"({"type":"action","id":1,"action":"key","key":"1"})",
      R"({"type":"action","id":1,"action":"trigger","page":3,"number":1,"state":1})",
      R"({"type":"action","id":1,"action":"trigger","page":0,"number":61,"state":1})",
      R"({"type":"action","id":1,"action":"trigger","page":2,"number":121,"state":1})",
      R"({"type":"action","id":1,"action":"trigger","page":0,"number":0,"state":1})",
      R"({"type":"action","id":1,"action":"trigger","page":0,"number":1,"state":2})",
      R"({"type":"action","id":1,"action":"rename","page":0,"number":1})",
      R"({"type":"action","id":1,"action":"port","port":0})",
      R"({"type":"action","id":1,"action":"port","port":11})",
      R"({"type":"action","id":1,"action":"supervision","state":2,"time":"10"})",
      R"({"type":"action","id":1,"action":"silence","from":"web"})",
      R"({"type":"action","id":1,"action":"reboot"})",
      R"({"type":"action","id":1,"action":"log-in","operator":"al ice","pin":"1234"})",
      R"({"type":"action","id":1,"action":"log-in","operator":"alice","pin":1234})",
      R"({"type":"action","id":1,"action":"log-in","pin":"1234"})",
      R"({"type":"result","id":1,"action":"key","key":1})",
  };
  for (const char* line : bad) {
    ActionRequest action;
    std::string error;
    EXPECT_FALSE(ParseActionMessage(line, action, error)) << line;
  }
  // The edges themselves are in range.
  ActionRequest action;
  std::string error;
  EXPECT_TRUE(ParseActionMessage(
      R"({"type":"action","id":1,"action":"trigger","page":2,"number":120,"state":0})", action,
      error));
  // A PIN is held to its bound.
  const auto log_in = [&](std::size_t pin_bytes) {
    return ParseActionMessage(R"({"type":"action","id":1,"action":"log-in","operator":"alice",)"
                              R"("pin":")" +
                                  std::string(pin_bytes, '7') + R"("})",
                              action, error);
  };
  EXPECT_TRUE(log_in(kMaxPinBytes));
  EXPECT_FALSE(log_in(kMaxPinBytes + 1));
}

TEST(LineReader, SplitsLinesHoweverTheBytesComeAndStopsAtTheBound) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
    bool ok;
  };
  const Case cases[] = {
      {{"ab\ncd\n"}, {"ab", "cd"}, true},
      {{"a", "b\nc", "d\n", "e"}, {"ab", "cd"}, true},
      {{"\n\n"}, {"", ""}, true},
      {{"12345678\n"}, {"12345678"}, true},  // exactly the bound
      {{"123456789"}, {}, false},            // a tail over it
      {{"1234", "56789\n"}, {}, false},      // a line over it, whatever its chunks
      {{"ab\n123456789\n"}, {}, false},
  };
  for (const Case& c : cases) {
    LineReader reader(8);
    std::vector<std::string> lines;
    bool ok = true;
    for (const std::string& chunk : c.chunks) {
      ok = ok && reader.Append(chunk);
      for (std::string line; ok && reader.Next(line);)
        lines.push_back(line);
    }
    EXPECT_EQ(ok, c.ok) << c.chunks[0];
    if (c.ok) {
      EXPECT_EQ(lines, c.lines) << c.chunks[0];
    }
  }
}

// A window as the hub sees it: what it was sent, and how much its socket holds unsent.
struct FakeWindow {
  std::vector<std::string> messages;
  std::size_t unsent = 0;
  bool reading = true;
  AttachHub::WriteFn Write() {
    return [this](const std::string& bytes) {
      messages.push_back(bytes);
      if (!reading) unsent += bytes.size();
    };
  }
  AttachHub::QueuedFn Queued() {
    return [this] { return unsent; };
  }
  ServerMessage Last(PanelState& state) const {
    ServerMessage message;
    std::string error;
    EXPECT_TRUE(ParseServerMessage(messages.back(), state, message, error)) << error;
    return message;
  }
};

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
  EXPECT_EQ(window.Last(seen).type, ServerMessageType::kSnapshot);

  PanelState state = EmptyPanelState();
  hub.Tick(state);  // nothing changed, a second not yet over
  EXPECT_EQ(window.messages.size(), 1U);
  state.lamps[3] = true;
  hub.Tick(state);
  ASSERT_EQ(window.messages.size(), 2U);
  ServerMessage change = window.Last(seen);
  EXPECT_EQ(change.type, ServerMessageType::kChange);
  EXPECT_EQ(change.seq, 1);
  EXPECT_EQ(change.sections, kSectionLamps);
  EXPECT_TRUE(seen.lamps[3]);
  for (int tick = 3; tick <= AttachHub::kHeartbeatTicks; ++tick)
    hub.Tick(state);
  ASSERT_EQ(window.messages.size(), 3U);
  EXPECT_EQ(window.Last(seen).type, ServerMessageType::kHeartbeat);
  EXPECT_EQ(window.Last(seen).seq, 1);

  // Two actions in one read, the second cut in two.
  const std::string two = R"({"action":"key","id":9,"key":2,"type":"action"}
{"action":"key","id":10,"key":5,"type":"action"}
)";
  ASSERT_TRUE(hub.Received(id, two.substr(0, two.size() - 4)));
  ASSERT_TRUE(hub.Received(id, two.substr(two.size() - 4)));
  EXPECT_EQ(performed, (std::vector<std::string>{"alice 2", "alice 5"}));
  const ServerMessage result = window.Last(seen);
  EXPECT_EQ(result.type, ServerMessageType::kResult);
  EXPECT_EQ(result.id, 10);
  EXPECT_EQ(result.text, kResultNotConnected);
  // A line that is no action is answered, not performed.
  ASSERT_TRUE(hub.Received(id, "{\"type\":\"action\",\"action\":\"key\",\"key\":9}\n"));
  EXPECT_EQ(window.Last(seen).text.rfind("refused: ", 0), 0U);
  EXPECT_EQ(performed.size(), 2U);
}

TEST(AttachHub, HoldsItsBoundsOnWindowsQueuesAndRequests) {
  AttachLimits limits;
  limits.max_clients = 3;
  limits.max_queue_bytes = 4096;
  limits.max_request_bytes = 64;
  AttachHub hub(limits, [](const ActionRequest&, const std::string&) { return "done"; });
  FakeWindow windows[4];
  int ids[3] = {};
  for (int i = 0; i < 3; ++i)
    ids[i] = hub.Attach("u", windows[i].Write(), windows[i].Queued());
  // One more than it takes: refused, said why.
  EXPECT_EQ(hub.Attach("u", windows[3].Write(), windows[3].Queued()), 0);
  PanelState seen;
  EXPECT_EQ(windows[3].Last(seen).type, ServerMessageType::kRefused);
  EXPECT_EQ(hub.clients(), 3U);

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

}  // namespace
}  // namespace orv
