#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "tests/support/fake_serial_port.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Concat;
using test::Hex;
using Calls = std::vector<std::string>;

Bytes Frame(std::uint8_t c, const Bytes& d) {
  return EncodeFrame(c, d);
}

// Records every call the dispatcher makes, in order, as text.
class ReceiveTest : public ::testing::Test {
 protected:
  ReceiveTest() : link_(port_) {
    port_.Open();
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

  FakeSerialPort port_;
  Link link_;
  Calls calls_;
  Connections connections_;
};

TEST_F(ReceiveTest, FrameSplitOverChunksAndTicksIsAssembled) {
  const Bytes f = Frame(6, {0x21, 0x0A});
  port_.Deliver(Bytes(f.begin(), f.begin() + 2));
  Ticks(3);
  port_.Deliver(Bytes(f.begin() + 2, f.begin() + 5));
  Ticks(28);
  EXPECT_TRUE(calls_.empty());
  port_.Deliver(Bytes(f.begin() + 5, f.end()));
  Ticks(1);
  EXPECT_EQ(calls_, Calls{"fault 33 10"});
}

TEST_F(ReceiveTest, FramesOfOneChunkDispatchInOrderInOneTick) {
  port_.Deliver(Concat({Hex("FF 00 03 55"),  // noise before the first STX
                        Frame(8, Bytes(10, 0)), Hex("02 03 A0 12 00 00 47 03"),
                        Frame(0xA0, {0x50, 0x40, 0x01}), Frame(6, {0x02, 0x02}),
                        Frame(0xA0, {0x21, 0xFF, 0xFE})}));
  Ticks(1);
  EXPECT_EQ(calls_, (Calls{"status 8", "event 18 0", "panel 16385", "fault 2 2",
                           "event 33 65534"}));  // a high byte of 0x80 or more is kept
}

TEST_F(ReceiveTest, StxValueAsTheCrcDoesNotRestartTheFrame) {
  for (int v = 0; v < 256; ++v) {
    const Bytes f = Frame(6, {static_cast<std::uint8_t>(v), 0x00});
    if (f[5] != kStx) continue;
    port_.Deliver(f);
    Ticks(1);
    EXPECT_EQ(calls_, Calls{"fault " + std::to_string(v) + " 0"});
    return;
  }
  FAIL() << "no payload with a CRC of 0x02";
}

struct DropCase {
  const char* name;
  Bytes bad;
};

class DroppedFrames : public ReceiveTest, public ::testing::WithParamInterface<DropCase> {};

// A bad frame is dropped and the good frame right behind it is still found.
TEST_P(DroppedFrames, OnlyTheGoodFrameBehindItIsDispatched) {
  port_.Deliver(Concat({GetParam().bad, Frame(6, {0x05, 0x00})}));
  Ticks(1);
  EXPECT_EQ(calls_, Calls{"fault 5 0"});
  EXPECT_EQ(link_.receiver().rx_state(), Receiver::kHuntStx);
}

Bytes WithByte(Bytes f, std::size_t at, std::uint8_t value) {
  f[at] = value;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DroppedFrames,
    ::testing::Values(DropCase{"badCrc", WithByte(Frame(6, {1, 0}), 5, 0x00)},
                      // The byte right after a bad CRC is the first STX candidate.
                      DropCase{"badCrcNoEtx", Bytes{0x02, 0x02, 0x06, 0x01, 0x00, 0x00}},
                      DropCase{"wrongEtx", WithByte(Frame(6, {1, 0}), 6, 0x04)},
                      DropCase{"unknownCommand", Frame(0x33, {0x01, 0x02})},
                      DropCase{"lenAbove101", Frame(0xA0, Bytes(102, 0x11))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, LenOf101IsStillAccepted) {
  Bytes payload(101, 0x00);
  payload[0] = 0x12;
  payload[100] = 0x7E;
  port_.Deliver(Frame(0xA0, payload));
  Ticks(1);
  EXPECT_EQ(calls_, Calls{"event 18 0"});
  EXPECT_EQ(link_.receiver().rx_payload()[100], 0x7E);
}

class IdleGap : public ReceiveTest, public ::testing::WithParamInterface<int> {};

// A byte 29 ticks after the previous one continues the frame; from 30 on the hunt restarts.
TEST_P(IdleGap, GapDecidesWhetherAPartialFrameSurvives) {
  const int gap = GetParam();
  const Bytes f = Frame(6, {0x10, 0x00});
  port_.Deliver(Bytes(f.begin(), f.begin() + 3));
  Ticks(gap);
  port_.Deliver(Bytes(f.begin() + 3, f.end()));
  Ticks(1);
  EXPECT_EQ(calls_.size(), gap < 30 ? 1u : 0u);
  // After a reset the next byte is itself examined as an STX.
  port_.Deliver(Frame(6, {0x20, 0x00}));
  Ticks(1);
  ASSERT_EQ(calls_.size(), gap < 30 ? 2u : 1u);
  EXPECT_EQ(calls_.back(), "fault 32 0");
}

INSTANTIATE_TEST_SUITE_P(Ticks, IdleGap, ::testing::Values(1, 29, 30, 31));

TEST_F(ReceiveTest, ShortRepliesReadStalePayload) {
  port_.Deliver(Frame(0xA0, {0x50, 0x12, 0x34}));
  port_.Deliver(Frame(6, {}));         // LEN 0: reads the 0x50 and 0x12 left behind
  port_.Deliver(Frame(0xA0, {0x21}));  // LEN 1: value from the old bytes 1 and 2
  Ticks(1);
  EXPECT_EQ(calls_, (Calls{"panel 4660", "fault 80 18", "event 33 4660"}));
}

// The ring holds 1,199 bytes; the byte that would make it read as empty waits behind it instead,
// and so does everything after it until the tick has made room. Waiting bytes keep their order
// relative to later chunks, and opening the port forgets them and empties the ring. (Many
// wraps of the ring are the event storms'.)
TEST_F(ReceiveTest, BytesBeyondTheRingWaitInOrderAndTheSameTickTakesThem) {
  Bytes first;
  for (int i = 0; i < 171; ++i) {  // 171 frames of 7 bytes: 1,197 bytes
    const Bytes f = Frame(6, {static_cast<std::uint8_t>(i), 0});
    first.insert(first.end(), f.begin(), f.end());
  }
  const Bytes tail = Frame(6, {0xEE, 0});
  port_.Deliver(first);
  port_.Deliver(tail);  // two bytes fit, five wait
  const Receiver& rx = link_.receiver();
  EXPECT_EQ(rx.backlog_size(), 5u);
  port_.Deliver(Frame(6, {0xBB, 0}));  // behind the waiting bytes, though the ring moved on
  Ticks(1);
  ASSERT_EQ(calls_.size(), 173u);
  EXPECT_EQ(calls_[170], "fault 170 0");
  EXPECT_EQ(calls_[171], "fault 238 0");
  EXPECT_EQ(calls_[172], "fault 187 0");
  EXPECT_EQ(rx.backlog_size(), 0u);
  EXPECT_EQ(rx.overflow_bytes(), 0u);
  port_.Deliver(Bytes(2000, 0x55));
  link_.receiver().ResetRing();
  EXPECT_EQ(rx.backlog_size(), 0u);
  EXPECT_EQ(rx.rx_ring_read(), rx.rx_ring_write());
}

// The ring gives back exactly what it holds, across its end too, in a loop that cannot run on: a
// read position that missed the end would make every tick spin for ever.
TEST(ReceiverRing, GivesBackWhatItHoldsAcrossItsEnd) {
  Receiver rx;
  for (const std::size_t held : {600, 1199}) {
    rx.OnComm(Bytes(held, 0x55));
    std::size_t taken = 0;
    while (taken < 5000 && rx.TakeRxByte())
      ++taken;
    EXPECT_EQ(taken, held);
  }
}

// From position 1 the ring fills up to its last one and wraps to 0 with nothing read yet: the
// room is counted across its end, and the drained ring takes a whole ring's worth again.
TEST_F(ReceiveTest, ARingFullUpToItsLastPositionLosesNothing) {
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

}  // namespace
}  // namespace orv
