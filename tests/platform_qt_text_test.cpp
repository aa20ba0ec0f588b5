#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "platform/qt/qt_text.h"

namespace orv {
namespace {

struct Shown {
  std::string text;
  bool multi_line;
  std::u16string shown;
};

TEST(QtText, ControlCharactersShowAsPictures) {
  const Shown cases[] = {
      {"\x02"
       "A\x03",
       false, u"\u2402A\u2403"},
      {std::string("\x00\x1f", 2), false, u"\u2400\u241F"},
      {"\x7f", false, u"\u2421"},
      {"a\r\nb", false, u"a\u240D\u240Ab"},
      {"a\r\nb", true, u"a\nb"},
      {"\r\n\r\n", true, u"\n\n"},
      // Only CR LF together breaks a line; either alone is a character to show.
      {"a\rb\nc", true, u"a\u240Db\u240Ac"},
      {"tab\there", true, u"tab\u2409here"},
      {"Z\xc3\xbcrich \xe2\x82\xac", false, u"Z\u00FCrich \u20AC"},
      {"", true, u""},
  };
  for (const Shown& c : cases) {
    EXPECT_EQ(ShownText(c.text, c.multi_line), QString::fromStdU16String(c.shown))
        << c.text << " multi-line " << c.multi_line;
  }
}

TEST(QtText, TypedTextUndoesThePicturesAndBlanksLineBreaks) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"\u2402A\u2421",
       "\x02"
       "A\x7f"},
      {u"Up\r\nDown", "Up  Down"},
      {u"one\ntwo\rthree", "one two three"},
      {u"\u240D\u240A", "  "},
      {u"K\u00FCche",
       "K\xc3\xbc"
       "che"},
      {u"\u2422 stays", "\xe2\x90\xa2 stays"},
  };
  for (const auto& [typed, text] : cases)
    EXPECT_EQ(TypedText(QString::fromStdU16String(typed)), text) << text;
}

TEST(QtText, ShownThenTypedGivesTheSingleLineTextBack) {
  for (const std::string text : {"Hall 1", "\x01\x02\x1b[0m", "a\x7f"}) {
    EXPECT_EQ(TypedText(ShownText(text, false)), text);
  }
}

}  // namespace
}  // namespace orv
