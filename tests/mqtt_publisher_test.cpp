// What goes to the broker, without a broker: the JSON, the retained topics, the events by
// sequence number; the waits between connects.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "mqtt/broker_state.h"
#include "mqtt/json.h"
#include "mqtt/mqtt_settings.h"
#include "mqtt/publisher.h"
#include "tests/support/journal_fixture.h"

namespace orv {
namespace {

JournalRow Row(std::int64_t seq, JournalKind kind, std::string text) {
  return {seq, test::PanelEntry(1765112602000, kind, std::move(text)), ""};  // 13:03:22 UTC
}

TEST(MqttJson, TextsEventsAndFaults) {
  // The escapes are Qt's writer's (a quote: the event's below); here what this side hands it: the
  // whole text, NULs too, as UTF-8, and the value alone without the brackets around it.
  std::string out = "x";
  AppendJsonString(out, std::string("nul\0end", 7));
  AppendJsonString(out, "Z\xC3\xBCrich \xE2\x82\xAC");
  EXPECT_EQ(out, "x\"nul\\u0000end\"\"Z\xC3\xBCrich \xE2\x82\xAC\"");
  EXPECT_EQ(EventJson(Row(42, JournalKind::kOperator, "Renamed \"Lobby\"")),
            "{\"seq\":42,\"time\":\"2025-12-07T14:03:22+01:00\",\"kind\":\"operator\","
            "\"text\":\"Renamed \\\"Lobby\\\"\"}");
  JournalRow fault = Row(43, JournalKind::kEvent, "Fault 0000000000000110");
  fault.entry.detail = "Mains, Call/EMG";
  EXPECT_EQ(EventJson(fault),
            "{\"seq\":43,\"time\":\"2025-12-07T14:03:22+01:00\",\"kind\":\"event\","
            "\"text\":\"Fault 0000000000000110\",\"detail\":\"Mains, Call/EMG\"}");
  EXPECT_EQ(AnnunciationJson("alarm", {1765112602000, 3600}, "ALARM \"report\"", true),
            "{\"sounding\":\"alarm\",\"since\":\"2025-12-07T14:03:22+01:00\","
            "\"condition\":\"ALARM \\\"report\\\"\",\"lampTest\":true}");
  std::vector<Condition> conditions(2);
  std::tie(conditions[0].id, conditions[0].name, conditions[0].since_ms) =
      std::tuple("fault-7", "Mains \"A\"", 1765112602000);
  std::tie(conditions[1].id, conditions[1].kind, conditions[1].present) =
      std::tuple("link", ConditionKind::kLink, false);
  std::tie(conditions[1].acknowledged, conditions[1].acknowledged_by, conditions[1].comment) =
      std::tuple(true, "alice", "seen");
  std::tie(conditions[1].shelved_until_ms, conditions[1].shelved_by, conditions[1].shelved_reason) =
      std::tuple(1765112662000, "bob", "works");
  EXPECT_EQ(ConditionsJson(conditions),
            R"([{"id":"fault-7","kind":"fault","name":"Mains \"A\"",)"
            R"("since":"2025-12-07T13:03:22+00:00","state":"new"},)"
            R"({"id":"link","kind":"link","name":"","since":"1970-01-01T00:00:00+00:00",)"
            R"("state":"shelved","comment":"seen","shelvedUntil":"2025-12-07T13:04:22+00:00",)"
            R"("reason":"works"}])");
  EXPECT_EQ(FaultsJson(FaultLamps().set(0).set(10)),
            "{\"Processor reset\":1,\"Network\":0,\"Call/EMG\":0,\"Music/Spare\":0,"
            "\"Ground Short\":0,\"Input\":0,\"Mains\":0,\"Battery\":0,\"Message\":0,"
            "\"EMG mic.\":0,\"RCP\":1,\"Router\":0}");
}

// A client that takes every message (or none, when refusing), numbering them as libmosquitto does.
struct FakeClient {
  std::vector<MqttMessage> sent;
  std::map<int, std::int64_t> unacked;  // mid -> seq, events only
  int next_mid = 1;
  bool refusing = false;

