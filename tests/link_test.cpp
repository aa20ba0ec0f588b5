// The link layer: frames out, frames in, the poll rotation that paces them, and the watch on the
// tick's clock.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "link/fault_lamps.h"
#include "link/frame.h"
#include "link/link.h"
#include "link/link_watch.h"
#include "link/transmitter.h"
#include "tests/support/fake_serial_port.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Concat;
using test::Hex;
using Calls = std::vector<std::string>;
using Commands = std::vector<int>;

Bytes Frame(std::uint8_t c, const Bytes& d) {
  return EncodeFrame(c, d);
}

// Every example frame, through the program's transmit path (one write each); their CRCs, written
// out, pin the CRC-8/MAXIM table and its initial value 0xFF. The poll commands go through
// SendPollCommand, which adds command 6's data byte.
TEST(Transmitter, EachExampleFrameGoesOutExactlyInOneWrite) {
  for (const char* hex :
       {"02 01 06 00 2B 03", "02 00 07 B6 03", "02 00 08 F7 03", "02 00 09 A9 03", "02 00 0A 4B 03",
        "02 00 18 6A 03",           // impedance check
        "02 01 16 01 99 03",        // key 1
        "02 02 13 01 01 E6 03",     // EMG trigger 1 on
        "02 02 13 02 03 0F 03"}) {  // STX and ETX inside the data, as they are
    const Bytes wire = Hex(hex);
    const std::uint8_t command = wire[2];
    FakeSerialPort port;
    port.Open();
    Transmitter tx(port);
    if (command <= 10) {
      tx.SendPollCommand(command);
    } else if (wire[1] == 2) {
      tx.SendFrame(command, {wire[3], wire[4]});
    } else {
      wire[1] == 1 ? tx.SendFrame(command, {wire[3]}) : tx.SendFrame(command, {});
    }
    EXPECT_EQ(port.writes(), std::vector<Bytes>{wire}) << hex;
  }
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  for (const std::int16_t count : {0, -1, 1202})
    tx.SendTxBuffer(count);
  EXPECT_TRUE(port.writes().empty() && port.rejected_writes() == 0) << "a count out of range";
}

// The twelve system fault lamps in lamp order, written out here rather than taken from the code:
// the panel status word's bit that lights each alone; the fault image reply's twelve bits run in
// lamp order. (Their captions are the event detail's test.)
TEST(FaultLamps, EachBitAloneLightsOnlyItsOwnLamp) {
  const int status_bits[] = {0x4000, 0x1000, 0x0004, 0x0008, 0x0010, 0x2000,
                             0x0002, 0x0001, 0x0100, 0x0200, 0x0400, 0x0800};
  for (std::size_t lamp = 0; lamp < std::size(status_bits); ++lamp) {
    const FaultLamps alone = FaultLamps().set(lamp);
    const int image = 1 << lamp;
    EXPECT_EQ(FaultImageLamps(image & 0xFF, static_cast<std::uint8_t>(image >> 8)), alone) << lamp;
    EXPECT_EQ(PanelStatusLamps(status_bits[lamp]), alone) << lamp;
  }
  // The reply's upper four bits and the word's spare bits light nothing.
  EXPECT_EQ(FaultImageLamps(0x00, 0xF0), FaultLamps());
  EXPECT_EQ(PanelStatusLamps(0x80E0), FaultLamps());
}

