// Keys at a hand's pace: bursts, refill, origins apart and the bound on origins kept, on a fake
// clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/key_pace.h"

namespace orv {
namespace {

using std::chrono::milliseconds;
using Verdict = KeyPace::Verdict;

const KeyPace::Clock::time_point kStart{};

// Keys from an origin at a time.
struct Keys {
  int at_ms;
  const char* origin;
  int count;
};

// Each key's verdict in turn: A allowed, R refused and said, r refused again.
std::string Verdicts(const std::vector<Keys>& steps) {
  KeyPace pace;
  std::string seen;
  for (const Keys& step : steps) {
    for (int i = 0; i < step.count; ++i) {
      const Verdict verdict = pace.Take(step.origin, kStart + milliseconds(step.at_ms));
      seen += verdict == Verdict::kAllowed ? 'A' : verdict == Verdict::kRefused ? 'R' : 'r';
    }
    seen += ' ';
  }
  seen.pop_back();
  return seen;
}

TEST(KeyPace, ABurstPassesTheRestIsRefusedAndSaidOncePerBurst) {
  struct Case {
    const char* name;
    std::vector<Keys> steps;
    std::string verdicts;
  };
  const std::vector<Case> cases = {
      {"eight at once pass, the rest refused, said once", {{0, "a", 12}}, "AAAAAAAARrrr"},
      {"one key back each 250 ms",
       {{0, "a", 8}, {249, "a", 1}, {250, "a", 2}, {750, "a", 3}},
       "AAAAAAAA R Ar AAr"},
      {"said again only after a pause that refills the whole bucket",
       {{0, "a", 9}, {1'000, "a", 5}, {3'000, "a", 9}},
       "AAAAAAAAR AAAAr AAAAAAAAR"},
      {"origins apart", {{0, "a", 9}, {0, "b", 9}, {100, "a", 1}}, "AAAAAAAAR AAAAAAAAR r"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Verdicts(c.steps), c.verdicts) << c.name;
}

TEST(KeyPace, OriginsKeptAreBoundedWholeBucketsGoFirstThenTheNearestToWhole) {
  KeyPace pace;
  const auto origin = [](std::size_t i) { return "web 10.0.0." + std::to_string(i); };
  // Each origin empties its bucket, a millisecond after the one before.
  for (std::size_t i = 0; i < KeyPace::kOrigins; ++i) {
    for (int k = 0; k < KeyPace::kBurst; ++k)
      pace.Take(origin(i), kStart + milliseconds(i));
  }
  ASSERT_EQ(pace.tracked(), KeyPace::kOrigins);
  const auto later = kStart + milliseconds(200);
  EXPECT_EQ(pace.Take("web 192.0.2.7", later), Verdict::kAllowed);
  EXPECT_EQ(pace.tracked(), KeyPace::kOrigins);
  // The first was nearest to whole: it went, and starts afresh; one emptied later is still held.
  EXPECT_EQ(pace.Take(origin(0), later), Verdict::kAllowed);
  EXPECT_EQ(pace.Take(origin(2), later), Verdict::kRefused);

  // Two seconds on, the half that emptied first and the two taken since are whole again: they are
  // forgotten at once, the other half kept.
  EXPECT_EQ(pace.Take("web 192.0.2.8", kStart + milliseconds(2'000 + KeyPace::kOrigins / 2)),
            Verdict::kAllowed);
  EXPECT_EQ(pace.tracked(), KeyPace::kOrigins / 2);
}

}  // namespace
}  // namespace orv
