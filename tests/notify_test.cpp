// Who is told what and when: the rules as the settings write them, and the schedule on the tick
// clock, with the journal's records read back after a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "journal/journal_query.h"
#include "notify/notifier.h"
#include "notify/notify_feed.h"
#include "notify/notify_records.h"
#include "notify/notify_rules.h"
#include "platform/profile.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr std::int64_t kS = 1000;

NotifySettings Load(const std::string& ini, std::vector<std::string>* notices = nullptr) {
  const ProfileSnapshot profile = ProfileSnapshot::FromText(ini);
  return LoadNotifySettings(
      [&profile](std::string_view section, std::string_view key) {
        return profile.Read(section, key, "", 1024);
      },
      [notices](const Notice& notice) {
        if (notices != nullptr) notices->push_back(notice.text);
      },
      "panel");
}

TEST(NotifyRules, TheSettingsAndWhatIsWrongWithThem) {
  const NotifySettings good = Load(
      "[Notify]\nRules=night\nCommand=/usr/local/bin/page\n"
      "[Notify night]\nConditions=alarm, fault 1 12, link\nAfter=30s\nRepeat=0, 5, 2h\n"
      "To=command, mail:duty@example.org, https://ntfy.example.org/panel\n"
      "EscalateAfter=10\nEscalateTo=mail:boss@example.org\nDone=no\nInterval=10s\n");
  ASSERT_EQ(good.rules.size(), 1u);
  const NotifyRule& rule = good.rules[0];
  EXPECT_EQ(std::tuple(rule.alarm, rule.link, rule.sounder, rule.any, rule.lamps),
            std::tuple(true, true, false, false, 0x801u));
  EXPECT_EQ(std::tuple(rule.after_ms, rule.repeat_ms, *rule.escalate_after_ms, rule.done,
                       rule.interval_ms),
            std::tuple(30 * kS, std::vector<std::int64_t>{0, 300 * kS, 7200 * kS}, 600 * kS, false,
                       10 * kS));
  std::vector<std::string> to;
  for (const auto& r : rule.to)
    to.push_back(r.Text());
  EXPECT_EQ(to, (std::vector<std::string>{"command", "mail:duty@example.org",
                                          "https://ntfy.example.org/panel"}));
  EXPECT_EQ(good.mail_from, "orvandel@panel");
  Condition lamp;
  for (const auto& [id, kind, matches] : {std::tuple("fault-12", ConditionKind::kFault, true),
                                          {"fault-2", ConditionKind::kFault, false},
                                          {"alarm-7", ConditionKind::kAlarm, true},
                                          {"sounder", ConditionKind::kSounder, false}}) {
    std::tie(lamp.id, lamp.kind) = std::tuple(id, kind);
    EXPECT_EQ(rule.Matches(lamp), matches) << id;
  }

  // Each mistake leaves its rule out, said with the rule's name and why; the next rule stands.
  struct Bad {
    const char* keys;
    const char* said;
  };
  for (const Bad& bad : {
           Bad{"Conditions=fault 13\nTo=mail:a@b", "only fault takes lamp numbers, 1 to 12"},
           Bad{"Conditions=alarm 2\nTo=mail:a@b", "only fault takes lamp numbers"},
           Bad{"Conditions=fire\nTo=mail:a@b", "Conditions names \"fire\""},
           Bad{"Conditions=\nTo=mail:a@b", "Conditions names none"},
           Bad{"Conditions=any\nRepeat=5, 1\nTo=mail:a@b", "Repeat must go up"},
           Bad{"Conditions=any\nRepeat=0, 25h\nTo=mail:a@b", "not a time of at most 24 h"},
           Bad{"Conditions=any\nAfter=soon\nTo=mail:a@b", "After is \"soon\""},
           Bad{"Conditions=any\nTo=", "To names nobody"},
           Bad{"Conditions=any\nTo=ftp://x", "a recipient is command, mail:ADDRESS or an http"},
           Bad{"Conditions=any\nTo=mail:-oX@b", "one plain address"},
           Bad{"Conditions=any\nTo=mail:a@b,c@d", "a recipient is command"},
           Bad{"Conditions=any\nTo=command", "[Notify] sets no Command"},
           Bad{"Conditions=any\nTo=mail:a@b\nEscalateAfter=5", "EscalateTo names nobody"},
           Bad{"Conditions=any\nTo=mail:a@b\nDone=maybe", "Done is \"maybe\""},
       }) {
    std::vector<std::string> notices;
    const NotifySettings settings =
        Load(std::string("[Notify]\nRules=one, two\n[Notify one]\n") + bad.keys +
                 "\n[Notify two]\nConditions=any\nTo=mail:a@b\n",
             &notices);
    ASSERT_EQ(settings.rules.size(), 1u) << bad.keys;
    EXPECT_EQ(settings.rules[0].name, "two");
    ASSERT_EQ(notices.size(), 1u) << bad.keys;
    EXPECT_EQ(notices[0].rfind("[Notify one] is not used: ", 0), 0u) << notices[0];
    EXPECT_NE(notices[0].find(bad.said), std::string::npos) << notices[0];
  }
  std::vector<std::string> notices;
  EXPECT_TRUE(Load("[Notify]\nRules=a b\nCommand=page\n", &notices).rules.empty());
  EXPECT_EQ(notices,
            (std::vector<std::string>{
                "[Notify] Command is not an absolute path without blanks; no command is run",
                "[Notify] Rules names \"a b\"; a rule's name is letters, digits, - and _, "
                "at most 32"}));
}

