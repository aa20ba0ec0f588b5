#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "link/crc8.h"
#include "link/frame.h"
#include "sim/controller.h"
#include "sim/frame_shaper.h"
#include "tests/sim_test_util.h"

namespace orv::sim {
namespace {

using test::DecodeAll;
using test::DecodedFrame;
using test::Hex;
using test::Wire;

const Bytes kPoll = Hex("02 01 06 00 2B 03");
const Bytes kGoodReply = Hex("02 02 06 00 00 03 03");

std::vector<Transmission> Poll(Controller& controller) {
  return test::Request(controller, kPoll, Millis{0});
}

TEST(BadCrcTest, NextFramesCarryAWrongCrcAndAreDropped) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.shaper().BadCrcNext(2);
  for (int i = 0; i < 2; ++i) {
    const Bytes wire = Wire(Poll(controller));
    ASSERT_EQ(wire.size(), kGoodReply.size());
    for (std::size_t b = 0; b < wire.size(); ++b)
      EXPECT_EQ(wire[b] != kGoodReply[b], b == wire.size() - 2) << "byte " << b;
    EXPECT_TRUE(DecodeAll(wire).empty());
  }
  EXPECT_EQ(Wire(Poll(controller)), kGoodReply);
}

TEST(BadCrcTest, FrameAfterABadOneIsStillFound) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.shaper().BadCrcNext(1);
  Bytes wire = Wire(Poll(controller));
  const Bytes good = Wire(Poll(controller));
  wire.insert(wire.end(), good.begin(), good.end());
  EXPECT_EQ(DecodeAll(wire), (std::vector<DecodedFrame>{{6, {0, 0}}}));
}

TEST(BadCrcTest, EveryNthFrameFromTheCommandLineOption) {
  ControllerOptions options = test::QuietOptions();
  options.line_faults.bad_crc_every = 3;
  Controller controller(options, Random::Seeded(1));
  std::vector<bool> good;
  for (int i = 0; i < 6; ++i)
    good.push_back(!DecodeAll(Wire(Poll(controller))).empty());
  EXPECT_EQ(good, (std::vector<bool>{true, true, false, true, true, false}));
}

TEST(SplitTest, SplitFrameIsTwoPartsWithThePauseBetween) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.shaper().SplitNext(Millis{250});
  const std::vector<Transmission> out = Poll(controller);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FALSE(out[0].bytes.empty());
  EXPECT_FALSE(out[1].bytes.empty());
  EXPECT_EQ(out[0].pause_before, Millis{0});
  EXPECT_EQ(out[1].pause_before, Millis{250});
  EXPECT_EQ(Wire(out), kGoodReply);
  EXPECT_EQ(Poll(controller).size(), 1u);  // only the next frame
}

TEST(SplitTest, SplitEveryNthFrameCutsAtVaryingPlacesAndKeepsTheBytes) {
  ControllerOptions options = test::QuietOptions();
  options.line_faults.split_every = 1;
  options.line_faults.split_pause_ms = 40;
  Controller controller(options, Random::Seeded(4));
  std::set<std::size_t> cuts;
  for (int i = 0; i < 50; ++i) {
    const std::vector<Transmission> out = Poll(controller);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].pause_before, Millis{40});
    EXPECT_EQ(Wire(out), kGoodReply);
    cuts.insert(out[0].bytes.size());
  }
  EXPECT_EQ(cuts.size(), kGoodReply.size() - 1);  // every cut from 1 to 6 bytes occurred
}

TEST(NoiseTest, NoiseIsRandomBytesOfTheAskedLength) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.SendNoise(12, Millis{0});
  const std::vector<Transmission> out = controller.TakeOutput();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes.size(), 12u);
  EXPECT_EQ(out[0].meaning, "noise");
  EXPECT_GT(std::set<std::uint8_t>(out[0].bytes.begin(), out[0].bytes.end()).size(), 4u);
}

TEST(NoiseTest, NoiseEveryNthFrameGoesBeforeTheFrame) {
  ControllerOptions options = test::QuietOptions();
  options.line_faults.noise_every = 2;
  Controller controller(options, Random::Seeded(1));
  EXPECT_EQ(Poll(controller).size(), 1u);
  const std::vector<Transmission> out = Poll(controller);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes.size(), static_cast<std::size_t>(FrameShaper::kNoiseLength));
  EXPECT_EQ(out[1].bytes, kGoodReply);
}

TEST(UnknownCommandTest, UnknownFrameIsGoodButOfAnUnlistedCode) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  const std::set<int> listed{6, 7, 8, 9, 10, 0xA0};
  for (int i = 0; i < 20; ++i) {
    controller.SendUnknownCommand(Millis{0});
    const std::vector<DecodedFrame> frames = DecodeAll(Wire(controller.TakeOutput()));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(listed.count(frames[0].command), 0u) << int(frames[0].command);
    EXPECT_EQ(frames[0].data.size(), 2u);
  }
}

TEST(UnknownCommandTest, UnknownFrameAfterEveryNthAnswer) {
  ControllerOptions options = test::QuietOptions();
  options.unknown_every = 2;
  Controller controller(options, Random::Seeded(1));
  EXPECT_EQ(DecodeAll(Wire(Poll(controller))).size(), 1u);
  const std::vector<DecodedFrame> second = DecodeAll(Wire(Poll(controller)));
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], (DecodedFrame{6, {0, 0}}));
  EXPECT_NE(second[1].command, 6);
}

// LEN, then the frame's own CRC recomputed independently of the encoder.
class LongFrameTest : public ::testing::TestWithParam<int> {};

TEST_P(LongFrameTest, OverLongFrameHasItsLenAndAValidCrcAndIsDropped) {
  const int length = GetParam();
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.SendLongFrame(length, Millis{0});
  Bytes wire = Wire(controller.TakeOutput());
  ASSERT_EQ(wire.size(), static_cast<std::size_t>(length) + 5);
  EXPECT_EQ(wire[0], 0x02);
  EXPECT_EQ(wire[1], length);
  EXPECT_EQ(wire.back(), 0x03);
  std::uint8_t crc = 0xFF;
  for (std::size_t i = 2; i < wire.size() - 2; ++i)
    crc = Crc8Step(crc, wire[i]);
  EXPECT_EQ(wire[wire.size() - 2], crc);
  // The panel drops it at its LEN byte and still finds the frame after it.
  const Bytes good = Wire(Poll(controller));
  wire.insert(wire.end(), good.begin(), good.end());
  EXPECT_EQ(DecodeAll(wire), (std::vector<DecodedFrame>{{6, {0, 0}}}));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongFrameTest, ::testing::Values(102, 120, 200, 255));

TEST(LongFrameTest, LengthIsKeptAboveTheReceiverLimit) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.SendLongFrame(50, Millis{0});
  EXPECT_EQ(Wire(controller.TakeOutput())[1], 102);
}

TEST(LongFrameTest, LongFrameAfterEveryNthAnswer) {
  ControllerOptions options = test::QuietOptions();
  options.long_len_every = 1;
  Controller controller(options, Random::Seeded(1));
  const Bytes wire = Wire(Poll(controller));
  ASSERT_EQ(wire.size(), kGoodReply.size() + Controller::kDefaultLongLength + 5);
  EXPECT_EQ(wire[kGoodReply.size() + 1], Controller::kDefaultLongLength);
  EXPECT_EQ(DecodeAll(wire).size(), 1u);
}

}  // namespace
}  // namespace orv::sim
