// The attach protocol's messages as values: the state's JSON whole and by section, a window's
// actions, and the line bound on what a peer may send.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "attach/attach_protocol.h"

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
  const auto condition = [](const char* id, ConditionKind kind, bool present, bool acknowledged) {
    Condition c;
    c.id = id;
    c.kind = kind;
    c.name = std::string("name of ") + id;
    c.since_ms = 5;
    c.present = present;
    c.acknowledged = acknowledged;
    return c;
  };
  sent.conditions = {condition("alarm-2", ConditionKind::kAlarm, true, false),
                     condition("fault-3", ConditionKind::kFault, false, false),
                     condition("fault-4", ConditionKind::kFault, true, true),
                     condition("link", ConditionKind::kLink, false, true)};
  sent.conditions[2].acknowledged_by = "al\"ice";
  sent.conditions[2].acknowledged_ms = 8;
  sent.conditions[2].comment = "seen\n";
  sent.conditions[3].shelved_until_ms = 11;
  sent.conditions[3].shelved_by = "carol";
  sent.conditions[3].shelved_reason = "works";
  sent.logged_in = {{"alice", 2, "web 192.0.2.7"}, {"carol", 3, "orvandelctl as root"}};
  PanelState read = EmptyPanelState();
  const ServerMessage message = Read(SnapshotMessage(7, sent), read);
  EXPECT_EQ(std::pair(message.type, message.seq), std::pair(ServerMessageType::kSnapshot, 7L));
  EXPECT_EQ(read, sent);

  // A change of page 2 alone leaves every other section as the window has it.
  PanelState changed = EmptyPanelState();
  changed.pages[2].states[5] = 1;
  EXPECT_EQ(Read(ChangeMessage(8, changed, PageSection(2)), read).sections, PageSection(2));
  sent.pages[2] = changed.pages[2];
  EXPECT_EQ(read, sent);
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
  // One condition as a service writes it; 128 of them is as many as a state may carry.
  constexpr const char* kCondition =
      R"({"kind":"fault","id":"f","name":"","since":1,"state":"new","acknowledgedBy":"",)"
      R"("acknowledgedAt":0,"comment":"","shelvedUntil":0,"shelvedBy":"","shelvedReason":""})";
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
      change(R"("conditions":[{"kind":"weather"}])"),
      change(R"("conditions":[)" + std::string(kCondition).replace(43, 1, "-1") + "]"),
      change(R"("conditions":)" + list(129, kCondition)),
      // Who is logged in: an operator's name, a level an operator has, at most 64 of them.
      change(R"("operators":[{"name":"al ice","level":2,"where":"window"}])"),
      change(R"("operators":[{"name":"alice","level":4,"where":"window"}])"),
      change(R"("operators":[{"name":"alice","level":2}])"),
      change(R"("operators":)" + list(65, R"({"name":"a","level":2,"where":""})")),
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
      R"({"action":"log-out","id":13,"type":"action"})",
      R"({"action":"acknowledge","condition":"fault-7","id":14,"text":"seen","type":"action"})",
      R"({"action":"shelve","condition":"link","id":15,"text":"works","type":"action","until":1765000000000})",
      R"({"action":"silence","from":"orvandelctl","id":16,"shell":true,"type":"action"})"};
  for (const std::string line : lines) {
    ASSERT_TRUE(ParseActionMessage(line, action, error)) << line << error;
    EXPECT_EQ(ActionMessage(action), line + "\n");
  }
  const auto parses = [&](const std::string& rest) {
    return ParseActionMessage(R"({"type":"action","id":1,"action":)" + rest, action, error);
  };
  for (
      const char* rest :
      {R"("key","key":0})",
       R"("key","key":7})",
       R"("key","key":1.5})",
       R"("key","key":"1"})",
       R"("trigger","page":3,"number":1,"state":1})",
       R"("trigger","page":0,"number":61,"state":1})",
       R"("trigger","page":2,"number":121,"state":1})",
       R"("trigger","page":0,"number":0,"state":1})",
       R"("trigger","page":0,"number":1,"state":2})",
       R"("rename","page":0,"number":1})",
       R"("port","port":0})",
       R"("port","port":11})",
       R"("supervision","state":2,"time":"10"})",
       R"("silence","from":"web"})",
       R"("log-out","shell":1})",
       R"("reboot"})",
       R"("log-in","operator":"al ice","pin":"1234"})",
       R"("shelve","condition":"link","text":"works","until":0})",
       R"("shelve","condition":"link","text":"works"})",
       R"("acknowledge","condition":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx","text":""})",
       R"("acknowledge","condition":"link"})",
       R"("log-in","operator":"alice","pin":1234})",
       R"("log-in","pin":"1234"})"}) {
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

}  // namespace
}  // namespace orv
