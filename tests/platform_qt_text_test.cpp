#include "platform/qt/qt_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <string>

namespace orv {
namespace {

TEST(QtText, ControlCharactersShowAsPicturesAndTypedPicturesTurnBack) {
  const struct {
    std::string text;
    bool multi_line;
    std::u16string shown;
  } shown[] = {{std::string("\x00\x02\x1f\x7f", 4), false, u"\u2400\u2402\u241F\u2421"},
               {"a\r\nb", false, u"a\u240D\u240Ab"},
               // Only CR LF together breaks a line; either alone is a character to show.
               {"a\r\nb\rc\n\t", true, u"a\nb\u240Dc\u240A\u2409"},
               {"Z\xc3\xbcrich \xe2\x82\xac", false, u"Z\u00FCrich \u20AC"}};
  for (const auto& c : shown)
    EXPECT_EQ(ShownText(c.text, c.multi_line), QString::fromStdU16String(c.shown)) << c.text;
  // Line breaks a paste brings become blanks: a single-line text never holds one.
  const std::pair<std::u16string, std::string> typed[] = {
      {u"\u2402X\u2421\u241B", "\x02X\x7f\x1b"},
      {u"Up\r\nDown\rx\ny", "Up  Down x y"},
      {u"\u240D\u00FC\u2422", " \xc3\xbc\xe2\x90\xa2"}};
  for (const auto& [from, text] : typed)
    EXPECT_EQ(TypedText(QString::fromStdU16String(from)), text) << text;
}

}  // namespace
}  // namespace orv
