#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FormTest;

// "1" for every lit lamp 0..11, in lamp order.
std::string LitLamps(MainForm& f) {
  std::string lit;
  for (int i = 0; i < 12; ++i)
    lit += f.Shape1[i].fill_style() == Shape::kSolid ? '1' : '0';
  return lit;
}

struct LampCase {
  const char* name;
  Bytes frame_data;
  std::uint8_t command;
  const char* lit;  // lamps 0..11
};

class LampLayouts : public FormTest, public ::testing::WithParamInterface<LampCase> {};

TEST_P(LampLayouts, MessageSetsAllTwelveLampsAndNoZoneLamp) {
  MainForm& f = Load();
  // Start from all lit, so a message must darken what it does not light.
  for (int i = 0; i < 12; ++i)
    f.Shape1[i].SetFillStyle(Shape::kSolid);
  f.Shape1[13].SetFillStyle(Shape::kSolid);
  port_.Open();
  port_.Deliver(EncodeFrame(GetParam().command, GetParam().frame_data));
  Ticks(1);
  EXPECT_EQ(LitLamps(f), GetParam().lit);
  for (int i = 12; i < 24; ++i) {
    EXPECT_EQ(f.Shape1[i].fill_style(), i == 13 ? Shape::kSolid : Shape::kTransparent) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothLayouts, LampLayouts,
    ::testing::Values(LampCase{"reply6_processorReset", {0x01, 0x00}, 6, "100000000000"},
                      LampCase{"reply6_highNibbleIgnored", {0x00, 0xF0}, 6, "000000000000"},
                      LampCase{"reply6_all", {0xFF, 0x0F}, 6, "111111111111"},
                      LampCase{"reply6_router", {0x00, 0x08}, 6, "000000000001"},
                      LampCase{"reportP_battery", {0x50, 0x00, 0x01}, 0xA0, "000000010000"},
                      LampCase{"reportP_all", {0x50, 0x7F, 0xFF}, 0xA0, "111111111111"},
                      LampCase{"reportP_unusedBits", {0x50, 0x00, 0xE0}, 0xA0, "000000000000"},
                      LampCase{"reportP_bit15Ignored", {0x50, 0x80, 0x00}, 0xA0, "000000000000"},
                      LampCase{"reportP_network", {0x50, 0x10, 0x00}, 0xA0, "010000000000"},
                      LampCase{"reportP_message_mains", {0x50, 0x01, 0x02}, 0xA0, "000000101000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, LastMessageDecidesEveryLamp) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(EncodeFrame(6, Bytes{0x02, 0x00}));           // Network lit by reply 6
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x50, 0x00, 0x01}));  // report P: bit 12 clear
  Ticks(1);
  EXPECT_EQ(LitLamps(f), "000000010000");
}

TEST_F(FormTest, StatusReplyFillsItsTableSixBitsPerByte) {
  MainForm& f = Load();
  port_.Open();
  Bytes data(10, 0);
  data[0] = 0x21;
  data[9] = 0x20;
  port_.Deliver(EncodeFrame(8, data));
  Ticks(1);
  for (int n = 1; n <= 60; ++n) {
    EXPECT_EQ(f.shared().EmgTriggerState.Get(n), n == 1 || n == 6 || n == 60 ? 1 : 0) << n;
  }
  port_.Deliver(EncodeFrame(8, Bytes{0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  Ticks(1);
  for (int n = 1; n <= 60; ++n)
    EXPECT_EQ(f.shared().EmgTriggerState.Get(n), 0) << n;
}

TEST_F(FormTest, SoftReplyUsesEightBitsAndReachesEntry120) {
  MainForm& f = Load();
  port_.Open();
  Bytes data(15, 0);
  data[14] = 0x80;
  data[1] = 0x01;
  port_.Deliver(EncodeFrame(7, data));
  Ticks(1);
  EXPECT_EQ(f.shared().SoftTriggerState.Get(120), 1);
  EXPECT_EQ(f.shared().SoftTriggerState.Get(9), 1);
  EXPECT_EQ(f.shared().SoftTriggerState.Get(119), 0);
}

TEST_F(FormTest, ReplyForAHiddenPageUpdatesItsTableWithoutARedraw) {
  MainForm& f = Load();
  ConnectAndClear();
  int redraws = 0;
  f.TriggerLabel[0].SetObserver([&](Control&) { ++redraws; });
  f.TriggerLabel[0].SetCaption("marker");  // a redraw would put the name back
  redraws = 0;
  port_.Deliver(EncodeFrame(9, Bytes{0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  port_.Deliver(EncodeFrame(10, Bytes{0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  Ticks(1);
  EXPECT_EQ(f.shared().BusTriggerState.Get(1), 1);
  EXPECT_EQ(f.shared().BgmState.Get(2), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 0);
  f.VirtualDevice_ComboBox.SetListIndex(1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BUS Trigger 1");
}

TEST_F(FormTest, SeveralRepliesInOneTickShowTheLastImage) {
  MainForm& f = Load();
  ConnectAndClear();
  for (int i = 0; i < 3; ++i) {
    Bytes data(10, 0);
    data[0] = static_cast<std::uint8_t>(1 << i);
    port_.Deliver(EncodeFrame(8, data));
  }
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[2].value(), 1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 0);
  EXPECT_TRUE(port_.writes().size() <= 1u) << "only the poll may be written";
}

TEST_F(FormTest, ShortReplyReadsWhatEarlierFramesLeft) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x50, 0x00, 0x00}));  // payload now 50 00 00
  port_.Deliver(EncodeFrame(6, Bytes{}));                     // reads 0x50 and 0x00
  Ticks(1);
  EXPECT_EQ(LitLamps(f), "000010100000");
}

}  // namespace
}  // namespace orv