TEST(NotifyRecords, TheDetailReadsBackAsItWasWritten) {
  const NotifyRecordDetail due{
      "due",
      "night",
      {{"problem", "fault-3", 41, 0, 1000, 1100}, {"repeat", "link", 7, 2, 5, 6}},
      {"command", "mail:a@b", "https://h/x?y=1"}};
  EXPECT_EQ(due.Text(),
            "due night problem:fault-3:41:0:1000:1100;repeat:link:7:2:5:6 "
            "command,mail:a@b,https://h/x?y=1");
  EXPECT_EQ(ParseNotifyRecordDetail(due.Text()), due);
  const NotifyRecordDetail closed{"closed", "night", {{"restart", "alarm-1", 3, 0, 1, 2}}, {}};
  EXPECT_EQ(ParseNotifyRecordDetail(closed.Text()), closed);
  for (const char* bad : {"", "due night", "sent night problem:fault-3:41:0:1:2",
                          "sent night problem:fault-3:41:0:1:2 a,b",
                          "due night problem:f:x:0:1:2 c", "due night problem:f:1:0:1 c",
                          "kept night problem:f:1:0:1:2 c", "due night problem:f:1:0:1:2 command,"})
    EXPECT_FALSE(ParseNotifyRecordDetail(bad).has_value()) << bad;
  EXPECT_EQ(NotifyMessageTextOf(NotifyRecordText("night", "repeat", "\"Mains\" stands"), "night",
                                "repeat"),
            "\"Mains\" stands");
}

// A notifier with its journal: every tick's records are kept, committed, and what is released
// is answered as the test says.
struct Site {
  explicit Site(std::vector<NotifyRule> rules, std::string instance = {})
      : notifier(std::move(rules), std::move(instance)) {}

  std::vector<NotifySend> Tick(const std::vector<Condition>& conditions, std::int64_t now,
                               bool answer = true, bool known = true) {
    std::vector<NotifyRecord> records;
    notifier.Committed();
    std::vector<NotifySend> sends = notifier.Release(now);
    notifier.Tick(conditions, known, now, seq, records);
    Keep(records);
    notifier.Committed();
    for (NotifySend& send : notifier.Release(now))
      sends.push_back(std::move(send));
    if (answer) {
      for (const NotifySend& send : sends) {
        notifier.Answered(send.delivery, {true, "exit 0"}, now, records);
        Keep(records);
      }
    }
    return sends;
  }
  void Keep(std::vector<NotifyRecord>& records) {
    for (const NotifyRecord& r : records)
      journal.emplace_back(r.text, r.detail);
    seq += static_cast<std::int64_t>(records.size());
    records.clear();
  }

