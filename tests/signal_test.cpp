// The fan-out every hook of the program goes through, and the subscribers it serves.
#include "platform/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events/event_decoder.h"
#include "link/frame.h"
#include "link/link.h"
#include "tests/support/fake_serial_port.h"

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
  EXPECT_FALSE(b.connected());
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

// Two subscribers of the same stream each get every frame and every event, in order.
TEST(FanOut, TwoSubscribersEachGetEveryFrameAndEveryEventInOrder) {
  FakeSerialPort port;
  port.Open();
  Link link(port);
  EventDecoder decoder(link.trigger_states(), [] { return LocalDateTime{3, 9, 14, 5}; });
  const Connection to_decoder = link.dispatcher().event_report().Connect(
      [&](std::uint8_t kind, std::int32_t value) { decoder.DecodeEventReport(kind, value); });

  std::vector<Log> frames(2), events(2);
  Connections connections;
  for (std::size_t i = 0; i < 2; ++i) {
    connections.push_back(link.receiver().frame_received().Connect([&, i](const ReceivedFrame& f) {
      frames[i].push_back(std::to_string(f.command) + ":" + std::to_string(f.length) + ":" +
                          std::to_string(f.payload[0]));
    }));
    connections.push_back(
        decoder.decoded().Connect([&, i](const EventRecord& r) { events[i].push_back(r.text); }));
  }
  for (const Bytes& frame :
       {EncodeFrame(0xA0, Bytes{0x12, 0, 0}), EncodeFrame(6, Bytes{0x21, 0x0A}),
        EncodeFrame(0xA0, Bytes{0x31, 0x00, 0x05}), EncodeFrame(0xA0, Bytes{0x50, 0x40, 0x01})})
    port.Deliver(frame);
  link.Tick();
  const Log want_frames{"160:3:18", "6:2:33", "160:3:49", "160:3:80"};
  const Log want_events{"03/09 14:05 Event = EMG Ack", "03/09 14:05 Event = TRG R1 000000000101"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(frames[i], want_frames) << "subscriber " << i;
    EXPECT_EQ(events[i], want_events) << "subscriber " << i;
  }
}

// A decoded record carries what it wrote into the state tables.
TEST(FanOut, EventRecordsCarryTheirTriggerUpdates) {
  TriggerStates states;
  EventDecoder decoder(states, [] { return LocalDateTime{}; });
  const EventRecord trig = decoder.DecodeEventReport(0x31, 0x0041);  // unit 1: EMG 7, business 7
  ASSERT_EQ(trig.trigger_updates.size(), 2u);
  EXPECT_EQ(trig.trigger_updates[0].page, 0);
  EXPECT_EQ(trig.trigger_updates[0].number, 7);
  EXPECT_EQ(trig.trigger_updates[1].page, 1);
  EXPECT_EQ(trig.trigger_updates[1].number, 7);
  EXPECT_EQ(states.BusTriggerState.Get(7), 1);
  const EventRecord bgm = decoder.DecodeEventReport(0x42, 0x05);  // unit 2: entries 13..18
  ASSERT_EQ(bgm.trigger_updates.size(), 6u);
  EXPECT_EQ(bgm.trigger_updates.front().number, 13);
  EXPECT_EQ(bgm.trigger_updates[2].state, 1);
  EXPECT_EQ(bgm.trigger_updates[1].state, 0);
  EXPECT_TRUE(bgm.Updates(kBgmPage));
  EXPECT_FALSE(bgm.Updates(0));
  EXPECT_TRUE(decoder.DecodeEventReport(0x3A, 0x0FFF).trigger_updates.empty()) << "unit 10";
}

}  // namespace
}  // namespace orv
