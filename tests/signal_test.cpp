// The fan-out every hook of the program goes through, and the event decoder that feeds most of its
// subscribers.
#include "platform/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events/event_decoder.h"
#include "tests/test_util.h"

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

// Every kind of report: its line after the date and the state table entries it writes, by the
// decoder alone. Trigger units hold EMG in bits 0..5 and business in 6..11, six entries a unit, and
// only ever set them; BGM units write all six of theirs; units from 10 on reach no table.
TEST(EventDecoder, EachReportHasItsLineAndWritesOnlyItsEntries) {
  // Each row: the report (code, data high, data low) | its line | the entries it writes, as
  // page:number=state in order.
  const std::string rows[] = {"11 00 00|EMG|",
                              "12 00 00|EMG Ack|",
                              "13 00 00|EMG Reset|",
                              "14 00 00|ALERT|",
                              "15 00 00|ALARM|",
                              "16 00 00|EMG PTT|",
                              "21 01 05|Fault 0000000100000101|",
                              "21 F0 00|Fault 1111000000000000|",
                              "22 00 00|Fault Ack|",
                              "23 00 00|Fault Reset|",
                              "18 00 00||",
                              "2F 0A 5A||",
                              "30 F0 00|TRG M0 000000000000|",
                              "60 00 3F|TRG M0 000000111111|0:1=1 0:2=1 0:3=1 0:4=1 0:5=1 0:6=1",
                              "31 00 41|TRG R1 000001000001|0:7=1 1:7=1",
                              "31 00 40|TRG R1 000001000000|1:7=1",
                              "39 00 20|TRG R9 000000100000|0:60=1",
                              "3A 0F FF|TRG R10 111111111111|",
                              "3F 0A 5A|TRG R15 101001011010|",
                              "7F 0F FF|TRG R31 111111111111|",
                              "40 00 03|BGM M0 000011|3:1=1 3:2=1 3:3=0 3:4=0 3:5=0 3:6=0",
                              "80 0A 5A|BGM M0 011010|3:1=0 3:2=1 3:3=0 3:4=1 3:5=1 3:6=0",
                              "42 00 05|BGM R2 000101|3:13=1 3:14=0 3:15=1 3:16=0 3:17=0 3:18=0",
                              "49 FF C0|BGM R9 000000|3:55=0 3:56=0 3:57=0 3:58=0 3:59=0 3:60=0",
                              "4F 0A 5A|BGM R15 011010|",
                              "9F 00 01|BGM R31 000001|",
                              "50 0A 5A||",
                              "51 0A 5A||",
                              "5F 0A 5A||",
                              "A0 0A 5A||"};
  TriggerStates states, written;
  EventDecoder decoder(states, [] { return LocalDateTime{12, 4, 5, 21}; });
  for (const std::string& row : rows) {
    const std::size_t line = row.find('|') + 1, writes_at = row.rfind('|') + 1;
    const Bytes r = test::Hex(row.substr(0, line - 1));
    const EventRecord record = decoder.DecodeEventReport(r[0], (r[1] << 8) | r[2]);
    EXPECT_EQ(record.text, "12/04 05:21 Event = " + row.substr(line, writes_at - line - 1)) << row;
    std::string writes;
    for (const TriggerUpdate& u : record.trigger_updates) {
      writes += (writes.empty() ? "" : " ") + std::to_string(u.page) + ":" +
                std::to_string(u.number) + "=" + std::to_string(u.state);
      written.States(u.page).Set(u.number, u.state);
    }
    EXPECT_EQ(writes, row.substr(writes_at)) << row;
  }
  // The tables hold what the records say they wrote, and nothing else.
  for (int page = 0; page < kPageCount; ++page) {
    for (int n = 1; n <= kTriggerPages[static_cast<std::size_t>(page)].size; ++n)
      EXPECT_EQ(states.States(page).Get(n), written.States(page).Get(n)) << page << ":" << n;
  }
  EXPECT_EQ(FormatBits(0x1FFFF, 20), "1111111111111111") << "held to sixteen bits";
}

}  // namespace
}  // namespace orv
