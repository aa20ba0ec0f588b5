#include <gtest/gtest.h>

#include <string>

#include "notify/notify_text.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

// What a channel hands on is one line of whole UTF-8 characters, whatever it was given.
TEST(NotifyText, OneLineKeepsWholeCharactersOnOneLine) {
  struct Case {
    std::string text;
    std::size_t max;
    std::string line;
  };
  const Case cases[] = {
      {"plain", 100, "plain"},
      {"a\r\nb\tc\x7f"
       "d\x1b[31m",
       100, "a  b c d [31m"},
      {"\xff"
       "x",
       100, "?x"},                                  // not a lead byte
      {"\xc0\xaf", 100, "??"},                      // overlong '/'
      {"\xed\xa0\x80", 100, "???"},                 // a surrogate
      {"\xf4\x90\x80\x80", 100, "????"},            // beyond U+10FFFF
      {"x\xc3", 100, "x?"},                         // cut short
      {"\xc3\xa9\xc3\xa9\xc3\xa9", 3, "\xc3\xa9"},  // never half of é
      {"\xe2\x80\x94z", 2, ""},
      {"\xf0\x9f\x94\xa5!", 5, "\xf0\x9f\x94\xa5!"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OneLine(c.text, c.max), c.line) << c.text;
}

TEST(NotifyText, FirstLineIsWhatWasSaidFirst) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \n\t\r\n", ""},
      {"\n\n  sent  \nsecond", "sent"},
      {"a\r\nb", "a"},
      {std::string(300, 'x') + "\n", std::string(200, 'x')},
  };
  for (const auto& [output, line] : cases)
    EXPECT_EQ(FirstLine(output), line) << output;
}

TEST(NotifyText, TimesAndLimitsInWords) {
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(IsoUtc(-1), "1969-12-31T23:59:59Z");
  EXPECT_EQ(IsoUtc(1796763802999), "2026-12-08T21:03:22Z");
  EXPECT_EQ(IsoUtc(951782400000), "2000-02-29T00:00:00Z");
  EXPECT_EQ(LimitInWords(10s), "10 s");
  EXPECT_EQ(LimitInWords(300ms), "300 ms");
  EXPECT_EQ(LimitInWords(1500ms), "1500 ms");
}

}  // namespace
}  // namespace orv
