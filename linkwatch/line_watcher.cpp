#include "linkwatch/line_watcher.h"

#include "linkwatch/line_status_text.h"

namespace orv {

LineWatcher::LineWatcher(Link& link, std::function<std::string()> port_text, NoticeFn notice)
    : link_(link), port_text_(std::move(port_text)), notice_(std::move(notice)) {
  connections_.push_back(link_.watch().changed().Connect(
      [this](const LinkWatch::Change& change) { OnChange(change); }));
  connections_.push_back(link_.connection_changed().Connect([this](bool) { Refresh(); }));
}

void LineWatcher::Tick() {
  if (++ticks_since_status_ >= LinkWatch::kTicksPerSecond) Refresh();
  ReportReceiveOverflow();
}

void LineWatcher::OnChange(const LinkWatch::Change& change) {
  link_alert_(Notice{change.lost ? NoticeLevel::kError : NoticeLevel::kInfo,
                     LinkChangeText(change)});
  Refresh();
}

void LineWatcher::Refresh() {
  ticks_since_status_ = 0;
  LineStatus status =
      ComposeLineStatus(link_.watch(), link_.counters_since_connect(), port_text_());
  if (status == status_) return;
  status_ = std::move(status);
  status_changed_(status_);
}

void LineWatcher::ReportReceiveOverflow() {
  constexpr int kQuietTicks = 100;
  if (ticks_since_overflow_notice_ < kQuietTicks) ++ticks_since_overflow_notice_;
  const std::uint64_t lost = link_.receiver().overflow_bytes();
  if (lost == overflow_said_) return;
  if (overflow_said_ > 0 && ticks_since_overflow_notice_ < kQuietTicks) return;
  if (notice_) {
    notice_(Notice{NoticeLevel::kError,
                   std::to_string(lost) +
                       " bytes from the controller were lost: they came faster than the "
                       "program could take them."});
  }
  overflow_said_ = lost;
  ticks_since_overflow_notice_ = 0;
}

}  // namespace orv
