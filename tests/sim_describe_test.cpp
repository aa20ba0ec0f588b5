#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/describe.h"
#include "tests/test_util.h"

namespace orv::sim {
namespace {

using orv::test::Hex;

struct Case {
  std::uint8_t command;
  std::string data_hex;
  std::string meaning;
};

TEST(DescribeTest, RequestsFromThePanel) {
  const std::vector<Case> cases{
      {6, "00", "poll fault image"},
      {7, "", "poll soft trigger states"},
      {8, "", "poll EMG trigger states"},
      {9, "", "poll business trigger states"},
      {10, "", "poll BGM channel states"},
      {16, "1E", "supervision time 30 s"},
      {17, "01", "supervision on"},
      {17, "00", "supervision off"},
      {19, "05 01", "set EMG trigger 5 on"},
      {20, "0D 00", "set business trigger 13 off"},
      {18, "78 01", "set soft trigger 120 on"},
      {23, "01 01", "set BGM channel 1 on"},
      {19, "05", "set EMG trigger (data missing)"},
      {22, "01", "operator key EMG"},
      {22, "06", "operator key EMG Message"},
      {22, "09", "operator key 9 (unknown)"},
      {24, "", "impedance check"},
      {0x42, "", "unknown command 0x42"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DescribeRequest(c.command, Hex(c.data_hex)), c.meaning);
}

TEST(DescribeTest, FramesFromTheController) {
  const std::vector<Case> cases{
      {6, "00 00", "fault image: none"},
      {6, "42 08", "fault image: Network, Mains, Router"},
      {8, "21 00 00 00 00 00 00 00 00 20", "EMG trigger states on: 1 6 60"},
      {7, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 80", "soft trigger states on: 120"},
      {10, "00 00 00 00 00 00 00 00 00 00", "BGM channel states on: none"},
      {0xA0, "50 10 04", "panel status 0x1004: Network, Call/EMG"},
      {0xA0, "50 00 E0", "panel status 0x00E0: none"},
      {0xA0, "12 00 00", "report EMG Ack"},
      {0xA0, "21 01 05", "report Fault 0000000100000101"},
      {0xA0, "32 00 41", "report TRG R2 000001000001"},
      {0xA0, "6A 00 01", "report TRG R10 000000000001"},
      {0xA0, "40 00 03", "report BGM M0 000011"},
      {0xA0, "89 00 3F", "report BGM R9 111111"},
      {0xA0, "18 00 00", "report 0x18 value 0 (no text)"},
      {0x5A, "01 02", "frame with command 0x5A"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DescribeSent(c.command, Hex(c.data_hex)), c.meaning);
}

TEST(DescribeTest, LongStateListsAreCut) {
  const std::string text = DescribeSent(8, Bytes(10, 0x3F));
  EXPECT_EQ(text.rfind(" ..."), text.size() - 4);
  EXPECT_NE(text.find(" 20 ..."), std::string::npos) << text;
}

TEST(DescribeTest, LogLineHasClockDirectionBytesAndMeaning) {
  EXPECT_EQ(LogLine("12:00:01.234", "RX", Hex("02 01 06 00 2B 03"), "poll fault image"),
            "12:00:01.234 RX 02 01 06 00 2B 03  poll fault image");
  EXPECT_EQ(HexBytes(Bytes{}), "");
  EXPECT_EQ(BitText(0x0041, 12), "000001000001");
}

}  // namespace
}  // namespace orv::sim
