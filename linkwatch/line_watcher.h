#pragma once

#include <functional>
#include <string>

#include "link/link.h"
#include "linkwatch/line_status.h"
#include "platform/notice.h"
#include "platform/signal.h"

namespace orv {

// The link watch as the operator meets it: the serial line's status (port, link state and
// counters) composed when the line changes and once a second, the words for a link that is lost
// or back, and the notice for received bytes that were lost. It only composes: the window, the
// tray, the journal and the headless lines decide where the words go.
class LineWatcher {
 public:
  // port_text: "COM1 /dev/ttyUSB0 9600,N,8,1", asked for at every composition.
  LineWatcher(Link& link, std::function<std::string()> port_text, NoticeFn notice);
  LineWatcher(const LineWatcher&) = delete;
  LineWatcher& operator=(const LineWatcher&) = delete;

  // Once per 100 ms tick, after the link's.
  void Tick();
  // Composes the status now; says it when it changed.
  void Refresh();

  const LineStatus& status() const { return status_; }
  Signal<const LineStatus&>& status_changed() { return status_changed_; }
  // The controller stopped answering, or answers again: the words for the journal and the
  // desktop notification.
  Signal<const Notice&>& link_alert() { return link_alert_; }

 private:
  void OnChange(const LinkWatch::Change& change);
  // Says how many received bytes were lost, when more were, at most every ten seconds.
  void ReportReceiveOverflow();

  Link& link_;
  std::function<std::string()> port_text_;
  NoticeFn notice_;
  LineStatus status_;
  Signal<const LineStatus&> status_changed_;
  Signal<const Notice&> link_alert_;
  Connections connections_;
  int ticks_since_status_ = 0;
  std::uint64_t overflow_said_ = 0;
  int ticks_since_overflow_notice_ = 0;
};

}  // namespace orv
