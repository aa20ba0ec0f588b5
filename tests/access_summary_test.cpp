// Refusals coalesced: the first of an origin, kind and action in full, the rest counted and said
// once, on a fake clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/refusal_summary.h"

namespace orv {
namespace {

using std::chrono::milliseconds;

const AccessClock::time_point kStart{};
const Origin kOpb{OriginKind::kLocalSocket, "opb"};
const Origin kWeb{OriginKind::kWeb, "192.0.2.7"};

AccessEvent Refused(Origin origin, Action action) {
  return {AccessEventKind::kRefusedAction, "", AccessLevel::kLevel1, std::move(origin), action,
          "refused: level 2 needed"};
}
AccessEvent RefusedPin(const Origin& origin, const std::string& name) {
  return {AccessEventKind::kRefusedPin, name, AccessLevel::kLevel1, origin, {}, "wrong PIN"};
}
AccessEvent LogIn(const Origin& origin) {
  return {AccessEventKind::kLogIn, "opb", AccessLevel::kLevel3, origin, {}, ""};
}

// One step: at a time, an event taken or (none) a tick.
struct Step {
  int at_ms;
  std::optional<AccessEvent> event;
};

// Every record made, as "login origin | text".
std::vector<std::string> Coalesced(const std::vector<Step>& steps) {
  RefusalSummary summary;
  std::vector<std::string> made;
  for (const Step& step : steps) {
    const auto now = kStart + milliseconds(step.at_ms);
    for (const RefusalRecord& record :
         step.event ? summary.Take(*step.event, now) : summary.Tick(now))
      made.push_back(OriginText(record.origin) + " | " + record.text);
  }
  return made;
}

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> records;
};

TEST(RefusalSummaryTest, FirstInFullTheRestCountedAndSaidOnce) {
  const std::string full_reset =
      "local user opb | EMG Reset refused: level 2 needed: no operator, level 1, local user opb";
  const std::string full_emg =
      "local user opb | EMG refused: level 2 needed: no operator, level 1, local user opb";
  const std::vector<Case> cases = {
      {"after the window, the next one in full again",
       {{0, Refused(kOpb, Action::kEmgReset)},
        {5'000, Refused(kOpb, Action::kEmgReset)},
        {10'000, Refused(kOpb, Action::kEmgReset)},
        {12'000, Refused(kOpb, Action::kEmgReset)},
        {25'000, {}}},
       {full_reset, "local user opb | 1 more refused EMG Reset from local user opb in 10 s",
        full_reset, "local user opb | 1 more refused EMG Reset from local user opb in 10 s"}},
      {"actions kept apart",
       {{0, Refused(kOpb, Action::kEmgReset)},
        {100, Refused(kOpb, Action::kEmg)},
        {200, Refused(kOpb, Action::kEmgReset)},
        {300, Refused(kOpb, Action::kEmg)},
        {400, Refused(kOpb, Action::kEmg)},
        {10'000, {}},
        {10'100, {}}},
       {full_reset, full_emg,
        "local user opb | 1 more refused EMG Reset from local user opb in 10 s",
        "local user opb | 2 more refused EMG from local user opb in 10 s"}},
      {"refused log-ins counted whatever name they try",
       {{0, RefusedPin(kWeb, "alice")},
        {100, RefusedPin(kWeb, "bob")},
        {200, RefusedPin(kWeb, "carol")},
        {10'000, {}}},
       {"web 192.0.2.7 | Log in refused (wrong PIN): alice, level 1, web 192.0.2.7",
        "web 192.0.2.7 | 2 more refused log-ins from web 192.0.2.7 in 10 s"}},
      {"another event of the origin closes its summary first",
       {{0, Refused(kOpb, Action::kEmgReset)},
        {1'000, Refused(kOpb, Action::kEmgReset)},
        {1'000, Refused(kWeb, Action::kEmgReset)},
        {1'000, Refused(kWeb, Action::kEmgReset)},
        {3'500, LogIn(kOpb)},
        {3'600, Refused(kOpb, Action::kEmgReset)},
        {11'000, {}}},
       {full_reset,
        "web 192.0.2.7 | EMG Reset refused: level 2 needed: no operator, level 1, web 192.0.2.7",
        "local user opb | 1 more refused EMG Reset from local user opb in 3 s",
        "local user opb | Log in: opb, level 3, local user opb", full_reset,
        "web 192.0.2.7 | 1 more refused EMG Reset from web 192.0.2.7 in 10 s"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Coalesced(c.steps), c.records) << c.name;
}

TEST(RefusalSummaryTest, TheOldestOriginIsSaidWhenTheTableIsFull) {
  RefusalSummary summary;
  auto origin = [](std::size_t i) {
    return Origin{OriginKind::kWeb, "10.0.0." + std::to_string(i)};
  };
  // Every origin refused twice: one full record each, one counted.
  for (std::size_t i = 0; i < RefusalSummary::kTracked; ++i) {
    summary.Take(Refused(origin(i), Action::kEmg), kStart + milliseconds(i));
    summary.Take(Refused(origin(i), Action::kEmg), kStart + milliseconds(i));
  }
  const auto made = summary.Take(Refused(origin(999), Action::kEmg), kStart + milliseconds(1'000));
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[0].text, "1 more refused EMG from web 10.0.0.0 in 1 s");
  EXPECT_EQ(made[1].origin, origin(999));
  // The next oldest is still counted: its summary comes when its window closes.
  summary.Take(Refused(origin(1), Action::kEmg), kStart + milliseconds(2'000));
  const auto closed = summary.Tick(kStart + milliseconds(10'001));
  ASSERT_FALSE(closed.empty());
  EXPECT_EQ(closed[0].text, "2 more refused EMG from web 10.0.0.1 in 10 s");
}

// 100,000 refusals over 10 minutes (one per 6 ms), every action in turn, each from a new origin.
TEST(RefusalSummaryTest, AFloodMakesFewRecords) {
  RefusalSummary summary;
  std::size_t records = 0;
  std::size_t bytes = 0;
  auto count = [&](const std::vector<RefusalRecord>& made) {
    records += made.size();
    for (const RefusalRecord& record : made)
      bytes += record.text.size();
  };
  for (std::size_t i = 0; i < 100'000; ++i) {
    const auto now = kStart + milliseconds(6 * i);
    const Origin origin{OriginKind::kWeb, "10.0." + std::to_string(i)};
    count(summary.Take(Refused(origin, kAllActions[i % kAllActions.size()]), now));
    if (i % 17 == 0) count(summary.Tick(now));
  }
  count(summary.Flush(kStart + milliseconds(600'000)));
  EXPECT_LT(records, 2 * RefusalSummary::kFullPerWindow * 60 + 60);
  // Under a megabyte a minute, counting half a kilobyte for each record's other columns.
  EXPECT_LT((bytes + records * 512) / 10, 1'000'000u);
}

}  // namespace
}  // namespace orv
