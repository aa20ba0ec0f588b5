#include <gtest/gtest.h>

#include <string>

#include "panel/received_display.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;

struct ByteCase {
  std::uint8_t byte;
  std::uint8_t mode;
  const char* text;
};

class ByteFormats : public ::testing::TestWithParam<ByteCase> {};

TEST_P(ByteFormats, EachByteHasItsText) {
  EXPECT_EQ(FormatReceivedByte(GetParam().byte, GetParam().mode), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Modes, ByteFormats,
                         ::testing::Values(ByteCase{0x0A, 2, "0AH "}, ByteCase{0xA0, 2, "A0H "},
                                           ByteCase{0x02, 2, "02H "}, ByteCase{7, 3, "007 "},
                                           ByteCase{255, 3, "255 "}, ByteCase{0x2B, 1, "+"},
                                           ByteCase{0x02, 1, "\x02"},
                                           ByteCase{0x80, 1, "\xE2\x82\xAC"},  // the euro sign
                                           ByteCase{0xFF, 1, "\xC3\xBF"}, ByteCase{0x81, 1, "."},
                                           ByteCase{0x8D, 1, "."}, ByteCase{0x8F, 1, "."},
                                           ByteCase{0x90, 1, "."}, ByteCase{0x9D, 1, "."},
                                           ByteCase{0x41, 0, ""}, ByteCase{0x41, 9, ""}));

TEST_F(FormTest, ChunksRunOnAndAFormatSwitchAppliesToLaterChunks) {
  MainForm& f = Load();
  port_.Open();
  f.DisplayType_OptionButton[1].SetValue(true);
  EXPECT_EQ(f.display().display_mode(), ReceivedDataDisplay::kHex);
  port_.Deliver(Hex("02 01 06 00 2B 03"));
  f.DisplayType_OptionButton[2].SetValue(true);
  port_.Deliver(Hex("02 01"));
  f.DisplayType_OptionButton[0].SetValue(true);
  port_.Deliver(Hex("41 81"));
  EXPECT_EQ(f.Receiver_Text.text(), "02H 01H 06H 00H 2BH 03H 002 001 A.");
}

TEST_F(FormTest, ReceivedTextKeepsOnlyTheNewestCharacters) {
  MainForm& f = Load();
  port_.Open();
  f.DisplayType_OptionButton[2].SetValue(true);
  Bytes chunk(1000);
  for (std::size_t i = 0; i < chunk.size(); ++i)
    chunk[i] = static_cast<std::uint8_t>(i % 251);
  for (int i = 0; i < 30; ++i) {
    port_.Deliver(chunk);
    Ticks(1);
  }
  const std::string& text = f.Receiver_Text.text();
  EXPECT_EQ(text.size(), ReceivedDataDisplay::kMaxTextLength);
  // The end is the last chunk's last bytes: 999 % 251 = 246.
  EXPECT_EQ(text.substr(text.size() - 8), "245 246 ");
}

TEST_F(FormTest, CharModeNeverCutsInsideACharacter) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(Bytes(40000, 0x80));  // three bytes of text each
  port_.Deliver(Bytes(40000, 0x80));
  const std::string& text = f.Receiver_Text.text();
  EXPECT_LE(text.size(), ReceivedDataDisplay::kMaxTextLength);
  EXPECT_EQ(text.size() % 3, 0u);
  EXPECT_EQ(text.substr(0, 3), "\xE2\x82\xAC");
}

}  // namespace
}  // namespace orv
