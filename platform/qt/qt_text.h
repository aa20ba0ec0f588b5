#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace orv {

// The text a widget shows for a control's UTF-8 text. Control characters are drawn visibly as
// Unicode control pictures (0x02 as U+2402, 0x7F as U+2421), since raw received bytes land in
// text boxes; in a multi-line box CR LF is a line break instead.
QString ShownText(std::string_view utf8, bool multi_line);

// The control's text for what the operator typed or pasted into a single-line box: control
// pictures go back to the characters they stand for, and line breaks (a paste keeps them) become
// blanks, since a single-line text never holds one.
std::string TypedText(const QString& shown);

}  // namespace orv