  Notifier notifier;
  std::vector<std::pair<std::string, std::string>> journal;
  std::int64_t seq = 100;
};

std::string Said(const std::vector<NotifySend>& sends) {
  std::string text;
  for (const NotifySend& s : sends)
    text += (text.empty() ? "" : ", ") + s.message.type + " " + std::to_string(s.message.step) +
            " " + s.to.Text();
  return text;
}

NotifyRule Rule(const std::string& keys) {
  const NotifySettings settings = Load(
      "[Notify]\nRules=r\nCommand=/bin/page\n[Notify r]\nConditions=fault\nTo=command\n"
      "Repeat=0, 5, 15\n" +
      keys);
  EXPECT_EQ(settings.rules.size(), 1u) << keys;
  return settings.rules.empty() ? NotifyRule{} : settings.rules[0];
}

TEST(Notifier, RepeatsEscalationAndDoneOnTheTickClock) {
  // A moment: the lamp's condition as it then is ("" not listed), and what goes out.
  struct Moment {
    int at_s;
    const char* state;  // new, ack, gone, shelved or ""
    const char* sent;
  };
  struct Case {
    const char* name;
    const char* keys;
    std::vector<Moment> moments;
  };
  const char* boss = "EscalateAfter=10\nEscalateTo=mail:boss@example.org\n";
  for (const Case& c : std::vector<Case>{
           {"repeated, escalated, acknowledged",
            boss,
            {{0, "new", "problem 0 command"},
             {60, "new", ""},
             {300, "new", "repeat 1 command"},
             {600, "new", "escalation 0 mail:boss@example.org"},
             {900, "new", "repeat 2 command, repeat 2 mail:boss@example.org"},
             {960, "ack", "done 0 command, done 0 mail:boss@example.org"},
             {1900, "ack", ""}}},
           {"cleared unacknowledged, then back",
            "",
            {{0, "new", "problem 0 command"},
             {60, "gone", "done 0 command"},
             {120, "gone", ""},
             {180, "new", "problem 0 command"}}},
           {"gone before After",
            "After=30s\n",
            {{0, "new", ""},
             {20, "gone", ""},
             {40, "", ""},
             {50, "new", ""},
             {80, "new", "problem 0 command"}}},
           {"acknowledged before the first",
            "After=30s\n",
            {{0, "new", ""}, {10, "ack", ""}, {40, "ack", ""}}},
           {"shelved: nobody told, afresh at the end",
            "",
            {{0, "shelved", ""}, {300, "shelved", ""}, {600, "new", "problem 0 command"}}},
           {"shelved once told: no done",
            "",
            {{0, "new", "problem 0 command"}, {60, "shelved", ""}, {300, "shelved", ""}}},
           {"overdue steps go as the latest",
            "Interval=10m\n",
            {{0, "new", "problem 0 command"}, {300, "new", ""}, {900, "new", "repeat 2 command"}}},
           {"no done when not asked",
            "Done=no\n",
            {{0, "new", "problem 0 command"}, {60, "ack", ""}}},
       }) {
    Site site({Rule(c.keys)});
    std::int64_t since = 0;
    std::string previous;
    for (const Moment& m : c.moments) {
      const std::string state = m.state;
      if (state == "new" && (previous.empty() || previous == "gone")) since = m.at_s * kS;
      previous = state;
      std::vector<Condition> listed;
      if (!state.empty()) {
        Condition& lamp = listed.emplace_back();
        std::tie(lamp.id, lamp.name, lamp.since_ms, lamp.present) =
            std::tuple("fault-3", "Amplifier", since, state != "gone");
        if (state == "ack")
          std::tie(lamp.acknowledged, lamp.acknowledged_by, lamp.comment) =
              std::tuple(true, "alice", "seen");
        if (state == "shelved") lamp.shelved_until_ms = 600 * kS;
      }
      const std::vector<NotifySend> sends = site.Tick(listed, m.at_s * kS);
      EXPECT_EQ(Said(sends), m.sent) << c.name << " at " << m.at_s << " s";
      if (Said(sends).rfind("done", 0) == 0) {
        EXPECT_EQ(sends[0].message.text, state == "ack"
                                             ? "\"Amplifier\" acknowledged by alice: seen"
                                             : "\"Amplifier\" cleared")
            << c.name;
      }
    }
  }
}