// The link as connection management drives it, recording every call its dispatcher makes, in
// order, as text.
class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : link_(port_) {
    port_.Open();
    link_.SetShownPageSource([this] { return shown_page_; });
    auto record = [this](const std::string& what, int a, int b) {
      calls_.push_back(what + " " + std::to_string(a) + (b < 0 ? "" : " " + std::to_string(b)));
    };
    Dispatcher& d = link_.dispatcher();
    connections_.push_back(d.fault_image().Connect(
        [=](std::uint8_t d0, std::uint8_t d1) { record("fault", d0, d1); }));
    connections_.push_back(d.trigger_status_reply().Connect(
        [=](std::uint8_t c, std::span<const std::uint8_t>) { record("status", c, -1); }));
    connections_.push_back(
        d.panel_status().Connect([=](std::int32_t v) { record("panel", v, -1); }));
    connections_.push_back(
        d.event_report().Connect([=](std::uint8_t k, std::int32_t v) { record("event", k, v); }));
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i)
      link_.Tick();
  }
  void Connect() {
    port_.Open();
    link_.SetPortConnected(true);
    link_.scheduler().set_poll_step(PollScheduler::kFaultImageStep);
  }
  void ChangePage(std::int16_t page) {
    shown_page_ = page;
    link_.scheduler().set_poll_step(static_cast<std::int16_t>(page + 2));
  }
  // Ticks until `count` more frames went out (giving up after 50 quiet ticks) and returns their
  // command bytes; checks that at most one goes out a tick, each `gap_` ticks after the last.
  Commands NextCommands(int count) {
    Commands commands;
    for (int ticks = 1; static_cast<int>(commands.size()) < count && ticks <= 50; ++ticks) {
      const std::size_t before = port_.writes().size();
      link_.Tick();
      if (port_.writes().size() == before) continue;
      EXPECT_EQ(port_.writes().size(), before + 1);
      EXPECT_EQ(ticks, gap_) << "frame " << commands.size();
      commands.push_back(port_.writes().back()[2]);
      gap_ = 11;
      ticks = 0;
    }
    return commands;
  }

  FakeSerialPort port_;
  Link link_;
  std::int16_t shown_page_ = 0;
  int gap_ = 1;  // a fresh connection polls on its first tick
  Calls calls_;
  Connections connections_;
};

TEST_F(LinkTest, ShownPageZeroSequenceFromAFreshConnection) {
  Connect();
  EXPECT_EQ(NextCommands(23),
            (Commands{6, 8, 9, 6, 8, 7, 6, 8, 10, 6, 8, 8, 9, 6, 8, 7, 6, 8, 10, 6, 8, 8, 9}));
}

TEST_F(LinkTest, ShownPageTwoSequenceFromAFreshConnection) {
  ChangePage(2);
  Connect();
  EXPECT_EQ(NextCommands(13), (Commands{6, 7, 9, 6, 7, 7, 10, 6, 7, 8, 6, 7, 9}));
}

TEST_F(LinkTest, PageChangesMakeTheNextSlotAskForTheNewPage) {
  Connect();
  EXPECT_EQ(NextCommands(2), (Commands{6, 8}));  // rotation now 1
  ChangePage(1);  // its request, then the rotation's next page (2: command 7), then 6
  EXPECT_EQ(NextCommands(5), (Commands{9, 7, 6, 9, 10}));
  ChangePage(0);  // the rotation (3) moves on to 0, the new page: its request twice in a row
  EXPECT_EQ(NextCommands(4), (Commands{8, 8, 9, 6}));
}

TEST_F(LinkTest, NothingGoesOutWhileDisconnectedAndReconnectKeepsDelayAndRotation) {
  Connect();
  EXPECT_EQ(NextCommands(3), (Commands{6, 8, 9}));
  Ticks(4);  // part way to the next slot
  link_.scheduler().set_poll_step(PollScheduler::kIdle);
  port_.Close();
  link_.SetPortConnected(false);
  Ticks(100);
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_EQ(link_.scheduler().poll_step(), 0);
  Connect();
  gap_ = 7;  // the frozen delay: what was left of the 11 ticks
  EXPECT_EQ(NextCommands(3), (Commands{6, 8, 7})) << "restarts at 6, the rotation goes on";
}

// Also while disconnected.
TEST_F(LinkTest, RepliesAreDispatchedBeforeThePollAndStatusRepliesNameTheirPage) {
  std::vector<std::size_t> writes_at_dispatch;
  std::vector<int> pages;
  const Connection lamps = link_.fault_lamps_changed().Connect(
      [&](FaultLamps) { writes_at_dispatch.push_back(port_.writes().size()); });
  const Connection states =
      link_.trigger_states_updated().Connect([&](int page) { pages.push_back(page); });
  port_.Deliver(Frame(6, {0x01, 0x00}));
  link_.Tick();
  Connect();
  for (int tick = 1; tick <= 12; ++tick) {  // polls on ticks 1 and 12
    if (tick == 1) port_.Deliver(Frame(6, {0x01, 0x00}));
    if (tick == 2) {
      for (const std::uint8_t command : {8, 9, 7, 10, 11})
        port_.Deliver(Frame(command, Bytes(15, 0)));
    }
    link_.Tick();
  }
  EXPECT_EQ(writes_at_dispatch, (std::vector<std::size_t>{0, 0}));
  EXPECT_EQ(pages, (std::vector<int>{0, 1, 2, 3})) << "command 11 is no page's reply";
}

