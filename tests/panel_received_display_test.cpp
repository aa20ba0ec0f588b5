// The received-data display: each byte's text in each format, the newest characters kept whole,
// and the format the window's option buttons pick.
#include "panel/received_display.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/text_encoding.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;

TEST(ReceivedDisplay, EachByteHasItsTextInEachFormat) {
  // Byte, mode (1 Char, 2 Hex, 3 Dec), its text; 0x80 is the euro sign.
  const std::tuple<std::uint8_t, std::uint8_t, const char*> cases[] = {
      {0x0A, 2, "0AH "}, {0xA0, 2, "A0H "}, {7, 3, "007 "},        {255, 3, "255 "},
      {0x2B, 1, "+"},    {0x02, 1, "\x02"}, {0xFF, 1, "\xC3\xBF"}, {0x80, 1, "\xE2\x82\xAC"},
      {0x81, 1, "."},    {0x8D, 1, "."},    {0x8F, 1, "."},        {0x90, 1, "."},
      {0x9D, 1, "."},    {0x41, 0, ""},     {0x41, 9, ""}};
  for (const auto& [byte, mode, text] : cases)
    EXPECT_EQ(FormatReceivedByte(byte, mode), text) << int{byte} << " " << int{mode};
}

// The box keeps its newest 65,536 characters as shown, however many bytes of UTF-8 each takes,
// in one chunk or in many, into an empty box or one that holds a little.
TEST(ReceivedDataDisplay, KeepsTheNewestCharactersWholeInEveryMode) {
  constexpr std::size_t kMax = ReceivedDataDisplay::kMaxTextLength;
  // Mode (1 Char, 2 Hex, 3 Dec), every received byte, bytes per chunk, the box's text before, and
  // the text of one byte.
  const std::tuple<std::uint8_t, std::uint8_t, std::size_t, const char*, std::string> cases[] = {
      {1, 0xFF, 100000, "xyz", "\u00FF"},   // two bytes a character, the chunk alone over the bound
      {1, 0x80, 1000, "\u20AC", "\u20AC"},  // three, in many
      {2, 0x2B, 777, "", "2BH "},           // four characters a byte, in many
  };
  for (const auto& [mode, byte, chunk, before, shown] : cases) {
    SCOPED_TRACE(testing::Message()
                 << "mode " << int{mode} << ", byte " << int{byte} << ", chunks of " << chunk);
    TextBox box("Receiver_Text");
    box.SetText(before);
    ReceivedDataDisplay display;
    display.set_display_mode(mode);
    for (std::size_t sent = 0; sent < 100000; sent += chunk)
      display.AppendReceivedBytes(box, Bytes(std::min(chunk, 100000 - sent), byte));
    const std::string& text = box.text();
    EXPECT_EQ(box.char_count(), kMax);
    EXPECT_EQ(Utf8Length(text), kMax);
    // The four characters of a Hex or Dec byte divide 65,536: whole byte texts at both ends.
    EXPECT_EQ(text.size(), kMax / Utf8Length(shown) * shown.size());
    EXPECT_EQ(text.substr(0, shown.size()), shown);
    EXPECT_EQ(text.substr(text.size() - shown.size()), shown);
    EXPECT_EQ(box.sel_start(), static_cast<int>(text.size())) << "the caret follows the newest";
  }
}

TEST_F(FormTest, ChunksRunOnInTheFormatTheOptionButtonsPick) {
  MainForm& f = Load();
  port_.Open();
  f.DisplayType_OptionButton[1].SetValue(true);
  port_.Deliver(Hex("02 01 06 00 2B 03"));
  f.DisplayType_OptionButton[2].SetValue(true);
  port_.Deliver(Hex("02 01"));
  f.DisplayType_OptionButton[0].SetValue(true);
  port_.Deliver(Hex("41 81"));
  EXPECT_EQ(f.Receiver_Text.text(), "02H 01H 06H 00H 2BH 03H 002 001 A.");
}
}  // namespace
}  // namespace orv