Condition Lamp(const char* id, std::int64_t since) {
  Condition lamp;
  std::tie(lamp.id, lamp.name, lamp.since_ms) = std::tuple(id, id, since);
  return lamp;
}

TEST(Notifier, AStormIsOneNotificationPerInterval) {
  NotifyRule rule = Rule("");
  rule.any = true;
  Site site({rule});
  std::vector<Condition> storm;
  for (int i = 1; i <= 149; ++i) {
    Condition& alarm = storm.emplace_back(Lamp("", 0));
    std::tie(alarm.id, alarm.kind, alarm.name) =
        std::tuple("alarm-" + std::to_string(i), ConditionKind::kAlarm, "ALARM");
  }
  storm.push_back(Lamp("fault-1", 0));
  std::vector<NotifySend> sends = site.Tick(storm, 0);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].message.condition, "alarm-1");
  EXPECT_EQ(sends[0].message.text, "\"ALARM\" stands and 149 more");
  EXPECT_EQ(ParseNotifyRecordDetail(site.journal.front().second)->items.size(), 150u);
  EXPECT_TRUE(site.Tick(storm, 30 * kS).empty());
  storm.resize(10);  // the rest cleared: their done messages wait for the interval
  EXPECT_TRUE(site.Tick(storm, 59 * kS).empty());
  sends = site.Tick(storm, 60 * kS);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].message.text, "\"ALARM\" cleared and 139 more");
}

// Of several controllers, each message says whose it is; the plain service's names none.
TEST(Notifier, EveryMessageNamesTheInstance) {
  for (const std::string instance : {"b", ""}) {
    Site site({Rule("")}, instance);
    std::vector<NotifySend> sends = site.Tick({Lamp("fault-3", 0)}, 0);
    const std::vector<NotifySend> cleared = site.Tick({}, 60 * kS);
    sends.insert(sends.end(), cleared.begin(), cleared.end());
    ASSERT_EQ(sends.size(), 2u) << Said(sends);
    for (const NotifySend& send : sends)
      EXPECT_EQ(send.message.instance, instance);
  }
}

