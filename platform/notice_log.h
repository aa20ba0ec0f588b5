#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/notice.h"
#include "platform/signal.h"

namespace orv {

// A notice as the log keeps it: when it came and what it said.
struct LoggedNotice {
  LocalDateTime time;
  Notice notice;
};

// The latest notices of this run, oldest first, at most `capacity` of them: the window shows the
// newest and lists the others; a program without a window could print them. Toolkit-free, so
// every notice keeps going through the one NoticeFn seam.
class NoticeLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 20;

  // capacity: at least one is kept.
  explicit NoticeLog(ClockFn clock, std::size_t capacity = kDefaultCapacity);
  NoticeLog(const NoticeLog&) = delete;
  NoticeLog& operator=(const NoticeLog&) = delete;

  // Stamps the notice with the clock's time, forgets the oldest beyond the capacity, then tells
  // every listener of changed().
  void Add(const Notice& notice);
  // A notice function that adds to this log and then hands the notice on to `pass_on` (if any).
  // The log must outlive it.
  NoticeFn Sink(NoticeFn pass_on = {});

  const std::deque<LoggedNotice>& entries() const { return entries_; }
  // The last notice added; null before the first.
  const LoggedNotice* newest() const { return entries_.empty() ? nullptr : &entries_.back(); }
  // A newest notice that `settled` says is no longer so (a refusal once the operator has logged
  // in) stops being shown; the list keeps it. Only the newest: one said after it is news of its
  // own. Tells changed() when it settles one.
  void Settle(const std::function<bool(const Notice&)>& settled);
  // The notice a status bar shows: the newest unless it was settled; null when none.
  const LoggedNotice* shown() const { return newest_settled_ ? nullptr : newest(); }
  std::size_t capacity() const { return capacity_; }
  Signal<>& changed() { return changed_; }

 private:
  ClockFn clock_;
  std::size_t capacity_;
  std::deque<LoggedNotice> entries_;
  bool newest_settled_ = false;
  Signal<> changed_;
};

// "Error", "Warning", "Info".
const char* NoticeLevelName(NoticeLevel level);

// One line for a list of notices, dated like the event lines: "12/04 05:21 Error: text".
std::string FormatLoggedNotice(const LoggedNotice& entry);

}  // namespace orv
