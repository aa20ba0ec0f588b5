#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "platform/fake_serial_port.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Concat;
using test::Hex;

// Records every call the dispatcher makes, in order, as text.
class ReceiveTest : public ::testing::Test {
 protected:
  ReceiveTest() : link_(port_, shared_) {
    port_.Open();
    DispatchHandlers h;
    h.fault_image = [this](std::uint8_t d0, std::uint8_t d1) {
      calls_.push_back("fault " + std::to_string(d0) + " " + std::to_string(d1));
    };
    h.trigger_status_reply = [this](std::uint8_t c) {
      calls_.push_back("status " + std::to_string(c));
    };
    h.panel_status = [this](std::int32_t v) { calls_.push_back("panel " + std::to_string(v)); };
    h.event_report = [this](std::uint8_t k, std::int32_t v) {
      calls_.push_back("event " + std::to_string(k) + " " + std::to_string(v));
    };
    link_.SetDispatchHandlers(h);
  }

  void Deliver(const Bytes& b) { port_.Deliver(b); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i)
      link_.Tick();
  }

  FakeSerialPort port_;
  SharedState shared_;
  Link link_;
  std::vector<std::string> calls_;
};

Bytes Frame(std::uint8_t c, const Bytes& d) {
  return EncodeFrame(c, d);
}

TEST_F(ReceiveTest, SplitFrameAcrossChunksAndTicksIsAssembled) {
  const Bytes f = Frame(6, {0x21, 0x0A});
  Deliver(Bytes(f.begin(), f.begin() + 2));
  Ticks(3);
  Deliver(Bytes(f.begin() + 2, f.begin() + 5));
  Ticks(28);  // 28 ticks of silence: still within the 30-tick window
  EXPECT_TRUE(calls_.empty());
  Deliver(Bytes(f.begin() + 5, f.end()));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 33 10"}));
}

TEST_F(ReceiveTest, SeveralFramesInOneChunkDispatchInOrderInOneTick) {
  Deliver(Concat({Frame(8, Bytes(10, 0)), Frame(0xA0, {0x12, 0x00, 0x00}),
                  Frame(0xA0, {0x50, 0x40, 0x01}), Frame(6, {0x01, 0x00})}));
  Ticks(1);
  EXPECT_EQ(calls_,
            (std::vector<std::string>{"status 8", "event 18 0", "panel 16385", "fault 1 0"}));
}

TEST_F(ReceiveTest, OverviewEventReportBytesDispatchAsEvent) {
  Deliver(Hex("02 03 A0 12 00 00 47 03"));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"event 18 0"}));
  EXPECT_EQ(link_.dispatcher().report_kind(), 0x12);
  EXPECT_EQ(link_.dispatcher().report_value(), 0);
}

TEST_F(ReceiveTest, NoiseBeforeStxAndStxInsideFrameBody) {
  // 0x02 as data and as CRC must not restart the frame.
  Bytes with_stx_data = Frame(6, {0x02, 0x02});
  Deliver(Concat({Hex("FF 00 03 55"), with_stx_data}));
  // Find a payload whose CRC is 0x02 to prove the CRC position too.
  Bytes crc_is_stx;
  for (int v = 0; v < 256; ++v) {
    Bytes f = Frame(6, {static_cast<std::uint8_t>(v), 0x00});
    if (f[5] == 0x02) {
      crc_is_stx = f;
      break;
    }
  }
  ASSERT_FALSE(crc_is_stx.empty());
  Deliver(crc_is_stx);
  Ticks(1);
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0], "fault 2 2");
  EXPECT_EQ(calls_[1], "fault " + std::to_string(crc_is_stx[3]) + " 0");
}

TEST_F(ReceiveTest, BadCrcResynchronisesOnTheByteAfterTheCrc) {
  Bytes bad = Frame(6, {0x01, 0x00});
  bad[4] ^= 0xFF;
  // The bad frame's ETX is skipped as noise; a good frame directly after is found.
  Deliver(Concat({bad, Frame(6, {0x04, 0x00})}));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 4 0"}));
}

TEST_F(ReceiveTest, ByteAfterBadCrcIsExaminedAsStx) {
  Bytes bad = Frame(6, {0x01, 0x00});
  bad[4] ^= 0xFF;
  bad.pop_back();  // no ETX: the next frame's STX directly follows the bad CRC
  Deliver(Concat({bad, Frame(6, {0x08, 0x00})}));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 8 0"}));
}