TEST(Notifier, ARestartNeitherSendsTwiceNorMissesWhatWasDue) {
  NotifyRule rule = Rule("EscalateAfter=90s\nEscalateTo=mail:boss@example.org\n");
  rule.any = true;
  const auto restart = [&rule](const Site& before) {
    Site after({rule});
    after.notifier.Recover(before.journal);
    after.journal = before.journal;
    after.seq = before.seq + 5;  // the restart's own records
    return after;
  };
  Site first({rule});
  const std::vector<Condition> lit{Lamp("fault-3", 0)};
  ASSERT_EQ(Said(first.Tick(lit, 0)), "problem 0 command");
  const std::int64_t key = first.seq - 2;  // the episode's: the journal's before its due record
  ASSERT_EQ(Said(first.Tick(lit, 300 * kS)),
            "escalation 0 mail:boss@example.org, repeat 1 command");
  // Killed here. The panel has not read the controller yet: nothing, whatever the time.
  Site second = restart(first);
  EXPECT_EQ(Said(second.Tick({}, 600 * kS, true, false)), "");
  // Read again: the lamp stands since the restart, for this run; its steps go on from the first.
  const std::vector<Condition> relit{Lamp("fault-3", 610 * kS)};
  EXPECT_EQ(Said(second.Tick(relit, 610 * kS)), "");
  const std::vector<NotifySend> third = second.Tick(relit, 900 * kS);
  EXPECT_EQ(Said(third), "repeat 2 command, repeat 2 mail:boss@example.org");
  EXPECT_EQ(std::tuple(third[0].message.seq, third[0].message.since_ms), std::tuple(key, 0));
  EXPECT_EQ(Said(second.Tick(relit, 1000 * kS)), "");

  // Killed after a due record was written and before its answer: sent again, with its key, once.
  Site unanswered({rule});
  ASSERT_EQ(Said(unanswered.Tick(lit, 0, false)), "problem 0 command");
  Site again = restart(unanswered);
  const std::vector<NotifySend> resent = again.Tick({}, 1 * kS, true, false);
  EXPECT_EQ(Said(resent), "problem 0 command");
  EXPECT_EQ(resent[0].message.text, "\"fault-3\" stands");
  EXPECT_EQ(Said(again.Tick({}, 2 * kS, true, false)), "");

  // After the restart a lamp is out: done; an alarm recovered is let go, recorded: its number
  // belonged to the run before.
  Site alarmed({rule});
  std::vector<Condition> both = lit;
  both.push_back(Lamp("alarm-1", 0));
  both.back().kind = ConditionKind::kAlarm;
  ASSERT_EQ(Said(alarmed.Tick(both, 0)), "problem 0 command");
  Site gone = restart(alarmed);
  EXPECT_EQ(Said(gone.Tick({both.back()}, 10 * kS)), "done 0 command");
  const auto closed = std::find_if(gone.journal.begin(), gone.journal.end(), [](const auto& r) {
    return r.second.rfind("closed r restart:alarm-1:", 0) == 0;
  });
  ASSERT_NE(closed, gone.journal.end());
  EXPECT_EQ(closed->first, "Notify r: \"alarm-1\" not followed after the restart");
  // This run's alarm-1 is a condition of its own.
  EXPECT_EQ(Said(gone.Tick({both.back()}, 600 * kS)), "problem 0 command");
}

TEST(Notifier, FailuresAreTriedAgainWithBackOffThenGivenUp) {
  Site site({Rule("")});
  std::vector<NotifySend> sends = site.Tick({Lamp("fault-3", 0)}, 0, false);
  std::int64_t now = 0;
  std::vector<NotifyRecord> records;
  for (const auto& [attempt, wait_s, said] : {std::tuple(1, 30, "tried again in 30 s"),
                                              {2, 60, "tried again in 1 min"},
                                              {3, 120, "tried again in 2 min"},
                                              {4, 240, "tried again in 4 min"},
                                              {5, 480, "tried again in 8 min"},
                                              {6, 0, "given up after 6 tries"}}) {
    if (attempt > 1) sends = site.notifier.Release(now);
    ASSERT_EQ(sends.size(), 1u) << attempt;
    site.notifier.Answered(sends[0].delivery, {false, "HTTP 500"}, now, records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].text.find(std::string("failed (HTTP 500), ") + said + "; " +
                                   std::to_string(attempt) + " failed since the start"),
              std::string::npos)
        << records[0].text;
    EXPECT_TRUE(records[0].say);
    records.clear();
    EXPECT_TRUE(site.notifier.Release(now + wait_s * kS - 1).empty()) << attempt;
    now += wait_s * kS;
  }
  EXPECT_EQ(site.notifier.deliveries(), 0u);

  // Deliveries waiting (their records not yet written) are bounded: the oldest makes room, said.
  NotifyRule wide = Rule("Interval=0s\n");
  wide.any = true;
  for (int i = 0; i < 15; ++i)
    wide.to.push_back({NotifyChannel::kMail, "a" + std::to_string(i) + "@b"});
  Notifier busy({wide});
  std::vector<Condition> alarms;
  for (int i = 1; i <= 20; ++i) {
    alarms.push_back(Lamp("", 0));
    std::tie(alarms.back().id, alarms.back().kind) =
        std::tuple("alarm-" + std::to_string(i), ConditionKind::kAlarm);
    busy.Tick(alarms, true, i, 0, records);
  }
  EXPECT_EQ(busy.deliveries(), Notifier::kMostDeliveries);
  EXPECT_TRUE(busy.Release(100).empty()) << "sent before the journal has its due record";
  int given_up = 0;
  for (const NotifyRecord& r : records)
    given_up += r.text.find("given up, too many") != std::string::npos;
  EXPECT_EQ(given_up, 20 * 16 - static_cast<int>(Notifier::kMostDeliveries));
}

