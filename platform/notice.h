#pragma once

#include <functional>
#include <string>

namespace orv {

// A plain message for the operator about something that went wrong (or right again) outside the
// window's own messages: a file that could not be written, a port that failed and why. Notices
// never stop the program; where they are shown is the caller's choice.
enum class NoticeLevel { kInfo, kWarning, kError };

struct Notice {
  NoticeLevel level = NoticeLevel::kInfo;
  std::string text;
};

using NoticeFn = std::function<void(const Notice&)>;

}  // namespace orv
