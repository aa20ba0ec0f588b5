// The waits between connects: doubling, starting over once a connection lasts, and giving way to a
// client that takes the panel's client id. (What the state is said as is the broker test's.)
#include "mqtt/broker_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orv {
namespace {

TEST(ReconnectBackoff, DoublesFromOneSecondToAMinuteAndStartsOverAfterASuccess) {
  ReconnectBackoff backoff;
  std::vector<int> waits;
  for (int i = 0; i < 9; ++i)
    waits.push_back(backoff.Failed());
  EXPECT_EQ(waits, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
  backoff.Accepted(0);
  EXPECT_FALSE(backoff.Settled(9999));
  EXPECT_TRUE(backoff.Settled(10000));
  EXPECT_EQ(backoff.Failed(), 1000);
}

// Connections the broker ends soon after accepting them: another client with the same id.
TEST(ReconnectBackoff, ConnectionsCutShortTwiceInARowGiveWayToTheOtherClient) {
  struct Row {
    const char* what;
    std::vector<std::int64_t> lasted_ms;  // each connection, accepted then lost
    std::vector<int> waits;
    bool taken_over;
  };
  const Row rows[] = {
      {"lasting ones start over each time", {60000, 10000, 20000}, {1000, 1000, 1000}, false},
      {"one cut short doubles on", {60000, 500}, {1000, 2000}, false},
      {"two cut short in a row: the longest wait", {60000, 500, 500}, {1000, 2000, 60000}, true},
      {"and so on", {500, 500, 500, 9999}, {1000, 60000, 60000, 60000}, true},
      {"one that lasts ends it", {500, 500, 10000, 500}, {1000, 60000, 1000, 2000}, false},
  };
  for (const Row& row : rows) {
    ReconnectBackoff backoff;
    std::vector<int> waits;
    std::int64_t now = 0;
    for (const std::int64_t lasted : row.lasted_ms) {
      backoff.Accepted(now);
      now += lasted;
      waits.push_back(backoff.Lost(now));
      now += waits.back();
    }
    EXPECT_EQ(waits, row.waits) << row.what;
    EXPECT_EQ(backoff.taken_over(), row.taken_over) << row.what;
  }
}

}  // namespace
}  // namespace orv
