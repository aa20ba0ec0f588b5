#include "platform/notice_log.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace orv {

NoticeLog::NoticeLog(ClockFn clock, std::size_t capacity)
    : clock_(std::move(clock)), capacity_(std::max<std::size_t>(capacity, 1)) {}

void NoticeLog::Add(const Notice& notice) {
  entries_.push_back(LoggedNotice{clock_ ? clock_() : LocalDateTime{}, notice});
  newest_settled_ = false;
  while (entries_.size() > capacity_)
    entries_.pop_front();
  changed_();
}

void NoticeLog::Settle(const std::function<bool(const Notice&)>& settled) {
  if (shown() == nullptr || !settled(shown()->notice)) return;
  newest_settled_ = true;
  changed_();
}

NoticeFn NoticeLog::Sink(NoticeFn pass_on) {
  return [this, pass_on = std::move(pass_on)](const Notice& notice) {
    Add(notice);
    if (pass_on) pass_on(notice);
  };
}

const char* NoticeLevelName(NoticeLevel level) {
  switch (level) {
    case NoticeLevel::kError:
      return "Error";
    case NoticeLevel::kWarning:
      return "Warning";
    case NoticeLevel::kInfo:
      break;
  }
  return "Info";
}

std::string FormatLoggedNotice(const LoggedNotice& entry) {
  const LocalDateTime& t = entry.time;
  char head[32];
  std::snprintf(head, sizeof head, "%02d/%02d %02d:%02d ", t.month % 100, t.day % 100, t.hour % 100,
                t.minute % 100);
  return head + std::string(NoticeLevelName(entry.notice.level)) + ": " + entry.notice.text;
}

}  // namespace orv
