// The handover report's sections from the records alone: each row of the table is a journal as
// the panel writes it and what each section must say at the report's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/access_gate.h"
#include "conditions/condition_book.h"
#include "handover/handover_render.h"
#include "handover/handover_report.h"

namespace orv {
namespace {

constexpr std::int64_t kMin = 60'000;
constexpr std::int64_t kFrom = 100 * kMin;  // the period begins at minute 100
constexpr std::int64_t kTo = 200 * kMin;    // and ends at minute 200

struct Rec {
  std::int64_t minute;
  JournalKind kind;
  std::string text;
  std::string detail = {};
  std::string login = "desk";
};

Rec Event(std::int64_t minute, std::string word, std::string detail = {}) {
  return {minute, JournalKind::kEvent, "12/07 14:03 Event = " + word, std::move(detail)};
}
Rec Op(std::int64_t minute, std::string text, std::string detail = {}) {
  return {minute, JournalKind::kOperator, std::move(text), std::move(detail)};
}
Rec Link(std::int64_t minute, std::string text) {
  return {minute, JournalKind::kLink, std::move(text)};
}
Rec Program(std::int64_t minute, std::string text) {
  return {minute, JournalKind::kProgram, std::move(text)};
}
// The gate's own words for a log in or out, so that a change of them shows here.
Rec Access(std::int64_t minute, AccessEventKind kind, std::string name, Origin origin) {
  AccessEvent event;
  event.kind = kind;
  event.operator_name = std::move(name);
  event.level = AccessLevel::kLevel2;
  event.origin = origin;
  return Op(minute, AccessEventText(event));
}
Rec Refused(std::int64_t minute, Action action) {
  AccessEvent event;
  event.kind = AccessEventKind::kRefusedAction;
  event.action = action;
  event.text = "refused: level 2 needed";
  return Op(minute, AccessEventText(event));
}

struct Case {
  const char* name;
  std::vector<Rec> records;
  // Each section in order, its items joined by "; " (conditions name@since[/by], shelves
  // name@until, records by text, sessions name@origin), sections by " | ".
  std::string sections;
};

std::string Minute(std::int64_t ms) {
  return std::to_string(ms / kMin);
}

std::string Render(const HandoverReport& r) {
  std::string out;
  bool first = true;
  const auto join = [&](const std::vector<std::string>& items) {
    if (!first) out += " | ";
    first = false;
    for (std::size_t i = 0; i < items.size(); ++i)
      out += (i ? "; " : "") + items[i];
  };
  for (const auto* list : {&r.unacknowledged, &r.acknowledged, &r.cleared}) {
    std::vector<std::string> items;
    for (const HandoverCondition& c : *list)
      items.push_back(c.name + "@" + Minute(c.since.utc_ms) +
                      (c.acknowledged ? "/" + c.acknowledged_by : "") +
                      (c.present ? "" : "-" + Minute(c.cleared.utc_ms)));
    join(items);
  }
  std::vector<std::string> shelves;
  for (const HandoverShelf& s : r.shelves_ending)
    shelves.push_back(s.name + "@" + Minute(s.until_ms) + "/" + s.by);
  join(shelves);
  for (const auto* list : {&r.refusals, &r.link_losses, &r.logins}) {
    std::vector<std::string> items;
    for (const JournalRow& row : *list)
      items.push_back(row.entry.text);
    join(items);
  }
  std::vector<std::string> sessions;
  for (const HandoverSession& s : r.logged_in)
    sessions.push_back(s.name + "@" + s.origin);
  join(sessions);
  return out;
}

const Origin kWeb{OriginKind::kWeb, "192.0.2.7"};

const std::vector<Case> kCases{
    {"NothingRecorded", {}, " |  |  |  |  |  |  | "},
    {"EachAlarmStandsUntilEmgReset",
     {Event(110, "ALARM"), Event(120, "ALARM"), Event(130, "EMG Reset"), Event(140, "ALERT")},
     "ALERT@140 |  | ALARM@110-130; ALARM@120-130 |  |  |  |  | "},
    {"AnAlarmFromBeforeThePeriodStillStands",
     {Event(10, "EMG"), Event(150, "EMG Ack")},
     "EMG@10 |  |  |  |  |  |  | "},
    {"TheFaultWordSaysWhichLampsStand",
     {Event(110, "Fault 0000000011000000", "Mains, Battery"),
      Event(120, "Fault 0000000010000000", "Battery, bit 5 (no lamp)")},
     "Battery@110 |  | Mains@110-120 |  |  |  |  | "},
    {"NoFaultClearsThemAllAndAReportWithoutWordsNothing",
     {Event(110, "Fault 0000000001000000", "Mains"), Event(120, "Fault 0000000001000000"),
      Event(130, "Fault 0000000000000000", "No fault"), Event(140, "Fault Reset")},
     " |  | Mains@110-130 |  |  |  |  | "},
    {"ALampLitFromTheStatusStands",
     {Program(110, "Annunciator sounds: Fault lamp Router lit")},
     "Router@110 |  |  |  |  |  |  | "},
    {"AcknowledgedByTheOperatorTheDetailNames",
     {Event(110, "Fault 0000000001000000", "Mains"), Event(111, "ALARM"), Event(112, "ALARM"),
      Op(120, "Acknowledged \"Mains\": card replaced", "operator alice, level 2"),
      Op(121, "Acknowledged \"ALARM\"")},
     "ALARM@112 | Mains@110/alice; ALARM@111/desk |  |  |  |  |  | "},
    {"AnAcknowledgementIsOfTheLampTheWayItStandsNow",
     {Event(110, "Fault 0000000001000000", "Mains"),
      Event(120, "Fault 0000000000000000", "No fault"),
      Event(130, "Fault 0000000001000000", "Mains"), Op(140, "Acknowledged \"Mains\"")},
     " | Mains@130/desk | Mains@110-120 |  |  |  |  | "},
    {"WhatClearedInThePeriodBeforeARestartStaysCleared",
     {Event(110, "ALARM"), Event(120, "EMG Reset"), Event(125, "Fault 0000000001000000", "Mains"),
      Program(130, "Program started: Orvandel, user desk"), Op(140, "Acknowledged \"ALARM\"")},
     " |  | ALARM@110-120 |  |  |  |  | "},
    {"ClearedBeforeThePeriodIsNotListed",
     {Event(10, "Fault 0000000001000000", "Mains"), Event(20, "Fault 0000000000000000", "No fault"),
      Event(30, "ALARM"), Event(40, "EMG Reset")},
     " |  |  |  |  |  |  | "},
    {"AProgramStartBeginsTheBookAgain",
     {Event(10, "ALARM"), Program(50, "Program started: Orvandel, user desk"), Event(60, "ALERT"),
      Access(61, AccessEventKind::kLogIn, "alice", Origin{})},
     "ALERT@60 |  |  |  |  |  |  | alice@window"},
    {"TheLinkLostStandsUntilItAnswersAndEachLossIsListed",
     {Link(110, "No reply from the controller since 14:03:22 (5.0 s without a valid frame)"),
      Link(120, "The controller answers again at 14:05:00, after 98 s without a valid frame"),
      Link(130, "No reply from the controller since 14:10:00 (5.0 s without a valid frame)"),
      Link(140, "Port failure: COM1 /dev/ttyUSB0: device lost (gone)"),
      Link(150, "Connected: COM1 /dev/ttyUSB0")},
     "No reply from controller@130 |  | No reply from controller@110-120 |  |  | "
     "No reply from the controller since 14:03:22 (5.0 s without a valid frame); "
     "No reply from the controller since 14:10:00 (5.0 s without a valid frame); "
     "Port failure: COM1 /dev/ttyUSB0: device lost (gone) |  | "},
    {"ADisconnectionClearsTheLampsAndTheLink",
     {Event(110, "Fault 0000000001000000", "Mains"),
      Link(115, "No reply from the controller since 14:03:22 (5.0 s without a valid frame)"),
      Link(120, "Disconnected: COM1 /dev/ttyUSB0")},
     " |  | Mains@110-120; No reply from controller@115-120 |  |  | "
     "No reply from the controller since 14:03:22 (5.0 s without a valid frame) |  | "},
    {"ShelvesEndingWithinEightHoursOfTheEnd",
     {Event(110, "Fault 0000000011000001", "Mains, Battery, Processor reset"),
      Op(120, "Shelved \"Mains\" for 60 min: works", "operator bob, level 2"),
      Op(121, "Shelved \"Battery\" for 1440 min: spare on order", "operator bob, level 2"),
      Op(122, "Shelved \"Processor reset\" for 60 min: tests", "operator bob, level 2"),
      Op(150, "Shelf of \"Processor reset\" ends in 15 min"),
      Op(182, "Shelf of \"Processor reset\" ended"),
      Op(190, "Shelved \"Router\" for 400 min: after hours", "operator bob, level 2"),
      Op(191, "Shelved \"Network\" for 600 min: too late", "operator bob, level 2")},
     "Mains@110; Battery@110; Processor reset@110 |  |  | Router@590/bob |  |  |  | "},
    {"AShelfEndedByItsTimeIsNotListed",
     {Op(10, "Shelved \"Mains\" for 120 min: works", "operator bob, level 2")},
     " |  |  |  |  |  |  | "},
    {"RefusalsInThePeriodAndNotAnAcknowledgementThatSaysRefused",
     {Refused(90, Action::kEmgReset), Refused(110, Action::kEmgReset),
      Op(111, "Log in refused (wrong PIN): mallory, level 1, web 192.0.2.7"),
      Op(112, "12 more refused log-ins from web 192.0.2.7 in 10 s"),
      Op(113, "300 more refusals in 10 s, too many to record one by one"),
      Op(114, "Acknowledged \"Mains\": refused: by the contractor"),
      Op(115, "Renamed EMG 1: \"refused: x\" to \"y\"")},
     " |  |  |  | EMG Reset refused: level 2 needed: no operator, level 1, window; "
     "Log in refused (wrong PIN): mallory, level 1, web 192.0.2.7; "
     "12 more refused log-ins from web 192.0.2.7 in 10 s; "
     "300 more refusals in 10 s, too many to record one by one |  |  | "},
    {"WhoLoggedInAndWhoIsStillLoggedIn",
     {Access(50, AccessEventKind::kLogIn, "carol", kWeb),
      Access(110, AccessEventKind::kLogIn, "alice", Origin{}),
      Access(120, AccessEventKind::kLogIn, "bob", Origin{}),
      Access(130, AccessEventKind::kTimeout, "bob", Origin{}),
      Access(140, AccessEventKind::kLogIn, "dave", Origin{OriginKind::kLocalSocket, "dave"})},
     " |  |  |  |  |  | Log in: alice, level 2, window; Log in: bob, level 2, window; "
     "Log-in timed out: bob, window; Log in: dave, level 2, local user dave | "
     "carol@web 192.0.2.7; dave@local user dave"},
    {"RecordsAfterTheEndAreNotRead",
     {Event(201, "ALARM"), Access(201, AccessEventKind::kLogIn, "alice", Origin{})},
     " |  |  |  |  |  |  | "},
};

class HandoverSections : public ::testing::TestWithParam<Case> {};

TEST_P(HandoverSections, FromTheRecords) {
  HandoverBuilder builder(kFrom, JournalTime{kTo, 3600});
  std::int64_t sequence = 0;
  for (const Rec& rec : GetParam().records) {
    JournalRow row;
    row.sequence = ++sequence;
    row.entry.time = JournalTime{rec.minute * kMin, 3600};
    row.entry.kind = rec.kind;
    row.entry.text = rec.text;
    row.entry.detail = rec.detail;
    row.entry.login = rec.login;
    builder.Take(row);
  }
  EXPECT_EQ(Render(builder.Finish()), GetParam().sections);
}

INSTANTIATE_TEST_SUITE_P(Table, HandoverSections, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

JournalRow Row(std::int64_t sequence, std::int64_t minute, JournalKind kind, std::string text) {
  JournalRow row;
  row.sequence = sequence;
  row.entry.time = JournalTime{minute * kMin, 0};
  row.entry.kind = kind;
  row.entry.text = std::move(text);
  return row;
}

// A storm of alarm reports: as the panel's book, the first and the latest stay listed.
TEST(HandoverBounds, AnAlarmStormKeepsTheFirstAndTheLatest) {
  HandoverBuilder builder(kFrom, JournalTime{kTo, 0});
  const int storm = static_cast<int>(ConditionBook::kMostAlarms) + 5;
  for (int i = 0; i < storm; ++i)
    builder.Take(Row(i + 1, 110, JournalKind::kEvent,
                     "12/07 14:03 Event = " + std::string(i == 0 ? "EMG" : "ALARM")));
  const HandoverReport report = builder.Finish();
  ASSERT_EQ(report.unacknowledged.size(), ConditionBook::kMostAlarms);
  EXPECT_EQ(report.unacknowledged.front().name, "EMG");
}

// A flood of refusals lists at most kMostRows and says how many more there were.
TEST(HandoverBounds, ASectionListsItsMostAndCountsTheRest) {
  HandoverBuilder builder(kFrom, JournalTime{kTo, 0});
  const std::size_t flood = HandoverBuilder::kMostRows + 3;
  for (std::size_t i = 0; i < flood; ++i)
    builder.Take(Row(static_cast<std::int64_t>(i) + 1, 150, JournalKind::kOperator,
                     "EMG refused: level 2 needed: no operator, level 1, web 192.0.2.7"));
  const HandoverReport report = builder.Finish();
  EXPECT_EQ(report.refusals.size(), HandoverBuilder::kMostRows);
  EXPECT_NE(HandoverText(report).find("3 more records not listed"), std::string::npos);
}

}  // namespace
}  // namespace orv