TEST_F(LinkTest, OnlyTheGoodFrameBehindABadOneIsDispatched) {
  const auto with_byte = [](Bytes f, std::size_t at, std::uint8_t value) {
    f[at] = value;
    return f;
  };
  const std::pair<const char*, Bytes> bad_frames[] = {
      {"bad CRC", with_byte(Frame(6, {1, 0}), 5, 0x00)},
      // The byte right after a bad CRC is the first STX candidate.
      {"bad CRC, no ETX", Hex("02 02 06 01 00 00")},
      {"wrong ETX", with_byte(Frame(6, {1, 0}), 6, 0x04)},
      {"unknown command", Frame(0x33, {0x01, 0x02})},
      {"LEN above 101", Frame(0xA0, Bytes(102, 0x11))}};
  for (const auto& [what, bad] : bad_frames) {
    calls_.clear();
    port_.Deliver(Concat({bad, Frame(6, {0x05, 0x00})}));
    Ticks(1);
    EXPECT_EQ(calls_, Calls{"fault 5 0"}) << what;
  }
}

// A byte up to 29 ticks after the previous one continues the frame, however long the frame has
// taken so far; from 30 on the hunt restarts, and the next byte is itself examined as an STX.
TEST_F(LinkTest, GapDecidesWhetherAPartialFrameSurvives) {
  // The ticks after a frame's first two bytes, and after its third; whether the frame survives.
  const std::tuple<int, int, bool> rows[] = {
      {0, 1, true}, {0, 29, true}, {0, 30, false}, {0, 31, false}, {3, 28, true}};
  const Bytes f = Frame(6, {0x10, 0x00});
  for (const auto& [first, second, survives] : rows) {
    calls_.clear();
    port_.Deliver(Bytes(f.begin(), f.begin() + 2));
    Ticks(first);
    port_.Deliver(Bytes(f.begin() + 2, f.begin() + 3));
    Ticks(second);
    port_.Deliver(Concat({Bytes(f.begin() + 3, f.end()), Frame(6, {0x20, 0x00})}));
    Ticks(1);
    EXPECT_EQ(calls_, (survives ? Calls{"fault 16 0", "fault 32 0"} : Calls{"fault 32 0"}))
        << first << ", " << second;
  }
}

TEST_F(LinkTest, FramesOfOneTickDispatchInOrder) {
  Bytes longest(101, 0x00);
  longest[0] = 0x12;
  longest[100] = 0x7E;
  ASSERT_EQ(Frame(6, {88, 0x00})[5], kStx);  // 88, alone of all first bytes, gives a CRC of STX
  const std::pair<Bytes, Calls> rows[] = {
      {Concat({Hex("FF 00 03 55"),  // noise before the first STX
               Frame(8, Bytes(10, 0)), Hex("02 03 A0 12 00 00 47 03"),
               Frame(0xA0, {0x50, 0x40, 0x01}), Frame(6, {0x02, 0x02}),
               Frame(0xA0, {0x21, 0xFF, 0xFE})}),
       {"status 8", "event 18 0", "panel 16385", "fault 2 2",
        "event 33 65534"}},                    // a high byte of 0x80 or more is kept
      {Frame(6, {88, 0x00}), {"fault 88 0"}},  // an STX as the CRC does not restart the frame
      // Short replies read stale payload: LEN 0 the 0x50 and 0x12 left behind, LEN 1 its value
      // from the old bytes 1 and 2.
      {Concat({Frame(0xA0, {0x50, 0x12, 0x34}), Frame(6, {}), Frame(0xA0, {0x21})}),
       {"panel 4660", "fault 80 18", "event 33 4660"}},
      {Frame(0xA0, longest), {"event 18 0"}}};  // a LEN of 101 is still taken
  for (const auto& [wire, calls] : rows) {
    calls_.clear();
    port_.Deliver(wire);
    Ticks(1);
    EXPECT_EQ(calls_, calls) << calls.front();
  }
  EXPECT_EQ(link_.receiver().rx_payload()[100], 0x7E);
}