  MqttPublisher::SendFn Send() {
    return [this](const MqttMessage& m) -> std::optional<int> {
      if (refusing) return std::nullopt;
      sent.push_back(m);
      const int mid = next_mid++;
      if (m.seq != 0) unacked[mid] = m.seq;
      return mid;
    };
  }
  std::vector<std::string> Topics(std::size_t from = 0) const {
    std::vector<std::string> topics;
    for (std::size_t i = from; i < sent.size(); ++i)
      topics.push_back(sent[i].topic + "=" + sent[i].payload);
    return topics;
  }
  std::vector<std::int64_t> EventSeqs() const {
    std::vector<std::int64_t> seqs;
    for (const MqttMessage& m : sent)
      if (m.seq != 0) seqs.push_back(m.seq);
    return seqs;
  }
  // Acknowledges every event in flight, oldest first.
  void AckAll(MqttPublisher& publisher) {
    for (const auto& [mid, seq] : unacked)
      publisher.OnDelivered(mid);
    unacked.clear();
  }
};

TEST(MqttPublisher, RetainedTopicsGoOutOnChangeOnlyAndAllAgainAtEveryConnect) {
  MqttPublisher publisher("site/a");
  FakeClient client;
  EXPECT_EQ(publisher.Will(), (MqttMessage{"site/a/status", "offline", 1, true, 0}));
  publisher.SetLinkState(LinkState::kDisconnected);
  publisher.SetFaultLamps(FaultLamps{});
  TriggerStates states;
  std::vector<std::string> names(120, "x");
  for (int page = 0; page < 3; ++page) {
    publisher.SetTriggerStates(page, states.States(page));
    publisher.SetTriggerNames(page, names);
  }
  publisher.Pump(client.Send());  // nothing before a connect

  publisher.OnConnected();
  client.refusing = true;  // a client that cannot take them now: all are kept for the next pump
  publisher.Pump(client.Send());
  client.refusing = false;
  publisher.Pump(client.Send());
  // status, link, faults, 12 lamps, 60 + 60 + 120 states and as many names.
  ASSERT_EQ(client.sent.size(), 3U + 12U + 2U * 240U);
  EXPECT_EQ(client.sent[0], (MqttMessage{"site/a/status", "online", 1, true, 0}));
  EXPECT_EQ(client.sent[1].topic + "=" + client.sent[1].payload, "site/a/link=disconnected");
  for (const MqttMessage& m : client.sent)
    EXPECT_TRUE(m.retain) << m.topic;

  // The same values again: nothing. A change: that topic alone, once, with its last value (and
  // the faults object).
  const std::size_t before = client.sent.size();
  publisher.SetFaultLamps(FaultLamps{});
  for (int page = 0; page < 3; ++page) {
    publisher.SetTriggerStates(page, states.States(page));
    publisher.SetTriggerNames(page, names);
  }
  publisher.Pump(client.Send());
  const FaultLamps lamps = FaultLamps().set(2);  // lamp 2 is fault/3
  publisher.SetFaultLamps(lamps);
  states.States(1).Set(7, 1);
  publisher.SetTriggerStates(1, states.States(1));
  names[119] = "Hall \xE9";  // an unconverted byte is made valid
  publisher.SetTriggerNames(2, names);
  publisher.SetLinkState(LinkState::kAnswering);
  publisher.SetLinkState(LinkState::kNoReply);
  const std::string sounding =
      AnnunciationJson("fault", {1765112602000, 3600}, "Fault report", false);
  publisher.SetAnnunciation(sounding);
  publisher.SetConditions("[]");
  publisher.Pump(client.Send());
  EXPECT_EQ(
      client.Topics(before),
      (std::vector<std::string>{
          "site/a/fault/3=1", "site/a/faults=" + FaultsJson(lamps), "site/a/trigger/business/7=1",
          "site/a/trigger/soft/120/name=Hall \xEF\xBF\xBD", "site/a/link=no-reply",
          "site/a/annunciation=" + sounding, "site/a/conditions=[]"}));

  // While disconnected a topic that changes twice goes out once, with its last value; a connect
  // sends everything anyway.
  publisher.OnDisconnected();
  states.States(0).Set(60, 1);
  publisher.SetTriggerStates(0, states.States(0));
  states.States(0).Set(60, 0);
  states.States(0).Set(59, 1);
  publisher.SetTriggerStates(0, states.States(0));
  const std::size_t offline = client.sent.size();
  publisher.Pump(client.Send());
  publisher.OnConnected();
  publisher.Pump(client.Send());
  const std::vector<std::string> again = client.Topics(offline);
  EXPECT_EQ(again.size(), 5U + 12U + 2U * 240U);
  EXPECT_EQ(std::count(again.begin(), again.end(), "site/a/trigger/emg/60=0"), 1);
  EXPECT_EQ(std::count(again.begin(), again.end(), "site/a/trigger/emg/59=1"), 1);
  EXPECT_EQ(std::count(again.begin(), again.end(), "site/a/link=no-reply"), 1);
  // The BGM page is not published.
  publisher.SetTriggerStates(3, states.States(3));
  EXPECT_EQ(publisher.dirty(), 0U);
}

// What the broker shows on the panel's own topics: another value is put right, the panel's own
// (its echo) and other topics are left alone; every retained topic goes out again when asked.
TEST(MqttPublisher, ABrokerValueThatDiffersIsPutRightAndAllAreRepublishedWhenAsked) {
  MqttPublisher publisher("site/a");
  FakeClient client;
  publisher.SetFaultLamps(FaultLamps().set(2));  // fault/3 = 1
  publisher.SetLinkState(LinkState::kNoReply);
  publisher.SetTriggerNames(2, std::vector<std::string>(120, "Lobby"));
  publisher.SetWebAddress("http://127.0.0.1:8081/");
  publisher.OnConnected();
  publisher.Pump(client.Send());
  const std::size_t all = client.sent.size();
  const std::vector<std::string> filters = publisher.StateFilters();
  const auto covered = [&filters](const std::string& topic) {
    return std::any_of(filters.begin(), filters.end(),
                       [&topic](const std::string& f) { return TopicMatchesFilter(f, topic); });
  };
  for (const MqttMessage& m : client.sent)
    EXPECT_TRUE(covered(m.topic)) << m.topic;
  EXPECT_FALSE(covered("site/a/event"));

  // The broker's topic and value; what goes out again.
  const std::tuple<const char*, const char*, std::vector<std::string>> rows[] = {
      {"site/a/fault/3", "0", {"site/a/fault/3=1"}},
      {"site/a/fault/3", "1", {}},                   // our own value, come back
      {"site/a/fault/3", "", {}},                    // again: at the next republish
      {"site/a/fault/4", "", {"site/a/fault/4=0"}},  // the retained value cleared
      {"site/a/status", "offline", {"site/a/status=online"}},
      {"site/a/event", "{}", {}},
      {"site/b/fault/3", "0", {}},
  };
  for (const auto& [topic, payload, republished] : rows) {
    const std::size_t before = client.sent.size();
    publisher.OnBrokerValue(topic, payload);
    publisher.Pump(client.Send());
    EXPECT_EQ(client.Topics(before), republished) << topic << "=" << payload;
  }

  // Every retained topic once more, in the order of a connect.
  const std::size_t again = client.sent.size();
  publisher.RepublishRetained();
  publisher.Pump(client.Send());
  ASSERT_EQ(client.sent.size() - again, all);
  for (std::size_t i = 0; i < all; ++i)
    EXPECT_EQ(client.sent[again + i], client.sent[i]) << i;
  // And the next foreign value is put right at once again.
  publisher.OnBrokerValue("site/a/fault/3", "0");
  publisher.Pump(client.Send());
  EXPECT_EQ(client.Topics(again + all), std::vector<std::string>{"site/a/fault/3=1"});
}

// A journal of rows 1..n held by the test, read as the program reads the file.
struct FakeJournal {
  std::vector<JournalRow> rows;
  int reads = 0;
  bool failing = false;
  void Add(JournalKind kind, const std::string& text) {
    rows.push_back(Row(static_cast<std::int64_t>(rows.size()) + 1, kind, text));
  }
  MqttPublisher::ReadFn Reader() {
    return [this](std::int64_t from, std::size_t limit, std::vector<JournalRow>& out) {
      ++reads;
      out.clear();
      if (failing) return false;
      for (const JournalRow& row : rows)
        if (row.sequence >= from && out.size() < limit) out.push_back(row);
      return true;
    };
  }
};

TEST(MqttPublisher, EventsFromTheJournalInOrderWithinTheWindowAndOnceAcrossAReconnect) {
  MqttPublisher publisher("j", 4);
  FakeClient client;
  FakeJournal journal;
  journal.Add(JournalKind::kEvent, "from an earlier run");
  publisher.UseJournal(journal.Reader(), 1);
  publisher.OnConnected();
  publisher.Pump(client.Send());
  const std::size_t state_messages = client.sent.size();

  journal.Add(JournalKind::kProgram, "Program started");  // 2: not published
  for (int i = 3; i <= 12; ++i)
    journal.Add(i == 5 ? JournalKind::kOperator : JournalKind::kEvent, "e" + std::to_string(i));
  journal.Add(JournalKind::kLink, "Disconnected");  // 13
  publisher.OnCommitted(13);
  publisher.Pump(client.Send());
  // At most four unacknowledged.
  EXPECT_EQ(client.EventSeqs(), (std::vector<std::int64_t>{3, 4, 5, 6}));
  EXPECT_EQ(client.sent[state_messages],
            (MqttMessage{"j/event", EventJson(journal.rows[2]), 1, false, 3}));

  // Acknowledgements out of order: the cursor stops at the first gap.
  publisher.OnDelivered(client.unacked.rbegin()->first);  // seq 6
  publisher.OnDelivered(client.unacked.begin()->first);   // seq 3
  EXPECT_EQ(publisher.cursor(), 3);
  client.unacked.erase(client.unacked.begin());
  client.unacked.erase(std::prev(client.unacked.end()));
  publisher.OnDelivered(12345);  // not ours
  EXPECT_EQ(publisher.cursor(), 3);
  publisher.Pump(client.Send());
  EXPECT_EQ(client.EventSeqs(), (std::vector<std::int64_t>{3, 4, 5, 6, 7, 8}));

  // Lost: 4, 5, 7, 8 were never acknowledged (6 was): they go again, from the cursor on.
  publisher.OnDisconnected();
  client.unacked.clear();
  journal.Add(JournalKind::kEvent, "while away");  // 14
  publisher.OnCommitted(14);
  publisher.Pump(client.Send());  // nothing while disconnected (Pump's guard: the retained test's)
  publisher.OnConnected();
  for (int round = 0; round < 10 && publisher.cursor() < 14; ++round) {
    publisher.Pump(client.Send());
    client.AckAll(publisher);
  }
  const std::vector<std::int64_t> sent{3, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  EXPECT_EQ(client.EventSeqs(), sent);
  EXPECT_EQ(publisher.cursor(), 14);

  // Nothing new: no reading at all. A journal that cannot be read now is tried again.
  const int reads = journal.reads;
  publisher.Pump(client.Send());
  EXPECT_EQ(journal.reads, reads);
  journal.Add(JournalKind::kEvent, "15");
  publisher.OnCommitted(15);
  journal.failing = true;
  publisher.Pump(client.Send());
  EXPECT_EQ(client.EventSeqs(), sent);
  journal.failing = false;
  publisher.Pump(client.Send());
  EXPECT_EQ(client.EventSeqs().back(), 15);

  // The damaged file was moved aside; the new chain starts at 1.
  journal.rows.clear();
  journal.Add(JournalKind::kLink, "new 1");
  journal.Add(JournalKind::kEvent, "new 2");
  publisher.OnCommitted(2);
  publisher.Pump(client.Send());
  const std::vector<std::int64_t> last = client.EventSeqs();
  EXPECT_EQ(std::vector<std::int64_t>(last.end() - 3, last.end()),
            (std::vector<std::int64_t>{15, 1, 2}));
}

TEST(MqttPublisher, WithoutAJournalARecordQueueNumberedFromOneAndBounded) {
  MqttPublisher publisher("m", 2, 5);
  FakeClient client;
  JournalEntry entry;
  entry.kind = JournalKind::kProgram;
  publisher.OnRecorded(entry);  // not an event: neither numbered nor kept
  for (int i = 1; i <= 8; ++i) {
    entry.kind = JournalKind::kEvent;
    entry.text = "r" + std::to_string(i);
    publisher.OnRecorded(entry);
  }
  publisher.OnConnected();
  for (int round = 0; round < 10; ++round) {
    publisher.Pump(client.Send());
    client.AckAll(publisher);
  }
  // Eight made while disconnected, five kept: 1..3 dropped.
  EXPECT_EQ(client.EventSeqs(), (std::vector<std::int64_t>{4, 5, 6, 7, 8}));
  EXPECT_NE(client.sent.back().payload.find("\"text\":\"r8\""), std::string::npos);
}

// Failed connects double the wait up to a minute; connections the broker ends soon after
// accepting them twice in a row are another client with the same id, given way to.
TEST(ReconnectBackoff, DoublesToAMinuteAndGivesWayToAClientThatCutsItShort) {
  ReconnectBackoff failing;
  std::vector<int> failed;
  for (int i = 0; i < 9; ++i)
    failed.push_back(failing.Failed());
  EXPECT_EQ(failed, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
  // What happens; how long each connection lasted (accepted, then lost), the waits, and whether
  // the other client took over.
  const std::tuple<const char*, std::vector<std::int64_t>, std::vector<int>, bool> rows[] = {
      {"lasting ones start over each time", {60000, 10000, 20000}, {1000, 1000, 1000}, false},
      {"one cut short doubles on", {60000, 500}, {1000, 2000}, false},
      {"two cut short in a row: the longest wait", {60000, 500, 500}, {1000, 2000, 60000}, true},
      {"and so on", {500, 500, 500, 9999}, {1000, 60000, 60000, 60000}, true},
      {"one that lasts ends it", {500, 500, 10000, 500}, {1000, 60000, 1000, 2000}, false},
  };
  for (const auto& [what, lasted_ms, expected_waits, taken_over] : rows) {
    ReconnectBackoff backoff;
    std::vector<int> waits;
    std::int64_t now = 0;
    for (const std::int64_t lasted : lasted_ms) {
      backoff.Accepted(now);
      now += lasted;
      waits.push_back(backoff.Lost(now));
      now += waits.back();
    }
    EXPECT_EQ(std::pair(waits, backoff.taken_over()), std::pair(expected_waits, taken_over))
        << what;
  }
}

}  // namespace
}  // namespace orv