TEST_F(ReceiveTest, MissingEtxDropsTheFrame) {
  Bytes f = Frame(6, {0x01, 0x00});
  f.back() = 0x04;
  Deliver(f);
  Ticks(1);
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(link_.receiver().rx_state(), Receiver::kHuntStx);
}

struct GapCase {
  int silent_ticks;
  bool completes;
};

class IdleGap : public ReceiveTest, public ::testing::WithParamInterface<GapCase> {};

TEST_P(IdleGap, GapDecidesWhetherAPartialFrameSurvives) {
  const Bytes f = Frame(6, {0x10, 0x00});
  Deliver(Bytes(f.begin(), f.begin() + 3));
  Ticks(1);  // the bytes are taken: idle counter now 30
  Ticks(GetParam().silent_ticks - 1);
  Deliver(Bytes(f.begin() + 3, f.end()));
  Ticks(1);  // the rest arrives silent_ticks ticks after the previous byte
  EXPECT_EQ(calls_.size(), GetParam().completes ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ticks, IdleGap,
                         ::testing::Values(GapCase{1, true}, GapCase{29, true}, GapCase{30, false},
                                           GapCase{31, false}),
                         [](const auto& info) {
                           return "gap" + std::to_string(info.param.silent_ticks);
                         });

TEST_F(ReceiveTest, AfterAnIdleResetTheFirstByteIsItselfAnStxCandidate) {
  const Bytes partial = Hex("02 02 06");
  Deliver(partial);
  Ticks(31);
  Deliver(Frame(6, {0x20, 0x00}));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 32 0"}));
}

TEST_F(ReceiveTest, ShortRepliesReadStalePayload) {
  Deliver(Frame(0xA0, {0x50, 0x12, 0x34}));
  Deliver(Frame(6, {}));         // LEN 0: reads the 0x50 and 0x12 left behind
  Deliver(Frame(0xA0, {0x21}));  // LEN 1: value from the old bytes 1 and 2
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"panel 4660", "fault 80 18", "event 33 4660"}));
}

TEST_F(ReceiveTest, UnknownCommandIsConsumedWithoutEffect) {
  Deliver(Concat({Frame(0x33, {0x01, 0x02}), Frame(6, {0x03, 0x00})}));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 3 0"}));
}

TEST_F(ReceiveTest, LenAbove101IsDroppedAtItsLenByte) {
  Bytes big = Frame(0xA0, Bytes(102, 0x11));
  Deliver(Concat({big, Frame(6, {0x05, 0x00})}));
  Ticks(1);
  // The 102 data bytes of 0x11 and the bad frame's tail are only noise, then the good frame.
  EXPECT_EQ(calls_, (std::vector<std::string>{"fault 5 0"}));
}

TEST_F(ReceiveTest, LenOf101IsStillAccepted) {
  Bytes payload(101, 0x00);
  payload[0] = 0x12;
  payload[100] = 0x7E;
  Deliver(Frame(0xA0, payload));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"event 18 0"}));
  EXPECT_EQ(link_.receiver().rx_payload()[100], 0x7E);
}

TEST_F(ReceiveTest, ReportValueKeepsHighByteAbove0x7F) {
  Deliver(Frame(0xA0, {0x21, 0xFF, 0xFE}));
  Ticks(1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"event 33 65534"}));
}

TEST_F(ReceiveTest, RingWrapsAndOpeningEmptiesIt) {
  // More than one ring's worth in total, in slices that each fit: every frame comes through.
  const Bytes f = Frame(6, {0x01, 0x00});
  int sent = 0;
  for (int round = 0; round < 10; ++round) {
    Bytes chunk;
    for (int i = 0; i < 30; ++i)
      chunk.insert(chunk.end(), f.begin(), f.end());
    Deliver(chunk);
    sent += 30;
    Ticks(1);
  }
  EXPECT_EQ(static_cast<int>(calls_.size()), sent);
  Deliver(Bytes(f.begin(), f.begin() + 3));
  link_.receiver().ResetRing();
  EXPECT_EQ(link_.receiver().rx_ring_read(), 0);
  EXPECT_EQ(link_.receiver().rx_ring_write(), 0);
}

TEST_F(ReceiveTest, ChunkHandlerSeesEveryChunkAfterItIsStored) {
  std::vector<Bytes> seen;
  link_.receiver().SetChunkHandler([&](const Bytes& b) {
    seen.push_back(b);
    EXPECT_EQ(link_.receiver().rx_ring_write(), static_cast<std::int16_t>(b.size()));
  });
  Deliver(Hex("02 01"));
  EXPECT_EQ(seen, (std::vector<Bytes>{Hex("02 01")}));
}

}  // namespace
}  // namespace orv