// The ring holds 1,199 bytes; the byte that would make it read as empty waits behind it instead,
// and so does everything after it until the tick has made room. Waiting bytes keep their order
// relative to later chunks, and opening the port forgets them and empties the ring. (Many
// wraps of the ring are the event storms'.)
TEST_F(LinkTest, BytesBeyondTheRingWaitInOrderAndTheSameTickTakesThem) {
  Bytes first;
  for (int i = 0; i < 171; ++i)  // 171 frames of 7 bytes: 1,197 bytes
    first = Concat({first, Frame(6, {static_cast<std::uint8_t>(i), 0})});
  port_.Deliver(first);
  port_.Deliver(Frame(6, {0xEE, 0}));  // two bytes fit, five wait
  const Receiver& rx = link_.receiver();
  EXPECT_EQ(rx.backlog_size(), 5u);
  port_.Deliver(Frame(6, {0xBB, 0}));  // behind the waiting bytes, though the ring moved on
  Ticks(1);
  ASSERT_EQ(calls_.size(), 173u);
  EXPECT_EQ(Calls(calls_.end() - 3, calls_.end()),
            (Calls{"fault 170 0", "fault 238 0", "fault 187 0"}));
  EXPECT_EQ(rx.backlog_size() + rx.overflow_bytes(), 0u);
  port_.Deliver(Bytes(2000, 0x55));
  link_.receiver().ResetRing();
  EXPECT_EQ(rx.backlog_size(), 0u);
  EXPECT_EQ(rx.rx_ring_read(), rx.rx_ring_write());
}

// From position 1 the ring fills up to its last one and wraps to 0 with nothing read yet: the
// room is counted across its end, and the drained ring takes a whole ring's worth again.
TEST_F(LinkTest, ARingFullUpToItsLastPositionLosesNothing) {
  port_.Deliver(Hex("55"));
  Ticks(1);
  Bytes frames;  // 400 frames: 1,199 bytes fill the ring, the other 1,601 wait
  for (int i = 0; i < 400; ++i)
    frames = Concat({frames, Frame(6, {static_cast<std::uint8_t>(i), 0})});
  port_.Deliver(Bytes(frames.begin(), frames.begin() + 1199));
  port_.Deliver(Bytes(frames.begin() + 1199, frames.end()));
  Ticks(1);
  ASSERT_EQ(calls_.size(), 400u);
  EXPECT_EQ(calls_.back(), "fault 143 0");  // 399, in a byte
}

// Late ticks: an event loop busy with a flood of bytes. The spans said are the clock's.
TEST(LinkWatchTickClock, LateTicksDoNotMakeTheWatchLate) {
  // A tick's length in ms, the tick that finds the link lost, the silence said (in 100 ms).
  const std::tuple<std::int64_t, int, std::int64_t> rows[] = {
      {100, 50, 50}, {250, 20, 50}, {700, 8, 56}, {2500, 2, 50}, {99, 51, 50}};
  for (const auto& [tick_ms, lost_at_tick, silent_ticks] : rows) {
    SCOPED_TRACE(tick_ms);
    std::int64_t now = 1'000'000;
    LinkWatch watch({}, [&now] { return now; });
    std::vector<LinkWatch::Change> changes;
    const Connection said =
        watch.changed().Connect([&changes](const LinkWatch::Change& c) { changes.push_back(c); });
    watch.Connect();
    int ticks = 0;
    for (; !watch.lost() && ticks < 1000; ++ticks) {
      now += tick_ms;
      watch.Tick();
    }
    EXPECT_EQ(ticks, lost_at_tick);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].silent_ticks, silent_ticks);
    // The next valid frame ends it, with the time shown lost in the clock's ticks.
    now += tick_ms;
    watch.FrameReceived();
    watch.Tick();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_FALSE(changes[1].lost);
    EXPECT_EQ(changes[1].lost_ticks, tick_ms / 100);
    EXPECT_EQ(watch.silent_ticks(), 0);
  }
}
}  // namespace
}  // namespace orv
