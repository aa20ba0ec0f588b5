// The fan-out every hook of the program goes through.
#include "platform/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orv {
namespace {

using Log = std::vector<std::string>;

TEST(Signal, ListenersHearEveryDeliveryInTheOrderTheyConnected) {
  Signal<int> signal;
  Log log;
  Connection a = signal.Connect([&](int v) { log.push_back("a" + std::to_string(v)); });
  Connection b = signal.Connect([&](int v) { log.push_back("b" + std::to_string(v)); });
  signal(1);
  signal(2);
  EXPECT_EQ(log, (Log{"a1", "b1", "a2", "b2"}));
  b.Disconnect();
  {
    const Connection scoped =
        signal.Connect([&](int v) { log.push_back("c" + std::to_string(v)); });
    signal(3);
  }
  signal(4);
  EXPECT_EQ(log, (Log{"a1", "b1", "a2", "b2", "a3", "c3", "a4"})) << "c ended with its scope";
  Connection moved = std::move(a);
  EXPECT_TRUE(moved.connected());
  signal(5);
  EXPECT_EQ(log.back(), "a5") << "a moved connection still holds";
}

TEST(Signal, ListenersMayDisconnectAndConnectDuringADelivery) {
  Signal<> signal;
  Log log;
  Connection first, second, third, late;
  first = signal.Connect([&] {
    log.push_back("first");
    first.Disconnect();   // itself: not called again
    second.Disconnect();  // a later one: not called in this delivery already
    late = signal.Connect([&] { log.push_back("late"); });
  });
  second = signal.Connect([&] { log.push_back("second"); });
  third = signal.Connect([&] { log.push_back("third"); });
  signal();
  EXPECT_EQ(log, (Log{"first", "third"})) << "the new listener waits for the next delivery";
  signal();
  EXPECT_EQ(log, (Log{"first", "third", "third", "late"}));
  EXPECT_FALSE(signal.empty());
  third.Disconnect();
  late.Disconnect();
  EXPECT_TRUE(signal.empty());
}

TEST(Signal, TheOwnerMayGoAwayDuringADeliveryAndConnectionsMayOutliveIt) {
  auto owned = std::make_unique<Signal<>>();
  Log log;
  Connection kill = owned->Connect([&] {
    log.push_back("kill");
    owned.reset();
  });
  Connection after = owned->Connect([&] { log.push_back("after"); });
  (*owned)();
  EXPECT_EQ(log, (Log{"kill", "after"})) << "the delivery in progress finishes";
  EXPECT_FALSE(after.connected());
  after.Disconnect();  // harmless once the signal is gone
}
}  // namespace
}  // namespace orv
