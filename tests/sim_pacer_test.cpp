#include <gtest/gtest.h>

#include "sim/pacer.h"
#include "tests/test_util.h"

namespace orv::sim {
namespace {

using orv::test::Hex;
using std::chrono::milliseconds;

constexpr Nanos kByte{1041666};  // 9600 baud, ten bit times

TEST(PacerTest, ByteTimeIsTheBitTimesOfOneCharacter) {
  EXPECT_EQ(Pacer::ByteTime(9600, 10), kByte);
  EXPECT_EQ(Pacer::ByteTime(115200, 10), Nanos{86805});
  EXPECT_EQ(Pacer::ByteTime(9600, 12), Nanos{1250000});
}

TEST(PacerTest, BytesBecomeDueOneByteTimeApart) {
  Pacer pacer(kByte);
  pacer.Add({Hex("02 01 06 00 2B 03"), "poll", milliseconds{0}}, Nanos{0});
  EXPECT_EQ(pacer.TakeDue(Nanos{0}).bytes, Hex("02"));
  EXPECT_EQ(pacer.NextDue(), kByte);
  EXPECT_TRUE(pacer.TakeDue(kByte - Nanos{1}).bytes.empty());
  EXPECT_EQ(pacer.TakeDue(kByte * 3).bytes, Hex("01 06 00"));
  EXPECT_EQ(pacer.TakeDue(kByte * 100).bytes, Hex("2B 03"));
  EXPECT_TRUE(pacer.empty());
  EXPECT_FALSE(pacer.NextDue().has_value());
}

TEST(PacerTest, TransmissionIsReportedBegunOnceWithItsFirstByte) {
  Pacer pacer(kByte);
  pacer.Add({Hex("AA BB"), "first", milliseconds{0}}, Nanos{0});
  const Pacer::Due first = pacer.TakeDue(Nanos{0});
  ASSERT_EQ(first.begun.size(), 1u);
  EXPECT_EQ(first.begun[0].meaning, "first");
  EXPECT_EQ(first.begun[0].bytes, Hex("AA BB"));
  EXPECT_TRUE(pacer.TakeDue(kByte).begun.empty());
}

TEST(PacerTest, NextTransmissionWaitsForTheLineAndItsOwnPause) {
  Pacer pacer(kByte);
  pacer.Add({Hex("01 02 03"), "a", milliseconds{0}}, Nanos{0});
  pacer.Add({Hex("04"), "b", milliseconds{0}}, Nanos{0});
  pacer.Add({Hex("05"), "c", milliseconds{200}}, Nanos{0});
  EXPECT_EQ(pacer.TakeDue(kByte * 2).bytes, Hex("01 02 03"));
  EXPECT_EQ(pacer.TakeDue(kByte * 3).bytes, Hex("04"));
  // c starts when b has gone (4 byte times) plus its pause.
  const Nanos c_start = kByte * 4 + milliseconds{200};
  EXPECT_EQ(pacer.NextDue(), c_start);
  EXPECT_TRUE(pacer.TakeDue(c_start - Nanos{1}).bytes.empty());
  EXPECT_EQ(pacer.TakeDue(c_start).bytes, Hex("05"));
}

TEST(PacerTest, LateCallerGetsEverythingDueAtOnceInOrder) {
  Pacer pacer(kByte);
  pacer.Add({Hex("01 02"), "a", milliseconds{0}}, Nanos{0});
  pacer.Add({Hex("03 04"), "b", milliseconds{0}}, Nanos{0});
  const Pacer::Due due = pacer.TakeDue(milliseconds{50});
  EXPECT_EQ(due.bytes, Hex("01 02 03 04"));
  EXPECT_EQ(due.begun.size(), 2u);
}

TEST(PacerTest, IdleLineStartsAtOnceAndClearForgetsTheQueue) {
  Pacer pacer(kByte);
  pacer.Add({Hex("01"), "a", milliseconds{0}}, Nanos{0});
  pacer.TakeDue(Nanos{0});
  pacer.Add({Hex("02 03"), "b", milliseconds{0}}, milliseconds{10});
  EXPECT_EQ(pacer.NextDue(), milliseconds{10});
  pacer.Clear();
  EXPECT_TRUE(pacer.empty());
  pacer.Add({Hex("04"), "c", milliseconds{0}}, milliseconds{11});
  EXPECT_EQ(pacer.TakeDue(milliseconds{11}).bytes, Hex("04"));
}

}  // namespace
}  // namespace orv::sim