// Deliveries kept to be answered when the test says, as a channel answers later.
class HeldChannels : public NotifyChannels {
 public:
  std::size_t room() const override { return 1 - held.size(); }
  void Send(const NotifyRecipient& to, const NotifyMessage& message, DoneFn done) override {
    sent.push_back(message.type + " " + message.condition + " " + to.Text());
    held.push_back(std::move(done));
  }
  void AnswerAll(bool ok = true) {
    for (DoneFn& done : std::exchange(held, {}))
      done({ok, ok ? "exit 0" : "exit 1"});
  }
  std::vector<std::string> sent;
  std::vector<DoneFn> held;
};

TEST(NotifyFeed, ThroughTheJournalAndBackAfterARestart) {
  test::TempFolder folder;
  std::int64_t now = 1'000'000;
  JournalOptions options;
  options.clock = [&now] { return JournalTime{now, 0}; };
  options.anchor = nullptr;
  PanelStateStore store;
  PanelState state = EmptyPanelState();
  state.link = LinkCondition::kAnswering;
  state.conditions = {Lamp("fault-3", now)};
  store.Publish(state);
  HeldChannels channels;
  std::vector<std::string> printed;
  const auto print = [&printed](const std::string& line) { printed.push_back(line); };
  // Two recipients, and channels that take one delivery at a time.
  NotifyRule rule = Rule("");
  rule.to.push_back({NotifyChannel::kMail, "duty@example.org"});
  {
    Journal journal(folder.path(), nullptr, options);
    std::vector<std::string> notices;
    NotifyFeed feed(
        {rule}, store, &journal, channels, options.clock,
        [&notices](const Notice& n) { notices.push_back(n.text); }, print);
    feed.Recover();
    feed.Tick();
    feed.Tick();
    EXPECT_TRUE(channels.sent.empty()) << "sent before its record is written";
    journal.Commit();
    feed.Tick();
    EXPECT_EQ(channels.sent, (std::vector<std::string>{"problem fault-3 command"}));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], "1970-01-01T00:16:40+00:00 notify Notify r problem: \"fault-3\" stands");
    // A failure is said, and tried again later.
    channels.AnswerAll(false);
    EXPECT_EQ(notices, (std::vector<std::string>{"Notify r problem to command: failed (exit 1), "
                                                 "tried again in 30 s; 1 failed since the start"}));
    journal.Commit();
  }  // killed before the other answer
  channels.sent.clear();
  channels.held.clear();
  now += 60'000;
  Journal journal(folder.path(), nullptr, options);
  NotifyFeed feed({rule}, store, &journal, channels, options.clock, nullptr, print);
  feed.Recover();
  const std::vector<std::string> both{"problem fault-3 command",
                                      "problem fault-3 mail:duty@example.org"};
  for (std::size_t sent = 1; sent <= 3; ++sent) {
    feed.Tick();
    EXPECT_EQ(channels.sent, std::vector(both.begin(), both.begin() + std::min<long>(sent, 2)));
    channels.AnswerAll();
    journal.Commit();
  }
  JournalReader reader;
  ASSERT_TRUE(reader.Open(journal.file()).ok());
  std::vector<JournalRow> rows;
  ASSERT_TRUE(reader.NewestFirst({}, 0, 1, rows).ok());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].entry.text, "Notify r problem to mail:duty@example.org: sent (exit 0)");
  EXPECT_EQ(rows[0].entry.detail.rfind("sent r problem:fault-3:", 0), 0u) << rows[0].entry.detail;
}

}  // namespace
}  // namespace orv
