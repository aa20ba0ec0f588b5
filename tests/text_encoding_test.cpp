// The program's one UTF-8 validator, which every reader of outside text uses (the broker's topic,
// what goes to the broker, the INI's text through Windows-1252).
#include <gtest/gtest.h>

#include <string>

#include "platform/text_encoding.h"

namespace orv {
namespace {

constexpr const char* kFffd = "\xEF\xBF\xBD";

TEST(Utf8, OneValidatorForWellFormedText) {
  const struct {
    std::string text;
    bool valid;
    int replaced;  // bytes that become U+FFFD
  } cases[] = {
      {"plain", true, 0},
      {"Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x94\x94", true, 0},
      {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", true, 0},  // U+FFFF and U+10FFFF, the last of each length
      {std::string("nul\0end", 7), true, 0},
      {"caf\xE9!", false, 1},          // a Windows-1252 byte never converted
      {"\x80", false, 1},              // a stray continuation byte
      {"\xC3", false, 1},              // cut short
      {"\xF0\x9F\x94", false, 3},      // cut short, longer
      {"\xC0\xAF", false, 2},          // overlong "/"
      {"\xE0\x80\xAF", false, 3},      // overlong, three bytes
      {"\xF0\x80\x80\xAF", false, 4},  // overlong, four bytes
      {"\xED\xA0\x80", false, 3},      // a surrogate
      {"\xF4\x90\x80\x80", false, 4},  // past U+10FFFF
      {"\xF5", false, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
    const std::string cleaned = ValidUtf8(c.text);
    EXPECT_TRUE(IsValidUtf8(cleaned)) << c.text;
    int replaced = 0;
    for (std::size_t at = cleaned.find(kFffd); at != std::string::npos;
         at = cleaned.find(kFffd, at + 3))
      ++replaced;
    EXPECT_EQ(replaced, c.replaced) << c.text;
  }
}

}  // namespace
}  // namespace orv
