#include "platform/qt/qt_text.h"

namespace orv {
namespace {

constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;

}  // namespace

QString ShownText(std::string_view utf8, bool multi_line) {
  const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (multi_line && c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      shown += u'\n';
      ++i;
    } else if (c < 0x20) {
      shown += QChar(static_cast<char16_t>(kControlPictures + c));
    } else if (c == 0x7F) {
      shown += QChar(kDeletePicture);
    } else {
      shown += text[i];
    }
  }
  return shown;
}

std::string TypedText(const QString& shown) {
  QString text;
  text.reserve(shown.size());
  for (const QChar ch : shown) {
    char16_t c = ch.unicode();
    if (c >= kControlPictures && c < kControlPictures + 0x20) {
      c = static_cast<char16_t>(c - kControlPictures);
    } else if (c == kDeletePicture) {
      c = 0x7F;
    }
    if (c == u'\r' || c == u'\n') c = u' ';
    text += QChar(c);
  }
  return text.toStdString();
}

}  // namespace orv
